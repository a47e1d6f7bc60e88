// The change log (ZORVEX_LOG): where the lines go and how they read. Every
// change the program makes is logged by the gate (common/base/gate.h), which
// makes it; this module only opens the log (or refuses it), formats lines and
// appends them.
//
// A line is UTF-8: the local time (ISO 8601 with its offset), the process id,
// an event word, its fixed fields, then its texts in double quotes.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

// The one flag each change tests before it spends anything on a line.
extern bool gChangeLogOn;
inline bool ChangeLogOn()
{
    return gChangeLogOn;
}

// The outcome of a change a preview withheld; others are 0 (ok) or the error.
constexpr DWORD kOutcomePreview = 0xFFFFFFFFu;

// Opens the log named by switchPath (the command line's -log=; an empty one is a
// path that could not be had whole) or, when that is null, by ZORVEX_LOG: refused
// inside the program's folder, when it cannot be opened, when its name does not
// hold the plain file asked for, or when someone else than SYSTEM,
// Administrators and the running user owns it or may change it. Notes the start
// time. A preview is asked for by ZORVEX_PREVIEW=1; lines logged before
// StartChangeLog wait for its start line.
void OpenChangeLog(const wchar_t* switchPath = nullptr);
// Whether ZORVEX_PREVIEW asks for a preview (read by OpenChangeLog).
bool PreviewRequested();
// The start line. preview: this run is a preview; without ZORVEX_LOG its log is
// then made in the temporary folder.
void StartChangeLog(const wchar_t* mode, bool preview, const wchar_t* commandLine);
// The note that tells a preview's reader how to read it.
void LogPreviewNote();
// The word of the result line; the first one set counts, "ok" when none is.
void SetRunResult(const wchar_t* word);
// That word, kept with or without a log, until the log closes.
const wchar_t* RunResult();
// The result line; closes the log.
void CloseChangeLog(int exitCode);

// Registry roots as the log writes them: HKCR, HKCU, HKLM (with 32 after it for
// the 32-bit view).
void LogRegistryChange(const char* event, DWORD outcome, HKEY root, REGSAM view, const wchar_t* keyPath,
                       const wchar_t* valueName);
void LogValueSet(DWORD outcome, HKEY root, REGSAM view, const wchar_t* keyPath, const wchar_t* valueName, DWORD type,
                 const void* data, DWORD bytes);
// A change to one or two paths (or an application and its command line); the
// outcome of a failed call is its error, 0 when it gave none.
void LogChange(const char* event, DWORD outcome, const wchar_t* text, const wchar_t* second = nullptr);
void LogAttributeChange(DWORD outcome, const wchar_t* path, DWORD attributes);
void LogShellNotice(DWORD outcome, LONG eventId);
void LogMessageBox(int answer, const wchar_t* caption, const wchar_t* text);
// Text with CR LF line ends: one batch-line event per line.
void LogBatchText(const wchar_t* text);
void LogNote(const wchar_t* text);
// Any other event: its word and fixed fields, then up to three texts.
void LogEvent(const char* fields, const wchar_t* a, const wchar_t* b = nullptr, const wchar_t* c = nullptr);

enum class ListVerdict {
    Deleted,
    Absent,
    RenamedAndScheduled,
    Scheduled,
    KeptForLater,      // the program or the list, removed at the end of the run
    Left,              // could not be removed and was not scheduled
    SkippedOutside,    // spelled to reach outside the install folder (or a device name)
    SkippedLink,       // through a junction or symbolic link below the install folder
    SkippedDamaged,    // too long, a NUL byte, not convertible, or too long once joined
};
// What the deletion passes decided for one list entry (or damaged line).
void LogListVerdict(ListVerdict verdict, const wchar_t* entry);

// The registry key's name as the log and the preview's record write it ("HKLM32\path").
bool RegistryKeyName(HKEY root, REGSAM view, const wchar_t* keyPath, wchar_t* dest, size_t capacity);

// The pieces, for the tests.
// text in double quotes, UTF-8, with \\ \" \r \n \t and \xNN for other control
// characters (\uXXXX for a lone surrogate); the byte count, dest null to measure.
size_t QuoteLogText(const wchar_t* text, char* dest);
// The time field for a local time and its offset from UTC in minutes.
void FormatLogTime(const SYSTEMTIME& local, int offsetMinutes, char* dest, size_t capacity);
