#include "tests/support/program_support.h"

#include <sddl.h>
#include <tlhelp32.h>

namespace testsupport {

const wchar_t kSessionManagerKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";

std::vector<std::wstring> PendingDeletions()
{
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return names;
    DWORD size = 0;
    DWORD type = 0;
    std::vector<wchar_t> data;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        data.assign(size / sizeof(wchar_t) + 2, 0);
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size);
    }
    RegCloseKey(key);
    // Pairs of strings: source, then target (empty for a deletion).
    size_t count = size / sizeof(wchar_t);
    size_t i = 0;
    while (i < count && data[i] != 0) {
        std::wstring source = data.data() + i;
        i += source.size() + 1;
        std::wstring target = i < count ? data.data() + i : L"";
        i += target.size() + 1;
        if (target.empty())
            names.push_back(source);
    }
    return names;
}

bool IsPendingDeletion(const std::wstring& path)
{
    std::wstring stored = L"\\??\\" + path;
    for (const std::wstring& name : PendingDeletions()) {
        if (lstrcmpiW(name.c_str(), stored.c_str()) == 0)
            return true;
    }
    return false;
}

EnvironmentGuard::EnvironmentGuard(const wchar_t* name, const wchar_t* value) : name_(name)
{
    wchar_t buffer[32768];
    DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
    existed_ = length > 0 && length < 32768;
    if (existed_)
        value_ = buffer;
    SetEnvironmentVariableW(name, value);
}

EnvironmentGuard::~EnvironmentGuard()
{
    SetEnvironmentVariableW(name_.c_str(), existed_ ? value_.c_str() : nullptr);
}

std::vector<DWORD> ChildProcessIds(DWORD pid, const wchar_t* exeName)
{
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID == pid && entry.th32ProcessID != pid &&
            lstrcmpiW(entry.szExeFile, exeName) == 0)
            ids.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return ids;
}

bool WaitForProcesses(const std::vector<DWORD>& ids, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    bool allEnded = true;
    for (DWORD id : ids) {
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
        if (process == nullptr)
            continue;
        DWORD spent = GetTickCount() - start;
        if (WaitForSingleObject(process, spent < timeoutMs ? timeoutMs - spent : 0) != WAIT_OBJECT_0)
            allEnded = false;
        CloseHandle(process);
    }
    return allEnded;
}

std::wstring TempFolder()
{
    wchar_t path[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, path);
    return path;
}

std::wstring BatchFilePath()
{
    return TempFolder() + L"Uninstall_Zvx.Bat";
}

std::wstring CurrentDirectory()
{
    wchar_t path[2048] = {};
    GetCurrentDirectoryW(2048, path);
    return path;
}

std::string Narrow(const std::wstring& text, UINT codePage)
{
    if (text.empty())
        return std::string();
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.c_str(), static_cast<int>(text.size()),
                                nullptr, 0, nullptr, &usedDefault);
    if (n <= 0 || usedDefault)
        return std::string();
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.c_str(), static_cast<int>(text.size()), &bytes[0], n,
                        nullptr, nullptr);
    return bytes;
}

std::wstring ShortPath(const std::wstring& path)
{
    wchar_t shortPath[2048] = {};
    DWORD length = GetShortPathNameW(path.c_str(), shortPath, 2048);
    return length > 0 && length < 2048 ? std::wstring(shortPath) : std::wstring();
}

DWORD Attributes(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str());
}

std::wstring UserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return L"?";
    std::vector<BYTE> user(sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE);
    DWORD size = 0;
    wchar_t* text = nullptr;
    bool got = GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size) &&
               ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text);
    CloseHandle(token);
    std::wstring result = got ? text : L"?";
    LocalFree(text);
    return result;
}

std::wstring DaclText(const std::wstring& path)
{
    DWORD size = 0;
    GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<BYTE> descriptor(size > 0 ? size : 1);
    wchar_t* text = nullptr;
    if (size == 0 || !GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), size, &size) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, &text, nullptr))
        return std::wstring();
    std::wstring result = text;
    LocalFree(text);
    return result;
}

}  // namespace testsupport
