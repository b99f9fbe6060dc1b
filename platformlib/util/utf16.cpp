#include "platformlib/util/utf16.h"

#include <cstdint>

namespace tavrix::util {
namespace {

constexpr uint32_t REPLACEMENT = 0xFFFD;

bool isHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The code point starting at text; advances text past it.
uint32_t nextCodePoint(const char16_t*& text)
{
    const uint32_t unit = *text++;
    if (isHighSurrogate(unit) && isLowSurrogate(*text))
        return 0x10000 + ((unit - 0xD800) << 10) + (uint32_t(*text++) - 0xDC00);
    return isHighSurrogate(unit) || isLowSurrogate(unit) ? REPLACEMENT : unit;
}

// The code point's UTF-8 bytes into out (room for 4); returns their count.
size_t encode(uint32_t cp, char* out)
{
    if (cp < 0x80) {
        out[0] = char(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = char(0xC0 | (cp >> 6));
        out[1] = char(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = char(0xE0 | (cp >> 12));
        out[1] = char(0x80 | ((cp >> 6) & 0x3F));
        out[2] = char(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (cp >> 18));
    out[1] = char(0x80 | ((cp >> 12) & 0x3F));
    out[2] = char(0x80 | ((cp >> 6) & 0x3F));
    out[3] = char(0x80 | (cp & 0x3F));
    return 4;
}

} // namespace

bool utf16ToUtf8(const char16_t* text, char* buffer, size_t size)
{
    if (size == 0)
        return *text == 0;
    size_t used = 0;
    while (*text) {
        char bytes[4];
        const size_t n = encode(nextCodePoint(text), bytes);
        if (used + n > size - 1) {
            buffer[used] = '\0';
            return false;
        }
        for (size_t i = 0; i < n; ++i)
            buffer[used++] = bytes[i];
    }
    buffer[used] = '\0';
    return true;
}

} // namespace tavrix::util
