// The options from sfxcmd and the command line.
#pragma once

#include <cstddef>

struct CommandOptions {
    wchar_t InitText[40];
    bool Silent;
    bool Msi;
    bool NoExplorer;
};

// The process-wide record, zero at start.
CommandOptions& GetCommandOptions();

// Where the command line's own text begins: just past programPath when the line
// starts with it unquoted (compared without regard to case) and a blank, a tab or
// the end follows; otherwise the line itself.
const wchar_t* SkipUnquotedProgramPath(const wchar_t* commandLine, const wchar_t* programPath);
// One pass over an option text; sfxcmdPass tells the sfxcmd pass from the command line's.
void ParseOptions(bool sfxcmdPass, const wchar_t* text, bool& setupRequested, bool& uninstallRequested);
// The next argument into buffer (may be null: skipped); null when only blanks remain.
const wchar_t* NextArgument(const wchar_t* position, wchar_t* buffer, size_t capacity);
// 0 when the first n characters match without regard to case.
int CompareNoCasePrefix(const wchar_t* a, const wchar_t* b, size_t n);
