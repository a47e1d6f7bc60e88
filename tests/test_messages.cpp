#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "common/localization/language_file.h"
#include "common/localization/messages.h"
#include "resources/resource.h"
#include "tests/support/language_support.h"
#include "tests/support/test_support.h"

using testsupport::SetLanguageFolder;
using testsupport::WriteLanguageFile;

namespace {

HINSTANCE Own()
{
    return GetModuleHandleW(nullptr);
}

std::wstring OwnText(UINT id)
{
    wchar_t buffer[1024];
    int n = LoadStringW(Own(), id, buffer, 1024);
    return std::wstring(buffer, n > 0 ? n : 0);
}

std::wstring Found(const wchar_t* path, size_t capacity = MAX_PATH)
{
    wchar_t result[4096];
    FindInLanguageFolder(path, result, capacity);
    return result;
}

DWORD ProcessLayout()
{
    DWORD layout = 0xFFFF;
    GetProcessDefaultLayout(&layout);
    return layout;
}

class MessagesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Reset();
        folder_ = testsupport::MakeScratchFolder(L"messages");
        program_ = folder_ + L"\\Uninstall.exe";
        languageFile_ = folder_ + L"\\uninstall.lng";
    }
    void TearDown() override
    {
        Reset();
        SetEnvironmentVariableW(L"ZVX_LANGUAGE_TEST", nullptr);
        testsupport::RemoveTree(folder_);
    }
    static void Reset()
    {
        LanguageExitCleanup();
        SetRightToLeft(false);
        SetProcessDefaultLayout(0);
        testsupport::ClearLanguageFolder();
    }

    void PlaceLibrary(const std::wstring& folder, bool rightToLeft)
    {
        ASSERT_TRUE(CopyFileW(testsupport::TestLanguageLibrary(rightToLeft).c_str(),
                              (folder + L"\\zvxlng.dll").c_str(), FALSE));
    }
    std::wstring MakeFolder(const std::wstring& name)
    {
        std::wstring path = folder_ + L"\\" + name;
        CreateDirectoryW(path.c_str(), nullptr);
        return path;
    }

    std::wstring folder_;
    std::wstring program_;
    std::wstring languageFile_;
};

TEST_F(MessagesTest, KeyTableHoldsEveryTranslatableItemOnce)
{
    std::map<std::string, int> rowsPerGroup;
    std::set<std::string> keys;
    for (size_t n = 0; n < KeyTableSize; n++) {
        std::string key = KeyTable[n].Key;
        std::string group = key.substr(0, key.find(':'));
        std::string item = key.substr(key.find(':') + 1);
        rowsPerGroup[group]++;
        EXPECT_TRUE(keys.insert(key).second) << key;
        EXPECT_EQ(item == "SIZE" || item == "CAPTION", KeyTable[n].Id == 0) << key;
        if (group == "s") {
            EXPECT_FALSE(OwnText(KeyTable[n].Id).empty()) << key << " has no built-in text";
        }
    }
    EXPECT_EQ(30, rowsPerGroup["s"]);
    EXPECT_EQ(34, rowsPerGroup["$SETUPDLG"]);
    EXPECT_EQ(10, rowsPerGroup["$DONEDLG"]);
    EXPECT_EQ(35, rowsPerGroup["$SETUPCONTEXTITEMS"]);
    EXPECT_EQ(4u, rowsPerGroup.size());
}

TEST_F(MessagesTest, KeysByIdComeFromTheStringsGroupAndNeedALanguageFile)
{
    char key[80];
    EXPECT_FALSE(FindKeyById(IDS_UNINSTALLZVX, key));  // no language file, no key needed

    ASSERT_TRUE(WriteLanguageFile(languageFile_, L"***messages**\r\nIDS_OTHER x\r\n", false));
    InitLanguage(languageFile_.c_str());
    for (size_t n = 0; n < KeyTableSize; n++) {
        if (std::strncmp(KeyTable[n].Key, "s:", 2) != 0)
            continue;
        ASSERT_TRUE(FindKeyById(KeyTable[n].Id, key)) << KeyTable[n].Key;
        EXPECT_STREQ(KeyTable[n].Key, key);
    }
    // Control ids that share a number with a message find the message's key.
    ASSERT_TRUE(FindKeyById(5101, key));
    EXPECT_STREQ("s:IDS_UNINSTTITLE", key);
    EXPECT_FALSE(FindKeyById(IDC_LINKDESKTOP, key));
    EXPECT_FALSE(FindKeyById(IDOK, key));
    EXPECT_FALSE(FindKeyById(0, key));
}

