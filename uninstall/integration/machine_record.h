// What setup made, kept for the whole machine below HKLM\Software\Zorvex\Record
// (64-bit view), so that an uninstall run by any account, SYSTEM under a
// deployment tool among them, gives it all back. The key paths are absolute, so
// the settings store keeps them in the registry even while Zorvex.ini is loaded.
// The record goes with the product's machine key when the uninstall removes the
// shell extension; everything that reads it runs before that.
#pragma once

#include <windows.h>

#include <cstddef>

// A registry value as it was, kept byte for byte in its own type.
constexpr DWORD kFormerValueBytes = 8192;
struct FormerValue {
    bool Present;
    DWORD Type;
    DWORD Bytes;
    BYTE Data[kFormerValueBytes];
};

// What an extension's key under HKEY_CLASSES_ROOT held before the product took it.
struct FormerState {
    bool Existed;          // the key <ext>
    bool ShellNewExisted;  // the key <ext>\ShellNew
    FormerValue Default;   // the default value of <ext>: the former program identifier
    FormerValue FileName;  // <ext>\ShellNew, FileName
    FormerValue NullFile;  // <ext>\ShellNew, NullFile
};

// ext's state as the classes root shows it now. False when a value cannot be
// read whole (larger than kFormerValueBytes, or unreadable): it could not be
// given back as it was.
bool ReadFormerState(const wchar_t* ext, FormerState& state);
// Replaces the machine's record of ext; Existed is written last, so a record
// holding it is whole.
void RecordFormerState(const wchar_t* ext, const FormerState& state);
// The machine's record of ext; false when there is none whole (setups of earlier
// versions kept theirs per user only).
bool RecordedFormerState(const wchar_t* ext, FormerState& state);

// The text of a former value when it is REG_SZ or REG_EXPAND_SZ and fits;
// otherwise false and dest empty.
bool FormerValueText(const FormerValue& value, wchar_t* dest, size_t capacity);
// value made REG_SZ text (with its terminator); false when it does not fit.
bool SetFormerText(FormerValue& value, const wchar_t* text);
// Writes a former value back into the classes root in its own type.
void GiveBackFormerValue(const wchar_t* key, const wchar_t* valueName, const FormerValue& value);

// The install folder whose setup wrote the record (the running program's, with
// its trailing separator).
void RecordInstallFolder();
bool RecordedInstallFolder(wchar_t* dest, size_t capacity);

// Paths setup made in whichever profile it ran: shortcut files and program groups.
enum class RecordedList { Shortcuts, ProgramGroups };
constexpr unsigned kMaxRecordedPaths = 256;
// Adds a full path once; a full list takes no more.
void RecordPath(RecordedList list, const wchar_t* path);
// The path in slot n (0 to kMaxRecordedPaths - 1); false for an empty slot.
bool RecordedPath(RecordedList list, unsigned n, wchar_t* dest, size_t capacity);

// The settings file setup copied from the self-extracting archive's folder
// (relative names are made full against the current folder).
void RecordSettingsCopy(const wchar_t* path);
// Deletes that copy when it is the plain file of its name in the program's
// folder, where it would keep the folder from being removed; a copy anywhere
// else, or anything that has taken its place, stays.
void RemoveRecordedSettingsCopy();
