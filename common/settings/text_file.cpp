#include "common/settings/text_file.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "common/base/file.h"
#include "common/base/strings.h"

// The conversions below take lengths as int; a text this large is read up to
// here and counts as not read whole.
static constexpr uint64_t kMaxTextBytes = 0x7FFF0000;
static constexpr uint32_t kReadChunk = 4096;

void StringList::Add(const wchar_t* text)
{
    if (text == nullptr)
        text = L"";
    size_t length = wcslen(text);
    uint64_t at = Buffer.Count;
    Buffer.Grow(length + 1);
    wmemcpy(Buffer.Data + at, text, length + 1);
    Strings++;
}

bool StringList::Next(const wchar_t*& text)
{
    if (Cursor >= Buffer.Count) {
        text = nullptr;
        return false;
    }
    text = Buffer.Data + Cursor;
    Cursor += wcslen(text) + 1;
    return true;
}

void StringList::Reset()
{
    Cursor = 0;
    Buffer.Free();
    Strings = 0;
}

bool IsValidUtf8(const uint8_t* bytes, size_t count)
{
    size_t i = 0;
    while (i < count) {
        unsigned lead = bytes[i];
        int ones = 0;
        while (ones < 8 && (lead & (0x80u >> ones)) != 0)
            ones++;
        if (ones == 1 || ones > 6)
            return false;
        i++;
        if (ones == 0)
            continue;
        for (int k = 1; k < ones; k++, i++) {
            if (i >= count || (bytes[i] & 0xC0) != 0x80)
                return false;
        }
    }
    return true;
}

TextEncoding DetectTextEncoding(const uint8_t* bytes, size_t count)
{
    if (count >= 4 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF &&
        IsValidUtf8(bytes + 3, count - 3))
        return kTextUtf8;
    size_t first;
    if (count >= 3 && bytes[0] == 0xFF && bytes[1] == 0xFE)
        first = 3;  // high bytes of the little-endian units after the mark
    else if (count >= 3 && bytes[0] == 0xFE && bytes[1] == 0xFF)
        first = 2;  // high bytes of the big-endian units after the mark
    else
        return kTextAnsi;
    // Text and line breaks have high bytes of 0; an ANSI file hardly ever has a
    // control character in every other byte.
    for (size_t i = first; i < count; i += 2) {
        uint8_t b = bytes[i];
        if (b < 0x20 && b != 0x0A && b != 0x0D)
            return kTextUtf16;
    }
    return kTextAnsi;
}

bool Utf8ToWide(const uint8_t* bytes, wchar_t* output, size_t capacity)
{
    if (capacity == 0)
        return false;
    bool result = true;
    size_t written = 0;
    size_t i = 0;
    while (bytes[i] != 0 && written + 1 < capacity) {
        uint32_t lead = bytes[i];
        uint32_t codePoint;
        int continuation;
        if (lead < 0x80) {
            codePoint = lead;
            continuation = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            codePoint = lead & 0x1F;
            continuation = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            codePoint = lead & 0x0F;
            continuation = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            codePoint = lead & 0x07;
            continuation = 3;
        } else {
            result = false;
            break;
        }
        bool malformed = false;
        for (int k = 1; k <= continuation; k++) {
            // A zero byte is no continuation byte, so this never reads past the end.
            if ((bytes[i + k] & 0xC0) != 0x80) {
                malformed = true;
                break;
            }
            codePoint = (codePoint << 6) | (bytes[i + k] & 0x3F);
        }
        if (malformed) {
            result = false;
            break;
        }
        i += 1 + continuation;
        if (codePoint <= 0xFFFF) {
            output[written++] = static_cast<wchar_t>(codePoint);
        } else if (codePoint <= 0x10FFFF) {
            if (capacity - 1 - written < 2)
                break;
            output[written++] = static_cast<wchar_t>(0xD800 + ((codePoint - 0x10000) >> 10));
            output[written++] = static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
        } else {
            result = false;
        }
    }
    output[written] = 0;
    return result;
}

// Whether everything from the first zero unit on is zero too: padding at the end
// of a file loses nothing, anything else after a NUL is text the reader dropped.
static bool OnlyZerosAfterFirstZero(const uint8_t* bytes, size_t count)
{
    const void* zero = memchr(bytes, 0, count);
    if (zero == nullptr)
        return true;
    for (size_t i = static_cast<const uint8_t*>(zero) - bytes; i < count; i++) {
        if (bytes[i] != 0)
            return false;
    }
    return true;
}

