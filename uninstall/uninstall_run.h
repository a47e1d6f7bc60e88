// The uninstall run: removes the installed copy of the product from the folder
// that holds the program, then hands over to a batch file that removes the
// program and the folder once the program has ended.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "common/base/exclusive_file.h"
#include "common/base/scoped.h"

class File;

void RunUninstall();

// Writes text, without its terminator, in the OEM code page (the one cmd.exe
// reads batch files in). False when a character has no form there or the write
// failed: a line is never written cut or altered.
bool WriteBatchLine(File& stream, const wchar_t* text);

// Writes the self-removal batch file into the temporary folder and gives its path:
// Uninstall_Zvx.Bat, or an unpredictable Uninstall_Zvx_<16 hex digits>.Bat when
// something already stands at that name (which is left alone). The file is made
// new, never through a link, with MakeBatchSecurity's descriptor. False, with
// nothing left behind, when it could not be made as named or a line could not be
// written whole.
bool SelfRemovalBatch(const wchar_t* programPath, const wchar_t* folderPath, bool silent, wchar_t* batchPath,
                      size_t capacity);

// The batch file's security: a protected DACL that gives SYSTEM, Administrators
// and the running user full access and nobody else any.
bool MakeBatchSecurity(ScopedLocalMem& descriptor);
