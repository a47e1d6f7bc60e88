// Shell extension registration in both views, classic handlers, the packaged
// context menu's installer (a test program that records its arguments) and the
// registered application: on Wine's Windows 7, on Wine's Windows 10 in a second
// run, and on Windows 11 through the version seam.
#include <gtest/gtest.h>

#include <windows.h>

#include <sstream>
#include <utility>
#include <string>
#include <vector>

#include "tests/support/integration_fixture.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"
#include "uninstall/integration/associations.h"
#include "uninstall/integration/shell_extension.h"

namespace {

using testsupport::DwordOf;
using testsupport::HasKey;
using testsupport::HasValue;
using testsupport::InProgramFolder;
using testsupport::SetString;
using testsupport::StringOf;

const HKEY kClasses = HKEY_CLASSES_ROOT;
const std::wstring kApproved = L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const std::wstring kClsid32 = kShellExtClsid32;
const std::wstring kClsid64 = kShellExtClsid64;

struct KeyValue {
    std::wstring Key, Value;
};

// The classic context-menu handler keys of both variants with their default values.
std::vector<KeyValue> ClassicKeys()
{
    std::vector<KeyValue> keys;
    for (const auto& variant : {std::make_pair(kClsid32, std::wstring(L"Zorvex32")),
                                std::make_pair(kClsid64, std::wstring(L"Zorvex"))}) {
        for (const wchar_t* progId : {L"Zorvex", L"Zorvex.ZIP"})
            keys.push_back({std::wstring(progId) + L"\\shellex\\ContextMenuHandlers\\" + variant.first, L""});
        for (const wchar_t* target : {L"*", L"Folder", L"lnkfile"})
            keys.push_back({std::wstring(target) + L"\\shellex\\ContextMenuHandlers\\" + variant.second, variant.first});
    }
    return keys;
}

std::vector<std::wstring> InstallerLog()
{
    std::string bytes;
    std::vector<std::wstring> lines;
    if (!testsupport::ReadBytes(InProgramFolder(L"ZvxExtInstaller.log"), bytes))
        return lines;
    std::istringstream in(bytes);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        // "<pid> start|end <args>": the pid differs per run, the rest is what matters.
        size_t blank = line.find(' ');
        lines.emplace_back(line.begin() + (blank == std::string::npos ? 0 : blank + 1), line.end());
    }
    return lines;
}

DWORD InstallerPid()
{
    std::string bytes;
    testsupport::ReadBytes(InProgramFolder(L"ZvxExtInstaller.log"), bytes);
    return static_cast<DWORD>(strtoul(bytes.c_str(), nullptr, 10));
}

bool WaitForLogLines(size_t count, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (InstallerLog().size() >= count)
            return true;
        Sleep(50);
    }
    return InstallerLog().size() >= count;
}

class ShellExtension : public testsupport::IntegrationTest {
protected:
    void SetUp() override
    {
        IntegrationTest::SetUp();
        wanted_ = {};
        wanted_.ShellExt = true;
    }

    static void PlacePackage(DWORD installerDelayMs)
    {
        ASSERT_TRUE(testsupport::PlaceProgramFile(L"ZvxExtPackage.msix"));
        ASSERT_TRUE(CopyFileW((testsupport::BinDir() + L"\\tests\\zvx_installer_recorder.exe").c_str(),
                              InProgramFolder(L"ZvxExtInstaller.exe").c_str(), FALSE));
        ASSERT_TRUE(testsupport::PlaceProgramFile(L"ZvxExtInstaller.delay", std::to_string(installerDelayMs)));
    }

