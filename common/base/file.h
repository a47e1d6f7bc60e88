// Handle-based binary file with the extended-length retry, error reporting, and
// the rule that a created file not closed explicitly is deleted again.
#pragma once

#include <windows.h>
#include <cstdint>

#include "common/base/scoped.h"
#include "common/base/strings.h"

// Open mode: share writing (reading is always shared).
constexpr unsigned kOpenShareWrite = 0x4;
// Create modes.
constexpr unsigned kCreateWriteOnly = 0x2;
constexpr unsigned kCreateShareRead = 0x10;

class File {
public:
    File();
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // For reading. False for a name that does not fit FileName: a cut name is
    // never recorded.
    bool Open(const wchar_t* name, unsigned mode);
    // Read and write access unless kCreateWriteOnly; a name ending in a dot or a
    // blank is made in the extended-length form, which keeps that character.
    bool Create(const wchar_t* name, unsigned mode);
    // A new file only, never through a link that stands at name, with the given
    // security (may be null), for writing and shared with nobody. False, with
    // the error left as the last error, when anything stands at name. Unless
    // closed, it is deleted through its handle, never by its name.
    bool CreateNew(const wchar_t* name, const SECURITY_ATTRIBUTES* security);
    bool Close();
    // Bytes read; 0 at the end and after a reported read error (until Open).
    int Read(void* buffer, uint32_t count);
    bool Write(const void* data, uint32_t count);
    void Seek(int64_t offset);
    int64_t Tell();
    bool IsOpen() const { return Handle.Valid(); }
    // Whether a read error was reported since the last Open: what was read then
    // ended before the file did.
    bool ReadStopped() const { return ReadStoppedFlag; }

    const wchar_t* Name() const { return FileName; }
    // For checks made through the open handle; INVALID_HANDLE_VALUE when closed.
    HANDLE NativeHandle() const { return Handle.Get(); }

private:
    // What the destructor does; Open and Create do it first to an open file.
    void Release();

    ScopedFileHandle Handle;
    bool NewFile;
    bool ReadStoppedFlag;
    // Set when Create went through the extended-length form, so that the
    // destructor deletes the file in that form too.
    bool CreatedExtended;
    // Set by CreateNew: what stands at the name later may not be this file.
    bool DeleteThroughHandle;
    wchar_t FileName[kMaxPathChars];
};

bool FileExists(const wchar_t* name);
DWORD GetAttributes(const wchar_t* name);   // INVALID_FILE_ATTRIBUTES on failure
bool SetAttributes(const wchar_t* name, DWORD attributes);
bool RemoveFile(const wchar_t* name);

// Where a handle would show name inside folder: the final path of folder (links
// on the way resolved, short names spelled long, in the "\\?\" form) joined
// with name. False when it cannot be had whole.
bool FinalPathIn(const wchar_t* folder, const wchar_t* name, wchar_t* dest, size_t capacity);
// Whether path, opened without following a link, is a folder and no reparse
// point, and its final path is expectedFinal (see FinalPathIn; case ignored).
bool IsPlainFolder(const wchar_t* path, const wchar_t* expectedFinal);
// Clears the attributes of path and deletes it, both through one handle opened
// without following a link, and only when that handle shows a file that is no
// folder and no reparse point and whose final path is expectedFinal; anything
// else is left alone. A file with further names (hard links) keeps its
// attributes, which are those of its other names too. True when it was deleted.
bool RemovePlainFile(const wchar_t* path, const wchar_t* expectedFinal);

// Which file a name leads to (two names of one file, hard links among them,
// share it) and its size.
struct FileIdentity {
    uint32_t Volume;
    uint64_t Index;
    uint64_t Bytes;
};
// The identity of path, read through one handle opened without following a
// link; false for a folder, a reparse point, a file whose final path is not
// expectedFinal (see FinalPathIn; case ignored), or one that cannot be opened.
bool PlainFileIdentity(const wchar_t* path, const wchar_t* expectedFinal, FileIdentity& identity);

// Results of MakeFolder.
constexpr int kMakeFolderOk = 0;
constexpr int kMakeFolderFailed = 1;
constexpr int kMakeFolderBadPath = 2;
int MakeFolder(const wchar_t* name, bool setAttributes, DWORD attributes);

// Bytes free for the caller on the volume of path's folder (current drive for a bare name).
uint64_t FreeDiskSpace(const wchar_t* path);
