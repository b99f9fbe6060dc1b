#pragma once
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
