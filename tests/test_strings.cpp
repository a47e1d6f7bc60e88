#include <gtest/gtest.h>

#include <windows.h>

#include "common/base/strings.h"

namespace {

TEST(BoundedCopy, CutsTerminatesAndReportsTheCut)
{
    wchar_t buf[8];
    wmemset(buf, L'#', 8);
    EXPECT_FALSE(CopyString(buf, L"abcdefgh", 5));
    EXPECT_STREQ(L"abcd", buf);
    EXPECT_EQ(L'#', buf[5]);  // nothing written past the capacity

    EXPECT_FALSE(CopyString(buf, L"abc", 1));
    EXPECT_STREQ(L"", buf);

    wmemset(buf, L'#', 8);
    EXPECT_TRUE(CopyString(buf, L"", 0));
    EXPECT_FALSE(CopyString(buf, L"x", 0));
    EXPECT_EQ(L'#', buf[0]);  // capacity 0 writes nothing

    EXPECT_TRUE(CopyString(buf, L"abcd", 5));  // exact fit
    EXPECT_STREQ(L"abcd", buf);

    char a[5];
    EXPECT_FALSE(CopyStringA(a, "abcdefgh", 5));
    EXPECT_STREQ("abcd", a);
    EXPECT_TRUE(CopyStringA(a, "abcd", 5));
}

TEST(BoundedCopy, AppendKeepsWithinTheCapacity)
{
    wchar_t buf[8] = L"abc";
    EXPECT_FALSE(AppendString(buf, L"xyz", 5));
    EXPECT_STREQ(L"abcx", buf);
    EXPECT_FALSE(AppendString(buf, L"q", 5));  // already full
    EXPECT_STREQ(L"abcx", buf);

    wchar_t full[4] = {L'a', L'b', L'c', L'd'};  // unterminated within its capacity
    EXPECT_FALSE(AppendString(full, L"z", 4));
    EXPECT_EQ(L'd', full[3]);

    char a[6] = "ab";
    EXPECT_TRUE(AppendStringA(a, "cde", 6));
    EXPECT_STREQ("abcde", a);
    EXPECT_FALSE(AppendStringA(a, "f", 6));
}

TEST(BoundedFormat, ReportsCutOutputAndStaysTerminated)
{
    char a[8];
    EXPECT_EQ(5, FormatStringA(a, sizeof a, "%d-%s", 12, "ab"));
    EXPECT_STREQ("12-ab", a);
    EXPECT_EQ(-1, FormatStringA(a, sizeof a, "%s", "abcdefghij"));
    EXPECT_STREQ("abcdefg", a);
    EXPECT_EQ(-1, FormatStringA(a, 1, "%s", "x"));
    EXPECT_STREQ("", a);

    wchar_t w[8];
    EXPECT_EQ(7, FormatString(w, 8, L"%s.%u", L"abc", 123u));  // exact fit
    EXPECT_STREQ(L"abc.123", w);
    EXPECT_EQ(7, FormatString(w, 8, L"%s.%02u", L"abcd", 5u));
    EXPECT_STREQ(L"abcd.05", w);
    EXPECT_EQ(-1, FormatString(w, 8, L"%s.%02u", L"abcde", 5u));
    EXPECT_STREQ(L"abcde.0", w);
    EXPECT_EQ(3, FormatString(w, 8, L"%hs", "nar"));
    EXPECT_STREQ(L"nar", w);
}

TEST(CodePages, ConversionsThatDoNotFitFailButStayTerminated)
{
    wchar_t w[4];
    EXPECT_FALSE(WideFromAnsi("abcdef", w, 4));
    EXPECT_EQ(0, w[3]);
    EXPECT_TRUE(WideFromAnsi("abc", w, 4));
    EXPECT_STREQ(L"abc", w);

    char a[4];
    EXPECT_FALSE(AnsiFromWide(L"abcdef", a, 4));
    EXPECT_EQ(0, a[3]);
    EXPECT_TRUE(AnsiFromWide(L"abc", a, 4));
    EXPECT_STREQ("abc", a);

    EXPECT_FALSE(WideFromAnsi("a", w, 0));
}

TEST(CodePages, CharactersMissingFromTheAnsiPageBecomeItsDefaultCharacter)
{
    ASSERT_EQ(1252u, GetACP());
    char a[8];
    // U+4E2D has no form in code page 1252; U+00E9 has (0xE9).
    EXPECT_TRUE(AnsiFromWide(L"\u00e9\u4e2dx", a, sizeof a));
    EXPECT_EQ(static_cast<char>(0xE9), a[0]);
    EXPECT_EQ('?', a[1]);
    EXPECT_EQ('x', a[2]);
    EXPECT_EQ(0, a[3]);

    wchar_t w[4];
    EXPECT_TRUE(WideFromAnsi("\xe9\x80", w, 4));
    EXPECT_EQ(L'\u00e9', w[0]);
    EXPECT_EQ(L'\u20ac', w[1]);  // 0x80 is the euro sign in 1252
}

TEST(Compare, IgnoresCaseOverWholeStrings)
{
    EXPECT_EQ(0, CompareNoCase(L"combobox", L"COMBOBOX"));
    EXPECT_EQ(-1, CompareNoCase(L"abc", L"abd"));
    EXPECT_EQ(1, CompareNoCase(L"abcd", L"ABC"));
    EXPECT_EQ(0, CompareNoCase(L"Zorvex", L"zorvex"));
}

TEST(Numbers, ParseStopsAtTheFirstNonDigit)
{
    EXPECT_EQ(120, ParseInt(L"120*110"));
    EXPECT_EQ(-5, ParseInt(L"-5"));
    EXPECT_EQ(0, ParseInt(L" 7"));
    EXPECT_EQ(0, ParseInt(L"+7"));
    EXPECT_EQ(0, ParseInt(L"abc"));
    EXPECT_EQ(0, ParseInt(L"-"));
    EXPECT_EQ(-12, ParseInt(L"-12x"));
    EXPECT_EQ(4294967295LL, ParseInt(L"4294967295"));
    EXPECT_EQ(INT64_MAX, ParseInt(L"9223372036854775807"));
    EXPECT_EQ(INT64_MIN, ParseInt(L"-9223372036854775808"));
    // 25 digits wrap modulo 2^64 instead of being undefined.
    uint64_t wrapped = 0;
    for (int i = 0; i < 25; i++)
        wrapped = wrapped * 10 + 9;
    EXPECT_EQ(static_cast<int64_t>(wrapped), ParseInt(L"9999999999999999999999999"));
}

TEST(Numbers, FormatDropsTheMostSignificantDigitsWhenShort)
{
    wchar_t w[10];
    FormatInt(-123, w, 10);
    EXPECT_STREQ(L"-123", w);
    FormatInt(123456, w, 4);
    EXPECT_STREQ(L"456", w);
    FormatInt(0, w, 10);
    EXPECT_STREQ(L"0", w);
    FormatInt(INT64_MIN, w, 10);
    EXPECT_STREQ(L"-54775808", w);
    wchar_t big[24];
    FormatInt(INT64_MIN, big, 24);
    EXPECT_STREQ(L"-9223372036854775808", big);
    FormatInt(4294967295LL, big, 24);
    EXPECT_STREQ(L"4294967295", big);
    FormatInt(7, w, 1);
    EXPECT_STREQ(L"", w);
}

// Windows hands back a REG_SZ stored without its terminator as it is, filling
// the buffer exactly (Wine adds a terminator and answers ERROR_MORE_DATA, so
// only these direct cases show it).
TEST(RegistryText, TerminatedOnlyWhenThereIsRoomAndTheTypeIsText)
{
    wchar_t buf[6];
    wmemcpy(buf, L"abcd##", 6);
    EXPECT_FALSE(TerminateRegistryText(buf, 4, REG_SZ, 8));  // fills the buffer, no terminator
    EXPECT_STREQ(L"", buf);

    wmemcpy(buf, L"abcd##", 6);
    EXPECT_TRUE(TerminateRegistryText(buf, 5, REG_SZ, 8));  // unterminated, room for one
    EXPECT_STREQ(L"abcd", buf);

    wmemcpy(buf, L"ab\0d##", 6);
    EXPECT_TRUE(TerminateRegistryText(buf, 4, REG_EXPAND_SZ, 8));  // ends at its own NUL
    EXPECT_STREQ(L"ab", buf);

    wmemcpy(buf, L"abcd##", 6);
    EXPECT_TRUE(TerminateRegistryText(buf, 6, REG_SZ, 5));  // an odd byte is not a character
    EXPECT_STREQ(L"ab", buf);

    wmemcpy(buf, L"abcd##", 6);
    EXPECT_FALSE(TerminateRegistryText(buf, 6, REG_BINARY, 10));
    EXPECT_STREQ(L"", buf);
    wmemcpy(buf, L"abcd##", 6);
    EXPECT_FALSE(TerminateRegistryText(buf, 6, REG_MULTI_SZ, 10));
    EXPECT_FALSE(TerminateRegistryText(buf, 0, REG_SZ, 0));
}

TEST(Characters, TestsAndUpperCase)
{
    EXPECT_TRUE(IsDigit(L'0'));
    EXPECT_TRUE(IsDigit(L'9'));
    EXPECT_FALSE(IsDigit(L'\u0661'));  // Arabic-Indic one is not a decimal digit here
    EXPECT_TRUE(IsAsciiLetter(L'a'));
    EXPECT_TRUE(IsAsciiLetter(L'Z'));
    EXPECT_FALSE(IsAsciiLetter(L'\u00e9'));
    EXPECT_FALSE(IsAsciiLetter(L'@'));
    EXPECT_FALSE(IsAsciiLetter(L'['));
    EXPECT_EQ(L'A', UpperAscii(L'a'));
    EXPECT_EQ(L'\u00e9', UpperAscii(L'\u00e9'));
    EXPECT_EQ(L'\u00c9', UpperChar(L'\u00e9'));
    EXPECT_EQ(L'S', UpperChar(L's'));
    EXPECT_EQ(L'1', UpperChar(L'1'));
}

}  // namespace
