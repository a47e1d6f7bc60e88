#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/settings/text_file.h"
#include "tests/support/settings_support.h"
#include "tests/support/test_support.h"

using namespace testsupport;

namespace {

class TextFileTest : public ::testing::Test {
protected:
    void SetUp() override { folder_ = MakeScratchFolder(L"settings-text"); }
    void TearDown() override { RemoveTree(folder_); }

    // Writes bytes to a file of the scratch folder and reads it back as lines.
    std::vector<std::wstring> Read(const std::string& bytes, bool* whole = nullptr)
    {
        std::wstring path = folder_ + L"\\text.txt";
        EXPECT_TRUE(WriteBytes(path, bytes));
        StringList list;
        bool readWhole = false;
        EXPECT_TRUE(ReadTextFile(path.c_str(), list, &readWhole));
        if (whole != nullptr)
            *whole = readWhole;
        std::vector<std::wstring> lines;
        const wchar_t* line;
        while (list.Next(line))
            lines.push_back(line);
        EXPECT_EQ(lines.size(), list.StringCount());
        return lines;
    }

    static std::wstring FromAnsi(const std::string& bytes)
    {
        std::wstring text(bytes.size() + 1, L'\0');
        int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0],
                                    static_cast<int>(text.size()));
        text.resize(static_cast<size_t>(n));
        return text;
    }

    std::wstring folder_;
};

using Lines = std::vector<std::wstring>;

TEST_F(TextFileTest, Utf16InEitherByteOrderGivesTheSameLines)
{
    const std::wstring text = L"first\r\n\r\nsecond \u00e9\u4e2d\r\n";
    bool whole = false;
    EXPECT_EQ((Lines{L"first", L"second \u00e9\u4e2d"}), Read(Utf16LeFile(text), &whole));
    EXPECT_TRUE(whole);
    EXPECT_EQ((Lines{L"first", L"second \u00e9\u4e2d"}), Read(Utf16BeFile(text), &whole));
    EXPECT_TRUE(whole);
}

TEST_F(TextFileTest, Utf8IsDecodedOnlyWithItsMark)
{
    std::string utf8 = Utf8Bytes(L"caf\u00e9 \u4e2d\U0001F600\nnext");
    bool whole = false;
    EXPECT_EQ((Lines{L"caf\u00e9 \u4e2d\U0001F600", L"next"}), Read("\xEF\xBB\xBF" + utf8, &whole));
    EXPECT_TRUE(whole);
    // Without the mark the same bytes are ANSI text.
    Lines ansi = Read(utf8);
    ASSERT_EQ(2u, ansi.size());
    EXPECT_EQ(FromAnsi(utf8.substr(0, utf8.find('\n'))), ansi[0]);
    EXPECT_EQ(L"next", ansi[1]);
}

TEST_F(TextFileTest, AnyRunOfLineBreaksIsOneBreak)
{
    Lines expected{L"a", L"b", L"c"};
    EXPECT_EQ(expected, Read("a\r\nb\r\nc\r\n"));
    EXPECT_EQ(expected, Read("a\nb\nc"));
    EXPECT_EQ(expected, Read("a\rb\rc\r"));
    EXPECT_EQ(expected, Read("\r\n\r\na\n\n\r\rb\r\n\r\n\r\nc\n\n"));
}

TEST_F(TextFileTest, TrailingBlanksGoLeadingBlanksStay)
{
    EXPECT_EQ((Lines{L"  lead", L"\tx", L"trail"}), Read("  lead  \n \t \t\n\tx\t\t\ntrail \t\n   \n"));
}

TEST_F(TextFileTest, EmbeddedNulEndsTheTextAndTheReadIsNotWhole)
{
    bool whole = true;
    EXPECT_EQ((Lines{L"one", L"tw"}), Read(std::string("one\ntw\0o\nthree\n", 15), &whole));
    EXPECT_FALSE(whole);
    EXPECT_EQ((Lines{L"one"}), Read(Utf16LeFile(std::wstring(L"one\r\n\0two\r\n", 11)), &whole));
    EXPECT_FALSE(whole);
    // Zeros that only pad the end lose nothing.
    EXPECT_EQ((Lines{L"one"}), Read(std::string("one\n\0\0\0", 7), &whole));
    EXPECT_TRUE(whole);
    EXPECT_EQ((Lines{L"one"}), Read(Utf16LeFile(std::wstring(L"one\r\n\0\0", 7)), &whole));
    EXPECT_TRUE(whole);
    // UTF-16 without its mark is ANSI text that ends at the first zero byte.
    EXPECT_EQ((Lines{L"o"}), Read(Utf16LeFile(L"one\r\n").substr(2), &whole));
    EXPECT_FALSE(whole);
}

