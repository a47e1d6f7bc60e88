// In-process benchmark of the language file (common/localization) and of the
// settings file (the store of common/settings), each against a raw read of the
// same bytes. It works in its own executable's folder, because
// the settings store looks for Zorvex.ini beside the module that holds its code:
// run it from a scratch folder of its own.
//
// Usage: zvx_bench_data [ROUNDS]   (default 5)
// Prints one key=value line per figure, each the median over the rounds in
// milliseconds. Exit code 1 when the store gave a wrong answer: a figure of code
// that does not work is no figure.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "bench/bench_io.h"
#include "common/localization/language_file.h"
#include "common/settings/settings_file.h"
#include "common/settings/settings_store.h"

namespace {

constexpr int kSettingsEntries = 10000;
// In UTF-16 (two bytes a character), just below the 2 MB that the parser reads
// from its marker on; an ANSI file of 2 MB would be cut at its first megabyte of text.
constexpr size_t kLanguageChars = 1000000;
constexpr int kLookups = 10000;

class Stopwatch {
public:
    Stopwatch()
    {
        QueryPerformanceFrequency(&frequency_);
        QueryPerformanceCounter(&start_);
    }
    double Ms() const
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - start_.QuadPart) * 1000.0 / static_cast<double>(frequency_.QuadPart);
    }

private:
    LARGE_INTEGER frequency_;
    LARGE_INTEGER start_;
};

// The same sequence in every run, so that every run looks up the same entries.
uint32_t gSeed = 7919u;
uint32_t NextRandom()
{
    gSeed = gSeed * 1664525u + 1013904223u;
    return gSeed >> 8;
}

}  // namespace

static double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

static std::wstring OwnFolder()
{
    wchar_t path[2048];
    DWORD length = GetModuleFileNameW(nullptr, path, 2048);
    if (length == 0 || length >= 2048)
        return std::wstring();
    std::wstring folder(path, length);
    return folder.substr(0, folder.rfind(L'\\'));
}

static void PrintFigure(const char* name, double value)
{
    printf("%s=%.3f\n", name, value);
}

// ---- Language file ---------------------------------------------------------

struct LanguageKey {
    std::string key;     // as looked up: group prefix and name
    std::wstring text;   // what the parser must give back
};

// A product language file in UTF-16LE: other sections before the marker, then
// messages and dialog sections, with quoting and escapes as translators write them.
// The reference of every in-process figure: the file's bytes read raw, timed, and
// checked against what was written, so that a round never measures a changed file.
static bool TimeRawRead(const std::wstring& path, const std::wstring& text, std::vector<double>& times,
                        const wchar_t* what)
{
    size_t bytes = text.size() * sizeof(wchar_t);
    std::string raw;
    Stopwatch watch;
    bool readOk = ReadWholeFile(path, raw, bytes);
    times.push_back(watch.Ms());
    if (!readOk || raw.compare(0, bytes, reinterpret_cast<const char*>(text.data()), bytes) != 0) {
        fwprintf(stderr, L"%ls changed between rounds\n", what);
        return false;
    }
    return true;
}

