// The integration choices as the setup dialog loads them from the settings and
// the installer's init text overlays them.
#include <gtest/gtest.h>

#include "resources/resource.h"
#include "tests/support/dialog_support.h"
#include "tests/support/registry_support.h"
#include "uninstall/integration/associations.h"
#include "uninstall/integration/setup_dialog.h"
#include "uninstall/integration/windows_version.h"

using namespace testsupport;

namespace {

const WindowsVersionOverride kWindows10 = {10, 0, 19045, 1};
const WindowsVersionOverride kWindows11 = {10, 0, 22631, 0};
const wchar_t kSetup[] = L"Software\\Zorvex\\Setup";

int Row(const wchar_t* primary)
{
    for (int row = 0; row < kAssociationRows; ++row) {
        if (wcscmp(AssociationTable[row].Primary, primary) == 0)
            return row;
    }
    return -1;
}

class SetupOptions : public ::testing::Test {
protected:
    void SetUp() override { DeleteTree(HKEY_CURRENT_USER, L"Software\\Zorvex"); }
    void TearDown() override
    {
        SetWindowsVersionOverrideForTesting(nullptr);
        DeleteTree(HKEY_CURRENT_USER, L"Software\\Zorvex");
    }
};

TEST_F(SetupOptions, DefaultsAndSavedChoices)
{
    SetWindowsVersionOverrideForTesting(&kWindows10);
    IntegrationOptions options;
    LoadOptions(options);
    EXPECT_TRUE(options.Associate[Row(L".zvx")]);
    EXPECT_TRUE(options.Associate[Row(L".001")]);
    EXPECT_FALSE(options.Associate[18]);
    EXPECT_FALSE(options.DesktopLink);
    EXPECT_FALSE(options.StartMenuLink);
    EXPECT_TRUE(options.ProgramsLink);
    EXPECT_TRUE(options.ShellExt);
    EXPECT_FALSE(options.CascadedMenu);
    EXPECT_TRUE(options.MenuIcons);
    EXPECT_FALSE(options.LegacyMenu);

    options.Associate[Row(L".zip")] = false;
    options.DesktopLink = true;
    options.MenuIcons = false;
    options.CascadedMenu = true;
    SaveOptions(options);
    EXPECT_EQ(0, DwordOf(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.zip", L"Set"));
    EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.zst", L"Set"));
    EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\Links", L"Desktop"));
    EXPECT_EQ(0, DwordOf(HKEY_CURRENT_USER, kSetup, L"MenuIcons"));
    IntegrationOptions again;
    LoadOptions(again);
    EXPECT_FALSE(again.Associate[Row(L".zip")]);
    EXPECT_TRUE(again.DesktopLink);
    EXPECT_FALSE(again.MenuIcons);
    EXPECT_TRUE(again.CascadedMenu);
}

// Each of the seven choices beside the rows is saved under its own value and
// read back from it alone: two patterns that differ in every choice.
TEST_F(SetupOptions, EachChoiceHasASettingOfItsOwn)
{
    SetWindowsVersionOverrideForTesting(&kWindows10);
    const wchar_t* links = L"Software\\Zorvex\\Setup\\Links";
    IntegrationOptions options = {};
    options.DesktopLink = true;
    options.ProgramsLink = true;
    options.CascadedMenu = true;
    options.LegacyMenu = true;
    SaveOptions(options);
    EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, links, L"Desktop"));
    EXPECT_EQ(0, DwordOf(HKEY_CURRENT_USER, links, L"StartMenu"));
    EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, links, L"Programs"));
    EXPECT_EQ(0, DwordOf(HKEY_CURRENT_USER, kSetup, L"ShellExt"));
    EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, kSetup, L"CascadedMenu"));
    EXPECT_EQ(0, DwordOf(HKEY_CURRENT_USER, kSetup, L"MenuIcons"));
    EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, kSetup, L"LegacyMenu"));
    EXPECT_EQ(0, DwordOf(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.zvx", L"Set"));

    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, links, L"Desktop", 0));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, links, L"StartMenu", 1));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, links, L"Programs", 0));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kSetup, L"ShellExt", 1));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kSetup, L"CascadedMenu", 0));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kSetup, L"MenuIcons", 1));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kSetup, L"LegacyMenu", 0));
    IntegrationOptions loaded;
    LoadOptions(loaded);
    EXPECT_FALSE(loaded.DesktopLink);
    EXPECT_TRUE(loaded.StartMenuLink);
    EXPECT_FALSE(loaded.ProgramsLink);
    EXPECT_TRUE(loaded.ShellExt);
    EXPECT_FALSE(loaded.CascadedMenu);
    EXPECT_TRUE(loaded.MenuIcons);
    EXPECT_FALSE(loaded.LegacyMenu);
}

