#include "tests/support/registry_support.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <utility>

namespace testsupport {

namespace {

std::wstring Hex(const BYTE* data, size_t size)
{
    std::wstring text;
    wchar_t pair[4];
    for (size_t i = 0; i < size; ++i) {
        swprintf(pair, 4, L"%02x", data[i]);
        text += pair;
    }
    return text;
}

std::wstring DataText(DWORD type, const std::vector<BYTE>& data)
{
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && data.size() % 2 == 0) {
        std::wstring text;
        // NULs (the terminator among them) show as \0, so that the lines stay printable.
        for (size_t i = 0; i + 1 < data.size(); i += 2) {
            wchar_t c = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
            text += c == 0 ? std::wstring(L"\\0") : std::wstring(1, c);
        }
        return L"\"" + text + L"\"";
    }
    if (type == REG_DWORD && data.size() == 4) {
        DWORD value;
        memcpy(&value, data.data(), 4);
        return std::to_wstring(value);
    }
    return Hex(data.data(), data.size());
}

// Every value of one open key, in enumeration order.
std::vector<RegistryGuard::SavedValue> ReadValues(HKEY key)
{
    std::vector<RegistryGuard::SavedValue> values;
    DWORD maxName = 0, maxData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return values;
    std::vector<wchar_t> name(maxName + 2);
    std::vector<BYTE> data(maxData + 2);
    for (DWORD i = 0;; ++i) {
        DWORD nameChars = static_cast<DWORD>(name.size());
        DWORD dataBytes = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LONG r = RegEnumValueW(key, i, name.data(), &nameChars, nullptr, &type, data.data(), &dataBytes);
        if (r != ERROR_SUCCESS)
            break;
        values.push_back({std::wstring(name.data(), nameChars), type,
                          std::vector<BYTE>(data.begin(), data.begin() + dataBytes)});
    }
    return values;
}

std::vector<std::wstring> SubkeyNames(HKEY key)
{
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD chars = 256;
        if (RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, chars);
    }
    return names;
}

void CaptureKeys(HKEY root, const std::wstring& path, const std::wstring& relative, REGSAM view,
                 std::vector<RegistryGuard::SavedKey>& keys)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return;
    keys.push_back({relative, ReadValues(key)});
    std::vector<std::wstring> names = SubkeyNames(key);
    RegCloseKey(key);
    for (const std::wstring& name : names)
        CaptureKeys(root, path + L"\\" + name, relative.empty() ? name : relative + L"\\" + name, view, keys);
}

void ExportKey(HKEY root, const std::wstring& path, const std::wstring& shownPath, REGSAM view,
               std::vector<std::wstring>& lines)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return;
    lines.push_back(shownPath + L" |");  // the key itself, so that empty keys count too
    for (const RegistryGuard::SavedValue& value : ReadValues(key))
        lines.push_back(shownPath + L" | " + value.Name + L" | " + std::to_wstring(value.Type) + L" | " +
                        DataText(value.Type, value.Data));
    std::vector<std::wstring> names = SubkeyNames(key);
    RegCloseKey(key);
    for (const std::wstring& name : names)
        ExportKey(root, path + L"\\" + name, shownPath + L"\\" + name, view, lines);
}

std::wstring RootName(HKEY root)
{
    if (root == HKEY_CLASSES_ROOT)
        return L"HKCR";
    if (root == HKEY_CURRENT_USER)
        return L"HKCU";
    return L"HKLM";
}

}  // namespace

bool HasKey(HKEY root, const std::wstring& key, REGSAM view)
{
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

bool HasValue(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view)
{
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &h) != ERROR_SUCCESS)
        return false;
    LONG r = RegQueryValueExW(h, name.c_str(), nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(h);
    return r == ERROR_SUCCESS;
}

bool DeleteTree(HKEY root, const std::wstring& key, REGSAM view)
{
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_ALL_ACCESS | view, &h) == ERROR_SUCCESS) {
        RegDeleteTreeW(h, nullptr);
        RegCloseKey(h);
        RegDeleteKeyExW(root, key.c_str(), view, 0);
    }
    return !HasKey(root, key, view);
}

