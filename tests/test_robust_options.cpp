// Option texts: a table of command lines with the exact arguments and options they
// give, read into buffers that end where an inaccessible page begins; and random
// texts, for what holds whatever the text: NextArgument stays inside every buffer
// it is given and cuts rather than changes, and the two passes of ParseOptions
// leave a consistent record.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/robust_support.h"
#include "uninstall/options.h"

using namespace testsupport;

namespace {

constexpr size_t kArgumentChars = 1024;

// Every argument of text, read with NextArgument into a buffer of exactly
// capacity characters; ends[i] is where reading stopped after argument i.
struct Reading {
    std::vector<std::wstring> arguments;
    std::vector<size_t> ends;
};

Reading ReadAll(const std::wstring& text, size_t capacity)
{
    Reading reading;
    GuardedMemory buffer(capacity * sizeof(wchar_t));
    const wchar_t* position = text.c_str();
    for (size_t guard = 0; guard <= text.size(); guard++) {
        const wchar_t* skipped = NextArgument(position, nullptr, 0);
        const wchar_t* next = NextArgument(position, buffer.Wide(), capacity);
        EXPECT_EQ(skipped, next) << "skipping and reading end in different places";
        if (next == nullptr)
            return reading;
        EXPECT_GT(next, position) << "no progress";
        size_t length = capacity > 0 ? wcsnlen(buffer.Wide(), capacity) : 0;
        EXPECT_LT(length, std::max<size_t>(capacity, 1)) << "argument not terminated inside its buffer";
        reading.arguments.emplace_back(buffer.Wide(), capacity > 0 ? length : 0);
        reading.ends.push_back(static_cast<size_t>(next - text.c_str()));
        position = next;
    }
    ADD_FAILURE() << "more arguments than characters";
    return reading;
}

struct SplitCase {
    const wchar_t* text;
    std::vector<std::wstring> arguments;
};

// Blanks and tabs separate outside quotes; a lone double quote switches quoting
// and is not kept; two in a row are one literal double quote, inside quotes or
// out; a backslash is an ordinary character; an open quote runs to the end.
const SplitCase kSplits[] = {
    {L"", {}},
    {L" \t \t", {}},
    {L"a", {L"a"}},
    {L"  a\tb  c \t", {L"a", L"b", L"c"}},
    {L"\"a b\"", {L"a b"}},
    {L"\"a\tb\" c", {L"a\tb", L"c"}},
    {L"x\"y z\"w v", {L"xy zw", L"v"}},
    {L"\"\"", {L"\""}},
    {L"\"\"\"\"", {L"\"\""}},
    {L"\"\"\"", {L"\""}},
    {L"\" \"", {L" "}},
    {L"\"\" \"\"", {L"\"", L"\""}},
    {L"a\"\"b", {L"a\"b"}},
    {L"\"a\"\"b c\"", {L"a\"b c"}},
    {L"-set\"\"up", {L"-set\"up"}},
    {L"a\\\"b c\\\"", {L"a\\b c\\"}},
    {L"C:\\dir\\ x", {L"C:\\dir\\", L"x"}},
    {L"\"open quote and all after", {L"open quote and all after"}},
    {L"end\"", {L"end"}},
    {L"\"C:\\Program Files\\Zorvex\\Uninstall.exe\" -s", {L"C:\\Program Files\\Zorvex\\Uninstall.exe", L"-s"}},
    {L"\u00e9\u4e2d \U0001F600", {L"\u00e9\u4e2d", L"\U0001F600"}},
    {L"a\u3000b", {L"a\u3000b"}},
    {L"a\r\nb", {L"a\r\nb"}},
};

TEST(RobustOptions, CommandLinesGiveExactlyTheirArguments)
{
    for (const SplitCase& c : kSplits) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        Reading reading = ReadAll(c.text, kArgumentChars);
        EXPECT_EQ(c.arguments, reading.arguments);
    }
}

TEST(RobustOptions, ReadingStopsAtTheSeparatorAfterTheArgument)
{
    const std::wstring text = L" ab\t\"c d\"  e\"";
    Reading reading = ReadAll(text, kArgumentChars);
    EXPECT_EQ((std::vector<std::wstring>{L"ab", L"c d", L"e"}), reading.arguments);
    EXPECT_EQ((std::vector<size_t>{3, 9, 13}), reading.ends);
}

struct CapacityCase {
    const wchar_t* text;
    size_t capacity;
    std::vector<std::wstring> arguments;
};

// capacity - 1 characters are kept; the rest of the argument is read and dropped.
const CapacityCase kCapacities[] = {
    {L"abcdef gh", 4, {L"abc", L"gh"}},
    {L"abcdef gh", 1, {L"", L""}},
    {L"abcdef gh", 0, {L"", L""}},
    {L"a\"\"bc d", 3, {L"a\"", L"d"}},
    {L"\"a b c\" d", 3, {L"a ", L"d"}},
    {L"\"\"\"\" x", 2, {L"\"", L"x"}},
};

