#include "common/base/identity.h"

#include <cstring>
#include <cwchar>

#include "common/base/long_path.h"
#include "common/base/paths.h"
#include "common/base/scoped.h"
#include "common/base/strings.h"

bool SameFile(const FileIdentity& a, const FileIdentity& b)
{
    return a.Index != 0 && a.Volume == b.Volume && a.Index == b.Index;
}

bool IdentityOf(HANDLE handle, FileIdentity& identity)
{
    identity = {};
    FILE_ID_INFO id = {};
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
        uint64_t low;
        uint64_t high;
        memcpy(&low, id.FileId.Identifier, sizeof low);
        memcpy(&high, id.FileId.Identifier + sizeof low, sizeof high);
        // NTFS numbers files in the low half; ReFS uses the whole 128 bits.
        identity.Volume = static_cast<uint32_t>(id.VolumeSerialNumber);
        identity.Index = low ^ high;
        return true;
    }
    // Before Windows 8: the older and slower query.
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information))
        return false;
    identity.Volume = information.dwVolumeSerialNumber;
    identity.Index = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return true;
}

bool LookThroughHandle(HANDLE handle, HandleFacts& facts)
{
    // The tag query alone: every removal asks it, and it is the cheapest one
    // that tells a reparse point whatever kind of file the handle holds.
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag))
        return false;
    facts.Attributes = tag.FileAttributes | (tag.ReparseTag != 0 ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
    return true;
}

DWORD LinkCountOf(HANDLE handle)
{
    FILE_STANDARD_INFO standard = {};
    return GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)
               ? standard.NumberOfLinks
               : 0;
}

// The text of a path without the prefix that marks the extended-length form; a
// network path given as "\\?\UNC\server\share" is copied into buffer as "\\server\share".
static const wchar_t* WithoutVerbatimPrefix(const wchar_t* path, wchar_t* buffer, size_t capacity)
{
    if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        if (FormatString(buffer, capacity, L"\\\\%s", path + 8) < 0)
            return nullptr;
        return buffer;
    }
    return wcsncmp(path, L"\\\\?\\", 4) == 0 ? path + 4 : path;
}

