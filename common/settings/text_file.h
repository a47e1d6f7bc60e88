// Reading a whole text file in any of the encodings the product's files come in
// (UTF-16 with a byte-order mark, UTF-8 with one, otherwise the ANSI code page)
// as UTF-16 lines.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/base/array.h"

// Lines stored back to back, each with its terminator, read in order with Next.
class StringList {
public:
    // An absent text counts as empty. Pointers from Next stay valid until the next Add.
    void Add(const wchar_t* text);
    // The string at the read cursor, which then moves past it; false at the end.
    bool Next(const wchar_t*& text);
    // Empties the list and frees its buffer.
    void Reset();
    uint64_t StringCount() const { return Strings; }

private:
    Array<wchar_t> Buffer;
    uint64_t Cursor = 0;
    uint64_t Strings = 0;
};

enum TextEncoding : uint32_t {
    kTextAnsi = 0,
    kTextUtf16 = 3,
    kTextUtf8 = 4,
};

// Appends the file's non-empty lines, trailing blanks removed, to output (which is
// not cleared first). False only when the file cannot be opened. readWhole, when
// given, answers whether the lines hold everything the file holds: false when the
// text ended early (a NUL, a malformed sequence, a read error) before the end of
// the file's data, so that a caller never writes the short text back over it. A
// file with the UTF-8 mark and a malformed sequence gives its UTF-8 lines before
// the line that holds the fault.
bool ReadTextFile(const wchar_t* fileName, StringList& output, bool* readWhole = nullptr);

// 4 for UTF-8 with its mark and valid content; 3 for UTF-16 with its mark and some
// unit whose high byte is a control character other than CR or LF; otherwise 0.
TextEncoding DetectTextEncoding(const uint8_t* bytes, size_t count);
// Lead and continuation structure only (5- and 6-byte forms accepted, overlong
// forms and surrogates not checked). Empty input is valid.
bool IsValidUtf8(const uint8_t* bytes, size_t count);
// Decodes up to the first zero byte into at most capacity - 1 units and always
// terminates (capacity 0: nothing written, false). False when a sequence was
// malformed (decoding then stopped there) or named no Unicode code point.
bool Utf8ToWide(const uint8_t* bytes, wchar_t* output, size_t capacity);
