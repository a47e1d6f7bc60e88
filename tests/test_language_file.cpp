#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/localization/language_file.h"
#include "tests/support/language_support.h"
#include "tests/support/test_support.h"

using testsupport::LanguageFileBytes;
using testsupport::WriteBytes;

namespace {

const wchar_t kMissing[] = L"<missing>";

class LanguageFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DestroyLanguageTable();
        folder_ = testsupport::MakeScratchFolder(L"language-file");
        path_ = folder_ + L"\\uninstall.lng";
    }
    void TearDown() override
    {
        DestroyLanguageTable();
        testsupport::RemoveTree(folder_);
    }

    // Replaces the table with the one parsed from text.
    void Load(const std::wstring& text, bool utf16)
    {
        LoadBytes(LanguageFileBytes(text, utf16));
    }
    void LoadBytes(const std::string& bytes)
    {
        DestroyLanguageTable();
        ASSERT_TRUE(WriteBytes(path_, bytes));
        LoadLanguageFile(path_.c_str());
    }

    static std::wstring Text(const char* key)
    {
        static std::vector<wchar_t> buffer(70000);
        buffer[0] = L'#';
        if (!FindText(key, buffer.data(), buffer.size()))
            return kMissing;
        return buffer.data();
    }

    std::wstring folder_;
    std::wstring path_;
};

// A product language file: other sections before the marker, directives,
// comments, escapes, quotes and non-ASCII text.
const wchar_t kSample[] =
    L"Product header\r\n"
    L"IDS_BEFORE not parsed\r\n"
    L"***messages***\r\n"
    L"IDS_FIRST first text\r\n"
    L"; a comment line\r\n"
    L"IDS_QUOTED \"  both blanks  \"\r\n"
    L":DIALOG SETUPDLG\r\n"
    L"CAPTION Einstellungen f\u00fcr Zorvex\r\n"
    L"IDC_ASSOCZIP,\tZIP \\\"Archive\\\"\\n\\\\next\r\n"
    L":MENU MAINMENU\r\n"
    L"IDM_OPEN &\u00d6ffnen\r\n"
    L":DIALOG DLG\u00e9\r\n"
    L"IDOK OK \u00e9\r\n"
    L":STRINGS\r\n"
    L"IDS_LAST last\r\n";

const char* const kSampleKeys[] = {
    "s:IDS_FIRST", "s:IDS_QUOTED", "$SETUPDLG:CAPTION", "$SETUPDLG:IDC_ASSOCZIP", "@MAINMENU:IDM_OPEN",
    "$DLG\xe9:IDOK", "s:IDS_LAST", "s:IDS_BEFORE",
};

TEST_F(LanguageFileTest, AnsiAndUtf16FilesGiveTheSameTable)
{
    // The non-ASCII names and texts assume the usual code page of the test prefix.
    ASSERT_EQ(1252u, GetACP());
    std::vector<std::wstring> ansi;
    Load(kSample, false);
    size_t ansiCount = LanguageEntryCount();
    for (const char* key : kSampleKeys)
        ansi.push_back(Text(key));

    Load(kSample, true);
    EXPECT_EQ(ansiCount, LanguageEntryCount());
    for (size_t n = 0; n < sizeof kSampleKeys / sizeof kSampleKeys[0]; n++)
        EXPECT_EQ(ansi[n], Text(kSampleKeys[n])) << kSampleKeys[n];

    EXPECT_EQ(7u, LanguageEntryCount());
    EXPECT_EQ(L"first text", Text("s:IDS_FIRST"));
    EXPECT_EQ(L"  both blanks  ", Text("s:IDS_QUOTED"));
    EXPECT_EQ(L"Einstellungen f\u00fcr Zorvex", Text("$SETUPDLG:CAPTION"));
    EXPECT_EQ(L"ZIP \"Archive\"\n\\next", Text("$SETUPDLG:IDC_ASSOCZIP"));
    EXPECT_EQ(L"&\u00d6ffnen", Text("@MAINMENU:IDM_OPEN"));
    EXPECT_EQ(L"OK \u00e9", Text("$DLG\xe9:IDOK"));
    EXPECT_EQ(L"last", Text("s:IDS_LAST"));
    EXPECT_EQ(kMissing, Text("s:IDS_BEFORE"));
}

