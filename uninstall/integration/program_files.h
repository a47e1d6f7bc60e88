// Files beside the running program, and the one deletion the settings store
// cannot make: a key of the 32-bit registry view.
#pragma once

#include <windows.h>
#include <cstddef>

// The running program's full path; false (dest empty) when it did not fit.
bool ProgramPath(wchar_t* dest, size_t capacity);
// The program's path with its file name replaced by name; false (dest empty) when cut.
bool ProgramFilePath(const wchar_t* name, wchar_t* dest, size_t capacity);

// Deletes one key (no subkeys) in the 32-bit view: under HKEY_CLASSES_ROOT as
// given, under the other roots only an absolute path (leading '\'). Honours the
// settings gate like the store's own deletions; call it after a store call, so
// that the store has looked for its settings file.
void DeleteKeyIn32BitView(HKEY root, const wchar_t* keyPath);
