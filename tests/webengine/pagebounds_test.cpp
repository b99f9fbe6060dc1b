// Pages from the asset server are untrusted: hostile pages, style sheets and images fail to load by a bound
// instead of crashing the engine, holding it or taking its memory, while pages near the bounds still load;
// NUL bytes and huge sizes in a page are read safely, and a transfer's time-out counts its transfer only.
#include "enginefixture.h"

#include <map>

namespace tavrix::test {
namespace {

const BGRA kGreen{0, 255, 0, 255};
const BGRA kRed{0, 0, 255, 255};

std::string repeat(const std::string& text, size_t times)
{
    std::string out;
    out.reserve(text.size() * times);
    for (size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

std::string nested(const std::string& open, const std::string& close, size_t depth, const std::string& inside = "x")
{
    return repeat(open, depth) + inside + repeat(close, depth);
}

// A selector of `steps` descendant steps that never matches (no span), over `depth` nested divs.
std::string descendantSelector(size_t steps, size_t depth)
{
    return "<style>span" + repeat(" div", steps) + " { color: red }</style>" + nested("<div>", "</div>", depth);
}

// Sheets s0.css ... s<n-1>.css, each importing the next `times` times; the last imports none.
std::map<std::string, std::string> importChain(int n, int times)
{
    std::map<std::string, std::string> sheets;
    for (int i = 0; i < n; ++i)
        sheets["s" + std::to_string(i) + ".css"] =
            i + 1 < n ? repeat("@import 's" + std::to_string(i + 1) + ".css';\n", size_t(times)) + "p { margin: 1px }"
                      : "p { margin: 1px }";
    return sheets;
}

struct hostileCase {
    const char* name;
    std::string page;
    std::map<std::string, std::string> files; // beside the page
    int32_t event;
    uint32_t code;
};

class pageBoundsTest : public engineTest {
protected:
    void SetUp() override
    {
        engineTest::SetUp();
        serveFile();
        view = newView(64, 64);
    }

    int32_t loadCase(const hostileCase& c)
    {
        handler.files.clear();
        for (const auto& [name, data] : c.files)
            handler.files["file://ui/case/" + name] = {data};
        return loadPage(view, "case", c.page);
    }

    eawebkit::View* view = nullptr;
};

TEST_F(pageBoundsTest, HostilePagesFailByABoundAndKeepTheOldContent)
{
    const std::string link = "<link rel=stylesheet href=s0.css><p>x</p>";
    const std::string bigPng = solidPng(4096, 4096, 1, 0, 0);
    const hostileCase cases[] = {
        {"a sheet importing itself", "<link rel=stylesheet href=loop.css>", {{"loop.css", "@import \"loop.css\"; p { margin: 0 }"}},
         eawebkit::kLoadFailed, eawebkit::kLoadErrorTooComplex},
        {"a ring of two sheets", "<style>@import url(a.css);</style>",
         {{"a.css", "@import 'b.css';"}, {"b.css", "@import 'a.css';"}}, eawebkit::kLoadFailed, eawebkit::kLoadErrorTooComplex},
        {"nine sheets each importing the next ten times", link, importChain(9, 10), eawebkit::kLoadFailed,
         eawebkit::kLoadErrorTooComplex},
        {"sheets imported nine deep", link, importChain(9, 1), eawebkit::kLoadFailed, eawebkit::kLoadErrorTooComplex},
        {"twenty nested tables", nested("<table><tr><td>", "</td></tr></table>", 20), {}, eawebkit::kLoadFailed,
         eawebkit::kLoadErrorTooComplex},
        {"eight nested tables around much content", nested("<table><tr><td>", "</td></tr></table>", 8, repeat("<i>a</i>", 2000)),
         {}, eawebkit::kLoadFailed, eawebkit::kLoadErrorTooComplex},
        {"a descendant selector over 32 nested divs", descendantSelector(16, 32), {}, eawebkit::kLoadFailed,
         eawebkit::kLoadErrorTooComplex},
        {"the same selector in a style sheet", "<link rel=stylesheet href=s.css>" + nested("<div>", "</div>", 32),
         {{"s.css", "span" + repeat(" div", 16) + " { color: red }"}}, eawebkit::kLoadFailed, eawebkit::kLoadErrorTooComplex},
        {"twenty divs made tables by a style sheet", "<link rel=stylesheet href=s.css>" + nested("<div>", "</div>", 20),
         {{"s.css", "div { display: table-cell }"}}, eawebkit::kLoadFailed, eawebkit::kLoadErrorTooComplex},
        {"twenty divs made tables by their style", nested("<div style='display:table'>", "</div>", 20), {},
         eawebkit::kLoadFailed, eawebkit::kLoadErrorTooComplex},
        {"a cell spanning 10^10 columns", "<table><tr><td colspan=10000000000>x</td></tr></table>", {}, eawebkit::kLoadFailed,
         eawebkit::kLoadErrorTooComplex},
        {"fifty rows of cells spanning 100,000 columns", "<table>" + repeat("<tr><td colspan=100000>x</td></tr>", 50) + "</table>",
         {}, eawebkit::kLoadFailed, eawebkit::kLoadErrorTooComplex},
        {"300 nested divs", nested("<div>", "</div>", 300), {}, eawebkit::kLoadFailed, eawebkit::kLoadErrorTooComplex},
        {"20,000 nested divs", nested("<div>", "</div>", 20000), {}, eawebkit::kLoadFailed, eawebkit::kLoadErrorTooComplex},
        {"30,000 unclosed divs", repeat("<div>", 30000), {}, eawebkit::kLoadFailed, eawebkit::kLoadErrorTooComplex},
        {"formatting elements reopened in every paragraph", "<p>" + repeat("<b class=a>", 300) + repeat("<p>x", 300), {},
         eawebkit::kLoadFailed, eawebkit::kLoadErrorTooComplex},
        {"100,000 words", repeat("a ", 100000), {}, eawebkit::kLoadFailed, eawebkit::kLoadErrorTooComplex},
        {"20,000 nested :not(", "<style>p" + repeat(":not(", 20000) + "a" + repeat(")", 20000) + " { color: red }</style>", {},
         eawebkit::kLoadFailed, eawebkit::kLoadErrorTooComplex},
        {"a selector of 40 compounds", "<style>" + repeat("p > ", 39) + "p { color: red }</style>", {}, eawebkit::kLoadFailed,
         eawebkit::kLoadErrorTooComplex},
        {"a 32 MiB page", repeat("<div></div>", (size_t(32) << 20) / 11), {}, eawebkit::kLoadFailed, eawebkit::kLoadErrorTooLarge},
        {"14 MB of style sheet", "<link rel=stylesheet href=big.css>", {{"big.css", repeat("p { margin: 1px }\n", 800000)}},
         eawebkit::kLoadFailed, eawebkit::kLoadErrorTooLarge},
        {"images above the page's budget", "<img src=a.png><img src=b.png><img src=c.png>",
         {{"a.png", bigPng}, {"b.png", bigPng}, {"c.png", bigPng}}, eawebkit::kLoadFailed, eawebkit::kLoadErrorTooLarge},
    };
    ASSERT_EQ(loadPage(view, "green", "<body style='background:#00ff00'>"), eawebkit::kLoadCompleted);
    for (const hostileCase& c : cases) {
        SCOPED_TRACE(c.name);
        size_t warnings = client.warnings.size();
        EXPECT_EQ(loadCase(c), c.event);
        EXPECT_EQ(client.loads.back().code, c.code);
        ASSERT_GT(client.warnings.size(), warnings);
        EXPECT_EQ(client.warnings.back().rfind("Refused 'file://ui/case/index.html': ", 0), 0u) << client.warnings.back();
        EXPECT_EQ(pixel(view, 10, 10), kGreen);
        EXPECT_EQ(handler.liveJobs, 0);
    }
}

TEST_F(pageBoundsTest, PagesWithinTheBoundsLoad)
{
    const std::string link = "<link rel=stylesheet href=s0.css><p>x</p>";
    const hostileCase cases[] = {
        {"200 nested divs", nested("<div>", "</div>", 200), {}, eawebkit::kLoadCompleted, 0},
        {"divs made tables by a style sheet", "<link rel=stylesheet href=s.css>" + nested("<div>", "</div>", 8),
         {{"s.css", "div { display: table-cell }"}}, eawebkit::kLoadCompleted, 0},
        {"a table of 60 by 60 cells", "<table>" + repeat("<tr>" + repeat("<td>x", 60), 60) + "</table>", {},
         eawebkit::kLoadCompleted, 0},
        {"ten rows of cells spanning 1000 columns", "<table>" + repeat("<tr><td colspan=1000>x</td></tr>", 10) + "</table>", {},
         eawebkit::kLoadCompleted, 0},
        {"nine nested tables", nested("<table><tr><td>", "</td></tr></table>", 9), {}, eawebkit::kLoadCompleted, 0},
        {"sheets imported eight deep", link, importChain(8, 1), eawebkit::kLoadCompleted, 0},
        {"one sheet imported by two", "<link rel=stylesheet href=a.css><link rel=stylesheet href=b.css>",
         {{"a.css", "@import 'c.css';"}, {"b.css", "@import 'c.css';"}, {"c.css", "p { margin: 0 }"}}, eawebkit::kLoadCompleted, 0},
        {"a sheet imported by itself from another address", "<link rel=stylesheet href=a.css>",
         {{"a.css", "@import 'a.css?again';"}, {"a.css?again", "p { margin: 0 }"}}, eawebkit::kLoadCompleted, 0},
        {"a descendant selector over few divs", descendantSelector(8, 10), {}, eawebkit::kLoadCompleted, 0},
        {"images within the budget", "<img src=a.png><img src=b.png>",
         {{"a.png", solidPng(2048, 2048, 1, 0, 0)}, {"b.png", solidPng(2048, 2048, 0, 1, 0)}}, eawebkit::kLoadCompleted, 0},
    };
    for (const hostileCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(loadCase(c), c.event);
        EXPECT_EQ(client.loads.back().code, 0u);
    }
}

TEST_F(pageBoundsTest, AStatusTextOverABoundIsRefusedAndThePageStays)
{
    ASSERT_EQ(loadPage(view, "bar", "<body style='background:#00ff00'><pre id=status></pre></body>"), eawebkit::kLoadCompleted);
    EXPECT_FALSE(view->EvaluateScript(statusStatement(nested("<div>", "</div>", 300)).c_str()));
    EXPECT_TRUE(view->EvaluateScript(statusStatement(nested("<div>", "</div>", 20)).c_str()));
    view->Update(0);
    EXPECT_EQ(pixel(view, 50, 50), kGreen);
}

TEST_F(pageBoundsTest, ANulByteInAPageIsReadAsAReplacementCharacter)
{
    std::string page = "<body style='margin:0'>a";
    page += '\0';
    page += "b<div style='height:64px;background:#00ff00'></div></body>";
    ASSERT_EQ(loadPage(view, "nul", page), eawebkit::kLoadCompleted);
    EXPECT_EQ(pixel(view, 10, 40), kGreen);
}

TEST_F(pageBoundsTest, AHugeSizeIsClampedBeforeItBecomesAPixelCount)
{
    // Taken as the largest size the engine passes on: the red block covers the view, the page scrolls.
    const std::string green = "<div style='height:8px;background:#00ff00'></div></body>";
    const std::string pages[] = {
        "<body style='margin:0'><div style='height:10000000000px;background:#ff0000'></div>" + green,
        "<body style='margin:0'><div style='height:1e10px;background:#ff0000'></div>" + green,
        "<body style='margin:0'><div style='height:" + std::string(40, '9') + "px;background:#ff0000'></div>" + green,
        "<style>#red { height: 10000000000px; background: #ff0000 }</style><body style='margin:0'><div id=red></div>" + green,
        "<body style='margin:0'><img style='display:block' width=64 height=10000000000 src='" + dataPng(1, 1, 1, 0, 0) + "'>" +
            green,
    };
    for (const std::string& page : pages) {
        SCOPED_TRACE(page);
        ASSERT_EQ(loadPage(view, "huge", page), eawebkit::kLoadCompleted);
        EXPECT_EQ(pixel(view, 10, 10), kRed);
        EXPECT_EQ(pixel(view, 10, 63), kRed);
        view->OnMouseWheelEvent({-1000000, 1.0f, -1, -1, -1, -1, 0});
        view->Update(0);
        EXPECT_EQ(pixel(view, 10, 60), kGreen);
    }
}

TEST_F(pageBoundsTest, ATimeOutCountsTransferTimeOnlyNotTheEnginesWorkInTheSameCycle)
{
    // The host's clock moves on while the first image is handed over, as it does while the engine decodes
    // one: the images served at once are not late.
    handler.files["file://ui/two/a.png"] = {solidPng(4, 4, 1, 0, 0)};
    handler.files["file://ui/two/b.png"] = {solidPng(4, 4, 0, 1, 0)};
    handler.onTransfer = [](const std::string& url) {
        if (url == "file://ui/two/a.png")
            fakeTime += 20;
    };
    EXPECT_EQ(loadPage(view, "two", "<img src=a.png><img src=b.png>"), eawebkit::kLoadCompleted);
    EXPECT_EQ(client.networkErrors, 0);
}

} // namespace
} // namespace tavrix::test
