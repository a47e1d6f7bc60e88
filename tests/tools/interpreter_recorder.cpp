// Stands in for the command interpreter in the uninstall tests (in the system
// folder's place, or where COMSPEC points, to show that it is never started there):
// writes the command line it was given and the path of the program that runs
// (which is the application name it was started with) to the file named by
// ZVX_COMSPEC_LOG, UTF-8, one per line, and exits without running anything.
#include <windows.h>

static bool WriteUtf8Line(HANDLE file, const wchar_t* text)
{
    char bytes[8192];
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes - 1, nullptr, nullptr);
    if (size <= 0)
        return false;
    bytes[size - 1] = '\n';
    DWORD written = 0;
    return WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) && written == static_cast<DWORD>(size);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t logPath[1024];
    DWORD length = GetEnvironmentVariableW(L"ZVX_COMSPEC_LOG", logPath, 1024);
    if (length == 0 || length >= 1024)
        return 1;
    wchar_t image[2048];
    length = GetModuleFileNameW(nullptr, image, 2048);
    if (length == 0 || length >= 2048)
        return 1;
    // Written under another name first, so that a reader never sees half of it.
    wchar_t partPath[1100];
    wsprintfW(partPath, L"%s.part", logPath);
    HANDLE file = CreateFileW(partPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    bool written = WriteUtf8Line(file, GetCommandLineW()) && WriteUtf8Line(file, image);
    CloseHandle(file);
    return written && MoveFileExW(partPath, logPath, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
