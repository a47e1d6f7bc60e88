// Randomised language files: whatever the bytes, the parser neither crashes nor
// overruns, and the table it builds is exactly the one the file's text
// describes. That description is a second, line-by-line reading of the format,
// written here independently of the parser's character walk.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>

#include "common/localization/language_file.h"
#include "tests/support/robust_support.h"
#include "tests/support/test_support.h"

using namespace testsupport;

namespace {

constexpr size_t kKeyBytes = 49;
constexpr size_t kBuildBytes = 99;
constexpr size_t kNameChars = 99;
constexpr size_t kValueChars = 65536;
constexpr size_t kTextChars = 1048576;
constexpr size_t kReadBytes = 2097152;
const char kMarker[] = "***messages**";

struct ExpectedTable {
    bool rightToLeft = false;
    std::multimap<std::string, std::wstring> entries;
};

bool WideMarkerAt(const std::string& file, size_t p)
{
    for (size_t k = 0; k < 13; k++) {
        if (file[p + 2 * k] != kMarker[k] || file[p + 2 * k + 1] != 0)
            return false;
    }
    return true;
}

// The text from the marker on, as the file's encoding gives it; false when the
// file holds no marker. (Test files stay far below the searched two megabytes.)
bool TextFromMarker(const std::string& file, std::wstring& text)
{
    for (size_t p = 0; p + 16 <= file.size(); p++) {
        bool ansi = file.compare(p, 13, kMarker) == 0;
        bool wide = !ansi && p + 32 <= file.size() && WideMarkerAt(file, p);
        if (!ansi && !wide)
            continue;
        std::string bytes = file.substr(p, kReadBytes);
        if (wide) {
            text.assign(bytes.size() / 2, L'\0');
            for (size_t u = 0; u < text.size(); u++)
                text[u] = static_cast<wchar_t>(static_cast<uint8_t>(bytes[2 * u]) |
                                               static_cast<uint8_t>(bytes[2 * u + 1]) << 8);
        } else {
            text = WideFromAnsiBytes(bytes.substr(0, bytes.find('\0')));
        }
        if (text.size() > kTextChars)
            text.resize(kTextChars);
        text.resize(text.find(L'\0') == std::wstring::npos ? text.size() : text.find(L'\0'));
        return true;
    }
    return false;
}

bool AnsiName(const std::wstring& name, std::string& ansi)
{
    char buffer[kNameChars * 3 + 1];
    if (WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, buffer, sizeof buffer, nullptr, nullptr) <= 0)
        return false;
    ansi = buffer;
    return true;
}

std::wstring ResolveValue(const std::wstring& raw)
{
    std::wstring value;
    for (size_t i = 0; i < raw.size(); i++) {
        wchar_t c = raw[i];
        if (c == L'\\' && i + 1 < raw.size()) {
            const wchar_t* escapes = L"\"\\nrt";
            const wchar_t* meanings = L"\"\\\n\r\t";
            const wchar_t* found = wcschr(escapes, raw[i + 1]);
            if (found != nullptr && raw[i + 1] != 0) {
                c = meanings[found - escapes];
                i++;
            }
        }
        value += c;
    }
    if (value.size() > kValueChars)
        value.resize(kValueChars);
    size_t end = value.find_last_not_of(L" \t");
    end = end == std::wstring::npos ? 0 : end + 1;
    if (end > 0 && value[end - 1] == L'"')
        end--;
    size_t start = end > 0 && value[0] == L'"' ? 1 : 0;
    return value.substr(start, end - start);
}

