// Desktop, Start menu and program-group shortcuts in Wine's real shell folders,
// read back through IShellLinkW.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <thread>

#include "common/localization/language_file.h"
#include "tests/support/integration_fixture.h"
#include "tests/support/program_support.h"
#include "tests/support/base_support.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"
#include "tests/support/window_support.h"
#include "uninstall/integration/machine_record.h"
#include "uninstall/integration/shortcuts.h"

namespace {

using testsupport::FolderEntries;
using testsupport::InProgramFolder;
using testsupport::ReadShortcut;
using testsupport::ShellFolder;
using testsupport::ShortcutInfo;

const wchar_t kDescription[] = L"Create, open and extract archives";

class Shortcuts : public testsupport::IntegrationTest {
protected:
    void SetUp() override
    {
        IntegrationTest::SetUp();
        ASSERT_TRUE(testsupport::PlaceProgramFile(L"Zorvex.exe"));
        ASSERT_TRUE(testsupport::PlaceProgramFile(L"custom.ico"));
        userDesktop_ = ShellFolder(CSIDL_DESKTOPDIRECTORY);
        commonDesktop_ = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
        ASSERT_FALSE(userDesktop_.empty());
        ASSERT_FALSE(commonDesktop_.empty());
        ASSERT_NE(userDesktop_, commonDesktop_);
    }

    std::wstring Exe() const { return InProgramFolder(L"Zorvex.exe"); }
    std::wstring Icon() const { return InProgramFolder(L"custom.ico"); }

    std::wstring userDesktop_, commonDesktop_;
    IntegrationOptions none_ = {};
};

TEST_F(Shortcuts, ANewDesktopShortcutGoesToAllUsersAndIsRemovedThere)
{
    IntegrationOptions options = {};
    options.DesktopLink = true;
    UpdateShortcuts(options, nullptr, 0, Icon().c_str());
    EXPECT_FALSE(testsupport::Exists(userDesktop_ + L"\\Zorvex.lnk"));
    ShortcutInfo link = ReadShortcut(commonDesktop_ + L"\\Zorvex.lnk");
    ASSERT_TRUE(link.Loaded);
    EXPECT_EQ(Exe(), link.Target);
    EXPECT_EQ(kDescription, link.Description);
    EXPECT_EQ(Icon(), link.Icon);
    EXPECT_EQ(0, link.IconIndex);
    EXPECT_EQ(L"", link.WorkingDirectory);

    UpdateShortcuts(none_, nullptr, 0, nullptr);
    EXPECT_FALSE(testsupport::Exists(commonDesktop_ + L"\\Zorvex.lnk"));
}

TEST_F(Shortcuts, TheUsersOwnCopyIsUpdatedInPlace)
{
    // The user's copy carries arguments of their own, and the all-users desktop has one too.
    const std::wstring user = userDesktop_ + L"\\Zorvex.lnk";
    const std::wstring common = commonDesktop_ + L"\\Zorvex.lnk";
    {
        IShellLinkW* link = nullptr;
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                               reinterpret_cast<void**>(&link))));
        link->SetPath(L"C:\\Old\\Zorvex.exe");
        link->SetArguments(L"-user");
        IPersistFile* file = nullptr;
        ASSERT_TRUE(SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))));
        EXPECT_TRUE(SUCCEEDED(file->Save(user.c_str(), TRUE)));
        file->Release();
        link->Release();
    }
    ASSERT_TRUE(testsupport::WriteBytes(common, "not a shortcut of ours to touch"));

    IntegrationOptions options = {};
    options.DesktopLink = true;
    UpdateShortcuts(options, nullptr, 0, nullptr);
    ShortcutInfo link = ReadShortcut(user);
    ASSERT_TRUE(link.Loaded);
    EXPECT_EQ(Exe(), link.Target);
    EXPECT_EQ(L"-user", link.Arguments);  // what this program does not set survives
    EXPECT_EQ(kDescription, link.Description);
    EXPECT_EQ(L"", link.Icon);
    std::string bytes;
    ASSERT_TRUE(testsupport::ReadBytes(common, bytes));
    EXPECT_EQ("not a shortcut of ours to touch", bytes);

    UpdateShortcuts(none_, nullptr, 0, nullptr);
    EXPECT_FALSE(testsupport::Exists(user));
    EXPECT_TRUE(testsupport::Exists(common));
}

