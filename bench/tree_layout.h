// What the tree generator and the floor agree on: how an entry's name tells a
// folder from a file, so that the floor needs no call to find out.
#pragma once

#include <cwchar>

// Folders are named d<number>, files f<number>.dat.
constexpr wchar_t kFolderMark = L'd';
constexpr wchar_t kFileMark = L'f';

// True when the last component of a list entry names a folder.
inline bool IsFolderEntry(const wchar_t* entry)
{
    const wchar_t* name = entry;
    for (const wchar_t* p = entry; *p != 0; p++) {
        if (*p == L'\\')
            name = p + 1;
    }
    return *name == kFolderMark;
}

// Separators in an entry: 0 for an entry directly in the install folder.
inline int EntryDepth(const wchar_t* entry)
{
    int depth = 0;
    for (const wchar_t* p = entry; *p != 0; p++)
        depth += *p == L'\\';
    return depth;
}
