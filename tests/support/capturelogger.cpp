#include "support/capturelogger.h"

#include <cstdarg>
#include <cstdio>

#include "platformlib/hooks.h"

namespace tavrix::test {

captureLogger::captureLogger() { platform_setLogger(this); }
captureLogger::~captureLogger() { platform_setLogger(nullptr); }

void captureLogger::vlogEx(uint32_t level, const char* file, int32_t line, const char* function, const char* format,
                           va_list args)
{
    char text[16384];
    std::vsnprintf(text, sizeof(text), format, args);
    std::lock_guard<std::mutex> guard(lock);
    kept.push_back({level, file ? file : "", line, function ? function : "", text});
}

std::vector<capturedLine> captureLogger::lines() const
{
    std::lock_guard<std::mutex> guard(lock);
    return kept;
}

std::vector<std::string> captureLogger::texts(uint32_t mask) const
{
    std::lock_guard<std::mutex> guard(lock);
    std::vector<std::string> out;
    for (const auto& l : kept)
        if (l.level & mask)
            out.push_back(l.text);
    return out;
}

bool captureLogger::contains(const std::string& text) const
{
    std::lock_guard<std::mutex> guard(lock);
    for (const auto& l : kept)
        if (l.text.find(text) != std::string::npos)
            return true;
    return false;
}

void captureLogger::clear()
{
    std::lock_guard<std::mutex> guard(lock);
    kept.clear();
}

} // namespace tavrix::test
