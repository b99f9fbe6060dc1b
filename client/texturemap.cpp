#include "client/texturemap.h"

#include <GL/glew.h>

#include <cstdio>
#include <mutex>

#include "client/clientlogger.h"
#include "client/maintaskqueue.h"
#include "client/texturedecoder.h"
#include "platformlib/posix/thread.h"
#include "platformlib/util/exception.h"

namespace tavrix {
namespace {

constexpr uint32_t MAP_SIZES[] = {512, 1024, 2048, 4096, 8192, 16384};

[[noreturn]] void noSuitableSize(uint32_t count)
{
    char text[512];
    std::snprintf(text, sizeof(text),
                  "TextureMap - Fatal Error\n\nNo suitable MapSize found that will\nbe capable of hosting all textures\n\nTotal Num Textures: %u (Res: %upx)\n\n"
                  "Note: if this problem persists, check if your\nHardware mets the minimum-requirements - if it does:\nContact our Support\n",
                  count, textureMap::TILE_SIZE);
    TAVRIX_FATAL("%s", text);
}

// The atlas object is gone by the time this runs: the id comes by value.
void mtask_deleteMapTexture(void*, int32_t glTexture, int32_t, int32_t)
{
    const GLuint id = GLuint(glTexture);
    if (id)
        glDeleteTextures(1, &id);
}

} // namespace

textureMap::textureMap()
    : width(0), height(0), glTexture(0), count(0), head(nullptr), lock(new util::mutex), compiled(0)
{
    textureMgr::texture* fallback = textureMgr::getDefaultTexture();
    addTexture(fallback, 0, 0, 0, 0);
    // addTexture took a reference of its own.
    textureMgr::releaseTextureRecord(fallback);
}

textureMap::~textureMap()
{
    if (compiled.load() == 1)
        mainTaskQueue::add(mtask_deleteMapTexture, nullptr, int32_t(glTexture), 0, 0);
    glTexture = 0;
    delete lock;
    while (entry* e = head) {
        head = e->next;
        // Each request took a reference of its own.
        while (request* r = e->requests) {
            e->requests = r->next;
            rofree(r);
            textureMgr::releaseTextureRecord(e->texture);
        }
        rofree(e);
    }
}

void textureMap::addTexture(textureMgr::texture* tex, int32_t key1, int32_t key2, int32_t value1, int32_t value2)
{
    if (compiled.load() == 1) {
        CLIENT_LOG(util::LOG_ERROR, "textureMap::addTexture() -> map is already compiled!\n");
        return;
    }
    if (!textureMgr::IncreaseRefCnt(tex)) {
        CLIENT_LOG(util::LOG_ERROR, "textureMap::addTexture() -> increasing reference counter failed - fallback to default texture\n");
        tex = textureMgr::getDefaultTexture();
    }
    auto* added = static_cast<request*>(roalloc(sizeof(request)));
    *added = request{nullptr, value1, value2};

    std::lock_guard<util::mutex> guard(*lock);
    for (entry* e = head; e; e = e->next) {
        if (e->texture == tex && e->key1 == key1 && e->key2 == key2) {
            added->next = e->requests;
            e->requests = added;
            return;
        }
    }
    auto* created = static_cast<entry*>(roalloc(sizeof(entry)));
    *created = entry{head, 0, tex, key1, key2, added};
    head = created;
    count.fetch_add(1);
}

void textureMap::compile()
{
    const uint32_t entries = uint32_t(count.load());
    // GL_MAX_TEXTURE_SIZE as the client read it at start-up.
    const uint32_t largest = decoderMaxTextureSize.load(std::memory_order_relaxed);
    for (uint32_t size : MAP_SIZES) {
        if (size > largest)
            noSuitableSize(entries);
        const uint32_t tiles = (size / TILE_SIZE) * (size / TILE_SIZE);
        if (tiles < entries)
            continue;
        CLIENT_LOG(util::LOG_INFO, "texutreMap: Using %ux%u Map for hosting %u %upx Textures\n", size, size, entries, TILE_SIZE);
        width = size;
        height = size;
        mainTaskQueue::add(mtask_compileMap, this, 0, 0, 0);
        return;
    }
    noSuitableSize(entries);
}

bool textureMap::isCompiled() const { return compiled.load() == 1; }

void textureMap::mtask_compileMap(void* map, int32_t, int32_t, int32_t)
{
    auto* self = static_cast<textureMap*>(map);
    int32_t open = 0;
    if (!self->compiled.compare_exchange_strong(open, 1))
        CLIENT_LOG(util::LOG_ERROR, "textureMap::mtask_compileMap() -> the given map is already compiled!\n");
}

} // namespace tavrix
