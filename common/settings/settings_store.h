// The one interface for settings and registrations. Every call names a root, a
// key path and (for values) a value name; per call the store decides whether
// the registry or the loaded settings file (Zorvex.ini) serves it.
//
// Key paths under HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE are relative to
// Software\Zorvex unless they begin with '\' (then absolute from the root);
// under HKEY_CLASSES_ROOT they are taken as given. The null root addresses only
// the settings file's own Global flags. An empty value name is the default value.
#pragma once

#include <windows.h>
#include <cstdint>

int32_t ReadInt(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, int32_t defaultValue);
// True when the value (or, from the file, the value or the default) was copied;
// false when the registry read failed, the buffer then holding the default. A
// registry value is text only as REG_SZ or REG_EXPAND_SZ (the latter not expanded).
bool ReadString(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, wchar_t* buffer,
                const wchar_t* defaultText, uint32_t capacity);
// Windows error codes, 0 on success (also when the file served the call or the
// closed gate skipped it).
LONG WriteInt(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, uint32_t value);
LONG WriteString(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, const wchar_t* text);
// A value in its own type, byte for byte: for what is given back as it was. The
// registry alone serves these; a path the settings file would serve answers
// ERROR_INVALID_FUNCTION and stores nothing. bytes: the buffer's size in, the
// value's size out. ERROR_FILE_NOT_FOUND when there is none (also behind a
// closed gate), ERROR_MORE_DATA when it does not fit (nothing is handed on).
LONG ReadTypedValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, DWORD& type, void* data,
                    DWORD& bytes);
LONG WriteTypedValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, DWORD type, const void* data,
                     DWORD bytes);
void DeleteValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName);
// One key; in the registry it stays while it has subkeys.
void DeleteKey(HKEY root, const wchar_t* keyPath);
void DeleteKeyTree(HKEY root, const wchar_t* keyPath);
bool KeyExists(HKEY root, const wchar_t* keyPath);

// The same with the root HKEY_CURRENT_USER.
int32_t ReadUserInt(const wchar_t* keyPath, const wchar_t* valueName, int32_t defaultValue);
bool ReadUserString(const wchar_t* keyPath, const wchar_t* valueName, wchar_t* buffer,
                    const wchar_t* defaultText, uint32_t capacity);
LONG WriteUserInt(const wchar_t* keyPath, const wchar_t* valueName, uint32_t value);
LONG WriteUserString(const wchar_t* keyPath, const wchar_t* valueName, const wchar_t* text);
void DeleteUserValue(const wchar_t* keyPath, const wchar_t* valueName);

// Extra access bits (KEY_WOW64_32KEY or 0) for the keys that reads open and writes create.
void SetRegistryView(REGSAM viewBits);
// False only while a loaded settings file forbids changes outside itself.
bool IntegrationAllowed();
// Writes the loaded settings file; false when none is loaded, saving is off, or it failed.
bool SaveSettingsFile();
