#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>

#include "common/base/find.h"
#include "common/base/strings.h"
#include "tests/support/base_support.h"
#include "tests/support/test_support.h"

namespace {

class FindTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = testsupport::MakeScratchFolder(L"find"); }
    void TearDown() override { testsupport::RemoveTree(dir_); }
    std::wstring Path(const wchar_t* name) const { return dir_ + L"\\" + name; }

    // Name -> record of every entry the pattern gives; Error of the final call.
    std::map<std::wstring, FindData> Scan(const std::wstring& pattern, bool& error)
    {
        std::map<std::wstring, FindData> found;
        FindFile scan;
        scan.SetPattern(pattern.c_str());
        FindData data;
        while (scan.NextEntry(data))
            found[data.Name] = data;
        error = data.Error;
        EXPECT_FALSE(scan.NextEntry(data));  // stays ended
        return found;
    }

    std::wstring dir_;
};

TEST_F(FindTest, NothingThereIsNotAnError)
{
    bool error = true;
    EXPECT_TRUE(Scan(Path(L"*"), error).empty());  // only "." and ".."
    EXPECT_FALSE(error);
    EXPECT_TRUE(Scan(Path(L"missing\\*"), error).empty());
    EXPECT_FALSE(error);
    EXPECT_TRUE(Scan(Path(L"none.txt"), error).empty());
    EXPECT_FALSE(error);
    EXPECT_TRUE(Scan(L"", error).empty());
    EXPECT_FALSE(error);

    // A file used as a folder (ERROR_INVALID_NAME here, ERROR_DIRECTORY on
    // Windows) is a real failure.
    ASSERT_TRUE(testsupport::WriteBytes(Path(L"file.txt"), "x"));
    EXPECT_TRUE(Scan(Path(L"file.txt\\*"), error).empty());
    EXPECT_TRUE(error);

    FindData data;
    EXPECT_FALSE(FindSingle(Path(L"missing").c_str(), data));
    EXPECT_FALSE(data.Error);
}

TEST_F(FindTest, EntriesCarryNameSizeAttributesAndTimes)
{
    ASSERT_TRUE(testsupport::WriteBytes(Path(L"a.txt"), "12345"));
    ASSERT_TRUE(testsupport::WriteBytes(Path(L"b.bin"), ""));
    ASSERT_TRUE(CreateDirectoryW(Path(L"sub").c_str(), nullptr));
    ASSERT_TRUE(testsupport::WriteBytes(Path(L"sub\\inner.txt"), "x"));

    bool error = true;
    auto all = Scan(Path(L"*"), error);
    EXPECT_FALSE(error);
    ASSERT_EQ(3u, all.size());
    const FindData& a = all[Path(L"a.txt")];
    EXPECT_EQ(5u, a.Size);
    EXPECT_FALSE(a.IsDirectory);
    EXPECT_FALSE(a.IsReparsePoint);
    EXPECT_EQ(0u, all[Path(L"b.bin")].Size);
    EXPECT_TRUE(all[Path(L"sub")].IsDirectory);
    EXPECT_TRUE(all[Path(L"sub")].Attributes & FILE_ATTRIBUTE_DIRECTORY);

    WIN32_FILE_ATTRIBUTE_DATA info;
    ASSERT_TRUE(GetFileAttributesExW(Path(L"a.txt").c_str(), GetFileExInfoStandard, &info));
    auto joined = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    EXPECT_EQ(joined(info.ftLastWriteTime), joined(a.RawModifiedTime));
    EXPECT_EQ(joined(info.ftLastWriteTime) * 100, a.ModifiedTime);
    EXPECT_EQ(joined(a.RawCreatedTime) * 100, a.CreatedTime);
    EXPECT_EQ(joined(a.RawAccessedTime) * 100, a.AccessedTime);
    EXPECT_GT(a.ModifiedTime, 0u);

    // Names are built from the caller's pattern, in its own form.
    std::wstring slashed = dir_;
    for (auto& c : slashed)
        if (c == L'\\')
            c = L'/';
    auto txt = Scan(slashed + L"/*.txt", error);
    ASSERT_EQ(1u, txt.size());
    EXPECT_EQ(slashed + L"/a.txt", txt.begin()->first);

    testsupport::CurrentDirectoryGuard keep;
    ASSERT_TRUE(SetCurrentDirectoryW(dir_.c_str()));
    auto relative = Scan(L"sub\\*", error);
    ASSERT_EQ(1u, relative.size());
    EXPECT_EQ(L"sub\\inner.txt", relative.begin()->first);

    FindData single;
    ASSERT_TRUE(FindSingle(L"sub", single));
    EXPECT_STREQ(L"sub", single.Name);
    EXPECT_TRUE(single.IsDirectory);
    ASSERT_TRUE(FindSingle(Path(L"a.txt").c_str(), single));
    EXPECT_EQ(5u, single.Size);
    EXPECT_FALSE(single.IsDirectory);
}

