// Loading pages through the host's transport handler: sub-resources, address resolution, the load events,
// cancellation and the time-out.
#include "enginefixture.h"

namespace tavrix::test {
namespace {

class pageLoadTest : public engineTest {
protected:
    void SetUp() override
    {
        engineTest::SetUp();
        serveFile();
        view = newView(64, 64);
    }

    eawebkit::View* view = nullptr;
};

const BGRA kRed{0, 0, 255, 255};
const BGRA kGreen{0, 255, 0, 255};
const BGRA kBlue{255, 0, 0, 255};
const BGRA kWhite{255, 255, 255, 255};

TEST_F(pageLoadTest, StyleSheetAndImageComeThroughTheHandler)
{
    handler.files["file://ui/menu/style.css"] = {"body { margin: 0; background: #00ff00; }"};
    handler.files["file://ui/menu/red.png"] = {solidPng(8, 8, 1, 0, 0)};
    ASSERT_EQ(loadPage(view, "menu",
                       "<link rel=stylesheet href='style.css'><body><img src='red.png' style='display:block'></body>"),
              eawebkit::kLoadCompleted);
    EXPECT_EQ(handler.callsOf("InitJob"), (std::vector<std::string>{"file://ui/menu/index.html",
                                                                     "file://ui/menu/style.css",
                                                                     "file://ui/menu/red.png"}));
    EXPECT_EQ(handler.callsOf("ShutdownJob").size(), 3u);
    EXPECT_EQ(handler.liveJobs, 0);
    EXPECT_EQ(pixel(view, 3, 3), kRed);
    EXPECT_EQ(pixel(view, 20, 20), kGreen);
    EXPECT_EQ(client.loads.back().uri, "file://ui/menu/index.html");
    EXPECT_EQ(client.loads.back().userData, this);
}

TEST_F(pageLoadTest, DataImagesAreDecodedByTheEngine)
{
    // The backgrounds' url() values are not quoted, as pages write them.
    std::string page = "<style>body { margin: 0 } #tile { height: 8px; background: url(" + dataPng(2, 2, 0, 0, 1) +
                       ") repeat-x; }</style><body><img src='" + dataPng(4, 4, 1, 0, 0) +
                       "' style='display:block'><div id=tile></div><div style=\"height:8px;background:url(" +
                       dataPng(1, 1, 0, 1, 0) + ")\"></div></body>";
    ASSERT_EQ(loadPage(view, "data", page), eawebkit::kLoadCompleted);
    EXPECT_EQ(handler.callsOf("InitJob").size(), 1u);
    EXPECT_EQ(pixel(view, 1, 1), kRed);
    // The tile row lies below the 4 pixel image, repeated across but not down.
    EXPECT_EQ(pixel(view, 60, 5), kBlue);
    EXPECT_EQ(pixel(view, 60, 8), kWhite);
    EXPECT_EQ(pixel(view, 60, 14), kGreen);
}

TEST_F(pageLoadTest, AGradientIsNoImageToFetch)
{
    ASSERT_EQ(loadPage(view, "sky", "<body style='background: #00ff00 linear-gradient(#3f8fd2, rgba(0, 0, 0, 0.1) 70%)'>"),
              eawebkit::kLoadCompleted);
    EXPECT_EQ(handler.callsOf("InitJob").size(), 1u);
    EXPECT_EQ(pixel(view, 30, 30), kGreen);
}

TEST_F(pageLoadTest, RelativeAddressesResolveAgainstThePageWithoutLeavingTheirRoot)
{
    handler.files["file://ui/shared/main.css"] = {"@import 'parts/more.css';"};
    handler.files["file://ui/shared/parts/more.css"] = {"body { background: url(../../img/a.png) }"};
    handler.files["file://ui/img/a.png"] = {solidPng(1, 1, 0, 1, 0)};
    handler.files["file://ui/top.css"] = {""};
    ASSERT_EQ(loadPage(view, "menu",
                       "<link rel=stylesheet href='../shared/./main.css'>"
                       "<link rel=stylesheet href='../../../../top.css'><body></body>"),
              eawebkit::kLoadCompletedWithErrors);
    EXPECT_EQ(handler.callsOf("InitJob"),
              (std::vector<std::string>{"file://ui/menu/index.html", "file://ui/shared/main.css", "file://ui/top.css",
                                        "file://ui/shared/parts/more.css", "file://ui/img/a.png"}));
    EXPECT_EQ(pixel(view, 30, 30), kGreen);
}

TEST_F(pageLoadTest, EmbeddedPagesResolveUnderTheirOwnRoot)
{
    handler.files["file://embedded/style.css"] = {"body { background: #0000ff }"};
    handler.files["file://embedded/loading.html"] = {"<link rel=stylesheet href='/style.css'>"};
    ASSERT_EQ(load(view, "file://embedded/loading.html"), eawebkit::kLoadCompleted);
    EXPECT_EQ(pixel(view, 30, 30), kBlue);
}

struct loadCase {
    const char* name;
    std::string page;     // served as file://ui/case/index.html unless empty
    const char* address;  // what SetURI is given
    int32_t event;
    int32_t number;
    uint32_t code;
};

TEST_F(pageLoadTest, EveryLoadEndsInExactlyOneOfThreeEvents)
{
    const loadCase cases[] = {
        {"complete", "<body>", "file://ui/case/index.html", eawebkit::kLoadCompleted, 0, 0},
        {"image missing", "<img src=none.png>", "file://ui/case/index.html", eawebkit::kLoadCompletedWithErrors, 1, 0},
        {"sheet and image missing", "<link rel=stylesheet href=a.css><img src=b.png>", "file://ui/case/index.html",
         eawebkit::kLoadCompletedWithErrors, 2, 0},
        {"undecodable image", "<img src=index.html>", "file://ui/case/index.html",
         eawebkit::kLoadCompletedWithErrors, 1, 0},
        {"page missing", "", "file://ui/nothing/index.html", eawebkit::kLoadFailed, 404, eawebkit::kLoadErrorTransfer},
        {"other scheme", "", "http://127.0.0.1/", eawebkit::kLoadFailed, 0, eawebkit::kLoadErrorNoHandler},
        {"no scheme", "", "index.html", eawebkit::kLoadFailed, 0, eawebkit::kLoadErrorNoHandler},
        {"bad data", "", "data:text/html;base64,***", eawebkit::kLoadFailed, 0, eawebkit::kLoadErrorTransfer},
        {"too long", "", nullptr, eawebkit::kLoadFailed, 0, eawebkit::kLoadErrorURITooLong},
    };
    for (const loadCase& c : cases) {
        SCOPED_TRACE(c.name);
        handler.files.clear();
        if (!c.page.empty())
            handler.files["file://ui/case/index.html"] = {c.page};
        std::string address = c.address ? c.address : "file://ui/" + std::string(600, 'a');
        size_t before = client.loads.size();
        EXPECT_EQ(load(view, address), c.event);
        for (int i = 0; i < 5; ++i)
            view->Update(0);
        ASSERT_EQ(client.loads.size(), before + 1);
        EXPECT_EQ(client.loads.back().number, c.number);
        EXPECT_EQ(client.loads.back().code, c.code);
        EXPECT_EQ(client.loads.back().uri, address);
    }
}

TEST_F(pageLoadTest, AFailedPageKeepsTheOldContent)
{
    ASSERT_EQ(loadPage(view, "blue", "<body style='background:#0000ff'>"), eawebkit::kLoadCompleted);
    int repaints = client.repaints;
    EXPECT_EQ(load(view, "file://ui/missing/index.html"), eawebkit::kLoadFailed);
    EXPECT_EQ(pixel(view, 10, 10), kBlue);
    EXPECT_EQ(client.repaints, repaints);
    EXPECT_NE(describe(view).find("state=failed"), std::string::npos);
    // A scheme nobody serves fails at once, in SetURI itself.
    EXPECT_FALSE(view->SetURI("ftp://host/x"));
    EXPECT_EQ(client.loads.back().event, eawebkit::kLoadFailed);
    EXPECT_EQ(pixel(view, 10, 10), kBlue);
}

TEST_F(pageLoadTest, APendingTransferCountsOnlyOnceItIsDone)
{
    // The handler sets 404 on every Transfer that has no data yet.
    handler.files["file://ui/slow/index.html"] = {"<body style='background:#00ff00'>", 5};
    ASSERT_TRUE(view->SetURI("file://ui/slow/index.html"));
    for (int i = 0; i < 5; ++i)
        view->Update(0);
    EXPECT_TRUE(client.loads.empty());
    EXPECT_EQ(updateUntilLoaded(view), eawebkit::kLoadCompleted);
    EXPECT_EQ(pixel(view, 10, 10), kGreen);
}

TEST_F(pageLoadTest, InitJobIsCalledOnceEvenWhenItIsNotDone)
{
    handler.initJobsDone = false;
    ASSERT_EQ(loadPage(view, "once", "<body>"), eawebkit::kLoadCompleted);
    EXPECT_EQ(handler.callsOf("InitJob").size(), 1u);
    EXPECT_EQ(handler.liveJobs, 0);
}

TEST_F(pageLoadTest, ANewAddressCancelsEveryJobInFlight)
{
    handler.files["file://ui/stuck/a.png"] = {"", 0, true};
    handler.files["file://ui/stuck/b.css"] = {"", 0, true};
    handler.files["file://ui/stuck/index.html"] = {"<link rel=stylesheet href=b.css><img src=a.png>"};
    handler.files["file://ui/next/index.html"] = {"<body style='background:#00ff00'>"};
    ASSERT_TRUE(view->SetURI("file://ui/stuck/index.html"));
    for (int i = 0; i < 5; ++i)
        view->Update(0);
    EXPECT_EQ(handler.liveJobs, 2);
    EXPECT_EQ(load(view, "file://ui/next/index.html"), eawebkit::kLoadCompleted);
    EXPECT_EQ(handler.callsOf("ShutdownJob"),
              (std::vector<std::string>{"file://ui/stuck/index.html", "file://ui/stuck/b.css",
                                        "file://ui/stuck/a.png", "file://ui/next/index.html"}));
    EXPECT_EQ(handler.liveJobs, 0);
    EXPECT_EQ(client.loads.size(), 1u);
}

TEST_F(pageLoadTest, AJobThatNeverEndsTimesOutAfterFifteenSecondsOnTheHostClock)
{
    handler.files["file://ui/stuck/index.html"] = {"", 0, true};
    ASSERT_TRUE(view->SetURI("file://ui/stuck/index.html"));
    fakeTime += 14.9;
    int calls = fakeTimeCalls;
    for (int i = 0; i < 3; ++i)
        view->Update(0);
    EXPECT_EQ(fakeTimeCalls, calls + 3);
    EXPECT_TRUE(client.loads.empty());
    fakeTime += 0.1;
    view->Update(0);
    ASSERT_EQ(client.loads.size(), 1u);
    EXPECT_EQ(client.loads[0].event, eawebkit::kLoadFailed);
    EXPECT_EQ(client.loads[0].code, eawebkit::kLoadErrorTimeOut);
    EXPECT_EQ(client.networkErrors, 1);
    EXPECT_EQ(handler.liveJobs, 0);
}

TEST_F(pageLoadTest, AStuckSubResourceTimesOutAndThePageCompletesWithErrors)
{
    handler.files["file://ui/page/a.png"] = {"", 0, true};
    ASSERT_TRUE(view->SetURI("data:text/html,<img src='file://ui/page/a.png'>"));
    view->Update(0);
    fakeTime += 15;
    EXPECT_EQ(updateUntilLoaded(view), eawebkit::kLoadCompletedWithErrors);
    EXPECT_EQ(client.networkErrors, 1);
    ASSERT_EQ(client.warnings.size(), 1u);
    EXPECT_NE(client.warnings[0].find("file://ui/page/a.png"), std::string::npos);
}

} // namespace
} // namespace tavrix::test
