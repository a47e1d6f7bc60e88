// A stand-in for the HTML Help control, built as hhctrl.ocx for the dialog
// tests: each HtmlHelpW call is appended to the file named by ZVX_HHCTRL_LOG as
// "command<TAB>owner<TAB>file" in UTF-8, owner being "desktop" or "other".
// It fails, as the real control does on paths it cannot read, for a file name
// with characters outside ASCII or with the word FAIL in it.
#include <windows.h>

#include <cwchar>

extern "C" __declspec(dllexport) HWND WINAPI HtmlHelpW(HWND owner, const wchar_t* file, UINT command, DWORD_PTR)
{
    wchar_t logPath[1024];
    DWORD length = GetEnvironmentVariableW(L"ZVX_HHCTRL_LOG", logPath, 1024);
    if (length > 0 && length < 1024) {
        wchar_t line[4200];
        _snwprintf(line, 4200, L"%u\t%ls\t%ls\n", command, owner == GetDesktopWindow() ? L"desktop" : L"other",
                   file != nullptr ? file : L"(null)");
        line[4199] = 0;
        char bytes[13000];
        int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, sizeof bytes, nullptr, nullptr);
        HANDLE h = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               0, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            if (size > 1)
                WriteFile(h, bytes, static_cast<DWORD>(size - 1), &written, nullptr);
            CloseHandle(h);
        }
    }
    if (file == nullptr || wcsstr(file, L"FAIL") != nullptr)
        return nullptr;
    for (const wchar_t* p = file; *p != 0; ++p) {
        if (*p > 0x7E)
            return nullptr;
    }
    return GetDesktopWindow();
}
