#include "uninstall/uninstall_run.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>

#include "common/base/array.h"
#include "common/base/change_log.h"
#include "common/base/exclusive_file.h"
#include "common/base/file.h"
#include "common/base/gate.h"
#include "common/base/identity.h"
#include "common/base/module.h"
#include "common/base/paths.h"
#include "common/base/scoped.h"
#include "common/base/strings.h"
#include "common/base/temp_folder.h"
#include "common/localization/messages.h"
#include "common/settings/settings_store.h"
#include "resources/resource.h"
#include "common/base/file_holders.h"
#include "uninstall/install_list.h"
#include "uninstall/integration/app_paths.h"
#include "uninstall/integration/install_owner.h"
#include "uninstall/integration/removal.h"
#include "uninstall/message_box.h"
#include "uninstall/options.h"

constexpr size_t kKeptTextChars = 256;
// A path of kMaxPathChars - 1 characters with every one of them a doubled '%'.
constexpr size_t kBatchPathChars = 2 * kMaxPathChars;

// Why a list line names nothing this run touches, for the change log, with the
// line as written: a damaged line (cut, a NUL byte, not convertible, too long
// once joined) or one spelled to reach outside the folder. An empty line is no
// entry at all.
static void LogSkippedLine(const char* line, size_t length, bool whole, size_t folderLength)
{
    if (!ChangeLogOn())
        return;
    // The line was stripped of its trailing blanks in place.
    size_t end = length < kListLineBytes ? length : kListLineBytes - 1;
    while (end > 0 && (line[end - 1] == 0 || line[end - 1] == ' ' || line[end - 1] == '\t' ||
                       line[end - 1] == '\r' || line[end - 1] == '\n'))
        end--;
    if (whole && end == 0)
        return;
    wchar_t converted[kMaxPathChars];
    if (whole && strlen(line) == end && WideFromAnsi(line, converted, kMaxPathChars - folderLength)) {
        LogListVerdict(ListVerdict::SkippedOutside, converted);
        return;
    }
    char shown[kListLineBytes];
    for (size_t i = 0; i < end; i++)
        shown[i] = line[i] == 0 ? '?' : line[i];
    shown[end] = 0;
    int n = MultiByteToWideChar(CP_ACP, 0, shown, -1, converted, kMaxPathChars);
    LogListVerdict(ListVerdict::SkippedDamaged, n > 0 ? converted : L"");
}

// What the deletion passes know of one list line. The passes after the first
// exist only to remove folders whose contents went meanwhile, so a settled line
// is not looked at again, and a file in use is scheduled once, not once a pass.
enum LineState : uint8_t {
    kLineOpen = 0,     // to be worked on in the next pass
    kLineSettled = 1,  // removed, found missing, scheduled, left to the end of the run, or naming nothing
    kLineFolder = 2,   // a folder that still held something
    kLineLeft = 3,     // could not be removed and is not scheduled: left at the end
};

// What a removal through the gate checks: the entry's final path is the one its
// spelling gives below the install folder's final path (no link on the way),
// or, once a look at each folder on the way found none, any path below it (a
// short name, a name the list spells with a trailing dot).
struct EntryCheck {
    const wchar_t* FolderFinal;
    wchar_t Expected[kMaxPathChars];
    bool Spelled;  // Expected holds the final path the spelling gives
};

static GateCheck CheckOf(const EntryCheck& check, bool anyBelow)
{
    if (anyBelow || !check.Spelled)
        return {nullptr, check.FolderFinal};
    return {check.Expected, nullptr};
}

// A removal refused, or an entry not found: a look at each folder on the way, by
// name, tells whether the entry lies behind a link (skipped) or is missing.
// Otherwise the entry's final path differs from its spelling for another reason
// and is tried once more, below the install folder's final path.
static GateAnswer RemoveThroughGate(wchar_t* entry, size_t folderLength, const EntryCheck& check,
                                    PathVerdict& path)
{
    path = kPathInside;
    GateAnswer answer = GateRemove(entry, CheckOf(check, false));
    if (answer != GateAnswer::Refused && answer != GateAnswer::Absent)
        return answer;
    DWORD error = GetLastError();
    path = CheckEntryPath(entry, folderLength);
    if (path != kPathInside || answer == GateAnswer::Absent || !check.Spelled) {
        SetLastError(error);
        return answer;
    }
    answer = GateRemove(entry, CheckOf(check, true));
    if (answer == GateAnswer::Refused)
        path = kPathThroughLink;
    return answer;
}

