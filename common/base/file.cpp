#include "common/base/file.h"

#include <climits>
#include <cwchar>

#include "common/base/change_log.h"
#include "common/base/errors.h"
#include "common/base/long_path.h"
#include "common/base/paths.h"
#include "common/base/scoped.h"

// Windows drops a trailing dot or space from a name in the plain form; only the
// extended-length form keeps it.
static bool EndsInDotOrSpace(const wchar_t* name)
{
    size_t length = wcslen(name);
    return length > 0 && (name[length - 1] == L'.' || name[length - 1] == L' ');
}

static bool FitsFileName(const wchar_t* name)
{
    return wcsnlen(name, kMaxPathChars) < kMaxPathChars;
}

// CreateFileW with the caller's name and, where long_path.h says so, once more
// in the extended-length form; with skipPlain in that form only. extended tells
// which form gave the handle.
static HANDLE CreateFileRetried(const wchar_t* name, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                                bool skipPlain, bool& extended, const SECURITY_ATTRIBUTES* security = nullptr)
{
    auto* attributes = const_cast<SECURITY_ATTRIBUTES*>(security);
    HANDLE handle = INVALID_HANDLE_VALUE;
    wchar_t longName[kMaxPathChars];
    extended = skipPlain;
    if (skipPlain) {
        if (!ToExtendedLengthPath(name, longName, kMaxPathChars)) {
            SetLastError(ERROR_INVALID_NAME);
            return INVALID_HANDLE_VALUE;
        }
        return CreateFileW(longName, access, share, attributes, disposition, flags, nullptr);
    }
    const wchar_t* used;
    WithExtendedRetry(name, longName, used, [&](const wchar_t* form) {
        handle = CreateFileW(form, access, share, attributes, disposition, flags, nullptr);
        return handle != INVALID_HANDLE_VALUE;
    });
    extended = handle != INVALID_HANDLE_VALUE && used == longName;
    return handle;
}

File::File() : NewFile(false), ReadStoppedFlag(false), CreatedExtended(false), DeleteThroughHandle(false)
{
    FileName[0] = 0;
}

File::~File()
{
    Release();
}

void File::Release()
{
    if (!Handle)
        return;
    if (DeleteThroughHandle) {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        BOOL deleted = SetFileInformationByHandle(Handle.Get(), FileDispositionInfo, &disposition, sizeof disposition);
        if (ChangeLogOn())
            LogChange("file-delete", deleted ? 0 : GetLastError(), FileName);
        Close();
        return;
    }
    Close();
    if (!NewFile)
        return;
    // A created file is kept only when its writer closed it. Delete it in the
    // form it was made, and in that form only: the plain delete of "a." would
    // remove the sibling "a", and the extended one of a file made plainly as
    // "a" would remove "a.".
    if (CreatedExtended) {
        wchar_t longName[kMaxPathChars];
        if (ToExtendedLengthPath(FileName, longName, kMaxPathChars))
            LoggedDeleteFileAsNamed(longName);
    } else {
        LoggedDeleteFileAsNamed(FileName);
    }
}

bool File::Open(const wchar_t* name, unsigned mode)
{
    Release();
    NewFile = false;
    DeleteThroughHandle = false;
    if (!FitsFileName(name))
        return false;
    DWORD share = FILE_SHARE_READ | ((mode & kOpenShareWrite) ? FILE_SHARE_WRITE : 0);
    bool extended = false;
    HANDLE handle =
        CreateFileRetried(name, GENERIC_READ, share, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, false, extended);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    Handle.Reset(handle);
    CreatedExtended = false;
    CopyString(FileName, name, kMaxPathChars);
    ReadStoppedFlag = false;
    return true;
}

bool File::Create(const wchar_t* name, unsigned mode)
{
    Release();
    if (!FitsFileName(name))
        return false;
    DWORD access = GENERIC_WRITE | ((mode & kCreateWriteOnly) ? 0 : GENERIC_READ);
    DWORD share = (mode & kCreateShareRead) ? FILE_SHARE_READ : 0;
    if (ChangesWithheld()) {
        LogChange("file-write", kOutcomePreview, name);
        SetLastError(ERROR_WRITE_PROTECT);
        return false;
    }
    bool extended = false;
    HANDLE handle = CreateFileRetried(name, access, share, CREATE_ALWAYS, 0, EndsInDotOrSpace(name), extended);
    if (ChangeLogOn())
        LogChange("file-write", handle != INVALID_HANDLE_VALUE ? 0 : GetLastError(), name);
    NewFile = true;
    DeleteThroughHandle = false;
    CopyString(FileName, name, kMaxPathChars);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    Handle.Reset(handle);
    CreatedExtended = extended;
    return true;
}

