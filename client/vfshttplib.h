#pragma once
// One HTTP GET into memory for the content update: the version file, the file list and every content file.
#include <cstdint>

#include "platformlib/allocator/roalloc.h"

namespace tavrix::vfsHttpLib {

// Bytes received so far, the announced total and the recent rate in bytes per second.
typedef void (*httpProgressCallback)(uint32_t received, uint32_t total, uint32_t rate);

// Blocks until the whole body is in. The body is NUL-terminated behind its `size` bytes, in a block of the
// tracking allocator that the caller owns; null when anything fails, which is logged. size is 0 then.
// A Content-Length of 0 is a failure unless emptyBodyValid is set (an empty file is then a valid answer).
roPtr<char> httpGET(const char* url, uint32_t* size, httpProgressCallback progress = nullptr,
                    bool emptyBodyValid = false);

// The HTTP library's process-wide set-up and clean-up.
void init();
void final();

// Largest Content-Length a body is accepted with.
constexpr uint32_t MAX_CONTENT_LENGTH = 512u << 20;

// When progress is reported: the rate is the bytes of the last window of a little over 500 ms, doubled,
// and calls are at least 31 ms apart. Times are milliseconds of one clock, all zero at first.
struct progressPacer {
    uint32_t windowStart = 0;
    uint32_t windowStartBytes = 0;
    uint32_t rate = 0;
    uint32_t lastCall = 0;
};

// Called after every read with the clock and the bytes received; true when progress is to be reported now,
// with pacer.rate.
bool paceProgress(progressPacer& pacer, uint32_t now, uint32_t received);

// Test seams. The stall limit is how long a transfer may go without receiving a byte before it is given up
// (seconds, 30 by default); the clock is what progress is paced on (tavrix::getTimeMs by default, null
// restores it).
void setStallLimit(uint32_t seconds);
void setProgressClock(int32_t (*clock)());

} // namespace tavrix::vfsHttpLib
