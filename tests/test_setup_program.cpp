// Setup mode of the real Uninstall.exe, started as a child process in a scratch
// install folder: silent runs with the installer's init text, and interactive
// runs whose dialogs the test drives through window messages.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <ctime>
#include <set>
#include <string>

#include "resources/resource.h"
#include "tests/support/change_log_support.h"
#include "tests/support/deployment_support.h"
#include "tests/support/dialog_support.h"
#include "tests/support/integration_support.h"
#include "tests/support/language_support.h"
#include "tests/support/program_support.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"
#include "tests/support/window_support.h"
#include "uninstall/integration/associations.h"

using namespace testsupport;

namespace {

const wchar_t kSettings[] = L"Software\\Zorvex";
const wchar_t kSetup[] = L"Software\\Zorvex\\Setup";
const wchar_t kUninstallEntry[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zorvex archiver";
const wchar_t kRegisteredApplications[] = L"Software\\RegisteredApplications";
const wchar_t kAppPaths[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Zorvex.exe";
const wchar_t* const kPrimaries[] = {L".zvx", L".zip", L".cab", L".arj", L".lz",   L".lzh", L".7z",   L".tar",
                                     L".gz",  L".uue", L".bz2", L".jar", L".iso",  L".z",   L".xz",   L".zipx",
                                     L".zst", L".001"};

long long SetFlag(const wchar_t* primary)
{
    return DwordOf(HKEY_CURRENT_USER, (std::wstring(kSetup) + L"\\" + primary).c_str(), L"Set");
}

// Visible top-level windows of other processes whose title names the folder:
// how an Explorer window opened on the program group shows itself.
std::vector<HWND> FolderWindows(const std::wstring& name)
{
    struct State {
        std::wstring name;
        std::vector<HWND> found;
    } state{name, {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<State*>(param);
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (pid == GetCurrentProcessId() || !IsWindowVisible(window))
                return TRUE;
            std::wstring title = WindowText(window);
            if (!title.empty() && title.find(s->name) != std::wstring::npos)
                s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&state));
    return state.found;
}

// The keys that setup may make: every extension of the table, the volumes,
// .ace and .rev, the program identifiers, and the parents of the shell
// extension's handlers, which the removal leaves (empty) on purpose.
std::vector<std::wstring> ClassKeysSetupMakes()
{
    std::vector<std::wstring> keys = {L".ace",
                                      L".rev",
                                      L"Zorvex",
                                      L"Zorvex.ZIP",
                                      L"Zorvex.REV",
                                      L"Drive\\shellex",
                                      L"Drive\\shellex\\DragDropHandlers",
                                      L"exefile\\shellex",
                                      L"exefile\\shellex\\PropertySheetHandlers",
                                      L"folder\\shellex",
                                      L"folder\\shellex\\DragDropHandlers"};
    for (const AssociationRow& row : AssociationTable) {
        const wchar_t* position = row.Extensions;
        wchar_t ext[50];
        while (NextExtension(position, ext, 50))
            keys.push_back(ext);
    }
    for (int i = 0; i < 30; ++i) {
        wchar_t volume[8];
        swprintf(volume, 8, L".r%02d", i);
        keys.push_back(volume);
    }
    return keys;
}

class SetupProgram : public ::testing::Test {
protected:
    // Shortcuts must not reach the host's menus, whatever the environment says.
    ScopedRegString menuBuilder_{HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"winemenubuilder.exe", L""};

    void SetUp() override
    {
        Clean();
        for (const std::wstring& key : ClassKeysSetupMakes()) {
            if (!HasKey(HKEY_CLASSES_ROOT, key.c_str()))
                absentClassKeys_.push_back(key);
        }
        hadRegisteredApplications_ = HasKey(HKEY_LOCAL_MACHINE, kRegisteredApplications);
        install_ = MakeScratchFolder(L"setup-program") + L"\\Zorvex";
        CreateDirectoryW(install_.c_str(), nullptr);
        program_ = install_ + L"\\Uninstall.exe";
        ASSERT_TRUE(CopyFileW((BinDir() + L"\\Uninstall.exe").c_str(), program_.c_str(), FALSE));
        // Something for the shortcuts to point at; never started by these tests.
        ASSERT_TRUE(
            CopyFileW((BinDir() + L"\\tests\\zvx_open_recorder.exe").c_str(), (install_ + L"\\Zorvex.exe").c_str(),
                      FALSE));
        ASSERT_TRUE(WriteBytes(install_ + L"\\Uninstall.lst", ""));
        // .ace bound to the product earlier, with the record of its former owner.
        ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, L".ace", L"", L"Zorvex"));
        ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.ace", L"Exist", 1));
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.ace", L"Type", L"OtherAce"));
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.ace", L"ShellNew", L""));
    }
    void TearDown() override
    {
        for (HWND window : FolderWindows(L"Zorvex"))
            PostMessageW(window, WM_CLOSE, 0, 0);
        // The program's own removal gives the extensions back and deletes the
        // shortcuts; -msi keeps the files, which the test removes itself.
        if (Exists(program_))
            RunProcess(program_, L"-s -msi", 60000, install_.c_str());
        // Whatever the removal left of keys that were not there before goes too.
        for (const std::wstring& key : absentClassKeys_)
            DeleteTree(HKEY_CLASSES_ROOT, key.c_str());
        if (!hadRegisteredApplications_)
            DeleteTree(HKEY_LOCAL_MACHINE, kRegisteredApplications);
        Clean();
        RemoveTree(L"C:\\zvx-tests\\setup-program");
    }
    static void Clean()
    {
        DeleteTree(HKEY_CURRENT_USER, kSettings);
        DeleteTree(HKEY_LOCAL_MACHINE, kSettings);
        DeleteTree(HKEY_LOCAL_MACHINE, kUninstallEntry);
        DeleteTree(HKEY_LOCAL_MACHINE, kAppPaths);
        DeleteTree(HKEY_CLASSES_ROOT, L".ace");
    }
    int RunSilent(const std::wstring& arguments)
    {
        return RunProcess(program_, arguments, 120000, install_.c_str());
    }
    // Starts an interactive run and waits for its first dialog.
    HWND StartInteractive(ChildProcess& child, const std::wstring& arguments)
    {
        if (!child.Start(program_, arguments, install_.c_str()))
            return nullptr;
        return WaitForProcessWindow(child, L"#32770", 60000);
    }
    // Waits until the process shows a dialog other than previous.
    static HWND WaitForNextDialog(const ChildProcess& child, HWND previous, DWORD timeoutMs)
    {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < timeoutMs) {
            for (HWND window : ProcessWindows(child.Id(), L"#32770")) {
                if (window != previous)
                    return window;
            }
            if (WaitForSingleObject(child.Handle(), 0) == WAIT_OBJECT_0)
                return nullptr;
            Sleep(50);
        }
        return nullptr;
    }
    static void Click(HWND dialog, int id)
    {
        SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
    }
    // A language library with strings and no dialog template beside the program.
    void PlaceStringsOnlyLibrary()
    {
        ASSERT_TRUE(CopyFileW(TestLanguageLibrary(false).c_str(), (install_ + L"\\zvxlng.dll").c_str(), FALSE));
    }

