#pragma once
// 8- and 24-bit Windows bitmaps with a colour key: RGBA, the image's top row first.
#include <cstdint>

#include "client/texturedecoder.h"

namespace tavrix::bmpTexture {

// A textureDecoder; safe to run on any number of threads at once.
void* load(const void* data, uint32_t size, uint32_t* width, uint32_t* height, uint32_t* glFormat, uint32_t* bytes);

} // namespace tavrix::bmpTexture
