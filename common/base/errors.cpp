#include "common/base/errors.h"

#include <windows.h>

#include "common/base/strings.h"

// Nobody is shown these reports; a debugger or DebugView still sees them.
static void DebugOutputHook(int kind, const wchar_t* name)
{
    wchar_t line[kMaxPathChars + 64];
    FormatString(line, sizeof line / sizeof line[0], L"Zorvex uninstall: error %d%s%s\n", kind,
                 name != nullptr ? L": " : L"", name != nullptr ? name : L"");
    OutputDebugStringW(line);
}

static ErrorMessageHook messageHook = DebugOutputHook;
static ErrorHandler errorHandler;

ErrorHandler& ErrHandler()
{
    return errorHandler;
}

ErrorMessageHook SetErrorMessageHook(ErrorMessageHook hook)
{
    ErrorMessageHook previous = messageHook;
    messageHook = hook != nullptr ? hook : DebugOutputHook;
    return previous;
}

void ErrorHandler::ReportCloseError(const wchar_t* name)
{
    messageHook(kMessageCloseError, name);
}

void ErrorHandler::ReportSeekError(const wchar_t* name)
{
    messageHook(kMessageSeekError, name);
}

bool ErrorHandler::ReportReadError(const wchar_t*)
{
    return true;
}

void ErrorHandler::ReportFileTooLarge(const wchar_t* name)
{
    messageHook(kMessageFileTooLarge, name);
}

bool ErrorHandler::AskRetryWrite(const wchar_t*)
{
    return false;
}

void ErrorHandler::ReportWriteError(const wchar_t* name)
{
    messageHook(kMessageWriteError, name);
}

void ErrorHandler::RaiseMemoryError()
{
    messageHook(kMessageOutOfMemory, nullptr);
    throw ZVX_EXIT_MEMORY;
}
