// Who holds a file in use, as the Restart Manager tells it: for the change log
// of the run and of the preview, and for the preview's guess of what the run
// will have to rename and schedule. Nothing is closed or restarted.
#pragma once

#include <windows.h>
#include <cstddef>

struct FileHolder {
    DWORD ProcessId;
    int Kind;               // RM_APP_TYPE
    wchar_t Name[256];      // the application's name as the Restart Manager gives it
    wchar_t Service[64];    // a service's short name; empty for other processes
};

// The processes that hold path: up to capacity of them into holders, and how
// many there are into count. False when the Restart Manager could not tell
// (not there, or an error); count is then 0.
bool FindFileHolders(const wchar_t* path, FileHolder* holders, size_t capacity, size_t& count);

// One file-holder event for each process that holds path (a note for those
// beyond the first few). Nothing when none does or nobody can tell.
void LogFileHolders(const wchar_t* path);

// For the preview's deletion: true, with ERROR_ACCESS_DENIED as the last
// error, when the run's deletion of the file would be refused because a
// process has it loaded: it cannot be opened for writing (an image in use
// refuses that, as it refuses deletion) and the Restart Manager names a holder.
bool FileInUseForPreview(const wchar_t* path);

// The decisions, for the tests.
// The log's word for an RM_APP_TYPE.
const char* HolderKindWord(int kind);
// Whether the preview takes a file as held: its opening for writing was
// refused as a sharing violation, and the Restart Manager named a holder.
bool PreviewCountsFileAsHeld(bool writeRefusedBySharing, bool holdersKnown, size_t holders);

// Stands in for the Restart Manager (null: the real one again); Wine's answers
// name no process. The program never calls it.
using FileHolderQuery = bool (*)(const wchar_t* path, FileHolder* holders, size_t capacity, size_t& count);
void SetFileHolderQueryForTesting(FileHolderQuery query);
