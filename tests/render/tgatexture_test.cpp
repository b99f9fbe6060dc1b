// The TGA decoder: true-colour, grey and run-length images, their row order and the top-first bit, packets
// across rows and past the end, headers or bodies that do not fit, and images beyond the texture size or
// decoded size limit.
#include <GL/glew.h>

#include "client/tgatexture.h"
#include "imagetest.h"
#include "platformlib/util/loggerinterface.h"

using namespace tavrix::test;
using tavrix::util::LOG_INFO;

namespace {

byteString tgaFile(uint8_t type, uint16_t width, uint16_t height, uint8_t depth, uint8_t descriptor,
                   const byteString& body, const byteString& id = {})
{
    byteString file(18, 0);
    file[0] = uint8_t(id.size());
    file[2] = type;
    putLe16(file, 12, width);
    putLe16(file, 14, height);
    file[16] = depth;
    file[17] = descriptor;
    append(file, id);
    append(file, body);
    return file;
}

// Stored pixels from 0xRRGGBBAA: BGR for 24 bits, BGRA for 32.
byteString stored(uint8_t depth, std::initializer_list<uint32_t> pixels)
{
    byteString out;
    for (uint32_t p : pixels) {
        out.insert(out.end(), {uint8_t(p >> 8), uint8_t(p >> 16), uint8_t(p >> 24)});
        if (depth == 32)
            out.push_back(uint8_t(p));
    }
    return out;
}

byteString packet(uint8_t head, const byteString& pixels)
{
    byteString out{head};
    append(out, pixels);
    return out;
}

byteString concat(std::initializer_list<byteString> parts)
{
    byteString out;
    for (const byteString& part : parts)
        append(out, part);
    return out;
}

class tgaTextureTest : public imageTest {};

TEST_F(tgaTextureTest, trueColourAndGreyImagesComeOutTopRowFirst)
{
    struct imageCase {
        const char* name;
        byteString file;
        byteString pixels;
    };
    const imageCase cases[] = {
        {"24 bits behind an id",
         tgaFile(2, 2, 2, 24, 0, stored(24, {0x01020300, 0x04050600, 0x07080900, 0x0A0B0C00}), {'i', 'd', '!'}),
         rgba({0x070809FF, 0x0A0B0CFF, 0x010203FF, 0x040506FF})},
        {"32 bits keep their alpha", tgaFile(2, 1, 2, 32, 8, stored(32, {0x11223344, 0x55667788})),
         rgba({0x55667788, 0x11223344})},
        {"grey", tgaFile(3, 3, 1, 8, 0, {0, 0x80, 0xFF}), rgba({0x000000FF, 0x808080FF, 0xFFFFFFFF})},
    };
    for (const imageCase& c : cases) {
        SCOPED_TRACE(c.name);
        const decodeResult result = decode(tavrix::tgaTexture::load, c.file);
        ASSERT_TRUE(result.ok);
        EXPECT_EQ(result.glFormat, uint32_t(GL_RGBA));
        EXPECT_EQ(result.bytes, c.pixels.size());
        EXPECT_EQ(result.width * result.height * 4, c.pixels.size());
        EXPECT_EQ(result.pixels, c.pixels);
    }
    EXPECT_EQ(captured.texts(), std::vector<std::string>{});
}

TEST_F(tgaTextureTest, runLengthPacketsRunAcrossRowEndsAndStopAtTheImageEnd)
{
    const uint32_t r = 0xFF0000FF, g = 0x00FF00FF, b = 0x0000FFFF, w = 0xFFFFFFFF;
    // A run of 4 fills the bottom row and goes on in the top one; the raw packet's last pixel and the final
    // run lie beyond the image and are dropped.
    const byteString body = concat({packet(0x83, stored(24, {r})), packet(0x02, stored(24, {g, b, w})),
                                    packet(0xFF, stored(24, {w}))});
    const decodeResult result = decode(tavrix::tgaTexture::load, tgaFile(10, 3, 2, 24, 0, body));
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.width, 3u);
    EXPECT_EQ(result.height, 2u);
    EXPECT_EQ(result.pixels, rgba({r, g, b, r, r, r}));
}

TEST_F(tgaTextureTest, theTopFirstBitMatchesTheOppositeRowOrder)
{
    const byteString bottom = stored(32, {0x01020304, 0x05060708}), top = stored(32, {0x090A0B0C, 0x0D0E0F10});
    const byteString expected = rgba({0x090A0B0C, 0x0D0E0F10, 0x01020304, 0x05060708});
    struct orderCase {
        const char* name;
        byteString file;
    };
    const orderCase cases[] = {
        {"raw, bottom first", tgaFile(2, 2, 2, 32, 0, concat({bottom, top}))},
        {"raw, top first", tgaFile(2, 2, 2, 32, 0x20, concat({top, bottom}))},
        {"run-length, bottom first", tgaFile(10, 2, 2, 32, 0, packet(0x03, concat({bottom, top})))},
        {"run-length, top first", tgaFile(10, 2, 2, 32, 0x28, packet(0x03, concat({top, bottom})))},
    };
    for (const orderCase& c : cases) {
        SCOPED_TRACE(c.name);
        const decodeResult result = decode(tavrix::tgaTexture::load, c.file);
        ASSERT_TRUE(result.ok);
        EXPECT_EQ(result.pixels, expected);
    }
}

