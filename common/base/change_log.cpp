#include "common/base/change_log.h"

#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <memory>
#include <new>

#include "common/base/environment.h"
#include "common/base/exclusive_file.h"
#include "common/base/identity.h"
#include "common/base/module.h"
#include "common/base/paths.h"
#include "common/base/run_facts.h"
#include "common/base/scoped.h"
#include "common/base/strings.h"
#include "common/base/temp_folder.h"
#include "resources/resource.h"

bool gChangeLogOn = false;

namespace {

// Where lines go: the file ZORVEX_LOG names, opened for appending, or the
// preview's own file in the temporary folder.
ScopedFileHandle gLog;
bool gPreviewRequested = false;
bool gPreviewLog = false;
bool gStarted = false;
// Lines logged before the start line (the -warning notice comes while the
// command line is read), written after it.
char gPending[8192];
size_t gPendingUsed = 0;
SYSTEMTIME gOpenLocal;
int gOpenOffset = 0;
wchar_t gResult[32];
const wchar_t* gRefusal = nullptr;
const wchar_t* gLogName = L"ZORVEX_LOG";

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
    // One call a line, so that the lines of two runs appending at once never mix.
    // A failed write is not the run's business.
    if (gLog)
        WriteFile(gLog.Get(), bytes, static_cast<DWORD>(count), &written, nullptr);
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

bool ProgramFolder(wchar_t* dest, size_t capacity)
{
    wchar_t path[kMaxPathChars];
    if (!ProgramPath(path, kMaxPathChars))
        return false;
    StripNamePart(path);
    return LongFullPath(path, dest, capacity);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The log opened for appending, shared, so that the uninstall and the runs of
// its batch file write into one file. It is opened without following a link and
// written only when its handle shows the plain file at the name given, with no
// other link, outside the program's folder (a link on the way could lead there
// whatever its name says), and kept out of everyone's reach but SYSTEM's, the
// Administrators' and the running user's: an elevated run (as SYSTEM, into the
// shared Windows Temp) must not append to whatever a planted link leads to, nor
// to a file another user made first and can read, rewrite or delete. A log made
// here is given the protected descriptor; one made and then refused is deleted
// again through its handle.
bool OpenLogFile(const wchar_t* longPath, const wchar_t* folder)
{
    constexpr DWORD kAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    bool made = false;
    ScopedFileHandle log(CreateFileW(longPath, kAccess, kShareAll, nullptr, OPEN_EXISTING, kFlags, nullptr));
    if (!log && GetLastError() == ERROR_FILE_NOT_FOUND) {
        ScopedLocalMem descriptor;
        SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
        if (MakeProtectedSecurity(descriptor))
            security.lpSecurityDescriptor = descriptor.Get();
        log.Reset(CreateFileW(longPath, kAccess | DELETE, kShareAll, &security, CREATE_NEW, kFlags, nullptr));
        made = log.Valid();
        if (!made && GetLastError() == ERROR_FILE_EXISTS)
            log.Reset(CreateFileW(longPath, kAccess, kShareAll, nullptr, OPEN_EXISTING, kFlags, nullptr));
    }
    if (!log)
        return false;
    // A device (NUL, a pipe, a console) or a folder is no log, nor a link.
    HandleFacts facts;
    wchar_t finalPath[kMaxPathChars];
    if (GetFileType(log.Get()) == FILE_TYPE_DISK && LookThroughHandle(log.Get(), facts) &&
        IsPlainFileNamed(log.Get(), facts, longPath) && FinalPathOf(log.Get(), finalPath, kMaxPathChars)) {
        wchar_t folderFinal[kMaxPathChars];
        // What cannot be told counts as inside: the log is then refused.
        bool inside = !FinalPathIn(folder, L"", folderFinal, kMaxPathChars) || PathWithin(finalPath, folderFinal);
        if (!inside && HandleKeepsOthersOut(log.Get())) {
            gLog = static_cast<ScopedFileHandle&&>(log);
            return true;
        }
        if (!inside)
            gRefusal = L"refused: someone else than SYSTEM, Administrators and this user owns it or may change it";
    }
    if (made) {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        SetFileInformationByHandle(log.Get(), FileDispositionInfo, &disposition, sizeof disposition);
    }
    return false;
}

// The preview's own log, made as the batch file is: new, never through a
// link, under an unpredictable name when its own is taken.
bool OpenPreviewLog()
{
    wchar_t path[kMaxPathChars];
    size_t length = TemporaryFolder(path, kMaxPathChars);
    if (length == 0)
        return false;
    ScopedLocalMem descriptor;
    if (!MakeProtectedSecurity(descriptor))
        return false;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor.Get(), FALSE};
    for (int attempt = 0; attempt < kExclusiveNameAttempts; attempt++) {
        ScopedFileHandle file;
        if (!ExclusiveName(path, length, kMaxPathChars, L"Zorvex-preview", L".log", attempt))
            return false;
        if (!CreateNewFile(path, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, &security, file)) {
            if (IsNameTaken(GetLastError()))
                continue;
            return false;
        }
        wchar_t longPath[kMaxPathChars];
        HandleFacts facts;
        if (LongFullPath(path, longPath, kMaxPathChars) && LookThroughHandle(file.Get(), facts) &&
            IsPlainFileNamed(file.Get(), facts, longPath)) {
            gLog = static_cast<ScopedFileHandle&&>(file);
            return true;
        }
        FILE_DISPOSITION_INFO disposition = {TRUE};
        SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition, sizeof disposition);
        return false;
    }
    return false;
}

