#include <gtest/gtest.h>

#include <algorithm>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "common/settings/settings_file.h"
#include "common/settings/settings_store.h"
#include "tests/support/dialog_support.h"
#include "tests/support/registry_support.h"
#include "tests/support/base_support.h"
#include "tests/support/settings_support.h"
#include "tests/support/test_support.h"
#include "tests/support/window_support.h"

using namespace testsupport;

namespace {

const wchar_t kGlobalLines[] = L"Global\\AppData=1\r\nGlobal\\Integration=1\r\nGlobal\\SaveSettings=1\r\n";

// The owner and DACL of a file in SDDL, as the system reads them back.
std::wstring SecurityText(const std::wstring& path)
{
    DWORD needed = 0;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    GetFileSecurityW(path.c_str(), what, nullptr, 0, &needed);
    std::vector<BYTE> descriptor(needed);
    LPWSTR text = nullptr;
    if (needed == 0 || !GetFileSecurityW(path.c_str(), what, descriptor.data(), needed, &needed) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1, what, &text,
                                                              nullptr))
        return L"(unreadable)";
    std::wstring result = text;
    LocalFree(text);
    return result;
}

// Whether two names, opened as any reader opens them (through links), lead to
// one file.
bool LeadToOneFile(const std::wstring& a, const std::wstring& b)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    BY_HANDLE_FILE_INFORMATION info[2];
    const std::wstring* names[2] = {&a, &b};
    for (int i = 0; i < 2; i++) {
        HANDLE file = CreateFileW(names[i]->c_str(), FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        bool read = GetFileInformationByHandle(file, &info[i]) != FALSE;
        CloseHandle(file);
        if (!read)
            return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

bool IsLinkChild()
{
    wchar_t value[8];
    DWORD length = GetEnvironmentVariableW(L"ZVX_SETTINGS_LINK_CHILD", value, 8);
    return length > 0 && length < 8;
}

// Most files lie in %APPDATA%\Zorvex, inside the throwaway prefix; the file beside
// the test executable exists only within the test that needs it.
class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(AppDataSettingsFolder().empty());
        Clean();
    }

    void TearDown() override
    {
        FailSettingsSaveWrite(-1);
        Clean();
    }

    void Clean()
    {
        FreeSettingsFile();
        file_.Clean();
        EXPECT_TRUE(DeleteTree(HKEY_CURRENT_USER, L"Software\\Zorvex"));
        EXPECT_TRUE(DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Zorvex"));
    }

    // Puts bytes into %APPDATA%\Zorvex\Zorvex.ini and makes the store search again.
    void Load(const std::string& bytes)
    {
        ASSERT_TRUE(WriteBytes(path_, bytes));
        FreeSettingsFile();
        LoadSettingsFile();
    }
    void Load(const std::wstring& lines) { Load(Utf16LeFile(lines)); }

    std::string Bytes() const
    {
        std::string bytes;
        EXPECT_TRUE(ReadBytes(path_, bytes));
        return bytes;
    }

    // Runs the clean-up at exit and answers what it left in the file.
    std::string AfterExit()
    {
        SettingsExitCleanup();
        return Bytes();
    }

    static std::wstring UserString(const wchar_t* key, const wchar_t* name)
    {
        wchar_t buffer[64];
        ReadUserString(key, name, buffer, L"<default>", 64);
        return buffer;
    }

    AppDataSettingsFile file_;
    const std::wstring& path_ = file_.Path();
};

TEST_F(SettingsFileTest, AFileBesideTheProgramBeatsTheOneInAppData)
{
    const std::wstring beside = SettingsFileBesideProgram();
    ASSERT_TRUE(WriteBytes(beside, Utf16LeFile(L"HKCU\\T\\Where=\"beside\"\r\n")));
    Load(L"HKCU\\T\\Where=\"appdata\"\r\n");
    EXPECT_EQ(L"beside", UserString(L"T", L"Where"));
    EXPECT_EQ(0, WriteUserString(L"T", L"Saved", L"here"));
    SettingsExitCleanup();
    std::string bytes;
    ASSERT_TRUE(ReadBytes(beside, bytes));
    EXPECT_NE(std::string::npos, bytes.find(Utf16LeFile(L"Saved=\"here\"").substr(2)));
    EXPECT_EQ(Utf16LeFile(L"HKCU\\T\\Where=\"appdata\"\r\n"), Bytes());

    // A folder of that name is no settings file: the search goes on.
    ASSERT_TRUE(DeleteFileW(beside.c_str()));
    ASSERT_TRUE(CreateDirectoryW(beside.c_str(), nullptr));
    LoadSettingsFile();
    EXPECT_EQ(L"appdata", UserString(L"T", L"Where"));
    ASSERT_TRUE(RemoveDirectoryW(beside.c_str()));

    // Neither: the registry.
    FreeSettingsFile();
    ASSERT_TRUE(DeleteFileW(path_.c_str()));
    EXPECT_EQ(L"<default>", UserString(L"T", L"Where"));
    EXPECT_EQ(0, WriteUserString(L"T", L"Where", L"registry"));
    EXPECT_TRUE(HasKey(HKEY_CURRENT_USER, L"Software\\Zorvex\\T"));
    EXPECT_FALSE(Exists(path_));
}

TEST_F(SettingsFileTest, AnEmptyFileIsRewrittenWithTheThreeGlobalLines)
{
    Load(std::string());
    EXPECT_TRUE(IntegrationAllowed());
    EXPECT_EQ(Utf16LeFile(kGlobalLines), AfterExit());
    EXPECT_FALSE(Exists(path_ + L".tmp"));
}

TEST_F(SettingsFileTest, GlobalFlagsAreReadAsNumbersAndWrittenBackNormalised)
{
    Load(L"Global\\Integration=2\r\nGlobal\\AppData=0\r\n");
    EXPECT_TRUE(IntegrationAllowed());
    EXPECT_EQ(Utf16LeFile(L"Global\\AppData=0\r\nGlobal\\Integration=1\r\nGlobal\\SaveSettings=1\r\n"), AfterExit());

    Load(L"Global\\Integration=abc\r\n");
    EXPECT_FALSE(IntegrationAllowed());
    EXPECT_EQ(Utf16LeFile(L"Global\\AppData=1\r\nGlobal\\Integration=0\r\nGlobal\\SaveSettings=1\r\n"), AfterExit());
}

TEST_F(SettingsFileTest, ValueFormsSurviveARoundTrip)
{
    const std::wstring lines = L"HKCU\\Q\\Bin=bin:00ff\"x\r\n"
                               L"HKCU\\Q\\Empty=\"\"\r\n"
                               L"HKCU\\Q\\Inner=\"say \"hi\" now\"\r\n"
                               L"HKCU\\Q\\Lone=\"\r\n"
                               L"HKCU\\Q\\Number=-12x\r\n"
                               L"HKCU\\Q\\Text=abc\r\n";
    Load(lines);
    EXPECT_EQ(L"say \"hi\" now", UserString(L"Q", L"Inner"));
    EXPECT_EQ(L"", UserString(L"Q", L"Lone"));
    EXPECT_EQ(L"", UserString(L"Q", L"Empty"));
    EXPECT_EQ(L"00ff\"x", UserString(L"Q", L"Bin"));
    EXPECT_EQ(-12, ReadUserInt(L"Q", L"Number", 7));
    EXPECT_EQ(0, ReadUserInt(L"Q", L"Text", 7));  // there, but no number
    EXPECT_EQ(7, ReadUserInt(L"Q", L"Missing", 7));
    wchar_t small[6];
    EXPECT_FALSE(ReadUserString(L"Q", L"Inner", small, L"def", 6));  // never cut
    EXPECT_STREQ(L"def", small);
    EXPECT_TRUE(ReadUserString(L"Q", L"Missing", small, L"def", 6));
    EXPECT_STREQ(L"def", small);
    EXPECT_TRUE(ReadUserString(L"Q", L"Text", small, L"def", 6));
    EXPECT_STREQ(L"abc", small);
    std::wstring written = lines;
    written.replace(written.find(L"Lone=\""), 6, L"Lone=\"\"");
    EXPECT_EQ(Utf16LeFile(kGlobalLines + written), AfterExit());
}

TEST_F(SettingsFileTest, IgnoredLinesVanishAndBlanksAroundTheEqualsSignStay)
{
    Load(L"[Section]\r\n; comment\r\n# comment\r\n  HKCU\\X\\Indented=1\r\nNoEquals\r\n9HKCU\\X\\Digit=1\r\n"
         L"HKCU\\B\\v = 5\r\nHKCU\\X\\a=1=2\r\n");
    EXPECT_EQ(-1, ReadUserInt(L"B", L"v", -1));
    EXPECT_EQ(L" 5", UserString(L"B", L"v "));
    EXPECT_EQ(0, ReadUserInt(L"B", L"v ", -1));  // no blanks are skipped
    EXPECT_EQ(L"1=2", UserString(L"X", L"a"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"X\\Indented"));
    EXPECT_EQ(Utf16LeFile(std::wstring(kGlobalLines) + L"HKCU\\B\\v = 5\r\nHKCU\\X\\a=1=2\r\n"), AfterExit());
}

TEST_F(SettingsFileTest, Utf8AndBigEndianFilesAreWrittenBackAsUtf16Le)
{
    const std::wstring lines = L"HKCU\\E\\Name=\"caf\u00e9 \u4e2d\u6587\"\r\n";
    const std::string expected = Utf16LeFile(kGlobalLines + lines);

    Load("\xEF\xBB\xBF" + Utf8Bytes(lines));
    EXPECT_EQ(L"caf\u00e9 \u4e2d\u6587", UserString(L"E", L"Name"));
    EXPECT_EQ(expected, AfterExit());

    Load(Utf16BeFile(lines));
    EXPECT_EQ(L"caf\u00e9 \u4e2d\u6587", UserString(L"E", L"Name"));
    EXPECT_EQ(expected, AfterExit());
}

TEST_F(SettingsFileTest, SaveSettingsOffLeavesTheFileAlone)
{
    const std::string original = Utf16LeFile(L"Global\\SaveSettings=0\r\n; note\r\n");
    Load(original);
    EXPECT_EQ(0, WriteUserString(L"S", L"v", L"changed"));
    EXPECT_EQ(L"changed", UserString(L"S", L"v"));
    EXPECT_FALSE(SaveSettingsFile());
    EXPECT_EQ(original, AfterExit());
}

TEST_F(SettingsFileTest, KeyDeletionTakesWholeKeysByPrefix)
{
    DWORD one = 1;
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, L"Software\\Zorvex\\Keep", L"v", REG_DWORD, &one, 4));
    Load(L"HKCU\\Setup\\Links\\a=1\r\nHKCU\\Setup\\Links\\Sub\\b=1\r\nHKCU\\Setup\\LinksOld\\c=1\r\n"
         L"HKCU\\Setup\\d=1\r\nHKLM\\Setup\\Links\\e=1\r\n");
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Setup\\Links\\Sub"));
    DeleteKey(HKEY_CURRENT_USER, L"Setup\\Links");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Setup\\Links"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Setup\\Links\\Sub"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Setup\\LinksOld"));
    EXPECT_EQ(1, ReadUserInt(L"Setup", L"d", 0));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"Setup\\Links"));

    DeleteKeyTree(HKEY_CURRENT_USER, L"Setup\\LinksOld");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Setup\\LinksOld"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L""));
    DeleteKeyTree(HKEY_CURRENT_USER, L"");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L""));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L""));
    EXPECT_TRUE(IntegrationAllowed());
    EXPECT_TRUE(HasKey(HKEY_CURRENT_USER, L"Software\\Zorvex\\Keep"));  // the file served
    EXPECT_EQ(Utf16LeFile(std::wstring(kGlobalLines) + L"HKLM\\Setup\\Links\\e=1\r\n"), AfterExit());
}