TEST_F(tgaTextureTest, headersAndBodiesThatDoNotFitFail)
{
    const byteString pixel = stored(24, {0x10203000});
    byteString colourMap = tgaFile(2, 1, 1, 24, 0, pixel);
    colourMap[1] = 1;
    byteString idBeyondTheEnd = tgaFile(2, 1, 1, 24, 0, {1, 2, 3, 4, 5});
    idBeyondTheEnd[0] = 10;

    struct failureCase {
        const char* name;
        byteString file;
        const char* line;
    };
    const failureCase cases[] = {
        {"17 bytes", byteString(17, 0), "tex_LoadTGA: header too short!\n"},
        {"colour-mapped type", tgaFile(1, 1, 1, 8, 0, {0}),
         "tex_LoadTGA: Only type 2 (RGB), 3 (gray), and 10 (RGB) TGA images supported\n"},
        {"run-length grey", tgaFile(11, 1, 1, 8, 0, {0, 0}),
         "tex_LoadTGA: Only type 2 (RGB), 3 (gray), and 10 (RGB) TGA images supported\n"},
        {"colour map", colourMap, "tex_LoadTGA: Color Maps are not supported\n"},
        {"16-bit true colour", tgaFile(2, 1, 1, 16, 0, {0, 0}),
         "tex_LoadTGA: Only 32 or 24 bit images supported (no colormaps)\n"},
        {"8-bit run-length", tgaFile(10, 1, 1, 8, 0, {0, 0}),
         "tex_LoadTGA: Only 32 or 24 bit images supported (no colormaps)\n"},
        {"no columns", tgaFile(2, 0, 1, 24, 0, pixel), "tex_LoadTGA: invalid image size!\n"},
        {"no rows", tgaFile(3, 1, 0, 8, 0, {0}), "tex_LoadTGA: invalid image size!\n"},
        {"result above 4 GiB", tgaFile(2, 65535, 65535, 24, 0, pixel), "tex_LoadTGA: invalid image size!\n"},
        {"id beyond the end", idBeyondTheEnd, "tex_LoadTGA: header too short @ id_lengh\n"},
        {"short true-colour body", tgaFile(2, 2, 1, 24, 0, concat({pixel, {1, 2}})),
         "tex_loadTGA: file truncated / defect\n"},
        {"short grey body", tgaFile(3, 2, 2, 8, 0, {1, 2, 3}), "tex_loadTGA: file truncated / defect\n"},
        {"16-bit grey", tgaFile(3, 1, 1, 16, 0, {1, 2}), "tex_loadTGA: illegal pixel_size '16'\n"},
        {"packets end early", tgaFile(10, 2, 1, 24, 0, packet(0x80, pixel)), "tex_loadTGA: file truncated / defect\n"},
        {"run without its pixel", tgaFile(10, 2, 1, 24, 0, concat({packet(0x80, pixel), {0x80, 1, 2}})),
         "tex_loadTGA: file truncated / defect\n"},
        {"raw packet short of pixels", tgaFile(10, 3, 1, 24, 0, concat({packet(0x02, pixel), pixel, {1, 2}})),
         "tex_loadTGA: file truncated / defect\n"},
        // 256 MiB of pixels (the most a decode hands out) from 22 bytes: refused before anything is allocated.
        {"huge run-length image", tgaFile(10, 8192, 8192, 24, 0, packet(0xFF, pixel)),
         "tex_loadTGA: file truncated / defect\n"},
    };
    for (const failureCase& c : cases) {
        SCOPED_TRACE(c.name);
        captured.clear();
        expectFailure(decodeRefused(tavrix::tgaTexture::load, c.file), captured, LOG_INFO, {c.line});
    }
}

TEST_F(tgaTextureTest, imagesBeyondTheSizeLimitsFail)
{
    expectTextureSizeLimit(
        tavrix::tgaTexture::load,
        [](uint32_t width, uint32_t height) {
            return tgaFile(2, uint16_t(width), uint16_t(height), 24, 0, byteString(width * height * 3, 0x40));
        },
        captured, LOG_INFO, {"tex_LoadTGA: invalid image size!\n"});

    // Within the texture size, but one row more than 256 MiB of pixels: 2 MB of packets of 128 pixels.
    const uint32_t width = 16384, height = 4097;
    byteString body;
    for (uint32_t i = 0; i < width * height / 128; ++i)
        append(body, packet(0xFF, stored(24, {0x10203000})));
    captured.clear();
    expectFailure(decodeRefused(tavrix::tgaTexture::load, tgaFile(10, width, height, 24, 0, body)), captured, LOG_INFO,
                  {"tex_LoadTGA: invalid image size!\n"});
}

} // namespace
