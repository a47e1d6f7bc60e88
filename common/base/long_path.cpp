#include "common/base/long_path.h"

#include <cwchar>
#include <initializer_list>

static wchar_t AsciiUpper(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

static bool StartsWithNoCase(const wchar_t* text, const wchar_t* upperPrefix)
{
    for (; *upperPrefix != 0; text++, upperPrefix++) {
        if (AsciiUpper(*text) != *upperPrefix)
            return false;
    }
    return true;
}

bool IsDeviceName(const wchar_t* name, size_t length)
{
    size_t stem = 0;
    while (stem < length && name[stem] != L'.')
        stem++;
    while (stem > 0 && name[stem - 1] == L' ')
        stem--;
    if (stem == 3) {
        for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL"}) {
            if (StartsWithNoCase(name, device))
                return true;
        }
        return false;
    }
    if (stem == 4 && (StartsWithNoCase(name, L"COM") || StartsWithNoCase(name, L"LPT"))) {
        wchar_t digit = name[3];
        return (digit >= L'0' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
    }
    return (stem == 6 && StartsWithNoCase(name, L"CONIN$")) || (stem == 7 && StartsWithNoCase(name, L"CONOUT$"));
}

bool ExtendedFormCanDiffer(const wchar_t* longPath)
{
    const wchar_t* path = longPath;
    if (wcsncmp(path, L"\\\\?\\", 4) == 0)
        path += 4;
    // Without the system's long-path setting the plain form stops at MAX_PATH,
    // folders a little earlier.
    if (wcslen(path) >= MAX_PATH - 12)
        return true;
    // The plain form drops a name's trailing dots and blanks and turns device
    // names into devices; the extended form takes every name as it stands.
    const wchar_t* name = path;
    for (const wchar_t* p = path;; p++) {
        if (*p != 0 && *p != L'\\')
            continue;
        size_t length = static_cast<size_t>(p - name);
        if (length > 0 && (p[-1] == L'.' || p[-1] == L' '))
            return true;
        if (IsDeviceName(name, length))
            return true;
        if (*p == 0)
            return false;
        name = p + 1;
    }
}

bool IsPathSpellingError(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    // "d." spelled plainly is "d", which may be a file where a folder is meant.
    case ERROR_DIRECTORY:
    // A device name spelled plainly: the device refuses what a file would take.
    case ERROR_INVALID_PARAMETER:
        return true;
    default:
        return false;
    }
}

bool DifferingExtendedForm(const wchar_t* path, wchar_t* dest)
{
    return ToExtendedLengthPath(path, dest, kMaxPathChars) && ExtendedFormCanDiffer(dest);
}
