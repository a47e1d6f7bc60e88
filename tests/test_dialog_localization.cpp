// The dialogs translated, resized and mirrored by a language file, and their
// help keys, on real dialogs created from this executable's own templates.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "common/localization/dialog_localization.h"
#include "common/localization/help.h"
#include "common/localization/language_file.h"
#include "common/localization/messages.h"
#include "resources/resource.h"
#include "tests/support/dialog_support.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"
#include "tests/support/window_support.h"
#include "uninstall/integration/context_items_dialog.h"
#include "uninstall/integration/done_dialog.h"
#include "uninstall/integration/setup_dialog.h"

using namespace testsupport;

namespace {

// What a dialog looked like when WM_INITDIALOG arrived, before the filter ran.
struct Geometry {
    RECT Window = {};
    RECT Client = {};
    POINT ClientOrigin = {};  // screen position of the client area's corner
    std::map<int, RECT> Children;  // screen rectangles by control id
};

const wchar_t* FilterDialogName = L"SETUPDLG";
const wchar_t* FilterHelpTopic = nullptr;
Geometry Before;

BOOL CALLBACK RecordChild(HWND child, LPARAM)
{
    RECT r;
    GetWindowRect(child, &r);
    Before.Children[GetDlgCtrlID(child)] = r;
    return TRUE;
}

INT_PTR CALLBACK FilterOnlyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        Before = Geometry();
        GetWindowRect(window, &Before.Window);
        GetClientRect(window, &Before.Client);
        ClientToScreen(window, &Before.ClientOrigin);
        EnumChildWindows(window, RecordChild, 0);
    }
    if (DialogMessageFilter(window, message, wParam, lParam, FilterDialogName, FilterHelpTopic))
        return TRUE;
    return message == WM_INITDIALOG;
}

// A hidden, modeless instance of the template through the filter alone.
HWND CreateFiltered(const wchar_t* name)
{
    LoadRichEdit();
    FilterDialogName = name;
    return CreateDialogParamW(GetModuleHandleW(nullptr), name, nullptr, FilterOnlyProc, 0);
}

RECT ChildClientRect(HWND dialog, int id)
{
    RECT r = {};
    HWND child = GetDlgItem(dialog, id);
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

class DialogLocalization : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = MakeScratchFolder(L"dialog-localization");
        DestroyLanguageTable();
    }
    void TearDown() override
    {
        DestroyLanguageTable();
        RemoveTree(folder_);
    }
    void LoadLanguage(const std::wstring& body)
    {
        DestroyLanguageTable();
        std::wstring path = folder_ + L"\\uninstall.lng";
        ASSERT_TRUE(WriteLanguageFile(path, body));
        LoadLanguageFile(path.c_str());
        ASSERT_GT(LanguageEntryCount(), 0u);
    }

    std::wstring folder_;
};

TEST_F(DialogLocalization, TextsCaptionAndSizeChangeTheDialogByTheExactArithmetic)
{
    LoadLanguage(L":DIALOG SETUPDLG\r\n"
                 L"CAPTION \"Zorvex-Einrichtung\"\r\n"
                 L"SIZE 120*110\r\n"
                 L"IDC_ASSOCWITH \"Zorvex verkn\x00FCpfen mit\"\r\n"
                 L"IDOK Weiter\r\n"
                 L"IDC_UNKNOWN \"never used\"\r\n"
                 L":DIALOG DONEDLG\r\n"
                 L"IDOK \"Fertig\"\r\n");
    HWND dialog = CreateFiltered(L"SETUPDLG");
    ASSERT_NE(nullptr, dialog);

    EXPECT_EQ(L"Zorvex-Einrichtung", WindowText(dialog));
    EXPECT_EQ(L"Zorvex verkn\x00FCpfen mit", ControlText(dialog, IDC_ASSOCWITH));
    EXPECT_EQ(L"Weiter", ControlText(dialog, IDOK));
    // Controls the file does not translate keep their template texts; another
    // dialog's keys do not leak in.
    EXPECT_EQ(L"ZIP", ControlText(dialog, IDC_ASSOCZIP));
    EXPECT_EQ(L"Help", ControlText(dialog, IDHELP));

    // The client area: width * 120 / 100 and height * 110 / 100, plus the one
    // pixel that the +1 of the outer size adds.
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(Before.Client.right * 120 / 100 + 1, client.right);
    EXPECT_EQ(Before.Client.bottom * 110 / 100 + 1, client.bottom);

    // DS_CENTER: the centre stays where it was (within the halving's rounding).
    RECT window;
    GetWindowRect(dialog, &window);
    EXPECT_NEAR(Before.Window.left + Before.Window.right, window.left + window.right, 2);
    EXPECT_NEAR(Before.Window.top + Before.Window.bottom, window.top + window.bottom, 2);

    // A child: position and size scaled from the dialog's outer rectangle.
    int outerW = Before.Window.right - Before.Window.left + 1;
    int outerH = Before.Window.bottom - Before.Window.top + 1;
    int extraW = outerW - Before.Client.right;
    int extraH = outerH - Before.Client.bottom;
    int topOffset = extraH - GetSystemMetrics(SM_CYDLGFRAME);
    for (int id : {IDC_SHELLINTEGRATION, IDC_LINKPROGRAMS, IDHELP}) {
        SCOPED_TRACE(id);
        const RECT& r = Before.Children[id];
        RECT now = ChildClientRect(dialog, id);
        int x = (r.left - extraW / 2 - Before.Window.left) * 120 / 100;
        int y = (r.top - topOffset - Before.Window.top) * 110 / 100;
        EXPECT_EQ(x, now.left);
        EXPECT_EQ(y, now.top);
        EXPECT_EQ((r.right - r.left + 1) * 120 / 100, now.right - now.left);
        EXPECT_EQ((r.bottom - r.top + 1) * 110 / 100, now.bottom - now.top);
        // And in plain terms: about 120 % as far from the left edge as before.
        EXPECT_NEAR((r.left - Before.ClientOrigin.x) * 1.2, now.left, 3.0);
        EXPECT_NEAR((r.top - Before.ClientOrigin.y) * 1.1, now.top, 3.0);
    }
    DestroyWindow(dialog);
}

