#include "uninstall/options.h"

#include <windows.h>

#include <climits>

#include "common/base/strings.h"

CommandOptions& GetCommandOptions()
{
    static CommandOptions options = {};
    return options;
}

static bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

const wchar_t* NextArgument(const wchar_t* position, wchar_t* buffer, size_t capacity)
{
    while (IsBlank(*position))
        position++;
    if (*position == 0)
        return nullptr;
    size_t stored = 0;
    bool inQuotes = false;
    for (; *position != 0 && (inQuotes || !IsBlank(*position)); position++) {
        wchar_t c = *position;
        if (c == L'"') {
            if (position[1] != L'"') {
                inQuotes = !inQuotes;
                continue;
            }
            position++;   // "" stands for one literal quote
        }
        if (buffer != nullptr && stored + 1 < capacity)
            buffer[stored++] = c;
    }
    if (buffer != nullptr && capacity > 0)
        buffer[stored] = 0;
    return position;
}

// A launcher that hands the unquoted UninstallString to CreateProcessW as the
// command line gives the program its own path in pieces: under
// "C:\Tools - Archivers" the lone "-" would count as a switch and stop the
// uninstall, and a folder named "x -setup" would start setup.
const wchar_t* SkipUnquotedProgramPath(const wchar_t* commandLine, const wchar_t* programPath)
{
    size_t length = wcslen(programPath);
    if (length == 0 || length > INT_MAX || wcsnlen(commandLine, length) < length)
        return commandLine;
    int count = static_cast<int>(length);
    if (CompareStringOrdinal(commandLine, count, programPath, count, TRUE) != CSTR_EQUAL)
        return commandLine;
    wchar_t next = commandLine[length];
    return next == 0 || IsBlank(next) ? commandLine + length : commandLine;
}

// Only a text longer than any command line can ask for more steps than fit.
static void AddStep(OptionSteps& steps, OptionStep step)
{
    if (steps.Count < kMaxOptionSteps)
        steps.Steps[steps.Count++] = step;
}

OptionSteps ParseOptions(bool sfxcmdPass, const wchar_t* text, bool& setupRequested, bool& uninstallRequested)
{
    CommandOptions& options = GetCommandOptions();
    OptionSteps steps;
    steps.Count = 0;
    // Room for "-log=" and a path as long as ZORVEX_LOG may hold; every other
    // switch reads no more than its first few characters.
    constexpr size_t kLogPrefixChars = 5;
    constexpr size_t kArgumentChars = kLogPrefixChars + sizeof options.LogPath / sizeof options.LogPath[0];
    wchar_t argument[kArgumentChars];
    unsigned switches = 0;
    for (const wchar_t* position = text; (position = NextArgument(position, argument, kArgumentChars)) != nullptr;) {
        if (argument[0] != L'-' && argument[0] != L'/')
            continue;
        // argument[2] is read only when argument[1] is a letter, so never past the terminator.
        if (UpperChar(argument[1]) == L'S' && !IsAsciiLetter(argument[2])) {
            options.Silent = true;
            continue;
        }
        const wchar_t* name = argument + 1;
        // Like the silent switch, msi leaves the choice of mode alone: "-msi -s"
        // is the uninstall that keeps the files, not a run that does nothing.
        // So do the log and the exit codes: "-s -log=x" still uninstalls.
        bool isMsi = CompareNoCasePrefix(name, L"msi", 3) == 0;
        bool isLog = CompareNoCasePrefix(name, L"log=", 4) == 0;
        bool isExitCodes = CompareNoCasePrefix(name, L"exitcodes=msi", 13) == 0;
        if (!isMsi && !isLog && !isExitCodes)
            switches++;
        if (sfxcmdPass)
            continue;
        if (isLog) {
            const wchar_t* path = argument + kLogPrefixChars;
            // "-log=" alone names nothing; a path that filled the buffer may be
            // cut and is refused, never used as another name.
            if (path[0] != 0) {
                options.LogGiven = true;
                if (wcslen(argument) + 1 >= kArgumentChars ||
                    !CopyString(options.LogPath, path, sizeof options.LogPath / sizeof options.LogPath[0]))
                    options.LogPath[0] = 0;
            }
            continue;
        }
        if (isExitCodes) {
            options.MsiExitCodes = true;
            continue;
        }
        if (CompareNoCasePrefix(name, L"setup", 5) == 0)
            setupRequested = true;
        else if (isMsi)
            options.Msi = true;
        else if (CompareNoCasePrefix(name, L"init", 4) == 0)
            CopyString(options.InitText, argument + 5, sizeof options.InitText / sizeof options.InitText[0]);
        else if (CompareNoCasePrefix(name, L"wait", 4) == 0)
            AddStep(steps, OptionStep::Wait);
        else if (CompareNoCasePrefix(name, L"noexplorer", 4) == 0)
            options.NoExplorer = true;
        else if (CompareNoCasePrefix(name, L"warning", 7) == 0)
            AddStep(steps, OptionStep::Warning);
    }
    uninstallRequested = switches == 0 && !sfxcmdPass;
    return steps;
}