    std::wstring install_;
    std::wstring program_;
    std::vector<std::wstring> absentClassKeys_;
    bool hadRegisteredApplications_ = true;
};

TEST_F(SetupProgram, SilentRunsApplyTheInitTextOverTheSavedChoices)
{
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.cab", L"Set", 0));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.zvx", L"Set", 0));

    // A1S1: the zvx row and the shell extension on, the rest as saved.
    EXPECT_EQ(0, RunSilent(L"-setup -s -initA1S1"));
    EXPECT_EQ(1, SetFlag(L".zvx"));
    EXPECT_EQ(1, SetFlag(L".zip"));
    EXPECT_EQ(0, SetFlag(L".cab"));
    EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, kSetup, L"ShellExt"));
    EXPECT_EQ(L"Zorvex", StringOf(HKEY_CLASSES_ROOT, L".zvx", L""));
    EXPECT_EQ(L"Zorvex.ZIP", StringOf(HKEY_CLASSES_ROOT, L".zip", L""));
    EXPECT_NE(L"Zorvex", StringOf(HKEY_CLASSES_ROOT, L".cab", L""));
    EXPECT_EQ(program_, StringOf(HKEY_LOCAL_MACHINE, kUninstallEntry, L"UninstallString"));
    EXPECT_EQ(install_ + L"\\Zorvex.exe", StringOf(HKEY_LOCAL_MACHINE, kAppPaths, L""));
    // .ace went back to the program that owned it before.
    EXPECT_EQ(L"OtherAce", StringOf(HKEY_CLASSES_ROOT, L".ace", L""));
    // A silent run leaves no window and opens no folder.
    EXPECT_TRUE(FolderWindows(L"Zorvex").empty());

    // A110D1S0: zvx and zip on, cab off, a desktop shortcut, no shell extension.
    EXPECT_EQ(0, RunSilent(L"-setup -s -initA110D1S0"));
    EXPECT_EQ(1, SetFlag(L".zvx"));
    EXPECT_EQ(1, SetFlag(L".zip"));
    EXPECT_EQ(0, SetFlag(L".cab"));
    EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\Links", L"Desktop"));
    EXPECT_EQ(0, DwordOf(HKEY_CURRENT_USER, kSetup, L"ShellExt"));

    // Twenty digits cover every row (and the two spare flags); the pair after
    // them is read as the next letter.
    EXPECT_EQ(0, RunSilent(L"-setup -s -initA00000000000000000000D0"));
    for (const wchar_t* primary : kPrimaries)
        EXPECT_EQ(0, SetFlag(primary)) << primary;
    EXPECT_EQ(0, DwordOf(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\Links", L"Desktop"));
    EXPECT_NE(L"Zorvex", StringOf(HKEY_CLASSES_ROOT, L".zvx", L""));
}

// As a deployment tool starts it: as SYSTEM in session 0, where nobody sees the
// dialog. Setup presses OK by itself, as with -s, and shows no completion dialog
// that nobody could close.
TEST_F(SetupProgram, AWindowStationNobodySeesMakesSetupApplyWithoutAnyone)
{
    HiddenStation station(L"zvx-setup-station");
    ASSERT_TRUE(station.Made());
    std::wstring log = install_ + L"\\..\\setup.log";
    ChildProcess child;
    ASSERT_TRUE(child.StartOnDesktop(program_, L"-setup -initA1S1 -exitcodes=msi \"-log=" + log + L"\"",
                                     station.Desktop(), install_.c_str()));
    EXPECT_EQ(0, child.Wait(120000));
    EXPECT_EQ(1, SetFlag(L".zvx"));
    EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, kSetup, L"ShellExt"));
    EXPECT_EQ(program_, StringOf(HKEY_LOCAL_MACHINE, kUninstallEntry, L"UninstallString"));
    std::vector<LogLine> lines = ReadChangeLog(log);
    ASSERT_FALSE(LinesOf(lines, "note").empty());
    EXPECT_NE(LinesOf(lines, "note")[0].Texts[0].find(L"shows no window"), std::wstring::npos);
    EXPECT_TRUE(LinesOf(lines, "message-box").empty());
    ASSERT_EQ(LinesOf(lines, "result").size(), 1u);
    EXPECT_EQ(LinesOf(lines, "result")[0].Raw, "result ok 0");
}

