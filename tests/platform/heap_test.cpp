#include "platformlib/posix/heap.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>

using namespace tavrix::sys;

namespace {
bool alignedOn(const void* p, std::size_t alignment) { return reinterpret_cast<uintptr_t>(p) % alignment == 0; }
} // namespace

TEST(heap, keepsAlignmentAndBytesThroughGrowth)
{
    for (std::size_t alignment : {8u, 16u, 64u, 4096u}) {
        SCOPED_TRACE(alignment);
        auto* block = static_cast<uint8_t*>(heapAlloc(100, alignment));
        ASSERT_NE(block, nullptr);
        EXPECT_TRUE(alignedOn(block, alignment));
        for (int i = 0; i < 100; ++i)
            block[i] = uint8_t(i);
        auto* grown = static_cast<uint8_t*>(heapRealloc(block, 1 << 20, alignment));
        ASSERT_NE(grown, nullptr);
        EXPECT_TRUE(alignedOn(grown, alignment));
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(grown[i], uint8_t(i));
        heapFree(grown);
    }
}

TEST(heap, injectedFailuresRefuseExactlyTheNextRequests)
{
    auto* block = static_cast<char*>(heapAlloc(32, 16));
    ASSERT_NE(block, nullptr);
    std::strcpy(block, "kept");

    heapFailNext(3);
    EXPECT_EQ(heapAlloc(32, 16), nullptr);
    EXPECT_EQ(heapRealloc(block, 64, 16), nullptr);
    EXPECT_EQ(heapAlloc(32, 4096), nullptr);
    EXPECT_STREQ(block, "kept"); // a refused growth leaves the block as it was

    void* next = heapAlloc(32, 16);
    EXPECT_NE(next, nullptr);
    heapFree(next);
    heapFree(block);
}

TEST(heap, countsRetryPauses)
{
    const uint32_t before = heapRetryPauses();
    heapRetryPause(1);
    heapRetryPause(1);
    EXPECT_EQ(heapRetryPauses() - before, 2u);
}
