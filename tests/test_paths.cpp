#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "common/base/paths.h"
#include "common/base/settings_folder.h"
#include "common/base/strings.h"
#include "tests/support/base_support.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::CurrentDirectoryGuard;

std::wstring Folder(const wchar_t* path)
{
    wchar_t buf[kMaxPathChars];
    EXPECT_TRUE(FolderPart(path, buf, kMaxPathChars));
    return buf;
}

std::wstring Stripped(const wchar_t* path)
{
    wchar_t buf[kMaxPathChars];
    CopyString(buf, path, kMaxPathChars);
    StripNamePart(buf);
    return buf;
}

std::wstring Joined(const wchar_t* folder, const wchar_t* name)
{
    wchar_t buf[kMaxPathChars];
    EXPECT_TRUE(JoinPath(folder, name, buf, kMaxPathChars));
    return buf;
}

TEST(PathSplitting, NamePartAndRootsOfEveryForm)
{
    EXPECT_STREQ(L"", NamePart(L"C:"));
    EXPECT_STREQ(L"file", NamePart(L"C:file"));
    EXPECT_STREQ(L"file", NamePart(L"dir/file"));
    EXPECT_STREQ(L"file", NamePart(L"C:\\dir/sub\\file"));
    EXPECT_STREQ(L"share", NamePart(L"\\\\srv\\share"));
    EXPECT_STREQ(L"a.txt", NamePart(L"\\\\?\\C:\\dir\\a.txt"));
    EXPECT_STREQ(L"plain", NamePart(L"plain"));

    EXPECT_EQ(L"C:\\", Stripped(L"C:\\"));
    EXPECT_EQ(L"C:\\", Stripped(L"C:\\file"));
    EXPECT_EQ(L"C:/", Stripped(L"C:/file"));
    EXPECT_EQ(L"C:", Stripped(L"C:file"));
    EXPECT_EQ(L"\\", Stripped(L"\\file"));
    EXPECT_EQ(L"", Stripped(L"file"));
    EXPECT_EQ(L"C:\\dir", Stripped(L"C:\\dir\\file"));
    EXPECT_EQ(L"C:\\dir", Stripped(L"C:\\dir\\"));
    EXPECT_EQ(L"dir", Stripped(L"dir\\file"));
    EXPECT_EQ(L"dir", Stripped(L"dir/file"));
    EXPECT_EQ(L"\\\\srv\\share", Stripped(L"\\\\srv\\share\\file"));
    EXPECT_EQ(L"\\\\?\\C:\\dir", Stripped(L"\\\\?\\C:\\dir\\file"));

    EXPECT_EQ(L"C:\\dir\\", Folder(L"C:\\dir\\file"));
    EXPECT_EQ(L"C:", Folder(L"C:file"));
    EXPECT_EQ(L"dir/", Folder(L"dir/file"));
    EXPECT_EQ(L"", Folder(L"file"));
    EXPECT_EQ(L"\\\\srv\\share\\", Folder(L"\\\\srv\\share\\file"));

    wchar_t cut[5];
    EXPECT_FALSE(FolderPart(L"C:\\dir\\file", cut, 5));
    EXPECT_STREQ(L"C:\\d", cut);
}

TEST(PathSplitting, ReplaceNamePartStaysWithinTheCapacity)
{
    wchar_t buf[13] = L"C:\\d\\old";
    EXPECT_TRUE(ReplaceNamePart(buf, L"new.txt", 13));
    EXPECT_STREQ(L"C:\\d\\new.txt", buf);
    wmemset(buf, L'#', 12);
    CopyString(buf, L"C:\\d\\x", 12);
    EXPECT_FALSE(ReplaceNamePart(buf, L"much-longer", 10));
    EXPECT_STREQ(L"C:\\d\\much", buf);
    EXPECT_EQ(L'#', buf[10]);
    wchar_t drive[8] = L"C:";
    EXPECT_TRUE(ReplaceNamePart(drive, L"x", 8));
    EXPECT_STREQ(L"C:x", drive);
}

