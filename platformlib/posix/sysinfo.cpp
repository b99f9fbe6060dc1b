#include "platformlib/posix/sysinfo.h"

#include <cpuid.h>
#include <dirent.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tavrix::sys {

bool cpuid(uint32_t leaf, uint32_t registers[4])
{
    unsigned int a = 0, b = 0, c = 0, d = 0;
    const bool offered = __get_cpuid_count(leaf, 0, &a, &b, &c, &d) != 0;
    registers[0] = offered ? a : 0;
    registers[1] = offered ? b : 0;
    registers[2] = offered ? c : 0;
    registers[3] = offered ? d : 0;
    return offered;
}

namespace {

// Reads "Key:   <n> kB" lines of /proc/meminfo.
bool readMemInfo(uint64_t* totalBytes, uint64_t* availableBytes)
{
    FILE* f = std::fopen("/proc/meminfo", "r");
    if (!f)
        return false;
    bool haveTotal = false, haveAvailable = false;
    char line[256];
    while (std::fgets(line, sizeof(line), f)) {
        unsigned long long kb = 0;
        if (std::sscanf(line, "MemTotal: %llu kB", &kb) == 1) {
            *totalBytes = uint64_t(kb) * 1024;
            haveTotal = true;
        } else if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
            *availableBytes = uint64_t(kb) * 1024;
            haveAvailable = true;
        }
    }
    std::fclose(f);
    return haveTotal && haveAvailable;
}

// Thread count of one process: field 20 of /proc/<pid>/stat, counted after the command name's ')'
// (the name itself may hold spaces and parentheses). False when the process is already gone.
bool readThreadCount(const char* pid, uint32_t* threads)
{
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/%s/stat", pid);
    FILE* f = std::fopen(path, "r");
    if (!f)
        return false;
    char buffer[1024];
    const size_t n = std::fread(buffer, 1, sizeof(buffer) - 1, f);
    std::fclose(f);
    buffer[n] = '\0';
    const char* p = std::strrchr(buffer, ')');
    if (!p)
        return false;
    ++p;
    // Fields after the name start at 3 (state); num_threads is field 20.
    for (int field = 3; field < 20; ++field) {
        while (*p == ' ')
            ++p;
        while (*p && *p != ' ')
            ++p;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(p, &end, 10);
    if (end == p)
        return false;
    *threads = uint32_t(value);
    return true;
}

bool isPid(const char* name)
{
    if (!*name)
        return false;
    for (; *name; ++name)
        if (*name < '0' || *name > '9')
            return false;
    return true;
}

} // namespace

bool queryPerformanceInfo(performanceInfo* info)
{
    performanceInfo result{};
    if (!readMemInfo(&result.physicalTotalBytes, &result.physicalAvailableBytes))
        return false;
    DIR* proc = opendir("/proc");
    if (!proc)
        return false;
    while (const dirent* entry = readdir(proc)) {
        uint32_t threads = 0;
        if (isPid(entry->d_name) && readThreadCount(entry->d_name, &threads)) {
            ++result.processCount;
            result.threadCount += threads;
        }
    }
    closedir(proc);
    *info = result;
    return true;
}

// Up to three dot-separated numbers from the start of the release; parsing stops at the first other byte.
bool queryOSVersion(osVersion* version)
{
    *version = osVersion{0, 0, 0};
    utsname names;
    if (uname(&names) != 0)
        return false;
    uint32_t* parts[] = {&version->major, &version->minor, &version->build};
    const char* p = names.release;
    for (uint32_t* part : parts) {
        if (*p < '0' || *p > '9')
            break;
        char* end = nullptr;
        *part = uint32_t(std::strtoul(p, &end, 10));
        p = end;
        if (*p != '.')
            break;
        ++p;
    }
    return true;
}

void exitProcess(int status) { _exit(status); }

} // namespace tavrix::sys
