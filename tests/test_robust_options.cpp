// Randomised option texts: NextArgument stays inside every buffer it is given and
// splits as the quoting rule says, and the two passes of ParseOptions leave
// exactly the options and mode flags that their arguments call for.
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

struct Argument {
    std::wstring text;   // cut to the capacity
    size_t end;          // where reading stopped
};

// The arguments of text as the quoting rule reads them, each kept to capacity - 1 characters.
std::vector<Argument> SplitArguments(const std::wstring& text, size_t capacity)
{
    std::vector<Argument> arguments;
    size_t p = 0;
    for (;;) {
        while (p < text.size() && (text[p] == L' ' || text[p] == L'\t'))
            p++;
        if (p == text.size())
            return arguments;
        Argument argument;
        bool quoted = false;
        for (; p < text.size() && (quoted || (text[p] != L' ' && text[p] != L'\t')); p++) {
            wchar_t c = text[p];
            if (c == L'"') {
                if (p + 1 >= text.size() || text[p + 1] != L'"') {
                    quoted = !quoted;
                    continue;
                }
                p++;
            }
            if (argument.text.size() + 1 < capacity)
                argument.text += c;
        }
        argument.end = p;
        arguments.push_back(argument);
    }
}

bool SameNoCase(const std::wstring& a, const wchar_t* b, size_t n)
{
    int countA = static_cast<int>(std::min(a.size() + 1, n));
    int countB = static_cast<int>(std::min(wcslen(b) + 1, n));
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE | SORT_STRINGSORT, a.c_str(), countA, b, countB) ==
           CSTR_EQUAL;
}

struct ExpectedOptions {
    std::wstring initText;
    bool silent = false;
    bool msi = false;
    bool noExplorer = false;
    bool setup = false;
    bool uninstall = false;
};

// Both passes, sfxcmd first, as the program runs them.
void ApplyPass(const std::wstring& text, bool sfxcmdPass, ExpectedOptions& expected)
{
    unsigned switches = 0;
    for (const Argument& argument : SplitArguments(text, kArgumentChars)) {
        const std::wstring& a = argument.text;
        if (a.empty() || (a[0] != L'-' && a[0] != L'/'))
            continue;
        wchar_t second = a.size() > 1 ? a[1] : 0;
        wchar_t third = a.size() > 2 ? a[2] : 0;
        bool thirdIsLetter = (third >= L'A' && third <= L'Z') || (third >= L'a' && third <= L'z');
        if (reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(second)))) == L'S' &&
            !thirdIsLetter) {
            expected.silent = true;
            continue;
        }
        std::wstring name = a.substr(1);
        bool msi = SameNoCase(name, L"msi", 3);
        if (!msi)
            switches++;
        if (sfxcmdPass)
            continue;
        if (SameNoCase(name, L"setup", 5))
            expected.setup = true;
        else if (msi)
            expected.msi = true;
        else if (SameNoCase(name, L"init", 4))
            expected.initText = a.size() >= 5 ? a.substr(5, 39) : L"<init switch of four characters>";
        else if (SameNoCase(name, L"noexplorer", 4))
            expected.noExplorer = true;
    }
    expected.uninstall = switches == 0 && !sfxcmdPass;
}

// Switches that would sleep or show a message box have no place in a run of thousands.
bool AsksToWaitOrWarn(const std::wstring& text)
{
    for (const Argument& argument : SplitArguments(text, kArgumentChars)) {
        const std::wstring& a = argument.text;
        if (a.size() > 1 && (a[0] == L'-' || a[0] == L'/') &&
            (SameNoCase(a.substr(1), L"wait", 4) || SameNoCase(a.substr(1), L"warning", 7)))
            return true;
    }
    return false;
}

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

TEST(RobustOptions, NextArgumentStaysInsideEveryBufferAndSplitsByTheQuotingRule)
{
    Random random(0x0b7);
    for (int iteration = 0; iteration < 2000; iteration++) {
        SCOPED_TRACE("iteration " + std::to_string(iteration));
        std::wstring text = RandomOptionText(random);
        size_t capacity = random.Percent(50) ? random.Below(6) : kArgumentChars;
        std::vector<Argument> expected = SplitArguments(text, capacity == 0 ? 1 : capacity);
        GuardedMemory buffer(capacity * sizeof(wchar_t));
        const wchar_t* position = text.c_str();
        for (const Argument& argument : expected) {
            const wchar_t* skipped = NextArgument(position, nullptr, 0);
            // With no room at all, nothing may be written.
            position = NextArgument(position, buffer.Wide(), capacity);
            ASSERT_EQ(skipped, position);
            ASSERT_NE(nullptr, position);
            EXPECT_EQ(argument.end, static_cast<size_t>(position - text.c_str()));
            if (capacity > 0) {
                size_t length = wcsnlen(buffer.Wide(), capacity);
                ASSERT_LT(length, capacity);
                EXPECT_TRUE(argument.text == std::wstring(buffer.Wide(), length));
            }
        }
        EXPECT_EQ(nullptr, NextArgument(position, nullptr, 0));
        if (HasFailure())
            return;
    }
}

TEST(RobustOptions, BothPassesLeaveTheOptionsTheirArgumentsCallFor)
{
    Random random(0x0b8);
    int uninstalls = 0;
    for (int iteration = 0; iteration < 3000; iteration++) {
        SCOPED_TRACE("iteration " + std::to_string(iteration));
        std::wstring sfxcmd = RandomOptionText(random);
        std::wstring commandLine = RandomOptionText(random);
        if (AsksToWaitOrWarn(commandLine))
            continue;
        ExpectedOptions expected;
        ApplyPass(sfxcmd, true, expected);
        ApplyPass(commandLine, false, expected);

        CommandOptions& options = GetCommandOptions();
        options = CommandOptions();
        bool setup = false;
        bool uninstall = false;
        ParseOptions(true, sfxcmd.c_str(), setup, uninstall);
        ParseOptions(false, commandLine.c_str(), setup, uninstall);

        EXPECT_EQ(expected.setup, setup);
        EXPECT_EQ(expected.uninstall, uninstall);
        EXPECT_EQ(expected.silent, options.Silent);
        EXPECT_EQ(expected.msi, options.Msi);
        EXPECT_EQ(expected.noExplorer, options.NoExplorer);
        size_t length = wcsnlen(options.InitText, 40);
        ASSERT_LT(length, 40u);
        EXPECT_TRUE(expected.initText == std::wstring(options.InitText, length));
        uninstalls += uninstall ? 1 : 0;
        if (HasFailure())
            return;
    }
    GetCommandOptions() = CommandOptions();
    EXPECT_GT(uninstalls, 100);
}

}  // namespace
