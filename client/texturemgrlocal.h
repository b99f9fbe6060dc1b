#pragma once
// The texture manager's internals, shared by its own file, its tests and its benchmark.
#include <atomic>
#include <cstdint>

#include "client/texturedecoder.h"
#include "client/texturemgr.h"

namespace tavrix::textureMgr {

struct callbackNode {
    callbackNode* next;
    loadCallback callback;
    void* user;
    void* arg;
};

// The whole texture record, one tracking-allocator block: the texture's fields, these, then the path with
// its NUL.
struct textureRecord : texture {
    // 1 while a load or a callback run is outstanding.
    std::atomic<int32_t> pending;
    callbackNode* head; // under the table lock
    callbackNode* tail;
    void* pixels; // decoded or cached data until the upload frees it
    uint32_t dataSize;
    uint32_t glFormat; // GL_RGB, GL_RGBA or GL_COMPRESSED_RGBA_S3TC_DXT5_EXT
    // 1 once the file turned out missing or undecodable: every callback gets the default texture instead,
    // and the request's reference on this record is given back.
    std::atomic<int32_t> failed;
    // 1 from creation until the first callback run after the load: the load's own reference.
    std::atomic<int32_t> loadHeld;
};

enum texTaskType : uint32_t {
    TASK_PROCESS_CALLBACKLIST = 0,
    TASK_WRITE_TEXTURECACHE = 1,
    TASK_TRYREAD_TEXTURECACHE = 2,
};

struct texTask {
    texTask* next;
    uint32_t type;
    textureRecord* texture;
    void* data; // type 1: the compressed image with its trailer
    uint32_t size;
};

// The compressed-texture cache payload: the level-0 DXT5 blocks, then this trailer, little-endian.
constexpr uint32_t CACHE_TRAILER_SIZE = 14;
constexpr uint16_t CACHE_VERSION = 1;
// The largest cache entry taken: the DXT5 blocks of the largest texture a decoder hands out, and the trailer.
constexpr uint32_t MAX_CACHE_ENTRY_SIZE = uint32_t(MAX_DECODED_BYTES) + CACHE_TRAILER_SIZE;
// Longest path, its NUL included: "data/textures/" and the name.
constexpr uint32_t PATH_BUFFER_SIZE = 255;
// How long the start-up step waits for "default.png".
constexpr uint32_t DEFAULT_TEXTURE_WAIT_MS = 20000;
// How long final waits for loads still on the content store's workers.
constexpr uint32_t FINAL_LOAD_WAIT_MS = 5000;

// Picks the decoder by the file's first bytes or the path's extension and fills the record's pixels,
// size and format.
bool processRawTexture(textureRecord* tex, const void* data, uint32_t size);

// Whether a cache entry of `size` bytes can be uploaded as it is: its trailer and its block data agree.
bool cacheEntryUsable(const void* entry, uint32_t size, uint32_t* width, uint32_t* height);

// 2 raised to the ceiling of log2(x), in double precision as the power-of-two warning has it.
uint32_t nextPow2(uint32_t x);

} // namespace tavrix::textureMgr
