#pragma once
// What every image decoder offers the texture manager.
#include <cstdint>

namespace tavrix {

// Decodes a whole texture file (read-only). On success returns the pixels, a tracking-allocator buffer the
// caller frees, with their size in pixels, their OpenGL format and their byte count; on failure returns null
// with width and height 0.
using textureDecoder = void* (*)(const void* data, uint32_t size, uint32_t* width, uint32_t* height,
                                 uint32_t* glFormat, uint32_t* bytes);

} // namespace tavrix