TEST(PathJoining, SeparatorsDrivesAndLimits)
{
    wchar_t buf[8] = L"";
    EXPECT_EQ(0u, AppendSeparator(buf, 8));
    EXPECT_STREQ(L"", buf);
    CopyString(buf, L"dir/", 8);
    EXPECT_EQ(4u, AppendSeparator(buf, 8));
    EXPECT_STREQ(L"dir/\\", buf);
    CopyString(buf, L"dir\\", 8);
    AppendSeparator(buf, 8);
    EXPECT_STREQ(L"dir\\", buf);
    CopyString(buf, L"abc", 8);
    EXPECT_EQ(3u, AppendSeparator(buf, 4));  // length + 1 equals the capacity
    EXPECT_STREQ(L"abc", buf);
    AppendSeparator(buf, 5);
    EXPECT_STREQ(L"abc\\", buf);

    EXPECT_EQ(L"C:x", Joined(L"C:", L"x"));
    EXPECT_EQ(L"C:\\x", Joined(L"C:\\", L"x"));
    EXPECT_EQ(L"c:\\dir\\x", Joined(L"c:\\dir", L"x"));
    EXPECT_EQ(L"C:/dir/\\x", Joined(L"C:/dir/", L"x"));
    EXPECT_EQ(L"\\\\srv\\share\\x", Joined(L"\\\\srv\\share", L"x"));
    EXPECT_EQ(L"x", Joined(L"", L"x"));
    EXPECT_EQ(L"1:\\x", Joined(L"1:", L"x"));  // not a drive letter

    wchar_t same[kMaxPathChars] = L"C:\\dir";
    EXPECT_TRUE(JoinPath(same, L"name", same, kMaxPathChars));
    EXPECT_STREQ(L"C:\\dir\\name", same);

    wchar_t small[8];
    EXPECT_FALSE(JoinPath(L"C:\\dir", L"name", small, 8));
    EXPECT_STREQ(L"C:\\dir\\", small);

    // A folder that fills the work buffer leaves no room for the separator: the
    // name must not be glued onto the folder's last component.
    std::wstring full = L"C:\\" + std::wstring(kMaxPathChars - 4, L'a');
    wchar_t out[kMaxPathChars * 2];
    EXPECT_FALSE(JoinPath(full.c_str(), L"x", out, kMaxPathChars * 2));
}

TEST(PathTests, DrivesAbsolutesAndWildcards)
{
    EXPECT_TRUE(HasDriveLetter(L"c:"));
    EXPECT_TRUE(HasDriveLetter(L"Z:\\"));
    EXPECT_FALSE(HasDriveLetter(L"1:"));
    EXPECT_FALSE(HasDriveLetter(L"\\\\?\\C:\\"));
    EXPECT_FALSE(HasDriveLetter(L""));

    EXPECT_TRUE(IsAbsolutePath(L"C:\\a"));
    EXPECT_TRUE(IsAbsolutePath(L"C:/a"));
    EXPECT_TRUE(IsAbsolutePath(L"\\\\srv\\share"));
    EXPECT_TRUE(IsAbsolutePath(L"\\\\?\\C:\\a"));
    EXPECT_FALSE(IsAbsolutePath(L"C:a"));
    EXPECT_FALSE(IsAbsolutePath(L"\\a"));
    EXPECT_FALSE(IsAbsolutePath(L"a\\b"));

    EXPECT_FALSE(HasWildcards(nullptr));
    EXPECT_FALSE(HasWildcards(L"\\\\?\\C:\\a"));
    EXPECT_TRUE(HasWildcards(L"\\\\?\\C:\\a?"));
    EXPECT_TRUE(HasWildcards(L"\\\\?\\C:\\*"));
    EXPECT_TRUE(HasWildcards(L"C:\\dir\\*.txt"));
    EXPECT_TRUE(HasWildcards(L"?"));
    EXPECT_FALSE(HasWildcards(L"C:\\dir\\a.txt"));
}

std::wstring Extended(const wchar_t* source, size_t capacity = kMaxPathChars)
{
    wchar_t buf[kMaxPathChars];
    if (!ToExtendedLengthPath(source, buf, capacity))
        return L"<false>";
    return buf;
}

