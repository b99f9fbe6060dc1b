#pragma once
// The bookkeeping of a texture atlas of 32 x 32 tiles: textures registered under two keys, equal
// registrations sharing one entry, and the smallest square size the OpenGL implementation can hold them in.
#include <atomic>
#include <cstdint>

#include "client/texturemgr.h"
#include "platformlib/allocator/roalloc.h"

namespace tavrix::util {
class mutex;
}

namespace tavrix {

class textureMap : public roAlloc {
public:
    static constexpr uint32_t TILE_SIZE = 32;

    struct request {
        request* next;
        int32_t value1;
        int32_t value2;
    };
    struct entry {
        entry* next;
        uint32_t slot;
        textureMgr::texture* texture; // one reference held
        int32_t key1;
        int32_t key2;
        request* requests; // newest first
    };

    // Registers the default texture with keys 0, 0 as the first entry: the default must have arrived.
    textureMap();
    ~textureMap();
    textureMap(const textureMap&) = delete;
    textureMap& operator=(const textureMap&) = delete;

    // Any thread; ignored (and logged) once the atlas is compiled.
    void addTexture(textureMgr::texture* tex, int32_t key1, int32_t key2, int32_t value1, int32_t value2);
    // Chooses the size and queues the compile task; throws when no size holds every entry.
    void compile();
    bool isCompiled() const;
    // Main task, on the OpenGL thread.
    static void mtask_compileMap(void* map, int32_t unused1, int32_t unused2, int32_t unused3);

    uint32_t width;
    uint32_t height;
    uint32_t glTexture;
    std::atomic<int32_t> count;
    entry* head; // newest first, under the lock
    util::mutex* lock;
    std::atomic<int32_t> compiled;
};

} // namespace tavrix
