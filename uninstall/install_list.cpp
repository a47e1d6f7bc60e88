#include "uninstall/install_list.h"

#include <cstring>
#include <cwchar>

#include "common/base/array.h"
#include "common/base/heapsort.h"
#include "common/base/long_path.h"
#include "common/base/paths.h"
#include "common/base/scoped.h"

const wchar_t kListName[] = L"Uninstall.lst";

void RewindList(ListReader& list)
{
    list.file.Seek(0);
    list.blockUsed = 0;
    list.blockNext = 0;
}

// The next line, without its line feed, into line; false at the end of the list.
// A line that does not fit is read on to its end and answered with whole false:
// its pieces are not entries.
bool ReadListLine(ListReader& list, char* line, size_t capacity, size_t& length, bool& whole)
{
    length = 0;
    whole = true;
    bool any = false;
    for (;;) {
        if (list.blockNext == list.blockUsed) {
            int got = list.file.Read(list.block, sizeof list.block);
            if (got <= 0)
                break;
            list.blockUsed = static_cast<uint32_t>(got);
            list.blockNext = 0;
        }
        char c = list.block[list.blockNext++];
        any = true;
        if (c == '\n')
            break;
        if (length + 1 < capacity)
            line[length++] = c;
        else
            whole = false;
    }
    line[length] = 0;
    return any;
}

static bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

bool IsConfinedEntryName(const wchar_t* entry)
{
    if (IsSeparator(entry[0]) || wcschr(entry, L':') != nullptr)
        return false;
    // A component of dots and blanks only may be resolved to the parent
    // (Windows drops trailing dots and blanks), and a device name names the
    // device, so neither is accepted.
    const wchar_t* component = entry;
    for (const wchar_t* p = entry;; p++) {
        if (*p != 0 && !IsSeparator(*p))
            continue;
        bool dotsAndBlanks = p > component;
        bool hasDot = false;
        for (const wchar_t* q = component; q < p; q++) {
            hasDot = hasDot || *q == L'.';
            dotsAndBlanks = dotsAndBlanks && (*q == L'.' || *q == L' ');
        }
        if ((dotsAndBlanks && hasDot) || IsDeviceName(component, static_cast<size_t>(p - component)))
            return false;
        if (*p == 0)
            return true;
        component = p + 1;
    }
}

// Makes entry (which holds the install folder in its first folderLength
// characters) name the entry of one list line. False when the line names nothing
// this run may touch: empty, holding a NUL byte, not convertible, too long, or
// spelled to reach outside the install folder. The list comes from outside the
// program, and an elevated uninstaller must not delete system files because of it.
bool EntryFromLine(char* line, size_t length, wchar_t* entry, size_t folderLength)
{
    while (length > 0 && (line[length - 1] == ' ' || line[length - 1] == '\t' || line[length - 1] == '\r' ||
                          line[length - 1] == '\n'))
        line[--length] = 0;
    if (length == 0 || strlen(line) != length)
        return false;
    if (!WideFromAnsi(line, entry + folderLength, kMaxPathChars - folderLength))
        return false;
    // "link\" would name what a link leads to, not the link: every call below is
    // made on the name itself. Stripped here, after the conversion, because in a
    // double-byte code page the byte of a backslash may be part of a character.
    size_t end = wcslen(entry);
    while (end > folderLength && IsSeparator(entry[end - 1]))
        entry[--end] = 0;
    return end > folderLength && IsConfinedEntryName(entry + folderLength);
}

// Errors that say the entry is not there (or cannot be, by its name).
bool IsAbsentError(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
}

// Errors that say one spelling of a folder reaches nothing: the folder is not
// there, or that spelling cannot name it (too long for the plain form), so a
// call on an entry below it cannot pass through it in that spelling either.
static bool ReachesNothing(uint32_t error)
{
    return IsAbsentError(error) || error == ERROR_FILENAME_EXCED_RANGE;
}

