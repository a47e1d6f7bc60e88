// The deployment contract seen from outside, as a deployment tool sees it: the
// real Uninstall.exe started as a child process with -s, -log= and
// -exitcodes=msi, two runs at once, and runs in a window station nobody sees.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/support/change_log_support.h"
#include "tests/support/deployment_support.h"
#include "tests/support/program_support.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"
#include "tests/support/window_support.h"
#include "uninstall/deployment.h"

using namespace testsupport;

namespace {

constexpr DWORD kRunTimeoutMs = 60000;
constexpr DWORD kBoxTimeoutMs = 30000;
constexpr DWORD kBatchTimeoutMs = 45000;

std::wstring OwnText(UINT id)
{
    wchar_t text[1024] = {};
    LoadStringW(GetModuleHandleW(nullptr), id, text, 1024);
    return text;
}

class DeploymentRun : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteFileW(BatchFilePath().c_str());
        root_ = MakeScratchFolder(L"deployment-runs");
        logs_ = root_ + L"\\logs";
        ASSERT_TRUE(CreateDirectoryW(logs_.c_str(), nullptr));
    }

    void TearDown() override
    {
        ReleaseRunLock();
        EXPECT_TRUE(WaitForProcesses(batchProcesses_, kBatchTimeoutMs)) << "the batch file did not finish";
        for (HANDLE handle : held_)
            CloseHandle(handle);
        RemoveTree(root_);
        DeleteFileW(BatchFilePath().c_str());
        pendingRenames_.Restore();
    }

    // An install folder below the scratch root holding the program, the list
    // and the files it names.
    std::wstring Install(const std::wstring& name, const std::string& list, const std::vector<std::wstring>& files)
    {
        std::wstring folder = root_ + L"\\" + name;
        CreateDirectoryW(folder.c_str(), nullptr);
        EXPECT_TRUE(CopyFileW((BinDir() + L"\\Uninstall.exe").c_str(), (folder + L"\\Uninstall.exe").c_str(), FALSE));
        EXPECT_TRUE(WriteBytes(folder + L"\\Uninstall.lst", list));
        for (const std::wstring& file : files) {
            size_t separator = file.rfind(L'\\');
            if (separator != std::wstring::npos)
                CreateDirectoryW((folder + L"\\" + file.substr(0, separator)).c_str(), nullptr);
            EXPECT_TRUE(WriteBytes(folder + L"\\" + file, "data"));
        }
        return folder;
    }

    std::wstring LogPath(const std::wstring& name) const { return logs_ + L"\\" + name + L".log"; }

    // Waits for the program's end and notes the batch process it started.
    int Finish(ChildProcess& child, DWORD timeoutMs = kRunTimeoutMs)
    {
        int code = child.Wait(timeoutMs);
        for (DWORD id : ChildProcessIds(child.Id(), L"cmd.exe"))
            batchProcesses_.push_back(id);
        return code;
    }

    int Run(const std::wstring& folder, const std::wstring& arguments)
    {
        ChildProcess child;
        if (!child.Start(folder + L"\\Uninstall.exe", arguments))
            return -1;
        return Finish(child);
    }

    int RunHidden(const HiddenStation& station, const std::wstring& folder, const std::wstring& arguments)
    {
        ChildProcess child;
        if (!child.StartOnDesktop(folder + L"\\Uninstall.exe", arguments, station.Desktop()))
            return -1;
        return Finish(child);
    }

    bool BatchFinished()
    {
        bool finished = WaitForProcesses(batchProcesses_, kBatchTimeoutMs);
        batchProcesses_.clear();
        return finished;
    }

    // The next message box of child, once previous (if any) has closed.
    static HWND NextBox(const ChildProcess& child, HWND previous = nullptr)
    {
        while (previous != nullptr && IsWindow(previous))
            Sleep(50);
        return WaitForProcessWindow(child, L"#32770", kBoxTimeoutMs);
    }

    void HoldOpenWithoutDeleteSharing(const std::wstring& path)
    {
        HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        held_.push_back(handle);
    }

    // The log's events after its start lines, as "event fields texts".
    static std::vector<std::string> Events(const std::wstring& path)
    {
        std::vector<std::string> events;
        for (const LogLine& line : ReadChangeLog(path)) {
            if (line.Event != "start")
                events.push_back(line.Raw);
        }
        return events;
    }

    static std::vector<std::string> EventsOf(const std::wstring& path, const std::string& event)
    {
        std::vector<std::string> events;
        for (const LogLine& line : LinesOf(ReadChangeLog(path), event))
            events.push_back(line.Raw);
        return events;
    }

    // The one result line of a log.
    static std::string ResultOf(const std::wstring& path)
    {
        std::vector<std::string> results = EventsOf(path, "result");
        return results.size() == 1 ? results[0] : "results: " + std::to_string(results.size());
    }

    std::wstring root_;
    std::wstring logs_;
    std::vector<DWORD> batchProcesses_;
    std::vector<HANDLE> held_;
    RegistryValueGuard pendingRenames_{HKEY_LOCAL_MACHINE, kSessionManagerKey, L"PendingFileRenameOperations"};
};

