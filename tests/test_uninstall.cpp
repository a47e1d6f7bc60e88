// The real Uninstall.exe, copied into scratch install folders and started as a
// child process; its message boxes are answered through window messages, and
// the self-removal batch file is read and then waited for.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/support/base_support.h"
#include "tests/support/change_log_support.h"
#include "tests/support/program_support.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"
#include "tests/support/window_support.h"
#include "common/base/change_log.h"
#include "common/base/long_path.h"
#include "uninstall/install_list.h"
#include "uninstall/uninstall_run.h"

using namespace testsupport;

namespace {

constexpr DWORD kRunTimeoutMs = 30000;
// Where a run moves what waits for the restart (no earlier one left it there).
const wchar_t kHoldingFolder[] = L"C:\\Zorvex.Pending";
constexpr DWORD kBoxTimeoutMs = 15000;
constexpr DWORD kBatchTimeoutMs = 45000;

std::wstring OwnText(UINT id)
{
    wchar_t text[1024] = {};
    LoadStringW(GetModuleHandleW(nullptr), id, text, 1024);
    return text;
}

// A path as the batch file spells it: OEM bytes, the short form when the long
// one has no OEM spelling, every '%' doubled.
std::string BatchSpelling(const std::wstring& path)
{
    std::string bytes = Narrow(path, CP_OEMCP);
    if (bytes.empty())
        bytes = Narrow(ShortPath(path), CP_OEMCP);
    std::string doubled;
    for (char c : bytes) {
        if (c == '%')
            doubled += '%';
        doubled += c;
    }
    return doubled;
}

std::string ExpectedBatch(const std::wstring& program, const std::wstring& folder, bool silent,
                          const std::wstring& batchPath = BatchFilePath())
{
    std::string p = BatchSpelling(program);
    std::string f = BatchSpelling(folder);
    std::string text = "\"" + p + "\" /wait\r\n";
    for (int i = 0; i < 5; i++)
        text += "del \"" + p + "\"\r\nrd \"" + f + "\"\r\nif not exist \"" + p + "\" goto done\r\n";
    text += ":done\r\n";
    if (!silent)
        text += "if exist \"" + p + "\" \"" + p + "\" /warning\r\n";
    text += "del \"" + BatchSpelling(batchPath) + "\"\r\n";
    return text;
}

class UninstallRun : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteFileW(BatchFilePath().c_str());
        RemoveTree(kHoldingFolder);
        root_ = MakeScratchFolder(L"uninstall");
    }

    void TearDown() override
    {
        EXPECT_TRUE(WaitForProcesses(batchProcesses_, kBatchTimeoutMs)) << "the batch file did not finish";
        for (HMODULE module : loaded_)
            FreeLibrary(module);
        for (HANDLE handle : held_)
            CloseHandle(handle);
        RemoveTree(root_);
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((std::wstring(kHoldingFolder) + L"*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do
                RemoveTree(std::wstring(L"C:\\") + data.cFileName);
            while (FindNextFileW(find, &data));
            FindClose(find);
        }
        DeleteFileW(BatchFilePath().c_str());
        pendingRenames_.Restore();
    }

    // A file (and the folders above it) below folder.
    void Put(const std::wstring& folder, const std::wstring& relative, const std::string& bytes = "data")
    {
        std::wstring path = folder + L"\\" + relative;
        for (size_t i = folder.size() + 1; i < path.size(); i++) {
            if (path[i] == L'\\')
                CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
        }
        ASSERT_TRUE(WriteBytes(path, bytes)) << "cannot write " << testing::PrintToString(path);
    }

    // An install folder below the scratch root holding the program and the list.
    std::wstring Install(const std::wstring& name, const std::string& list)
    {
        std::wstring folder = root_ + L"\\" + name;
        CreateDirectoryW(folder.c_str(), nullptr);
        EXPECT_TRUE(CopyFileW((BinDir() + L"\\Uninstall.exe").c_str(), (folder + L"\\Uninstall.exe").c_str(), FALSE));
        EXPECT_TRUE(WriteBytes(folder + L"\\Uninstall.lst", list));
        return folder;
    }

    // Starts the program that lies in folder.
    void Start(ChildProcess& child, const std::wstring& folder, const std::wstring& arguments)
    {
        ASSERT_TRUE(child.Start(folder + L"\\Uninstall.exe", arguments));
    }

    // A silent run with another temporary folder, which the child inherits.
    int RunWithTemp(const std::wstring& folder, const std::wstring& temp)
    {
        EnvironmentGuard tmp(L"TMP", temp.c_str());
        EnvironmentGuard tempVariable(L"TEMP", temp.c_str());
        return Run(folder, L"-s");
    }

    // Waits for the program's end and notes the batch process it started (while
    // its handle still keeps its id from being reused), which TearDown waits for.
    int Finish(ChildProcess& child)
    {
        int code = child.Wait(kRunTimeoutMs);
        for (DWORD id : ChildProcessIds(child.Id(), L"cmd.exe"))
            batchProcesses_.push_back(id);
        return code;
    }

    int Run(const std::wstring& folder, const std::wstring& arguments)
    {
        ChildProcess child;
        Start(child, folder, arguments);
        return Finish(child);
    }

    // Waits until the batch processes have ended.
    bool BatchFinished()
    {
        bool finished = WaitForProcesses(batchProcesses_, kBatchTimeoutMs);
        batchProcesses_.clear();
        return finished;
    }

    // The next message box of child, once previous (if any) has closed.
    HWND NextBox(const ChildProcess& child, HWND previous = nullptr)
    {
        while (previous != nullptr && IsWindow(previous))
            Sleep(50);
        return WaitForProcessWindow(child, L"#32770", kBoxTimeoutMs);
    }

    // Neither files nor list deleted, and no batch file written or started.
    void ExpectNothingRemoved(const std::wstring& folder, std::initializer_list<const wchar_t*> names)
    {
        for (const wchar_t* name : names)
            EXPECT_TRUE(Exists(folder + L"\\" + name)) << testing::PrintToString(std::wstring(name));
        EXPECT_FALSE(Exists(BatchFilePath()));
        EXPECT_TRUE(batchProcesses_.empty());
    }

    void HoldOpenWithoutDeleteSharing(const std::wstring& path)
    {
        HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        held_.push_back(handle);
    }

    void LoadLibraryFrom(const std::wstring& path)
    {
        HMODULE module = LoadLibraryW(path.c_str());
        ASSERT_NE(module, nullptr);
        loaded_.push_back(module);
    }

    // A copy of the test library, loaded: in use, so it cannot be deleted but can be renamed.
    void PutLoadedLibrary(const std::wstring& path)
    {
        ASSERT_TRUE(CopyFileW((BinDir() + L"\\tests\\zvx_probe.dll").c_str(), path.c_str(), FALSE));
        LoadLibraryFrom(path);
    }

    // Every entry below folder, relative to it and sorted; listed in the "\\?\"
    // form, so that a name ending in a dot shows as it is.
    static std::vector<std::wstring> EntriesBelow(const std::wstring& folder, const std::wstring& relative = L"")
    {
        std::vector<std::wstring> entries;
        WIN32_FIND_DATAW data;
        std::wstring pattern = L"\\\\?\\" + folder + (relative.empty() ? L"" : L"\\" + relative) + L"\\*";
        HANDLE find = FindFirstFileW(pattern.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return entries;
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring entry = relative.empty() ? name : relative + L"\\" + name;
            entries.push_back(entry);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                for (const std::wstring& below : EntriesBelow(folder, entry))
                    entries.push_back(below);
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
        std::sort(entries.begin(), entries.end());
        return entries;
    }

    // The files scheduled for deletion at restart in a holding folder of a run
    // (C:\Zorvex.Pending, or C:\Zorvex.Pending_<16 hexadecimal digits> where
    // that name was taken), as full paths.
    static std::vector<std::wstring> HeldFiles()
    {
        static const std::wregex held(L"^\\\\\\?\\?\\\\C:\\\\Zorvex\\.Pending(_[0-9A-F]{16})?\\\\\\d+\\.tmp$",
                                      std::regex::icase);
        std::vector<std::wstring> files;
        for (const std::wstring& name : PendingDeletions()) {
            if (std::regex_match(name, held))
                files.push_back(name.substr(4));
        }
        return files;
    }

    // The names below folder scheduled for deletion at restart, relative to it,
    // sorted, each as often as it is scheduled.
    static std::vector<std::wstring> PendingBelow(const std::wstring& folder)
    {
        std::wstring prefix = L"\\??\\" + folder + L"\\";
        std::vector<std::wstring> names;
        for (const std::wstring& name : PendingDeletions()) {
            if (name.size() > prefix.size() && CompareStringOrdinal(name.c_str(), static_cast<int>(prefix.size()),
                                                                    prefix.c_str(), -1, TRUE) == CSTR_EQUAL)
                names.push_back(name.substr(prefix.size()));
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::wstring root_;
    std::vector<DWORD> batchProcesses_;
    std::vector<HMODULE> loaded_;
    std::vector<HANDLE> held_;
    RegistryValueGuard pendingRenames_{HKEY_LOCAL_MACHINE, kSessionManagerKey, L"PendingFileRenameOperations"};
};

// Folders first, a file before its folder, blanks and both line ends, a name in
// the ANSI code page, entries that are gone, the program and the list themselves.
const char kFullList[] =
    "sub\r\n"
    "sub\\deeper\r\n"
    "Zorvex.exe\r\n"
    "\r\n"
    "sub\\deeper\\b.txt  \t\r\n"
    "readme.txt\n"
    "Caf\xe9 notes.txt\n"
    "sub/a.txt\n"
    "missing.txt\n"
    "Uninstall.exe\n"
    "Uninstall.lst";

class SilentUninstall : public UninstallRun, public testing::WithParamInterface<const wchar_t*> {};

TEST_P(SilentUninstall, RemovesEveryEntryThenTheBatchFileRemovesProgramAndFolder)
{
    std::wstring folder = Install(GetParam(), kFullList);
    for (const wchar_t* file : {L"Zorvex.exe", L"readme.txt", L"Caf\u00e9 notes.txt", L"sub\\a.txt",
                                L"sub\\deeper\\b.txt", L"zorvex.gid", L"zorvex.fts"})
        Put(folder, file);
    ASSERT_TRUE(SetFileAttributesW((folder + L"\\readme.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    size_t pendingBefore = PendingDeletions().size();

    ASSERT_EQ(Run(folder, L"-s"), 0);
    // The batch file's first line makes it wait two seconds: time enough to read it.
    std::string batch;
    ASSERT_TRUE(ReadBytes(BatchFilePath(), batch)) << "no batch file";
    EXPECT_FALSE(batchProcesses_.empty()) << "the batch file was not started";

    for (const wchar_t* gone : {L"Zorvex.exe", L"readme.txt", L"Caf\u00e9 notes.txt", L"sub", L"zorvex.gid",
                                L"zorvex.fts", L"Uninstall.lst"})
        EXPECT_FALSE(Exists(folder + L"\\" + gone)) << testing::PrintToString(std::wstring(gone));
    EXPECT_EQ(PendingDeletions().size(), pendingBefore);

    EXPECT_EQ(batch, ExpectedBatch(folder + L"\\Uninstall.exe", folder, true));
    // What cmd needs, spelled out: a CJK name in its short form, é as its OEM byte, '%' doubled.
    if (folder.find(L'\u4e2d') != std::wstring::npos) {
        for (char c : batch)
            EXPECT_LT(static_cast<unsigned char>(c), 0x80u) << batch;
    } else if (folder.find(L'\u00e9') != std::wstring::npos && GetOEMCP() == 437) {
        EXPECT_NE(batch.find("\\Caf\x82 50%% Tools\\Uninstall.exe\" /wait\r\n"), std::string::npos) << batch;
    }

    ASSERT_TRUE(BatchFinished());
    EXPECT_FALSE(Exists(folder + L"\\Uninstall.exe"));
    EXPECT_FALSE(Exists(folder));
    EXPECT_FALSE(Exists(BatchFilePath()));
}

INSTANTIATE_TEST_SUITE_P(InstallFolders, SilentUninstall,
                         testing::Values(L"Zorvex", L"Caf\u00e9 50% Tools", L"50% Caf\u00e9 \u4e2d\u6587"));

TEST_F(UninstallRun, FilesInUseAreRenamedOrScheduledButNeverTheProgramOrTheList)
{
    std::wstring folder = Install(L"Files In Use",
                                  "shellext.dll\nother.dll\nlocked.dat\nplain.txt\nUninstall.exe\nUninstall.lst\n");
    std::wstring probe = BinDir() + L"\\tests\\zvx_probe.dll";
    ASSERT_TRUE(CopyFileW(probe.c_str(), (folder + L"\\shellext.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(probe.c_str(), (folder + L"\\other.dll").c_str(), FALSE));
    Put(folder, L"shellext.dll.0.tmp", "left from an earlier run");
    Put(folder, L"locked.dat");
    Put(folder, L"plain.txt");
    LoadLibraryFrom(folder + L"\\shellext.dll");
    LoadLibraryFrom(folder + L"\\other.dll");
    HoldOpenWithoutDeleteSharing(folder + L"\\locked.dat");

    ASSERT_EQ(Run(folder, L"-s"), 0);

    // What is in use waits for the restart in the holding folder at the root of
    // its volume, where nobody but SYSTEM and Administrators can make the name
    // scheduled lead elsewhere; the folder is scheduled after what it holds.
    EXPECT_FALSE(Exists(folder + L"\\plain.txt"));
    EXPECT_FALSE(Exists(folder + L"\\shellext.dll"));
    EXPECT_FALSE(Exists(folder + L"\\other.dll"));
    EXPECT_TRUE(Exists(folder + L"\\shellext.dll.0.tmp")) << "not listed: left as it was";
    EXPECT_EQ(PendingBelow(kHoldingFolder), (std::vector<std::wstring>{L"0.tmp", L"1.tmp"}));
    EXPECT_TRUE(Exists(std::wstring(kHoldingFolder) + L"\\0.tmp"));
    EXPECT_TRUE(Exists(std::wstring(kHoldingFolder) + L"\\1.tmp"));
    std::vector<std::wstring> pending = PendingDeletions();
    auto position = [&](const std::wstring& name) {
        return std::find(pending.begin(), pending.end(), L"\\??\\" + name) - pending.begin();
    };
    EXPECT_LT(position(std::wstring(kHoldingFolder) + L"\\1.tmp"), position(kHoldingFolder));
    EXPECT_LT(position(kHoldingFolder), static_cast<long>(pending.size()));
    EXPECT_EQ(Attributes(kHoldingFolder) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_TRUE(Exists(folder + L"\\locked.dat"));
    EXPECT_TRUE(IsPendingDeletion(folder + L"\\locked.dat"));
    EXPECT_FALSE(Exists(folder + L"\\locked.dat.0.tmp"));

    EXPECT_FALSE(Exists(folder + L"\\Uninstall.exe.0.tmp"));
    EXPECT_FALSE(Exists(folder + L"\\Uninstall.lst.0.tmp"));
    EXPECT_FALSE(Exists(folder + L"\\Uninstall.lst"));
    for (const std::wstring& name : PendingDeletions()) {
        EXPECT_EQ(name.find(L"Uninstall.exe"), std::wstring::npos) << testing::PrintToString(name);
        EXPECT_EQ(name.find(L"Uninstall.lst"), std::wstring::npos) << testing::PrintToString(name);
    }
    // Silent: the folder is not scheduled, whatever its name.
    EXPECT_FALSE(IsPendingDeletion(folder));
    ASSERT_TRUE(BatchFinished());
    EXPECT_FALSE(Exists(folder + L"\\Uninstall.exe"));
}

TEST_F(UninstallRun, EntriesReachingOutsideTheFolderAreLeftAlone)
{
    std::wstring outside = root_ + L"\\outside";
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
    const std::vector<std::wstring> victims = {L"v1.txt", L"v2.txt", L"v3.txt", L"v4.txt",
                                               L"v5.txt", L"v6.txt", L"v7.txt"};
    for (const std::wstring& victim : victims) {
        Put(outside, victim);
        ASSERT_TRUE(SetFileAttributesW((outside + L"\\" + victim).c_str(), FILE_ATTRIBUTE_READONLY));
    }
    std::string outsideAnsi = Narrow(outside, CP_ACP);
    std::string outsideRooted = outsideAnsi.substr(2);   // without "C:"
    std::string longLine = std::string(2047, 'x') + "kept3.txt";
    std::string list = "..\\outside\\v1.txt\n"
                       "sub\\..\\..\\outside\\v2.txt\n" +
                       outsideAnsi + "\\v3.txt\n" + outsideRooted + "\\v4.txt\n" +
                       "C:..\\outside\\v5.txt\n"
                       "../outside/v6.txt\n"
                       ".. \\outside\\v7.txt\n"
                       "..\\outside\n"
                       "kept1.txt::$DATA\n" +
                       std::string("kept2.txt\0junk\n", 15) + longLine + "\r\n" + "gone.txt\n";
    std::wstring folder = Install(L"Escapes", list);
    Put(folder, L"sub\\x.txt");
    for (const wchar_t* kept : {L"kept1.txt", L"kept2.txt", L"kept3.txt", L"gone.txt"})
        Put(folder, kept);

    ASSERT_EQ(Run(folder, L"-s"), 0);

    for (const std::wstring& victim : victims) {
        std::wstring path = outside + L"\\" + victim;
        EXPECT_TRUE(Exists(path)) << testing::PrintToString(victim);
        // Not even touched: its read-only attribute was never cleared.
        EXPECT_NE(Attributes(path) & FILE_ATTRIBUTE_READONLY, 0u) << testing::PrintToString(victim);
    }
    // A stream name, a line holding a NUL byte and the pieces of an over-long line are no entries.
    for (const wchar_t* kept : {L"kept1.txt", L"kept2.txt", L"kept3.txt"})
        EXPECT_TRUE(Exists(folder + L"\\" + kept)) << testing::PrintToString(std::wstring(kept));
    EXPECT_FALSE(Exists(folder + L"\\gone.txt"));
    ASSERT_TRUE(BatchFinished());
    for (const std::wstring& victim : victims)
        SetFileAttributesW((outside + L"\\" + victim).c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The run's link fixture: C:\zvx-link-fixture\Install\link is a symbolic link
// to C:\zvx-link-fixture\Outside, made on the host side (Wine cannot make one),
// which Wine reports as a reparse point.
TEST_F(UninstallRun, EntriesThroughALinkedFolderAreLeftAlone)
{
    const std::wstring fixture = L"C:\\zvx-link-fixture";
    std::wstring folder = fixture + L"\\Install";
    std::wstring outside = fixture + L"\\Outside";
    ASSERT_NE(Attributes(folder + L"\\link") & FILE_ATTRIBUTE_REPARSE_POINT, 0u)
        << "the link fixture (tests/program_links.sh) did not run";
    ASSERT_NE(Attributes(folder + L"\\link"), INVALID_FILE_ATTRIBUTES);
    ASSERT_NE(Attributes(L"\\\\?\\" + folder + L"\\dotted.") & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    ASSERT_NE(Attributes(L"\\\\?\\" + folder + L"\\dotted."), INVALID_FILE_ATTRIBUTES);
    Put(outside, L"victim.txt");
    Put(outside, L"sub\\victim2.txt");
    Put(outside, L"victim3.txt");
    // "dotted." in its plain form is the plain folder "dotted"; a call retried in
    // the extended-length form would go through the link.
    Put(folder, L"dotted\\own.txt");
    Put(folder, L"plain\\own.txt");
    ASSERT_TRUE(CopyFileW((BinDir() + L"\\Uninstall.exe").c_str(), (folder + L"\\Uninstall.exe").c_str(), FALSE));
    // The plain folder's entries come before, between and after the linked ones,
    // and it is listed before its file, so that there is a second pass.
    ASSERT_TRUE(WriteBytes(folder + L"\\Uninstall.lst", "plain\nlink\\victim.txt\nplain\\own.txt\n"
                                                       "link/sub/victim2.txt\nlink\\sub\ndotted.\\victim3.txt\n"));

    ASSERT_EQ(Run(folder, L"-s"), 0);
    ASSERT_TRUE(BatchFinished());

    EXPECT_TRUE(Exists(outside + L"\\victim.txt"));
    EXPECT_TRUE(Exists(outside + L"\\sub\\victim2.txt"));
    EXPECT_TRUE(Exists(outside + L"\\sub"));
    EXPECT_TRUE(Exists(outside + L"\\victim3.txt"));
    EXPECT_FALSE(Exists(folder + L"\\plain"));
    EXPECT_FALSE(Exists(folder + L"\\Uninstall.exe"));
    EXPECT_FALSE(Exists(folder + L"\\Uninstall.lst"));
    RemoveTree(folder + L"\\dotted");
    RemoveTree(folder + L"\\plain");
    DeleteFileW((outside + L"\\sub\\victim2.txt").c_str());
    DeleteFileW((outside + L"\\victim.txt").c_str());
    DeleteFileW((outside + L"\\victim3.txt").c_str());
}

// The entries are deleted first and looked at only when that is refused, and a
// listed folder that stays counts as checked for the entries below it. A listed
// link, or a name ending in a dot whose extended form is the link, must not
// vouch for what follows below it: those entries are still checked, in every
// spelling, and left alone.
TEST_F(UninstallRun, AListedLinkNeverVouchesForTheEntriesBelowIt)
{
    const std::wstring fixture = L"C:\\zvx-link-fixture";
    std::wstring folder = fixture + L"\\Install";
    std::wstring outside = fixture + L"\\Outside";
    ASSERT_NE(Attributes(folder + L"\\link") & FILE_ATTRIBUTE_REPARSE_POINT, 0u)
        << "the link fixture (tests/program_links.sh) did not run";
    Put(outside, L"victim.txt");
    Put(outside, L"sub\\victim2.txt");
    Put(outside, L"victim3.txt");
    // The plain spelling of "dotted." is this plain folder, which holds a file
    // and so stays.
    Put(folder, L"dotted\\own.txt");
    ASSERT_TRUE(CopyFileW((BinDir() + L"\\Uninstall.exe").c_str(), (folder + L"\\Uninstall.exe").c_str(), FALSE));
    ASSERT_TRUE(WriteBytes(folder + L"\\Uninstall.lst",
                           "link\nlink\\victim.txt\nlink\\sub\\victim2.txt\ndotted.\ndotted.\\victim3.txt\n"));

    ASSERT_EQ(Run(folder, L"-s"), 0);
    ASSERT_TRUE(BatchFinished());

    EXPECT_TRUE(Exists(outside + L"\\victim.txt"));
    EXPECT_TRUE(Exists(outside + L"\\sub\\victim2.txt"));
    EXPECT_TRUE(Exists(outside + L"\\victim3.txt"));
    EXPECT_TRUE(Exists(folder + L"\\dotted\\own.txt"));
    RemoveTree(folder + L"\\dotted");
    DeleteFileW((outside + L"\\sub\\victim2.txt").c_str());
    RemoveDirectoryW((outside + L"\\sub").c_str());
    DeleteFileW((outside + L"\\victim.txt").c_str());
    DeleteFileW((outside + L"\\victim3.txt").c_str());
}

// Trailing\link is a symbolic link to TrailingTarget. "link\" names the link's
// target to every call; the entry is the link itself, and the attributes of
// what it leads to stay as they are. A trailing separator on any other entry
// names that entry.
TEST_F(UninstallRun, ATrailingSeparatorNamesTheEntryNeverWhatALinkLeadsTo)
{
    const std::wstring folder = L"C:\\zvx-link-fixture\\Trailing";
    const std::wstring target = L"C:\\zvx-link-fixture\\TrailingTarget";
    ASSERT_NE(Attributes(folder + L"\\link") & FILE_ATTRIBUTE_REPARSE_POINT, 0u)
        << "the link fixture (tests/program_links.sh) did not run";
    Put(target, L"kept.txt", "outside");
    // Wine keeps no read-only attribute on a folder; these two it keeps.
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    Put(folder, L"notes.txt");
    Put(folder, L"sub\\f.txt");
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\empty").c_str(), nullptr));
    ASSERT_TRUE(SetFileAttributesW((folder + L"\\empty").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(CopyFileW((BinDir() + L"\\Uninstall.exe").c_str(), (folder + L"\\Uninstall.exe").c_str(), FALSE));
    ASSERT_TRUE(WriteBytes(folder + L"\\Uninstall.lst", "link\\\nnotes.txt/\nempty\\\\\nsub\\f.txt\\\nsub/\n"));

    ASSERT_EQ(Run(folder, L"-s"), 0);
    ASSERT_TRUE(BatchFinished());

    EXPECT_EQ(Attributes(target) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    std::string bytes;
    EXPECT_TRUE(ReadBytes(target + L"\\kept.txt", bytes));
    EXPECT_EQ(bytes, "outside");
    // Windows would remove the link as a link; Wine removes a linked folder's
    // target, which holds a file, so nothing goes.
    EXPECT_EQ(EntriesBelow(folder), (std::vector<std::wstring>{L"link", L"link\\kept.txt"}));
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Help\zorvex.gid is a symbolic link to HelpTarget\index.gid, which Wine shows
// as a plain file; clearing or deleting it by name would act on the target.
TEST_F(UninstallRun, HelpIndexFilesGoOnlyWhenTheyAreFilesOfTheFolderItself)
{
    const std::wstring folder = L"C:\\zvx-link-fixture\\Help";
    const std::wstring target = L"C:\\zvx-link-fixture\\HelpTarget\\index.gid";
    const DWORD kReadOnlyHidden = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    ASSERT_TRUE(Exists(folder + L"\\zorvex.gid")) << "the link fixture (tests/program_links.sh) did not run";
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), kReadOnlyHidden));
    Put(folder, L"zorvex.fts", "index");
    ASSERT_TRUE(SetFileAttributesW((folder + L"\\zorvex.fts").c_str(), kReadOnlyHidden));
    ASSERT_TRUE(CopyFileW((BinDir() + L"\\Uninstall.exe").c_str(), (folder + L"\\Uninstall.exe").c_str(), FALSE));
    ASSERT_TRUE(WriteBytes(folder + L"\\Uninstall.lst", "Uninstall.exe\n"));

    ASSERT_EQ(Run(folder, L"-s"), 0);
    ASSERT_TRUE(BatchFinished());

    EXPECT_EQ(EntriesBelow(folder), std::vector<std::wstring>{L"zorvex.gid"});
    std::string bytes;
    EXPECT_TRUE(ReadBytes(target, bytes));
    EXPECT_EQ(bytes, "outside");
    EXPECT_EQ(Attributes(target) & (kReadOnlyHidden | FILE_ATTRIBUTE_SYSTEM), kReadOnlyHidden);
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);

    // A hard link: its attributes are those of the file outside as well, so they
    // stay; the name in the install folder goes.
    std::wstring outside = root_ + L"\\outside";
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
    Put(outside, L"hidden.dat", "kept");
    ASSERT_TRUE(SetFileAttributesW((outside + L"\\hidden.dat").c_str(), FILE_ATTRIBUTE_HIDDEN));
    std::wstring linked = Install(L"Hard Link", "Uninstall.exe\n");
    ASSERT_TRUE(CreateHardLinkW((linked + L"\\zorvex.gid").c_str(), (outside + L"\\hidden.dat").c_str(), nullptr));

    ASSERT_EQ(Run(linked, L"-s"), 0);
    ASSERT_TRUE(BatchFinished());

    EXPECT_FALSE(Exists(linked + L"\\zorvex.gid"));
    EXPECT_EQ(Attributes(outside + L"\\hidden.dat") & (kReadOnlyHidden | FILE_ATTRIBUTE_SYSTEM),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(ReadBytes(outside + L"\\hidden.dat", bytes));
    EXPECT_EQ(bytes, "kept");
}

// An installer or editor that still holds the list open for writing does not
// stop the run.
TEST_F(UninstallRun, AListHeldOpenForWritingIsStillRead)
{
    std::wstring folder = Install(L"Held List", "a.txt\nsub\\b.txt\nsub\n");
    Put(folder, L"a.txt");
    Put(folder, L"sub\\b.txt");
    HANDLE writer = CreateFileW((folder + L"\\Uninstall.lst").c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    held_.push_back(writer);

    ChildProcess child;
    Start(child, folder, L"-s");
    HWND box = WaitForProcessWindow(child, L"#32770", kRunTimeoutMs);
    EXPECT_EQ(box, nullptr) << "the list was not opened: " << testing::PrintToString(MessageBoxText(box));
    if (box != nullptr)
        PressButton(box, IDOK);
    ASSERT_EQ(Finish(child), 0);
    ASSERT_TRUE(BatchFinished());
    EXPECT_FALSE(Exists(folder + L"\\a.txt"));
    EXPECT_FALSE(Exists(folder + L"\\sub"));
}

// A folder on an entry's path is looked at in each spelling a call may take.
// Attributes that cannot be read for any reason but "not there" may hide a
// junction (access denied, a network error; Wine, which runs as root, shows a
// symbolic link that leads to itself that way), so the entry is skipped.
TEST(FolderVerdict, AFolderWhoseAttributesCannotBeReadCountsAsALink)
{
    const uint32_t kNone = INVALID_FILE_ATTRIBUTES;
    const uint32_t kDir = FILE_ATTRIBUTE_DIRECTORY;
    const uint32_t kLinkDir = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    struct Case {
        const char* what;
        std::vector<FolderLook> looks;
        FolderVerdict verdict;
    };
    const Case cases[] = {
        {"plain folder", {{kDir | FILE_ATTRIBUTE_READONLY, 0}}, FolderVerdict::Plain},
        {"access denied", {{kNone, ERROR_ACCESS_DENIED}}, FolderVerdict::Link},
        {"network path gone", {{kNone, ERROR_BAD_NETPATH}}, FolderVerdict::Link},
        {"link that cannot be resolved", {{kNone, ERROR_CANT_RESOLVE_FILENAME}}, FolderVerdict::Link},
        {"junction", {{kLinkDir, 0}}, FolderVerdict::Link},
        {"not found", {{kNone, ERROR_FILE_NOT_FOUND}}, FolderVerdict::Absent},
        {"invalid name", {{kNone, ERROR_INVALID_NAME}}, FolderVerdict::Absent},
        {"a file", {{FILE_ATTRIBUTE_ARCHIVE, 0}}, FolderVerdict::Absent},
        {"too long plainly, a folder extended", {{kNone, ERROR_FILENAME_EXCED_RANGE}, {kDir, 0}}, FolderVerdict::Plain},
        {"plain, extended denied", {{kDir, 0}, {kNone, ERROR_ACCESS_DENIED}}, FolderVerdict::Link},
        {"plain missing, extended a link", {{kNone, ERROR_FILE_NOT_FOUND}, {kLinkDir, 0}}, FolderVerdict::Link},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FolderVerdictOf(c.looks.data(), c.looks.size()), c.verdict) << c.what;
}

// The passes after the first only remove folders whose contents went meanwhile:
// whatever order the list has, the same entries end deleted, renamed and
// scheduled, and a file in use is scheduled once, not once a pass.
TEST_F(UninstallRun, EveryOrderOfTheListEndsTheSameAndSchedulesEachFileOnce)
{
    const std::vector<std::string> lines = {
        "app",          "app\\data",    "app\\data\\deep", "app\\data\\deep\\x.txt", "app\\data\\y.txt",
        "app\\readme.txt", "keep",       "keep\\listed.txt", "ext.dll",             "locked.dat",
        "notes.",       "missing.txt", "Uninstall.exe",  "Uninstall.lst"};
    std::vector<std::vector<std::string>> orders = {lines, std::vector<std::string>(lines.rbegin(), lines.rend())};
    std::mt19937 random(20261208);
    for (int i = 0; i < 2; i++) {
        orders.push_back(lines);
        std::shuffle(orders.back().begin(), orders.back().end(), random);
    }
    const std::vector<std::wstring> left = {L"keep", L"keep\\user.txt", L"locked.dat", L"notes"};

    for (size_t order = 0; order < orders.size(); order++) {
        std::string list;
        for (const std::string& line : orders[order])
            list += line + "\r\n";
        std::wstring folder = Install(L"Order " + std::to_wstring(order), list);
        for (const wchar_t* file : {L"app\\data\\deep\\x.txt", L"app\\data\\y.txt", L"app\\readme.txt",
                                    L"keep\\listed.txt", L"keep\\user.txt", L"locked.dat"})
            Put(folder, file);
        ASSERT_TRUE(SetFileAttributesW((folder + L"\\app\\readme.txt").c_str(), FILE_ATTRIBUTE_READONLY));
        // Only the extended-length form names it, and only that form is used: the
        // unlisted "notes" beside it, which the plain form names, stays.
        ASSERT_TRUE(WriteBytes(L"\\\\?\\" + folder + L"\\notes.", "dotted"));
        Put(folder, L"notes", "plain");
        PutLoadedLibrary(folder + L"\\ext.dll");
        HoldOpenWithoutDeleteSharing(folder + L"\\locked.dat");

        ASSERT_EQ(Run(folder, L"-s"), 0) << "order " << order << ":\n" << list;
        // One batch file at a time: they share their name.
        ASSERT_TRUE(BatchFinished());
        EXPECT_EQ(EntriesBelow(folder), left) << "order " << order << ":\n" << list;
        EXPECT_EQ(PendingBelow(folder), (std::vector<std::wstring>{L"locked.dat"}))
            << "order " << order << ":\n" << list;
        // ext.dll: in a holding folder of its own run (the earlier ones' still stand).
        EXPECT_EQ(HeldFiles().size(), order + 1) << "order " << order << ":\n" << list;
    }
}

// A file in use goes to the holding folder once: the stale ext.dll.0.tmp goes in
// the first pass, ext.dll is moved away, and the second pass (there is one: the
// first removed entries) does not look for it again.
TEST_F(UninstallRun, AnEntryRemovedInOnePassIsNotWorkedOnInTheNext)
{
    std::wstring folder = Install(L"Settled", "ext.dll.0.tmp\next.dll\nsub\nsub\\f.txt\n");
    Put(folder, L"ext.dll.0.tmp", "left from an earlier run");
    Put(folder, L"sub\\f.txt");
    PutLoadedLibrary(folder + L"\\ext.dll");

    ASSERT_EQ(Run(folder, L"-s"), 0);
    ASSERT_TRUE(BatchFinished());

    EXPECT_EQ(EntriesBelow(folder), std::vector<std::wstring>{});
    EXPECT_FALSE(Exists(folder));
    EXPECT_EQ(PendingBelow(kHoldingFolder), std::vector<std::wstring>{L"0.tmp"});
}

// What a refused deletion finds decides what follows. A read-only file is
// cleared and deleted; a read-only file in use is cleared and scheduled under
// its own name (it can be neither deleted nor renamed); a hidden file that goes
// at once keeps what it had, which matters for a hard link: its attributes are
// those of the file outside too, which stays as it is.
TEST_F(UninstallRun, ARefusedDeletionIsLookedAtAndEachKindEndsAsBefore)
{
    std::wstring outside = root_ + L"\\outside";
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
    Put(outside, L"shared.dat", "outside");
    ASSERT_TRUE(SetFileAttributesW((outside + L"\\shared.dat").c_str(), FILE_ATTRIBUTE_HIDDEN));
    std::wstring folder = Install(L"Refused", "ro.txt\nheld.txt\nlinked.dat\nsub\nsub\\ro2.txt\nhidden.txt\n");
    Put(folder, L"ro.txt");
    Put(folder, L"held.txt");
    Put(folder, L"sub\\ro2.txt");
    Put(folder, L"hidden.txt");
    for (const wchar_t* name : {L"ro.txt", L"held.txt", L"sub\\ro2.txt"})
        ASSERT_TRUE(SetFileAttributesW((folder + L"\\" + name).c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesW((folder + L"\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(CreateHardLinkW((folder + L"\\linked.dat").c_str(), (outside + L"\\shared.dat").c_str(), nullptr));
    HoldOpenWithoutDeleteSharing(folder + L"\\held.txt");

    ASSERT_EQ(Run(folder, L"-s"), 0);
    ASSERT_TRUE(BatchFinished());

    EXPECT_EQ(EntriesBelow(folder), std::vector<std::wstring>{L"held.txt"});
    EXPECT_EQ(PendingBelow(folder), std::vector<std::wstring>{L"held.txt"});
    EXPECT_EQ(Attributes(folder + L"\\held.txt") & FILE_ATTRIBUTE_READONLY, 0u);
    std::string bytes;
    EXPECT_TRUE(ReadBytes(outside + L"\\shared.dat", bytes));
    EXPECT_EQ(bytes, "outside");
    EXPECT_EQ(Attributes(outside + L"\\shared.dat") & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
}

// The preview foresees the refusals the run meets: a read-only file is cleared
// before it goes, in the preview as in the run, and a folder listed before its
// files goes in a later pass; both logs name the same changes and verdicts.
TEST_F(UninstallRun, ThePreviewMeetsTheRefusalsTheRunMeets)
{
    std::wstring folder = Install(L"Zorvex", "sub\nsub\\ro.txt\nsub\\deeper\nsub\\deeper\\f.txt\nro2.txt\n"
                                             "Uninstall.exe\nUninstall.lst\n");
    Put(folder, L"sub\\ro.txt");
    Put(folder, L"sub\\deeper\\f.txt");
    Put(folder, L"ro2.txt");
    for (const wchar_t* name : {L"sub\\ro.txt", L"ro2.txt"})
        ASSERT_TRUE(SetFileAttributesW((folder + L"\\" + name).c_str(), FILE_ATTRIBUTE_READONLY));
    std::wstring logs = root_ + L"\\logs";
    CreateDirectoryW(logs.c_str(), nullptr);
    std::vector<std::wstring> entriesBefore = EntriesBelow(folder);
    {
        EnvironmentGuard log(L"ZORVEX_LOG", (logs + L"\\preview.log").c_str());
        EnvironmentGuard preview(L"ZORVEX_PREVIEW", L"1");
        ASSERT_EQ(Run(folder, L"-s"), 0);
    }
    EXPECT_EQ(EntriesBelow(folder), entriesBefore);
    EXPECT_NE(Attributes(folder + L"\\ro2.txt") & FILE_ATTRIBUTE_READONLY, 0u);
    {
        EnvironmentGuard log(L"ZORVEX_LOG", (logs + L"\\run.log").c_str());
        EnvironmentGuard preview(L"ZORVEX_PREVIEW", nullptr);
        ASSERT_EQ(Run(folder, L"-s"), 0);
        ASSERT_TRUE(BatchFinished());
    }
    EXPECT_FALSE(Exists(folder));
    std::vector<LogLine> preview = ReadChangeLog(logs + L"\\preview.log");
    std::vector<LogLine> all = ReadChangeLog(logs + L"\\run.log");
    ASSERT_FALSE(all.empty());
    std::vector<LogLine> run;
    for (const LogLine& line : all) {
        if (line.Pid == all.front().Pid)
            run.push_back(line);
    }
    std::string f = "\"C:\\\\zvx-tests\\\\uninstall\\\\Zorvex\\\\";
    std::vector<std::string> runChanges = ChangeSet(run);
    for (const char* cleared : {"sub\\\\ro.txt", "ro2.txt"}) {
        std::string line = "file-attributes 0x00000080 " + f + cleared + "\"";
        EXPECT_EQ(std::count(runChanges.begin(), runChanges.end(), line), 1) << line;
    }
    EXPECT_EQ(ChangeSet(preview), runChanges);
    std::vector<std::string> previewVerdicts, runVerdicts;
    for (const LogLine& line : LinesOf(preview, "list-entry"))
        previewVerdicts.push_back(line.Raw);
    for (const LogLine& line : LinesOf(run, "list-entry"))
        runVerdicts.push_back(line.Raw);
    EXPECT_EQ(previewVerdicts, runVerdicts);
    EXPECT_EQ(runVerdicts, (std::vector<std::string>{
                               "list-entry deleted " + f + "sub\\\\ro.txt\"",
                               "list-entry deleted " + f + "sub\\\\deeper\\\\f.txt\"",
                               "list-entry deleted " + f + "ro2.txt\"",
                               "list-entry kept " + f + "Uninstall.exe\"",
                               "list-entry kept " + f + "Uninstall.lst\"",
                               "list-entry deleted " + f + "sub\\\\deeper\"",
                               "list-entry deleted " + f + "sub\"",
                           }));
}

// Another process swaps a listed folder for a link to a folder outside while the
// run deletes the files in it. Every deletion is made through a handle that was
// checked to lie in the install folder, and no check is kept for the next entry:
// nothing outside goes, whatever the folder leads to when a file's turn comes.
TEST_F(UninstallRun, AFolderSwappedForALinkDuringTheRunSendsNoDeletionOutside)
{
    constexpr int kFiles = 3000;
    std::string list = "data\r\n";
    for (int i = 1; i <= kFiles; i++) {
        char line[32];
        snprintf(line, sizeof line, "data\\f%04d.txt\r\n", i);
        list += line;
    }
    list += "Uninstall.exe\r\nUninstall.lst\r\n";
    std::wstring folder = Install(L"Swapped", list);
    std::wstring victim = root_ + L"\\victim";
    ASSERT_TRUE(CreateDirectoryW(victim.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\data").c_str(), nullptr));
    for (int i = 1; i <= kFiles; i++) {
        wchar_t name[32];
        swprintf(name, 32, L"\\f%04d.txt", i);
        ASSERT_TRUE(WriteBytes(folder + L"\\data" + name, "product"));
        ASSERT_TRUE(WriteBytes(victim + name, "victim"));
    }
    std::wstring logPath = root_ + L"\\swap.log";
    EnvironmentGuard log(L"ZORVEX_LOG", logPath.c_str());

    ChildProcess child;
    Start(child, folder, L"-s");
    // The second process is this one: as soon as the first file is gone, the
    // folder is renamed away and a link to the victim takes its name.
    std::wstring first = folder + L"\\data\\f0001.txt";
    for (int i = 0; i < 200000 && Exists(first); i++)
        Sleep(0);
    ASSERT_FALSE(Exists(first)) << "the run never began";
    ASSERT_TRUE(MoveFileW((folder + L"\\data").c_str(), (folder + L"\\data.away").c_str()));
    ASSERT_TRUE(MakeUnixSymlink(folder + L"\\data", victim));
    EXPECT_EQ(Finish(child), 0);
    ASSERT_TRUE(BatchFinished());
    ASSERT_TRUE(RemoveUnixSymlink(folder + L"\\data"));

    int kept = 0;
    for (int i = 1; i <= kFiles; i++) {
        wchar_t name[32];
        swprintf(name, 32, L"\\f%04d.txt", i);
        std::string bytes;
        kept += ReadBytes(victim + name, bytes) && bytes == "victim" ? 1 : 0;
    }
    EXPECT_EQ(kept, kFiles);
    // The run did meet the link (it was not over before the swap), and what went
    // is named as deleted only up to the swap.
    std::vector<LogLine> lines = ReadChangeLog(logPath);
    size_t links = 0, deleted = 0;
    for (const LogLine& line : LinesOf(lines, "list-entry")) {
        links += line.Fields[0] == "skipped-link" ? 1 : 0;
        deleted += line.Fields[0] == "deleted" ? 1 : 0;
    }
    EXPECT_GT(links, 0u) << "the swap came after the run";
    // Every file is logged as deleted or still lies in the folder renamed away. One
    // may be both under Wine: a deletion through a handle opened before the swap
    // goes to the name the file had, which names the victim's file by then, and Wine
    // then deletes nothing (on Windows the file itself goes).
    std::vector<std::wstring> away = EntriesBelow(folder + L"\\data.away");
    EXPECT_GE(deleted + away.size(), static_cast<size_t>(kFiles));
    EXPECT_LE(deleted + away.size(), static_cast<size_t>(kFiles) + 1);
}

// A listed file with a second name outside the folder, read-only: its attributes
// are that file's, outside too, and are never changed. Windows deletes such a name
// as it is where it can (10 1709 on); where it cannot (and under Wine), it is left.
TEST_F(UninstallRun, AReadOnlyFileWithASecondNameOutsideKeepsItsAttributes)
{
    std::wstring outside = root_ + L"\\outside";
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
    Put(outside, L"shared.dat", "outside");
    std::wstring folder = Install(L"Linked", "linked.dat\nplain.txt\nUninstall.exe\nUninstall.lst\n");
    Put(folder, L"plain.txt");
    ASSERT_TRUE(CreateHardLinkW((folder + L"\\linked.dat").c_str(), (outside + L"\\shared.dat").c_str(), nullptr));
    ASSERT_TRUE(SetFileAttributesW((outside + L"\\shared.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    std::wstring logPath = root_ + L"\\linked.log";
    EnvironmentGuard log(L"ZORVEX_LOG", logPath.c_str());

    ASSERT_EQ(Run(folder, L"-s"), 0);
    ASSERT_TRUE(BatchFinished());

    EXPECT_NE(Attributes(outside + L"\\shared.dat") & FILE_ATTRIBUTE_READONLY, 0u);
    std::string bytes;
    EXPECT_TRUE(ReadBytes(outside + L"\\shared.dat", bytes));
    EXPECT_EQ(bytes, "outside");
    std::vector<LogLine> lines = ReadChangeLog(logPath);
    std::string f = "\"C:\\\\zvx-tests\\\\uninstall\\\\Linked\\\\";
    EXPECT_TRUE(LinesOf(lines, "file-attributes").empty());
    std::vector<LogLine> verdicts = LinesOf(lines, "list-entry");
    ASSERT_FALSE(verdicts.empty());
    EXPECT_EQ(verdicts.back().Raw, "list-entry left " + f + "linked.dat\"");
    EXPECT_TRUE(Exists(folder + L"\\linked.dat"));
    EXPECT_EQ(LinesOf(lines, "result").front().Raw, "result files-left 0");
}

// Where the preview once foresaw another ending than the run's: a file held open
// without delete sharing (scheduled under its own name, its folder left), a list
// entry spelled with a run of separators and one in its short form (removed, and
// their folders with them), and a temporary folder reached through a link (no
// batch file made or started: result batch-failed). The preview's verdicts,
// changes and result are now the run's.
TEST_F(UninstallRun, ThePreviewForeseesWhatTheRunMeetsWhereItOnceDidNot)
{
    std::wstring folder = Install(L"Foreseen", "");
    Put(folder, L"held\\locked.dat");
    Put(folder, L"sub\\a.txt");
    Put(folder, L"Long Folder Name\\b.txt");
    std::wstring shortFolder = ShortPath(folder + L"\\Long Folder Name");
    ASSERT_FALSE(shortFolder.empty());
    std::string shortName = Narrow(shortFolder.substr(shortFolder.rfind(L'\\') + 1), CP_ACP);
    ASSERT_NE(shortName, "Long Folder Name") << "no short name here";
    std::string list = "held\\locked.dat\r\nheld\r\nsub\\\\a.txt\r\nsub\r\n" + shortName +
                       "\\b.txt\r\nLong Folder Name\r\nUninstall.exe\r\nUninstall.lst\r\n";
    ASSERT_TRUE(WriteBytes(folder + L"\\Uninstall.lst", list));
    HoldOpenWithoutDeleteSharing(folder + L"\\held\\locked.dat");
    std::wstring temp = L"C:\\zvx-link-fixture\\Temp-through-link";
    std::wstring logs = root_ + L"\\logs";
    CreateDirectoryW(logs.c_str(), nullptr);
    std::vector<std::wstring> entriesBefore = EntriesBelow(folder);
    {
        EnvironmentGuard log(L"ZORVEX_LOG", (logs + L"\\preview.log").c_str());
        EnvironmentGuard preview(L"ZORVEX_PREVIEW", L"1");
        ASSERT_EQ(RunWithTemp(folder, temp), 0);
    }
    EXPECT_EQ(EntriesBelow(folder), entriesBefore);
    {
        EnvironmentGuard log(L"ZORVEX_LOG", (logs + L"\\run.log").c_str());
        ASSERT_EQ(RunWithTemp(folder, temp), 0);
    }
    EXPECT_TRUE(batchProcesses_.empty()) << "a batch file made through a link was started";
    EXPECT_TRUE(EntriesBelow(L"C:\\zvx-link-fixture\\Temp-target").empty());
    std::vector<LogLine> preview = ReadChangeLog(logs + L"\\preview.log");
    std::vector<LogLine> run = ReadChangeLog(logs + L"\\run.log");
    std::string f = "\"C:\\\\zvx-tests\\\\uninstall\\\\Foreseen\\\\";
    std::vector<std::string> runVerdicts, previewVerdicts;
    for (const LogLine& line : LinesOf(run, "list-entry"))
        runVerdicts.push_back(line.Raw);
    for (const LogLine& line : LinesOf(preview, "list-entry"))
        previewVerdicts.push_back(line.Raw);
    EXPECT_EQ(runVerdicts, (std::vector<std::string>{
                               "list-entry scheduled " + f + "held\\\\locked.dat\"",
                               "list-entry deleted " + f + "sub\\\\\\\\a.txt\"",
                               "list-entry deleted " + f + "sub\"",
                               "list-entry deleted " + f + shortName + "\\\\b.txt\"",
                               "list-entry deleted " + f + "Long Folder Name\"",
                               "list-entry kept " + f + "Uninstall.exe\"",
                               "list-entry kept " + f + "Uninstall.lst\"",
                               "list-entry left " + f + "held\"",
                           }));
    EXPECT_EQ(previewVerdicts, runVerdicts);
    EXPECT_EQ(ChangeSet(preview), ChangeSet(run));
    std::vector<LogLine> writes = LinesOf(run, "file-write");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].Raw,
              "file-write error=4395 \"C:\\\\zvx-link-fixture\\\\Temp-through-link\\\\Uninstall_Zvx.Bat\"");
    EXPECT_EQ(LinesOf(preview, "file-write").front().Raw, writes[0].Raw);
    EXPECT_EQ(run.back().Raw, "result batch-failed 0");
    EXPECT_EQ(preview.back().Raw, "result batch-failed 0");
}

// The extended-length retry is made where that form can name something else
// than the plain one, and only there.
TEST(ExtendedRetry, IsMadeWhereThePlainFormNamesSomethingElseOrCannotReach)
{
    struct Case {
        std::wstring path;
        bool differs;
    };
    const Case cases[] = {
        {L"C:\\Zorvex\\sub\\file.txt", false},
        {L"C:\\Zorvex\\a.b c\\com10.txt", false},
        {L"C:\\Zorvex\\console\\nul-free.txt", false},
        {L"C:\\Zorvex\\" + std::wstring(229, L'x'), false},
        {L"C:\\Zorvex\\notes.", true},
        {L"C:\\Zorvex\\sub \\file.txt", true},
        {L"C:\\Zorvex\\NUL", true},
        {L"C:\\Zorvex\\sub\\com1.txt", true},
        {L"C:\\Zorvex\\Lpt\u00b9", true},
        {L"C:\\Zorvex\\aux .log", true},
        {L"C:\\Zorvex\\conout$", true},
        {L"C:\\Zorvex\\" + std::wstring(238, L'x'), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExtendedFormCanDiffer((L"\\\\?\\" + c.path).c_str()), c.differs) << testing::PrintToString(c.path);
}

// A launcher that hands the unquoted UninstallString to CreateProcessW: the
// program's own path, with its " - " and " -setup " pieces, holds no argument.
TEST_F(UninstallRun, AnUnquotedOwnPathOnTheCommandLineHoldsNoArgument)
{
    ASSERT_TRUE(CreateDirectoryW((root_ + L"\\Tools - Archivers").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root_ + L"\\Tools - Archivers\\x -setup").c_str(), nullptr));
    std::wstring folder = Install(L"Tools - Archivers\\x -setup\\Zorvex", "Zorvex.exe\nUninstall.exe\nUninstall.lst\n");
    Put(folder, L"Zorvex.exe");
    std::wstring unquoted = folder + L"\\Uninstall.exe";
    const wchar_t kUninstallEntry[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zorvex archiver";

    // As the list of installed programs starts it: the uninstall asks first.
    {
        ChildProcess child;
        ASSERT_TRUE(child.StartCommandLine(unquoted, unquoted));
        HWND box = NextBox(child);
        ASSERT_NE(box, nullptr) << "the uninstall did not start";
        EXPECT_EQ(MessageBoxText(box), OwnText(IDS_CONTINUEUNINSTALL));
        ASSERT_TRUE(PressButton(box, IDNO));
        EXPECT_EQ(Finish(child), 0);
        ExpectNothingRemoved(folder, {L"Zorvex.exe", L"Uninstall.lst"});
    }
    // With a switch after it: the silent uninstall runs, setup never starts.
    ChildProcess child;
    ASSERT_TRUE(child.StartCommandLine(unquoted, unquoted + L" -s"));
    EXPECT_EQ(Finish(child), 0);
    EXPECT_FALSE(Exists(folder + L"\\Zorvex.exe"));
    EXPECT_FALSE(Exists(folder + L"\\Uninstall.lst"));
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallEntry, 0, KEY_READ, &key), ERROR_SUCCESS)
        << "setup ran";
    if (key != nullptr)
        RegCloseKey(key);
    ASSERT_TRUE(BatchFinished());
    EXPECT_FALSE(Exists(folder));
}

TEST_F(UninstallRun, MsiRemovesNoFileAndWritesNoBatchFile)
{
    std::wstring folder = Install(L"Zorvex", "Zorvex.exe\nUninstall.exe\nUninstall.lst\n");
    Put(folder, L"Zorvex.exe");
    Put(folder, L"zorvex.gid");
    ASSERT_EQ(Run(folder, L"-msi -s"), 0);
    ExpectNothingRemoved(folder, {L"Zorvex.exe", L"zorvex.gid", L"Uninstall.lst", L"Uninstall.exe"});
}

TEST_F(UninstallRun, MissingListIsReportedEvenWhenSilentAndChangesNothing)
{
    for (const wchar_t* arguments : {L"-s", L""}) {
        std::wstring folder = Install(L"Zorvex", "");
        ASSERT_TRUE(DeleteFileW((folder + L"\\Uninstall.lst").c_str()));
        Put(folder, L"Zorvex.exe");
        Put(folder, L"zorvex.gid");
        ChildProcess child;
        Start(child, folder, arguments);
        HWND box = NextBox(child);
        ASSERT_NE(box, nullptr);
        if (arguments[0] == 0) {
            EXPECT_EQ(MessageBoxText(box), OwnText(IDS_CONTINUEUNINSTALL));
            ASSERT_TRUE(PressButton(box, IDYES));
            box = NextBox(child, box);
            ASSERT_NE(box, nullptr);
        }
        std::wstring text = MessageBoxText(box);
        EXPECT_NE(text.find(L"Uninstall.lst"), std::wstring::npos) << testing::PrintToString(text);
        EXPECT_EQ(WindowText(box), OwnText(IDS_UNINSTALLZVX));
        ASSERT_TRUE(PressButton(box, IDOK));
        EXPECT_EQ(Finish(child), 0);
        ExpectNothingRemoved(folder, {L"Zorvex.exe", L"zorvex.gid", L"Uninstall.exe"});
    }
}

// A translated format is used only when it takes exactly one string.
TEST_F(UninstallRun, TranslatedFormatsWithOtherConversionsAreReplacedByTheProgramsOwn)
{
    struct Case {
        const char* format;
        bool used;
    };
    for (const Case& c : {Case{"Liste %s fehlt (100%%)", true}, Case{"Liste %d %s %n fehlt", false}}) {
        std::wstring folder = Install(L"Translated", "");
        ASSERT_TRUE(DeleteFileW((folder + L"\\Uninstall.lst").c_str()));
        Put(folder, L"uninstall.lng",
            std::string("***messages***\r\n:STRINGS\r\nIDS_UNINSTALLZVX \"Zorvex entfernen\"\r\n") +
                "IDS_CANNOTOPENLIST \"" + c.format + "\"\r\n");
        ChildProcess child;
        Start(child, folder, L"-s");
        HWND box = NextBox(child);
        ASSERT_NE(box, nullptr) << c.format;
        EXPECT_EQ(WindowText(box), L"Zorvex entfernen") << "the language file was not read";
        std::wstring expected = c.used ? L"Liste Uninstall.lst fehlt (100%)" : OwnText(IDS_CANNOTOPENLIST);
        if (!c.used)
            expected.replace(expected.find(L"%s"), 2, L"Uninstall.lst");
        EXPECT_EQ(MessageBoxText(box), expected) << c.format;
        ASSERT_TRUE(PressButton(box, IDOK));
        EXPECT_EQ(Finish(child), 0) << c.format;
    }
}

TEST_F(UninstallRun, NoAtTheQuestionChangesNothing)
{
    std::wstring folder = Install(L"Zorvex", "Zorvex.exe\nUninstall.exe\nUninstall.lst\n");
    Put(folder, L"Zorvex.exe");
    Put(folder, L"zorvex.fts");
    ChildProcess child;
    Start(child, folder, L"");
    HWND box = NextBox(child);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), OwnText(IDS_CONTINUEUNINSTALL));
    EXPECT_EQ(WindowText(box), OwnText(IDS_UNINSTALLZVX));
    EXPECT_EQ(ButtonIds(box).size(), 2u);
    ASSERT_TRUE(PressButton(box, IDNO));
    EXPECT_EQ(Finish(child), 0);
    ExpectNothingRemoved(folder, {L"Zorvex.exe", L"zorvex.fts", L"Uninstall.lst"});
}

TEST_F(UninstallRun, RestartNoticeAppearsOnceAndAFolderNamedZorvexIsScheduled)
{
    std::wstring folder = Install(L"zorvex", "locked1.dat\nlocked2.dat\nplain.txt\nUninstall.exe\nUninstall.lst\n");
    for (const wchar_t* file : {L"locked1.dat", L"locked2.dat", L"plain.txt"})
        Put(folder, file);
    HoldOpenWithoutDeleteSharing(folder + L"\\locked1.dat");
    HoldOpenWithoutDeleteSharing(folder + L"\\locked2.dat");

    ChildProcess child;
    Start(child, folder, L"");
    HWND question = NextBox(child);
    ASSERT_NE(question, nullptr);
    ASSERT_TRUE(PressButton(question, IDYES));
    HWND notice = NextBox(child, question);
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(MessageBoxText(notice), OwnText(IDS_REBOOTREQUIRED));
    EXPECT_EQ(WindowText(notice), OwnText(IDS_UNINSTALLZVX));
    ASSERT_TRUE(PressButton(notice, IDOK));
    EXPECT_EQ(NextBox(child, notice), nullptr) << "a second notice";
    EXPECT_EQ(Finish(child), 0);

    std::string batch;
    ASSERT_TRUE(ReadBytes(BatchFilePath(), batch));
    EXPECT_EQ(batch, ExpectedBatch(folder + L"\\Uninstall.exe", folder, false));
    EXPECT_TRUE(IsPendingDeletion(folder + L"\\locked1.dat"));
    EXPECT_TRUE(IsPendingDeletion(folder + L"\\locked2.dat"));
    EXPECT_TRUE(IsPendingDeletion(folder));
    EXPECT_FALSE(Exists(folder + L"\\plain.txt"));
    ASSERT_TRUE(BatchFinished());
    EXPECT_FALSE(Exists(folder + L"\\Uninstall.exe"));
}

TEST_F(UninstallRun, WarningShowsItsTextWithTheProgramPath)
{
    std::wstring folder = Install(L"Left Behind", "");
    ChildProcess child;
    Start(child, folder, L"/warning");
    HWND box = NextBox(child);
    ASSERT_NE(box, nullptr);
    std::wstring program = folder + L"\\Uninstall.exe";
    std::wstring second = OwnText(IDS_UNINSTALLSHOULDDELETE);
    second.replace(second.find(L"%s"), 2, program);
    EXPECT_EQ(MessageBoxText(box), OwnText(IDS_UNINSTALLCOMPLETED) + L"\n" + second);
    EXPECT_EQ(WindowText(box), OwnText(IDS_UNINSTALLZVX));
    ASSERT_TRUE(PressButton(box, IDOK));
    EXPECT_EQ(Finish(child), 0);
    // Neither mode ran.
    ExpectNothingRemoved(folder, {L"Uninstall.lst"});
}

TEST_F(UninstallRun, WaitAloneSleepsAndRunsNeitherMode)
{
    std::wstring folder = Install(L"Zorvex", "Zorvex.exe\n");
    Put(folder, L"Zorvex.exe");
    ChildProcess child;
    DWORD start = GetTickCount();
    Start(child, folder, L"-wait");
    EXPECT_EQ(WaitForProcessWindow(child, L"#32770", kRunTimeoutMs), nullptr);
    EXPECT_EQ(Finish(child), 0);
    DWORD spent = GetTickCount() - start;
    EXPECT_GE(spent, 2000u);
    EXPECT_LT(spent, 15000u);
    ExpectNothingRemoved(folder, {L"Zorvex.exe", L"Uninstall.lst"});
}

// The steps come in the order the command line gives them. Two runs with the
// two orders tell them apart by two seconds: the time until the box shows, and
// the time from OK to the program's end (which under Wine has a constant cost
// of its own after a box).
TEST_F(UninstallRun, WaitAndWarningActInTheOrderGiven)
{
    std::wstring folder = Install(L"Left Behind", "");
    DWORD untilBox[2] = {};
    DWORD untilEnd[2] = {};
    const wchar_t* lines[2] = {L"-wait -warning", L"/WARNING /Wait"};
    for (int run = 0; run < 2; run++) {
        ChildProcess child;
        DWORD start = GetTickCount();
        Start(child, folder, lines[run]);
        HWND box = NextBox(child);
        ASSERT_NE(box, nullptr) << testing::PrintToString(std::wstring(lines[run]));
        untilBox[run] = GetTickCount() - start;
        DWORD pressed = GetTickCount();
        ASSERT_TRUE(PressButton(box, IDOK));
        EXPECT_EQ(Finish(child), 0);
        untilEnd[run] = GetTickCount() - pressed;
    }
    EXPECT_GE(untilBox[0], 2000u);
    EXPECT_GE(untilBox[0], untilBox[1] + 1500) << "the first run did not wait before its box";
    EXPECT_GE(untilEnd[1], untilEnd[0] + 1500) << "the second run did not wait after its box";
    ExpectNothingRemoved(folder, {L"Uninstall.lst"});
}

TEST_F(UninstallRun, UnknownSwitchRunsNeitherMode)
{
    std::wstring folder = Install(L"Zorvex", "Zorvex.exe\n");
    Put(folder, L"Zorvex.exe");
    for (const wchar_t* arguments : {L"-x", L"-s /", L"-ini"}) {
        ChildProcess child;
        Start(child, folder, arguments);
        EXPECT_EQ(WaitForProcessWindow(child, L"#32770", kRunTimeoutMs), nullptr) << arguments;
        EXPECT_EQ(Finish(child), 0) << arguments;
        ExpectNothingRemoved(folder, {L"Zorvex.exe", L"Uninstall.lst"});
    }
}

// The one batch file in temp named Uninstall_Zvx_, 16 hexadecimal digits, .Bat.
std::wstring UnpredictableBatchName(const std::wstring& temp)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((temp + L"\\Uninstall_Zvx_*").c_str(), &data);
    for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data))
        names.push_back(data.cFileName);
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
    bool shaped = names.size() == 1 && names[0].size() == 34 && names[0].compare(30, 4, L".Bat") == 0 &&
                  names[0].find_first_not_of(L"0123456789ABCDEF", 14) == 30;
    EXPECT_TRUE(shaped) << testing::PrintToString(names);
    return shaped ? names[0] : L"";
}

// Nobody but SYSTEM, Administrators and the running user is let in. (Wine keeps
// no descriptor: it reads one back from the Unix mode it made of ours, without
// the protection and Administrators, where a file made without ours also shows
// Everyone. The descriptor itself is checked in-process.)
void ExpectOnlyTheThreeGetIn(const std::wstring& path)
{
    std::wstring dacl = DaclText(path);
    const std::wstring aces[] = {L"(A;;FA;;;SY)", L"(A;;FA;;;BA)", L"(A;;FA;;;" + UserSid() + L")"};
    for (const std::wstring& ace : aces) {
        size_t at = dacl.find(ace);
        if (at != std::wstring::npos)
            dacl.erase(at, ace.size());
    }
    EXPECT_TRUE(dacl == L"D:" || dacl == L"D:P") << testing::PrintToString(DaclText(path));
}

TEST_F(UninstallRun, ANameTakenInAnyFormIsLeftAloneAndTheBatchFileGetsAnUnpredictableOne)
{
    // Host symbolic links to C:\zvx-link-fixture\Victim.txt and the missing Nowhere.txt.
    const std::wstring fixture = L"C:\\zvx-link-fixture";
    ASSERT_TRUE(Exists(fixture + L"\\Temp-link\\Uninstall_Zvx.Bat")) << "tests/program_links.sh did not run";
    for (const wchar_t* temp : {L"\\temp-file", L"\\temp-hard", L"\\temp-folder"})
        ASSERT_TRUE(CreateDirectoryW((root_ + temp).c_str(), nullptr));
    Put(root_, L"temp-file\\Uninstall_Zvx.Bat", "someone else's batch\r\n");
    Put(root_, L"hard-target.txt", "linked elsewhere\r\n");
    ASSERT_TRUE(CreateHardLinkW((root_ + L"\\temp-hard\\Uninstall_Zvx.Bat").c_str(),
                                (root_ + L"\\hard-target.txt").c_str(), nullptr));
    Put(root_, L"temp-folder\\Uninstall_Zvx.Bat\\inside.txt", "someone else's folder");
    // Each temporary folder, and every file that must read as it did.
    struct Case {
        std::wstring temp;
        std::vector<std::pair<std::wstring, std::string>> unchanged;
    };
    const Case cases[] = {
        {root_ + L"\\temp-file", {{root_ + L"\\temp-file\\Uninstall_Zvx.Bat", "someone else's batch\r\n"}}},
        {fixture + L"\\Temp-link", {{fixture + L"\\Victim.txt", "not the batch file\r\n"}}},
        {fixture + L"\\Temp-dangling", {}},
        {root_ + L"\\temp-hard", {{root_ + L"\\temp-hard\\Uninstall_Zvx.Bat", "linked elsewhere\r\n"},
                                   {root_ + L"\\hard-target.txt", "linked elsewhere\r\n"}}},
        {root_ + L"\\temp-folder", {{root_ + L"\\temp-folder\\Uninstall_Zvx.Bat\\inside.txt", "someone else's folder"}}},
    };
    std::vector<std::wstring> names;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.temp));
        std::wstring folder = Install(L"Taken " + std::to_wstring(names.size()), "Zorvex.exe\n");
        Put(folder, L"Zorvex.exe");
        ASSERT_EQ(RunWithTemp(folder, c.temp), 0);
        names.push_back(UnpredictableBatchName(c.temp));
        std::wstring batchPath = c.temp + L"\\" + names.back();
        std::string batch;
        ASSERT_TRUE(ReadBytes(batchPath, batch));
        // The designed text; its last line deletes the batch file by its own name.
        EXPECT_EQ(batch, ExpectedBatch(folder + L"\\Uninstall.exe", folder, true, batchPath));
        ExpectOnlyTheThreeGetIn(batchPath);
        ASSERT_TRUE(BatchFinished());
        EXPECT_FALSE(Exists(folder));
        EXPECT_FALSE(Exists(batchPath));
        for (const auto& file : c.unchanged) {
            EXPECT_TRUE(ReadBytes(file.first, batch) && batch == file.second) << testing::PrintToString(file.first);
        }
    }
    // The dangling link made no target and still stands: Wine hides it from
    // every call but an exclusive create.
    EXPECT_FALSE(Exists(fixture + L"\\Nowhere.txt"));
    HANDLE probe = CreateFileW((fixture + L"\\Temp-dangling\\Uninstall_Zvx.Bat").c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    if (probe != INVALID_HANDLE_VALUE)
        CloseHandle(probe);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end()) << "a name came twice";
}

// The change log is appended to only where its name holds the plain file asked
// for: an elevated run writing to a shared folder (SYSTEM's Windows Temp) must
// not append to what a planted symbolic link or hard link leads to, nor make a
// log through a linked folder.
TEST_F(UninstallRun, AChangeLogReachedThroughALinkIsRefusedAndWhatItLeadsToKept)
{
    const std::wstring fixture = L"C:\\zvx-link-fixture";
    ASSERT_TRUE(Exists(fixture + L"\\Temp-link\\Uninstall_Zvx.Bat")) << "tests/program_links.sh did not run";
    Put(root_, L"log-target.txt", "linked elsewhere\r\n");
    ASSERT_TRUE(CreateHardLinkW((root_ + L"\\hard.log").c_str(), (root_ + L"\\log-target.txt").c_str(), nullptr));
    Put(root_, L"plain.log", "");
    EnvironmentGuard preview(L"ZORVEX_PREVIEW", nullptr);
    struct Case {
        std::wstring log;
        bool accepted;
    };
    const Case cases[] = {
        {fixture + L"\\Temp-link\\Uninstall_Zvx.Bat", false},
        {fixture + L"\\Temp-through-link\\zorvex.log", false},
        {root_ + L"\\hard.log", false},
        {root_ + L"\\plain.log", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.log));
        EnvironmentGuard log(L"ZORVEX_LOG", c.log.c_str());
        OpenChangeLog();
        StartChangeLog(L"uninstall", true, L"Uninstall.exe -s");
        EXPECT_EQ(ChangeLogOn(), c.accepted);
        SetRunResult(L"ok");
        CloseChangeLog(0);
    }
    std::string bytes;
    ASSERT_TRUE(ReadBytes(fixture + L"\\Victim.txt", bytes));
    EXPECT_EQ(bytes, "not the batch file\r\n");
    EXPECT_EQ(EntriesBelow(fixture + L"\\Temp-target"), std::vector<std::wstring>{});
    ASSERT_TRUE(ReadBytes(root_ + L"\\log-target.txt", bytes));
    EXPECT_EQ(bytes, "linked elsewhere\r\n");
    ASSERT_TRUE(ReadBytes(root_ + L"\\plain.log", bytes));
    EXPECT_NE(bytes.find(" result ok 0\n"), std::string::npos) << bytes;
}

// cmd's quote rule keeps the path whole only with /s and a second pair of
// quotes: every character it treats specially is in this temporary folder's
// path, which is also given in its short form (on Windows GetTempPathW may
// answer C:\Users\ADMINI~1\...), where the file's final path is the long one.
TEST_F(UninstallRun, TheBatchFileRunsWhateverTheTemporaryFolderPathHolds)
{
    std::wstring temp = root_ + L"\\R&D ^(x) @home! it's, here";
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
    std::wstring shortTemp = ShortPath(temp);
    ASSERT_FALSE(shortTemp.empty());
    for (const std::wstring& given : {temp, shortTemp}) {
        SCOPED_TRACE(testing::PrintToString(given));
        std::wstring folder = Install(given == temp ? L"Long" : L"Short", "Zorvex.exe\n");
        Put(folder, L"Zorvex.exe");
        ASSERT_EQ(RunWithTemp(folder, given), 0);
        std::string batch;
        ASSERT_TRUE(ReadBytes(given + L"\\Uninstall_Zvx.Bat", batch)) << "no batch file";
        EXPECT_EQ(batch, ExpectedBatch(folder + L"\\Uninstall.exe", folder, true, given + L"\\Uninstall_Zvx.Bat"));
        EXPECT_FALSE(batchProcesses_.empty()) << "the batch file was not started";
        ASSERT_TRUE(BatchFinished());
        EXPECT_FALSE(Exists(folder));
        EXPECT_FALSE(Exists(temp + L"\\Uninstall_Zvx.Bat"));
    }
}

// When the batch file cannot be made as named (no such folder; a temporary
// folder reached through a symbolic link, where the file's final path is not the
// one named), no batch file is left or started, and the run ends normally with
// the program and its folder left for the user.
TEST_F(UninstallRun, ABatchFileThatCannotBeMadeAsNamedIsNeitherLeftNorStarted)
{
    const std::wstring linked = L"C:\\zvx-link-fixture\\Temp-through-link";
    ASSERT_TRUE(Exists(linked)) << "tests/program_links.sh did not run";
    for (const std::wstring& temp : {root_ + L"\\no-such-temp", linked}) {
        SCOPED_TRACE(testing::PrintToString(temp));
        std::wstring folder = Install(L"Not made", "listed.txt\n");
        Put(folder, L"listed.txt");
        ASSERT_EQ(RunWithTemp(folder, temp), 0);
        EXPECT_TRUE(batchProcesses_.empty()) << "a batch file was started";
        EXPECT_FALSE(Exists(folder + L"\\listed.txt"));
        EXPECT_TRUE(Exists(folder + L"\\Uninstall.exe"));
        EXPECT_EQ(EntriesBelow(L"C:\\zvx-link-fixture\\Temp-target"), std::vector<std::wstring>{});
        RemoveTree(folder);
    }
    EXPECT_FALSE(Exists(root_ + L"\\no-such-temp"));
}

// Puts a stand-in in the place of the system folder's cmd.exe while it lives.
class SystemInterpreterStandIn {
public:
    SystemInterpreterStandIn()
    {
        wchar_t system[MAX_PATH];
        UINT length = GetSystemDirectoryW(system, MAX_PATH);
        interpreter_ = std::wstring(system, length) + L"\\cmd.exe";
        saved_ = interpreter_ + L".zvx-saved";
        placed_ = MoveFileW(interpreter_.c_str(), saved_.c_str()) &&
                  CopyFileW((BinDir() + L"\\tests\\zvx_interpreter_recorder.exe").c_str(), interpreter_.c_str(), FALSE);
    }
    ~SystemInterpreterStandIn()
    {
        DeleteFileW(interpreter_.c_str());
        MoveFileW(saved_.c_str(), interpreter_.c_str());
    }
    SystemInterpreterStandIn(const SystemInterpreterStandIn&) = delete;
    SystemInterpreterStandIn& operator=(const SystemInterpreterStandIn&) = delete;
    bool Placed() const { return placed_; }
    const std::wstring& Path() const { return interpreter_; }

private:
    std::wstring interpreter_;
    std::wstring saved_;
    bool placed_ = false;
};

// cmd is the system folder's, started as "<system>\cmd.exe /d /v:off /s /c
// ""<batch file>""" and named as the application too. What COMSPEC names is never
// started: a variable of the user's own environment (HKCU\Environment) overrides
// the machine's, and an elevated run started from the user's session inherits it.
TEST_F(UninstallRun, TheSystemFoldersInterpreterGetsTheWholeQuotedPathAndCOMSPECIsNeverStarted)
{
    ASSERT_EQ(root_, L"C:\\zvx-tests\\uninstall");
    std::wstring temp = L"C:\\zvx-tests\\uninstall\\R&D (x) temp";
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
    std::wstring log = L"C:\\zvx-tests\\uninstall\\comspec.log";
    EnvironmentGuard logVariable(L"ZVX_COMSPEC_LOG", log.c_str());
    std::wstring planted = root_ + L"\\planted stand-in.exe";
    ASSERT_TRUE(CopyFileW((BinDir() + L"\\tests\\zvx_interpreter_recorder.exe").c_str(), planted.c_str(), FALSE));
    RegistryValueGuard userComspec(HKEY_CURRENT_USER, L"Environment", L"COMSPEC");
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, L"Environment", L"COMSPEC", planted));
    EnvironmentGuard comspec(L"COMSPEC", planted.c_str());
    std::wstring folder = Install(L"Recorded", "");
    std::string recorded;
    // Wine runs its own cmd.exe whatever file the system folder holds, unless its
    // settings tell it to take the file.
    RegistryValueGuard native(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"cmd.exe");
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"cmd.exe", L"native"));
    {
        SystemInterpreterStandIn standIn;
        ASSERT_TRUE(standIn.Placed());
        ASSERT_EQ(RunWithTemp(folder, temp), 0);
        for (int i = 0; i < 200 && !ReadBytes(log, recorded); i++)
            Sleep(50);
        EXPECT_EQ(recorded, Narrow(standIn.Path(), CP_UTF8) +
                                " /d /v:off /s /c \"\"C:\\zvx-tests\\uninstall\\R&D (x) temp\\Uninstall_Zvx.Bat\"\"\n" +
                                Narrow(standIn.Path(), CP_UTF8) + "\n");
        batchProcesses_.clear();
    }
    RemoveTree(folder);
}

// The uninstall's log: a verdict for every list line, the batch file's text,
// start and result, also for the batch file's own -wait run; a preview first
// changes nothing and names exactly the changes the real run then makes.
TEST_F(UninstallRun, ThePreviewNamesWhatTheRunThenDoesAndTheLogNamesEveryVerdict)
{
    std::string list = "sub\r\nsub\\a.txt\r\nreadme.txt\r\nmissing.txt\r\n..\\outside.txt\r\nC:\\Windows\\win.ini\r\n";
    list += std::string("a\0b\r\n", 5);
    list += "Uninstall.exe\r\nUninstall.lst\r\n";
    std::wstring folder = Install(L"Zorvex", list);
    Put(folder, L"sub\\a.txt");
    Put(folder, L"readme.txt");
    Put(folder, L"zorvex.gid");
    Put(root_, L"outside.txt");
    std::wstring logs = root_ + L"\\logs";
    CreateDirectoryW(logs.c_str(), nullptr);
    std::vector<std::wstring> entriesBefore = EntriesBelow(folder);
    std::vector<std::wstring> registryBefore = ExportMachine();

    {
        EnvironmentGuard log(L"ZORVEX_LOG", (logs + L"\\preview.log").c_str());
        EnvironmentGuard preview(L"ZORVEX_PREVIEW", L"1");
        ASSERT_EQ(Run(folder, L"-s"), 0);
    }
    EXPECT_TRUE(batchProcesses_.empty()) << "a preview started the batch file";
    EXPECT_FALSE(Exists(BatchFilePath()));
    EXPECT_EQ(EntriesBelow(folder), entriesBefore);
    EXPECT_EQ(ExportMachine(), registryBefore);
    std::vector<LogLine> preview = ReadChangeLog(logs + L"\\preview.log");
    ASSERT_FALSE(preview.empty());
    EXPECT_EQ(preview.front().Event, "start");
    EXPECT_EQ(preview.front().Fields, (std::vector<std::string>{"uninstall", "preview", preview.front().Fields[2],
                                                                 "6.11.1", preview.front().Fields[4]}));
    EXPECT_EQ(preview.back().Raw, "result ok 0");

    {
        EnvironmentGuard log(L"ZORVEX_LOG", (logs + L"\\run.log").c_str());
        EnvironmentGuard preview(L"ZORVEX_PREVIEW", nullptr);
        ASSERT_EQ(Run(folder, L"-s"), 0);
        ASSERT_TRUE(BatchFinished());
    }
    EXPECT_FALSE(Exists(folder));
    std::vector<LogLine> all = ReadChangeLog(logs + L"\\run.log");
    ASSERT_FALSE(all.empty());
    // The uninstall's lines, then the -wait run's, which the batch file starts.
    DWORD runPid = all.front().Pid;
    std::vector<LogLine> run, wait;
    for (const LogLine& line : all)
        (line.Pid == runPid ? run : wait).push_back(line);
    ASSERT_EQ(wait.size(), 2u);
    EXPECT_EQ(wait[0].Fields[0], "none");
    EXPECT_NE(wait[0].Texts[0].find(L"/wait"), std::wstring::npos);
    EXPECT_EQ(wait[1].Raw, "result ok 0");
    EXPECT_EQ(run.back().Raw, "result ok 0");

    std::string f = "\"C:\\\\zvx-tests\\\\uninstall\\\\Zorvex\\\\";
    std::vector<std::string> verdicts;
    for (const LogLine& line : LinesOf(run, "list-entry"))
        verdicts.push_back(line.Raw);
    EXPECT_EQ(verdicts, (std::vector<std::string>{
                            "list-entry deleted " + f + "sub\\\\a.txt\"",
                            "list-entry deleted " + f + "readme.txt\"",
                            "list-entry absent " + f + "missing.txt\"",
                            "list-entry skipped-outside \"..\\\\outside.txt\"",
                            "list-entry skipped-outside \"C:\\\\Windows\\\\win.ini\"",
                            "list-entry skipped-damaged \"a?b\"",
                            "list-entry kept " + f + "Uninstall.exe\"",
                            "list-entry kept " + f + "Uninstall.lst\"",
                            "list-entry deleted " + f + "sub\"",
                        }));
    // The batch file's text, line by line, as it was written.
    std::vector<LogLine> batchLines = LinesOf(run, "batch-line");
    ASSERT_EQ(batchLines.size(), 18u);
    EXPECT_EQ(batchLines[0].Texts[0], L"\"" + folder + L"\\Uninstall.exe\" /wait");
    EXPECT_EQ(batchLines[2].Texts[0], L"rd \"" + folder + L"\"");
    EXPECT_EQ(batchLines[16].Texts[0], L":done");

    // What the preview said is what the run did.
    EXPECT_EQ(ChangeSet(preview), ChangeSet(run));
    std::vector<std::wstring> unexplained = UnexplainedRegistryChanges(registryBefore, ExportMachine(), run);
    EXPECT_TRUE(unexplained.empty()) << testing::PrintToString(unexplained);
    // Every entry that went is named: by a deletion with ok, or by the batch file.
    std::set<std::wstring> named;
    for (const LogLine& line : run) {
        if ((line.Event == "file-delete" || line.Event == "folder-delete") && line.Fields[0] == "ok")
            named.insert(line.Texts[0]);
        for (const wchar_t* command : {L"del \"", L"rd \""}) {
            if (line.Event == "batch-line" && line.Texts[0].rfind(command, 0) == 0)
                named.insert(line.Texts[0].substr(wcslen(command), line.Texts[0].size() - wcslen(command) - 1));
        }
    }
    for (const std::wstring& entry : entriesBefore)
        EXPECT_EQ(named.count(folder + L"\\" + entry), 1u) << testing::PrintToString(entry);
    EXPECT_EQ(named.count(folder), 1u);
    EXPECT_TRUE(Exists(root_ + L"\\outside.txt"));
}

// The question answered No is the log's result; nothing else happened.
TEST_F(UninstallRun, NoAtTheQuestionIsLoggedAsDeclined)
{
    std::wstring folder = Install(L"Zorvex", "Uninstall.exe\nUninstall.lst\n");
    std::wstring logPath = root_ + L"\\declined.log";
    EnvironmentGuard log(L"ZORVEX_LOG", logPath.c_str());
    ChildProcess child;
    Start(child, folder, L"");
    HWND box = NextBox(child);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(PressButton(box, IDNO));
    EXPECT_EQ(Finish(child), 0);
    std::vector<LogLine> lines = ReadChangeLog(logPath);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].Fields[0], "uninstall");
    EXPECT_EQ(lines[0].Fields[1], "real");
    EXPECT_EQ(lines[1].Event, "message-box");
    EXPECT_EQ(lines[1].Fields, std::vector<std::string>{"no"});
    EXPECT_EQ(lines[1].Texts, (std::vector<std::wstring>{OwnText(IDS_UNINSTALLZVX), OwnText(IDS_CONTINUEUNINSTALL)}));
    EXPECT_EQ(lines[2].Raw, "result declined 0");
}

// A preview asks what the real run asks, and -msi is previewed too.
TEST_F(UninstallRun, InteractiveAndMsiPreviewsAskAsTheRunWouldAndChangeNothing)
{
    std::wstring folder = Install(L"Zorvex", "Zorvex.exe\nUninstall.exe\nUninstall.lst\n");
    Put(folder, L"Zorvex.exe");
    std::vector<std::wstring> entriesBefore = EntriesBelow(folder);
    std::wstring logPath = root_ + L"\\preview.log";
    EnvironmentGuard log(L"ZORVEX_LOG", logPath.c_str());
    EnvironmentGuard preview(L"ZORVEX_PREVIEW", L"1");
    ChildProcess child;
    Start(child, folder, L"");
    HWND box = NextBox(child);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), OwnText(IDS_CONTINUEUNINSTALL));
    ASSERT_TRUE(PressButton(box, IDYES));
    EXPECT_EQ(Finish(child), 0);
    ASSERT_EQ(Run(folder, L"-msi -s"), 0);
    EXPECT_TRUE(batchProcesses_.empty());
    EXPECT_EQ(EntriesBelow(folder), entriesBefore);

    std::vector<LogLine> lines = ReadChangeLog(logPath);
    std::vector<LogLine> starts = LinesOf(lines, "start");
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].Fields[0], "uninstall");
    EXPECT_EQ(starts[1].Fields[0], "msi-uninstall");
    for (const LogLine& start : starts)
        EXPECT_EQ(start.Fields[1], "preview");
    std::vector<LogLine> boxes = LinesOf(lines, "message-box");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Fields, std::vector<std::string>{"yes"});
    std::vector<LogLine> results = LinesOf(lines, "result");
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].Raw, "result ok 0");
    EXPECT_EQ(results[1].Raw, "result ok 0");
    // The interactive preview names the entry, the -msi one no entry at all.
    std::vector<LogLine> verdicts = LinesOf(lines, "list-entry");
    ASSERT_EQ(verdicts.size(), 3u);
    for (const LogLine& verdict : verdicts)
        EXPECT_EQ(verdict.Pid, starts[0].Pid);
    EXPECT_EQ(verdicts[0].Raw, "list-entry deleted \"C:\\\\zvx-tests\\\\uninstall\\\\Zorvex\\\\Zorvex.exe\"");
    for (const LogLine& line : lines) {
        if (line.Event != "result" && !line.Fields.empty() && line.Fields[0] == "ok")
            ADD_FAILURE() << "a preview made a change: " << line.Raw;
    }
}

}  // namespace
