#include "uninstall/uninstall_run.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>

#include "common/base/environment.h"
#include "common/base/change_log.h"
#include "common/base/exclusive_file.h"
#include "common/base/file.h"
#include "common/base/long_path.h"
#include "common/base/module.h"
#include "common/base/paths.h"
#include "common/base/scoped.h"
#include "common/base/strings.h"
#include "common/base/temp_folder.h"
#include "common/localization/messages.h"
#include "resources/resource.h"
#include "uninstall/file_holders.h"
#include "uninstall/install_list.h"
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

// A listed folder that stays and was just seen to be a plain folder is one of
// the checked folders of the entries below it, which mostly follow it.
static void KeepCheckedFolder(const wchar_t* entry, CheckedFolders& checked)
{
    size_t end = wcslen(entry);
    if (end + 1 >= kMaxPathChars || end < checked.length)
        return;
    wmemcpy(checked.path + checked.length, entry + checked.length, end - checked.length);
    checked.path[end] = L'\\';
    checked.length = end + 1;
}

// Renames a file in use to a free numbered name, when it can, and schedules it
// for deletion at the next restart.
static void ScheduleForRestart(const wchar_t* entry)
{
    wchar_t temporary[kMaxPathChars];
    bool named = false;
    for (unsigned n = 0; n < 1000; n++) {
        // A cut name would name another file: the entry then keeps its own.
        named = FormatString(temporary, kMaxPathChars, L"%s.%u.tmp", entry, n) >= 0;
        if (!named || LoggedGetFileAttributes(temporary) == INVALID_FILE_ATTRIBUTES)
            break;
    }
    const wchar_t* name = named && LoggedMoveFile(entry, temporary) ? temporary : entry;
    LoggedMoveFileEx(name, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    LogListVerdict(name == temporary ? ListVerdict::RenamedAndScheduled : ListVerdict::Scheduled, entry);
}

// What the deletion passes know of one list line. The passes after the first
// exist only to remove folders whose contents went meanwhile, so a settled line
// is not looked at again, and a file in use is scheduled once, not once a pass.
enum LineState : uint8_t {
    kLineOpen = 0,     // to be worked on in the next pass
    kLineSettled = 1,  // removed, found missing, scheduled, left to the end of the run, or naming nothing
    kLineFolder = 2,   // a folder that still held something; its attributes are cleared already
};

static void LogFolderVerdict(bool removed, uint8_t state, const wchar_t* entry)
{
    LogListVerdict(removed                   ? ListVerdict::Deleted
                   : state == kLineSettled ? ListVerdict::Absent
                                           : ListVerdict::NotYetRemovable,
                   entry);
}

// One line of a deletion pass, whose entry passed the checks; true when the
// entry was removed now. plainFolder: the entry is a folder that stays for a
// later pass and that its attributes, in the only form the calls take, show to
// be no junction or symbolic link.
static bool RemoveEntry(const wchar_t* entry, uint8_t& state, const wchar_t* programName, bool& rebootNeeded,
                        bool& plainFolder)
{
    plainFolder = false;
    if (state == kLineFolder) {
        bool removed = LoggedRemoveDirectory(entry) != FALSE;
        if (removed || IsAbsentError(GetLastError()))
            state = kLineSettled;
        LogFolderVerdict(removed, state, entry);
        return removed;
    }
    // Deleted first: nearly every entry is a file that goes at once. What the
    // entry is, is looked at only when the deletion is refused: a folder, a
    // read-only file, a file in use. A listed link goes as a link.
    if (LoggedDeleteFile(entry)) {
        state = kLineSettled;
        LogListVerdict(ListVerdict::Deleted, entry);
        return true;
    }
    DWORD error = GetLastError();
    DWORD attributes = IsAbsentError(error) ? INVALID_FILE_ATTRIBUTES : LoggedGetFileAttributes(entry);
    if (attributes == INVALID_FILE_ATTRIBUTES && !IsAbsentError(error))
        error = GetLastError();
    bool known = attributes != INVALID_FILE_ATTRIBUTES;
    if (!known && IsAbsentError(error)) {
        state = kLineSettled;
        LogListVerdict(ListVerdict::Absent, entry);
        return false;
    }
    // The attributes of a link may be those of its target, which lies outside
    // and keeps them. Attributes that cannot be read may be those of a link
    // too, so they are never cleared. Only read-only stops a removal: other
    // attributes are cleared just on what stays, which ends as it would have.
    bool clear = known && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                 (attributes & ~(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_NORMAL)) != 0;
    bool clearFirst = clear && (attributes & FILE_ATTRIBUTE_READONLY);
    if (clearFirst)
        LoggedSetFileAttributes(entry, 0);
    if (known && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        // A folder that is not empty yet simply fails in this pass.
        bool removed = LoggedRemoveDirectory(entry) != FALSE;
        bool absent = !removed && IsAbsentError(GetLastError());
        if (!removed && clear && !clearFirst)
            LoggedSetFileAttributes(entry, 0);
        state = removed || absent ? kLineSettled : kLineFolder;
        LogFolderVerdict(removed, state, entry);
        wchar_t longPath[kMaxPathChars];
        plainFolder = state == kLineFolder && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                      !DifferingExtendedForm(entry, longPath);
        return removed;
    }
    if (clearFirst && LoggedDeleteFile(entry)) {
        state = kLineSettled;
        LogListVerdict(ListVerdict::Deleted, entry);
        return true;
    }
    LogListVerdict(ListVerdict::NotYetRemovable, entry);
    if (!known)
        return false;
    if (clear && !clearFirst)
        LoggedSetFileAttributes(entry, 0);
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
    ScheduleForRestart(entry);
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

// Passes over the list until one removes nothing, so that a folder listed before
// its files goes in a later pass. entry holds the install folder with its
// trailing separator. True when a file was left for the next restart.
static bool DeletionPasses(ListReader& list, wchar_t* entry, const wchar_t* programName)
{
    size_t folderLength = wcslen(entry);
    size_t lineCount = CountListLines(list);
    // A byte a line. Without the memory for it every line is worked on in every
    // pass: slower, and a file in use is scheduled again each pass.
    std::unique_ptr<uint8_t[]> record(new (std::nothrow) uint8_t[lineCount > 0 ? lineCount : 1]());
    CheckedFolders checked;
    wmemcpy(checked.path, entry, folderLength);
    bool rebootNeeded = false;
    char line[kListLineBytes];
    for (;;) {
        RewindList(list);
        checked.length = folderLength;
        unsigned removed = 0;
        size_t length;
        bool whole;
        for (size_t index = 0; ReadListLine(list, line, kListLineBytes, length, whole); index++) {
            uint8_t unrecorded = kLineOpen;
            uint8_t& state = record && index < lineCount ? record[index] : unrecorded;
            if (state == kLineSettled)
                continue;
            if (!whole || !EntryFromLine(line, length, entry, folderLength)) {
                state = kLineSettled;
                LogSkippedLine(line, length, whole, folderLength);
                continue;
            }
            PathVerdict path = CheckEntryPath(entry, folderLength, checked);
            if (path != kPathInside) {
                state = kLineSettled;
                LogListVerdict(path == kPathThroughLink ? ListVerdict::SkippedLink : ListVerdict::Absent, entry);
                continue;
            }
            bool plainFolder;
            if (RemoveEntry(entry, state, programName, rebootNeeded, plainFolder)) {
                removed++;
                // The plain form of a name ending in a dot or blank names another
                // entry ("a." is "a"), and what went may have been that one: the
                // next pass looks at the line again, as it did before lines were
                // remembered, and finds it gone or removes it.
                wchar_t longPath[kMaxPathChars];
                if (DifferingExtendedForm(entry, longPath))
                    state = kLineOpen;
            } else if (plainFolder) {
                KeepCheckedFolder(entry, checked);
            }
        }
        if (removed == 0)
            return rebootNeeded;
    }
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
    if (ChangesWithheld())
        return true;
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
    return MakeOwnerOnlySecurity(descriptor);
}

bool SelfRemovalBatch(const wchar_t* programPath, const wchar_t* folderPath, bool silent, wchar_t* batchPath,
                      size_t capacity)
{
    size_t length = TemporaryFolder(batchPath, capacity);
    if (length == 0)
        return false;
    // Unless closed after its last line, File deletes the batch file again
    // through its handle.
    File batch;
    if (ChangesWithheld() ? !AppendString(batchPath, L"Uninstall_Zvx.Bat", capacity)
                          : !CreateExclusiveFile(batch, batchPath, length, capacity, L"Uninstall_Zvx", L".Bat"))
        return false;
    LogChange("file-write", ChangesWithheld() ? kOutcomePreview : 0, batchPath);
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
    return whole && (ChangesWithheld() || batch.Close());
}

// Starts the batch file hidden through the command interpreter and does not wait.
static void StartBatch(const wchar_t* batchPath)
{
    wchar_t comspec[kMaxPathChars];
    if (!ReadEnvironmentVariable(L"COMSPEC", comspec, kMaxPathChars) || comspec[0] == 0)
        return;
    // The interpreter is named as the application too, and quoted when it holds
    // a blank, so that a value with blanks cannot start another program. /s with
    // the path in a second pair of quotes keeps the path whole whatever it holds
    // (cmd's own rule strips the quotes of "R&D (x)" and splits at the &), and
    // /d runs no AutoRun command of the registry first, and /v:off keeps a '!' in
    // the path a '!' where the registry turns delayed expansion on.
    const wchar_t* format = wcschr(comspec, L' ') != nullptr ? L"\"%s\" /d /v:off /s /c \"\"%s\"\""
                                                              : L"%s /d /v:off /s /c \"\"%s\"\"";
    wchar_t commandLine[2 * kMaxPathChars + 32];
    if (FormatString(commandLine, sizeof commandLine / sizeof commandLine[0], format, comspec, batchPath) < 0)
        return;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    // The batch process inherits the current directory; it must not hold the
    // install folder, which the batch file removes.
    SetCurrentDirectoryW(L"..");
    PROCESS_INFORMATION process = {};
    if (LoggedCreateProcess(comspec, commandLine, TRUE, &startup, &process)) {
        ScopedHandle processHandle(process.hProcess);
        ScopedHandle threadHandle(process.hThread);
    }
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
    // before any of the product's files are.
    RemoveIntegration();
    UnloadLanguageLibrary();
    if (options.Msi)
        return;

    // Only the help viewer's own index files: a link of that name, or a name that
    // leads anywhere but into this folder, is left alone.
    for (const wchar_t* helpIndex : {L"zorvex.gid", L"zorvex.fts"}) {
        wchar_t path[kMaxPathChars];
        wchar_t expected[kMaxPathChars];
        if (JoinPath(entry, helpIndex, path, kMaxPathChars) && FinalPathIn(entry, helpIndex, expected, kMaxPathChars))
            RemovePlainFile(path, expected);
    }
    bool rebootNeeded = DeletionPasses(list, entry, NamePart(programPath));
    bool filesLeft = EndListVerdicts();
    list.file.Close();
    RemoveFile(kListName);

    wchar_t folderPath[kMaxPathChars];
    DWORD length = GetCurrentDirectoryW(kMaxPathChars, folderPath);
    if (length == 0 || length >= kMaxPathChars)
        return SetRunResult(L"stopped");
    SetRunResult(rebootNeeded ? L"restart-required" : filesLeft ? L"files-left" : L"ok");
    if (rebootNeeded && !options.Silent) {
        ShowMessageBox(nullptr, rebootText, caption, MB_ICONINFORMATION | MB_SETFOREGROUND);
        if (CompareNoCase(NamePart(folderPath), L"Zorvex") == 0)
            LoggedMoveFileEx(folderPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }

    wchar_t batchPath[kMaxPathChars];
    if (SelfRemovalBatch(programPath, folderPath, options.Silent, batchPath, kMaxPathChars))
        StartBatch(batchPath);
}
