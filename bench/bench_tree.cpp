// Makes a deterministic install folder for the uninstall benchmarks: folders up to
// a given depth, files spread over them, and Uninstall.lst in the ANSI code page
// listing every folder before its contents (folder, its files, then its subfolders).
//
// Usage: zvx_bench_tree FOLDER [FILES FOLDERS DEPTH]   (default 10000 1000 6)
// Every run with the same numbers makes the same tree; FOLDER may exist but must
// not hold an earlier tree.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "bench/bench_io.h"
#include "bench/tree_layout.h"

namespace {

struct Folder {
    int parent;  // -1: the install folder itself
    int depth;   // 1 for a folder directly in the install folder
    std::wstring path;
    std::vector<int> files;
    std::vector<int> children;
};

// A fixed linear congruential sequence: the tree must not change between runs.
uint32_t gSeed = 20240521u;
uint32_t NextRandom()
{
    gSeed = gSeed * 1664525u + 1013904223u;
    return gSeed >> 8;
}

}  // namespace

static bool ParseCount(const wchar_t* text, int minimum, int& value)
{
    wchar_t* end = nullptr;
    long parsed = wcstol(text, &end, 10);
    if (end == text || *end != 0 || parsed < minimum || parsed > 1000000)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

static bool MakeFile(const std::wstring& path, int number)
{
    // Small contents of varying length, like an installation's help and resource files.
    char content[512];
    int length = snprintf(content, sizeof(content), "file %d\r\n", number);
    int wanted = 64 + static_cast<int>(NextRandom() % 384);
    for (; length < wanted; length++)
        content[length] = static_cast<char>('a' + length % 26);
    if (WriteWholeFile(path, content, static_cast<size_t>(length), true))
        return true;
    fwprintf(stderr, L"cannot write %ls\n", path.c_str());
    return false;
}

static void ListFolder(const std::vector<Folder>& folders, int index, const std::vector<std::wstring>& fileNames,
                       std::vector<std::wstring>& list)
{
    const Folder& folder = folders[static_cast<size_t>(index)];
    list.push_back(folder.path);
    for (int file : folder.files)
        list.push_back(fileNames[file]);
    for (int child : folder.children)
        ListFolder(folders, child, fileNames, list);
}

static bool WriteList(const std::wstring& root, const std::vector<std::wstring>& list)
{
    std::string text;
    for (const std::wstring& entry : list) {
        char line[1024];
        int bytes = WideCharToMultiByte(CP_ACP, 0, entry.c_str(), static_cast<int>(entry.size()), line,
                                        sizeof(line), nullptr, nullptr);
        if (bytes <= 0)
            return false;
        text.append(line, static_cast<size_t>(bytes));
        text.append("\r\n");
    }
    std::wstring path = root + L"\\Uninstall.lst";
    if (WriteWholeFile(path, text.data(), text.size()))
        return true;
    fwprintf(stderr, L"cannot write %ls\n", path.c_str());
    return false;
}

int wmain(int argc, wchar_t** argv)
{
    int fileCount = 10000;
    int folderCount = 1000;
    int maxDepth = 6;
    if ((argc != 2 && argc != 5) ||
        (argc == 5 && (!ParseCount(argv[2], 0, fileCount) || !ParseCount(argv[3], 1, folderCount) ||
                       !ParseCount(argv[4], 1, maxDepth) || maxDepth > folderCount))) {
        fwprintf(stderr, L"usage: zvx_bench_tree FOLDER [FILES FOLDERS DEPTH]\n");
        return 2;
    }
    std::wstring root = argv[1];
    if (!CreateDirectoryW(root.c_str(), nullptr)) {
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            fwprintf(stderr, L"cannot create %ls (error %lu)\n", root.c_str(), error);
            return 1;
        }
    }

    // Index -1 is the install folder; it is stored at the back so that folders[i] stays folder i.
    std::vector<Folder> all(static_cast<size_t>(folderCount) + 1);
    auto folder = [&](int i) -> Folder& { return i < 0 ? all.back() : all[static_cast<size_t>(i)]; };
    folder(-1).parent = -1;
    folder(-1).depth = 0;
    for (int i = 0; i < folderCount; i++) {
        // The first folders form one chain, so that the deepest level is always there.
        int parent = i < maxDepth ? i - 1 : static_cast<int>(NextRandom() % static_cast<uint32_t>(i + 1)) - 1;
        while (parent >= 0 && folder(parent).depth >= maxDepth)
            parent = folder(parent).parent;
        Folder& f = folder(i);
        f.parent = parent;
        f.depth = folder(parent).depth + 1;
        wchar_t name[16];
        swprintf(name, 16, L"%lc%04d", kFolderMark, i);
        f.path = parent < 0 ? std::wstring(name) : folder(parent).path + L"\\" + name;
        folder(parent).children.push_back(i);
    }
    std::vector<std::wstring> fileNames(static_cast<size_t>(fileCount));
    for (int j = 0; j < fileCount; j++) {
        int owner = static_cast<int>(NextRandom() % static_cast<uint32_t>(folderCount));
        wchar_t name[24];
        swprintf(name, 24, L"%lc%05d.dat", kFileMark, j);
        fileNames[static_cast<size_t>(j)] = folder(owner).path + L"\\" + name;
        folder(owner).files.push_back(j);
    }

    for (int i = 0; i < folderCount; i++) {
        std::wstring path = root + L"\\" + folder(i).path;
        if (!CreateDirectoryW(path.c_str(), nullptr)) {
            fwprintf(stderr, L"cannot create %ls (error %lu)\n", path.c_str(), GetLastError());
            return 1;
        }
    }
    for (int j = 0; j < fileCount; j++) {
        if (!MakeFile(root + L"\\" + fileNames[static_cast<size_t>(j)], j))
            return 1;
    }

    std::vector<std::wstring> list;
    list.reserve(static_cast<size_t>(fileCount + folderCount));
    for (int child : folder(-1).children)
        ListFolder(all, child, fileNames, list);
    if (!WriteList(root, list))
        return 1;

    int deepest = 0;
    for (int i = 0; i < folderCount; i++)
        deepest = folder(i).depth > deepest ? folder(i).depth : deepest;
    wprintf(L"entries=%zu files=%d folders=%d depth=%d\n", list.size(), fileCount, folderCount, deepest);
    return 0;
}
