// The render modes and their three screens with the real user interface driving the recording engine: the
// windows the screens make, the switches between them, the statements the loading and download screens
// send their pages, and the bounded wait for the loading page.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "client/rendermode.h"
#include "client/rendermodelocal.h"
#include "client/rmdownload.h"
#include "client/rmloadingscreen.h"
#include "ui/uifixture.h"

namespace tavrix::test {
namespace {

const char* const LOADING = "sys.loadingScreenWindow";
const char* const DOWNLOAD = "sys.DdwnloadWindow";
const char* const MENU = "sys.menu";

class renderModeTest : public uiFixture {
protected:
    bool modesRunning = false;

    void SetUp() override
    {
        uiFixture::SetUp();
        if (!ready)
            return;
        // The screens swap the buffers of the client's window.
        client::window = window;
    }
    void TearDown() override
    {
        if (ready) {
            stopModes();
            renderMode::setLoadingPageWaitMs(20000);
            client::window = nullptr;
        }
        uiFixture::TearDown();
    }

    // The user interface with pages that load at once, then the render modes, with every window's view
    // made and its OpenGL set-up run.
    void startModes()
    {
        fakeEngine::nextLoadsComplete = true;
        startUI();
        renderMode::init();
        modesRunning = true;
        mainTaskQueue::run();
        drainWorker();
    }
    void stopModes()
    {
        if (modesRunning)
            renderMode::final();
        modesRunning = false;
    }

    // A screen's window, found through the view the engine made for it.
    uiWindow* screenWindow(const char* name)
    {
        for (size_t i = 0; fakeView* view = engine->view(i); ++i) {
            std::lock_guard<std::mutex> guard(engine->lock);
            auto* found = static_cast<uiWindow*>(view->window);
            if (found && std::string(found->name) == name)
                return found;
        }
        ADD_FAILURE() << "no window " << name;
        return nullptr;
    }

    // The statements the screen's page was given (the page title's aside), once the worker ran every
    // task posted before.
    std::vector<std::string> statements(const char* screen)
    {
        drainWorker();
        const std::string script = "View::EvaluateScript ";
        std::vector<std::string> found;
        for (const std::string& call : engine->callsOf(screenWindow(screen)))
            if (call.compare(0, script.size(), script) == 0 && call.find("document.title") == std::string::npos)
                found.push_back(call.substr(script.size()));
        return found;
    }

    // The address the screen's view was set to last.
    std::string lastAddress(const char* screen)
    {
        const std::string setURI = "View::SetURI ";
        std::string address;
        for (const std::string& call : engine->callsOf(screenWindow(screen)))
            if (call.compare(0, setURI.size(), setURI) == 0)
                address = call.substr(setURI.size());
        return address;
    }