TEST_F(SettingsFileTest, NumbersAndDuplicateNames)
{
    Load(L"HKCU\\D\\v=1\r\nHKCU\\D\\w=0\r\nHKCU\\D\\v=2\r\n");
    EXPECT_EQ(1, ReadUserInt(L"D", L"v", 0));  // the first of equal names
    EXPECT_EQ(0, WriteUserInt(L"D", L"v", 3));
    EXPECT_EQ(3, ReadUserInt(L"D", L"v", 0));
    EXPECT_EQ(0, WriteUserInt(L"N", L"all", 0xFFFFFFFFu));
    EXPECT_EQ(-1, ReadUserInt(L"N", L"all", 0));
    ASSERT_TRUE(SaveSettingsFile());
    std::string saved = Bytes();
    EXPECT_NE(std::string::npos, saved.find(Utf16LeFile(L"\r\nHKCU\\N\\all=4294967295\r\n").substr(2)));
    // Both duplicates are written, next to each other.
    EXPECT_TRUE(saved.find(Utf16LeFile(L"HKCU\\D\\v=3\r\nHKCU\\D\\v=2\r\n").substr(2)) != std::string::npos ||
                saved.find(Utf16LeFile(L"HKCU\\D\\v=2\r\nHKCU\\D\\v=3\r\n").substr(2)) != std::string::npos);

    DeleteUserValue(L"D", L"v");
    EXPECT_EQ(-1, ReadUserInt(L"D", L"v", -1));
    EXPECT_EQ(0, ReadUserInt(L"D", L"w", -1));
}