TEST_F(SetupProgram, CancelEndsWithOneAndSavesNothing)
{
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.arj", L"Set", 0));
    ChildProcess child;
    HWND setup = StartInteractive(child, L"-setup");
    ASSERT_NE(nullptr, setup);
    EXPECT_EQ(L"Zorvex Setup", WindowText(setup));
    EXPECT_NE(std::wstring::npos, ControlText(setup, IDC_SETUPHELPTEXT).find(L"archive types"));

    // One type unchecked: the toggle checks all; then it clears all.
    EXPECT_FALSE(IsChecked(setup, IDC_ASSOCARJ));
    Click(setup, IDC_ASSOCALL);
    for (int id = IDC_ASSOCZVX; id <= IDC_ASSOC001; ++id)
        EXPECT_TRUE(IsChecked(setup, id)) << id;
    Click(setup, IDC_ASSOCALL);
    for (int id = IDC_ASSOCZVX; id <= IDC_ASSOC001; ++id)
        EXPECT_FALSE(IsChecked(setup, id)) << id;

    // Clearing the shell extension disables the boxes that depend on it and
    // keeps their state.
    bool icons = IsChecked(setup, IDC_SHELLICONS);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(setup, IDC_SHELLICONS)));
    Click(setup, IDC_SHELLEXT);
    EXPECT_FALSE(IsChecked(setup, IDC_SHELLEXT));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(setup, IDC_SHELLICONS)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(setup, IDC_SHELLCASCADED)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(setup, IDC_SHELLLEGACYMENU)));
    EXPECT_EQ(icons, IsChecked(setup, IDC_SHELLICONS));

    // The close box cancels.
    PostMessageW(setup, WM_CLOSE, 0, 0);
    EXPECT_EQ(1, child.Wait(30000));
    EXPECT_EQ(-1, SetFlag(L".zvx"));
    EXPECT_EQ(-1, DwordOf(HKEY_CURRENT_USER, kSetup, L"ShellExt"));
    EXPECT_FALSE(HasKey(HKEY_LOCAL_MACHINE, kUninstallEntry));
    EXPECT_FALSE(HasKey(HKEY_LOCAL_MACHINE, kAppPaths));
    EXPECT_EQ(L"Zorvex", StringOf(HKEY_CLASSES_ROOT, L".ace", L""));
}

TEST_F(SetupProgram, OkSavesAppliesShowsCompletionAndOpensTheProgramGroup)
{
    ChildProcess child;
    HWND setup = StartInteractive(child, L"-setup");
    ASSERT_NE(nullptr, setup);
    ASSERT_TRUE(IsChecked(setup, IDC_ASSOCZIP));
    Click(setup, IDC_ASSOCZIP);
    Click(setup, IDC_LINKPROGRAMS);
    if (!IsChecked(setup, IDC_LINKPROGRAMS))
        Click(setup, IDC_LINKPROGRAMS);
    ASSERT_TRUE(PressButton(setup, IDOK));

    HWND done = WaitForNextDialog(child, setup, 60000);
    ASSERT_NE(nullptr, done);
    EXPECT_EQ(install_, ControlText(done, IDC_INSTFOLDER));
    EXPECT_EQ(0, SetFlag(L".zip"));
    EXPECT_EQ(1, SetFlag(L".zvx"));
    EXPECT_EQ(L"Zorvex", StringOf(HKEY_CLASSES_ROOT, L".zvx", L""));
    EXPECT_NE(L"Zorvex.ZIP", StringOf(HKEY_CLASSES_ROOT, L".zip", L""));
    EXPECT_EQ(program_, StringOf(HKEY_LOCAL_MACHINE, kUninstallEntry, L"UninstallString"));
    EXPECT_EQ(L"OtherAce", StringOf(HKEY_CLASSES_ROOT, L".ace", L""));
    ASSERT_TRUE(PressButton(done, IDOK));
    EXPECT_EQ(0, child.Wait(30000));

    // Explorer shows the program group.
    DWORD start = GetTickCount();
    while (FolderWindows(L"Zorvex").empty() && GetTickCount() - start < 20000)
        Sleep(200);
    EXPECT_FALSE(FolderWindows(L"Zorvex").empty());
}

TEST_F(SetupProgram, MsiShowsNoCompletionAndWritesNoUninstallEntry)
{
    ChildProcess child;
    HWND setup = StartInteractive(child, L"-setup -msi");
    ASSERT_NE(nullptr, setup);
    ASSERT_TRUE(PressButton(setup, IDOK));
    EXPECT_EQ(nullptr, WaitForNextDialog(child, setup, 30000));
    EXPECT_EQ(0, child.Wait(30000));
    EXPECT_EQ(1, SetFlag(L".zvx"));
    EXPECT_TRUE(HasKey(HKEY_LOCAL_MACHINE, kAppPaths));
    EXPECT_FALSE(HasKey(HKEY_LOCAL_MACHINE, kUninstallEntry));
    Sleep(3000);
    EXPECT_TRUE(FolderWindows(L"Zorvex").empty());
}

TEST_F(SetupProgram, NoExplorerKeepsTheCompletionDialogButOpensNoFolder)
{
    ChildProcess child;
    HWND setup = StartInteractive(child, L"-setup -noexplorer");
    ASSERT_NE(nullptr, setup);
    ASSERT_TRUE(PressButton(setup, IDOK));
    HWND done = WaitForNextDialog(child, setup, 60000);
    ASSERT_NE(nullptr, done);
    // The window's close box ends it like OK.
    PostMessageW(done, WM_CLOSE, 0, 0);
    EXPECT_EQ(0, child.Wait(30000));
    EXPECT_TRUE(HasKey(HKEY_LOCAL_MACHINE, kUninstallEntry));
    Sleep(3000);
    EXPECT_TRUE(FolderWindows(L"Zorvex").empty());
}

// A library that brings only its strings: the dialogs come from the program,
// and the run does what it was asked to instead of ending at once with 0.
TEST_F(SetupProgram, SilentRunWithAStringsOnlyLibraryStillAppliesEverything)
{
    PlaceStringsOnlyLibrary();
    EXPECT_EQ(0, RunSilent(L"-setup -s -initA1"));
    EXPECT_EQ(1, SetFlag(L".zvx"));
    EXPECT_EQ(L"Zorvex", StringOf(HKEY_CLASSES_ROOT, L".zvx", L""));
    // The file type's description is the library's text.
    EXPECT_EQ(L"LIB archive", StringOf(HKEY_CLASSES_ROOT, L"Zorvex", L""));
    EXPECT_EQ(program_, StringOf(HKEY_LOCAL_MACHINE, kUninstallEntry, L"UninstallString"));
    EXPECT_EQ(install_ + L"\\Zorvex.exe", StringOf(HKEY_LOCAL_MACHINE, kAppPaths, L""));
}

