// The gate through which every change goes: for each operation and each state
// of what it acts on, in a run and in a preview, the answer, the last error and
// the exact log lines, against Wine's real file system and registry.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "common/base/change_log.h"
#include "common/base/gate.h"
#include "common/base/identity.h"
#include "common/base/preview_record.h"
#include "tests/support/base_support.h"
#include "tests/support/program_support.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::EnvironmentGuard;

const wchar_t kDir[] = L"C:\\zvx-tests\\gate";
const wchar_t kLog[] = L"C:\\zvx-tests\\gate.log";
const wchar_t kHolding[] = L"C:\\Zorvex.Pending";
const wchar_t kTestKey[] = L"Software\\ZorvexGateTest";

std::wstring In(const wchar_t* name)
{
    return std::wstring(kDir) + L"\\" + name;
}

// A path as a log line quotes it: in double quotes, each backslash doubled.
std::string Q(const std::wstring& path)
{
    std::string quoted = "\"";
    for (wchar_t c : path) {
        if (c == L'\\')
            quoted += "\\\\";
        else
            quoted += static_cast<char>(c);
    }
    return quoted + "\"";
}

std::string QIn(const wchar_t* name)
{
    return Q(In(name));
}

// The events of the log, time and pid cut off, without the start and result lines.
std::vector<std::string> Events()
{
    std::string bytes;
    std::vector<std::string> events;
    if (!testsupport::ReadBytes(kLog, bytes))
        return events;
    static const std::regex head("^\\S+ \\d+ (.*)$");
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        std::string line = bytes.substr(start, end - start);
        std::smatch match;
        if (std::regex_match(line, match, head) && match[1].str().rfind("start ", 0) != 0 &&
            match[1].str().rfind("result ", 0) != 0)
            events.push_back(match[1].str());
        start = end == std::string::npos ? bytes.size() : end + 1;
    }
    return events;
}