bool File::CreateNew(const wchar_t* name, const SECURITY_ATTRIBUTES* security)
{
    Release();
    NewFile = false;
    DeleteThroughHandle = false;
    if (!FitsFileName(name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    bool extended = false;
    HANDLE handle = CreateFileRetried(name, GENERIC_WRITE | DELETE, 0, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, EndsInDotOrSpace(name),
                                      extended, security);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    Handle.Reset(handle);
    NewFile = true;
    DeleteThroughHandle = true;
    CreatedExtended = extended;
    CopyString(FileName, name, kMaxPathChars);
    ReadStoppedFlag = false;
    return true;
}

bool File::Close()
{
    if (!Handle)
        return true;
    bool closed = CloseHandle(Handle.Release()) != FALSE;
    if (!closed)
        ErrHandler().ReportCloseError(FileName);
    return closed;
}

// One ReadFile of count bytes; -1 on failure. Console and pipe handles refuse
// very large reads, and a locked range may refuse a large read only, so those
// are tried once more with a smaller count.
static int RawRead(HANDLE handle, void* buffer, uint32_t count)
{
    DWORD got = 0;
    if (ReadFile(handle, buffer, count, &got, nullptr))
        return static_cast<int>(got);
    DWORD error = GetLastError();
    DWORD type = GetFileType(handle);
    if ((type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) && count > 20000)
        return RawRead(handle, buffer, 20000);
    if (count > 32768 && error == ERROR_LOCK_VIOLATION)
        return RawRead(handle, buffer, 32768);
    return -1;
}

int File::Read(void* buffer, uint32_t count)
{
    if (ReadStoppedFlag)
        return 0;
    // The count read travels as an int.
    if (count > INT_MAX)
        count = INT_MAX;
    int got = Handle ? RawRead(Handle.Get(), buffer, count) : -1;
    if (got >= 0)
        return got;
    if (ErrHandler().ReportReadError(FileName))
        ReadStoppedFlag = true;
    return 0;
}

bool File::Write(const void* data, uint32_t count)
{
    if (count == 0)
        return true;
    DWORD written = 0;
    DWORD error = ERROR_INVALID_HANDLE;
    if (Handle) {
        if (WriteFile(Handle.Get(), data, count, &written, nullptr)) {
            if (written == count)
                return true;
            error = ERROR_WRITE_FAULT;  // a short write is a failed one
        } else {
            error = GetLastError();
        }
    }
    int64_t position = Tell();
    uint64_t freeSpace = FreeDiskSpace(FileName);
    SetLastError(error);
    // Room on the volume but a write across 4 GiB: the file system cannot hold it.
    const int64_t limit = 4294967295LL;
    if (freeSpace > count && position - static_cast<int64_t>(count) <= limit &&
        position + static_cast<int64_t>(count) > limit)
        ErrHandler().ReportFileTooLarge(FileName);
    ErrHandler().AskRetryWrite(FileName);  // this program never retries
    ErrHandler().ReportWriteError(FileName);
    SetLastError(error);
    return false;
}

// SetFilePointer answers INVALID_SET_FILE_POINTER for a real position too; only
// the last error tells a failure.
static bool MoveFilePointer(HANDLE handle, int64_t offset, DWORD origin, int64_t& position)
{
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(handle, static_cast<LONG>(offset & 0xFFFFFFFF), &high, origin);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return false;
    position = static_cast<int64_t>((static_cast<uint64_t>(static_cast<DWORD>(high)) << 32) | low);
    return true;
}

void File::Seek(int64_t offset)
{
    if (!Handle)
        return;
    int64_t position = 0;
    if (!MoveFilePointer(Handle.Get(), offset, FILE_BEGIN, position))
        ErrHandler().ReportSeekError(FileName);
}

int64_t File::Tell()
{
    int64_t position = -1;
    if (!Handle || !MoveFilePointer(Handle.Get(), 0, FILE_CURRENT, position)) {
        ErrHandler().ReportSeekError(FileName);
        return -1;
    }
    return position;
}

bool FileExists(const wchar_t* name)
{
    return GetAttributes(name) != INVALID_FILE_ATTRIBUTES;
}

DWORD GetAttributes(const wchar_t* name)
{
    return LoggedGetFileAttributes(name);
}

bool SetAttributes(const wchar_t* name, DWORD attributes)
{
    return LoggedSetFileAttributes(name, attributes) != FALSE;
}

bool RemoveFile(const wchar_t* name)
{
    return LoggedDeleteFile(name) != FALSE;
}

// Every sharing mode: a check must not fail because another program has the file open.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

static bool FinalPathOfHandle(HANDLE handle, wchar_t* dest, size_t capacity)
{
    DWORD size = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
    DWORD length = GetFinalPathNameByHandleW(handle, dest, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return length > 0 && length < size;
}

// The handle names expectedFinal and nothing else: not a link's target, not
// another spelling of a redirected name.
static bool HandleIsNamed(HANDLE handle, const wchar_t* expectedFinal)
{
    wchar_t finalPath[kMaxPathChars];
    return FinalPathOfHandle(handle, finalPath, kMaxPathChars) &&
           CompareStringOrdinal(finalPath, -1, expectedFinal, -1, TRUE) == CSTR_EQUAL;
}

bool FinalPathIn(const wchar_t* folder, const wchar_t* name, wchar_t* dest, size_t capacity)
{
    bool extended;
    ScopedFileHandle handle(CreateFileRetried(folder, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                                              FILE_FLAG_BACKUP_SEMANTICS, false, extended));
    wchar_t finalPath[kMaxPathChars];
    return handle && FinalPathOfHandle(handle.Get(), finalPath, kMaxPathChars) &&
           JoinPath(finalPath, name, dest, capacity);
}

// What a handle opened without following a link shows of itself.
static bool LookThroughHandle(HANDLE handle, DWORD& attributes, DWORD& links)
{
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    FILE_STANDARD_INFO standard = {};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard))
        return false;
    attributes = tag.FileAttributes | (tag.ReparseTag != 0 ? FILE_ATTRIBUTE_REPARSE_POINT : 0) |
                 (standard.Directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
    links = standard.NumberOfLinks;
    return true;
}

bool IsPlainFolder(const wchar_t* path, const wchar_t* expectedFinal)
{
    bool extended;
    ScopedFileHandle handle(CreateFileRetried(path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, false,
                                              extended));
    DWORD attributes, links;
    return handle && LookThroughHandle(handle.Get(), attributes, links) &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_DIRECTORY &&
           HandleIsNamed(handle.Get(), expectedFinal);
}

bool RemovePlainFile(const wchar_t* path, const wchar_t* expectedFinal)
{
    bool extended;
    ScopedFileHandle handle(CreateFileRetried(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll,
                                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, false, extended));
    DWORD attributes, links;
    if (!handle || !LookThroughHandle(handle.Get(), attributes, links) ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        !HandleIsNamed(handle.Get(), expectedFinal))
        return false;
    if (links == 1 && (attributes & ~FILE_ATTRIBUTE_NORMAL) != 0) {
        // Zero would mean "leave as they are".
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        BOOL cleared = ChangesWithheld() ||
                       SetFileInformationByHandle(handle.Get(), FileBasicInfo, &basic, sizeof basic);
        if (ChangeLogOn())
            LogAttributeChange(ChangesWithheld() ? kOutcomePreview : cleared ? 0 : GetLastError(), path,
                               FILE_ATTRIBUTE_NORMAL);
    }
    if (ChangesWithheld()) {
        LogChange("file-delete", kOutcomePreview, path);
        RecordPreviewDeletion(path);
        return true;
    }
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    BOOL deleted = SetFileInformationByHandle(handle.Get(), FileDispositionInfo, &disposition, sizeof disposition);
    if (ChangeLogOn())
        LogChange("file-delete", deleted ? 0 : GetLastError(), path);
    return deleted != FALSE;
}

bool PlainFileIdentity(const wchar_t* path, const wchar_t* expectedFinal, FileIdentity& identity)
{
    bool extended;
    ScopedFileHandle handle(CreateFileRetried(path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                                              FILE_FLAG_OPEN_REPARSE_POINT, false, extended));
    BY_HANDLE_FILE_INFORMATION information;
    if (!handle || !GetFileInformationByHandle(handle.Get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        !HandleIsNamed(handle.Get(), expectedFinal))
        return false;
    identity.Volume = information.dwVolumeSerialNumber;
    identity.Index = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    identity.Bytes = (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    return true;
}

int MakeFolder(const wchar_t* name, bool setAttributes, DWORD attributes)
{
    // The plain form would drop a trailing dot or blank and make the sibling.
    const wchar_t* form = name;
    wchar_t longName[kMaxPathChars];
    if (EndsInDotOrSpace(name)) {
        if (!ToExtendedLengthPath(name, longName, kMaxPathChars))
            return kMakeFolderFailed;
        form = longName;
    }
    if (LoggedCreateDirectory(form)) {
        // In the form it was made: the plain name of "d." is the sibling "d".
        if (setAttributes)
            LoggedSetFileAttributes(form, attributes);
        return kMakeFolderOk;
    }
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kMakeFolderBadPath : kMakeFolderFailed;
}

uint64_t FreeDiskSpace(const wchar_t* path)
{
    wchar_t folder[kMaxPathChars];
    if (!FolderPart(path, folder, kMaxPathChars))
        return 0;
    ULARGE_INTEGER available, total, totalFree;
    if (!GetDiskFreeSpaceExW(folder[0] != 0 ? folder : nullptr, &available, &total, &totalFree))
        return 0;
    if (available.HighPart > totalFree.HighPart)
        return 0;
    return available.QuadPart;
}
