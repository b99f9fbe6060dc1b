#include "client/pngtexture.h"

#include <GL/glew.h>
#include <png.h>

#include <cstring>

#include "client/clientlogger.h"
#include "platformlib/allocator/roalloc.h"


namespace tavrix::pngTexture {

// The file the read callback serves from.
struct rawSource {
    const uint8_t* data;
    uint32_t size;
    uint32_t position;
};

// Deflate never packs more than 1032 bytes into one, so an image whose pixel data could not come out of
// the whole file is refused before anything is allocated for it.
constexpr uint64_t MAX_INFLATE_RATIO = 1032;

static png_voidp pngAllocFn(png_structp, png_alloc_size_t size)
{
    // The tracking allocator counts in 32 bits; libpng turns a null into its own error.
    if (size == 0 || size > UINT32_MAX)
        return nullptr;
    return roalloc(uint32_t(size));
}

static void pngFreeFn(png_structp, png_voidp pointer)
{
    if (pointer)
        rofree(pointer);
}

// A read the file cannot serve ends the decode at once: served as zeros, a chunk that claims more than
// the file holds would be read to its end (gigabytes for a few bytes of input), one log line per read.
static void pngReadData(png_structp png, png_bytep destination, size_t length)
{
    rawSource* source = static_cast<rawSource*>(png_get_io_ptr(png));
    if (!source) {
        CLIENT_LOG(util::LOG_ERROR, "pngReadData: raw_data = NULL\n");
        png_error(png, "no source");
    }
    if (length > source->size - source->position) {
        CLIENT_LOG(util::LOG_ERROR, "pngReadData: request exceeds file length\n");
        png_error(png, "read past the end of the file");
    }
    std::memcpy(destination, source->data + source->position, length);
    source->position += uint32_t(length);
}

// Ends the decode through libpng's error return when the header promises more pixels than the file could
// hold, so that nothing is allocated for them.
static void checkImageSize(png_structp png, png_infop info, uint32_t fileSize)
{
    const uint64_t pixels = uint64_t(png_get_image_width(png, info)) * png_get_image_height(png, info);
    const uint32_t bitsPerPixel = uint32_t(png_get_bit_depth(png, info)) * png_get_channels(png, info);
    if (pixels > MAX_INFLATE_RATIO * fileSize * 8 / bitsPerPixel)
        png_error(png, "image larger than its file can hold");
}

void* load(const void* data, uint32_t size, uint32_t* width, uint32_t* height, uint32_t* glFormat, uint32_t* bytes)
{
    *width = 0;
    *height = 0;
    *glFormat = 0;
    *bytes = 0;
    rawSource source{static_cast<const uint8_t*>(data), data ? size : 0, 0};

    png_structp png = png_create_read_struct_2("1.6.10", nullptr, nullptr, nullptr, nullptr, pngAllocFn, pngFreeFn);
    if (!png) {
        CLIENT_LOG(util::LOG_ERROR, "pngTexture: Internal PNG Library Fault [1]\n");
        return nullptr;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        CLIENT_LOG(util::LOG_ERROR, "pngTexture: Internal PNG Library Fault [2]\n");
        return nullptr;
    }
    // Set after the error return is armed and needed when control comes back to it.
    uint8_t* volatile pixels = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        if (pixels)
            rofree(pixels);
        png_destroy_read_struct(&png, &info, nullptr);
        CLIENT_LOG(util::LOG_ERROR, "pngTexture: Decoding ran on error [3]\n");
        return nullptr;
    }
    png_set_read_fn(png, &source, pngReadData);
    // Only the header, palette, transparency and image data shape the pixels. The other chunks are skipped
    // unread, so that none of them makes libpng allocate what its length claims (sPLT, text, profiles).
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_read_info(png, info);
    checkImageSize(png, info, source.size);

    png_set_strip_16(png);
    png_set_packing(png);
    png_set_expand(png);
    // Grey comes out as RGB, so that every result holds what its format says.
    png_set_gray_to_rgb(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const uint32_t rows = png_get_image_height(png, info);
    const uint64_t rowBytes = png_get_rowbytes(png, info);
    // After the transforms: a 1-bit image comes out 32 times the size of its pixel data.
    if (!decodedSizeAllowed(png_get_image_width(png, info), rows, rowBytes * rows))
        png_error(png, "image beyond the texture size limits");
    pixels = static_cast<uint8_t*>(roalloc(uint32_t(rowBytes * rows)));
    // Row i of the image is row rows - 1 - i of the result.
    for (int pass = 0; pass < passes; ++pass)
        for (uint32_t i = 0; i < rows; ++i)
            png_read_row(png, pixels + (rows - 1 - i) * rowBytes, nullptr);
    png_read_end(png, info);

    *width = png_get_image_width(png, info);
    *height = rows;
    *glFormat = (png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) ? GL_RGBA : GL_RGB;
    *bytes = uint32_t(rowBytes * rows);
    png_destroy_read_struct(&png, &info, nullptr);
    return pixels;
}

} // namespace tavrix::pngTexture
