#include "platformlib/posix/debugger.h"

#include <csignal>
#include <cstdio>

namespace tavrix::sys {

bool debuggerAttached()
{
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return false;
    char line[256];
    long tracer = 0;
    while (std::fgets(line, sizeof(line), status))
        if (std::sscanf(line, "TracerPid: %ld", &tracer) == 1)
            break;
    std::fclose(status);
    return tracer != 0;
}

void debugBreak() { std::raise(SIGTRAP); }

} // namespace tavrix::sys
