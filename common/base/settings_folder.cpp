#include "common/base/settings_folder.h"

#include <windows.h>
#include <shlobj.h>

#include "common/base/file.h"
#include "common/base/module.h"
#include "common/base/paths.h"
#include "common/base/scoped.h"
#include "common/base/strings.h"

// HKCU\Software\Zorvex\Paths\AppData, when it is text that fits dest whole.
static bool ReadAppDataValue(wchar_t* dest, size_t capacity)
{
    ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Zorvex\\Paths", 0, KEY_QUERY_VALUE, key.Receive()) !=
        ERROR_SUCCESS)
        return false;
    size_t maxBytes = capacity * sizeof(wchar_t);
    DWORD bytes = maxBytes > MAXDWORD ? MAXDWORD : static_cast<DWORD>(maxBytes);
    DWORD type = REG_NONE;
    LONG status = RegQueryValueExW(key.Get(), L"AppData", nullptr, &type, reinterpret_cast<BYTE*>(dest), &bytes);
    if (status != ERROR_SUCCESS) {
        dest[0] = 0;
        return false;
    }
    return TerminateRegistryText(dest, capacity, type, bytes) && dest[0] != 0;
}

void LocateSettingsFolder(wchar_t* dest, size_t capacity, bool create)
{
    if (capacity == 0)
        return;
    dest[0] = 0;
    if (ReadAppDataValue(dest, capacity) && FileExists(dest))
        return;
    if (LocateAppDataFolder(dest, capacity, create))
        return;
    if (ProgramPath(dest, capacity))
        StripNamePart(dest);
}

bool LocateAppDataFolder(wchar_t* dest, size_t capacity, bool create)
{
    if (capacity == 0)
        return false;
    dest[0] = 0;
    // The shell allocates the item list with the task allocator (SHGetMalloc
    // answers that same allocator), so CoTaskMemFree releases it.
    ScopedCoTaskMem idList;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_APPDATA, idList.ReceiveAs<ITEMIDLIST>())))
        return false;
    // SHGetPathFromIDListW writes up to MAX_PATH characters whatever the caller's room.
    wchar_t folder[kMaxPathChars];
    folder[0] = 0;
    if (!SHGetPathFromIDListW(static_cast<PCIDLIST_ABSOLUTE>(idList.Get()), folder) || folder[0] == 0)
        return false;
    AppendSeparator(folder, kMaxPathChars);
    if (!AppendString(folder, L"Zorvex", kMaxPathChars) || !CopyString(dest, folder, capacity)) {
        dest[0] = 0;
        return false;
    }
    if (FileExists(dest))
        return true;
    return create && MakeFolder(dest, false, 0) == kMakeFolderOk;
}