void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view)
{
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE | view, &h) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(h, name.c_str());
    RegCloseKey(h);
}

void DeleteKeyIfEmpty(HKEY root, const std::wstring& key, REGSAM view)
{
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &h) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 0;
    DWORD values = 0;
    LONG r = RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                              nullptr, nullptr);
    RegCloseKey(h);
    if (r == ERROR_SUCCESS && subkeys == 0 && values == 0)
        RegDeleteKeyExW(root, key.c_str(), view, 0);
}

bool SetRaw(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type, const void* data, DWORD bytes,
            REGSAM view)
{
    HKEY h;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &h, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExW(h, name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes);
    RegCloseKey(h);
    return r == ERROR_SUCCESS;
}

bool SetString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value, REGSAM view)
{
    return SetRaw(root, key, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)),
                  view);
}

bool SetDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value, REGSAM view)
{
    return SetRaw(root, key, name, REG_DWORD, &value, sizeof value, view);
}

bool GetRaw(HKEY root, const std::wstring& key, const std::wstring& name, DWORD& type, std::string& data,
            REGSAM view)
{
    data.clear();
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &h) != ERROR_SUCCESS)
        return false;
    DWORD bytes = 0;
    LONG r = RegQueryValueExW(h, name.c_str(), nullptr, &type, nullptr, &bytes);
    if (r == ERROR_SUCCESS) {
        std::vector<char> buffer(bytes + 1);
        r = RegQueryValueExW(h, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
        data.assign(buffer.data(), bytes);
    }
    RegCloseKey(h);
    return r == ERROR_SUCCESS;
}

bool GetString(HKEY root, const std::wstring& key, const std::wstring& name, std::wstring& value, REGSAM view)
{
    DWORD type = 0;
    std::string data;
    if (!GetRaw(root, key, name, type, data, view) || type != REG_SZ)
        return false;
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty())
        memcpy(&text[0], data.data(), text.size() * sizeof(wchar_t));
    // Up to the terminator, when the value has one.
    value = text.substr(0, text.find(L'\0'));
    return true;
}

std::wstring StringOf(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view)
{
    DWORD type = 0;
    std::string data;
    if (!GetRaw(root, key, name, type, data, view))
        return L"<missing>";
    std::wstring value;
    if (type != REG_SZ || !GetString(root, key, name, value, view))
        return L"<type " + std::to_wstring(type) + L">";
    return value;
}

long long DwordOf(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view)
{
    DWORD type = 0;
    std::string data;
    if (!GetRaw(root, key, name, type, data, view) || type != REG_DWORD || data.size() != 4)
        return -1;
    DWORD value;
    memcpy(&value, data.data(), 4);
    return value;
}

std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& key, REGSAM view)
{
    std::vector<std::wstring> names;
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &h) != ERROR_SUCCESS)
        return names;
    for (const RegistryGuard::SavedValue& value : ReadValues(h))
        names.push_back(value.Name);
    RegCloseKey(h);
    return names;
}