// A file that cannot go now waits for the restart: moved out of the way where it
// can be, else scheduled under its own name.
static void HoldForRestart(const wchar_t* entry, const EntryCheck& check)
{
    wchar_t held[kMaxPathChars];
    if (GateHoldForRestart(entry, CheckOf(check, true), held, kMaxPathChars) == GateAnswer::Done) {
        LogListVerdict(ListVerdict::RenamedAndScheduled, entry);
        return;
    }
    // It stays under its own name. Read-only may keep it from going at the
    // restart too: cleared through a handle that asks for no data, which the
    // sharing of whoever holds the file allows, and never on a file of several names.
    DWORD attributes = GateAttributes(entry);
    if (check.Spelled && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        GateSetAttributesOf(entry, check.Expected, 0);
    GateScheduleAtRestart(entry);
    LogListVerdict(ListVerdict::Scheduled, entry);
}

// One line of a deletion pass; true when the entry was removed now.
static bool RemoveEntry(wchar_t* entry, size_t folderLength, uint8_t& state, const EntryCheck& check,
                        const wchar_t* programName, bool& rebootNeeded)
{
    PathVerdict path;
    GateAnswer answer = RemoveThroughGate(entry, folderLength, check, path);
    if (path != kPathInside) {
        state = kLineSettled;
        LogListVerdict(path == kPathThroughLink ? ListVerdict::SkippedLink : ListVerdict::Absent, entry);
        return false;
    }
    switch (answer) {
    case GateAnswer::Done:
        state = kLineSettled;
        LogListVerdict(ListVerdict::Deleted, entry);
        return true;
    case GateAnswer::Absent:
        state = kLineSettled;
        LogListVerdict(ListVerdict::Absent, entry);
        return false;
    case GateAnswer::Refused:
        state = kLineSettled;
        LogListVerdict(ListVerdict::SkippedLink, entry);
        return false;
    case GateAnswer::NotEmpty:
        // A folder that is not empty yet simply fails in this pass.
        state = kLineFolder;
        return false;
    case GateAnswer::LinkedReadOnly:
        state = kLineLeft;
        return false;
    case GateAnswer::InUse:
    case GateAnswer::Failed:
        break;
    }
    // A folder that would not go is tried again in the next pass, and left if it
    // never goes; what cannot even be looked at is left.
    DWORD attributes = GateAttributes(entry);
    if (state == kLineFolder || (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))) {
        state = kLineFolder;
        return false;
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        state = kLineLeft;
        return false;
    }
    state = kLineSettled;
    // The program and the list are in use by this run; the batch file and the
    // end of the run remove them.
    const wchar_t* name = NamePart(entry);
    if (CompareNoCase(name, programName) == 0 || CompareNoCase(name, kListName) == 0) {
        LogListVerdict(ListVerdict::KeptForLater, entry);
        return false;
    }
    rebootNeeded = true;
    LogFileHolders(entry);
    HoldForRestart(entry, check);
    return false;
}

static size_t CountListLines(ListReader& list)
{
    char line[kListLineBytes];
    size_t length;
    bool whole;
    size_t count = 0;
    while (ReadListLine(list, line, kListLineBytes, length, whole))
        count++;
    return count;
}

// The entries that stayed although nothing waits for the restart: folders that
// never emptied, files that could not go. True when there were any.
static bool LogEntriesLeft(ListReader& list, wchar_t* entry, size_t folderLength, const Array<uint8_t>& record)
{
    RewindList(list);
    char line[kListLineBytes];
    size_t length;
    bool whole;
    bool any = false;
    for (uint64_t index = 0; ReadListLine(list, line, kListLineBytes, length, whole); index++) {
        if (index >= record.Count || (record[index] != kLineFolder && record[index] != kLineLeft) || !whole ||
            !EntryFromLine(line, length, entry, folderLength))
            continue;
        LogListVerdict(ListVerdict::Left, entry);
        any = true;
    }
    return any;
}

