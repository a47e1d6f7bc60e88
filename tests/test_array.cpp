#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "common/base/array.h"
#include "common/base/errors.h"
#include "common/base/heapsort.h"
#include "tests/support/base_support.h"

namespace {

TEST(ArrayGrowth, CapacitiesFollowTheGrowthRule)
{
    Array<wchar_t> a;
    EXPECT_EQ(nullptr, a.Data);
    EXPECT_EQ(0u, a.Count);
    EXPECT_EQ(0u, a.Capacity);

    a.Grow(1);
    EXPECT_EQ(1u, a.Count);
    EXPECT_EQ(32u, a.Capacity);
    a.Grow(31);
    EXPECT_EQ(32u, a.Capacity);  // still fits
    for (uint64_t i = 0; i < a.Count; i++)
        a[i] = static_cast<wchar_t>(L'a' + i % 26);
    a.Grow(1);
    EXPECT_EQ(33u, a.Count);
    EXPECT_EQ(72u, a.Capacity);  // 32 + 32 / 4 + 32
    for (uint64_t i = 0; i < 32; i++)
        EXPECT_EQ(static_cast<wchar_t>(L'a' + i % 26), a[i]) << "lost in the reallocation at " << i;
    a.Grow(40);
    EXPECT_EQ(122u, a.Capacity);  // 72 + 18 + 32

    Array<uint8_t> big;
    big.Grow(1000);
    EXPECT_EQ(1000u, big.Capacity);
    EXPECT_EQ(1000u, big.Count);

    Array<void*> sized(5);
    EXPECT_EQ(5u, sized.Count);
    EXPECT_EQ(32u, sized.Capacity);
    sized.SetCount(2);
    EXPECT_EQ(2u, sized.Count);
    EXPECT_EQ(32u, sized.Capacity);
    sized.SetCount(40);
    EXPECT_EQ(40u, sized.Count);
    EXPECT_EQ(72u, sized.Capacity);
    sized.Free();
    EXPECT_EQ(nullptr, sized.Data);
    EXPECT_EQ(0u, sized.Capacity);

    Array<int> none(0);
    EXPECT_EQ(nullptr, none.Data);
}

TEST(ArrayGrowth, ExhaustedMemoryRaisesExitEightAndKeepsTheArray)
{
    testsupport::ErrorReports reports;
    Array<uint64_t> a;
    a.Grow(3);
    // More than the address space can hold, and a count that would wrap.
    EXPECT_THROW(a.Grow(UINT64_MAX / 4), ZVX_EXIT);
    EXPECT_THROW(a.Grow(UINT64_MAX - 1), ZVX_EXIT);
    // Fits in size_t but no allocator can give it.
    Array<uint8_t> bytes;
    try {
        bytes.Grow(uint64_t(1) << 62);
        ADD_FAILURE() << "an allocation of 4 EiB succeeded";
    } catch (ZVX_EXIT code) {
        EXPECT_EQ(8u, static_cast<uint32_t>(code));
    }
    EXPECT_EQ(3u, a.Count);
    EXPECT_EQ(32u, a.Capacity);
    EXPECT_EQ(0u, bytes.Count);
    ASSERT_EQ(3u, reports.Reports().size());
    for (const auto& report : reports.Reports())
        EXPECT_EQ(kMessageOutOfMemory, report.first);
}

int CompareInts(const void* a, const void* b)
{
    int x = *static_cast<const int*>(a);
    int y = *static_cast<const int*>(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

int CompareIntsDescending(const void* a, const void* b)
{
    return CompareInts(b, a);
}

// An element whose size is neither a power of two nor a word.
struct Record {
    char key[3];
    char payload[4];
};

int CompareRecords(const void* a, const void* b)
{
    return std::memcmp(static_cast<const Record*>(a)->key, static_cast<const Record*>(b)->key, 3);
}

TEST(HeapSort, SmallCountsAreLeftAlone)
{
    HeapSort(nullptr, 0, sizeof(int), CompareInts);  // touches nothing
    int one = 7;
    HeapSort(&one, 1, sizeof one, CompareInts);
    EXPECT_EQ(7, one);
    int two[2] = {9, 3};
    HeapSort(two, 2, sizeof(int), CompareInts);
    EXPECT_EQ(3, two[0]);
    EXPECT_EQ(9, two[1]);
    HeapSort(two, 2, sizeof(int), CompareInts);
    EXPECT_EQ(3, two[0]);
    EXPECT_EQ(9, two[1]);
}

TEST(HeapSort, MatchesStdSortOnRandomDataWithDuplicates)
{
    for (uint32_t seed : {1u, 2u, 3u, 42u, 2024u}) {
        std::mt19937 random(seed);
        for (size_t count : {3u, 4u, 5u, 16u, 17u, 100u, 1023u, 5000u}) {
            std::vector<int> values(count);
            std::uniform_int_distribution<int> pick(-50, 50);  // many duplicates
            for (int& v : values)
                v = pick(random);
            std::vector<int> expected = values;
            std::sort(expected.begin(), expected.end());
            HeapSort(values.data(), values.size(), sizeof(int), CompareInts);
            EXPECT_EQ(expected, values) << "seed " << seed << ", " << count << " elements";

            HeapSort(values.data(), values.size(), sizeof(int), CompareIntsDescending);
            std::reverse(expected.begin(), expected.end());
            EXPECT_EQ(expected, values) << "descending, seed " << seed << ", " << count << " elements";
        }
    }

    // Records travel whole: every payload stays with its key.
    std::mt19937 random(7);
    std::vector<Record> records(777);
    for (size_t i = 0; i < records.size(); i++) {
        uint32_t k = random() % 200;
        records[i].key[0] = static_cast<char>('a' + k / 100);
        records[i].key[1] = static_cast<char>('a' + (k / 10) % 10);
        records[i].key[2] = static_cast<char>('a' + k % 10);
        std::memcpy(records[i].payload, records[i].key, 3);
        records[i].payload[3] = static_cast<char>(i % 128);
    }
    std::vector<Record> expected = records;
    std::stable_sort(expected.begin(), expected.end(),
                     [](const Record& x, const Record& y) { return CompareRecords(&x, &y) < 0; });
    static_assert(sizeof(Record) == 7, "Record is packed");
    HeapSort(records.data(), records.size(), sizeof(Record), CompareRecords);
    for (size_t i = 0; i < records.size(); i++) {
        EXPECT_EQ(0, std::memcmp(expected[i].key, records[i].key, 3)) << "at " << i;
        EXPECT_EQ(0, std::memcmp(records[i].key, records[i].payload, 3)) << "payload moved apart at " << i;
    }
    // The same multiset of records (the sort is not stable, so order within a key may differ).
    auto whole = [](const Record& x, const Record& y) { return std::memcmp(&x, &y, sizeof(Record)) < 0; };
    std::sort(expected.begin(), expected.end(), whole);
    std::vector<Record> sortedRecords = records;
    std::sort(sortedRecords.begin(), sortedRecords.end(), whole);
    EXPECT_EQ(0, std::memcmp(expected.data(), sortedRecords.data(), expected.size() * sizeof(Record)));
}

}  // namespace
