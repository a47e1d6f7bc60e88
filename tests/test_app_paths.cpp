// App Paths and the entry in the list of installed programs, in both registry
// views, the stop of the apply sequence when the first write is denied, and the
// size of an install that the entry reports.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <utility>

#include "tests/support/integration_fixture.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"
#include "common/base/file.h"
#include "uninstall/integration/app_paths.h"
#include "uninstall/install_list.h"
#include "uninstall/integration/associations.h"

namespace {

using testsupport::DwordOf;
using testsupport::HasKey;
using testsupport::InProgramFolder;
using testsupport::ProgramFolder;
using testsupport::SetString;
using testsupport::StringOf;

const HKEY kClasses = HKEY_CLASSES_ROOT;
const HKEY kMachine = HKEY_LOCAL_MACHINE;
const std::wstring& kAppPaths = testsupport::kAppPathsKey;
const std::wstring& kUninstall = testsupport::kUninstallKey;

// A key whose values nobody may set (deleting it stays allowed). The descriptor is
// set after creation: Wine does not take it from RegCreateKeyExW's attributes.
bool CreateDeniedKey(HKEY root, const std::wstring& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;0x2;;;WD)(A;;KA;;;WD)", SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    HKEY key;
    LONG r = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, WRITE_DAC, nullptr, &key, nullptr);
    if (r == ERROR_SUCCESS) {
        r = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
        RegCloseKey(key);
    }
    LocalFree(descriptor);
    return r == ERROR_SUCCESS;
}

class Registration : public testsupport::IntegrationTest {};

TEST_F(Registration, AppPathsAndUninstallEntry)
{
    const std::wstring exe = InProgramFolder(L"Zorvex.exe");
    ASSERT_TRUE(WriteAppPaths());
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_32KEY)}) {
        EXPECT_EQ(exe, StringOf(kMachine, kAppPaths, L"", view));
        EXPECT_EQ(ProgramFolder(), StringOf(kMachine, kAppPaths, L"Path", view));  // no trailing separator
    }
    EXPECT_EQ(exe, StringOf(kMachine, L"Software\\Zorvex", L"exe64"));

    WriteUninstallEntry();
    EXPECT_EQ(L"Zorvex 6.11 beta 1 (64-bit)", StringOf(kMachine, kUninstall, L"DisplayName"));
    EXPECT_EQ(L"6.11.1", StringOf(kMachine, kUninstall, L"DisplayVersion"));
    EXPECT_EQ(testsupport::SelfPath(), StringOf(kMachine, kUninstall, L"UninstallString"));
    EXPECT_EQ(exe, StringOf(kMachine, kUninstall, L"DisplayIcon"));
    EXPECT_EQ(ProgramFolder() + L"\\", StringOf(kMachine, kUninstall, L"InstallLocation"));
    EXPECT_EQ(L"Zorvex Software", StringOf(kMachine, kUninstall, L"Publisher"));
    const std::pair<const wchar_t*, DWORD> numbers[] = {
        {L"VersionMajor", 6}, {L"VersionMinor", 11}, {L"NoModify", 1}, {L"NoRepair", 1}, {L"Language", 0}};
    for (const auto& number : numbers) {
        EXPECT_EQ(static_cast<long long>(number.second), DwordOf(kMachine, kUninstall, number.first)) << number.first;
    }

    // An icon the installer chose survives while its file exists; an icon index or a gone file does not.
    ASSERT_TRUE(testsupport::PlaceProgramFile(L"custom.ico"));
    ASSERT_TRUE(SetString(kMachine, kUninstall, L"DisplayIcon", InProgramFolder(L"custom.ico")));
    WriteUninstallEntry();
    EXPECT_EQ(InProgramFolder(L"custom.ico"), StringOf(kMachine, kUninstall, L"DisplayIcon"));
    ASSERT_TRUE(SetString(kMachine, kUninstall, L"DisplayIcon", InProgramFolder(L"custom.ico") + L",0"));
    WriteUninstallEntry();
    EXPECT_EQ(exe, StringOf(kMachine, kUninstall, L"DisplayIcon"));
}

TEST(VersionText, BlankOnlyAfterTextAndCutToTheCapacity)
{
    wchar_t text[64] = L"";
    AppendVersionText(text, 64);
    EXPECT_STREQ(L"6.11 beta 1 (64-bit)", text);
    wcscpy(text, L"Zorvex");
    AppendVersionText(text, 64);
    EXPECT_STREQ(L"Zorvex 6.11 beta 1 (64-bit)", text);
    wchar_t small[12] = L"Zorvex";
    AppendVersionText(small, 12);
    EXPECT_STREQ(L"Zorvex 6.11", small);
}

TEST_F(Registration, AccessDeniedStopsAtTheFirstWrite)
{
    ASSERT_TRUE(CreateDeniedKey(kMachine, kAppPaths));
    ASSERT_FALSE(SetString(kMachine, kAppPaths, L"", L"probe"));
    EXPECT_FALSE(WriteAppPaths());
    EXPECT_EQ(L"<missing>", StringOf(kMachine, kAppPaths));
    EXPECT_FALSE(HasKey(kMachine, L"Software\\Zorvex"));
    // (Wine shares this key between the views; on Windows the 32-bit copy is a key of its own.)
    EXPECT_EQ(L"<missing>", StringOf(kMachine, kAppPaths, L"", KEY_WOW64_32KEY));
    EXPECT_EQ(L"<missing>", StringOf(kMachine, kAppPaths, L"Path", KEY_WOW64_32KEY));

    ASSERT_TRUE(CreateDeniedKey(kClasses, L"Zorvex"));
    EXPECT_FALSE(RegisterProgIds());
    EXPECT_FALSE(HasKey(kClasses, L"Zorvex\\shell"));
    EXPECT_FALSE(HasKey(kClasses, L"Zorvex.ZIP"));
    EXPECT_FALSE(HasKey(kClasses, L".rev"));
}