void ReadLine(const std::wstring& line, std::string& group, ExpectedTable& table)
{
    if (line.empty())
        return;
    if (line[0] == L':') {
        static const wchar_t* const kWords[] = {L"STRINGS", L"DIALOG", L"MENU", L"DIRECTION"};
        for (int w = 0; w < 4; w++) {
            size_t length = wcslen(kWords[w]);
            if (line.compare(1, length, kWords[w]) != 0 || (line.size() > length + 1 && line[length + 1] > L' '))
                continue;
            size_t p = line.find_first_not_of(L" \t", length + 1);
            std::wstring argument;
            while (p < line.size() && line[p] > L' ' && argument.size() < kNameChars)
                argument += line[p++];
            std::string name;
            if (w == 0)
                group = "s:";
            else if (w == 3)
                table.rightToLeft = argument == L"RTL";
            else
                group = ((w == 1 ? "$" : "@") + (AnsiName(argument, name) ? name : "") + ":").substr(0, kBuildBytes);
            return;
        }
        return;
    }
    if (!((line[0] >= L'A' && line[0] <= L'Z') || (line[0] >= L'a' && line[0] <= L'z')))
        return;
    size_t separator = line.find_first_of(L" \t,");
    std::string name;
    if (separator >= kNameChars || !AnsiName(line.substr(0, separator), name))
        return;
    size_t valueStart = line.find_first_not_of(L" \t", separator + 1);
    std::wstring raw = valueStart == std::wstring::npos ? L"" : line.substr(valueStart);
    table.entries.emplace((group + name).substr(0, kBuildBytes).substr(0, kKeyBytes), ResolveValue(raw));
}

ExpectedTable ExpectedFrom(const std::string& file)
{
    ExpectedTable table;
    std::wstring text;
    if (!TextFromMarker(file, text))
        return table;
    std::string group = "s:";
    // Each CR and each LF ends a line; the marker's own line is never read.
    size_t end = text.find_first_of(L"\r\n");
    while (end != std::wstring::npos) {
        size_t begin = end + 1;
        end = text.find_first_of(L"\r\n", begin);
        ReadLine(text.substr(begin, end == std::wstring::npos ? std::wstring::npos : end - begin), group, table);
    }
    return table;
}

// Pieces that reach every branch of the format, and some that belong to none.
std::wstring RandomName(Random& random)
{
    static const wchar_t* const kFirst[] = {L"I", L"s", L"Z", L"a", L"_", L"1", L"\u00c9", L" ", L"\t", L":"};
    static const wchar_t* const kRest[] = {L"D", L"S", L"_", L"x", L"9", L"\u00e9", L"\u0100", L"\u4e2d", L";", L"."};
    std::wstring name = random.Percent(85) ? L"IDS" : random.Pick(kFirst);
    size_t length = random.Percent(8) ? 90 + random.Below(20) : random.Below(12);
    while (name.size() < length)
        name += random.Pick(kRest);
    return name;
}

std::wstring RandomValue(Random& random)
{
    static const std::wstring kPieces[] = {
        L"text", L" ", L"\t", L",", L"\"", L"\\\"", L"\\\\", L"\\n", L"\\r", L"\\t", L"\\x", L"\\", L"C:\\dir",
        L"\u00e9", L"\u0100", L"\u4e2d", std::wstring(1, wchar_t(0xD800)), std::wstring(1, wchar_t(0xDC00)),
        L"\uffff", L"\u0001", L"%s", L"***messages**",
    };
    std::wstring value;
    if (random.Below(400) == 0)
        value.assign(kValueChars - 3 + random.Below(8), L'v');
    for (uint32_t n = random.Below(9); n > 0; n--)
        value += random.Pick(kPieces);
    return value;
}

std::wstring RandomLine(Random& random)
{
    static const wchar_t* const kSeparators[] = {L" ", L"\t", L",", L",,", L" \t ", L""};
    static const wchar_t* const kDirectives[] = {L":STRINGS", L":DIALOG ", L":MENU\t", L":DIRECTION ", L":DIALOGX ",
                                                 L": STRINGS", L":STRINGSX", L":DIRECTION"};
    static const wchar_t* const kDirections[] = {L"RTL", L"LTR", L"rtl", L"RTLX", L"", L" RTL"};
    switch (random.Below(10)) {
    case 0: {
        std::wstring line = random.Pick(kDirectives);
        if (line.find(L"DIRECTION") != std::wstring::npos)
            return line + random.Pick(kDirections) + (random.Percent(30) ? L" trailing" : L"");
        return line + RandomName(random) + (random.Percent(20) ? L" more" : L"");
    }
    case 1:
        return random.Percent(50) ? L"; comment" : L" IDS_INDENTED value";
    case 2:
        return RandomName(random);
    default:
        return RandomName(random) + random.Pick(kSeparators) + RandomValue(random);
    }
}

