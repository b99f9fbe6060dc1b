#pragma once
// Records on disk and on the wire are little-endian, written and read field by field.
#include <cstdint>

namespace tavrix::util {

inline void putU16(uint8_t* at, uint16_t value)
{
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}

inline void putU32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

inline void putI64(uint8_t* at, int64_t value)
{
    for (int i = 0; i < 8; ++i)
        at[i] = uint8_t(uint64_t(value) >> (8 * i));
}

inline uint16_t getU16(const uint8_t* at) { return uint16_t(at[0] | at[1] << 8); }

inline uint32_t getU32(const uint8_t* at)
{
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

inline int64_t getI64(const uint8_t* at)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | at[i];
    return int64_t(value);
}

} // namespace tavrix::util
