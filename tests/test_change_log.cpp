#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <regex>
#include <string>
#include <vector>

#include "common/base/change_log.h"
#include "tests/support/program_support.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::EnvironmentGuard;

std::string Quoted(const wchar_t* text)
{
    std::string bytes(QuoteLogText(text, nullptr), '\0');
    EXPECT_EQ(QuoteLogText(text, &bytes[0]), bytes.size());
    return bytes;
}

TEST(ChangeLogText, QuotesSoThatNoTextCanForgeALine)
{
    EXPECT_EQ(Quoted(L"C:\\Program Files\\Zorvex"), "\"C:\\\\Program Files\\\\Zorvex\"");
    EXPECT_EQ(Quoted(L"a\"b\r\n2026-01-01T00:00:00.000+00:00 1 result ok 0"),
              "\"a\\\"b\\r\\n2026-01-01T00:00:00.000+00:00 1 result ok 0\"");
    EXPECT_EQ(Quoted(L"tab\there\x01\x1f\x7f"), "\"tab\\there\\x01\\x1F\\x7F\"");
    // UTF-8: two, three and four bytes; a lone surrogate named, never made a byte.
    EXPECT_EQ(Quoted(L"Caf\u00e9 \u4e2d \U0001F600"), "\"Caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80\"");
    EXPECT_EQ(Quoted(L"x\xd800y"), "\"x\\uD800y\"");
    EXPECT_EQ(Quoted(L""), "\"\"");
}

TEST(ChangeLogText, TimeCarriesMillisecondsAndTheOffsetFromUtc)
{
    SYSTEMTIME t = {};
    t.wYear = 2026;
    t.wMonth = 12;
    t.wDay = 9;
    t.wHour = 10;
    t.wMinute = 15;
    t.wSecond = 2;
    t.wMilliseconds = 123;
    char text[64];
    FormatLogTime(t, 60, text, sizeof text);
    EXPECT_STREQ(text, "2026-12-09T10:15:02.123+01:00");
    FormatLogTime(t, -570, text, sizeof text);
    EXPECT_STREQ(text, "2026-12-09T10:15:02.123-09:30");
    FormatLogTime(t, 0, text, sizeof text);
    EXPECT_STREQ(text, "2026-12-09T10:15:02.123+00:00");
}

TEST(ChangeLogText, WithinAFolderMeansTheFolderOrBelowItCaseIgnored)
{
    EXPECT_TRUE(IsPathWithinFolder(L"C:\\Program Files\\Zorvex\\log.txt", L"C:\\Program Files\\Zorvex"));
    EXPECT_TRUE(IsPathWithinFolder(L"c:\\program files\\ZORVEX\\sub\\log.txt", L"C:\\Program Files\\Zorvex\\"));
    EXPECT_TRUE(IsPathWithinFolder(L"C:\\Program Files\\Zorvex", L"C:\\Program Files\\Zorvex"));
    EXPECT_FALSE(IsPathWithinFolder(L"C:\\Program Files\\Zorvex2\\log.txt", L"C:\\Program Files\\Zorvex"));
    EXPECT_FALSE(IsPathWithinFolder(L"C:\\Program Files\\log.txt", L"C:\\Program Files\\Zorvex"));
    EXPECT_FALSE(IsPathWithinFolder(L"C:\\log.txt", L""));
}

// The lines of a log with their time and pid checked and cut off.
std::vector<std::string> EventsOf(const std::string& log)
{
    static const std::regex head("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d (\\d+) (.*)$");
    std::vector<std::string> events;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos)
            end = log.size();
        std::string line = log.substr(start, end - start);
        std::smatch match;
        if (std::regex_match(line, match, head)) {
            EXPECT_EQ(std::stoul(match[1].str()), GetCurrentProcessId()) << line;
            events.push_back(match[2].str());
        } else {
            ADD_FAILURE() << "not a log line: " << line;
        }
        start = end + 1;
    }
    return events;
}

class ChangeLogTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = testsupport::MakeScratchFolder(L"change-log"); }
    void TearDown() override
    {
        CloseChangeLog(0);
        testsupport::RemoveTree(dir_);
    }
    std::wstring Path(const wchar_t* name) const { return dir_ + L"\\" + name; }
    std::string Read(const std::wstring& path) const
    {
        std::string bytes;
        EXPECT_TRUE(testsupport::ReadBytes(path, bytes)) << testing::PrintToString(path);
        return bytes;
    }
    std::wstring dir_;
};

TEST_F(ChangeLogTest, UnsetCostsNothingAndChangesGoAhead)
{
    EnvironmentGuard log(L"ZORVEX_LOG", nullptr);
    EnvironmentGuard preview(L"ZORVEX_PREVIEW", nullptr);
    OpenChangeLog();
    StartChangeLog(L"uninstall", true, L"Uninstall.exe");
    EXPECT_FALSE(ChangeLogOn());
    EXPECT_FALSE(ChangesWithheld());
    ASSERT_TRUE(testsupport::WriteBytes(Path(L"a.txt"), "a"));
    EXPECT_TRUE(LoggedDeleteFile(Path(L"a.txt").c_str()));
    EXPECT_FALSE(testsupport::Exists(Path(L"a.txt")));
}