TEST_F(SetupProgram, StringsOnlyLibraryDialogsShowTheLanguageFileAndLibraryTexts)
{
    PlaceStringsOnlyLibrary();
    ASSERT_TRUE(WriteBytes(install_ + L"\\uninstall.lng",
                           "***messages***\r\n"
                           ":DIALOG SETUPDLG\r\nCAPTION Zorvex einrichten\r\nIDC_ASSOCZIP ZIP-Archive\r\n"
                           ":DIALOG SETUPCONTEXTITEMS\r\nCAPTION Kontextmen\xfc\r\n"
                           "IDC_CONTEXTALWAYSARCTITLE Immer f\xfcr diese Dateien (Masken mit ;)\r\n"
                           ":DIALOG DONEDLG\r\nIDOK Fertig\r\n"));
    ChildProcess child;
    HWND setup = StartInteractive(child, L"-setup");
    ASSERT_NE(nullptr, setup) << "no setup dialog";
    EXPECT_EQ(L"Zorvex einrichten", WindowText(setup));
    EXPECT_EQ(L"ZIP-Archive", ControlText(setup, IDC_ASSOCZIP));
    EXPECT_NE(std::wstring::npos, ControlText(setup, IDC_SETUPHELPTEXT).find(L"LIB help on the archive types."));

    ASSERT_TRUE(PressButton(setup, IDC_SETCONTEXTMENU));
    HWND items = WaitForNextDialog(child, setup, 30000);
    ASSERT_NE(nullptr, items) << "no context-menu items dialog";
    EXPECT_EQ(L"Kontextmen\u00fc", WindowText(items));
    EXPECT_EQ(L"Immer f\u00fcr diese Dateien (Masken mit ;)", ControlText(items, IDC_CONTEXTALWAYSARCTITLE));
    ASSERT_TRUE(PressButton(items, IDCANCEL));
    DWORD start = GetTickCount();
    while (IsWindow(items) && GetTickCount() - start < 10000)
        Sleep(50);

    ASSERT_TRUE(PressButton(setup, IDOK));
    HWND done = WaitForNextDialog(child, setup, 60000);
    ASSERT_NE(nullptr, done) << "no completion dialog";
    EXPECT_EQ(L"Fertig", ControlText(done, IDOK));
    EXPECT_EQ(install_, ControlText(done, IDC_INSTFOLDER));
    ASSERT_TRUE(PressButton(done, IDOK));
    EXPECT_EQ(0, child.Wait(30000));
    EXPECT_EQ(program_, StringOf(HKEY_LOCAL_MACHINE, kUninstallEntry, L"UninstallString"));
}

// Today's local date as YYYYMMDD, from the C runtime's clock.
std::wstring LocalDate()
{
    time_t now = time(nullptr);
    wchar_t text[16];
    wcsftime(text, 16, L"%Y%m%d", localtime(&now));
    return text;
}

TEST_F(SetupProgram, TheEntryNamesTheQuietCommandTheSizeTheDateAndTheHomePage)
{
    // The program's copy padded to whole KiB, so that the listed files alone
    // decide how the sum is rounded.
    std::string programBytes;
    ASSERT_TRUE(ReadBytes(program_, programBytes));
    programBytes.resize((programBytes.size() + 1023) / 1024 * 1024, '\0');
    ASSERT_TRUE(WriteBytes(program_, programBytes));
    const long long programKiB = static_cast<long long>(programBytes.size() / 1024);
    ASSERT_TRUE(WriteBytes(install_ + L"\\one.bin", "1"));
    ASSERT_TRUE(WriteBytes(install_ + L"\\kib.bin", std::string(1024, 'k')));
    ASSERT_TRUE(CreateDirectoryW((install_ + L"\\data").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(install_ + L"\\data\\over.bin", std::string(1025, 'o')));
    ASSERT_TRUE(WriteBytes(L"C:\\zvx-tests\\setup-program\\outside.bin", std::string(8192, 'x')));
    // Zorvex.exe lies in the folder but is not listed: it does not count.
    ASSERT_TRUE(WriteBytes(install_ + L"\\Uninstall.lst", "one.bin\r\n"
                                                          "kib.bin\r\n"
                                                          "data\r\n"
                                                          "data\\over.bin\r\n"
                                                          "missing.bin\r\n"
                                                          "..\\outside.bin\r\n"
                                                          "kib.bin\r\n"
                                                          "Uninstall.exe\r\n"));
    // A translated home page is written; the log names every new value.
    ASSERT_TRUE(WriteBytes(install_ + L"\\uninstall.lng",
                           "***messages***\r\n:STRINGS\r\nIDS_HOMEURL \"HTTPS://www.zorvex.de/\"\r\n"));
    std::wstring logs = MakeScratchFolder(L"setup-entry-log");
    std::wstring logPath = logs + L"\\setup.log";
    std::wstring dayBefore = LocalDate();
    {
        EnvironmentGuard log(L"ZORVEX_LOG", logPath.c_str());
        EXPECT_EQ(0, RunSilent(L"-setup -s -initA1"));
    }
    std::wstring dayAfter = LocalDate();

    EXPECT_EQ(L"C:\\zvx-tests\\setup-program\\Zorvex\\Uninstall.exe",
              StringOf(HKEY_LOCAL_MACHINE, kUninstallEntry, L"UninstallString"));
    EXPECT_EQ(L"\"C:\\zvx-tests\\setup-program\\Zorvex\\Uninstall.exe\" -s",
              StringOf(HKEY_LOCAL_MACHINE, kUninstallEntry, L"QuietUninstallString"));
    // one.bin, kib.bin and data\over.bin: 2050 bytes, 3 KiB above the program's.
    EXPECT_EQ(programKiB + 3, DwordOf(HKEY_LOCAL_MACHINE, kUninstallEntry, L"EstimatedSize"));
    std::wstring date = StringOf(HKEY_LOCAL_MACHINE, kUninstallEntry, L"InstallDate");
    EXPECT_TRUE(date == dayBefore || date == dayAfter) << testing::PrintToString(date);
    EXPECT_EQ(L"HTTPS://www.zorvex.de/", StringOf(HKEY_LOCAL_MACHINE, kUninstallEntry, L"URLInfoAbout"));
    std::vector<LogLine> lines = ReadChangeLog(logPath);
    for (const char* name : {"QuietUninstallString", "EstimatedSize", "InstallDate", "URLInfoAbout"}) {
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const LogLine& line) {
            return line.Event == "value-set" && line.Raw.find(std::string("\"") + name + "\"") != std::string::npos &&
                   line.Fields[0] == "ok";
        })) << name;
    }
    RemoveTree(logs);

    // A home page that is no web address is not written, and an earlier one goes.
    ASSERT_TRUE(
        WriteBytes(install_ + L"\\uninstall.lng", "***messages***\r\n:STRINGS\r\nIDS_HOMEURL \"www.zorvex.de\"\r\n"));
    EXPECT_EQ(0, RunSilent(L"-setup -s -initA1"));
    EXPECT_FALSE(HasValue(HKEY_LOCAL_MACHINE, kUninstallEntry, L"URLInfoAbout"));
    EXPECT_EQ(programKiB + 3, DwordOf(HKEY_LOCAL_MACHINE, kUninstallEntry, L"EstimatedSize"));

    // The uninstall deletes them with the entry.
    ChildProcess child;
    ASSERT_TRUE(child.Start(program_, L"-s", install_.c_str()));
    EXPECT_EQ(0, child.Wait(120000));
    EXPECT_TRUE(WaitForProcesses(ChildProcessIds(child.Id(), L"cmd.exe"), 60000));
    EXPECT_FALSE(HasKey(HKEY_LOCAL_MACHINE, kUninstallEntry));
    EXPECT_FALSE(Exists(install_ + L"\\data"));
    EXPECT_TRUE(Exists(L"C:\\zvx-tests\\setup-program\\outside.bin"));
}

