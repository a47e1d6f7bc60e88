#include "tests/support/window_support.h"

namespace testsupport {

ChildProcess::~ChildProcess()
{
    Terminate();
}

bool ChildProcess::Start(const std::wstring& exe, const std::wstring& arguments,
                         const wchar_t* currentDirectory)
{
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    return Launch(exe.c_str(), commandLine, currentDirectory);
}

bool ChildProcess::StartCommandLine(const std::wstring& exe, const std::wstring& commandLine,
                                    const wchar_t* currentDirectory)
{
    return Launch(exe.c_str(), commandLine, currentDirectory);
}

bool ChildProcess::StartOnDesktop(const std::wstring& exe, const std::wstring& arguments,
                                  const std::wstring& desktop, const wchar_t* currentDirectory)
{
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    return Launch(exe.c_str(), commandLine, currentDirectory, desktop.c_str());
}

bool ChildProcess::Launch(const wchar_t* exe, const std::wstring& commandLine, const wchar_t* currentDirectory,
                          const wchar_t* desktop)
{
    Terminate();
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    std::vector<wchar_t> desktopName;
    if (desktop != nullptr)
        desktopName.assign(desktop, desktop + wcslen(desktop) + 1);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.lpDesktop = desktop != nullptr ? desktopName.data() : nullptr;
    PROCESS_INFORMATION pi = {};
    // Now and then Wine fails a process's start before any of its code runs
    // ("failed to map the shared user data"): a start is tried three times.
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; attempt++) {
        started = CreateProcessW(exe, line.data(), nullptr, nullptr, FALSE, 0, nullptr, currentDirectory, &si, &pi);
        if (!started && GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND)
            Sleep(200);
        else if (!started)
            return false;
    }
    if (!started)
        return false;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    return true;
}

int ChildProcess::Wait(DWORD timeoutMs)
{
    if (process_ == nullptr)
        return -1;
    if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
        return -2;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
}

void ChildProcess::Terminate()
{
    if (process_ == nullptr)
        return;
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
    process_ = nullptr;
    pid_ = 0;
}

namespace {

struct EnumState {
    DWORD pid;
    const wchar_t* className;
    std::vector<HWND>* found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param)
{
    auto* state = reinterpret_cast<EnumState*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != state->pid || !IsWindowVisible(window))
        return TRUE;
    if (state->className != nullptr) {
        wchar_t name[256] = {};
        GetClassNameW(window, name, 256);
        if (lstrcmpiW(name, state->className) != 0)
            return TRUE;
    }
    state->found->push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectButton(HWND child, LPARAM param)
{
    wchar_t name[64] = {};
    GetClassNameW(child, name, 64);
    if (lstrcmpiW(name, L"Button") != 0 || !IsWindowVisible(child))
        return TRUE;
    LONG style = GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK;
    if (style == BS_PUSHBUTTON || style == BS_DEFPUSHBUTTON)
        reinterpret_cast<std::vector<int>*>(param)->push_back(GetDlgCtrlID(child));
    return TRUE;
}

}  // namespace

std::vector<HWND> ProcessWindows(DWORD pid, const wchar_t* className)
{
    std::vector<HWND> found;
    EnumState state = {pid, className, &found};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&state));
    return found;
}

HWND WaitForProcessWindow(const ChildProcess& child, const wchar_t* className, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<HWND> windows = ProcessWindows(child.Id(), className);
        if (!windows.empty())
            return windows.front();
        if (child.Handle() == nullptr || WaitForSingleObject(child.Handle(), 0) == WAIT_OBJECT_0)
            return nullptr;
        if (GetTickCount() - start > timeoutMs)
            return nullptr;
        Sleep(50);
    }
}

std::wstring WindowText(HWND window)
{
    // WM_GETTEXT works across processes (the system marshals the buffer);
    // GetWindowTextW would not ask another process's window.
    LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1, 0);
    SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    return text.data();
}

std::wstring ControlText(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    return control != nullptr ? WindowText(control) : std::wstring();
}

std::wstring MessageBoxText(HWND box)
{
    return ControlText(box, 0xFFFF);
}

std::vector<int> ButtonIds(HWND dialog)
{
    std::vector<int> ids;
    EnumChildWindows(dialog, CollectButton, reinterpret_cast<LPARAM>(&ids));
    return ids;
}

bool PressButton(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    if (button == nullptr)
        return false;
    return PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button)) != FALSE;
}

bool IsChecked(HWND dialog, int id)
{
    HWND box = GetDlgItem(dialog, id);
    return box != nullptr && SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

}  // namespace testsupport
