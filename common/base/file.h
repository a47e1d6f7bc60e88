// Handle-based binary file with the extended-length retry, error reporting, and
// the rule that a created file not closed explicitly is deleted again. Files
// are made through the gate (common/base/gate.h), never through a link.
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
    // The plain file at name emptied, or a new one; never through a link or a
    // file of several names that stands there, nor into a device.
    bool Create(const wchar_t* name, unsigned mode);
    // Takes a file the gate made for this run: deleted again through its handle
    // unless closed.
    bool Adopt(ScopedFileHandle& handle, const wchar_t* name);
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
    // Made by this object: deleted through its handle unless closed.
    bool NewFile;
    bool ReadStoppedFlag;
    wchar_t FileName[kMaxPathChars];
};

bool FileExists(const wchar_t* name);
DWORD GetAttributes(const wchar_t* name);   // INVALID_FILE_ATTRIBUTES on failure
// Through a handle on exactly the entry at name (never what a link there leads
// to); a file of several names keeps its attributes, which are theirs too.
bool SetAttributes(const wchar_t* name, DWORD attributes);
// Exactly the entry at name: a link as a link, never what it leads to.
bool RemoveFile(const wchar_t* name);

// Results of MakeFolder.
constexpr int kMakeFolderOk = 0;
constexpr int kMakeFolderFailed = 1;
constexpr int kMakeFolderBadPath = 2;
int MakeFolder(const wchar_t* name, bool setAttributes, DWORD attributes);

// Bytes free for the caller on the volume of path's folder (current drive for a bare name).
uint64_t FreeDiskSpace(const wchar_t* path);
