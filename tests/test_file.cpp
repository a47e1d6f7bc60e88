#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "common/base/errors.h"
#include "common/base/file.h"
#include "common/base/strings.h"
#include "tests/support/base_support.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::ErrorReports;
using testsupport::ExistsVerbatim;
using testsupport::Verbatim;

// Reaches the handle, to set a pipe's read mode or to close it behind the object's back.
class FileTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = testsupport::MakeScratchFolder(L"file"); }
    void TearDown() override { testsupport::RemoveTree(dir_); }
    std::wstring Path(const wchar_t* name) const { return dir_ + L"\\" + name; }
    std::string Contents(const std::wstring& path) const
    {
        std::string bytes;
        EXPECT_TRUE(testsupport::ReadBytes(path, bytes)) << "cannot read " << std::string(path.begin(), path.end());
        return bytes;
    }

    std::wstring dir_;
};

TEST_F(FileTest, CreateWriteSeekReadRoundTrip)
{
    std::wstring path = Path(L"data.bin");
    {
        File f;
        EXPECT_FALSE(f.IsOpen());
        ASSERT_TRUE(f.Create(path.c_str(), kCreateShareRead));
        EXPECT_TRUE(f.IsOpen());
        EXPECT_STREQ(path.c_str(), f.Name());
        EXPECT_TRUE(f.Write("hello world", 11));
        EXPECT_TRUE(f.Write("", 0));
        EXPECT_EQ(11, f.Tell());
        f.Seek(6);
        EXPECT_EQ(6, f.Tell());
        char buf[16] = {};
        EXPECT_EQ(5, f.Read(buf, sizeof buf));  // created with read access
        EXPECT_STREQ("world", buf);
        EXPECT_EQ(0, f.Read(buf, sizeof buf));
        EXPECT_TRUE(f.Close());
        EXPECT_FALSE(f.IsOpen());
        EXPECT_TRUE(f.Close());  // nothing open
    }
    EXPECT_EQ("hello world", Contents(path));

    {
        File f;
        ASSERT_TRUE(f.Open(path.c_str(), kOpenShareWrite));
        f.Seek(6);
        char buf[16] = {};
        EXPECT_EQ(5, f.Read(buf, sizeof buf));
        EXPECT_STREQ("world", buf);
        EXPECT_FALSE(f.Write("HELLO", 5));  // opened for reading only
    }  // opened, not created: destroying it only closes it
    EXPECT_EQ("hello world", Contents(path));

    // A large file read in pieces comes back whole.
    std::string big(300000, 0);
    for (size_t i = 0; i < big.size(); i++)
        big[i] = static_cast<char>(i * 7 + i / 256);
    {
        File f;
        ASSERT_TRUE(f.Create(path.c_str(), kCreateWriteOnly));
        EXPECT_TRUE(f.Write(big.data(), static_cast<uint32_t>(big.size())));
        EXPECT_TRUE(f.Close());
    }
    File f;
    ASSERT_TRUE(f.Open(path.c_str(), 0));
    std::string back;
    char chunk[65536];
    int got;
    while ((got = f.Read(chunk, sizeof chunk)) > 0)
        back.append(chunk, static_cast<size_t>(got));
    EXPECT_TRUE(back == big);
    f.Seek(299990);
    EXPECT_EQ(299990, f.Tell());

    EXPECT_FALSE(f.Open(Path(L"missing").c_str(), 0));
    EXPECT_FALSE(f.IsOpen());
}

TEST_F(FileTest, CreatedFileIsKeptOnlyWhenClosedExplicitly)
{
    std::wstring dropped = Path(L"dropped.txt");
    std::wstring kept = Path(L"kept.txt");
    {
        File f;
        ASSERT_TRUE(f.Create(dropped.c_str(), 0));
        EXPECT_TRUE(f.Write("partial", 7));
        EXPECT_TRUE(testsupport::Exists(dropped));
    }
    EXPECT_FALSE(testsupport::Exists(dropped));
    {
        File f;
        ASSERT_TRUE(f.Create(kept.c_str(), 0));
        EXPECT_TRUE(f.Write("whole", 5));
        EXPECT_TRUE(f.Close());
    }
    EXPECT_EQ("whole", Contents(kept));

    // A second Create on the same object finishes the first one as the destructor would.
    {
        File f;
        ASSERT_TRUE(f.Create(dropped.c_str(), 0));
        ASSERT_TRUE(f.Create(Path(L"second.txt").c_str(), 0));
        EXPECT_FALSE(testsupport::Exists(dropped));
        EXPECT_TRUE(f.Close());
    }
    EXPECT_TRUE(testsupport::Exists(Path(L"second.txt")));
}