std::string RandomLanguageFile(Random& random)
{
    static const wchar_t* const kLineEnds[] = {L"\r\n", L"\n", L"\r", L"\r\r\n", L"\n\n"};
    static const char* const kMarkers[] = {"***messages**", "***messages***", "***messages**\tx", "***messages*", ""};
    std::wstring text;
    uint32_t lines = random.Below(40);
    for (uint32_t n = 0; n < lines; n++) {
        text += RandomLine(random);
        if (n + 1 < lines || random.Percent(70))
            text += random.Pick(kLineEnds);
    }
    bool wide = random.Percent(40);
    std::string prefix = random.Percent(50) ? random.Bytes(random.Below(64)) : std::string();
    std::string marker = random.Pick(kMarkers);
    std::string body;
    if (wide) {
        body = Utf16LeBytes(std::wstring(marker.begin(), marker.end()) + random.Pick(kLineEnds) + text);
        if (random.Percent(50))
            prefix.insert(0, "\xFF\xFE");
        if (random.Percent(10))
            body += static_cast<char>(random.Below(256));
    } else {
        body = marker + AnsiBytes(random.Pick(kLineEnds) + text);
    }
    std::string file = prefix + body;
    // Damage: bytes that are line ends, NULs, escapes, or anything.
    if (random.Percent(30) && !file.empty()) {
        static const char kDamage[] = {'\0', '\r', '\n', '\\', '"', ':', ' ', '\x80', '\xff'};
        for (uint32_t n = 1 + random.Below(5); n > 0; n--)
            file[random.Below(static_cast<uint32_t>(file.size()))] =
                random.Percent(50) ? random.Pick(kDamage) : static_cast<char>(random.Below(256));
    }
    if (random.Percent(5) && !file.empty())
        file.resize(random.Below(static_cast<uint32_t>(file.size())));
    return file;
}

class RobustLanguageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DestroyLanguageTable();
        folder_ = MakeScratchFolder(L"robust-language");
        path_ = folder_ + L"\\uninstall.lng";
    }
    void TearDown() override
    {
        DestroyLanguageTable();
        RemoveTree(folder_);
    }

    void Load(const std::string& bytes)
    {
        DestroyLanguageTable();
        ASSERT_TRUE(WriteBytes(path_, bytes));
        LoadLanguageFile(path_.c_str());
    }

    // The table holds exactly the expected entries: each key is found with one of
    // its texts, cut and terminated within any capacity, and no other key is found.
    void ExpectTable(const ExpectedTable& expected, Random& random)
    {
        ASSERT_EQ(expected.entries.size(), LanguageEntryCount());
        EXPECT_EQ(expected.rightToLeft, RightToLeft());
        const size_t smallCapacity = 1 + random.Below(8);
        GuardedMemory whole((kValueChars + 1) * sizeof(wchar_t));
        GuardedMemory small(smallCapacity * sizeof(wchar_t));
        for (auto it = expected.entries.begin(); it != expected.entries.end();
             it = expected.entries.upper_bound(it->first)) {
            const std::string& key = it->first;
            ASSERT_TRUE(FindText(key.c_str(), whole.Wide(), kValueChars + 1)) << "key " << key;
            size_t length = wcsnlen(whole.Wide(), kValueChars + 1);
            ASSERT_LT(length, kValueChars + 1);
            std::wstring text(whole.Wide(), length);
            bool known = false;
            for (auto same = it; same != expected.entries.end() && same->first == key; ++same)
                known = known || same->second == text;
            EXPECT_TRUE(known) << "key " << key << " has a text the file does not give it";

            ASSERT_TRUE(FindText(key.c_str(), small.Wide(), smallCapacity));
            size_t cut = wcsnlen(small.Wide(), smallCapacity);
            ASSERT_LT(cut, smallCapacity);
            EXPECT_EQ(text.substr(0, smallCapacity - 1), std::wstring(small.Wide(), cut));

            std::string longer = key + "x";
            std::string shorter = key.substr(0, key.size() - 1);
            std::string otherCase = key;
            otherCase.back() = static_cast<char>(otherCase.back() ^ 0x20);
            for (const std::string& probe : {longer, shorter, otherCase}) {
                if (expected.entries.count(probe) == 0) {
                    EXPECT_FALSE(FindText(probe.c_str(), whole.Wide(), kValueChars + 1)) << "probe " << probe;
                }
            }
        }
    }

    std::wstring folder_;
    std::wstring path_;
};

