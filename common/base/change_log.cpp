#include "common/base/change_log.h"

#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <memory>
#include <new>

#include "common/base/array.h"
#include "common/base/environment.h"
#include "common/base/exclusive_file.h"
#include "common/base/file.h"
#include "common/base/long_path.h"
#include "common/base/module.h"
#include "common/base/paths.h"
#include "common/base/scoped.h"
#include "common/base/strings.h"
#include "common/base/temp_folder.h"
#include "resources/resource.h"
#include "uninstall/file_holders.h"

bool gChangeLogOn = false;
bool gChangesWithheld = false;

namespace {

// Where lines go: the file ZORVEX_LOG names, opened for appending, or the
// preview's own file in the temporary folder.
HANDLE gLogHandle = INVALID_HANDLE_VALUE;
File* gPreviewLog = nullptr;
bool gPreviewRequested = false;
bool gPreviewRun = false;
bool gStarted = false;
// Lines logged before the start line (the -warning notice comes while the
// command line is read), written after it.
char gPending[8192];
size_t gPendingUsed = 0;
SYSTEMTIME gOpenLocal;
int gOpenOffset = 0;
wchar_t gResult[32];
const wchar_t* gRefusal = nullptr;

// A set of names, case ignored, in one normal spelling.
struct NameSet {
    Array<wchar_t*> Names;
};
NameSet gPreviewDeleted;
NameSet gNotYetRemoved;
// Names whose attributes a preview cleared.
NameSet gPreviewCleared;

void FreeNames(NameSet& set)
{
    for (uint64_t i = 0; i < set.Names.Count; i++)
        std::free(set.Names[i]);
    set.Names.Free();
}

// "\\?\" dropped, '/' as '\', no trailing separator: the forms a call may take
// of one name count as one.
bool NormalName(const wchar_t* name, wchar_t* dest, size_t capacity)
{
    if (wcsncmp(name, L"\\\\?\\", 4) == 0)
        name += 4;
    if (!CopyString(dest, name, capacity))
        return false;
    size_t length = 0;
    for (wchar_t* p = dest; *p != 0; p++, length++) {
        if (*p == L'/')
            *p = L'\\';
    }
    while (length > 0 && dest[length - 1] == L'\\')
        dest[--length] = 0;
    return true;
}

int64_t FindName(const NameSet& set, const wchar_t* normal)
{
    for (uint64_t i = 0; i < set.Names.Count; i++) {
        if (CompareStringOrdinal(set.Names[i], -1, normal, -1, TRUE) == CSTR_EQUAL)
            return static_cast<int64_t>(i);
    }
    return -1;
}

void AddName(NameSet& set, const wchar_t* name)
{
    wchar_t normal[kMaxPathChars];
    if (!NormalName(name, normal, kMaxPathChars) || FindName(set, normal) >= 0)
        return;
    size_t bytes = (wcslen(normal) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(std::malloc(bytes));
    if (copy == nullptr)
        return;
    memcpy(copy, normal, bytes);
    set.Names.Grow(1);
    set.Names[set.Names.Count - 1] = copy;
}

void RemoveName(NameSet& set, const wchar_t* name)
{
    wchar_t normal[kMaxPathChars];
    if (!NormalName(name, normal, kMaxPathChars))
        return;
    int64_t i = FindName(set, normal);
    if (i < 0)
        return;
    std::free(set.Names[static_cast<uint64_t>(i)]);
    set.Names[static_cast<uint64_t>(i)] = set.Names[set.Names.Count - 1];
    set.Names.SetCount(set.Names.Count - 1);
}

bool HasName(const NameSet& set, const wchar_t* name)
{
    wchar_t normal[kMaxPathChars];
    return NormalName(name, normal, kMaxPathChars) && FindName(set, normal) >= 0;
}

void LocalNow(SYSTEMTIME& local, int& offsetMinutes)
{
    SYSTEMTIME utc;
    GetSystemTime(&utc);
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
        local = utc;
        offsetMinutes = 0;
        return;
    }
    FILETIME a, b;
    SystemTimeToFileTime(&local, &a);
    SystemTimeToFileTime(&utc, &b);
    int64_t difference = static_cast<int64_t>((static_cast<uint64_t>(a.dwHighDateTime) << 32) | a.dwLowDateTime) -
                         static_cast<int64_t>((static_cast<uint64_t>(b.dwHighDateTime) << 32) | b.dwLowDateTime);
    // Rounded to whole minutes: the two readings differ by the clock's grain.
    offsetMinutes = static_cast<int>((difference + (difference < 0 ? -300000000 : 300000000)) / 600000000);
}

void WriteBytes(const char* bytes, size_t count)
{
    if (count == 0 || count > MAXDWORD)
        return;
    DWORD written = 0;
    HANDLE handle = gPreviewLog != nullptr ? gPreviewLog->NativeHandle() : gLogHandle;
    // One call a line, so that the lines of two runs appending at once never mix.
    // A failed write is not the run's business.
    if (handle != INVALID_HANDLE_VALUE)
        WriteFile(handle, bytes, static_cast<DWORD>(count), &written, nullptr);
}

void Emit(const char* bytes, size_t count)
{
    if (gStarted) {
        WriteBytes(bytes, count);
        return;
    }
    if (count <= sizeof gPending - gPendingUsed) {
        memcpy(gPending + gPendingUsed, bytes, count);
        gPendingUsed += count;
    }
}

// One event: time, pid, the event word and its fixed fields, then up to three
// quoted texts (null ones left out).
void WriteEvent(const char* fields, const wchar_t* a = nullptr, const wchar_t* b = nullptr,
                const wchar_t* c = nullptr, const SYSTEMTIME* at = nullptr, int atOffset = 0)
{
    SYSTEMTIME local;
    int offset = atOffset;
    if (at != nullptr)
        local = *at;
    else
        LocalNow(local, offset);
    char head[96];
    FormatLogTime(local, offset, head, sizeof head);
    size_t headLength = strlen(head);
    FormatStringA(head + headLength, sizeof head - headLength, " %lu ", GetCurrentProcessId());
    headLength = strlen(head);
    size_t fieldLength = strlen(fields);
    size_t total = headLength + fieldLength + 1;
    for (const wchar_t* text : {a, b, c}) {
        if (text != nullptr)
            total += 1 + QuoteLogText(text, nullptr);
    }
    std::unique_ptr<char[]> line(new (std::nothrow) char[total]);
    if (!line)
        return;
    char* out = line.get();
    memcpy(out, head, headLength);
    out += headLength;
    memcpy(out, fields, fieldLength);
    out += fieldLength;
    for (const wchar_t* text : {a, b, c}) {
        if (text == nullptr)
            continue;
        *out++ = ' ';
        out += QuoteLogText(text, out);
    }
    *out++ = '\n';
    Emit(line.get(), static_cast<size_t>(out - line.get()));
}

void OutcomeText(DWORD outcome, char* dest, size_t capacity)
{
    if (outcome == 0)
        CopyStringA(dest, "ok", capacity);
    else if (outcome == kOutcomePreview)
        CopyStringA(dest, "preview", capacity);
    else if (outcome >= 0x80000000u)
        FormatStringA(dest, capacity, "error=0x%08lX", static_cast<unsigned long>(outcome));
    else
        FormatStringA(dest, capacity, "error=%lu", static_cast<unsigned long>(outcome));
}

// A relative name (the list, the help index files) as the full path it names now.
const wchar_t* FullPathForLog(const wchar_t* path, wchar_t* buffer)
{
    if (path == nullptr || path[0] == 0 || IsAbsolutePath(path))
        return path;
    DWORD length = GetFullPathNameW(path, kMaxPathChars, buffer, nullptr);
    return length > 0 && length < kMaxPathChars ? buffer : path;
}

void WriteChange(const char* event, DWORD outcome, const char* extra, const wchar_t* a, const wchar_t* b = nullptr,
                 const wchar_t* c = nullptr)
{
    wchar_t fullA[kMaxPathChars];
    wchar_t fullB[kMaxPathChars];
    if (strncmp(event, "file-", 5) == 0 || strncmp(event, "folder-", 7) == 0 || strcmp(event, "restart-delete") == 0 ||
        strcmp(event, "shortcut-save") == 0) {
        a = FullPathForLog(a, fullA);
        b = FullPathForLog(b, fullB);
    }
    char outcomeText[24];
    OutcomeText(outcome, outcomeText, sizeof outcomeText);
    char fields[96];
    FormatStringA(fields, sizeof fields, extra != nullptr ? "%s %s %s" : "%s %s", event, outcomeText,
                  extra != nullptr ? extra : "");
    WriteEvent(fields, a, b, c);
}

// The full path with every existing part in its long form: a short name, a
// relative path or ".." gives the same text as the plain long spelling.
bool LongFullPath(const wchar_t* path, wchar_t* dest, size_t capacity)
{
    wchar_t full[kMaxPathChars];
    DWORD length = GetFullPathNameW(path, kMaxPathChars, full, nullptr);
    if (length == 0 || length >= kMaxPathChars)
        return false;
    DWORD size = static_cast<DWORD>(capacity);
    length = GetLongPathNameW(full, dest, size);
    if (length > 0 && length < size)
        return true;
    // Not there yet: its folder in the long form, and the name as given.
    wchar_t folder[kMaxPathChars];
    if (!CopyString(folder, full, kMaxPathChars))
        return false;
    StripNamePart(folder);
    length = GetLongPathNameW(folder, dest, size);
    return length > 0 && length < size && JoinPath(dest, NamePart(full), dest, capacity);
}

bool ProgramFolder(wchar_t* dest, size_t capacity)
{
    wchar_t path[kMaxPathChars];
    if (!ProgramPath(path, kMaxPathChars))
        return false;
    StripNamePart(path);
    return LongFullPath(path, dest, capacity);
}

bool FinalPathOf(HANDLE handle, wchar_t* dest, size_t capacity)
{
    DWORD length = GetFinalPathNameByHandleW(handle, dest, static_cast<DWORD>(capacity),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= capacity)
        return false;
    wchar_t normal[kMaxPathChars];
    return NormalName(dest, normal, kMaxPathChars) && CopyString(dest, normal, capacity);
}

// Whether the open log is, by its handle, a file of the program's folder (a
// link on the way could lead there whatever its name says).
bool HandleLiesInProgramFolder(HANDLE log, const wchar_t* folder)
{
    ScopedFileHandle folderHandle(CreateFileW(folder, FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    wchar_t logFinal[kMaxPathChars];
    wchar_t folderFinal[kMaxPathChars];
    // What cannot be told counts as inside: the log is then refused.
    if (!folderHandle || !FinalPathOf(log, logFinal, kMaxPathChars) ||
        !FinalPathOf(folderHandle.Get(), folderFinal, kMaxPathChars))
        return true;
    return IsPathWithinFolder(logFinal, folderFinal);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The log opened for appending, shared, so that the uninstall and the runs of
// its batch file write into one file. It is opened without following a link and
// written only when its handle shows the plain file at the name given, with no
// other link: an elevated run (as SYSTEM, into the shared Windows Temp) must
// not append to whatever a planted link or hard link there leads to. A log made
// here and then refused is deleted again through its handle.
HANDLE OpenLogFile(const wchar_t* longPath, const wchar_t* folder)
{
    constexpr DWORD kAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    bool made = false;
    HANDLE handle = CreateFileW(longPath, kAccess, kShareAll, nullptr, OPEN_EXISTING, kFlags, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
        handle = CreateFileW(longPath, kAccess | DELETE, kShareAll, nullptr, CREATE_NEW, kFlags, nullptr);
        made = handle != INVALID_HANDLE_VALUE;
        if (!made && GetLastError() == ERROR_FILE_EXISTS)
            handle = CreateFileW(longPath, kAccess, kShareAll, nullptr, OPEN_EXISTING, kFlags, nullptr);
    }
    if (handle == INVALID_HANDLE_VALUE)
        return handle;
    // A device (NUL, a pipe, a console) or a folder is no log, nor a link.
    BY_HANDLE_FILE_INFORMATION info;
    wchar_t finalPath[kMaxPathChars];
    DWORD finalLength = GetFileType(handle) == FILE_TYPE_DISK
                            ? GetFinalPathNameByHandleW(handle, finalPath, kMaxPathChars,
                                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)
                            : 0;
    if (finalLength > 0 && finalLength < kMaxPathChars && GetFileInformationByHandle(handle, &info) &&
        IsRequestedFile(info, finalPath, longPath) && !HandleLiesInProgramFolder(handle, folder))
        return handle;
    if (made) {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
    }
    CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
}

// The preview's own log, made as the batch file is: new, never through a
// link, under an unpredictable name when its own is taken.
bool OpenPreviewLog()
{
    wchar_t path[kMaxPathChars];
    size_t length = TemporaryFolder(path, kMaxPathChars);
    if (length == 0)
        return false;
    auto* file = new (std::nothrow) File;
    if (file == nullptr)
        return false;
    if (!CreateExclusiveFile(*file, path, length, kMaxPathChars, L"Zorvex-preview", L".log")) {
        delete file;
        return false;
    }
    gPreviewLog = file;
    return true;
}

void WindowsVersionText(char* dest, size_t capacity)
{
    CopyStringA(dest, "unknown", capacity);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr)
        return;
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    auto getVersion =
        reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    // The real version, whatever the manifest or a compatibility layer tells
    // GetVersionEx.
    if (getVersion != nullptr && getVersion(&info) == 0)
        FormatStringA(dest, capacity, "%lu.%lu.%lu", info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
}

const char* ElevationText()
{
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
        return "unknown";
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size))
        return "unknown";
    return elevation.TokenIsElevated ? "elevated" : "not-elevated";
}

void ResetLog()
{
    if (gLogHandle != INVALID_HANDLE_VALUE)
        CloseHandle(gLogHandle);
    gLogHandle = INVALID_HANDLE_VALUE;
    if (gPreviewLog != nullptr) {
        gPreviewLog->Close();
        delete gPreviewLog;
        gPreviewLog = nullptr;
    }
    FreeNames(gPreviewDeleted);
    FreeNames(gPreviewCleared);
    FreeNames(gNotYetRemoved);
    gChangeLogOn = false;
    gChangesWithheld = false;
    gPreviewRequested = false;
    gPreviewRun = false;
    gStarted = false;
    gPendingUsed = 0;
    gResult[0] = 0;
    gRefusal = nullptr;
}

const char* RootName(HKEY root)
{
    if (root == HKEY_CLASSES_ROOT)
        return "HKCR";
    if (root == HKEY_CURRENT_USER)
        return "HKCU";
    if (root == HKEY_LOCAL_MACHINE)
        return "HKLM";
    if (root == HKEY_USERS)
        return "HKU";
    return "HKEY";
}

const char* VerdictWord(ListVerdict verdict)
{
    switch (verdict) {
    case ListVerdict::Deleted:
        return "deleted";
    case ListVerdict::Absent:
        return "absent";
    case ListVerdict::RenamedAndScheduled:
        return "renamed-scheduled";
    case ListVerdict::Scheduled:
        return "scheduled";
    case ListVerdict::KeptForLater:
        return "kept";
    case ListVerdict::NotYetRemovable:
        return "retry";
    case ListVerdict::SkippedOutside:
        return "skipped-outside";
    case ListVerdict::SkippedLink:
        return "skipped-link";
    case ListVerdict::SkippedDamaged:
        return "skipped-damaged";
    }
    return "unknown";
}

const char* AnswerWord(int answer)
{
    switch (answer) {
    case IDOK:
        return "ok";
    case IDCANCEL:
        return "cancel";
    case IDABORT:
        return "abort";
    case IDRETRY:
        return "retry";
    case IDIGNORE:
        return "ignore";
    case IDYES:
        return "yes";
    case IDNO:
        return "no";
    default:
        return "none";
    }
}

// Whether everything found in folder is in the preview's record: the folder
// would then be empty when its turn came.
bool PreviewFolderEmptied(const wchar_t* folder)
{
    wchar_t pattern[kMaxPathChars];
    if (!JoinPath(folder, L"*", pattern, kMaxPathChars))
        return false;
    WIN32_FIND_DATAW data;
    ScopedFindHandle find(FindFirstFileW(pattern, &data));
    if (!find)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0)
            continue;
        wchar_t child[kMaxPathChars];
        if (!JoinPath(folder, data.cFileName, child, kMaxPathChars) || !HasName(gPreviewDeleted, child))
            return false;
    } while (FindNextFileW(find.Get(), &data));
    return true;
}

}  // namespace

