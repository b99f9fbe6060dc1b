#include "client/tgatexture.h"

#include <GL/glew.h>

#include <cstring>

#include "client/clientlogger.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/util/littleendian.h"


namespace tavrix::tgaTexture {

constexpr uint32_t HEADER_SIZE = 18;
constexpr uint8_t TYPE_TRUE_COLOUR = 2;
constexpr uint8_t TYPE_GREY = 3;
constexpr uint8_t TYPE_RLE_TRUE_COLOUR = 10;
constexpr uint8_t DESCRIPTOR_TOP_FIRST = 0x20;
constexpr uint32_t MAX_PACKET_PIXELS = 128;

// One stored pixel of 8 (grey), 24 (BGR) or 32 (BGRA) bits as RGBA.
static void toRgba(const uint8_t* in, uint32_t depth, uint8_t* out)
{
    switch (depth) {
    case 8:
        out[0] = out[1] = out[2] = in[0];
        out[3] = 255;
        break;
    case 24:
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        out[3] = 255;
        break;
    default:
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        out[3] = in[3];
        break;
    }
}

// Places pixels in storage order: rows fill left to right, and the first stored row is the image's bottom
// row unless the descriptor says the file starts at the top. The result starts with the top row.
class pixelCursor {
public:
    pixelCursor(uint8_t* pixels, uint32_t columns, uint32_t rows, bool topFirst)
        : columns(columns), rowsLeft(rows), rowStep(topFirst ? 1 : -1),
          row(pixels + uint64_t(topFirst ? 0 : rows - 1) * columns * 4)
    {
    }
    bool full() const { return rowsLeft == 0; }
    // Only while not full.
    void put(const uint8_t (&rgba)[4])
    {
        std::memcpy(row + x * 4, rgba, 4);
        if (++x == columns) {
            x = 0;
            nextRow();
        }
    }
    // A whole row at once, while not full and at a row's start.
    uint8_t* rowStart() const { return row; }
    void nextRow()
    {
        if (--rowsLeft)
            row += int64_t(rowStep) * columns * 4;
    }

private:
    uint32_t columns;
    uint32_t rowsLeft;
    int32_t rowStep;
    uint8_t* row;
    uint32_t x = 0;
};

static void readUncompressed(const uint8_t* in, uint32_t depth, pixelCursor& cursor, uint32_t columns)
{
    const uint32_t pixelSize = depth / 8;
    while (!cursor.full()) {
        uint8_t* out = cursor.rowStart();
        for (uint32_t x = 0; x < columns; ++x, in += pixelSize, out += 4)
            toRgba(in, depth, out);
        cursor.nextRow();
    }
}

// False when the packets end before the image is full.
static bool readRunLength(const uint8_t* in, uint32_t length, uint32_t depth, pixelCursor& cursor)
{
    const uint32_t pixelSize = depth / 8;
    uint32_t at = 0;
    uint8_t rgba[4];
    while (!cursor.full()) {
        if (at == length)
            return false;
        const uint8_t head = in[at++];
        const uint32_t count = (head & 0x7F) + 1;
        const bool repeat = head & 0x80;
        const uint32_t needed = repeat ? pixelSize : count * pixelSize;
        if (length - at < needed)
            return false;
        if (repeat)
            toRgba(in + at, depth, rgba);
        for (uint32_t i = 0; i < count && !cursor.full(); ++i) {
            if (!repeat)
                toRgba(in + at + i * pixelSize, depth, rgba);
            cursor.put(rgba);
        }
        at += needed;
    }
    return true;
}

void* load(const void* data, uint32_t size, uint32_t* width, uint32_t* height, uint32_t* glFormat, uint32_t* bytes)
{
    *width = 0;
    *height = 0;
    *glFormat = 0;
    *bytes = 0;
    const uint8_t* file = static_cast<const uint8_t*>(data);
    if (!file || size < HEADER_SIZE) {
        CLIENT_LOG(util::LOG_INFO, "tex_LoadTGA: header too short!\n");
        return nullptr;
    }
    const uint8_t idLength = file[0];
    const uint8_t colourMapType = file[1];
    const uint8_t imageType = file[2];
    const uint32_t columns = util::getU16(file + 12);
    const uint32_t rows = util::getU16(file + 14);
    const uint32_t depth = file[16];
    const uint8_t descriptor = file[17];
    if (imageType != TYPE_TRUE_COLOUR && imageType != TYPE_GREY && imageType != TYPE_RLE_TRUE_COLOUR) {
        CLIENT_LOG(util::LOG_INFO, "tex_LoadTGA: Only type 2 (RGB), 3 (gray), and 10 (RGB) TGA images supported\n");
        return nullptr;
    }
    if (colourMapType != 0) {
        CLIENT_LOG(util::LOG_INFO, "tex_LoadTGA: Color Maps are not supported\n");
        return nullptr;
    }
    if (depth != 32 && depth != 24 && imageType != TYPE_GREY) {
        CLIENT_LOG(util::LOG_INFO, "tex_LoadTGA: Only 32 or 24 bit images supported (no colormaps)\n");
        return nullptr;
    }
    const uint64_t pixelCount = uint64_t(columns) * rows;
    if (pixelCount == 0 || !decodedSizeAllowed(columns, rows, pixelCount * 4)) {
        CLIENT_LOG(util::LOG_INFO, "tex_LoadTGA: invalid image size!\n");
        return nullptr;
    }
    if (size - HEADER_SIZE < idLength) {
        CLIENT_LOG(util::LOG_INFO, "tex_LoadTGA: header too short @ id_lengh\n");
        return nullptr;
    }
    const uint8_t* in = file + HEADER_SIZE + idLength;
    const uint32_t length = size - HEADER_SIZE - idLength;
    // Checked before anything is allocated: a run-length image needs one packet for every 128 pixels.
    const uint64_t needed = imageType == TYPE_RLE_TRUE_COLOUR
                                ? (pixelCount + MAX_PACKET_PIXELS - 1) / MAX_PACKET_PIXELS * (1 + depth / 8)
                                : pixelCount * depth / 8;
    if (length < needed) {
        CLIENT_LOG(util::LOG_INFO, "tex_loadTGA: file truncated / defect\n");
        return nullptr;
    }
    if (depth != 8 && depth != 24 && depth != 32) {
        CLIENT_LOG(util::LOG_INFO, "tex_loadTGA: illegal pixel_size '%d'\n", int(depth));
        return nullptr;
    }

    const uint32_t resultBytes = uint32_t(pixelCount * 4);
    uint8_t* pixels = static_cast<uint8_t*>(roalloc(resultBytes));
    pixelCursor cursor(pixels, columns, rows, descriptor & DESCRIPTOR_TOP_FIRST);
    if (imageType == TYPE_RLE_TRUE_COLOUR) {
        if (!readRunLength(in, length, depth, cursor)) {
            rofree(pixels);
            CLIENT_LOG(util::LOG_INFO, "tex_loadTGA: file truncated / defect\n");
            return nullptr;
        }
    } else {
        readUncompressed(in, depth, cursor, columns);
    }
    *width = columns;
    *height = rows;
    *glFormat = GL_RGBA;
    *bytes = resultBytes;
    return pixels;
}

} // namespace tavrix::tgaTexture