TEST_F(TextFileTest, MalformedUtf8CutsTheTextAndTheReadIsNotWhole)
{
    bool whole = true;
    // A 5-byte form passes the structure check but is no sequence the decoder takes.
    EXPECT_EQ((Lines{L"a"}), Read("\xEF\xBB\xBF" "a\xF8\x88\x80\x80\x80" "b\nc\n", &whole));
    EXPECT_FALSE(whole);
    // A code point beyond U+10FFFF is dropped and decoding goes on.
    EXPECT_EQ((Lines{L"ab", L"c"}), Read("\xEF\xBB\xBF" "a\xF5\x80\x80\x80" "b\nc", &whole));
    EXPECT_FALSE(whole);
    // A broken structure behind the mark: the UTF-8 lines before the one the
    // fault cuts, not ANSI text with the mark's three characters at the head.
    whole = true;
    EXPECT_EQ((Lines{L"ab"}), Read("\xEF\xBB\xBF" "ab\n\xC3" "x\n", &whole));
    EXPECT_FALSE(whole);
    whole = true;
    EXPECT_EQ((Lines{}), Read("\xEF\xBB\xBF" "ab\xC3" "x\nnext\n", &whole));
    EXPECT_FALSE(whole);
    whole = true;
    EXPECT_EQ((Lines{L"first=1", L"name=\"Caf\u00e9 \u4e2d\""}),
              Read("\xEF\xBB\xBF" "first=1\r\nname=\"Caf\xC3\xA9 \xE4\xB8\xAD\"\r\nbad=\"x\xE9y\"\r\nlast=2\r\n",
                   &whole));
    EXPECT_FALSE(whole);
    // A lone continuation byte, a cut sequence at the very end, FE and FF: the same.
    for (const char* tail : {"\x80", "\xE4\xB8", "\xFE", "\xFF"}) {
        whole = true;
        EXPECT_EQ((Lines{L"a=1"}), Read(std::string("\xEF\xBB\xBF" "a=1\n") + tail, &whole)) << tail;
        EXPECT_FALSE(whole) << tail;
    }
    // The mark alone (three bytes) is ANSI text, read whole.
    whole = false;
    EXPECT_EQ((Lines{FromAnsi("\xEF\xBB\xBF")}), Read("\xEF\xBB\xBF", &whole));
    EXPECT_TRUE(whole);
}

TEST_F(TextFileTest, TwoByteMarkOnlyAndCjkUtf16AreReadAsAnsi)
{
    bool whole = false;
    EXPECT_EQ((Lines{FromAnsi("\xFF\xFE")}), Read("\xFF\xFE", &whole));
    EXPECT_TRUE(whole);
    // No unit has a control character as its high byte, so nothing proves UTF-16.
    std::string cjk = Utf16LeFile(L"\u4e2d\u6587\u5b57");
    EXPECT_EQ((Lines{FromAnsi(cjk)}), Read(cjk, &whole));
    EXPECT_TRUE(whole);
}

TEST_F(TextFileTest, EmptyAndLargeFilesAndAMissingOne)
{
    bool whole = false;
    EXPECT_TRUE(Read("", &whole).empty());
    EXPECT_TRUE(whole);

    std::string big;
    for (int i = 0; i < 3000; i++)
        big += "line " + std::to_string(i) + "\r\n";
    Lines lines = Read(big, &whole);  // many reads of 4096 bytes
    ASSERT_EQ(3000u, lines.size());
    EXPECT_EQ(L"line 0", lines[0]);
    EXPECT_EQ(L"line 2999", lines[2999]);
    EXPECT_TRUE(whole);

    StringList list;
    list.Add(L"kept");
    EXPECT_FALSE(ReadTextFile((folder_ + L"\\missing.txt").c_str(), list));
    EXPECT_EQ(1u, list.StringCount());  // the output is not cleared
}