TEST(RobustOptions, ASmallBufferKeepsTheHeadOfEachArgument)
{
    for (const CapacityCase& c : kCapacities) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)) + " capacity " + std::to_string(c.capacity));
        EXPECT_EQ(c.arguments, ReadAll(c.text, c.capacity).arguments);
    }
    std::wstring longArgument = L"-init" + std::wstring(1500, L'i') + L" next";
    Reading reading = ReadAll(longArgument, kArgumentChars);
    ASSERT_EQ(2u, reading.arguments.size());
    EXPECT_EQ(L"-init" + std::wstring(1018, L'i'), reading.arguments[0]);
    EXPECT_EQ(L"next", reading.arguments[1]);
}

struct Outcome {
    bool setup, uninstall, silent, msi, noExplorer;
    const wchar_t* initText;
};

struct PassesCase {
    const wchar_t* sfxcmd;
    const wchar_t* commandLine;
    Outcome expected;
};

const wchar_t kProgram[] = L"\"C:\\Program Files\\Zorvex\\Uninstall.exe\"";

// Only a silent switch counts from sfxcmd; on the command line every switch but a
// silent one and msi keeps the uninstall from running. Names are compared over
// their given lengths, without regard to case, and a shorter text never matches.
const PassesCase kPasses[] = {
    // sfxcmd, command line after the program path: setup, uninstall, silent, msi, noExplorer, init
    {L"", L"", {false, true, false, false, false, L""}},
    {L"", L"-s", {false, true, true, false, false, L""}},
    {L"", L"/S", {false, true, true, false, false, L""}},
    {L"", L"/s1 -S-", {false, true, true, false, false, L""}},
    {L"", L"-sx", {false, false, false, false, false, L""}},
    {L"", L"-s\"\"", {false, true, true, false, false, L""}},
    {L"/S", L"-setup", {true, false, true, false, false, L""}},
    {L"-setup", L"", {false, true, false, false, false, L""}},
    {L"-setup -msi -noex -initABC", L"-s", {false, true, true, false, false, L""}},
    {L"", L"-SETUPx", {true, false, false, false, false, L""}},
    {L"", L"-setu", {false, false, false, false, false, L""}},
    {L"", L"-msi -s", {false, true, true, true, false, L""}},
    {L"", L"/MSIx", {false, true, false, true, false, L""}},
    {L"", L"-setup -msi", {true, false, false, true, false, L""}},
    {L"", L"-initABC", {false, false, false, false, false, L"ABC"}},
    {L"", L"/INIT", {false, false, false, false, false, L""}},
    {L"", L"-init\"with blanks\"", {false, false, false, false, false, L"with blanks"}},
    {L"", L"-initA -initB", {false, false, false, false, false, L"B"}},
    {L"", L"-init12345678901234567890123456789012345678901234567890",
     {false, false, false, false, false, L"123456789012345678901234567890123456789"}},
    {L"", L"-ini", {false, false, false, false, false, L""}},
    {L"", L"-noex", {false, false, false, false, true, L""}},
    {L"", L"/NoExplorer", {false, false, false, false, true, L""}},
    {L"", L"-noexfoo", {false, false, false, false, true, L""}},
    {L"", L"-noe", {false, false, false, false, false, L""}},
    {L"", L"-set\"\"up", {false, false, false, false, false, L""}},
    {L"", L"-", {false, false, false, false, false, L""}},
    {L"", L"/", {false, false, false, false, false, L""}},
    {L"", L"setup msi x", {false, true, false, false, false, L""}},
    {L"", L"\"-setup\"", {true, false, false, false, false, L""}},
    {L"", L"-x -s", {false, false, true, false, false, L""}},
};

TEST(RobustOptions, BothPassesGiveTheTabledOptions)
{
    for (const PassesCase& c : kPasses) {
        std::wstring commandLine = std::wstring(kProgram) + L" " + c.commandLine;
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.sfxcmd)) + " / " + testing::PrintToString(commandLine));
        CommandOptions& options = GetCommandOptions();
        options = CommandOptions();
        bool setup = false;
        bool uninstall = false;
        ParseOptions(true, c.sfxcmd, setup, uninstall);
        ParseOptions(false, commandLine.c_str(), setup, uninstall);
        EXPECT_EQ(c.expected.setup, setup);
        EXPECT_EQ(c.expected.uninstall, uninstall);
        EXPECT_EQ(c.expected.silent, options.Silent);
        EXPECT_EQ(c.expected.msi, options.Msi);
        EXPECT_EQ(c.expected.noExplorer, options.NoExplorer);
        size_t length = wcsnlen(options.InitText, 40);
        ASSERT_LT(length, 40u);
        EXPECT_EQ(std::wstring(c.expected.initText), std::wstring(options.InitText, length));
    }
    GetCommandOptions() = CommandOptions();
}

