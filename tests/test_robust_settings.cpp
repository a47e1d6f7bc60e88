// Randomised text files and settings files: the reader gives exactly the lines a
// second, independent reading of the format gives, the decoding functions stay
// inside their buffers to the byte, and a settings file of any content is either
// left alone or written back as the sorted, normalised list its lines describe.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/settings/settings_file.h"
#include "common/settings/settings_store.h"
#include "common/settings/text_file.h"
#include "tests/support/registry_support.h"
#include "tests/support/robust_support.h"
#include "tests/support/settings_support.h"
#include "tests/support/test_support.h"

using namespace testsupport;

namespace {

// ---- The reading of a text file, step by step as the format describes it.

bool ValidUtf8(const std::string& b, size_t from)
{
    size_t i = from;
    while (i < b.size()) {
        unsigned lead = static_cast<uint8_t>(b[i++]);
        int ones = 0;
        while (ones < 8 && (lead & (0x80u >> ones)))
            ones++;
        if (ones == 1 || ones > 6)
            return false;
        for (int k = 1; k < ones; k++, i++) {
            if (i >= b.size() || (static_cast<uint8_t>(b[i]) & 0xC0) != 0x80)
                return false;
        }
    }
    return true;
}

uint32_t Detect(const std::string& b)
{
    auto at = [&](size_t i) { return static_cast<uint8_t>(b[i]); };
    size_t n = b.size();
    if (n >= 4 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF && ValidUtf8(b, 3))
        return 4;
    size_t first;
    if (n >= 3 && at(0) == 0xFF && at(1) == 0xFE)
        first = 3;
    else if (n >= 3 && at(0) == 0xFE && at(1) == 0xFF)
        first = 2;
    else
        return 0;
    for (size_t i = first; i < n; i += 2) {
        if (at(i) < 0x20 && at(i) != 0x0A && at(i) != 0x0D)
            return 3;
    }
    return 0;
}

// Decodes from `from` up to a zero byte into at most capacity - 1 units; false
// when a sequence was malformed or named no code point.
bool DecodeUtf8(const std::string& b, size_t from, size_t capacity, std::wstring& out)
{
    out.clear();
    bool result = true;
    size_t i = from;
    auto at = [&](size_t k) -> uint32_t { return k < b.size() ? static_cast<uint8_t>(b[k]) : 0; };
    while (at(i) != 0 && out.size() + 1 < capacity) {
        uint32_t lead = at(i);
        int more = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : -1;
        if (more < 0)
            return false;
        uint32_t cp = more == 0 ? lead : lead & (0x3F >> more);
        for (int k = 1; k <= more; k++) {
            if ((at(i + k) & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (at(i + k) & 0x3F);
        }
        i += 1 + more;
        if (cp <= 0xFFFF) {
            out += static_cast<wchar_t>(cp);
        } else if (cp <= 0x10FFFF) {
            if (capacity - 1 - out.size() < 2)
                break;
            out += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        } else {
            result = false;
        }
    }
    return result;
}

bool NothingAfterFirstZero(const std::string& b, size_t from)
{
    size_t zero = b.find('\0', from);
    return zero == std::string::npos || b.find_first_not_of('\0', zero) == std::string::npos;
}

std::vector<std::wstring> SplitLines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    size_t p = 0;
    while (p < text.size()) {
        size_t end = text.find_first_of(L"\r\n", p);
        std::wstring line = text.substr(p, end == std::wstring::npos ? std::wstring::npos : end - p);
        size_t last = line.find_last_not_of(L" \t");
        line.resize(last == std::wstring::npos ? 0 : last + 1);
        if (!line.empty())
            lines.push_back(line);
        if (end == std::wstring::npos)
            break;
        p = text.find_first_not_of(L"\r\n", end);
        if (p == std::wstring::npos)
            break;
    }
    return lines;
}

struct ExpectedRead {
    std::vector<std::wstring> lines;
    bool whole = true;
};

ExpectedRead ReadAsTheFormatSays(const std::string& b)
{
    ExpectedRead read;
    std::wstring text;
    switch (Detect(b)) {
    case 3: {
        bool big = static_cast<uint8_t>(b[0]) == 0xFE;
        for (size_t i = 2; i + 1 < b.size(); i += 2) {
            uint8_t first = static_cast<uint8_t>(b[i]);
            uint8_t second = static_cast<uint8_t>(b[i + 1]);
            text += static_cast<wchar_t>(big ? (first << 8 | second) : (second << 8 | first));
        }
        size_t zero = text.find(L'\0');
        read.whole = (zero == std::wstring::npos || text.find_first_not_of(L'\0', zero) == std::wstring::npos) &&
                     (b.size() % 2 == 0 || b.back() == 0);
        if (zero != std::wstring::npos)
            text.resize(zero);
        break;
    }
    case 4:
        read.whole = DecodeUtf8(b, 3, b.size() + 1, text) && NothingAfterFirstZero(b, 3);
        break;
    default:
        if (b.size() > 3 && b.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            // Marked UTF-8 with a malformed sequence: the lines before the one it cuts.
            DecodeUtf8(b, 3, b.size() + 1, text);
            size_t lastBreak = text.find_last_of(L"\r\n");
            text.resize(lastBreak == std::wstring::npos ? 0 : lastBreak + 1);
            read.whole = false;
            break;
        }
        read.whole = NothingAfterFirstZero(b, 0);
        text = WideFromAnsiBytes(b.substr(0, b.find('\0')));
        break;
    }
    read.lines = SplitLines(text);
    return read;
}

// ---- Random inputs.

std::wstring RandomLineText(Random& random, size_t pieces)
{
    static const std::wstring kPieces[] = {
        L"word", L"x", L" ", L"\t", L"\r", L"\n", L"\r\n", L"\r\n\r\n", L"\n\r", L"=", L"\"", L"\u00e9", L"\u4e2d",
        L"\u0001", L"\u001f", std::wstring(1, wchar_t(0xD800)), std::wstring(1, wchar_t(0xDFFF)), L"\uffff",
        L"\U0001F600", L" \t ",
    };
    std::wstring text;
    for (size_t n = 0; n < pieces; n++)
        text += random.Pick(kPieces);
    return text;
}

std::string Utf16Be(const std::wstring& text)
{
    std::string bytes;
    for (wchar_t c : text) {
        bytes += static_cast<char>(c >> 8);
        bytes += static_cast<char>(c & 0xFF);
    }
    return bytes;
}

std::string RandomTextFile(Random& random)
{
    static const std::string kSmall[] = {"", "x", "\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF", "\xEF\xBB\xBFx",
                                         std::string("\xFF\xFE\x00", 3), "\xFE\xFF\x0A", "\xFF\xFEx\x01y"};
    static const char* const kUtf8Damage[] = {"\xF8\x88\x80\x80\x80", "\xF4\x90\x80\x80", "\xC3", "\x80", "\xFF",
                                              "\xED\xA0\x80", "\xC0\xAF"};
    std::string file;
    switch (random.Below(7)) {
    case 0:
        file = random.Bytes(random.Below(3000));
        break;
    case 1:
        file = "\xFF\xFE" + Utf16LeBytes(RandomLineText(random, random.Below(200)));
        break;
    case 2:
        file = "\xFE\xFF" + Utf16Be(RandomLineText(random, random.Below(200)));
        break;
    case 3: {
        file = "\xEF\xBB\xBF" + Utf8Bytes(RandomLineText(random, random.Below(200)));
        if (random.Percent(40))
            file.insert(3 + random.Below(static_cast<uint32_t>(file.size() - 2)), random.Pick(kUtf8Damage));
        break;
    }
    case 4:
        file = AnsiBytes(RandomLineText(random, random.Below(200)));
        break;
    case 5:
        file = random.Pick(kSmall);
        break;
    default:
        file = Utf16LeBytes(RandomLineText(random, random.Below(200)));
        break;
    }
    if (random.Percent(10))
        file.append(1 + random.Below(5), '\0');
    if (random.Percent(5))
        file += std::string(1, '\0') + "after";
    if (random.Percent(5) && !file.empty())
        file.pop_back();
    return file;
}

class RobustTextFileTest : public ::testing::Test {
protected:
    void SetUp() override { folder_ = MakeScratchFolder(L"robust-text"); }
    void TearDown() override { RemoveTree(folder_); }
    std::wstring folder_;
};

TEST_F(RobustTextFileTest, RandomFilesGiveTheLinesTheirEncodingDescribes)
{
    Random random(0x7e47);
    const std::wstring path = folder_ + L"\\random.txt";
    for (int iteration = 0; iteration < 400; iteration++) {
        SCOPED_TRACE("iteration " + std::to_string(iteration));
        std::string file = RandomTextFile(random);
        ASSERT_TRUE(WriteBytes(path, file));
        StringList lines;
        bool whole = false;
        ASSERT_TRUE(ReadTextFile(path.c_str(), lines, &whole));
        ExpectedRead expected = ReadAsTheFormatSays(file);
        std::vector<std::wstring> got;
        const wchar_t* line;
        while (lines.Next(line))
            got.push_back(line);
        EXPECT_EQ(expected.lines.size(), lines.StringCount());
        EXPECT_TRUE(expected.lines == got) << "lines differ, " << expected.lines.size() << " expected, "
                                           << got.size() << " read";
        EXPECT_EQ(expected.whole, whole);
        if (HasFailure())
            return;
    }
}

// Lines of a megabyte, with and without a line end after them, in each encoding.
using TextLargeInputs = RobustTextFileTest;

TEST_F(TextLargeInputs, MegabyteLinesAreReadWhole)
{
    const std::wstring path = folder_ + L"\\long.txt";
    const std::wstring longLine(1024 * 1024, L'm');
    for (const std::wstring& text : {L"first\r\n" + longLine + L" \t\r\nlast", L"first\n" + longLine}) {
        for (const std::string& file : {"\xFF\xFE" + Utf16LeBytes(text), "\xEF\xBB\xBF" + Utf8Bytes(text), AnsiBytes(text)}) {
            ASSERT_TRUE(WriteBytes(path, file));
            StringList lines;
            bool whole = false;
            ASSERT_TRUE(ReadTextFile(path.c_str(), lines, &whole));
            EXPECT_TRUE(whole);
            const wchar_t* line = nullptr;
            ASSERT_TRUE(lines.Next(line) && lines.Next(line));
            EXPECT_TRUE(longLine == line);
            EXPECT_EQ(ReadAsTheFormatSays(file).lines.size(), lines.StringCount());
        }
    }
}

// Each function gets exactly the bytes it is told of, flush against an
// inaccessible page, and an output buffer of exactly its capacity.
TEST_F(RobustTextFileTest, DecodersStayInsideTheirBuffersToTheByte)
{
    Random random(0xdec0de);
    for (int iteration = 0; iteration < 3000; iteration++) {
        SCOPED_TRACE("iteration " + std::to_string(iteration));
        std::string bytes = random.Percent(50) ? random.Bytes(random.Below(40))
                                               : Utf8Bytes(RandomLineText(random, random.Below(12)));
        if (random.Percent(30))
            bytes.insert(0, random.Percent(50) ? "\xEF\xBB\xBF" : random.Percent(50) ? "\xFF\xFE" : "\xFE\xFF");
        GuardedMemory exact(bytes.size());
        memcpy(exact.Data(), bytes.data(), bytes.size());
        EXPECT_EQ(ValidUtf8(bytes, 0), IsValidUtf8(exact.Bytes(), bytes.size()));
        EXPECT_EQ(Detect(bytes), static_cast<uint32_t>(DetectTextEncoding(exact.Bytes(), bytes.size())));

        // Utf8ToWide reads up to a zero byte: the terminator is the last byte there is.
        std::string terminated = bytes.substr(0, bytes.find('\0')) + '\0';
        GuardedMemory input(terminated.size());
        memcpy(input.Data(), terminated.data(), terminated.size());
        size_t capacity = random.Below(24);
        GuardedMemory output(capacity * sizeof(wchar_t));
        std::wstring expected;
        bool expectedResult = capacity > 0 && DecodeUtf8(terminated, 0, capacity, expected);
        EXPECT_EQ(expectedResult, Utf8ToWide(input.Bytes(), output.Wide(), capacity));
        if (capacity > 0) {
            size_t length = wcsnlen(output.Wide(), capacity);
            ASSERT_LT(length, capacity);
            EXPECT_TRUE(expected == std::wstring(output.Wide(), length));
        }
        if (HasFailure())
            return;
    }
}

// ---- The settings file: what its lines say, and what a save must write.

struct Entry {
    std::wstring name;
    std::wstring value;
    int kind;  // 0 plain, 1 quoted, 2 binary
};

std::vector<Entry> EntriesOf(const std::vector<std::wstring>& lines)
{
    std::vector<Entry> entries;
    for (const std::wstring& line : lines) {
        wchar_t first = line[0];
        size_t equals = line.find(L'=');
        if (!((first >= L'A' && first <= L'Z') || (first >= L'a' && first <= L'z')) || equals == std::wstring::npos)
            continue;
        std::wstring value = line.substr(equals + 1);
        int kind = 0;
        if (!value.empty() && value[0] == L'"') {
            kind = 1;
            value.erase(0, 1);
            if (!value.empty() && value.back() == L'"')
                value.pop_back();
        } else if (value.compare(0, 4, L"bin:") == 0) {
            kind = 2;
            value.erase(0, 4);
        }
        entries.push_back({line.substr(0, equals), value, kind});
    }
    return entries;
}

int32_t FlagNumber(const std::wstring& text)
{
    size_t i = text.size() > 0 && text[0] == L'-' ? 1 : 0;
    uint64_t n = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; i++)
        n = n * 10 + (text[i] - L'0');
    if (!text.empty() && text[0] == L'-')
        n = 0 - n;
    return static_cast<int32_t>(static_cast<uint32_t>(n));
}

std::wstring LineOf(const Entry& e)
{
    return e.name + L"=" + (e.kind == 1 ? L"\"" + e.value + L"\"" : e.kind == 2 ? L"bin:" + e.value : e.value);
}

struct ExpectedSettings {
    bool saved;
    bool integration;
    std::vector<std::wstring> lines;  // sorted, when saved
};

ExpectedSettings SettingsAfterExit(const std::string& file)
{
    ExpectedRead read = ReadAsTheFormatSays(file);
    std::vector<Entry> entries = EntriesOf(read.lines);
    bool flags[3];
    static const wchar_t* const kFlags[] = {L"Global\\AppData", L"Global\\Integration", L"Global\\SaveSettings"};
    for (int f = 0; f < 3; f++) {
        flags[f] = true;
        for (const Entry& e : entries) {
            if (e.name == kFlags[f]) {
                flags[f] = FlagNumber(e.value) != 0;
                break;
            }
        }
    }
    for (int f = 0; f < 3; f++) {
        auto found = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.name == kFlags[f]; });
        if (found != entries.end())
            *found = {kFlags[f], flags[f] ? L"1" : L"0", 0};
        else
            entries.push_back({kFlags[f], flags[f] ? L"1" : L"0", 0});
    }
    ExpectedSettings expected;
    expected.saved = read.whole && flags[2];
    expected.integration = flags[1];
    for (const Entry& e : entries)
        expected.lines.push_back(LineOf(e));
    std::sort(expected.lines.begin(), expected.lines.end());
    return expected;
}

