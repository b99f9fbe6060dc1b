#pragma once
#include <cstdarg>
#include <cstdint>

namespace tavrix::util {

// Log levels are bit flags; a record carries one, hooks and files a mask.
enum logLevel : uint32_t {
    LOG_INFO = 1,
    LOG_WARN = 2,
    LOG_ERROR = 4,
    LOG_MEMMGR = 8,
    LOG_DEBUG = 16,
};

// What every module logs through. A logger implements vlogEx and flush; log and logEx are its two forms.
class loggerInterface {
public:
    // Without a source location: no file, line 0, no function.
    void log(uint32_t level, const char* format, ...) __attribute__((format(printf, 3, 4)))
    {
        va_list args;
        va_start(args, format);
        vlogEx(level, nullptr, 0, nullptr, format, args);
        va_end(args);
    }
    void logEx(uint32_t level, const char* file, int32_t line, const char* function, const char* format, ...)
        __attribute__((format(printf, 6, 7)))
    {
        va_list args;
        va_start(args, format);
        vlogEx(level, file, line, function, format, args);
        va_end(args);
    }

    virtual void vlogEx(uint32_t level, const char* file, int32_t line, const char* function, const char* format,
                        va_list args) __attribute__((format(printf, 6, 0))) = 0;
    // Waits until every message logged before the call has been written; false on time-out.
    virtual bool flush(uint32_t milliseconds) = 0;

protected:
    ~loggerInterface() = default;
};

} // namespace tavrix::util
