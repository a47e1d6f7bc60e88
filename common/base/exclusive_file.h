// Files made new in a folder others can write to (the temporary folder of a run
// as SYSTEM): never through what already stands at the name, checked through
// the handle, readable and writable only by SYSTEM, Administrators and the user.
#pragma once

#include <windows.h>
#include <cstddef>

#include "common/base/scoped.h"

class File;

// A protected DACL that gives SYSTEM, Administrators and the running user full
// access and nobody else any.
bool MakeOwnerOnlySecurity(ScopedLocalMem& descriptor);

// Whether a file, by what its handle tells, is the one asked for: a plain file
// with one link whose final path (GetFinalPathNameByHandleW) is requestedPath,
// given in its long full form; case and the "\\?\" prefix do not count.
bool IsRequestedFile(const BY_HANDLE_FILE_INFORMATION& info, const wchar_t* finalPath, const wchar_t* requestedPath);

// Creates <base><extension> in the folder held by the first folderLength
// characters of path, or, when anything stands at that name (left as it is),
// <base>_<16 random hexadecimal digits><extension>; path gets the name used.
// The file has MakeOwnerOnlySecurity's descriptor and is checked to be the plain
// file at that name. False, with nothing left behind, otherwise. Unless closed,
// File deletes it again through its handle.
bool CreateExclusiveFile(File& file, wchar_t* path, size_t folderLength, size_t capacity, const wchar_t* base,
                         const wchar_t* extension);
