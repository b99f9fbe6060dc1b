#pragma once
// A logger that keeps every message, installed as the platform logger for its lifetime.
#include <mutex>
#include <string>
#include <vector>

#include "platformlib/util/loggerinterface.h"

namespace tavrix::test {

struct capturedLine {
    uint32_t level;
    std::string file;
    int32_t line;
    std::string function;
    std::string text;
};

class captureLogger : public tavrix::util::loggerInterface {
public:
    captureLogger();
    ~captureLogger();

    void log(uint32_t level, const char* format, ...) override __attribute__((format(printf, 3, 4)));
    void logEx(uint32_t level, const char* file, int32_t line, const char* function, const char* format, ...) override
        __attribute__((format(printf, 6, 7)));

    std::vector<capturedLine> lines() const;
    // Texts of the lines whose level is in the mask, in order.
    std::vector<std::string> texts(uint32_t mask = 0xFFFFFFFF) const;
    bool contains(const std::string& text) const;
    void clear();

private:
    void add(uint32_t level, const char* file, int32_t line, const char* function, const char* format, va_list args);
    mutable std::mutex lock;
    std::vector<capturedLine> kept;
};

} // namespace tavrix::test
