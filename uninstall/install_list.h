// Uninstall.lst, the installer's record of what it put into the install folder:
// read line by line, and each line's entry checked to lie inside the folder,
// the same way wherever the list is read (the uninstall deletes what it names,
// setup counts its size).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "common/base/file.h"
#include "common/base/identity.h"
#include "common/base/strings.h"

extern const wchar_t kListName[];
// A list line holds at most 2047 bytes before its line feed.
constexpr size_t kListLineBytes = 2048;

// The list, read line by line from its start (again after RewindList).
struct ListReader {
    File file;
    char block[8192];
    uint32_t blockUsed = 0;
    uint32_t blockNext = 0;
};

void RewindList(ListReader& list);

// The next line, without its line feed, into line; false at the end of the list.
// A line that does not fit is read on to its end and answered with whole false:
// its pieces are not entries.
bool ReadListLine(ListReader& list, char* line, size_t capacity, size_t& length, bool& whole);

// Whether a list entry, by its spelling, names something inside the install
// folder: relative, no drive or root, no colon, no ".." component, no device name.
bool IsConfinedEntryName(const wchar_t* entry);

// Makes entry (kMaxPathChars, holding the install folder with its trailing
// separator in its first folderLength characters) name the entry of one list
// line. False when the line names nothing a run may touch: empty, holding a NUL
// byte, not convertible, too long, or spelled to reach outside the install
// folder. Strips the line's trailing blanks in place.
bool EntryFromLine(char* line, size_t length, wchar_t* entry, size_t folderLength);

// Errors that say the entry is not there (or cannot be, by its name).
bool IsAbsentError(DWORD error);

// What one spelling of a folder on an entry's path answered: its attributes, or
// INVALID_FILE_ATTRIBUTES and the error of the call.
struct FolderLook {
    uint32_t Attributes;
    uint32_t Error;
};
enum class FolderVerdict { Plain, Link, Absent };
// A folder is a link when any spelling shows a reparse point or could not be
// read for a reason other than "not there"; plain when one shows a folder;
// otherwise absent (an entry below it is not there either).
FolderVerdict FolderVerdictOf(const FolderLook* looks, size_t count);

enum PathVerdict { kPathInside, kPathThroughLink, kPathUnreachable };

// Whether a folder between the install folder (the first folderLength
// characters of entry) and the entry is a junction or a symbolic link, or may be
// one (what the entry names would then lie elsewhere), or missing (then so is
// the entry). Looked at by name, each time: only a check through the handle of
// what is acted on holds against another process that swaps a folder meanwhile.
PathVerdict CheckEntryPath(wchar_t* entry, size_t folderLength);

// What the installed copy takes on disk, in KiB rounded up, from the identities
// of the files it is made of: each file counted once however many times (or by
// however many names) it was found; at most 0xFFFFFFFF. Sorts files in place.
uint32_t EstimatedSizeKiB(FileIdentity* files, size_t count);

// The size of the program and of the plain files that the list in folder (with
// its trailing separator) names and that exist now, read with the uninstall's
// reader and checks: a line the uninstall would skip (damaged, outside the
// folder, through a link) counts nothing, nor does a folder or a link. False
// when the folder's own final path cannot be had: nothing could be checked.
bool InstalledSizeKiB(const wchar_t* folder, const wchar_t* programPath, uint32_t& kib);
