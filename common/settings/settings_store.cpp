#include "common/settings/settings_store.h"

#include <cwchar>

#include "common/base/gate.h"
#include "common/base/scoped.h"
#include "common/base/strings.h"
#include "common/settings/setting_entries.h"
#include "common/settings/settings_file.h"

// Registry subkey paths and entry names have fixed room. One that does not fit is
// refused, never cut: a cut path could name another key, a cut name another entry.
static constexpr size_t kKeyPathChars = 512;
static constexpr size_t kEntryNameChars = 1024;

static REGSAM gViewBits = 0;

static bool ServedByFile(HKEY root, const wchar_t* keyPath)
{
    LoadSettingsFile();
    return SettingsFileLoaded() &&
           (root == nullptr || root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE) &&
           keyPath[0] != L'\\';
}

// Root prefix, key path, and the value name after a backslash: HKCU\Setup\Links\Name,
// or the key's prefix HKCU\Setup\Links\ for the empty name.
static bool MakeEntryName(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, wchar_t* name)
{
    const wchar_t* prefix = root == HKEY_CURRENT_USER    ? L"HKCU\\"
                            : root == HKEY_LOCAL_MACHINE ? L"HKLM\\"
                                                         : L"";
    if (!CopyString(name, prefix, kEntryNameChars) || !AppendString(name, keyPath, kEntryNameChars))
        return false;
    size_t length = wcslen(name);
    if (length > 0 && name[length - 1] != L'\\' && !AppendString(name, L"\\", kEntryNameChars))
        return false;
    return AppendString(name, valueName, kEntryNameChars);
}

// The subkey opened under the root. The null root never reaches the registry.
static LONG ComposeKeyPath(HKEY root, const wchar_t* keyPath, wchar_t* path)
{
    if (root == nullptr)
        return ERROR_INVALID_HANDLE;
    bool whole;
    if (root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE) {
        if (keyPath[0] == L'\\') {
            whole = CopyString(path, keyPath + 1, kKeyPathChars);
        } else {
            whole = CopyString(path, L"Software\\Zorvex", kKeyPathChars) &&
                    (keyPath[0] == 0 || (AppendString(path, L"\\", kKeyPathChars) &&
                                         AppendString(path, keyPath, kKeyPathChars)));
        }
    } else {
        whole = CopyString(path, keyPath, kKeyPathChars);
    }
    return whole ? ERROR_SUCCESS : ERROR_FILENAME_EXCED_RANGE;
}

static bool OpenKeyForRead(HKEY root, const wchar_t* path, ScopedRegKey& key)
{
    return RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | gViewBits, key.Receive()) ==
           ERROR_SUCCESS;
}

// The file's format has no escape: a line break would split the entry into lines
// of their own when the file is read again, which could forge entries.
static bool HasLineBreak(const wchar_t* text)
{
    return wcspbrk(text, L"\r\n") != nullptr;
}

static LONG SetRegistryValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, DWORD type,
                             const void* data, DWORD bytes)
{
    wchar_t path[kKeyPathChars];
    LONG result = ComposeKeyPath(root, keyPath, path);
    if (result != ERROR_SUCCESS)
        return result;
    return GateSetValue(root, gViewBits, path, valueName, type, data, bytes);
}

int32_t ReadInt(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, int32_t defaultValue)
{
    if (ServedByFile(root, keyPath)) {
        wchar_t name[kEntryNameChars];
        if (!MakeEntryName(root, keyPath, valueName, name))
            return defaultValue;
        const wchar_t* value = FindEntryValue(name);
        if (value == nullptr)
            return defaultValue;
        return static_cast<int32_t>(static_cast<uint32_t>(ParseInt(value)));
    }
    if (!IntegrationAllowed())
        return defaultValue;
    wchar_t path[kKeyPathChars];
    ScopedRegKey key;
    if (ComposeKeyPath(root, keyPath, path) != ERROR_SUCCESS || !OpenKeyForRead(root, path, key))
        return defaultValue;
    // Only a 32-bit number counts: text such as "0" must not read as its character codes.
    DWORD type = REG_NONE;
    uint32_t data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        size != sizeof data || (type != REG_DWORD && type != REG_BINARY))
        return defaultValue;
    return static_cast<int32_t>(data);
}

