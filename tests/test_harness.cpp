// The harness itself: a child's message box is found, read and answered
// through window messages, under Xvfb, the way the program's tests drive it.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/window_support.h"

namespace {

std::wstring SelfPath()
{
    wchar_t path[MAX_PATH * 4];
    GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    return path;
}

TEST(Harness, DrivesAChildsMessageBox)
{
    for (int answer : {IDYES, IDNO}) {
        testsupport::ChildProcess child;
        ASSERT_TRUE(child.Start(SelfPath(), L"--zvx-child-messagebox \"Remove it all?\""));
        HWND box = testsupport::WaitForProcessWindow(child, L"#32770", 20000);
        ASSERT_NE(nullptr, box);
        EXPECT_EQ(L"Harness child", testsupport::WindowText(box));
        EXPECT_EQ(L"Remove it all?", testsupport::MessageBoxText(box));
        std::vector<int> buttons = testsupport::ButtonIds(box);
        EXPECT_NE(buttons.end(), std::find(buttons.begin(), buttons.end(), IDYES));
        EXPECT_NE(buttons.end(), std::find(buttons.begin(), buttons.end(), IDNO));
        ASSERT_TRUE(testsupport::PressButton(box, answer));
        EXPECT_EQ(answer, child.Wait(20000));
    }
}

TEST(Harness, NoWindowWhenTheChildEndsFirst)
{
    testsupport::ChildProcess child;
    ASSERT_TRUE(child.Start(SelfPath(), L"--gtest_list_tests"));
    EXPECT_EQ(nullptr, testsupport::WaitForProcessWindow(child, L"#32770", 20000));
    EXPECT_EQ(0, child.Wait(20000));
}

}  // namespace
