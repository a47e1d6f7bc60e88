// The uninstall run: removes the installed copy of the product from the folder
// that holds the program, then hands over to a batch file that removes the
// program and the folder once the program has ended.
#pragma once

#include <cstddef>

class File;

void RunUninstall();

// Writes text, without its terminator, in the OEM code page (the one cmd.exe
// reads batch files in). False when a character has no form there or the write
// failed: a line is never written cut or altered.
bool WriteBatchLine(File& stream, const wchar_t* text);

// Writes the self-removal batch file into the temporary folder and gives its path.
// False, with no file left behind, when any line could not be written whole.
bool SelfRemovalBatch(const wchar_t* programPath, const wchar_t* folderPath, bool silent, wchar_t* batchPath,
                      size_t capacity);

// Whether a list entry, by its spelling, names something inside the install
// folder: relative, no drive or root, no colon, no ".." component, no device name.
bool IsConfinedEntryName(const wchar_t* entry);
