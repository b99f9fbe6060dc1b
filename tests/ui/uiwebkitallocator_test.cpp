// The engine's allocator over the tracking allocator: alignment honoured, contents kept, nothing leaked.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "client/uiwebkitallocator.h"
#include "support/modulerun.h"

namespace tavrix::test {
namespace {

class webKitAllocatorTest : public moduleTest {
protected:
    void SetUp() override { start({ALLOCATOR}); }
};

bool alignedTo(const void* p, size_t alignment) { return reinterpret_cast<uintptr_t>(p) % alignment == 0; }

TEST_F(webKitAllocatorTest, alignedBlocksHonourTheirAlignmentThroughRealloc)
{
    uiWebKitAllocator allocator;
    for (size_t alignment : {size_t(1), size_t(8), size_t(16), size_t(32), size_t(64), size_t(256), size_t(4096)}) {
        auto* block = static_cast<uint8_t*>(allocator.MallocAligned(100, alignment, 0, 0, "test"));
        ASSERT_NE(nullptr, block);
        EXPECT_TRUE(alignedTo(block, alignment < 16 ? 16 : alignment)) << alignment;
        for (int i = 0; i < 100; ++i)
            block[i] = uint8_t(i);
        auto* grown = static_cast<uint8_t*>(allocator.Realloc(block, 5000, 0));
        EXPECT_TRUE(alignedTo(grown, alignment < 16 ? 16 : alignment)) << alignment;
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(uint8_t(i), grown[i]) << alignment;
        std::memset(grown, 0xAB, 5000);
        auto* shrunk = static_cast<uint8_t*>(allocator.Realloc(grown, 10, 0));
        EXPECT_EQ(0xAB, shrunk[9]);
        allocator.Free(shrunk, 10);
    }
}

TEST_F(webKitAllocatorTest, plainBlocksAndTheEdges)
{
    uiWebKitAllocator allocator;
    void* block = allocator.Malloc(0, 0, "empty");
    EXPECT_NE(nullptr, block);
    allocator.Free(block, 0);
    allocator.Free(nullptr, 0);
    void* fromNothing = allocator.Realloc(nullptr, 64, 0);
    EXPECT_TRUE(alignedTo(fromNothing, 16));
    allocator.Free(fromNothing, 64);
    EXPECT_EQ(nullptr, allocator.Malloc(size_t(1) << 40, 0, "too large"));
    EXPECT_EQ(size_t(sysconf(_SC_PAGESIZE)), allocator.SystemPageSize());
    EXPECT_FALSE(allocator.SupportsOSMemoryManagement());
}

} // namespace
} // namespace tavrix::test
