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

}  // namespace testsupport
