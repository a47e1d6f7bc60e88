// Stands in for the packaged context-menu installer: appends "<pid> start <args>"
// to ZvxExtInstaller.log beside itself, sleeps for the milliseconds written in
// ZvxExtInstaller.delay (if any), then appends "<pid> end <args>".
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

static std::wstring Beside(const wchar_t* name)
{
    wchar_t path[4096];
    DWORD n = GetModuleFileNameW(nullptr, path, 4096);
    if (n == 0 || n >= 4096)
        return name;
    std::wstring self(path, n);
    return self.substr(0, self.find_last_of(L'\\') + 1) + name;
}

static void Log(const wchar_t* event, const wchar_t* arguments)
{
    HANDLE file = CreateFileW(Beside(L"ZvxExtInstaller.log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char line[1024];
    int length = snprintf(line, sizeof line, "%lu %ls %ls\r\n", GetCurrentProcessId(), event, arguments);
    DWORD written = 0;
    if (length > 0 && length < static_cast<int>(sizeof line))
        WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int)
{
    Log(L"start", arguments);
    HANDLE file = CreateFileW(Beside(L"ZvxExtInstaller.delay").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        char text[32] = {};
        DWORD got = 0;
        ReadFile(file, text, sizeof text - 1, &got, nullptr);
        CloseHandle(file);
        Sleep(static_cast<DWORD>(strtoul(text, nullptr, 10)));
    }
    Log(L"end", arguments);
    return 0;
}
