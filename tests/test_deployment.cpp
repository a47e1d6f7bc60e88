// The decisions of the deployment contract, in-process: the exit code of each
// result word, the window station, the one-run lock, the -log= and
// -exitcodes=msi switches, the temporary folder and who holds a file in use.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "common/base/change_log.h"
#include "common/base/gate.h"
#include "common/base/preview_record.h"
#include "common/base/file.h"
#include "common/base/temp_folder.h"
#include "tests/support/change_log_support.h"
#include "tests/support/program_support.h"
#include "tests/support/test_support.h"
#include "uninstall/deployment.h"
#include "common/base/file_holders.h"
#include "uninstall/options.h"
#include "uninstall/uninstall_run.h"

using namespace testsupport;

namespace {

struct CodeRow {
    const wchar_t* word;
    int standard;
    int msi;
};

// Written out: the codes installers and deployment tools read.
const CodeRow kExpectedCodes[] = {
    {L"ok", 0, 0},
    {L"cancelled", 1, 1602},
    {L"declined", 0, 1602},
    {L"list-missing", 0, 1603},
    {L"restart-required", 0, 3010},
    {L"files-left", 0, 1603},
    {L"stopped", 0, 1603},
    {L"batch-failed", 0, 1603},
    {L"dialog-failed", 0, 1603},
    {L"busy", 0, 1618},
};

TEST(ExitCodes, EachResultWordHasItsCodeWithAndWithoutMsiCodes)
{
    for (const CodeRow& row : kExpectedCodes) {
        EXPECT_EQ(ExitCodeForResult(row.word, false), row.standard) << row.word;
        EXPECT_EQ(ExitCodeForResult(row.word, true), row.msi) << row.word;
    }
    ASSERT_EQ(kResultCodeCount, sizeof kExpectedCodes / sizeof kExpectedCodes[0]) << "a word without a test row";
    // A word the table lacks is never taken for success by a deployment tool,
    // and never changes the designed codes.
    for (const wchar_t* unknown : {L"", L"OK", L"Busy", L"ok ", L"restart"}) {
        EXPECT_EQ(ExitCodeForResult(unknown, false), 0) << unknown;
        EXPECT_EQ(ExitCodeForResult(unknown, true), 1603) << unknown;
    }
}

// The README's table is the one administrators read: it must say what the code does.
TEST(ExitCodes, TheReadmeTableIsTheProgramsTable)
{
    std::string readme;
    ASSERT_TRUE(ReadBytes(std::wstring(ZVX_TEST_DATA_DIR) + L"\\..\\..\\README.md", readme));
    size_t section = readme.find("\n## Exit codes\n");
    ASSERT_NE(section, std::string::npos);
    size_t end = readme.find("\n## ", section + 1);
    std::string table = readme.substr(section, end - section);
    std::vector<std::string> rows;
    for (size_t at = table.find("\n| `"); at != std::string::npos; at = table.find("\n| `", at + 1)) {
        size_t close = table.find('\n', at + 1);
        rows.push_back(table.substr(at + 1, close - at - 1));
    }
    ASSERT_EQ(rows.size(), kResultCodeCount);
    for (size_t i = 0; i < kResultCodeCount; i++) {
        char head[96];
        snprintf(head, sizeof head, "| `%ls` | %d | %d |", kExpectedCodes[i].word, kExpectedCodes[i].standard,
                 kExpectedCodes[i].msi);
        EXPECT_EQ(rows[i].rfind(head, 0), 0u) << rows[i] << "\nexpected to begin with " << head;
    }
}

TEST(WindowStation, OnlyAStationThatShowsWindowsLetsTheRunAsk)
{
    struct Row {
        bool queried;
        DWORD flags;
        StationVerdict verdict;
    };
    const Row rows[] = {
        {true, WSF_VISIBLE, StationVerdict::Visible},
        {true, 0, StationVerdict::Invisible},
        {true, 0xFFFFFFFEu, StationVerdict::Invisible},
        // Flags that cannot be read leave the run as asked: it would rather ask
        // than uninstall without a question nobody meant to skip.
        {false, 0, StationVerdict::Unknown},
    };
    for (const Row& row : rows)
        EXPECT_EQ(StationVerdictOf(row.queried, row.flags), row.verdict) << row.queried << " " << row.flags;

    // The tests run on the display's own station.
    wchar_t note[400] = L"untouched";
    EXPECT_TRUE(InspectWindowStation(note, 400));
    EXPECT_STREQ(note, L"untouched");
    EXPECT_TRUE(BoxesCanBeSeen());
}

TEST(RunLock, OnlyAFreeLockOfSystemOrAdministratorsIsTakenAndOnlyAHeldOneRefuses)
{
    struct Row {
        bool opened;
        bool trusted;
        DWORD wait;
        LockVerdict verdict;
    };
    const Row rows[] = {
        {true, true, WAIT_OBJECT_0, LockVerdict::Taken},
        {true, true, WAIT_ABANDONED, LockVerdict::TakenAfterAbandoned},
        {true, true, WAIT_TIMEOUT, LockVerdict::Busy},
        {true, true, WAIT_FAILED, LockVerdict::Unguarded},
        // Made by another user: honoured, it would block every uninstall.
        {true, false, WAIT_TIMEOUT, LockVerdict::Unguarded},
        {true, false, WAIT_OBJECT_0, LockVerdict::Unguarded},
        {false, false, WAIT_TIMEOUT, LockVerdict::Unguarded},
        {false, true, WAIT_TIMEOUT, LockVerdict::Unguarded},
    };
    for (const Row& row : rows)
        EXPECT_EQ(LockVerdictOf(row.opened, row.trusted, row.wait), row.verdict)
            << row.opened << row.trusted << " " << row.wait;

    struct Owner {
        const wchar_t* sid;
        bool trusted;
    };
    const Owner owners[] = {
        {L"S-1-5-32-544", true},   // Administrators
        {L"S-1-5-18", true},       // SYSTEM
        {L"S-1-5-21-1-2-3-1001", false},
        {L"S-1-1-0", false},       // Everyone
        {L"S-1-5-32-545", false},  // Users
        {L"S-1-5-19", false},      // LOCAL SERVICE
    };
    for (const Owner& owner : owners) {
        PSID sid = nullptr;
        ASSERT_TRUE(ConvertStringSidToSidW(owner.sid, &sid)) << owner.sid;
        EXPECT_EQ(IsTrustedLockOwner(sid), owner.trusted) << owner.sid;
        LocalFree(sid);
    }
    EXPECT_FALSE(IsTrustedLockOwner(nullptr));
}

struct Parsed {
    bool setup = false;
    bool uninstall = false;
    CommandOptions options = {};
};

Parsed Parse(const wchar_t* sfxcmd, const std::wstring& arguments)
{
    GetCommandOptions() = CommandOptions{};
    Parsed parsed;
    ParseOptions(true, sfxcmd, parsed.setup, parsed.uninstall);
    std::wstring line = L"\"C:\\Program Files\\Zorvex\\Uninstall.exe\" " + arguments;
    ParseOptions(false, line.c_str(), parsed.setup, parsed.uninstall);
    parsed.options = GetCommandOptions();
    GetCommandOptions() = CommandOptions{};
    return parsed;
}

TEST(DeploymentSwitches, LogAndExitCodesLeaveTheModeAloneAndKeepBlanksAndQuotes)
{
    struct Row {
        const wchar_t* arguments;
        bool uninstall;
        bool setup;
        const wchar_t* log;  // null: no -log= given
        bool msiCodes;
    };
    const Row rows[] = {
        {L"-s -log=C:\\Logs\\z.log", true, false, L"C:\\Logs\\z.log", false},
        {L"\"-log=C:\\Log files\\z.log\" -s", true, false, L"C:\\Log files\\z.log", false},
        {L"-s -log=\"C:\\Log files\\z.log\"", true, false, L"C:\\Log files\\z.log", false},
        {L"/LOG=\"C:\\R&D (x) 100% ^@!\\z.log\" /EXITCODES=MSI", true, false, L"C:\\R&D (x) 100% ^@!\\z.log", true},
        {L"-log=\"C:\\a \"\"quoted\"\" name.log\"", true, false, L"C:\\a \"quoted\" name.log", false},
        {L"-exitcodes=msi -setup -log=s.log", false, true, L"s.log", true},
        // "-log=" alone names nothing and counts for nothing.
        {L"-log= -s", true, false, nullptr, false},
        // Other spellings are unknown switches: neither mode runs.
        {L"-exitcodes=other", false, false, nullptr, false},
        {L"-logfile=x.log", false, false, nullptr, false},
    };
    for (const Row& row : rows) {
        Parsed p = Parse(L"", row.arguments);
        EXPECT_EQ(p.uninstall, row.uninstall) << row.arguments;
        EXPECT_EQ(p.setup, row.setup) << row.arguments;
        EXPECT_EQ(p.options.LogGiven, row.log != nullptr) << row.arguments;
        EXPECT_STREQ(p.options.LogPath, row.log != nullptr ? row.log : L"") << row.arguments;
        EXPECT_EQ(p.options.MsiExitCodes, row.msiCodes) << row.arguments;
    }

    // The installer's sfxcmd gives only the silent switch.
    Parsed p = Parse(L"-log=C:\\a.log -exitcodes=msi /S", L"");
    EXPECT_TRUE(p.uninstall);
    EXPECT_TRUE(p.options.Silent);
    EXPECT_FALSE(p.options.LogGiven);
    EXPECT_FALSE(p.options.MsiExitCodes);
}

TEST(DeploymentSwitches, ALogPathIsTakenWholeOrRefusedNeverCut)
{
    std::wstring longest = L"C:\\" + std::wstring(2043, L'a');   // 2046 characters
    Parsed p = Parse(L"", L"-s \"-log=" + longest + L"\"");
    EXPECT_TRUE(p.options.LogGiven);
    EXPECT_EQ(std::wstring(p.options.LogPath), longest);
    for (size_t length : {2047u, 2048u, 5000u}) {
        p = Parse(L"", L"-s -log=C:\\" + std::wstring(length - 3, L'b'));
        EXPECT_TRUE(p.uninstall) << length;
        EXPECT_TRUE(p.options.LogGiven) << length;
        EXPECT_STREQ(p.options.LogPath, L"") << length << ": a cut path would name another file";
    }
}

class DeploymentLog : public testing::Test {
protected:
    void SetUp() override { dir_ = MakeScratchFolder(L"deployment"); }
    void TearDown() override
    {
        CloseChangeLog(0);
        SetTempPath2ForTesting(nullptr);
        SetFileHolderQueryForTesting(nullptr);
        RemoveTree(dir_);
    }
    std::wstring Path(const wchar_t* name) const { return dir_ + L"\\" + name; }
    // The log's events after the start line, as "event fields texts".
    std::vector<std::string> Events(const std::wstring& path) const
    {
        std::vector<std::string> events;
        for (const LogLine& line : ReadChangeLog(path)) {
            if (line.Event != "start")
                events.push_back(line.Raw);
        }
        return events;
    }
    std::wstring dir_;
};

wchar_t gSystemTemp[4096];

DWORD WINAPI FakeGetTempPath2(DWORD capacity, LPWSTR buffer)
{
    DWORD length = static_cast<DWORD>(wcslen(gSystemTemp));
    if (length >= capacity)
        return length + 1;
    wcscpy(buffer, gSystemTemp);
    return length;
}

TEST_F(DeploymentLog, TheBatchFileAndThePreviewLogGoWhereGetTempPath2SaysWhereThereIsOne)
{
    EXPECT_EQ(ChooseTempPathFunction(nullptr), &GetTempPathW);
    EXPECT_EQ(ChooseTempPathFunction(FakeGetTempPath2), &FakeGetTempPath2);

    // Wine 8 has no GetTempPath2W: the folder GetTempPathW names.
    wchar_t folder[2048];
    EXPECT_EQ(TemporaryFolder(folder, 2048), TempFolder().size());
    EXPECT_EQ(std::wstring(folder), TempFolder());

    std::wstring systemTemp = Path(L"SystemTemp");
    ASSERT_TRUE(CreateDirectoryW(systemTemp.c_str(), nullptr));
    wcscpy(gSystemTemp, (systemTemp + L"\\").c_str());
    SetTempPath2ForTesting(FakeGetTempPath2);
    EXPECT_EQ(TemporaryFolder(folder, 2048), systemTemp.size() + 1);
    EXPECT_EQ(std::wstring(folder), systemTemp + L"\\");
    // A folder that does not fit is never used cut.
    EXPECT_EQ(TemporaryFolder(folder, systemTemp.size() + 1), 0u);
    EXPECT_STREQ(folder, L"");

    wchar_t batchPath[2048];
    std::wstring program = Path(L"Zorvex\\Uninstall.exe");
    ASSERT_TRUE(SelfRemovalBatch(program.c_str(), Path(L"Zorvex").c_str(), true, batchPath, 2048));
    EXPECT_EQ(std::wstring(batchPath), systemTemp + L"\\Uninstall_Zvx.Bat");
    EXPECT_TRUE(Exists(systemTemp + L"\\Uninstall_Zvx.Bat"));
    EXPECT_FALSE(Exists(BatchFilePath()));

    EnvironmentGuard log(L"ZORVEX_LOG", nullptr);
    EnvironmentGuard preview(L"ZORVEX_PREVIEW", L"1");
    OpenChangeLog();
    StartChangeLog(L"uninstall", true, L"Uninstall.exe -s");
    CloseChangeLog(0);
    EXPECT_EQ(Events(systemTemp + L"\\Zorvex-preview.log"), std::vector<std::string>{"result ok 0"});

    // GetTempPath2W naming nothing that fits: no batch file at all.
    wcscpy(gSystemTemp, (L"C:\\" + std::wstring(2100, L'x') + L"\\").c_str());
    EXPECT_FALSE(SelfRemovalBatch(program.c_str(), Path(L"Zorvex").c_str(), true, batchPath, 2048));
}

// The Restart Manager's answers for the tests: Wine's names no process.
std::vector<FileHolder> gHolders;
int gQueries = 0;

bool FakeHolders(const wchar_t*, FileHolder* holders, size_t capacity, size_t& count)
{
    gQueries++;
    count = gHolders.size();
    for (size_t i = 0; i < count && i < capacity; i++)
        holders[i] = gHolders[i];
    return true;
}

bool HoldersUnknown(const wchar_t*, FileHolder*, size_t, size_t&)
{
    gQueries++;
    return false;
}

FileHolder Holder(DWORD pid, int kind, const wchar_t* name, const wchar_t* service = L"")
{
    FileHolder holder = {};
    holder.ProcessId = pid;
    holder.Kind = kind;
    wcscpy(holder.Name, name);
    wcscpy(holder.Service, service);
    return holder;
}

TEST_F(DeploymentLog, TheLogNamesEveryProcessThatHoldsAFile)
{
    std::wstring logPath = Path(L"holders.log");
    EnvironmentGuard log(L"ZORVEX_LOG", logPath.c_str());
    EnvironmentGuard preview(L"ZORVEX_PREVIEW", nullptr);
    OpenChangeLog();
    StartChangeLog(L"uninstall", true, L"Uninstall.exe -s");
    SetFileHolderQueryForTesting(FakeHolders);
    gHolders = {Holder(1234, 4, L"Windows Explorer"), Holder(88, 3, L"Zorvex \"Helper\"", L"ZvxSvc")};
    LogFileHolders(L"C:\\Program Files\\Zorvex\\ZvxShell64.dll");
    gHolders.assign(10, Holder(7, 1, L"Editor"));
    LogFileHolders(L"C:\\Z\\a.txt");
    gHolders.clear();
    LogFileHolders(L"C:\\Z\\b.txt");
    SetFileHolderQueryForTesting(HoldersUnknown);
    LogFileHolders(L"C:\\Z\\c.txt");
    CloseChangeLog(0);

    std::vector<std::string> expected = {
        "file-holder 1234 explorer \"C:\\\\Program Files\\\\Zorvex\\\\ZvxShell64.dll\" \"Windows Explorer\"",
        "file-holder 88 service \"C:\\\\Program Files\\\\Zorvex\\\\ZvxShell64.dll\" \"Zorvex \\\"Helper\\\"\" "
        "\"ZvxSvc\"",
    };
    for (int i = 0; i < 8; i++)
        expected.push_back("file-holder 7 window \"C:\\\\Z\\\\a.txt\" \"Editor\"");
    expected.push_back("note \"2 more processes hold C:\\\\Z\\\\a.txt\"");
    expected.push_back("result ok 0");
    EXPECT_EQ(Events(logPath), expected);
}

// A DLL that another part of the process has loaded cannot be deleted, only
// renamed: the preview asks the Restart Manager only about a file that
// refuses to be opened for writing, and takes it as held when a process is named.
TEST_F(DeploymentLog, ThePreviewTakesALoadedFileAsHeldWhenTheRestartManagerNamesItsHolder)
{
    std::wstring logPath = Path(L"preview.log");
    EnvironmentGuard log(L"ZORVEX_LOG", logPath.c_str());
    EnvironmentGuard preview(L"ZORVEX_PREVIEW", L"1");
    std::wstring loaded = Path(L"ZvxShell64.dll");
    std::wstring plain = Path(L"plain.txt");
    ASSERT_TRUE(CopyFileW((BinDir() + L"\\tests\\zvx_probe.dll").c_str(), loaded.c_str(), FALSE));
    ASSERT_TRUE(WriteBytes(plain, "plain"));
    HMODULE module = LoadLibraryW(loaded.c_str());
    ASSERT_NE(module, nullptr);

    OpenChangeLog();
    BeginPreview();
    StartChangeLog(L"uninstall", true, L"Uninstall.exe -s");
    SetFileHolderQueryForTesting(FakeHolders);
    gHolders = {Holder(1234, 4, L"Windows Explorer")};
    gQueries = 0;
    EXPECT_EQ(GateRemove(plain.c_str(), {plain.c_str(), nullptr}), GateAnswer::Done) << "a file that is not held";
    EXPECT_EQ(gQueries, 0) << "the Restart Manager asked about a file open for writing";
    EXPECT_EQ(GateRemove(loaded.c_str(), {loaded.c_str(), nullptr}), GateAnswer::InUse);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_GE(gQueries, 1);
    // Nobody named (Wine's answer), or nobody can tell: taken to be deleted, as before.
    gHolders.clear();
    EXPECT_EQ(GateRemove(loaded.c_str(), {loaded.c_str(), nullptr}), GateAnswer::Done);
    CloseChangeLog(0);
    EndPreviewRecord();
    SetFileHolderQueryForTesting(nullptr);
    FreeLibrary(module);
    EXPECT_TRUE(Exists(loaded));
    EXPECT_TRUE(Exists(plain));
    EXPECT_EQ(Events(logPath), (std::vector<std::string>{
                                   "file-delete preview \"C:\\\\zvx-tests\\\\deployment\\\\plain.txt\"",
                                   "file-delete error=5 \"C:\\\\zvx-tests\\\\deployment\\\\ZvxShell64.dll\"",
                                   "file-delete preview \"C:\\\\zvx-tests\\\\deployment\\\\ZvxShell64.dll\"",
                                   "result ok 0",
                               }));
}

// What Wine's Restart Manager answers: it is there and names nobody.
TEST(FileHolders, TheRealRestartManagerIsLoadedFromTheSystemFolderAndAnswers)
{
    std::wstring dir = MakeScratchFolder(L"deployment-rm");
    std::wstring loaded = dir + L"\\held.dll";
    ASSERT_TRUE(CopyFileW((BinDir() + L"\\tests\\zvx_probe.dll").c_str(), loaded.c_str(), FALSE));
    HMODULE module = LoadLibraryW(loaded.c_str());
    ASSERT_NE(module, nullptr);
    FileHolder holders[4];
    size_t count = 99;
    EXPECT_TRUE(FindFileHolders(loaded.c_str(), holders, 4, count));
    // Windows names this process; Wine names nobody.
    for (size_t i = 0; i < count && i < 4; i++)
        EXPECT_EQ(holders[i].ProcessId, GetCurrentProcessId());
    FreeLibrary(module);
    RemoveTree(dir);
}

}  // namespace