TEST_F(DialogLocalization, WidthOnlySizeAndCaptionWithoutSize)
{
    LoadLanguage(L":DIALOG DONEDLG\r\nSIZE 120*100\r\n:DIALOG SETUPCONTEXTITEMS\r\nCAPTION Kontextmen\x00FC\r\n");
    HWND done = CreateFiltered(L"DONEDLG");
    ASSERT_NE(nullptr, done);
    RECT client;
    GetClientRect(done, &client);
    EXPECT_EQ(Before.Client.right * 120 / 100 + 1, client.right);
    EXPECT_EQ(Before.Client.bottom + 1, client.bottom);
    DestroyWindow(done);

    HWND items = CreateFiltered(L"SETUPCONTEXTITEMS");
    ASSERT_NE(nullptr, items);
    EXPECT_EQ(L"Kontextmen\x00FC", WindowText(items));
    GetClientRect(items, &client);
    EXPECT_EQ(Before.Client.right, client.right);
    EXPECT_EQ(Before.Client.bottom, client.bottom);
    DestroyWindow(items);
}

TEST_F(DialogLocalization, MalformedOrAbsurdSizeChangesNothing)
{
    // The last two would overflow the arithmetic on a large screen.
    const wchar_t* forms[] = {L"100*100", L"0*120",   L"120",      L"120 * 110", L"\" 120*110\"", L"120*",
                              L"*110",    L"-120*110", L"120*-110", L"abc*def",   L"1001*110",     L"120*50000"};
    for (const wchar_t* form : forms) {
        SCOPED_TRACE(form);
        LoadLanguage(std::wstring(L":DIALOG SETUPDLG\r\nCAPTION Probe\r\nSIZE ") + form + L"\r\n");
        int w = -1;
        int h = -1;
        EXPECT_FALSE(GetDialogScale(L"SETUPDLG", w, h));
        HWND dialog = CreateFiltered(L"SETUPDLG");
        ASSERT_NE(nullptr, dialog);
        EXPECT_EQ(L"Probe", WindowText(dialog));
        RECT client;
        GetClientRect(dialog, &client);
        EXPECT_EQ(Before.Client.right, client.right);
        EXPECT_EQ(Before.Client.bottom, client.bottom);
        RECT ok = ChildClientRect(dialog, IDOK);
        EXPECT_EQ(Before.Children[IDOK].left - Before.ClientOrigin.x, ok.left);
        DestroyWindow(dialog);
    }
    LoadLanguage(L":DIALOG SETUPDLG\r\nSIZE 1000*35\r\n");
    int w = 0;
    int h = 0;
    EXPECT_TRUE(GetDialogScale(L"SETUPDLG", w, h));
    EXPECT_EQ(1000, w);
    EXPECT_EQ(35, h);
}

