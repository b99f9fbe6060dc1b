#pragma once
// A picture of a window on the test's display, as a user sees it: taken with ImageMagick's import, kept as
// a PNG for people to look at, and read back as RGB pixels for the test.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace tavrix::test {

struct rgb {
    uint8_t r, g, b;
    bool operator==(const rgb&) const = default;
};

inline void PrintTo(const rgb& c, std::ostream* out)
{
    *out << "rgb(" << int(c.r) << ", " << int(c.g) << ", " << int(c.b) << ")";
}

class screenshot {
public:
    // The window with that title, written to pngPath; empty when it could not be taken.
    static screenshot take(const std::string& pngPath, const std::string& windowName = "Tavrix!");

    bool empty() const { return pixels.empty(); }
    int32_t width() const { return w; }
    int32_t height() const { return h; }
    rgb at(int32_t x, int32_t y) const;
    // How many pixels of the rectangle have the colour, each channel within `tolerance`.
    uint32_t count(rgb colour, int32_t x, int32_t y, int32_t width, int32_t height, int tolerance = 0) const;

private:
    int32_t w = 0;
    int32_t h = 0;
    std::vector<uint8_t> pixels; // RGB, rows top to bottom
};

} // namespace tavrix::test
