#include "tests/support/base_support.h"

#include <aclapi.h>
#include <sddl.h>

#include "common/base/errors.h"

namespace testsupport {

static std::vector<std::pair<int, std::wstring>> recorded;

static void RecordReport(int kind, const wchar_t* name)
{
    recorded.emplace_back(kind, name != nullptr ? name : L"");
}

static ErrorMessageHook previousHook = nullptr;

ErrorReports::ErrorReports()
{
    recorded.clear();
    previousHook = SetErrorMessageHook(RecordReport);
}

ErrorReports::~ErrorReports()
{
    SetErrorMessageHook(previousHook);
    recorded.clear();
}

const std::vector<std::pair<int, std::wstring>>& ErrorReports::Reports() const
{
    return recorded;
}

std::wstring Verbatim(const std::wstring& absolutePath)
{
    return L"\\\\?\\" + absolutePath;
}

bool ExistsVerbatim(const std::wstring& absolutePath)
{
    return GetFileAttributesW(Verbatim(absolutePath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

static std::string UnixName(const std::wstring& path)
{
    using UnixFileName = char*(CDECL*)(const wchar_t*);
    auto convert = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (convert == nullptr)
        return std::string();
    char* name = convert(path.c_str());
    if (name == nullptr)
        return std::string();
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Starts a Unix program with the given arguments (each quoted) and waits until
// done() holds: Wine's handle of a Unix process does not tell when it ends.
template <class Done>
static bool RunUnixProgram(const std::string& program, const std::vector<std::string>& arguments, Done done)
{
    std::string command = program;
    for (const std::string& argument : arguments)
        command += " \"" + argument + "\"";
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    for (int i = 0; i < 100; i++) {
        if (done())
            return true;
        Sleep(50);
    }
    return false;
}

bool MakeUnixSymlink(const std::wstring& link, const std::wstring& target)
{
    std::string unixLink = UnixName(link);
    std::string unixTarget = UnixName(target);
    if (unixLink.empty() || unixTarget.empty())
        return false;
    return RunUnixProgram("/bin/ln", {"-s", unixTarget, unixLink},
                          [&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

bool RemoveUnixSymlink(const std::wstring& link)
{
    std::string unixLink = UnixName(link);
    if (unixLink.empty())
        return false;
    return RunUnixProgram("/bin/rm", {"-f", unixLink},
                          [&] { return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

// The owner and DACL of path in SDDL, as Windows shows them.
static std::wstring OwnershipText(const std::wstring& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return std::wstring();
    wchar_t* text = nullptr;
    std::wstring result;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
        result = text;
        LocalFree(text);
    }
    LocalFree(descriptor);
    return result;
}

bool ChangeUnixOwnership(const std::wstring& path, const std::string& program, const std::string& argument)
{
    std::string unixPath = UnixName(path);
    std::wstring before = OwnershipText(path);
    if (unixPath.empty() || before.empty())
        return false;
    return RunUnixProgram(program, {argument, unixPath}, [&] { return OwnershipText(path) != before; });
}

CurrentDirectoryGuard::CurrentDirectoryGuard()
{
    wchar_t buffer[MAX_PATH * 4];
    DWORD length = GetCurrentDirectoryW(MAX_PATH * 4, buffer);
    if (length > 0 && length < MAX_PATH * 4)
        saved_ = buffer;
}

CurrentDirectoryGuard::~CurrentDirectoryGuard()
{
    if (!saved_.empty())
        SetCurrentDirectoryW(saved_.c_str());
}

}  // namespace testsupport
