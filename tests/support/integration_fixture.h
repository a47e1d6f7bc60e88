// The fixture of the shell-integration tests: every test starts and ends on the
// same machine (the product's keys as captured before the first test, no
// product files beside the test program, no shortcuts, the real version probes).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/integration_support.h"
#include "tests/support/registry_support.h"
#include "uninstall/integration/shell_extension.h"
#include "uninstall/integration/windows_version.h"

namespace testsupport {

inline const bool kRunsFromScratchFolder = RunFromScratchFolder();

inline const std::wstring kAppPathsKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Zorvex.exe";
inline const std::wstring kUninstallKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zorvex archiver";

class IntegrationTest : public ::testing::Test {
protected:
    static const RegistryGuard& Guard()
    {
        static const RegistryGuard guard({kShellExtClsid32, kShellExtClsid64});
        return guard;
    }
    static void Clean()
    {
        Guard().Restore();
        // A second run works with the files its first run placed, and leaves them to it.
        if (ChildMode().empty())
            RemoveProgramFiles();
        RemoveShortcuts();
        SetWindowsVersionOverrideForTesting(nullptr);
    }
    void SetUp() override
    {
        ASSERT_TRUE(com_.Ok());
        Clean();
    }
    void TearDown() override { Clean(); }

    static void PretendWindows(uint32_t major, uint32_t minor, uint32_t build, int wmi)
    {
        WindowsVersionOverride values = {major, minor, build, wmi};
        SetWindowsVersionOverrideForTesting(&values);
    }

    ComApartment com_;
};

}  // namespace testsupport
