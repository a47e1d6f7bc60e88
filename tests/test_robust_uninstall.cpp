// The real Uninstall.exe, silent, in scratch install folders, with random lists
// and with faults around it. Beside every install folder lies a marker tree
// (files, read-only files, empty folders) that any entry escaping the folder
// would reach: through "..", a root, a drive, a UNC or "\\?\" name, a stream, a
// device name or a linked folder. It must be byte for byte and attribute for
// attribute the same after every run, and no run may schedule anything outside
// its folder for deletion at restart.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/base_support.h"
#include "tests/support/program_support.h"
#include "tests/support/registry_support.h"
#include "tests/support/robust_support.h"
#include "tests/support/test_support.h"
#include "tests/support/window_support.h"

using namespace testsupport;

namespace {

// Generous: the program runs under Wine's heap validation.
constexpr DWORD kRunTimeoutMs = 90000;
constexpr DWORD kBatchTimeoutMs = 90000;
constexpr DWORD kBoxTimeoutMs = 30000;

// A file below folder, with every folder above it.
void Put(const std::wstring& folder, const std::wstring& relative, const std::string& bytes, bool readOnly = false)
{
    std::wstring path = folder + L"\\" + relative;
    for (size_t i = 3; i < path.size(); i++) {
        if (path[i] == L'\\')
            CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
    ASSERT_TRUE(WriteBytes(path, bytes)) << testing::PrintToString(path);
    if (readOnly) {
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    }
}

class RobustUninstall : public testing::Test {
protected:
    void SetUp() override
    {
        root_ = MakeScratchFolder(L"robust-uninstall");
        markers_ = root_ + L"\\markers";
        outside_ = root_ + L"\\outside";
        Put(markers_, L"m0.txt", "marker 0", true);
        Put(markers_, L"m1.txt", "marker 1");
        Put(markers_, L"m2.txt", "marker 2", true);
        Put(markers_, L"m3.txt", "marker 3");
        Put(markers_, L"sub\\m4.txt", "marker 4", true);
        ASSERT_TRUE(CreateDirectoryW((markers_ + L"\\empty").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((markers_ + L"\\sub\\empty").c_str(), nullptr));
        Put(outside_, L"o1.txt", "outside 1", true);
        Put(outside_, L"inner\\o2.txt", "outside 2");
        ASSERT_TRUE(CreateDirectoryW((outside_ + L"\\emptydir").c_str(), nullptr));
        markersBefore_ = SnapshotTree(markers_);
        outsideBefore_ = SnapshotTree(outside_);
        pendingBefore_ = PendingDeletions();
    }

    void TearDown() override
    {
        EXPECT_TRUE(WaitForProcesses(batches_, kBatchTimeoutMs)) << "a batch file did not finish";
        for (const std::wstring& link : links_)
            RemoveUnixSymlink(link);
        RemoveTree(root_);
    }

    std::wstring Install(const std::wstring& name)
    {
        std::wstring folder = root_ + L"\\" + name;
        EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        EXPECT_TRUE(CopyFileW((BinDir() + L"\\Uninstall.exe").c_str(), (folder + L"\\Uninstall.exe").c_str(), FALSE));
        return folder;
    }

    bool Link(const std::wstring& link, const std::wstring& target)
    {
        if (!MakeUnixSymlink(link, target))
            return false;
        links_.push_back(link);
        return true;
    }

    // Starts the program in folder with its own temporary folder (inherited through
    // TMP and TEMP), so that the batch files of several runs never share a name.
    void Start(ChildProcess& child, const std::wstring& folder, const std::wstring& temp)
    {
        EnvironmentGuard tmp(L"TMP", temp.c_str());
        EnvironmentGuard tempVariable(L"TEMP", temp.c_str());
        ASSERT_TRUE(child.Start(folder + L"\\Uninstall.exe", L"-s"));
    }

    // Waits for the end of the run and notes the batch process it started.
    int Finish(ChildProcess& child, bool* startedBatch = nullptr)
    {
        int code = child.Wait(kRunTimeoutMs);
        std::vector<DWORD> ids = ChildProcessIds(child.Id(), L"cmd.exe");
        batches_.insert(batches_.end(), ids.begin(), ids.end());
        if (startedBatch != nullptr)
            *startedBatch = !ids.empty();
        return code;
    }

    int Run(const std::wstring& folder, const std::wstring& temp, bool* startedBatch = nullptr)
    {
        ChildProcess child;
        Start(child, folder, temp);
        return Finish(child, startedBatch);
    }

    // Nothing outside the install folders changed, and nothing new is due for
    // deletion at restart.
    void ExpectNothingOutsideTouched()
    {
        EXPECT_EQ(L"", DescribeTreeChange(markersBefore_, SnapshotTree(markers_)));
        EXPECT_EQ(L"", DescribeTreeChange(outsideBefore_, SnapshotTree(outside_)));
        std::vector<std::wstring> pending = PendingDeletions();
        for (const std::wstring& name : pending) {
            EXPECT_NE(pendingBefore_.end(), std::find(pendingBefore_.begin(), pendingBefore_.end(), name))
                << "scheduled at restart: " << testing::PrintToString(name);
        }
    }

    std::wstring root_;
    std::wstring markers_;
    std::wstring outside_;
    TreeSnapshot markersBefore_;
    TreeSnapshot outsideBefore_;
    std::vector<std::wstring> pendingBefore_;
    std::vector<DWORD> batches_;
    std::vector<std::wstring> links_;
    RegistryValueGuard pendingRenames_{HKEY_LOCAL_MACHINE, kSessionManagerKey, L"PendingFileRenameOperations"};
};

// Entries that name something outside the folder they are listed in, in every
// spelling the list could hold. <root> is the scratch root in ANSI, <rooted> the
// same without its drive.
std::vector<std::string> EscapingEntries(const std::string& root)
{
    std::string rooted = root.substr(2);
    std::string forward = root;
    std::replace(forward.begin(), forward.end(), '\\', '/');
    return {
        "..\\markers\\m1.txt", "..\\markers\\empty", "..\\markers\\sub\\empty", "..\\markers", "..", "..\\",
        "..\\..", "sub\\..\\..\\markers\\m3.txt", "../markers/m1.txt", "..\\markers/sub/m4.txt", ".",
        ".\\..\\markers\\empty", "...\\markers\\m3.txt", ".. \\markers\\m1.txt", "..\t", ". .\\markers\\empty",
        ".. .", root + "\\markers\\m3.txt", root + "\\markers\\empty", rooted + "\\markers\\m1.txt",
        rooted + "\\markers\\sub\\empty", forward + "/markers/m3.txt", "C:..\\markers\\m1.txt",
        "C:..\\markers\\empty", "C:\\", "C:", "\\", "/", "\\\\?\\" + root + "\\markers\\m3.txt",
        "\\\\.\\" + root + "\\markers\\empty", "\\\\?\\UNC\\localhost\\C$" + rooted + "\\markers\\m1.txt",
        "\\\\localhost\\C$" + rooted + "\\markers\\m3.txt", "//localhost/C$/" + rooted.substr(1) + "/markers/empty",
        "m1.txt:stream", "..\\markers\\m1.txt:$DATA", "..\\markers\\m3.txt::$DATA", "x::$INDEX_ALLOCATION",
        "link\\o1.txt", "link\\inner\\o2.txt", "link\\inner", "link\\emptydir", "link/inner/o2.txt",
        "link\\..\\..\\markers\\m1.txt", "*", "?", "..\\markers\\*",
    };
}


struct Item {
    std::wstring path;   // relative to the install folder
    bool folder;
    bool listed;
    std::string bytes;   // of a file
};

// Folders and files below folder, awkward names among them, some read-only,
// each listed or not.
std::vector<Item> MakeContent(Random& random, const std::wstring& folder)
{
    std::vector<Item> items;
    auto file = [&](const std::wstring& path) {
        std::string bytes = "content of " + AnsiBytes(path);
        Put(folder, path, bytes);
        items.push_back({path, false, random.Percent(80), bytes});
    };
    auto directory = [&](const std::wstring& path) {
        CreateDirectoryW((folder + L"\\" + path).c_str(), nullptr);
        items.push_back({path, true, random.Percent(80), ""});
    };
    for (uint32_t d = random.Below(4); d > 0; d--) {
        std::wstring dir = L"d" + std::to_wstring(d);
        directory(dir);
        for (uint32_t f = random.Below(4); f > 0; f--)
            file(dir + L"\\f" + std::to_wstring(f) + L".dat");
        if (random.Percent(40)) {
            directory(dir + L"\\nested");
            file(dir + L"\\nested\\deep.dat");
        }
    }
    for (uint32_t f = random.Below(8); f > 0; f--)
        file(L"f" + std::to_wstring(f) + L".dat");
    static const wchar_t* const kAwkward[] = {L"with blank.dat", L"x.y.z", L"caf\u00e9.dat", L"100%.dat", L"~1.tmp"};
    for (const wchar_t* name : kAwkward) {
        if (random.Percent(30))
            file(name);
    }
    // Read-only last, so that nothing above was refused.
    for (const Item& item : items) {
        if (random.Percent(30))
            SetFileAttributesW((folder + L"\\" + item.path).c_str(),
                               FILE_ATTRIBUTE_READONLY | (item.folder ? FILE_ATTRIBUTE_DIRECTORY : 0));
    }
    return items;
}

std::string ListLine(Random& random, const std::wstring& path)
{
    std::string line = AnsiBytes(path);
    if (random.Percent(20))
        std::replace(line.begin(), line.end(), '\\', '/');
    static const char* const kTails[] = {"", "", "", " ", "\t", " \t ", "\r"};
    return line + random.Pick(kTails);
}

std::string RandomList(Random& random, const std::vector<Item>& items, const std::string& root)
{
    std::vector<std::string> lines;
    for (const Item& item : items) {
        if (item.listed)
            lines.push_back(ListLine(random, item.path));
    }
    std::vector<std::string> escaping = EscapingEntries(root);
    for (uint32_t n = 10 + random.Below(20); n > 0; n--)
        lines.push_back(escaping[random.Below(static_cast<uint32_t>(escaping.size()))]);
    for (uint32_t n = random.Below(4); n > 0; n--)
        lines.push_back(random.Bytes(random.Below(300)));
    static const char* const kOwn[] = {"Uninstall.exe", "Uninstall.lst", "zorvex.gid", "UNINSTALL.EXE", ""};
    for (uint32_t n = random.Below(3); n > 0; n--)
        lines.push_back(random.Pick(kOwn));
    if (random.Percent(10))
        lines.push_back(std::string(1024 * 1024, 'L'));
    if (random.Percent(20))
        lines.push_back(std::string("f1.dat\0..\\markers\\m1.txt", 24));
    for (size_t i = lines.size(); i > 1; i--)
        std::swap(lines[i - 1], lines[random.Below(static_cast<uint32_t>(i))]);
    std::string list;
    for (size_t i = 0; i < lines.size(); i++) {
        list += lines[i];
        if (i + 1 < lines.size() || random.Percent(70))
            list += random.Percent(50) ? "\r\n" : "\n";
    }
    return list;
}

// What a run must leave of items: every listed file gone, every listed folder
// gone unless something unlisted is still inside, the rest as it was.
void ExpectRemainder(const std::wstring& folder, const std::vector<Item>& items)
{
    for (const Item& item : items) {
        std::wstring path = folder + L"\\" + item.path;
        bool keepsSomething = false;
        for (const Item& other : items) {
            keepsSomething = keepsSomething || (!other.listed && other.path.compare(0, item.path.size() + 1,
                                                                                      item.path + L"\\") == 0);
        }
        bool expected = !item.listed || (item.folder && keepsSomething);
        EXPECT_EQ(expected, Exists(path)) << testing::PrintToString(item.path);
        std::string bytes;
        if (expected && !item.folder) {
            EXPECT_TRUE(ReadBytes(path, bytes) && bytes == item.bytes) << testing::PrintToString(item.path);
        }
    }
}

TEST_F(RobustUninstall, RandomListsRemoveOnlyWhatTheyNameInsideTheFolder)
{
    Random random(0x11575);
    const std::string root = AnsiBytes(root_);
    std::vector<std::wstring> folders;
    for (int iteration = 0; iteration < 24; iteration++) {
        SCOPED_TRACE("iteration " + std::to_string(iteration));
        std::wstring name = L"inst" + std::to_wstring(iteration);
        std::wstring folder = Install(name);
        std::wstring temp = root_ + L"\\temp-" + name;
        ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
        std::vector<Item> items = MakeContent(random, folder);
        if (random.Percent(50)) {
            ASSERT_TRUE(Link(folder + L"\\link", outside_));
        }
        if (random.Percent(50)) {
            Put(folder, L"zorvex.gid", "help index");
            Put(folder, L"zorvex.fts", "help index", true);
        }
        std::string list = RandomList(random, items, root);
        if (random.Percent(30))
            list.insert(0, "link\n");
        ASSERT_TRUE(WriteBytes(folder + L"\\Uninstall.lst", list));

        EXPECT_EQ(0, Run(folder, temp));
        ExpectNothingOutsideTouched();
        ExpectRemainder(folder, items);
        EXPECT_FALSE(Exists(folder + L"\\Uninstall.lst"));
        EXPECT_FALSE(Exists(folder + L"\\zorvex.gid"));
        EXPECT_FALSE(Exists(folder + L"\\zorvex.fts"));
        folders.push_back(folder);
        if (HasFailure())
            return;
    }
    // The batch files finish the removal: the program goes, and nothing else.
    EXPECT_TRUE(WaitForProcesses(batches_, kBatchTimeoutMs));
    batches_.clear();
    for (const std::wstring& folder : folders) {
        EXPECT_FALSE(Exists(folder + L"\\Uninstall.exe")) << testing::PrintToString(folder);
        EXPECT_FALSE(Exists(root_ + L"\\temp-" + folder.substr(folder.rfind(L'\\') + 1) + L"\\Uninstall_Zvx.Bat"));
    }
    ExpectNothingOutsideTouched();
}

// Read-only files and folders, a folder where the settings file would be, and a
// listed link to a folder outside, which never costs that folder a file. (Wine
// shows a symbolic link to a file as the file itself, without the reparse-point
// attribute, and deletes its target: a listed link to a file cannot be shown.)
TEST_F(RobustUninstall, ReadOnlyEntriesGoAndLinksLeaveTheirTargetsAlone)
{
    std::wstring folder = Install(L"faults");
    std::wstring temp = root_ + L"\\temp";
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
    Put(folder, L"ro.txt", "read-only", true);
    Put(folder, L"rodir\\inner.txt", "read-only inside", true);
    ASSERT_TRUE(SetFileAttributesW((folder + L"\\rodir").c_str(), FILE_ATTRIBUTE_READONLY));
    Put(folder, L"hidden.txt", "hidden");
    ASSERT_TRUE(SetFileAttributesW((folder + L"\\hidden.txt").c_str(),
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\Zorvex.ini").c_str(), nullptr));
    ASSERT_TRUE(Link(folder + L"\\link", outside_));
    ASSERT_TRUE(WriteBytes(folder + L"\\Uninstall.lst",
                           "rodir\nro.txt\nrodir\\inner.txt\nhidden.txt\nZorvex.ini\nlink\nlink\\o1.txt\n"));

    EXPECT_EQ(0, Run(folder, temp));
    ExpectNothingOutsideTouched();
    for (const wchar_t* gone : {L"ro.txt", L"rodir\\inner.txt", L"rodir", L"hidden.txt", L"Zorvex.ini"})
        EXPECT_FALSE(Exists(folder + L"\\" + gone)) << testing::PrintToString(std::wstring(gone));
    // Windows removes a listed junction itself; Wine can make no junction, and its
    // RemoveDirectoryW does not remove a symbolic link to a folder, which stays.
    EXPECT_TRUE(Exists(outside_ + L"\\inner\\o2.txt"));
}

// The list held open by another process: readable, the run goes on and only the
// list stays; not readable, the run reports it (even silent) and changes nothing.
TEST_F(RobustUninstall, AListHeldOpenByAnotherProcess)
{
    std::wstring temp = root_ + L"\\temp";
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));

    std::wstring shared = Install(L"shared");
    Put(shared, L"listed.txt", "listed");
    ASSERT_TRUE(WriteBytes(shared + L"\\Uninstall.lst", "listed.txt\n"));
    HANDLE reader = CreateFileW((shared + L"\\Uninstall.lst").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    EXPECT_EQ(0, Run(shared, temp));
    CloseHandle(reader);
    EXPECT_FALSE(Exists(shared + L"\\listed.txt"));
    EXPECT_TRUE(Exists(shared + L"\\Uninstall.lst"));

    std::wstring locked = Install(L"locked");
    std::wstring lockedTemp = root_ + L"\\temp-locked";
    ASSERT_TRUE(CreateDirectoryW(lockedTemp.c_str(), nullptr));
    Put(locked, L"listed.txt", "listed");
    ASSERT_TRUE(WriteBytes(locked + L"\\Uninstall.lst", "listed.txt\n"));
    HANDLE owner = CreateFileW((locked + L"\\Uninstall.lst").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, owner);
    ChildProcess child;
    Start(child, locked, lockedTemp);
    HWND box = WaitForProcessWindow(child, L"#32770", kBoxTimeoutMs);
    ASSERT_NE(nullptr, box) << "no message box about the list";
    EXPECT_NE(std::wstring::npos, MessageBoxText(box).find(L"Uninstall.lst"));
    std::vector<int> buttons = ButtonIds(box);
    ASSERT_EQ(1u, buttons.size());
    PressButton(box, buttons[0]);
    bool startedBatch = true;
    EXPECT_EQ(0, Finish(child, &startedBatch));
    CloseHandle(owner);
    EXPECT_FALSE(startedBatch);
    EXPECT_TRUE(Exists(locked + L"\\listed.txt"));
    EXPECT_FALSE(Exists(lockedTemp + L"\\Uninstall_Zvx.Bat"));
    ExpectNothingOutsideTouched();
}

// No temporary folder to write the batch file in: the files still go, no batch
// is written or started, and the program stays for the user to delete. The batch
// file's name taken by a folder (with someone's file in it): that folder is left
// as it was, and the batch file, made under another name, removes the program.
// (A read-only folder does not stop a new file on Windows, and Wine, run as root
// here, writes into one: neither can show a refused write.)
TEST_F(RobustUninstall, WithoutATemporaryFolderNoBatchIsStartedAndATakenNameIsLeftAlone)
{
    const std::wstring missing = root_ + L"\\no-such-temp";
    const std::wstring blocked = root_ + L"\\temp-blocked";
    ASSERT_TRUE(CreateDirectoryW(blocked.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((blocked + L"\\Uninstall_Zvx.Bat").c_str(), nullptr));
    Put(blocked, L"Uninstall_Zvx.Bat\\inside.txt", "someone else's", true);
    TreeSnapshot blockedBefore = SnapshotTree(blocked);

    int n = 0;
    for (const std::wstring& temp : {missing, blocked}) {
        SCOPED_TRACE(testing::PrintToString(temp));
        std::wstring folder = Install(L"inst" + std::to_wstring(n++));
        Put(folder, L"listed.txt", "listed");
        ASSERT_TRUE(WriteBytes(folder + L"\\Uninstall.lst", "listed.txt\n"));
        bool startedBatch = false;
        EXPECT_EQ(0, Run(folder, temp, &startedBatch));
        EXPECT_EQ(temp == blocked, startedBatch);
        EXPECT_FALSE(Exists(folder + L"\\listed.txt"));
        EXPECT_TRUE(WaitForProcesses(batches_, kBatchTimeoutMs));
        batches_.clear();
        EXPECT_EQ(temp == missing, Exists(folder + L"\\Uninstall.exe"));
    }
    EXPECT_FALSE(Exists(missing));
    EXPECT_EQ(L"", DescribeTreeChange(blockedBefore, SnapshotTree(blocked)));
    ExpectNothingOutsideTouched();
}

// A device name as a list entry names the device, not a file in the install
// folder: Windows before 11 (and Wine) maps "<folder>\NUL", "<folder>\nul.txt"
// or "<folder>\sub\COM1" to the device, which the run must leave alone.
// Scheduled, it would be "\??\NUL", and a visible run would ask for a restart
// for nothing.
TEST_F(RobustUninstall, DeviceNamesAreNeverScheduledAtRestart)
{
    std::wstring folder = Install(L"devices");
    std::wstring temp = root_ + L"\\temp";
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
    Put(folder, L"listed.txt", "listed");
    ASSERT_TRUE(WriteBytes(folder + L"\\Uninstall.lst", "NUL\nnul.txt\nsub\\COM1\nCON \nCONIN$\nlisted.txt\n"));
    EXPECT_EQ(0, Run(folder, temp));
    ExpectNothingOutsideTouched();
    EXPECT_FALSE(Exists(folder + L"\\listed.txt"));
}

}  // namespace
