#pragma once
// DDS files holding DXT5 data: the top level's blocks, passed on compressed.
#include <cstdint>

#include "client/texturedecoder.h"

namespace tavrix::ddsTexture {

// A textureDecoder; safe to run on any number of threads at once.
void* load(const void* data, uint32_t size, uint32_t* width, uint32_t* height, uint32_t* glFormat, uint32_t* bytes);

} // namespace tavrix::ddsTexture