TEST_F(MessagesTest, WithoutFileOrLibraryEveryTextIsTheProgramsOwn)
{
    LoadLanguageLibrary(Own(), program_.c_str());
    InitLanguage(languageFile_.c_str());
    EXPECT_EQ(Own(), ResourceModule());
    EXPECT_EQ(Own(), OwnModule());
    EXPECT_FALSE(RightToLeft());
    EXPECT_EQ(0u, ProcessLayout());
    for (size_t n = 0; n < KeyTableSize; n++) {
        if (std::strncmp(KeyTable[n].Key, "s:", 2) == 0) {
            EXPECT_EQ(OwnText(KeyTable[n].Id), MessageText(KeyTable[n].Id)) << KeyTable[n].Key;
        }
    }
    EXPECT_STREQ(L"", MessageText(9999));
}

TEST_F(MessagesTest, LookupFallsThroughFileThenLibraryThenOwnTable)
{
    PlaceLibrary(folder_, false);
    ASSERT_TRUE(WriteLanguageFile(languageFile_,
                                  L"***messages**\r\n"
                                  L"IDS_UNINSTALLZVX FILE uninstall\r\n"
                                  L"IDS_ZORVEXARC \"\"\r\n"
                                  L":DIALOG SETUPDLG\r\n"
                                  L"IDS_CONTINUEUNINSTALL not a message\r\n",
                                  false));
    LoadLanguageLibrary(Own(), program_.c_str());
    ASSERT_NE(Own(), ResourceModule());
    InitLanguage(languageFile_.c_str());

    EXPECT_STREQ(L"FILE uninstall", MessageText(IDS_UNINSTALLZVX));
    EXPECT_STREQ(L"", MessageText(IDS_ZORVEXARC));  // an empty translation is a translation
    EXPECT_STREQ(L"LIB Continue?", MessageText(IDS_CONTINUEUNINSTALL));
    EXPECT_STREQ(L"LIB Setup", MessageText(IDS_UNINSTTITLE));
    ASSERT_FALSE(OwnText(IDS_REBOOTREQUIRED).empty());
    EXPECT_EQ(OwnText(IDS_REBOOTREQUIRED), MessageText(IDS_REBOOTREQUIRED));  // the library lacks it
    EXPECT_STREQ(L"", MessageText(9999));
    EXPECT_FALSE(RightToLeft());
    EXPECT_EQ(0u, ProcessLayout());

    wchar_t small[5];
    EXPECT_EQ(small, LoadMessageText(IDS_UNINSTALLZVX, small, 5));
    EXPECT_STREQ(L"FILE", small);
    EXPECT_EQ(small, LoadMessageText(IDS_CONTINUEUNINSTALL, small, 5));
    EXPECT_STREQ(L"LIB ", small);
    small[0] = L'#';
    LoadMessageText(IDS_UNINSTALLZVX, small, 0);
    EXPECT_EQ(L'#', small[0]);

    // The uninstall run releases the library before it deletes the files.
    UnloadLanguageLibrary();
    EXPECT_EQ(Own(), ResourceModule());
    EXPECT_EQ(OwnText(IDS_CONTINUEUNINSTALL), MessageText(IDS_CONTINUEUNINSTALL));
    EXPECT_STREQ(L"FILE uninstall", MessageText(IDS_UNINSTALLZVX));
}

TEST_F(MessagesTest, RtlDialogInTheLibrarySwitchesTheProcessToRightToLeft)
{
    PlaceLibrary(folder_, true);
    // The file's own direction cannot undo what the library says.
    ASSERT_TRUE(WriteLanguageFile(languageFile_, L"***messages**\r\n:DIRECTION LTR\r\n", true));
    LoadLanguageLibrary(Own(), program_.c_str());
    InitLanguage(languageFile_.c_str());
    EXPECT_NE(Own(), ResourceModule());
    EXPECT_NE(nullptr, FindResourceW(ResourceModule(), L"RTL", RT_DIALOG));
    EXPECT_STREQ(L"LIB Uninstall", MessageText(IDS_UNINSTALLZVX));
    EXPECT_TRUE(RightToLeft());
    EXPECT_EQ(static_cast<DWORD>(LAYOUT_RTL), ProcessLayout());
}

