// Growable array of trivially copyable elements, one growth rule, and the one
// reaction to exhausted memory (ZVX_EXIT 8).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <type_traits>

#include "common/base/errors.h"

template <class T>
class Array {
    static_assert(std::is_trivially_copyable<T>::value, "Array holds plain data only");

public:
    T* Data = nullptr;
    uint64_t Count = 0;
    uint64_t Capacity = 0;

    Array() = default;
    explicit Array(uint64_t initialCount) { Grow(initialCount); }
    ~Array() { std::free(Data); }
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;

    // Adds n uninitialised elements at the end.
    void Grow(uint64_t n)
    {
        if (n > UINT64_MAX - Count)
            ErrHandler().RaiseMemoryError();
        uint64_t count = Count + n;
        if (Capacity >= count) {
            Count = count;
            return;
        }
        uint64_t grown = Capacity + Capacity / 4 + 32;
        uint64_t newCapacity = count > grown ? count : grown;
        if (newCapacity > SIZE_MAX / sizeof(T))
            ErrHandler().RaiseMemoryError();
        void* block = std::realloc(Data, static_cast<size_t>(newCapacity) * sizeof(T));
        if (block == nullptr)
            ErrHandler().RaiseMemoryError();
        // The count only moves once the room is there: a caught raise leaves
        // the array as it was.
        Data = static_cast<T*>(block);
        Capacity = newCapacity;
        Count = count;
    }

    // Shrinks the count (never the allocation); a larger count grows.
    void SetCount(uint64_t count)
    {
        if (count > Count)
            Grow(count - Count);
        else
            Count = count;
    }

    void Free()
    {
        std::free(Data);
        Data = nullptr;
        Count = 0;
        Capacity = 0;
    }

    T& operator[](uint64_t i) { return Data[i]; }
    const T& operator[](uint64_t i) const { return Data[i]; }
};
