#pragma once
// The aligned heap under the tracking allocator, with a seam that lets tests make it refuse requests.
#include <cstddef>
#include <cstdint>

namespace tavrix::sys {

// Alignment is a power of two; null when the heap cannot serve the request.
void* heapAlloc(std::size_t size, std::size_t alignment);
// Keeps the bytes the block and the new size have in common; on failure the block stays as it was.
void* heapRealloc(void* block, std::size_t size, std::size_t alignment);
void heapFree(void* block);

// Start-up: large blocks come from the heap's own memory, and freed memory stays with the process, so that
// a large block freed and asked for again is not faulted in anew, page by page.
void heapKeepLargeBlocks();

// The pause a caller takes before it asks again after the heap refused a request.
void heapRetryPause(uint32_t milliseconds);

// Test seam: the next `count` allocations and reallocations fail as if memory were exhausted.
void heapFailNext(uint32_t count);
// Retry pauses taken since the process started.
uint32_t heapRetryPauses();

} // namespace tavrix::sys
