#pragma once
#include <cstdint>

namespace tavrix {
// Logs the processor report; ends the process when a required instruction set is missing.
void cpuinfo_init();
// The report line for the first required feature missing from the identification leaf 1 EDX bits
// (CX8, MMX, SSE, SSE2 in that order), or null when all are present.
const char* cpuinfo_missingFeature(uint32_t edx);
// Optional instruction sets that the checksums use where the processor has them: carry-less multiply
// (PCLMULQDQ) and the SHA extensions together with SSSE3 and SSE4.1, which the SHA-256 code also needs.
bool cpuinfo_hasCarrylessMultiply();
bool cpuinfo_hasShaExtensions();
} // namespace tavrix
