#pragma once
#include <cstddef>
#include <cstdint>

// One message per context: start, update any number of times, finish.
struct sha256Context {
    uint32_t total[2]; // bytes processed, low word first
    uint32_t state[8];
    uint8_t buffer[64]; // an incomplete block
};

void sha256_starts(sha256Context* ctx);
void sha256_update(sha256Context* ctx, const void* data, uint32_t len);
void sha256_finish(sha256Context* ctx, uint8_t digest[32]);
// Compresses one 64-byte block into the state.
void sha256_process(sha256Context* ctx, const uint8_t block[64]);

// Compression of `count` consecutive 64-byte blocks into the state. The functions above use the one on the
// processor's SHA instructions where tavrix::cpuinfo_hasShaExtensions() holds and the portable one
// elsewhere, chosen once, on first use; the `With` forms take either one explicitly.
using sha256Compressor = void (*)(uint32_t state[8], const uint8_t* blocks, size_t count);
void sha256_compressPortable(uint32_t state[8], const uint8_t* blocks, size_t count);
void sha256_compressShaExtensions(uint32_t state[8], const uint8_t* blocks, size_t count);
void sha256_updateWith(sha256Context* ctx, const void* data, uint32_t len, sha256Compressor compress);
void sha256_finishWith(sha256Context* ctx, uint8_t digest[32], sha256Compressor compress);
