#include "uninstall/integration/program_files.h"

#include "common/base/paths.h"
#include "common/base/strings.h"
#include "common/settings/settings_store.h"

bool ProgramPath(wchar_t* dest, size_t capacity)
{
    if (capacity == 0)
        return false;
    DWORD length = GetModuleFileNameW(nullptr, dest, static_cast<DWORD>(capacity));
    // A path that filled the buffer may be cut: it must not name a file.
    if (length == 0 || length >= capacity) {
        dest[0] = 0;
        return false;
    }
    return true;
}

bool ProgramFilePath(const wchar_t* name, wchar_t* dest, size_t capacity)
{
    if (!ProgramPath(dest, capacity))
        return false;
    if (!ReplaceNamePart(dest, name, capacity)) {
        dest[0] = 0;
        return false;
    }
    return true;
}

void DeleteKeyIn32BitView(HKEY root, const wchar_t* keyPath)
{
    if (!IntegrationAllowed() || keyPath == nullptr)
        return;
    const wchar_t* subKey = keyPath;
    if (root != HKEY_CLASSES_ROOT) {
        if (keyPath[0] != L'\\')
            return;
        ++subKey;
    }
    if (subKey[0] != 0)
        RegDeleteKeyExW(root, subKey, KEY_WOW64_32KEY, 0);
}
