#include "tests/support/settings_support.h"

#include <shlobj.h>

#include "tests/support/test_support.h"

#include <vector>

namespace testsupport {

std::wstring SettingsFileBesideProgram()
{
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + L"Zorvex.ini";
}

std::wstring AppDataSettingsFolder()
{
    wchar_t path[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)))
        return L"";
    return std::wstring(path) + L"\\Zorvex";
}

AppDataSettingsFile::AppDataSettingsFile()
    : folder_(AppDataSettingsFolder()), path_(folder_ + L"\\Zorvex.ini"),
      madeFolder_(CreateDirectoryW(folder_.c_str(), nullptr) != FALSE)
{
    Clean();
}

AppDataSettingsFile::~AppDataSettingsFile()
{
    Clean();
    if (madeFolder_)
        RemoveTree(folder_);
}

void AppDataSettingsFile::Clean()
{
    for (const std::wstring& file : {path_, SettingsFileBesideProgram()}) {
        SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveTree(file);
        RemoveTree(file + L".tmp");
    }
}

std::string Utf16LeFile(const std::wstring& text)
{
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

std::string Utf16BeFile(const std::wstring& text)
{
    std::string bytes = "\xFE\xFF";
    for (wchar_t c : text) {
        bytes += static_cast<char>(c >> 8);
        bytes += static_cast<char>(c & 0xFF);
    }
    return bytes;
}

std::string Utf8Bytes(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
    return bytes;
}

bool RegKeyExists(HKEY root, const std::wstring& path, REGSAM view)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool RegDeleteTreeIn(HKEY root, const std::wstring& path, REGSAM view)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
        RegDeleteTreeW(key, nullptr);
        RegCloseKey(key);
        RegDeleteKeyExW(root, path.c_str(), view, 0);
    }
    return !RegKeyExists(root, path, view);
}

bool RegSetRaw(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
               DWORD bytes, REGSAM view)
{
    HKEY key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool RegGetRaw(HKEY root, const std::wstring& path, const wchar_t* name, DWORD& type, std::string& data,
               REGSAM view)
{
    data.clear();
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return false;
    DWORD bytes = 0;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes);
    if (rc == ERROR_SUCCESS) {
        std::vector<char> buffer(bytes + 1);
        rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
        data.assign(buffer.data(), bytes);
    }
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

}  // namespace testsupport