// Passes over the list until one removes nothing, so that a folder listed before
// its files goes in a later pass. entry holds the install folder with its
// trailing separator, whose final path is folderFinal.
static void DeletionPasses(ListReader& list, wchar_t* entry, const wchar_t* folderFinal, const wchar_t* programName,
                           bool& rebootNeeded, bool& filesLeft)
{
    size_t folderLength = wcslen(entry);
    // A byte a line.
    Array<uint8_t> record(CountListLines(list));
    memset(record.Data, 0, static_cast<size_t>(record.Count));
    EntryCheck check;
    check.FolderFinal = folderFinal;
    char line[kListLineBytes];
    for (;;) {
        RewindList(list);
        unsigned removed = 0;
        size_t length;
        bool whole;
        for (uint64_t index = 0; ReadListLine(list, line, kListLineBytes, length, whole); index++) {
            uint8_t unrecorded = kLineOpen;
            uint8_t& state = index < record.Count ? record[index] : unrecorded;
            if (state == kLineSettled || state == kLineLeft)
                continue;
            if (!whole || !EntryFromLine(line, length, entry, folderLength)) {
                state = kLineSettled;
                LogSkippedLine(line, length, whole, folderLength);
                continue;
            }
            check.Spelled = ExpectedFinalPath(folderFinal, entry + folderLength, check.Expected, kMaxPathChars);
            if (RemoveEntry(entry, folderLength, state, check, programName, rebootNeeded))
                removed++;
        }
        if (removed == 0)
            break;
    }
    filesLeft = LogEntriesLeft(list, entry, folderLength, record);
}

// The conversion of WriteBatchLine; the byte count, or -1 when a character has
// no form in the OEM code page.
static int OemBytes(const wchar_t* text, int count, char* bytes, int capacity)
{
    UINT codePage = GetOEMCP();
    bool utf8 = codePage == CP_UTF8;
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(codePage, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, text, count, bytes,
                                capacity, nullptr, utf8 ? nullptr : &usedDefault);
    return n <= 0 || usedDefault ? -1 : n;
}

bool WriteBatchLine(File& stream, const wchar_t* text)
{
    size_t count = wcslen(text);
    if (count == 0)
        return true;
    LogBatchText(text);
    // Up to three bytes for one UTF-16 unit, whatever the OEM code page is.
    if (count > (INT_MAX - 4) / 3)
        return false;
    int capacity = static_cast<int>(count) * 3 + 4;
    std::unique_ptr<char[]> bytes(new (std::nothrow) char[capacity]);
    if (!bytes)
        return false;
    int n = OemBytes(text, static_cast<int>(count), bytes.get(), capacity);
    return n > 0 && stream.Write(bytes.get(), static_cast<uint32_t>(n));
}

// path as a batch line must spell it: in its short form when the long one has
// characters that the OEM code page lacks, and with every '%' doubled, which cmd
// would otherwise expand or drop. False when no spelling names it whole.
static bool BatchPathText(const wchar_t* path, wchar_t* text)
{
    if (wcsnlen(path, kMaxPathChars) >= kMaxPathChars)
        return false;
    const wchar_t* spelled = path;
    wchar_t shortPath[kMaxPathChars];
    if (OemBytes(path, -1, nullptr, 0) < 0) {
        DWORD length = GetShortPathNameW(path, shortPath, kMaxPathChars);
        if (length == 0 || length >= kMaxPathChars || OemBytes(shortPath, -1, nullptr, 0) < 0)
            return false;
        spelled = shortPath;
    }
    size_t out = 0;
    for (const wchar_t* p = spelled; *p != 0; p++) {
        if (*p == L'%')
            text[out++] = L'%';
        text[out++] = *p;
    }
    text[out] = 0;
    return true;
}

// One line from a format with up to three string arguments, in a buffer sized
// from them, so that it is never cut.
static bool WriteFormattedLine(File& batch, const wchar_t* format, const wchar_t* a, const wchar_t* b = L"",
                               const wchar_t* c = L"")
{
    size_t capacity = wcslen(format) + wcslen(a) + wcslen(b) + wcslen(c) + 1;
    std::unique_ptr<wchar_t[]> line(new (std::nothrow) wchar_t[capacity]);
    return line && FormatString(line.get(), capacity, format, a, b, c) >= 0 && WriteBatchLine(batch, line.get());
}

bool MakeBatchSecurity(ScopedLocalMem& descriptor)
{
    return MakeProtectedSecurity(descriptor);
}

