// The process-wide error handler, and the exception that ends the program.
#pragma once

#include <cstdint>

// Exit codes raised as exceptions. Only memory exhaustion is raised here; when
// one leaves the entry point the process ends with that code and nothing else runs.
enum ZVX_EXIT : uint32_t {
    ZVX_EXIT_MEMORY = 8,
};

// Message kinds handed to the message hook.
enum ErrorMessageKind : int {
    kMessageOutOfMemory = 7,
    kMessageCloseError = 10,
    kMessageSeekError = 11,
    kMessageFileTooLarge = 73,
    kMessageWriteError = 74,
};

using ErrorMessageHook = void (*)(int kind, const wchar_t* name);

class ErrorHandler {
public:
    void ReportCloseError(const wchar_t* name);
    void ReportSeekError(const wchar_t* name);
    bool ReportReadError(const wchar_t* name);   // true: treat the rest of the file as missing
    void ReportFileTooLarge(const wchar_t* name);
    bool AskRetryWrite(const wchar_t* name);     // always false: a failed write is not retried
    void ReportWriteError(const wchar_t* name);
    [[noreturn]] void RaiseMemoryError();
};

// The one instance; constructed before the entry point runs.
ErrorHandler& ErrHandler();

// The hook shows nothing in this program; by default it writes to
// OutputDebugStringW. Tests may install their own; null restores the default.
// Returns the previous hook.
ErrorMessageHook SetErrorMessageHook(ErrorMessageHook hook);
