#include "common/base/file.h"

#include <climits>
#include <cwchar>

#include "common/base/gate.h"
#include "common/base/identity.h"
#include "common/base/errors.h"
#include "common/base/long_path.h"
#include "common/base/paths.h"
#include "common/base/scoped.h"

static bool FitsFileName(const wchar_t* name)
{
    return wcsnlen(name, kMaxPathChars) < kMaxPathChars;
}

File::File() : NewFile(false), ReadStoppedFlag(false)
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
    // A file made here is kept only when its writer closed it. It goes through
    // the handle it was made with: its name may lead elsewhere by now.
    if (NewFile)
        GateDeleteMade(Handle.Get(), FileName);
    NewFile = false;
    Close();
}

bool File::Open(const wchar_t* name, unsigned mode)
{
    Release();
    if (!FitsFileName(name))
        return false;
    DWORD share = FILE_SHARE_READ | ((mode & kOpenShareWrite) ? FILE_SHARE_WRITE : 0);
    HANDLE handle = INVALID_HANDLE_VALUE;
    wchar_t retry[kMaxPathChars];
    const wchar_t* used;
    WithExtendedRetry(name, retry, used, [&](const wchar_t* form) {
        handle = CreateFileW(form, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        return handle != INVALID_HANDLE_VALUE;
    });
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    Handle.Reset(handle);
    CopyString(FileName, name, kMaxPathChars);
    ReadStoppedFlag = false;
    return true;
}

bool File::Create(const wchar_t* name, unsigned)
{
    Release();
    if (!FitsFileName(name))
        return false;
    ScopedFileHandle made;
    if (!GateCreateFile(name, made))
        return false;
    return Adopt(made, name);
}

bool File::Adopt(ScopedFileHandle& handle, const wchar_t* name)
{
    Release();
    if (!FitsFileName(name) || !handle)
        return false;
    Handle.Reset(handle.Release());
    NewFile = true;
    ReadStoppedFlag = false;
    CopyString(FileName, name, kMaxPathChars);
    return true;
}

bool File::Close()
{
    if (!Handle)
        return true;
    NewFile = false;
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
    return GateAttributes(name);
}

bool SetAttributes(const wchar_t* name, DWORD attributes)
{
    wchar_t expected[kMaxPathChars];
    return FinalPathAsNamed(name, expected, kMaxPathChars) && GateSetAttributesOf(name, expected, attributes);
}

bool RemoveFile(const wchar_t* name)
{
    wchar_t expected[kMaxPathChars];
    if (!FinalPathAsNamed(name, expected, kMaxPathChars)) {
        if (GetLastError() == ERROR_SUCCESS)
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return GateRemove(name, {expected, nullptr}) == GateAnswer::Done;
}

int MakeFolder(const wchar_t* name, bool setAttributes, DWORD attributes)
{
    if (GateCreateFolder(name)) {
        if (setAttributes)
            SetAttributes(name, attributes);
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