bool SelfRemovalBatch(const wchar_t* programPath, const wchar_t* folderPath, bool silent, wchar_t* batchPath,
                      size_t capacity)
{
    size_t length = TemporaryFolder(batchPath, capacity);
    if (length == 0)
        return false;
    // Unless closed after its last line, File deletes the batch file again
    // through its handle.
    ScopedFileHandle made;
    File batch;
    if (!GateCreateNew(batchPath, length, capacity, L"Uninstall_Zvx", L".Bat",
                       kNewOtherNames | kNewProtected | kNewFolderPlain, made) ||
        !batch.Adopt(made, batchPath))
        return false;
    wchar_t program[kBatchPathChars];
    wchar_t folder[kBatchPathChars];
    wchar_t self[kBatchPathChars];
    if (!BatchPathText(programPath, program) || !BatchPathText(folderPath, folder) ||
        !BatchPathText(batchPath, self))
        return false;
    bool whole = WriteFormattedLine(batch, L"\"%s\" /wait\r\n", program);
    for (int i = 0; i < 5 && whole; i++)
        whole = WriteFormattedLine(batch, L"del \"%s\"\r\nrd \"%s\"\r\nif not exist \"%s\" goto done\r\n", program,
                                   folder, program);
    whole = whole && WriteBatchLine(batch, L":done\r\n");
    if (!silent)
        whole = whole && WriteFormattedLine(batch, L"if exist \"%s\" \"%s\" /warning\r\n", program, program);
    whole = whole && WriteFormattedLine(batch, L"del \"%s\"\r\n", self);
    return whole && batch.Close();
}

// Starts the batch file hidden through the system folder's command interpreter
// and does not wait. Not the one COMSPEC names: a variable of the user's own
// environment overrides the machine's, and an elevated run started from the
// user's session inherits it.
static bool StartBatch(const wchar_t* batchPath)
{
    wchar_t interpreter[kMaxPathChars];
    UINT length = GetSystemDirectoryW(interpreter, kMaxPathChars);
    if (length == 0 || length >= kMaxPathChars || !JoinPath(interpreter, L"cmd.exe", interpreter, kMaxPathChars))
        return false;
    // The interpreter is named as the application too, and quoted when it holds
    // a blank, so that its path cannot start another program. /s with the path
    // in a second pair of quotes keeps the path whole whatever it holds (cmd's
    // own rule strips the quotes of "R&D (x)" and splits at the &), /d runs no
    // AutoRun command of the registry first, and /v:off keeps a '!' in the path
    // a '!' where the registry turns delayed expansion on.
    const wchar_t* format = wcschr(interpreter, L' ') != nullptr ? L"\"%s\" /d /v:off /s /c \"\"%s\"\""
                                                                  : L"%s /d /v:off /s /c \"\"%s\"\"";
    wchar_t commandLine[2 * kMaxPathChars + 32];
    if (FormatString(commandLine, sizeof commandLine / sizeof commandLine[0], format, interpreter, batchPath) < 0)
        return false;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    // The batch process inherits the current directory; it must not hold the
    // install folder, which the batch file removes.
    SetCurrentDirectoryW(L"..");
    PROCESS_INFORMATION process = {};
    if (!GateCreateProcess(interpreter, commandLine, TRUE, &startup, &process))
        return false;
    ScopedHandle processHandle(process.hProcess);
    ScopedHandle threadHandle(process.hThread);
    return true;
}

