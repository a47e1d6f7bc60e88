// File-system calls that the foundation does not wrap, made the program's way:
// first with the caller's path and, when that fails, once more in the
// extended-length form (which keeps a trailing dot and lifts the length limit).
#pragma once

#include "common/base/paths.h"
#include "common/base/strings.h"

template <class Call>
bool WithExtendedRetry(const wchar_t* path, Call call)
{
    if (call(path))
        return true;
    wchar_t longPath[kMaxPathChars];
    return ToExtendedLengthPath(path, longPath, kMaxPathChars) && call(longPath);
}

template <class Call>
bool WithExtendedRetry(const wchar_t* from, const wchar_t* to, Call call)
{
    if (call(from, to))
        return true;
    wchar_t longFrom[kMaxPathChars];
    wchar_t longTo[kMaxPathChars];
    return ToExtendedLengthPath(from, longFrom, kMaxPathChars) && ToExtendedLengthPath(to, longTo, kMaxPathChars) &&
           call(longFrom, longTo);
}
