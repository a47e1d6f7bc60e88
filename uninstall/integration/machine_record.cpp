#include "uninstall/integration/machine_record.h"

#include <cstring>
#include <cwchar>

#include "common/base/file.h"
#include "common/base/gate.h"
#include "common/base/identity.h"
#include "common/base/module.h"
#include "common/base/paths.h"
#include "common/base/strings.h"
#include "common/settings/settings_store.h"

namespace {

// The leading backslash makes each path absolute: the registry, never Zorvex.ini.
const wchar_t kRecordKey[] = L"\\Software\\Zorvex\\Record";
const wchar_t kShortcutsKey[] = L"\\Software\\Zorvex\\Record\\Shortcuts";
const wchar_t kGroupsKey[] = L"\\Software\\Zorvex\\Record\\Groups";
constexpr size_t kKeyChars = 160;
constexpr size_t kSlotNameChars = 12;

bool TypeRecordKey(const wchar_t* ext, wchar_t* key)
{
    return FormatString(key, kKeyChars, L"%s\\Types\\%s", kRecordKey, ext) > 0;
}

// One value into value; false when it exists but cannot be had whole.
bool ReadValue(HKEY root, const wchar_t* key, const wchar_t* name, FormerValue& value)
{
    value.Bytes = kFormerValueBytes;
    LONG result = ReadTypedValue(root, key, name, value.Type, value.Data, value.Bytes);
    value.Present = result == ERROR_SUCCESS;
    if (!value.Present)
        value.Bytes = 0;
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

void WriteValue(const wchar_t* key, const wchar_t* name, const FormerValue& value)
{
    if (value.Present)
        WriteTypedValue(HKEY_LOCAL_MACHINE, key, name, value.Type, value.Data, value.Bytes);
}

const wchar_t* ListKey(RecordedList list)
{
    return list == RecordedList::Shortcuts ? kShortcutsKey : kGroupsKey;
}

}  // namespace

bool ReadFormerState(const wchar_t* ext, FormerState& state)
{
    wchar_t newFileKey[kKeyChars];
    if (FormatString(newFileKey, kKeyChars, L"%s\\ShellNew", ext) < 0)
        return false;
    state.Existed = KeyExists(HKEY_CLASSES_ROOT, ext);
    state.ShellNewExisted = KeyExists(HKEY_CLASSES_ROOT, newFileKey);
    return ReadValue(HKEY_CLASSES_ROOT, ext, L"", state.Default) &&
           ReadValue(HKEY_CLASSES_ROOT, newFileKey, L"FileName", state.FileName) &&
           ReadValue(HKEY_CLASSES_ROOT, newFileKey, L"NullFile", state.NullFile);
}

void RecordFormerState(const wchar_t* ext, const FormerState& state)
{
    wchar_t key[kKeyChars];
    if (!TypeRecordKey(ext, key))
        return;
    // The record of an earlier take-over goes whole: none of its values may
    // outlive it into this one.
    if (KeyExists(HKEY_LOCAL_MACHINE, key))
        DeleteKey(HKEY_LOCAL_MACHINE, key);
    WriteValue(key, L"Default", state.Default);
    WriteValue(key, L"FileName", state.FileName);
    WriteValue(key, L"NullFile", state.NullFile);
    WriteInt(HKEY_LOCAL_MACHINE, key, L"ShellNewExisted", state.ShellNewExisted ? 1 : 0);
    WriteInt(HKEY_LOCAL_MACHINE, key, L"Existed", state.Existed ? 1 : 0);
}

bool RecordedFormerState(const wchar_t* ext, FormerState& state)
{
    wchar_t key[kKeyChars];
    if (!TypeRecordKey(ext, key))
        return false;
    int32_t existed = ReadInt(HKEY_LOCAL_MACHINE, key, L"Existed", -1);
    if (existed != 0 && existed != 1)
        return false;
    state.Existed = existed == 1;
    // Without its mark the key is kept: it may have been there before.
    state.ShellNewExisted = ReadInt(HKEY_LOCAL_MACHINE, key, L"ShellNewExisted", 1) != 0;
    return ReadValue(HKEY_LOCAL_MACHINE, key, L"Default", state.Default) &&
           ReadValue(HKEY_LOCAL_MACHINE, key, L"FileName", state.FileName) &&
           ReadValue(HKEY_LOCAL_MACHINE, key, L"NullFile", state.NullFile);
}

bool FormerValueText(const FormerValue& value, wchar_t* dest, size_t capacity)
{
    if (capacity == 0)
        return false;
    dest[0] = 0;
    if (!value.Present)
        return false;
    size_t units = value.Bytes / sizeof(wchar_t);
    size_t copied = units < capacity ? units : capacity;
    wmemcpy(dest, reinterpret_cast<const wchar_t*>(value.Data), copied);
    if (copied < capacity)
        dest[copied] = 0;
    return TerminateRegistryText(dest, capacity, value.Type, static_cast<uint32_t>(value.Bytes));
}

bool SetFormerText(FormerValue& value, const wchar_t* text)
{
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    value.Present = bytes <= kFormerValueBytes;
    if (!value.Present)
        return false;
    value.Type = REG_SZ;
    value.Bytes = static_cast<DWORD>(bytes);
    memcpy(value.Data, text, bytes);
    return true;
}

void GiveBackFormerValue(const wchar_t* key, const wchar_t* valueName, const FormerValue& value)
{
    if (value.Present)
        WriteTypedValue(HKEY_CLASSES_ROOT, key, valueName, value.Type, value.Data, value.Bytes);
}

void RecordInstallFolder()
{
    wchar_t folder[kMaxPathChars];
    wchar_t program[kMaxPathChars];
    if (ProgramPath(program, kMaxPathChars) && FolderPart(program, folder, kMaxPathChars))
        WriteString(HKEY_LOCAL_MACHINE, kRecordKey, L"Folder", folder);
}

bool RecordedInstallFolder(wchar_t* dest, size_t capacity)
{
    return ReadString(HKEY_LOCAL_MACHINE, kRecordKey, L"Folder", dest, L"", static_cast<uint32_t>(capacity)) &&
           dest[0] != 0;
}

void RecordPath(RecordedList list, const wchar_t* path)
{
    const wchar_t* key = ListKey(list);
    for (unsigned n = 0; n < kMaxRecordedPaths; ++n) {
        wchar_t slot[kSlotNameChars];
        wchar_t recorded[kMaxPathChars];
        FormatString(slot, kSlotNameChars, L"%u", n);
        if (!RecordedPath(list, n, recorded, kMaxPathChars)) {
            WriteString(HKEY_LOCAL_MACHINE, key, slot, path);
            return;
        }
        if (CompareNoCase(recorded, path) == 0)
            return;
    }
}

bool RecordedPath(RecordedList list, unsigned n, wchar_t* dest, size_t capacity)
{
    wchar_t slot[kSlotNameChars];
    FormatString(slot, kSlotNameChars, L"%u", n);
    return ReadString(HKEY_LOCAL_MACHINE, ListKey(list), slot, dest, L"", static_cast<uint32_t>(capacity)) &&
           dest[0] != 0;
}

void RecordSettingsCopy(const wchar_t* path)
{
    wchar_t full[kMaxPathChars];
    DWORD length = GetFullPathNameW(path, kMaxPathChars, full, nullptr);
    if (length > 0 && length < kMaxPathChars)
        WriteString(HKEY_LOCAL_MACHINE, kRecordKey, L"SettingsCopy", full);
}

void RemoveRecordedSettingsCopy()
{
    wchar_t copy[kMaxPathChars];
    wchar_t program[kMaxPathChars];
    wchar_t folder[kMaxPathChars];
    wchar_t expected[kMaxPathChars];
    if (ReadString(HKEY_LOCAL_MACHINE, kRecordKey, L"SettingsCopy", copy, L"", kMaxPathChars) && copy[0] != 0 &&
        ProgramPath(program, kMaxPathChars) && FolderPart(program, folder, kMaxPathChars) &&
        FinalPathIn(folder, NamePart(copy), expected, kMaxPathChars))
        GateRemove(copy, {expected, nullptr});
}