// ---- Random texts: what holds whatever they hold.

std::wstring RandomOptionText(Random& random)
{
    static const std::wstring kPieces[] = {
        L"-s", L"/S", L"/s1", L"-S-", L"-setup", L"/SETUPx", L"-msi", L"/MSIx", L"-init", L"-initABC", L"/INIT",
        L"-noex", L"/NoExplorer", L"-noe", L"-ini", L"-", L"/", L"\"", L"\"\"", L" ", L"\t", L"  ", L"x", L"-set\"\"up",
        L"\"C:\\Program Files\\Zorvex\\Uninstall.exe\"", L"-\u017f", L"/\u0130nit", L"-in\u00adit", L"\u00e9",
        L"-init\"with blanks\"", L"-s\"\"", L"-sx", L"\u4e2d", std::wstring(1, wchar_t(0xD800)),
    };
    std::wstring text;
    for (uint32_t n = random.Below(12); n > 0; n--) {
        if (random.Percent(3))
            text += L"-init" + std::wstring(1000 + random.Below(100), L'i');
        else
            text += random.Pick(kPieces);
    }
    return text;
}

// A text that could name wait or warning (which sleep or show a box) has no place
// in a run of thousands; the test is wider than the switch names on purpose.
bool MightWaitOrWarn(const std::wstring& text)
{
    std::wstring lower = text;
    CharLowerBuffW(&lower[0], static_cast<DWORD>(lower.size()));
    return lower.find(L"wa") != std::wstring::npos;
}

TEST(RobustOptions, NextArgumentStaysInsideEveryBufferAndOnlyCuts)
{
    Random random(0x0b7);
    for (int iteration = 0; iteration < 2000; iteration++) {
        SCOPED_TRACE("iteration " + std::to_string(iteration));
        std::wstring text = RandomOptionText(random);
        size_t capacity = random.Below(6);
        Reading whole = ReadAll(text, kArgumentChars);
        Reading cut = ReadAll(text, capacity);
        // The buffer's size changes what is kept of each argument, never where one ends.
        EXPECT_EQ(whole.ends, cut.ends);
        ASSERT_EQ(whole.arguments.size(), cut.arguments.size());
        for (size_t i = 0; i < whole.arguments.size(); i++) {
            EXPECT_EQ(whole.arguments[i].substr(0, capacity > 0 ? capacity - 1 : 0), cut.arguments[i]);
            size_t end = whole.ends[i];
            EXPECT_TRUE(end == text.size() || text[end] == L' ' || text[end] == L'\t') << "stopped inside an argument";
            // Nothing is ever added: an argument is never longer than the text it came from.
            EXPECT_LE(whole.arguments[i].size(), end);
        }
        if (HasFailure())
            return;
    }
}

TEST(RobustOptions, AnyTextLeavesAConsistentRecord)
{
    Random random(0x0b8);
    int uninstalls = 0;
    for (int iteration = 0; iteration < 3000; iteration++) {
        SCOPED_TRACE("iteration " + std::to_string(iteration));
        std::wstring sfxcmd = RandomOptionText(random);
        std::wstring commandLine = RandomOptionText(random);
        if (MightWaitOrWarn(sfxcmd) || MightWaitOrWarn(commandLine))
            continue;

        CommandOptions& options = GetCommandOptions();
        options = CommandOptions();
        bool setup = false;
        bool uninstall = false;
        ParseOptions(true, sfxcmd.c_str(), setup, uninstall);
        // The sfxcmd pass gives at most the silent switch.
        EXPECT_FALSE(setup);
        EXPECT_FALSE(uninstall);
        EXPECT_FALSE(options.Msi);
        EXPECT_FALSE(options.NoExplorer);
        EXPECT_EQ(L'\0', options.InitText[0]);
        bool silentFromSfxcmd = options.Silent;

        ParseOptions(false, commandLine.c_str(), setup, uninstall);
        size_t length = wcsnlen(options.InitText, 40);
        ASSERT_LT(length, 40u);
        EXPECT_TRUE(!silentFromSfxcmd || options.Silent) << "the command line cleared the silent switch";
        // The uninstall runs only when the command line held no switch that counts,
        // and so none that set setup, NoExplorer or an init text.
        if (uninstall) {
            EXPECT_FALSE(setup);
            EXPECT_FALSE(options.NoExplorer);
            EXPECT_EQ(0u, length);
        }
        uninstalls += uninstall ? 1 : 0;
        if (HasFailure())
            return;
    }
    GetCommandOptions() = CommandOptions();
    EXPECT_GT(uninstalls, 100);
}

}  // namespace