TEST_F(FileTest, TrailingDotNamesAreMadeAndDeletedInTheirOwnForm)
{
    // Windows drops a trailing dot in the plain form: "a." would be "a".
    std::wstring sibling = Path(L"a");
    std::wstring dotted = Path(L"a.");
    ASSERT_TRUE(testsupport::WriteBytes(sibling, "sibling"));
    {
        File f;
        ASSERT_TRUE(f.Create(dotted.c_str(), 0));
        EXPECT_TRUE(f.Write("dotted", 6));
        EXPECT_TRUE(ExistsVerbatim(dotted));
        EXPECT_EQ("sibling", Contents(sibling));
    }  // unclosed: deleted, and only it
    EXPECT_FALSE(ExistsVerbatim(dotted));
    EXPECT_EQ("sibling", Contents(sibling));

    {
        File f;
        ASSERT_TRUE(f.Create(dotted.c_str(), 0));
        EXPECT_TRUE(f.Write("dotted", 6));
        EXPECT_TRUE(f.Close());
    }
    EXPECT_EQ("dotted", Contents(Verbatim(dotted)));
    EXPECT_EQ("sibling", Contents(sibling));

    // "nul.txt" spelled plainly is the device NUL, which is no plain file: no
    // file is made through that name, and the file that only the extended form
    // reaches is left as it is.
    std::wstring device = Path(L"nul.txt");
    ASSERT_TRUE(testsupport::WriteBytes(Verbatim(device), "other"));
    {
        File f;
        EXPECT_FALSE(f.Create(device.c_str(), 0));
        EXPECT_FALSE(f.IsOpen());
    }
    EXPECT_EQ("other", Contents(Verbatim(device)));

    // The free operations reach "c." through their retry.
    std::wstring lone = Path(L"c.");
    ASSERT_TRUE(testsupport::WriteBytes(Verbatim(lone), "x"));
    EXPECT_TRUE(FileExists(lone.c_str()));
    EXPECT_TRUE(SetAttributes(lone.c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(GetAttributes(lone.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(SetAttributes(lone.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(RemoveFile(lone.c_str()));
    EXPECT_FALSE(ExistsVerbatim(lone));
    EXPECT_FALSE(RemoveFile(lone.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetAttributes(lone.c_str()));
    EXPECT_FALSE(FileExists(lone.c_str()));
}

// A name that does not fit FileName is refused; otherwise the destructor would
// delete by the cut name, which here is an existing sibling.
TEST_F(FileTest, NameLongerThanFileNameIsRefused)
{
    std::wstring folder = dir_;
    // Components of at most 255 characters, so that the file system takes both names.
    while (kMaxPathChars - folder.size() - 1 > 250) {
        folder += L"\\" + std::wstring(200, L'd');
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    std::wstring tooLong = folder + L"\\" + std::wstring(kMaxPathChars - folder.size() - 1, L'f');
    ASSERT_EQ(kMaxPathChars, tooLong.size());
    std::wstring cut = tooLong.substr(0, kMaxPathChars - 1);
    ASSERT_TRUE(testsupport::WriteBytes(cut, "keep"));

    {
        File f;
        EXPECT_FALSE(f.Create(tooLong.c_str(), 0));
        EXPECT_FALSE(f.IsOpen());
        ASSERT_TRUE(testsupport::WriteBytes(tooLong, "long"));
        EXPECT_FALSE(f.Open(tooLong.c_str(), 0));
        EXPECT_FALSE(f.IsOpen());
        EXPECT_TRUE(f.Create(cut.c_str(), 0) && f.Close());  // the longest name that fits
    }
    EXPECT_TRUE(testsupport::Exists(cut));
    EXPECT_EQ("long", Contents(tooLong));
}

TEST_F(FileTest, ReadErrorStopsReadingUntilTheNextOpen)
{
    std::wstring path = Path(L"r.txt");
    ASSERT_TRUE(testsupport::WriteBytes(path, "readable"));
    File f;
    char buf[32] = {};
    // A buffer the system may not write to makes ReadFile fail; the file itself
    // stays readable, yet reads as ended.
    void* noAccess = VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
    ASSERT_NE(nullptr, noAccess);
    ASSERT_TRUE(f.Open(path.c_str(), 0));
    EXPECT_FALSE(f.ReadStopped());
    EXPECT_EQ(0, f.Read(noAccess, sizeof buf));
    EXPECT_TRUE(f.ReadStopped());
    EXPECT_EQ(0, f.Read(buf, sizeof buf));
    EXPECT_EQ(0, f.Read(buf, sizeof buf));
    VirtualFree(noAccess, 0, MEM_RELEASE);
    ASSERT_TRUE(f.Open(path.c_str(), 0));
    EXPECT_FALSE(f.ReadStopped());
    EXPECT_EQ(8, f.Read(buf, sizeof buf));
    EXPECT_STREQ("readable", buf);
}

TEST_F(FileTest, FailuresReachTheErrorHandler)
{
    ErrorReports reports;
    std::wstring path = Path(L"e.txt");
    ASSERT_TRUE(testsupport::WriteBytes(path, "abc"));

    File f;
    ASSERT_TRUE(f.Open(path.c_str(), 0));
    EXPECT_FALSE(f.Write("x", 1));  // read-only handle
    f.Seek(-5);
    ASSERT_TRUE(CloseHandle(f.NativeHandle()));  // behind the object's back
    EXPECT_FALSE(f.Close());
    EXPECT_EQ(-1, f.Tell());
    f.Seek(0);  // closed: nothing at all

    ASSERT_EQ(4u, reports.Reports().size());
    EXPECT_EQ(kMessageWriteError, reports.Reports()[0].first);
    EXPECT_EQ(kMessageSeekError, reports.Reports()[1].first);
    EXPECT_EQ(kMessageCloseError, reports.Reports()[2].first);
    EXPECT_EQ(kMessageSeekError, reports.Reports()[3].first);
    for (const auto& report : reports.Reports())
        EXPECT_EQ(path, report.second);
}

TEST_F(FileTest, MakeFolderResultCodes)
{
    std::wstring made = Path(L"made");
    EXPECT_EQ(kMakeFolderOk, MakeFolder(made.c_str(), true, FILE_ATTRIBUTE_HIDDEN));
    DWORD attributes = GetFileAttributesW(made.c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);

    EXPECT_EQ(kMakeFolderFailed, MakeFolder(made.c_str(), false, 0));
    ASSERT_TRUE(testsupport::WriteBytes(Path(L"file"), "x"));
    EXPECT_EQ(kMakeFolderFailed, MakeFolder(Path(L"file").c_str(), false, 0));
    EXPECT_EQ(kMakeFolderBadPath, MakeFolder(Path(L"missing\\sub").c_str(), false, 0));
    EXPECT_FALSE(testsupport::Exists(Path(L"missing")));

    // A trailing dot is kept through the extended form; the sibling without it
    // is neither made nor given the attributes.
    std::wstring dotted = Path(L"d.");
    EXPECT_EQ(kMakeFolderOk, MakeFolder(dotted.c_str(), true, FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(ExistsVerbatim(dotted));
    EXPECT_TRUE(GetFileAttributesW(Verbatim(dotted).c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(testsupport::Exists(Path(L"d")));
    EXPECT_EQ(kMakeFolderFailed, MakeFolder(dotted.c_str(), false, 0));
    EXPECT_EQ(kMakeFolderBadPath, MakeFolder(Path(L"missing\\e.").c_str(), false, 0));
}

TEST_F(FileTest, FreeDiskSpaceOfAFolderAndOfABareName)
{
    uint64_t inFolder = FreeDiskSpace(Path(L"any.txt").c_str());
    EXPECT_GT(inFolder, 0u);
    testsupport::CurrentDirectoryGuard keep;
    ASSERT_TRUE(SetCurrentDirectoryW(dir_.c_str()));
    EXPECT_GT(FreeDiskSpace(L"bare.txt"), 0u);  // the current drive
    EXPECT_EQ(0u, FreeDiskSpace(L"Q:\\nowhere\\x"));
}

}  // namespace
