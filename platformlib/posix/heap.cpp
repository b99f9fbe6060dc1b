#include "platformlib/posix/heap.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <malloc.h>

#include "platformlib/posix/thread.h"

namespace tavrix::sys {

namespace {
// Blocks below this (content files, decoded images) come from the heap's arenas, not from a mapping of
// their own that is faulted in on every use and unmapped on release.
constexpr std::size_t HEAP_MAPPED_FROM = 32u << 20;
// Free memory at the top of an arena is handed back to the system only beyond this, so that the blocks of a
// burst of loads are there for the next one.
constexpr std::size_t HEAP_KEPT_FREE = 256u << 20;

std::atomic<uint32_t> failuresAhead{0};
std::atomic<uint32_t> pausesTaken{0};

bool injectedFailure()
{
    uint32_t left = failuresAhead.load(std::memory_order_relaxed);
    while (left > 0)
        if (failuresAhead.compare_exchange_weak(left, left - 1, std::memory_order_relaxed))
            return true;
    return false;
}

// malloc and realloc already align on what any fundamental type needs.
bool naturallyAligned(std::size_t alignment) { return alignment <= alignof(std::max_align_t); }

void* alignedBlock(std::size_t size, std::size_t alignment)
{
    if (naturallyAligned(alignment))
        return std::malloc(size);
    void* block = nullptr;
    return posix_memalign(&block, alignment, size) == 0 ? block : nullptr;
}
} // namespace

void* heapAlloc(std::size_t size, std::size_t alignment)
{
    if (injectedFailure())
        return nullptr;
    return alignedBlock(size, alignment);
}

void* heapRealloc(void* block, std::size_t size, std::size_t alignment)
{
    if (injectedFailure())
        return nullptr;
    if (naturallyAligned(alignment))
        return std::realloc(block, size);
    // realloc would give up the alignment: move the bytes into a fresh aligned block.
    void* moved = alignedBlock(size, alignment);
    if (!moved)
        return nullptr;
    std::memcpy(moved, block, std::min(size, malloc_usable_size(block)));
    std::free(block);
    return moved;
}

void heapFree(void* block) { std::free(block); }

void heapKeepLargeBlocks()
{
    mallopt(M_MMAP_THRESHOLD, int(HEAP_MAPPED_FROM));
    mallopt(M_TRIM_THRESHOLD, int(HEAP_KEPT_FREE));
}

void heapRetryPause(uint32_t milliseconds)
{
    pausesTaken.fetch_add(1, std::memory_order_relaxed);
    sleepMs(milliseconds);
}

void heapFailNext(uint32_t count) { failuresAhead.store(count, std::memory_order_relaxed); }

uint32_t heapRetryPauses() { return pausesTaken.load(std::memory_order_relaxed); }

} // namespace tavrix::sys
