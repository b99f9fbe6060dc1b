// What a page looks like on the view's surface: the pixels, sizes, input and the page statements.
#include "enginefixture.h"

#include <cairo.h>

#include <cstdlib>
#include <limits>

namespace tavrix::test {
namespace {

// With TAVRIX_PNG_DIR set, the surface is written there as <name>.png for a person to look at.
void keepPicture(eawebkit::View* view, const std::string& name)
{
    const char* dir = std::getenv("TAVRIX_PNG_DIR");
    if (!dir)
        return;
    eawebkit::Surface* surface = view->GetSurface();
    eawebkit::SurfaceDescriptor descriptor{};
    surface->Lock(&descriptor, nullptr);
    cairo_surface_t* image = cairo_image_surface_create_for_data(
        static_cast<unsigned char*>(descriptor.pixels), CAIRO_FORMAT_ARGB32, surface->GetContentWidth(),
        surface->GetContentHeight(), descriptor.stride);
    cairo_surface_write_to_png(image, (std::string(dir) + "/" + name + ".png").c_str());
    cairo_surface_destroy(image);
    surface->Unlock();
}

const BGRA kGrey{170, 170, 170, 255};
const BGRA kWhite{255, 255, 255, 255};
const BGRA kBlack{0, 0, 0, 255};
const BGRA kTrack{0xee, 0xee, 0xee, 255};
const BGRA kBar{0xCC, 0x55, 0x33, 255};
const BGRA kRed{0, 0, 255, 255};
const BGRA kBlue{255, 0, 0, 255};

class renderTest : public engineTest {
protected:
    void SetUp() override
    {
        engineTest::SetUp();
        addClientFonts(fonts);
        serveFile();
    }

