#include "common/settings/settings_file.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "common/base/array.h"
#include "common/base/gate.h"
#include "common/base/identity.h"
#include "common/base/errors.h"
#include "common/base/file.h"
#include "common/base/heapsort.h"
#include "common/base/long_path.h"
#include "common/base/module.h"
#include "common/base/paths.h"
#include "common/base/settings_folder.h"
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

// The file's own flags, read and written back as the store reads and writes a
// number of the null root's key Global: a missing entry is 1, any other value
// counts as the number its digits give.
void LoadGlobalFlags()
{
    static const wchar_t* const kNames[] = {L"Global\\AppData", L"Global\\Integration", L"Global\\SaveSettings"};
    bool* flags[] = {&gFlags.AppData, &gFlags.Integration, &gFlags.SaveSettings};
    for (int i = 0; i < 3; i++) {
        const wchar_t* value = FindEntryValue(kNames[i]);
        *flags[i] = value == nullptr || static_cast<uint32_t>(ParseInt(value)) != 0;
    }
    for (int i = 0; i < 3; i++)
        SetEntry(kNames[i], *flags[i] ? L"1" : L"0", EntryKind::Plain);
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

// Writes the sorted entries into file; false when any write failed.
static bool WriteEntries(File& file)
{
    Array<SettingEntry*> sorted;
    for (SettingEntry* entry = gHead; entry != nullptr; entry = entry->next) {
        sorted.Grow(1);
        sorted[sorted.Count - 1] = entry;
    }
    HeapSort(sorted.Data, static_cast<size_t>(sorted.Count), sizeof(SettingEntry*), CompareEntryNames);
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
    return true;
}

// Opens the file at path itself, not what a link of that name leads to, sharing
// everything so that its replacement can take the name.
static HANDLE OpenForInspection(const wchar_t* path)
{
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE handle = INVALID_HANDLE_VALUE;
    wchar_t retry[kMaxPathChars];
    const wchar_t* used;
    WithExtendedRetry(path, retry, used, [&](const wchar_t* form) {
        handle = CreateFileW(form, FILE_READ_ATTRIBUTES | READ_CONTROL, share, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        return handle != INVALID_HANDLE_VALUE;
    });
    return handle;
}

// What stands at the settings file's path, through old: a link that the
// attributes do not show (a redirected name, or under Wine a symbolic link to a
// file, which looks like a plain one) leads elsewhere, so the file must be the
// entry of that name in the folder the path names. Comparing with the folder's
// own final path lets short names, mapped drives and a redirected folder above
// the file pass.
static OldFile InspectOldFile(const wchar_t* path, ScopedFileHandle& old, DWORD& attributes)
{
    attributes = 0;
    old.Reset(OpenForInspection(path));
    if (!old)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? OldFile::Missing : OldFile::LeaveAlone;
    HandleFacts facts;
    wchar_t folder[kMaxPathChars];
    wchar_t expected[kMaxPathChars];
    // Read-only is the user's way of keeping the file as it is. Through a link
    // the program, which may run elevated, must neither write nor delete: the
    // link's target could be any file.
    const DWORD refused = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if (!LookThroughHandle(old.Get(), facts) || (facts.Attributes & refused) != 0 ||
        !FolderPart(path, folder, kMaxPathChars) || folder[0] == 0 ||
        !FinalPathIn(folder, NamePart(path), expected, kMaxPathChars) ||
        !IsPlainFileNamed(old.Get(), facts, expected))
        return OldFile::LeaveAlone;
    attributes = facts.Attributes & kCarriedAttributes;
    return OldFile::Plain;
}

// The old file is replaced only by a complete new one, so that a full disk or a
// failing device never leaves the user with a cut or empty settings file. The
// new one is made beside it, never through what stands at its temporary name,
// and written, given the old one's attributes and DACL, and renamed over it
// through its own handle.
bool SaveSettingsFile()
{
    if (!gFileLoaded || !gFlags.SaveSettings || gReadShort)
        return false;
    DWORD attributes = 0;
    ScopedFileHandle old;
    OldFile state = InspectOldFile(gPath, old, attributes);
    if (state == OldFile::LeaveAlone)
        return false;
    wchar_t temp[kMaxPathChars];
    if (!CopyString(temp, gPath, kMaxPathChars))
        return false;
    size_t folderLength = static_cast<size_t>(NamePart(temp) - temp);
    ScopedFileHandle made;
    if (!GateCreateNew(temp, folderLength, kMaxPathChars, NamePart(gPath), kTempSuffix, kNewOtherNames, made))
        return false;
    HANDLE handle = made.Get();
    File file;
    // Unless closed, file deletes what it took through its handle: every early
    // return below leaves nothing behind.
    if (!file.Adopt(made, temp) || !WriteEntries(file) ||
        (attributes != 0 && !GateSetAttributes(handle, temp, attributes)))
        return false;
    // A replacement the old file's DACL cannot be given to would open to others
    // what the user had closed: the old file stays then.
    if (state == OldFile::Plain && !GateTakeSecurity(handle, old.Get()))
        return false;
    // Windows replaces no name while a handle on it is open.
    old.Reset();
    if (!GateRenameMade(handle, temp, gPath, state == OldFile::Plain))
        return false;
    return file.Close();
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
