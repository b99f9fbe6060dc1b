#pragma once
// What every image decoder offers the texture manager, and the sizes every one of them refuses.
#include <atomic>
#include <cstdint>

namespace tavrix {

// Decodes a whole texture file (read-only). On success returns the pixels, a tracking-allocator buffer the
// caller frees, with their size in pixels, their OpenGL format and their byte count; on failure returns null
// with width and height 0.
using textureDecoder = void* (*)(const void* data, uint32_t size, uint32_t* width, uint32_t* height,
                                 uint32_t* glFormat, uint32_t* bytes);

// The widest and tallest image the GPU takes: the client stores GL_MAX_TEXTURE_SIZE here at start-up;
// without a client (tests, tools) it stays at the size every current GPU offers.
inline std::atomic<uint32_t> decoderMaxTextureSize{16384};
// No decode hands out more bytes than this, whatever the GPU would take.
constexpr uint64_t MAX_DECODED_BYTES = uint64_t(256) << 20;

// Whether an image of these pixels and decoded bytes may be decoded: checked before anything is allocated
// for it.
inline bool decodedSizeAllowed(uint64_t width, uint64_t height, uint64_t bytes)
{
    const uint32_t side = decoderMaxTextureSize.load(std::memory_order_relaxed);
    return width <= side && height <= side && bytes <= MAX_DECODED_BYTES;
}

} // namespace tavrix
