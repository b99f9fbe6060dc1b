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

    void vlogEx(uint32_t level, const char* file, int32_t line, const char* function, const char* format,
                va_list args) override __attribute__((format(printf, 6, 0)));
    // Every line is kept as it is logged.
    bool flush(uint32_t) override { return true; }

    std::vector<capturedLine> lines() const;
    // Texts of the lines whose level is in the mask, in order.
    std::vector<std::string> texts(uint32_t mask = 0xFFFFFFFF) const;
    bool contains(const std::string& text) const;
    void clear();

private:
    mutable std::mutex lock;
    std::vector<capturedLine> kept;
};

} // namespace tavrix::test
