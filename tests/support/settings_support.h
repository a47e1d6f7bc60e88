// Helpers for tests of the settings store and the settings file: where the store
// looks for Zorvex.ini, UTF-16 file contents, and registry keys seen through
// Win32 directly (never through the code under test).
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

// Zorvex.ini beside the running test executable, the first place the store looks.
std::wstring SettingsFileBesideProgram();
// %APPDATA%\Zorvex, the second place.
std::wstring AppDataSettingsFolder();

// Bytes of text as UTF-16LE with its byte-order mark, as the store writes files.
std::string Utf16LeFile(const std::wstring& text);
// Big-endian, with the mark FE FF.
std::string Utf16BeFile(const std::wstring& text);
// UTF-8 without a mark.
std::string Utf8Bytes(const std::wstring& text);

bool RegKeyExists(HKEY root, const std::wstring& path, REGSAM view = 0);
// Deletes path and everything below it in the given view; true when it is gone.
bool RegDeleteTreeIn(HKEY root, const std::wstring& path, REGSAM view = 0);
// Sets a value of any type and size (the key is created).
bool RegSetRaw(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
               DWORD bytes, REGSAM view = 0);
// The value's type and bytes; false when it cannot be read.
bool RegGetRaw(HKEY root, const std::wstring& path, const wchar_t* name, DWORD& type, std::string& data,
               REGSAM view = 0);

}  // namespace testsupport
