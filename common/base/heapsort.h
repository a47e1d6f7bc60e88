#pragma once

#include <cstddef>

// compare answers > 0 when its first argument is to come after its second.
using SortCompare = int (*)(const void* a, const void* b);

// In-place ascending heap sort (not stable). Allocates one temporary element;
// raises ZVX_EXIT 8 when even that cannot be had.
void HeapSort(void* base, size_t count, size_t size, SortCompare compare);