TEST_F(MessagesTest, DirectionFromTheFileAloneSwitchesTheProcessToRightToLeft)
{
    PlaceLibrary(folder_, false);
    ASSERT_TRUE(WriteLanguageFile(languageFile_, L"***messages**\r\n:DIRECTION RTL\r\n", false));
    LoadLanguageLibrary(Own(), program_.c_str());
    InitLanguage(languageFile_.c_str());
    EXPECT_TRUE(RightToLeft());
    EXPECT_EQ(static_cast<DWORD>(LAYOUT_RTL), ProcessLayout());

    // Without either the layout stays as it is.
    Reset();
    DeleteFileW(languageFile_.c_str());
    LoadLanguageLibrary(Own(), program_.c_str());
    InitLanguage(languageFile_.c_str());
    EXPECT_FALSE(RightToLeft());
    EXPECT_EQ(0u, ProcessLayout());
}

// A library may bring its strings alone: each dialog it lacks comes from the
// program's own templates, while its texts still come through the language layer.
TEST_F(MessagesTest, DialogTemplatesTheLibraryLacksComeFromTheProgram)
{
    const wchar_t* const dialogs[] = {L"SETUPDLG", L"SETUPCONTEXTITEMS", L"DONEDLG"};
    PlaceLibrary(folder_, false);
    LoadLanguageLibrary(Own(), program_.c_str());
    InitLanguage(languageFile_.c_str());
    ASSERT_NE(Own(), ResourceModule());
    for (const wchar_t* name : dialogs) {
        EXPECT_EQ(Own(), DialogModule(name)) << "strings only";
        EXPECT_NE(nullptr, FindResourceW(DialogModule(name), name, RT_DIALOG));
    }
    EXPECT_STREQ(L"LIB help on the archive types.", MessageText(IDS_INSTHELP1));
    EXPECT_EQ(OwnText(IDS_INSTHELP2), MessageText(IDS_INSTHELP2));

    Reset();
    ASSERT_TRUE(DeleteFileW((folder_ + L"\\zvxlng.dll").c_str()));
    ASSERT_TRUE(CopyFileW(testsupport::TestLanguageLibraryWithDialog().c_str(),
                          (folder_ + L"\\zvxlng.dll").c_str(), FALSE));
    LoadLanguageLibrary(Own(), program_.c_str());
    InitLanguage(languageFile_.c_str());
    HINSTANCE library = ResourceModule();
    ASSERT_NE(Own(), library);
    // The library's own template still wins over the program's.
    EXPECT_EQ(library, DialogModule(L"DONEDLG"));
    EXPECT_EQ(Own(), DialogModule(L"SETUPDLG"));
    EXPECT_EQ(Own(), DialogModule(L"SETUPCONTEXTITEMS"));
    // Once the uninstall run has released the library, everything is the program's.
    UnloadLanguageLibrary();
    EXPECT_EQ(Own(), DialogModule(L"DONEDLG"));
}

TEST_F(MessagesTest, LanguageFolderSuppliesTheLibraryAndTheFile)
{
    // Nothing beside the test executable: both come from the language folder.
    std::wstring languages = MakeFolder(L"languages");
    PlaceLibrary(languages, false);
    ASSERT_TRUE(WriteLanguageFile(languages + L"\\uninstall.lng",
                                  L"***messages**\r\nIDS_UNINSTALLZVX from folder\r\n", false));
    ASSERT_TRUE(SetLanguageFolder(languages + L"\\"));

    LoadLanguageLibrary(Own(), nullptr);
    EXPECT_NE(Own(), ResourceModule());
    InitLanguage(L"uninstall.lng");
    EXPECT_STREQ(L"from folder", MessageText(IDS_UNINSTALLZVX));
    EXPECT_STREQ(L"LIB Continue?", MessageText(IDS_CONTINUEUNINSTALL));

    // A folder without the files leaves the program's own folder in use.
    Reset();
    ASSERT_TRUE(SetLanguageFolder(MakeFolder(L"empty")));
    PlaceLibrary(folder_, false);
    LoadLanguageLibrary(Own(), program_.c_str());
    EXPECT_NE(Own(), ResourceModule());
    EXPECT_EQ(languageFile_, Found(languageFile_.c_str()));
}

