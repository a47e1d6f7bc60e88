#include "tests/support/integration_support.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>

#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"

namespace testsupport {

namespace {

const wchar_t kChildVariable[] = L"ZVX_TEST_CHILD_MODE";

// Runs a copy of a test program that writes into this process's own output (so that
// its failures show in the log) and ends with it (a job that kills on close).
// Returns its exit code, -1 when it did not start, -2 when it timed out.
int RunSharingOutput(const std::wstring& exe, const std::wstring& commandLine, const wchar_t* directory,
                     DWORD timeoutMs)
{
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    fflush(stdout);
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job != nullptr) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    PROCESS_INFORMATION pi = {};
    int result = -1;
    if (CreateProcessW(exe.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, directory,
                       &si, &pi)) {
        if (job != nullptr)
            AssignProcessToJobObject(job, pi.hProcess);
        ResumeThread(pi.hThread);
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
    if (job != nullptr)
        CloseHandle(job);
    return result;
}

}  // namespace

bool RunFromScratchFolder()
{
    std::wstring self = SelfPath();
    std::wstring name = self.substr(self.find_last_of(L'\\') + 1);
    std::wstring stem = name.substr(0, name.find_last_of(L'.'));
    std::wstring folder = L"C:\\zvx-tests\\" + stem;
    if (CompareStringOrdinal(self.c_str(), static_cast<int>(folder.size() + 1), (folder + L"\\").c_str(), -1,
                             TRUE) == CSTR_EQUAL)
        return true;

    folder = MakeScratchFolder(stem);
    std::wstring copy = folder + L"\\" + name;
    if (!CopyFileW(self.c_str(), copy.c_str(), FALSE)) {
        fprintf(stderr, "cannot copy the test program to %ls\n", copy.c_str());
        ExitProcess(3);
    }
    // The same arguments: everything after the program name of this command line.
    const wchar_t* arguments = GetCommandLineW();
    if (*arguments == L'"') {
        const wchar_t* end = wcschr(arguments + 1, L'"');
        arguments = end != nullptr ? end + 1 : arguments + wcslen(arguments);
    } else {
        while (*arguments != 0 && *arguments != L' ' && *arguments != L'\t')
            ++arguments;
    }
    int code = RunSharingOutput(copy, L"\"" + copy + L"\"" + arguments, folder.c_str(), INFINITE);
    if (code == -1)
        fprintf(stderr, "cannot start %ls\n", copy.c_str());
    RemoveTree(folder);
    ExitProcess(code == -1 ? 3 : static_cast<UINT>(code));
}

std::wstring SelfPath()
{
    std::vector<wchar_t> path(32768);
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return std::wstring(path.data(), n);
}

std::wstring ProgramFolder()
{
    std::wstring self = SelfPath();
    return self.substr(0, self.find_last_of(L'\\'));
}

std::wstring InProgramFolder(const std::wstring& name)
{
    return ProgramFolder() + L"\\" + name;
}

bool PlaceProgramFile(const std::wstring& name, const std::string& bytes)
{
    return WriteBytes(InProgramFolder(name), bytes);
}

void RemoveProgramFiles()
{
    const wchar_t* const names[] = {
        L"Zorvex.exe", L"Zorvex.chm", L"Zvx.txt", L"WhatsNew.txt", L"zvxnew.dat", L"zipnew.dat",
        L"zvxext.dll", L"zvxext32.dll", L"ZvxExtPackage.msix", L"ZvxExtInstaller.exe", L"ZvxExtInstaller.log",
        L"ZvxExtInstaller.delay", L"Zorvex.ini", L"uninstall.lng", L"custom.ico",
    };
    for (const wchar_t* name : names)
        RemoveTree(InProgramFolder(name));
}

std::wstring ShellFolder(int csidl)
{
    wchar_t path[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
        return L"";
    return path;
}

void RemoveShortcuts()
{
    for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU}) {
        std::wstring folder = ShellFolder(csidl);
        if (!folder.empty())
            RemoveTree(folder + L"\\Zorvex.lnk");
    }
    for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS}) {
        std::wstring folder = ShellFolder(csidl);
        if (!folder.empty())
            RemoveTree(folder + L"\\Zorvex");
    }
}

ShortcutInfo ReadShortcut(const std::wstring& path)
{
    ShortcutInfo info;
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return info;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        if (SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
            wchar_t text[4096];
            info.Loaded = true;
            if (SUCCEEDED(link->GetPath(text, 4096, nullptr, SLGP_RAWPATH)))
                info.Target = text;
            if (SUCCEEDED(link->GetDescription(text, 4096)))
                info.Description = text;
            int index = -1;
            if (SUCCEEDED(link->GetIconLocation(text, 4096, &index))) {
                info.Icon = text;
                info.IconIndex = index;
            }
            if (SUCCEEDED(link->GetWorkingDirectory(text, 4096)))
                info.WorkingDirectory = text;
            if (SUCCEEDED(link->GetArguments(text, 4096)))
                info.Arguments = text;
        }
        file->Release();
    }
    link->Release();
    return info;
}

std::vector<std::wstring> FolderEntries(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::wstring name = fd.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring ChildMode()
{
    wchar_t value[64];
    DWORD n = GetEnvironmentVariableW(kChildVariable, value, 64);
    return n > 0 && n < 64 ? std::wstring(value, n) : std::wstring();
}

bool IsWindows10Child()
{
    return ChildMode() == L"windows10";
}

int RunSelf(const std::wstring& filter, const std::wstring& mode, bool windows10, DWORD timeoutMs)
{
    std::wstring self = SelfPath();
    std::wstring appDefaults = L"Software\\Wine\\AppDefaults\\" + self.substr(self.find_last_of(L'\\') + 1);
    if (windows10 && !SetString(HKEY_CURRENT_USER, appDefaults, L"Version", L"win10"))
        return -1;
    SetEnvironmentVariableW(kChildVariable, mode.c_str());

    int result = RunSharingOutput(self, L"\"" + self + L"\" --gtest_color=no --gtest_filter=" + filter, nullptr,
                                  timeoutMs);
    SetEnvironmentVariableW(kChildVariable, nullptr);
    if (windows10)
        DeleteTree(HKEY_CURRENT_USER, appDefaults);
    return result;
}

}  // namespace testsupport