// Pads the file with position bytes before the marker, then the marker and one entry.
std::string MarkerAt(size_t position, bool utf16)
{
    std::string bytes(position, 'x');
    std::wstring text = L"***messages**\r\nIDS_FOUND yes\r\n";
    if (utf16)
        bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    else
        bytes += LanguageFileBytes(text, false);
    return bytes;
}

TEST_F(LanguageFileTest, MarkerCutByABlockBoundaryIsFoundInBothForms)
{
    // The first block ends at 8192; the second starts a little before that and
    // ends about 8 KB later. Every offset around both ends is tried, odd ones too.
    for (bool utf16 : {false, true}) {
        for (size_t boundary : {size_t(8192), size_t(8192 + 8160)}) {
            for (size_t position = boundary - 40; position <= boundary + 4; position++) {
                LoadBytes(MarkerAt(position, utf16));
                EXPECT_EQ(L"yes", Text("s:IDS_FOUND")) << "utf16 " << utf16 << " at " << position;
                EXPECT_EQ(1u, LanguageEntryCount());
            }
        }
    }
}

TEST_F(LanguageFileTest, MarkerIsLookedForInTheFirstTwoMegabytesOnly)
{
    for (bool utf16 : {false, true}) {
        LoadBytes(MarkerAt(2000000, utf16));
        EXPECT_EQ(L"yes", Text("s:IDS_FOUND")) << utf16;
        LoadBytes(MarkerAt(2200000, utf16));
        EXPECT_EQ(0u, LanguageEntryCount()) << utf16;
    }

    // Key lines without any marker are not a language file.
    Load(L"IDS_A a\r\nIDS_B b\r\n***messages*\r\nIDS_C c\r\n", false);
    EXPECT_EQ(0u, LanguageEntryCount());
    // Nor is a missing file; the direction stays as it was.
    SetRightToLeft(true);
    LoadLanguageFile((folder_ + L"\\absent.lng").c_str());
    EXPECT_EQ(0u, LanguageEntryCount());
    EXPECT_TRUE(RightToLeft());
}

TEST_F(LanguageFileTest, LineEndsOfEveryKindGiveTheSameEntries)
{
    for (const wchar_t* end : {L"\n", L"\r", L"\r\n"}) {
        std::wstring eol = end;
        Load(L"***messages**" + eol + L"IDS_A alpha" + eol + eol + L"IDS_B \"beta \"" + eol + L"IDS_C" + eol
                 + L"IDS_D delta",
             false);
        EXPECT_EQ(3u, LanguageEntryCount());
        EXPECT_EQ(L"alpha", Text("s:IDS_A"));
        EXPECT_EQ(L"beta ", Text("s:IDS_B"));
        EXPECT_EQ(kMissing, Text("s:IDS_C"));
        EXPECT_EQ(L"delta", Text("s:IDS_D"));  // last line without its end
    }
}