// Each result word from a real run, with the program's own codes and with the
// codes of Windows Installer: the exit code and the log's result line agree.
class ExitCodeRun : public DeploymentRun, public testing::WithParamInterface<bool> {
protected:
    // The arguments with the log and, for the parameter, -exitcodes=msi.
    std::wstring With(const std::wstring& arguments, const std::wstring& log) const
    {
        return arguments + (GetParam() ? L" -exitcodes=msi" : L"") + L" \"-log=" + log + L"\"";
    }
    int Code(int standard, int msi) const { return GetParam() ? msi : standard; }
    std::string Result(const char* word, int standard, int msi) const
    {
        return std::string("result ") + word + " " + std::to_string(Code(standard, msi));
    }
};

TEST_P(ExitCodeRun, Ok)
{
    std::wstring folder = Install(L"Ok", "a.txt\n", {L"a.txt"});
    std::wstring log = LogPath(L"ok");
    EXPECT_EQ(Run(folder, With(L"-s", log)), 0);
    EXPECT_EQ(ResultOf(log), Result("ok", 0, 0));
    EXPECT_FALSE(Exists(folder + L"\\a.txt"));
    ASSERT_TRUE(BatchFinished());
    EXPECT_FALSE(Exists(folder));
}

TEST_P(ExitCodeRun, RestartRequired)
{
    std::wstring folder = Install(L"Restart", "locked.dat\n", {L"locked.dat"});
    HoldOpenWithoutDeleteSharing(folder + L"\\locked.dat");
    std::wstring log = LogPath(L"restart");
    EXPECT_EQ(Run(folder, With(L"-s", log)), Code(0, 3010));
    EXPECT_EQ(ResultOf(log), Result("restart-required", 0, 3010));
    EXPECT_TRUE(IsPendingDeletion(folder + L"\\locked.dat"));
}

TEST_P(ExitCodeRun, FilesLeft)
{
    // A listed folder that holds a file the list does not name stays.
    std::wstring folder = Install(L"Left", "sub\n", {L"sub\\unlisted.txt"});
    std::wstring log = LogPath(L"left");
    EXPECT_EQ(Run(folder, With(L"-s", log)), Code(0, 1603));
    EXPECT_EQ(ResultOf(log), Result("files-left", 0, 1603));
    EXPECT_TRUE(Exists(folder + L"\\sub\\unlisted.txt"));
}

TEST_P(ExitCodeRun, ListMissing)
{
    std::wstring folder = Install(L"Missing", "", {L"a.txt"});
    ASSERT_TRUE(DeleteFileW((folder + L"\\Uninstall.lst").c_str()));
    std::wstring log = LogPath(L"missing");
    ChildProcess child;
    ASSERT_TRUE(child.Start(folder + L"\\Uninstall.exe", With(L"-s", log)));
    // Where someone can see it, a silent run still reports the missing list.
    HWND box = NextBox(child);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(PressButton(box, IDOK));
    EXPECT_EQ(Finish(child), Code(0, 1603));
    EXPECT_EQ(ResultOf(log), Result("list-missing", 0, 1603));
    EXPECT_TRUE(Exists(folder + L"\\a.txt"));
}

TEST_P(ExitCodeRun, Declined)
{
    std::wstring folder = Install(L"Declined", "a.txt\n", {L"a.txt"});
    std::wstring log = LogPath(L"declined");
    ChildProcess child;
    ASSERT_TRUE(child.Start(folder + L"\\Uninstall.exe", With(L"", log)));
    HWND box = NextBox(child);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), OwnText(IDS_CONTINUEUNINSTALL));
    ASSERT_TRUE(PressButton(box, IDNO));
    EXPECT_EQ(Finish(child), Code(0, 1602));
    EXPECT_EQ(ResultOf(log), Result("declined", 0, 1602));
    EXPECT_TRUE(Exists(folder + L"\\a.txt"));
}