TEST_F(SettingsFileTest, LineBreaksNeverReachTheFile)
{
    Load(std::string());
    EXPECT_EQ(ERROR_INVALID_DATA, WriteUserString(L"L", L"v", L"a\r\nGlobal\\Integration=0"));
    EXPECT_EQ(ERROR_INVALID_DATA, WriteUserString(L"L", L"v", L"a\nb"));
    EXPECT_EQ(ERROR_INVALID_DATA, WriteUserInt(L"L\r\nGlobal", L"Integration", 0));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"L"));
    EXPECT_EQ(Utf16LeFile(kGlobalLines), AfterExit());
}

// What stands at the temporary name is never written through: a link to a file
// elsewhere (which the save would once fill with settings and move into place),
// or a file of two names, is left as it is, and the save goes through an
// unpredictable name beside it.
TEST_F(SettingsFileTest, WhatStandsAtTheTemporaryNameIsLeftAloneAndTheSaveStillMade)
{
    const std::string original = Utf16LeFile(L"HKCU\\F\\v=1\r\n");
    const std::wstring folder = AppDataSettingsFolder();
    const std::wstring outside = folder.substr(0, folder.rfind(L'\\')) + L"\\zvx-outside.txt";
    const std::wstring temp = path_ + L".tmp";
    for (bool hardLink : {false, true}) {
        SCOPED_TRACE(hardLink ? "a second name of a file elsewhere" : "a symbolic link to a file elsewhere");
        ASSERT_TRUE(WriteBytes(outside, "outside"));
        ASSERT_TRUE(hardLink ? CreateHardLinkW(temp.c_str(), outside.c_str(), nullptr) != FALSE
                             : testsupport::MakeUnixSymlink(temp, outside));
        Load(original);
        ASSERT_EQ(0, WriteUserInt(L"F", L"v", 2));
        EXPECT_TRUE(SaveSettingsFile());
        std::string bytes;
        ASSERT_TRUE(ReadBytes(outside, bytes));
        EXPECT_EQ(bytes, "outside");
        EXPECT_EQ(Utf16LeFile(L"Global\\AppData=1\r\nGlobal\\Integration=1\r\nGlobal\\SaveSettings=1\r\n"
                              L"HKCU\\F\\v=2\r\n"),
                  Bytes());
        // Only the name in the way and the settings file itself are left in the folder.
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((AppDataSettingsFolder() + L"\\*").c_str(), &data);
        ASSERT_NE(find, INVALID_HANDLE_VALUE);
        do {
            if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0)
                names.push_back(data.cFileName);
        } while (FindNextFileW(find, &data));
        FindClose(find);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::wstring>{L"Zorvex.ini", L"Zorvex.ini.tmp"}));
        if (hardLink)
            ASSERT_TRUE(DeleteFileW(temp.c_str()));
        else
            ASSERT_TRUE(testsupport::RemoveUnixSymlink(temp));
        FreeSettingsFile();
    }
    DeleteFileW(outside.c_str());
}