static std::wstring LanguageFileText(std::vector<LanguageKey>& keys)
{
    std::string text = "[Zorvex]\r\nVersion=1\r\n";
    for (int i = 0; i < 40; i++)
        text += "MenuText" + std::to_string(i) + "=some text of the archiver's own sections\r\n";
    text += "***messages***\r\n:STRINGS\r\n";
    std::string group = "s:";
    for (int i = 0; text.size() < kLanguageChars - 200; i++) {
        if (i % 500 == 0 && i > 0) {
            group = "$DIALOG" + std::to_string(i / 500) + ":";
            text += "\r\n; controls of one dialog\r\n:DIALOG DIALOG" + std::to_string(i / 500) + "\r\n";
        }
        char name[32];
        snprintf(name, sizeof(name), group == "s:" ? "IDS_BENCH%05d" : "IDC_ITEM%05d", i);
        char line[256];
        wchar_t expected[128];
        if (i % 3 == 0) {
            snprintf(line, sizeof(line), "%s \"  Message %d: the archive \\\"%d.zvx\\\" is damaged\\nRepair it?  \"\r\n",
                     name, i, i);
            swprintf(expected, 128, L"  Message %d: the archive \"%d.zvx\" is damaged\nRepair it?  ", i, i);
        } else {
            snprintf(line, sizeof(line), "%s,\tText number %d for C:\\Program Files\\Zorvex, translated with care\r\n",
                     name, i);
            swprintf(expected, 128, L"Text number %d for C:\\Program Files\\Zorvex, translated with care", i);
        }
        text += line;
        keys.push_back({group + name, expected});
    }
    // Plain ASCII: each byte becomes one UTF-16 unit.
    return L"\xFEFF" + std::wstring(text.begin(), text.end());
}

static bool BenchLanguage(const std::wstring& folder, int rounds)
{
    std::wstring path = folder + L"\\bench.lng";
    std::vector<LanguageKey> keys;
    std::wstring text = LanguageFileText(keys);
    size_t bytes = text.size() * sizeof(wchar_t);
    if (!WriteWholeFile(path, text.data(), bytes)) {
        fwprintf(stderr, L"cannot write %ls\n", path.c_str());
        return false;
    }
    std::vector<size_t> picks(kLookups);
    for (size_t& pick : picks)
        pick = NextRandom() % keys.size();

    std::vector<double> rawRead, load, lookups;
    for (int round = 0; round < rounds; round++) {
        if (!TimeRawRead(path, text, rawRead, L"language file"))
            return false;

        DestroyLanguageTable();
        Stopwatch loadWatch;
        LoadLanguageFile(path.c_str());
        load.push_back(loadWatch.Ms());
        if (LanguageEntryCount() != keys.size()) {
            fwprintf(stderr, L"the language table holds %zu entries, not %zu\n", LanguageEntryCount(), keys.size());
            return false;
        }

        bool found = true;
        wchar_t buffer[256];
        Stopwatch lookupWatch;
        for (size_t pick : picks)
            found = FindText(keys[pick].key.c_str(), buffer, 256) && keys[pick].text == buffer && found;
        lookups.push_back(lookupWatch.Ms());
        if (!found) {
            fwprintf(stderr, L"language look-ups gave wrong texts\n");
            return false;
        }
    }
    DestroyLanguageTable();
    DeleteFileW(path.c_str());

    printf("language_entries=%zu\nlanguage_lookups=%d\nlanguage_bytes=%zu\n", keys.size(), kLookups, bytes);
    PrintFigure("language_raw_read_ms", Median(rawRead));
    PrintFigure("language_load_ms", Median(load));
    PrintFigure("language_lookups_ms", Median(lookups));
    return true;
}

// ---- Settings file ---------------------------------------------------------

static void SettingsEntryName(int i, wchar_t* keyPath, wchar_t* valueName)
{
    swprintf(keyPath, 64, L"Bench\\Group%03d", i / 100);
    swprintf(valueName, 64, L"Value%05d", i);
}

// Even entries are texts, odd ones numbers, as in the product's own settings.
static std::wstring SettingsText(int i)
{
    wchar_t text[96];
    swprintf(text, 96, L"C:\\Program Files\\Zorvex\\Formats\\format%05d.fmt;*.x%02d", i, i % 97);
    return text;
}

static uint32_t SettingsNumber(int i)
{
    return static_cast<uint32_t>(i) * 2654435761u;
}

