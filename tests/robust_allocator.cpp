// The randomised tests run with Wine validating the whole C runtime heap at every
// heap call, which costs in proportion to what that heap holds. The code under
// test allocates with malloc only; the tests' own allocations (GoogleTest, the
// expected tables, the generated inputs) go through operator new, which this
// file serves from memory of its own, so that the validation stays affordable
// while every allocation of the code under test is still checked.
// Linked only into the robust test executables. Single-threaded, like the tests.
#include <windows.h>

#include <cstddef>
#include <new>

namespace {

constexpr size_t kHeader = 16;          // keeps the blocks 16-byte aligned
constexpr size_t kSmallest = 32;        // block sizes are powers of two from here
constexpr int kClasses = 12;            // up to 64 KiB
constexpr size_t kChunk = 4 * 1024 * 1024;
constexpr size_t kLargeClass = static_cast<size_t>(-1);

struct FreeBlock {
    FreeBlock* Next;
};

FreeBlock* gFree[kClasses];
char* gChunk = nullptr;
size_t gChunkLeft = 0;

void* Allocate(size_t bytes)
{
    if (bytes > SIZE_MAX - kHeader - 4096)
        return nullptr;
    size_t needed = bytes + kHeader;
    int cls = 0;
    while (cls < kClasses && (kSmallest << cls) < needed)
        cls++;
    char* block;
    if (cls == kClasses) {
        block = static_cast<char*>(VirtualAlloc(nullptr, needed, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (block == nullptr)
            return nullptr;
        *reinterpret_cast<size_t*>(block) = kLargeClass;
        return block + kHeader;
    }
    if (gFree[cls] != nullptr) {
        block = reinterpret_cast<char*>(gFree[cls]);
        gFree[cls] = gFree[cls]->Next;
    } else {
        size_t size = kSmallest << cls;
        if (gChunkLeft < size) {
            gChunk = static_cast<char*>(VirtualAlloc(nullptr, kChunk, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
            if (gChunk == nullptr) {
                gChunkLeft = 0;
                return nullptr;
            }
            gChunkLeft = kChunk;
        }
        block = gChunk;
        gChunk += size;
        gChunkLeft -= size;
    }
    *reinterpret_cast<size_t*>(block) = static_cast<size_t>(cls);
    return block + kHeader;
}

void Release(void* p)
{
    if (p == nullptr)
        return;
    char* block = static_cast<char*>(p) - kHeader;
    size_t cls = *reinterpret_cast<size_t*>(block);
    if (cls == kLargeClass) {
        VirtualFree(block, 0, MEM_RELEASE);
        return;
    }
    auto* free = reinterpret_cast<FreeBlock*>(block);
    free->Next = gFree[cls];
    gFree[cls] = free;
}

}  // namespace

void* operator new(size_t bytes)
{
    void* p = Allocate(bytes);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

void* operator new[](size_t bytes)
{
    return operator new(bytes);
}

void* operator new(size_t bytes, const std::nothrow_t&) noexcept
{
    return Allocate(bytes);
}

void* operator new[](size_t bytes, const std::nothrow_t&) noexcept
{
    return Allocate(bytes);
}

void operator delete(void* p) noexcept
{
    Release(p);
}

void operator delete[](void* p) noexcept
{
    Release(p);
}

void operator delete(void* p, size_t) noexcept
{
    Release(p);
}

void operator delete[](void* p, size_t) noexcept
{
    Release(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
    Release(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    Release(p);
}
