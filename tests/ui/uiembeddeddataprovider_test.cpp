// The built-in pages: their names, sizes and what the screens' statements and the stand-in engine need.
#include <gtest/gtest.h>

#include <string>

#include "client/uiembeddeddataprovider.h"
#include "platformlib/allocator/roalloc.h"
#include "support/capturelogger.h"

namespace tavrix::test {
namespace {

std::string page(const char* name)
{
    uint32_t size = 0;
    const char* text = uiEmbeddedDataProvider::getRessource(name, &size);
    return std::string(text, size);
}

TEST(embeddedPagesTest, eachPageHasItsSizeAndTheElementsItsStatementsFill)
{
    captureLogger captured;
    struct pageCase {
        const char* name;
        size_t size;
        std::vector<std::string> holds;
    };
    const pageCase cases[] = {
        {"loading.html", 782, {"L O A D I N G", "id=\"progress\"", "<pre id=\"status\"></pre>", "#3355CC", "user-select: none"}},
        {"download.html", 784, {"Download in Progress", "id=\"progress\"", "<pre id=\"status\"></pre>", "margin: 0px auto"}},
        {"uninitialized.html", 18130, {"class=\"cube1\"", "class=\"cube2\"", "url(\"data:image/png;base64,"}},
    };
    for (const pageCase& c : cases) {
        const std::string text = page(c.name);
        EXPECT_EQ(c.size, text.size()) << c.name;
        EXPECT_EQ(std::string::npos, text.find('\0')) << c.name;
        for (const std::string& part : c.holds)
            EXPECT_NE(std::string::npos, text.find(part)) << c.name << ": " << part;
        EXPECT_EQ(std::string::npos, text.find("gradient")) << c.name;
        EXPECT_EQ("-->\n", text.substr(text.size() - 4)) << c.name << ": padded by a trailing comment";
    }
    EXPECT_TRUE(captured.texts(util::LOG_ERROR).empty());
}

// The squares of the uninitialised page move through the keyframes, the second half a turn behind the
// first; neither is placed by a rule of its own.
TEST(embeddedPagesTest, theUninitialisedPagesSquaresAreAnimatedByCubemove)
{
    const std::string text = page("uninitialized.html");
    const char* const parts[] = {
        "-webkit-animation: cubemove 1.8s infinite ease-in-out; animation: cubemove 1.8s infinite ease-in-out; }",
        ".cube2 { -webkit-animation-delay: -0.9s; animation-delay: -0.9s; }",
        R"css(@-webkit-keyframes cubemove {
  25% { -webkit-transform: translateX(42px) rotate(-90deg) scale(0.5); }
  50% { -webkit-transform: translateX(42px) translateY(42px) rotate(-180deg); }
  75% { -webkit-transform: translateX(0px) translateY(42px) rotate(-270deg) scale(0.5); }
  100% { -webkit-transform: rotate(-360deg); }
}
)css",
        R"css(@keyframes cubemove {
  25% { transform: translateX(42px) rotate(-90deg) scale(0.5); -webkit-transform: translateX(42px) rotate(-90deg) scale(0.5); }
  50% { transform: translateX(42px) translateY(42px) rotate(-179deg); -webkit-transform: translateX(42px) translateY(42px) rotate(-179deg); }
  50.1% { transform: translateX(42px) translateY(42px) rotate(-180deg); -webkit-transform: translateX(42px) translateY(42px) rotate(-180deg); }
  75% { transform: translateX(0px) translateY(42px) rotate(-270deg) scale(0.5); -webkit-transform: translateX(0px) translateY(42px) rotate(-270deg) scale(0.5); }
  100% { transform: rotate(-360deg); -webkit-transform: rotate(-360deg); }
}
)css",
    };
    for (const char* part : parts)
        EXPECT_NE(std::string::npos, text.find(part)) << part;
    EXPECT_EQ(std::string::npos, text.find("top: 42px")) << "the second square placed at rest";
}

TEST(embeddedPagesTest, anUnknownNameIsLoggedAndAnsweredWithTheErrorText)
{
    captureLogger captured;
    for (const char* name : {"nothing.html", "Loading.html", "loading.htm", ""})
        EXPECT_EQ("Unknown Ressource (ERROR)", page(name)) << name;
    EXPECT_EQ((std::vector<std::string>{"uiEmbeddedDataProvider -> 'nothing.html' is unknown!\n",
                                        "uiEmbeddedDataProvider -> 'Loading.html' is unknown!\n",
                                        "uiEmbeddedDataProvider -> 'loading.htm' is unknown!\n",
                                        "uiEmbeddedDataProvider -> '' is unknown!\n"}),
              captured.texts(util::LOG_ERROR));
}

} // namespace
} // namespace tavrix::test
