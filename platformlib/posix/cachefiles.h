#pragma once
// Replacing a cache entry's file whole.
#include <cstdint>

namespace tavrix::sys {

// Writes head and then body to a new file beside the path and renames it over the path, so that the path
// holds either its old contents or all of the new ones; false (and the path untouched) on any failure.
// Not flushed to the disk: for data that can be made again and is checked when it is read.
bool replaceFileWith(const char* path, const void* head, uint32_t headBytes, const void* body, uint32_t bodyBytes);

} // namespace tavrix::sys
