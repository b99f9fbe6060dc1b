// Narrow text from the UTF-16 of outside interfaces.
#include <gtest/gtest.h>

#include <string>

#include "platformlib/util/utf16.h"

namespace {

struct utf16Case {
    const char* name;
    std::u16string text;
    size_t size;
    bool fits;
    std::string narrow;
};

TEST(utf16Test, convertsWholeCharactersOnly)
{
    const utf16Case cases[] = {
        {"ascii", u"file://ui/menu", 64, true, "file://ui/menu"},
        {"two bytes", u"\u00e4", 8, true, "\xc3\xa4"},
        {"three bytes", u"\u20ac", 8, true, "\xe2\x82\xac"},
        {"surrogate pair", u"\U0001F600", 8, true, "\xf0\x9f\x98\x80"},
        {"unpaired surrogate", std::u16string(1, char16_t(0xD800)) + u"x", 8, true, "\xef\xbf\xbd" "x"},
        {"exactly full", u"abc", 4, true, "abc"},
        {"one too long", u"abcd", 4, false, "abc"},
        {"no cut character", u"ab\u00e4", 4, false, "ab"},
        {"empty", u"", 1, true, ""},
    };
    for (const utf16Case& c : cases) {
        char buffer[64];
        EXPECT_EQ(c.fits, tavrix::util::utf16ToUtf8(c.text.c_str(), buffer, c.size)) << c.name;
        EXPECT_EQ(c.narrow, std::string(buffer)) << c.name;
    }
    EXPECT_FALSE(tavrix::util::utf16ToUtf8(u"a", nullptr, 0));
    EXPECT_TRUE(tavrix::util::utf16ToUtf8(u"", nullptr, 0));
}

} // namespace