bool ReadString(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, wchar_t* buffer,
                const wchar_t* defaultText, uint32_t capacity)
{
    if (capacity == 0)
        return false;
    if (ServedByFile(root, keyPath)) {
        wchar_t name[kEntryNameChars];
        const wchar_t* value = MakeEntryName(root, keyPath, valueName, name) ? FindEntryValue(name) : nullptr;
        if (value == nullptr) {
            CopyString(buffer, defaultText, capacity);
            return true;
        }
        if (CopyString(buffer, value, capacity))
            return true;
        // Too long for the buffer: as from the registry, the default, never a cut value.
        CopyString(buffer, defaultText, capacity);
        return false;
    }
    CopyString(buffer, defaultText, capacity);
    if (!IntegrationAllowed())
        return true;
    wchar_t path[kKeyPathChars];
    ScopedRegKey key;
    if (ComposeKeyPath(root, keyPath, path) == ERROR_SUCCESS && OpenKeyForRead(root, path, key)) {
        DWORD bytes = capacity > MAXDWORD / sizeof(wchar_t) ? MAXDWORD / sizeof(wchar_t) * sizeof(wchar_t)
                                                            : capacity * static_cast<DWORD>(sizeof(wchar_t));
        // Text only in a text type: the bytes of a number or of binary data are no text.
        DWORD type = REG_NONE;
        if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) ==
                ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ)) {
            size_t units = bytes / sizeof(wchar_t);
            // Data that fills the buffer without a terminator of its own would have
            // to be cut to make room for one.
            if (units < capacity || buffer[capacity - 1] == 0) {
                buffer[units < capacity ? units : capacity - 1] = 0;
                return true;
            }
        }
    }
    CopyString(buffer, defaultText, capacity);
    return false;
}

LONG ReadTypedValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, DWORD& type, void* data,
                    DWORD& bytes)
{
    DWORD capacity = bytes;
    bytes = 0;
    type = REG_NONE;
    if (ServedByFile(root, keyPath))
        return ERROR_INVALID_FUNCTION;
    if (!IntegrationAllowed())
        return ERROR_FILE_NOT_FOUND;
    wchar_t path[kKeyPathChars];
    LONG result = ComposeKeyPath(root, keyPath, path);
    ScopedRegKey key;
    if (result == ERROR_SUCCESS)
        result = RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | gViewBits, key.Receive());
    if (result != ERROR_SUCCESS)
        return result;
    DWORD size = capacity;
    result = RegQueryValueExW(key.Get(), valueName, nullptr, &type, static_cast<BYTE*>(data), &size);
    if (result == ERROR_SUCCESS)
        bytes = size;
    return result;
}

LONG WriteTypedValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, DWORD type, const void* data,
                     DWORD bytes)
{
    if (ServedByFile(root, keyPath))
        return ERROR_INVALID_FUNCTION;
    if (!IntegrationAllowed())
        return ERROR_SUCCESS;
    return SetRegistryValue(root, keyPath, valueName, type, data, bytes);
}

LONG WriteInt(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, uint32_t value)
{
    if (ServedByFile(root, keyPath)) {
        wchar_t name[kEntryNameChars];
        if (!MakeEntryName(root, keyPath, valueName, name))
            return ERROR_FILENAME_EXCED_RANGE;
        if (HasLineBreak(name))
            return ERROR_INVALID_DATA;
        wchar_t digits[24];
        FormatInt(static_cast<int64_t>(static_cast<uint64_t>(value)), digits, 24);
        SetEntry(name, digits, EntryKind::Plain);
        return ERROR_SUCCESS;
    }
    if (!IntegrationAllowed())
        return ERROR_SUCCESS;
    return SetRegistryValue(root, keyPath, valueName, REG_DWORD, &value, sizeof value);
}

