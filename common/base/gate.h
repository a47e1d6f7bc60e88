// The one way the program changes the machine. Each operation opens what it
// acts on without following a link, checks it through that handle, acts
// through that handle, logs the outcome (common/base/change_log.h) and leaves
// the call's error as the last error. In a preview (ZORVEX_PREVIEW=1) it makes
// the same opening and the same checks, then withholds the act and answers as
// the act would have, recording what it took as done
// (common/base/preview_record.h), so that later decisions see the machine as
// the run would leave it. Nothing else in the program asks whether this is a
// preview.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstddef>
#include <cstdint>

#include "common/base/scoped.h"

// From here on every change is checked and withheld.
void BeginPreview();

// ---- Removing what was checked ----------------------------------------------

enum class GateAnswer : uint8_t {
    Done,            // removed (in a preview: would be)
    Absent,          // nothing stands at the name
    Refused,         // the handle shows something else than was asked for: a link,
                     // a file or folder elsewhere (last error ERROR_REPARSE_POINT_ENCOUNTERED)
    NotEmpty,        // a folder that still holds something (ERROR_DIR_NOT_EMPTY)
    InUse,           // held open without delete sharing, a running program or a
                     // loaded library (ERROR_SHARING_VIOLATION or ERROR_ACCESS_DENIED)
    LinkedReadOnly,  // read-only with further names, whose attributes it shares
                     // with them; where Windows cannot delete it as it is, it stays
    Failed,          // anything else; the last error tells
};

// What the handle must show before anything is done through it: its final path
// is exact, or, when exact is null, lies below the folder whose final path is
// below (not being that folder).
struct GateCheck {
    const wchar_t* Exact;
    const wchar_t* Below;
};

// Removes a file (a link as a link), or a folder that holds nothing, through one
// handle opened without following a link. A read-only file is deleted as it is
// where Windows can; otherwise its attributes are cleared first, through that
// handle, unless it has further names.
GateAnswer GateRemove(const wchar_t* path, const GateCheck& check);

// Removes a folder and everything in it, each entry through a handle of its own
// checked to lie in the folder's final path; a link in it goes as a link, what
// it leads to is never entered.
GateAnswer GateRemoveTree(const wchar_t* folder, const wchar_t* folderFinal);

// A file that cannot be deleted now is moved, through its handle (checked as
// GateRemove checks), into a holding folder that the run makes at the root of
// the file's volume, where only SYSTEM and Administrators can reach it, and is
// scheduled for deletion at the restart from there, so that nobody can make the
// scheduled name lead elsewhere before the restart comes. Where no holding
// folder can be made, it is renamed in place to <path>.<n>.tmp and scheduled
// there, as a note in the log says. heldName gets the name scheduled.
GateAnswer GateHoldForRestart(const wchar_t* path, const GateCheck& check, wchar_t* heldName, size_t capacity);
// Schedules path as it is named for deletion at the restart.
bool GateScheduleAtRestart(const wchar_t* path);
// Schedules the holding folder, once everything moved into it is scheduled.
void GateEndHolding();

// ---- Making files -------------------------------------------------------------

// Ways of GateCreateNew.
constexpr unsigned kNewOtherNames = 0x1;   // another name when the usual one is taken
constexpr unsigned kNewProtected = 0x2;    // only SYSTEM and Administrators may change it (exclusive_file.h)
constexpr unsigned kNewFolderPlain = 0x4;  // the folder too must be reached without a link

// Makes a file new in the folder held by the first folderLength characters of
// path, as <base><extension>, never through what stands at that name (a file,
// a link, dangling or not): when something does and kNewOtherNames allows, as
// <base>_<16 random hexadecimal digits><extension>; path gets the name used.
// The file must then show, through its handle, the plain file of that name in
// its folder; otherwise it is deleted again through its handle. With
// kNewFolderPlain the folder's final path must be its long name, so that a link
// on the way (a temporary folder reached through a junction) refuses it too.
// In a preview nothing is made and file holds the NUL device, so that what the
// caller writes goes nowhere.
bool GateCreateNew(wchar_t* path, size_t folderLength, size_t capacity, const wchar_t* base,
                   const wchar_t* extension, unsigned ways, ScopedFileHandle& file);

