// Whose installation the registration describes: the folder each registration
// value names, and the decision made from them, as golden tables.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "uninstall/integration/install_owner.h"

namespace {

struct NamedRow {
    RegistrationSource Source;
    const wchar_t* Value;
    const wchar_t* Folder;  // empty: names none
};

TEST(InstallOwner, TheFolderEachRegistrationValueNames)
{
    const NamedRow rows[] = {
        {kNamedByInstallLocation, L"C:\\Program Files\\Zorvex\\", L"C:\\Program Files\\Zorvex\\"},
        {kNamedByInstallLocation, L"C:\\Program Files\\Zorvex", L"C:\\Program Files\\Zorvex\\"},
        {kNamedByInstallLocation, L"\"D:\\R&D (x)\\Zorvex\"", L"D:\\R&D (x)\\Zorvex\\"},
        {kNamedByRecord, L"\\\\server\\share\\Zorvex\\", L"\\\\server\\share\\Zorvex\\"},
        {kNamedByUninstallString, L"C:\\Program Files\\Zorvex\\Uninstall.exe", L"C:\\Program Files\\Zorvex\\"},
        {kNamedByUninstallString, L"\"C:\\Program Files\\Zorvex\\Uninstall.exe\" -s", L"C:\\Program Files\\Zorvex\\"},
        {kNamedByUninstallString, L"  \"C:\\Tools - x\\Zorvex\\Uninstall.exe\"", L"C:\\Tools - x\\Zorvex\\"},
        {kNamedByAppPaths, L"C:\\Zorvex.exe", L"C:\\"},
        {kNamedByShellExtension, L"C:\\Program Files\\Zorvex\\zvxext.dll", L"C:\\Program Files\\Zorvex\\"},
        // Nothing whole, nothing absolute: no folder at all.
        {kNamedByUninstallString, L"", L""},
        {kNamedByUninstallString, L"Uninstall.exe", L""},
        {kNamedByAppPaths, L"\\Zorvex\\Zorvex.exe", L""},
        {kNamedByAppPaths, L"C:Zorvex.exe", L""},
        {kNamedByShellExtension, L"\"C:\\Program Files\\Zorvex\\zvxext.dll", L""},
        {kNamedByInstallLocation, L"\"\"", L""},
    };
    for (const NamedRow& row : rows) {
        wchar_t folder[64] = L"untouched";
        EXPECT_EQ(row.Folder[0] != 0, FolderNamedBy(row.Source, row.Value, folder, 64)) << row.Value;
        EXPECT_STREQ(row.Folder, folder) << row.Value;
    }
    // A folder that does not fit is no folder, never a cut one.
    wchar_t small[12];
    EXPECT_FALSE(FolderNamedBy(kNamedByUninstallString, L"C:\\Program Files\\Zorvex\\Uninstall.exe", small, 12));
    EXPECT_STREQ(L"", small);
    EXPECT_FALSE(FolderNamedBy(kNamedByInstallLocation, L"C:\\ten-chars", small, 12));
    EXPECT_STREQ(L"", small);
}

// The install folders of the table's rows: this copy's (own), the live install's,
// and the one a removed install left in the registration.
const wchar_t kOwn[] = L"\\\\?\\C:\\Old\\Zorvex\\";
const wchar_t kLive[] = L"\\\\?\\C:\\Program Files\\Zorvex\\";
const wchar_t kGone[] = L"C:\\Gone\\Zorvex\\";

struct DecisionRow {
    const char* Case;
    // InstallLocation, UninstallString, App Paths, shell extension, record: a
    // folder, or null for none; live: whether that folder holds the program.
    const wchar_t* Folders[kRegistrationSources];
    bool Live[kRegistrationSources];
    bool OtherInstall;
    RegistrationSource OtherSource;
    bool EntryIsOwn;
};

TEST(InstallOwner, TheRegistrationIsLeftToAnotherFolderThatStillHoldsTheProgram)
{
    const bool all[] = {true, true, true, true, true};
    const bool none[] = {false, false, false, false, false};
    auto row = [](const char* name, std::initializer_list<const wchar_t*> folders, const bool (&live)[kRegistrationSources], bool other,
                  RegistrationSource source, bool entryIsOwn) {
        DecisionRow r = {name, {}, {}, other, source, entryIsOwn};
        int i = 0;
        for (const wchar_t* folder : folders)
            r.Folders[i++] = folder;
        for (int n = 0; n < kRegistrationSources; ++n)
            r.Live[n] = live[n];
        return r;
    };
    const bool entryOnlyLive[] = {true, true, false, false, false};
    const bool appPathsLive[] = {false, false, true, false, false};
    const bool extensionLive[] = {false, false, false, true, false};
    const bool recordLive[] = {false, false, false, false, true};
    const DecisionRow rows[] = {
        row("nothing registered", {nullptr, nullptr, nullptr, nullptr, nullptr}, none, false,
            kNamedByInstallLocation, false),
        row("all name this folder", {kOwn, kOwn, kOwn, kOwn, kOwn}, all, false, kNamedByInstallLocation, true),
        row("all name the live install", {kLive, kLive, kLive, kLive, kLive}, all, true, kNamedByInstallLocation,
            false),
        row("all name a folder that no longer holds the program", {kGone, kGone, kGone, kGone, kGone}, none, false,
            kNamedByInstallLocation, false),
        row("the entry is this copy's, App Paths the live install's", {kOwn, kOwn, kLive, kOwn, kOwn}, appPathsLive,
            true, kNamedByAppPaths, true),
        row("the entry names both", {kOwn, kLive, kOwn, kOwn, kOwn}, entryOnlyLive, true, kNamedByUninstallString,
            false),
        row("only the shell extension is the live install's", {kOwn, kOwn, kOwn, kLive, kOwn}, extensionLive, true,
            kNamedByShellExtension, true),
        row("only the record is the live install's", {nullptr, nullptr, nullptr, nullptr, kLive}, recordLive, true,
            kNamedByRecord, false),
        row("this folder spelled otherwise", {L"c:\\old\\zorvex", L"C:\\OLD\\ZORVEX\\\\", L"\\\\?\\c:\\Old\\Zorvex",
                                               kOwn, nullptr},
            all, false, kNamedByInstallLocation, true),
        row("a sibling whose name begins the same", {L"\\\\?\\C:\\Old\\Zorvex2\\", nullptr, nullptr, nullptr, nullptr},
            all, true, kNamedByInstallLocation, false),
        row("gone entry, live App Paths", {kGone, kGone, kLive, nullptr, nullptr}, appPathsLive, true,
            kNamedByAppPaths, false),
    };
    for (const DecisionRow& r : rows) {
        NamedFolder named[kRegistrationSources];
        for (int n = 0; n < kRegistrationSources; ++n)
            named[n] = {r.Folders[n] != nullptr ? r.Folders[n] : L"", r.Live[n]};
        InstallOwnership decided = DecideInstallOwnership(kOwn, named);
        EXPECT_EQ(r.OtherInstall, decided.OtherInstall) << r.Case;
        if (r.OtherInstall) {
            EXPECT_EQ(r.OtherSource, decided.OtherSource) << r.Case;
        }
        EXPECT_EQ(r.EntryIsOwn, decided.EntryIsOwn) << r.Case;
    }
}

// A UNC folder's final path against its plain spelling.
TEST(InstallOwner, AShareFolderIsTheSameInEitherSpelling)
{
    NamedFolder named[kRegistrationSources] = {{L"\\\\server\\share\\Zorvex\\", true}, {L"", false}, {L"", false},
                                               {L"", false}, {L"", false}};
    InstallOwnership decided = DecideInstallOwnership(L"\\\\?\\UNC\\server\\share\\Zorvex\\", named);
    EXPECT_FALSE(decided.OtherInstall);
    EXPECT_TRUE(decided.EntryIsOwn);
}

}  // namespace
