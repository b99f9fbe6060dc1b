#pragma once
// The process's own memory counters from /proc.
#include <cstdint>

namespace tavrix::sys {

// Sizes in bytes.
struct processMemoryCounters {
    uint64_t workingSet;
    uint64_t peakWorkingSet;
    uint64_t privateUsage;
    uint64_t peakPrivateUsage;
    uint64_t pageFaults;
};

// Reads /proc/self/status and /proc/self/stat; false when either cannot be read or parsed. The commit
// charge's peak is the largest the reads have seen.
bool queryProcessMemory(processMemoryCounters* counters);
// The same from the two files' texts, with the current commit charge as its peak.
bool parseProcessMemory(const char* status, const char* stat, processMemoryCounters* counters);

} // namespace tavrix::sys