std::vector<std::wstring> ExportTree(HKEY root, const std::wstring& key, REGSAM view)
{
    std::vector<std::wstring> lines;
    std::wstring shown = RootName(root) + (view == KEY_WOW64_32KEY ? L"(32)\\" : L"\\") + key;
    ExportKey(root, key, shown, view, lines);
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::wstring> ExportMachine()
{
    std::vector<std::wstring> lines = ExportTree(HKEY_LOCAL_MACHINE, L"Software");
    std::vector<std::wstring> user = ExportTree(HKEY_CURRENT_USER, L"Software");
    lines.insert(lines.end(), user.begin(), user.end());
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::wstring> Difference(const std::vector<std::wstring>& before, const std::vector<std::wstring>& after)
{
    std::vector<std::wstring> gone, added, result;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(gone));
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    for (const std::wstring& line : gone)
        result.push_back(L"- " + line);
    for (const std::wstring& line : added)
        result.push_back(L"+ " + line);
    return result;
}

RegistryGuard::RegistryGuard(const std::vector<std::wstring>& classIds)
{
    std::vector<std::pair<HKEY, std::wstring>> keys;
    const wchar_t* const classes[] = {
        L".zvx", L".zip", L".cab", L".arj", L".lz", L".tlz", L".lzh", L".lha", L".7z", L".tar",
        L".gz", L".tgz", L".uue", L".xxe", L".uu", L".bz2", L".tbz2", L".bz", L".tbz", L".jar",
        L".iso", L".z", L".taz", L".xz", L".txz", L".zipx", L".zst", L".tzst", L".001", L".rev",
        L".ace", L"Zorvex", L"Zorvex.ZIP", L"Zorvex.REV", L"exefile\\shellex", L"Folder\\shellex",
        L"Drive\\shellex", L"*\\shellex", L"lnkfile\\shellex",
    };
    for (const wchar_t* name : classes)
        keys.emplace_back(HKEY_CLASSES_ROOT, name);
    for (int n = 0; n < 100; ++n) {
        wchar_t volume[8];
        swprintf(volume, 8, L".r%02d", n);
        keys.emplace_back(HKEY_CLASSES_ROOT, volume);
    }
    keys.emplace_back(HKEY_LOCAL_MACHINE, L"Software\\Zorvex");
    keys.emplace_back(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications");
    keys.emplace_back(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved");
    keys.emplace_back(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zorvex archiver");
    keys.emplace_back(HKEY_CURRENT_USER, L"Software\\Zorvex");
    for (const auto& key : keys)
        saved_.push_back({key.first, key.second, 0, {}});
    // Keys the product writes in both views.
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_32KEY)}) {
        for (const std::wstring& classId : classIds)
            saved_.push_back({HKEY_CLASSES_ROOT, L"CLSID\\" + classId, view, {}});
        saved_.push_back(
            {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Zorvex.exe", view, {}});
    }
    for (SavedTree& tree : saved_)
        CaptureKeys(tree.Root, tree.Path, L"", tree.View, tree.Keys);
}

void RegistryGuard::Restore() const
{
    for (const SavedTree& tree : saved_) {
        DeleteTree(tree.Root, tree.Path, tree.View);
        for (const SavedKey& saved : tree.Keys) {
            std::wstring path = saved.Path.empty() ? tree.Path : tree.Path + L"\\" + saved.Path;
            HKEY h;
            if (RegCreateKeyExW(tree.Root, path.c_str(), 0, nullptr, 0, KEY_WRITE | tree.View, nullptr, &h,
                                nullptr) != ERROR_SUCCESS)
                continue;
            for (const SavedValue& value : saved.Values)
                RegSetValueExW(h, value.Name.c_str(), 0, value.Type, value.Data.data(),
                               static_cast<DWORD>(value.Data.size()));
            RegCloseKey(h);
        }
    }
}

RegistryValueGuard::RegistryValueGuard(HKEY root, const std::wstring& key, const std::wstring& name)
    : root_(root), key_(key), name_(name)
{
    std::string data;
    existed_ = GetRaw(root_, key_, name_, type_, data);
    data_.assign(data.begin(), data.end());
}

RegistryValueGuard::~RegistryValueGuard()
{
    Restore();
}

void RegistryValueGuard::Restore()
{
    if (existed_) {
        SetRaw(root_, key_, name_, type_, data_.data(), static_cast<DWORD>(data_.size()));
        return;
    }
    // A value that was not there goes again; a key that is not there stays away.
    DeleteValue(root_, key_, name_);
}

ScopedRegString::ScopedRegString(HKEY root, const std::wstring& key, const std::wstring& name,
                                 const std::wstring& text)
    : root_(root), key_(key), hadKey_(HasKey(root, key)), value_(root, key, name)
{
    SetString(root_, key_, name, text);
}

ScopedRegString::~ScopedRegString()
{
    // Before the value's guard runs: a key made for the test goes whole, and the
    // guard then finds nothing to put back.
    if (!hadKey_)
        DeleteTree(root_, key_);
}

}  // namespace testsupport
