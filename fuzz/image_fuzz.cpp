// Feeds arbitrary bytes to all four image decoders. A decode either fails with no size or hands back an
// image within the texture size limits whose byte count is exactly what its size and format take; the
// bytes are read in full so that the address sanitizer checks the buffer.
// Run it in an empty directory: a leak report lands in the current one.
#include <GL/glew.h>

#include <cstdint>
#include <cstdlib>

#include "client/bmptexture.h"
#include "client/ddstexture.h"
#include "client/pngtexture.h"
#include "client/tgatexture.h"
#include "platformlib/allocator/roalloc.h"

namespace {

// The bytes an image of this size takes in this format; 0 for a format no decoder yields.
uint64_t imageBytes(uint32_t format, uint64_t width, uint64_t height)
{
    switch (format) {
    case GL_RGB:
        return width * height * 3;
    case GL_RGBA:
        return width * height * 4;
    case GL_COMPRESSED_RGBA_S3TC_DXT5_EXT:
        return (width + 3) / 4 * ((height + 3) / 4) * 16;
    default:
        return 0;
    }
}

void decodeWith(tavrix::textureDecoder load, const uint8_t* data, size_t size)
{
    uint32_t width = 1, height = 1, format = 0, bytes = 0;
    const uint8_t* pixels =
        static_cast<const uint8_t*>(load(data, uint32_t(size), &width, &height, &format, &bytes));
    if (!pixels) {
        if (width != 0 || height != 0)
            std::abort();
        return;
    }
    if (width == 0 || height == 0 || bytes == 0 || bytes != imageBytes(format, width, height))
        std::abort();
    if (width > tavrix::decoderMaxTextureSize || height > tavrix::decoderMaxTextureSize ||
        bytes > tavrix::MAX_DECODED_BYTES)
        std::abort();
    uint8_t sum = 0;
    for (uint32_t i = 0; i < bytes; ++i)
        sum ^= pixels[i];
    volatile uint8_t sink = sum;
    (void)sink;
    rofree(const_cast<uint8_t*>(pixels));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    roalloc_init();
    // A block a decode did not give back shows up in ./memleak.log when the run ends.
    std::atexit(roalloc_final);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > UINT32_MAX)
        return 0;
    decodeWith(tavrix::pngTexture::load, data, size);
    decodeWith(tavrix::ddsTexture::load, data, size);
    decodeWith(tavrix::bmpTexture::load, data, size);
    decodeWith(tavrix::tgaTexture::load, data, size);
    return 0;
}
