#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>

// A test executable started with --zvx-child-messagebox TEXT shows one message
// box and exits with its answer: a child whose window the harness tests drive.
static int RunChildMode(int argc, wchar_t** argv)
{
    if (argc >= 3 && wcscmp(argv[1], L"--zvx-child-messagebox") == 0)
        return MessageBoxW(nullptr, argv[2], L"Harness child", MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND);
    return -1;
}

int wmain(int argc, wchar_t** argv)
{
    int childResult = RunChildMode(argc, argv);
    if (childResult >= 0)
        return childResult;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
