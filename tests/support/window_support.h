// Driving another process's message boxes and dialogs through window messages,
// as a user would: find the window, read its texts, press a button.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

// A child process that the test waits for or ends; never left running.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts exe with arguments (the command line is "exe" arguments).
    bool Start(const std::wstring& exe, const std::wstring& arguments,
               const wchar_t* currentDirectory = nullptr);
    // Starts exe with commandLine exactly as given. (Wine, given no application
    // name, quotes the program's path in the child's command line; Windows hands
    // the text on as it stands. Naming exe gives the child that text under both.)
    bool StartCommandLine(const std::wstring& exe, const std::wstring& commandLine,
                          const wchar_t* currentDirectory = nullptr);
    // Starts exe with arguments on another desktop ("station\\desktop").
    bool StartOnDesktop(const std::wstring& exe, const std::wstring& arguments, const std::wstring& desktop,
                        const wchar_t* currentDirectory = nullptr);
    // Exit code, or -2 when it did not end within timeoutMs (it keeps running).
    int Wait(DWORD timeoutMs);
    void Terminate();
    DWORD Id() const { return pid_; }
    HANDLE Handle() const { return process_; }

private:
    bool Launch(const wchar_t* exe, const std::wstring& commandLine, const wchar_t* currentDirectory,
                const wchar_t* desktop = nullptr);

    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

// Visible top-level windows of a process (any class when className is null).
std::vector<HWND> ProcessWindows(DWORD pid, const wchar_t* className = nullptr);
// Waits until the process shows a visible top-level window of that class
// ("#32770" for message boxes and dialogs); null on time-out or when it exits.
HWND WaitForProcessWindow(const ChildProcess& child, const wchar_t* className, DWORD timeoutMs);

std::wstring WindowText(HWND window);
std::wstring ControlText(HWND dialog, int id);
// The message text of a message box (its static control 0xFFFF).
std::wstring MessageBoxText(HWND box);
// Ids of the push buttons of a dialog or message box, in z-order.
std::vector<int> ButtonIds(HWND dialog);
// Presses a button as a click would (WM_COMMAND BN_CLICKED to its dialog).
bool PressButton(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);

}  // namespace testsupport
