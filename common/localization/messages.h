// Every user-visible text by message id or dialog control key: language file
// first, then the language library, then the program's own string table.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

struct KeyTableRow {
    const char* Key;   // "s:IDS_..." or "$DIALOG:ITEM"
    uint32_t Id;       // message id, control id, or 0 for SIZE and CAPTION
};
extern const KeyTableRow KeyTable[];
extern const size_t KeyTableSize;

// Start-up of the language layer, in this order.
void LoadLanguageLibrary(HINSTANCE ownModule, const wchar_t* path);
void InitLanguage(const wchar_t* fileName);
void UnloadLanguageLibrary();
// The clean-up at normal process exit: destroys the language table and releases
// the library unless the uninstall run already did.
void LanguageExitCleanup();

// The module that supplies dialogs, the icon and built-in texts.
HINSTANCE ResourceModule();
HINSTANCE OwnModule();
// The module to make the dialog template dialogName from: the language library
// when it has that template, otherwise the program itself. A library may bring
// its strings alone; its texts still reach the program's template through the
// language layer.
HINSTANCE DialogModule(const wchar_t* dialogName);

// result = path, or its file name's copy in the user's LanguageFolder when that
// exists. result may be path itself.
void FindInLanguageFolder(const wchar_t* path, wchar_t* result, size_t capacity);

bool FindKeyById(uint32_t id, char* key /* 80 bytes */);
bool FindTextById(uint32_t id, wchar_t* buffer, size_t capacity);
// The text into buffer (empty when no source has it); returns buffer.
wchar_t* LoadMessageText(uint32_t id, wchar_t* buffer, size_t capacity);
// The text in the next of eight rotating buffers of 1024 characters; valid
// until seven more calls have been made.
const wchar_t* MessageText(uint32_t id);
constexpr size_t kMessageTextChars = 1024;
