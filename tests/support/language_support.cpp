#include "tests/support/language_support.h"

#include "tests/support/test_support.h"

namespace testsupport {

namespace {

const wchar_t kGeneralKey[] = L"Software\\Zorvex\\General";

void DeleteKeyIfEmpty(const wchar_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 0;
    DWORD values = 0;
    LONG status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                   nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    if (status == ERROR_SUCCESS && subkeys == 0 && values == 0)
        RegDeleteKeyW(HKEY_CURRENT_USER, path);
}

}  // namespace

std::string LanguageFileBytes(const std::wstring& text, bool utf16)
{
    if (utf16) {
        std::string bytes("\xFF\xFE", 2);
        bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
        return bytes;
    }
    if (text.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
    return bytes;
}

bool WriteLanguageFile(const std::wstring& path, const std::wstring& text, bool utf16)
{
    return WriteBytes(path, LanguageFileBytes(text, utf16));
}

std::wstring TestLanguageLibrary(bool rightToLeft)
{
    return BinDir() + (rightToLeft ? L"\\tests\\langlib\\zvxlng-rtl.dll" : L"\\tests\\langlib\\zvxlng-ltr.dll");
}

std::wstring TestLanguageLibraryWithDialog()
{
    return BinDir() + L"\\tests\\langlib\\zvxlng-dialogs.dll";
}

bool SetLanguageFolderValue(DWORD type, const void* data, DWORD bytes)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kGeneralKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExW(key, L"LanguageFolder", 0, type, static_cast<const BYTE*>(data), bytes);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool SetLanguageFolder(const std::wstring& folder, DWORD type)
{
    return SetLanguageFolderValue(type, folder.c_str(), static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
}

void ClearLanguageFolder()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kGeneralKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, L"LanguageFolder");
        RegCloseKey(key);
    }
    DeleteKeyIfEmpty(kGeneralKey);
    DeleteKeyIfEmpty(L"Software\\Zorvex");
}

}  // namespace testsupport