TEST_F(ChangeLogTest, TwoRunsAppendStartChangesAndResultToOneFile)
{
    std::wstring logPath = Path(L"zorvex.log");
    EnvironmentGuard log(L"ZORVEX_LOG", logPath.c_str());
    EnvironmentGuard preview(L"ZORVEX_PREVIEW", nullptr);
    for (int run = 0; run < 2; run++) {
        OpenChangeLog();
        // A line logged before the start line comes after it.
        LogMessageBox(IDOK, L"Uninstall Zorvex", L"Done.\nDelete by hand");
        StartChangeLog(L"uninstall", true, L"\"C:\\x\\Uninstall.exe\" -s");
        ASSERT_TRUE(ChangeLogOn());
        EXPECT_FALSE(ChangesWithheld());
        ASSERT_TRUE(testsupport::WriteBytes(Path(L"b.txt"), "b"));
        EXPECT_TRUE(LoggedDeleteFile(Path(L"b.txt").c_str()));
        EXPECT_FALSE(LoggedDeleteFile(Path(L"b.txt").c_str()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        DWORD one = 1;
        LogValueSet(0, HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"Software\\Zorvex", L"Count", REG_DWORD, &one, 4);
        LogRegistryChange("key-delete", ERROR_ACCESS_DENIED, HKEY_CLASSES_ROOT, 0, L".zvx", nullptr);
        LogBatchText(L"del \"x\"\r\nrd \"y\"\r\n");
        SetRunResult(L"files-left");
        SetRunResult(L"ok");
        CloseChangeLog(0);
    }
    std::vector<std::string> events = EventsOf(Read(logPath));
    ASSERT_EQ(events.size(), 18u);
    std::string b = "\"C:\\\\zvx-tests\\\\change-log\\\\b.txt\"";
    for (int run = 0; run < 2; run++) {
        const std::string* e = &events[9 * run];
        EXPECT_TRUE(std::regex_match(e[0], std::regex("start uninstall real (elevated|not-elevated|unknown) 6\\.11\\.1 "
                                                       "\\d+\\.\\d+\\.\\d+ \"\\\\\"C:\\\\\\\\x\\\\\\\\Uninstall.exe"
                                                       "\\\\\" -s\"")))
            << e[0];
        EXPECT_EQ(e[1], "message-box ok \"Uninstall Zorvex\" \"Done.\\nDelete by hand\"");
        EXPECT_EQ(e[2], "file-delete ok " + b);
        EXPECT_EQ(e[3], "file-delete error=2 " + b);
        EXPECT_EQ(e[4], "value-set ok HKLM32 REG_DWORD 1 \"Software\\\\Zorvex\" \"Count\"");
        EXPECT_EQ(e[5], "key-delete error=5 HKCR \".zvx\"");
        EXPECT_EQ(e[6], "batch-line \"del \\\"x\\\"\"");
        EXPECT_EQ(e[7], "batch-line \"rd \\\"y\\\"\"");
        EXPECT_EQ(e[8], "result files-left 0");
    }
}

// A call that the extended-length form is tried for is one change: logged once,
// under the form its last call took, with that call's outcome. The retry is
// made only where that form names something else and the plain call failed on
// the spelling; a refusal of the plain call stands.
TEST_F(ChangeLogTest, ARetriedCallIsLoggedOnceUnderTheFormItTookLast)
{
    std::wstring logPath = Path(L"retry.log");
    EnvironmentGuard log(L"ZORVEX_LOG", logPath.c_str());
    EnvironmentGuard preview(L"ZORVEX_PREVIEW", nullptr);
    std::wstring dotted = Path(L"c.");
    std::wstring verbatim = L"\\\\?\\" + dotted;
    ASSERT_TRUE(testsupport::WriteBytes(verbatim, "dotted"));
    // "e." spelled plainly is "e", which is held open: that refusal stands.
    ASSERT_TRUE(testsupport::WriteBytes(L"\\\\?\\" + Path(L"e."), "dotted"));
    ASSERT_TRUE(testsupport::WriteBytes(Path(L"e"), "plain"));
    HANDLE held = CreateFileW(Path(L"e").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    OpenChangeLog();
    StartChangeLog(L"uninstall", true, L"Uninstall.exe -s");
    EXPECT_TRUE(LoggedSetFileAttributes(dotted.c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(LoggedGetFileAttributes(dotted.c_str()) & FILE_ATTRIBUTE_HIDDEN,
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(LoggedMoveFile(dotted.c_str(), Path(L"d.").c_str()));
    EXPECT_TRUE(LoggedDeleteFile(Path(L"d.").c_str()));
    EXPECT_FALSE(LoggedDeleteFile(Path(L"d.").c_str()));
    EXPECT_FALSE(LoggedDeleteFile(Path(L"e.").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(LoggedDeleteFile(Path(L"plain.txt").c_str()));
    CloseHandle(held);
    SetRunResult(L"ok");
    CloseChangeLog(0);

    EXPECT_FALSE(testsupport::Exists(verbatim));
    EXPECT_FALSE(testsupport::Exists(L"\\\\?\\" + Path(L"d.")));
    EXPECT_TRUE(testsupport::Exists(L"\\\\?\\" + Path(L"e.")));
    EXPECT_TRUE(testsupport::Exists(Path(L"e")));
    std::vector<std::string> events = EventsOf(Read(logPath));
    std::string x = "\"\\\\\\\\?\\\\C:\\\\zvx-tests\\\\change-log\\\\";
    std::string plain = "\"C:\\\\zvx-tests\\\\change-log\\\\";
    const std::vector<std::string> expected = {
        "file-attributes ok 0x00000002 " + x + "c.\"",
        "file-rename ok " + x + "c.\" " + x + "d.\"",
        "file-delete ok " + x + "d.\"",
        "file-delete error=2 " + x + "d.\"",
        "file-delete error=32 " + plain + "e.\"",
        "file-delete error=2 " + plain + "plain.txt\"",
        "result ok 0",
    };
    ASSERT_EQ(events.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); i++)
        EXPECT_EQ(events[i + 1], expected[i]);
}

TEST_F(ChangeLogTest, ALogInTheProgramsFolderIsRefusedHoweverItIsSpelled)
{
    EnvironmentGuard preview(L"ZORVEX_PREVIEW", nullptr);
    std::wstring bin = testsupport::BinDir() + L"\\tests";
    wchar_t shortBin[MAX_PATH];
    DWORD length = GetShortPathNameW(bin.c_str(), shortBin, MAX_PATH);
    std::vector<std::wstring> spellings = {bin + L"\\zvx-refused.log", bin + L"\\..\\tests\\zvx-refused.log",
                                           bin + L"\\sub\\..\\zvx-refused.log"};
    if (length > 0 && length < MAX_PATH)
        spellings.push_back(std::wstring(shortBin) + L"\\ZVX-RE~1.LOG");
    // Relative to the current directory, which is the program's folder here.
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    SetCurrentDirectoryW(bin.c_str());
    spellings.push_back(L"zvx-refused.log");
    spellings.push_back(L".\\ZVX-refused.LOG");
    for (const std::wstring& spelling : spellings) {
        EnvironmentGuard log(L"ZORVEX_LOG", spelling.c_str());
        OpenChangeLog();
        StartChangeLog(L"uninstall", true, L"Uninstall.exe");
        EXPECT_FALSE(ChangeLogOn()) << testing::PrintToString(spelling);
        LogNote(L"must not be written");
        CloseChangeLog(0);
        EXPECT_FALSE(testsupport::Exists(bin + L"\\zvx-refused.log")) << testing::PrintToString(spelling);
    }
    SetCurrentDirectoryW(current);
    // A folder or a name that cannot be opened is no log either.
    for (const std::wstring& spelling : {dir_, Path(L"missing\\x.log"), std::wstring(L"NUL")}) {
        EnvironmentGuard log(L"ZORVEX_LOG", spelling.c_str());
        OpenChangeLog();
        StartChangeLog(L"setup", true, L"Uninstall.exe -setup");
        EXPECT_FALSE(ChangeLogOn()) << testing::PrintToString(spelling);
        CloseChangeLog(0);
    }
    EXPECT_FALSE(testsupport::Exists(Path(L"missing")));
}

TEST_F(ChangeLogTest, APreviewWithholdsChangesAndCountsAFolderEmptiedByItsOwnDeletionsAsRemoved)
{
    std::wstring logPath = Path(L"preview.log");
    EnvironmentGuard log(L"ZORVEX_LOG", logPath.c_str());
    EnvironmentGuard preview(L"ZORVEX_PREVIEW", L"1");
    std::wstring tree = Path(L"tree");
    CreateDirectoryW(tree.c_str(), nullptr);
    CreateDirectoryW((tree + L"\\full").c_str(), nullptr);
    ASSERT_TRUE(testsupport::WriteBytes(tree + L"\\a.txt", "a"));
    ASSERT_TRUE(testsupport::WriteBytes(tree + L"\\full\\kept.txt", "k"));
    ASSERT_TRUE(testsupport::WriteBytes(tree + L"\\held.txt", "h"));
    HANDLE held = CreateFileW((tree + L"\\held.txt").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    OpenChangeLog();
    StartChangeLog(L"uninstall", true, L"Uninstall.exe -s");
    LogPreviewNote();
    ASSERT_TRUE(ChangesWithheld());
    EXPECT_TRUE(PreviewRun());
    // The folder still holds a.txt: not yet.
    EXPECT_FALSE(LoggedRemoveDirectory(tree.c_str()));
    EXPECT_TRUE(LoggedSetFileAttributes((tree + L"\\a.txt").c_str(), 0));
    EXPECT_TRUE(LoggedDeleteFile((tree + L"\\a.txt").c_str()));
    EXPECT_EQ(LoggedGetFileAttributes((tree + L"\\a.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(LoggedDeleteFile((tree + L"\\a.txt").c_str())) << "deleted twice";
    EXPECT_FALSE(LoggedDeleteFile((tree + L"\\held.txt").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(held);
    EXPECT_TRUE(LoggedDeleteFile((tree + L"\\held.txt").c_str()));
    EXPECT_FALSE(LoggedRemoveDirectory((tree + L"\\full").c_str()));
    EXPECT_TRUE(LoggedMoveFile((tree + L"\\full\\kept.txt").c_str(), (tree + L"\\full\\kept.txt.0.tmp").c_str()));
    EXPECT_TRUE(LoggedMoveFileEx((tree + L"\\full\\kept.txt.0.tmp").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_TRUE(LoggedRemoveDirectory((tree + L"\\full").c_str()));
    EXPECT_TRUE(LoggedRemoveDirectory(tree.c_str()));
    NotifyShell(SHCNE_ASSOCCHANGED, SHCNF_IDLIST);
    PROCESS_INFORMATION process = {};
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    wchar_t commandLine[] = L"cmd /c exit";
    EXPECT_FALSE(LoggedCreateProcess(L"C:\\windows\\system32\\cmd.exe", commandLine, FALSE, &startup, &process));
    SetRunResult(L"ok");
    CloseChangeLog(0);

    // Nothing changed.
    for (const wchar_t* name : {L"\\a.txt", L"\\held.txt", L"\\full\\kept.txt"})
        EXPECT_TRUE(testsupport::Exists(tree + name)) << testing::PrintToString(std::wstring(name));
    EXPECT_FALSE(testsupport::Exists(tree + L"\\full\\kept.txt.0.tmp"));
    EXPECT_EQ(GetFileAttributesW((tree + L"\\a.txt").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));

    std::vector<std::string> events = EventsOf(Read(logPath));
    std::string t = "\"C:\\\\zvx-tests\\\\change-log\\\\tree";
    std::vector<std::string> expected = {
        "note " /* the preview's own explanation, checked below */,
        "file-attributes preview 0x00000000 " + t + "\\\\a.txt\"",
        "file-delete preview " + t + "\\\\a.txt\"",
        "file-delete preview " + t + "\\\\held.txt\"",
        "file-rename preview " + t + "\\\\full\\\\kept.txt\" " + t + "\\\\full\\\\kept.txt.0.tmp\"",
        "restart-delete preview " + t + "\\\\full\\\\kept.txt.0.tmp\"",
        "folder-delete preview " + t + "\\\\full\"",
        "folder-delete preview " + t + "\"",
        "shell-notice preview 0x08000000",
        "process preview \"C:\\\\windows\\\\system32\\\\cmd.exe\" \"cmd /c exit\"",
        "result ok 0",
    };
    ASSERT_EQ(events.size(), expected.size() + 1);
    EXPECT_TRUE(std::regex_match(events[0], std::regex("start uninstall preview .*"))) << events[0];
    EXPECT_EQ(events[1].rfind("note \"preview: nothing is changed;", 0), 0u) << events[1];
    EXPECT_NE(events[1].find("a folder emptied by the entries before it counts as removed"), std::string::npos);
    for (size_t i = 1; i < expected.size(); i++)
        EXPECT_EQ(events[i + 1], expected[i]);
}

TEST_F(ChangeLogTest, APreviewWithoutALogWritesItsOwnBesideWhatStandsAtItsName)
{
    EnvironmentGuard log(L"ZORVEX_LOG", nullptr);
    EnvironmentGuard preview(L"ZORVEX_PREVIEW", L"1");
    EnvironmentGuard tmp(L"TMP", dir_.c_str());
    EnvironmentGuard temp(L"TEMP", dir_.c_str());
    for (int run = 0; run < 2; run++) {
        OpenChangeLog();
        StartChangeLog(L"msi-uninstall", true, L"Uninstall.exe -msi -s");
        ASSERT_TRUE(ChangesWithheld());
        CloseChangeLog(0);
    }
    std::vector<std::string> first = EventsOf(Read(Path(L"Zorvex-preview.log")));
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[1], "result ok 0");
    // The second run found the name taken and left that file alone.
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Path(L"Zorvex-preview_*.log").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(std::regex_match(std::wstring(data.cFileName), std::wregex(L"Zorvex-preview_[0-9A-F]{16}\\.log")));
    FindClose(find);
    EXPECT_EQ(EventsOf(Read(Path(data.cFileName))).size(), 2u);

    // A preview is only of the runs that ask for it: others change as usual.
    OpenChangeLog();
    StartChangeLog(L"none", false, L"Uninstall.exe -wait");
    EXPECT_FALSE(ChangesWithheld());
    CloseChangeLog(0);
}

}  // namespace
