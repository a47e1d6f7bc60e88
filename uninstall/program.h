// Process-wide values of the main flow, and the only ways to show a message box
// and to load a system library.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

// The main flow, called by the entry point; returns the exit code.
int RunProgram(HINSTANCE instance);

int GetExitCode();
void SetExitCode(int code);
HICON GetProductIcon();
HFONT GetDialogBoldFont();
// Program group of the Start menu, filled by the shortcut code during setup.
wchar_t* ProgramGroupFolder();
constexpr size_t kProgramGroupFolderChars = 2048;

// Removes the current directory from the DLL search order (and, where kernel32
// has it, restricts default DLL directories to System32).
void HardenDllSearch(bool safeSearch);
// name loaded from the system directory only; null when it cannot be.
HMODULE LoadSystemLibrary(const wchar_t* name);
// length * LOGPIXELSY / 96 of the screen.
int32_t ScaleForDpi(int32_t length);
// Every message box of the program goes through here (right-to-left aware).
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags);
// Copies name from the self-extracting archive's folder into the current directory.
bool CopyFromSfxFolder(const wchar_t* name);

// The running program's full path; false (path empty) when it did not fit.
bool GetProgramPath(wchar_t* path, size_t capacity);
// An environment variable into buffer; a variable that is absent or does not fit
// leaves the buffer empty and answers false.
bool ReadEnvironmentVariable(const wchar_t* name, wchar_t* buffer, size_t capacity);
// True when format holds exactly one %s and no other conversion (%% allowed).
bool IsOneStringFormat(const wchar_t* format);
// Message id formatted with one string. A text that is not a one-string format
// (a translator's %d) is replaced by the program's own, so that formatting never
// reads an argument that is not there. Returns FormatString's result.
int FormatMessageWithString(uint32_t id, const wchar_t* argument, wchar_t* buffer, size_t capacity);
