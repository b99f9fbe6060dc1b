#include "webengine/asciitext.h"

#include <algorithm>

namespace eawebkit::engine {

bool isHtmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string_view trimSpaces(std::string_view s)
{
    while (!s.empty() && isHtmlSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isHtmlSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

std::string lowerAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = lowerAscii(c);
    return out;
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = lowerAscii(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string withoutNul(std::string_view s)
{
    if (s.find('\0') == std::string_view::npos)
        return std::string(s);
    std::string out;
    out.reserve(s.size());
    for (char c : s)
        out.append(c == '\0' ? std::string_view("\xEF\xBF\xBD") : std::string_view(&c, 1));
    return out;
}

} // namespace eawebkit::engine