std::wstring RandomSettingsLine(Random& random)
{
    static const wchar_t* const kNames[] = {
        L"Global\\AppData", L"Global\\Integration", L"Global\\SaveSettings", L"HKCU\\Setup\\MenuItems\\AlwaysArc",
        L"HKLM\\Setup\\", L"HKCU\\T\\V ", L"Zz", L"a", L"[Section]", L";comment", L" indented", L"1digit",
        L"\u00e9t\u00e9", L"HKCU\\\u4e2d",
    };
    static const wchar_t* const kValues[] = {
        L"0", L"1", L"2", L"-1", L"4294967296", L"4294967297", L"99999999999999999999999", L"abc", L"\"quoted\"",
        L"\"", L"\"\"", L"\"in\"side\"", L"bin:00ff", L"bin:", L"BIN:x", L" lead", L"trail  ", L"a=b", L"",
        L"\"open", L"\u00e9\u4e2d",
    };
    std::wstring line = random.Pick(kNames);
    if (random.Percent(90))
        line += L"=";
    return line + random.Pick(kValues);
}

std::string RandomSettingsFile(Random& random)
{
    static const wchar_t* const kLineEnds[] = {L"\r\n", L"\n", L"\r", L"\r\n\r\n", L" \t\r\n"};
    std::wstring text;
    for (uint32_t n = random.Below(30); n > 0; n--)
        text += RandomSettingsLine(random) + random.Pick(kLineEnds);
    if (random.Percent(20))
        text += RandomSettingsLine(random);
    if (random.Percent(5))
        text += L'\0' + RandomSettingsLine(random);
    switch (random.Below(5)) {
    case 0:
        return "\xFE\xFF" + Utf16Be(text);
    case 1:
        return "\xEF\xBB\xBF" + Utf8Bytes(text);
    case 2:
        return AnsiBytes(text);
    default:
        return "\xFF\xFE" + Utf16LeBytes(text);
    }
}

