// The settings file's entries in memory, as the settings store reaches them.
// Only the settings store and the settings file include this.
#pragma once

#include <cstdint>

enum class EntryKind : uint32_t {
    Plain = 0,   // a number, written bare
    Quoted = 1,  // text, written between double quotes
    Binary = 2,  // written after "bin:", carried through verbatim
};

// Whether a settings file was found and parsed; false until the search has run.
bool SettingsFileLoaded();

// Names are compared case-sensitively by UTF-16 code unit; lookups and updates act
// on the first of several equal names.
const wchar_t* FindEntryValue(const wchar_t* name);
// Replaces the first entry's value and kind, or appends a new entry.
void SetEntry(const wchar_t* name, const wchar_t* value, EntryKind kind);
// Unlinks and frees every entry named name, or with prefix, every entry whose name
// begins with it.
void RemoveEntries(const wchar_t* name, bool prefix);
bool AnyEntryWithPrefix(const wchar_t* prefix);
