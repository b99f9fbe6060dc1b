#include "platformlib/util/crc32.h"

#include <array>

namespace {

constexpr uint32_t polynomial = 0xEDB88320u;

// Bytes folded per step of the main loop.
constexpr int stride = 16;

// tables[0] is the byte-wise table of the reflected polynomial; tables[k][b] is the CRC of byte b followed
// by k zero bytes, so a whole stride is folded with independent lookups.
constexpr std::array<std::array<uint32_t, 256>, stride> makeTables()
{
    std::array<std::array<uint32_t, 256>, stride> t{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t c = b;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ polynomial : c >> 1;
        t[0][b] = c;
    }
    for (uint32_t b = 0; b < 256; ++b)
        for (int k = 1; k < stride; ++k)
            t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    return t;
}

constexpr auto tables = makeTables();

inline uint32_t loadLe32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

uint32_t crc32_update(uint32_t crc, const void* data, uint32_t len)
{
    if (len == 0)
        return crc;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    uint32_t c = crc ^ 0xFFFFFFFFu;
    while (len >= stride) {
        uint32_t words[stride / 4];
        for (int i = 0; i < stride / 4; ++i)
            words[i] = loadLe32(p + 4 * i);
        words[0] ^= c;
        c = 0;
        for (int i = 0; i < stride / 4; ++i) {
            const int k = stride - 1 - 4 * i;
            c ^= tables[k][words[i] & 0xFF] ^ tables[k - 1][(words[i] >> 8) & 0xFF] ^
                 tables[k - 2][(words[i] >> 16) & 0xFF] ^ tables[k - 3][words[i] >> 24];
        }
        p += stride;
        len -= stride;
    }
    while (len--)
        c = (c >> 8) ^ tables[0][(c ^ *p++) & 0xFF];
    return c ^ 0xFFFFFFFFu;
}
