#include "common/base/strings.h"

#include <windows.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cwchar>

// One rule for wide and narrow text: copy what fits, terminate, tell whether it was all.
template <class Char>
static bool CopyBounded(Char* dest, const Char* src, size_t capacity)
{
    if (capacity == 0)
        return src == nullptr || src[0] == 0;
    size_t i = 0;
    if (src != nullptr) {
        for (; i + 1 < capacity && src[i] != 0; i++)
            dest[i] = src[i];
    }
    dest[i] = 0;
    return src == nullptr || src[i] == 0;
}

template <class Char>
static bool AppendBounded(Char* dest, const Char* src, size_t capacity)
{
    size_t length = 0;
    while (length < capacity && dest[length] != 0)
        length++;
    if (length >= capacity)
        return false;
    return CopyBounded(dest + length, src, capacity - length);
}

uint32_t Win32Capacity(size_t capacity)
{
    return capacity > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(capacity);
}

bool KeepWholeText(uint32_t length, wchar_t* dest, size_t capacity)
{
    if (length != 0 && length < capacity)
        return true;
    if (capacity > 0)
        dest[0] = 0;
    return false;
}

bool CopyString(wchar_t* dest, const wchar_t* src, size_t capacity)
{
    return CopyBounded(dest, src, capacity);
}

bool AppendString(wchar_t* dest, const wchar_t* src, size_t capacity)
{
    return AppendBounded(dest, src, capacity);
}

bool CopyStringA(char* dest, const char* src, size_t capacity)
{
    return CopyBounded(dest, src, capacity);
}

bool AppendStringA(char* dest, const char* src, size_t capacity)
{
    return AppendBounded(dest, src, capacity);
}

int FormatStringA(char* buf, size_t capacity, const char* format, ...)
{
    if (capacity == 0)
        return -1;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buf, capacity, format, args);
    va_end(args);
    buf[capacity - 1] = 0;
    if (n < 0 || static_cast<size_t>(n) >= capacity)
        return -1;
    return n;
}

int FormatString(wchar_t* buf, size_t capacity, const wchar_t* format, ...)
{
    if (capacity == 0)
        return -1;
    va_list args;
    va_start(args, format);
    // msvcrt's own formatter: %s is a wide string in wide formats, as on Windows.
    // It answers -1 when the output does not fit and then leaves it unterminated.
    int n = _vsnwprintf(buf, capacity, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= capacity) {
        buf[capacity - 1] = 0;
        return -1;
    }
    buf[n] = 0;
    return n;
}

bool WideFromAnsi(const char* src, wchar_t* dest, size_t capacity)
{
    if (capacity == 0)
        return false;
    dest[0] = 0;
    int cap = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
    int n = MultiByteToWideChar(CP_ACP, 0, src, -1, dest, cap);
    dest[capacity - 1] = 0;
    return n > 0;
}

bool AnsiFromWide(const wchar_t* src, char* dest, size_t capacity)
{
    if (capacity == 0)
        return false;
    dest[0] = 0;
    int cap = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
    int n = WideCharToMultiByte(CP_ACP, 0, src, -1, dest, cap, nullptr, nullptr);
    dest[capacity - 1] = 0;
    return n > 0;
}

int CompareNoCase(const wchar_t* a, const wchar_t* b)
{
    int r = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE | SORT_STRINGSORT, a, -1, b, -1);
    switch (r) {
    case CSTR_LESS_THAN:
        return -1;
    case CSTR_EQUAL:
        return 0;
    case CSTR_GREATER_THAN:
        return 1;
    default:
        return -2;
    }
}

int CompareNoCasePrefix(const wchar_t* a, const wchar_t* b, size_t n)
{
    size_t countA = wcsnlen(a, n);
    size_t countB = wcsnlen(b, n);
    countA = countA < n ? countA + 1 : n;
    countB = countB < n ? countB + 1 : n;
    int r = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE | SORT_STRINGSORT, a, static_cast<int>(countA), b,
                           static_cast<int>(countB));
    return r == 0 ? -2 : r - CSTR_EQUAL;
}

bool IsWebAddress(const wchar_t* text)
{
    return CompareNoCasePrefix(text, L"http://", 7) == 0 || CompareNoCasePrefix(text, L"https://", 8) == 0;
}

int64_t ParseInt(const wchar_t* text)
{
    bool negative = false;
    if (*text == L'-') {
        negative = true;
        text++;
    }
    // Unsigned accumulation: 25 digits wrap instead of overflowing a signed value.
    uint64_t value = 0;
    for (; IsDigit(*text); text++)
        value = value * 10 + static_cast<uint64_t>(*text - L'0');
    int64_t result = static_cast<int64_t>(value);
    if (negative && result >= 0)
        result = static_cast<int64_t>(0 - value);
    return result;
}

void FormatInt(int64_t value, wchar_t* dest, size_t capacity)
{
    if (capacity == 0)
        return;
    bool negative = value < 0;
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    size_t room = capacity - 1;
    if (negative && room > 0)
        room--;
    wchar_t digits[24];
    size_t n = 0;
    do {
        if (n >= room)
            break;
        digits[n++] = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    size_t pos = 0;
    if (negative && capacity > 1)
        dest[pos++] = L'-';
    while (n > 0)
        dest[pos++] = digits[--n];
    dest[pos] = 0;
}

bool TerminateRegistryText(wchar_t* buffer, size_t capacity, uint32_t type, uint32_t bytes)
{
    if (capacity == 0)
        return false;
    size_t units = bytes / sizeof(wchar_t);
    size_t length = wcsnlen(buffer, units < capacity ? units : capacity);
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || length >= capacity) {
        buffer[0] = 0;
        return false;
    }
    buffer[length] = 0;
    return true;
}

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

bool IsAsciiLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

wchar_t UpperAscii(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c;
}

wchar_t UpperChar(wchar_t c)
{
    // The single-character form: the character travels in the low word of the pointer.
    return static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(
        CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(c)))));
}
