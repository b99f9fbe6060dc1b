#include "client/debug.h"

#include "client/clientlogger.h"

namespace {
uint32_t mebibytes(uint64_t bytes) { return uint32_t(bytes >> 20); }
} // namespace

void debug_logProcessMemoryStats()
{
    tavrix::sys::processMemoryCounters counters;
    debug_logMemoryCounters(tavrix::sys::queryProcessMemory(&counters) ? &counters : nullptr);
}

void debug_logMemoryCounters(const tavrix::sys::processMemoryCounters* counters)
{
    using namespace tavrix::util;
    if (!counters) {
        CLIENT_LOG(LOG_WARN, "logProcessMemoryStats: Failed to retrieve Memory Counters [2]\n");
        return;
    }
    CLIENT_LOG(LOG_INFO, "-=-=-=-=- Process Memory Stats =--=-=-=-\n");
    CLIENT_LOG(LOG_INFO, "Working Set: %u MiB (Peak: %u MiB)\n",
               mebibytes(counters->workingSet), mebibytes(counters->peakWorkingSet));
    CLIENT_LOG(LOG_INFO, "Commit Charge: %u MiB (Peak: %u MiB)\n",
               mebibytes(counters->privateUsage), mebibytes(counters->peakPrivateUsage));
    CLIENT_LOG(LOG_INFO, "Page Faults: %u\n", uint32_t(counters->pageFaults));
    CLIENT_LOG(LOG_INFO, "-=-=--=-=--=-=--=-=--=-=--=-=--=-=--=-=-\n");
}
