// The change log and the preview: every change the program makes to the
// machine passes through here, so that it can be written down (ZORVEX_LOG) or,
// in a preview (ZORVEX_PREVIEW=1), written down and withheld.
//
// A line is UTF-8: the local time (ISO 8601 with its offset), the process id,
// an event word, its fixed fields, then its texts in double quotes.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <cstddef>
#include <cstdint>

// The one flag each change site tests: nothing else is spent on the log while
// it is false. ChangesWithheld implies ChangeLogOn.
extern bool gChangeLogOn;
extern bool gChangesWithheld;
inline bool ChangeLogOn()
{
    return gChangeLogOn;
}
inline bool ChangesWithheld()
{
    return gChangesWithheld;
}

// The outcome of a change a preview withheld; others are 0 (ok) or the error.
constexpr DWORD kOutcomePreview = 0xFFFFFFFFu;

// Opens the log named by switchPath (the command line's -log=; an empty one is
// a path that could not be had whole) or, when that is null, by ZORVEX_LOG
// (refused inside the program's folder or when it cannot be opened) and notes
// the start time. Lines logged before StartChangeLog wait for its start line.
void OpenChangeLog(const wchar_t* switchPath = nullptr);
// The start line. previewMode: the run is one that ZORVEX_PREVIEW=1 turns into
// a preview; without ZORVEX_LOG its log is then made in the temporary folder.
// From here on a preview withholds every change.
void StartChangeLog(const wchar_t* mode, bool previewMode, const wchar_t* commandLine);
// The note that tells a preview's reader how to read it.
void LogPreviewNote();
// Whether this run is a preview (known once StartChangeLog ran).
bool PreviewRun();
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
// A change to one or two paths (or an application and its command line).
void LogChange(const char* event, DWORD outcome, const wchar_t* text, const wchar_t* second = nullptr);
void LogAttributeChange(DWORD outcome, const wchar_t* path, DWORD attributes);
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
    NotYetRemovable,   // a folder that still holds something, or a file that would not go: retried
    SkippedOutside,    // spelled to reach outside the install folder (or a device name)
    SkippedLink,       // through a junction or symbolic link below the install folder
    SkippedDamaged,    // too long, a NUL byte, not convertible, or too long once joined
};
// What the deletion passes decided for one list entry (or damaged line).
void LogListVerdict(ListVerdict verdict, const wchar_t* entry);
// The entries last found NotYetRemovable and never removed after: verdict left.
// True when there were any.
bool EndListVerdicts();

// Calls through which the program makes its changes: logged, and in a preview
// withheld and answered as if they had worked (a deletion only for what
// Windows would delete). Each is made with the caller's path and, where
// long_path.h says so, once more in the extended-length form; it is logged
// once, under the form of its last call, with that call's outcome.
BOOL LoggedDeleteFile(const wchar_t* path);
// Exactly the file of that name, without the retry: for a file made under it.
BOOL LoggedDeleteFileAsNamed(const wchar_t* path);
BOOL LoggedRemoveDirectory(const wchar_t* path);
BOOL LoggedCreateDirectory(const wchar_t* path);
BOOL LoggedSetFileAttributes(const wchar_t* path, DWORD attributes);
BOOL LoggedMoveFile(const wchar_t* from, const wchar_t* to);
// With MOVEFILE_DELAY_UNTIL_REBOOT and no target: scheduled for deletion at restart.
BOOL LoggedMoveFileEx(const wchar_t* from, const wchar_t* to, DWORD flags);
BOOL LoggedCopyFile(const wchar_t* from, const wchar_t* to, BOOL failIfExists);
// ReplaceFileW without a backup, flags or reserved arguments.
BOOL LoggedReplaceFile(const wchar_t* replaced, const wchar_t* replacement);
// GetFileAttributesW (with the retry) that, in a preview, finds nothing where
// the preview deleted and no read-only where it cleared the attributes.
DWORD LoggedGetFileAttributes(const wchar_t* path);
void NotifyShell(LONG eventId, UINT flags);
// Processes: logged as the application and its command line (or parameters).
BOOL LoggedCreateProcess(const wchar_t* application, wchar_t* commandLine, BOOL inheritHandles,
                         STARTUPINFOW* startup, PROCESS_INFORMATION* process);
HINSTANCE LoggedShellExecute(const wchar_t* verb, const wchar_t* file, const wchar_t* parameters, int show);
BOOL LoggedShellExecuteEx(SHELLEXECUTEINFOW* info);

// The preview's record of what it deleted (paths, and registry keys as the log
// names them): a folder or key counts as removed when all it holds is in it.
void RecordPreviewDeletion(const wchar_t* name);
bool IsPreviewDeleted(const wchar_t* name);
// The registry key's name as the log and the record write it ("HKLM32\path").
bool RegistryKeyName(HKEY root, REGSAM view, const wchar_t* keyPath, wchar_t* dest, size_t capacity);

// The pieces, for the tests.
// text in double quotes, UTF-8, with \\ \" \r \n \t and \xNN for other control
// characters (\uXXXX for a lone surrogate); the byte count, dest null to measure.
size_t QuoteLogText(const wchar_t* text, char* dest);
// Whether path lies in folder or is folder (both full long paths; case ignored).
bool IsPathWithinFolder(const wchar_t* path, const wchar_t* folder);
// The time field for a local time and its offset from UTC in minutes.
void FormatLogTime(const SYSTEMTIME& local, int offsetMinutes, char* dest, size_t capacity);