// The file exactly as the store saves it (UTF-16LE, sorted, CR LF), so that a
// save must reproduce it byte for byte.
static std::wstring SettingsFileText()
{
    std::wstring text = L"\xFEFF";
    text += L"Global\\AppData=1\r\nGlobal\\Integration=1\r\nGlobal\\SaveSettings=1\r\n";
    for (int i = 0; i < kSettingsEntries; i++) {
        wchar_t keyPath[64], valueName[64];
        SettingsEntryName(i, keyPath, valueName);
        text += L"HKCU\\";
        text += keyPath;
        text += L"\\";
        text += valueName;
        if (i % 2 == 0) {
            text += L"=\"" + SettingsText(i) + L"\"\r\n";
        } else {
            wchar_t digits[16];
            swprintf(digits, 16, L"%d", static_cast<int32_t>(SettingsNumber(i)));
            text += std::wstring(L"=") + digits + L"\r\n";
        }
    }
    return text;
}

static bool LookUpSettings(const std::vector<int>& picks)
{
    for (int i : picks) {
        wchar_t keyPath[64], valueName[64];
        SettingsEntryName(i, keyPath, valueName);
        if (i % 2 == 0) {
            wchar_t buffer[256];
            ReadUserString(keyPath, valueName, buffer, L"", 256);
            if (SettingsText(i) != buffer)
                return false;
        } else if (static_cast<uint32_t>(ReadUserInt(keyPath, valueName, 0)) != SettingsNumber(i)) {
            return false;
        }
    }
    return true;
}

static bool BenchSettings(const std::wstring& folder, int rounds)
{
    std::wstring path = folder + L"\\Zorvex.ini";
    std::wstring rawPath = folder + L"\\raw-write.tmp";
    std::wstring text = SettingsFileText();
    size_t bytes = text.size() * sizeof(wchar_t);
    if (!WriteWholeFile(path, text.data(), bytes)) {
        fwprintf(stderr, L"cannot write %ls\n", path.c_str());
        return false;
    }
    std::vector<int> picks(kLookups);
    for (int& pick : picks)
        pick = static_cast<int>(NextRandom() % kSettingsEntries);

    std::vector<double> rawRead, load, lookups, save, rawWrite;
    for (int round = 0; round < rounds; round++) {
        if (!TimeRawRead(path, text, rawRead, L"settings file"))
            return false;

        FreeSettingsFile();
        Stopwatch loadWatch;
        LoadSettingsFile();
        load.push_back(loadWatch.Ms());

        Stopwatch lookupWatch;
        bool found = LookUpSettings(picks);
        lookups.push_back(lookupWatch.Ms());
        if (!found) {
            fwprintf(stderr, L"settings lookups gave wrong values (is the file loaded?)\n");
            return false;
        }

        Stopwatch saveWatch;
        bool saved = SaveSettingsFile();
        save.push_back(saveWatch.Ms());
        if (!saved) {
            fwprintf(stderr, L"SaveSettingsFile failed\n");
            return false;
        }

        Stopwatch writeWatch;
        bool written = WriteWholeFile(rawPath, text.data(), bytes);
        rawWrite.push_back(writeWatch.Ms());
        DeleteFileW(rawPath.c_str());
        if (!written)
            return false;
    }
    FreeSettingsFile();
    DeleteFileW(path.c_str());

    printf("settings_entries=%d\nsettings_lookups=%d\nsettings_bytes=%zu\n", kSettingsEntries, kLookups, bytes);
    PrintFigure("settings_raw_read_ms", Median(rawRead));
    PrintFigure("settings_load_ms", Median(load));
    PrintFigure("settings_lookups_ms", Median(lookups));
    PrintFigure("settings_save_ms", Median(save));
    PrintFigure("settings_raw_write_ms", Median(rawWrite));
    return true;
}

int wmain(int argc, wchar_t** argv)
{
    int rounds = argc >= 2 ? _wtoi(argv[1]) : 5;
    std::wstring folder = OwnFolder();
    if (rounds < 1 || rounds > 1000 || folder.empty()) {
        fwprintf(stderr, L"usage: zvx_bench_data [ROUNDS]\n");
        return 2;
    }
    printf("rounds=%d\n", rounds);
    bool language = BenchLanguage(folder, rounds);
    bool settings = BenchSettings(folder, rounds);
    return language && settings ? 0 : 1;
}
