// Feeds arbitrary bytes to all four image decoders. A decode either fails with no size or hands back a
// buffer of at least the bytes it reports, which are read in full so that the address sanitizer checks it.
// Run it in an empty directory: a leak report lands in the current one.
#include <cstdint>
#include <cstdlib>

#include "client/bmptexture.h"
#include "client/ddstexture.h"
#include "client/pngtexture.h"
#include "client/tgatexture.h"
#include "platformlib/allocator/roalloc.h"

namespace {

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
    if (width == 0 || height == 0 || bytes == 0)
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