// Opens path for writing anew: the plain file that stands there (no link, one
// name, its final path its own), emptied, or a new one. Anything else at the
// name is left alone (false, ERROR_REPARSE_POINT_ENCOUNTERED). In a preview
// file holds the NUL device.
bool GateCreateFile(const wchar_t* path, ScopedFileHandle& file);

// Opens the plain file at path (checked as GateCreateFile checks) for reading
// and rewriting, or makes it new; existed tells which. A refusal is logged as
// event. In a preview an existing
// file is opened for reading only and a new one is the NUL device; the content
// is written by GateReplaceContent.
bool GateOpenForRewrite(const wchar_t* path, const char* event, ScopedFileHandle& file, bool& existed);
// Writes bytes as the whole content of file (from GateOpenForRewrite), logged
// as event ("shortcut-save", "file-write") for name.
bool GateReplaceContent(HANDLE file, const wchar_t* name, const char* event, const void* bytes, DWORD count);

// Deletes a file this run made, through its handle (never by its name, which may
// lead elsewhere by now).
bool GateDeleteMade(HANDLE file, const wchar_t* name);
// Gives the entry at path the attributes, through a handle that shows the entry
// whose final path is exact; a file of several names keeps its attributes, which
// are theirs too.
bool GateSetAttributesOf(const wchar_t* path, const wchar_t* exact, DWORD attributes);
// Gives a file this run made the attributes, through its handle.
bool GateSetAttributes(HANDLE file, const wchar_t* name, DWORD attributes);
// Gives a file this run made the DACL of model (an open file), so that a
// replacement protects what the file it replaces protected.
bool GateTakeSecurity(HANDLE file, HANDLE model);
// Gives a file this run made (and wrote) the name to, through its handle: where
// nothing stands at to, or, with replace, over what stands there (the name is
// replaced, never what a link of that name leads to).
bool GateRenameMade(HANDLE file, const wchar_t* from, const wchar_t* to, bool replace);

// Copies from (read as any reader would) to a file made new at to.
bool GateCopyNew(const wchar_t* from, const wchar_t* to);

// Makes a folder (never over anything that stands at the name).
bool GateCreateFolder(const wchar_t* path);

// The attributes of path as the run would find them by now: in a preview, none
// where it took the entry as removed or moved away, and no read-only where it
// cleared them; a name it moved a file to shows that file.
DWORD GateAttributes(const wchar_t* path);

// ---- The registry -------------------------------------------------------------
// Key paths are the subkey paths below root (the settings store composes them);
// view is 0 or KEY_WOW64_32KEY. A key that is a registry link is never written
// or deleted through.

LONG GateSetValue(HKEY root, REGSAM view, const wchar_t* keyPath, const wchar_t* valueName, DWORD type,
                  const void* data, DWORD bytes);
LONG GateDeleteValue(HKEY root, REGSAM view, const wchar_t* keyPath, const wchar_t* valueName);
// One key; it stays while it has subkeys.
LONG GateDeleteKey(HKEY root, REGSAM view, const wchar_t* keyPath);
// A key and everything below it.
void GateDeleteKeyTree(HKEY root, REGSAM view, const wchar_t* keyPath);

// ---- Processes and the shell ----------------------------------------------------

// A preview starts nothing and answers as a start that worked, with no handles.
BOOL GateCreateProcess(const wchar_t* application, wchar_t* commandLine, BOOL inheritHandles, STARTUPINFOW* startup,
                       PROCESS_INFORMATION* process);
HINSTANCE GateShellExecute(const wchar_t* verb, const wchar_t* file, const wchar_t* parameters, int show);
BOOL GateShellExecuteEx(SHELLEXECUTEINFOW* info);
void GateNotifyShell(LONG eventId, UINT flags);