// The saved file: UTF-16LE with its mark, every line ended by CR LF, the lines in
// order of their names. Answers the lines.
std::vector<std::wstring> SavedLines(const std::string& bytes)
{
    std::vector<std::wstring> lines;
    EXPECT_EQ(0u, bytes.size() % 2);
    EXPECT_EQ(0, bytes.compare(0, 2, "\xFF\xFE"));
    std::wstring text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<wchar_t>(static_cast<uint8_t>(bytes[i + 1]) << 8 | static_cast<uint8_t>(bytes[i]));
    size_t p = 0;
    while (p < text.size()) {
        size_t end = text.find(L"\r\n", p);
        EXPECT_NE(std::wstring::npos, end) << "last line without CR LF";
        if (end == std::wstring::npos)
            break;
        lines.push_back(text.substr(p, end - p));
        p = end + 2;
    }
    for (size_t i = 1; i < lines.size(); i++) {
        std::wstring before = lines[i - 1].substr(0, lines[i - 1].find(L'='));
        std::wstring after = lines[i].substr(0, lines[i].find(L'='));
        EXPECT_LE(before, after) << "lines out of order";
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

bool HasDuplicateNames(const std::vector<std::wstring>& sortedLines)
{
    for (size_t i = 1; i < sortedLines.size(); i++) {
        if (sortedLines[i - 1].substr(0, sortedLines[i - 1].find(L'=')) ==
            sortedLines[i].substr(0, sortedLines[i].find(L'=')))
            return true;
    }
    return false;
}

class RobustSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(AppDataSettingsFolder().empty());
        FreeSettingsFile();
        file_.Clean();
    }
    void TearDown() override
    {
        FreeSettingsFile();
        file_.Clean();
        DeleteTree(HKEY_CURRENT_USER, L"Software\\Zorvex");
    }

    std::string ExitWith(const std::string& bytes)
    {
        EXPECT_TRUE(WriteBytes(file_.Path(), bytes));
        FreeSettingsFile();
        LoadSettingsFile();
        integration_ = IntegrationAllowed();
        SettingsExitCleanup();
        std::string after;
        EXPECT_TRUE(ReadBytes(file_.Path(), after));
        return after;
    }

    AppDataSettingsFile file_;
    bool integration_ = true;
};

