// Interim render modes: the real mode table, lock and switch lines; every screen draws an empty frame.
#include "client/rendermode.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "client/clientlogger.h"
#include "client/interim/screen.h"
#include "client/rmdownload.h"
#include "client/rmloadingscreen.h"
#include "client/windowing.h"
#include "platformlib/posix/thread.h"
#include "platformlib/util/exception.h"

namespace {

struct screen {
    void (*enter)();
    void (*leave)();
    void (*draw)();
};

// Indexed by mode id; the Game mode has no screen.
constexpr screen SCREENS[] = {
    {tavrix::rmLoadingScreen::enter, tavrix::rmLoadingScreen::leave, tavrix::rmLoadingScreen::draw},
    {tavrix::rmDownload::enter, tavrix::rmDownload::leave, tavrix::rmDownload::draw},
    {tavrix::rmMenu::enter, tavrix::rmMenu::leave, tavrix::rmMenu::draw},
};
constexpr int32_t SCREEN_COUNT = int32_t(sizeof(SCREENS) / sizeof(SCREENS[0]));

tavrix::util::mutex* modeLock = nullptr;
int32_t currentMode = tavrix::renderMode::MODE_LOADING;
void (*leaveCallback)() = nullptr;
// Read by the frame loop without the lock.
std::atomic<void (*)()> drawCallback{nullptr};

} // namespace

namespace tavrix::renderMode {

void init()
{
    CLIENT_LOG(util::LOG_INFO, "renderMode: interim version - screens drawn empty\n");
    modeLock = new util::mutex;
    rmLoadingScreen::init();
    rmDownload::init();
    rmMenu::init();
    currentMode = MODE_LOADING;
    leaveCallback = rmLoadingScreen::leave;
    rmLoadingScreen::enter();
    drawCallback.exchange(rmLoadingScreen::draw);
}

void final()
{
    rmMenu::final();
    rmDownload::final();
    rmLoadingScreen::final();
    delete modeLock;
    modeLock = nullptr;
}

const char* getModeName(int32_t mode)
{
    static const char* const NAMES[] = {"Loading", "Download", "Menu", "Game"};
    return mode >= 0 && mode < 4 ? NAMES[mode] : "UNKNOWN";
}

int32_t switchMode(int32_t mode)
{
    if (!modeLock)
        TAVRIX_FATAL("renderMode::switchMode(%s) -> while subsystem is not initialized!\n", getModeName(mode));
    std::lock_guard<util::mutex> held(*modeLock);
    if (mode == currentMode) {
        CLIENT_LOG(util::LOG_INFO, "renderMode::switchMode() request to switch to current mode(%s) - ignoring.\n", getModeName(mode));
        return currentMode;
    }
    CLIENT_LOG(util::LOG_INFO, "renderMode::switchMode() Switching to: %s\n", getModeName(mode));
    const int32_t previous = currentMode;
    void (*previousLeave)() = leaveCallback;
    // A mode without a screen only hides the current one.
    if (mode >= 0 && mode < SCREEN_COUNT) {
        currentMode = mode;
        leaveCallback = SCREENS[mode].leave;
        SCREENS[mode].enter();
        drawCallback.exchange(SCREENS[mode].draw);
    }
    previousLeave();
    return previous;
}

int32_t switchModeIfCurrent(int32_t expected, int32_t mode)
{
    if (!modeLock)
        TAVRIX_FATAL("renderMode::switchMode(%s) -> while subsystem is not initialized!\n", getModeName(mode));
    std::lock_guard<util::mutex> held(*modeLock);
    return currentMode == expected ? switchMode(mode) : currentMode;
}

void draw()
{
    if (auto* fn = drawCallback.load())
        fn();
}

} // namespace tavrix::renderMode

namespace {
tavrix::interim::lastText menuURL;
}

namespace tavrix::rmMenu {
void init() { menuURL.set("", 0); }
void final() {}
void enter() {}
void leave() {}
void draw() { interim::drawEmptyFrame(); }
void setURL(const char* url) { menuURL.set(url, std::strlen(url)); }
std::string getURL() { return menuURL.get(); }
} // namespace tavrix::rmMenu

namespace tavrix::interim {
void drawEmptyFrame()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glfwSwapBuffers(client::window);
}
} // namespace tavrix::interim
