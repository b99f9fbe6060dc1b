#include "platformlib/cpuinfo.h"

#include <cstdio>
#include <cstring>

#include "platformlib/hooks.h"
#include "platformlib/posix/sysinfo.h"

namespace tavrix {

namespace {

struct requiredFeature {
    uint32_t edxBit;
    const char* message;
};

constexpr requiredFeature requiredFeatures[] = {
    {8, "[Platform] CPU as no CX8 (CMPXCHG8B) Support\n"},
    {23, "[Platform] CPU has no MMX Support\n"},
    {25, "[Platform] CPU has no SSE Support\n"},
    {26, "[Platform] CPU has no SSE2 Support\n"},
};

constexpr uint32_t ecxPclmulqdq = 1u << 1;
constexpr uint32_t ecxSsse3 = 1u << 9;
constexpr uint32_t ecxSse41 = 1u << 19;
constexpr uint32_t leaf7EbxSha = 1u << 29;

uint32_t leafRegister(uint32_t leaf, int index)
{
    uint32_t r[4];
    sys::cpuid(leaf, r);
    return r[index];
}

} // namespace

bool cpuinfo_hasCarrylessMultiply() { return leafRegister(1, 2) & ecxPclmulqdq; }

bool cpuinfo_hasShaExtensions()
{
    const uint32_t needed = ecxSsse3 | ecxSse41;
    return (leafRegister(1, 2) & needed) == needed && (leafRegister(7, 1) & leaf7EbxSha);
}

const char* cpuinfo_missingFeature(uint32_t edx)
{
    for (const requiredFeature& feature : requiredFeatures)
        if (!(edx & (1u << feature.edxBit)))
            return feature.message;
    return nullptr;
}

void cpuinfo_init()
{
    uint32_t r[4];
    sys::cpuid(0, r);
    char vendor[13];
    std::memcpy(vendor, &r[1], 4);
    std::memcpy(vendor + 4, &r[3], 4);
    std::memcpy(vendor + 8, &r[2], 4);
    vendor[12] = '\0';

    char brand[49] = {};
    for (uint32_t i = 0; i < 3; ++i) {
        sys::cpuid(0x80000002 + i, r);
        std::memcpy(brand + 16 * i, r, 16);
    }

    sys::cpuid(1, r);
    const uint32_t stepping = r[0] & 0xF;
    const uint32_t model = (r[0] >> 4) & 0xF;
    const uint32_t family = (r[0] >> 8) & 0xF;
    const uint32_t type = (r[0] >> 12) & 0x3;
    const uint32_t logicalProcessors = (r[1] >> 16) & 0xFF;
    const uint32_t features = r[3];

    PLATFORM_LOG(util::LOG_INFO, "[Platform] ~ ~ ~ ~ ~ CPU  INFO ~ ~ ~ ~ ~\n");
    PLATFORM_LOG(util::LOG_INFO, "[Platform] Vendor: %s\n", vendor);
    PLATFORM_LOG(util::LOG_INFO, "[Platform] Branding: %s\n", brand);
    PLATFORM_LOG(util::LOG_INFO, "[Platform] Stepping: %u, Model %u, Family %u, Type %u\n", stepping, model, family,
                 type);
    PLATFORM_LOG(util::LOG_INFO, "[Platform] Logical Processors: %u\n", logicalProcessors);
    PLATFORM_LOG(util::LOG_INFO, "[Platform] ~ ~ ~ ~ ~ ~ ~ ~ ~ ~ ~ ~ ~ ~ ~\n");

    if (const char* missing = cpuinfo_missingFeature(features)) {
        // The process ends right away: the reason must reach the log file and the terminal.
        PLATFORM_LOG(util::LOG_ERROR, "%s", missing);
        std::fputs(missing, stderr);
        platform_flushAndExit(1);
    }

    sys::performanceInfo info;
    if (!sys::queryPerformanceInfo(&info))
        return;
    const uint64_t availableMiB = info.physicalAvailableBytes / 1024 / 1024;
    const uint64_t totalMiB = info.physicalTotalBytes / 1024 / 1024;
    PLATFORM_LOG(util::LOG_INFO, "[Platform] System Memory Available: %u MiB / %u MiB\n", uint32_t(availableMiB),
                 uint32_t(totalMiB));
    PLATFORM_LOG(util::LOG_INFO, "[Platform] System has %u Processes and %u Threads running\n", info.processCount,
                 info.threadCount);
}

} // namespace tavrix
