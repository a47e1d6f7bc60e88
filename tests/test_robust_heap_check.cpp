// The heap checker that the randomised tests run under must see an overrun of
// one byte; this test makes one on purpose. It is disabled in the normal run and
// started alone by the test robust_heap_check_sees_an_overrun, which passes only
// when heap-check.sh reports the damage.
#include <gtest/gtest.h>

#include <cstdlib>

TEST(HeapCheck, DISABLED_OneByteOverrunIsReported)
{
    volatile size_t size = 24;
    char* block = static_cast<char*>(std::malloc(size));
    ASSERT_NE(nullptr, block);
    volatile char* bytes = block;
    char saved = bytes[size];
    bytes[size] = 'x';
    // Any heap call now validates the heap and reports the damaged block.
    std::free(std::malloc(8));
    // Repaired, so that the rest of the run can still allocate.
    bytes[size] = saved;
    std::free(block);
}
