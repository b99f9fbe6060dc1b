#pragma once
#include <cstdint>

namespace tavrix::util {

// Writes 2*n lower-case hex digits, high nibble first; no NUL is written.
void bytesToHex(const uint8_t* bytes, char* out, uint32_t n);
// Writes hexLen/2 bytes; does nothing unless hexLen is even and non-zero. A character that is not a hex
// digit counts as 0: the text is not validated.
void hexToBytes(const char* hex, uint8_t* out, uint32_t hexLen);

} // namespace tavrix::util
