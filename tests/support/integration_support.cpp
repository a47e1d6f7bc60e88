#include "tests/support/integration_support.h"

#include <cstdio>
#include <vector>

namespace testsupport {

namespace {

const wchar_t kChildVariable[] = L"ZVX_WINDOWS10_CHILD";

std::wstring AppDefaultsKey()
{
    std::wstring self = SelfPath();
    return L"Software\\Wine\\AppDefaults\\" + self.substr(self.find_last_of(L"\\/") + 1);
}

}  // namespace

std::wstring SelfPath()
{
    std::vector<wchar_t> path(32768);
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return std::wstring(path.data(), n);
}

bool IsWindows10Child()
{
    wchar_t value[8];
    DWORD n = GetEnvironmentVariableW(kChildVariable, value, 8);
    return n == 1 && value[0] == L'1';
}

int RunSelfUnderWindows10(const std::wstring& filter, DWORD timeoutMs)
{
    std::wstring key = AppDefaultsKey();
    if (RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Version", REG_SZ, L"win10", 12) != ERROR_SUCCESS)
        return -1;
    SetEnvironmentVariableW(kChildVariable, L"1");

    std::wstring self = SelfPath();
    std::wstring line = L"\"" + self + L"\" --gtest_color=no --gtest_filter=" + filter;
    std::vector<wchar_t> mutableLine(line.begin(), line.end());
    mutableLine.push_back(0);
    // The child reports into this process's own output, so that its failures show in the log.
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    fflush(stdout);
    int result = -1;
    if (CreateProcessW(self.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(pi.hProcess, &code);
            result = static_cast<int>(code);
        } else {
            TerminateProcess(pi.hProcess, 99);
            WaitForSingleObject(pi.hProcess, 5000);
            result = -2;
        }
        CloseHandle(pi.hProcess);
    }
    SetEnvironmentVariableW(kChildVariable, nullptr);
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    return result;
}

}  // namespace testsupport
