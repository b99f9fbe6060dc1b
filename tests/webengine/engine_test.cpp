// The instance: version, initialisation, font faces from the host's streams, settings and handlers.
#include "enginefixture.h"

#include "support/tempdir.h"

namespace tavrix::test {
namespace {

TEST_F(engineTest, ReportsTheVersionTheClientChecks)
{
    EXPECT_STREQ(engine->GetVersion(), "13.3.2.0.0");
    EXPECT_NE(engine->CreateView(), nullptr);
}

TEST_F(engineTest, GivesNoViewBeforeItIsInitialised)
{
    auto create = reinterpret_cast<eawebkit::Instance* (*)()>(library->getProcAddress("CreateEAWebkitInstance"));
    eawebkit::Instance* fresh = create();
    EXPECT_EQ(fresh->CreateView(), nullptr);
    fresh->Destroy();
}

TEST_F(engineTest, EveryFontStreamIsReadOnceAndReleasedOnce)
{
    bytesStream::counters count;
    addClientFonts(count);
    EXPECT_EQ(count.addRefs, 12);
    EXPECT_EQ(count.releases, 12);
    EXPECT_EQ(count.destroyed, 12);
}

TEST_F(engineTest, AStreamThatHoldsNoFaceIsRefusedAndStillReleased)
{
    bytesStream::counters count;
    EXPECT_FALSE(engine->GetTextSystem()->AddFace(new bytesStream("not a font face", count)));
    EXPECT_FALSE(engine->GetTextSystem()->AddFace(new bytesStream("", count)));
    EXPECT_FALSE(engine->GetTextSystem()->AddFace(nullptr));
    EXPECT_EQ(count.releases, 2);
    EXPECT_EQ(count.destroyed, 2);
}

class fontTest : public engineTest {
protected:
    void SetUp() override
    {
        engineTest::SetUp();
        serveFile();
        view = newView(400, 40);
    }

    // The page's surface with one run of text in the given font on a red background.
    std::vector<uint8_t> render(const std::string& font, const std::string& text)
    {
        std::string html = "<body style='margin:0'><span style=\"font: " + font + "; background: #ff0000\">" + text +
                           "</span></body>";
        EXPECT_EQ(loadPage(view, "font" + std::to_string(++pages), html), eawebkit::kLoadCompleted);
        return surfacePixels();
    }

    std::vector<uint8_t> surfacePixels()
    {
        std::vector<uint8_t> pixels;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 400; ++x)
                for (uint8_t byte : pixel(view, x, y))
                    pixels.push_back(byte);
        return pixels;
    }

    // How wide the run is: its red background along the top row.
    int width(const std::string& font, const std::string& text)
    {
        render(font, text);
        int red = 0;
        while (red < 400 && pixel(view, red, 0) == BGRA{0, 0, 255, 255})
            ++red;
        return red;
    }

