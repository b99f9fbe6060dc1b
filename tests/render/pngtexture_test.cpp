// The PNG decoder: colour types and depths reduced to 8-bit RGB or RGBA, the bottom row first, interlaced
// images, damaged or oversized files, images beyond the texture size or decoded size limit, and many
// decodes at once.
#include <GL/glew.h>
#include <png.h>
#include <zlib.h>

#include <atomic>
#include <thread>

#include "client/pngtexture.h"
#include "imagetest.h"
#include "platformlib/util/loggerinterface.h"

using namespace tavrix::test;
using tavrix::util::LOG_ERROR;

namespace {

struct pngImage {
    uint32_t width;
    uint32_t height;
    int bitDepth;
    int colourType;
    std::vector<byteString> rows; // top row first, as stored
    std::vector<png_color> palette = {};
    byteString transparency = {};
    int transparentGrey = -1;
    int interlace = PNG_INTERLACE_NONE;
};

void appendWritten(png_structp png, png_bytep data, size_t length)
{
    byteString* out = static_cast<byteString*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

byteString pngFile(const pngImage& image)
{
    byteString file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "writing the test image failed";
        return {};
    }
    png_set_write_fn(png, &file, appendWritten, nullptr);
    // Chunks that do not shape the pixels ride along in every image.
    png_text text{};
    text.compression = PNG_TEXT_COMPRESSION_zTXt;
    text.key = const_cast<char*>("Comment");
    text.text = const_cast<char*>("a test image, compressed");
    png_set_text(png, info, &text, 1);
    png_set_gAMA(png, info, 1 / 2.2);
    png_set_IHDR(png, info, image.width, image.height, image.bitDepth, image.colourType, image.interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!image.palette.empty())
        png_set_PLTE(png, info, image.palette.data(), int(image.palette.size()));
    if (!image.transparency.empty())
        png_set_tRNS(png, info, image.transparency.data(), int(image.transparency.size()), nullptr);
    if (image.transparentGrey >= 0) {
        png_color_16 key{};
        key.gray = png_uint_16(image.transparentGrey);
        png_set_tRNS(png, info, nullptr, 0, &key);
    }
    std::vector<png_bytep> rows;
    for (const byteString& row : image.rows)
        rows.push_back(const_cast<png_bytep>(row.data()));
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return file;
}

// Offset of the first chunk of the given type.
size_t chunkOffset(const byteString& file, const char* type)
{
    for (size_t at = 8; at + 8 <= file.size();) {
        const uint32_t length = uint32_t(file[at]) << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        if (std::equal(type, type + 4, file.begin() + at + 4))
            return at;
        at += 12 + length;
    }
    ADD_FAILURE() << "no " << type << " chunk";
    return 0;
}

void putBe32(byteString& at, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[offset + i] = uint8_t(value >> (24 - 8 * i));
}

class pngTextureTest : public imageTest {};

TEST_F(pngTextureTest, twoByTwoWithAlphaComesOutBottomRowFirst)
{
    const byteString file = pngFile({2, 2, 8, PNG_COLOR_TYPE_RGB_ALPHA,
                                     {rgba({0x10203040, 0x50607080}), rgba({0x90A0B0C0, 0xD0E0F0FF})}});
    const decodeResult result = decode(tavrix::pngTexture::load, file);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.width, 2u);
    EXPECT_EQ(result.height, 2u);
    EXPECT_EQ(result.glFormat, uint32_t(GL_RGBA));
    EXPECT_EQ(result.bytes, 16u);
    EXPECT_EQ(result.pixels, rgba({0x90A0B0C0, 0xD0E0F0FF, 0x10203040, 0x50607080}));
    EXPECT_EQ(captured.texts(), std::vector<std::string>{});
}

