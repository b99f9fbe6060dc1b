#pragma once
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

class loggerInterface {
public:
    virtual void log(uint32_t level, const char* format, ...) __attribute__((format(printf, 3, 4))) = 0;
    virtual void logEx(uint32_t level, const char* file, int32_t line, const char* function, const char* format, ...)
        __attribute__((format(printf, 6, 7))) = 0;

protected:
    ~loggerInterface() = default;
};

} // namespace tavrix::util
