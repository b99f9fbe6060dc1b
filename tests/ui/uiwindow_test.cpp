// UI windows against the recording fake engine: the pixel buffer's capacity, the first address, the title
// statement, a resize racing the worker's copy, and the drawn quad read back from a real OpenGL context.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "client/r_glwrapper.h"
#include "ui/uifixture.h"

namespace tavrix::test {
namespace {

using uiWindowTest = uiFixture;

struct capacity {
    int32_t width;
    int32_t height;
};

TEST_F(uiWindowTest, thePixelBufferGrowsWithHeadroomAndNeverShrinks)
{
    startUI();
    uiWindow* window = newWindow("w", nullptr, 0, 0, 100, 50);
    struct step {
        int32_t width, height;
        capacity expected;
    };
    const step steps[] = {
        {100, 50, {256, 256}},
        {300, 100, {332, 132}},
        {100, 50, {332, 132}},
        {100, 300, {132, 332}},
        {2000, 10, {2032, 42}},
    };
    for (const step& s : steps) {
        window->resize(s.width, s.height);
        std::lock_guard<util::mutex> guard(window->pixelLock);
        EXPECT_EQ(s.expected.width, window->capW) << s.width << "x" << s.height;
        EXPECT_EQ(s.expected.height, window->capH) << s.width << "x" << s.height;
    }
    drainWorker();
    EXPECT_TRUE(engine->called("View::SetSize 2000x10")) << "the view follows";
}

// A window the engine makes no view for stays empty: its operations and its input reach nothing.
TEST_F(uiWindowTest, aWindowWithoutAViewStaysEmpty)
{
    startUI();
    {
        std::lock_guard<std::mutex> guard(engine->lock);
        engine->refuseViews = true;
    }
    uiWindow* window = ui::createWindow("empty", "menu", 0, 0, 100, 50, false);
    mainTaskQueue::run();
    drainWorker();
    EXPECT_TRUE(captured.contains("uiWindow('empty')::taskCreateView - the engine made no view, the window stays empty\n"));
    window->setURL("file://ui/other.html");
    window->resize(200, 100);
    ui::onMouseButton(5, 5, 0, 1);
    drainWorker();
    EXPECT_FALSE(engine->called("View::SetSize 200x100"));
    ui::destroyWindow(window);
}

TEST_F(uiWindowTest, aSizeOutOfRangeIsBounded)
{
    startUI();
    uiWindow* window = newWindow("big", nullptr, 0, 0, 100, 50);
    window->resize(100000, -4);
    EXPECT_TRUE(captured.contains("uiWindow('big') - size 100000x-4 out of range, using 16384x1\n"));
    drainWorker();
    EXPECT_TRUE(engine->called("View::SetSize 16384x1")) << "a size the view takes";
    std::lock_guard<util::mutex> guard(window->pixelLock);
    EXPECT_EQ(16384, window->width);
    EXPECT_EQ(1, window->height);
}

TEST_F(uiWindowTest, theFirstAddressFollowsThePage)
{
    const std::string longPage(600, 'p');
    struct addressCase {
        const char* page;
        const char* address;
    };
    const addressCase cases[] = {
        {nullptr, "file://embedded/uninitialized.html"},
        {"embed:loading.html", "file://embedded/loading.html"},
        {"embed:download.html", "file://embedded/download.html"},
        {"menu", "file://ui/menu/index.html"},
        {longPage.c_str(), "file://embedded/uninitialized.html"},
    };
    startUI();
    std::vector<std::string> expected;
    for (const addressCase& c : cases) {
        newWindow("w", c.page);
        expected.push_back(std::string("View::SetURI ") + c.address);
    }
    drainWorker();
    EXPECT_EQ(expected, engine->callsStartingWith("View::SetURI "));
    EXPECT_EQ(1u, count(util::LOG_ERROR, "uiWindow('w.4')::taskCreateView - the address of page '" + longPage +
                                             "' is longer than 510 bytes, showing file://embedded/uninitialized.html\n"));
}

TEST_F(uiWindowTest, aViewIsMadeWithTheWindowsSizeAndItselfAsUserData)
{
    startUI();
    uiWindow* window = newWindow("w", nullptr, 5, 6, 120, 80);
    drainWorker();
    const eawebkit::ViewParameters& p = engine->view(0)->parameters;
    EXPECT_EQ(window, p.userData);
    EXPECT_EQ(120, p.width);
    EXPECT_EQ(80, p.height);
    EXPECT_EQ(0xFFFFFFFFu, p.backgroundColor);
    EXPECT_EQ(512, p.maxURILength);
    EXPECT_TRUE(p.runScripts && p.loadImages && p.loadStyleSheets && p.followLinks);
    EXPECT_FALSE(p.transparent);
}

// The title statement decodes to name/page; every byte is two hexadecimal digits, whatever its value, and
// the statement is as long as the two texts need.
TEST_F(uiWindowTest, theTitleStatementEscapesEveryByte)
{
    struct titleCase {
        std::string name;
        const char* page;
        std::string statement;
    };
    std::string longName(1000, 'n');
    std::string longEscaped;
    for (size_t i = 0; i < longName.size(); ++i)
        longEscaped += "\\x6e";
    const titleCase cases[] = {
        {"sys.menu", "embed:uninitialized.html",
         "document.title = \"\\x73\\x79\\x73\\x2e\\x6d\\x65\\x6e\\x75/\\x65\\x6d\\x62\\x65\\x64\\x3a\\x75\\x6e\\x69\\x6e\\x69\\x74\\x69\\x61\\x6c\\x69\\x7a\\x65\\x64\\x2e\\x68\\x74\\x6d\\x6c\";"},
        {"\xE4", nullptr, "document.title = \"\\xe4/\";"},
        {longName, nullptr, "document.title = \"" + longEscaped + "/\";"},
    };
    startUI();
    for (const titleCase& c : cases) {
        uiWindow* window = newWindow(c.name.c_str(), c.page);
        drainWorker();
        EXPECT_FALSE(window->isLoaded());
        eawebkit::LoadInfo info{window, nullptr, u"file://embedded/x", eawebkit::kLoadCompleted, 0, 0};
        engine->systems.client->LoadUpdate(info);
        EXPECT_TRUE(window->isLoaded());
        drainWorker();
        const std::vector<std::string> scripts = engine->callsStartingWith("View::EvaluateScript ");
        ASSERT_FALSE(scripts.empty());
        EXPECT_EQ("View::EvaluateScript " + c.statement, scripts.back());
        ui::destroyWindow(window);
    }
}

TEST_F(uiWindowTest, aClosingWindowIgnoresItsOperations)
{
    startUI();
    uiWindow* window = newWindow("w", nullptr);
    drainWorker();
    window->setURL("file://ui/a/index.html");
    drainWorker();
    EXPECT_TRUE(engine->called("View::SetURI file://ui/a/index.html"));
    ui::destroyWindow(window);
    window->setURL("file://ui/b/index.html");
    window->execJS("document.title = \"\";");
    window->resize(300, 300);
    drainWorker();
    EXPECT_FALSE(engine->called("View::SetURI file://ui/b/index.html"));
    EXPECT_TRUE(engine->callsStartingWith("View::EvaluateScript").empty());
    EXPECT_FALSE(engine->called("View::SetSize 300x300"));
    EXPECT_FALSE(window->isLoaded());
}

// The window flips between 300 x 250 and 100 x 400 while the worker copies every repaint: each flip leaves
// a buffer too small for the other image (132 x 432 holds less than 300 x 250), which the view still has
// until the resize reaches it. No copy may ever hold more than the buffer's capacity, and the last image
// has the last size.
TEST_F(uiWindowTest, aResizeRacingTheCopyNeverOverfillsTheBuffer)
{
    cvar::set("ui.updateFPS", 1000);
    startUI();
    uiWindow* window = newWindow("race", nullptr, 0, 0, 300, 250);
    for (int i = 0; i < 300; ++i) {
        const int32_t ticks = engine->ticks.load();
        window->resize(i % 2 ? 300 : 100, i % 2 ? 250 : 400);
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        {
            std::lock_guard<util::mutex> guard(window->pixelLock);
            ASSERT_LE(int64_t(window->imageWidth) * window->imageHeight, int64_t(window->capW) * window->capH)
                << window->imageWidth << "x" << window->imageHeight << " in " << window->capW << "x" << window->capH;
        }
        // A flip a cycle, wherever in it: the resizes never outrun a slow worker's drain.
        ASSERT_TRUE(eventually([&] { return engine->ticks.load() > ticks; })) << "the worker stopped cycling";
    }
    window->resize(120, 90);
    drainWorker();
    drainWorker();
    std::lock_guard<util::mutex> guard(window->pixelLock);
    EXPECT_EQ(120, window->imageWidth);
    EXPECT_EQ(90, window->imageHeight);
    const uint8_t* last = window->pixels + (size_t(89) * 120 + 119) * 4;
    EXPECT_EQ((std::vector<uint8_t>{119, 89, 0x80, 0xFF}), std::vector<uint8_t>(last, last + 4));
}

// The view's rows may lie further apart than its pixels take: the window's image has them packed.
TEST_F(uiWindowTest, aSurfaceWithPaddedRowsArrivesPacked)
{
    startUI();
    {
        std::lock_guard<std::mutex> guard(engine->lock);
        engine->rowPadding = 12;
    }
    uiWindow* window = newWindow("padded", nullptr, 0, 0, 30, 20);
    ASSERT_TRUE(eventually([&] { return window->newPixels.load() == 1; }));
    std::lock_guard<util::mutex> guard(window->pixelLock);
    ASSERT_EQ(30, window->imageWidth);
    ASSERT_EQ(20, window->imageHeight);
    int wrong = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            wrong += std::vector<uint8_t>(window->pixels + (y * 30 + x) * 4, window->pixels + (y * 30 + x) * 4 + 4) !=
                     std::vector<uint8_t>{uint8_t(x), uint8_t(y), 0x80, 0xFF};
    EXPECT_EQ(0, wrong);
}

// The OpenGL thread holds the pixels while the view has a new image: the worker skips the copy and makes
// it in a later cycle, instead of dropping the image until the next repaint.
TEST_F(uiWindowTest, aCopySkippedForABusyPixelLockIsMadeLater)
{
    startUI();
    uiWindow* window = newWindow("w", nullptr, 0, 0, 100, 50);
    ASSERT_TRUE(eventually([&] { return window->newPixels.load() == 1; }));
    window->newPixels.store(0);
    window->pixelLock.lock();
    eawebkit::ViewUpdateInfo repaint{window, nullptr, eawebkit::kViewUpdateRepaint};
    engine->systems.client->ViewUpdate(repaint);
    drainWorker();
    EXPECT_EQ(0, window->newPixels.load()) << "no copy while the lock is held";
    window->pixelLock.unlock();
    EXPECT_TRUE(eventually([&] { return window->newPixels.load() == 1; }));
}

// Hidden windows get no input, but their pages go on being copied.
TEST_F(uiWindowTest, aHiddenWindowIsStillCopied)
{
    startUI();
    uiWindow* window = newWindow("w", nullptr, 0, 0, 100, 50);
    ASSERT_TRUE(eventually([&] { return window->newPixels.load() == 1; }));
    window->setHidden(true);
    window->newPixels.store(0);
    eawebkit::ViewUpdateInfo repaint{window, nullptr, eawebkit::kViewUpdateRepaint};
    engine->systems.client->ViewUpdate(repaint);
    EXPECT_TRUE(eventually([&] { return window->newPixels.load() == 1; }));
}

// RGBA of a pixel counted from the top-left corner of the 160 x 120 framebuffer.
std::vector<uint8_t> pixelFromTop(int x, int y)
{
    std::vector<uint8_t> rgba(4);
    glReadPixels(x, 119 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

TEST_F(uiWindowTest, aWindowIsDrawnAtItsPlaceWithTheViewsPixels)
{
    startUI();
    glViewport(0, 0, WIDTH, HEIGHT);
    glClearColor(0, 0, 0, 1);
    uiWindow* window = newWindow("gl", nullptr, 10, 20, 64, 32);
    ASSERT_TRUE(eventually([&] { return window->newPixels.load() == 1; }));
    glClear(GL_COLOR_BUFFER_BIT);
    ui::drawWindow(window);
    EXPECT_EQ(1, window->hasContent.load());
    // Blue is the view's x, green its y, red 0x80.
    EXPECT_EQ((std::vector<uint8_t>{0x80, 0, 0, 255}), pixelFromTop(10, 20));
    EXPECT_EQ((std::vector<uint8_t>{0x80, 7, 5, 255}), pixelFromTop(15, 27));
    EXPECT_EQ((std::vector<uint8_t>{0x80, 31, 63, 255}), pixelFromTop(73, 51));
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 255}), pixelFromTop(9, 20)) << "left of the window";
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 255}), pixelFromTop(10, 52)) << "below the window";
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 255}), pixelFromTop(74, 30)) << "right of the window";

    window->setPosition(40, 60);
    glClear(GL_COLOR_BUFFER_BIT);
    ui::drawWindow(window);
    EXPECT_EQ((std::vector<uint8_t>{0x80, 0, 0, 255}), pixelFromTop(40, 60));
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 255}), pixelFromTop(10, 20));
}

TEST_F(uiWindowTest, aResolutionChangeResizesTheWindowsThatFitTheScreen)
{
    startUI();
    uiWindow* fitted = newWindow("fitted", nullptr, 0, 0, 100, 50);
    uiWindow* fixed = newWindow("fixed", nullptr, 0, 0, 100, 50);
    fitted->setFitToScreen(true);
    drainWorker();
    EXPECT_TRUE(engine->called("View::SetSize 160x120")) << "fits the screen it was given at once";
    ui::onResolutionChange(320, 200);
    drainWorker();
    EXPECT_TRUE(engine->called("View::SetSize 320x200"));
    EXPECT_TRUE(captured.contains("ui::onResolutionChange(320, 200)\n"));
    std::lock_guard<util::mutex> guard(fixed->windowLock);
    EXPECT_EQ(100, fixed->width);
    ui::onResolutionChange(WIDTH, HEIGHT);
}

} // namespace
} // namespace tavrix::test
