#include "common/base/gate.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <cwchar>

#include "common/base/change_log.h"
#include "common/base/exclusive_file.h"
#include "common/base/file_holders.h"
#include "common/base/identity.h"
#include "common/base/long_path.h"
#include "common/base/module.h"
#include "common/base/paths.h"
#include "common/base/preview_record.h"
#include "common/base/strings.h"

namespace {

// "The object manager encountered a reparse point": what a check that found a
// link, or a name leading elsewhere, answers.
constexpr DWORD kErrorThroughLink = 4395;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kEntryFlags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
// The deepest program group or registry tree removed; a deeper one (only a
// planted one can be) stays below that level.
constexpr int kMaxTreeDepth = 64;
// FileDispositionInfoEx (Windows 10 1709), which the headers here do not name.
constexpr FILE_INFO_BY_HANDLE_CLASS kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

// The outcome a log line gives a call's error: 0 means the call gave none.
DWORD Outcome(bool done, DWORD error)
{
    return done ? 0 : (error != 0 ? error : ERROR_GEN_FAILURE);
}

DWORD Withheld()
{
    return kOutcomePreview;
}

bool EndsInDotOrBlank(const wchar_t* path)
{
    size_t length = wcslen(path);
    return length > 0 && (path[length - 1] == L'.' || path[length - 1] == L' ');
}

// The form of a name a call took: the caller's path, or the extended-length
// form made of it. The log names the form the last call took.
struct Spelling {
    wchar_t Buffer[kMaxPathChars];
    const wchar_t* Used = nullptr;
};

// CreateFileW with the caller's path and, where long_path.h says so, once more
// in the extended-length form; a name ending in a dot or blank only in that
// form, which alone keeps the character.
HANDLE OpenForm(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags, Spelling& form,
                const SECURITY_ATTRIBUTES* security = nullptr)
{
    auto* attributes = const_cast<SECURITY_ATTRIBUTES*>(security);
    form.Used = path;
    if (EndsInDotOrBlank(path)) {
        if (!ToExtendedLengthPath(path, form.Buffer, kMaxPathChars)) {
            SetLastError(ERROR_INVALID_NAME);
            return INVALID_HANDLE_VALUE;
        }
        form.Used = form.Buffer;
        return CreateFileW(form.Buffer, access, share, attributes, disposition, flags, nullptr);
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
    WithExtendedRetry(path, form.Buffer, form.Used, [&](const wchar_t* name) {
        handle = CreateFileW(name, access, share, attributes, disposition, flags, nullptr);
        return handle != INVALID_HANDLE_VALUE;
    });
    return handle;
}

HANDLE OpenForm(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    Spelling form;
    return OpenForm(path, access, share, disposition, flags, form);
}

bool IsAbsent(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
}

bool Passes(HANDLE handle, const GateCheck& check)
{
    if (check.Exact != nullptr)
        return HandleIsAt(handle, check.Exact);
    wchar_t finalPath[kMaxPathChars];
    return check.Below != nullptr && FinalPathOf(handle, finalPath, kMaxPathChars) &&
           PathBelow(finalPath, check.Below);
}

// Calls visit(name, attributes) for each entry of the folder the handle holds
// (opened with FILE_LIST_DIRECTORY), "." and ".." left out: listed through the
// handle, so that it is the folder checked, whatever its name leads to by now.
// False when the listing failed.
template <class Visit>
bool ForEachEntry(HANDLE folder, Visit visit)
{
    alignas(FILE_FULL_DIR_INFO) unsigned char buffer[16384];
    FILE_INFO_BY_HANDLE_CLASS query = FileFullDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(folder, query, buffer, sizeof buffer))
            return GetLastError() == ERROR_NO_MORE_FILES;
        query = FileFullDirectoryInfo;
        for (size_t offset = 0;;) {
            auto* entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(buffer + offset);
            size_t chars = entry->FileNameLength / sizeof(wchar_t);
            wchar_t name[MAX_PATH + 1];
            if (chars <= MAX_PATH) {
                wmemcpy(name, entry->FileName, chars);
                name[chars] = 0;
                if (wcscmp(name, L".") != 0 && wcscmp(name, L"..") != 0 && !visit(name, entry->FileAttributes))
                    return false;
            }
            if (entry->NextEntryOffset == 0)
                break;
            offset += entry->NextEntryOffset;
        }
    }
}

// ---- Deletion through a handle ----

// Whether FileDispositionInfoEx is known not to work here (before Windows 10
// 1709, and under Wine): its class is then not asked again.
bool gNoDispositionEx = false;

bool IsUnsupported(DWORD error)
{
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_INVALID_LEVEL;
}

