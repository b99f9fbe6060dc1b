#include "platformlib/posix/heap.h"

#include <sys/resource.h>

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>

using namespace tavrix::sys;

namespace {
bool alignedOn(const void* p, std::size_t alignment) { return reinterpret_cast<uintptr_t>(p) % alignment == 0; }

long minorFaultsOfThisThread()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}
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

// A load's block of several megabytes, freed and asked for again, is served from memory the process
// already has, not faulted in again page by page.
TEST(heap, largeFreedBlocksStayWithTheProcess)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's allocator stands in for the heap";
#endif
    heapKeepLargeBlocks();
    constexpr int BLOCKS = 4;
    constexpr std::size_t BYTES = 8u << 20;
    auto loadAndRelease = [] {
        void* blocks[BLOCKS];
        for (int i = 0; i < BLOCKS; ++i) {
            blocks[i] = heapAlloc(BYTES, 16);
            ASSERT_NE(blocks[i], nullptr);
            std::memset(blocks[i], i + 1, BYTES);
        }
        for (void* block : blocks)
            heapFree(block);
    };
    loadAndRelease();
    const long before = minorFaultsOfThisThread();
    loadAndRelease();
    const long pages = long(BLOCKS * BYTES / 4096);
    EXPECT_LT(minorFaultsOfThisThread() - before, pages / 20) << "of " << pages << " pages";
}
