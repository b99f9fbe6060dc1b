#pragma once
// Processor identification, the machine's memory and load, and ending the process at once.
#include <cstdint>

namespace tavrix::sys {

// The four registers of processor identification leaf `leaf`, sub-leaf 0 (EAX, EBX, ECX, EDX); false,
// with all four zero, when the processor does not offer the leaf.
bool cpuid(uint32_t leaf, uint32_t registers[4]);

struct performanceInfo {
    uint64_t physicalTotalBytes;
    uint64_t physicalAvailableBytes;
    uint32_t processCount;
    uint32_t threadCount;
};

// Memory from /proc/meminfo, processes and their threads from /proc; false when /proc cannot be read.
bool queryPerformanceInfo(performanceInfo* info);

// The kernel's release as three numbers ("6.1.0-18-amd64" gives 6, 1, 0); a number the release does not
// hold reads 0. False, with all three 0, when uname fails.
struct osVersion {
    uint32_t major;
    uint32_t minor;
    uint32_t build;
};
bool queryOSVersion(osVersion* version);

// Ends the process with the status without running exit handlers or destructors.
[[noreturn]] void exitProcess(int status);

} // namespace tavrix::sys
