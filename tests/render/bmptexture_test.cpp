// The BMP decoder: 24- and 8-bit images with their row padding and order, the colour key, files whose
// header, palette or rows do not fit, and images beyond the texture size limit.
#include <GL/glew.h>

#include "client/bmptexture.h"
#include "imagetest.h"
#include "platformlib/util/loggerinterface.h"

using namespace tavrix::test;
using tavrix::util::LOG_ERROR;

namespace {

// A bitmap with the file header and an information header of infoSize bytes (40 unless given, its fields
// beyond the first 40 zero), the palette right behind it and the stored rows (bottom row first), each
// padded to 4 bytes with 0xEE unless the last row's padding is left out.
byteString bmpFile(int32_t width, int32_t height, uint16_t depth, const byteString& palette,
                   const std::vector<byteString>& storedRows, bool padLastRow = true, uint32_t infoSize = 40)
{
    const uint32_t headers = 14 + infoSize;
    byteString file(headers, 0);
    file[0] = 'B';
    file[1] = 'M';
    putLe32(file, 10, uint32_t(headers + palette.size()));
    putLe32(file, 14, infoSize);
    putLe32(file, 18, uint32_t(width));
    putLe32(file, 22, uint32_t(height));
    putLe16(file, 26, 1);
    putLe16(file, 28, depth);
    append(file, palette);
    for (size_t i = 0; i < storedRows.size(); ++i) {
        append(file, storedRows[i]);
        if (padLastRow || i + 1 < storedRows.size())
            while ((file.size() - headers - palette.size()) % 4)
                file.push_back(0xEE);
    }
    putLe32(file, 2, uint32_t(file.size()));
    return file;
}

// 256 entries of blue, green, red, reserved; entry i is (red i, green 1, blue 2) unless set.
byteString palette256(std::initializer_list<std::pair<uint8_t, uint32_t>> entries)
{
    byteString palette;
    for (int i = 0; i < 256; ++i)
        palette.insert(palette.end(), {2, 1, uint8_t(i), 0});
    for (const auto& [index, rgb] : entries) {
        palette[4 * index] = uint8_t(rgb);
        palette[4 * index + 1] = uint8_t(rgb >> 8);
        palette[4 * index + 2] = uint8_t(rgb >> 16);
    }
    return palette;
}

// A BGR pixel from 0xRRGGBB.
byteString bgr(std::initializer_list<uint32_t> pixels)
{
    byteString out;
    for (uint32_t p : pixels)
        out.insert(out.end(), {uint8_t(p), uint8_t(p >> 8), uint8_t(p >> 16)});
    return out;
}

class bmpTextureTest : public imageTest {};

TEST_F(bmpTextureTest, paddedRowsOf24BitsAllConvertWithTheColourKey)
{
    // 3 pixels are 9 bytes, padded to 12; the key takes blue and red from 240 up with green up to 10.
    const byteString file = bmpFile(3, 2, 24, {},
                                    {bgr({0xFF00FF, 0xEF00FF, 0x102030}), bgr({0xF00AF0, 0xF00BF0, 0xFFFFFF})});
    const decodeResult result = decode(tavrix::bmpTexture::load, file);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.width, 3u);
    EXPECT_EQ(result.height, 2u);
    EXPECT_EQ(result.glFormat, uint32_t(GL_RGBA));
    EXPECT_EQ(result.bytes, 24u);
    // The file's first row is the image's bottom row: it comes last.
    EXPECT_EQ(result.pixels, rgba({0x00000000, 0xF00BF0FF, 0xFFFFFFFF, 0x00000000, 0xEF00FFFF, 0x102030FF}));
    EXPECT_EQ(captured.texts(), std::vector<std::string>{});
}

TEST_F(bmpTextureTest, eightBitPixelsTakeTheirPaletteColour)
{
    const byteString palette = palette256({{0, 0x0A0B0C}, {1, 0xFF00FF}, {255, 0x7F8081}});
    const decodeResult result = decode(tavrix::bmpTexture::load, bmpFile(2, 2, 8, palette, {{0, 1}, {255, 7}}));
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.bytes, 16u);
    EXPECT_EQ(result.pixels, rgba({0x7F8081FF, 0x070102FF, 0x0A0B0CFF, 0x00000000}));
}

TEST_F(bmpTextureTest, theLastRowNeedsNoPadding)
{
    const byteString file = bmpFile(1, 2, 24, {}, {bgr({0x010203}), bgr({0x040506})}, false);
    ASSERT_EQ(file.size(), 54u + 4 + 3);
    const decodeResult result = decode(tavrix::bmpTexture::load, file);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.pixels, rgba({0x040506FF, 0x010203FF}));
}