// The boxes of the real template: each choice shows in its own box, comes back
// from it, and the shell boxes follow the shell extension's box.
TEST_F(SetupOptions, EachChoiceShowsInItsOwnBoxAndComesBackFromIt)
{
    SetWindowsVersionOverrideForTesting(&kWindows11);
    LoadRichEdit();
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), L"SETUPDLG", nullptr,
                                     [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    ASSERT_NE(dialog, nullptr);
    IntegrationOptions options = {};
    options.Associate[4] = true;  // .lz, whose box has a higher id than the next row's
    options.StartMenuLink = true;
    options.ShellExt = true;
    options.MenuIcons = true;
    ShowOptions(dialog, options);
    const int checked[] = {IDC_ASSOCLZ, IDC_LINKSTARTMENU, IDC_SHELLEXT, IDC_SHELLICONS};
    const int unchecked[] = {IDC_ASSOCLZH, IDC_ASSOCZVX, IDC_LINKDESKTOP, IDC_LINKPROGRAMS, IDC_SHELLCASCADED,
                             IDC_SHELLLEGACYMENU};
    for (int id : checked)
        EXPECT_EQ(IsDlgButtonChecked(dialog, id), static_cast<UINT>(BST_CHECKED)) << id;
    for (int id : unchecked)
        EXPECT_EQ(IsDlgButtonChecked(dialog, id), static_cast<UINT>(BST_UNCHECKED)) << id;
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_SHELLLEGACYMENU)));

    CheckDlgButton(dialog, IDC_LINKDESKTOP, BST_CHECKED);
    CheckDlgButton(dialog, IDC_SHELLICONS, BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_SHELLLEGACYMENU, BST_CHECKED);
    IntegrationOptions read;
    ReadOptions(dialog, read);
    EXPECT_TRUE(read.Associate[4]);
    EXPECT_FALSE(read.Associate[5]);
    EXPECT_TRUE(read.DesktopLink);
    EXPECT_TRUE(read.StartMenuLink);
    EXPECT_FALSE(read.ProgramsLink);
    EXPECT_TRUE(read.ShellExt);
    EXPECT_FALSE(read.CascadedMenu);
    EXPECT_FALSE(read.MenuIcons);
    EXPECT_TRUE(read.LegacyMenu);

    // Without the shell extension its three boxes are disabled and keep their state.
    read.ShellExt = false;
    ShowOptions(dialog, read);
    for (int id : {IDC_SHELLCASCADED, IDC_SHELLICONS, IDC_SHELLLEGACYMENU})
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, id))) << id;
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_SHELLLEGACYMENU), static_cast<UINT>(BST_CHECKED));
    DestroyWindow(dialog);
}

