// The user interface with the real engine library, opened by its name as the client opens it: the built-in
// loading page in the window's pixels, the screens' statements reaching the page, and a content page with
// its images served through the asset scheme.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ui/uifixture.h"

namespace tavrix::test {
namespace {

class uiEngineTest : public uiFixture {
protected:
    void SetUp() override
    {
        uiFixture::SetUp();
        if (!ready)
            return;
        copyContent();
        startUI(nullptr);
    }

    // The bundled fonts and pages, as the content store has them after an update.
    void copyContent()
    {
        std::filesystem::copy(std::filesystem::path(TAVRIX_SOURCE_DIR) / "content" / "data", dir.path() + "/dev/data",
                              std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
    }

    // RGBA of a pixel of the window's last image; empty while it has none that large.
    static std::vector<uint8_t> pixel(uiWindow* window, int x, int y)
    {
        std::lock_guard<util::mutex> guard(window->pixelLock);
        if (x >= window->imageWidth || y >= window->imageHeight)
            return {};
        const uint8_t* p = window->pixels + (size_t(y) * size_t(window->imageWidth) + size_t(x)) * 4;
        return {p[2], p[1], p[0], p[3]};
    }

    // Waits until the window's image shows the colour at the place.
    static bool shows(uiWindow* window, int x, int y, const std::vector<uint8_t>& rgba)
    {
        return eventually([&] { return pixel(window, x, y) == rgba; });
    }

    // Pixels of the window's image in the rectangle that differ from the colour.
    static int differing(uiWindow* window, int x0, int y0, int x1, int y1, const std::vector<uint8_t>& rgba)
    {
        int count = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                count += pixel(window, x, y) != rgba;
        return count;
    }
};

const std::vector<uint8_t> GREY{170, 170, 170, 255};

TEST_F(uiEngineTest, theLoadingPageIsGreyAndTakesTheScreensStatements)
{
    uiWindow* window = newWindow("sys.loadingScreenWindow", "embed:loading.html", 0, 0, 640, 480);
    ASSERT_TRUE(eventually([&] { return window->isLoaded(); })) << "the page never loaded";
    EXPECT_TRUE(shows(window, 5, 5, GREY));
    // The middle of the progress bar: empty, then full.
    EXPECT_TRUE(shows(window, 320, 211, {238, 238, 238, 255}));
    window->execJS("document.getElementById('progress').style.width ='100%';");
    EXPECT_TRUE(shows(window, 320, 211, {0x33, 0x55, 0xCC, 255}));
    // The status line under the bar: empty, then text.
    EXPECT_EQ(0, differing(window, 100, 245, 300, 270, GREY));
    window->execJS("document.getElementById('status').innerHTML = \"\\x43\\x68\\x65\\x63\\x6b\\x69\\x6e\\x67\";");
    EXPECT_TRUE(eventually([&] { return differing(window, 100, 245, 300, 270, GREY) > 50; })) << "no text drawn";
}

// The title screen's sky, grass and dirt are images and colours of its own folder under data/ui.
TEST_F(uiEngineTest, aContentPageIsDrawnWithItsImages)
{
    uiWindow* window = newWindow("mainMenu", "mainMenu.titleScreen", 0, 0, 640, 480);
    ASSERT_TRUE(eventually([&] { return window->isLoaded(); })) << "the page never loaded";
    EXPECT_TRUE(shows(window, 5, 0, {0x3f, 0x8f, 0xd2, 255})) << "the sky image's first row";
    EXPECT_TRUE(shows(window, 5, 394, {0x5a, 0xa8, 0x3a, 255})) << "grass";
    EXPECT_TRUE(shows(window, 5, 470, {0x8a, 0x5a, 0x34, 255})) << "the dirt tile";
    EXPECT_TRUE(captured.texts(util::LOG_ERROR).empty()) << captured.texts(util::LOG_ERROR).front();
}

TEST_F(uiEngineTest, aMissingPageKeepsTheOldContentAndIsLogged)
{
    uiWindow* window = newWindow("w", "embed:loading.html", 0, 0, 640, 480);
    ASSERT_TRUE(eventually([&] { return window->isLoaded(); }));
    window->setURL("file://ui/nothing/index.html");
    EXPECT_TRUE(eventually([&] { return captured.contains("[UI/w] -> Failed to Load Ressource 'file://ui/nothing/index.html' (404) Code 3\n"); }));
    EXPECT_TRUE(captured.contains("uiVFSTransportHandlerAssetScheme: File Not found 'ui/nothing/index.html' [Path: data/ui/nothing/index.html]\n"));
    EXPECT_TRUE(shows(window, 5, 5, GREY));
}

// The engine is set up before the content store has the faces, as on a fresh install, whose update
// brings them while the loading screen is shown. Until then the engine draws with the machine's faces, if
// it has them.
class uiEngineLateFacesTest : public uiEngineTest {
protected:
    void SetUp() override
    {
        uiFixture::SetUp();
        if (!ready)
            return;
        copyContent();
        std::filesystem::rename(dir.path() + "/dev/data/ui/shared/font", dir.path() + "/fonts");
        startUI(nullptr);
    }

    void facesArrive() { std::filesystem::rename(dir.path() + "/fonts", dir.path() + "/dev/data/ui/shared/font"); }
};

TEST_F(uiEngineLateFacesTest, theLoadingPageTakesTheFacesThatComeLaterWithItsStatementsKept)
{
    uiWindow* window = newWindow("sys.loadingScreenWindow", "embed:loading.html", 0, 0, 640, 480);
    ASSERT_TRUE(eventually([&] { return window->isLoaded(); })) << "the page never loaded";
    window->execJS("document.getElementById('progress').style.width ='100%';");
    window->execJS("document.getElementById('status').innerHTML = \"\\x43\\x68\\x65\\x63\\x6b\\x69\\x6e\\x67\";");
    EXPECT_TRUE(shows(window, 320, 211, {0x33, 0x55, 0xCC, 255}));
    drainWorker();

    facesArrive();
    EXPECT_TRUE(eventually([&] { return captured.contains("Loaded Font(LiberationSans-Regular) once the content store had it\n"); }));
    EXPECT_TRUE(eventually([&] { return captured.contains("Loaded Font(LiberationMono-Regular) once the content store had it\n"); }));
    // The page laid out again with them at the next update.
    drainWorker();
    EXPECT_TRUE(eventually([&] { return differing(window, 100, 165, 540, 195, GREY) > 50; })) << "the title";
    EXPECT_TRUE(eventually([&] { return differing(window, 100, 245, 300, 270, GREY) > 50; })) << "the status";
    EXPECT_TRUE(shows(window, 320, 211, {0x33, 0x55, 0xCC, 255})) << "the progress kept";
}

} // namespace
} // namespace tavrix::test
