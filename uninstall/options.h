// The options from sfxcmd and the command line.
#pragma once

#include <cstddef>
#include <cstdint>

struct CommandOptions {
    wchar_t InitText[40];
    bool Silent;
    bool Msi;
    bool NoExplorer;
    // -log=<path>: the change log's path, which wins over ZORVEX_LOG. LogGiven
    // with an empty LogPath: the path did not fit and is refused.
    bool LogGiven;
    wchar_t LogPath[2048];
    // -exitcodes=msi: the exit codes of Windows Installer that deployment tools read.
    bool MsiExitCodes;
};

// The process-wide record, zero at start.
CommandOptions& GetCommandOptions();

// Where the command line's own text begins: just past programPath when the line
// starts with it unquoted (compared without regard to case) and a blank, a tab or
// the end follows; otherwise the line itself.
const wchar_t* SkipUnquotedProgramPath(const wchar_t* commandLine, const wchar_t* programPath);

// The switches that act rather than set an option, wait (a pause of two
// seconds) and warning (the box that tells what is left to delete by hand), in
// the order the command line gives them.
enum class OptionStep : uint8_t { Wait, Warning };
// A command line holds at most 32767 characters and each of these switches
// takes six of them with its blank, so the steps of any command line fit.
constexpr size_t kMaxOptionSteps = 32768 / 6;
struct OptionSteps {
    OptionStep Steps[kMaxOptionSteps];
    size_t Count;
};

// One pass over an option text; sfxcmdPass tells the sfxcmd pass from the
// command line's. Sets the options and the mode flags and answers the steps
// asked for, which the caller takes (the sfxcmd pass asks for none). It sleeps
// and shows nothing itself. Like the silent switch, msi, log= and
// exitcodes=msi leave the choice of mode alone; the last two act only from the
// command line.
OptionSteps ParseOptions(bool sfxcmdPass, const wchar_t* text, bool& setupRequested, bool& uninstallRequested);
// The next argument into buffer (may be null: skipped); null when only blanks remain.
const wchar_t* NextArgument(const wchar_t* position, wchar_t* buffer, size_t capacity);
