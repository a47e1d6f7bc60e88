// The command line and sfxcmd: arguments, quoting, switch names and the choice of mode.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "common/base/strings.h"
#include "uninstall/options.h"
#include "uninstall/program.h"

namespace {

struct Parsed {
    bool setup = false;
    bool uninstall = false;
    CommandOptions options = {};
};

// The two passes as the main flow runs them, on a fresh options record.
Parsed Parse(const wchar_t* sfxcmd, const wchar_t* commandLine)
{
    GetCommandOptions() = CommandOptions{};
    Parsed parsed;
    TakeOptionSteps(ParseOptions(true, sfxcmd, parsed.setup, parsed.uninstall));
    TakeOptionSteps(ParseOptions(false, commandLine, parsed.setup, parsed.uninstall));
    parsed.options = GetCommandOptions();
    return parsed;
}

const wchar_t kProgram[] = L"\"C:\\Program Files\\Zorvex\\Uninstall.exe\"";

std::wstring Line(const wchar_t* arguments)
{
    return std::wstring(kProgram) + L" " + arguments;
}

std::wstring NextArg(const wchar_t*& position, size_t capacity = 1024)
{
    wchar_t buffer[1024] = {};
    position = NextArgument(position, buffer, capacity);
    return buffer;
}

TEST(NextArgument, SplitsAtBlanksOutsideQuotes)
{
    const wchar_t* p = L"  one\t\"two three\"  four\tfive  ";
    EXPECT_EQ(NextArg(p), L"one");
    EXPECT_EQ(NextArg(p), L"two three");
    EXPECT_EQ(NextArg(p), L"four");
    EXPECT_EQ(NextArg(p), L"five");
    EXPECT_NE(p, nullptr);
    EXPECT_EQ(NextArgument(p, nullptr, 0), nullptr);
    EXPECT_EQ(NextArgument(L" \t ", nullptr, 0), nullptr);
    EXPECT_EQ(NextArgument(L"", nullptr, 0), nullptr);
}

TEST(NextArgument, TwoQuotesGiveOneLiteralQuoteInsideAndOutside)
{
    const wchar_t* p = L"x\"\"y \"a\"\"b c\" \"\" end";
    EXPECT_EQ(NextArg(p), L"x\"y");
    EXPECT_EQ(NextArg(p), L"a\"b c");
    // A lone pair of quotes is one literal quote, not an empty argument.
    EXPECT_EQ(NextArg(p), L"\"");
    EXPECT_EQ(NextArg(p), L"end");
    EXPECT_EQ(NextArgument(p, nullptr, 0), nullptr);
}

TEST(NextArgument, UnclosedQuoteRunsToTheEnd)
{
    const wchar_t* p = L"\"abc def\tghi";
    EXPECT_EQ(NextArg(p), L"abc def\tghi");
    EXPECT_EQ(*p, L'\0');
    EXPECT_EQ(NextArgument(p, nullptr, 0), nullptr);
}

TEST(NextArgument, OverLongArgumentIsCutAndItsRestConsumed)
{
    std::wstring longArgument(1500, L'a');
    longArgument[1200] = L'b';
    std::wstring text = longArgument + L" next";
    const wchar_t* p = text.c_str();
    std::wstring first = NextArg(p);
    EXPECT_EQ(first, std::wstring(1023, L'a'));
    EXPECT_EQ(NextArg(p), L"next");

    const wchar_t* q = L"abcdef gh";
    EXPECT_EQ(NextArg(q, 4), L"abc");
    EXPECT_EQ(NextArg(q, 1), L"");
    EXPECT_EQ(NextArgument(q, nullptr, 0), nullptr);
}

TEST(NextArgument, WithoutBufferOnlySkips)
{
    const wchar_t* text = L"\"a b\" c";
    const wchar_t* p = NextArgument(text, nullptr, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p - text, 5);
    EXPECT_EQ(NextArg(p), L"c");
}

TEST(CompareNoCasePrefix, ComparesTheTerminatorOfAShortSide)
{
    EXPECT_EQ(CompareNoCasePrefix(L"SeTuP", L"setup", 5), 0);
    EXPECT_EQ(CompareNoCasePrefix(L"setupX", L"setup", 5), 0);
    EXPECT_EQ(CompareNoCasePrefix(L"NoExplorer", L"noexplorer", 4), 0);
    EXPECT_EQ(CompareNoCasePrefix(L"noexfoo", L"noexplorer", 4), 0);
    EXPECT_NE(CompareNoCasePrefix(L"ini", L"init", 4), 0);
    EXPECT_NE(CompareNoCasePrefix(L"noe", L"noexplorer", 4), 0);
    EXPECT_NE(CompareNoCasePrefix(L"", L"wait", 4), 0);
    EXPECT_EQ(CompareNoCasePrefix(L"ab", L"AB", 5), 0);
    EXPECT_LT(CompareNoCasePrefix(L"abc", L"abd", 3), 0);
    EXPECT_GT(CompareNoCasePrefix(L"abd", L"ABC", 3), 0);
}

TEST(ParseOptions, NoSwitchRunsTheUninstall)
{
    Parsed p = Parse(L"", kProgram);
    EXPECT_TRUE(p.uninstall);
    EXPECT_FALSE(p.setup);
    EXPECT_FALSE(p.options.Silent);
    EXPECT_FALSE(p.options.Msi);
    EXPECT_FALSE(p.options.NoExplorer);
    // Arguments that are no switches are ignored, the quoted program path among them.
    p = Parse(L"", Line(L"whatever \"C:\\a b\\c\"").c_str());
    EXPECT_TRUE(p.uninstall);
}

TEST(ParseOptions, SilentSwitchForms)
{
    for (const wchar_t* silent : {L"-s", L"/S", L"/s1", L"-S-", L"-s.", L"/S\"\""}) {
        Parsed p = Parse(L"", Line(silent).c_str());
        EXPECT_TRUE(p.options.Silent) << silent;
        EXPECT_TRUE(p.uninstall) << silent;
    }
    for (const wchar_t* notSilent : {L"-setup", L"-sx", L"/Silent", L"s"}) {
        Parsed p = Parse(L"", Line(notSilent).c_str());
        EXPECT_FALSE(p.options.Silent) << notSilent;
    }
    Parsed p = Parse(L"", Line(L"-sx").c_str());
    EXPECT_FALSE(p.uninstall);
}

TEST(ParseOptions, SfxcmdGivesOnlyTheSilentSwitch)
{
    Parsed p = Parse(L"/S", Line(L"-setup").c_str());
    EXPECT_TRUE(p.options.Silent);
    EXPECT_TRUE(p.setup);
    EXPECT_FALSE(p.uninstall);

    // Counted in sfxcmd but without effect: the command line decides.
    p = Parse(L"-setup -msi -noexplorer -initABC", kProgram);
    EXPECT_FALSE(p.setup);
    EXPECT_FALSE(p.options.Msi);
    EXPECT_FALSE(p.options.NoExplorer);
    EXPECT_STREQ(p.options.InitText, L"");
    EXPECT_TRUE(p.uninstall);
    EXPECT_FALSE(p.options.Silent);
}

TEST(ParseOptions, TheSfxcmdPassNeverRequestsTheUninstall)
{
    GetCommandOptions() = CommandOptions{};
    bool setup = false;
    bool uninstall = true;
    ParseOptions(true, L"-s", setup, uninstall);
    EXPECT_FALSE(uninstall);
    EXPECT_TRUE(GetCommandOptions().Silent);
    ParseOptions(true, L"", setup, uninstall);
    EXPECT_FALSE(uninstall);
}

TEST(ParseOptions, SetupIsOnlyEverSet)
{
    GetCommandOptions() = CommandOptions{};
    bool setup = false;
    bool uninstall = false;
    ParseOptions(false, L"x /SETUPnow", setup, uninstall);
    EXPECT_TRUE(setup);
    EXPECT_FALSE(uninstall);
    ParseOptions(false, L"x", setup, uninstall);
    EXPECT_TRUE(setup);
    EXPECT_TRUE(uninstall);
}

TEST(ParseOptions, InitTakesTheRestOfItsArgumentCutTo39Characters)
{
    Parsed p = Parse(L"", Line(L"-initABC").c_str());
    EXPECT_STREQ(p.options.InitText, L"ABC");
    EXPECT_FALSE(p.uninstall);
    p = Parse(L"", Line(L"/INIT\"Z A\"").c_str());
    EXPECT_STREQ(p.options.InitText, L"Z A");
    p = Parse(L"", Line(L"-init").c_str());
    EXPECT_STREQ(p.options.InitText, L"");
    std::wstring fifty(50, L'x');
    for (int i = 0; i < 50; i++)
        fifty[i] = static_cast<wchar_t>(L'a' + i % 26);
    p = Parse(L"", Line((L"-init" + fifty).c_str()).c_str());
    EXPECT_EQ(std::wstring(p.options.InitText), fifty.substr(0, 39));
}

TEST(ParseOptions, ShortOrMisspelledSwitchesCountButMatchNothing)
{
    for (const wchar_t* text : {L"-ini", L"-noe", L"-x", L"-", L"/", L"-set\"\"up", L"-wai", L"-warn", L"-ms"}) {
        Parsed p = Parse(L"", Line(text).c_str());
        EXPECT_FALSE(p.uninstall) << text;
        EXPECT_FALSE(p.setup) << text;
        EXPECT_FALSE(p.options.Msi) << text;
        EXPECT_FALSE(p.options.NoExplorer) << text;
        EXPECT_STREQ(p.options.InitText, L"") << text;
    }
}

TEST(ParseOptions, NoExplorerComparesFourLetters)
{
    for (const wchar_t* text : {L"-noex", L"/NoExplorer", L"-noexfoo"}) {
        Parsed p = Parse(L"", Line(text).c_str());
        EXPECT_TRUE(p.options.NoExplorer) << text;
        EXPECT_FALSE(p.uninstall) << text;
    }
}

TEST(ParseOptions, MsiRunsTheUninstallWithMsiSet)
{
    Parsed p = Parse(L"", Line(L"-msi -s").c_str());
    EXPECT_TRUE(p.options.Msi);
    EXPECT_TRUE(p.options.Silent);
    EXPECT_TRUE(p.uninstall);
    EXPECT_FALSE(p.setup);

    p = Parse(L"", Line(L"/MSI").c_str());
    EXPECT_TRUE(p.options.Msi);
    EXPECT_TRUE(p.uninstall);

    p = Parse(L"", Line(L"-setup -msi").c_str());
    EXPECT_TRUE(p.setup);
    EXPECT_TRUE(p.options.Msi);
    EXPECT_FALSE(p.uninstall);

    // Another switch beside msi still keeps the uninstall from running.
    p = Parse(L"", Line(L"-msi -noex").c_str());
    EXPECT_TRUE(p.options.Msi);
    EXPECT_FALSE(p.uninstall);
}

TEST(ParseOptions, WaitPausesAndRunsNeitherMode)
{
    DWORD start = GetTickCount();
    Parsed p = Parse(L"-wait", Line(L"-WAIT").c_str());
    DWORD spent = GetTickCount() - start;
    EXPECT_GE(spent, 1900u);
    EXPECT_LT(spent, 3900u) << "the sfxcmd pass must not wait as well";
    EXPECT_FALSE(p.uninstall);
    EXPECT_FALSE(p.setup);
}

// What the command line asks to be done is answered in its order, not done
// while parsing: the parse itself neither sleeps nor shows a box.
TEST(ParseOptions, WaitAndWarningAreAnsweredAsStepsInTheirOrder)
{
    GetCommandOptions() = CommandOptions{};
    bool setup = false;
    bool uninstall = false;
    DWORD start = GetTickCount();
    OptionSteps steps = ParseOptions(false, L"x -wait /WARNINGS -setup -Wait2 -warn -wai -waiting -warning", setup,
                                     uninstall);
    EXPECT_LT(GetTickCount() - start, 1000u);
    ASSERT_EQ(steps.Count, 5u);
    EXPECT_EQ(steps.Steps[0], OptionStep::Wait);
    EXPECT_EQ(steps.Steps[1], OptionStep::Warning);
    EXPECT_EQ(steps.Steps[2], OptionStep::Wait);
    EXPECT_EQ(steps.Steps[3], OptionStep::Wait) << "-waiting begins with wait";
    EXPECT_EQ(steps.Steps[4], OptionStep::Warning);
    EXPECT_TRUE(setup);
    EXPECT_FALSE(uninstall);

    // sfxcmd gives the silent switch alone; the other switches only count.
    steps = ParseOptions(true, L"-wait -warning", setup, uninstall);
    EXPECT_EQ(steps.Count, 0u);
    steps = ParseOptions(false, L"x -s -setup", setup, uninstall);
    EXPECT_EQ(steps.Count, 0u);

    // Every step of the longest command line is kept.
    std::wstring longest = L"x";
    while (longest.size() + 6 <= 32767)
        longest += L" /wait";
    steps = ParseOptions(false, longest.c_str(), setup, uninstall);
    EXPECT_EQ(steps.Count, 5461u);
    GetCommandOptions() = CommandOptions{};
}

// A launcher may hand the unquoted UninstallString to CreateProcessW: the
// program's own path then heads the line in pieces, none of them an argument.
TEST(ProgramPath, AnUnquotedOwnPathAtTheHeadIsSkippedWholeAndOnlyThen)
{
    const wchar_t* program = L"C:\\Tools - Archivers\\x -setup\\Zorvex\\Uninstall.exe";
    struct Case {
        const wchar_t* line;
        const wchar_t* rest;  // null: the whole line, parsed as it stands
    };
    const Case cases[] = {
        {L"C:\\Tools - Archivers\\x -setup\\Zorvex\\Uninstall.exe", L""},
        {L"C:\\Tools - Archivers\\x -setup\\Zorvex\\Uninstall.exe\t/S", L"\t/S"},
        {L"c:\\TOOLS - archivers\\X -SETUP\\zorvex\\uninstall.EXE -msi", L" -msi"},
        {L"\"C:\\Tools - Archivers\\x -setup\\Zorvex\\Uninstall.exe\" -s", nullptr},
        {L"C:\\Tools - Archivers\\x -setup\\Zorvex\\Uninstall.exe2", nullptr},
        {L"C:\\Tools - Archivers\\x -setup\\Zorvex\\Uninstall.ex", nullptr},
        {L" C:\\Tools - Archivers\\x -setup\\Zorvex\\Uninstall.exe", nullptr},
        {L"", nullptr},
    };
    for (const Case& c : cases) {
        const wchar_t* rest = SkipUnquotedProgramPath(c.line, program);
        if (c.rest == nullptr)
            EXPECT_EQ(c.line, rest) << testing::PrintToString(c.line);
        else
            EXPECT_STREQ(c.rest, rest) << testing::PrintToString(c.line);
    }
    const wchar_t* other = L"x -s";
    EXPECT_EQ(other, SkipUnquotedProgramPath(other, L""));

    // What follows is parsed as usual.
    const wchar_t* line = L"C:\\Tools - Archivers\\x -setup\\Zorvex\\Uninstall.exe -s";
    Parsed p = Parse(L"", SkipUnquotedProgramPath(line, program));
    EXPECT_TRUE(p.uninstall);
    EXPECT_TRUE(p.options.Silent);
    EXPECT_FALSE(p.setup);
    p = Parse(L"", SkipUnquotedProgramPath(L"C:\\Other - Folder\\Uninstall.exe", program));
    EXPECT_FALSE(p.uninstall);  // not the program's own path: the lone "-" is a switch
}

}  // namespace