TEST(ExtendedLength, AbsoluteFormsAndCapacityLimits)
{
    EXPECT_EQ(L"\\\\?\\C:\\a", Extended(L"C:\\a"));
    EXPECT_EQ(L"\\\\?\\C:\\dir\\a", Extended(L"C:/dir/a"));  // the extended form is not parsed
    EXPECT_EQ(L"\\\\?\\UNC\\srv\\share\\a", Extended(L"\\\\srv\\share\\a"));
    EXPECT_EQ(L"<false>", Extended(L""));
    // Already extended, or a device: prefixing again would name a server "?" or ".".
    EXPECT_EQ(L"<false>", Extended(L"\\\\?\\C:\\a"));
    EXPECT_EQ(L"<false>", Extended(L"\\\\.\\pipe\\x"));
    // Drive-relative: appended to our folder it would name a stream of a file "C".
    EXPECT_EQ(L"<false>", Extended(L"C:a"));

    const wchar_t* drive = L"C:\\dir\\file.txt";
    size_t n = wcslen(drive);
    EXPECT_EQ(L"<false>", Extended(drive, n + 4));
    EXPECT_EQ(L"\\\\?\\C:\\dir\\file.txt", Extended(drive, n + 5));

    const wchar_t* unc = L"\\\\srv\\share\\a";
    n = wcslen(unc);
    EXPECT_EQ(L"<false>", Extended(unc, n + 6));
    EXPECT_EQ(L"\\\\?\\UNC\\srv\\share\\a", Extended(unc, n + 7));

    // Nothing is written past the capacity even when it fails.
    wchar_t guard[12];
    wmemset(guard, L'#', 12);
    EXPECT_FALSE(ToExtendedLengthPath(L"C:\\abcdef", guard, 10));
    EXPECT_EQ(L'#', guard[10]);
    EXPECT_EQ(L'#', guard[11]);
}

TEST(ExtendedLength, RelativeFormsUseTheCurrentDirectory)
{
    CurrentDirectoryGuard keep;
    std::wstring work = testsupport::MakeScratchFolder(L"paths-cwd");
    ASSERT_TRUE(SetCurrentDirectoryW(work.c_str()));

    EXPECT_EQ(L"\\\\?\\" + work + L"\\a", Extended(L".\\a"));
    EXPECT_EQ(L"\\\\?\\" + work + L"\\a", Extended(L"./a"));
    EXPECT_EQ(L"\\\\?\\C:\\a", Extended(L"\\a"));
    EXPECT_EQ(L"\\\\?\\C:\\a\\b", Extended(L"/a/b"));
    EXPECT_EQ(L"\\\\?\\" + work + L"\\..\\a", Extended(L"..\\a"));
    EXPECT_EQ(L"\\\\?\\" + work + L"\\.x", Extended(L".x"));
    EXPECT_EQ(L"\\\\?\\" + work + L"\\sub\\a", Extended(L"sub\\a"));

    // Rooted: capacity > n + 6.
    EXPECT_EQ(L"<false>", Extended(L"\\abc", 4 + 6));
    EXPECT_EQ(L"\\\\?\\C:\\abc", Extended(L"\\abc", 4 + 7));
    // Relative: capacity > n + length of the folder with its separator + 4.
    size_t folder = work.size() + 1;
    EXPECT_EQ(L"<false>", Extended(L"abc", 3 + folder + 4));
    EXPECT_EQ(L"\\\\?\\" + work + L"\\abc", Extended(L"abc", 3 + folder + 5));

    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\"));
    EXPECT_EQ(L"\\\\?\\C:\\a", Extended(L".\\a"));  // the root already ends in a separator
    testsupport::RemoveTree(work);
}

