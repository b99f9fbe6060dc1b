#include "client/uiwebkitallocator.h"

#include <atomic>
#include <cstring>

#include "platformlib/posix/vmem.h"

namespace tavrix {
namespace {

// Every block carries this in the 16 bytes before the engine's pointer, so that Free and Realloc find the
// tracked block under an aligned one. The tracked block itself is 16-byte aligned.
struct blockPrefix {
    void* tracked;
    uint32_t size;
    uint32_t alignment;
};
static_assert(sizeof(blockPrefix) == 16);
constexpr size_t NATURAL_ALIGNMENT = 16;

// The engine's sizes are size_t; the tracking allocator takes 32 bits.
constexpr size_t MAX_BLOCK = UINT32_MAX - 2 * NATURAL_ALIGNMENT;

blockPrefix* prefixOf(void* p) { return static_cast<blockPrefix*>(p) - 1; }

std::atomic<int64_t> pageSize{-1};

} // namespace

void* uiWebKitAllocator::Malloc(size_t size, int, const char*)
{
    return MallocAligned(size, NATURAL_ALIGNMENT, 0, 0, nullptr);
}

void* uiWebKitAllocator::MallocAligned(size_t size, size_t alignment, size_t, int, const char*)
{
    if (alignment < NATURAL_ALIGNMENT)
        alignment = NATURAL_ALIGNMENT;
    const size_t slack = alignment == NATURAL_ALIGNMENT ? 0 : alignment;
    if (size > MAX_BLOCK - slack)
        return nullptr;
    char* tracked = static_cast<char*>(roalloc(uint32_t(size + sizeof(blockPrefix) + slack)));
    const uintptr_t first = reinterpret_cast<uintptr_t>(tracked) + sizeof(blockPrefix);
    void* p = reinterpret_cast<void*>((first + alignment - 1) & ~uintptr_t(alignment - 1));
    *prefixOf(p) = blockPrefix{tracked, uint32_t(size), uint32_t(alignment)};
    return p;
}

void uiWebKitAllocator::Free(void* p, size_t)
{
    if (p)
        rofree(prefixOf(p)->tracked);
}

void* uiWebKitAllocator::Realloc(void* p, size_t size, int)
{
    if (!p)
        return Malloc(size, 0, nullptr);
    const blockPrefix old = *prefixOf(p);
    if (old.alignment == NATURAL_ALIGNMENT) {
        if (size > MAX_BLOCK)
            return nullptr;
        char* tracked = static_cast<char*>(rorealloc(old.tracked, uint32_t(size + sizeof(blockPrefix))));
        void* moved = tracked + sizeof(blockPrefix);
        *prefixOf(moved) = blockPrefix{tracked, uint32_t(size), old.alignment};
        return moved;
    }
    void* moved = MallocAligned(size, old.alignment, 0, 0, nullptr);
    if (!moved)
        return nullptr;
    std::memcpy(moved, p, size < old.size ? size : old.size);
    Free(p, old.size);
    return moved;
}

void uiWebKitAllocator::Trim() {}

bool uiWebKitAllocator::SupportsOSMemoryManagement() { return false; }

size_t uiWebKitAllocator::SystemPageSize()
{
    int64_t cached = pageSize.load();
    if (cached == -1) {
        cached = int64_t(sys::getPageSize());
        pageSize.store(cached);
    }
    return size_t(cached);
}

} // namespace tavrix