// Windows cannot find "t." in the plain form; the retry in the extended form
// can, and the name handed back is still the caller's.
TEST_F(FindTest, ExtendedRetryKeepsTheCallersName)
{
    ASSERT_TRUE(testsupport::WriteBytes(testsupport::Verbatim(Path(L"t.")), "dot"));
    FindData data;
    ASSERT_TRUE(FindSingle(Path(L"t.").c_str(), data));
    EXPECT_EQ(Path(L"t."), data.Name);
    EXPECT_EQ(3u, data.Size);

    bool error = true;
    auto scanned = Scan(Path(L"t."), error);
    ASSERT_EQ(1u, scanned.size());
    EXPECT_EQ(Path(L"t."), scanned.begin()->first);

    testsupport::CurrentDirectoryGuard keep;
    ASSERT_TRUE(SetCurrentDirectoryW(dir_.c_str()));
    ASSERT_TRUE(FindSingle(L"t.", data));
    EXPECT_STREQ(L"t.", data.Name);
}

TEST_F(FindTest, FindSingleWithWildcardsTouchesNothing)
{
    ASSERT_TRUE(testsupport::WriteBytes(Path(L"a1.txt"), "x"));
    FindData data;
    CopyString(data.Name, L"untouched", kMaxPathChars);
    data.Error = true;
    // Each of these would match a1.txt if it were looked up.
    EXPECT_FALSE(FindSingle(Path(L"a?.txt").c_str(), data));
    EXPECT_FALSE(FindSingle(Path(L"*").c_str(), data));
    EXPECT_FALSE(FindSingle(testsupport::Verbatim(Path(L"a*")).c_str(), data));
    EXPECT_FALSE(data.Error);
    EXPECT_STREQ(L"untouched", data.Name);
}

TEST_F(FindTest, NewPatternStartsANewScan)
{
    ASSERT_TRUE(CreateDirectoryW(Path(L"one").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(Path(L"two").c_str(), nullptr));
    ASSERT_TRUE(testsupport::WriteBytes(Path(L"one\\1a"), ""));
    ASSERT_TRUE(testsupport::WriteBytes(Path(L"one\\1b"), ""));
    ASSERT_TRUE(testsupport::WriteBytes(Path(L"two\\2a"), ""));

    FindFile scan;
    FindData data;
    scan.SetPattern(Path(L"one\\*").c_str());
    ASSERT_TRUE(scan.NextEntry(data));
    scan.SetPattern(Path(L"two\\*").c_str());
    ASSERT_TRUE(scan.NextEntry(data));
    EXPECT_EQ(Path(L"two\\2a"), data.Name);
    EXPECT_FALSE(scan.NextEntry(data));
    EXPECT_FALSE(data.Error);

    // A pattern that does not fit is a failed scan, never a cut one.
    std::wstring tooLong = dir_ + L"\\" + std::wstring(kMaxPathChars, L'x');
    scan.SetPattern(tooLong.c_str());
    EXPECT_FALSE(scan.NextEntry(data));
    EXPECT_TRUE(data.Error);
}

TEST_F(FindTest, ReparsePointIsReportedLikeAnyOtherEntry)
{
    // Wine makes no link or junction through Windows calls, but reports a Unix
    // link to a folder as a reparse point.
    ASSERT_TRUE(CreateDirectoryW(Path(L"target").c_str(), nullptr));
    ASSERT_TRUE(testsupport::MakeUnixSymlink(Path(L"link"), Path(L"target")));
    struct LinkRemover {
        std::wstring link;
        ~LinkRemover() { EXPECT_TRUE(testsupport::RemoveUnixSymlink(link)); }
    } remover{Path(L"link")};
    bool error = true;
    auto all = Scan(Path(L"*"), error);
    EXPECT_FALSE(error);
    ASSERT_EQ(2u, all.size());
    EXPECT_TRUE(all[Path(L"link")].IsReparsePoint);
    EXPECT_TRUE(all[Path(L"link")].IsDirectory);
    EXPECT_FALSE(all[Path(L"target")].IsReparsePoint);

    FindData data;
    ASSERT_TRUE(FindSingle(Path(L"link").c_str(), data));
    EXPECT_TRUE(data.IsReparsePoint);
}

TEST(FindAttributes, DirectoryAndReparsePointTests)
{
    EXPECT_TRUE(IsDirectoryAttr(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(IsDirectoryAttr(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_FALSE(IsDirectoryAttr(INVALID_FILE_ATTRIBUTES));
    EXPECT_TRUE(IsReparsePointAttr(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_FALSE(IsReparsePointAttr(FILE_ATTRIBUTE_DIRECTORY));
}

}  // namespace