TEST_F(SetupProgram, ItsChangeLogNamesEveryChangeAndAPreviewOfSetupChangesNothing)
{
    std::wstring logs = MakeScratchFolder(L"setup-log");
    std::wstring logPath = logs + L"\\setup.log";
    std::vector<std::wstring> registryBefore = ExportMachine();
    std::vector<std::wstring> filesBefore = FolderEntries(install_);
    {
        EnvironmentGuard log(L"ZORVEX_LOG", logPath.c_str());
        EnvironmentGuard preview(L"ZORVEX_PREVIEW", nullptr);
        EXPECT_EQ(0, RunSilent(L"-setup -s -initA11D1S1"));
    }
    std::vector<std::wstring> registryAfter = ExportMachine();
    std::vector<LogLine> lines = ReadChangeLog(logPath);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ("start", lines.front().Event);
    ASSERT_GE(lines.front().Fields.size(), 2u);
    EXPECT_EQ("setup", lines.front().Fields[0]);
    EXPECT_EQ("real", lines.front().Fields[1]);
    ASSERT_EQ(1u, lines.front().Texts.size());
    EXPECT_NE(std::wstring::npos, lines.front().Texts[0].find(L"-setup -s -initA11D1S1"));
    EXPECT_EQ("result ok 0", lines.back().Raw);
    // The registry, replayed from the log, is what the machine shows, and the log
    // names nothing that did not change.
    std::vector<std::wstring> unexplained = UnexplainedRegistryChanges(registryBefore, registryAfter, lines);
    EXPECT_TRUE(unexplained.empty()) << testing::PrintToString(unexplained);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const LogLine& line) {
        return line.Raw == "value-set ok HKLM REG_SZ \"SOFTWARE\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\"
                           "Zorvex archiver\" \"UninstallString\" \"C:\\\\zvx-tests\\\\setup-program\\\\Zorvex\\\\"
                           "Uninstall.exe\"";
    }));
    // Each file setup left in the install folder was written with ok, and each
    // file written with ok, and each shortcut saved, is there.
    std::vector<std::wstring> filesAfter = FolderEntries(install_);
    std::set<std::wstring> written;
    for (const LogLine& line : lines) {
        if ((line.Event == "file-write" || line.Event == "shortcut-save" || line.Event == "folder-create") &&
            line.Fields[0] == "ok") {
            EXPECT_TRUE(Exists(line.Texts[0])) << line.Raw;
            written.insert(line.Texts[0]);
        }
    }
    for (const std::wstring& name : filesAfter) {
        if (std::find(filesBefore.begin(), filesBefore.end(), name) == filesBefore.end()) {
            EXPECT_EQ(1u, written.count(install_ + L"\\" + name)) << testing::PrintToString(name);
        }
    }
    EXPECT_FALSE(LinesOf(lines, "shortcut-save").empty());
    EXPECT_FALSE(LinesOf(lines, "shell-notice").empty());

    // With ZORVEX_PREVIEW=1 setup changes nothing and says why.
    std::wstring previewPath = logs + L"\\preview.log";
    std::vector<std::wstring> registryBeforePreview = ExportMachine();
    {
        EnvironmentGuard log(L"ZORVEX_LOG", previewPath.c_str());
        EnvironmentGuard preview(L"ZORVEX_PREVIEW", L"1");
        EXPECT_EQ(0, RunSilent(L"-setup -s -initA00D0S0"));
    }
    EXPECT_EQ(registryBeforePreview, ExportMachine());
    EXPECT_EQ(filesAfter, FolderEntries(install_));
    std::vector<LogLine> preview = ReadChangeLog(previewPath);
    ASSERT_EQ(3u, preview.size());
    EXPECT_EQ("setup", preview[0].Fields[0]);
    EXPECT_EQ("preview", preview[0].Fields[1]);
    EXPECT_EQ("note \"ZORVEX_PREVIEW=1: setup is not previewed and changes nothing\"", preview[1].Raw);
    EXPECT_EQ("result stopped 0", preview[2].Raw);
    RemoveTree(logs);
}


