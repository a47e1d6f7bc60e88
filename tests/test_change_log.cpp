#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>
#include <shlobj.h>

#include <regex>
#include <string>
#include <vector>

#include "common/base/change_log.h"
#include "common/base/exclusive_file.h"
#include "common/base/file.h"
#include "common/base/identity.h"
#include "tests/support/base_support.h"
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
    EXPECT_TRUE(PathWithin(L"C:\\Program Files\\Zorvex\\log.txt", L"C:\\Program Files\\Zorvex"));
    EXPECT_TRUE(PathWithin(L"c:\\program files\\ZORVEX\\sub\\log.txt", L"C:\\Program Files\\Zorvex\\"));
    EXPECT_TRUE(PathWithin(L"C:\\Program Files\\Zorvex", L"C:\\Program Files\\Zorvex"));
    EXPECT_FALSE(PathWithin(L"C:\\Program Files\\Zorvex2\\log.txt", L"C:\\Program Files\\Zorvex"));
    EXPECT_FALSE(PathWithin(L"C:\\Program Files\\log.txt", L"C:\\Program Files\\Zorvex"));
    EXPECT_FALSE(PathWithin(L"C:\\log.txt", L""));
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
    EXPECT_FALSE(PreviewRequested());
    StartChangeLog(L"uninstall", false, L"Uninstall.exe");
    EXPECT_FALSE(ChangeLogOn());
    ASSERT_TRUE(testsupport::WriteBytes(Path(L"a.txt"), "a"));
    EXPECT_TRUE(RemoveFile(Path(L"a.txt").c_str()));
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
        StartChangeLog(L"uninstall", false, L"\"C:\\x\\Uninstall.exe\" -s");
        ASSERT_TRUE(ChangeLogOn());
        ASSERT_TRUE(testsupport::WriteBytes(Path(L"b.txt"), "b"));
        EXPECT_TRUE(RemoveFile(Path(L"b.txt").c_str()));
        EXPECT_FALSE(RemoveFile(Path(L"b.txt").c_str()));
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

// Whom an existing log may belong to: SYSTEM, the Administrators or the running
// user, with nobody else allowed to write, delete or change it.
TEST(LogTrust, OnlyALogThatSystemAdministratorsOrTheUserAloneMayChangeIsUsed)
{
    std::wstring user = testsupport::UserSid();
    struct Case {
        std::wstring descriptor;
        bool used;
    };
    const Case cases[] = {
        {L"O:SYD:(A;;FA;;;SY)(A;;FA;;;BA)", true},
        {L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)", true},
        {L"O:" + user + L"D:(A;;FA;;;" + user + L")(A;;FR;;;WD)", true},
        // Entries only for what a folder makes inside it, and deny entries, give nothing.
        {L"O:BAD:(A;OICIIO;FA;;;CO)(D;;FA;;;WD)(A;;FA;;;SY)", true},
        {L"O:BAD:(A;;FA;;;SY)(A;;RC;;;OW)", true},
        // Made first by another user, who owns it and may do anything with it.
        {L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;SY)(A;;FA;;;BA)", false},
        {L"O:BAD:(A;;FA;;;SY)(A;;0x1301ff;;;WD)", false},
        {L"O:BAD:(A;;FA;;;SY)(A;;FW;;;BU)", false},
        {L"O:BAD:(A;;FA;;;SY)(A;;SD;;;AU)", false},
        {L"O:BAD:(A;;FA;;;SY)(A;;WD;;;AU)", false},
        {L"O:BAD:(A;;FA;;;SY)(A;;0x100;;;AU)", false},
        {L"O:BAD:(A;;FA;;;SY)(A;;GA;;;IU)", false},
    };
    PSID userSid = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(user.c_str(), &userSid));
    for (const Case& c : cases) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.descriptor.c_str(), SDDL_REVISION_1,
                                                                         &descriptor, nullptr))
            << testing::PrintToString(c.descriptor);
        EXPECT_EQ(DescriptorKeepsOthersOut(descriptor, userSid), c.used) << testing::PrintToString(c.descriptor);
        LocalFree(descriptor);
    }
    // No DACL at all lets everyone in (made by hand: Wine reads "NO_ACCESS_CONTROL"
    // as an empty DACL, which lets nobody in).
    SECURITY_DESCRIPTOR open;
    ASSERT_TRUE(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorOwner(&open, userSid, FALSE));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
    EXPECT_FALSE(DescriptorKeepsOthersOut(&open, userSid));
    LocalFree(userSid);
}

// The same against the file: a log another account owns, or that everyone may
// write, is refused, and the run goes on without it; what stands there is kept.
TEST_F(ChangeLogTest, ALogSomeoneElseOwnsOrMayChangeIsRefusedAndKept)
{
    EnvironmentGuard preview(L"ZORVEX_PREVIEW", nullptr);
    std::wstring logPath = Path(L"shared.log");
    EnvironmentGuard log(L"ZORVEX_LOG", logPath.c_str());
    for (const auto& change : {std::make_pair("/bin/chmod", "666"), std::make_pair("/bin/chown", "4321")}) {
        SCOPED_TRACE(change.first);
        ASSERT_TRUE(testsupport::WriteBytes(logPath, "planted\n"));
        ASSERT_TRUE(testsupport::ChangeUnixOwnership(logPath, change.first, change.second));
        OpenChangeLog();
        StartChangeLog(L"uninstall", false, L"Uninstall.exe -s");
        EXPECT_FALSE(ChangeLogOn());
        CloseChangeLog(0);
        EXPECT_EQ(Read(logPath), "planted\n");
        ASSERT_TRUE(DeleteFileW(logPath.c_str()));
    }
    // Made by the run itself, it is used, and used again by the next run.
    for (int run = 0; run < 2; run++) {
        OpenChangeLog();
        StartChangeLog(L"uninstall", false, L"Uninstall.exe -s");
        EXPECT_TRUE(ChangeLogOn());
        CloseChangeLog(0);
    }
    EXPECT_EQ(EventsOf(Read(logPath)).size(), 4u);
}

TEST_F(ChangeLogTest, APreviewWithoutALogWritesItsOwnBesideWhatStandsAtItsName)
{
    EnvironmentGuard log(L"ZORVEX_LOG", nullptr);
    EnvironmentGuard preview(L"ZORVEX_PREVIEW", L"1");
    EnvironmentGuard tmp(L"TMP", dir_.c_str());
    EnvironmentGuard temp(L"TEMP", dir_.c_str());
    for (int run = 0; run < 2; run++) {
        OpenChangeLog();
        ASSERT_TRUE(PreviewRequested());
        StartChangeLog(L"msi-uninstall", true, L"Uninstall.exe -msi -s");
        ASSERT_TRUE(ChangeLogOn());
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

    // A run that is no preview has no log of its own without ZORVEX_LOG.
    OpenChangeLog();
    StartChangeLog(L"none", false, L"Uninstall.exe -wait");
    EXPECT_FALSE(ChangeLogOn());
    CloseChangeLog(0);
}

}  // namespace
