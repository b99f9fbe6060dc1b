// The engine's font caches are bounded: a page of text in many sizes and many letters is drawn with no more
// memory than the caches may hold, and text is drawn as before once they have been emptied.
#include "enginefixture.h"

#include <algorithm>
#include <fstream>
#include <string>

namespace tavrix::test {
namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 60;
// Without the bound, the letters of the page below keep about 400 MB.
constexpr long kMaxGrowthKb = 200 << 10;
// A sanitizer's quarantine and shadow count as resident memory: there the growth is recorded, not checked.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kResidentIsTheEngines = false;
#else
constexpr bool kResidentIsTheEngines = true;
#endif

long residentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

// Every letter of the alphabet at 300 sizes: more sized faces and glyphs than the caches hold.
std::string manySizesPage()
{
    std::string html = "<body style='margin:0'>";
    for (int size = 100; size < 400; ++size)
        html += "<div style=\"font: " + std::to_string(size) +
                "px 'Liberation Sans'\">abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ</div>";
    return html + "</body>";
}

class fontCacheTest : public engineTest {
protected:
    void SetUp() override
    {
        engineTest::SetUp();
        setClientFamilies(*engine);
        serveFile();
    }

    static std::vector<BGRA> surfacePixels(eawebkit::View* view)
    {
        std::vector<BGRA> pixels;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                pixels.push_back(pixel(view, x, y));
        return pixels;
    }

    static int ink(eawebkit::View* view)
    {
        int count = 0;
        for (const BGRA& p : surfacePixels(view))
            count += p[0] < 128 && p[1] < 128 && p[2] < 128;
        return count;
    }
};

TEST_F(fontCacheTest, TextInManySizesIsDrawnWithinTheCachesAndTextIsDrawnAsBeforeOnceTheyAreEmptied)
{
    eawebkit::View* normal = newView(kWidth, kHeight);
    ASSERT_EQ(loadPage(normal, "normal", "<body style='margin:0; font: 20px \"Liberation Serif\"'>Some "
                                         "<b>ordinary</b> <i>text</i><br><u>underlined</u></body>"),
              eawebkit::kLoadCompleted);
    const std::vector<BGRA> before = surfacePixels(normal);
    ASSERT_GT(ink(normal), 200);

    eawebkit::View* hostile = newView(kWidth, kHeight);
    const long startKb = residentKb();
    long peakGrowthKb = 0;
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(loadPage(hostile, "sizes" + std::to_string(round), manySizesPage()), eawebkit::kLoadCompleted);
        EXPECT_GT(ink(hostile), 200) << "round " << round;
        peakGrowthKb = std::max(peakGrowthKb, residentKb() - startKb);
    }
    RecordProperty("residentGrowthKb", std::to_string(peakGrowthKb));
    if (kResidentIsTheEngines) {
        EXPECT_LT(peakGrowthKb, kMaxGrowthKb);
    }

    // The normal page's fonts were made before the caches were emptied: laid out and drawn again with them.
    normal->SetSize(kWidth + 10, kHeight);
    normal->Update(0);
    normal->SetSize(kWidth, kHeight);
    normal->Update(0);
    EXPECT_EQ(surfacePixels(normal), before);
    ASSERT_EQ(loadPage(normal, "normal-again", "<body style='margin:0; font: 20px \"Liberation Serif\"'>Some "
                                               "<b>ordinary</b> <i>text</i><br><u>underlined</u></body>"),
              eawebkit::kLoadCompleted);
    EXPECT_EQ(surfacePixels(normal), before) << "a page loaded after the caches were emptied";
}

} // namespace
} // namespace tavrix::test