TEST_F(DialogLocalization, RightToLeftMirrorsEveryDialogAndScalingKeepsItsLayout)
{
    LoadLanguage(L":DIRECTION RTL\r\n:DIALOG SETUPDLG\r\nSIZE 120*110\r\n");
    ASSERT_TRUE(RightToLeft());
    for (const wchar_t* name : {L"SETUPDLG", L"SETUPCONTEXTITEMS", L"DONEDLG"}) {
        SCOPED_TRACE(name);
        HWND dialog = CreateFiltered(name);
        ASSERT_NE(nullptr, dialog);
        EXPECT_NE(0, GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_LAYOUTRTL);
        DestroyWindow(dialog);
    }

    // Mirrored, OK sits at the left; scaled, it must stay there, its distance
    // from the client's right edge grown by a fifth.
    HWND dialog = CreateFiltered(L"SETUPDLG");
    ASSERT_NE(nullptr, dialog);
    RECT client;
    GetClientRect(dialog, &client);
    RECT ok;
    GetWindowRect(GetDlgItem(dialog, IDOK), &ok);
    RECT window;
    GetWindowRect(dialog, &window);
    int clientRightBefore = Before.Window.right - (Before.Window.right - Before.Window.left - Before.Client.right) / 2;
    int distanceBefore = clientRightBefore - Before.Children[IDOK].right;
    int clientRightNow = window.right - (window.right - window.left - client.right) / 2;
    int distanceNow = clientRightNow - ok.right;
    EXPECT_NEAR(distanceBefore * 1.2, distanceNow, 3.0);
    int middle = (window.left + window.right) / 2;
    EXPECT_LT(ok.right, middle) << "the mirrored layout was flipped back";
    DestroyWindow(dialog);
}

// Help runs in a child process: the stand-in help control must be in place
// (and Wine told to use it) before the process first loads it.
bool IsHelpChild()
{
    wchar_t value[8];
    DWORD length = GetEnvironmentVariableW(L"ZVX_DIALOG_HELP_CHILD", value, 8);
    return length > 0 && length < 8;
}

std::wstring SelfPath()
{
    wchar_t path[4096];
    DWORD length = GetModuleFileNameW(nullptr, path, 4096);
    return std::wstring(path, length);
}

std::wstring HelpLog()
{
    return L"C:\\zvx-tests\\dialog-help.log";
}

std::vector<std::wstring> HelpCalls()
{
    return ReadLogLines(HelpLog());
}

// Runs this executable's DialogHelpChild tests in a child with the recording
// help control installed; returns the child's exit code.
int RunHelpChild(const std::wstring& exe, const std::wstring& filter)
{
    ScopedSystemFile control(L"hhctrl.ocx", BinDir() + L"\\tests\\hhctrl.ocx");
    if (!control.Installed())
        return -100;
    // Wine reads a child's DLL overrides from the registry, not from the
    // environment its parent gives it.
    ScopedRegString native(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"hhctrl.ocx", L"native");
    ScopedEnvironment l(L"ZVX_HHCTRL_LOG", HelpLog().c_str());
    ScopedEnvironment c(L"ZVX_DIALOG_HELP_CHILD", L"1");
    ChildProcess child;
    if (!child.Start(exe, L"--gtest_color=no --gtest_filter=DialogHelpChild." + filter))
        return -101;
    return child.Wait(120000);
}

class DialogHelp : public ::testing::Test {
protected:
    void SetUp() override
    {
        MakeScratchFolder(L"dialog-help");
        DeleteFileW(HelpLog().c_str());
        DeleteTree(HKEY_CURRENT_USER, L"Software\\Zorvex\\General");
    }
    void TearDown() override
    {
        DeleteFileW(HelpLog().c_str());
        DeleteTree(HKEY_CURRENT_USER, L"Software\\Zorvex\\General");
        RemoveTree(L"C:\\zvx-tests\\dialog-help");
    }
};

TEST_F(DialogHelp, DialogsOpenTheirTopicsBesideTheProgram)
{
    ASSERT_EQ(0, RunHelpChild(SelfPath(), L"TopicsBesideTheProgram"));
    std::wstring exe = SelfPath();
    std::wstring chm = exe.substr(0, exe.rfind(L'\\') + 1) + L"zorvex.chm";
    std::vector<std::wstring> calls = HelpCalls();
    ASSERT_EQ(4u, calls.size());
    // The Help button, then F1, of the setup dialog; the completion dialog's
    // F1 adds nothing; its help button opens the contents.
    EXPECT_EQ(L"0\tdesktop\t" + chm + L"::/html/HELPIntegrationSettings.htm", calls[0]);
    EXPECT_EQ(calls[0], calls[1]);
    EXPECT_EQ(L"0\tdesktop\t" + chm + L"::/html/HELPContextItems.htm", calls[2]);
    EXPECT_EQ(L"1\tdesktop\t" + chm, calls[3]);
}

TEST_F(DialogHelp, LanguageFolderCopyOfTheHelpFileWins)
{
    std::wstring languageFolder = MakeScratchFolder(L"dialog-help\\lang");
    ASSERT_TRUE(WriteBytes(languageFolder + L"\\zorvex.chm", "ITSF"));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, L"Software\\Zorvex\\General", L"LanguageFolder", languageFolder));
    ASSERT_EQ(0, RunHelpChild(SelfPath(), L"ContentsOnly"));
    std::vector<std::wstring> calls = HelpCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(L"1\tdesktop\t" + languageFolder + L"\\zorvex.chm", calls[0]);
}