    bytesStream::counters fonts;
};

TEST_F(renderTest, TheSurfaceIsTheViewsSizeAndWhiteBeforeAnyPage)
{
    eawebkit::View* view = newView(70, 30);
    eawebkit::Surface* surface = view->GetSurface();
    ASSERT_TRUE(surface->IsAllocated());
    EXPECT_EQ(surface->GetContentWidth(), 70);
    EXPECT_EQ(surface->GetContentHeight(), 30);
    eawebkit::SurfaceDescriptor descriptor{};
    surface->Lock(&descriptor, nullptr);
    EXPECT_EQ(descriptor.stride, 70 * 4);
    surface->Unlock();
    eawebkit::SurfaceDescriptor corner{};
    eawebkit::IntRect rect{10, 5, 1, 1};
    surface->Lock(&corner, &rect);
    EXPECT_EQ(static_cast<uint8_t*>(corner.pixels), static_cast<uint8_t*>(descriptor.pixels) + 5 * 70 * 4 + 10 * 4);
    surface->Unlock();
    EXPECT_EQ(pixel(view, 0, 0), kWhite);
    EXPECT_EQ(pixel(view, 69, 29), kWhite);
}

TEST_F(renderTest, AGreyPageIsGreyEverywhere)
{
    eawebkit::View* view = newView(64, 48);
    ASSERT_EQ(loadPage(view, "grey", "<html><body style='background:#aaa'></body></html>"), eawebkit::kLoadCompleted);
    keepPicture(view, "grey");
    EXPECT_EQ(pixel(view, 5, 5), kGrey);
    EXPECT_EQ(pixel(view, 63, 47), kGrey);
}

// A bar of 400 x 15 pixels with 2 pixels of padding and a 1 pixel border, centred in a 640 pixel view with
// 10 pixels of padding: its border box spans x 117 to 522 and y 14 to 34; the progress starts at (120, 17).
const char* const kBarPage = R"(<html><head><style>
body { background: #aaa; padding: 10px; margin: 0; }
#bar { width: 400px; height: 15px; background: #eee; padding: 2px; margin: 4px auto; border: 1px double black; }
#progress { background-color: #3355CC; height: 15px; width: 0%; max-width: 100%; float: left; }
</style></head><body><div id="bar"><div id="progress"></div></div><pre id="status"></pre></body></html>)";

TEST_F(renderTest, TheBarSitsWhereItsStyleSheetPutsItAndFollowsTheProgress)
{
    eawebkit::View* view = newView(640, 120);
    ASSERT_EQ(loadPage(view, "bar", kBarPage), eawebkit::kLoadCompleted);
    EXPECT_EQ(pixel(view, 116, 20), kGrey);
    EXPECT_EQ(pixel(view, 117, 20), kBlack);
    EXPECT_EQ(pixel(view, 522, 20), kBlack);
    EXPECT_EQ(pixel(view, 523, 20), kGrey);
    EXPECT_EQ(pixel(view, 300, 13), kGrey);
    EXPECT_EQ(pixel(view, 300, 14), kBlack);
    EXPECT_EQ(pixel(view, 300, 34), kBlack);
    EXPECT_EQ(pixel(view, 120, 20), kTrack);

    int repaints = client.repaints;
    EXPECT_TRUE(view->EvaluateScript("document.getElementById('progress').style.width ='50%';"));
    view->Update(0);
    keepPicture(view, "bar-half");
    EXPECT_EQ(client.repaints, repaints + 1);
    EXPECT_EQ(pixel(view, 120, 17), kBar);
    EXPECT_EQ(pixel(view, 319, 31), kBar);
    EXPECT_EQ(pixel(view, 320, 20), kTrack);

    // More than 100 % stops at the track's end.
    EXPECT_TRUE(view->EvaluateScript("document.getElementById('progress').style.width ='150%';"));
    view->Update(0);
    EXPECT_EQ(pixel(view, 519, 20), kBar);
    EXPECT_EQ(pixel(view, 520, 20), kTrack);
}

TEST_F(renderTest, TheStatusTakesTheMarkupAndTheTitleIsStored)
{
    eawebkit::View* view = newView(640, 120);
    ASSERT_EQ(loadPage(view, "bar", kBarPage), eawebkit::kLoadCompleted);
    EXPECT_TRUE(view->EvaluateScript(statusStatement("<b>Assetserver unavailable</b>\nclose in 10 Seconds").c_str()));
    view->Update(0);
    keepPicture(view, "status");
    int ink = 0;
    for (int y = 40; y < 100; ++y)
        for (int x = 10; x < 300; ++x)
            ink += pixel(view, x, y) != kGrey;
    EXPECT_GT(ink, 100);

    EXPECT_TRUE(view->EvaluateScript("document.title = \"\\x73\\x79\\x73\\x2e\\x6d\\x65\\x6e\\x75\\x2f\\xe4\";"));
    EXPECT_NE(describe(view).find("title=sys.menu/\xc3\xa4\n"), std::string::npos);
}

TEST_F(renderTest, OnlyTheThreeStatementsAreRun)
{
    eawebkit::View* view = newView(640, 120);
    ASSERT_EQ(loadPage(view, "bar", kBarPage), eawebkit::kLoadCompleted);
    const char* const refused[] = {
        "",
        "alert(1);",
        "document.getElementById('progress').style.width = '50%';",
        "document.getElementById('progress').style.width ='50%'",
        "document.getElementById('progress').style.width ='50';",
        "document.getElementById('progress').style.width ='-5%';",
        "document.getElementById(\"progress\").style.width ='50%';",
        "document.getElementById('progress').style.width ='50%'; alert(1);",
        "document.getElementById('bar').style.width ='50%';",
        "document.getElementById('status').innerHTML = \"hello\";",
        "document.getElementById('status').innerHTML = \"\\x4\";",
        "document.getElementById('status').innerHTML = \"\\x4g\";",
        "document.getElementById('status').innerHTML = '\\x41';",
        "document.getElementById('status').innerHTML = \"\\x41\"",
        "document.title = \"\\u0041\";",
        "document.title=\"\\x41\";",
    };
    int repaints = client.repaints;
    std::string before = describe(view);
    for (const char* script : refused) {
        SCOPED_TRACE(script);
        EXPECT_FALSE(view->EvaluateScript(script));
    }
    EXPECT_FALSE(view->EvaluateScript(nullptr));
    view->Update(0);
    EXPECT_EQ(client.repaints, repaints);
    EXPECT_EQ(describe(view), before);
    EXPECT_EQ(pixel(view, 120, 20), kTrack);

    // A page without the elements refuses the statements that need them.
    ASSERT_EQ(loadPage(view, "plain", "<body>"), eawebkit::kLoadCompleted);
    EXPECT_FALSE(view->EvaluateScript("document.getElementById('progress').style.width ='50%';"));
    EXPECT_FALSE(view->EvaluateScript("document.getElementById('status').innerHTML = \"\\x41\";"));
    EXPECT_TRUE(view->EvaluateScript("document.title = \"\";"));
}

TEST_F(renderTest, SetSizeRepaintsAtOnceWithTheNewSize)
{
    eawebkit::View* view = newView(64, 48);
    ASSERT_EQ(loadPage(view, "grey", "<body style='background:#aaa'>"), eawebkit::kLoadCompleted);
    int repaints = client.repaints;
    view->SetSize(200, 150);
    EXPECT_EQ(client.repaints, repaints + 1);
    eawebkit::Surface* surface = view->GetSurface();
    EXPECT_EQ(surface->GetContentWidth(), 200);
    EXPECT_EQ(surface->GetContentHeight(), 150);
    eawebkit::SurfaceDescriptor descriptor{};
    surface->Lock(&descriptor, nullptr);
    EXPECT_EQ(descriptor.stride, 800);
    surface->Unlock();
    EXPECT_EQ(pixel(view, 199, 149), kGrey);
    view->SetSize(0, 10);
    EXPECT_EQ(surface->GetContentWidth(), 200);
}

TEST_F(renderTest, AClickOnALinkLoadsItsTarget)
{
    eawebkit::View* view = newView(200, 100);
    handler.files["file://ui/other/index.html"] = {"<body style='background:#aaa'>"};
    ASSERT_EQ(loadPage(view, "menu",
                       "<body style='margin:0'><a href='../other/index.html' style='display:block;height:50px'>"
                       "Other</a></body>"),
              eawebkit::kLoadCompleted);
    keepPicture(view, "link");
    view->OnMouseMoveEvent({5, 5, -1, -1, 0});
    view->OnMouseButtonEvent({eawebkit::kMouseLeft, 5, 5, -1, -1, 0, 1, true});
    view->OnMouseButtonEvent({eawebkit::kMouseLeft, 5, 5, -1, -1, 0, 1, false});
    EXPECT_EQ(updateUntilLoaded(view), eawebkit::kLoadCompleted);
    EXPECT_EQ(client.loads.back().uri, "file://ui/other/index.html");
    EXPECT_EQ(pixel(view, 5, 5), kGrey);

    // Below the link nothing happens.
    size_t loads = client.loads.size();
    view->OnMouseButtonEvent({eawebkit::kMouseLeft, 5, 80, -1, -1, 0, 1, true});
    view->OnMouseButtonEvent({eawebkit::kMouseLeft, 5, 80, -1, -1, 0, 1, false});
    for (int i = 0; i < 5; ++i)
        view->Update(0);
    EXPECT_EQ(client.loads.size(), loads);
}

TEST_F(renderTest, TheWheelScrollsByItsDeltaWithinTheDocument)
{
    eawebkit::View* view = newView(100, 100);
    ASSERT_EQ(loadPage(view, "tall",
                       "<body style='margin:0'><div style='height:100px;background:#ff0000'></div>"
                       "<div style='height:200px;background:#0000ff'></div></body>"),
              eawebkit::kLoadCompleted);
    auto wheel = [&](int32_t delta, float lineDelta = 1.0f) {
        view->OnMouseWheelEvent({delta, lineDelta, -1, -1, -1, -1, 0});
        view->Update(0);
    };
    wheel(-32);
    EXPECT_NE(describe(view).find("scroll=0,32\n"), std::string::npos);
    EXPECT_EQ(pixel(view, 50, 67), kRed);
    EXPECT_EQ(pixel(view, 50, 68), kBlue);
    wheel(-1000);
    EXPECT_NE(describe(view).find("scroll=0,200\n"), std::string::npos);
    EXPECT_EQ(pixel(view, 50, 0), kBlue);
    int repaints = client.repaints;
    wheel(-32); // already at the bottom: nothing changes
    EXPECT_EQ(client.repaints, repaints);
    wheel(1000);
    EXPECT_NE(describe(view).find("scroll=0,0\n"), std::string::npos);
    EXPECT_EQ(pixel(view, 50, 0), kRed);

    // Distances beyond any pixel count stop at the ends too; one that is not a number moves nothing.
    const struct {
        int32_t delta;
        float lineDelta;
        const char* scroll;
    } extremes[] = {
        {INT32_MIN, 1.0f, "scroll=0,200\n"},
        {INT32_MAX, 1.0f, "scroll=0,0\n"},
        {-1, 1e30f, "scroll=0,200\n"},
        {1, std::numeric_limits<float>::infinity(), "scroll=0,0\n"},
        {-1, std::numeric_limits<float>::quiet_NaN(), "scroll=0,0\n"},
    };
    for (const auto& e : extremes) {
        wheel(e.delta, e.lineDelta);
        EXPECT_NE(describe(view).find(e.scroll), std::string::npos) << e.delta << " x " << e.lineDelta;
    }
}

TEST_F(renderTest, InputIsRecordedWithEdgeCoordinatesClamped)
{
    eawebkit::View* view = newView(100, 50);
    view->OnMouseMoveEvent({100, 50, -1, -1, 0});
    view->OnMouseButtonEvent({eawebkit::kMouseRight, 100, 0, -1, -1, 0, 1, true});
    view->OnKeyboardEvent({65, eawebkit::kModShift, false, true});
    view->OnKeyboardEvent({97, 0, true, true});
    view->SetFocus(true);
    EXPECT_NE(describe(view).find("focus=1\n"), std::string::npos);
    EXPECT_NE(describe(view).find("events=move 99,49;button 2 down 99,0;key 65 down 1;char 97;focus in\n"),
              std::string::npos);
}

TEST_F(renderTest, HoverRepaintsWhatItChanges)
{
    eawebkit::View* view = newView(100, 100);
    ASSERT_EQ(loadPage(view, "hover",
                       "<style>body{margin:0} div{height:50px;background:#ff0000} div:hover{background:#0000ff}</style>"
                       "<body><div></div></body>"),
              eawebkit::kLoadCompleted);
    EXPECT_EQ(pixel(view, 10, 10), kRed);
    view->OnMouseMoveEvent({10, 10, -1, -1, 0});
    view->Update(0);
    EXPECT_EQ(pixel(view, 10, 10), kBlue);
    view->OnMouseMoveEvent({10, 80, -1, -1, 0});
    view->Update(0);
    EXPECT_EQ(pixel(view, 10, 10), kRed);
}

// The engine is set up before the host's content holds the faces: pages are laid out without them, and
// the faces come later.
class lateFaceTest : public engineTest {
protected:
    void SetUp() override
    {
        engineTest::SetUp();
        setClientFamilies(*engine);
        serveFile();
    }