// The registration names another folder that still holds the program: that
// install keeps its registration and the settings it shares with this copy,
// and this run removes its own files only. An uninstall entry that names this
// folder is this copy's and goes.
static void LeaveOtherInstall(const wchar_t* otherFolder, bool entryIsOwn, const CommandOptions& options)
{
    wchar_t note[kMaxPathChars + 128];
    FormatString(note, kMaxPathChars + 128,
                 L"the registration names another install that still holds the program, %s: it and the settings "
                 L"stay, only this folder's files are removed",
                 otherFolder);
    LogNote(note);
    if (!options.Silent) {
        wchar_t text[kMaxPathChars + kMessageTextChars];
        FormatMessageWithString(IDS_OTHERINSTALL, otherFolder, text, kMaxPathChars + kMessageTextChars);
        ShowMessageBox(nullptr, text, MessageText(IDS_UNINSTALLZVX), MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
    }
    // A Windows Installer package owns the entry itself.
    if (entryIsOwn && !options.Msi)
        DeleteKey(HKEY_LOCAL_MACHINE, kUninstallKey);
}

void RunUninstall()
{
    const CommandOptions& options = GetCommandOptions();

    // Without the whole path and the install folder as current directory, the
    // relative names below would be read and deleted wherever the caller left us.
    wchar_t programPath[kMaxPathChars];
    if (!ProgramPath(programPath, kMaxPathChars))
        return SetRunResult(L"stopped");
    wchar_t entry[kMaxPathChars];
    CopyString(entry, programPath, kMaxPathChars);
    wchar_t* lastSeparator = wcsrchr(entry, L'\\');
    if (lastSeparator == nullptr)
        return SetRunResult(L"stopped");
    if (lastSeparator > entry && lastSeparator[-1] == L':')
        lastSeparator[1] = 0;
    else
        lastSeparator[0] = 0;
    if (!SetCurrentDirectoryW(entry))
        return SetRunResult(L"stopped");
    AppendSeparator(entry, kMaxPathChars);

    if (!options.Silent && ShowMessageBox(nullptr, MessageText(IDS_CONTINUEUNINSTALL), MessageText(IDS_UNINSTALLZVX),
                                          MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) != IDYES)
        return SetRunResult(L"declined");

    ListReader list;
    // Shared for writing as well: an installer or editor that holds the list open
    // must not stop the run.
    if (!list.file.Open(kListName, kOpenShareWrite)) {
        wchar_t text[200];
        FormatMessageWithString(IDS_CANNOTOPENLIST, kListName, text, 200);
        ShowMessageBox(nullptr, text, MessageText(IDS_UNINSTALLZVX), MB_ICONERROR | MB_SETFOREGROUND);
        return SetRunResult(L"list-missing");
    }
    wchar_t rebootText[kKeptTextChars];
    wchar_t caption[kKeptTextChars];
    CopyString(rebootText, MessageText(IDS_REBOOTREQUIRED), kKeptTextChars);
    CopyString(caption, MessageText(IDS_UNINSTALLZVX), kKeptTextChars);

    // The shell integration still reads texts and settings, and must be gone
    // before any of the product's files are; but only this install's.
    wchar_t otherFolder[kMaxPathChars];
    InstallOwnership ownership = WhoseRegistration(otherFolder, kMaxPathChars);
    if (ownership.OtherInstall)
        LeaveOtherInstall(otherFolder, ownership.EntryIsOwn, options);
    else
        RemoveIntegration();
    UnloadLanguageLibrary();
    if (options.Msi)
        return;

    // Only the help viewer's own index files: a link of that name, or a name that
    // leads anywhere but into this folder, is left alone.
    wchar_t folderFinal[kMaxPathChars];
    bool haveFinal = FinalPathIn(entry, L"", folderFinal, kMaxPathChars);
    for (const wchar_t* helpIndex : {L"zorvex.gid", L"zorvex.fts"}) {
        wchar_t path[kMaxPathChars];
        wchar_t expected[kMaxPathChars];
        if (haveFinal && JoinPath(entry, helpIndex, path, kMaxPathChars) &&
            JoinPath(folderFinal, helpIndex, expected, kMaxPathChars))
            GateRemove(path, {expected, nullptr});
    }
    // Without the folder's own final path no entry could be checked.
    bool rebootNeeded = false;
    bool filesLeft = false;
    if (haveFinal)
        DeletionPasses(list, entry, folderFinal, NamePart(programPath), rebootNeeded, filesLeft);
    GateEndHolding();
    list.file.Close();
    RemoveFile(kListName);

    wchar_t folderPath[kMaxPathChars];
    DWORD length = GetCurrentDirectoryW(kMaxPathChars, folderPath);
    if (length == 0 || length >= kMaxPathChars)
        return SetRunResult(L"stopped");
    if (!haveFinal)
        SetRunResult(L"files-left");
    if (rebootNeeded && !options.Silent) {
        ShowMessageBox(nullptr, rebootText, caption, MB_ICONINFORMATION | MB_SETFOREGROUND);
        if (CompareNoCase(NamePart(folderPath), L"Zorvex") == 0)
            GateScheduleAtRestart(folderPath);
    }

    // Without its batch file the program and the folder stay: the run did not do
    // all it set out to do, whatever else went.
    wchar_t batchPath[kMaxPathChars];
    if (!SelfRemovalBatch(programPath, folderPath, options.Silent, batchPath, kMaxPathChars) ||
        !StartBatch(batchPath))
        SetRunResult(L"batch-failed");
    SetRunResult(rebootNeeded ? L"restart-required" : filesLeft ? L"files-left" : L"ok");
}