TEST(InstallSize, EachFileCountsOnceInKiBRoundedUp)
{
    struct Case {
        const char* what;
        std::vector<FileIdentity> files;
        uint32_t kib;
    };
    const Case cases[] = {
        {"nothing", {}, 0},
        {"one byte", {{1, 10, 1}}, 1},
        {"exactly one KiB", {{1, 10, 1024}}, 1},
        {"a byte more", {{1, 10, 1025}}, 2},
        {"1 + 1024 + 1025 bytes", {{1, 10, 1}, {1, 11, 1024}, {1, 12, 1025}}, 3},
        {"one file under two names, not next to each other", {{1, 12, 1025}, {1, 10, 1}, {1, 12, 1025}}, 2},
        {"the same number on another volume", {{1, 10, 1024}, {2, 10, 1024}}, 2},
        {"a file system that numbers no files", {{3, 0, 1024}, {3, 0, 1024}}, 2},
        {"just below the largest", {{1, 10, 0x3FFFFFFF800ull}}, 0xFFFFFFFEu},
        {"the largest", {{1, 10, 0x3FFFFFFF801ull}}, 0xFFFFFFFFu},
        {"more than it can say", {{1, 10, 0x40000000000ull}}, 0xFFFFFFFFu},
        {"sizes whose sum overflows", {{1, 10, UINT64_MAX}, {1, 11, UINT64_MAX}}, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        std::vector<FileIdentity> files = c.files;
        EXPECT_EQ(c.kib, EstimatedSizeKiB(files.data(), files.size())) << c.what;
    }
}

// The list of an install folder that also holds a folder link and a file link
// to C:\zvx-link-fixture\SizedTarget (made on the host; SizedTarget\big.bin has
// 3000 bytes). Only what the uninstall would delete inside the folder counts.
TEST(InstallSize, CountsTheProgramAndTheListedFilesInsideTheFolderOnly)
{
    const std::wstring folder = L"C:\\zvx-link-fixture\\Sized\\";
    const std::wstring program = folder + L"prog.bin";
    ASSERT_TRUE(testsupport::Exists(L"C:\\zvx-link-fixture\\SizedTarget\\big.bin"));
    ASSERT_TRUE(testsupport::WriteBytes(program, std::string(2000, 'p')));
    ASSERT_TRUE(testsupport::WriteBytes(folder + L"plain.bin", "1"));
    CreateDirectoryW((folder + L"sub").c_str(), nullptr);
    ASSERT_TRUE(testsupport::WriteBytes(folder + L"sub\\inner.bin", std::string(1024, 'i')));

    // Without a list: the program alone.
    uint32_t kib = 0;
    EXPECT_TRUE(InstalledSizeKiB(folder.c_str(), program.c_str(), kib));
    EXPECT_EQ(2u, kib);

    // A second name of sub\inner.bin: one file.
    ASSERT_TRUE(CreateHardLinkW((folder + L"hard.bin").c_str(), (folder + L"sub\\inner.bin").c_str(), nullptr));
    // A line with a NUL byte is damaged, even where its head names a file.
    ASSERT_TRUE(testsupport::WriteBytes(folder + L"extra.bin", std::string(4096, 'e')));
    const char list[] = "plain.bin\r\n"
                        "through\\big.bin\r\n"
                        "linked.bin\r\n"
                        "through\r\n"
                        "sub\r\n"
                        "sub//inner.bin \t\r\n"
                        "SUB\\INNER.BIN\r\n"
                        "prog.bin\r\n"
                        "missing.bin\r\n"
                        "..\\SizedTarget\\big.bin\r\n"
                        "C:\\zvx-link-fixture\\SizedTarget\\big.bin\r\n"
                        "extra.bin\0\r\n"
                        "hard.bin\r\n";
    ASSERT_TRUE(testsupport::WriteBytes(folder + L"Uninstall.lst", std::string(list, sizeof list - 1)));
    // 2000 + 1 + 1024 bytes: the program, plain.bin and sub\inner.bin, once each.
    EXPECT_TRUE(InstalledSizeKiB(folder.c_str(), program.c_str(), kib));
    EXPECT_EQ(3u, kib);

    // A folder that is not there cannot be measured.
    EXPECT_FALSE(InstalledSizeKiB(L"C:\\zvx-link-fixture\\Missing\\", program.c_str(), kib));

    for (const wchar_t* name :
         {L"Uninstall.lst", L"hard.bin", L"sub\\inner.bin", L"plain.bin", L"extra.bin", L"prog.bin"})
        EXPECT_TRUE(DeleteFileW((folder + name).c_str())) << testing::PrintToString(std::wstring(name));
    EXPECT_TRUE(RemoveDirectoryW((folder + L"sub").c_str()));
}

}  // namespace
