#include "common/settings/settings_file.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "common/base/array.h"
#include "common/base/change_log.h"
#include "common/base/errors.h"
#include "common/base/file.h"
#include "common/base/heapsort.h"
#include "common/base/long_path.h"
#include "common/base/module.h"
#include "common/base/paths.h"
#include "common/base/scoped.h"
#include "common/base/strings.h"
#include "common/settings/setting_entries.h"
#include "common/settings/settings_store.h"
#include "common/settings/text_file.h"

namespace {

struct SettingEntry {
    wchar_t* name;
    wchar_t* value;
    EntryKind kind;
    SettingEntry* next;
};

struct FileFlags {
    bool AppData = true;
    bool Integration = true;
    bool SaveSettings = true;
};

const wchar_t kSettingsFileName[] = L"Zorvex.ini";
const wchar_t kTempSuffix[] = L".tmp";

SettingEntry* gHead = nullptr;
SettingEntry* gTail = nullptr;
bool gFileLoaded = false;
bool gLoadAttempted = false;
// The reader stopped before the end of the file's data: saving would throw the
// rest away, so this process never writes the file.
bool gReadShort = false;
FileFlags gFlags;
wchar_t gPath[kMaxPathChars];
int gWritesBeforeFault = -1;

}  // namespace

static wchar_t* CopyText(const wchar_t* text, size_t length)
{
    if (length >= SIZE_MAX / sizeof(wchar_t))
        ErrHandler().RaiseMemoryError();
    auto* copy = static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)));
    if (copy == nullptr)
        ErrHandler().RaiseMemoryError();
    wmemcpy(copy, text, length);
    copy[length] = 0;
    return copy;
}

static void FreeEntry(SettingEntry* entry)
{
    std::free(entry->name);
    std::free(entry->value);
    std::free(entry);
}

static void AppendEntry(const wchar_t* name, size_t nameLength, const wchar_t* value, size_t valueLength,
                        EntryKind kind)
{
    auto* entry = static_cast<SettingEntry*>(std::malloc(sizeof(SettingEntry)));
    if (entry == nullptr)
        ErrHandler().RaiseMemoryError();
    entry->name = CopyText(name, nameLength);
    entry->value = CopyText(value, valueLength);
    entry->kind = kind;
    entry->next = nullptr;
    if (gTail != nullptr)
        gTail->next = entry;
    else
        gHead = entry;
    gTail = entry;
}

static bool StartsWith(const wchar_t* text, const wchar_t* prefix)
{
    return wcsncmp(text, prefix, wcslen(prefix)) == 0;
}

bool SettingsFileLoaded()
{
    return gFileLoaded;
}

const wchar_t* FindEntryValue(const wchar_t* name)
{
    for (SettingEntry* entry = gHead; entry != nullptr; entry = entry->next) {
        if (wcscmp(entry->name, name) == 0)
            return entry->value;
    }
    return nullptr;
}

void SetEntry(const wchar_t* name, const wchar_t* value, EntryKind kind)
{
    for (SettingEntry* entry = gHead; entry != nullptr; entry = entry->next) {
        if (wcscmp(entry->name, name) == 0) {
            wchar_t* copy = CopyText(value, wcslen(value));
            std::free(entry->value);
            entry->value = copy;
            entry->kind = kind;
            return;
        }
    }
    AppendEntry(name, wcslen(name), value, wcslen(value), kind);
}

void RemoveEntries(const wchar_t* name, bool prefix)
{
    SettingEntry** link = &gHead;
    gTail = nullptr;
    while (*link != nullptr) {
        SettingEntry* entry = *link;
        if (prefix ? StartsWith(entry->name, name) : wcscmp(entry->name, name) == 0) {
            *link = entry->next;
            FreeEntry(entry);
        } else {
            gTail = entry;
            link = &entry->next;
        }
    }
}

bool AnyEntryWithPrefix(const wchar_t* prefix)
{
    for (SettingEntry* entry = gHead; entry != nullptr; entry = entry->next) {
        if (StartsWith(entry->name, prefix))
            return true;
    }
    return false;
}

bool IntegrationAllowed()
{
    return gFlags.Integration;
}