    eawebkit::View* view = nullptr;
    int pages = 0;
};

TEST_F(fontTest, FamiliesResolveByFaceNameThenBySlot)
{
    bytesStream::counters count;
    addClientFonts(count);
    const int mono = width("20px 'Liberation Mono'", "MMMMMMMMMM");
    EXPECT_EQ(mono, 120); // 0.6 em a character
    EXPECT_EQ(width("20px monospace", "MMMMMMMMMM"), mono);
    EXPECT_EQ(width("20px Nothing, monospace", "MMMMMMMMMM"), mono);
    const int sans = width("20px 'Liberation Sans'", "MMMMMMMMMM");
    EXPECT_GT(sans, mono);
    EXPECT_EQ(width("20px Arial", "MMMMMMMMMM"), sans);  // unknown: the standard slot
    EXPECT_EQ(width("20px serif", "MMMMMMMMMM"), sans);  // the client puts Liberation Sans there
    EXPECT_NE(width("20px 'liberation serif'", "MMMMMMMMMM"), sans);
}

TEST_F(fontTest, WeightFromSixHundredPicksTheBoldFace)
{
    bytesStream::counters count;
    addClientFonts(count);
    const int regular = width("20px 'Liberation Sans'; font-weight: 500", "iiiiiiiiii");
    EXPECT_EQ(width("20px 'Liberation Sans'", "iiiiiiiiii"), regular);
    const int bold = width("20px 'Liberation Sans'; font-weight: 600", "iiiiiiiiii");
    EXPECT_GT(bold, regular);
    EXPECT_EQ(width("bold 20px 'Liberation Sans'", "iiiiiiiiii"), bold);
}

TEST_F(fontTest, AMissingFaceFallsBackWithinItsFamily)
{
    bytesStream::counters count;
    for (const char* family : kFamilies) {
        for (const char* style : kStyles) {
            if (std::string(family) != "LiberationMono" || std::string(style) != "Italic") {
                EXPECT_TRUE(addFace(std::string(kFontDir) + family + "-" + style + ".ttf", count));
            }
        }
    }
    EXPECT_EQ(count.destroyed, 11);
    EXPECT_EQ(render("italic 20px 'Liberation Mono'", "Tavrix"), render("20px 'Liberation Mono'", "Tavrix"));
    EXPECT_NE(render("italic 20px 'Liberation Sans'", "Tavrix"), render("20px 'Liberation Sans'", "Tavrix"));
    EXPECT_NE(render("bold italic 20px 'Liberation Mono'", "Tavrix"), render("20px 'Liberation Mono'", "Tavrix"));

    // Once the face comes, the page shown draws with it, as one loaded after it.
    const std::vector<uint8_t> fallback = render("italic 20px 'Liberation Mono'", "Tavrix");
    EXPECT_TRUE(addFace(std::string(kFontDir) + "LiberationMono-Italic.ttf", count));
    view->Update(0);
    const std::vector<uint8_t> shown = surfacePixels();
    EXPECT_NE(shown, fallback);
    EXPECT_EQ(shown, render("italic 20px 'Liberation Mono'", "Tavrix"));
}

TEST_F(engineTest, SettingsAreKeptAndNoDirectoryIsCreated)
{
    tempDir dir;
    eawebkit::Parameters& parameters = engine->GetParameters();
    std::snprintf(parameters.applicationName, sizeof parameters.applicationName, "Tavrix");
    parameters.minFontSizeForSmoothing = 0;
    parameters.pluginsEnabled = false;
    engine->SetParameters(parameters);
    engine->SetRAMCacheUsage(134217728, 0, 33554432);
    engine->SetDiskCacheUsage(134217728, 16384, 64, 1024, "cache/webkit/");
    engine->SetCookieUsage(4096, 8388608, 256, "cache/cookie/");
    EXPECT_EQ(&engine->GetParameters(), &parameters);
    EXPECT_STREQ(engine->GetParameters().applicationName, "Tavrix");
    EXPECT_FALSE(engine->GetParameters().pluginsEnabled);
    EXPECT_FALSE(dir.exists("cache"));
}

TEST_F(engineTest, HandlersStartWithTheirRegistrationAndEndWithTheEngine)
{
    serveFile();
    EXPECT_EQ(handler.calls, std::vector<std::string>{"Init file"});
    handler.files["file://ui/stuck/index.html"] = {"", 0, true};
    eawebkit::View* view = newView(32, 32);
    ASSERT_TRUE(view->SetURI("file://ui/stuck/index.html"));
    view->Update(0);
    views.clear(); // the engine's shutdown ends the view
    engine->Shutdown();
    EXPECT_EQ(handler.calls, (std::vector<std::string>{"Init file", "InitJob file://ui/stuck/index.html",
                                                       "ShutdownJob file://ui/stuck/index.html", "Shutdown file"}));
    EXPECT_EQ(handler.liveJobs, 0);
}

} // namespace
} // namespace tavrix::test