TEST_F(SettingsFileTest, AFailedSaveKeepsTheOldFile)
{
    const std::string original = Utf16LeFile(L"HKCU\\F\\v=1\r\n");
    Load(original);
    ASSERT_EQ(0, WriteUserInt(L"F", L"v", 2));

    // A write that fails half-way through (as on a full disk).
    FailSettingsSaveWrite(8);
    EXPECT_FALSE(SaveSettingsFile());
    EXPECT_EQ(original, Bytes());
    EXPECT_FALSE(Exists(path_ + L".tmp"));

    // Something in the way of the temporary name: the save goes through another
    // one beside it and leaves what stands there alone.
    ASSERT_TRUE(CreateDirectoryW((path_ + L".tmp").c_str(), nullptr));
    FailSettingsSaveWrite(8);
    EXPECT_FALSE(SaveSettingsFile());
    EXPECT_EQ(original, Bytes());
    EXPECT_TRUE(Exists(path_ + L".tmp"));
    ASSERT_TRUE(RemoveDirectoryW((path_ + L".tmp").c_str()));

    // The old file cannot be replaced.
    ASSERT_TRUE(SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(SaveSettingsFile());
    EXPECT_EQ(original, Bytes());
    EXPECT_FALSE(Exists(path_ + L".tmp"));
    ASSERT_TRUE(SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL));

    // The entries stayed in memory for the next try.
    EXPECT_TRUE(SaveSettingsFile());
    EXPECT_EQ(Utf16LeFile(std::wstring(kGlobalLines) + L"HKCU\\F\\v=2\r\n"), Bytes());
}