TEST_F(Shortcuts, StartMenuAndBothProgramGroups)
{
    for (const wchar_t* name : {L"Zorvex.chm", L"Zvx.txt", L"WhatsNew.txt"})
        ASSERT_TRUE(testsupport::PlaceProgramFile(name));
    const std::wstring userGroup = ShellFolder(CSIDL_PROGRAMS) + L"\\Zorvex";
    const std::wstring commonGroup = ShellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Zorvex";
    // An old group: its files go, a subfolder stays.
    ASSERT_TRUE(CreateDirectoryW(userGroup.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((userGroup + L"\\Keep").c_str(), nullptr));
    ASSERT_TRUE(testsupport::WriteBytes(userGroup + L"\\Old Manual.lnk", "old"));

    IntegrationOptions options = {};
    options.StartMenuLink = true;
    options.ProgramsLink = true;
    wchar_t groupPath[2048] = L"untouched";
    UpdateShortcuts(options, groupPath, 2048, Icon().c_str());

    EXPECT_EQ(commonGroup, groupPath);  // the all-users group is reported
    ShortcutInfo start = ReadShortcut(ShellFolder(CSIDL_COMMON_STARTMENU) + L"\\Zorvex.lnk");
    ASSERT_TRUE(start.Loaded);
    EXPECT_EQ(Exe(), start.Target);
    EXPECT_EQ(userDesktop_, start.WorkingDirectory);
    EXPECT_EQ(Icon(), start.Icon);
    EXPECT_FALSE(testsupport::Exists(ShellFolder(CSIDL_STARTMENU) + L"\\Zorvex.lnk"));

    const std::vector<std::wstring> four = {L"What's New.lnk", L"Zorvex Help.lnk", L"Zorvex.lnk",
                                            L"Zvx Console Manual.lnk"};
    std::vector<std::wstring> userEntries = four;
    userEntries.insert(userEntries.begin(), L"Keep");
    EXPECT_EQ(userEntries, FolderEntries(userGroup));
    EXPECT_EQ(four, FolderEntries(commonGroup));
    for (const std::wstring& group : {userGroup, commonGroup}) {
        ShortcutInfo first = ReadShortcut(group + L"\\Zorvex.lnk");
        EXPECT_EQ(Exe(), first.Target);
        EXPECT_EQ(Icon(), first.Icon);
        EXPECT_EQ(userDesktop_, first.WorkingDirectory);
        ShortcutInfo help = ReadShortcut(group + L"\\Zorvex Help.lnk");
        EXPECT_EQ(InProgramFolder(L"Zorvex.chm"), help.Target);
        EXPECT_EQ(L"", help.Icon);
        EXPECT_EQ(kDescription, help.Description);
        EXPECT_EQ(InProgramFolder(L"WhatsNew.txt"), ReadShortcut(group + L"\\What's New.lnk").Target);
    }

    // Without Zvx.txt, three; the old group is emptied first.
    ASSERT_TRUE(DeleteFileW(InProgramFolder(L"Zvx.txt").c_str()));
    UpdateShortcuts(options, nullptr, 0, nullptr);
    EXPECT_EQ((std::vector<std::wstring>{L"What's New.lnk", L"Zorvex Help.lnk", L"Zorvex.lnk"}),
              FolderEntries(commonGroup));

    UpdateShortcuts(none_, nullptr, 0, nullptr);
    EXPECT_FALSE(testsupport::Exists(userGroup));
    EXPECT_FALSE(testsupport::Exists(commonGroup));
    EXPECT_FALSE(testsupport::Exists(ShellFolder(CSIDL_COMMON_STARTMENU) + L"\\Zorvex.lnk"));
}

// Programs\User\Zorvex and Programs\Common\Zorvex below C:\zvx-link-fixture are
// symbolic links to GroupTarget\User and GroupTarget\Common (made on the host
// side; Wine cannot make one). The program folders are redirected there, as
// folder redirection does, so that the code under test finds those groups.
TEST_F(Shortcuts, AProgramGroupThatIsALinkIsNeitherEmptiedNorRemoved)
{
    const std::wstring fixture = L"C:\\zvx-link-fixture";
    const std::wstring userTarget = fixture + L"\\GroupTarget\\User";
    const std::wstring commonTarget = fixture + L"\\GroupTarget\\Common";
    const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    testsupport::RegistryValueGuard userPrograms(HKEY_CURRENT_USER, kShellFolders, L"Programs");
    testsupport::RegistryValueGuard commonPrograms(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Programs");
    ASSERT_TRUE(testsupport::SetString(HKEY_CURRENT_USER, kShellFolders, L"Programs", fixture + L"\\Programs\\User"));
    ASSERT_TRUE(testsupport::SetString(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Programs",
                                       fixture + L"\\Programs\\Common"));
    ASSERT_EQ(fixture + L"\\Programs\\User", ShellFolder(CSIDL_PROGRAMS));
    ASSERT_EQ(fixture + L"\\Programs\\Common", ShellFolder(CSIDL_COMMON_PROGRAMS));
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((fixture + L"\\Programs\\User\\Zorvex").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find) << "the link fixture (tests/program_links.sh) did not run";
    FindClose(find);
    ASSERT_NE(0u, data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    ASSERT_TRUE(testsupport::WriteBytes(userTarget + L"\\Old Manual.lnk", "the user's"));
    ASSERT_TRUE(testsupport::WriteBytes(commonTarget + L"\\notes.txt", "not a shortcut"));
    auto expectTargetsUntouched = [&](const char* step) {
        EXPECT_EQ(std::vector<std::wstring>{L"Old Manual.lnk"}, FolderEntries(userTarget)) << step;
        EXPECT_EQ(std::vector<std::wstring>{L"notes.txt"}, FolderEntries(commonTarget)) << step;
        std::string bytes;
        EXPECT_TRUE(testsupport::ReadBytes(userTarget + L"\\Old Manual.lnk", bytes) && bytes == "the user's") << step;
        EXPECT_TRUE(testsupport::ReadBytes(commonTarget + L"\\notes.txt", bytes) && bytes == "not a shortcut")
            << step;
    };
    IntegrationOptions options = {};
    options.ProgramsLink = true;

    // No group is made (the plain ones are, StartMenuAndBothProgramGroups) and none is reported.
    wchar_t groupPath[2048] = L"untouched";
    UpdateShortcuts(options, groupPath, 2048, nullptr);
    EXPECT_EQ(std::wstring(L"untouched"), groupPath);
    expectTargetsUntouched("setup");
    UpdateShortcuts(none_, nullptr, 0, nullptr);
    expectTargetsUntouched("removal");
    EXPECT_TRUE(testsupport::Exists(fixture + L"\\Programs\\User\\Zorvex"));
    EXPECT_TRUE(testsupport::Exists(fixture + L"\\Programs\\Common\\Zorvex"));
}

TEST_F(Shortcuts, TranslatedNamesAreMadeIntoFileNames)
{
    ASSERT_TRUE(testsupport::PlaceProgramFile(L"Zorvex.chm"));
    ASSERT_TRUE(testsupport::PlaceProgramFile(
        L"uninstall.lng", "***messages**\r\n:STRINGS\r\nIDS_ZORVEXHELP \"Help/Manual: <all> \\\"parts\\\"?\"\r\n"));
    LoadLanguageFile(InProgramFolder(L"uninstall.lng").c_str());
    IntegrationOptions options = {};
    options.ProgramsLink = true;
    UpdateShortcuts(options, nullptr, 0, nullptr);
    DestroyLanguageTable();
    EXPECT_EQ((std::vector<std::wstring>{L"Help_Manual_ _all_ _parts__.lnk", L"Zorvex.lnk"}),
              FolderEntries(ShellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Zorvex"));
}

TEST_F(Shortcuts, RemovingAGroupWithALockedFileNeverWaitsForAnAnswer)
{
    const std::wstring group = ShellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Zorvex";
    ASSERT_TRUE(CreateDirectoryW(group.c_str(), nullptr));
    const std::wstring locked = group + L"\\Zorvex.lnk";
    ASSERT_TRUE(testsupport::WriteBytes(locked, "in use"));
    HANDLE held = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread remover([&] {
        testsupport::ComApartment com;
        RemoveFolderTree(group.c_str());
        SetEvent(done);
    });
    // A silent uninstall must not stop at an error box (Wine's shell shows none for
    // this case either way; on Windows it would without FOF_NOERRORUI). Should one
    // appear, it is closed so that the test can end.
    bool returned = WaitForSingleObject(done, 15000) == WAIT_OBJECT_0;
    for (HWND box : testsupport::ProcessWindows(GetCurrentProcessId(), L"#32770"))
        PostMessageW(box, WM_CLOSE, 0, 0);
    remover.join();
    CloseHandle(done);
    CloseHandle(held);
    EXPECT_TRUE(returned) << "RemoveFolderTree waited for an answer";
    RemoveFolderTree(group.c_str());
    EXPECT_FALSE(testsupport::Exists(group));
}


// A shortcut to target saved at path, straight through the shell's link object.
void SaveLink(const std::wstring& path, const std::wstring& target)
{
    IShellLinkW* link = nullptr;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                           reinterpret_cast<void**>(&link))));
    link->SetPath(target.c_str());
    IPersistFile* file = nullptr;
    ASSERT_TRUE(SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))));
    EXPECT_TRUE(SUCCEEDED(file->Save(path.c_str(), TRUE)));
    file->Release();
    link->Release();
}

