// Stands in for the program that Windows would start for a document or a web
// address in the dialog tests: appends its command line to the file named by
// ZVX_OPEN_LOG (UTF-8, one line per start) and exits.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t logPath[1024];
    DWORD length = GetEnvironmentVariableW(L"ZVX_OPEN_LOG", logPath, 1024);
    if (length == 0 || length >= 1024)
        return 1;
    const wchar_t* commandLine = GetCommandLineW();
    int size = WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return 1;
    char* bytes = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(size) + 1));
    if (bytes == nullptr)
        return 1;
    WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, bytes, size, nullptr, nullptr);
    bytes[size - 1] = '\n';
    HANDLE h = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                           nullptr);
    int result = 1;
    if (h != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        if (WriteFile(h, bytes, static_cast<DWORD>(size), &written, nullptr))
            result = 0;
        CloseHandle(h);
    }
    HeapFree(GetProcessHeap(), 0, bytes);
    return result;
}