    // -1: no such value.
    static long long NewContextMenu()
    {
        return DwordOf(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup", L"NewContextMenu");
    }

    // What both variants register besides the classic handlers.
    static void ExpectRegistered(bool classKeys)
    {
        for (const std::wstring& clsid : {kClsid32, kClsid64}) {
            for (const wchar_t* progId : {L"Zorvex", L"Zorvex.ZIP", L"exefile"})
                EXPECT_EQ(L"", StringOf(kClasses, std::wstring(progId) + L"\\shellex\\PropertySheetHandlers\\" + clsid));
            EXPECT_EQ(L"Zorvex shell extension", StringOf(HKEY_LOCAL_MACHINE, kApproved, clsid));
        }
        EXPECT_EQ(kClsid64, StringOf(kClasses, L"Zorvex\\shellex\\DropHandler"));
        EXPECT_EQ(kClsid64, StringOf(kClasses, L"Zorvex.ZIP\\shellex\\DropHandler"));
        for (const wchar_t* target : {L"Folder", L"Drive"}) {
            EXPECT_EQ(kClsid32, StringOf(kClasses, std::wstring(target) + L"\\shellex\\DragDropHandlers\\Zorvex32"));
            EXPECT_EQ(kClsid64, StringOf(kClasses, std::wstring(target) + L"\\shellex\\DragDropHandlers\\Zorvex"));
        }
        // Each class in its own view, and only there.
        EXPECT_EQ(classKeys, HasKey(kClasses, L"CLSID\\" + kClsid32, KEY_WOW64_32KEY));
        EXPECT_EQ(classKeys, HasKey(kClasses, L"CLSID\\" + kClsid64));
        EXPECT_FALSE(HasKey(kClasses, L"CLSID\\" + kClsid32));
        EXPECT_FALSE(HasKey(kClasses, L"CLSID\\" + kClsid64, KEY_WOW64_32KEY));
        if (classKeys) {
            EXPECT_EQ(L"Zorvex", StringOf(kClasses, L"CLSID\\" + kClsid32, L"", KEY_WOW64_32KEY));
            EXPECT_EQ(InProgramFolder(L"zvxext32.dll"),
                      StringOf(kClasses, L"CLSID\\" + kClsid32 + L"\\InProcServer32", L"", KEY_WOW64_32KEY));
            EXPECT_EQ(L"Apartment", StringOf(kClasses, L"CLSID\\" + kClsid32 + L"\\InProcServer32",
                                             L"ThreadingModel", KEY_WOW64_32KEY));
            EXPECT_EQ(InProgramFolder(L"zvxext.dll"), StringOf(kClasses, L"CLSID\\" + kClsid64 + L"\\InProcServer32"));
            EXPECT_EQ(L"Apartment", StringOf(kClasses, L"CLSID\\" + kClsid64 + L"\\InProcServer32", L"ThreadingModel"));
        }
    }

    static void ExpectClassicHandlers(bool present)
    {
        for (const KeyValue& key : ClassicKeys())
            EXPECT_EQ(present ? key.Value : L"<missing>", StringOf(kClasses, key.Key))
                << std::string(key.Key.begin(), key.Key.end());
    }

    static void ExpectNothingRegistered()
    {
        for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_32KEY)}) {
            EXPECT_FALSE(HasKey(kClasses, L"CLSID\\" + kClsid32, view));
            EXPECT_FALSE(HasKey(kClasses, L"CLSID\\" + kClsid64, view));
        }
        for (const std::wstring& clsid : {kClsid32, kClsid64}) {
            EXPECT_FALSE(HasKey(kClasses, L"exefile\\shellex\\PropertySheetHandlers\\" + clsid));
            EXPECT_FALSE(HasValue(HKEY_LOCAL_MACHINE, kApproved, clsid));
        }
        EXPECT_FALSE(HasKey(kClasses, L"Zorvex\\shellex\\DropHandler"));
        for (const wchar_t* handler : {L"Folder\\shellex\\DragDropHandlers\\Zorvex32",
                                       L"Drive\\shellex\\DragDropHandlers\\Zorvex"})
            EXPECT_FALSE(HasKey(kClasses, handler));
        ExpectClassicHandlers(false);
        EXPECT_FALSE(HasValue(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications", L"Zorvex"));
        EXPECT_FALSE(HasKey(HKEY_LOCAL_MACHINE, L"Software\\Zorvex"));
    }

    static void ExpectRegisteredApplication()
    {
        EXPECT_EQ(L"Software\\Zorvex\\Capabilities",
                  StringOf(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications", L"Zorvex"));
        EXPECT_EQ(L"Zorvex", StringOf(HKEY_LOCAL_MACHINE, L"Software\\Zorvex\\Capabilities", L"ApplicationDescription"));
        // Every type of the table, chosen or not.
        const std::wstring associations = L"Software\\Zorvex\\Capabilities\\FileAssociations";
        int count = 0;
        for (int row = 0; row < kAssociationRows; ++row) {
            const wchar_t* position = AssociationTable[row].Extensions;
            wchar_t ext[kExtensionChars];
            while (NextExtension(position, ext, kExtensionChars)) {
                EXPECT_EQ(row == 1 ? L"Zorvex.ZIP" : L"Zorvex", StringOf(HKEY_LOCAL_MACHINE, associations, ext));
                ++count;
            }
        }
        EXPECT_EQ(29, count);
        EXPECT_EQ(L"Zorvex", StringOf(HKEY_LOCAL_MACHINE, associations, L".tzst"));
        EXPECT_EQ(L"Zorvex", StringOf(HKEY_LOCAL_MACHINE, associations, L".001"));
    }

    IntegrationOptions wanted_;
    IntegrationOptions none_ = {};
};

TEST_F(ShellExtension, RegisteredAndRemovedOnWindowsBefore11)
{
    if (testsupport::ChildMode().empty()) {
        // The same checks under Wine's Windows 10 setting, in a second run of this program.
        EXPECT_EQ(0, testsupport::RunSelf(L"ShellExtension.RegisteredAndRemovedOnWindowsBefore11", L"windows10",
                                          true, 120000));
    }
    EXPECT_EQ(testsupport::IsWindows10Child() ? 0x0A00u : 0x0601u, WindowsVersion());
    ASSERT_TRUE(testsupport::PlaceProgramFile(L"zvxext.dll"));
    ASSERT_TRUE(testsupport::PlaceProgramFile(L"zvxext32.dll"));
    PlacePackage(0);  // present, but only Windows 11 runs it
    ASSERT_TRUE(SetString(kClasses, L"*\\shellex\\ContextMenuHandlers\\OtherTool", L"", L"{00000000-0000-0000-0000-000000000001}"));

    RegisterShellIntegration(kShellApply, wanted_);
    ExpectRegistered(true);
    ExpectClassicHandlers(true);
    ExpectRegisteredApplication();
    EXPECT_TRUE(InstallerLog().empty());
    EXPECT_EQ(-1, NewContextMenu());

    RegisterShellIntegration(kShellRemove, none_);
    ExpectNothingRegistered();
    EXPECT_EQ(L"{00000000-0000-0000-0000-000000000001}",
              StringOf(kClasses, L"*\\shellex\\ContextMenuHandlers\\OtherTool"));
    EXPECT_TRUE(InstallerLog().empty());
}

TEST_F(ShellExtension, AMissingDllSkipsOnlyItsClassKeys)
{
    RegisterShellIntegration(kShellApply, wanted_);
    ExpectRegistered(false);
    ExpectClassicHandlers(true);
}

TEST_F(ShellExtension, OldWindowsHasNoRegisteredApplication)
{
    PretendWindows(5, 1, 2600, 0);
    RegisterShellIntegration(kShellApply, wanted_);
    EXPECT_FALSE(HasKey(HKEY_LOCAL_MACHINE, L"Software\\Zorvex"));
    EXPECT_FALSE(HasValue(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications", L"Zorvex"));

    // Removal there still deletes the product's machine key, but leaves that value alone.
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, L"Software\\Zorvex", L"exe64", L"C:\\Zorvex\\Zorvex.exe"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications", L"Zorvex", L"x"));
    RegisterShellIntegration(kShellRemove, none_);
    EXPECT_FALSE(HasKey(HKEY_LOCAL_MACHINE, L"Software\\Zorvex"));
    EXPECT_EQ(L"x", StringOf(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications", L"Zorvex"));
}

TEST_F(ShellExtension, Windows11InstallsThePackagedMenuWithoutWaiting)
{
    PretendWindows(10, 0, 22631, 0);
    PlacePackage(3000);
    ASSERT_TRUE(SetString(kClasses, L"*\\shellex\\ContextMenuHandlers\\Zorvex", L"", kClsid64));

    DWORD start = GetTickCount();
    RegisterShellIntegration(kShellApply, wanted_);
    DWORD elapsed = GetTickCount() - start;
    EXPECT_LT(elapsed, 2500u) << "the install must not be waited for";
    EXPECT_EQ(1, NewContextMenu());
    ExpectRegistered(false);
    ExpectClassicHandlers(false);  // Windows 11 shows the packaged menu instead
    ExpectRegisteredApplication();

    ASSERT_TRUE(WaitForLogLines(2, 15000));
    EXPECT_EQ((std::vector<std::wstring>{L"start -install", L"end -install"}), InstallerLog());

    // With the legacy menu the classic handlers come as well.
    DeleteFileW(InProgramFolder(L"ZvxExtInstaller.log").c_str());
    ASSERT_TRUE(testsupport::PlaceProgramFile(L"ZvxExtInstaller.delay", "0"));
    wanted_.LegacyMenu = true;
    RegisterShellIntegration(kShellApply, wanted_);
    ExpectClassicHandlers(true);
    ASSERT_TRUE(WaitForLogLines(2, 15000));
}

TEST_F(ShellExtension, Windows11RemovalWaitsForTheInstaller)
{
    PretendWindows(10, 0, 22631, 0);
    PlacePackage(2000);
    RegisterShellIntegration(kShellRemove, none_);
    // Returned only after the installer had ended.
    EXPECT_EQ((std::vector<std::wstring>{L"start -Uninstall", L"end -Uninstall"}), InstallerLog());
    EXPECT_EQ(0, NewContextMenu());
    ExpectNothingRegistered();
}

TEST_F(ShellExtension, Windows11RemovalWaitsTwentySecondsAtMost)
{
    PretendWindows(11, 0, 26100, 1);
    PlacePackage(120000);
    DWORD start = GetTickCount();
    RunContextMenuPackageInstaller(false);
    DWORD elapsed = GetTickCount() - start;
    std::vector<std::wstring> log = InstallerLog();
    DWORD pid = InstallerPid();
    HANDLE installer = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (installer != nullptr) {
        TerminateProcess(installer, 1);
        WaitForSingleObject(installer, 5000);
        CloseHandle(installer);
    }
    EXPECT_GE(elapsed, 19500u);
    EXPECT_LT(elapsed, 40000u);
    EXPECT_EQ((std::vector<std::wstring>{L"start -Uninstall"}), log);
    EXPECT_EQ(0, NewContextMenu());
}

TEST_F(ShellExtension, WithoutPackageOrInstallerNothingRunsAndNothingIsRecorded)
{
    PretendWindows(10, 0, 22631, 0);
    PlacePackage(0);
    DeleteFileW(InProgramFolder(L"ZvxExtPackage.msix").c_str());
    RunContextMenuPackageInstaller(true);
    ASSERT_TRUE(testsupport::PlaceProgramFile(L"ZvxExtPackage.msix"));
    DeleteFileW(InProgramFolder(L"ZvxExtInstaller.exe").c_str());
    RunContextMenuPackageInstaller(false);
    Sleep(500);
    EXPECT_TRUE(InstallerLog().empty());
    EXPECT_EQ(-1, NewContextMenu());
}

}  // namespace
