// A preview (ZORVEX_PREVIEW=1) changes nothing, yet each of its decisions must
// see the machine as the run would have left it by then: a folder whose files
// it "deleted" is empty, a file it "renamed" is found under its new name. This
// is its record of what it took as done. Files are kept by identity (volume and
// file number), so that any spelling of a name (a short name, a run of
// separators, another link to the file) finds the same record; registry keys,
// which have no identity, by the name the log gives them.
#pragma once

#include "common/base/identity.h"

// Whether this run withholds every change; false until a preview begins.
bool ChangesWithheld();
// From here on, changes are withheld and recorded; ends any earlier record.
void BeginPreviewRecord();
// Forgets everything and withholds nothing any more.
void EndPreviewRecord();

void RecordFileGone(const FileIdentity& identity);
bool IsFileGone(const FileIdentity& identity);

// The file now stands at newPath (a full path) and no longer at its old names.
void RecordFileMoved(const FileIdentity& identity, const wchar_t* newPath);
// The file recorded as moved to path, if any.
bool FileMovedTo(const wchar_t* path, FileIdentity& identity);
// Whether the file was moved away from where it lies on the disk.
bool IsFileMovedAway(const FileIdentity& identity);
// Whether a file was moved to a name directly in folder (a full path).
bool AnyFileMovedInto(const wchar_t* folder);

// Read-only and the other attributes the preview cleared (or set again).
void RecordAttributesCleared(const FileIdentity& identity, bool cleared);
bool AreAttributesCleared(const FileIdentity& identity);

// Registry keys, by the name the log writes ("HKLM32\path").
void RecordKeyGone(const wchar_t* name);
bool IsKeyGone(const wchar_t* name);