// The parents of the shell extension's handler keys, which the uninstall leaves
// by design because other programs share them, as the machine export spells them.
bool IsSharedParent(const std::wstring& line)
{
    static const wchar_t* const parents[] = {
        L"HKLM\\Software\\Classes\\Drive",
        L"HKLM\\Software\\Classes\\Drive\\shellex",
        L"HKLM\\Software\\Classes\\Drive\\shellex\\DragDropHandlers",
        L"HKLM\\Software\\Classes\\exefile",
        L"HKLM\\Software\\Classes\\exefile\\shellex",
        L"HKLM\\Software\\Classes\\exefile\\shellex\\PropertySheetHandlers",
        L"HKLM\\Software\\Classes\\folder",
        L"HKLM\\Software\\Classes\\folder\\shellex",
        L"HKLM\\Software\\Classes\\folder\\shellex\\DragDropHandlers",
        L"HKLM\\Software\\RegisteredApplications",
    };
    for (const wchar_t* parent : parents) {
        if (line == L"+ " + std::wstring(parent) + L" |")
            return true;
    }
    return false;
}

// What differs from the export before setup, less the shared parents.
std::vector<std::wstring> LeftBehind(const std::vector<std::wstring>& before)
{
    std::vector<std::wstring> left;
    for (const std::wstring& line : Difference(before, ExportMachine())) {
        // Wine keeps state of its own there (the first window of a session adds keys).
        if (!IsSharedParent(line) && line.compare(2, 19, L"HKCU\\Software\\Wine\\") != 0)
            left.push_back(line);
    }
    return left;
}

const wchar_t kUserShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

class SetupThenUninstall : public SetupProgram {
protected:
    void SetUp() override
    {
        SetupProgram::SetUp();
        // No .ace of an earlier version here: the export before setup is the machine untouched.
        DeleteTree(HKEY_CLASSES_ROOT, L".ace");
        DeleteTree(HKEY_CURRENT_USER, kSettings);
        // A folder of its own, which the uninstall must be able to remove: an
        // Explorer window that an earlier test opened from the other one keeps
        // that one as its current folder, which Wine does not let go.
        install_ = MakeScratchFolder(L"setup-record") + L"\\Zorvex";
        program_ = install_ + L"\\Uninstall.exe";
        ASSERT_TRUE(CreateDirectoryW(install_.c_str(), nullptr));
        ASSERT_TRUE(CopyFileW((BinDir() + L"\\Uninstall.exe").c_str(), program_.c_str(), FALSE));
        ASSERT_TRUE(WriteBytes(install_ + L"\\Zorvex.exe", "stands in for the archiver"));
        ASSERT_TRUE(WriteBytes(install_ + L"\\Uninstall.lst",
                               "Zorvex.exe\r\nzvxnew.dat\r\nzipnew.dat\r\nUninstall.exe\r\nUninstall.lst\r\n"));
    }
    void TearDown() override
    {
        SetupProgram::TearDown();
        RemoveTree(L"C:\\zvx-tests\\setup-record");
    }
    // The silent uninstall, and its batch file's removal of the program and folder.
    void Uninstall(const wchar_t* arguments = L"-s")
    {
        ChildProcess child;
        ASSERT_TRUE(child.Start(program_, arguments, install_.c_str()));
        EXPECT_EQ(0, child.Wait(120000));
        EXPECT_TRUE(WaitForProcesses(ChildProcessIds(child.Id(), L"cmd.exe"), 60000));
        for (int i = 0; i < 100 && Exists(install_); ++i)
            Sleep(100);
    }
};

// Wine keeps one profile, so the account that uninstalls (SYSTEM, under a
// deployment tool) is stood in for by what it would not see: the user's
// Software\Zorvex is gone, and the user's desktop and programs folders point
// elsewhere. Everything setup took and made must still come back. (The user's
// desktop is a folder of the test's during setup too: Wine links the prefix's
// own to the host's home folder, which other test runs share.)
TEST_F(SetupThenUninstall, AnUninstallByAnotherAccountGivesEverythingBack)
{
    // Before setup: .zip belongs to another program and has a new-file entry whose
    // FileName is a number; .7z's owner is expandable text, .cab's binary data.
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, L".zip", L"", L"OtherArc.zip"));
    const DWORD seven = 7;
    ASSERT_TRUE(SetRaw(HKEY_CLASSES_ROOT, L".zip\\ShellNew", L"FileName", REG_DWORD, &seven, 4));
    const wchar_t expandOwner[] = L"%OtherArc%.7z";
    ASSERT_TRUE(SetRaw(HKEY_CLASSES_ROOT, L".7z", L"", REG_EXPAND_SZ, expandOwner, sizeof expandOwner));
    const BYTE binaryOwner[] = {0x01, 0x00, 0xFE};
    ASSERT_TRUE(SetRaw(HKEY_CLASSES_ROOT, L".cab", L"", REG_BINARY, binaryOwner, sizeof binaryOwner));
    const std::wstring profiles = MakeScratchFolder(L"setup-profiles");
    const std::wstring userLink = profiles + L"\\User\\Desktop\\Zorvex.lnk";
    const std::wstring userGroup = ShellFolder(CSIDL_PROGRAMS) + L"\\Zorvex";
    const std::wstring commonGroup = ShellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Zorvex";
    const std::wstring startLink = ShellFolder(CSIDL_COMMON_STARTMENU) + L"\\Zorvex.lnk";
    for (const wchar_t* folder : {L"\\User", L"\\User\\Desktop", L"\\Other", L"\\Other\\Desktop", L"\\Other\\Programs"})
        ASSERT_TRUE(CreateDirectoryW((profiles + folder).c_str(), nullptr));
    const std::vector<std::wstring> before = ExportMachine();
    {
        RegistryValueGuard desktop(HKEY_CURRENT_USER, kUserShellFolders, L"Desktop");
        RegistryValueGuard programs(HKEY_CURRENT_USER, kUserShellFolders, L"Programs");
        RegistryValueGuard desktopSeen(HKEY_CURRENT_USER, kShellFolders, L"Desktop");
        RegistryValueGuard programsSeen(HKEY_CURRENT_USER, kShellFolders, L"Programs");
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kUserShellFolders, L"Desktop", profiles + L"\\User\\Desktop"));
        // The user keeps a shortcut of the product's on their own desktop: setup updates it there.
        ComApartment com;
        IShellLinkW* link = nullptr;
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                               reinterpret_cast<void**>(&link))));
        link->SetPath(L"C:\\Old\\Zorvex.exe");
        IPersistFile* file = nullptr;
        ASSERT_TRUE(SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))));
        EXPECT_TRUE(SUCCEEDED(file->Save(userLink.c_str(), TRUE)));
        file->Release();
        link->Release();

        ASSERT_EQ(0, RunSilent(L"-setup -s -initA1111111D1M1P1S1"));
        ASSERT_EQ(L"Zorvex", StringOf(HKEY_CLASSES_ROOT, L".cab", L""));
        ASSERT_EQ(install_ + L"\\Zorvex.exe", ReadShortcut(userLink).Target);
        ASSERT_TRUE(Exists(userGroup));
        ASSERT_TRUE(Exists(startLink));

        DeleteTree(HKEY_CURRENT_USER, kSettings);
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kUserShellFolders, L"Desktop", profiles + L"\\Other\\Desktop"));
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kUserShellFolders, L"Programs", profiles + L"\\Other\\Programs"));
        Uninstall();
    }

    EXPECT_EQ(std::vector<std::wstring>(), LeftBehind(before));
    EXPECT_FALSE(Exists(userLink));
    EXPECT_FALSE(Exists(userGroup));
    EXPECT_FALSE(Exists(commonGroup));
    EXPECT_FALSE(Exists(startLink));
    EXPECT_FALSE(Exists(install_)) << testing::PrintToString(FolderEntries(install_));
    EXPECT_EQ(std::vector<std::wstring>(), FolderEntries(profiles + L"\\Other\\Desktop"));
    EXPECT_EQ(std::vector<std::wstring>(), FolderEntries(profiles + L"\\Other\\Programs"));
    RemoveTree(profiles);
}

