// App Paths and the entry in the list of installed programs, in both registry
// views, and the stop of the apply sequence when the first write is denied.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <cwchar>
#include <string>
#include <utility>

#include "tests/support/integration_fixture.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"
#include "uninstall/integration/app_paths.h"
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

class Registration : public testsupport::IntegrationTest {
protected:
    // No test that runs later in the prefix may meet a denied key. Such a key
    // refuses the full access that the general clean-up opens it with; deleting
    // it (it is empty) needs none.
    void TearDown() override
    {
        RegDeleteKeyExW(kClasses, L"Zorvex", 0, 0);
        RegDeleteKeyExW(kMachine, kAppPaths.c_str(), 0, 0);
        IntegrationTest::TearDown();
    }
};

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

}  // namespace
