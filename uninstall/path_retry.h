// File-system calls that the foundation does not wrap, made the program's way:
// first with the caller's path and, when that fails, once more in the
// extended-length form (which keeps a trailing dot and lifts the length limit).
// The second call is made only when that form can name something the first did
// not: on a short, plainly spelled path it would only fail again.
#pragma once

#include <cstddef>

#include "common/base/paths.h"
#include "common/base/strings.h"

// Whether the plain form takes a path name for a device (CON, NUL, COM1, LPT1
// and the like, also with an extension or blanks after them: "nul.txt").
bool IsDeviceName(const wchar_t* name, size_t length);

// Whether longPath, the extended-length form of a path, may name something other
// than the plain form of that path does, or reach it where the plain form cannot.
bool ExtendedFormCanDiffer(const wchar_t* longPath);

template <class Call>
bool WithExtendedRetry(const wchar_t* path, Call call)
{
    if (call(path))
        return true;
    wchar_t longPath[kMaxPathChars];
    return ToExtendedLengthPath(path, longPath, kMaxPathChars) && ExtendedFormCanDiffer(longPath) &&
           call(longPath);
}

template <class Call>
bool WithExtendedRetry(const wchar_t* from, const wchar_t* to, Call call)
{
    if (call(from, to))
        return true;
    wchar_t longFrom[kMaxPathChars];
    wchar_t longTo[kMaxPathChars];
    return ToExtendedLengthPath(from, longFrom, kMaxPathChars) && ToExtendedLengthPath(to, longTo, kMaxPathChars) &&
           (ExtendedFormCanDiffer(longFrom) || ExtendedFormCanDiffer(longTo)) && call(longFrom, longTo);
}