TEST_P(ExitCodeRun, Cancelled)
{
    std::wstring folder = Install(L"Cancelled", "", {});
    std::wstring log = LogPath(L"cancelled");
    ChildProcess child;
    ASSERT_TRUE(child.Start(folder + L"\\Uninstall.exe", With(L"-setup", log), folder.c_str()));
    HWND setup = WaitForProcessWindow(child, L"#32770", kRunTimeoutMs);
    ASSERT_NE(setup, nullptr);
    PostMessageW(setup, WM_CLOSE, 0, 0);
    EXPECT_EQ(Finish(child), Code(1, 1602));
    EXPECT_EQ(ResultOf(log), Result("cancelled", 1, 1602));
}

TEST_P(ExitCodeRun, StoppedSetupPreview)
{
    std::wstring folder = Install(L"Stopped", "", {});
    std::wstring log = LogPath(L"stopped");
    EnvironmentGuard preview(L"ZORVEX_PREVIEW", L"1");
    EXPECT_EQ(Run(folder, With(L"-setup", log)), Code(0, 1603));
    EXPECT_EQ(ResultOf(log), Result("stopped", 0, 1603));
}

TEST_P(ExitCodeRun, Busy)
{
    std::wstring folder = Install(L"Busy", "a.txt\n", {L"a.txt"});
    std::wstring log = LogPath(L"busy");
    // This process holds the lock as a run of the program would.
    ASSERT_TRUE(TakeRunLock());
    EXPECT_EQ(Run(folder, With(L"-s", log)), Code(0, 1618));
    ReleaseRunLock();
    EXPECT_EQ(ResultOf(log), Result("busy", 0, 1618));
    EXPECT_TRUE(Exists(folder + L"\\a.txt"));
    EXPECT_TRUE(batchProcesses_.empty());
}

INSTANTIATE_TEST_SUITE_P(Codes, ExitCodeRun, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "MsiCodes" : "DefaultCodes");
                         });

// One setup or uninstall at a time on the machine: a second one changes
// nothing and says so; the batch file's -wait run is no such run; a run that
// ended abnormally blocks nobody.
TEST_F(DeploymentRun, TwoRunsAtOnceAndARunThatEndedAbnormally)
{
    std::wstring first = Install(L"First", "a.txt\n", {L"a.txt"});
    std::wstring second = Install(L"Second", "b.txt\n", {L"b.txt"});
    ChildProcess holder;
    ASSERT_TRUE(holder.Start(first + L"\\Uninstall.exe", L""));
    HWND question = NextBox(holder);
    ASSERT_NE(question, nullptr) << "the first uninstall does not ask";

    std::wstring busyLog = LogPath(L"busy");
    EXPECT_EQ(Run(second, L"-s -exitcodes=msi -log=" + busyLog), 1618);
    EXPECT_EQ(Events(busyLog), std::vector<std::string>{"result busy 1618"});
    EXPECT_TRUE(Exists(second + L"\\b.txt"));
    EXPECT_TRUE(Exists(second + L"\\Uninstall.lst"));
    EXPECT_TRUE(batchProcesses_.empty());

    // Not silent: a box says so, in the caption of the mode asked for.
    struct Ask {
        const wchar_t* arguments;
        UINT caption;
    };
    for (const Ask& ask : {Ask{L"", IDS_UNINSTALLZVX}, Ask{L"-setup", IDS_UNINSTTITLE}}) {
        ChildProcess child;
        ASSERT_TRUE(child.Start(second + L"\\Uninstall.exe", ask.arguments, second.c_str()));
        HWND box = NextBox(child);
        ASSERT_NE(box, nullptr) << ask.arguments;
        EXPECT_EQ(MessageBoxText(box), OwnText(IDS_ALREADYRUNNING)) << ask.arguments;
        EXPECT_EQ(WindowText(box), OwnText(ask.caption)) << ask.arguments;
        ASSERT_TRUE(PressButton(box, IDOK));
        EXPECT_EQ(Finish(child), 0) << ask.arguments;
    }
    EXPECT_TRUE(Exists(second + L"\\b.txt"));

    // The batch file's pause neither waits for the lock nor is refused.
    DWORD start = GetTickCount();
    EXPECT_EQ(Run(second, L"-wait"), 0);
    DWORD spent = GetTickCount() - start;
    EXPECT_GE(spent, 2000u);
    EXPECT_LT(spent, 15000u);

    // The first run ends without releasing the lock. (Without another handle
    // on it, the lock would simply be gone; this one keeps it, abandoned.)
    HANDLE watcher = OpenMutexW(SYNCHRONIZE, FALSE, kRunLockName);
    ASSERT_NE(watcher, nullptr) << GetLastError();
    holder.Terminate();
    std::wstring afterLog = LogPath(L"after");
    EXPECT_EQ(Run(second, L"-s -exitcodes=msi -log=" + afterLog), 0);
    EXPECT_FALSE(Exists(second + L"\\b.txt"));
    std::vector<std::string> notes = EventsOf(afterLog, "note");
    EXPECT_EQ(notes, std::vector<std::string>{"note \"an earlier setup or uninstall ended without releasing the lock\""});
    EXPECT_EQ(ResultOf(afterLog), "result ok 0");
    CloseHandle(watcher);
    ASSERT_TRUE(BatchFinished());
    EXPECT_TRUE(Exists(first + L"\\a.txt"));
}

