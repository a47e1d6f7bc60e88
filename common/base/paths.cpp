#include "common/base/paths.h"

#include <windows.h>

#include <cwchar>

#include "common/base/strings.h"

static const wchar_t kExtendedPrefix[] = L"\\\\?\\";
static const size_t kExtendedPrefixLength = 4;

static bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

size_t AppendSeparator(wchar_t* path, size_t capacity)
{
    size_t length = wcsnlen(path, capacity);
    if (length > 0 && path[length - 1] != L'\\' && length + 1 < capacity) {
        path[length] = L'\\';
        path[length + 1] = 0;
    }
    return length;
}

const wchar_t* NamePart(const wchar_t* path)
{
    const wchar_t* name = nullptr;
    for (const wchar_t* p = path; *p != 0; p++) {
        if (IsSeparator(*p))
            name = p + 1;
    }
    if (name != nullptr)
        return name;
    if (path[0] != 0 && path[1] == L':')
        return path + 2;
    return path;
}

wchar_t* NamePart(wchar_t* path)
{
    return const_cast<wchar_t*>(NamePart(static_cast<const wchar_t*>(path)));
}

void StripNamePart(wchar_t* path)
{
    wchar_t* name = NamePart(path);
    size_t offset = static_cast<size_t>(name - path);
    // Roots stay whole: "\", "" and "C:\" or "C:" keep everything before the name.
    if (offset <= 1 || (path[1] == L':' && offset < 4))
        *name = 0;
    else
        path[offset - 1] = 0;
}

bool ReplaceNamePart(wchar_t* path, const wchar_t* name, size_t capacity)
{
    size_t offset = static_cast<size_t>(NamePart(path) - path);
    if (offset >= capacity)
        return false;
    return CopyString(path + offset, name, capacity - offset);
}

bool FolderPart(const wchar_t* path, wchar_t* dest, size_t capacity)
{
    size_t length = static_cast<size_t>(NamePart(path) - path);
    if (capacity == 0)
        return length == 0;
    size_t copied = length < capacity ? length : capacity - 1;
    wmemmove(dest, path, copied);
    dest[copied] = 0;
    return copied == length;
}

bool JoinPath(const wchar_t* folder, const wchar_t* name, wchar_t* dest, size_t capacity)
{
    wchar_t work[kMaxPathChars];
    bool whole = CopyString(work, folder, kMaxPathChars);
    // "C:" joined with "x" names x in the current folder of drive C, as typed.
    bool bareDrive = HasDriveLetter(work) && work[2] == 0;
    if (!bareDrive && work[0] != 0) {
        size_t length = AppendSeparator(work, kMaxPathChars);
        if (work[length] != L'\\' && work[length - 1] != L'\\')
            whole = false;  // no room left for the separator
    }
    whole = AppendString(work, name, kMaxPathChars) && whole;
    return CopyString(dest, work, capacity) && whole;
}

bool HasDriveLetter(const wchar_t* path)
{
    return path != nullptr && IsAsciiLetter(path[0]) && path[1] == L':';
}

bool IsAbsolutePath(const wchar_t* path)
{
    if (path == nullptr)
        return false;
    if (path[0] == L'\\' && path[1] == L'\\')
        return true;
    return HasDriveLetter(path) && IsSeparator(path[2]);
}

bool HasWildcards(const wchar_t* path)
{
    if (path == nullptr)
        return false;
    if (wcsncmp(path, kExtendedPrefix, kExtendedPrefixLength) == 0)
        path += kExtendedPrefixLength;
    return wcspbrk(path, L"*?") != nullptr;
}

// dest = "\\?\" + head + tail, or "\\?\UNC" + head without its first backslash
// + tail when head is a network path. The extended form is passed to the file
// system unparsed, so forward slashes become backslashes here.
static bool BuildExtended(const wchar_t* head, const wchar_t* tail, wchar_t* dest, size_t capacity)
{
    bool network = head[0] == L'\\' && head[1] == L'\\';
    if (network)
        head++;
    size_t headLength = wcslen(head);
    size_t tailLength = wcslen(tail);
    size_t prefixLength = kExtendedPrefixLength + (network ? 3 : 0);
    if (capacity <= prefixLength + headLength + tailLength)
        return false;
    wchar_t* out = dest;
    wmemcpy(out, kExtendedPrefix, kExtendedPrefixLength);
    out += kExtendedPrefixLength;
    if (network) {
        wmemcpy(out, L"UNC", 3);
        out += 3;
    }
    wmemcpy(out, head, headLength);
    out += headLength;
    wmemcpy(out, tail, tailLength);
    out += tailLength;
    *out = 0;
    for (wchar_t* p = dest + prefixLength; p < out; p++) {
        if (*p == L'/')
            *p = L'\\';
    }
    return true;
}

bool ToExtendedLengthPath(const wchar_t* source, wchar_t* dest, size_t capacity)
{
    size_t n = wcslen(source);
    if (n == 0)
        return false;
    if (source[0] == L'\\' && source[1] == L'\\') {
        // "\\?\" and "\\.\" are already past the length limit (or name devices):
        // prefixing them again would name a server called "?" or ".".
        if ((source[2] == L'?' || source[2] == L'.') && source[3] == L'\\')
            return false;
        return BuildExtended(source, L"", dest, capacity);
    }
    if (HasDriveLetter(source)) {
        // "C:x" is relative to drive C's own current folder, which only the plain
        // call knows; appended to ours it would name the stream "x" of a file "C".
        if (!IsSeparator(source[2]))
            return false;
        return BuildExtended(source, L"", dest, capacity);
    }

    wchar_t current[kMaxPathChars];
    DWORD length = GetCurrentDirectoryW(kMaxPathChars - 1, current);
    if (length == 0 || length >= kMaxPathChars - 1)
        return false;
    if (IsSeparator(source[0])) {
        // The root of the current drive; a network current folder has no drive
        // letter to take, and guessing its share root is left to the plain call.
        if (!HasDriveLetter(current))
            return false;
        current[2] = 0;
        return BuildExtended(current, source, dest, capacity);
    }
    AppendSeparator(current, kMaxPathChars);
    if (capacity <= n + wcslen(current) + kExtendedPrefixLength)
        return false;
    if (source[0] == L'.' && IsSeparator(source[1]))
        source += 2;
    return BuildExtended(current, source, dest, capacity);
}

