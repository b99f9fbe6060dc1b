// Text in a family the host has added no face of: drawn with the machine's installed face of that family
// (the Liberation faces, which the project's install script puts on the machine), until the host adds one.
#include "enginefixture.h"

namespace tavrix::test {
namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 40;
const BGRA kRed{0, 0, 255, 255};

// The family slots as the client sets them, and no face added yet, as on a first start.
class systemFontTest : public engineTest {
protected:
    void SetUp() override
    {
        engineTest::SetUp();
        setClientFamilies(*engine);
        serveFile();
        view = newView(kWidth, kHeight);
    }

    // One run of black text in the given font on a red background.
    void render(const std::string& font, const std::string& text)
    {
        std::string html = "<body style='margin:0'><span style=\"font: " + font + "; background: #ff0000\">" + text +
                           "</span></body>";
        EXPECT_EQ(loadPage(view, "font" + std::to_string(++pages), html), eawebkit::kLoadCompleted);
    }

    // How wide the run is: its red background along the top row.
    int runWidth() const
    {
        int red = 0;
        while (red < kWidth && pixel(view, red, 0) == kRed)
            ++red;
        return red;
    }

    int width(const std::string& font, const std::string& text)
    {
        render(font, text);
        return runWidth();
    }

    // Pixels of the text: dark ones.
    int ink() const
    {
        int count = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                BGRA p = pixel(view, x, y);
                count += p[0] < 128 && p[1] < 128 && p[2] < 128;
            }
        return count;
    }

    std::vector<BGRA> surfacePixels() const
    {
        std::vector<BGRA> pixels;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                pixels.push_back(pixel(view, x, y));
        return pixels;
    }

    void setAllSlots(std::u16string_view family)
    {
        eawebkit::Parameters& parameters = engine->GetParameters();
        for (auto& slot : parameters.fontFamilies)
            setFamily(slot, family);
        engine->SetParameters(parameters);
    }

    eawebkit::View* view = nullptr;
    int pages = 0;
};

TEST_F(systemFontTest, AFamilyTheHostHasNoFaceOfIsDrawnWithTheInstalledFaceOfThatFamily)
{
    struct {
        const char* font;
        int width; // of ten M
    } monospaced[] = {
        {"20px 'Liberation Mono'", 120}, // 0.6 em a character
        {"20px monospace", 120},         // through its slot
        {"20px Nothing, 'Liberation Mono'", 120},
    };
    for (const auto& c : monospaced) {
        EXPECT_EQ(width(c.font, "MMMMMMMMMM"), c.width) << c.font;
        EXPECT_GT(ink(), 200) << c.font;
    }
    EXPECT_GT(width("20px 'Liberation Sans'", "MMMMMMMMMM"), 120);
    EXPECT_EQ(width("20px Nothing", "MMMMMMMMMM"), width("20px 'Liberation Sans'", "MMMMMMMMMM"))
        << "the standard slot's family";
    EXPECT_GT(width("bold 20px 'Liberation Sans'", "iiiiiiiiii"), width("20px 'Liberation Sans'", "iiiiiiiiii"))
        << "the installed bold face";
}

TEST_F(systemFontTest, AFaceTheHostAddsTakesOverItsFamilyAndThePageIsLaidOutAgain)
{
    const int bold = width("bold 20px 'Liberation Sans'", "iiiiiiiiii");
    const int regular = width("20px 'Liberation Sans'", "iiiiiiiiii");
    ASSERT_GT(bold, regular);
    const std::vector<BGRA> installed = surfacePixels();

    // The host's only face of the family is its bold one: the family is drawn with it, regular text too.
    bytesStream::counters count;
    ASSERT_TRUE(addFace(std::string(kFontDir) + "LiberationSans-Bold.ttf", count));
    int repaints = client.repaints;
    view->Update(0);
    EXPECT_EQ(client.repaints, repaints + 1);
    EXPECT_EQ(runWidth(), bold);
    const std::vector<BGRA> relaidOut = surfacePixels();
    EXPECT_NE(relaidOut, installed);

    render("20px 'Liberation Sans'", "iiiiiiiiii");
    EXPECT_EQ(surfacePixels(), relaidOut) << "as a page loaded after the face came";
    EXPECT_EQ(width("20px 'Liberation Mono'", "MMMMMMMMMM"), 120) << "other families stay installed ones";
}

TEST_F(systemFontTest, AFamilyInstalledNowhereDrawsNothingUntilTheHostAddsAnyFace)
{
    setAllSlots(u"Nowhere Installed");
    EXPECT_EQ(width("20px 'No Such Family', serif", "MMMMMMMMMM"), 0);
    EXPECT_EQ(ink(), 0);

    bytesStream::counters count;
    ASSERT_TRUE(addFace(std::string(kFontDir) + "LiberationMono-Regular.ttf", count));
    view->Update(0);
    EXPECT_EQ(runWidth(), 120) << "the host's one face stands in";
    EXPECT_GT(ink(), 200);
}

} // namespace
} // namespace tavrix::test
