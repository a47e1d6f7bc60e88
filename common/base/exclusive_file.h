// Files made new in folders others can write to (the temporary folder of a run
// as SYSTEM, a folder beside the settings file), and the descriptors that keep
// everyone else out of what runs elevated or reports what an elevated run did.
#pragma once

#include <windows.h>
#include <cstddef>

#include "common/base/scoped.h"

// A protected descriptor for a file that an elevated run makes and others must
// not change: SYSTEM and Administrators may do anything with it; the running
// user may read it and run it, and may not change its descriptor even where the
// user owns it (so that the unelevated side of the same account, which carries
// the same user, cannot rewrite a batch file while cmd reads it); where the
// token is elevated, a High mandatory label keeps lower processes from writing.
bool MakeProtectedSecurity(ScopedLocalMem& descriptor);

// Whether a file's descriptor keeps out everyone but SYSTEM, Administrators and
// user: its owner is one of them, it has a DACL, and no entry allows anyone else
// to write, append, delete, change attributes or the descriptor, or take it over.
bool DescriptorKeepsOthersOut(PSECURITY_DESCRIPTOR descriptor, PSID user);
// The same for an open handle (opened with READ_CONTROL), and the running user.
bool HandleKeepsOthersOut(HANDLE handle);

// The names a file made new may take: attempt 0 is <base><extension>, attempts 1
// to kExclusiveNameAttempts - 1 are <base>_<16 random hexadecimal digits><extension>.
// path holds the folder in its first folderLength characters and gets the name.
constexpr int kExclusiveNameAttempts = 5;
bool ExclusiveName(wchar_t* path, size_t folderLength, size_t capacity, const wchar_t* base,
                   const wchar_t* extension, int attempt);

// Makes path new, never through what stands at it (CREATE_NEW does not follow a
// link, dangling or not), with access and security (may be null), shared with
// nobody. A name ending in a dot or blank is made in the extended-length form,
// which keeps that character. False with the error as the last error.
bool CreateNewFile(const wchar_t* path, DWORD access, const SECURITY_ATTRIBUTES* security, ScopedFileHandle& file);

// Answers of an exclusive create that something stands at the name: a file, a
// link (dangling too), a folder, or a file on its way out.
bool IsNameTaken(DWORD error);
