// App Paths entry and the entry in the list of installed programs.
#pragma once

#include <cstddef>

// Absolute key paths under HKEY_LOCAL_MACHINE (the leading '\' makes them absolute for the settings store).
extern const wchar_t kAppPathsKey[];
extern const wchar_t kUninstallKey[];

// False when the first write was denied (nothing written; the apply sequence stops).
bool WriteAppPaths();
void WriteUninstallEntry();
// Appends " 6.11 beta 1 (64-bit)" (a blank only when text is not empty).
void AppendVersionText(wchar_t* text, size_t capacity);