TEST_F(RobustSettingsTest, AnyFileIsLeftAloneOrWrittenBackAsItsLinesSay)
{
    Random random(0x5e7);
    const int iterations = 120;
    int saved = 0;
    for (int iteration = 0; iteration < iterations; iteration++) {
        SCOPED_TRACE("iteration " + std::to_string(iteration));
        std::string file = RandomSettingsFile(random);
        ExpectedSettings expected = SettingsAfterExit(file);
        std::string after = ExitWith(file);
        EXPECT_EQ(expected.integration, integration_);
        if (!expected.saved) {
            EXPECT_TRUE(file == after) << "a file that must not be saved changed";
        } else {
            saved++;
            std::vector<std::wstring> lines = SavedLines(after);
            EXPECT_TRUE(expected.lines == lines) << expected.lines.size() << " lines expected, " << lines.size()
                                                 << " written";
            // What was written reads back as itself. (Of several lines with one name
            // the first counts, and the save leaves their order open: only files
            // without such lines are sure to come back unchanged.)
            if (!HasDuplicateNames(lines)) {
                std::string again = ExitWith(after);
                EXPECT_TRUE(lines == SavedLines(again));
            }
        }
        EXPECT_FALSE(Exists(file_.Path() + L".tmp"));
        if (HasFailure())
            return;
    }
    // Most inputs must reach the save, not only the refusals.
    EXPECT_GT(saved, iterations / 2);
}

