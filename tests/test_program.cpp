// Start-up helpers, message formats, list-entry confinement and the batch file,
// called in this process against real files, registry and message boxes.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <memory>

#include "common/base/file.h"
#include "common/base/module.h"
#include "resources/resource.h"
#include "tests/support/program_support.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"
#include "uninstall/message_box.h"
#include "uninstall/program.h"
#include "uninstall/install_list.h"
#include "uninstall/uninstall_run.h"

using namespace testsupport;

namespace {

TEST(Formats, OnlyExactlyOneStringConversionIsAccepted)
{
    EXPECT_TRUE(IsOneStringFormat(L"%s"));
    EXPECT_TRUE(IsOneStringFormat(L"Cannot open %s."));
    EXPECT_TRUE(IsOneStringFormat(L"100%% sure: %s %%"));
    EXPECT_FALSE(IsOneStringFormat(L""));
    EXPECT_FALSE(IsOneStringFormat(L"no conversion"));
    EXPECT_FALSE(IsOneStringFormat(L"%s and %s"));
    EXPECT_FALSE(IsOneStringFormat(L"%d %s"));
    EXPECT_FALSE(IsOneStringFormat(L"%s %n"));
    EXPECT_FALSE(IsOneStringFormat(L"%ls"));
    EXPECT_FALSE(IsOneStringFormat(L"%S"));
    EXPECT_FALSE(IsOneStringFormat(L"%10s"));
    EXPECT_FALSE(IsOneStringFormat(L"%s trailing %"));
}

TEST(Formats, BuiltInFormatsTakeOneString)
{
    for (UINT id : {IDS_UNINSTALLSHOULDDELETE, IDS_CANNOTOPENLIST}) {
        wchar_t text[1024] = {};
        ASSERT_GT(LoadStringW(GetModuleHandleW(nullptr), id, text, 1024), 0) << id;
        EXPECT_TRUE(IsOneStringFormat(text)) << id;
    }
    wchar_t text[200];
    ASSERT_GT(FormatMessageWithString(IDS_CANNOTOPENLIST, L"Uninstall.lst", text, 200), 0);
    EXPECT_NE(std::wstring(text).find(L"Uninstall.lst"), std::wstring::npos);
}

TEST(ListEntries, OnlyNamesInsideTheInstallFolderAreAccepted)
{
    for (const wchar_t* inside :
         {L"Zorvex.exe", L"sub\\file.txt", L"sub/file.txt", L" leading blank", L"a..b", L"sub\\..x\\f", L"x.",
          L"sub\\\\double", L"Caf\u00e9\\\u4e2d.txt", L"console.txt", L"com10", L"nullable"}) {
        EXPECT_TRUE(IsConfinedEntryName(inside)) << inside;
    }
    for (const wchar_t* outside :
         {L"..", L"..\\x", L"../x", L"sub\\..\\..\\x", L"sub/../../x", L"sub\\..", L".", L".\\x", L"...\\x",
          L".. \\x", L"sub\\ ..\\x", L"\\Windows\\x", L"/Windows/x", L"\\\\server\\share\\x", L"C:\\Windows\\x",
          L"C:x", L"file.txt:stream", L"file.txt::$DATA", L"\\\\?\\C:\\x", L"\\\\.\\PhysicalDrive0",
          L"NUL", L"nul.txt", L"sub\\COM1", L"CON ", L"conin$", L"aux\\x"}) {
        EXPECT_FALSE(IsConfinedEntryName(outside)) << outside;
    }
}

class BatchFile : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteFileW(BatchFilePath().c_str());
        folder_ = MakeScratchFolder(L"program-batch");
    }
    void TearDown() override
    {
        DeleteFileW(BatchFilePath().c_str());
        RemoveTree(folder_);
    }
    std::wstring folder_;
};

TEST_F(BatchFile, LinesAreWrittenInTheOemCodePage)
{
    std::wstring path = folder_ + L"\\line.bat";
    std::wstring text = L"rd \"C:\\Caf\u00e9 50%%\"\r\n";
    {
        File file;
        ASSERT_TRUE(file.Create(path.c_str(), 0));
        ASSERT_TRUE(WriteBatchLine(file, text.c_str()));
        ASSERT_TRUE(WriteBatchLine(file, L""));
        ASSERT_TRUE(file.Close());
    }
    std::string bytes;
    ASSERT_TRUE(ReadBytes(path, bytes));
    EXPECT_EQ(bytes, Narrow(text, CP_OEMCP));
    if (GetOEMCP() == 437) {
        EXPECT_EQ(bytes, "rd \"C:\\Caf\x82 50%%\"\r\n");
    }
}

