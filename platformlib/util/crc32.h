#pragma once
#include <cstdint>

// The CRC-32 of IEEE 802.3 (zlib's): start from 0 and pass the previous result to continue over pieces.
// Computed by carry-less-multiply folding where the processor has it, by tables elsewhere; the choice is
// made once, on the first call.
uint32_t crc32_update(uint32_t crc, const void* data, uint32_t len);

// The two ways of computing it, with the same results; the folded one only where
// tavrix::cpuinfo_hasCarrylessMultiply() holds.
uint32_t crc32_updateTable(uint32_t crc, const void* data, uint32_t len);
uint32_t crc32_updateFolded(uint32_t crc, const void* data, uint32_t len);