FolderVerdict FolderVerdictOf(const FolderLook* looks, size_t count)
{
    bool plain = false;
    for (size_t i = 0; i < count; i++) {
        const FolderLook& look = looks[i];
        // Attributes that cannot be read (access denied, a network error) may
        // hide a junction: such a folder counts as one.
        if (look.Attributes == INVALID_FILE_ATTRIBUTES) {
            if (!ReachesNothing(look.Error))
                return FolderVerdict::Link;
            continue;
        }
        if (look.Attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return FolderVerdict::Link;
        plain = plain || (look.Attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    return plain ? FolderVerdict::Plain : FolderVerdict::Absent;
}

// Looks at folder in every form that a call on an entry below it may take: the
// plain form, and the extended-length form when that names something else (the
// plain form drops a trailing dot, so "a." would be checked as "a" while the
// retry went through "a." itself).
static FolderVerdict LookAtFolder(const wchar_t* folder)
{
    FolderLook looks[2];
    size_t count = 0;
    wchar_t longPath[kMaxPathChars];
    const wchar_t* forms[2] = {folder, nullptr};
    if (DifferingExtendedForm(folder, longPath))
        forms[1] = longPath;
    for (const wchar_t* form : forms) {
        if (form == nullptr)
            continue;
        looks[count].Attributes = GetFileAttributesW(form);
        looks[count].Error = looks[count].Attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
        count++;
    }
    return FolderVerdictOf(looks, count);
}

PathVerdict CheckEntryPath(wchar_t* entry, size_t folderLength)
{
    // The entry's own name is not one of its folders.
    size_t end = wcslen(entry);
    for (size_t i = folderLength; i < end; i++) {
        if (!IsSeparator(entry[i]) || (i > folderLength && IsSeparator(entry[i - 1])))
            continue;
        wchar_t separator = entry[i];
        entry[i] = 0;
        FolderVerdict verdict = LookAtFolder(entry);
        entry[i] = separator;
        if (verdict == FolderVerdict::Link)
            return kPathThroughLink;
        if (verdict == FolderVerdict::Absent)
            return kPathUnreachable;
    }
    return kPathInside;
}

static int CompareIdentities(const void* a, const void* b)
{
    const FileIdentity& x = *static_cast<const FileIdentity*>(a);
    const FileIdentity& y = *static_cast<const FileIdentity*>(b);
    if (x.Volume != y.Volume)
        return x.Volume < y.Volume ? -1 : 1;
    if (x.Index != y.Index)
        return x.Index < y.Index ? -1 : 1;
    return 0;
}

uint32_t EstimatedSizeKiB(FileIdentity* files, size_t count)
{
    HeapSort(files, count, sizeof files[0], CompareIdentities);
    uint64_t bytes = 0;
    for (size_t i = 0; i < count; i++) {
        // A file system that numbers no files (index 0) cannot tell two names
        // of one file apart: each of its files counts.
        if (i > 0 && files[i].Index != 0 && CompareIdentities(&files[i - 1], &files[i]) == 0)
            continue;
        bytes = files[i].Bytes > UINT64_MAX - bytes ? UINT64_MAX : bytes + files[i].Bytes;
    }
    uint64_t kib = bytes / 1024 + (bytes % 1024 != 0 ? 1 : 0);
    return kib > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(kib);
}

// The identity and size of the plain file at path, read through one handle
// opened without following a link; false for a folder, a reparse point, a file
// whose final path is not expectedFinal, or one that cannot be opened.
static bool PlainFileIdentity(const wchar_t* path, const wchar_t* expectedFinal, FileIdentity& identity)
{
    HANDLE opened = INVALID_HANDLE_VALUE;
    wchar_t retry[kMaxPathChars];
    const wchar_t* used;
    WithExtendedRetry(path, retry, used, [&](const wchar_t* form) {
        opened = CreateFileW(form, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        return opened != INVALID_HANDLE_VALUE;
    });
    ScopedFileHandle handle(opened);
    BY_HANDLE_FILE_INFORMATION information;
    wchar_t finalPath[kMaxPathChars];
    if (!handle || !GetFileInformationByHandle(handle.Get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        !FinalPathOf(handle.Get(), finalPath, kMaxPathChars) || !SamePath(finalPath, expectedFinal))
        return false;
    identity.Volume = information.dwVolumeSerialNumber;
    identity.Index = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    identity.Bytes = (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    return true;
}

static void AddFileIdentity(Array<FileIdentity>& files, const wchar_t* path, const wchar_t* folderFinal,
                            const wchar_t* relative)
{
    wchar_t expected[kMaxPathChars];
    FileIdentity identity;
    if (!ExpectedFinalPath(folderFinal, relative, expected, kMaxPathChars) ||
        !PlainFileIdentity(path, expected, identity))
        return;
    files.Grow(1);
    files[files.Count - 1] = identity;
}

bool InstalledSizeKiB(const wchar_t* folder, const wchar_t* programPath, uint32_t& kib)
{
    // Links on the way to the folder itself are resolved here, once: entries are
    // compared with what lies below its final path.
    wchar_t folderFinal[kMaxPathChars];
    if (!FinalPathIn(folder, L"", folderFinal, kMaxPathChars))
        return false;
    Array<FileIdentity> files;
    AddFileIdentity(files, programPath, folderFinal, NamePart(programPath));

    wchar_t listPath[kMaxPathChars];
    ListReader list;
    if (JoinPath(folder, kListName, listPath, kMaxPathChars) && list.file.Open(listPath, kOpenShareWrite)) {
        wchar_t entry[kMaxPathChars];
        size_t folderLength = wcslen(folder);
        if (CopyString(entry, folder, kMaxPathChars)) {
            char line[kListLineBytes];
            size_t length;
            bool whole;
            while (ReadListLine(list, line, kListLineBytes, length, whole)) {
                if (whole && EntryFromLine(line, length, entry, folderLength) &&
                    CheckEntryPath(entry, folderLength) == kPathInside)
                    AddFileIdentity(files, entry, folderFinal, entry + folderLength);
            }
        }
    }
    kib = EstimatedSizeKiB(files.Data, static_cast<size_t>(files.Count));
    return true;
}