TEST_F(BatchFile, ALineWithACharacterTheCodePageLacksIsNotWritten)
{
    if (GetOEMCP() == CP_UTF8)
        GTEST_SKIP() << "every character has a UTF-8 form";
    std::wstring path = folder_ + L"\\line.bat";
    File file;
    ASSERT_TRUE(file.Create(path.c_str(), 0));
    EXPECT_FALSE(WriteBatchLine(file, L"del \"C:\\\u4e2d\u6587\\x\"\r\n"));
    ASSERT_TRUE(file.Close());
    std::string bytes;
    ASSERT_TRUE(ReadBytes(path, bytes));
    EXPECT_EQ(bytes, "");
}

TEST_F(BatchFile, APathWithoutAnyOemSpellingLeavesNoBatchFile)
{
    if (GetOEMCP() == CP_UTF8)
        GTEST_SKIP() << "every character has a UTF-8 form";
    // A path that does not exist has no short form either.
    std::wstring program = folder_ + L"\\\u4e2d\u6587\\Uninstall.exe";
    std::wstring folder = folder_ + L"\\\u4e2d\u6587";
    wchar_t batchPath[2048];
    EXPECT_FALSE(SelfRemovalBatch(program.c_str(), folder.c_str(), true, batchPath, 2048));
    EXPECT_FALSE(Exists(BatchFilePath()));
}

// What Wine cannot show on the file itself (it keeps no security descriptor,
// only the Unix mode it maps it to): the descriptor the batch file is made with.
TEST(BatchSecurity, OnlySystemAndAdministratorsMayChangeItAndTheUserMayReadAndRunIt)
{
    ScopedLocalMem descriptor;
    ASSERT_TRUE(MakeBatchSecurity(descriptor));
    wchar_t* text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.Get(), SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &text, nullptr));
    std::wstring dacl = text;
    LocalFree(text);
    // The user may read and run it (0x1200a9: read, execute, attributes,
    // synchronise), and as its owner no more than read its descriptor.
    EXPECT_EQ(dacl, L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;" + UserSid() + L")(A;;RC;;;OW)");
    // Where the token is elevated, lower processes may not write it.
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    ASSERT_TRUE(GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size));
    CloseHandle(token);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL sacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorSacl(descriptor.Get(), &present, &sacl, &defaulted));
    if (!elevation.TokenIsElevated) {
        EXPECT_TRUE(!present || sacl == nullptr || sacl->AceCount == 0);
        return;
    }
    ASSERT_TRUE(present && sacl != nullptr && sacl->AceCount == 1);
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(sacl, 0, &ace));
    auto* label = static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace);
    EXPECT_EQ(label->Header.AceType, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
    EXPECT_EQ(label->Mask, static_cast<ACCESS_MASK>(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP));
    wchar_t* sid = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(&label->SidStart, &sid));
    EXPECT_EQ(std::wstring(sid), L"S-1-16-12288");  // High
    LocalFree(sid);
}

