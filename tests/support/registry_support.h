// The registry as the tests see it: straight through Win32, never through the code
// under test. Values read and written, keys tested and deleted, whole trees
// exported, captured and put back, and single values set for one test and
// restored. view: 0 (the default view) or KEY_WOW64_32KEY.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

bool HasKey(HKEY root, const std::wstring& key, REGSAM view = 0);
bool HasValue(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view = 0);
// Deletes key and everything below it; true when it is gone (or was never there).
bool DeleteTree(HKEY root, const std::wstring& key, REGSAM view = 0);
// Deletes one value; a missing key or value is left as it is.
void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view = 0);
// Deletes key when it has neither values nor subkeys.
void DeleteKeyIfEmpty(HKEY root, const std::wstring& key, REGSAM view = 0);

// The key is created when missing. Strings are REG_SZ.
bool SetString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value,
               REGSAM view = 0);
bool SetDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value, REGSAM view = 0);
// A value of any type and size.
bool SetRaw(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type, const void* data, DWORD bytes,
            REGSAM view = 0);

// The REG_SZ value; false when it is missing or of another type.
bool GetString(HKEY root, const std::wstring& key, const std::wstring& name, std::wstring& value, REGSAM view = 0);
// The text of a REG_SZ value, "<missing>" or "<type N>": one comparison tells all three apart.
std::wstring StringOf(HKEY root, const std::wstring& key, const std::wstring& name = L"", REGSAM view = 0);
// The number of a REG_DWORD value; -1 when it is missing or not four bytes of REG_DWORD.
long long DwordOf(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view = 0);
// The value's type and bytes; false when it cannot be read.
bool GetRaw(HKEY root, const std::wstring& key, const std::wstring& name, DWORD& type, std::string& data,
            REGSAM view = 0);
// The names of a key's values, in the order the registry enumerates them.
std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& key, REGSAM view = 0);

// Every value under a key tree as sorted lines "path | name | type | data";
// a missing key gives no lines.
std::vector<std::wstring> ExportTree(HKEY root, const std::wstring& key, REGSAM view = 0);
// The registry the integration can touch: HKEY_LOCAL_MACHINE\Software (classes of
// both views included) and HKEY_CURRENT_USER\Software.
std::vector<std::wstring> ExportMachine();
// Lines only in before ("- ...") and only in after ("+ ...").
std::vector<std::wstring> Difference(const std::vector<std::wstring>& before, const std::vector<std::wstring>& after);

// The keys the product writes, captured once and put back exactly (deleted when
// they did not exist), so that every test starts from the same machine. The
// class keys of classIds are guarded in both registry views.
class RegistryGuard {
public:
    explicit RegistryGuard(const std::vector<std::wstring>& classIds);
    void Restore() const;

    struct SavedValue {
        std::wstring Name;
        DWORD Type;
        std::vector<BYTE> Data;
    };
    struct SavedKey {
        std::wstring Path;  // below the tree's root key, parents before children
        std::vector<SavedValue> Values;
    };
    struct SavedTree {
        HKEY Root;
        std::wstring Path;
        REGSAM View;
        std::vector<SavedKey> Keys;  // empty: the key did not exist
    };

private:
    std::vector<SavedTree> saved_;
};

// One registry value kept as it was and put back when the owner goes (or a
// missing value deleted again).
class RegistryValueGuard {
public:
    RegistryValueGuard(HKEY root, const std::wstring& key, const std::wstring& name);
    ~RegistryValueGuard();
    RegistryValueGuard(const RegistryValueGuard&) = delete;
    RegistryValueGuard& operator=(const RegistryValueGuard&) = delete;
    void Restore();

private:
    HKEY root_;
    std::wstring key_;
    std::wstring name_;
    bool existed_ = false;
    DWORD type_ = 0;
    std::vector<BYTE> data_;
};

// A string value set for a test and put back after: the old value, or no value,
// or no key at all when the key did not exist before.
class ScopedRegString {
public:
    ScopedRegString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& text);
    ~ScopedRegString();
    ScopedRegString(const ScopedRegString&) = delete;
    ScopedRegString& operator=(const ScopedRegString&) = delete;

private:
    HKEY root_;
    std::wstring key_;
    bool hadKey_;
    RegistryValueGuard value_;
};

}  // namespace testsupport