// A folder that carries the file's name is no settings file.
static bool IsFileAt(const wchar_t* path)
{
    DWORD attributes = GetAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Beside the program first, then %APPDATA%\Zorvex.
static bool FindSettingsFile(wchar_t* path, size_t capacity)
{
    if (ProgramFilePath(kSettingsFileName, path, capacity) && IsFileAt(path))
        return true;
    path[0] = 0;
    if (!LocateAppDataFolder(path, capacity, false))
        return false;
    return JoinPath(path, kSettingsFileName, path, capacity) && IsFileAt(path);
}

// Lines not starting with an ASCII letter (sections, comments, indented lines)
// and lines without '=' are dropped.
static void ParseLine(const wchar_t* line)
{
    if (!IsAsciiLetter(line[0]))
        return;
    const wchar_t* equals = wcschr(line, L'=');
    if (equals == nullptr)
        return;
    const wchar_t* value = equals + 1;
    size_t valueLength;
    EntryKind kind;
    if (value[0] == L'"') {
        kind = EntryKind::Quoted;
        value++;
        valueLength = wcslen(value);
        if (valueLength > 0 && value[valueLength - 1] == L'"')
            valueLength--;
    } else if (wcsncmp(value, L"bin:", 4) == 0) {
        kind = EntryKind::Binary;
        value += 4;
        valueLength = wcslen(value);
    } else {
        kind = EntryKind::Plain;
        valueLength = wcslen(value);
    }
    AppendEntry(line, static_cast<size_t>(equals - line), value, valueLength, kind);
}

void LoadSettingsFile()
{
    if (gFileLoaded || gLoadAttempted)
        return;
    gLoadAttempted = true;
    gPath[0] = 0;
    if (!FindSettingsFile(gPath, kMaxPathChars)) {
        gPath[0] = 0;
        return;
    }
    StringList lines;
    bool readWhole = false;
    if (!ReadTextFile(gPath, lines, &readWhole)) {
        gPath[0] = 0;
        return;
    }
    const wchar_t* line;
    while (lines.Next(line))
        ParseLine(line);
    gReadShort = !readWhole;
    // The flags are read and normalised through the store, which must already see the file.
    gFileLoaded = true;
    LoadGlobalFlags();
}

void LoadGlobalFlags()
{
    static const wchar_t* const kNames[] = {L"AppData", L"Integration", L"SaveSettings"};
    bool* flags[] = {&gFlags.AppData, &gFlags.Integration, &gFlags.SaveSettings};
    for (int i = 0; i < 3; i++)
        *flags[i] = ReadInt(nullptr, L"Global", kNames[i], 1) != 0;
    for (int i = 0; i < 3; i++)
        WriteInt(nullptr, L"Global", kNames[i], *flags[i] ? 1 : 0);
}

void FailSettingsSaveWrite(int writesBeforeFailure)
{
    gWritesBeforeFault = writesBeforeFailure;
}

static bool WritePiece(File& file, const wchar_t* text)
{
    if (gWritesBeforeFault >= 0 && gWritesBeforeFault-- == 0)
        return false;
    size_t bytes = wcslen(text) * sizeof(wchar_t);
    if (bytes > UINT32_MAX)
        return false;
    return file.Write(text, static_cast<uint32_t>(bytes));
}

static int CompareEntryNames(const void* a, const void* b)
{
    return wcscmp((*static_cast<SettingEntry* const*>(a))->name, (*static_cast<SettingEntry* const*>(b))->name);
}

// The new file is made with what the old one carried, so that a hidden or system
// settings file stays one; read-only never reaches a save.
constexpr DWORD kCarriedAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

namespace {

// What stands at the settings file's path before a save.
enum class OldFile {
    Missing,     // nothing: the new file takes the name
    Plain,       // one plain file, which the new one replaces
    LeaveAlone,  // read-only, linked, or not to be checked: never saved over
};

}  // namespace

// The temporary file takes the old file's attributes through its handle.
static bool GiveAttributes(File& file, DWORD attributes)
{
    if (attributes == 0)
        return true;
    FILE_BASIC_INFO info = {};
    info.FileAttributes = attributes;
    return SetFileInformationByHandle(file.NativeHandle(), FileBasicInfo, &info, sizeof info) != FALSE;
}

// Writes the sorted entries to temp with the given attributes; false (and no file
// left behind) when any write, the attributes or the close failed.
static bool WriteEntries(const wchar_t* temp, DWORD attributes)
{
    Array<SettingEntry*> sorted;
    for (SettingEntry* entry = gHead; entry != nullptr; entry = entry->next) {
        sorted.Grow(1);
        sorted[sorted.Count - 1] = entry;
    }
    HeapSort(sorted.Data, static_cast<size_t>(sorted.Count), sizeof(SettingEntry*), CompareEntryNames);

    File file;
    if (!file.Create(temp, kCreateShareRead))
        return false;
    // A file that is still open when its object goes is deleted: every early
    // return below leaves nothing behind.
    if (!GiveAttributes(file, attributes))
        return false;
    static const wchar_t kByteOrderMark[] = {0xFEFF, 0};
    if (!WritePiece(file, kByteOrderMark))
        return false;
    for (uint64_t i = 0; i < sorted.Count; i++) {
        const SettingEntry* entry = sorted[i];
        const wchar_t* open = entry->kind == EntryKind::Quoted ? L"\"" : entry->kind == EntryKind::Binary ? L"bin:" : L"";
        const wchar_t* close = entry->kind == EntryKind::Quoted ? L"\"" : L"";
        if (!WritePiece(file, entry->name) || !WritePiece(file, L"=") || !WritePiece(file, open) ||
            !WritePiece(file, entry->value) || !WritePiece(file, close) || !WritePiece(file, L"\r\n"))
            return false;
    }
    if (!file.Close()) {
        RemoveFile(temp);
        return false;
    }
    return true;
}

// The file itself is opened, not what a link of that name leads to; its folder
// is opened as the path reaches it, through any link.
static HANDLE OpenForInspection(const wchar_t* path, bool folder)
{
    DWORD flags = folder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_FLAG_OPEN_REPARSE_POINT;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE handle = INVALID_HANDLE_VALUE;
    wchar_t retry[kMaxPathChars];
    const wchar_t* used;
    WithExtendedRetry(path, retry, used, [&](const wchar_t* form) {
        handle = CreateFileW(form, FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING, flags, nullptr);
        return handle != INVALID_HANDLE_VALUE;
    });
    return handle;
}

static bool FinalPath(HANDLE handle, wchar_t* path, size_t capacity)
{
    DWORD length = GetFinalPathNameByHandleW(handle, path, static_cast<DWORD>(capacity),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
    return length > 0 && length < capacity;
}

// Whether the opened file is the entry path names in the folder the path names:
// a link that the attributes do not show (a redirected name, or under Wine a
// symbolic link to a file, which looks like a plain one) leads elsewhere.
// Comparing with the folder's own final path lets short names, mapped drives
// and a redirected folder above the file pass.
static bool IsNamedEntry(HANDLE file, const wchar_t* path)
{
    wchar_t folderPath[kMaxPathChars];
    if (!FolderPart(path, folderPath, kMaxPathChars) || folderPath[0] == 0)
        return false;
    ScopedFileHandle folder(OpenForInspection(folderPath, true));
    wchar_t expected[kMaxPathChars];
    wchar_t actual[kMaxPathChars];
    if (!folder.Valid() || !FinalPath(folder.Get(), expected, kMaxPathChars) ||
        !JoinPath(expected, NamePart(path), expected, kMaxPathChars) || !FinalPath(file, actual, kMaxPathChars))
        return false;
    return CompareStringOrdinal(expected, -1, actual, -1, TRUE) == CSTR_EQUAL;
}

static OldFile InspectOldFile(const wchar_t* path, DWORD& attributes)
{
    attributes = 0;
    ScopedFileHandle file(OpenForInspection(path, false));
    if (!file.Valid())
        return GetLastError() == ERROR_FILE_NOT_FOUND ? OldFile::Missing : OldFile::LeaveAlone;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.Get(), &info))
        return OldFile::LeaveAlone;
    // Read-only is the user's way of keeping the file as it is. Through a link
    // the program, which may run elevated, must neither write nor delete: the
    // link's target could be any file.
    const DWORD refused = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if ((info.dwFileAttributes & refused) != 0 || info.nNumberOfLinks != 1 || !IsNamedEntry(file.Get(), path))
        return OldFile::LeaveAlone;
    attributes = info.dwFileAttributes & kCarriedAttributes;
    return OldFile::Plain;
}