TEST_F(SetupOptions, JarAndIsoStartUncheckedUnlessTheyAreFreeOrOurs)
{
    SetWindowsVersionOverrideForTesting(&kWindows10);
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.jar", L"Set", 1));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.iso", L"Set", 1));
    IntegrationOptions options;
    {
        // Another program owns both.
        ScopedRegString jar(HKEY_CLASSES_ROOT, L".jar", L"", L"jarfile");
        ScopedRegString iso(HKEY_CLASSES_ROOT, L".iso", L"", L"Windows.IsoFile");
        LoadOptions(options);
        EXPECT_FALSE(options.Associate[Row(L".jar")]);
        EXPECT_FALSE(options.Associate[Row(L".iso")]);
    }
    {
        // Nobody owns them: .iso is taken as saved, .jar only when it is ours.
        ScopedRegString jar(HKEY_CLASSES_ROOT, L".jar", L"", L"");
        ScopedRegString iso(HKEY_CLASSES_ROOT, L".iso", L"", L"");
        LoadOptions(options);
        EXPECT_FALSE(options.Associate[Row(L".jar")]);
        EXPECT_TRUE(options.Associate[Row(L".iso")]);
    }
    {
        ScopedRegString jar(HKEY_CLASSES_ROOT, L".jar", L"", L"Zorvex");
        ScopedRegString iso(HKEY_CLASSES_ROOT, L".iso", L"", L"zorvex");
        LoadOptions(options);
        EXPECT_TRUE(options.Associate[Row(L".jar")]);
        EXPECT_TRUE(options.Associate[Row(L".iso")]);
    }
}

TEST_F(SetupOptions, Windows11CascadesUntilThePackagedMenuWasInstalled)
{
    SetWindowsVersionOverrideForTesting(&kWindows11);
    IntegrationOptions options;
    LoadOptions(options);
    EXPECT_TRUE(options.CascadedMenu);
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kSetup, L"CascadedMenu", 0));
    LoadOptions(options);
    EXPECT_TRUE(options.CascadedMenu);
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kSetup, L"NewContextMenu", 1));
    LoadOptions(options);
    EXPECT_FALSE(options.CascadedMenu);
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kSetup, L"CascadedMenu", 1));
    LoadOptions(options);
    EXPECT_TRUE(options.CascadedMenu);
}

TEST_F(SetupOptions, InitTextOverlaysLetterValuePairs)
{
    IntegrationOptions options = {};
    options.Associate[5] = true;
    options.ProgramsLink = true;
    ApplyInitText(L"A110d1S0", options);
    EXPECT_TRUE(options.Associate[0]);
    EXPECT_TRUE(options.Associate[1]);
    EXPECT_FALSE(options.Associate[2]);
    EXPECT_TRUE(options.Associate[5]) << "rows after the digits keep their value";
    EXPECT_TRUE(options.DesktopLink) << "letters count in either case";
    EXPECT_FALSE(options.ShellExt);
    EXPECT_TRUE(options.ProgramsLink);

    // Only "1" is true; unknown letters are skipped pairwise; a lone last
    // character is no pair.
    ApplyInitText(L"C1I2M1P0X1S1D", options);
    EXPECT_TRUE(options.CascadedMenu);
    EXPECT_FALSE(options.MenuIcons);
    EXPECT_TRUE(options.StartMenuLink);
    EXPECT_FALSE(options.ProgramsLink);
    EXPECT_TRUE(options.ShellExt);
    EXPECT_TRUE(options.DesktopLink);

    // At most twenty digits belong to A; the next one starts a pair of its own.
    IntegrationOptions all = {};
    ApplyInitText(L"A11111111111111111111" L"1D1", all);
    for (int i = 0; i < kAssociateFlags; ++i)
        EXPECT_TRUE(all.Associate[i]) << i;
    EXPECT_FALSE(all.DesktopLink) << "\"1D\" is a pair of an unknown letter, \"1\" alone is none";
    IntegrationOptions shortRun = {};
    ApplyInitText(L"A1S1", shortRun);
    EXPECT_TRUE(shortRun.Associate[0]);
    EXPECT_FALSE(shortRun.Associate[1]);
    EXPECT_TRUE(shortRun.ShellExt);
}

}  // namespace