TEST_F(LanguageFileTest, ValuesFollowTheEscapeQuoteAndSeparatorRules)
{
    Load(L"***messages**\r\n"
         L"IDS_COMMA, text\r\n"
         L"IDS_TWOCOMMAS,,text\r\n"
         L"IDS_TAB\t \t tabbed\r\n"
         L"IDS_PATH C:\\dir\\sub\r\n"
         L"IDS_ESC a\\tb\\rc\\nd\\\\e\\\"f\\x\r\n"
         L"IDS_TRAILING_BACKSLASH end\\\r\n"
         L"IDS_NEXT next\r\n"
         L"IDS_OUTSIDE   \"in\"   \r\n"
         L"IDS_OPEN \"open only\r\n"
         L"IDS_CLOSE close only\"\r\n"
         L"IDS_ESCAPED_END text\\\"\r\n"
         L"IDS_INNER say \"hi\" now\r\n"
         L"IDS_EMPTYQUOTES \"\"\r\n"
         L"IDS_NOTHING \r\n"
         L"IDS_NOTHING2,\r\n"
         L" IDS_INDENTED text\r\n"
         L"IDS_NOSEPARATOR\r\n"
         L"IDS_AFTERWORD after\r\n"
         L"1IDS_DIGIT text\r\n"
         L"ids_lower lower\r\n",
         false);
    EXPECT_EQ(L"text", Text("s:IDS_COMMA"));
    EXPECT_EQ(L",text", Text("s:IDS_TWOCOMMAS"));
    EXPECT_EQ(L"tabbed", Text("s:IDS_TAB"));
    EXPECT_EQ(L"C:\\dir\\sub", Text("s:IDS_PATH"));
    EXPECT_EQ(L"a\tb\rc\nd\\e\"f\\x", Text("s:IDS_ESC"));
    EXPECT_EQ(L"end\\", Text("s:IDS_TRAILING_BACKSLASH"));
    EXPECT_EQ(L"next", Text("s:IDS_NEXT"));
    EXPECT_EQ(L"in", Text("s:IDS_OUTSIDE"));
    EXPECT_EQ(L"open only", Text("s:IDS_OPEN"));
    EXPECT_EQ(L"close only", Text("s:IDS_CLOSE"));
    EXPECT_EQ(L"text", Text("s:IDS_ESCAPED_END"));
    EXPECT_EQ(L"say \"hi\" now", Text("s:IDS_INNER"));
    EXPECT_EQ(L"", Text("s:IDS_EMPTYQUOTES"));
    EXPECT_EQ(L"", Text("s:IDS_NOTHING"));
    EXPECT_EQ(L"", Text("s:IDS_NOTHING2"));
    EXPECT_EQ(kMissing, Text("s:IDS_INDENTED"));
    EXPECT_EQ(kMissing, Text("s:IDS_NOSEPARATOR"));
    EXPECT_EQ(L"after", Text("s:IDS_AFTERWORD"));
    EXPECT_EQ(kMissing, Text("s:1IDS_DIGIT"));
    EXPECT_EQ(kMissing, Text("s:IDS_LOWER"));
    EXPECT_EQ(L"lower", Text("s:ids_lower"));
    EXPECT_EQ(17u, LanguageEntryCount());
}

TEST_F(LanguageFileTest, ValueLengthIsCappedAndEveryLimitHolds)
{
    std::wstring longValue(70000, L'v');
    std::wstring nearCap(65535, L'a');
    Load(L"***messages**\r\nIDS_LONG " + longValue + L"\r\nIDS_NEARCAP " + nearCap + L"\\nbbb\r\nIDS_AFTER ok\r\n",
         true);
    EXPECT_EQ(std::wstring(65536, L'v'), Text("s:IDS_LONG"));
    EXPECT_EQ(nearCap + L"\n", Text("s:IDS_NEARCAP"));
    EXPECT_EQ(L"ok", Text("s:IDS_AFTER"));

    // Keys keep 49 bytes; the separator must come within a line's first 99 characters.
    std::wstring name98 = L"N" + std::wstring(97, L'x');
    std::wstring name99 = L"M" + std::wstring(98, L'x');
    Load(L"***messages**\r\nIDS_" + std::wstring(60, L'K') + L" long key\r\n" + name98 + L" fits\r\n" + name99
             + L" too far\r\n",
         false);
    EXPECT_EQ(2u, LanguageEntryCount());
    std::string cut = "s:IDS_" + std::string(43, 'K');
    EXPECT_EQ(L"long key", Text(cut.c_str()));
    EXPECT_EQ(kMissing, Text((cut + "K").c_str()));
    std::string fitsKey = "s:N" + std::string(46, 'x');
    EXPECT_EQ(L"fits", Text(fitsKey.c_str()));

    // FindText cuts to the caller's buffer and still finds.
    wchar_t small[5];
    EXPECT_TRUE(FindText(fitsKey.c_str(), small, 5));
    EXPECT_STREQ(L"fits", small);
    wchar_t tiny[3];
    EXPECT_TRUE(FindText(cut.c_str(), tiny, 3));
    EXPECT_STREQ(L"lo", tiny);
}

