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
        for (const char* unsupported : {"gradient", "@keyframes", "animation", "transform"})
            EXPECT_EQ(std::string::npos, text.find(unsupported)) << c.name << ": " << unsupported;
        EXPECT_EQ("-->\n", text.substr(text.size() - 4)) << c.name << ": padded by a trailing comment";
    }
    EXPECT_TRUE(captured.texts(util::LOG_ERROR).empty());
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
