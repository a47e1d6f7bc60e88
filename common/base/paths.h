// Paths in caller-owned wide buffers. Writers take the destination's capacity
// in characters; those that may cut answer whether the result is whole.
#pragma once

#include <cstddef>

// Appends '\' unless the path is empty, already ends in '\' or the length plus
// one is not below the capacity. Returns the length before the call.
size_t AppendSeparator(wchar_t* path, size_t capacity);

// Start of the name part: after the last '\' or '/', after "X:" when there is
// no separator, otherwise the whole path.
wchar_t* NamePart(wchar_t* path);
const wchar_t* NamePart(const wchar_t* path);

// Cuts off the name part and the separator before it; roots stay whole
// ("C:\file" -> "C:\", "\file" -> "\", "C:file" -> "C:", "C:\dir\file" -> "C:\dir").
void StripNamePart(wchar_t* path);
// Writes name over the name part; false when it had to be cut.
bool ReplaceNamePart(wchar_t* path, const wchar_t* name, size_t capacity);
// Everything before the name part, trailing separator included; false when cut.
bool FolderPart(const wchar_t* path, wchar_t* dest, size_t capacity);
// folder + '\' + name ("C:" + "x" gives "C:x"); dest may be folder. False when cut.
bool JoinPath(const wchar_t* folder, const wchar_t* name, wchar_t* dest, size_t capacity);

bool HasDriveLetter(const wchar_t* path);
bool IsAbsolutePath(const wchar_t* path);
// '*' or '?' after an optional leading "\\?\"; false for null.
bool HasWildcards(const wchar_t* path);

// The "\\?\" form of a path, for the one retry of a failed file-system call.
bool ToExtendedLengthPath(const wchar_t* source, wchar_t* dest, size_t capacity);
