// The program's own path and the files beside it, and the process-wide owner of OLE.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "common/base/module.h"
#include "common/base/scoped.h"
#include "tests/support/test_support.h"

namespace {

std::wstring Lower(std::wstring text)
{
    CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

TEST(ProgramFiles, TheProgramsPathAndItsNeighboursOnlyWhenWhole)
{
    const std::wstring program = testsupport::BinDir() + L"\\tests\\base_tests.exe";
    wchar_t path[2048];
    ASSERT_TRUE(ProgramPath(path, 2048));
    EXPECT_EQ(Lower(path), Lower(program));
    ASSERT_TRUE(ProgramFilePath(L"zvxlng.dll", path, 2048));
    EXPECT_EQ(Lower(path), Lower(testsupport::BinDir() + L"\\tests\\zvxlng.dll"));

    // Room for the path and its terminator, and one character less.
    ASSERT_TRUE(ProgramPath(path, program.size() + 1));
    EXPECT_EQ(Lower(path), Lower(program));
    EXPECT_FALSE(ProgramPath(path, program.size()));
    EXPECT_STREQ(path, L"");
    EXPECT_FALSE(ProgramPath(path, 0));

    // A neighbour whose name is longer than the program's does not fit where the program's did.
    ASSERT_TRUE(ProgramFilePath(L"a.dat", path, program.size() + 1));
    EXPECT_EQ(Lower(path), Lower(testsupport::BinDir() + L"\\tests\\a.dat"));
    wcscpy(path, L"stale");
    EXPECT_FALSE(ProgramFilePath(L"longer-than-the-program.dat", path, program.size() + 1));
    EXPECT_STREQ(path, L"");
}

// Each case runs on a thread of its own, whose COM state no other test shares.
template <class Case>
void OnFreshThread(Case run)
{
    HANDLE thread = CreateThread(
        nullptr, 0, [](void* p) -> DWORD { (*static_cast<Case*>(p))(); return 0; }, &run, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

TEST(ScopedOleInitialize, BalancesOnlyTheInitialisationThatSucceeded)
{
    HRESULT inside = E_FAIL;
    HRESULT after = E_FAIL;
    OnFreshThread([&] {
        {
            ScopedOleInitialize ole;
            inside = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            CoUninitialize();
        }
        after = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        CoUninitialize();
    });
    EXPECT_EQ(inside, S_FALSE) << "OLE was not initialised while the owner lived";
    EXPECT_EQ(after, S_OK) << "OLE stayed initialised after the owner went";

    // On a thread of the multithreaded apartment OLE cannot start: the owner
    // must then leave the thread's own initialisation alone.
    HRESULT own = E_FAIL;
    HRESULT again = E_FAIL;
    OnFreshThread([&] {
        own = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        { ScopedOleInitialize ole; }
        again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        CoUninitialize();
        CoUninitialize();
    });
    EXPECT_EQ(own, S_OK);
    EXPECT_EQ(again, S_FALSE) << "the owner uninitialised what it had not initialised";
}

}  // namespace
