#pragma once
// Uncompressed and run-length-encoded TGA images: RGBA, the image's top row first.
#include <cstdint>

#include "client/texturedecoder.h"

namespace tavrix::tgaTexture {

// A textureDecoder; safe to run on any number of threads at once.
void* load(const void* data, uint32_t size, uint32_t* width, uint32_t* height, uint32_t* glFormat, uint32_t* bytes);

} // namespace tavrix::tgaTexture