    // Red text (sans-serif only) above and below the bar of kBarPage.
    static constexpr const char* kPage = R"(<html><head><style>
body { background: #aaa; padding: 10px; margin: 0; color: #ff0000; font-family: Arial; }
#title { text-align: center; font-size: 18pt; }
#bar { width: 400px; height: 15px; background: #eee; padding: 2px; margin: 4px auto; border: 1px double black; }
#progress { background-color: #3355CC; height: 15px; width: 0%; max-width: 100%; float: left; }
</style></head><body><div id="title">L O A D I N G</div><div id="bar"><div id="progress"></div></div>
<div id="status"></div></body></html>)";
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 120;
    // Rows above the bar (the title) and below it (the status).
    static constexpr int kTitleEnd = 40;
    static constexpr int kStatusStart = 66;

    // The page with the screens' three statements applied.
    eawebkit::View* statedPage()
    {
        eawebkit::View* view = newView(kWidth, kHeight);
        EXPECT_EQ(loadPage(view, "loading", kPage), eawebkit::kLoadCompleted);
        EXPECT_TRUE(view->EvaluateScript("document.getElementById('progress').style.width ='50%';"));
        EXPECT_TRUE(view->EvaluateScript(statusStatement("Assetserver unavailable").c_str()));
        EXPECT_TRUE(view->EvaluateScript("document.title = \"\\x4c\\x6f\\x61\\x64\";"));
        view->Update(0);
        return view;
    }