// The self-extracting archive brings a zorvex.ini, which setup copies beside the
// program after it has applied the choices: every later run is portable, but the
// former owners and the copy itself are still known to the machine.
TEST_F(SetupThenUninstall, TheSettingsFileOfTheSelfExtractingArchiveGoesWithEverythingElse)
{
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, L".zip", L"", L"OtherArc.zip"));
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, L".zip\\ShellNew", L"FileName", L"C:\\Other\\empty.zip"));
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, L".7z", L"", L"OtherArc.7z"));
    const std::wstring sfx = MakeScratchFolder(L"setup-sfx");
    ASSERT_TRUE(WriteBytes(sfx + L"\\zorvex.ini", "HKCU\\Interface\\Misc\\Theme=\"dark\"\r\n"));
    const std::vector<std::wstring> before = ExportMachine();
    {
        EnvironmentGuard sfxname(L"sfxname", (sfx + L"\\setup.exe").c_str());
        ASSERT_EQ(0, RunSilent(L"-setup -s -initA010000100000000000S1"));
    }
    ASSERT_TRUE(Exists(install_ + L"\\zorvex.ini"));
    ASSERT_EQ(L"Zorvex.ZIP", StringOf(HKEY_CLASSES_ROOT, L".zip", L""));
    ASSERT_TRUE(HasKey(HKEY_CURRENT_USER, kSettings));  // setup's own run was not portable

    Uninstall();
    EXPECT_EQ(std::vector<std::wstring>(), LeftBehind(before));
    EXPECT_FALSE(Exists(install_)) << testing::PrintToString(FolderEntries(install_));
    EXPECT_TRUE(Exists(sfx + L"\\zorvex.ini"));
    RemoveTree(sfx);
}

// A settings file that is never saved keeps setup's per-user records in memory
// only; the machine's record still gives everything back.
TEST_F(SetupThenUninstall, ASettingsFileThatIsNeverSavedLosesNoFormerOwner)
{
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, L".zip", L"", L"OtherArc.zip"));
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, L".7z", L"", L"OtherArc.7z"));
    const std::string settings = "Global\\SaveSettings=0\r\n";
    ASSERT_TRUE(WriteBytes(install_ + L"\\Zorvex.ini", settings));
    ASSERT_TRUE(WriteBytes(install_ + L"\\Uninstall.lst", "Zorvex.exe\r\nzvxnew.dat\r\nzipnew.dat\r\nZorvex.ini\r\n"
                                                          "Uninstall.exe\r\nUninstall.lst\r\n"));
    const std::vector<std::wstring> before = ExportMachine();

    ASSERT_EQ(0, RunSilent(L"-setup -s -initA010000100000000000S1"));
    ASSERT_EQ(L"Zorvex.ZIP", StringOf(HKEY_CLASSES_ROOT, L".zip", L""));
    std::string unchanged;
    ASSERT_TRUE(ReadBytes(install_ + L"\\Zorvex.ini", unchanged));
    ASSERT_EQ(settings, unchanged);

    Uninstall();
    EXPECT_EQ(std::vector<std::wstring>(), LeftBehind(before));
    EXPECT_FALSE(Exists(install_)) << testing::PrintToString(FolderEntries(install_));
}