// HKCU\Software\Zorvex\Paths holds the one value these tests set; the key is
// removed before and after each, and Software\Zorvex too when the test made it.
class SettingsFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        HKEY key;
        zorvexExisted_ = RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Zorvex", 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (zorvexExisted_)
            RegCloseKey(key);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Zorvex\\Paths");

        wchar_t appData[MAX_PATH];
        ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData));
        appDataZorvex_ = std::wstring(appData) + L"\\Zorvex";
        appDataZorvexExisted_ = testsupport::Exists(appDataZorvex_);

        wchar_t module[MAX_PATH * 4];
        DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH * 4);
        ASSERT_TRUE(length > 0 && length < MAX_PATH * 4);
        programFolder_ = module;
        programFolder_.erase(programFolder_.find_last_of(L'\\'));

        scratch_ = testsupport::MakeScratchFolder(L"settings-folder");
    }

    void TearDown() override
    {
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Zorvex\\Paths");
        if (!zorvexExisted_)
            RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Zorvex");
        if (!appDataZorvexExisted_)
            RemoveDirectoryW(appDataZorvex_.c_str());
        testsupport::RemoveTree(scratch_);
    }

    void SetValue(DWORD type, const void* data, DWORD bytes)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Zorvex\\Paths", 0, nullptr, 0,
                                                 KEY_SET_VALUE, nullptr, &key, nullptr));
        LONG status = RegSetValueExW(key, L"AppData", 0, type, static_cast<const BYTE*>(data), bytes);
        RegCloseKey(key);
        ASSERT_EQ(ERROR_SUCCESS, status);
    }

    void SetText(const std::wstring& text, bool withTerminator = true)
    {
        SetValue(REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + (withTerminator ? 1 : 0)) * 2));
    }

    // Where the settings live when the registry value does not count.
    std::wstring Fallback() const
    {
        return testsupport::Exists(appDataZorvex_) ? appDataZorvex_ : programFolder_;
    }

    std::wstring Locate(size_t capacity = kMaxPathChars, bool create = false)
    {
        wchar_t buf[kMaxPathChars + 8];
        wmemset(buf, L'#', kMaxPathChars + 8);
        LocateSettingsFolder(buf, capacity, create);
        EXPECT_EQ(L'#', buf[capacity]) << "written past the capacity";
        return std::wstring(buf, wcsnlen(buf, capacity));
    }

    bool zorvexExisted_ = false;
    bool appDataZorvexExisted_ = false;
    std::wstring appDataZorvex_;
    std::wstring programFolder_;
    std::wstring scratch_;
};

TEST_F(SettingsFolder, RegistryValueCountsOnlyAsTextNamingAnExistingPath)
{
    EXPECT_EQ(Fallback(), Locate());

    SetText(scratch_);
    EXPECT_EQ(scratch_, Locate());
    SetValue(REG_EXPAND_SZ, scratch_.c_str(), static_cast<DWORD>((scratch_.size() + 1) * 2));
    EXPECT_EQ(scratch_, Locate());

    SetText(scratch_ + L"\\missing");
    EXPECT_EQ(Fallback(), Locate());

    // The bytes of an existing path, but not stored as text.
    SetValue(REG_BINARY, scratch_.c_str(), static_cast<DWORD>((scratch_.size() + 1) * 2));
    EXPECT_EQ(Fallback(), Locate());
    DWORD number = 5;
    SetValue(REG_DWORD, &number, sizeof number);
    EXPECT_EQ(Fallback(), Locate());
    SetText(L"");
    EXPECT_EQ(Fallback(), Locate());
}

TEST_F(SettingsFolder, ValueThatFillsTheBufferCountsAsAbsent)
{
    // Cut by one character, the value would name another existing folder.
    std::wstring value = scratch_ + L"\\abcd";
    std::wstring cut = scratch_ + L"\\abc";
    ASSERT_TRUE(CreateDirectoryW(value.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(cut.c_str(), nullptr));
    size_t n = value.size();
    // What the same capacities give with no value at all.
    std::wstring withoutValue = Locate(n);

    // Stored without its terminator: with room for one more character it is
    // read whole and terminated; filling the buffer, it must not be taken.
    SetText(value, false);
    EXPECT_EQ(value, Locate(n + 1));
    EXPECT_EQ(withoutValue, Locate(n));

    // Stored with it, but too long for the buffer (ERROR_MORE_DATA).
    SetText(value);
    EXPECT_EQ(value, Locate(n + 1));
    EXPECT_EQ(withoutValue, Locate(n));
}

TEST_F(SettingsFolder, FallsBackToAppDataThenToTheProgramFolder)
{
    if (appDataZorvexExisted_)
        GTEST_SKIP() << appDataZorvex_ << " was left by another test";
    SetText(scratch_ + L"\\missing");
    EXPECT_EQ(programFolder_, Locate(kMaxPathChars, false));
    EXPECT_FALSE(testsupport::Exists(appDataZorvex_));

    EXPECT_EQ(appDataZorvex_, Locate(kMaxPathChars, true));
    EXPECT_TRUE(testsupport::Exists(appDataZorvex_));
    EXPECT_EQ(appDataZorvex_, Locate(kMaxPathChars, false));

    wchar_t direct[kMaxPathChars];
    EXPECT_TRUE(LocateAppDataFolder(direct, kMaxPathChars, false));
    EXPECT_EQ(appDataZorvex_, direct);
    // Too small for the folder: no cut path is answered.
    wchar_t small[8];
    EXPECT_FALSE(LocateAppDataFolder(small, 8, true));
    EXPECT_STREQ(L"", small);
}

}  // namespace