// The new file replaces the old one as the old one was: hidden and system stay,
// and so does its security descriptor (Wine keeps none for a file of the prefix
// and shows one made from the Unix permissions, so under Wine the comparison only
// shows that the save leaves what Wine shows as it was).
TEST_F(SettingsFileTest, TheReplacementKeepsTheOldFilesAttributesAndSecurity)
{
    Load(L"HKCU\\A\\v=1\r\n");
    ASSERT_TRUE(SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;WD)",
                                                                     SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_TRUE(SetFileSecurityW(path_.c_str(), DACL_SECURITY_INFORMATION, descriptor));
    LocalFree(descriptor);
    const std::wstring security = SecurityText(path_);
    ASSERT_EQ(0, WriteUserInt(L"A", L"v", 2));

    EXPECT_TRUE(SaveSettingsFile());
    EXPECT_EQ(Utf16LeFile(std::wstring(kGlobalLines) + L"HKCU\\A\\v=2\r\n"), Bytes());
    DWORD attributes = GetFileAttributesW(path_.c_str());
    EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
              attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(security, SecurityText(path_));
    EXPECT_FALSE(Exists(path_ + L".tmp"));

    // A file that went since it was loaded is written again under its name.
    ASSERT_TRUE(SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(DeleteFileW(path_.c_str()));
    ASSERT_EQ(0, WriteUserInt(L"A", L"v", 3));
    EXPECT_TRUE(SaveSettingsFile());
    EXPECT_EQ(Utf16LeFile(std::wstring(kGlobalLines) + L"HKCU\\A\\v=3\r\n"), Bytes());
    EXPECT_FALSE(Exists(path_ + L".tmp"));
}

// Through a link the program, which may run elevated, neither writes nor
// deletes, and it does not break the link either: the file is left as it is.
TEST_F(SettingsFileTest, AHardLinkedFileIsNeverSavedOver)
{
    const std::wstring other = AppDataSettingsFolder() + L"\\other.ini";
    const std::string content = Utf16LeFile(L"HKCU\\H\\v=1\r\n");
    ASSERT_TRUE(WriteBytes(other, content));
    ASSERT_TRUE(CreateHardLinkW(path_.c_str(), other.c_str(), nullptr));
    FreeSettingsFile();
    LoadSettingsFile();
    EXPECT_EQ(1, ReadUserInt(L"H", L"v", 0));
    ASSERT_EQ(0, WriteUserInt(L"H", L"v", 2));
    EXPECT_EQ(2, ReadUserInt(L"H", L"v", 0));
    EXPECT_FALSE(SaveSettingsFile());
    EXPECT_FALSE(Exists(path_ + L".tmp"));
    EXPECT_EQ(content, AfterExit());
    std::string bytes;
    EXPECT_TRUE(ReadBytes(other, bytes));
    EXPECT_EQ(content, bytes);
    DeleteFileW(other.c_str());
}

// The fixture's C:\zvx-settings-link\program\Zorvex.ini is a symbolic link to
// ...\elsewhere\target.ini, made on the host side; Wine shows it as a plain file
// with one link, and its ReplaceFileW would delete the target. A copy of this
// executable beside the link finds it as its settings file.
TEST_F(SettingsFileTest, ASymbolicallyLinkedFileIsNeverSavedOver)
{
    const std::wstring fixture = L"C:\\zvx-settings-link";
    const std::wstring link = fixture + L"\\program\\Zorvex.ini";
    const std::wstring target = fixture + L"\\elsewhere\\target.ini";
    const std::string content = Utf16LeFile(L"HKCU\\L\\v=5\r\n");
    ASSERT_TRUE(WriteBytes(target, content));
    ASSERT_TRUE(LeadToOneFile(link, target)) << "the link fixture (tests/settings_links.sh) did not run";

    wchar_t self[1024];
    DWORD length = GetModuleFileNameW(nullptr, self, 1024);
    ASSERT_TRUE(length > 0 && length < 1024);
    const std::wstring copy = fixture + L"\\program\\settings_child.exe";
    ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE));
    int code = -1;
    {
        ScopedEnvironment child(L"ZVX_SETTINGS_LINK_CHILD", L"1");
        ChildProcess process;
        ASSERT_TRUE(process.Start(copy, L"--gtest_color=no --gtest_filter=SettingsLinkChild.*"));
        code = process.Wait(60000);
    }
    DeleteFileW(copy.c_str());
    EXPECT_EQ(0, code) << "the child's checks failed";
    std::string bytes;
    EXPECT_TRUE(ReadBytes(target, bytes)) << "the target is gone";
    EXPECT_EQ(content, bytes);
    EXPECT_TRUE(LeadToOneFile(link, target)) << "the link was replaced";
    EXPECT_FALSE(Exists(link + L".tmp"));
}