TEST_F(MessagesTest, LanguageFolderWithEnvironmentVariablesIsExpanded)
{
    wchar_t appData[MAX_PATH];
    DWORD n = ExpandEnvironmentStringsW(L"%APPDATA%", appData, MAX_PATH);
    ASSERT_TRUE(n > 1 && n <= MAX_PATH && appData[0] != L'%');
    std::wstring languages = std::wstring(appData) + L"\\ZvxLanguageTest";
    testsupport::RemoveTree(languages);
    ASSERT_TRUE(CreateDirectoryW(languages.c_str(), nullptr));
    ASSERT_TRUE(WriteLanguageFile(languages + L"\\uninstall.lng", L"***messages**\r\n", false));

    for (DWORD type : {DWORD(REG_EXPAND_SZ), DWORD(REG_SZ)}) {
        ASSERT_TRUE(SetLanguageFolder(L"%APPDATA%\\ZvxLanguageTest", type));
        EXPECT_EQ(languages + L"\\uninstall.lng", Found(L"C:\\Program Files\\Zorvex\\uninstall.lng"));
        EXPECT_EQ(languages + L"\\uninstall.lng", Found(L"uninstall.lng"));
        EXPECT_EQ(L"C:\\Program Files\\Zorvex\\other.lng", Found(L"C:\\Program Files\\Zorvex\\other.lng"));

        wchar_t same[MAX_PATH] = L"D:\\x\\uninstall.lng";
        FindInLanguageFolder(same, same, MAX_PATH);
        EXPECT_EQ(languages + L"\\uninstall.lng", std::wstring(same));
    }
    testsupport::RemoveTree(languages);
}

TEST_F(MessagesTest, LanguageFolderCountsOnlyAsAWholeStringValue)
{
    std::wstring languages = MakeFolder(L"lf");
    std::wstring inFolder = languages + L"\\uninstall.lng";
    ASSERT_TRUE(WriteLanguageFile(inFolder, L"***messages**\r\n", false));
    const wchar_t* bare = L"uninstall.lng";

    ASSERT_TRUE(SetLanguageFolder(languages));
    EXPECT_EQ(inFolder, Found(bare));

    DWORD number = 1;
    ASSERT_TRUE(testsupport::SetLanguageFolderValue(REG_DWORD, &number, sizeof number));
    EXPECT_EQ(bare, Found(bare));
    for (DWORD type : {DWORD(REG_BINARY), DWORD(REG_MULTI_SZ), DWORD(REG_NONE)}) {
        ASSERT_TRUE(testsupport::SetLanguageFolder(languages, type));
        EXPECT_EQ(bare, Found(bare)) << type;
    }

    // The value buffer holds 2047 characters less the length of the path. A
    // path of the right length puts the end of the value at its last places.
    DWORD chars = static_cast<DWORD>(languages.size());
    auto pathLeaving = [](size_t room) {
        std::wstring path = L"C:\\";
        size_t length = 2047 - room;
        while (path.size() + 14 + 200 < length)
            path += std::wstring(199, L'p') + L"\\";
        path += std::wstring(length - path.size() - 14, L'q') + L"\\uninstall.lng";
        return path;
    };
    // A value stored without its terminator is used when one still fits after
    // it, and counts as absent when it fills the buffer.
    ASSERT_TRUE(testsupport::SetLanguageFolderValue(REG_SZ, languages.c_str(), chars * 2));
    EXPECT_EQ(inFolder, Found(pathLeaving(chars + 1).c_str(), 4096));
    std::wstring full = pathLeaving(chars);
    EXPECT_EQ(full, Found(full.c_str(), 4096));

    ASSERT_TRUE(testsupport::SetLanguageFolderValue(REG_SZ, languages.c_str(), (chars + 1) * 2));
    EXPECT_EQ(inFolder, Found(pathLeaving(chars + 1).c_str(), 4096));
    full = pathLeaving(chars);  // ERROR_MORE_DATA
    EXPECT_EQ(full, Found(full.c_str(), 4096));
    full = std::wstring(2047, L'x');  // no room at all
    EXPECT_EQ(full, Found(full.c_str(), 4096));
}

