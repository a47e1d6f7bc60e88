// Helpers for tests that need a language file, the test language libraries or
// the LanguageFolder setting. They use Win32 directly, never the code under test.
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

// The bytes of a language file holding text: in the ANSI code page, or as
// UTF-16LE with its byte-order mark.
std::string LanguageFileBytes(const std::wstring& text, bool utf16);
bool WriteLanguageFile(const std::wstring& path, const std::wstring& text, bool utf16);

// The language libraries the tests build: strings with or without the "RTL"
// dialog and no dialog template, or strings with a DONEDLG template of its own.
std::wstring TestLanguageLibrary(bool rightToLeft);
std::wstring TestLanguageLibraryWithDialog();
// Strings with a SETUPDLG template that cannot be made (an old "RICHEDIT" control).
std::wstring TestLanguageLibraryWithOldRichEdit();

// HKCU\Software\Zorvex\General\LanguageFolder, written as given (bytes may
// leave out the terminator or be of another type).
bool SetLanguageFolderValue(DWORD type, const void* data, DWORD bytes);
bool SetLanguageFolder(const std::wstring& folder, DWORD type = REG_SZ);
// Removes the value, and the keys General and Zorvex when nothing else is left in them.
void ClearLanguageFolder();

}  // namespace testsupport
