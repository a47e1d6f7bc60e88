// The one retry of a failed file-system call through the extended-length form
// ("\\?\"), which keeps a name's trailing dots and blanks, takes a device name
// as a plain name and is not held to MAX_PATH.
//
// A call is made again in that form only when both hold: the plain call failed
// because of how its path reaches the file system (not found, a bad or too long
// name), and the extended form can name something else than the plain one or
// reach what it cannot. Any other failure (access denied, in use, something
// already standing at the name) says the same of both forms, or says that the
// plain call already did part of its work; a retry then could only repeat it or
// act on another file than the one the caller goes on to use by its name.
#pragma once

#include <windows.h>

#include <cstddef>

#include "common/base/paths.h"
#include "common/base/strings.h"

// Whether the plain form takes a path name for a device (CON, NUL, COM1, LPT1
// and the like, also with an extension or blanks after them: "nul.txt").
bool IsDeviceName(const wchar_t* name, size_t length);

// Whether longPath, the extended-length form of a path, may name something other
// than the plain form of that path does, or reach it where the plain form cannot.
bool ExtendedFormCanDiffer(const wchar_t* longPath);

// Whether error, from a plain call, may come from the path's spelling.
bool IsPathSpellingError(DWORD error);

// The extended-length form of path, into dest of kMaxPathChars, when it can name
// something else than path (ExtendedFormCanDiffer); false when it cannot or
// cannot be made.
bool DifferingExtendedForm(const wchar_t* path, wchar_t* dest);

// call(form) -> bool, with the last error set on failure. Made with path and,
// when that failed with a spelling error and the extended form can differ, once
// more with that form, which is left in retryForm (kMaxPathChars). used names
// the form of the last call made; the result is that call's.
template <class Call>
bool WithExtendedRetry(const wchar_t* path, wchar_t* retryForm, const wchar_t*& used, Call call)
{
    used = path;
    if (call(path))
        return true;
    DWORD error = GetLastError();
    if (!IsPathSpellingError(error) || !DifferingExtendedForm(path, retryForm)) {
        SetLastError(error);
        return false;
    }
    used = retryForm;
    return call(retryForm);
}

// The same for a call on two paths (a move or copy): retried when either form
// can differ, with both in their extended form.
template <class Call>
bool WithExtendedRetry(const wchar_t* from, const wchar_t* to, wchar_t* retryFrom, wchar_t* retryTo,
                       const wchar_t*& usedFrom, const wchar_t*& usedTo, Call call)
{
    usedFrom = from;
    usedTo = to;
    if (call(from, to))
        return true;
    DWORD error = GetLastError();
    // Both names of one call are given in the same form.
    if (!IsPathSpellingError(error) || !ToExtendedLengthPath(from, retryFrom, kMaxPathChars) ||
        !ToExtendedLengthPath(to, retryTo, kMaxPathChars) ||
        !(ExtendedFormCanDiffer(retryFrom) || ExtendedFormCanDiffer(retryTo))) {
        SetLastError(error);
        return false;
    }
    usedFrom = retryFrom;
    usedTo = retryTo;
    return call(retryFrom, retryTo);
}
