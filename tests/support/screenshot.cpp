#include "support/screenshot.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tavrix::test {
namespace {

std::string quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The next number of a binary PPM header, past white space and comments.
bool readHeaderNumber(FILE* in, int32_t& out)
{
    int c = std::fgetc(in);
    while (c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '#') {
        if (c == '#')
            while (c != '\n' && c != EOF)
                c = std::fgetc(in);
        c = std::fgetc(in);
    }
    if (c < '0' || c > '9')
        return false;
    int64_t value = 0;
    for (; c >= '0' && c <= '9' && value < (1 << 20); c = std::fgetc(in))
        value = value * 10 + (c - '0');
    out = int32_t(value);
    return true;
}

} // namespace

screenshot screenshot::take(const std::string& pngPath, const std::string& windowName)
{
    screenshot shot;
    const std::string grab = "import -window " + quoted(windowName) + " " + quoted(pngPath) + " 2>/dev/null";
    if (std::system(grab.c_str()) != 0)
        return shot;
    FILE* in = popen(("convert " + quoted(pngPath) + " -depth 8 ppm:-").c_str(), "r");
    if (!in)
        return shot;
    int32_t w = 0, h = 0, maxValue = 0;
    if (std::fgetc(in) == 'P' && std::fgetc(in) == '6' && readHeaderNumber(in, w) && readHeaderNumber(in, h) &&
        readHeaderNumber(in, maxValue) && maxValue == 255 && w > 0 && h > 0) {
        shot.pixels.resize(size_t(w) * size_t(h) * 3);
        if (std::fread(shot.pixels.data(), 1, shot.pixels.size(), in) == shot.pixels.size()) {
            shot.w = w;
            shot.h = h;
        } else {
            shot.pixels.clear();
        }
    }
    pclose(in);
    return shot;
}

rgb screenshot::at(int32_t x, int32_t y) const
{
    if (x < 0 || y < 0 || x >= w || y >= h)
        return {0, 0, 0};
    const uint8_t* p = &pixels[(size_t(y) * size_t(w) + size_t(x)) * 3];
    return {p[0], p[1], p[2]};
}

uint32_t screenshot::count(rgb colour, int32_t x, int32_t y, int32_t width, int32_t height, int tolerance) const
{
    uint32_t n = 0;
    // Only what the picture holds of the rectangle.
    for (int32_t row = std::max(y, 0); row < std::min(y + height, h); ++row) {
        for (int32_t column = std::max(x, 0); column < std::min(x + width, w); ++column) {
            const rgb p = at(column, row);
            if (std::abs(p.r - colour.r) <= tolerance && std::abs(p.g - colour.g) <= tolerance &&
                std::abs(p.b - colour.b) <= tolerance)
                ++n;
        }
    }
    return n;
}

} // namespace tavrix::test
