#pragma once
// PNG images through libpng: 8-bit RGB or RGBA, the image's bottom row first.
#include <cstdint>

#include "client/texturedecoder.h"

namespace tavrix::pngTexture {

// A textureDecoder; safe to run on any number of threads at once.
void* load(const void* data, uint32_t size, uint32_t* width, uint32_t* height, uint32_t* glFormat, uint32_t* bytes);

} // namespace tavrix::pngTexture
