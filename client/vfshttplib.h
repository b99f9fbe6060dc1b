#pragma once
// One HTTP GET into memory for the content update: the version file, the file list and every content file.
#include <cstdint>

#include "platformlib/allocator/roalloc.h"

namespace tavrix::vfsHttpLib {

// Bytes received so far, the announced total and the average rate so far in bytes per second.
typedef void (*httpProgressCallback)(uint32_t received, uint32_t total, uint32_t rate);

// What a request may be.
enum requestFlags : uint32_t {
    // A Content-Length of 0 is a valid answer (an empty file); otherwise it is a failure.
    EMPTY_BODY_VALID = 1,
    // A small query (the version, the file list): bounded to QUERY_LIMIT_MS in all.
    SMALL_QUERY = 2,
};

// Every transfer is given up when it averages under MIN_AVERAGE_SPEED bytes per second over a window of
// SPEED_WINDOW_MS, when a small query takes longer than QUERY_LIMIT_MS, and when the client shuts down.
constexpr uint32_t MIN_AVERAGE_SPEED = 1024;
constexpr uint32_t SPEED_WINDOW_MS = 30000;
constexpr uint32_t QUERY_LIMIT_MS = 60000;

// Blocks until the whole body is in. The body is NUL-terminated behind its `size` bytes, in a block of the
// tracking allocator that the caller owns; null when anything fails, which is logged. size is 0 then.
roPtr<char> httpGET(const char* url, uint32_t* size, httpProgressCallback progress = nullptr, uint32_t flags = 0);

// The HTTP library's process-wide set-up and clean-up. final ends the transfers under way as
// abortTransfers does, and leaves the library set up while one has not returned yet.
void init();
void final();
// Ends every transfer under way and fails every later one at once, until init: the client calls it when it
// begins to shut down, so that no download holds the start-up or a loading thread. Any thread.
void abortTransfers();

// Largest Content-Length a body is accepted with.
constexpr uint32_t MAX_CONTENT_LENGTH = 512u << 20;

// When progress is reported and at what rate: calls are at least 31 ms apart, each with the average rate
// of the transfer so far. Times are milliseconds of one clock; the last call's is zero at first.
struct progressPacer {
    uint32_t started = 0; // when the transfer began
    uint32_t rate = 0;
    uint32_t lastCall = 0;
};

// Bytes per second of `bytes` received in `elapsedMs`, at most UINT32_MAX. Bytes within the same
// millisecond count as taking one: the clock tells no less.
uint32_t averageRate(uint64_t bytes, uint32_t elapsedMs);

// Called after every read with the clock and the bytes received; true when progress is to be reported now,
// with pacer.rate.
bool paceProgress(progressPacer& pacer, uint32_t now, uint32_t received);

// Test seams: the speed window and the small queries' limit in milliseconds (the constants above by
// default); the clock that progress is paced on (tavrix::getTimeMs by default, null restores it).
void setTransferBounds(uint32_t speedWindowMs, uint32_t queryLimitMs);
void setProgressClock(int32_t (*clock)());

} // namespace tavrix::vfsHttpLib
