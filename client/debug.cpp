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
    auto* out = tavrix::getLogger();
    if (!counters) {
        out->logEx(LOG_WARN, __FILE__, __LINE__, TAVRIX_FUNC, "logProcessMemoryStats: Failed to retrieve Memory Counters [2]\n");
        return;
    }
    out->logEx(LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "-=-=-=-=- Process Memory Stats =--=-=-=-\n");
    out->logEx(LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "Working Set: %u MiB (Peak: %u MiB)\n",
               mebibytes(counters->workingSet), mebibytes(counters->peakWorkingSet));
    out->logEx(LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "Commit Charge: %u MiB (Peak: %u MiB)\n",
               mebibytes(counters->privateUsage), mebibytes(counters->peakPrivateUsage));
    out->logEx(LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "Page Faults: %u\n", uint32_t(counters->pageFaults));
    out->logEx(LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "-=-=--=-=--=-=--=-=--=-=--=-=--=-=--=-=-\n");
}