LONG WriteString(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, const wchar_t* text)
{
    if (ServedByFile(root, keyPath)) {
        wchar_t name[kEntryNameChars];
        if (!MakeEntryName(root, keyPath, valueName, name))
            return ERROR_FILENAME_EXCED_RANGE;
        if (HasLineBreak(name) || HasLineBreak(text))
            return ERROR_INVALID_DATA;
        SetEntry(name, text, EntryKind::Quoted);
        return ERROR_SUCCESS;
    }
    if (!IntegrationAllowed())
        return ERROR_SUCCESS;
    size_t length = wcslen(text);
    if (length >= MAXDWORD / sizeof(wchar_t))
        return ERROR_INVALID_DATA;
    return SetRegistryValue(root, keyPath, valueName, REG_SZ, text, static_cast<DWORD>((length + 1) * sizeof(wchar_t)));
}

void DeleteValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName)
{
    if (ServedByFile(root, keyPath)) {
        wchar_t name[kEntryNameChars];
        if (MakeEntryName(root, keyPath, valueName, name))
            RemoveEntries(name, false);
        return;
    }
    if (!IntegrationAllowed())
        return;
    wchar_t path[kKeyPathChars];
    if (ComposeKeyPath(root, keyPath, path) == ERROR_SUCCESS)
        GateDeleteValue(root, 0, path, valueName);
}

// In the file a key is every entry under its prefix, so a key goes with all below it.
static bool RemoveFileKey(HKEY root, const wchar_t* keyPath)
{
    if (!ServedByFile(root, keyPath))
        return false;
    wchar_t prefix[kEntryNameChars];
    if (MakeEntryName(root, keyPath, L"", prefix))
        RemoveEntries(prefix, true);
    return true;
}

void DeleteKey(HKEY root, const wchar_t* keyPath)
{
    if (RemoveFileKey(root, keyPath) || !IntegrationAllowed())
        return;
    wchar_t path[kKeyPathChars];
    if (ComposeKeyPath(root, keyPath, path) == ERROR_SUCCESS && path[0] != 0)
        GateDeleteKey(root, 0, path);  // fails, as meant, while the key has subkeys
}

void DeleteKeyTree(HKEY root, const wchar_t* keyPath)
{
    if (RemoveFileKey(root, keyPath) || !IntegrationAllowed())
        return;
    wchar_t path[kKeyPathChars];
    if (ComposeKeyPath(root, keyPath, path) == ERROR_SUCCESS)
        GateDeleteKeyTree(root, 0, path);
}

bool KeyExists(HKEY root, const wchar_t* keyPath)
{
    if (ServedByFile(root, keyPath)) {
        wchar_t prefix[kEntryNameChars];
        return MakeEntryName(root, keyPath, L"", prefix) && AnyEntryWithPrefix(prefix);
    }
    if (!IntegrationAllowed())
        return false;
    wchar_t path[kKeyPathChars];
    ScopedRegKey key;
    return ComposeKeyPath(root, keyPath, path) == ERROR_SUCCESS &&
           RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, key.Receive()) == ERROR_SUCCESS;
}

int32_t ReadUserInt(const wchar_t* keyPath, const wchar_t* valueName, int32_t defaultValue)
{
    return ReadInt(HKEY_CURRENT_USER, keyPath, valueName, defaultValue);
}

bool ReadUserString(const wchar_t* keyPath, const wchar_t* valueName, wchar_t* buffer, const wchar_t* defaultText,
                    uint32_t capacity)
{
    return ReadString(HKEY_CURRENT_USER, keyPath, valueName, buffer, defaultText, capacity);
}

LONG WriteUserInt(const wchar_t* keyPath, const wchar_t* valueName, uint32_t value)
{
    return WriteInt(HKEY_CURRENT_USER, keyPath, valueName, value);
}

LONG WriteUserString(const wchar_t* keyPath, const wchar_t* valueName, const wchar_t* text)
{
    return WriteString(HKEY_CURRENT_USER, keyPath, valueName, text);
}

void DeleteUserValue(const wchar_t* keyPath, const wchar_t* valueName)
{
    DeleteValue(HKEY_CURRENT_USER, keyPath, valueName);
}

void SetRegistryView(REGSAM viewBits)
{
    gViewBits = viewBits;
}
