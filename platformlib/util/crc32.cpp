#include "platformlib/util/crc32.h"

#include <immintrin.h>

#include <array>

#include "platformlib/cpuinfo.h"

namespace {

constexpr uint32_t polynomial = 0xEDB88320u;

// Bytes folded per step of the table loop.
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

// The generator polynomial in ordinary bit order, x^32 included.
constexpr uint64_t generator = 0x104C11DB7u;

constexpr uint64_t reflect(uint64_t v, int bits)
{
    uint64_t r = 0;
    for (int i = 0; i < bits; ++i)
        r |= ((v >> i) & 1) << (bits - 1 - i);
    return r;
}

// The folding constants, in the bit-reflected order of the data: x^n mod P shifted left by one, because the
// product of two reflected operands comes out one place short.
constexpr uint64_t foldConstant(int n)
{
    uint64_t r = 1;
    for (int i = 0; i < n; ++i)
        r = (r << 1) ^ ((r >> 31) ? generator : 0);
    return reflect(r, 32) << 1;
}

// Barrett reduction's quotient x^64 / P, reflected over its 33 bits.
constexpr uint64_t barrettQuotient()
{
    // x^64 less P·x^32 leaves a rest below x^64.
    uint64_t rest = (generator ^ (uint64_t(1) << 32)) << 32;
    uint64_t quotient = uint64_t(1) << 32;
    for (int i = 63; i >= 32; --i)
        if ((rest >> i) & 1) {
            rest ^= generator << (i - 32);
            quotient |= uint64_t(1) << (i - 32);
        }
    return reflect(quotient, 33);
}

// Multipliers, low half first. They carry a 16-byte lane over 512 bits (to its block four lanes on) or over
// 128 bits (to the next block); the reduction then takes the last lane to 64 bits, to 32, and by Barrett's
// quotient and the polynomial to the remainder.
constexpr uint64_t overFourLanes[2] = {foldConstant(512 + 32), foldConstant(512 - 32)};
constexpr uint64_t overOneLane[2] = {foldConstant(128 + 32), foldConstant(128 - 32)};
constexpr uint64_t toThirtyTwoBits[2] = {foldConstant(64), 0};
constexpr uint64_t barrett[2] = {reflect(generator, 33), barrettQuotient()};

inline __m128i pair(const uint64_t (&halves)[2]) { return _mm_set_epi64x(int64_t(halves[1]), int64_t(halves[0])); }

// Each 16-byte lane is carried forward over the distance to its next block: four lanes (64 bytes) in the
// main loop, one lane (16 bytes) when they are combined and for the rest.
__attribute__((target("pclmul"))) inline __m128i fold(__m128i lane, __m128i constants, __m128i next)
{
    const __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

inline __m128i load(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// The 128-bit remainder reduced to the 32-bit CRC register.
__attribute__((target("pclmul"))) uint32_t reduce(__m128i x)
{
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
    x = _mm_xor_si128(_mm_srli_si128(x, 8), _mm_clmulepi64_si128(x, pair(overOneLane), 0x10));
    const __m128i low32 = _mm_and_si128(x, mask32);
    x = _mm_xor_si128(_mm_srli_si128(x, 4), _mm_clmulepi64_si128(low32, pair(toThirtyTwoBits), 0x00));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), pair(barrett), 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), pair(barrett), 0x00);
    return uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(_mm_xor_si128(x, t), 4)));
}

} // namespace

uint32_t crc32_updateTable(uint32_t crc, const void* data, uint32_t len)
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

__attribute__((target("pclmul"))) uint32_t crc32_updateFolded(uint32_t crc, const void* data, uint32_t len)
{
    // Below four lanes the tables are as quick.
    if (len < 64)
        return crc32_updateTable(crc, data, len);
    const unsigned char* p = static_cast<const unsigned char*>(data);
    const __m128i byFour = pair(overFourLanes);
    const __m128i byOne = pair(overOneLane);

    // Unrolled, so that the lanes stay in registers.
    __m128i lanes[4];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i)
        lanes[i] = load(p + 16 * i);
    lanes[0] = _mm_xor_si128(lanes[0], _mm_cvtsi32_si128(int(crc ^ 0xFFFFFFFFu)));
    p += 64;
    len -= 64;
    for (; len >= 64; p += 64, len -= 64)
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i)
            lanes[i] = fold(lanes[i], byFour, load(p + 16 * i));

    __m128i x = fold(fold(fold(lanes[0], byOne, lanes[1]), byOne, lanes[2]), byOne, lanes[3]);
    for (; len >= 16; p += 16, len -= 16)
        x = fold(x, byOne, load(p));
    return crc32_updateTable(reduce(x) ^ 0xFFFFFFFFu, p, len);
}

uint32_t crc32_update(uint32_t crc, const void* data, uint32_t len)
{
    static const auto chosen = tavrix::cpuinfo_hasCarrylessMultiply() ? crc32_updateFolded : crc32_updateTable;
    return chosen(crc, data, len);
}
