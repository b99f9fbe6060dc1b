#pragma once
// The interim screens' common draw, and what they were last given.
#include <mutex>
#include <string>

namespace tavrix::interim {

// Clears the buffers and swaps the main window's; OpenGL thread.
void drawEmptyFrame();

// A screen's page or status text as last set, so that its callers can be checked; any thread.
class lastText {
public:
    void set(const char* text, size_t length)
    {
        std::lock_guard<std::mutex> guard(lock);
        value.assign(text, length);
    }
    std::string get()
    {
        std::lock_guard<std::mutex> guard(lock);
        return value;
    }

private:
    std::mutex lock;
    std::string value;
};

} // namespace tavrix::interim
