// Every message box of the program, and the one-string formats of its texts.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

// MessageBoxW with the flags unchanged, right to left for such a language.
// In a window station nobody sees, no box: 0, logged as not shown.
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags);
// True when format holds exactly one %s and no other conversion (%% allowed).
bool IsOneStringFormat(const wchar_t* format);
// Message id formatted with one string. A text that is not a one-string format
// (a translator's %d) is replaced by the program's own, so that formatting never
// reads an argument that is not there. Returns FormatString's result.
int FormatMessageWithString(uint32_t id, const wchar_t* argument, wchar_t* buffer, size_t capacity);
