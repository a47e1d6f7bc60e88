// The size of an install that the uninstall entry reports, from the files
// Uninstall.lst names, read as the uninstall reads them.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/base/file.h"
#include "tests/support/test_support.h"
#include "uninstall/install_list.h"

namespace {

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
