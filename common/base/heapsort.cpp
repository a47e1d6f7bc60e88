#include "common/base/heapsort.h"

#include <cstdlib>
#include <cstring>

#include "common/base/errors.h"

// Places the element held in temp at root of the heap base[0, end) and moves it
// down, each time lifting the larger child while that child is larger than it.
static void SiftDown(char* base, size_t root, size_t end, size_t size, SortCompare compare, const char* temp)
{
    for (;;) {
        size_t child = 2 * root + 1;
        if (child >= end)
            break;
        if (child + 1 < end && compare(base + child * size, base + (child + 1) * size) < 0)
            child++;
        if (compare(base + child * size, temp) <= 0)
            break;
        std::memcpy(base + root * size, base + child * size, size);
        root = child;
    }
    std::memcpy(base + root * size, temp, size);
}

void HeapSort(void* base, size_t count, size_t size, SortCompare compare)
{
    if (count < 2 || size == 0)
        return;
    char* temp = static_cast<char*>(std::malloc(size));
    if (temp == nullptr)
        ErrHandler().RaiseMemoryError();
    char* elements = static_cast<char*>(base);
    for (size_t parent = count / 2; parent-- > 0;) {
        std::memcpy(temp, elements + parent * size, size);
        SiftDown(elements, parent, count, size, compare, temp);
    }
    for (size_t last = count - 1; last > 0; last--) {
        std::memcpy(temp, elements + last * size, size);
        std::memcpy(elements + last * size, elements, size);
        SiftDown(elements, 0, last, size, compare, temp);
    }
    std::free(temp);
}
