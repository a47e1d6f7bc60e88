// What deployment tools (Intune, Configuration Manager, winget, Chocolatey)
// rely on: no box where nobody can see one, one setup or uninstall at a time
// on the machine, and exit codes that agree with the log's result word.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

// --- The window station. A service or a run as SYSTEM in session 0 has one
// that no user sees: a box there waits until the caller's time limit.

enum class StationVerdict : uint8_t {
    Visible,    // a user can see and answer windows: the run is as asked
    Invisible,  // nobody can: the run is silent and shows no box
    Unknown,    // the flags could not be read: the run is as asked
};
// From what GetUserObjectInformationW answered for UOI_FLAGS.
StationVerdict StationVerdictOf(bool queried, DWORD flags);

// Looks at the process's window station. False when nobody can see a window
// there: note then says so (and which station) for the log, and from then on
// BoxesCanBeSeen is false.
bool InspectWindowStation(wchar_t* note, size_t capacity);
// False once InspectWindowStation found the station invisible: every message
// box is then logged as not shown instead of shown.
bool BoxesCanBeSeen();

// --- One run at a time. The lock is a mutex of one name in the global
// namespace, so that runs in every session meet at it, made owned by
// Administrators and open to SYSTEM and Administrators only. Any user can make
// an object of that name first; one that SYSTEM or Administrators do not own
// is not honoured (it would keep every later uninstall from running), and the
// run goes on unguarded. A run that ends abnormally takes its hold with it:
// the mutex is gone with its last handle, or left abandoned, which the next
// run takes.

extern const wchar_t kRunLockName[];
// The lock's security: owned by Administrators, open to SYSTEM and Administrators only.
extern const wchar_t kRunLockSecurity[];

enum class LockVerdict : uint8_t {
    Taken,
    TakenAfterAbandoned,  // an earlier run ended without releasing it
    Busy,                 // another setup or uninstall holds it
    Unguarded,            // no lock to be had that can be trusted: the run goes on without
};
// opened: the mutex was created or opened; ownerTrusted: its owner is SYSTEM
// or Administrators; waitResult: WaitForSingleObject's answer with no wait.
LockVerdict LockVerdictOf(bool opened, bool ownerTrusted, DWORD waitResult);
// Whether a lock object's owner is one that no unelevated user can be.
bool IsTrustedLockOwner(PSID owner);

// Takes the lock for the rest of the process. False when another setup or
// uninstall holds it. Logs a note when the run goes on unguarded or after an
// abnormal end of another.
bool TakeRunLock();
// Gives the lock back (at the end of the process, after the last change).
void ReleaseRunLock();

// --- Exit codes. The one table of result words (the log's result line) and
// the exit code of each: the program's own codes, or with -exitcodes=msi those
// of Windows Installer that deployment tools read (3010 restart required, 1602
// cancelled, 1603 failed, 1618 another installation running).
struct ResultCode {
    const wchar_t* Word;
    int Standard;
    int Msi;
};
extern const ResultCode kResultCodes[];
extern const size_t kResultCodeCount;
// The exit code for a result word; a word the table lacks counts as failed.
int ExitCodeForResult(const wchar_t* word, bool msiCodes);