// The error of the replacement, 0 when the file was replaced.
static DWORD ReplaceOldFile(const wchar_t* temp, const wchar_t* path)
{
    return LoggedReplaceFile(path, temp) ? 0 : GetLastError();
}

// The new file takes a name nothing stands at (a first save, or the old file
// already gone); it never replaces anything.
static bool MoveToFreeName(const wchar_t* temp, const wchar_t* path)
{
    return LoggedMoveFileEx(temp, path, MOVEFILE_WRITE_THROUGH) != FALSE;
}

// The old file is replaced only by a complete new one, so that a full disk or a
// failing device never leaves the user with a cut or empty settings file; the
// replacement keeps the old file's attributes and security descriptor.
bool SaveSettingsFile()
{
    if (!gFileLoaded || !gFlags.SaveSettings || gReadShort)
        return false;
    DWORD attributes = 0;
    OldFile old = InspectOldFile(gPath, attributes);
    if (old == OldFile::LeaveAlone)
        return false;
    if (ChangesWithheld()) {
        LogChange("file-write", kOutcomePreview, gPath);
        return true;
    }
    wchar_t temp[kMaxPathChars];
    if (!CopyString(temp, gPath, kMaxPathChars) || !AppendString(temp, kTempSuffix, kMaxPathChars))
        return false;
    if (!WriteEntries(temp, attributes))
        return false;
    if (old == OldFile::Missing) {
        if (MoveToFreeName(temp, gPath))
            return true;
        RemoveFile(temp);
        return false;
    }
    DWORD error = ReplaceOldFile(temp, gPath);
    if (error == 0)
        return true;
    // The old file is gone and the new one still has its temporary name: it is
    // the only copy left, whole, so it takes the name or stays where it is.
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT)
        return MoveToFreeName(temp, gPath);
    // Otherwise both files kept their names.
    RemoveFile(temp);
    return false;
}

void FreeSettingsFile()
{
    gLoadAttempted = false;
    if (gFileLoaded) {
        while (gHead != nullptr) {
            SettingEntry* next = gHead->next;
            FreeEntry(gHead);
            gHead = next;
        }
        gTail = nullptr;
        gFileLoaded = false;
    }
    // Without a file nothing may close the gate or stop a save.
    gFlags = FileFlags();
    gReadShort = false;
    gPath[0] = 0;
}

void SettingsExitCleanup()
{
    // The uninstall run may have deleted the file with the other installed files;
    // writing it again would keep the install folder from being removed.
    if (gFileLoaded && FileExists(gPath))
        SaveSettingsFile();
    FreeSettingsFile();
}
