// Process-wide values of the main flow, which the dialogs read: the exit code,
// the product icon, the bold dialog font and the program group setup made.
#pragma once

#include <windows.h>
#include <cstddef>

int GetExitCode();
void SetExitCode(int code);
// Null until the main flow has loaded it; a shared icon, never released.
HICON GetProductIcon();
void SetProductIcon(HICON icon);
// The main flow's font, null outside it; the main flow owns and deletes it.
HFONT GetDialogBoldFont();
void SetDialogBoldFont(HFONT font);
// Program group of the Start menu, filled by the shortcut code during setup.
wchar_t* ProgramGroupFolder();
constexpr size_t kProgramGroupFolderChars = 2048;