// An unelevated user can make an object of the lock's name first and hold it:
// it must not keep every later uninstall from running. Only a lock that
// SYSTEM or Administrators own is honoured.
TEST_F(DeploymentRun, ALockSomeoneElseMadeNeverBlocksTheRun)
{
    struct Squat {
        const wchar_t* security;
        const char* note;
    };
    const std::string name = "Global\\\\Zorvex.SetupOrUninstall";
    const Squat squats[] = {
        {L"O:S-1-5-21-1-2-3-1001D:P(A;;GA;;;WD)",
         "note \"the lock Global\\\\Zorvex.SetupOrUninstall belongs neither to SYSTEM nor to Administrators: the run "
         "goes on without guarding against a second setup or uninstall\""},
        {L"O:S-1-5-21-1-2-3-1001D:P(A;;GA;;;SY)",
         "note \"the lock Global\\\\Zorvex.SetupOrUninstall cannot be had (error 5): the run goes on without "
         "guarding against a second setup or uninstall\""},
    };
    int n = 0;
    for (const Squat& squat : squats) {
        std::wstring folder = Install(L"Squatted " + std::to_wstring(n), "a.txt\n", {L"a.txt"});
        std::wstring log = LogPath(L"squatted-" + std::to_wstring(n++));
        ScopedSecurityMutex planted(squat.security);
        ASSERT_TRUE(planted.Owned());
        EXPECT_EQ(Run(folder, L"-s -exitcodes=msi -log=" + log), 0);
        EXPECT_FALSE(Exists(folder + L"\\a.txt"));
        EXPECT_EQ(EventsOf(log, "note"), std::vector<std::string>{squat.note});
        EXPECT_EQ(ResultOf(log), "result ok 0");
        ASSERT_TRUE(BatchFinished());
    }

    // The same name, owned by Administrators and held: another run. (No log:
    // the exit code is made from the result word all the same.)
    std::wstring folder = Install(L"Held", "a.txt\n", {L"a.txt"});
    ScopedSecurityMutex held(kRunLockSecurity);
    ASSERT_TRUE(held.Owned());
    EXPECT_EQ(Run(folder, L"-s -exitcodes=msi"), 1618);
    EXPECT_TRUE(Exists(folder + L"\\a.txt"));
}

