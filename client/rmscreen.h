#pragma once
// What the three screens share: one full-screen window with an embedded page, shown and hidden as the
// render mode switches, and the statements that put progress and status into its page.
#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "client/ui.h"
#include "client/windowing.h"
#include "platformlib/allocator/roalloc.h"

namespace tavrix {

class rmScreen {
public:
    constexpr rmScreen(const char* name_, const char* page_) : name(name_), page(page_) {}

    // Main thread. The window takes keyboard and mouse input, follows every resolution change and stays
    // hidden until the screen is entered.
    void init()
    {
        lastPercent.store(0);
        uiWindow* created =
            ui::createWindow(name, page, 0, 0, client::screenWidth.load(), client::screenHeight.load(), false);
        ui::setWindowInputMask(created, 3);
        created->setFitToScreen(true);
        created->setHidden(true);
        window.store(created);
    }
    void final()
    {
        if (uiWindow* destroyed = window.exchange(nullptr))
            ui::destroyWindow(destroyed);
    }

    // Under the mode lock: shown, and back in front of the other windows.
    void enter()
    {
        uiWindow* shown = window.load();
        shown->setHidden(false);
        ui::windowListReinsert(shown);
    }
    void leave() { window.load()->setHidden(true); }

    // OpenGL thread.
    void draw()
    {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        ui::drawWindow(window.load());
        glfwSwapBuffers(client::window);
    }

    // Any thread; outside init and final nothing reaches the page. A window already destroyed is closing,
    // and does nothing with what it is given.
    bool isLoaded()
    {
        uiWindow* shown = window.load();
        return shown && shown->isLoaded();
    }
    void setURL(const char* url)
    {
        if (uiWindow* shown = window.load())
            shown->setURL(url);
    }

    // A statement only for a changed percentage, so concurrent reports send at most one per change. A total
    // of 0 counts as 1.
    void setProgress(int32_t done, int32_t total)
    {
        const int32_t percent = percentOf(done, total == 0 ? 1 : total);
        if (lastPercent.exchange(percent) == percent)
            return;
        char statement[128];
        // A negative percentage shows as its unsigned value, as pages have always been given it.
        std::snprintf(statement, sizeof(statement), "document.getElementById('progress').style.width ='%u%%';",
                      uint32_t(percent));
        execJS(statement);
    }

    // Every byte is escaped, so quotes, backslashes and line breaks stand in the string intact, one
    // character per byte; the page takes the result as markup. A length of 0 means the text's
    // NUL-terminated length.
    void setStatusText(const char* text, uint32_t length)
    {
        static constexpr char HEAD[] = "document.getElementById('status').innerHTML = \"";
        static constexpr char HEX[] = "0123456789abcdef";
        const size_t bytes = std::min(length == 0 ? std::strlen(text) : size_t(length), MAX_STATUS_BYTES);
        const size_t size = bytes * 4 + 128;
        char* statement = static_cast<char*>(roalloc(uint32_t(size)));
        char* out = std::copy(HEAD, HEAD + sizeof(HEAD) - 1, statement);
        for (size_t i = 0; i < bytes; ++i) {
            const auto byte = static_cast<uint8_t>(text[i]);
            *out++ = '\\';
            *out++ = 'x';
            *out++ = HEX[byte >> 4];
            *out++ = HEX[byte & 15];
        }
        *out++ = '"';
        *out++ = ';';
        *out = '\0';
        execJS(statement);
        rofree(statement);
    }

private:
    // The most bytes whose statement still fits one block of the tracking allocator; a longer text is cut.
    static constexpr size_t MAX_STATUS_BYTES = (std::numeric_limits<uint32_t>::max() - 128) / 4;

    // Rounded half away from zero and held to the 32-bit range (a huge done would overflow it).
    static int32_t percentOf(int32_t done, int32_t total)
    {
        const long long rounded = std::llround(double(done) * (100.0 / double(total)));
        return int32_t(std::clamp<long long>(rounded, std::numeric_limits<int32_t>::min(),
                                             std::numeric_limits<int32_t>::max()));
    }

    void execJS(const char* statement)
    {
        if (uiWindow* shown = window.load())
            shown->execJS(statement);
    }

    const char* name;
    const char* page;
    std::atomic<uiWindow*> window{nullptr};
    std::atomic<int32_t> lastPercent{0};
};

} // namespace tavrix
