// App Paths, the uninstall entry, and the removal of everything setup made,
// compared with a full export of the registry from before setup.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/settings/settings_store.h"
#include "tests/support/change_log_support.h"
#include "tests/support/integration_fixture.h"
#include "tests/support/program_support.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"
#include "tests/support/window_support.h"
#include "uninstall/integration/app_paths.h"
#include "uninstall/integration/associations.h"
#include "uninstall/integration/removal.h"
#include "uninstall/integration/shell_extension.h"
#include "uninstall/integration/shortcuts.h"
#include "uninstall/options.h"

namespace {

using testsupport::DwordOf;
using testsupport::HasKey;
using testsupport::HasValue;
using testsupport::InProgramFolder;
using testsupport::ProgramFolder;
using testsupport::SetString;
using testsupport::StringOf;

const HKEY kClasses = HKEY_CLASSES_ROOT;
const HKEY kMachine = HKEY_LOCAL_MACHINE;
const std::wstring& kAppPaths = testsupport::kAppPathsKey;
const std::wstring& kUninstall = testsupport::kUninstallKey;

// The parents of the handler keys, which removal leaves by design because other
// programs share them (only the product's own leaves below them are deleted),
// as the machine export spells them, in its order.
const wchar_t* const kSharedParents[] = {
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

// Those that the export before setup lacks: what a removal leaves behind. (Which
// of them a prefix has depends on the tests that ran in it before.)
std::vector<std::wstring> LeftBehind(const std::vector<std::wstring>& before)
{
    std::vector<std::wstring> left;
    for (const wchar_t* parent : kSharedParents) {
        std::wstring line = std::wstring(parent) + L" |";
        if (std::find(before.begin(), before.end(), line) == before.end())
            left.push_back(L"+ " + line);
    }
    return left;
}

// What the setup dialog's OK does, in its order.
void ApplyAsSetup(const IntegrationOptions& options, bool msi)
{
    ASSERT_TRUE(WriteAppPaths());
    RegisterShellIntegration(kShellApply, options);
    ApplyAssociations(options);
    ASSERT_TRUE(RegisterProgIds());
    wchar_t group[2048] = L"";
    UpdateShortcuts(options, group, 2048, nullptr);
    if (!msi)
        WriteUninstallEntry();
    AssociateExtension(L".ace", kReleaseExtension);
}

IntegrationOptions Everything()
{
    IntegrationOptions options = {};
    for (int row = 0; row < kAssociationRows; ++row)
        options.Associate[row] = row != 11;  // .jar stays unchecked
    options.DesktopLink = true;
    options.StartMenuLink = true;
    options.ProgramsLink = true;
    options.ShellExt = true;
    options.MenuIcons = true;
    return options;
}

std::wstring Join(const std::vector<std::wstring>& lines)
{
    std::wstring text;
    for (const std::wstring& line : lines)
        text += line + L"\n";
    return text;
}

class Removal : public testsupport::IntegrationTest {
protected:
    void SetUp() override
    {
        IntegrationTest::SetUp();
        GetCommandOptions().Msi = false;
        for (const wchar_t* name : {L"Zorvex.exe", L"Zorvex.chm", L"Zvx.txt", L"WhatsNew.txt", L"zvxext.dll",
                                    L"zvxext32.dll"})
            ASSERT_TRUE(testsupport::PlaceProgramFile(name));
    }
    void TearDown() override
    {
        GetCommandOptions().Msi = false;
        IntegrationTest::TearDown();
    }
};

TEST_F(Removal, GivesTheMachineBackAsItWasBeforeSetup)
{
    // Before setup: another program owns .zip (with a new-file entry), .7z and .iso; .cab has no key.
    ASSERT_TRUE(SetString(kClasses, L".zip", L"", L"OtherArc.zip"));
    ASSERT_TRUE(SetString(kClasses, L".zip\\ShellNew", L"FileName", L"C:\\Other\\empty.zip"));
    ASSERT_TRUE(SetString(kClasses, L".7z", L"", L"Other.7z"));
    ASSERT_TRUE(SetString(kClasses, L".iso", L"", L"OtherDisc.iso"));
    ASSERT_FALSE(HasKey(kClasses, L".cab"));
    const std::vector<std::wstring> before = testsupport::ExportMachine();

    ApplyAsSetup(Everything(), false);
    ApplyAsSetup(Everything(), false);  // the first saved state wins
    EXPECT_EQ(L"Zorvex.ZIP", StringOf(kClasses, L".zip"));
    EXPECT_EQ(InProgramFolder(L"zipnew.dat"), StringOf(kClasses, L".zip\\ShellNew", L"FileName"));
    EXPECT_EQ(L"Zorvex", StringOf(kClasses, L".iso"));
    EXPECT_EQ(L"Zorvex", StringOf(kClasses, L".cab"));
    EXPECT_FALSE(HasKey(kClasses, L".jar"));
    EXPECT_EQ(L"OtherArc.zip", StringOf(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.zip", L"Type"));
    EXPECT_EQ(L"C:\\Other\\empty.zip", StringOf(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.zip", L"ShellNew"));
    EXPECT_EQ(L"OtherDisc.iso", StringOf(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.iso", L"Type"));
    EXPECT_EQ(L"", StringOf(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.cab", L"Type"));
    EXPECT_EQ(kShellExtClsid64, StringOf(kClasses, L"Zorvex.ZIP\\shellex\\DropHandler"));
    EXPECT_EQ(L"Zorvex", StringOf(kClasses, std::wstring(L"CLSID\\") + kShellExtClsid32, L"", KEY_WOW64_32KEY));
    EXPECT_EQ(L"Software\\Zorvex\\Capabilities", StringOf(kMachine, L"Software\\RegisteredApplications", L"Zorvex"));
    EXPECT_EQ(L"6.11.1", StringOf(kMachine, kUninstall, L"DisplayVersion"));
    EXPECT_EQ(InProgramFolder(L"Zorvex.exe"), StringOf(kMachine, kAppPaths, L"", KEY_WOW64_32KEY));
    const std::wstring commonGroup = testsupport::ShellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Zorvex";
    EXPECT_EQ(4u, testsupport::FolderEntries(commonGroup).size());

    // The user gives .7z to yet another program before the uninstall.
    ASSERT_TRUE(SetString(kClasses, L".7z", L"", L"Another.7z"));

    RemoveIntegration();
    const std::vector<std::wstring> after = testsupport::ExportMachine();
    std::vector<std::wstring> expected = {
        L"- HKLM\\Software\\Classes\\.7z |  | 1 | \"Other.7z\\0\"",
        L"+ HKLM\\Software\\Classes\\.7z |  | 1 | \"Another.7z\\0\"",
    };
    const std::vector<std::wstring> left = LeftBehind(before);
    expected.insert(expected.end(), left.begin(), left.end());
    EXPECT_EQ(Join(expected), Join(testsupport::Difference(before, after)));

    EXPECT_FALSE(testsupport::Exists(commonGroup));
    EXPECT_FALSE(testsupport::Exists(testsupport::ShellFolder(CSIDL_PROGRAMS) + L"\\Zorvex"));
    EXPECT_FALSE(testsupport::Exists(testsupport::ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Zorvex.lnk"));
    EXPECT_FALSE(testsupport::Exists(testsupport::ShellFolder(CSIDL_COMMON_STARTMENU) + L"\\Zorvex.lnk"));

    // A second removal finds nothing more to do.
    RemoveIntegration();
    EXPECT_EQ(L"", Join(testsupport::Difference(after, testsupport::ExportMachine())));
}

TEST_F(Removal, RecoveryVolumeTypeStaysWithItsNewOwner)
{
    ASSERT_TRUE(RegisterProgIds());
    ASSERT_TRUE(SetString(kClasses, L".rev", L"", L"OtherRecovery"));
    RemoveIntegration();
    EXPECT_EQ(L"OtherRecovery", StringOf(kClasses, L".rev"));
    EXPECT_FALSE(HasKey(kClasses, L"Zorvex.REV"));

    ASSERT_TRUE(RegisterProgIds());
    ASSERT_TRUE(SetString(kClasses, L".rev", L"", L"zorvex.rev"));
    RemoveIntegration();
    EXPECT_FALSE(HasKey(kClasses, L".rev"));
}

TEST_F(Removal, ForAnInstallerPackageTheEntryAndAppPathsStay)
{
    ApplyAsSetup(Everything(), false);
    GetCommandOptions().Msi = true;
    RemoveIntegration();
    EXPECT_EQ(L"6.11.1", StringOf(kMachine, kUninstall, L"DisplayVersion"));
    EXPECT_EQ(InProgramFolder(L"Zorvex.exe"), StringOf(kMachine, kAppPaths));
    EXPECT_EQ(InProgramFolder(L"Zorvex.exe"), StringOf(kMachine, kAppPaths, L"", KEY_WOW64_32KEY));
    // Everything else is gone.
    EXPECT_FALSE(HasKey(kClasses, L".zvx"));
    EXPECT_FALSE(HasKey(kClasses, L"Zorvex"));
    EXPECT_FALSE(HasKey(HKEY_CURRENT_USER, L"Software\\Zorvex"));
    EXPECT_FALSE(HasKey(kMachine, L"Software\\Zorvex"));

    GetCommandOptions().Msi = false;
    RemoveIntegration();
    EXPECT_FALSE(HasKey(kMachine, kUninstall));
    EXPECT_FALSE(HasKey(kMachine, kAppPaths));
    EXPECT_FALSE(HasKey(kMachine, kAppPaths, KEY_WOW64_32KEY));
}

// A settings file that forbids changes outside itself: nothing else changes, and
// no record is made from the defaults the closed gate answers. The settings file
// is found once per process, so the checks run in a second run of this program.
TEST_F(Removal, AClosedGateChangesNothingOutsideTheSettingsFile)
{
    if (testsupport::ChildMode() == L"closed-gate") {
        IntegrationOptions options = Everything();
        options.LegacyMenu = true;
        ASSERT_TRUE(WriteAppPaths());
        RegisterShellIntegration(kShellApply, options);
        ApplyAssociations(options);
        ASSERT_TRUE(RegisterProgIds());
        UpdateShortcuts(options, nullptr, 0, nullptr);
        WriteUninstallEntry();
        RunContextMenuPackageInstaller(true);
        // The former owner recorded in the file is still the one it had.
        wchar_t type[80];
        ReadUserString(L"Setup\\.zip", L"Type", type, L"", 80);
        EXPECT_STREQ(L"Former.zip", type);
        EXPECT_EQ(-7, ReadUserInt(L"Setup\\.zip", L"Exist", -7));
        RemoveIntegration();
        ApplyAssociations(options);
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Setup\\.zip"));
        EXPECT_TRUE(SaveSettingsFile());
        return;
    }
    if (!testsupport::ChildMode().empty())
        return;
    ASSERT_TRUE(SetString(kClasses, L".zip", L"", L"OtherArc.zip"));
    ASSERT_TRUE(testsupport::PlaceProgramFile(L"ZvxExtPackage.msix"));
    ASSERT_TRUE(CopyFileW((testsupport::BinDir() + L"\\tests\\zvx_installer_recorder.exe").c_str(),
                          InProgramFolder(L"ZvxExtInstaller.exe").c_str(), FALSE));
    ASSERT_TRUE(testsupport::PlaceProgramFile(
        L"Zorvex.ini", "Global\\Integration=0\r\nHKCU\\Setup\\.zip\\Type=\"Former.zip\"\r\n"));
    const std::vector<std::wstring> before = testsupport::ExportMachine();

    EXPECT_EQ(0, testsupport::RunSelf(L"Removal.AClosedGateChangesNothingOutsideTheSettingsFile", L"closed-gate",
                                      false, 120000));

    EXPECT_EQ(L"", Join(testsupport::Difference(before, testsupport::ExportMachine())));
    EXPECT_FALSE(testsupport::Exists(InProgramFolder(L"zvxnew.dat")));
    EXPECT_FALSE(testsupport::Exists(InProgramFolder(L"zipnew.dat")));
    EXPECT_FALSE(testsupport::Exists(InProgramFolder(L"ZvxExtInstaller.log")));
    EXPECT_FALSE(testsupport::Exists(testsupport::ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Zorvex.lnk"));
    EXPECT_FALSE(testsupport::Exists(testsupport::ShellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Zorvex"));
    // The file as the child saved it: no record made from the closed gate's defaults.
    std::string file;
    ASSERT_TRUE(testsupport::ReadBytes(InProgramFolder(L"Zorvex.ini"), file));
    std::wstring text(reinterpret_cast<const wchar_t*>(file.data()), file.size() / 2);
    EXPECT_NE(std::wstring::npos, text.find(L"Global\\Integration=0"));
    EXPECT_EQ(std::wstring::npos, text.find(L"HKCU\\Setup\\.zip\\Exist"));
    EXPECT_EQ(std::wstring::npos, text.find(L"NewContextMenu"));
}

// The real uninstaller, after a setup: the integration is gone before the first
// file of the install folder is deleted, and -msi keeps the two entries a Windows
// Installer package owns.
class UninstallProgram : public Removal {
protected:
    void SetUp() override
    {
        Removal::SetUp();
        std::wstring parent = testsupport::MakeScratchFolder(L"integration-uninstall");
        folder_ = parent + L"\\Zorvex";
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        ASSERT_TRUE(CopyFileW((testsupport::BinDir() + L"\\Uninstall.exe").c_str(), Installed(L"Uninstall.exe").c_str(),
                              FALSE));
        for (const wchar_t* name : {L"Zorvex.exe", L"zvxext.dll", L"zorvex.chm"})
            ASSERT_TRUE(testsupport::WriteBytes(Installed(name), "installed"));
        ASSERT_TRUE(testsupport::WriteBytes(Installed(L"Uninstall.lst"),
                                            "Zorvex.exe\r\nzvxext.dll\r\nzorvex.chm\r\nUninstall.exe\r\nUninstall.lst\r\n"));
        ASSERT_TRUE(SetString(kClasses, L".zip", L"", L"OtherArc.zip"));
        ASSERT_TRUE(SetString(kClasses, L".zip\\ShellNew", L"FileName", L"C:\\Other\\empty.zip"));
    }
    void TearDown() override
    {
        // The self-removal batch file ends two seconds after the program at the earliest.
        for (int i = 0; i < 300 && batchStarted_ && testsupport::Exists(Installed(L"Uninstall.exe")); ++i)
            Sleep(100);
        testsupport::RemoveTree(folder_.substr(0, folder_.find_last_of(L'\\')));
        Removal::TearDown();
    }
    std::wstring Installed(const wchar_t* name) const { return folder_ + L"\\" + name; }
    // Setup ran in-process, so the registration names the test program's folder.
    // Without the product's program there, that folder is no install of its own
    // and the registration is the uninstalled copy's to remove.
    static void LeaveNoProgramInTheSetupFolder()
    {
        ASSERT_TRUE(DeleteFileW(InProgramFolder(L"Zorvex.exe").c_str()));
    }

    std::wstring folder_;
    bool batchStarted_ = false;
};

TEST_F(UninstallProgram, RemovesTheIntegrationBeforeAnyFile)
{
    const std::vector<std::wstring> before = testsupport::ExportMachine();
    ApplyAsSetup(Everything(), false);
    ASSERT_EQ(L"Zorvex.ZIP", StringOf(kClasses, L".zip"));
    LeaveNoProgramInTheSetupFolder();

    HANDLE change = FindFirstChangeNotificationW(folder_.c_str(), FALSE,
                                                 FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME);
    ASSERT_NE(INVALID_HANDLE_VALUE, change);
    testsupport::ChildProcess uninstall;
    ASSERT_TRUE(uninstall.Start(Installed(L"Uninstall.exe"), L"-s", folder_.c_str()));
    batchStarted_ = true;
    HANDLE handles[] = {change, uninstall.Handle()};
    bool sawDeletion = false;
    std::wstring zipAtFirstDeletion;
    if (WaitForMultipleObjects(2, handles, FALSE, 60000) == WAIT_OBJECT_0) {
        // The first name change in the install folder: the integration must be gone already.
        sawDeletion = true;
        zipAtFirstDeletion = StringOf(kClasses, L".zip");
    }
    FindCloseChangeNotification(change);
    EXPECT_EQ(0, uninstall.Wait(60000));
    EXPECT_TRUE(sawDeletion);
    EXPECT_EQ(L"OtherArc.zip", zipAtFirstDeletion);

    EXPECT_EQ(L"C:\\Other\\empty.zip", StringOf(kClasses, L".zip\\ShellNew", L"FileName"));
    EXPECT_EQ(Join(LeftBehind(before)), Join(testsupport::Difference(before, testsupport::ExportMachine())));
    EXPECT_FALSE(testsupport::Exists(Installed(L"Zorvex.exe")));
    EXPECT_FALSE(testsupport::Exists(testsupport::ShellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Zorvex"));
}

TEST_F(UninstallProgram, ForAnInstallerPackageFilesEntryAndAppPathsStay)
{
    ApplyAsSetup(Everything(), false);
    LeaveNoProgramInTheSetupFolder();
    testsupport::ChildProcess uninstall;
    ASSERT_TRUE(uninstall.Start(Installed(L"Uninstall.exe"), L"-msi -s", folder_.c_str()));
    EXPECT_EQ(0, uninstall.Wait(60000));
    EXPECT_EQ(L"OtherArc.zip", StringOf(kClasses, L".zip"));
    EXPECT_FALSE(HasKey(kClasses, L"Zorvex"));
    EXPECT_FALSE(HasKey(HKEY_CURRENT_USER, L"Software\\Zorvex"));
    EXPECT_EQ(L"6.11.1", StringOf(kMachine, kUninstall, L"DisplayVersion"));
    EXPECT_EQ(InProgramFolder(L"Zorvex.exe"), StringOf(kMachine, kAppPaths));
    EXPECT_TRUE(testsupport::Exists(Installed(L"Zorvex.exe")));
    EXPECT_TRUE(testsupport::Exists(Installed(L"Uninstall.lst")));
}

// The test program's folder holds the install that setup registered; the
// uninstaller in folder_ is a copy left elsewhere. Its run removes its own files
// and leaves the live install's registration, associations and settings whole.
TEST_F(UninstallProgram, AStaleCopyLeavesTheLiveRegistrationWhole)
{
    ApplyAsSetup(Everything(), false);
    const std::wstring live = ProgramFolder() + L"\\";
    const std::vector<std::wstring> before = testsupport::ExportMachine();
    const std::wstring logs = testsupport::MakeScratchFolder(L"stale-copy-log");
    {
        testsupport::EnvironmentGuard log(L"ZORVEX_LOG", (logs + L"\\uninstall.log").c_str());
        testsupport::ChildProcess uninstall;
        ASSERT_TRUE(uninstall.Start(Installed(L"Uninstall.exe"), L"-s", folder_.c_str()));
        batchStarted_ = true;
        EXPECT_EQ(0, uninstall.Wait(60000));
    }
    EXPECT_EQ(L"", Join(testsupport::Difference(before, testsupport::ExportMachine())));
    EXPECT_FALSE(testsupport::Exists(Installed(L"Zorvex.exe")));
    EXPECT_TRUE(testsupport::Exists(InProgramFolder(L"Zorvex.exe")));
    EXPECT_TRUE(testsupport::Exists(testsupport::ShellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Zorvex"));
    EXPECT_TRUE(testsupport::Exists(testsupport::ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Zorvex.lnk"));
    std::vector<testsupport::LogLine> notes = testsupport::LinesOf(testsupport::ReadChangeLog(logs + L"\\uninstall.log"), "note");
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(L"the registration names another install that still holds the program, " + live +
                  L": it and the settings stay, only this folder's files are removed",
              notes.back().Texts.at(0));

    // Asked, the user is told which install stays and why (a second copy, beside the first).
    const std::wstring second = folder_.substr(0, folder_.find_last_of(L'\\')) + L"\\Second";
    ASSERT_TRUE(CreateDirectoryW(second.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW((testsupport::BinDir() + L"\\Uninstall.exe").c_str(), (second + L"\\Uninstall.exe").c_str(),
                          FALSE));
    ASSERT_TRUE(testsupport::WriteBytes(second + L"\\Uninstall.lst", "Uninstall.exe\r\nUninstall.lst\r\n"));
    testsupport::ChildProcess interactive;
    ASSERT_TRUE(interactive.Start(second + L"\\Uninstall.exe", L"", second.c_str()));
    HWND question = testsupport::WaitForProcessWindow(interactive, L"#32770", 60000);
    ASSERT_NE(nullptr, question);
    ASSERT_TRUE(testsupport::PressButton(question, IDYES));
    HWND notice = nullptr;
    for (int i = 0; i < 600 && notice == nullptr; ++i) {
        for (HWND window : testsupport::ProcessWindows(interactive.Id(), L"#32770")) {
            if (window != question)
                notice = window;
        }
        Sleep(100);
    }
    ASSERT_NE(nullptr, notice);
    EXPECT_EQ(L"Zorvex is also installed in " + live +
                  L", and that is the installation Windows knows. Its file types, shortcuts, Explorer commands and "
                  L"settings stay as they are: only the files in this program's folder are removed.",
              testsupport::MessageBoxText(notice));
    EXPECT_EQ(std::vector<int>{IDOK}, testsupport::ButtonIds(notice));
    ASSERT_TRUE(testsupport::PressButton(notice, IDOK));
    EXPECT_EQ(0, interactive.Wait(60000));
    EXPECT_EQ(L"", Join(testsupport::Difference(before, testsupport::ExportMachine())));
    for (int i = 0; i < 300 && testsupport::Exists(second + L"\\Uninstall.exe"); ++i)
        Sleep(100);
    testsupport::RemoveTree(logs);
}

TEST(UninstallImage, HoldsTheTemplatesButNoCompleteArchiveSignature)
{
    std::string image;
    ASSERT_TRUE(testsupport::ReadBytes(testsupport::BinDir() + L"\\Uninstall.exe", image));
    const std::string zvxTail("vx!\x1A\x07\x01\x00\xC1\xDF\x5F\x56", 11);
    EXPECT_NE(std::string::npos, image.find(zvxTail));
    EXPECT_EQ(std::string::npos, image.find(std::string(1, 'Z') + zvxTail));
    EXPECT_EQ(std::string::npos, image.find(std::string(1, 'P') + std::string("K\x05\x06", 3)));
}

}  // namespace
