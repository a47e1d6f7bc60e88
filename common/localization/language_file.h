// The language table: translated texts from uninstall.lng, by key.
#pragma once

#include <cstddef>

// Fills the table once from the language file; a path without '\' is taken
// relative to the program's own folder. A missing or unusable file leaves it empty.
void LoadLanguageFile(const wchar_t* path);
// The text of key (byte-wise, case-sensitive); false when there is none.
// An entry with an empty text is found.
bool FindText(const char* key, wchar_t* buffer, size_t capacity);
// Number of entries in the table.
size_t LanguageEntryCount();
// Frees the table (process exit; tests reload through it).
void DestroyLanguageTable();

bool RightToLeft();
void SetRightToLeft(bool rightToLeft);
