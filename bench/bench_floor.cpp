// The floor of the uninstall benchmark: removes every entry of a generated
// install folder's Uninstall.lst with exactly one DeleteFileW or RemoveDirectoryW
// each, deepest first, telling folders from files by their names alone. No
// uninstaller can delete the same entries with fewer file-system calls.
//
// Usage: zvx_bench_floor FOLDER
// Exit code 0 when every entry was removed, 1 otherwise (the figure is then void).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_io.h"
#include "bench/tree_layout.h"

// Lines as the uninstaller takes them: trailing blanks, CR and LF dropped, empty lines skipped.
static bool SplitList(const std::string& bytes, std::vector<std::wstring>& entries)
{
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        size_t last = end;
        while (last > start && (bytes[last - 1] == ' ' || bytes[last - 1] == '\t' || bytes[last - 1] == '\r'))
            last--;
        if (last > start) {
            wchar_t entry[2048];
            int chars = MultiByteToWideChar(CP_ACP, 0, bytes.data() + start, static_cast<int>(last - start), entry,
                                            2047);
            if (chars <= 0)
                return false;
            entries.emplace_back(entry, static_cast<size_t>(chars));
        }
        start = end + 1;
    }
    return true;
}

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        fwprintf(stderr, L"usage: zvx_bench_floor FOLDER\n");
        return 2;
    }
    std::wstring root = argv[1];
    std::string bytes;
    std::vector<std::wstring> entries;
    if (!ReadWholeFile(root + L"\\Uninstall.lst", bytes, 64 * 1024 * 1024) || !SplitList(bytes, entries)) {
        fwprintf(stderr, L"cannot read %ls\\Uninstall.lst\n", root.c_str());
        return 1;
    }
    std::vector<size_t> order(entries.size());
    for (size_t i = 0; i < order.size(); i++)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return EntryDepth(entries[a].c_str()) > EntryDepth(entries[b].c_str()); });

    size_t failed = 0;
    for (size_t i : order) {
        std::wstring path = root + L"\\" + entries[i];
        bool removed = IsFolderEntry(entries[i].c_str()) ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
        if (!removed && failed++ == 0)
            fwprintf(stderr, L"cannot remove %ls (error %lu)\n", path.c_str(), GetLastError());
    }
    return failed == 0 ? 0 : 1;
}
