#pragma once
#include <cstdint>

namespace tavrix {
// Logs the processor report; ends the process when a required instruction set is missing.
void cpuinfo_init();
// The report line for the first required feature missing from the identification leaf 1 EDX bits
// (CX8, MMX, SSE, SSE2 in that order), or null when all are present.
const char* cpuinfo_missingFeature(uint32_t edx);
} // namespace tavrix
