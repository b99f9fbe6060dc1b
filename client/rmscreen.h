#pragma once
// What the three screens share: one full-screen window with an embedded page, shown and hidden as the
// render mode switches, and the statements that put progress and status into its page.
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tavrix {

class uiWindow;

class rmScreen {
public:
    constexpr rmScreen(const char* name_, const char* page_) : name(name_), page(page_) {}

    // Main thread. The window takes keyboard and mouse input, follows every resolution change and stays
    // hidden until the screen is entered.
    void init();
    void final();

    // Under the mode lock: shown, and back in front of the other windows.
    void enter();
    void leave();

    // OpenGL thread.
    void draw();

    // Any thread; outside init and final nothing reaches the page. A window already destroyed is closing,
    // and does nothing with what it is given.
    bool isLoaded();
    void setURL(const char* url);

    // A statement only for a changed percentage, so concurrent reports send at most one per change. A total
    // of 0 counts as 1.
    void setProgress(int32_t done, int32_t total);

    // Every byte is escaped, so quotes, backslashes and line breaks stand in the string intact, one
    // character per byte; the page takes the result as markup. A length of 0 means the text's
    // NUL-terminated length.
    void setStatusText(const char* text, uint32_t length);

private:
    void execJS(const char* statement);

    const char* name;
    const char* page;
    std::atomic<uiWindow*> window{nullptr};
    std::atomic<int32_t> lastPercent{0};
};

} // namespace tavrix
