// Helpers for the randomised-input tests: a seeded generator, memory that faults
// on the first byte read or written past its end, and snapshots of folder trees
// that must not change. They use Win32 directly, never the code under test.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <string>

namespace testsupport {

// std::mt19937 with a fixed seed, so that every run sees the same inputs and a
// failure names the iteration that shows it.
class Random {
public:
    explicit Random(uint32_t seed) : engine_(seed) {}
    // 0 .. n - 1 (n > 0).
    uint32_t Below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(engine_); }
    bool Percent(uint32_t p) { return Below(100) < p; }
    template <class T, size_t N>
    const T& Pick(const T (&items)[N])
    {
        return items[Below(static_cast<uint32_t>(N))];
    }
    std::string Bytes(size_t count);

private:
    std::mt19937 engine_;
};

// A block of exactly the asked size that ends where an inaccessible page begins:
// reading or writing one byte past its end faults at once (and GoogleTest reports
// the access violation as a failure of the test).
class GuardedMemory {
public:
    explicit GuardedMemory(size_t bytes);
    ~GuardedMemory();
    GuardedMemory(const GuardedMemory&) = delete;
    GuardedMemory& operator=(const GuardedMemory&) = delete;

    void* Data() const { return data_; }
    wchar_t* Wide() const { return static_cast<wchar_t*>(data_); }
    uint8_t* Bytes() const { return static_cast<uint8_t*>(data_); }

private:
    void* base_ = nullptr;
    void* data_ = nullptr;
};

// Every file and folder below root (paths relative to it, folders ending in '\'),
// with each file's bytes and attributes: equal snapshots mean nothing there changed.
using TreeSnapshot = std::map<std::wstring, std::string>;
TreeSnapshot SnapshotTree(const std::wstring& root);
// The first difference between two snapshots, for a failure message; empty when equal.
std::wstring DescribeTreeChange(const TreeSnapshot& before, const TreeSnapshot& after);

// The bytes of text in the ANSI code page (characters without a form there become '?').
std::string AnsiBytes(const std::wstring& text);
// The wide text of ANSI bytes, converted whole (a NUL byte converts to a NUL character).
std::wstring WideFromAnsiBytes(const std::string& bytes);
// UTF-16LE units, without a byte-order mark.
std::string Utf16LeBytes(const std::wstring& text);

}  // namespace testsupport