// Another account's profile stands in as a scratch folder: the uninstall finds
// what setup made there through the machine's record alone.
TEST_F(Shortcuts, RecordedShortcutsAndGroupsGoFromAnyProfileWhileTheyAreTheProducts)
{
    IntegrationOptions options = {};
    options.DesktopLink = true;
    options.StartMenuLink = true;
    options.ProgramsLink = true;
    UpdateShortcuts(options, nullptr, 0, nullptr);
    UpdateShortcuts(options, nullptr, 0, nullptr);  // recorded once
    const std::wstring desktopLink = commonDesktop_ + L"\\Zorvex.lnk";
    const std::wstring startLink = ShellFolder(CSIDL_COMMON_STARTMENU) + L"\\Zorvex.lnk";
    const std::wstring userGroup = ShellFolder(CSIDL_PROGRAMS) + L"\\Zorvex";
    const std::wstring commonGroup = ShellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Zorvex";
    const std::wstring shortcuts = L"HKLM\\Software\\Zorvex\\Record\\Shortcuts";
    const std::wstring groups = L"HKLM\\Software\\Zorvex\\Record\\Groups";
    EXPECT_EQ((std::vector<std::wstring>{shortcuts + L" |", shortcuts + L" | 0 | 1 | \"" + desktopLink + L"\\0\"",
                                         shortcuts + L" | 1 | 1 | \"" + startLink + L"\\0\""}),
              testsupport::ExportTree(HKEY_LOCAL_MACHINE, L"Software\\Zorvex\\Record\\Shortcuts"));
    EXPECT_EQ((std::vector<std::wstring>{groups + L" |", groups + L" | 0 | 1 | \"" + userGroup + L"\\0\"",
                                         groups + L" | 1 | 1 | \"" + commonGroup + L"\\0\""}),
              testsupport::ExportTree(HKEY_LOCAL_MACHINE, L"Software\\Zorvex\\Record\\Groups"));

    const std::wstring other = testsupport::MakeScratchFolder(L"other-profile");
    ASSERT_TRUE(CreateDirectoryW((other + L"\\Desktop").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((other + L"\\Moved").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((other + L"\\Zorvex").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((other + L"\\Games").c_str(), nullptr));
    ASSERT_TRUE(testsupport::WriteBytes(other + L"\\Zorvex\\Zorvex.lnk", "a group's shortcut"));
    // A group goes whole, as groups are removed, a folder in it too; a link in it
    // to a folder elsewhere is never entered, and what it leads to stays.
    ASSERT_TRUE(CreateDirectoryW((other + L"\\Kept").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((other + L"\\Kept\\Zorvex").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((other + L"\\Kept\\Zorvex\\Mine").c_str(), nullptr));
    ASSERT_TRUE(testsupport::WriteBytes(other + L"\\Kept\\Zorvex\\Zorvex.lnk", "a group's shortcut"));
    ASSERT_TRUE(CreateDirectoryW((other + L"\\Elsewhere").c_str(), nullptr));
    ASSERT_TRUE(testsupport::WriteBytes(other + L"\\Elsewhere\\system.dat", "not the product's"));
    ASSERT_TRUE(CreateDirectoryW((other + L"\\Linked").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((other + L"\\Linked\\Zorvex").c_str(), nullptr));
    ASSERT_TRUE(testsupport::MakeUnixSymlink(other + L"\\Linked\\Zorvex\\Planted", other + L"\\Elsewhere"));
    ASSERT_TRUE(testsupport::WriteBytes(other + L"\\Games\\game.lnk", "not the product's"));
    SaveLink(other + L"\\Desktop\\Zorvex.lnk", Exe());
    // The user pointed this one at another program since: it is theirs now.
    SaveLink(other + L"\\Moved\\Zorvex.lnk", L"C:\\Elsewhere\\Zorvex.exe");
    RecordPath(RecordedList::Shortcuts, (other + L"\\Desktop\\Zorvex.lnk").c_str());
    RecordPath(RecordedList::Shortcuts, (other + L"\\Moved\\Zorvex.lnk").c_str());
    RecordPath(RecordedList::Shortcuts, (other + L"\\Gone\\Zorvex.lnk").c_str());
    RecordPath(RecordedList::ProgramGroups, (other + L"\\Zorvex").c_str());
    RecordPath(RecordedList::ProgramGroups, (other + L"\\Kept\\Zorvex").c_str());
    RecordPath(RecordedList::ProgramGroups, (other + L"\\Linked\\Zorvex").c_str());
    // A group by any other name is never removed on the record's word; nor one that is a link.
    RecordPath(RecordedList::ProgramGroups, (other + L"\\Games").c_str());
    RecordPath(RecordedList::ProgramGroups, L"C:\\zvx-link-fixture\\Programs\\User\\Zorvex");
    const std::wstring behindLink = L"C:\\zvx-link-fixture\\GroupTarget\\User\\record-test.txt";
    ASSERT_TRUE(testsupport::WriteBytes(behindLink, "behind the link"));

    RemoveRecordedShortcuts();
    EXPECT_FALSE(testsupport::Exists(desktopLink));
    EXPECT_FALSE(testsupport::Exists(startLink));
    EXPECT_FALSE(testsupport::Exists(userGroup));
    EXPECT_FALSE(testsupport::Exists(commonGroup));
    EXPECT_FALSE(testsupport::Exists(other + L"\\Desktop\\Zorvex.lnk"));
    EXPECT_FALSE(testsupport::Exists(other + L"\\Zorvex"));
    EXPECT_FALSE(testsupport::Exists(other + L"\\Kept\\Zorvex"));
    EXPECT_TRUE(testsupport::Exists(other + L"\\Elsewhere\\system.dat"));
    EXPECT_EQ(L"C:\\Elsewhere\\Zorvex.exe", ReadShortcut(other + L"\\Moved\\Zorvex.lnk").Target);
    EXPECT_TRUE(testsupport::Exists(other + L"\\Games\\game.lnk"));
    EXPECT_TRUE(testsupport::Exists(behindLink));
    EXPECT_TRUE(testsupport::Exists(L"C:\\zvx-link-fixture\\Programs\\User\\Zorvex"));
    DeleteFileW(behindLink.c_str());
    testsupport::RemoveUnixSymlink(other + L"\\Linked\\Zorvex\\Planted");
    testsupport::RemoveTree(other);
}

}  // namespace