// The file just made must be the plain file at the name asked for: not reached
// through a link among its folders, no link itself, no second name.
TEST(BatchSecurity, OnlyAPlainFileWithOneLinkAtTheNamedPathCountsAsTheBatchFile)
{
    const wchar_t* named = L"C:\\Users\\Admin\\AppData\\Local\\Temp\\Uninstall_Zvx.Bat";
    const wchar_t* finalPath = L"\\\\?\\C:\\Users\\Admin\\AppData\\Local\\Temp\\Uninstall_Zvx.Bat";
    struct Case {
        DWORD attributes;
        DWORD links;
        const wchar_t* finalPath;
        const wchar_t* requested;
        bool accepted;
    };
    const Case cases[] = {
        {FILE_ATTRIBUTE_ARCHIVE, 1, finalPath, named, true},
        {FILE_ATTRIBUTE_NORMAL, 1, finalPath, L"c:\\users\\ADMIN\\appdata\\local\\temp\\UNINSTALL_ZVX.BAT", true},
        {FILE_ATTRIBUTE_ARCHIVE, 1, finalPath, finalPath, true},
        {0, 1, L"\\\\?\\UNC\\server\\share\\Temp\\Uninstall_Zvx.Bat", L"\\\\server\\share\\Temp\\Uninstall_Zvx.Bat", true},
        {FILE_ATTRIBUTE_ARCHIVE, 1, L"\\\\?\\D:\\Elsewhere\\Uninstall_Zvx.Bat", named, false},
        {FILE_ATTRIBUTE_ARCHIVE, 1, L"\\\\?\\C:\\Users\\Admin\\AppData\\Local\\Temp\\Uninstall_Zvx.Bat.txt", named, false},
        {0, 1, L"\\\\?\\UNC\\server\\share\\Temp\\Uninstall_Zvx.Bat", L"\\\\?\\server\\share\\Temp\\Uninstall_Zvx.Bat",
         false},
        // The caller gives the long form; a short one is not taken for it.
        {FILE_ATTRIBUTE_ARCHIVE, 1, finalPath, L"C:\\Users\\Admin\\AppData\\Local\\Temp\\UNINST~1.BAT", false},
        {FILE_ATTRIBUTE_ARCHIVE, 2, finalPath, named, false},
        {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT, 1, finalPath, named, false},
        {FILE_ATTRIBUTE_DIRECTORY, 1, finalPath, named, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsPlainNamedFile(c.attributes, c.links, c.finalPath, c.requested), c.accepted)
            << c.attributes << " " << c.links << " " << testing::PrintToString(std::wstring(c.requested));
    }
}

TEST_F(BatchFile, LongPathsAndPercentSignsAreNeverCut)
{
    // 1000 characters with many '%': doubled they need far more than 1024.
    std::wstring folder = folder_ + L"\\";
    while (folder.size() < 1000)
        folder += L"%a%\\";
    folder.pop_back();
    for (size_t i = folder_.size() + 1; i <= folder.size(); i++) {
        if (i == folder.size() || folder[i] == L'\\') {
            ASSERT_TRUE(CreateDirectoryW(folder.substr(0, i).c_str(), nullptr));
        }
    }
    std::wstring program = folder + L"\\Uninstall.exe";
    ASSERT_TRUE(WriteBytes(program, "x"));
    wchar_t batchPath[2048];
    ASSERT_TRUE(SelfRemovalBatch(program.c_str(), folder.c_str(), false, batchPath, 2048));
    EXPECT_EQ(std::wstring(batchPath), BatchFilePath());
    std::string bytes;
    ASSERT_TRUE(ReadBytes(BatchFilePath(), bytes));
    std::string doubled;
    for (char c : Narrow(program, CP_OEMCP)) {
        if (c == '%')
            doubled += '%';
        doubled += c;
    }
    std::string warning = "if exist \"" + doubled + "\" \"" + doubled + "\" /warning\r\n";
    EXPECT_NE(bytes.find(warning), std::string::npos);
    EXPECT_EQ(bytes.substr(0, doubled.size() + 10), "\"" + doubled + "\" /wait\r\n");
}

TEST(Startup, SystemLibrariesComeFromTheSystemFolderOnly)
{
    std::wstring folder = MakeScratchFolder(L"program-dll");
    std::wstring planted = folder + L"\\zvx_probe.dll";
    ASSERT_TRUE(CopyFileW((BinDir() + L"\\tests\\zvx_probe.dll").c_str(), planted.c_str(), FALSE));
    std::wstring previous = CurrentDirectory();
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));

    HMODULE before = LoadLibraryW(L"zvx_probe.dll");
    EXPECT_NE(before, nullptr) << "the current directory should be searched before hardening";
    if (before != nullptr)
        FreeLibrary(before);
    HardenDllSearch(true);
    HMODULE after = LoadLibraryW(L"zvx_probe.dll");
    EXPECT_EQ(after, nullptr);
    if (after != nullptr)
        FreeLibrary(after);

    EXPECT_EQ(LoadSystemLibrary(L"zvx_probe.dll"), nullptr);
    HMODULE richEdit = LoadSystemLibrary(L"riched20.dll");
    EXPECT_NE(richEdit, nullptr);
    if (richEdit != nullptr)
        FreeLibrary(richEdit);

    HardenDllSearch(false);
    SetCurrentDirectoryW(previous.c_str());
    RemoveTree(folder);
}

