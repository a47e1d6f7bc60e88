// The version probes against Wine's real GetVersionExW and WMI (Windows 7 by
// default, Windows 10 by Wine's own setting in a second run), and through the
// test seam for the Windows 11 rules that Wine cannot show.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "tests/support/integration_support.h"
#include "uninstall/integration/windows_version.h"

namespace {

class VersionProbes : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com_.Ok());
        SetWindowsVersionOverrideForTesting(nullptr);
    }
    void TearDown() override { SetWindowsVersionOverrideForTesting(nullptr); }

    static void Pretend(uint32_t major, uint32_t minor, uint32_t build, int wmi)
    {
        WindowsVersionOverride values = {major, minor, build, wmi};
        SetWindowsVersionOverrideForTesting(&values);
    }

    testsupport::ComApartment com_;
};

TEST_F(VersionProbes, WineDefaultIsWindows7)
{
    if (testsupport::IsWindows10Child())
        GTEST_SKIP() << "runs in the Windows 7 process only";
    EXPECT_EQ(0x0601u, WindowsVersion());
    EXPECT_FALSE(WmiNameMentionsWindows10());  // Wine's name is "Microsoft Windows 7 ..."
    EXPECT_FALSE(IsWindows11());
}

TEST_F(VersionProbes, AnswersAreCachedUntilTheSeamChanges)
{
    unsigned before = VersionProbeCallsForTesting();
    unsigned version = WindowsVersion();
    EXPECT_EQ(before + 1, VersionProbeCallsForTesting());
    EXPECT_EQ(version, WindowsVersion());
    EXPECT_EQ(before + 1, VersionProbeCallsForTesting());

    Pretend(10, 0, 22631, 0);
    before = VersionProbeCallsForTesting();
    EXPECT_TRUE(IsWindows11());
    EXPECT_EQ(before + 2, VersionProbeCallsForTesting());  // the version and WMI
    EXPECT_TRUE(IsWindows11());
    EXPECT_EQ(0x0A00u, WindowsVersion());
    EXPECT_EQ(0x0A00u, WindowsVersion());
    EXPECT_EQ(before + 3, VersionProbeCallsForTesting());  // one more for WindowsVersion's own cache
}

TEST_F(VersionProbes, Windows11ByBuildNumberAndWmiName)
{
    struct Case {
        uint32_t Major, Minor, Build;
        int Wmi;
        bool Windows11;
        unsigned Probes;  // version query, plus WMI when it is asked
    };
    const Case cases[] = {
        {10, 0, 21999, 0, false, 1},  // below the first Windows 11 build: WMI not asked
        {10, 0, 22000, 0, true, 2},
        {10, 0, 22631, 1, false, 2},  // a Windows 10 with a Windows 11 build number
        {11, 0, 100, 1, true, 1},     // a later major version needs no WMI
        {6, 1, 7601, 0, false, 1},
        {6, 3, 30000, 0, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Major << "." << c.Minor << " build " << c.Build << " wmi " << c.Wmi);
        Pretend(c.Major, c.Minor, c.Build, c.Wmi);
        unsigned before = VersionProbeCallsForTesting();
        EXPECT_EQ(c.Windows11, IsWindows11());
        EXPECT_EQ(before + c.Probes, VersionProbeCallsForTesting());
        EXPECT_EQ((c.Major << 8) + c.Minor, WindowsVersion());
    }
}

TEST_F(VersionProbes, UnavailableWmiCountsAsWindows11)
{
    Pretend(10, 0, 22000, -1);  // the real WMI is asked
    bool mentions = true;
    bool windows11 = false;
    // A thread without COM: the locator cannot be created.
    std::thread([&] {
        mentions = WmiNameMentionsWindows10();
        windows11 = IsWindows11();
    }).join();
    EXPECT_FALSE(mentions);
    EXPECT_TRUE(windows11);
}

TEST_F(VersionProbes, RealWmiNameDecidesForHighBuildNumbers)
{
    Pretend(10, 0, 22631, -1);
    // Wine's WMI names the system it reports: Windows 7 by default, Windows 10 in the second run.
    EXPECT_EQ(testsupport::IsWindows10Child(), WmiNameMentionsWindows10());
    EXPECT_EQ(!testsupport::IsWindows10Child(), IsWindows11());
}

TEST_F(VersionProbes, WineWindows10Setting)
{
    if (!testsupport::IsWindows10Child()) {
        EXPECT_EQ(0, testsupport::RunSelf(L"VersionProbes.*", L"windows10", true, 120000));
        return;
    }
    EXPECT_EQ(0x0A00u, WindowsVersion());
    EXPECT_TRUE(WmiNameMentionsWindows10());
    EXPECT_FALSE(IsWindows11());  // build 18362
}

}  // namespace
