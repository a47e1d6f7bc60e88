// The completion dialog: its folder field, the licence (the language folder's
// copy first) and the home page, which is opened only as a web address. What
// Windows would start for a document or an address is a recording stand-in here.
#include <gtest/gtest.h>

#include "common/localization/language_file.h"
#include "resources/resource.h"
#include "tests/support/dialog_support.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"
#include "tests/support/window_support.h"
#include "uninstall/integration/done_dialog.h"

using namespace testsupport;

namespace {

class DoneDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        DestroyLanguageTable();
        DeleteTree(HKEY_CURRENT_USER, L"Software\\Zorvex\\General");
        folder_ = MakeScratchFolder(L"done-dialog");
        install_ = folder_ + L"\\Zorvex";
        CreateDirectoryW(install_.c_str(), nullptr);
        log_ = folder_ + L"\\opened.log";
        wchar_t current[2048];
        GetCurrentDirectoryW(2048, current);
        oldCurrent_ = current;
        SetCurrentDirectoryW(install_.c_str());
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(oldCurrent_.c_str());
        DestroyLanguageTable();
        DeleteTree(HKEY_CURRENT_USER, L"Software\\Zorvex\\General");
        RemoveTree(folder_);
    }
    std::wstring Recorder() const { return L"\"" + BinDir() + L"\\tests\\zvx_open_recorder.exe\" \"%1\""; }
    HWND Create()
    {
        return CreateDialogParamW(GetModuleHandleW(nullptr), L"DONEDLG", nullptr, DoneDialogProc, 0);
    }

    std::wstring folder_;
    std::wstring install_;
    std::wstring log_;
    std::wstring oldCurrent_;
};

TEST_F(DoneDialog, ShowsTheFolderAndOpensTheLicenceFromTheLanguageFolderFirst)
{
    ASSERT_TRUE(WriteBytes(install_ + L"\\license.txt", "licence"));
    std::wstring languageFolder = folder_ + L"\\Languages";
    CreateDirectoryW(languageFolder.c_str(), nullptr);
    // Text documents open with the stand-in while the test runs.
    ScopedRegString txt(HKEY_CLASSES_ROOT, L".txt", L"", L"ZvxTest.TextDocument");
    ScopedRegString command(HKEY_CLASSES_ROOT, L"ZvxTest.TextDocument\\shell\\open\\command", L"", Recorder());
    ScopedEnvironment logName(L"ZVX_OPEN_LOG", log_.c_str());

    HWND done = Create();
    ASSERT_NE(nullptr, done);
    EXPECT_EQ(install_, ControlText(done, IDC_INSTFOLDER));
    SendMessageW(done, WM_COMMAND, MAKEWPARAM(IDC_VIEWLICENSE, BN_CLICKED), 0);
    std::vector<std::wstring> opened = WaitForLogLines(log_, 1);
    ASSERT_EQ(1u, opened.size());
    EXPECT_NE(std::wstring::npos, opened[0].find(L"\"" + install_ + L"\\license.txt\"")) << opened[0];

    // A language folder without the file changes nothing; with it, its copy wins.
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, L"Software\\Zorvex\\General", L"LanguageFolder", languageFolder));
    SendMessageW(done, WM_COMMAND, MAKEWPARAM(IDC_VIEWLICENSE, BN_CLICKED), 0);
    opened = WaitForLogLines(log_, 2);
    ASSERT_EQ(2u, opened.size());
    EXPECT_NE(std::wstring::npos, opened[1].find(L"\"" + install_ + L"\\license.txt\"")) << opened[1];
    ASSERT_TRUE(WriteBytes(languageFolder + L"\\license.txt", "Lizenz"));
    SendMessageW(done, WM_COMMAND, MAKEWPARAM(IDC_VIEWLICENSE, BN_CLICKED), 0);
    opened = WaitForLogLines(log_, 3);
    ASSERT_EQ(3u, opened.size());
    EXPECT_NE(std::wstring::npos, opened[2].find(L"\"" + languageFolder + L"\\license.txt\"")) << opened[2];

    // Closing through the window's close box ends it like OK.
    EXPECT_EQ(TRUE, DoneDialogProc(done, WM_COMMAND, IDCANCEL, 0));
    DestroyWindow(done);
}

TEST_F(DoneDialog, HomePageOpensOnlyAWebAddress)
{
    ScopedRegString https(HKEY_CLASSES_ROOT, L"https\\shell\\open\\command", L"", Recorder());
    ScopedRegString http(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", L"", Recorder());
    ScopedEnvironment logName(L"ZVX_OPEN_LOG", log_.c_str());
    // A translator's (or an attacker's) program instead of an address.
    std::wstring program = folder_ + L"\\run-me.bat";
    std::wstring marker = folder_ + L"\\ran.txt";
    ASSERT_TRUE(WriteBytes(program, "echo ran > \"" + std::string(marker.begin(), marker.end()) + "\"\r\n"));
    std::wstring lng = folder_ + L"\\uninstall.lng";
    const std::wstring cases[][2] = {
        {program, L"https://www.zorvex.com/"},
        {L"HTTP://zorvex.example/de/", L"HTTP://zorvex.example/de/"},
        {L"https://zorvex.example/he/", L"https://zorvex.example/he/"},
        {L"httpx://zorvex.example/", L"https://www.zorvex.com/"},
    };
    size_t count = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        DestroyLanguageTable();
        ASSERT_TRUE(WriteLanguageFile(lng, L":STRINGS\r\nIDS_HOMEURL \"" + c[0] + L"\"\r\n"));
        LoadLanguageFile(lng.c_str());
        HWND done = Create();
        ASSERT_NE(nullptr, done);
        SendMessageW(done, WM_COMMAND, MAKEWPARAM(IDC_HOMEPAGE, BN_CLICKED), 0);
        DestroyWindow(done);
        std::vector<std::wstring> opened = WaitForLogLines(log_, ++count);
        ASSERT_EQ(count, opened.size());
        EXPECT_NE(std::wstring::npos, opened.back().find(c[1])) << opened.back();
    }
    Sleep(500);
    EXPECT_FALSE(Exists(marker));
}

}  // namespace