TEST_F(LanguageFileTest, TextEndsAtAMillionCharactersOrAtANul)
{
    // The value of the last key starts 6 characters before the cut.
    for (bool utf16 : {false, true}) {
        std::wstring text = L"***messages**\r\n";
        text += std::wstring(1048570 - text.size() - 11, L' ') + L"\r\nIDS_LAST " + L"0123456789\r\nIDS_LATER x\r\n";
        ASSERT_EQ(1048570u, text.find(L"0123"));
        Load(text, utf16);
        EXPECT_EQ(L"012345", Text("s:IDS_LAST")) << utf16;
        EXPECT_EQ(kMissing, Text("s:IDS_LATER")) << utf16;
    }

    for (bool utf16 : {false, true}) {
        std::wstring text = L"***messages**\r\nIDS_A a\r\nIDS_B b";
        text += L'\0';
        text += L"rest\r\nIDS_C c\r\n";
        Load(text, utf16);
        EXPECT_EQ(L"b", Text("s:IDS_B")) << utf16;
        EXPECT_EQ(kMissing, Text("s:IDS_C")) << utf16;
    }
}

TEST_F(LanguageFileTest, DirectivesSetGroupsAndDirection)
{
    Load(L"***messages**\r\n"
         L"IDS_PLAIN plain\r\n"
         L":DIALOG\tSETUPDLG  trailing words\r\n"
         L"IDOK fine\r\n"
         L":DIALOGX OTHER\r\n"
         L"IDCANCEL still setup\r\n"
         L":UNKNOWN THING\r\n"
         L":DIRECTION RTL\r\n"
         L"IDHELP help\r\n"
         L":MENU\r\n"
         L"IDM_X in nameless menu\r\n"
         L":STRINGS\r\n"
         L"IDS_BACK back\r\n",
         false);
    EXPECT_EQ(L"plain", Text("s:IDS_PLAIN"));
    EXPECT_EQ(L"fine", Text("$SETUPDLG:IDOK"));
    EXPECT_EQ(L"still setup", Text("$SETUPDLG:IDCANCEL"));
    EXPECT_EQ(L"help", Text("$SETUPDLG:IDHELP"));
    EXPECT_EQ(L"in nameless menu", Text("@:IDM_X"));
    EXPECT_EQ(L"back", Text("s:IDS_BACK"));
    EXPECT_EQ(6u, LanguageEntryCount());
    EXPECT_TRUE(RightToLeft());

    Load(L"***messages**\r\n:DIRECTION RTL\r\n:DIRECTION LTR\r\n", false);
    EXPECT_FALSE(RightToLeft());
    SetRightToLeft(false);
    Load(L"***messages**\r\n:DIRECTION rtl\r\n:DIRECTIONRTL\r\n:DIRECTION RTLX\r\nIDS_A a\r\n", false);
    EXPECT_FALSE(RightToLeft());
    Load(L"***messages**\r\nIDS_A a\r\n:DIRECTION\tRTL", true);
    EXPECT_TRUE(RightToLeft());
    // The marker line itself is no directive.
    DestroyLanguageTable();
    Load(L"***messages** :DIRECTION RTL\r\nIDS_A a\r\n", false);
    EXPECT_FALSE(RightToLeft());
}

TEST_F(LanguageFileTest, DuplicateKeysAreKeptAndOneIsFound)
{
    Load(L"***messages**\r\nIDS_DUP one\r\nIDS_DUP two\r\nIDS_Z z\r\nIDS_A a\r\n", false);
    EXPECT_EQ(4u, LanguageEntryCount());
    std::wstring dup = Text("s:IDS_DUP");
    EXPECT_TRUE(dup == L"one" || dup == L"two");
    EXPECT_EQ(L"a", Text("s:IDS_A"));
    EXPECT_EQ(L"z", Text("s:IDS_Z"));
}

TEST_F(LanguageFileTest, NameWithoutBackslashIsTakenFromTheProgramFolder)
{
    wchar_t exe[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
    std::wstring besideProgram = exe;
    besideProgram = besideProgram.substr(0, besideProgram.rfind(L'\\')) + L"\\zvx-language-test.lng";
    ASSERT_TRUE(testsupport::WriteLanguageFile(besideProgram, L"***messages**\r\nIDS_WHERE program\r\n", false));
    ASSERT_TRUE(testsupport::WriteLanguageFile(folder_ + L"\\zvx-language-test.lng",
                                               L"***messages**\r\nIDS_WHERE current\r\n", false));
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(folder_.c_str());

    LoadLanguageFile(L"zvx-language-test.lng");
    std::wstring where = Text("s:IDS_WHERE");
    SetCurrentDirectoryW(previous);
    DeleteFileW(besideProgram.c_str());
    EXPECT_EQ(L"program", where);
}

}  // namespace