// Deletes what the handle holds. Where Windows has it, the name goes at once
// (POSIX semantics: another program holding the file open with delete sharing
// no longer keeps its folder from going) and read-only does not stop it.
bool Dispose(HANDLE handle, bool ignoreReadOnly)
{
    if (!gNoDispositionEx) {
        FILE_DISPOSITION_INFO_EX ex = {};
        ex.Flags = FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                   (ignoreReadOnly ? FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE : 0);
        if (SetFileInformationByHandle(handle, kFileDispositionInfoEx, &ex,
                                       sizeof ex))
            return true;
        if (!IsUnsupported(GetLastError()))
            return false;
        gNoDispositionEx = true;
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// Whether a deletion through this handle would ignore read-only: asked by a
// preview, which may not delete. Setting "do not delete" changes nothing.
bool DispositionIgnoresReadOnly(HANDLE handle)
{
    if (gNoDispositionEx)
        return false;
    FILE_DISPOSITION_INFO_EX ex = {};
    if (SetFileInformationByHandle(handle, kFileDispositionInfoEx, &ex,
                                   sizeof ex))
        return true;
    if (IsUnsupported(GetLastError()))
        gNoDispositionEx = true;
    return false;
}

bool SetAttributesThrough(HANDLE handle, DWORD attributes)
{
    FILE_BASIC_INFO basic = {};
    // Zero would mean "leave them as they are".
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

bool gHaveProgram = false;
FileIdentity gProgram;

// The running program, which Windows never lets anyone delete while it runs.
bool IsRunningProgram(const FileIdentity& identity)
{
    if (!gHaveProgram) {
        wchar_t path[kMaxPathChars];
        ScopedFileHandle program;
        if (ProgramPath(path, kMaxPathChars))
            program.Reset(OpenForm(path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, 0));
        gHaveProgram = program && IdentityOf(program.Get(), gProgram);
        if (!gHaveProgram)
            return false;
    }
    return SameFile(identity, gProgram);
}

// Whether the entry at path is one the preview took as removed or moved away.
bool PreviewTookAway(const wchar_t* path)
{
    ScopedFileHandle entry(OpenForm(path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, kEntryFlags));
    FileIdentity identity;
    return entry && IdentityOf(entry.Get(), identity) && (IsFileGone(identity) || IsFileMovedAway(identity));
}

// Whether everything in the folder at path (held open as entry) went in the
// preview, so that the folder would be empty when its turn came; names compared
// by identity, whatever their spelling.
bool PreviewFolderEmptied(HANDLE entry, const wchar_t* path)
{
    ScopedFileHandle listing(OpenForm(path, FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll, OPEN_EXISTING, kEntryFlags));
    FileIdentity held;
    FileIdentity listed;
    if (!listing || !IdentityOf(entry, held) || !IdentityOf(listing.Get(), listed) || !SameFile(held, listed))
        return false;
    bool emptied = ForEachEntry(listing.Get(), [&](const wchar_t* name, DWORD) {
        wchar_t child[kMaxPathChars];
        return JoinPath(path, name, child, kMaxPathChars) && PreviewTookAway(child);
    });
    return emptied && !AnyFileMovedInto(path);
}

GateAnswer AnswerFor(DWORD error)
{
    if (error == ERROR_DIR_NOT_EMPTY)
        return GateAnswer::NotEmpty;
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED)
        return GateAnswer::InUse;
    return IsAbsent(error) ? GateAnswer::Absent : GateAnswer::Failed;
}

GateAnswer Answer(GateAnswer answer, DWORD error)
{
    SetLastError(error);
    return answer;
}

// What the preview answers for a removal the run would make through entry.
GateAnswer PreviewRemoval(HANDLE entry, const wchar_t* path, DWORD attributes, const char* event)
{
    bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    FileIdentity identity;
    bool known = IdentityOf(entry, identity);
    // A link goes as a link, whatever it leads to.
    if (folder && !link && !PreviewFolderEmptied(entry, path)) {
        LogChange(event, ERROR_DIR_NOT_EMPTY, path);
        return Answer(GateAnswer::NotEmpty, ERROR_DIR_NOT_EMPTY);
    }
    // The running program, and a library another process has loaded (as the
    // Restart Manager tells), refuse deletion; the run then moves them aside.
    if (!folder && ((known && IsRunningProgram(identity)) || (!link && FileInUseForPreview(path)))) {
        LogChange(event, ERROR_ACCESS_DENIED, path);
        return Answer(GateAnswer::InUse, ERROR_ACCESS_DENIED);
    }
    bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0 && !(known && AreAttributesCleared(identity));
    if (readOnly && !link && !DispositionIgnoresReadOnly(entry)) {
        if (!folder && LinkCountOf(entry) != 1) {
            LogChange(event, ERROR_ACCESS_DENIED, path);
            return Answer(GateAnswer::LinkedReadOnly, ERROR_ACCESS_DENIED);
        }
        LogAttributeChange(Withheld(), path, FILE_ATTRIBUTE_NORMAL);
        if (known)
            RecordAttributesCleared(identity, true);
    }
    LogChange(event, Withheld(), path);
    if (known)
        RecordFileGone(identity);
    return Answer(GateAnswer::Done, 0);
}

// Opens path as a removal does; answers Done when the handle is open and passed
// the check, else why not, with the error as the last error. facts holds what
// the handle shows only with look: a deletion that nobody logs or previews asks
// for it only when the deletion is refused.
GateAnswer OpenChecked(const wchar_t* path, const GateCheck& check, DWORD access, ScopedFileHandle& entry,
                       HandleFacts& facts, Spelling& form, bool look = true)
{
    facts.Attributes = 0;
    entry.Reset(OpenForm(path, access, kShareAll, OPEN_EXISTING, kEntryFlags, form));
    if (!entry) {
        DWORD error = GetLastError();
        return Answer(AnswerFor(error), Outcome(false, error));
    }
    // A preview that took the entry as removed finds nothing there.
    FileIdentity identity;
    if (ChangesWithheld() && IdentityOf(entry.Get(), identity) && (IsFileGone(identity) || IsFileMovedAway(identity)))
        return Answer(GateAnswer::Absent, ERROR_FILE_NOT_FOUND);
    if (look && !LookThroughHandle(entry.Get(), facts))
        return Answer(GateAnswer::Failed, Outcome(false, GetLastError()));
    if (!Passes(entry.Get(), check))
        return Answer(GateAnswer::Refused, kErrorThroughLink);
    return GateAnswer::Done;
}

// ---- The holding folder ----

wchar_t gHoldingFolder[kMaxPathChars];
wchar_t gHoldingRoot[kMaxPathChars];
ScopedFileHandle gHolding;
bool gHoldingMade = false;      // made, or in a preview taken as made
bool gHoldingRefused = false;   // could not be made on gHoldingRoot: files are renamed in place
unsigned gHeldCount = 0;

constexpr wchar_t kHoldingName[] = L"Zorvex.Pending";

// Makes the holding folder at root (a volume root with its separator), exclusively:
// when the name is taken, another one. Only SYSTEM and Administrators reach it;
// it is hidden and system, and held open without delete sharing while the run
// lasts, so that nobody renames it away meanwhile.
bool MakeHoldingFolder(const wchar_t* root)
{
    ScopedLocalMem descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1,
                                                              reinterpret_cast<PSECURITY_DESCRIPTOR*>(
                                                                  descriptor.Receive()),
                                                              nullptr))
        return false;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor.Get(), FALSE};
    size_t rootLength = wcslen(root);
    for (int attempt = 0; attempt < kExclusiveNameAttempts; attempt++) {
        if (!CopyString(gHoldingFolder, root, kMaxPathChars) ||
            !ExclusiveName(gHoldingFolder, rootLength, kMaxPathChars, kHoldingName, L"", attempt))
            return false;
        if (ChangesWithheld()) {
            WIN32_FIND_DATAW data;
            ScopedFindHandle taken(FindFirstFileW(gHoldingFolder, &data));
            if (taken)
                continue;
            LogChange("folder-create", Withheld(), gHoldingFolder);
            LogAttributeChange(Withheld(), gHoldingFolder, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
            return true;
        }
        BOOL made = CreateDirectoryW(gHoldingFolder, &security);
        DWORD error = GetLastError();
        LogChange("folder-create", Outcome(made, error), gHoldingFolder);
        if (!made) {
            if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
                continue;
            return false;
        }
        gHolding.Reset(OpenForm(gHoldingFolder, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, kEntryFlags));
        HandleFacts facts;
        wchar_t finalPath[kMaxPathChars];
        if (!gHolding || !LookThroughHandle(gHolding.Get(), facts) ||
            (facts.Attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != FILE_ATTRIBUTE_DIRECTORY ||
            !FinalPathOf(gHolding.Get(), finalPath, kMaxPathChars) || !SamePath(finalPath, gHoldingFolder)) {
            gHolding.Reset();
            return false;
        }
        bool hidden = SetAttributesThrough(gHolding.Get(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        LogAttributeChange(Outcome(hidden, GetLastError()), gHoldingFolder, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        return true;
    }
    return false;
}

// The name a file waiting for the restart takes: in the holding folder, or,
// where none can be made on its volume, beside it as <path>.<n>.tmp.
bool HeldName(const wchar_t* path, const wchar_t* finalPath, wchar_t* dest, size_t capacity)
{
    wchar_t root[kMaxPathChars];
    if (GetVolumePathNameW(finalPath, root, kMaxPathChars) && !gHoldingRefused) {
        if (!gHoldingMade) {
            CopyString(gHoldingRoot, root, kMaxPathChars);
            gHoldingMade = MakeHoldingFolder(root);
            gHoldingRefused = !gHoldingMade;
            if (gHoldingRefused)
                LogNote(L"no holding folder could be made at the volume's root: files that wait for the restart "
                        L"are renamed and scheduled where they are");
        }
        if (gHoldingMade && SamePath(root, gHoldingRoot)) {
            wchar_t name[16];
            FormatString(name, 16, L"%u.tmp", gHeldCount++);
            return JoinPath(gHoldingFolder, name, dest, capacity);
        }
    }
    // A cut name would name another file, and a taken one would not be free when
    // the rename comes: the entry then keeps its own.
    for (unsigned n = 0; n < 1000; n++) {
        if (FormatString(dest, capacity, L"%s.%u.tmp", path, n) < 0)
            return false;
        if (GateAttributes(dest) == INVALID_FILE_ATTRIBUTES)
            return true;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return false;
}

bool RenameThrough(HANDLE handle, const wchar_t* to, bool replace)
{
    wchar_t full[kMaxPathChars];
    const wchar_t* target = to;
    // The plain form would drop a trailing dot or blank.
    if (EndsInDotOrBlank(to) || wcslen(to) >= MAX_PATH - 12) {
        if (!ToExtendedLengthPath(to, full, kMaxPathChars)) {
            SetLastError(ERROR_INVALID_NAME);
            return false;
        }
        target = full;
    }
    size_t length = wcslen(target);
    size_t bytes = sizeof(FILE_RENAME_INFO) + length * sizeof(wchar_t);
    alignas(FILE_RENAME_INFO) unsigned char buffer[sizeof(FILE_RENAME_INFO) + kMaxPathChars * sizeof(wchar_t)];
    if (length >= kMaxPathChars) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
    memset(buffer, 0, sizeof buffer);
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
    wmemcpy(rename->FileName, target, length + 1);
    return SetFileInformationByHandle(handle, FileRenameInfo, rename, static_cast<DWORD>(bytes)) != FALSE;
}

HANDLE NullDevice()
{
    return CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Checks a file made or opened for writing: the plain file of its name in the
// folder its path names.
bool IsPlainAt(HANDLE handle, const wchar_t* path)
{
    HandleFacts facts;
    wchar_t expected[kMaxPathChars];
    return LookThroughHandle(handle, facts) && FinalPathAsNamed(path, expected, kMaxPathChars) &&
           IsPlainFileNamed(handle, facts, expected);
}

// Whether anything stands at path, a dangling link too.
bool NameTaken(const wchar_t* path)
{
    WIN32_FIND_DATAW data;
    ScopedFindHandle find(FindFirstFileW(path, &data));
    return find.Valid();
}

// Whether the folder part of path is reached without a link: its final path
// is its long name.
bool FolderReachedPlainly(const wchar_t* path)
{
    wchar_t folder[kMaxPathChars];
    wchar_t longFolder[kMaxPathChars];
    wchar_t finalFolder[kMaxPathChars];
    if (!FolderPart(path, folder, kMaxPathChars))
        return false;
    if (folder[0] == 0 && !CopyString(folder, L".", kMaxPathChars))
        return false;
    return LongFullPath(folder, longFolder, kMaxPathChars) && FinalPathIn(folder, L"", finalFolder, kMaxPathChars) &&
           SamePath(longFolder, finalFolder);
}

// One new file at path: in a run made, logged and checked; in a preview the
// name is looked at and the NUL device handed out.
bool MakeNewAt(const wchar_t* path, const SECURITY_ATTRIBUTES* security, ScopedFileHandle& file)
{
    if (ChangesWithheld()) {
        if (NameTaken(path)) {
            SetLastError(ERROR_FILE_EXISTS);
            return false;
        }
        LogChange("file-write", Withheld(), path);
        file.Reset(NullDevice());
        return file.Valid();
    }
    constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC;
    if (!CreateNewFile(path, kAccess, security, file)) {
        DWORD error = GetLastError();
        if (!IsNameTaken(error))
            LogChange("file-write", Outcome(false, error), path);
        SetLastError(error);
        return false;
    }
    LogChange("file-write", 0, path);
    if (IsPlainAt(file.Get(), path))
        return true;
    GateDeleteMade(file.Get(), path);
    file.Reset();
    SetLastError(kErrorThroughLink);
    return false;
}

// ---- The registry ----

using NtDeleteKeyFn = LONG(NTAPI*)(HANDLE);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(LONG);

// Deletes the key the handle holds, whatever its name leads to by now.
LONG DeleteKeyThrough(HKEY key)
{
    static NtDeleteKeyFn deleteKey = nullptr;
    static RtlNtStatusToDosErrorFn toDosError = nullptr;
    if (deleteKey == nullptr) {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        if (ntdll == nullptr)
            return ERROR_PROC_NOT_FOUND;
        deleteKey = reinterpret_cast<NtDeleteKeyFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtDeleteKey")));
        toDosError = reinterpret_cast<RtlNtStatusToDosErrorFn>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
        if (deleteKey == nullptr || toDosError == nullptr) {
            deleteKey = nullptr;
            return ERROR_PROC_NOT_FOUND;
        }
    }
    LONG status = deleteKey(key);
    return status == 0 ? ERROR_SUCCESS : static_cast<LONG>(toDosError(status));
}

// Whether the key (opened with REG_OPTION_OPEN_LINK) is a registry link.
bool IsRegistryLink(HKEY key)
{
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

// The key itself, not what a link of that name leads to.
LONG OpenKeyItself(HKEY parent, const wchar_t* path, REGSAM access, ScopedRegKey& key)
{
    return RegOpenKeyExW(parent, path, REG_OPTION_OPEN_LINK, access | KEY_QUERY_VALUE, key.Receive());
}

bool JoinKey(const wchar_t* path, const wchar_t* name, wchar_t* dest, size_t capacity)
{
    return CopyString(dest, path, capacity) && (path[0] == 0 || AppendString(dest, L"\\", capacity)) &&
           AppendString(dest, name, capacity);
}

constexpr size_t kKeyPathChars = 512;
constexpr DWORD kKeyNameChars = 256;

// Whether every subkey of the key is one the preview took as deleted.
bool PreviewKeyEmptied(HKEY root, REGSAM view, HKEY key, const wchar_t* path)
{
    wchar_t name[kKeyNameChars];
    wchar_t subPath[kKeyPathChars];
    wchar_t recordName[kKeyPathChars + 16];
    for (DWORD index = 0;; index++) {
        DWORD nameChars = kKeyNameChars;
        if (RegEnumKeyExW(key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return true;
        if (!JoinKey(path, name, subPath, kKeyPathChars) ||
            !RegistryKeyName(root, view, subPath, recordName, kKeyPathChars + 16) || !IsKeyGone(recordName))
            return false;
    }
}

// Deletes key (open, at path below root) and, with tree, all below it first;
// subkeys are opened through their parent's handle, never by a name from the
// root, and a link among them goes as a link.
LONG DeleteKeyAt(HKEY root, REGSAM view, HKEY key, const wchar_t* path, bool tree, int depth)
{
    wchar_t recordName[kKeyPathChars + 16];
    bool named = RegistryKeyName(root, view, path, recordName, kKeyPathChars + 16);
    if (tree && !IsRegistryLink(key) && depth < kMaxTreeDepth) {
        wchar_t name[kKeyNameChars];
        wchar_t subPath[kKeyPathChars];
        DWORD index = 0;
        for (;;) {
            DWORD nameChars = kKeyNameChars;
            if (RegEnumKeyExW(key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            ScopedRegKey sub;
            // A subkey whose path does not fit stays, and with it its parents.
            bool deleted = JoinKey(path, name, subPath, kKeyPathChars) &&
                           OpenKeyItself(key, name, KEY_READ | DELETE | view, sub) == ERROR_SUCCESS &&
                           DeleteKeyAt(root, view, sub.Get(), subPath, true, depth + 1) == ERROR_SUCCESS;
            // A deleted subkey takes its index with it, except in a preview.
            if (!deleted || ChangesWithheld())
                index++;
        }
    }
    if (ChangesWithheld()) {
        if (named && IsKeyGone(recordName))
            return ERROR_FILE_NOT_FOUND;
        if (!IsRegistryLink(key) && !PreviewKeyEmptied(root, view, key, path)) {
            LogRegistryChange("key-delete", ERROR_ACCESS_DENIED, root, view, path, nullptr);
            return ERROR_ACCESS_DENIED;
        }
        LogRegistryChange("key-delete", Withheld(), root, view, path, nullptr);
        if (named)
            RecordKeyGone(recordName);
        return ERROR_SUCCESS;
    }
    LONG result = DeleteKeyThrough(key);
    LogRegistryChange("key-delete", static_cast<DWORD>(result), root, view, path, nullptr);
    return result;
}

LONG DeleteKeyByPath(HKEY root, REGSAM view, const wchar_t* path, bool tree)
{
    if (path[0] == 0)
        return ERROR_INVALID_PARAMETER;  // a root itself is never deleted
    ScopedRegKey key;
    LONG opened = OpenKeyItself(root, path, KEY_READ | DELETE | view, key);
    if (opened != ERROR_SUCCESS) {
        // Only the one-key deletion reports a key that is not there: the tree's
        // top is looked for before anything else, as a tree of passes did.
        if (!tree)
            LogRegistryChange("key-delete", static_cast<DWORD>(opened), root, view, path, nullptr);
        return opened;
    }
    if (ChangesWithheld()) {
        wchar_t recordName[kKeyPathChars + 16];
        if (RegistryKeyName(root, view, path, recordName, kKeyPathChars + 16) && IsKeyGone(recordName)) {
            if (!tree)
                LogRegistryChange("key-delete", ERROR_FILE_NOT_FOUND, root, view, path, nullptr);
            return ERROR_FILE_NOT_FOUND;
        }
    }
    return DeleteKeyAt(root, view, key.Get(), path, tree, 0);
}

}  // namespace

void BeginPreview()
{
    BeginPreviewRecord();
}

GateAnswer GateRemove(const wchar_t* name, const GateCheck& check)
{
    ScopedFileHandle entry;
    HandleFacts facts;
    Spelling form;
    // What the entry is (a folder, read-only, a link) matters to a deletion only
    // when it is refused; nearly every entry goes at once. The log and the
    // preview name it before.
    bool looked = ChangeLogOn() || ChangesWithheld();
    GateAnswer opened = OpenChecked(name, check, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                                    entry, facts, form, looked);
    const wchar_t* path = form.Used;
    if (opened != GateAnswer::Done) {
        DWORD error = GetLastError();
        LogChange("file-delete", error, path);
        return Answer(opened, error);
    }
    bool folder = (facts.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const char* event = folder ? "folder-delete" : "file-delete";
    if (ChangesWithheld())
        return PreviewRemoval(entry.Get(), path, facts.Attributes, event);

    bool done = Dispose(entry.Get(), true);
    DWORD error = done ? 0 : GetLastError();
    if (!done && !looked && LookThroughHandle(entry.Get(), facts)) {
        folder = (facts.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        event = folder ? "folder-delete" : "file-delete";
    }
    bool readOnly = (facts.Attributes & FILE_ATTRIBUTE_READONLY) != 0;
    // Read-only stopped it where Windows cannot delete such a file as it is. The
    // attributes belong to the file, not to this name: cleared, they would be
    // cleared for every other name of it too, which may lie outside.
    if (!done && error == ERROR_ACCESS_DENIED && readOnly && !(facts.Attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (!folder && LinkCountOf(entry.Get()) != 1) {
            LogChange(event, error, path);
            return Answer(GateAnswer::LinkedReadOnly, error);
        }
        bool cleared = SetAttributesThrough(entry.Get(), FILE_ATTRIBUTE_NORMAL);
        LogAttributeChange(Outcome(cleared, GetLastError()), path, FILE_ATTRIBUTE_NORMAL);
        if (cleared) {
            done = Dispose(entry.Get(), false);
            error = done ? 0 : GetLastError();
        }
    }
    LogChange(event, Outcome(done, error), path);
    return done ? Answer(GateAnswer::Done, 0) : Answer(AnswerFor(error), error);
}

static GateAnswer RemoveTreeAt(const wchar_t* folder, const wchar_t* folderFinal, int depth)
{
    ScopedFileHandle handle;
    HandleFacts facts;
    GateCheck check = {folderFinal, nullptr};
    Spelling form;
    GateAnswer opened = OpenChecked(folder, check, DELETE | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                    handle, facts, form);
    if (opened != GateAnswer::Done) {
        DWORD error = GetLastError();
        LogChange("folder-delete", error, folder);
        return Answer(opened, error);
    }
    if ((facts.Attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || depth >= kMaxTreeDepth)
        return Answer(GateAnswer::Failed, ERROR_DIRECTORY);
    // The folder itself is held open meanwhile: whatever its name leads to by the
    // end, what goes last is this folder.
    if (!(facts.Attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ForEachEntry(handle.Get(), [&](const wchar_t* name, DWORD attributes) {
            wchar_t child[kMaxPathChars];
            wchar_t childFinal[kMaxPathChars];
            if (!JoinPath(folder, name, child, kMaxPathChars) || !JoinPath(folderFinal, name, childFinal, kMaxPathChars))
                return true;
            bool subfolder =
                (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_DIRECTORY;
            if (subfolder)
                RemoveTreeAt(child, childFinal, depth + 1);
            else
                GateRemove(child, {childFinal, nullptr});
            return true;
        });
    }
    if (ChangesWithheld())
        return PreviewRemoval(handle.Get(), folder, facts.Attributes, "folder-delete");
    bool done = Dispose(handle.Get(), false);
    DWORD error = done ? 0 : GetLastError();
    LogChange("folder-delete", Outcome(done, error), folder);
    return done ? Answer(GateAnswer::Done, 0) : Answer(AnswerFor(error), error);
}

GateAnswer GateRemoveTree(const wchar_t* folder, const wchar_t* folderFinal)
{
    return RemoveTreeAt(folder, folderFinal, 0);
}

GateAnswer GateHoldForRestart(const wchar_t* path, const GateCheck& check, wchar_t* heldName, size_t capacity)
{
    ScopedFileHandle entry;
    HandleFacts facts;
    Spelling form;
    GateAnswer opened = OpenChecked(path, check, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, entry, facts, form);
    const wchar_t* from = form.Used;
    if (opened != GateAnswer::Done) {
        DWORD error = GetLastError();
        LogChange("file-rename", error, from);
        return Answer(opened, error);
    }
    wchar_t finalPath[kMaxPathChars];
    if (!FinalPathOf(entry.Get(), finalPath, kMaxPathChars)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return GateAnswer::Failed;
    }
    if (!HeldName(path, finalPath, heldName, capacity)) {
        if (GetLastError() != ERROR_FILE_EXISTS)
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return GateAnswer::Failed;
    }
    if (ChangesWithheld()) {
        LogChange("file-rename", Withheld(), from, heldName);
        FileIdentity identity;
        if (IdentityOf(entry.Get(), identity))
            RecordFileMoved(identity, heldName);
        GateScheduleAtRestart(heldName);
        return Answer(GateAnswer::Done, 0);
    }
    bool moved = RenameThrough(entry.Get(), heldName, false);
    DWORD error = moved ? 0 : GetLastError();
    LogChange("file-rename", Outcome(moved, error), from, heldName);
    if (!moved)
        return Answer(AnswerFor(error), error);
    GateScheduleAtRestart(heldName);
    return Answer(GateAnswer::Done, 0);
}

bool GateScheduleAtRestart(const wchar_t* path)
{
    if (ChangesWithheld()) {
        LogChange("restart-delete", Withheld(), path);
        return true;
    }
    wchar_t retry[kMaxPathChars];
    const wchar_t* used;
    bool done = WithExtendedRetry(path, retry, used, [](const wchar_t* form) {
        return MoveFileExW(form, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
    });
    DWORD error = done ? 0 : GetLastError();
    LogChange("restart-delete", Outcome(done, error), used);
    SetLastError(error);
    return done;
}

void GateEndHolding()
{
    // After the files in it, so that the restart finds it empty when its turn comes.
    if (gHoldingMade && gHeldCount > 0)
        GateScheduleAtRestart(gHoldingFolder);
    else if (gHoldingMade && gHolding && !ChangesWithheld()) {
        // Made for nothing: gone again.
        bool done = Dispose(gHolding.Get(), false);
        LogChange("folder-delete", Outcome(done, GetLastError()), gHoldingFolder);
    }
    gHolding.Reset();
    gHoldingMade = false;
    gHoldingRefused = false;
    gHeldCount = 0;
}

bool GateCreateNew(wchar_t* path, size_t folderLength, size_t capacity, const wchar_t* base,
                   const wchar_t* extension, unsigned ways, ScopedFileHandle& file)
{
    file.Reset();
    bool otherNames = (ways & kNewOtherNames) != 0;
    bool protect = (ways & kNewProtected) != 0;
    ScopedLocalMem descriptor;
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    if (protect) {
        if (!MakeProtectedSecurity(descriptor))
            return false;
        security.lpSecurityDescriptor = descriptor.Get();
    }
    for (int attempt = 0; attempt < (otherNames ? kExclusiveNameAttempts : 1); attempt++) {
        if (!ExclusiveName(path, folderLength, capacity, base, extension, attempt))
            return false;
        // Through a link on the way the file would lie elsewhere, whatever its name says.
        if (attempt == 0 && (ways & kNewFolderPlain) && !FolderReachedPlainly(path)) {
            LogChange("file-write", kErrorThroughLink, path);
            SetLastError(kErrorThroughLink);
            return false;
        }
        if (MakeNewAt(path, protect ? &security : nullptr, file))
            return true;
        DWORD error = GetLastError();
        if (!IsNameTaken(error) && error != ERROR_FILE_EXISTS)
            return false;
        if (!otherNames)
            LogChange("file-write", error, path);
        SetLastError(error);
    }
    return false;
}

bool GateCreateFile(const wchar_t* path, ScopedFileHandle& file)
{
    file.Reset();
    DWORD access = ChangesWithheld() ? FILE_READ_ATTRIBUTES : GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL;
    ScopedFileHandle existing(OpenForm(path, access, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT));
    if (!existing) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) {
            LogChange("file-write", Outcome(false, error), path);
            SetLastError(error);
            return false;
        }
        if (MakeNewAt(path, nullptr, file))
            return true;
        error = GetLastError();
        LogChange("file-write", Outcome(false, error), path);
        SetLastError(error);
        return false;
    }
    if (!IsPlainAt(existing.Get(), path)) {
        LogChange("file-write", kErrorThroughLink, path);
        SetLastError(kErrorThroughLink);
        return false;
    }
    if (ChangesWithheld()) {
        LogChange("file-write", Withheld(), path);
        file.Reset(NullDevice());
        return file.Valid();
    }
    bool emptied = SetEndOfFile(existing.Get()) != FALSE;
    DWORD error = emptied ? 0 : GetLastError();
    LogChange("file-write", Outcome(emptied, error), path);
    if (!emptied) {
        SetLastError(error);
        return false;
    }
    file = static_cast<ScopedFileHandle&&>(existing);
    return true;
}

bool GateOpenForRewrite(const wchar_t* path, const char* event, ScopedFileHandle& file, bool& existed)
{
    file.Reset();
    existed = false;
    DWORD access = GENERIC_READ | FILE_READ_ATTRIBUTES | (ChangesWithheld() ? 0 : GENERIC_WRITE);
    ScopedFileHandle existing(OpenForm(path, access, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT));
    if (existing) {
        if (!IsPlainAt(existing.Get(), path)) {
            LogChange(event, kErrorThroughLink, path);
            SetLastError(kErrorThroughLink);
            return false;
        }
        existed = true;
        file = static_cast<ScopedFileHandle&&>(existing);
        return true;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND && ChangesWithheld()) {
        file.Reset(NullDevice());
        return file.Valid();
    }
    if (error != ERROR_FILE_NOT_FOUND ||
        !CreateNewFile(path, GENERIC_READ | GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, nullptr, file)) {
        error = GetLastError();
        LogChange(event, Outcome(false, error), path);
        SetLastError(error);
        return false;
    }
    if (IsPlainAt(file.Get(), path))
        return true;
    GateDeleteMade(file.Get(), path);
    file.Reset();
    LogChange(event, kErrorThroughLink, path);
    SetLastError(kErrorThroughLink);
    return false;
}

bool GateReplaceContent(HANDLE file, const wchar_t* name, const char* event, const void* bytes, DWORD count)
{
    if (ChangesWithheld()) {
        LogChange(event, Withheld(), name);
        return true;
    }
    LARGE_INTEGER start = {};
    DWORD written = 0;
    bool done = SetFilePointerEx(file, start, nullptr, FILE_BEGIN) &&
                (count == 0 || (WriteFile(file, bytes, count, &written, nullptr) && written == count)) &&
                SetEndOfFile(file);
    DWORD error = done ? 0 : (GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT);
    LogChange(event, Outcome(done, error), name);
    SetLastError(error);
    return done;
}

bool GateDeleteMade(HANDLE file, const wchar_t* name)
{
    if (ChangesWithheld()) {
        LogChange("file-delete", Withheld(), name);
        return true;
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    bool done = SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
    DWORD error = done ? 0 : GetLastError();
    LogChange("file-delete", Outcome(done, error), name);
    SetLastError(error);
    return done;
}

bool GateSetAttributesOf(const wchar_t* name, const wchar_t* exact, DWORD attributes)
{
    ScopedFileHandle entry;
    HandleFacts facts;
    Spelling form;
    GateAnswer opened =
        OpenChecked(name, {exact, nullptr}, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, entry, facts, form);
    const wchar_t* path = form.Used;
    DWORD error = GetLastError();
    // The attributes of a file of several names are theirs too, which may lie elsewhere.
    if (opened == GateAnswer::Done && !(facts.Attributes & FILE_ATTRIBUTE_DIRECTORY) && LinkCountOf(entry.Get()) != 1) {
        opened = GateAnswer::LinkedReadOnly;
        error = ERROR_ACCESS_DENIED;
    }
    if (opened != GateAnswer::Done) {
        LogAttributeChange(error, path, attributes);
        SetLastError(error);
        return false;
    }
    if (ChangesWithheld()) {
        LogAttributeChange(Withheld(), path, attributes);
        FileIdentity identity;
        if (IdentityOf(entry.Get(), identity))
            RecordAttributesCleared(identity, !(attributes & FILE_ATTRIBUTE_READONLY));
        return true;
    }
    bool done = SetAttributesThrough(entry.Get(), attributes);
    error = done ? 0 : GetLastError();
    LogAttributeChange(Outcome(done, error), path, attributes);
    SetLastError(error);
    return done;
}

bool GateSetAttributes(HANDLE file, const wchar_t* name, DWORD attributes)
{
    if (ChangesWithheld()) {
        LogAttributeChange(Withheld(), name, attributes);
        return true;
    }
    bool done = SetAttributesThrough(file, attributes);
    DWORD error = done ? 0 : GetLastError();
    LogAttributeChange(Outcome(done, error), name, attributes);
    SetLastError(error);
    return done;
}

bool GateTakeSecurity(HANDLE file, HANDLE model)
{
    if (ChangesWithheld())
        return true;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    // The security calls answer their error rather than set it.
    DWORD error = GetSecurityInfo(model, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                  &descriptor);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return false;
    }
    ScopedLocalMem owned(descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorControl(descriptor, &control, &revision))
        return false;
    // What the old file inherited, the new one inherits from the same folder;
    // what was set on it is set again, and a protected DACL stays protected.
    SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED)
                                                                 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                 : UNPROTECTED_DACL_SECURITY_INFORMATION);
    error = SetSecurityInfo(file, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

bool GateRenameMade(HANDLE file, const wchar_t* from, const wchar_t* to, bool replace)
{
    const char* event = replace ? "file-replace" : "file-rename";
    const wchar_t* first = replace ? to : from;
    const wchar_t* second = replace ? from : to;
    if (ChangesWithheld()) {
        LogChange(event, Withheld(), first, second);
        return true;
    }
    // What was written is on the disk before the name says it is there.
    bool done = FlushFileBuffers(file) && RenameThrough(file, to, replace);
    DWORD error = done ? 0 : GetLastError();
    LogChange(event, Outcome(done, error), first, second);
    SetLastError(error);
    return done;
}

bool GateCopyNew(const wchar_t* from, const wchar_t* to)
{
    ScopedFileHandle source(OpenForm(from, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN));
    if (!source) {
        DWORD error = GetLastError();
        LogChange("file-copy", Outcome(false, error), from, to);
        SetLastError(error);
        return false;
    }
    if (ChangesWithheld()) {
        bool free = !NameTaken(to);
        LogChange("file-copy", free ? Withheld() : ERROR_FILE_EXISTS, from, to);
        return free;
    }
    ScopedFileHandle target;
    if (!CreateNewFile(to, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, nullptr, target)) {
        DWORD error = GetLastError();
        LogChange("file-copy", Outcome(false, error), from, to);
        SetLastError(error);
        return false;
    }
    bool done = IsPlainAt(target.Get(), to);
    if (!done)
        SetLastError(kErrorThroughLink);
    char buffer[16384];
    for (DWORD got = 0; done;) {
        DWORD written = 0;
        if (!ReadFile(source.Get(), buffer, sizeof buffer, &got, nullptr)) {
            done = false;
            break;
        }
        if (got == 0)
            break;
        done = WriteFile(target.Get(), buffer, got, &written, nullptr) && written == got;
    }
    DWORD error = done ? 0 : (GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT);
    LogChange("file-copy", Outcome(done, error), from, to);
    if (!done) {
        // Half a copy is no copy: gone again, through the handle it was made with.
        FILE_DISPOSITION_INFO disposition = {TRUE};
        SetFileInformationByHandle(target.Get(), FileDispositionInfo, &disposition, sizeof disposition);
    }
    SetLastError(error);
    return done;
}

bool GateCreateFolder(const wchar_t* path)
{
    wchar_t extended[kMaxPathChars];
    const wchar_t* form = path;
    // The plain form would drop a trailing dot or blank and make the sibling.
    if (EndsInDotOrBlank(path)) {
        if (!ToExtendedLengthPath(path, extended, kMaxPathChars))
            return false;
        form = extended;
    }
    if (ChangesWithheld()) {
        if (NameTaken(form)) {
            LogChange("folder-create", ERROR_ALREADY_EXISTS, path);
            SetLastError(ERROR_ALREADY_EXISTS);
            return false;
        }
        LogChange("folder-create", Withheld(), path);
        return true;
    }
    wchar_t retry[kMaxPathChars];
    const wchar_t* used;
    bool done = WithExtendedRetry(form, retry, used, [](const wchar_t* name) {
        return CreateDirectoryW(name, nullptr) != FALSE;
    });
    DWORD error = done ? 0 : GetLastError();
    LogChange("folder-create", Outcome(done, error), path);
    SetLastError(error);
    return done;
}

DWORD GateAttributes(const wchar_t* path)
{
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    wchar_t retry[kMaxPathChars];
    const wchar_t* used;
    WithExtendedRetry(path, retry, used, [&](const wchar_t* form) {
        attributes = GetFileAttributesW(form);
        return attributes != INVALID_FILE_ATTRIBUTES;
    });
    if (!ChangesWithheld())
        return attributes;
    FileIdentity identity;
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return FileMovedTo(path, identity) ? FILE_ATTRIBUTE_ARCHIVE : attributes;
    DWORD error = GetLastError();
    ScopedFileHandle entry(OpenForm(path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, kEntryFlags));
    if (!entry || !IdentityOf(entry.Get(), identity)) {
        SetLastError(error);
        return attributes;
    }
    if (IsFileGone(identity) || IsFileMovedAway(identity)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (AreAttributesCleared(identity)) {
        attributes &= FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        if (attributes == 0)
            attributes = FILE_ATTRIBUTE_NORMAL;
    }
    return attributes;
}

LONG GateSetValue(HKEY root, REGSAM view, const wchar_t* keyPath, const wchar_t* valueName, DWORD type,
                  const void* data, DWORD bytes)
{
    ScopedRegKey key;
    LONG opened = OpenKeyItself(root, keyPath, KEY_SET_VALUE | view, key);
    if (opened == ERROR_SUCCESS && IsRegistryLink(key.Get())) {
        LogValueSet(kErrorThroughLink, root, view, keyPath, valueName, type, data, bytes);
        return static_cast<LONG>(kErrorThroughLink);
    }
    if (ChangesWithheld()) {
        if (opened != ERROR_SUCCESS)
            LogRegistryChange("key-create", Withheld(), root, view, keyPath, nullptr);
        LogValueSet(Withheld(), root, view, keyPath, valueName, type, data, bytes);
        return ERROR_SUCCESS;
    }
    if (opened != ERROR_SUCCESS) {
        // A link made at the name since the look above is opened as the link,
        // and refused, never written through.
        DWORD disposition = 0;
        LONG created = RegCreateKeyExW(root, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE | REG_OPTION_OPEN_LINK,
                                       KEY_WRITE | KEY_QUERY_VALUE | view, nullptr, key.Receive(), &disposition);
        if (created != ERROR_SUCCESS || disposition == REG_CREATED_NEW_KEY)
            LogRegistryChange("key-create", static_cast<DWORD>(created), root, view, keyPath, nullptr);
        if (created != ERROR_SUCCESS)
            return created;
        if (IsRegistryLink(key.Get())) {
            LogValueSet(kErrorThroughLink, root, view, keyPath, valueName, type, data, bytes);
            return static_cast<LONG>(kErrorThroughLink);
        }
    }
    LONG result = RegSetValueExW(key.Get(), valueName, 0, type, static_cast<const BYTE*>(data), bytes);
    LogValueSet(static_cast<DWORD>(result), root, view, keyPath, valueName, type, data, bytes);
    return result;
}

LONG GateDeleteValue(HKEY root, REGSAM view, const wchar_t* keyPath, const wchar_t* valueName)
{
    ScopedRegKey key;
    LONG opened = OpenKeyItself(root, keyPath, KEY_SET_VALUE | view, key);
    if (opened != ERROR_SUCCESS)
        return opened;
    if (IsRegistryLink(key.Get())) {
        LogRegistryChange("value-delete", kErrorThroughLink, root, view, keyPath, valueName);
        return static_cast<LONG>(kErrorThroughLink);
    }
    if (ChangesWithheld()) {
        // Only a value that is there would go.
        LONG present = RegQueryValueExW(key.Get(), valueName, nullptr, nullptr, nullptr, nullptr);
        LogRegistryChange("value-delete", present == ERROR_SUCCESS ? Withheld() : static_cast<DWORD>(present), root,
                          view, keyPath, valueName);
        return present;
    }
    LONG result = RegDeleteValueW(key.Get(), valueName);
    LogRegistryChange("value-delete", static_cast<DWORD>(result), root, view, keyPath, valueName);
    return result;
}

LONG GateDeleteKey(HKEY root, REGSAM view, const wchar_t* keyPath)
{
    return DeleteKeyByPath(root, view, keyPath, false);
}

void GateDeleteKeyTree(HKEY root, REGSAM view, const wchar_t* keyPath)
{
    DeleteKeyByPath(root, view, keyPath, true);
}

BOOL GateCreateProcess(const wchar_t* application, wchar_t* commandLine, BOOL inheritHandles, STARTUPINFOW* startup,
                       PROCESS_INFORMATION* process)
{
    const wchar_t* shown = application != nullptr ? application : L"";
    if (ChangesWithheld()) {
        LogChange("process", Withheld(), shown, commandLine);
        *process = {};
        return TRUE;
    }
    BOOL started = CreateProcessW(application, commandLine, nullptr, nullptr, inheritHandles, 0, nullptr, nullptr,
                                  startup, process);
    DWORD error = started ? 0 : GetLastError();
    LogChange("process", Outcome(started != FALSE, error), shown, commandLine);
    SetLastError(error);
    return started;
}

HINSTANCE GateShellExecute(const wchar_t* verb, const wchar_t* file, const wchar_t* parameters, int show)
{
    const wchar_t* shown = parameters != nullptr ? parameters : L"";
    if (ChangesWithheld()) {
        LogChange("process", Withheld(), file, shown);
        // Above 32 is what a start that worked answers.
        return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
    }
    HINSTANCE result = ShellExecuteW(nullptr, verb, file, parameters, L"", show);
    // Above 32 is success; below, the value is the error.
    DWORD code = static_cast<DWORD>(reinterpret_cast<INT_PTR>(result));
    LogChange("process", code > 32 ? 0 : Outcome(false, code), file, shown);
    return result;
}

BOOL GateShellExecuteEx(SHELLEXECUTEINFOW* info)
{
    const wchar_t* parameters = info->lpParameters != nullptr ? info->lpParameters : L"";
    if (ChangesWithheld()) {
        LogChange("process", Withheld(), info->lpFile, parameters);
        info->hProcess = nullptr;
        return TRUE;
    }
    BOOL started = ShellExecuteExW(info);
    DWORD error = started ? 0 : GetLastError();
    LogChange("process", Outcome(started != FALSE, error), info->lpFile, parameters);
    SetLastError(error);
    return started;
}

void GateNotifyShell(LONG eventId, UINT flags)
{
    if (!ChangesWithheld())
        SHChangeNotify(eventId, flags, nullptr, nullptr);
    LogShellNotice(ChangesWithheld() ? Withheld() : 0, eventId);
}
