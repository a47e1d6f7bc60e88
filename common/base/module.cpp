#include "common/base/module.h"

#include "common/base/paths.h"
#include "common/base/strings.h"

bool ProgramPath(wchar_t* dest, size_t capacity)
{
    if (capacity == 0)
        return false;
    DWORD size = Win32Capacity(capacity);
    return KeepWholeText(GetModuleFileNameW(nullptr, dest, size), dest, size);
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

void HardenDllSearch(bool safeSearch)
{
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    if (kernel == nullptr)
        return;
    using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    auto setDllDirectory = reinterpret_cast<SetDllDirectoryFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryW")));
    if (setDllDirectory != nullptr)
        setDllDirectory(safeSearch ? L"" : nullptr);
    if (!safeSearch)
        return;
    // Where kernel32 has it, libraries loaded by bare name come from System32 only,
    // never from the program's folder, which a download folder may share with it.
    auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr)
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    wchar_t path[kMaxPathChars];
    UINT length = GetSystemDirectoryW(path, kMaxPathChars);
    if (length == 0 || length >= kMaxPathChars)
        return nullptr;
    if (!JoinPath(path, name, path, kMaxPathChars))
        return nullptr;
    return LoadLibraryW(path);
}
