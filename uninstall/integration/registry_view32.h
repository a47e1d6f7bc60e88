// The one deletion the settings store cannot make: a key of the 32-bit registry view.
#pragma once

#include <windows.h>

// Deletes one key (no subkeys) in the 32-bit view: under HKEY_CLASSES_ROOT as
// given, under the other roots only an absolute path (leading '\'). Honours the
// settings gate like the store's own deletions; call it after a store call, so
// that the store has looked for its settings file.
void DeleteKeyIn32BitView(HKEY root, const wchar_t* keyPath);
