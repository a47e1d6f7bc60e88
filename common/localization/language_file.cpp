#include "common/localization/language_file.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/base/array.h"
#include "common/base/errors.h"
#include "common/base/file.h"
#include "common/base/heapsort.h"
#include "common/base/module.h"
#include "common/base/paths.h"
#include "common/base/strings.h"

namespace {

struct LanguageEntry {
    char* Key;       // KeyGroup prefix + item name, ANSI code page
    wchar_t* Text;
};

// Limits of the file format. Existing language files are written to them.
constexpr size_t kMaxKeyBytes = 49;           // stored part of a key
constexpr size_t kMaxBuildBytes = 99;         // group + name while parsing
constexpr size_t kMaxNameChars = 99;          // separator or argument within this many characters
constexpr size_t kMaxValueChars = 65536;
constexpr size_t kMaxTextChars = 1048576;
constexpr uint32_t kReadBytes = 2097152;
constexpr uint32_t kSearchBlockBytes = 8192;
constexpr int kSearchBlocks = 256;
// A UTF-16 marker is tested only where 32 bytes follow, so the next block must
// start that far back for a marker cut by the boundary to be seen whole.
constexpr uint32_t kSearchOverlap = 32;
// Room for 99 UTF-16 units in any ANSI code page (at most 3 bytes per unit).
constexpr size_t kAnsiNameBytes = kMaxNameChars * 3 + 1;

const char kMarker[] = "***messages**";
constexpr size_t kMarkerChars = sizeof kMarker - 1;

Array<LanguageEntry> Entries;
Array<uint32_t> ByKey;   // entry indices sorted by key, byte order
bool RightToLeftFlag = false;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using MallocPtr = std::unique_ptr<T, FreeDeleter>;

enum class Encoding { Ansi, Utf16 };

bool MatchesAnsiMarker(const unsigned char* p)
{
    return std::memcmp(p, kMarker, kMarkerChars) == 0;
}

bool MatchesUtf16Marker(const unsigned char* p)
{
    for (size_t k = 0; k < kMarkerChars; k++) {
        if (p[2 * k] != static_cast<unsigned char>(kMarker[k]) || p[2 * k + 1] != 0)
            return false;
    }
    return true;
}

// Offset of the marker's first asterisk and the encoding it was written in;
// false when the searched blocks hold none.
bool FindMarker(File& file, int64_t& position, Encoding& encoding)
{
    unsigned char block[kSearchBlockBytes];
    int64_t blockStart = 0;
    for (int n = 0; n < kSearchBlocks; n++) {
        file.Seek(blockStart);
        uint32_t got = 0;
        while (got < sizeof block) {
            int r = file.Read(block + got, sizeof block - got);
            if (r <= 0)
                break;
            got += static_cast<uint32_t>(r);
        }
        if (got < 16)
            return false;
        for (uint32_t offset = 0; offset + 16 <= got; offset++) {
            if (MatchesAnsiMarker(block + offset)) {
                position = blockStart + offset;
                encoding = Encoding::Ansi;
                return true;
            }
            if (offset + 32 <= got && MatchesUtf16Marker(block + offset)) {
                position = blockStart + offset;
                encoding = Encoding::Utf16;
                return true;
            }
        }
        if (got < sizeof block)
            return false;   // that was the end of the file
        blockStart += got - kSearchOverlap;
    }
    return false;
}

// Reads the text from the marker on, as wide characters, cut after
// kMaxTextChars; null when a buffer cannot be had or the conversion fails.
MallocPtr<wchar_t> ReadText(File& file, int64_t position, Encoding encoding, size_t& length)
{
    MallocPtr<char> bytes(static_cast<char*>(std::malloc(kReadBytes + 2)));
    if (!bytes)
        return nullptr;
    file.Seek(position);
    uint32_t got = 0;
    while (got < kReadBytes) {
        int r = file.Read(bytes.get() + got, kReadBytes - got);
        if (r <= 0)
            break;
        got += static_cast<uint32_t>(r);
    }

    if (encoding == Encoding::Utf16) {
        // The buffer is taken over as it is; an odd last byte is not part of the text.
        length = got / 2;
        if (length > kMaxTextChars)
            length = kMaxTextChars;
        return MallocPtr<wchar_t>(reinterpret_cast<wchar_t*>(bytes.release()));
    }

    bytes.get()[got] = '\0';
    MallocPtr<wchar_t> wide(static_cast<wchar_t*>(std::malloc((size_t(got) + 1) * sizeof(wchar_t))));
    if (!wide)
        return nullptr;
    // One wide character per byte always suffices; a failure is a failed conversion.
    if (!WideFromAnsi(bytes.get(), wide.get(), size_t(got) + 1))
        return nullptr;
    length = wcslen(wide.get());
    if (length > kMaxTextChars)
        length = kMaxTextChars;
    return wide;
}

void* AllocateOrRaise(size_t bytes)
{
    void* block = std::malloc(bytes);
    if (block == nullptr)
        ErrHandler().RaiseMemoryError();
    return block;
}

// The walk over the text: the current group and key and the value gathered so far.
struct ParseState {
    char Group[kMaxBuildBytes + 1];
    char Key[kMaxBuildBytes + 1];
    wchar_t* Value;      // kMaxValueChars + 1 characters
    size_t ValueLength;
};

void AppendValueChar(ParseState& s, wchar_t c)
{
    if (s.ValueLength < kMaxValueChars)
        s.Value[s.ValueLength++] = c;
}

// Stores the pending key with its value (closing blanks, then one closing and
// one opening quote removed) and starts over with no key.
void FinishLine(ParseState& s)
{
    if (s.Key[0] != '\0') {
        size_t end = s.ValueLength;
        while (end > 0 && (s.Value[end - 1] == L' ' || s.Value[end - 1] == L'\t'))
            end--;
        if (end > 0 && s.Value[end - 1] == L'"')
            end--;
        size_t start = 0;
        if (start < end && s.Value[0] == L'"')
            start = 1;

        size_t keyBytes = std::strlen(s.Key);
        if (keyBytes > kMaxKeyBytes)
            keyBytes = kMaxKeyBytes;
        LanguageEntry entry;
        entry.Key = static_cast<char*>(AllocateOrRaise(keyBytes + 1));
        std::memcpy(entry.Key, s.Key, keyBytes);
        entry.Key[keyBytes] = '\0';
        size_t textChars = end - start;
        entry.Text = static_cast<wchar_t*>(AllocateOrRaise((textChars + 1) * sizeof(wchar_t)));
        wmemcpy(entry.Text, s.Value + start, textChars);
        entry.Text[textChars] = L'\0';
        Entries.Grow(1);
        Entries[Entries.Count - 1] = entry;
    }
    s.Key[0] = '\0';
    s.ValueLength = 0;
}

bool IsLineEnd(wchar_t c)
{
    return c == L'\r' || c == L'\n';
}

// The ANSI form of text[begin, end) (at most kMaxNameChars characters).
bool NameToAnsi(const wchar_t* text, size_t begin, size_t end, char* ansi)
{
    wchar_t name[kMaxNameChars + 1];
    size_t n = end - begin;
    std::memcpy(name, text + begin, n * sizeof(wchar_t));
    name[n] = L'\0';
    return AnsiFromWide(name, ansi, kAnsiNameBytes);
}

bool StartsDirective(const wchar_t* text, size_t length, size_t i, const wchar_t* word)
{
    size_t wordLength = wcslen(word);
    if (length - i < wordLength || wmemcmp(text + i, word, wordLength) != 0)
        return false;
    return i + wordLength >= length || text[i + wordLength] <= L' ';
}

// A line that begins with a colon. Returns where the walk goes on: after the
// directive and its argument, or at the colon when no directive is named (the
// line is then walked without a key and so ignored).
size_t ApplyDirective(const wchar_t* text, size_t length, size_t i, ParseState& s)
{
    static const wchar_t* const kWords[] = {L"STRINGS", L"DIALOG", L"MENU", L"DIRECTION"};
    size_t word = 0;
    while (word < 4 && !StartsDirective(text, length, i + 1, kWords[word]))
        word++;
    if (word == 4)
        return i;

    size_t p = i + 1 + wcslen(kWords[word]);
    while (p < length && (text[p] == L' ' || text[p] == L'\t'))
        p++;
    size_t argBegin = p;
    while (p < length && text[p] > L' ' && p - argBegin < kMaxNameChars)
        p++;

    switch (word) {
    case 0:
        CopyStringA(s.Group, "s:", sizeof s.Group);
        break;
    case 1:
    case 2: {
        char name[kAnsiNameBytes];
        if (!NameToAnsi(text, argBegin, p, name))
            name[0] = '\0';
        // Cut at the prefix limit like any over-long name; such a group names no dialog of ours.
        CopyStringA(s.Group, word == 1 ? "$" : "@", sizeof s.Group);
        AppendStringA(s.Group, name, sizeof s.Group);
        AppendStringA(s.Group, ":", sizeof s.Group);
        break;
    }
    default:
        RightToLeftFlag = p - argBegin == 3 && wmemcmp(text + argBegin, L"RTL", 3) == 0;
        break;
    }
    return p;
}

// A line that begins with a letter is a key line when a separator follows
// within its first kMaxNameChars characters. Returns where the value begins,
// or i when the line holds no key.
size_t StartKeyLine(const wchar_t* text, size_t length, size_t i, ParseState& s)
{
    size_t sep = i;
    while (sep < length && sep - i < kMaxNameChars && text[sep] != L'\0' && !IsLineEnd(text[sep])
           && text[sep] != L' ' && text[sep] != L'\t' && text[sep] != L',')
        sep++;
    if (sep >= length || sep - i >= kMaxNameChars
        || (text[sep] != L' ' && text[sep] != L'\t' && text[sep] != L','))
        return i;

    char name[kAnsiNameBytes];
    if (!NameToAnsi(text, i, sep, name))
        return i;
    CopyStringA(s.Key, s.Group, sizeof s.Key);
    AppendStringA(s.Key, name, sizeof s.Key);

    size_t p = sep + 1;
    while (p < length && (text[p] == L' ' || text[p] == L'\t'))
        p++;
    return p;
}

void ParseText(const wchar_t* text, size_t length, wchar_t* value)
{
    ParseState s;
    CopyStringA(s.Group, "s:", sizeof s.Group);
    s.Key[0] = '\0';
    s.Value = value;
    s.ValueLength = 0;

    // The walk starts on the marker line, which is never classified.
    bool lineStart = false;
    size_t i = 0;
    while (i < length && text[i] != L'\0') {
        if (lineStart) {
            lineStart = false;
            if (text[i] == L':')
                i = ApplyDirective(text, length, i, s);
            else if (IsAsciiLetter(text[i]))
                i = StartKeyLine(text, length, i, s);
            continue;
        }
        wchar_t c = text[i];
        if (c == L'\\') {
            if (s.ValueLength >= kMaxValueChars) {
                i++;
                continue;
            }
            wchar_t next = i + 1 < length ? text[i + 1] : L'\0';
            wchar_t meaning = 0;
            switch (next) {
            case L'"': meaning = L'"'; break;
            case L'\\': meaning = L'\\'; break;
            case L'n': meaning = L'\n'; break;
            case L'r': meaning = L'\r'; break;
            case L't': meaning = L'\t'; break;
            default: break;
            }
            if (meaning != 0) {
                AppendValueChar(s, meaning);
                i += 2;
            } else {
                AppendValueChar(s, L'\\');
                i++;
            }
        } else if (IsLineEnd(c)) {
            FinishLine(s);
            lineStart = true;
            i++;
        } else {
            AppendValueChar(s, c);
            i++;
        }
    }
    FinishLine(s);
}

int CompareEntryKeys(const void* a, const void* b)
{
    const char* ka = Entries[*static_cast<const uint32_t*>(a)].Key;
    const char* kb = Entries[*static_cast<const uint32_t*>(b)].Key;
    return std::strcmp(ka, kb);
}

void BuildKeyIndex()
{
    ByKey.SetCount(Entries.Count);
    for (uint64_t n = 0; n < Entries.Count; n++)
        ByKey[n] = static_cast<uint32_t>(n);
    if (ByKey.Count > 1)
        HeapSort(ByKey.Data, static_cast<size_t>(ByKey.Count), sizeof(uint32_t), CompareEntryKeys);
}

}  // namespace