// An earlier version's setup kept the former owners per user only; they are
// still given back. A type of the product's without any record loses only what
// is plainly the product's.
TEST_F(SetupThenUninstall, RecordsOfAnEarlierVersionAreStillGivenBack)
{
    const std::wstring saved = std::wstring(kSetup) + L"\\";
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, L".zip", L"", L"Zorvex.ZIP"));
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, L".zip\\ShellNew", L"FileName", install_ + L"\\zipnew.dat"));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, saved + L".zip", L"Exist", 1));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, saved + L".zip", L"Type", L"OtherArc.zip"));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, saved + L".zip", L"ShellNew", L"C:\\Other\\empty.zip"));
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, L".cab", L"", L"Zorvex"));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, saved + L".cab", L"Exist", 0));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, saved + L".cab", L"Type", L""));
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, L".7z", L"", L"Zorvex"));
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, L".7z\\OpenWithProgids", L"Other.7z", L""));
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, L".tar", L"", L"Zorvex"));

    Uninstall();
    EXPECT_EQ(L"OtherArc.zip", StringOf(HKEY_CLASSES_ROOT, L".zip", L""));
    EXPECT_EQ(L"C:\\Other\\empty.zip", StringOf(HKEY_CLASSES_ROOT, L".zip\\ShellNew", L"FileName"));
    EXPECT_FALSE(HasKey(HKEY_CLASSES_ROOT, L".cab"));
    // No record anywhere: never an empty default value, and a key only when nothing else is in it.
    EXPECT_EQ(L"<missing>", StringOf(HKEY_CLASSES_ROOT, L".7z", L""));
    EXPECT_TRUE(HasKey(HKEY_CLASSES_ROOT, L".7z\\OpenWithProgids"));
    EXPECT_FALSE(HasKey(HKEY_CLASSES_ROOT, L".tar"));
    EXPECT_FALSE(HasKey(HKEY_CURRENT_USER, kSettings));
}

// Wine's own setting for Uninstall.exe alone: an empty DllOverrides entry keeps a
// library from loading into it. Set while the owner lives, then taken away with
// the keys it made. (WINEDLLOVERRIDES in the environment of a child that a
// Windows process starts does not reach Wine's loader.)
class ProgramWithoutLibrary {
public:
    explicit ProgramWithoutLibrary(const wchar_t* library)
        : library_(library), hadKey_(HasKey(HKEY_CURRENT_USER, kAppDefaults))
    {
        EXPECT_TRUE(SetString(HKEY_CURRENT_USER, Overrides(), library_, L""));
    }
    ~ProgramWithoutLibrary()
    {
        testsupport::DeleteValue(HKEY_CURRENT_USER, Overrides(), library_);
        DeleteKeyIfEmpty(HKEY_CURRENT_USER, Overrides());
        if (!hadKey_)
            DeleteKeyIfEmpty(HKEY_CURRENT_USER, kAppDefaults);
    }
    ProgramWithoutLibrary(const ProgramWithoutLibrary&) = delete;
    ProgramWithoutLibrary& operator=(const ProgramWithoutLibrary&) = delete;

private:
    static constexpr const wchar_t* kAppDefaults = L"Software\\Wine\\AppDefaults\\Uninstall.exe";
    static std::wstring Overrides() { return std::wstring(kAppDefaults) + L"\\DllOverrides"; }

    const wchar_t* library_;
    bool hadKey_;
};

// The settings dialog holds a rich-edit control: without the rich-edit library it
// cannot be made.
TEST_F(SetupProgram, WithoutTheRichEditLibraryASilentSetupStillSetsUp)
{
    std::wstring logs = MakeScratchFolder(L"setup-richedit-log");
    ProgramWithoutLibrary noRichEdit(L"riched20");
    {
        // With someone to answer it, no settings dialog: only the completion dialog
        // comes, nothing is applied, and the log says why.
        EnvironmentGuard log(L"ZORVEX_LOG", (logs + L"\\interactive.log").c_str());
        ChildProcess child;
        HWND first = StartInteractive(child, L"-setup");
        ASSERT_NE(nullptr, first);
        EXPECT_EQ(install_, ControlText(first, IDC_INSTFOLDER));
        ASSERT_TRUE(PressButton(first, IDOK));
        EXPECT_EQ(0, child.Wait(30000));
    }
    EXPECT_EQ("result dialog-failed 0", ReadChangeLog(logs + L"\\interactive.log").back().Raw);
    EXPECT_FALSE(HasKey(HKEY_LOCAL_MACHINE, kUninstallEntry));
    EXPECT_EQ(-1, SetFlag(L".zvx"));

    {
        EnvironmentGuard log(L"ZORVEX_LOG", (logs + L"\\silent.log").c_str());
        EXPECT_EQ(0, RunSilent(L"-setup -s -initA1"));
    }
    std::vector<LogLine> lines = ReadChangeLog(logs + L"\\silent.log");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("result ok 0", lines.back().Raw);
    EXPECT_EQ(1u, LinesOf(lines, "note").size());
    EXPECT_EQ(L"the setup dialog cannot be made: the choices are applied without it",
              LinesOf(lines, "note").at(0).Texts.at(0));
    EXPECT_EQ(program_, StringOf(HKEY_LOCAL_MACHINE, kUninstallEntry, L"UninstallString"));
    EXPECT_EQ(1, SetFlag(L".zvx"));
    EXPECT_EQ(L"Zorvex", StringOf(HKEY_CLASSES_ROOT, L".zvx", L""));
    EXPECT_EQ(L"OtherAce", StringOf(HKEY_CLASSES_ROOT, L".ace", L""));
    RemoveTree(logs);
}

// A language library whose settings dialog names a control class that is not
// there: the program's own template shows the choices instead.
TEST_F(SetupProgram, ASettingsDialogTheLanguageLibraryCannotMakeComesFromTheProgram)
{
    ASSERT_TRUE(CopyFileW(TestLanguageLibraryWithOldRichEdit().c_str(), (install_ + L"\\zvxlng.dll").c_str(), FALSE));
    ChildProcess child;
    HWND setup = StartInteractive(child, L"-setup -initA1");
    ASSERT_NE(nullptr, setup);
    EXPECT_NE(nullptr, GetDlgItem(setup, IDC_ASSOCZIP));
    EXPECT_NE(std::wstring::npos, ControlText(setup, IDC_SETUPHELPTEXT).find(L"LIB help on the archive types."));
    ASSERT_TRUE(PressButton(setup, IDOK));
    HWND done = WaitForNextDialog(child, setup, 60000);
    ASSERT_NE(nullptr, done);
    ASSERT_TRUE(PressButton(done, IDOK));
    EXPECT_EQ(0, child.Wait(30000));
    EXPECT_EQ(program_, StringOf(HKEY_LOCAL_MACHINE, kUninstallEntry, L"UninstallString"));
    EXPECT_EQ(L"Zorvex", StringOf(HKEY_CLASSES_ROOT, L".zvx", L""));
}

}  // namespace