TEST_F(RobustLanguageTest, RandomFilesGiveExactlyTheTableTheirTextDescribes)
{
    Random random(0x1a4c0de);
    const int iterations = 160;
    int withEntries = 0;
    for (int iteration = 0; iteration < iterations; iteration++) {
        SCOPED_TRACE("iteration " + std::to_string(iteration));
        std::string file = RandomLanguageFile(random);
        Load(file);
        ExpectedTable expected = ExpectedFrom(file);
        withEntries += expected.entries.empty() ? 0 : 1;
        ExpectTable(expected, random);
        if (HasFailure())
            return;
    }
    // The inputs must reach the parser's entries, not only its refusals.
    EXPECT_GT(withEntries, iterations / 2);
}

TEST_F(RobustLanguageTest, RandomBytesAfterTheMarker)
{
    Random random(0xb17e5);
    for (int iteration = 0; iteration < 100; iteration++) {
        SCOPED_TRACE("iteration " + std::to_string(iteration));
        bool wide = random.Percent(50);
        std::string file = wide ? Utf16LeBytes(L"***messages**\n") : std::string("***messages**\n");
        file += random.Bytes(random.Below(4096));
        Load(file);
        ExpectTable(ExpectedFrom(file), random);
        if (HasFailure())
            return;
    }
}

// Three megabytes without a line end: read up to the two-megabyte limit, the
// one line is one value cut to its limit, in either encoding; without a marker,
// nothing. A line of a megabyte in the middle leaves the lines after it intact.
// Run on their own (see robust.cmake): the heap they leave behind would make
// every later heap check slow.
using LanguageLargeInputs = RobustLanguageTest;

TEST_F(LanguageLargeInputs, HugeLinesAndFilesWithoutLineEnds)
{
    Random random(0x3b);
    std::wstring pattern;
    while (pattern.size() < 3 * 1024 * 1024)
        pattern += L"abc\\n\\\\ \"x\u00e9,\t";
    pattern.resize(3 * 1024 * 1024);

    const std::wstring oneLine = L"***messages**\nIDS_BIG " + pattern;
    for (bool wide : {false, true}) {
        std::string file = wide ? "\xFF\xFE" + Utf16LeBytes(oneLine) : AnsiBytes(oneLine);
        Load(file);
        ExpectedTable expected = ExpectedFrom(file);
        ASSERT_EQ(1u, expected.entries.size());
        EXPECT_EQ(kValueChars, expected.entries.begin()->second.size());
        ExpectTable(expected, random);
    }

    // The marker's own line, three megabytes long: nothing after it is a line.
    Load(AnsiBytes(L"***messages** " + pattern));
    EXPECT_EQ(0u, LanguageEntryCount());

    std::string noMarker = random.Bytes(3 * 1024 * 1024);
    for (char& c : noMarker)
        c = c == '\r' || c == '\n' || c == '*' ? 'x' : c;
    Load(noMarker);
    EXPECT_EQ(0u, LanguageEntryCount());

    const std::wstring middle = L"***messages**\r\nIDS_A " + pattern.substr(0, 1000000) + L"\r\nIDS_B after\r\n";
    for (bool wide : {false, true}) {
        std::string file = wide ? "\xFF\xFE" + Utf16LeBytes(middle) : AnsiBytes(middle);
        Load(file);
        ExpectedTable expected = ExpectedFrom(file);
        ASSERT_EQ(2u, expected.entries.size());
        ExpectTable(expected, random);
        wchar_t text[16];
        ASSERT_TRUE(FindText("s:IDS_B", text, 16));
        EXPECT_STREQ(L"after", text);
    }
}

// A folder where the language file should be is no language file.
TEST_F(RobustLanguageTest, AFolderInPlaceOfTheFileGivesAnEmptyTable)
{
    ASSERT_TRUE(CreateDirectoryW(path_.c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(path_ + L"\\inside", "***messages**\nIDS_X x\n"));
    LoadLanguageFile(path_.c_str());
    EXPECT_EQ(0u, LanguageEntryCount());
    std::string inside;
    ASSERT_TRUE(ReadBytes(path_ + L"\\inside", inside));
    EXPECT_EQ("***messages**\nIDS_X x\n", inside);
}

}  // namespace
