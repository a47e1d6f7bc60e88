#include "common/base/find.h"

#include <cwchar>

#include "common/base/long_path.h"
#include "common/base/paths.h"
#include "common/base/scoped.h"

static uint64_t Nanoseconds(const FILETIME& time)
{
    return ((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) * 100;
}

// Fills data from a directory entry; Name is built from the caller's pattern,
// never from the extended form a retry may have used. False when it does not fit.
static bool FillFindData(const wchar_t* pattern, const WIN32_FIND_DATAW& entry, FindData& data)
{
    if (!CopyString(data.Name, pattern, kMaxPathChars) || !ReplaceNamePart(data.Name, entry.cFileName, kMaxPathChars))
        return false;
    data.Size = (static_cast<uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
    data.Attributes = entry.dwFileAttributes;
    data.ModifiedTime = Nanoseconds(entry.ftLastWriteTime);
    data.CreatedTime = Nanoseconds(entry.ftCreationTime);
    data.AccessedTime = Nanoseconds(entry.ftLastAccessTime);
    data.RawCreatedTime = entry.ftCreationTime;
    data.RawAccessedTime = entry.ftLastAccessTime;
    data.RawModifiedTime = entry.ftLastWriteTime;
    return true;
}

// One lookup: the first entry when handle is invalid, else the next one. Answers
// the handle to keep, invalid when there was no entry; data.Error tells a real
// failure from an empty match.
static HANDLE LookupStep(HANDLE handle, const wchar_t* pattern, FindData& data)
{
    WIN32_FIND_DATAW entry;
    bool first = handle == INVALID_HANDLE_VALUE;
    if (first) {
        wchar_t longPattern[kMaxPathChars];
        const wchar_t* used;
        WithExtendedRetry(pattern, longPattern, used, [&](const wchar_t* form) {
            handle = FindFirstFileW(form, &entry);
            return handle != INVALID_HANDLE_VALUE;
        });
        if (handle == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            data.Error = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_NO_MORE_FILES;
            return INVALID_HANDLE_VALUE;
        }
    } else if (!FindNextFileW(handle, &entry)) {
        data.Error = GetLastError() != ERROR_NO_MORE_FILES;
        return INVALID_HANDLE_VALUE;
    }
    if (!FillFindData(pattern, entry, data)) {
        // A cut name would name another file; the scan ends as failed. The
        // handle of a later step stays with its scan, which closes it.
        data.Error = true;
        if (first)
            FindClose(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

FindFile::FindFile() : FirstCall(true), PatternCut(false)
{
    Pattern[0] = 0;
}

void FindFile::SetPattern(const wchar_t* pattern)
{
    Handle.Reset();
    PatternCut = !CopyString(Pattern, pattern, kMaxPathChars);
    if (PatternCut)
        Pattern[0] = 0;
    FirstCall = true;
}

bool FindFile::NextEntry(FindData& data)
{
    for (;;) {
        data.Error = PatternCut;
        if (Pattern[0] == 0)
            return false;
        HANDLE handle = LookupStep(FirstCall ? INVALID_HANDLE_VALUE : Handle.Get(), Pattern, data);
        if (FirstCall)
            Handle.Reset(handle);
        if (handle == INVALID_HANDLE_VALUE)
            return false;
        data.IsDirectory = IsDirectoryAttr(data.Attributes);
        data.IsReparsePoint = IsReparsePointAttr(data.Attributes);
        FirstCall = false;
        const wchar_t* name = NamePart(data.Name);
        if (wcscmp(name, L".") != 0 && wcscmp(name, L"..") != 0)
            return true;
    }
}

bool FindSingle(const wchar_t* path, FindData& data)
{
    data.Error = false;
    if (HasWildcards(path))
        return false;
    ScopedFindHandle handle(LookupStep(INVALID_HANDLE_VALUE, path, data));
    if (!handle)
        return false;
    data.IsDirectory = IsDirectoryAttr(data.Attributes);
    data.IsReparsePoint = IsReparsePointAttr(data.Attributes);
    return true;
}

bool IsDirectoryAttr(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsReparsePointAttr(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}