TEST_F(bmpTextureTest, filesThatDoNotHoldTheirImageFail)
{
    const byteString good = bmpFile(2, 2, 24, {}, {bgr({1, 2}), bgr({3, 4})});
    auto with = [&good](size_t offset, uint32_t value, bool wide = true) {
        byteString file = good;
        if (wide)
            putLe32(file, offset, value);
        else
            putLe16(file, offset, uint16_t(value));
        return file;
    };
    byteString shortHeader(53, 0);
    shortHeader[0] = 'B';
    shortHeader[1] = 'M';
    byteString wrongMagic = good;
    wrongMagic[1] = 'N';
    byteString cutRow = good;
    cutRow.resize(cutRow.size() - 3);
    byteString shortPalette = bmpFile(1, 1, 8, byteString(1020, 0), {});
    shortPalette.push_back(0);
    byteString huge = with(18, 40000);
    putLe32(huge, 22, 40000);
    byteString paletteOnly = bmpFile(300, 1, 8, palette256({}), {{0}});

    struct failureCase {
        const char* name;
        byteString file;
        const char* line;
    };
    const failureCase cases[] = {
        {"53 bytes", shortHeader, "tex_LoadBMP: header too short.\n"},
        {"no magic", wrongMagic, "tex_LoadBMP: Magic mismatch\n"},
        {"16 bits", with(28, 16, false), "tex_LoadBMP: TEXTURE BPP not supported (16)\n"},
        {"32 bits", with(28, 32, false), "tex_LoadBMP: TEXTURE BPP not supported (32)\n"},
        {"top-down rows", with(22, uint32_t(-2)), "tex_LoadBMP: invalid image size!\n"},
        {"no columns", with(18, 0), "tex_LoadBMP: invalid image size!\n"},
        {"result above 4 GiB", huge, "tex_LoadBMP: invalid image size!\n"},
        {"rows beyond the end", cutRow, "tex_LoadBMP: file truncated / defect\n"},
        {"pixel offset beyond the end", with(10, 0xFFFFFFF0u), "tex_LoadBMP: file truncated / defect\n"},
        {"more rows than stored", with(22, 3), "tex_LoadBMP: file truncated / defect\n"},
        {"palette cut short", shortPalette, "tex_LoadBMP: file truncated / defect\n"},
        {"row wider than the file", paletteOnly, "tex_LoadBMP: file truncated / defect\n"},
    };
    for (const failureCase& c : cases) {
        SCOPED_TRACE(c.name);
        captured.clear();
        expectFailure(decodeRefused(tavrix::bmpTexture::load, c.file), captured, LOG_ERROR, {c.line});
    }
}

// Bitmaps other programs write: the 40-byte header's layout is read as it stands, and what is not laid out
// that way (a longer header in front of a palette, compressed rows, the OS/2 header) is refused instead of
// decoded into the wrong pixels.
TEST_F(bmpTextureTest, headersAndCompressionTheDecoderDoesNotReadAreRefused)
{
    const byteString palette = palette256({{0, 0x0A0B0C}, {1, 0x102030}});
    const std::vector<byteString> indices = {{0, 1}, {1, 0}};
    // ImageMagick's information header is 124 bytes; the pixel offset still finds 24-bit rows.
    const byteString rgb124 = bmpFile(2, 1, 24, {}, {bgr({0x010203, 0x040506})}, true, 124);
    // Run-length rows of the same image: two runs, an end of line, two runs, the end of the bitmap.
    byteString rle8 = bmpFile(2, 2, 8, palette, {{1, 0, 1, 1, 0, 0, 1, 1, 1, 0, 0, 1}});
    putLe32(rle8, 30, 1);
    byteString bitfields = rgb124;
    putLe32(bitfields, 30, 3);
    // OS/2: a 12-byte header of 16-bit width, height, planes and depth, then 3-byte palette entries.
    byteString os2(26, 0);
    os2[0] = 'B';
    os2[1] = 'M';
    putLe32(os2, 10, 26 + 768);
    putLe32(os2, 14, 12);
    putLe16(os2, 18, 2);
    putLe16(os2, 20, 2);
    putLe16(os2, 22, 1);
    putLe16(os2, 24, 8);
    append(os2, byteString(768, 0x11));
    append(os2, {0, 1, 0, 0, 1, 0, 0, 0});
    putLe32(os2, 2, uint32_t(os2.size()));

    struct headerCase {
        const char* name;
        byteString file;
        const char* line; // null: decoded
        std::vector<uint8_t> pixels;
    };
    const headerCase cases[] = {
        {"8 bits after 40 bytes", bmpFile(2, 2, 8, palette, indices), nullptr,
         rgba({0x102030FF, 0x0A0B0CFF, 0x0A0B0CFF, 0x102030FF})},
        {"24 bits after 124 bytes", rgb124, nullptr, rgba({0x010203FF, 0x040506FF})},
        {"8 bits after 124 bytes", bmpFile(2, 2, 8, palette, indices, true, 124), "tex_LoadBMP: TEXTURE BPP not supported (8)\n", {}},
        {"run-length 8 bits", rle8, "tex_LoadBMP: TEXTURE BPP not supported (8)\n", {}},
        {"24 bits with bit fields", bitfields, "tex_LoadBMP: TEXTURE BPP not supported (24)\n", {}},
        {"OS/2 header", os2, "tex_LoadBMP: header too short.\n", {}},
    };
    for (const headerCase& c : cases) {
        SCOPED_TRACE(c.name);
        captured.clear();
        if (!c.line) {
            const decodeResult result = decode(tavrix::bmpTexture::load, c.file);
            ASSERT_TRUE(result.ok);
            EXPECT_EQ(result.pixels, c.pixels);
            EXPECT_EQ(captured.texts(), std::vector<std::string>{});
        } else {
            expectFailure(decodeRefused(tavrix::bmpTexture::load, c.file), captured, LOG_ERROR, {c.line});
        }
    }
}

TEST_F(bmpTextureTest, imagesBeyondTheTextureSizeLimitFail)
{
    expectTextureSizeLimit(
        tavrix::bmpTexture::load,
        [](uint32_t width, uint32_t height) {
            return bmpFile(int32_t(width), int32_t(height), 24, {}, std::vector<byteString>(height, byteString(width * 3, 0x40)));
        },
        captured, LOG_ERROR, {"tex_LoadBMP: invalid image size!\n"});
}

} // namespace
