#include "tests/support/language_support.h"

#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"

namespace testsupport {

namespace {

const wchar_t kGeneralKey[] = L"Software\\Zorvex\\General";

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

std::wstring TestLanguageLibraryWithOldRichEdit()
{
    return BinDir() + L"\\tests\\langlib\\zvxlng-oldrichedit.dll";
}

bool SetLanguageFolderValue(DWORD type, const void* data, DWORD bytes)
{
    return SetRaw(HKEY_CURRENT_USER, kGeneralKey, L"LanguageFolder", type, data, bytes);
}

bool SetLanguageFolder(const std::wstring& folder, DWORD type)
{
    return SetLanguageFolderValue(type, folder.c_str(), static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
}

void ClearLanguageFolder()
{
    DeleteValue(HKEY_CURRENT_USER, kGeneralKey, L"LanguageFolder");
    DeleteKeyIfEmpty(HKEY_CURRENT_USER, kGeneralKey);
    DeleteKeyIfEmpty(HKEY_CURRENT_USER, L"Software\\Zorvex");
}

}  // namespace testsupport