TEST(StringList, StoresInOrderAndResets)
{
    StringList list;
    list.Add(L"a");
    list.Add(nullptr);
    list.Add(L"ccc");
    const wchar_t* s;
    ASSERT_TRUE(list.Next(s));
    EXPECT_STREQ(L"a", s);
    ASSERT_TRUE(list.Next(s));
    EXPECT_STREQ(L"", s);
    ASSERT_TRUE(list.Next(s));
    EXPECT_STREQ(L"ccc", s);
    EXPECT_FALSE(list.Next(s));
    EXPECT_EQ(3u, list.StringCount());
    list.Reset();
    EXPECT_EQ(0u, list.StringCount());
    EXPECT_FALSE(list.Next(s));
    list.Add(L"again");
    ASSERT_TRUE(list.Next(s));
    EXPECT_STREQ(L"again", s);
}

const uint8_t* U(const char* s)
{
    return reinterpret_cast<const uint8_t*>(s);
}

TEST(TextEncoding, DetectsOnlyMarkedUtf)
{
    EXPECT_EQ(kTextUtf8, DetectTextEncoding(U("\xEF\xBB\xBF" "a"), 4));
    EXPECT_EQ(kTextAnsi, DetectTextEncoding(U("\xEF\xBB\xBF"), 3));        // too short
    EXPECT_EQ(kTextAnsi, DetectTextEncoding(U("\xEF\xBB\xBF" "\xC3"), 4)); // invalid after the mark
    EXPECT_EQ(kTextUtf16, DetectTextEncoding(U("\xFF\xFE" "a\0"), 4));
    EXPECT_EQ(kTextUtf16, DetectTextEncoding(U("\xFE\xFF" "\0a"), 4));
    EXPECT_EQ(kTextAnsi, DetectTextEncoding(U("\xFF\xFE" "\r\n\n\r"), 6)); // only line-break high bytes
    EXPECT_EQ(kTextAnsi, DetectTextEncoding(U("\xFF\xFE"), 2));
    EXPECT_EQ(kTextAnsi, DetectTextEncoding(U("plain"), 5));
    EXPECT_EQ(kTextAnsi, DetectTextEncoding(U("\xFF\xFE" "a"), 3));        // no high byte to examine
}

TEST(TextEncoding, Utf8StructureCheck)
{
    EXPECT_TRUE(IsValidUtf8(U(""), 0));
    EXPECT_TRUE(IsValidUtf8(U("a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"), 10));
    EXPECT_TRUE(IsValidUtf8(U("\xFC\x80\x80\x80\x80\x80"), 6));  // old 6-byte form
    EXPECT_TRUE(IsValidUtf8(U("\xC0\x80"), 2));                  // overlong, not checked
    EXPECT_FALSE(IsValidUtf8(U("\x80"), 1));
    EXPECT_FALSE(IsValidUtf8(U("\xFE"), 1));
    EXPECT_FALSE(IsValidUtf8(U("\xE4\xB8"), 2));
    EXPECT_FALSE(IsValidUtf8(U("\xE4\x41\x80"), 3));
}

TEST(TextEncoding, Utf8ToWideDecodesWithinTheCapacity)
{
    wchar_t out[8];
    EXPECT_TRUE(Utf8ToWide(U("a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"), out, 8));
    EXPECT_STREQ(L"a\u00e9\u4e2d\U0001F600", out);

    // No room left for a pair: decoding stops, nothing was malformed.
    EXPECT_TRUE(Utf8ToWide(U("ab\xF0\x9F\x98\x80"), out, 4));
    EXPECT_STREQ(L"ab", out);
    EXPECT_TRUE(Utf8ToWide(U("abcdef"), out, 4));
    EXPECT_STREQ(L"abc", out);

    // A bad continuation stops at once.
    EXPECT_FALSE(Utf8ToWide(U("ab\xC3" "cd"), out, 8));
    EXPECT_STREQ(L"ab", out);
    EXPECT_FALSE(Utf8ToWide(U("a\xFF" "b"), out, 8));
    EXPECT_STREQ(L"a", out);
    // Beyond U+10FFFF nothing is written and decoding goes on.
    EXPECT_FALSE(Utf8ToWide(U("a\xF5\x80\x80\x80" "b"), out, 8));
    EXPECT_STREQ(L"ab", out);

    out[0] = L'#';
    EXPECT_TRUE(Utf8ToWide(U("abc"), out, 1));
    EXPECT_STREQ(L"", out);
    out[0] = L'#';
    EXPECT_FALSE(Utf8ToWide(U("abc"), out, 0));
    EXPECT_EQ(L'#', out[0]);
}

}  // namespace