// Zorvex.ini as a folder, in both places the store looks: no settings file, the
// registry serves, and the folders and what they hold stay as they were.
TEST_F(RobustSettingsTest, ASettingsFileThatIsAFolderIsNoSettingsFile)
{
    const std::wstring folders[] = {file_.Path(), SettingsFileBesideProgram()};
    for (const std::wstring& folder : folders) {
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(folder + L"\\inside", "HKCU\\T\\V=\"folder\"\r\n"));
    }
    TreeSnapshot before[] = {SnapshotTree(folders[0]), SnapshotTree(folders[1])};

    FreeSettingsFile();
    EXPECT_EQ(0, WriteUserString(L"RobustT", L"V", L"registry"));
    wchar_t text[32];
    ReadUserString(L"RobustT", L"V", text, L"<default>", 32);
    EXPECT_STREQ(L"registry", text);
    EXPECT_TRUE(HasKey(HKEY_CURRENT_USER, L"Software\\Zorvex\\RobustT"));
    EXPECT_FALSE(SaveSettingsFile());
    SettingsExitCleanup();

    for (int i = 0; i < 2; i++) {
        DWORD attributes = GetFileAttributesW(folders[i].c_str());
        EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
        EXPECT_EQ(L"", DescribeTreeChange(before[i], SnapshotTree(folders[i])));
        EXPECT_FALSE(Exists(folders[i] + L".tmp"));
    }
}