// -log= names the log on the command line, quoted either way, whatever the
// path holds; it wins over ZORVEX_LOG and is refused where ZORVEX_LOG is.
TEST_F(DeploymentRun, TheLogSwitchWithBlanksQuotesAndCmdCharacters)
{
    std::wstring logFolder = root_ + L"\\R&D (x) 100% ^@!\\Log files";
    CreateDirectoryW((root_ + L"\\R&D (x) 100% ^@!").c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryW(logFolder.c_str(), nullptr));
    std::wstring log = logFolder + L"\\z.log";
    std::wstring variableLog = LogPath(L"variable");
    EnvironmentGuard variable(L"ZORVEX_LOG", variableLog.c_str());

    std::wstring one = Install(L"One", "a.txt\n", {L"a.txt"});
    std::wstring two = Install(L"Two", "a.txt\n", {L"a.txt"});
    std::wstring arguments[] = {L"-s \"-log=" + log + L"\"", L"-log=\"" + log + L"\" -s"};
    EXPECT_EQ(Run(one, arguments[0]), 0);
    EXPECT_EQ(Run(two, arguments[1]), 0);
    EXPECT_FALSE(Exists(one + L"\\a.txt"));
    EXPECT_FALSE(Exists(two + L"\\a.txt"));
    std::vector<LogLine> starts = LinesOf(ReadChangeLog(log), "start");
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].Fields[0], "uninstall");
    EXPECT_EQ(starts[0].Texts[0], L"\"" + one + L"\\Uninstall.exe\" " + arguments[0]);
    EXPECT_EQ(starts[1].Texts[0], L"\"" + two + L"\\Uninstall.exe\" " + arguments[1]);
    EXPECT_EQ(EventsOf(log, "result"), (std::vector<std::string>{"result ok 0", "result ok 0"}));

    // Refused in the install folder, which it would keep from being removed;
    // the variable is not taken instead.
    std::wstring three = Install(L"Three", "a.txt\n", {L"a.txt"});
    EXPECT_EQ(Run(three, L"-s -log=" + three + L"\\z.log"), 0);
    ASSERT_TRUE(BatchFinished());
    EXPECT_FALSE(Exists(three)) << "a log kept the install folder";
    // The switch won: the variable's log has only the lines of the batch
    // file's -wait runs, which inherit the variable and are given no switch.
    std::vector<LogLine> variableStarts = LinesOf(ReadChangeLog(variableLog), "start");
    EXPECT_EQ(variableStarts.size(), 3u);
    for (const LogLine& start : variableStarts)
        EXPECT_EQ(start.Fields[0], "none") << start.Raw;
}

// A service or a run as SYSTEM in session 0: nobody sees a window there, and
// the caller meant the run to run. It is silent, shows no box, and logs the
// boxes it would have shown.
TEST_F(DeploymentRun, AWindowStationNobodySeesMakesTheRunSilentAndShowsNoBox)
{
    HiddenStation station(L"zvx-deploy-station");
    ASSERT_TRUE(station.Made());
    ASSERT_EQ(station.Flags(), 0) << "Wine shows this station as visible";
    const std::string stationNote =
        "note \"the window station \\\"zvx-deploy-station\\\" shows no window (UOI_FLAGS 0x0): the run is silent "
        "and shows no box\"";

    // No question: the uninstall runs, and the batch file calls for no warning.
    std::wstring folder = Install(L"Hidden", "a.txt\n", {L"a.txt"});
    std::wstring log = LogPath(L"hidden");
    EXPECT_EQ(RunHidden(station, folder, L"-exitcodes=msi -log=" + log), 0);
    EXPECT_FALSE(Exists(folder + L"\\a.txt"));
    EXPECT_EQ(EventsOf(log, "note"), std::vector<std::string>{stationNote});
    EXPECT_TRUE(EventsOf(log, "message-box").empty());
    std::vector<std::string> batch = EventsOf(log, "batch-line");
    ASSERT_FALSE(batch.empty());
    for (const std::string& line : batch)
        EXPECT_EQ(line.find("/warning"), std::string::npos) << line;
    EXPECT_EQ(ResultOf(log), "result ok 0");
    ASSERT_TRUE(BatchFinished());
    EXPECT_FALSE(Exists(folder));

    // The one box of a silent run, the missing list, is logged as not shown.
    std::wstring missing = Install(L"Hidden Missing", "", {L"a.txt"});
    ASSERT_TRUE(DeleteFileW((missing + L"\\Uninstall.lst").c_str()));
    log = LogPath(L"hidden-missing");
    EXPECT_EQ(RunHidden(station, missing, L"-exitcodes=msi -log=" + log), 1603);
    std::wstring cannotOpen = OwnText(IDS_CANNOTOPENLIST);
    cannotOpen.replace(cannotOpen.find(L"%s"), 2, L"Uninstall.lst");
    std::vector<LogLine> boxes = LinesOf(ReadChangeLog(log), "message-box");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Fields, std::vector<std::string>{"none"});
    EXPECT_EQ(boxes[0].Texts, (std::vector<std::wstring>{OwnText(IDS_UNINSTALLZVX), cannotOpen}));
    EXPECT_EQ(ResultOf(log), "result list-missing 1603");
    EXPECT_TRUE(Exists(missing + L"\\a.txt"));
}

}  // namespace
