#pragma once
// Reports of the process's state for the log.
#include "platformlib/posix/procstat.h"

// The process's memory use in five INFO lines (whole MiB, rounded down); any thread.
void debug_logProcessMemoryStats();
// The same report for counters already read; null gives the failure line.
void debug_logMemoryCounters(const tavrix::sys::processMemoryCounters* counters);