TEST_F(pngTextureTest, everyColourTypeBecomesEightBitRgbOrRgba)
{
    const std::vector<png_color> palette = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    struct formatCase {
        const char* name;
        pngImage image;
        uint32_t glFormat;
        byteString pixels; // bottom row first
    };
    const formatCase cases[] = {
        {"palette", {2, 1, 8, PNG_COLOR_TYPE_PALETTE, {{2, 0}}, palette}, GL_RGB, {7, 8, 9, 1, 2, 3}},
        {"palette with transparency", {2, 1, 8, PNG_COLOR_TYPE_PALETTE, {{1, 2}}, palette, {0x80, 0x00}}, GL_RGBA,
         {4, 5, 6, 0, 7, 8, 9, 255}},
        {"2-bit palette", {3, 1, 2, PNG_COLOR_TYPE_PALETTE, {{0b01'10'00'00}}, palette}, GL_RGB,
         {4, 5, 6, 7, 8, 9, 1, 2, 3}},
        {"16-bit RGB keeps the high bytes", {1, 2, 16, PNG_COLOR_TYPE_RGB, {{1, 0xFF, 2, 0xFF, 3, 0xFF}, {4, 0, 5, 0, 6, 0}}},
         GL_RGB, {4, 5, 6, 1, 2, 3}},
        {"16-bit RGBA", {1, 1, 16, PNG_COLOR_TYPE_RGB_ALPHA, {{9, 1, 8, 1, 7, 1, 6, 1}}}, GL_RGBA, {9, 8, 7, 6}},
        {"odd-width RGB rows are packed", {3, 2, 8, PNG_COLOR_TYPE_RGB, {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {9, 8, 7, 6, 5, 4, 3, 2, 1}}},
         GL_RGB, {9, 8, 7, 6, 5, 4, 3, 2, 1, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"grey", {2, 1, 8, PNG_COLOR_TYPE_GRAY, {{0x11, 0xEE}}}, GL_RGB, {0x11, 0x11, 0x11, 0xEE, 0xEE, 0xEE}},
        {"1-bit grey", {3, 1, 1, PNG_COLOR_TYPE_GRAY, {{0b101'00000}}}, GL_RGB, {255, 255, 255, 0, 0, 0, 255, 255, 255}},
        {"grey with alpha", {1, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, {{0x40, 0x80}}}, GL_RGBA, {0x40, 0x40, 0x40, 0x80}},
        {"16-bit grey", {1, 1, 16, PNG_COLOR_TYPE_GRAY, {{0xAB, 0xCD}}}, GL_RGB, {0xAB, 0xAB, 0xAB}},
        {"grey with a transparent value", {2, 1, 8, PNG_COLOR_TYPE_GRAY, {{5, 6}}, {}, {}, 5}, GL_RGBA,
         {5, 5, 5, 0, 6, 6, 6, 255}},
    };
    for (const formatCase& c : cases) {
        SCOPED_TRACE(c.name);
        const decodeResult result = decode(tavrix::pngTexture::load, pngFile(c.image));
        ASSERT_TRUE(result.ok);
        EXPECT_EQ(result.width, c.image.width);
        EXPECT_EQ(result.height, c.image.height);
        EXPECT_EQ(result.glFormat, c.glFormat);
        EXPECT_EQ(result.bytes, c.pixels.size());
        EXPECT_EQ(result.pixels, c.pixels);
    }
}

TEST_F(pngTextureTest, interlacedImagesDecodeToTheSamePixels)
{
    pngImage image{11, 9, 8, PNG_COLOR_TYPE_RGB_ALPHA, {}};
    for (uint32_t y = 0; y < image.height; ++y) {
        byteString row;
        for (uint32_t x = 0; x < image.width; ++x)
            row.insert(row.end(), {uint8_t(x * 20), uint8_t(y * 25), uint8_t(x * y), uint8_t(255 - x - y)});
        image.rows.push_back(row);
    }
    const decodeResult plain = decode(tavrix::pngTexture::load, pngFile(image));
    image.interlace = PNG_INTERLACE_ADAM7;
    const decodeResult interlaced = decode(tavrix::pngTexture::load, pngFile(image));
    ASSERT_TRUE(plain.ok);
    ASSERT_TRUE(interlaced.ok);
    EXPECT_EQ(interlaced.pixels, plain.pixels);
    EXPECT_EQ(byteString(plain.pixels.begin(), plain.pixels.begin() + 44), image.rows.back());
}

TEST_F(pngTextureTest, damagedAndOversizedFilesFail)
{
    pngImage image{16, 16, 8, PNG_COLOR_TYPE_RGB, {}};
    for (uint32_t y = 0; y < image.height; ++y) {
        byteString row;
        for (uint32_t i = 0; i < image.width * 3; ++i)
            row.push_back(uint8_t(i * 31 + y * 17));
        image.rows.push_back(row);
    }
    const byteString good = pngFile(image);
    const size_t idat = chunkOffset(good, "IDAT");

    byteString cutInData(good.begin(), good.begin() + idat + 20);
    byteString badCrc = good;
    badCrc[idat + 10] ^= 0x55;
    // A header claiming 30000 x 30000 pixels of RGBA (3.6 GB), with its CRC made right: the file cannot hold
    // them.
    byteString huge = good;
    putBe32(huge, 16, 30000);
    putBe32(huge, 20, 30000);
    huge[25] = PNG_COLOR_TYPE_RGB_ALPHA;
    putBe32(huge, 29, uint32_t(crc32(0, huge.data() + 12, 17)));
    // An unknown chunk claiming 8 MB after the header of a file of a few hundred bytes: one read past the
    // end ends the decode, not one per piece of the chunk.
    byteString longChunk(good.begin(), good.begin() + 33);
    append(longChunk, {0x00, 0x7A, 0x12, 0x00, 'a', 'b', 'C', 'd', 1, 2, 3});
    // A suggested palette claiming 800 MB: skipped, never allocated.
    byteString longPalette(good.begin(), good.begin() + 33);
    append(longPalette, {0x30, 0x00, 0x00, 0x00, 's', 'P', 'L', 'T', 1, 2, 3});
    byteString notPng = good;
    notPng[1] = 'Q';

    const std::string readPast = "pngReadData: request exceeds file length\n";
    const std::string failed = "pngTexture: Decoding ran on error [3]\n";
    struct failureCase {
        const char* name;
        byteString file;
        std::vector<std::string> lines;
    };
    const failureCase cases[] = {
        {"cut inside the image data", cutInData, {readPast, failed}},
        {"signature only", byteString(good.begin(), good.begin() + 8), {readPast, failed}},
        {"empty", {}, {readPast, failed}},
        {"damaged image data", badCrc, {failed}},
        {"not a PNG", notPng, {failed}},
        {"huge image from a small file", huge, {failed}},
        {"chunk longer than the file", longChunk, {readPast, failed}},
        {"suggested palette longer than the file", longPalette, {readPast, failed}},
    };
    for (const failureCase& c : cases) {
        SCOPED_TRACE(c.name);
        captured.clear();
        expectFailure(decodeRefused(tavrix::pngTexture::load, c.file), captured, LOG_ERROR, c.lines);
    }
}

TEST_F(pngTextureTest, imagesBeyondTheSizeLimitsFail)
{
    const std::string failed = "pngTexture: Decoding ran on error [3]\n";
    expectTextureSizeLimit(
        tavrix::pngTexture::load,
        [](uint32_t width, uint32_t height) {
            return pngFile({width, height, 8, PNG_COLOR_TYPE_GRAY, std::vector<byteString>(height, byteString(width, 0x40))});
        },
        captured, LOG_ERROR, {failed});

    // One bit per pixel in a file of a few kB, as RGBA one row more than 256 MiB.
    const uint32_t width = 16384, height = 4097;
    const byteString file = pngFile({width, height, 1, PNG_COLOR_TYPE_PALETTE,
                                     std::vector<byteString>(height, byteString(width / 8, 0)), {{1, 2, 3}, {4, 5, 6}},
                                     {0x80}});
    captured.clear();
    expectFailure(decodeRefused(tavrix::pngTexture::load, file), captured, LOG_ERROR, {failed});
}

TEST_F(pngTextureTest, decodesRunOnManyThreadsAtOnce)
{
    pngImage image{64, 32, 8, PNG_COLOR_TYPE_RGB_ALPHA, {}};
    for (uint32_t y = 0; y < image.height; ++y) {
        byteString row;
        for (uint32_t x = 0; x < image.width; ++x)
            row.insert(row.end(), {uint8_t(x), uint8_t(y), uint8_t(x ^ y), 200});
        image.rows.push_back(row);
    }
    const byteString good = pngFile(image);
    byteString damaged = good;
    damaged[chunkOffset(good, "IDAT") + 12] ^= 0xFF;
    const decodeResult expected = decode(tavrix::pngTexture::load, good);
    ASSERT_TRUE(expected.ok);

    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                const bool useDamaged = (t + i) % 3 == 0;
                const decodeResult result = decode(tavrix::pngTexture::load, useDamaged ? damaged : good);
                if (useDamaged ? result.ok : result.pixels != expected.pixels)
                    ++mismatches;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

} // namespace
