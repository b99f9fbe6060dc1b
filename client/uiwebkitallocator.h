#pragma once
// The engine's allocator interface over the tracking allocator.
#include <cstddef>
#include <cstdint>

#include "platformlib/allocator/roalloc.h"
#include "webengine/eawebkit.h"

namespace tavrix {

class uiWebKitAllocator : public wkAllocatorBase, public roAlloc {
public:
    uiWebKitAllocator() = default;
    ~uiWebKitAllocator() override = default;

    void* Malloc(size_t size, int flags, const char* name) override;
    // Honours the alignment (a power of two).
    void* MallocAligned(size_t size, size_t alignment, size_t alignmentOffset, int flags, const char* name) override;
    void Free(void* p, size_t size) override;
    void* Realloc(void* p, size_t size, int flags) override;
    void Trim() override;
    bool SupportsOSMemoryManagement() override;
    size_t SystemPageSize() override;
};

} // namespace tavrix