TEST_F(MessagesTest, LanguageFolderThatDoesNotFitCountsAsNone)
{
    // A real folder whose joined path with the file name just fits, and one
    // character longer; they are reached through a variable.
    std::wstring deep = folder_;
    for (int level = 0; level < 9; level++) {
        deep += L"\\" + std::wstring(200, L'd');
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr));
    }
    std::wstring fits = deep + L"\\" + std::wstring(2033 - deep.size() - 1, L'e');
    std::wstring tooLong = fits + L"f";
    for (const std::wstring& folder : {fits, tooLong}) {
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr));
        ASSERT_TRUE(WriteLanguageFile(L"\\\\?\\" + folder + L"\\uninstall.lng", L"***messages**\r\n", false));
    }
    ASSERT_TRUE(SetLanguageFolder(L"%ZVX_LANGUAGE_TEST%", REG_EXPAND_SZ));
    const wchar_t* bare = L"uninstall.lng";

    SetEnvironmentVariableW(L"ZVX_LANGUAGE_TEST", fits.c_str());
    EXPECT_EQ(fits + L"\\uninstall.lng", Found(bare, 4096));
    EXPECT_EQ(bare, Found(bare, 2047));  // the joined path does not fit the caller's buffer
    SetEnvironmentVariableW(L"ZVX_LANGUAGE_TEST", tooLong.c_str());
    EXPECT_EQ(bare, Found(bare, 4096));
    SetEnvironmentVariableW(L"ZVX_LANGUAGE_TEST", (tooLong + std::wstring(100, L'\\')).c_str());
    EXPECT_EQ(bare, Found(bare, 4096));  // the expansion itself does not fit

    // An empty folder names no folder: a bare name found in the current
    // directory would be resolved elsewhere by the caller.
    ASSERT_TRUE(SetLanguageFolder(L""));
    ASSERT_TRUE(WriteLanguageFile(folder_ + L"\\uninstall.lng", L"***messages**\r\n", false));
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(folder_.c_str());
    std::wstring found = Found(L"C:\\Program Files\\Zorvex\\uninstall.lng");
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(L"C:\\Program Files\\Zorvex\\uninstall.lng", found);
}

TEST_F(MessagesTest, NinthMessageTextReusesTheFirstBuffer)
{
    const UINT ids[9] = {IDS_UNINSTTITLE, IDS_ZORVEXHELP, IDS_ZVXHELP, IDS_WHATSNEW, IDS_WHATSNEWNAME,
                         IDS_UNINSTALLZVX, IDS_UNINSTALLCOMPLETED, IDS_CONTINUEUNINSTALL, IDS_REBOOTREQUIRED};
    const wchar_t* texts[9];
    for (int n = 0; n < 9; n++)
        texts[n] = MessageText(ids[n]);
    EXPECT_EQ(texts[0], texts[8]);
    std::set<const wchar_t*> distinct(texts, texts + 8);
    EXPECT_EQ(8u, distinct.size());
    EXPECT_EQ(OwnText(IDS_REBOOTREQUIRED), texts[0]);
    for (int n = 1; n < 8; n++)
        EXPECT_EQ(OwnText(ids[n]), texts[n]) << n;  // the seven in between are intact
}

TEST_F(MessagesTest, ExitCleanupDestroysTheTableAndReleasesTheLibrary)
{
    PlaceLibrary(folder_, false);
    ASSERT_TRUE(WriteLanguageFile(languageFile_, L"***messages**\r\nIDS_UNINSTALLZVX file\r\n", false));
    LoadLanguageLibrary(Own(), program_.c_str());
    InitLanguage(languageFile_.c_str());
    ASSERT_EQ(1u, LanguageEntryCount());
    ASSERT_NE(Own(), ResourceModule());

    LanguageExitCleanup();
    EXPECT_EQ(0u, LanguageEntryCount());
    EXPECT_EQ(Own(), ResourceModule());
    EXPECT_EQ(OwnText(IDS_UNINSTALLZVX), MessageText(IDS_UNINSTALLZVX));
    EXPECT_TRUE(DeleteFileW((folder_ + L"\\zvxlng.dll").c_str()));

    // After the uninstall run has released the library, exit has nothing left to release.
    LoadLanguageLibrary(Own(), program_.c_str());
    UnloadLanguageLibrary();
    LanguageExitCleanup();
    EXPECT_EQ(Own(), ResourceModule());
}

}  // namespace
