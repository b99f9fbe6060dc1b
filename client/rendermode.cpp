#include "client/rendermode.h"

#include <atomic>
#include <mutex>

#include "client/clientlogger.h"
#include "client/rendermodelocal.h"
#include "client/rmdownload.h"
#include "client/rmloadingscreen.h"
#include "client/rmscreen.h"
#include "platformlib/posix/thread.h"
#include "platformlib/util/exception.h"

namespace tavrix::rmMenu {
namespace {
rmScreen screen("sys.menu", "embed:uninitialized.html");
} // namespace

void init() { screen.init(); }
void final() { screen.final(); }
void enter() { screen.enter(); }
void leave() { screen.leave(); }
void draw() { screen.draw(); }
void setURL(const char* url) { screen.setURL(url); }
} // namespace tavrix::rmMenu

namespace tavrix::renderMode {
namespace {

constexpr int32_t LOADING_PAGE_WAIT_MS = 20000;
constexpr uint32_t LOADING_PAGE_POLL_MS = 2;

struct screen {
    void (*enter)();
    void (*leave)();
    void (*draw)();
};

// Indexed by mode id; the Game mode has no screen.
constexpr screen SCREENS[] = {
    {rmLoadingScreen::enter, rmLoadingScreen::leave, rmLoadingScreen::draw},
    {rmDownload::enter, rmDownload::leave, rmDownload::draw},
    {rmMenu::enter, rmMenu::leave, rmMenu::draw},
};
constexpr int32_t SCREEN_COUNT = int32_t(sizeof(SCREENS) / sizeof(SCREENS[0]));

struct modeState {
    util::mutex* lock = nullptr;
    int32_t current = MODE_LOADING;
    void (*leave)() = nullptr;
    // Read by the frame loop without the lock.
    std::atomic<void (*)()> draw{nullptr};
    int32_t loadingPageWaitMs = LOADING_PAGE_WAIT_MS;
};
modeState state;

void waitForLoadingPage()
{
    const int32_t start = getTimeMs();
    while (!rmLoadingScreen::isLoaded()) {
        if (msSince(start) > state.loadingPageWaitMs)
            TAVRIX_FATAL("Something went wrong, or your Computer is too busy to run Tavrix\n\nWe could'nt initialize our Loadingscreen!\n");
        sys::sleepMs(LOADING_PAGE_POLL_MS);
    }
}

} // namespace

void setLoadingPageWaitMs(int32_t milliseconds) { state.loadingPageWaitMs = milliseconds; }

// No other thread switches yet: the lock is not taken.
void init()
{
    state.lock = new util::mutex;
    rmLoadingScreen::init();
    rmDownload::init();
    rmMenu::init();
    waitForLoadingPage();
    state.current = MODE_LOADING;
    state.leave = rmLoadingScreen::leave;
    rmLoadingScreen::enter();
    state.draw.exchange(rmLoadingScreen::draw);
}

void final()
{
    rmMenu::final();
    rmDownload::final();
    rmLoadingScreen::final();
    delete state.lock;
    state.lock = nullptr;
}

const char* getModeName(int32_t mode)
{
    static const char* const NAMES[] = {"Loading", "Download", "Menu", "Game"};
    return mode >= 0 && mode < 4 ? NAMES[mode] : "UNKNOWN";
}

int32_t switchMode(int32_t mode)
{
    if (!state.lock)
        TAVRIX_FATAL("renderMode::switchMode(%s) -> while subsystem is not initialized!\n", getModeName(mode));
    std::lock_guard<util::mutex> held(*state.lock);
    if (mode == state.current) {
        CLIENT_LOG(util::LOG_INFO, "renderMode::switchMode() request to switch to current mode(%s) - ignoring.\n", getModeName(mode));
        return state.current;
    }
    CLIENT_LOG(util::LOG_INFO, "renderMode::switchMode() Switching to: %s\n", getModeName(mode));
    // Hiding the current screen for a mode without one would leave nothing drawn for good.
    if (mode < 0 || mode >= SCREEN_COUNT)
        return state.current;
    const int32_t previous = state.current;
    void (*previousLeave)() = state.leave;
    // The new screen is shown before the old one is hidden: no frame goes without a visible window.
    state.current = mode;
    state.leave = SCREENS[mode].leave;
    SCREENS[mode].enter();
    state.draw.exchange(SCREENS[mode].draw);
    previousLeave();
    return previous;
}

int32_t switchModeIfCurrent(int32_t expected, int32_t mode)
{
    if (!state.lock)
        TAVRIX_FATAL("renderMode::switchMode(%s) -> while subsystem is not initialized!\n", getModeName(mode));
    std::lock_guard<util::mutex> held(*state.lock);
    return state.current == expected ? switchMode(mode) : state.current;
}

void draw()
{
    if (auto* fn = state.draw.load())
        fn();
}

} // namespace tavrix::renderMode
