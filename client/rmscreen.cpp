#include "client/rmscreen.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "client/ui.h"
#include "client/windowing.h"
#include "platformlib/allocator/roalloc.h"

namespace tavrix {
namespace {

// The most bytes whose statement still fits one block of the tracking allocator; a longer text is cut.
constexpr size_t MAX_STATUS_BYTES = (std::numeric_limits<uint32_t>::max() - 128) / 4;

// Rounded half away from zero and held to the 32-bit range (a huge done would overflow it).
int32_t percentOf(int32_t done, int32_t total)
{
    const long long rounded = std::llround(double(done) * (100.0 / double(total)));
    return int32_t(std::clamp<long long>(rounded, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

} // namespace

void rmScreen::init()
{
    lastPercent.store(0);
    uiWindow* created = ui::createWindow(name, page, 0, 0, client::screenWidth.load(), client::screenHeight.load(), false);
    ui::setWindowInputMask(created, 3);
    created->setFitToScreen(true);
    created->setHidden(true);
    window.store(created);
}

void rmScreen::final()
{
    if (uiWindow* destroyed = window.exchange(nullptr))
        ui::destroyWindow(destroyed);
}

void rmScreen::enter()
{
    uiWindow* shown = window.load();
    shown->setHidden(false);
    ui::windowListReinsert(shown);
}

void rmScreen::leave() { window.load()->setHidden(true); }

void rmScreen::draw()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    ui::drawWindow(window.load());
    glfwSwapBuffers(client::window);
}

bool rmScreen::isLoaded()
{
    uiWindow* shown = window.load();
    return shown && shown->isLoaded();
}

void rmScreen::setURL(const char* url)
{
    if (uiWindow* shown = window.load())
        shown->setURL(url);
}

void rmScreen::setProgress(int32_t done, int32_t total)
{
    const int32_t percent = percentOf(done, total == 0 ? 1 : total);
    if (lastPercent.exchange(percent) == percent)
        return;
    char statement[128];
    // A negative percentage shows as its unsigned value, as pages have always been given it.
    std::snprintf(statement, sizeof(statement), "document.getElementById('progress').style.width ='%u%%';", uint32_t(percent));
    execJS(statement);
}

void rmScreen::setStatusText(const char* text, uint32_t length)
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

void rmScreen::execJS(const char* statement)
{
    if (uiWindow* shown = window.load())
        shown->execJS(statement);
}

} // namespace tavrix
