#include "tests/support/robust_support.h"

#include <cstring>
#include <vector>

namespace testsupport {

std::string Random::Bytes(size_t count)
{
    std::string bytes(count, '\0');
    for (char& b : bytes)
        b = static_cast<char>(Below(256));
    return bytes;
}

GuardedMemory::GuardedMemory(size_t bytes)
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    size_t page = info.dwPageSize;
    size_t pages = (bytes + page - 1) / page + 1;
    base_ = VirtualAlloc(nullptr, pages * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (base_ == nullptr)
        return;
    char* guard = static_cast<char*>(base_) + (pages - 1) * page;
    DWORD old = 0;
    if (!VirtualProtect(guard, page, PAGE_NOACCESS, &old)) {
        VirtualFree(base_, 0, MEM_RELEASE);
        base_ = nullptr;
        return;
    }
    data_ = guard - bytes;
    // Whatever the code under test reads before writing is not zero by chance.
    memset(data_, 0xCD, bytes);
}

GuardedMemory::~GuardedMemory()
{
    if (base_ != nullptr)
        VirtualFree(base_, 0, MEM_RELEASE);
}

static void SnapshotInto(const std::wstring& root, const std::wstring& relative, TreeSnapshot& snapshot)
{
    WIN32_FIND_DATAW fd;
    std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring path = relative.empty() ? name : relative + L"\\" + name;
        std::string attributes = "attributes " + std::to_string(fd.dwFileAttributes);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            snapshot[path + L"\\"] = attributes;
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                SnapshotInto(root, path, snapshot);
        } else {
            std::string content;
            HANDLE h = CreateFileW((root + L"\\" + path).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                   nullptr);
            if (h == INVALID_HANDLE_VALUE) {
                content = "<unreadable>";
            } else {
                char chunk[65536];
                DWORD got = 0;
                while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0)
                    content.append(chunk, got);
                CloseHandle(h);
            }
            snapshot[path] = attributes + "\n" + content;
        }
    } while (FindNextFileW(find, &fd));
    FindClose(find);
}

TreeSnapshot SnapshotTree(const std::wstring& root)
{
    TreeSnapshot snapshot;
    SnapshotInto(root, L"", snapshot);
    return snapshot;
}

std::wstring DescribeTreeChange(const TreeSnapshot& before, const TreeSnapshot& after)
{
    for (const auto& entry : before) {
        auto found = after.find(entry.first);
        if (found == after.end())
            return L"gone: " + entry.first;
        if (found->second != entry.second)
            return L"changed: " + entry.first;
    }
    for (const auto& entry : after) {
        if (before.find(entry.first) == before.end())
            return L"new: " + entry.first;
    }
    return L"";
}

std::string AnsiBytes(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
    return bytes;
}

std::wstring WideFromAnsiBytes(const std::string& bytes)
{
    if (bytes.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
    return text;
}

std::string Utf16LeBytes(const std::wstring& text)
{
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

}  // namespace testsupport