HANDLE HoldWithoutDeleteSharing(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

class GateTest : public ::testing::Test {
public:
    void SetUp() override
    {
        testsupport::MakeScratchFolder(L"gate");
        DeleteFileW(kLog);
        testsupport::RemoveTree(kHolding);
        testsupport::DeleteTree(HKEY_CURRENT_USER, kTestKey);
    }
    void TearDown() override
    {
        End();
        for (HANDLE handle : held_)
            CloseHandle(handle);
        testsupport::RemoveUnixSymlink(In(L"link"));
        testsupport::RemoveTree(kDir);
        testsupport::RemoveTree(kHolding);
        testsupport::DeleteTree(HKEY_CURRENT_USER, kTestKey);
        DeleteFileW(kLog);
    }

    void Begin(bool preview)
    {
        DeleteFileW(kLog);
        EnvironmentGuard log(L"ZORVEX_LOG", kLog);
        EnvironmentGuard previewVariable(L"ZORVEX_PREVIEW", nullptr);
        OpenChangeLog();
        if (preview)
            BeginPreview();
        StartChangeLog(L"uninstall", preview, L"Uninstall.exe -s");
        started_ = true;
    }
    std::vector<std::string> End()
    {
        if (!started_)
            return {};
        GateEndHolding();
        CloseChangeLog(0);
        EndPreviewRecord();
        started_ = false;
        return Events();
    }
    void Hold(HANDLE handle) { held_.push_back(handle); }

    std::vector<HANDLE> held_;
    bool started_ = false;
    testsupport::RegistryValueGuard pending_{HKEY_LOCAL_MACHINE, testsupport::kSessionManagerKey,
                                             L"PendingFileRenameOperations"};
};

struct Outcome {
    int Answer;
    DWORD Error;
};

// One row: the state before, the operation, and for a run and for a preview
// what it answers, logs and leaves.
struct Row {
    const char* What;
    std::function<void(GateTest&)> Before;
    std::function<Outcome()> Act;
    int Answer;
    DWORD Error;
    std::vector<std::string> RunLines;
    std::vector<std::string> PreviewLines;
    // What the run leaves; a preview must leave what Before made.
    std::function<bool()> AfterRun;
    std::function<bool()> Untouched;
};

Outcome Removal(const std::wstring& path, const std::wstring& exact)
{
    GateAnswer answer = GateRemove(path.c_str(), {exact.c_str(), nullptr});
    return {static_cast<int>(answer), GetLastError()};
}

bool Exists(const wchar_t* name)
{
    return testsupport::ExistsVerbatim(In(name));
}

constexpr int kDone = static_cast<int>(GateAnswer::Done);
constexpr int kAbsent = static_cast<int>(GateAnswer::Absent);
constexpr int kRefused = static_cast<int>(GateAnswer::Refused);
constexpr int kNotEmpty = static_cast<int>(GateAnswer::NotEmpty);
constexpr int kInUse = static_cast<int>(GateAnswer::InUse);
constexpr int kLinkedReadOnly = static_cast<int>(GateAnswer::LinkedReadOnly);

std::vector<Row> Removals()
{
    return {
        {"a plain file", [](GateTest&) { testsupport::WriteBytes(In(L"a.txt"), "a"); },
         [] { return Removal(In(L"a.txt"), In(L"a.txt")); }, kDone, 0, {"file-delete ok " + QIn(L"a.txt")},
         {"file-delete preview " + QIn(L"a.txt")}, [] { return !Exists(L"a.txt"); }, [] { return Exists(L"a.txt"); }},
        {"nothing at the name", [](GateTest&) {}, [] { return Removal(In(L"m.txt"), In(L"m.txt")); }, kAbsent,
         ERROR_FILE_NOT_FOUND, {"file-delete error=2 " + QIn(L"m.txt")}, {"file-delete error=2 " + QIn(L"m.txt")},
         [] { return true; }, [] { return true; }},
        {"a file held open without delete sharing",
         [](GateTest& test) {
             testsupport::WriteBytes(In(L"h.txt"), "h");
             test.Hold(HoldWithoutDeleteSharing(In(L"h.txt")));
         },
         [] { return Removal(In(L"h.txt"), In(L"h.txt")); }, kInUse, ERROR_SHARING_VIOLATION,
         {"file-delete error=32 " + QIn(L"h.txt")}, {"file-delete error=32 " + QIn(L"h.txt")},
         [] { return Exists(L"h.txt"); }, [] { return Exists(L"h.txt"); }},
        // Wine, like Windows before 10 1709, cannot delete a read-only file as it is.
        {"a read-only file of one name",
         [](GateTest&) {
             testsupport::WriteBytes(In(L"r.txt"), "r");
             SetFileAttributesW(In(L"r.txt").c_str(), FILE_ATTRIBUTE_READONLY);
         },
         [] { return Removal(In(L"r.txt"), In(L"r.txt")); }, kDone, 0,
         {"file-attributes ok 0x00000080 " + QIn(L"r.txt"), "file-delete ok " + QIn(L"r.txt")},
         {"file-attributes preview 0x00000080 " + QIn(L"r.txt"), "file-delete preview " + QIn(L"r.txt")},
         [] { return !Exists(L"r.txt"); },
         [] { return (GetFileAttributesW(In(L"r.txt").c_str()) & FILE_ATTRIBUTE_READONLY) != 0; }},
        {"a read-only file with a second name elsewhere",
         [](GateTest&) {
             CreateDirectoryW(In(L"other").c_str(), nullptr);
             testsupport::WriteBytes(In(L"other\\r2.txt"), "r2");
             CreateHardLinkW(In(L"r2.txt").c_str(), In(L"other\\r2.txt").c_str(), nullptr);
             SetFileAttributesW(In(L"r2.txt").c_str(), FILE_ATTRIBUTE_READONLY);
         },
         [] { return Removal(In(L"r2.txt"), In(L"r2.txt")); }, kLinkedReadOnly, ERROR_ACCESS_DENIED,
         {"file-delete error=5 " + QIn(L"r2.txt")}, {"file-delete error=5 " + QIn(L"r2.txt")},
         [] {
             return Exists(L"r2.txt") &&
                    (GetFileAttributesW(In(L"other\\r2.txt").c_str()) & FILE_ATTRIBUTE_READONLY) != 0;
         },
         [] { return (GetFileAttributesW(In(L"other\\r2.txt").c_str()) & FILE_ATTRIBUTE_READONLY) != 0; }},
        {"an empty folder", [](GateTest&) { CreateDirectoryW(In(L"e").c_str(), nullptr); },
         [] { return Removal(In(L"e"), In(L"e")); }, kDone, 0, {"folder-delete ok " + QIn(L"e")},
         {"folder-delete preview " + QIn(L"e")}, [] { return !Exists(L"e"); }, [] { return Exists(L"e"); }},
        {"a folder that holds a file",
         [](GateTest&) {
             CreateDirectoryW(In(L"f").c_str(), nullptr);
             testsupport::WriteBytes(In(L"f\\x.txt"), "x");
         },
         [] { return Removal(In(L"f"), In(L"f")); }, kNotEmpty, ERROR_DIR_NOT_EMPTY,
         {"folder-delete error=145 " + QIn(L"f")}, {"folder-delete error=145 " + QIn(L"f")},
         [] { return Exists(L"f\\x.txt"); }, [] { return Exists(L"f\\x.txt"); }},
        {"a file whose final path is not the one asked for",
         [](GateTest&) { testsupport::WriteBytes(In(L"a.txt"), "a"); },
         [] { return Removal(In(L"a.txt"), In(L"b.txt")); }, kRefused, 4395,
         {"file-delete error=4395 " + QIn(L"a.txt")}, {"file-delete error=4395 " + QIn(L"a.txt")},
         [] { return Exists(L"a.txt"); }, [] { return Exists(L"a.txt"); }},
        {"a file reached through a linked folder",
         [](GateTest&) {
             CreateDirectoryW(In(L"outside").c_str(), nullptr);
             testsupport::WriteBytes(In(L"outside\\x.txt"), "x");
             testsupport::MakeUnixSymlink(In(L"link"), In(L"outside"));
         },
         [] { return Removal(In(L"link\\x.txt"), In(L"link\\x.txt")); }, kRefused, 4395,
         {"file-delete error=4395 " + QIn(L"link\\x.txt")}, {"file-delete error=4395 " + QIn(L"link\\x.txt")},
         [] { return Exists(L"outside\\x.txt"); }, [] { return Exists(L"outside\\x.txt"); }},
        // "c." spelled plainly is "c": only the extended form names it, and the log says so.
        {"a name that only the extended form reaches",
         [](GateTest&) {
             testsupport::WriteBytes(testsupport::Verbatim(In(L"c.")), "dotted");
             testsupport::WriteBytes(In(L"c"), "plain");
         },
         [] { return Removal(In(L"c."), In(L"c.")); }, kDone, 0,
         {"file-delete ok " + Q(L"\\\\?\\" + In(L"c."))}, {"file-delete preview " + Q(L"\\\\?\\" + In(L"c."))},
         [] { return !Exists(L"c.") && Exists(L"c"); }, [] { return Exists(L"c.") && Exists(L"c"); }},
    };
}

std::vector<Row> HoldsAndMakes()
{
    std::string held = Q(std::wstring(kHolding) + L"\\0.tmp");
    return {
        {"a file moved to the holding folder for the restart",
         [](GateTest&) { testsupport::WriteBytes(In(L"u.dll"), "u"); },
         [] {
             wchar_t name[MAX_PATH];
             GateAnswer answer = GateHoldForRestart(In(L"u.dll").c_str(), {nullptr, kDir}, name, MAX_PATH);
             return Outcome{static_cast<int>(answer), GetLastError()};
         },
         kDone, 0,
         {"folder-create ok " + Q(kHolding), "file-attributes ok 0x00000006 " + Q(kHolding),
          "file-rename ok " + QIn(L"u.dll") + " " + held, "restart-delete ok " + held,
          "restart-delete ok " + Q(kHolding)},
         {"folder-create preview " + Q(kHolding), "file-attributes preview 0x00000006 " + Q(kHolding),
          "file-rename preview " + QIn(L"u.dll") + " " + held, "restart-delete preview " + held,
          "restart-delete preview " + Q(kHolding)},
         [] {
             return !Exists(L"u.dll") && testsupport::Exists(std::wstring(kHolding) + L"\\0.tmp") &&
                    testsupport::IsPendingDeletion(std::wstring(kHolding) + L"\\0.tmp");
         },
         [] { return Exists(L"u.dll") && !testsupport::Exists(kHolding); }},
        {"a file that cannot even be opened for the move",
         [](GateTest& test) {
             testsupport::WriteBytes(In(L"h.dll"), "h");
             test.Hold(HoldWithoutDeleteSharing(In(L"h.dll")));
         },
         [] {
             wchar_t name[MAX_PATH];
             GateAnswer answer = GateHoldForRestart(In(L"h.dll").c_str(), {nullptr, kDir}, name, MAX_PATH);
             return Outcome{static_cast<int>(answer), GetLastError()};
         },
         kInUse, ERROR_SHARING_VIOLATION, {"file-rename error=32 " + QIn(L"h.dll")},
         {"file-rename error=32 " + QIn(L"h.dll")}, [] { return Exists(L"h.dll"); },
         [] { return Exists(L"h.dll") && !testsupport::Exists(kHolding); }},
        {"a new file at a free name",
         [](GateTest&) {},
         [] {
             wchar_t path[MAX_PATH];
             wcscpy(path, kDir);
             wcscat(path, L"\\");
             ScopedFileHandle file;
             bool made = GateCreateNew(path, wcslen(path), MAX_PATH, L"n", L".tmp", kNewOtherNames, file);
             return Outcome{made ? kDone : -1, GetLastError()};
         },
         kDone, 0, {"file-write ok " + QIn(L"n.tmp")}, {"file-write preview " + QIn(L"n.tmp")},
         [] { return Exists(L"n.tmp"); }, [] { return !Exists(L"n.tmp"); }},
        {"a new file where the name is taken and no other name may be used",
         [](GateTest&) { testsupport::WriteBytes(In(L"n.tmp"), "taken"); },
         [] {
             wchar_t path[MAX_PATH];
             wcscpy(path, kDir);
             wcscat(path, L"\\");
             ScopedFileHandle file;
             bool made = GateCreateNew(path, wcslen(path), MAX_PATH, L"n", L".tmp", 0, file);
             return Outcome{made ? kDone : -1, GetLastError()};
         },
         -1, ERROR_FILE_EXISTS, {"file-write error=80 " + QIn(L"n.tmp")}, {"file-write error=80 " + QIn(L"n.tmp")},
         [] { return true; }, [] { return true; }},
        {"a new file in a folder reached through a link",
         [](GateTest&) {
             CreateDirectoryW(In(L"outside").c_str(), nullptr);
             testsupport::MakeUnixSymlink(In(L"link"), In(L"outside"));
         },
         [] {
             wchar_t path[MAX_PATH];
             wcscpy(path, kDir);
             wcscat(path, L"\\link\\");
             ScopedFileHandle file;
             bool made = GateCreateNew(path, wcslen(path), MAX_PATH, L"b", L".bat",
                                       kNewOtherNames | kNewProtected | kNewFolderPlain, file);
             return Outcome{made ? kDone : -1, GetLastError()};
         },
         -1, 4395, {"file-write error=4395 " + QIn(L"link\\b.bat")}, {"file-write error=4395 " + QIn(L"link\\b.bat")},
         [] { return !Exists(L"outside\\b.bat"); }, [] { return !Exists(L"outside\\b.bat"); }},
        {"a file written anew over a file of two names",
         [](GateTest&) {
             CreateDirectoryW(In(L"other").c_str(), nullptr);
             testsupport::WriteBytes(In(L"other\\t.dat"), "kept");
             CreateHardLinkW(In(L"t.dat").c_str(), In(L"other\\t.dat").c_str(), nullptr);
         },
         [] {
             ScopedFileHandle file;
             bool made = GateCreateFile(In(L"t.dat").c_str(), file);
             return Outcome{made ? kDone : -1, GetLastError()};
         },
         -1, 4395, {"file-write error=4395 " + QIn(L"t.dat")}, {"file-write error=4395 " + QIn(L"t.dat")},
         [] {
             std::string bytes;
             return testsupport::ReadBytes(In(L"other\\t.dat"), bytes) && bytes == "kept";
         },
         [] { return true; }},
    };
}

std::string Key(const wchar_t* below)
{
    return Q(std::wstring(kTestKey) + below);
}

LONG DeleteKeyOf(const wchar_t* below)
{
    return GateDeleteKey(HKEY_CURRENT_USER, 0, (std::wstring(kTestKey) + below).c_str());
}

std::vector<Row> RegistryAndProcesses()
{
    return {
        {"a value in a key that is not there yet", [](GateTest&) {},
         [] {
             LONG result = GateSetValue(HKEY_CURRENT_USER, 0, (std::wstring(kTestKey) + L"\\k").c_str(), L"v", REG_SZ,
                                        L"x", 4);
             return Outcome{static_cast<int>(result), static_cast<DWORD>(result)};
         },
         0, 0,
         {"key-create ok HKCU " + Key(L"\\k"), "value-set ok HKCU REG_SZ " + Key(L"\\k") + " \"v\" \"x\""},
         {"key-create preview HKCU " + Key(L"\\k"), "value-set preview HKCU REG_SZ " + Key(L"\\k") + " \"v\" \"x\""},
         [] { return testsupport::StringOf(HKEY_CURRENT_USER, std::wstring(kTestKey) + L"\\k", L"v") == L"x"; },
         [] { return !testsupport::HasKey(HKEY_CURRENT_USER, kTestKey); }},
        {"a key that still has a subkey",
         [](GateTest&) { testsupport::SetString(HKEY_CURRENT_USER, std::wstring(kTestKey) + L"\\k\\sub", L"", L"s"); },
         [] {
             LONG result = DeleteKeyOf(L"\\k");
             return Outcome{static_cast<int>(result), static_cast<DWORD>(result)};
         },
         ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, {"key-delete error=5 HKCU " + Key(L"\\k")},
         {"key-delete error=5 HKCU " + Key(L"\\k")},
         [] { return testsupport::HasKey(HKEY_CURRENT_USER, std::wstring(kTestKey) + L"\\k\\sub"); },
         [] { return testsupport::HasKey(HKEY_CURRENT_USER, std::wstring(kTestKey) + L"\\k\\sub"); }},
        {"a key tree",
         [](GateTest&) { testsupport::SetString(HKEY_CURRENT_USER, std::wstring(kTestKey) + L"\\k\\sub", L"", L"s"); },
         [] {
             GateDeleteKeyTree(HKEY_CURRENT_USER, 0, (std::wstring(kTestKey) + L"\\k").c_str());
             return Outcome{0, 0};
         },
         0, 0, {"key-delete ok HKCU " + Key(L"\\k\\sub"), "key-delete ok HKCU " + Key(L"\\k")},
         {"key-delete preview HKCU " + Key(L"\\k\\sub"), "key-delete preview HKCU " + Key(L"\\k")},
         [] { return !testsupport::HasKey(HKEY_CURRENT_USER, std::wstring(kTestKey) + L"\\k"); },
         [] { return testsupport::HasKey(HKEY_CURRENT_USER, std::wstring(kTestKey) + L"\\k\\sub"); }},
        {"a value that is not there",
         [](GateTest&) { testsupport::SetString(HKEY_CURRENT_USER, std::wstring(kTestKey) + L"\\k", L"w", L"w"); },
         [] {
             LONG result = GateDeleteValue(HKEY_CURRENT_USER, 0, (std::wstring(kTestKey) + L"\\k").c_str(), L"v");
             return Outcome{static_cast<int>(result), static_cast<DWORD>(result)};
         },
         ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND, {"value-delete error=2 HKCU " + Key(L"\\k") + " \"v\""},
         {"value-delete error=2 HKCU " + Key(L"\\k") + " \"v\""},
         [] { return true; }, [] { return true; }},
        {"a process", [](GateTest&) {},
         [] {
             STARTUPINFOW startup = {};
             startup.cb = sizeof startup;
             PROCESS_INFORMATION process = {};
             wchar_t commandLine[] = L"cmd.exe /d /c exit";
             BOOL started = GateCreateProcess(L"C:\\windows\\system32\\cmd.exe", commandLine, FALSE, &startup,
                                              &process);
             if (process.hProcess != nullptr) {
                 WaitForSingleObject(process.hProcess, 10000);
                 CloseHandle(process.hProcess);
                 CloseHandle(process.hThread);
             }
             return Outcome{started ? kDone : -1, 0};
         },
         kDone, 0, {"process ok \"C:\\\\windows\\\\system32\\\\cmd.exe\" \"cmd.exe /d /c exit\""},
         {"process preview \"C:\\\\windows\\\\system32\\\\cmd.exe\" \"cmd.exe /d /c exit\""}, [] { return true; },
         [] { return true; }},
        {"a shell notice", [](GateTest&) {},
         [] {
             GateNotifyShell(SHCNE_ASSOCCHANGED, SHCNF_IDLIST);
             return Outcome{kDone, 0};
         },
         kDone, 0, {"shell-notice ok 0x08000000"}, {"shell-notice preview 0x08000000"}, [] { return true; },
         [] { return true; }},
    };
}

void CheckRows(GateTest& test, const std::vector<Row>& rows)
{
    for (const Row& row : rows) {
        for (bool preview : {false, true}) {
            SCOPED_TRACE(std::string(row.What) + (preview ? " (preview)" : " (run)"));
            testsupport::MakeScratchFolder(L"gate");
            testsupport::RemoveTree(kHolding);
            testsupport::DeleteTree(HKEY_CURRENT_USER, kTestKey);
            row.Before(test);
            test.Begin(preview);
            Outcome outcome = row.Act();
            std::vector<std::string> lines = test.End();
            for (HANDLE handle : test.held_)
                CloseHandle(handle);
            test.held_.clear();
            EXPECT_EQ(outcome.Answer, row.Answer);
            EXPECT_EQ(outcome.Error, row.Error);
            EXPECT_EQ(lines, preview ? row.PreviewLines : row.RunLines);
            EXPECT_TRUE(preview ? row.Untouched() : row.AfterRun());
            testsupport::RemoveUnixSymlink(In(L"link"));
        }
    }
}

TEST_F(GateTest, RemovalsAnswerAndLogAsTheGoldenTableSays)
{
    CheckRows(*this, Removals());
}

TEST_F(GateTest, HoldsAndNewFilesAnswerAndLogAsTheGoldenTableSays)
{
    CheckRows(*this, HoldsAndMakes());
}

TEST_F(GateTest, RegistryChangesProcessesAndNoticesAnswerAndLogAsTheGoldenTableSays)
{
    CheckRows(*this, RegistryAndProcesses());
}

}  // namespace