size_t QuoteLogText(const wchar_t* text, char* dest)
{
    size_t n = 0;
    auto put = [&](char c) {
        if (dest != nullptr)
            dest[n] = c;
        n++;
    };
    static const char kHex[] = "0123456789ABCDEF";
    put('"');
    for (const wchar_t* p = text; *p != 0; p++) {
        uint32_t c = static_cast<uint16_t>(*p);
        if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(p[1]) - 0xDC00);
            p++;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            put('\\');
            put('u');
            for (int shift = 12; shift >= 0; shift -= 4)
                put(kHex[(c >> shift) & 0xF]);
            continue;
        }
        if (c == '\\' || c == '"') {
            put('\\');
            put(static_cast<char>(c));
        } else if (c == '\r') {
            put('\\');
            put('r');
        } else if (c == '\n') {
            put('\\');
            put('n');
        } else if (c == '\t') {
            put('\\');
            put('t');
        } else if (c < 0x20 || c == 0x7F) {
            put('\\');
            put('x');
            put(kHex[c >> 4]);
            put(kHex[c & 0xF]);
        } else if (c < 0x80) {
            put(static_cast<char>(c));
        } else if (c < 0x800) {
            put(static_cast<char>(0xC0 | (c >> 6)));
            put(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            put(static_cast<char>(0xE0 | (c >> 12)));
            put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            put(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            put(static_cast<char>(0xF0 | (c >> 18)));
            put(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            put(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    put('"');
    return n;
}

bool IsPathWithinFolder(const wchar_t* path, const wchar_t* folder)
{
    size_t folderLength = wcslen(folder);
    while (folderLength > 0 && folder[folderLength - 1] == L'\\')
        folderLength--;
    if (folderLength == 0 || wcslen(path) < folderLength)
        return false;
    if (CompareStringOrdinal(path, static_cast<int>(folderLength), folder, static_cast<int>(folderLength), TRUE) !=
        CSTR_EQUAL)
        return false;
    return path[folderLength] == 0 || path[folderLength] == L'\\';
}

void FormatLogTime(const SYSTEMTIME& local, int offsetMinutes, char* dest, size_t capacity)
{
    int magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    FormatStringA(dest, capacity, "%04u-%02u-%02uT%02u:%02u:%02u.%03u%c%02d:%02d", local.wYear, local.wMonth,
                  local.wDay, local.wHour, local.wMinute, local.wSecond, local.wMilliseconds,
                  offsetMinutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
}

void OpenChangeLog(const wchar_t* switchPath)
{
    ResetLog();
    wchar_t value[4];
    gPreviewRequested = ReadEnvironmentVariable(L"ZORVEX_PREVIEW", value, 4) && wcscmp(value, L"1") == 0;
    LocalNow(gOpenLocal, gOpenOffset);
    wchar_t path[kMaxPathChars];
    bool fromSwitch = switchPath != nullptr;
    bool named = fromSwitch ? CopyString(path, switchPath, kMaxPathChars) && path[0] != 0
                            : ReadEnvironmentVariable(L"ZORVEX_LOG", path, kMaxPathChars) && path[0] != 0;
    if (named || fromSwitch) {
        wchar_t longPath[kMaxPathChars];
        wchar_t folder[kMaxPathChars];
        // Inside the program's folder it would keep the folder from being removed.
        if (!named || !ProgramFolder(folder, kMaxPathChars) || !LongFullPath(path, longPath, kMaxPathChars))
            gRefusal = fromSwitch ? L"-log refused: its path cannot be had whole"
                                  : L"ZORVEX_LOG refused: its path cannot be had whole";
        else if (IsPathWithinFolder(longPath, folder))
            gRefusal = fromSwitch ? L"-log refused: it lies in the install folder"
                                  : L"ZORVEX_LOG refused: it lies in the install folder";
        else
            gLogHandle = OpenLogFile(longPath, folder);
    }
    gChangeLogOn = gLogHandle != INVALID_HANDLE_VALUE || gPreviewRequested;
}

void StartChangeLog(const wchar_t* mode, bool previewMode, const wchar_t* commandLine)
{
    if (!gChangeLogOn)
        return;
    gPreviewRun = gPreviewRequested && previewMode;
    if (gPreviewRun && gLogHandle == INVALID_HANDLE_VALUE)
        OpenPreviewLog();
    if (gLogHandle == INVALID_HANDLE_VALUE && gPreviewLog == nullptr) {
        // Nowhere to write; a preview still changes nothing.
        gChangeLogOn = gPreviewRun;
        gChangesWithheld = gPreviewRun;
        gStarted = true;
        gPendingUsed = 0;
        return;
    }
    char modeText[32];
    if (!AnsiFromWide(mode, modeText, sizeof modeText))
        CopyStringA(modeText, "unknown", sizeof modeText);
    char windows[48];
    WindowsVersionText(windows, sizeof windows);
    char fields[160];
    FormatStringA(fields, sizeof fields, "start %s %s %s %d.%02d.%d %s", modeText, gPreviewRun ? "preview" : "real",
                  ElevationText(), ZVX_VERSION_MAJOR, ZVX_VERSION_MINOR, ZVX_VERSION_BETA, windows);
    gStarted = true;
    WriteEvent(fields, commandLine, nullptr, nullptr, &gOpenLocal, gOpenOffset);
    WriteBytes(gPending, gPendingUsed);
    gPendingUsed = 0;
    if (gRefusal != nullptr)
        LogNote(gRefusal);
    gChangesWithheld = gPreviewRun;
}

void LogPreviewNote()
{
    if (gPreviewRun)
        LogNote(L"preview: nothing is changed; each line with the outcome preview is a change a real run would "
                L"attempt now, and every deletion is taken to succeed, so that a folder emptied by the entries "
                L"before it counts as removed");
}

bool PreviewRun()
{
    return gPreviewRun;
}

void SetRunResult(const wchar_t* word)
{
    // Kept with or without a log: the exit code is made from it.
    if (gResult[0] == 0)
        CopyString(gResult, word, sizeof gResult / sizeof gResult[0]);
}

const wchar_t* RunResult()
{
    return gResult[0] != 0 ? gResult : L"ok";
}

void CloseChangeLog(int exitCode)
{
    if (!gChangeLogOn) {
        ResetLog();
        return;
    }
    char word[32];
    if (gResult[0] == 0 || !AnsiFromWide(gResult, word, sizeof word))
        CopyStringA(word, "ok", sizeof word);
    char fields[64];
    FormatStringA(fields, sizeof fields, "result %s %d", word, exitCode);
    gStarted = true;
    WriteEvent(fields);
    ResetLog();
}

bool RegistryKeyName(HKEY root, REGSAM view, const wchar_t* keyPath, wchar_t* dest, size_t capacity)
{
    const char* rootName = RootName(root);
    wchar_t rootText[8];
    size_t n = 0;
    for (; rootName[n] != 0; n++)
        rootText[n] = static_cast<wchar_t>(rootName[n]);
    rootText[n] = 0;
    return FormatString(dest, capacity, L"%s%s\\%s", rootText, (view & KEY_WOW64_32KEY) ? L"32" : L"", keyPath) >= 0;
}

void LogRegistryChange(const char* event, DWORD outcome, HKEY root, REGSAM view, const wchar_t* keyPath,
                       const wchar_t* valueName)
{
    if (!gChangeLogOn)
        return;
    char rootText[8];
    FormatStringA(rootText, sizeof rootText, "%s%s", RootName(root), (view & KEY_WOW64_32KEY) ? "32" : "");
    WriteChange(event, outcome, rootText, keyPath, valueName);
}

void LogValueSet(DWORD outcome, HKEY root, REGSAM view, const wchar_t* keyPath, const wchar_t* valueName, DWORD type,
                 const void* data, DWORD bytes)
{
    if (!gChangeLogOn)
        return;
    char extra[48];
    const char* rootName = RootName(root);
    const char* viewText = (view & KEY_WOW64_32KEY) ? "32" : "";
    if (type == REG_DWORD && bytes == sizeof(DWORD)) {
        DWORD number;
        memcpy(&number, data, sizeof number);
        FormatStringA(extra, sizeof extra, "%s%s REG_DWORD %lu", rootName, viewText, number);
        WriteChange("value-set", outcome, extra, keyPath, valueName);
        return;
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        // The data as text, up to its terminator or its end.
        size_t units = bytes / sizeof(wchar_t);
        std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[units + 1]);
        if (!text)
            return;
        memcpy(text.get(), data, units * sizeof(wchar_t));
        text[units] = 0;
        FormatStringA(extra, sizeof extra, "%s%s %s", rootName, viewText,
                      type == REG_SZ ? "REG_SZ" : "REG_EXPAND_SZ");
        WriteChange("value-set", outcome, extra, keyPath, valueName, text.get());
        return;
    }
    FormatStringA(extra, sizeof extra, "%s%s type=%lu", rootName, viewText, type);
    WriteChange("value-set", outcome, extra, keyPath, valueName);
}

void LogChange(const char* event, DWORD outcome, const wchar_t* text, const wchar_t* second)
{
    if (gChangeLogOn)
        WriteChange(event, outcome, nullptr, text, second);
}

void LogAttributeChange(DWORD outcome, const wchar_t* path, DWORD attributes)
{
    if (!gChangeLogOn)
        return;
    char extra[16];
    FormatStringA(extra, sizeof extra, "0x%08lX", attributes);
    WriteChange("file-attributes", outcome, extra, path);
}

void LogMessageBox(int answer, const wchar_t* caption, const wchar_t* text)
{
    if (!gChangeLogOn)
        return;
    char fields[32];
    FormatStringA(fields, sizeof fields, "message-box %s", AnswerWord(answer));
    WriteEvent(fields, caption, text);
}

void LogBatchText(const wchar_t* text)
{
    if (!gChangeLogOn)
        return;
    const wchar_t* start = text;
    for (const wchar_t* p = text;; p++) {
        if (*p != 0 && *p != L'\n')
            continue;
        size_t length = static_cast<size_t>(p - start);
        if (length > 0 && start[length - 1] == L'\r')
            length--;
        if (length > 0 || *p == L'\n') {
            std::unique_ptr<wchar_t[]> line(new (std::nothrow) wchar_t[length + 1]);
            if (!line)
                return;
            wmemcpy(line.get(), start, length);
            line[length] = 0;
            WriteEvent("batch-line", line.get());
        }
        if (*p == 0)
            return;
        start = p + 1;
    }
}

void LogNote(const wchar_t* text)
{
    if (gChangeLogOn)
        WriteEvent("note", text);
}

void LogEvent(const char* fields, const wchar_t* a, const wchar_t* b, const wchar_t* c)
{
    if (gChangeLogOn)
        WriteEvent(fields, a, b, c);
}

void LogListVerdict(ListVerdict verdict, const wchar_t* entry)
{
    if (!gChangeLogOn)
        return;
    // A folder that still held something is tried again in the next pass: only
    // how it ends is a verdict.
    if (verdict == ListVerdict::NotYetRemovable) {
        AddName(gNotYetRemoved, entry);
        return;
    }
    RemoveName(gNotYetRemoved, entry);
    char fields[48];
    FormatStringA(fields, sizeof fields, "list-entry %s", VerdictWord(verdict));
    WriteEvent(fields, entry);
}

bool EndListVerdicts()
{
    if (!gChangeLogOn)
        return false;
    bool any = gNotYetRemoved.Names.Count > 0;
    for (uint64_t i = 0; i < gNotYetRemoved.Names.Count; i++)
        WriteEvent("list-entry left", gNotYetRemoved.Names[i]);
    FreeNames(gNotYetRemoved);
    return any;
}

void RecordPreviewDeletion(const wchar_t* name)
{
    AddName(gPreviewDeleted, name);
}

bool IsPreviewDeleted(const wchar_t* name)
{
    return gPreviewDeleted.Names.Count > 0 && HasName(gPreviewDeleted, name);
}

// The attributes one form of a name shows in a preview: none where the preview
// deleted, and without read-only where it cleared them.
static DWORD PreviewAttributesOf(const wchar_t* path)
{
    if (gChangesWithheld && IsPreviewDeleted(path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && gChangesWithheld && gPreviewCleared.Names.Count > 0 &&
        HasName(gPreviewCleared, path)) {
        attributes &= FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        if (attributes == 0)
            attributes = FILE_ATTRIBUTE_NORMAL;
    }
    return attributes;
}

DWORD LoggedGetFileAttributes(const wchar_t* path)
{
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    wchar_t retry[kMaxPathChars];
    const wchar_t* used;
    WithExtendedRetry(path, retry, used, [&](const wchar_t* form) {
        attributes = PreviewAttributesOf(form);
        return attributes != INVALID_FILE_ATTRIBUTES;
    });
    return attributes;
}

// Whether a deletion of one form of a name would be done: for what exists (and
// is of the kind asked for) and is not refused, as Windows refuses it, for being
// read-only, the running program, held open without delete sharing or loaded
// by a process the Restart Manager names; a folder only once all it holds went
// before it. The last error tells a refusal.
static bool PreviewWouldDelete(const wchar_t* path, bool folder)
{
    DWORD attributes = PreviewAttributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder != folder) {
        SetLastError(folder ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED);
        return false;
    }
    if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_READONLY) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    // Opening for delete changes nothing.
    if (!folder) {
        wchar_t program[kMaxPathChars];
        wchar_t programNormal[kMaxPathChars];
        wchar_t normal[kMaxPathChars];
        DWORD length = GetModuleFileNameW(nullptr, program, kMaxPathChars);
        if (length > 0 && length < kMaxPathChars && NormalName(program, programNormal, kMaxPathChars) &&
            NormalName(path, normal, kMaxPathChars) &&
            CompareStringOrdinal(programNormal, -1, normal, -1, TRUE) == CSTR_EQUAL) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        ScopedFileHandle probe(CreateFileW(path, DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!probe && GetLastError() == ERROR_SHARING_VIOLATION) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return false;
        }
        if (FileInUseForPreview(path))
            return false;
    }
    // A link goes as a link, whatever it leads to.
    if (folder && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !PreviewFolderEmptied(path)) {
        SetLastError(ERROR_DIR_NOT_EMPTY);
        return false;
    }
    return true;
}

// Every call below is made with the caller's name and, where long_path.h says
// so, once more in the extended-length form; it is logged once, under the form
// of its last call, with that call's outcome.
static BOOL Logged(const char* event, BOOL done, const wchar_t* a, const wchar_t* b = nullptr,
                   const char* extra = nullptr)
{
    DWORD error = done ? 0 : GetLastError();
    WriteChange(event, done ? 0 : (error != 0 ? error : ERROR_GEN_FAILURE), extra, a, b);
    SetLastError(error);
    return done;
}

static BOOL PreviewDeletion(const char* event, const wchar_t* path, bool folder)
{
    wchar_t retry[kMaxPathChars];
    const wchar_t* used;
    if (!WithExtendedRetry(path, retry, used, [&](const wchar_t* form) { return PreviewWouldDelete(form, folder); }))
        return FALSE;
    WriteChange(event, kOutcomePreview, nullptr, used);
    RecordPreviewDeletion(used);
    return TRUE;
}

BOOL LoggedDeleteFile(const wchar_t* path)
{
    if (gChangesWithheld)
        return PreviewDeletion("file-delete", path, false);
    wchar_t retry[kMaxPathChars];
    const wchar_t* used;
    bool done = WithExtendedRetry(path, retry, used, [](const wchar_t* form) { return DeleteFileW(form) != FALSE; });
    return gChangeLogOn ? Logged("file-delete", done, used) : done;
}

BOOL LoggedDeleteFileAsNamed(const wchar_t* path)
{
    if (gChangesWithheld) {
        if (!PreviewWouldDelete(path, false))
            return FALSE;
        WriteChange("file-delete", kOutcomePreview, nullptr, path);
        RecordPreviewDeletion(path);
        return TRUE;
    }
    BOOL done = DeleteFileW(path);
    return gChangeLogOn ? Logged("file-delete", done, path) : done;
}

BOOL LoggedRemoveDirectory(const wchar_t* path)
{
    if (gChangesWithheld)
        return PreviewDeletion("folder-delete", path, true);
    wchar_t retry[kMaxPathChars];
    const wchar_t* used;
    bool done =
        WithExtendedRetry(path, retry, used, [](const wchar_t* form) { return RemoveDirectoryW(form) != FALSE; });
    return gChangeLogOn ? Logged("folder-delete", done, used) : done;
}

BOOL LoggedCreateDirectory(const wchar_t* path)
{
    if (gChangesWithheld) {
        WriteChange("folder-create", kOutcomePreview, nullptr, path);
        return TRUE;
    }
    wchar_t retry[kMaxPathChars];
    const wchar_t* used;
    bool done = WithExtendedRetry(path, retry, used,
                                  [](const wchar_t* form) { return CreateDirectoryW(form, nullptr) != FALSE; });
    return gChangeLogOn ? Logged("folder-create", done, used) : done;
}

BOOL LoggedSetFileAttributes(const wchar_t* path, DWORD attributes)
{
    wchar_t retry[kMaxPathChars];
    const wchar_t* used;
    char extra[16];
    if (gChangeLogOn)
        FormatStringA(extra, sizeof extra, "0x%08lX", attributes);
    if (gChangesWithheld) {
        if (!WithExtendedRetry(path, retry, used,
                               [](const wchar_t* form) {
                                   return PreviewAttributesOf(form) != INVALID_FILE_ATTRIBUTES;
                               }))
            return FALSE;
        // What a later deletion in the preview finds: read-only no more.
        if (attributes == 0 || !(attributes & FILE_ATTRIBUTE_READONLY))
            AddName(gPreviewCleared, used);
        else
            RemoveName(gPreviewCleared, used);
        WriteChange("file-attributes", kOutcomePreview, extra, used);
        return TRUE;
    }
    bool done = WithExtendedRetry(path, retry, used, [attributes](const wchar_t* form) {
        return SetFileAttributesW(form, attributes) != FALSE;
    });
    return gChangeLogOn ? Logged("file-attributes", done, used, nullptr, extra) : done;
}

BOOL LoggedMoveFile(const wchar_t* from, const wchar_t* to)
{
    wchar_t retryFrom[kMaxPathChars];
    wchar_t retryTo[kMaxPathChars];
    const wchar_t* usedFrom;
    const wchar_t* usedTo;
    if (gChangesWithheld) {
        if (!WithExtendedRetry(from, to, retryFrom, retryTo, usedFrom, usedTo, [](const wchar_t* a, const wchar_t*) {
                return PreviewAttributesOf(a) != INVALID_FILE_ATTRIBUTES;
            }))
            return FALSE;
        WriteChange("file-rename", kOutcomePreview, nullptr, usedFrom, usedTo);
        RecordPreviewDeletion(usedFrom);
        return TRUE;
    }
    bool done = WithExtendedRetry(from, to, retryFrom, retryTo, usedFrom, usedTo,
                                  [](const wchar_t* a, const wchar_t* b) { return MoveFileW(a, b) != FALSE; });
    return gChangeLogOn ? Logged("file-rename", done, usedFrom, usedTo) : done;
}

// A change of two names that a preview only writes down, made and logged once.
template <class Call>
static BOOL LoggedTwoNameChange(const char* event, const wchar_t* from, const wchar_t* to, Call call)
{
    if (gChangesWithheld) {
        WriteChange(event, kOutcomePreview, nullptr, from, to);
        return TRUE;
    }
    wchar_t retryFrom[kMaxPathChars];
    wchar_t retryTo[kMaxPathChars];
    const wchar_t* usedFrom;
    const wchar_t* usedTo;
    bool done = WithExtendedRetry(from, to, retryFrom, retryTo, usedFrom, usedTo, call);
    return gChangeLogOn ? Logged(event, done, usedFrom, usedTo) : done;
}

BOOL LoggedMoveFileEx(const wchar_t* from, const wchar_t* to, DWORD flags)
{
    if (to != nullptr)
        return LoggedTwoNameChange("file-rename", from, to, [flags](const wchar_t* a, const wchar_t* b) {
            return MoveFileExW(a, b, flags) != FALSE;
        });
    const char* event = (flags & MOVEFILE_DELAY_UNTIL_REBOOT) ? "restart-delete" : "file-rename";
    if (gChangesWithheld) {
        WriteChange(event, kOutcomePreview, nullptr, from);
        return TRUE;
    }
    wchar_t retry[kMaxPathChars];
    const wchar_t* used;
    bool done = WithExtendedRetry(from, retry, used, [flags](const wchar_t* a) {
        return MoveFileExW(a, nullptr, flags) != FALSE;
    });
    return gChangeLogOn ? Logged(event, done, used) : done;
}

BOOL LoggedCopyFile(const wchar_t* from, const wchar_t* to, BOOL failIfExists)
{
    return LoggedTwoNameChange("file-copy", from, to, [failIfExists](const wchar_t* a, const wchar_t* b) {
        return CopyFileW(a, b, failIfExists) != FALSE;
    });
}

BOOL LoggedReplaceFile(const wchar_t* replaced, const wchar_t* replacement)
{
    return LoggedTwoNameChange("file-replace", replaced, replacement, [](const wchar_t* a, const wchar_t* b) {
        return ReplaceFileW(a, b, nullptr, 0, nullptr, nullptr) != FALSE;
    });
}

void NotifyShell(LONG eventId, UINT flags)
{
    if (!gChangeLogOn) {
        SHChangeNotify(eventId, flags, nullptr, nullptr);
        return;
    }
    char extra[16];
    FormatStringA(extra, sizeof extra, "0x%08lX", static_cast<unsigned long>(eventId));
    if (!gChangesWithheld)
        SHChangeNotify(eventId, flags, nullptr, nullptr);
    WriteChange("shell-notice", gChangesWithheld ? kOutcomePreview : 0, extra, nullptr);
}

BOOL LoggedCreateProcess(const wchar_t* application, wchar_t* commandLine, BOOL inheritHandles,
                         STARTUPINFOW* startup, PROCESS_INFORMATION* process)
{
    if (!gChangeLogOn)
        return CreateProcessW(application, commandLine, nullptr, nullptr, inheritHandles, 0, nullptr, nullptr,
                              startup, process);
    if (gChangesWithheld) {
        WriteChange("process", kOutcomePreview, nullptr, application != nullptr ? application : L"", commandLine);
        SetLastError(ERROR_CANCELLED);
        return FALSE;
    }
    BOOL started = CreateProcessW(application, commandLine, nullptr, nullptr, inheritHandles, 0, nullptr, nullptr,
                                  startup, process);
    return Logged("process", started, application != nullptr ? application : L"", commandLine);
}

HINSTANCE LoggedShellExecute(const wchar_t* verb, const wchar_t* file, const wchar_t* parameters, int show)
{
    if (!gChangeLogOn)
        return ShellExecuteW(nullptr, verb, file, parameters, L"", show);
    if (gChangesWithheld) {
        WriteChange("process", kOutcomePreview, nullptr, file, parameters != nullptr ? parameters : L"");
        return nullptr;
    }
    HINSTANCE result = ShellExecuteW(nullptr, verb, file, parameters, L"", show);
    // Above 32 is success; below, the value is the error.
    DWORD code = static_cast<DWORD>(reinterpret_cast<INT_PTR>(result));
    WriteChange("process", code > 32 ? 0 : (code != 0 ? code : ERROR_GEN_FAILURE), nullptr, file,
                parameters != nullptr ? parameters : L"");
    return result;
}

BOOL LoggedShellExecuteEx(SHELLEXECUTEINFOW* info)
{
    if (!gChangeLogOn)
        return ShellExecuteExW(info);
    const wchar_t* parameters = info->lpParameters != nullptr ? info->lpParameters : L"";
    if (gChangesWithheld) {
        WriteChange("process", kOutcomePreview, nullptr, info->lpFile, parameters);
        info->hProcess = nullptr;
        SetLastError(ERROR_CANCELLED);
        return FALSE;
    }
    return Logged("process", ShellExecuteExW(info), info->lpFile, parameters);
}
