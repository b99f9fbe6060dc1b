#include "client/bmptexture.h"

#include <GL/glew.h>

#include <cstring>

#include "client/clientlogger.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/util/littleendian.h"


namespace tavrix::bmpTexture {

constexpr uint32_t HEADER_SIZE = 54;
// The information header of HEADER_SIZE holds width, height, depth and compression where this decoder
// reads them; behind a longer one an 8-bit palette is not at HEADER_SIZE. OS/2's 12-byte header keeps 16-bit
// fields in their place.
constexpr uint32_t INFO_HEADER_SIZE = 40;
constexpr uint32_t OS2_INFO_HEADER_SIZE = 12;
constexpr uint32_t PALETTE_ENTRIES = 256;

// The colour key: near magenta is fully transparent, everything else opaque.
static void keyedPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t* out)
{
    if (blue >= 240 && green <= 10 && red >= 240) {
        std::memset(out, 0, 4);
        return;
    }
    out[0] = red;
    out[1] = green;
    out[2] = blue;
    out[3] = 255;
}

static void convertRow24(const uint8_t* in, uint8_t* out, uint32_t columns)
{
    for (uint32_t x = 0; x < columns; ++x, in += 3, out += 4)
        keyedPixel(in[2], in[1], in[0], out);
}

static void convertRow8(const uint8_t* in, uint8_t* out, uint32_t columns, const uint8_t (&palette)[PALETTE_ENTRIES][4])
{
    for (uint32_t x = 0; x < columns; ++x, out += 4)
        std::memcpy(out, palette[in[x]], 4);
}

void* load(const void* data, uint32_t size, uint32_t* width, uint32_t* height, uint32_t* glFormat, uint32_t* bytes)
{
    *width = 0;
    *height = 0;
    *glFormat = 0;
    *bytes = 0;
    const uint8_t* file = static_cast<const uint8_t*>(data);
    if (!file || size < HEADER_SIZE) {
        CLIENT_LOG(util::LOG_ERROR, "tex_LoadBMP: header too short.\n");
        return nullptr;
    }
    if (file[0] != 'B' || file[1] != 'M') {
        CLIENT_LOG(util::LOG_ERROR, "tex_LoadBMP: Magic mismatch\n");
        return nullptr;
    }
    const uint32_t infoSize = util::getU32(file + 14);
    if (infoSize == OS2_INFO_HEADER_SIZE) {
        CLIENT_LOG(util::LOG_ERROR, "tex_LoadBMP: header too short.\n");
        return nullptr;
    }
    const int32_t columns = int32_t(util::getU32(file + 18));
    const int32_t rows = int32_t(util::getU32(file + 22));
    const uint32_t depth = util::getU16(file + 28);
    const uint32_t compression = util::getU32(file + 30);
    const uint32_t pixelOffset = util::getU32(file + 10);
    // Only uncompressed rows are read, and an 8-bit palette only right behind the 40-byte header.
    const bool readable = (depth == 8 && infoSize == INFO_HEADER_SIZE) || depth == 24;
    if (!readable || compression != 0) {
        CLIENT_LOG(util::LOG_ERROR, "tex_LoadBMP: TEXTURE BPP not supported (%u)\n", depth);
        return nullptr;
    }
    if (columns <= 0 || rows <= 0 || !decodedSizeAllowed(columns, rows, uint64_t(columns) * uint64_t(rows) * 4)) {
        CLIENT_LOG(util::LOG_ERROR, "tex_LoadBMP: invalid image size!\n");
        return nullptr;
    }
    // Every stored row is padded to 4 bytes; the last one's padding need not be there.
    const uint64_t pixelBytes = uint64_t(columns) * depth / 8;
    const uint64_t stride = (pixelBytes + 3) & ~uint64_t(3);
    const bool paletteMissing = depth == 8 && size - HEADER_SIZE < PALETTE_ENTRIES * 4;
    if (paletteMissing || uint64_t(pixelOffset) + stride * uint64_t(rows - 1) + pixelBytes > size) {
        CLIENT_LOG(util::LOG_ERROR, "tex_LoadBMP: file truncated / defect\n");
        return nullptr;
    }

    uint8_t palette[PALETTE_ENTRIES][4];
    if (depth == 8)
        for (uint32_t i = 0; i < PALETTE_ENTRIES; ++i) {
            const uint8_t* entry = file + HEADER_SIZE + 4 * i;
            keyedPixel(entry[2], entry[1], entry[0], palette[i]);
        }
    const uint32_t resultBytes = uint32_t(columns) * uint32_t(rows) * 4;
    uint8_t* pixels = static_cast<uint8_t*>(roalloc(resultBytes));
    // Stored rows run bottom to top.
    for (uint32_t i = 0; i < uint32_t(rows); ++i) {
        const uint8_t* in = file + pixelOffset + stride * i;
        uint8_t* out = pixels + uint64_t(rows - 1 - i) * uint32_t(columns) * 4;
        if (depth == 24)
            convertRow24(in, out, uint32_t(columns));
        else
            convertRow8(in, out, uint32_t(columns), palette);
    }
    *width = uint32_t(columns);
    *height = uint32_t(rows);
    *glFormat = GL_RGBA;
    *bytes = resultBytes;
    return pixels;
}

} // namespace tavrix::bmpTexture
