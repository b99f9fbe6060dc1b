#pragma once
#include <cstdint>

// The CRC-32 of IEEE 802.3 (zlib's): start from 0 and pass the previous result to continue over pieces.
uint32_t crc32_update(uint32_t crc, const void* data, uint32_t len);
