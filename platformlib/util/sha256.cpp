#include "platformlib/util/sha256.h"

#include <immintrin.h>

#include <cstring>

#include "platformlib/cpuinfo.h"

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

namespace {

void compressBlock(uint32_t state[8], const uint8_t block[64])
{
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = loadBe32(block + 4 * i);
    for (int i = 16; i < 64; ++i)
        w[i] = smallSigma1(w[i - 2]) + w[i - 7] + smallSigma0(w[i - 15]) + w[i - 16];

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
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
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

} // namespace

#undef SHA256_ROUND

void sha256_compressPortable(uint32_t state[8], const uint8_t* blocks, size_t count)
{
    for (; count > 0; --count, blocks += 64)
        compressBlock(state, blocks);
}

// The instructions keep the working words in two registers as ABEF and CDGH, and take four rounds' message
// words plus constants at a time; the message schedule is computed four words at a time beside them.
__attribute__((target("sha,ssse3,sse4.1"))) void sha256_compressShaExtensions(uint32_t state[8],
                                                                                const uint8_t* blocks, size_t count)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0C0D0E0F08090A0BLL, 0x0405060700010203LL);
    const __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    const __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; count > 0; --count, blocks += 64) {
        const __m128i abefBefore = abef;
        const __m128i cdghBefore = cdgh;
        __m128i w[4];
#pragma GCC unroll 16
        for (int i = 0; i < 16; ++i) {
            __m128i& words = w[i & 3];
            if (i < 4) {
                words = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), byteSwap);
            } else {
                const __m128i& previous = w[(i + 3) & 3];
                const __m128i sevenBack = _mm_alignr_epi8(previous, w[(i + 2) & 3], 4);
                words = _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(words, w[(i + 1) & 3]), sevenBack),
                                             previous);
            }
            const __m128i input =
                _mm_add_epi32(words, _mm_loadu_si128(reinterpret_cast<const __m128i*>(roundConstants + 4 * i)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, input);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(input, 0x0E));
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

namespace {

sha256Compressor chosenCompressor()
{
    static const sha256Compressor chosen =
        tavrix::cpuinfo_hasShaExtensions() ? sha256_compressShaExtensions : sha256_compressPortable;
    return chosen;
}

} // namespace

void sha256_process(sha256Context* ctx, const uint8_t block[64]) { chosenCompressor()(ctx->state, block, 1); }

void sha256_starts(sha256Context* ctx)
{
    ctx->total[0] = 0;
    ctx->total[1] = 0;
    std::memcpy(ctx->state, initialState, sizeof(initialState));
}

void sha256_update(sha256Context* ctx, const void* data, uint32_t len)
{
    sha256_updateWith(ctx, data, len, chosenCompressor());
}

void sha256_finish(sha256Context* ctx, uint8_t digest[32]) { sha256_finishWith(ctx, digest, chosenCompressor()); }

void sha256_updateWith(sha256Context* ctx, const void* data, uint32_t len, sha256Compressor compress)
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
        compress(ctx->state, ctx->buffer, 1);
        p += fill;
        len -= fill;
        used = 0;
    }
    compress(ctx->state, p, len / 64);
    p += len & ~63u;
    len &= 63;
    if (len > 0)
        std::memcpy(ctx->buffer + used, p, len);
}

void sha256_finishWith(sha256Context* ctx, uint8_t digest[32], sha256Compressor compress)
{
    static constexpr uint8_t padding[64] = {0x80};
    const uint32_t high = (ctx->total[0] >> 29) | (ctx->total[1] << 3);
    const uint32_t low = ctx->total[0] << 3;
    uint8_t lengthBits[8];
    storeBe32(lengthBits, high);
    storeBe32(lengthBits + 4, low);

    const uint32_t used = ctx->total[0] & 63;
    sha256_updateWith(ctx, padding, used < 56 ? 56 - used : 120 - used, compress);
    sha256_updateWith(ctx, lengthBits, 8, compress);
    for (int i = 0; i < 8; ++i)
        storeBe32(digest + 4 * i, ctx->state[i]);
}