void LoadLanguageFile(const wchar_t* path)
{
    wchar_t fullPath[kMaxPathChars];
    if (wcschr(path, L'\\') != nullptr) {
        if (!CopyString(fullPath, path, kMaxPathChars))
            return;
    } else if (!ProgramFilePath(path, fullPath, kMaxPathChars)) {
        return;
    }

    File file;
    if (!file.Open(fullPath, kOpenShareWrite))
        return;
    int64_t position = 0;
    Encoding encoding = Encoding::Ansi;
    if (!FindMarker(file, position, encoding)) {
        file.Close();
        return;
    }
    size_t length = 0;
    MallocPtr<wchar_t> text = ReadText(file, position, encoding, length);
    file.Close();
    if (!text)
        return;
    MallocPtr<wchar_t> value(static_cast<wchar_t*>(std::malloc((kMaxValueChars + 1) * sizeof(wchar_t))));
    if (!value)
        return;

    ParseText(text.get(), length, value.get());
    BuildKeyIndex();
}

bool FindText(const char* key, wchar_t* buffer, size_t capacity)
{
    uint64_t low = 0;
    uint64_t high = ByKey.Count;
    while (low < high) {
        uint64_t mid = low + (high - low) / 2;
        const LanguageEntry& entry = Entries[ByKey[mid]];
        int order = std::strcmp(entry.Key, key);
        if (order == 0) {
            // Cut to the caller's capacity, as every text of the program may be.
            CopyString(buffer, entry.Text, capacity);
            return true;
        }
        if (order < 0)
            low = mid + 1;
        else
            high = mid;
    }
    return false;
}

size_t LanguageEntryCount()
{
    return static_cast<size_t>(Entries.Count);
}

void DestroyLanguageTable()
{
    for (uint64_t n = 0; n < Entries.Count; n++) {
        std::free(Entries[n].Key);
        std::free(Entries[n].Text);
    }
    Entries.Free();
    ByKey.Free();
    RightToLeftFlag = false;
}

bool RightToLeft()
{
    return RightToLeftFlag;
}

void SetRightToLeft(bool rightToLeft)
{
    RightToLeftFlag = rightToLeft;
}
