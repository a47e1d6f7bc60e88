// Bounded strings, code-page conversions, comparison and decimal numbers.
// Every capacity counts the terminator: characters for wide buffers, bytes for
// narrow ones. Writers never go past the capacity and terminate whenever the
// capacity is at least 1. Functions that may cut answer whether the result is
// whole, so that a cut text is never passed on as if it were the real one.
#pragma once

#include <cstddef>
#include <cstdint>

// Standard size of path and text buffers throughout the program.
constexpr size_t kMaxPathChars = 2048;

// The 32-bit size a Win32 call takes for a buffer of capacity characters.
uint32_t Win32Capacity(size_t capacity);
// For a Win32 call that answers the characters it wrote into dest of capacity,
// or the size it would need when they did not fit: true when the text is whole
// (neither empty nor cut); otherwise dest is emptied.
bool KeepWholeText(uint32_t length, wchar_t* dest, size_t capacity);

// Copies at most capacity - 1 characters; false when the source was cut.
bool CopyString(wchar_t* dest, const wchar_t* src, size_t capacity);
// Appends within the capacity; false when the source was cut or the
// destination already filled the capacity.
bool AppendString(wchar_t* dest, const wchar_t* src, size_t capacity);
bool CopyStringA(char* dest, const char* src, size_t capacity);
bool AppendStringA(char* dest, const char* src, size_t capacity);

// printf conventions; returns the length, or -1 when the output was cut.
int FormatStringA(char* buf, size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Wide formatting with Microsoft conventions: %s takes a wide string (as does
// %ls), %hs a narrow one; %d, %u, %02u and so on as usual. Returns the length,
// or -1 when the output was cut (the buffer then holds the terminated prefix).
int FormatString(wchar_t* buf, size_t capacity, const wchar_t* format, ...);

// CP_ACP conversions of the whole source, terminator included. The destination
// is always terminated; false when the system call failed or the text did not fit.
bool WideFromAnsi(const char* src, wchar_t* dest, size_t capacity);
bool AnsiFromWide(const wchar_t* src, char* dest, size_t capacity);

// -1, 0 or 1 without regard to case (CompareStringW, user locale,
// NORM_IGNORECASE | SORT_STRINGSORT); -2 when the comparison itself fails.
int CompareNoCase(const wchar_t* a, const wchar_t* b);
// 0 when the first n characters match without regard to case (same comparison);
// a side shorter than n takes part with its terminator, so "ini" never matches
// "init" over 4 while "setupX" matches "setup" over 5.
int CompareNoCasePrefix(const wchar_t* a, const wchar_t* b, size_t n);

// Whether text begins with "http://" or "https://" (case ignored): an address
// that may be handed to the shell or shown as a link without starting a program.
bool IsWebAddress(const wchar_t* text);
// Optional '-' then decimal digits up to the first other character; no blanks,
// no '+'. Accumulates unsigned and wraps instead of overflowing.
int64_t ParseInt(const wchar_t* text);
// Decimal text of value; when the room runs out the most significant digits go.
void FormatInt(int64_t value, wchar_t* dest, size_t capacity);

// Makes text read from the registry safe to use: true when the type is REG_SZ or
// REG_EXPAND_SZ and the bytes read leave room for a terminator, which is then
// stored after the text (or its first NUL). A value stored without its
// terminator may fill the buffer; it then counts as absent, like one that did not
// fit (ERROR_MORE_DATA). On false the buffer is made empty.
bool TerminateRegistryText(wchar_t* buffer, size_t capacity, uint32_t type, uint32_t bytes);

bool IsDigit(wchar_t c);
bool IsAsciiLetter(wchar_t c);
wchar_t UpperAscii(wchar_t c);
// Upper case as the system sees it (CharUpperW on one character).
wchar_t UpperChar(wchar_t c);
