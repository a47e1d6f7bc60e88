// What a handle tells of the file or folder it holds: which file it is, where it
// lies now, whether it is a link. Every check made before a change asks these
// questions of the handle the change is then made through, never of a name,
// which another process can make lead elsewhere between the check and the act.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Which file a name leads to (two names of one file, hard links among them,
// share it) and its size.
struct FileIdentity {
    uint32_t Volume;
    uint64_t Index;
    uint64_t Bytes;
};

// Whether two identities name one file. A file system that numbers no files
// (index 0) cannot tell: never the same then.
bool SameFile(const FileIdentity& a, const FileIdentity& b);

// The identity of the file a handle holds (its size left 0).
bool IdentityOf(HANDLE handle, FileIdentity& identity);

// What a check needs of a handle, in one call.
struct HandleFacts {
    // The attributes, with FILE_ATTRIBUTE_REPARSE_POINT whenever the handle
    // holds a reparse point (a junction, a symbolic link) whatever its tag.
    DWORD Attributes;
};
bool LookThroughHandle(HANDLE handle, HandleFacts& facts);
// The number of names the file has (hard links); 0 when it cannot be told.
DWORD LinkCountOf(HANDLE handle);
inline bool IsFolderFact(const HandleFacts& facts)
{
    return (facts.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
inline bool IsLinkFact(const HandleFacts& facts)
{
    return (facts.Attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Where the handle's file lies now: links on the way resolved, short names
// spelled long, in the drive-letter form without "\\?\" ("\\?\UNC\s\x" as
// "\\s\x"). False when it cannot be had whole.
bool FinalPathOf(HANDLE handle, wchar_t* dest, size_t capacity);

// Whether the handle holds the entry whose final path is expectedFinal.
bool HandleIsAt(HANDLE handle, const wchar_t* expectedFinal);

// Paths compared as the file system compares names: case ignored, the "\\?\"
// prefix (and "\\?\UNC\" for "\\") not counted, one trailing separator ignored.
bool SamePath(const wchar_t* a, const wchar_t* b);
// Whether path is folder or lies below it (same rules).
bool PathWithin(const wchar_t* path, const wchar_t* folder);
// Whether path lies below folder, not being folder itself.
bool PathBelow(const wchar_t* path, const wchar_t* folder);

// The full path with every existing part in its long form, so that a short name,
// a relative path or ".." gives the text of the plain long spelling; a last part
// that does not exist yet is kept as given.
bool LongFullPath(const wchar_t* path, wchar_t* dest, size_t capacity);

// The final path of folder, reached the way a call on a name inside it reaches
// it (through any link on the way), joined with name (may be empty).
bool FinalPathIn(const wchar_t* folder, const wchar_t* name, wchar_t* dest, size_t capacity);

// The final path the entry at path must show to be the entry of that name in
// the folder path names: that folder's final path (reached through any link on
// the way) joined with the name.
bool FinalPathAsNamed(const wchar_t* path, wchar_t* dest, size_t capacity);

// The final path a handle shows for relative, a path below the folder whose final
// path is folderFinal: one backslash wherever relative has a run of separators.
bool ExpectedFinalPath(const wchar_t* folderFinal, const wchar_t* relative, wchar_t* dest, size_t capacity);

// Whether path, opened without following a link, is a folder and no reparse
// point, and its final path is expectedFinal.
bool IsPlainFolderAt(const wchar_t* path, const wchar_t* expectedFinal);

// Whether the handle holds the plain file asked for: no folder, no reparse point,
// one name, and its final path is requestedLongPath (see LongFullPath).
bool IsPlainFileNamed(HANDLE handle, const HandleFacts& facts, const wchar_t* requestedLongPath);
// The same decision from what a handle answered: its attributes, its number of
// names, its final path (with or without "\\?\").
bool IsPlainNamedFile(DWORD attributes, DWORD links, const wchar_t* finalPath, const wchar_t* requestedLongPath);