// The settings folder is pointed at a scratch folder through the product's
// Paths\AppData setting, which the test removes again.
class SfxCopy : public testing::Test {
protected:
    void SetUp() override
    {
        HKEY key = nullptr;
        productKeyExisted_ = RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Zorvex", 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (key != nullptr)
            RegCloseKey(key);
        appData_.reset(new RegistryValueGuard(HKEY_CURRENT_USER, L"Software\\Zorvex\\Paths", L"AppData"));
        root_ = MakeScratchFolder(L"program-sfx");
        settings_ = root_ + L"\\settings";
        sfx_ = root_ + L"\\sfx";
        install_ = root_ + L"\\install";
        for (const std::wstring& folder : {settings_, sfx_, install_})
            ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Zorvex\\Paths", 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, L"AppData", 0, REG_SZ, reinterpret_cast<const BYTE*>(settings_.c_str()),
                       static_cast<DWORD>((settings_.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        previous_ = CurrentDirectory();
        ASSERT_TRUE(SetCurrentDirectoryW(install_.c_str()));
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(previous_.c_str());
        appData_.reset();
        if (!productKeyExisted_)
            RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Zorvex");
        RemoveTree(root_);
    }
    std::string Installed()
    {
        std::string bytes;
        return ReadBytes(install_ + L"\\zorvex.ini", bytes) ? bytes : "(none)";
    }

    bool productKeyExisted_ = true;
    std::unique_ptr<RegistryValueGuard> appData_;
    std::wstring root_, settings_, sfx_, install_, previous_;
};

TEST_F(SfxCopy, CopiesFromTheArchiveFolderIntoTheCurrentDirectory)
{
    ASSERT_TRUE(WriteBytes(sfx_ + L"\\zorvex.ini", "from the archive"));
    EnvironmentGuard sfxname(L"sfxname", (sfx_ + L"\\setup.exe").c_str());
    EXPECT_TRUE(CopyFromSfxFolder(L"zorvex.ini"));
    EXPECT_EQ(Installed(), "from the archive");
}

TEST_F(SfxCopy, NeverReplacesAFileAndSkipsWhenTheSettingsFolderHasOne)
{
    ASSERT_TRUE(WriteBytes(sfx_ + L"\\zorvex.ini", "from the archive"));
    EnvironmentGuard sfxname(L"sfxname", (sfx_ + L"\\setup.exe").c_str());
    ASSERT_TRUE(WriteBytes(install_ + L"\\zorvex.ini", "already here"));
    EXPECT_TRUE(CopyFromSfxFolder(L"zorvex.ini"));
    EXPECT_EQ(Installed(), "already here");

    ASSERT_TRUE(DeleteFileW((install_ + L"\\zorvex.ini").c_str()));
    ASSERT_TRUE(WriteBytes(settings_ + L"\\zorvex.ini", "the user's settings"));
    EXPECT_TRUE(CopyFromSfxFolder(L"zorvex.ini"));
    EXPECT_EQ(Installed(), "(none)");
}

TEST_F(SfxCopy, WithoutArchiveOrItsFileNothingIsCopied)
{
    {
        EnvironmentGuard sfxname(L"sfxname", nullptr);
        EXPECT_TRUE(CopyFromSfxFolder(L"zorvex.ini"));
    }
    {
        EnvironmentGuard sfxname(L"sfxname", L"");
        EXPECT_TRUE(CopyFromSfxFolder(L"zorvex.ini"));
    }
    {
        EnvironmentGuard sfxname(L"sfxname", (sfx_ + L"\\setup.exe").c_str());
        EXPECT_FALSE(CopyFromSfxFolder(L"zorvex.ini"));
    }
    {
        // A value too long for the buffer counts as absent, not as a cut path.
        ASSERT_TRUE(WriteBytes(sfx_ + L"\\zorvex.ini", "from the archive"));
        std::wstring tooLong = sfx_ + L"\\" + std::wstring(2100, L'x') + L"\\..\\setup.exe";
        EnvironmentGuard sfxname(L"sfxname", tooLong.c_str());
        EXPECT_TRUE(CopyFromSfxFolder(L"zorvex.ini"));
    }
    EXPECT_EQ(Installed(), "(none)");
}

}  // namespace