static bool OnlyZeroUnitsAfterFirstZero(const wchar_t* units, size_t count)
{
    size_t i = 0;
    while (i < count && units[i] != 0)
        i++;
    for (; i < count; i++) {
        if (units[i] != 0)
            return false;
    }
    return true;
}

// Ends the text just after its last CR or LF (empty when it has none).
static void EndAtLastLineBreak(wchar_t* text)
{
    wchar_t* end = text;
    for (wchar_t* p = text; *p != 0; p++) {
        if (*p == L'\r' || *p == L'\n')
            end = p + 1;
    }
    *end = 0;
}

// Any run of CR and LF is one line break, so empty lines vanish; trailing spaces
// and tabs go, leading ones stay. The text ends at its first NUL.
static void SplitLines(wchar_t* text, StringList& output)
{
    wchar_t* line = text;
    while (*line != 0) {
        wchar_t* end = line;
        while (*end != 0 && *end != L'\r' && *end != L'\n')
            end++;
        bool last = *end == 0;
        wchar_t* after = end + 1;
        *end = 0;
        while (end > line && (end[-1] == L' ' || end[-1] == L'\t'))
            *--end = 0;
        if (*line != 0)
            output.Add(line);
        if (last)
            break;
        while (*after == L'\r' || *after == L'\n')
            after++;
        line = after;
    }
}

bool ReadTextFile(const wchar_t* fileName, StringList& output, bool* readWhole)
{
    bool whole = true;
    if (readWhole != nullptr)
        *readWhole = false;
    File file;
    if (!file.Open(fileName, 0))
        return false;

    Array<uint8_t> bytes(kReadChunk);
    uint64_t total = 0;
    for (;;) {
        if (total + kReadChunk > kMaxTextBytes) {
            whole = false;
            break;
        }
        int got = file.Read(bytes.Data + total, kReadChunk);
        if (got <= 0)
            break;
        total += static_cast<uint64_t>(got);
        bytes.Grow(static_cast<uint64_t>(got));
    }
    if (file.ReadStopped())
        whole = false;
    bytes.SetCount(total);
    size_t count = static_cast<size_t>(total);

    bool markUtf16Le = count >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
    bool markUtf16Be = !markUtf16Le && count >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF;
    bool markUtf8 = count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF;

    Array<wchar_t> text(count + 1);
    TextEncoding encoding = DetectTextEncoding(bytes.Data, count);
    // The mark says UTF-8 but a sequence is malformed. Read as ANSI, the mark's
    // three characters would hide the first line and every non-ASCII text would
    // come out garbled: the text is the UTF-8 lines before the fault, and not the
    // whole file. The line the fault cuts is no line.
    bool malformedUtf8 = encoding == kTextAnsi && markUtf8 && count > 3;
    if (malformedUtf8) {
        encoding = kTextUtf8;
        whole = false;
    }
    switch (encoding) {
    case kTextUtf16: {
        size_t skip = (markUtf16Le || markUtf16Be) ? 2 : 0;
        size_t units = (count - skip) / 2;
        const uint8_t* p = bytes.Data + skip;
        for (size_t u = 0; u < units; u++, p += 2) {
            unsigned low = markUtf16Be ? p[1] : p[0];
            unsigned high = markUtf16Be ? p[0] : p[1];
            text[u] = static_cast<wchar_t>(low | (high << 8));
        }
        text[units] = 0;
        if (!OnlyZeroUnitsAfterFirstZero(text.Data, units))
            whole = false;
        if ((count - skip) % 2 != 0 && bytes[count - 1] != 0)
            whole = false;
        break;
    }
    case kTextUtf8: {
        bytes.Grow(1);
        bytes[count] = 0;
        size_t skip = markUtf8 ? 3 : 0;
        if (!Utf8ToWide(bytes.Data + skip, text.Data, count + 1) ||
            !OnlyZerosAfterFirstZero(bytes.Data + skip, count - skip))
            whole = false;
        if (malformedUtf8)
            EndAtLastLineBreak(text.Data);
        break;
    }
    default:
        bytes.Grow(1);
        bytes[count] = 0;
        if (!WideFromAnsi(reinterpret_cast<const char*>(bytes.Data), text.Data, count + 1) ||
            !OnlyZerosAfterFirstZero(bytes.Data, count))
            whole = false;
        break;
    }

    SplitLines(text.Data, output);
    file.Close();
    if (readWhole != nullptr)
        *readWhole = whole;
    return true;
}
