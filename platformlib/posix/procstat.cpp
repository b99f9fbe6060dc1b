#include "platformlib/posix/procstat.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The whole of a small /proc file, NUL-terminated; false when it cannot be read or does not fit.
bool readSmallFile(const char* path, char* buffer, size_t size)
{
    FILE* file = std::fopen(path, "rb");
    if (!file)
        return false;
    const size_t got = std::fread(buffer, 1, size - 1, file);
    const bool whole = std::feof(file) && !std::ferror(file);
    std::fclose(file);
    buffer[got] = '\0';
    return whole;
}

// A "Name:   1234 kB" line of /proc/self/status, in bytes.
bool statusField(const char* status, const char* name, uint64_t* bytes)
{
    const size_t nameLen = std::strlen(name);
    for (const char* line = status; *line;) {
        if (std::strncmp(line, name, nameLen) == 0 && line[nameLen] == ':') {
            char* end = nullptr;
            const unsigned long long kib = std::strtoull(line + nameLen + 1, &end, 10);
            if (end == line + nameLen + 1)
                return false;
            *bytes = uint64_t(kib) * 1024;
            return true;
        }
        const char* next = std::strchr(line, '\n');
        if (!next)
            break;
        line = next + 1;
    }
    return false;
}

// Minor and major faults, fields 10 and 12 of /proc/self/stat. The command name (field 2) may hold
// spaces and parentheses, so counting starts after its last ')'.
bool statFaults(const char* stat, uint64_t* faults)
{
    const char* p = std::strrchr(stat, ')');
    if (!p)
        return false;
    ++p;
    unsigned long long minor = 0, major = 0;
    for (int field = 3; field <= 12; ++field) {
        char* end = nullptr;
        while (*p == ' ')
            ++p;
        if (!*p)
            return false;
        if (field == 10 || field == 12) {
            const unsigned long long value = std::strtoull(p, &end, 10);
            if (end == p)
                return false;
            (field == 10 ? minor : major) = value;
            p = end;
        } else {
            while (*p && *p != ' ')
                ++p;
        }
    }
    *faults = uint64_t(minor + major);
    return true;
}

} // namespace

namespace tavrix::sys {

// The Windows counters these stand for: working set = VmRSS, peak working set = VmHWM; private usage
// (commit charge) = VmData + VmStk, the private writable memory, where VmSize would count every reserved
// address range too; page faults = minor + major faults, as Windows counts soft faults too. Linux keeps no
// peak of the commit charge: the texts give the current one as their peak.
bool parseProcessMemory(const char* status, const char* stat, processMemoryCounters* counters)
{
    processMemoryCounters c{};
    uint64_t data = 0;
    uint64_t stack = 0;
    if (!statusField(status, "VmRSS", &c.workingSet) || !statusField(status, "VmHWM", &c.peakWorkingSet) ||
        !statusField(status, "VmData", &data) || !statusField(status, "VmStk", &stack) || !statFaults(stat, &c.pageFaults))
        return false;
    c.privateUsage = data + stack;
    c.peakPrivateUsage = c.privateUsage;
    *counters = c;
    return true;
}

// The commit charge's peak is the largest any read of this process has seen.
bool queryProcessMemory(processMemoryCounters* counters)
{
    static std::atomic<uint64_t> peakPrivateUsage{0};
    char status[8192];
    char stat[2048];
    if (!readSmallFile("/proc/self/status", status, sizeof(status)) ||
        !readSmallFile("/proc/self/stat", stat, sizeof(stat)) || !parseProcessMemory(status, stat, counters))
        return false;
    uint64_t peak = peakPrivateUsage.load();
    while (peak < counters->privateUsage && !peakPrivateUsage.compare_exchange_weak(peak, counters->privateUsage)) {
    }
    counters->peakPrivateUsage = peak > counters->privateUsage ? peak : counters->privateUsage;
    return true;
}

} // namespace tavrix::sys