    // Which of the three screens' windows are shown.
    std::vector<bool> shown()
    {
        std::vector<bool> visible;
        for (const char* screen : {LOADING, DOWNLOAD, MENU})
            visible.push_back(screenWindow(screen)->hidden.load() == 0);
        return visible;
    }
    bool inFront(const char* screen) { return screenWindow(screen)->prev == nullptr; }
};

const std::vector<bool> LOADING_SHOWN{true, false, false};
const std::vector<bool> DOWNLOAD_SHOWN{false, true, false};
const std::vector<bool> MENU_SHOWN{false, false, true};

// The loading and download screens' reports, alike.
struct reportingScreen {
    const char* window;
    void (*setProgress)(int32_t, int32_t);
    void (*setStatusText)(const char*, uint32_t);
};
const reportingScreen REPORTING_SCREENS[] = {
    {LOADING, rmLoadingScreen::setProgress, rmLoadingScreen::setStatusText},
    {DOWNLOAD, rmDownload::setProgress, rmDownload::setStatusText},
};

std::string progressStatement(const std::string& width)
{
    return "document.getElementById('progress').style.width ='" + width + "%';";
}

TEST_F(renderModeTest, initShowsTheLoadingScreenOverTwoHiddenFullScreenWindows)
{
    startModes();
    EXPECT_EQ(LOADING_SHOWN, shown());
    EXPECT_TRUE(inFront(LOADING));
    const struct {
        const char* window;
        const char* page;
        const char* address;
    } screens[] = {
        {LOADING, "embed:loading.html", "file://embedded/loading.html"},
        {DOWNLOAD, "embed:download.html", "file://embedded/download.html"},
        {MENU, "embed:uninitialized.html", "file://embedded/uninitialized.html"},
    };
    for (const auto& screen : screens) {
        SCOPED_TRACE(screen.window);
        uiWindow* window = screenWindow(screen.window);
        EXPECT_STREQ(screen.page, window->page);
        EXPECT_EQ(3, window->inputMask.load()) << "keyboard and mouse";
        EXPECT_EQ(1, window->fitToScreen.load());
        EXPECT_EQ(0, window->x);
        EXPECT_EQ(0, window->y);
        EXPECT_EQ(WIDTH, window->width);
        EXPECT_EQ(HEIGHT, window->height);
        EXPECT_EQ(screen.address, lastAddress(screen.window));
    }
    uiWindow* windows[] = {screenWindow(LOADING), screenWindow(DOWNLOAD), screenWindow(MENU)};

    stopModes();
    for (uiWindow* window : windows)
        EXPECT_EQ(1, window->closing.load()) << window->name;
    // Once the windows are gone, reports reach nothing.
    rmLoadingScreen::setURL("file://ui/late/index.html");
    rmLoadingScreen::setProgress(1, 2);
    rmDownload::setStatusText("late", 0);
    drainWorker();
    EXPECT_TRUE(engine->callsStartingWith("View::SetURI file://ui/late").empty());
}

TEST_F(renderModeTest, eachScreensAddressGoesToItsOwnWindow)
{
    startModes();
    rmLoadingScreen::setURL("file://ui/loading/index.html");
    rmDownload::setURL("file://ui/download/index.html");
    rmMenu::setURL("file://ui/mainMenu.titleScreen/index.html");
    drainWorker();
    EXPECT_EQ("file://ui/loading/index.html", lastAddress(LOADING));
    EXPECT_EQ("file://ui/download/index.html", lastAddress(DOWNLOAD));
    EXPECT_EQ("file://ui/mainMenu.titleScreen/index.html", lastAddress(MENU));
}

TEST_F(renderModeTest, aProgressStatementIsSentOnlyForAChangedPercentage)
{
    constexpr int32_t HUGE = std::numeric_limits<int32_t>::max();
    const struct {
        int32_t done;
        int32_t total;
        const char* width; // null: nothing sent
    } steps[] = {
        {0, 0, nullptr}, // 0 % as at the start
        {1, 3, "33"},
        {2, 6, nullptr},
        {2, 3, "67"},
        {5, 3, "167"},
        {HUGE, 1, "2147483647"}, // held to the 32-bit range
        {HUGE, 3, nullptr},      // held there too
        {-1, 1, "4294967196"},   // -100 % as the page has always been given it
    };
    startModes();
    for (const reportingScreen& screen : REPORTING_SCREENS) {
        SCOPED_TRACE(screen.window);
        std::vector<std::string> expected;
        for (const auto& step : steps) {
            screen.setProgress(step.done, step.total);
            if (step.width)
                expected.push_back(progressStatement(step.width));
        }
        EXPECT_EQ(expected, statements(screen.window));
    }
}

TEST_F(renderModeTest, concurrentReportsOfOnePercentageSendOneStatement)
{
    startModes();
    std::vector<std::thread> reporters;
    for (int i = 0; i < 8; ++i)
        reporters.emplace_back([] {
            for (int n = 0; n < 100; ++n)
                rmLoadingScreen::setProgress(1, 4);
        });
    for (std::thread& reporter : reporters)
        reporter.join();
    EXPECT_EQ(std::vector<std::string>{progressStatement("25")}, statements(LOADING));
}

TEST_F(renderModeTest, aStatusTextStandsInItsStatementOneEscapePerByte)
{
    const struct {
        std::string text;
        uint32_t length;
        const char* escaped;
    } cases[] = {
        {"a\"", 0, "\\x61\\x22"},
        {"\xe4", 0, "\\xe4"},
        {"abc", 2, "\\x61\\x62"},
        {std::string("a\0b", 3), 3, "\\x61\\x00\\x62"},
        {"<b>\\\n'", 0, "\\x3c\\x62\\x3e\\x5c\\x0a\\x27"},
        {"", 0, ""},
    };
    startModes();
    for (const reportingScreen& screen : REPORTING_SCREENS) {
        SCOPED_TRACE(screen.window);
        std::vector<std::string> expected;
        for (const auto& c : cases) {
            screen.setStatusText(c.text.c_str(), c.length);
            expected.push_back(std::string("document.getElementById('status').innerHTML = \"") + c.escaped + "\";");
        }
        EXPECT_EQ(expected, statements(screen.window));
    }
}

TEST_F(renderModeTest, switchModeReturnsThePreviousModeAndShowsOnlyTheNewScreenInFront)
{
    startModes();
    EXPECT_EQ(renderMode::MODE_LOADING, renderMode::switchMode(renderMode::MODE_MENU));
    EXPECT_EQ(MENU_SHOWN, shown());
    EXPECT_TRUE(inFront(MENU));
    EXPECT_EQ(1u, count(util::LOG_INFO, "renderMode::switchMode() Switching to: Menu\n"));

    EXPECT_EQ(renderMode::MODE_MENU, renderMode::switchMode(renderMode::MODE_MENU));
    EXPECT_EQ(1u, count(util::LOG_INFO, "renderMode::switchMode() request to switch to current mode(Menu) - ignoring.\n"));
    EXPECT_EQ(1u, count(util::LOG_INFO, "renderMode::switchMode() Switching to: Menu\n"));
    EXPECT_EQ(MENU_SHOWN, shown());

    // The content update's road: to Download and back to the mode it replaced.
    const int32_t previous = renderMode::switchMode(renderMode::MODE_DOWNLOAD);
    EXPECT_EQ(renderMode::MODE_MENU, previous);
    EXPECT_EQ(DOWNLOAD_SHOWN, shown());
    EXPECT_TRUE(inFront(DOWNLOAD));
    EXPECT_EQ(renderMode::MODE_DOWNLOAD, renderMode::switchMode(previous));
    EXPECT_EQ(MENU_SHOWN, shown());
    EXPECT_TRUE(inFront(MENU));
}

TEST_F(renderModeTest, aModeWithoutAScreenKeepsTheCurrentOneShown)
{
    startModes();
    renderMode::switchMode(renderMode::MODE_MENU);
    EXPECT_EQ(renderMode::MODE_MENU, renderMode::switchMode(renderMode::MODE_GAME));
    EXPECT_EQ(1u, count(util::LOG_INFO, "renderMode::switchMode() Switching to: Game\n"));
    for (int32_t unknown : {4, -1, std::numeric_limits<int32_t>::min()})
        EXPECT_EQ(renderMode::MODE_MENU, renderMode::switchMode(unknown));
    EXPECT_EQ(3u, count(util::LOG_INFO, "renderMode::switchMode() Switching to: UNKNOWN\n"));
    EXPECT_EQ(MENU_SHOWN, shown());

    EXPECT_EQ(renderMode::MODE_MENU, renderMode::switchMode(renderMode::MODE_MENU)) << "still the current mode";
    EXPECT_EQ(1u, count(util::LOG_INFO, "renderMode::switchMode() request to switch to current mode(Menu) - ignoring.\n"));
    EXPECT_EQ(renderMode::MODE_MENU, renderMode::switchMode(renderMode::MODE_LOADING));
    EXPECT_EQ(LOADING_SHOWN, shown());
}

// The old window's lock held here stops the switch in the old screen's leave, where the new one must
// already be shown.
TEST_F(renderModeTest, theNewScreenIsShownBeforeTheOldOneIsHidden)
{
    startModes();
    uiWindow* loading = screenWindow(LOADING);
    uiWindow* menu = screenWindow(MENU);
    loading->lock();
    int32_t previous = -1;
    std::thread switcher([&] { previous = renderMode::switchMode(renderMode::MODE_MENU); });
    EXPECT_TRUE(eventually([&] { return menu->hidden.load() == 0; })) << "the menu never shown";
    EXPECT_EQ(0, loading->hidden.load()) << "the loading screen hidden first";
    loading->unlock();
    switcher.join();
    EXPECT_EQ(renderMode::MODE_LOADING, previous);
    EXPECT_EQ(MENU_SHOWN, shown());
    EXPECT_TRUE(inFront(MENU));
}

// RGBA of a pixel of the frame just shown, counted from the top-left corner: Mesa's software driver keeps
// the back buffer through the swap.
std::vector<uint8_t> shownPixel(int x, int y)
{
    std::vector<uint8_t> rgba(4);
    glReadPixels(x, renderModeTest::HEIGHT - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

TEST_F(renderModeTest, aFrameShowsTheCurrentScreensWindowOverTheWholeScreen)
{
    startModes();
    glViewport(0, 0, WIDTH, HEIGHT);
    renderMode::switchMode(renderMode::MODE_MENU);
    uiWindow* menu = screenWindow(MENU);
    ASSERT_TRUE(eventually([&] { return menu->newPixels.load() == 1; }));
    renderMode::draw();
    EXPECT_EQ(1, menu->hasContent.load());
    // The view's pattern: blue is x, green y, red 0x80.
    EXPECT_EQ((std::vector<uint8_t>{0x80, 0, 0, 255}), shownPixel(0, 0));
    EXPECT_EQ((std::vector<uint8_t>{0x80, 119, 159, 255}), shownPixel(WIDTH - 1, HEIGHT - 1));
}

TEST_F(renderModeTest, aLoadingPageThatNeverLoadsEndsTheStartAfterTheBound)
{
    startUI();
    renderMode::setLoadingPageWaitMs(50);
    EXPECT_EQ("Something went wrong, or your Computer is too busy to run Tavrix\n\nWe could'nt initialize our Loadingscreen!\n",
              thrownMessage([] { renderMode::init(); }, true));
    // The three windows stand; final destroys them.
    modesRunning = true;
}

} // namespace
} // namespace tavrix::test
