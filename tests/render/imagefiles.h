#pragma once
// Small image files made in memory for the texture tests and benchmarks: 8-bit RGB or RGBA PNG and
// uncompressed 32-bit TGA, filled with one colour or a pattern, and DXT5 DDS with blank blocks.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tavrix::test {

namespace detail {
inline void putBe32(std::string& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(char(value >> shift));
}
inline void pngChunk(std::string& out, const char* type, const std::string& data)
{
    putBe32(out, uint32_t(data.size()));
    const std::string body = std::string(type, 4) + data;
    out += body;
    putBe32(out, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}
} // namespace detail

// Pixel (x, y), top row 0, as 0xRRGGBBAA.
using pixelFn = uint32_t (*)(uint32_t x, uint32_t y);
inline uint32_t opaqueRed(uint32_t, uint32_t) { return 0xFF0000FF; }

inline std::string pngImage(uint32_t width, uint32_t height, bool alpha, pixelFn pixel = opaqueRed)
{
    std::string raw;
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t p = pixel(x, y);
            raw.push_back(char(p >> 24));
            raw.push_back(char(p >> 16));
            raw.push_back(char(p >> 8));
            if (alpha)
                raw.push_back(char(p));
        }
    }
    std::string packed(compressBound(uLong(raw.size())), '\0');
    uLongf packedSize = uLongf(packed.size());
    compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()));
    packed.resize(packedSize);

    std::string header;
    detail::putBe32(header, width);
    detail::putBe32(header, height);
    header += std::string{char(8), char(alpha ? 6 : 2), 0, 0, 0};
    std::string file = "\x89PNG\r\n\x1a\n";
    detail::pngChunk(file, "IHDR", header);
    detail::pngChunk(file, "IDAT", packed);
    detail::pngChunk(file, "IEND", "");
    return file;
}

inline std::string tgaImage(uint32_t width, uint32_t height, pixelFn pixel = opaqueRed)
{
    std::string file(18, '\0');
    file[2] = 2;
    file[12] = char(width);
    file[13] = char(width >> 8);
    file[14] = char(height);
    file[15] = char(height >> 8);
    file[16] = 32;
    file[17] = 0x28;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t p = pixel(x, y);
            file += std::string{char(p >> 8), char(p >> 16), char(p >> 24), char(p)};
        }
    return file;
}

// One level of DXT5 blocks, all zero.
inline std::string ddsImage(uint32_t width, uint32_t height)
{
    std::string file(128, '\0');
    file.replace(0, 4, "DDS ");
    for (int i = 0; i < 4; ++i) {
        file[12 + i] = char(height >> (8 * i));
        file[16 + i] = char(width >> (8 * i));
    }
    file[28] = 1;
    file.replace(84, 4, "DXT5");
    file.append(size_t((width + 3) / 4) * ((height + 3) / 4) * 16, '\0');
    return file;
}

} // namespace tavrix::test
