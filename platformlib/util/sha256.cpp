#include "platformlib/util/sha256.h"

#include <cstring>

namespace {

constexpr uint32_t roundConstants[64] = {
    0x428A2F98, 0x71374491, 0xB5C0FBCF, 0xE9B5DBA5, 0x3956C25B, 0x59F111F1, 0x923F82A4, 0xAB1C5ED5,
    0xD807AA98, 0x12835B01, 0x243185BE, 0x550C7DC3, 0x72BE5D74, 0x80DEB1FE, 0x9BDC06A7, 0xC19BF174,
    0xE49B69C1, 0xEFBE4786, 0x0FC19DC6, 0x240CA1CC, 0x2DE92C6F, 0x4A7484AA, 0x5CB0A9DC, 0x76F988DA,
    0x983E5152, 0xA831C66D, 0xB00327C8, 0xBF597FC7, 0xC6E00BF3, 0xD5A79147, 0x06CA6351, 0x14292967,
    0x27B70A85, 0x2E1B2138, 0x4D2C6DFC, 0x53380D13, 0x650A7354, 0x766A0ABB, 0x81C2C92E, 0x92722C85,
    0xA2BFE8A1, 0xA81A664B, 0xC24B8B70, 0xC76C51A3, 0xD192E819, 0xD6990624, 0xF40E3585, 0x106AA070,
    0x19A4C116, 0x1E376C08, 0x2748774C, 0x34B0BCB5, 0x391C0CB3, 0x4ED8AA4A, 0x5B9CCA4F, 0x682E6FF3,
    0x748F82EE, 0x78A5636F, 0x84C87814, 0x8CC70208, 0x90BEFFFA, 0xA4506CEB, 0xBEF9A3F7, 0xC67178F2,
};

constexpr uint32_t initialState[8] = {
    0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A, 0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19,
};

inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t loadBe32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

inline void storeBe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

inline uint32_t bigSigma0(uint32_t x) { return rotr(x, 2) ^ rotr(x, 13) ^ rotr(x, 22); }
inline uint32_t bigSigma1(uint32_t x) { return rotr(x, 6) ^ rotr(x, 11) ^ rotr(x, 25); }
inline uint32_t smallSigma0(uint32_t x) { return rotr(x, 7) ^ rotr(x, 18) ^ (x >> 3); }
inline uint32_t smallSigma1(uint32_t x) { return rotr(x, 17) ^ rotr(x, 19) ^ (x >> 10); }
inline uint32_t choose(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t majority(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (z & (x | y)); }

} // namespace

// One round; the callers rotate the roles of the eight working words instead of moving them.
#define SHA256_ROUND(a, b, c, d, e, f, g, h, i)                                                            \
    do {                                                                                                   \
        const uint32_t t1 = h + bigSigma1(e) + choose(e, f, g) + roundConstants[i] + w[i];                 \
        const uint32_t t2 = bigSigma0(a) + majority(a, b, c);                                              \
        d += t1;                                                                                           \
        h = t1 + t2;                                                                                       \
    } while (0)

void sha256_process(sha256Context* ctx, const uint8_t block[64])
{
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = loadBe32(block + 4 * i);
    for (int i = 16; i < 64; ++i)
        w[i] = smallSigma1(w[i - 2]) + w[i - 7] + smallSigma0(w[i - 15]) + w[i - 16];

    uint32_t a = ctx->state[0], b = ctx->state[1], c = ctx->state[2], d = ctx->state[3];
    uint32_t e = ctx->state[4], f = ctx->state[5], g = ctx->state[6], h = ctx->state[7];
    for (int i = 0; i < 64; i += 8) {
        SHA256_ROUND(a, b, c, d, e, f, g, h, i + 0);
        SHA256_ROUND(h, a, b, c, d, e, f, g, i + 1);
        SHA256_ROUND(g, h, a, b, c, d, e, f, i + 2);
        SHA256_ROUND(f, g, h, a, b, c, d, e, i + 3);
        SHA256_ROUND(e, f, g, h, a, b, c, d, i + 4);
        SHA256_ROUND(d, e, f, g, h, a, b, c, i + 5);
        SHA256_ROUND(c, d, e, f, g, h, a, b, i + 6);
        SHA256_ROUND(b, c, d, e, f, g, h, a, i + 7);
    }
    ctx->state[0] += a;
    ctx->state[1] += b;
    ctx->state[2] += c;
    ctx->state[3] += d;
    ctx->state[4] += e;
    ctx->state[5] += f;
    ctx->state[6] += g;
    ctx->state[7] += h;
}

#undef SHA256_ROUND

void sha256_starts(sha256Context* ctx)
{
    ctx->total[0] = 0;
    ctx->total[1] = 0;
    std::memcpy(ctx->state, initialState, sizeof(initialState));
}

void sha256_update(sha256Context* ctx, const void* data, uint32_t len)
{
    if (len == 0)
        return;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t used = ctx->total[0] & 63;
    ctx->total[0] += len;
    if (ctx->total[0] < len)
        ++ctx->total[1];

    if (used != 0 && len >= 64 - used) {
        const uint32_t fill = 64 - used;
        std::memcpy(ctx->buffer + used, p, fill);
        sha256_process(ctx, ctx->buffer);
        p += fill;
        len -= fill;
        used = 0;
    }
    while (len >= 64) {
        sha256_process(ctx, p);
        p += 64;
        len -= 64;
    }
    if (len > 0)
        std::memcpy(ctx->buffer + used, p, len);
}

void sha256_finish(sha256Context* ctx, uint8_t digest[32])
{
    static constexpr uint8_t padding[64] = {0x80};
    const uint32_t high = (ctx->total[0] >> 29) | (ctx->total[1] << 3);
    const uint32_t low = ctx->total[0] << 3;
    uint8_t lengthBits[8];
    storeBe32(lengthBits, high);
    storeBe32(lengthBits + 4, low);

    const uint32_t used = ctx->total[0] & 63;
    sha256_update(ctx, padding, used < 56 ? 56 - used : 120 - used);
    sha256_update(ctx, lengthBits, 8);
    for (int i = 0; i < 8; ++i)
        storeBe32(digest + 4 * i, ctx->state[i]);
}