void ResetLog()
{
    gLog.Reset();
    gChangeLogOn = false;
    gPreviewRequested = false;
    gPreviewLog = false;
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
    static const char* const kWords[] = {"deleted", "absent", "renamed-scheduled", "scheduled", "kept",
                                         "left",    "skipped-outside", "skipped-link", "skipped-damaged"};
    size_t index = static_cast<size_t>(verdict);
    return index < sizeof kWords / sizeof kWords[0] ? kWords[index] : "unknown";
}

// A message box's answer, by its id (IDOK 1 to IDNO 7).
const char* AnswerWord(int answer)
{
    static const char* const kWords[] = {"none", "ok", "cancel", "abort", "retry", "ignore", "yes", "no"};
    return answer >= IDOK && answer <= IDNO ? kWords[answer] : "none";
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
        gLogName = fromSwitch ? L"-log" : L"ZORVEX_LOG";
        if (!named || !ProgramFolder(folder, kMaxPathChars) || !LongFullPath(path, longPath, kMaxPathChars))
            gRefusal = L"refused: its path cannot be had whole";
        else if (PathWithin(longPath, folder))
            gRefusal = L"refused: it lies in the install folder";
        else
            OpenLogFile(longPath, folder);
    }
    gChangeLogOn = gLog.Valid() || gPreviewRequested;
}

bool PreviewRequested()
{
    return gPreviewRequested;
}

void StartChangeLog(const wchar_t* mode, bool preview, const wchar_t* commandLine)
{
    if (!gChangeLogOn)
        return;
    gPreviewLog = preview;
    if (preview && !gLog)
        OpenPreviewLog();
    if (!gLog) {
        // Nowhere to write.
        gChangeLogOn = false;
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
    FormatStringA(fields, sizeof fields, "start %s %s %s %d.%02d.%d %s", modeText, preview ? "preview" : "real",
                  ElevationText(), ZVX_VERSION_MAJOR, ZVX_VERSION_MINOR, ZVX_VERSION_BETA, windows);
    gStarted = true;
    WriteEvent(fields, commandLine, nullptr, nullptr, &gOpenLocal, gOpenOffset);
    WriteBytes(gPending, gPendingUsed);
    gPendingUsed = 0;
    wchar_t note[160];
    if (gRefusal != nullptr && FormatString(note, 160, L"%s %s", gLogName, gRefusal) >= 0)
        LogNote(note);
}

void LogPreviewNote()
{
    if (gPreviewLog)
        LogNote(L"preview: nothing is changed; each line with the outcome preview is a change a real run would "
                L"attempt now, and every deletion is taken to succeed, so that a folder emptied by the entries "
                L"before it counts as removed");
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
    return FormatString(dest, capacity, L"%hs%s\\%s", RootName(root), (view & KEY_WOW64_32KEY) ? L"32" : L"",
                        keyPath) >= 0;
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

void LogShellNotice(DWORD outcome, LONG eventId)
{
    if (!gChangeLogOn)
        return;
    char extra[16];
    FormatStringA(extra, sizeof extra, "0x%08lX", static_cast<unsigned long>(eventId));
    WriteChange("shell-notice", outcome, extra, nullptr);
}

void LogListVerdict(ListVerdict verdict, const wchar_t* entry)
{
    if (!gChangeLogOn)
        return;
    char fields[48];
    FormatStringA(fields, sizeof fields, "list-entry %s", VerdictWord(verdict));
    WriteEvent(fields, entry);
}