    // Red pixels in the rows [from, to).
    static int ink(eawebkit::View* view, int from, int to)
    {
        int count = 0;
        for (int y = from; y < to; ++y)
            for (int x = 0; x < kWidth; ++x) {
                BGRA p = pixel(view, x, y);
                count += p[2] > p[1] + 40;
            }
        return count;
    }

    static int differing(eawebkit::View* a, eawebkit::View* b)
    {
        int count = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                count += pixel(a, x, y) != pixel(b, x, y);
        return count;
    }

    bytesStream::counters fonts;
};

TEST_F(lateFaceTest, APageLaidOutBeforeItsFacesDrawsItsTextOnceTheyComeAndKeepsItsStatements)
{
    eawebkit::View* late = statedPage();
    keepPicture(late, "late-face-before");
    EXPECT_GT(ink(late, 0, kTitleEnd), 100) << "the title, with the installed face until the host's come";
    EXPECT_EQ(pixel(late, 120 + 199, 17 + 28), kBar) << "the bar is drawn all the same";

    addClientFaces(*engine, fonts);
    int repaints = client.repaints;
    late->Update(0);
    keepPicture(late, "late-face-after");
    EXPECT_EQ(client.repaints, repaints + 1) << "the host hears of the new image";
    EXPECT_GT(ink(late, 0, kTitleEnd), 100) << "the title";
    EXPECT_GT(ink(late, kStatusStart, kHeight), 100) << "the status the statement wrote";
    EXPECT_NE(describe(late).find("title=Load\n"), std::string::npos);

    // Measured and drawn with the faces: as a page laid out after they came, statements and all.
    eawebkit::View* early = statedPage();
    keepPicture(early, "late-face-reference");
    EXPECT_EQ(differing(late, early), 0);

    repaints = client.repaints;
    late->Update(0);
    EXPECT_EQ(client.repaints, repaints) << "laid out once for the faces";
}

} // namespace
} // namespace tavrix::test
