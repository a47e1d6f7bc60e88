// The running program's own file, the files beside it, and the libraries it
// loads from the system directory only.
#pragma once

#include <windows.h>
#include <cstddef>

// The running program's full path; false (dest empty) when it did not fit: a
// path that fills the buffer may be cut and must not name a file.
bool ProgramPath(wchar_t* dest, size_t capacity);
// The file name beside the program: its path with the file name replaced by
// name; false (dest empty) when either did not fit.
bool ProgramFilePath(const wchar_t* name, wchar_t* dest, size_t capacity);

// Removes the current directory from the DLL search order (and, where kernel32
// has it, restricts default DLL directories to System32); false restores the
// default order.
void HardenDllSearch(bool safeSearch);
// name loaded from the system directory only; null when it cannot be.
HMODULE LoadSystemLibrary(const wchar_t* name);
