#include "client/blocktyperegistrylocal.h"

#include <GLFW/glfw3.h>

#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

#include "client/clientlogger.h"
#include "client/cvar.h"
#include "client/json.h"
#include "client/maintaskqueue.h"
#include "client/pooltable.h"
#include "client/texturemap.h"
#include "client/vfs.h"
#include "platformlib/allocator/pool.h"
#include "platformlib/posix/thread.h"
#include "platformlib/util/exception.h"

namespace tavrix {

namespace worldFactory {

Pool<blockType>* blockTypePool = nullptr;
Pool<Chunk>* chunkPool = nullptr;
Pool<Block>* blockPool = nullptr;

namespace {

constexpr int32_t PROGRESS_TOTAL = 300;

void reportProgress(int32_t done) { vfs::getUpdateSink().setProgress(vfs::updateSink::LOADING_SCREEN, done, PROGRESS_TOTAL); }

} // namespace

void init()
{
    vfs::getUpdateSink().setStatusText(vfs::updateSink::LOADING_SCREEN, "Preallocating Ressources", 0);
    reportProgress(0);
    blockTypePool = makePool<blockType>(pools::blockType);
    reportProgress(100);
    chunkPool = makePool<Chunk>(pools::worldChunk);
    reportProgress(200);
    blockPool = makePool<Block>(pools::worldBlock);
    reportProgress(300);
}

void final()
{
    delete blockPool;
    blockPool = nullptr;
    delete chunkPool;
    chunkPool = nullptr;
    // Block types still waiting for textures were left to their callbacks.
    if (blockTypeRegistry::pendingRegistrations() == 0)
        delete blockTypePool;
    blockTypePool = nullptr;
}

} // namespace worldFactory

namespace {

// The field of that name hides the type inside blockType.
using surfaceRecord = struct blockType::surface;

constexpr const char* DEFINITION_PATH = "data/test/testBlockDef.json";
constexpr uint32_t KEY_ID = 1;
constexpr uint32_t KEY_IS_SOLID = 2;
constexpr uint32_t KEY_SURFACE = 4;
constexpr uint32_t ALL_KEYS = KEY_ID | KEY_IS_SOLID | KEY_SURFACE;
constexpr uint32_t SLOT_PIXELS = 32;

struct registryState {
    // Published block types, written only by the callback of a block type's last texture.
    std::atomic<blockType*> idMap[BLOCKTYPEID_MAX];
    // The block type holding each id from its registration on, published or not; start-up executor only.
    blockType* reserved[BLOCKTYPEID_MAX];
    // Registrations whose textures have not all arrived.
    std::atomic<int32_t> waiting{0};
    textureMap* atlas = nullptr;
};
registryState state;

// The tile as given, truncated; beyond the 32-bit range it saturates, so the fallback's line shows what
// the definition holds.
int32_t toSlot(double value)
{
    const double tile = std::trunc(value);
    if (!(tile >= double(INT32_MIN)))
        return INT32_MIN;
    return tile > double(INT32_MAX) ? INT32_MAX : int32_t(tile);
}

void freeSurfaceNames(blockType* bt)
{
    for (surfaceRecord& s : bt->surface) {
        if (s.texture)
            rofree(s.texture);
        s.texture = nullptr;
    }
}

bool assignSlot(blockType* bt, surfaceRecord& s, jsonValue value)
{
    if (value.getTag() != JSON_TAG_ARRAY) {
        CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: defineBlockFromJson(%s) -> surface, slot expects to be ARRAY\n", bt->sysName);
        return false;
    }
    uint32_t given = 0;
    for (jsonNode* node : value) {
        if (given == 2 || node->value.getTag() != JSON_TAG_NUMBER) {
            if (given == 2)
                CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: defineBlockFromJson(%s) -> sufrace, slot expects to be an aray of exactly 2 Numbers (x, y)\n", bt->sysName);
            else
                CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: defineBlockFromJson(%s) -> surface, slot values expects to be array of numbers\n", bt->sysName);
            return false;
        }
        (given == 0 ? s.slotX : s.slotY) = toSlot(node->value.toNumber());
        ++given;
    }
    if (given != 2) {
        CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: defineBlockFromJson(%s) -> sufrace, slot expects to be an aray of exactly 2 Numbers (x, y)\n", bt->sysName);
        return false;
    }
    return true;
}

bool assignId(blockType* bt, jsonValue value)
{
    const bool number = value.getTag() == JSON_TAG_NUMBER && std::isfinite(value.toNumber());
    const double id = number ? std::trunc(value.toNumber()) : -1;
    if (id < 0) {
        CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: defineBlockFromJson(%s) -> id expects to be NUMBER\n", bt->sysName);
        return false;
    }
    // Beyond the id map either way: kept large so that the range check refuses it.
    bt->id = id >= double(UINT32_MAX) ? UINT32_MAX : uint32_t(id);
    return true;
}

bool assignSurfaces(blockType* bt, jsonValue value)
{
    if (value.getTag() != JSON_TAG_ARRAY) {
        CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: defineBlockFromJson(%s) -> surface expects to be ARRAY\n", bt->sysName);
        return false;
    }
    // A second "surface" replaces the first: until it is whole, the block has none.
    freeSurfaceNames(bt);
    bt->assignedKeys &= ~KEY_SURFACE;
    uint32_t index = 0;
    for (jsonNode* node : value) {
        if (index == BLOCKTYPE_SURFACES) {
            CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: defineBlockFromJson(%s) -> surface, expected to have 6 Sides - exceeding this wont make it having more blocky.\n", bt->sysName);
            return false;
        }
        if (node->value.getTag() != JSON_TAG_OBJECT) {
            CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: defineBlockFromJson(%s) -> surface[%u] expects to be OBJECT\n", bt->sysName, index);
            return false;
        }
        if (!btJsonAssignSurface(bt, index, node->value)) {
            CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: defineBlockFromJson(%s) -> surface[%u] error\n", bt->sysName, index);
            return false;
        }
        ++index;
    }
    if (index != BLOCKTYPE_SURFACES) {
        CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: defineBlockFromJson(%s) -> sufrace, expected to have 6 Sides - %u given\n", bt->sysName, index);
        return false;
    }
    return true;
}

// Counted in 64 bits: no slot's pixel position overflows.
bool slotFits(const surfaceRecord& s, const textureMgr::texture* tex)
{
    return s.slotX >= 0 && s.slotY >= 0 && uint64_t(s.slotX) * SLOT_PIXELS + SLOT_PIXELS <= tex->width &&
           uint64_t(s.slotY) * SLOT_PIXELS + SLOT_PIXELS <= tex->height;
}

} // namespace

bool btJsonAssignValue(blockType* bt, const char* key, jsonValue value)
{
    uint32_t assigned = 0;
    bool ok = false;
    if (std::strcmp(key, "id") == 0) {
        assigned = KEY_ID;
        ok = assignId(bt, value);
    } else if (std::strcmp(key, "isSolid") == 0) {
        assigned = KEY_IS_SOLID;
        ok = value.getTag() == JSON_TAG_BOOL;
        if (ok)
            bt->isSolid = value.toBool() ? 1 : 0;
        else
            CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: defineBlockFromJson(%s) -> isSolid expects to be BOOL\n", bt->sysName);
    } else if (std::strcmp(key, "surface") == 0) {
        assigned = KEY_SURFACE;
        ok = assignSurfaces(bt, value);
    }
    if (ok)
        bt->assignedKeys |= assigned;
    return ok;
}

bool btJsonAssignSurface(blockType* bt, uint32_t index, jsonValue value)
{
    surfaceRecord& s = bt->surface[index];
    bool hasTexture = false;
    bool hasSlot = false;
    for (jsonNode* node : value) {
        if (std::strcmp(node->key, "texture") == 0) {
            if (node->value.getTag() != JSON_TAG_STRING) {
                CLIENT_LOG(util::LOG_ERROR, "blockTypeRegsitry: defineBlockFromJson(%s) -> surface, texture expects to be STRING\n", bt->sysName);
                return false;
            }
            if (s.texture)
                rofree(s.texture);
            s.texture = rostrdup(node->value.toString());
            hasTexture = true;
        } else if (std::strcmp(node->key, "slot") == 0) {
            if (!assignSlot(bt, s, node->value))
                return false;
            hasSlot = true;
        } else {
            CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: defineBlockFromJson(%s) -> unexpected key '%s' for surface definition!\n", bt->sysName, node->key);
            return false;
        }
    }
    return hasTexture && hasSlot;
}

namespace blockTypeRegistry {

void init()
{
    state.waiting.store(0);
    for (uint32_t id = 0; id < BLOCKTYPEID_MAX; ++id) {
        state.idMap[id].store(nullptr);
        state.reserved[id] = nullptr;
    }
    state.atlas = new textureMap;
    CLIENT_LOG(util::LOG_WARN, "@DEBUG - Remove me - blockTypeRegistry - static Type Definition!\n");
    uint32_t size = 0;
    void* data = vfs::readFile(DEFINITION_PATH, &size);
    if (!data)
        TAVRIX_FATAL("Test block Defintion Missing");
    try {
        loadJson(static_cast<const char*>(data), size);
    } catch (...) {
        vfs::releaseFile(data);
        throw;
    }
    vfs::releaseFile(data);
}

void final()
{
    delete state.atlas;
    state.atlas = nullptr;
    clear();
}

void loadJson(const char* data, uint32_t size)
{
    json* document = new json;
    jsonValue root;
    if (size == 0 || !document->parse(data, size, &root, DEFINITION_PATH)) {
        CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: json decode failed.\n");
        delete document;
        TAVRIX_FATAL("Failed to Decode the Block Type Definition\n");
    }
    if (root.getTag() != JSON_TAG_OBJECT) {
        CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: Expected root node to be Object\n");
        delete document;
        TAVRIX_FATAL("Failed to Decode the Block Type Definition\n");
    }
    for (jsonNode* member : root) {
        if (!defineBlockFromJson(member->key, member->value)) {
            CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: error in definition for block '%s'\n", member->key);
            delete document;
            TAVRIX_FATAL("Faild to Decode the Block Tyhe Definition\n");
        }
    }
    delete document;
}

bool defineBlockFromJson(const char* sysName, jsonValue value)
{
    blockType* bt = allocBT();
    const size_t length = std::strlen(sysName);
    if (length >= BLOCKTYPE_SYSNAME_SIZE) {
        worldFactory::blockTypePool->put(bt);
        CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: defineBlockFromJson -> '%s' exceeds the maximum supported sysName Length\n", sysName);
        return false;
    }
    std::memcpy(bt->sysName, sysName, length + 1);
    if (value.getTag() == JSON_TAG_OBJECT) {
        for (jsonNode* member : value) {
            if (!btJsonAssignValue(bt, member->key, member->value))
                CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: defineBlockFromJson(%s) -> Unknonw Key or Invalid Value for key '%s'\n", sysName, member->key);
        }
    }
    if (bt->assignedKeys != ALL_KEYS) {
        const int remaining = 3 - std::popcount(bt->assignedKeys);
        CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: defineBlockFromJson(%s) -> Incomplete Definition, ramining keys: %d\n", sysName, remaining);
        freeBT(bt);
        return false;
    }
    if (!registerBlock(bt)) {
        CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: defineBlockFromJson(%s) -> Registration Failed.\n", sysName);
        freeBT(bt);
        return false;
    }
    return true;
}

bool registerBlock(blockType* bt)
{
    if (bt->id >= BLOCKTYPEID_MAX) {
        CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: registerBlock(%s) -> ID(%u) > BLOCKTYPEID_MAX(%u)\n", bt->sysName, bt->id, BLOCKTYPEID_MAX);
        return false;
    }
    // Reserved here, not at publication, so a second definition of an id is refused before it loads anything.
    if (const blockType* holder = state.reserved[bt->id]) {
        CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: registerblock(%s) -> ID CONFLICT ID(%u) already in use By '%s'\n", bt->sysName, bt->id, holder->sysName);
        return false;
    }
    state.reserved[bt->id] = bt;
    state.waiting.fetch_add(1);
    bt->pendingTextures.store(int32_t(BLOCKTYPE_SURFACES));
    for (uintptr_t i = 0; i < BLOCKTYPE_SURFACES; ++i)
        textureMgr::loadTexture(bt->surface[i].texture, registerBlock_onTextureLoaded, bt, reinterpret_cast<void*>(i));
    return true;
}

void registerBlock_onTextureLoaded(textureMgr::texture* tex, void* user, void* arg)
{
    auto* bt = static_cast<blockType*>(user);
    const uint32_t index = uint32_t(reinterpret_cast<uintptr_t>(arg));
    surfaceRecord& s = bt->surface[index];
    s.tex = tex;
    if (slotFits(s, tex)) {
        s.pixelX = s.slotX * int32_t(SLOT_PIXELS);
        s.pixelY = s.slotY * int32_t(SLOT_PIXELS);
    } else {
        CLIENT_LOG(util::LOG_ERROR, "blockTypeRegistry: Block(%s) surface[%u] - Slot [%u, %u] Invalid as it exceeds the Texture's Dimensions, using default texture\n", bt->sysName, index, uint32_t(s.slotX), uint32_t(s.slotY));
        s.tex = textureMgr::getDefaultTexture();
        s.pixelX = 0;
        s.pixelY = 0;
        textureMgr::releaseTextureRecord(tex);
    }
    if (bt->pendingTextures.fetch_sub(1) - 1 != 0)
        return;
    if (state.idMap[bt->id].load())
        TAVRIX_FATAL("blockTypeRegistry -> registerBlock (FINAL) - idmap slot != NULL\n");
    state.idMap[bt->id].store(bt, std::memory_order_release);
    CLIENT_LOG(util::LOG_INFO, "blockTypeRegistry: registered Block(%s) ID(%u)\n", bt->sysName, bt->id);
    state.waiting.fetch_sub(1);
}

blockType* allocBT()
{
    blockType* bt = worldFactory::blockTypePool->get();
    return new (bt) blockType{};
}

void freeBT(blockType* bt)
{
    for (surfaceRecord& s : bt->surface) {
        if (s.tex)
            textureMgr::releaseTextureRecord(s.tex);
        s.tex = nullptr;
    }
    freeSurfaceNames(bt);
    bt->sysName[0] = '\0';
    worldFactory::blockTypePool->put(bt);
}

void clear()
{
    // The textures' uploads are main tasks. On the OpenGL thread (the shutdown's, once the frame loop has
    // ended) no frame runs them while this waits, so the wait runs them itself.
    const bool onOpenGLThread = glfwGetCurrentContext() != nullptr;
    const int32_t start = getTimeMs();
    while (state.waiting.load() != 0 && msSince(start) < int32_t(CLEAR_WAIT_MS)) {
        if (onOpenGLThread)
            mainTaskQueue::run();
        sys::yield();
    }
    if (state.waiting.load() != 0)
        CLIENT_LOG(util::LOG_WARN, "blockTypeRegistry: clear() -> %d registrations still wait for textures after %u ms - left in place\n", state.waiting.load(), CLEAR_WAIT_MS);
    if (state.atlas) {
        delete state.atlas;
        state.atlas = new textureMap;
    }
    for (uint32_t id = 0; id < BLOCKTYPEID_MAX; ++id) {
        if (blockType* bt = state.idMap[id].exchange(nullptr))
            freeBT(bt);
        state.reserved[id] = nullptr;
    }
}

blockType* getBlockType(uint32_t id) { return id < BLOCKTYPEID_MAX ? state.idMap[id].load(std::memory_order_acquire) : nullptr; }

int32_t pendingRegistrations() { return state.waiting.load(); }

} // namespace blockTypeRegistry
} // namespace tavrix