TEST_F(DialogHelp, FolderOutsideTheAnsiCodePageIsRetriedOnceThroughItsShortPath)
{
    // Greek omega: not in code page 1252.
    std::wstring folder = MakeScratchFolder(L"dialog-help\\Hilfe \x03A9 folder");
    std::wstring exe = folder + L"\\dialogs_tests.exe";
    ASSERT_TRUE(CopyFileW(SelfPath().c_str(), exe.c_str(), FALSE));
    wchar_t shortFolder[2048];
    DWORD length = GetShortPathNameW(folder.c_str(), shortFolder, 2048);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, 2048u);
    ASSERT_EQ(0, RunHelpChild(exe, L"RetryThroughShortPath"));
    std::vector<std::wstring> calls = HelpCalls();
    ASSERT_EQ(3u, calls.size());
    EXPECT_EQ(L"0\tdesktop\t" + folder + L"\\zorvex.chm::/html/HELPIntegrationSettings.htm", calls[0]);
    EXPECT_EQ(L"0\tdesktop\t" + std::wstring(shortFolder) + L"\\zorvex.chm::/html/HELPIntegrationSettings.htm",
              calls[1]);
    // The short path is kept; a later failure is not retried again.
    EXPECT_EQ(L"0\tdesktop\t" + std::wstring(shortFolder) + L"\\zorvex.chm::/html/FAIL.htm", calls[2]);
}

// --- the child side of the help tests ---

class DialogHelpChild : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!IsHelpChild())
            GTEST_SKIP() << "runs only as the child of the DialogHelp tests";
    }
};

HELPINFO F1Info(HWND control)
{
    HELPINFO info = {};
    info.cbSize = sizeof info;
    info.iContextType = HELPINFO_WINDOW;
    info.iCtrlId = GetDlgCtrlID(control);
    info.hItemHandle = control;
    return info;
}

TEST_F(DialogHelpChild, TopicsBesideTheProgram)
{
    LoadRichEdit();
    // The real dialog procedures, so that nothing between the filter and the
    // dialog's own handling can swallow or repeat a help request.
    HWND setup = CreateDialogParamW(GetModuleHandleW(nullptr), L"SETUPDLG", nullptr, SetupDialogProc, 0);
    ASSERT_NE(nullptr, setup);
    SendMessageW(setup, WM_COMMAND, MAKEWPARAM(IDHELP, BN_CLICKED), 0);
    ASSERT_EQ(1u, HelpCalls().size());
    HELPINFO info = F1Info(GetDlgItem(setup, IDC_ASSOCZIP));
    EXPECT_EQ(TRUE, SetupDialogProc(setup, WM_HELP, 0, reinterpret_cast<LPARAM>(&info)));
    ASSERT_EQ(2u, HelpCalls().size());
    DestroyWindow(setup);

    HWND items =
        CreateDialogParamW(GetModuleHandleW(nullptr), L"SETUPCONTEXTITEMS", nullptr, ContextItemsDialogProc, 1);
    ASSERT_NE(nullptr, items);
    info = F1Info(GetDlgItem(items, IDC_CONTEXTTEST));
    EXPECT_EQ(TRUE, ContextItemsDialogProc(items, WM_HELP, 0, reinterpret_cast<LPARAM>(&info)));
    ASSERT_EQ(3u, HelpCalls().size());
    DestroyWindow(items);

    // The completion dialog has no topic: F1 is handled and opens nothing, its
    // help button opens the contents.
    HWND done = CreateDialogParamW(GetModuleHandleW(nullptr), L"DONEDLG", nullptr, DoneDialogProc, 0);
    ASSERT_NE(nullptr, done);
    info = F1Info(GetDlgItem(done, IDOK));
    EXPECT_EQ(TRUE, DoneDialogProc(done, WM_HELP, 0, reinterpret_cast<LPARAM>(&info)));
    EXPECT_EQ(3u, HelpCalls().size());
    SendMessageW(done, WM_COMMAND, MAKEWPARAM(IDC_VIEWHELP, BN_CLICKED), 0);
    EXPECT_EQ(4u, HelpCalls().size());
    DestroyWindow(done);
}

TEST_F(DialogHelpChild, ContentsOnly)
{
    ShowHelp(nullptr, nullptr);
}

TEST_F(DialogHelpChild, RetryThroughShortPath)
{
    ShowHelp(nullptr, L"HELPIntegrationSettings");
    ShowHelp(nullptr, L"FAIL");
}

}  // namespace
