// Starts one child process and measures it, from just before CreateProcessW to
// its end, with QueryPerformanceCounter. Measured inside Wine, the figure holds
// no Wine start-up of its own, only what every child of a Windows process pays.
//
// Usage: zvx_bench_timer [-t SECONDS] [-l FILE] -- COMMAND LINE
// Prints "elapsed_ms=<ms> exit=<code>". A child still running after SECONDS
// (default 600) is ended and the timer exits with 3; a child that cannot be
// started (or a FILE that cannot be opened) gives 2. Otherwise the timer exits
// with 0, whatever the child's code. With -l, FILE is held open without delete
// sharing while the child runs, so that the child can neither delete nor rename it.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "common/base/scoped.h"

// The child's command line: everything after the first " -- " of our own.
static const wchar_t* ChildCommandLine(const wchar_t* ownLine)
{
    const wchar_t* marker = wcsstr(ownLine, L" -- ");
    return marker == nullptr ? nullptr : marker + 4;
}

int wmain(int argc, wchar_t** argv)
{
    DWORD timeoutSeconds = 600;
    const wchar_t* lockName = nullptr;
    bool usage = false;
    int i = 1;
    for (; i + 1 < argc && wcscmp(argv[i], L"--") != 0; i += 2) {
        if (wcscmp(argv[i], L"-t") == 0)
            timeoutSeconds = static_cast<DWORD>(wcstoul(argv[i + 1], nullptr, 10));
        else if (wcscmp(argv[i], L"-l") == 0)
            lockName = argv[i + 1];
        else
            usage = true;
    }
    const wchar_t* child = ChildCommandLine(GetCommandLineW());
    if (usage || i >= argc || child == nullptr || *child == 0 || timeoutSeconds == 0) {
        fwprintf(stderr, L"usage: zvx_bench_timer [-t SECONDS] [-l FILE] -- COMMAND LINE\n");
        return 2;
    }
    ScopedFileHandle lock;
    if (lockName != nullptr) {
        lock.Reset(CreateFileW(lockName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!lock) {
            fwprintf(stderr, L"cannot open %ls (error %lu)\n", lockName, GetLastError());
            return 2;
        }
    }
    // CreateProcessW may write into the command line.
    static wchar_t commandLine[32768];
    if (wcslen(child) >= sizeof(commandLine) / sizeof(commandLine[0])) {
        fwprintf(stderr, L"command line too long\n");
        return 2;
    }
    wcscpy(commandLine, child);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    // No handles are inherited: a child that starts a long-lived process of its own
    // (the uninstaller's batch file) must not keep our caller's output pipe open.
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        DWORD error = GetLastError();
        fwprintf(stderr, L"cannot start %ls (error %lu)\n", commandLine, error);
        return 2;
    }
    ScopedHandle process(info.hProcess);
    ScopedHandle thread(info.hThread);
    DWORD waited = WaitForSingleObject(process.Get(), timeoutSeconds * 1000);
    QueryPerformanceCounter(&end);
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(process.Get(), 3);
        WaitForSingleObject(process.Get(), 10000);
        fwprintf(stderr, L"child did not end within %lu s: %ls\n", timeoutSeconds, child);
        return 3;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.Get(), &exitCode);
    double ms = static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    wprintf(L"elapsed_ms=%.3f exit=%lu\n", ms, exitCode);
    return 0;
}