// Runs only as the child of the test above, beside the linked file.
TEST(SettingsLinkChild, ReadsTheLinkedFileAndSavesNothing)
{
    if (!IsLinkChild())
        GTEST_SKIP() << "runs only as the child of ASymbolicallyLinkedFileIsNeverSavedOver";
    FreeSettingsFile();
    EXPECT_EQ(5, ReadUserInt(L"L", L"v", 0));
    EXPECT_EQ(0, WriteUserInt(L"L", L"v", 6));
    EXPECT_FALSE(SaveSettingsFile());
    SettingsExitCleanup();
}

TEST_F(SettingsFileTest, AFileNotReadWholeIsNeverSavedOver)
{
    const std::string cut = Utf16LeFile(std::wstring(L"HKCU\\W\\a=1\r\n\0HKCU\\W\\b=2\r\n", 25));
    Load(cut);
    EXPECT_EQ(1, ReadUserInt(L"W", L"a", 0));
    EXPECT_EQ(0, ReadUserInt(L"W", L"b", 0));
    EXPECT_EQ(0, WriteUserInt(L"W", L"c", 3));
    EXPECT_EQ(3, ReadUserInt(L"W", L"c", 0));
    EXPECT_FALSE(SaveSettingsFile());
    EXPECT_EQ(cut, AfterExit());

    // Zeros that merely pad the end lose nothing.
    Load(Utf16LeFile(std::wstring(L"HKCU\\W\\a=1\r\n\0\0", 14)));
    EXPECT_EQ(Utf16LeFile(std::wstring(kGlobalLines) + L"HKCU\\W\\a=1\r\n"), AfterExit());
}

// UTF-8 with its mark and one malformed byte: the entries up to the fault are
// used as written (the first one too, non-ASCII text intact), and the file is
// never saved over, which would drop the rest.
TEST_F(SettingsFileTest, AUtf8FileWithAMalformedSequenceIsUsedButNeverSavedOver)
{
    const std::string bytes = "\xEF\xBB\xBF"
                              "HKCU\\T\\first=7\r\n"
                              "HKCU\\T\\name=\"Caf\xC3\xA9 \xE4\xB8\xAD\"\r\n"
                              "HKCU\\T\\bad=\"x\xE9y\"\r\n"
                              "Global\\SaveSettings=1\r\n";
    Load(bytes);
    EXPECT_EQ(7, ReadUserInt(L"T", L"first", 0));
    EXPECT_EQ(L"Caf\u00e9 \u4e2d", UserString(L"T", L"name"));
    EXPECT_EQ(L"<default>", UserString(L"T", L"bad"));  // cut by the fault: no entry
    EXPECT_EQ(0, WriteUserInt(L"T", L"first", 8));
    EXPECT_EQ(8, ReadUserInt(L"T", L"first", 0));
    EXPECT_FALSE(SaveSettingsFile());
    EXPECT_EQ(bytes, AfterExit());
    EXPECT_FALSE(Exists(path_ + L".tmp"));
}

TEST_F(SettingsFileTest, TheExitSaveDoesNotBringBackADeletedFile)
{
    Load(L"HKCU\\U\\v=1\r\n");
    ASSERT_EQ(0, WriteUserInt(L"U", L"v", 2));
    ASSERT_TRUE(DeleteFileW(path_.c_str()));
    SettingsExitCleanup();
    EXPECT_FALSE(Exists(path_));
    EXPECT_FALSE(Exists(path_ + L".tmp"));
    // Freed: the next operation searches again and finds nothing.
    EXPECT_EQ(-1, ReadUserInt(L"U", L"v", -1));
}

}  // namespace