// The object's own name ("\\??\\C:\\x" or "\\Device\\HarddiskVolume1\\x") in the drive
// letter form; for the handles GetFinalPathNameByHandleW cannot answer for
// (some file systems, and Wine past MAX_PATH).
static bool ObjectPathOf(HANDLE handle, wchar_t* dest, size_t capacity)
{
    using NtQueryObjectFn = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto query = ntdll == nullptr ? nullptr
                                  : reinterpret_cast<NtQueryObjectFn>(
                                        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")));
    // OBJECT_NAME_INFORMATION: a UNICODE_STRING followed by its characters.
    struct Name {
        USHORT Length;
        USHORT MaximumLength;
        wchar_t* Buffer;
    };
    constexpr ULONG kBytes = sizeof(Name) + (kMaxPathChars + 64) * sizeof(wchar_t);
    alignas(Name) unsigned char buffer[kBytes];
    ULONG returned = 0;
    // 1 is ObjectNameInformation.
    if (query == nullptr || query(handle, 1, buffer, kBytes, &returned) != 0)
        return false;
    const Name* name = reinterpret_cast<const Name*>(buffer);
    size_t length = name->Length / sizeof(wchar_t);
    if (name->Buffer == nullptr || length >= kMaxPathChars + 32)
        return false;
    wchar_t text[kMaxPathChars + 32];
    wmemcpy(text, name->Buffer, length);
    text[length] = 0;
    if (wcsncmp(text, L"\\??\\", 4) == 0)
        return CopyString(dest, text + 4, capacity);
    // A device name: the drive whose device it is.
    for (wchar_t letter = L'A'; letter <= L'Z'; letter++) {
        wchar_t drive[3] = {letter, L':', 0};
        wchar_t device[MAX_PATH];
        if (QueryDosDeviceW(drive, device, MAX_PATH) == 0)
            continue;
        size_t deviceLength = wcslen(device);
        if (deviceLength > 0 && wcsncmp(text, device, deviceLength) == 0 &&
            (text[deviceLength] == L'\\' || text[deviceLength] == 0))
            return FormatString(dest, capacity, L"%s%s", drive, text + deviceLength) >= 0;
    }
    return false;
}

bool FinalPathOf(HANDLE handle, wchar_t* dest, size_t capacity)
{
    // Room for the "\\?\\UNC\\" that a path of kMaxPathChars - 1 characters comes with.
    constexpr DWORD kRawChars = kMaxPathChars + 8;
    wchar_t raw[kRawChars];
    DWORD length = GetFinalPathNameByHandleW(handle, raw, kRawChars, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= kRawChars)
        return ObjectPathOf(handle, dest, capacity);
    wchar_t buffer[kMaxPathChars];
    const wchar_t* plain = WithoutVerbatimPrefix(raw, buffer, kMaxPathChars);
    return plain != nullptr && CopyString(dest, plain, capacity);
}

// The length that counts in a comparison: the whole path less a trailing
// separator that is not the root's own.
static size_t ComparedLength(const wchar_t* path)
{
    size_t length = wcslen(path);
    if (length > 1 && path[length - 1] == L'\\' && !(length == 3 && path[1] == L':'))
        length--;
    return length;
}

static bool ComparePrefix(const wchar_t* path, const wchar_t* folder, bool allowEqual, bool allowBelow)
{
    wchar_t pathBuffer[kMaxPathChars];
    wchar_t folderBuffer[kMaxPathChars];
    const wchar_t* a = WithoutVerbatimPrefix(path, pathBuffer, kMaxPathChars);
    const wchar_t* b = WithoutVerbatimPrefix(folder, folderBuffer, kMaxPathChars);
    if (a == nullptr || b == nullptr)
        return false;
    size_t pathLength = ComparedLength(a);
    size_t folderLength = ComparedLength(b);
    if (folderLength == 0 || pathLength < folderLength || folderLength > INT32_MAX)
        return false;
    if (CompareStringOrdinal(a, static_cast<int>(folderLength), b, static_cast<int>(folderLength), TRUE) !=
        CSTR_EQUAL)
        return false;
    if (pathLength == folderLength)
        return allowEqual;
    // A root such as "C:\" already ends in its separator.
    return allowBelow && (a[folderLength] == L'\\' || b[folderLength - 1] == L'\\');
}

bool SamePath(const wchar_t* a, const wchar_t* b)
{
    return ComparePrefix(a, b, true, false) && ComparedLength(a) > 0;
}

bool PathWithin(const wchar_t* path, const wchar_t* folder)
{
    return ComparePrefix(path, folder, true, true);
}

bool PathBelow(const wchar_t* path, const wchar_t* folder)
{
    return ComparePrefix(path, folder, false, true);
}

// Whether finalPath is expected less the dots and blanks that end its name.
static bool DiffersOnlyInTrailingDots(const wchar_t* finalPath, const wchar_t* expected)
{
    size_t length = wcslen(expected);
    size_t stripped = length;
    while (stripped > 0 && (expected[stripped - 1] == L'.' || expected[stripped - 1] == L' '))
        stripped--;
    if (stripped == length || stripped == 0 || expected[stripped - 1] == L'\\' || stripped >= kMaxPathChars)
        return false;
    wchar_t shorter[kMaxPathChars];
    wmemcpy(shorter, expected, stripped);
    shorter[stripped] = 0;
    return SamePath(finalPath, shorter);
}

bool HandleIsAt(HANDLE handle, const wchar_t* expectedFinal)
{
    wchar_t finalPath[kMaxPathChars];
    if (!FinalPathOf(handle, finalPath, kMaxPathChars))
        return false;
    if (SamePath(finalPath, expectedFinal))
        return true;
    // A final path may come without the dots and blanks that end a name, which
    // only the extended-length form keeps (Wine answers "c" for "c."): the entry
    // of that name, opened in that form, must then be the file the handle holds.
    if (!DiffersOnlyInTrailingDots(finalPath, expectedFinal))
        return false;
    wchar_t extended[kMaxPathChars];
    if (!ToExtendedLengthPath(expectedFinal, extended, kMaxPathChars))
        return false;
    ScopedFileHandle named(CreateFileW(extended, FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    FileIdentity held;
    FileIdentity atName;
    return named && IdentityOf(handle, held) && IdentityOf(named.Get(), atName) && SameFile(held, atName);
}

bool LongFullPath(const wchar_t* path, wchar_t* dest, size_t capacity)
{
    wchar_t full[kMaxPathChars];
    DWORD length = GetFullPathNameW(path, kMaxPathChars, full, nullptr);
    if (length == 0 || length >= kMaxPathChars)
        return false;
    DWORD size = Win32Capacity(capacity);
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

bool FinalPathIn(const wchar_t* folder, const wchar_t* name, wchar_t* dest, size_t capacity)
{
    HANDLE opened = INVALID_HANDLE_VALUE;
    wchar_t retry[kMaxPathChars];
    const wchar_t* used;
    WithExtendedRetry(folder, retry, used, [&](const wchar_t* form) {
        opened = CreateFileW(form, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        return opened != INVALID_HANDLE_VALUE;
    });
    ScopedFileHandle handle(opened);
    wchar_t finalPath[kMaxPathChars];
    if (!handle || !FinalPathOf(handle.Get(), finalPath, kMaxPathChars))
        return false;
    return name[0] == 0 ? CopyString(dest, finalPath, capacity) : JoinPath(finalPath, name, dest, capacity);
}

bool FinalPathAsNamed(const wchar_t* path, wchar_t* dest, size_t capacity)
{
    wchar_t folder[kMaxPathChars];
    if (!FolderPart(path, folder, kMaxPathChars))
        return false;
    if (folder[0] == 0)
        CopyString(folder, L".", kMaxPathChars);
    return FinalPathIn(folder, NamePart(path), dest, capacity);
}

static bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

bool ExpectedFinalPath(const wchar_t* folderFinal, const wchar_t* relative, wchar_t* dest, size_t capacity)
{
    size_t out = wcslen(folderFinal);
    if (out >= capacity)
        return false;
    wmemcpy(dest, folderFinal, out);
    if (out > 0 && dest[out - 1] != L'\\' && relative[0] != 0) {
        if (out + 1 >= capacity)
            return false;
        dest[out++] = L'\\';
    }
    for (const wchar_t* p = relative; *p != 0; p++) {
        if (IsSeparator(*p) && out > 0 && dest[out - 1] == L'\\')
            continue;
        if (out + 1 >= capacity)
            return false;
        dest[out++] = IsSeparator(*p) ? L'\\' : *p;
    }
    dest[out] = 0;
    return true;
}

bool IsPlainFolderAt(const wchar_t* path, const wchar_t* expectedFinal)
{
    HANDLE opened = INVALID_HANDLE_VALUE;
    wchar_t retry[kMaxPathChars];
    const wchar_t* used;
    WithExtendedRetry(path, retry, used, [&](const wchar_t* form) {
        opened = CreateFileW(form, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                             nullptr);
        return opened != INVALID_HANDLE_VALUE;
    });
    ScopedFileHandle handle(opened);
    HandleFacts facts;
    return handle && LookThroughHandle(handle.Get(), facts) &&
           (facts.Attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_DIRECTORY &&
           HandleIsAt(handle.Get(), expectedFinal);
}

bool IsPlainNamedFile(DWORD attributes, DWORD links, const wchar_t* finalPath, const wchar_t* requestedLongPath)
{
    return links == 1 && (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
           SamePath(finalPath, requestedLongPath);
}

bool IsPlainFileNamed(HANDLE handle, const HandleFacts& facts, const wchar_t* requestedLongPath)
{
    // The cheap look first: a folder or a link is refused without further calls.
    if ((facts.Attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return false;
    return LinkCountOf(handle) == 1 && HandleIsAt(handle, requestedLongPath);
}
