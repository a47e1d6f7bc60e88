// Directory scanning: the entries matching a pattern, "." and ".." skipped.
#pragma once

#include <windows.h>
#include <cstdint>

#include "common/base/scoped.h"
#include "common/base/strings.h"

struct FindData {
    wchar_t Name[kMaxPathChars];   // the pattern with its name part replaced by the entry's
    uint64_t Size;
    DWORD Attributes;
    bool IsDirectory;
    bool IsReparsePoint;
    uint64_t ModifiedTime;         // nanoseconds since 1601-01-01 UTC
    uint64_t CreatedTime;
    uint64_t AccessedTime;
    FILETIME RawCreatedTime;
    FILETIME RawAccessedTime;
    FILETIME RawModifiedTime;
    bool Error;                    // the last lookup failed for a reason other than "nothing there"
};

class FindFile {
public:
    FindFile();
    FindFile(const FindFile&) = delete;
    FindFile& operator=(const FindFile&) = delete;

    // Starts a new scan; a handle left from an earlier pattern is closed.
    void SetPattern(const wchar_t* pattern);
    bool NextEntry(FindData& data);

private:
    wchar_t Pattern[kMaxPathChars];
    bool FirstCall;
    bool PatternCut;   // the pattern did not fit: the scan fails instead of using a cut one
    ScopedFindHandle Handle;
};

// The entry for one path without wildcards; false (touching nothing) for a pattern.
bool FindSingle(const wchar_t* path, FindData& data);
bool IsDirectoryAttr(DWORD attributes);
bool IsReparsePointAttr(DWORD attributes);
