// The whole client as its player sees it, on the test's display: the loading screen with its bar and
// status text while the content downloads, the menu page, a click on the menu's link, the download screen
// while a damaged file is fetched again, and a close by SIGTERM. Each screen's picture is kept under the
// build's tests/process/screenshots/ for people to look at.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "clientenv.h"
#include "support/clientprocess.h"
#include "support/httpfixture.h"
#include "support/screenshot.h"
#include "support/tempdir.h"

namespace {

namespace fs = std::filesystem;
using tavrix::test::rgb;
using tavrix::test::screenshot;

constexpr uint32_t VERSION = 1;
constexpr int START_MS = 60000;
constexpr int CLOSE_MS = 20000;
// A screen's picture is taken again until it shows what it should, for this long at most: a loaded
// machine draws late. A file held back for a picture stays held meanwhile (below the client's 30 s bound
// for a transfer that brings nothing).
constexpr int SHOW_MS = 20000;
constexpr int SETTLE_MS = 1500;
constexpr int32_t WIDTH = 800;
constexpr int32_t HEIGHT = 600;

// The bundled content published as one version, served on the asset server's port by a server of the
// test's own, which can hold back a file.
struct publishedContent {
    tavrix::test::tempDir folder;
    bool published = tavrix::test::publishContent(TAVRIX_SOURCE_DIR, folder.path() + "/assets", VERSION);
};

std::string pathOf(const std::string& content) { return "/" + std::to_string(VERSION) + "/" + content; }

bool waitForRequest(const tavrix::test::httpFixture& server, const std::string& target, int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < until) {
        for (const auto& request : server.requests())
            if (request.target == target)
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The window's picture after a moment to settle. With `shows`, taken again every 100 ms for up to
// `withinMs` until it shows what `shows` looks for: a loaded machine draws a screen's later frames late.
screenshot take(const std::string& name, const std::function<bool(const screenshot&)>& shows = nullptr, int withinMs = 0)
{
    fs::create_directories(TAVRIX_SCREENSHOT_DIR);
    std::this_thread::sleep_for(std::chrono::milliseconds(SETTLE_MS / 2));
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(withinMs);
    screenshot shot = screenshot::take(std::string(TAVRIX_SCREENSHOT_DIR) + "/" + name + ".png");
    while (shows && !shows(shot) && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        shot = screenshot::take(std::string(TAVRIX_SCREENSHOT_DIR) + "/" + name + ".png");
    }
    EXPECT_EQ(shot.width(), WIDTH) << name;
    EXPECT_EQ(shot.height(), HEIGHT) << name;
    return shot;
}

// The middle of the pixels of one colour, where a user would click; (-1, -1) when there are none.
std::pair<int32_t, int32_t> centreOf(const screenshot& shot, rgb colour)
{
    int64_t sumX = 0, sumY = 0, n = 0;
    for (int32_t y = 0; y < shot.height(); ++y)
        for (int32_t x = 0; x < shot.width(); ++x)
            if (shot.at(x, y) == colour) {
                sumX += x;
                sumY += y;
                ++n;
            }
    return n ? std::pair<int32_t, int32_t>{int32_t(sumX / n), int32_t(sumY / n)} : std::pair<int32_t, int32_t>{-1, -1};
}

// Text drawn on a plain background: pixels of the rectangle that are not the background.
uint32_t inked(const screenshot& shot, rgb background, int32_t x, int32_t y, int32_t width, int32_t height)
{
    return uint32_t(width * height) - shot.count(background, x, y, width, height, 8);
}

TEST(screensProcess, theLoadingScreenTheMenuAClickAndTheDownloadScreenAsThePlayerSeesThem)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display (the test suite runs under Xvfb)";
    publishedContent content;
    ASSERT_TRUE(content.published);
    tavrix::test::httpFixture server(content.folder.path() + "/assets", 8090);
    tavrix::test::tempDir dir;
    dir.write("cvar.db", "20131017\n11:video.width:i:" + std::to_string(WIDTH) + "\n12:video.height:i:" +
                             std::to_string(HEIGHT) + "\n");

    {
        // A fresh install: the loading screen (the built-in page, in the faces that have arrived) while the
        // last file of the update is held back.
        const std::string last = "data/test/testBlockDef.json";
        server.holdBack(pathOf(last));
        tavrix::test::clientProcess client(TAVRIX_BINARY, true, tavrix::test::CLIENT_ENV);
        ASSERT_TRUE(waitForRequest(server, pathOf(last), START_MS)) << dir.read("client.log");
        const rgb grey{0xaa, 0xaa, 0xaa};
        const auto barOf = [](const screenshot& shot) { return shot.count({0x33, 0x55, 0xcc}, 0, 0, WIDTH, HEIGHT); };
        // The status text below the bar.
        const auto statusOf = [&](const screenshot& shot) { return inked(shot, grey, 0, HEIGHT / 2 + 10, WIDTH, HEIGHT / 4); };
        // While the file is still held back.
        const screenshot loading = take(
            "loading", [&](const screenshot& shot) { return barOf(shot) > 50u && statusOf(shot) > 100u; }, SHOW_MS);
        server.release(pathOf(last));
        EXPECT_EQ(loading.at(5, 5), grey);
        EXPECT_GT(barOf(loading), 50u) << "the progress bar";
        EXPECT_GT(statusOf(loading), 100u) << "the status text\n" << dir.read("client.log");

        ASSERT_TRUE(client.waitForLog("renderMode::switchMode() Switching to: Menu\r\n", START_MS)) << dir.read("client.log");
        const rgb button{0x6b, 0x50, 0x36};
        const auto grassOf = [](const screenshot& shot) { return shot.count({0x5a, 0xa8, 0x3a}, 0, HEIGHT - 96, WIDTH, 96); };
        const screenshot menu = take(
            "menu", [&](const screenshot& shot) { return grassOf(shot) > uint32_t(WIDTH) * 4 && centreOf(shot, button).first >= 0; }, SHOW_MS);
        EXPECT_GT(grassOf(menu), uint32_t(WIDTH) * 4) << "the grass";
        const auto [x, y] = centreOf(menu, button);
        ASSERT_GE(x, 0) << "the menu's link";

        const std::string click = std::string(CLICKWINDOW_BINARY) + " " + std::to_string(x) + " " + std::to_string(y);
        ASSERT_EQ(std::system(click.c_str()), 0);
        const rgb creditsBackground{0x2b, 0x2f, 0x36};
        const auto headingsOf = [](const screenshot& shot) { return shot.count({0x7c, 0xcc, 0x54}, 0, 0, WIDTH, HEIGHT); };
        const screenshot credits = take(
            "credits", [&](const screenshot& shot) { return shot.at(5, 5) == creditsBackground && headingsOf(shot) > 100u; }, SHOW_MS);
        EXPECT_EQ(credits.at(5, 5), creditsBackground) << "the credits page";
        EXPECT_GT(headingsOf(credits), 100u) << "its headings";

        ASSERT_EQ(std::system(CLOSEWINDOW_BINARY), 0);
        EXPECT_EQ(client.wait(CLOSE_MS), 0);
        EXPECT_EQ(client.stderrText(), "");
        EXPECT_FALSE(dir.exists("memleak.log")) << dir.read("memleak.log");
    }
    {
        // Damaged block definitions (same length, other bytes), read at every start: the download screen
        // while they are fetched again.
        const std::string definitions = "data/test/testBlockDef.json";
        std::string bytes = dir.read(definitions);
        ASSERT_FALSE(bytes.empty());
        for (char& c : bytes)
            c = char(~c);
        dir.write(definitions, bytes);
        server.clearRequests();
        server.holdBack(pathOf(definitions));
        fs::remove("client.log");
        tavrix::test::clientProcess client(TAVRIX_BINARY, true, tavrix::test::CLIENT_ENV);
        ASSERT_TRUE(waitForRequest(server, pathOf(definitions), START_MS)) << dir.read("client.log");
        const rgb background{0x2b, 0x2f, 0x36};
        const auto headingOf = [&](const screenshot& shot) { return inked(shot, background, 0, HEIGHT * 2 / 5, WIDTH, 30); };
        const screenshot download = take(
            "download", [&](const screenshot& shot) { return shot.at(5, 5) == background && headingOf(shot) > 100u; }, SHOW_MS);
        server.release(pathOf(definitions));
        EXPECT_EQ(download.at(5, 5), background);
        EXPECT_GT(headingOf(download), 100u) << "the heading";

        ASSERT_TRUE(client.waitForLog("renderMode::switchMode() Switching to: Menu\r\n", START_MS)) << dir.read("client.log");
        client.signal(SIGTERM);
        EXPECT_EQ(client.wait(CLOSE_MS), 0);
        EXPECT_EQ(client.stderrText(), "");
        EXPECT_EQ(dir.read(definitions), tavrix::test::readWhole(fs::path(TAVRIX_SOURCE_DIR) / "content" / definitions));
        // Saved at the close: the file given kept its value, and a variable only the client registers is in it.
        const std::string saved = dir.read("cvar.db");
        EXPECT_NE(saved.find("\n11:video.width:i:800\n"), std::string::npos) << saved;
        EXPECT_NE(saved.find("\n12:ui.updateFPS:i:60\n"), std::string::npos) << saved;
        EXPECT_FALSE(dir.exists("memleak.log")) << dir.read("memleak.log");
    }
}

} // namespace