// The save's temporary name taken by a folder: the save goes through an
// unpredictable name beside it, and the folder stays as it is.
TEST_F(RobustSettingsTest, AFolderInTheWayOfTheSaveIsLeftAloneAndTheSaveStillMade)
{
    const std::string old = "\xFF\xFE" + Utf16LeBytes(L"Global\\AppData=1\r\nHKCU\\T\\V=\"old\"\r\n");
    ASSERT_TRUE(WriteBytes(file_.Path(), old));
    const std::wstring temp = file_.Path() + L".tmp";
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(temp + L"\\inside", "kept"));
    TreeSnapshot before = SnapshotTree(temp);

    FreeSettingsFile();
    EXPECT_EQ(0, WriteUserString(L"T", L"V", L"new"));
    EXPECT_TRUE(SaveSettingsFile());
    SettingsExitCleanup();

    std::string after;
    ASSERT_TRUE(ReadBytes(file_.Path(), after));
    EXPECT_EQ("\xFF\xFE" + Utf16LeBytes(L"Global\\AppData=1\r\nGlobal\\Integration=1\r\nGlobal\\SaveSettings=1\r\n"
                                      L"HKCU\\T\\V=\"new\"\r\n"),
              after);
    EXPECT_EQ(L"", DescribeTreeChange(before, SnapshotTree(temp)));
}

}  // namespace
