#include "platformlib/allocator/pool.h"

#include <cstdarg>
#include <cstdio>

// The client's process memory report; absent from programs built without the client.
void debug_logProcessMemoryStats() __attribute__((weak));

poolFatalText poolFatalReport(const char* format, ...)
{
    if (debug_logProcessMemoryStats)
        debug_logProcessMemoryStats();
    poolFatalText message;
    va_list args;
    va_start(args, format);
    std::vsnprintf(message.text, sizeof(message.text), format, args);
    va_end(args);
    return message;
}
