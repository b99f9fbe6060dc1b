#include "client/texturemgrlocal.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "client/bmptexture.h"
#include "client/clientlogger.h"
#include "client/cvar.h"
#include "client/ddstexture.h"
#include "client/fscache.h"
#include "client/maintaskqueue.h"
#include "client/orderedasyncstartupmgr.h"
#include "client/pooltable.h"
#include "client/pngtexture.h"
#include "client/texturedecoder.h"
#include "client/tgatexture.h"
#include "client/vfs.h"
#include "client/windowing.h"
#include "platformlib/allocator/pool.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/posix/thread.h"
#include "platformlib/taskqueue.h"
#include "platformlib/util/exception.h"
#include "platformlib/util/littleendian.h"
#include "platformlib/util/rbdb.h"
#include "platformlib/util/workerstop.h"

namespace tavrix::textureMgr {
namespace {

constexpr uint32_t WORKER_WAIT_MS = 1500;
constexpr uint32_t WORKER_JOIN_MS = 3000;
constexpr uint32_t TABLE_POOL_NODES = 512;
// The wait for the default texture looks at the start-up's shutdown this often.
constexpr uint32_t DEFAULT_WAIT_SLICE_MS = 100;
constexpr uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct moduleState {
    util::taskQueue<texTask>* queue = nullptr;
    // Guards both tables and every record's callback list.
    util::mutex* tableLock = nullptr;
    std::atomic<bool> running{false};
    util::thread* worker = nullptr;
    Pool<texTask>* taskPool = nullptr;
    rbdb* name2Tex = nullptr;
    rbdb* gl2Tex = nullptr;
    std::atomic<texture*> defaultTexture{nullptr};
    // Not made by init: the start-up step may wait on them while init and final come and go.
    util::mutex defaultLock;
    util::condVar defaultArrived;
    // Loads handed to the content store whose callback has not returned yet.
    std::atomic<int32_t> loadsInFlight{0};
    bool compressionDisabled = false;
    bool cachingDisabled = false;
    float anisotropy = 1.0f;
};
moduleState state;

void texTaskAdd(uint32_t type, textureRecord* tex, void* data, uint32_t size)
{
    if (!state.running.load())
        CLIENT_LOG(util::LOG_ERROR, "textureMgr::texTaskAdd() -> m_running = 0!\n");
    texTask* task = state.taskPool->get();
    task->type = type;
    task->texture = tex;
    task->data = data;
    task->size = size;
    state.queue->push(task);
}

textureRecord* newRecord(const char* path, uint32_t length, callbackNode* node)
{
    void* block = roalloc(uint32_t(sizeof(textureRecord) + length + 1));
    textureRecord* tex = new (block) textureRecord{};
    tex->name = reinterpret_cast<char*>(tex + 1);
    std::memcpy(tex->name, path, length + 1);
    // The caller's reference and the load's own.
    tex->refCnt.store(2);
    tex->pending.store(1);
    tex->loadHeld.store(1);
    tex->head = node;
    tex->tail = node;
    return tex;
}

void freeRecord(textureRecord* tex)
{
    for (callbackNode* node = tex->head; node;) {
        callbackNode* next = node->next;
        rofree(node);
        node = next;
    }
    if (tex->pixels)
        rofree(tex->pixels);
    tex->~textureRecord();
    rofree(tex);
}

void mtask_deleteTexture(void*, int32_t glId, int32_t, int32_t)
{
    const GLuint id = GLuint(glId);
    glDeleteTextures(1, &id);
}

void vfsFileLoadedCallback(const char* name, void* data, uint32_t size, void* user, void* user2);

void startFileLoad(textureRecord* tex)
{
    state.loadsInFlight.fetch_add(1);
    vfs::asyncLoad(tex->name, vfsFileLoadedCallback, nullptr, tex);
}

void decreaseRefCntAndCheckRelease(texture* tex)
{
    if (tex->refCnt.fetch_sub(1) - 1 > 0)
        return;
    uint32_t glId;
    {
        std::lock_guard<util::mutex> guard(*state.tableLock);
        // A request that found the record under the lock revived it.
        if (tex->refCnt.load() != 0)
            return;
        glId = tex->glId;
        if (glId)
            db_deleteLocked(state.gl2Tex, glId);
        strdb_delete(state.name2Tex, tex->name, 0);
    }
    if (glId)
        mainTaskQueue::add(mtask_deleteTexture, nullptr, int32_t(glId), 0, 0);
    // Every texture handed out is one of this manager's records.
    freeRecord(static_cast<textureRecord*>(tex));
}

// No texture for the record: before the default exists the client cannot go on, unless it is shutting
// down anyway (the content may never have arrived) and the record is left to final; after it, every
// callback of the record gets the default instead.
void loadFailed(textureRecord* tex)
{
    if (!state.defaultTexture.load()) {
        if (orderedAsyncStartupMgr::shuttingDown()) {
            CLIENT_LOG(util::LOG_INFO, "textureMgr: '%s' not loaded - the client is shutting down\n", tex->name);
            return;
        }
        TAVRIX_FATAL("TextureMgr: Default Texture not loaded, while Texture loading fails\n");
    }
    // The fallback below does happen; the line keeps its old text, which logs and their readers look for.
    CLIENT_LOG(util::LOG_ERROR, "@TODO - fallback to default texture\n");
    tex->failed.store(1);
    texTaskAdd(TASK_PROCESS_CALLBACKLIST, tex, nullptr, 0);
}

// Longer than 4 characters and ending in ".tga", in any case.
bool hasTgaExtension(const char* path)
{
    const size_t length = std::strlen(path);
    if (length <= 4)
        return false;
    const char* extension = path + length - 4;
    return extension[0] == '.' && (extension[1] | 0x20) == 't' && (extension[2] | 0x20) == 'g' && (extension[3] | 0x20) == 'a';
}

bool isPow2(uint32_t x) { return nextPow2(x) == x; }

void uploadTextureToGPU(void* data, int32_t, int32_t, int32_t);

void vfsFileLoadedCallback(const char*, void* data, uint32_t size, void*, void* user2)
{
    auto* tex = static_cast<textureRecord*>(user2);
    bool decoded = false;
    if (data) {
        decoded = processRawTexture(tex, data, size);
        vfs::releaseFile(data);
    }
    if (decoded && tex->width && tex->height) {
        if (!isPow2(tex->width) || !isPow2(tex->height))
            CLIENT_LOG(util::LOG_WARN, "textureMgr: '%s' %ux%u is non pow2 this may cause visual artifacts as well as result in degraded performance\n", tex->name, tex->width, tex->height);
        mainTaskQueue::add(uploadTextureToGPU, tex, 0, 0, 0);
    } else {
        loadFailed(tex);
    }
    state.loadsInFlight.fetch_sub(1);
}

void task_tryread_textureCache(textureRecord* tex)
{
    uint32_t size = 0;
    void* entry = fsCache::get(tex->name, &size, MAX_CACHE_ENTRY_SIZE);
    uint32_t width = 0;
    uint32_t height = 0;
    if (entry && cacheEntryUsable(entry, size, &width, &height)) {
        tex->glFormat = GL_COMPRESSED_RGBA_S3TC_DXT5_EXT;
        tex->pixels = entry;
        tex->dataSize = size - CACHE_TRAILER_SIZE;
        tex->width = width;
        tex->height = height;
        mainTaskQueue::add(uploadTextureToGPU, tex, 0, 0, 0);
        return;
    }
    if (entry) {
        CLIENT_LOG(util::LOG_INFO, "textureMgr: cache entry of '%s' does not match its data - loading the file\n", tex->name);
        rofree(entry);
    }
    startFileLoad(tex);
}

void task_write_textureCache(textureRecord* tex, void* data, uint32_t size)
{
    fsCache::put(tex->name, data, size, true);
    rofree(data);
    decreaseRefCntAndCheckRelease(tex);
}

void task_process_callbacklist(textureRecord* tex)
{
    callbackNode* node;
    {
        std::lock_guard<util::mutex> guard(*state.tableLock);
        tex->pending.store(0);
        node = tex->head;
        tex->head = nullptr;
        tex->tail = nullptr;
    }
    // Taken before the callbacks: each may give its reference back at once, so after the last one the
    // record is only there when the load still holds it.
    const bool failed = tex->failed.load() == 1;
    const bool loadHeld = tex->loadHeld.exchange(0) == 1;
    while (node) {
        callbackNode* next = node->next;
        if (failed) {
            // The default comes with a reference of its own: the request's one on the failed record goes
            // back, so the record can go once nothing else holds it.
            node->callback(getDefaultTexture(), node->user, node->arg);
            decreaseRefCntAndCheckRelease(tex);
        } else {
            node->callback(tex, node->user, node->arg);
        }
        rofree(node);
        node = next;
    }
    if (loadHeld)
        decreaseRefCntAndCheckRelease(tex);
}

void runTask(texTask* task)
{
    switch (task->type) {
    case TASK_PROCESS_CALLBACKLIST:
        task_process_callbacklist(task->texture);
        break;
    case TASK_WRITE_TEXTURECACHE:
        task_write_textureCache(task->texture, task->data, task->size);
        break;
    case TASK_TRYREAD_TEXTURECACHE:
        task_tryread_textureCache(task->texture);
        break;
    default:
        TAVRIX_FATAL("TextureMgr: Unimplemented Job %u\n", task->type);
    }
}

uint32_t Worker(util::thread*)
{
    while (state.running.load()) {
        if (texTask* task = state.queue->take()) {
            runTask(task);
            state.taskPool->put(task);
            continue;
        }
        state.queue->waitWhileEmpty(state.running, WORKER_WAIT_MS);
    }
    CLIENT_LOG(util::LOG_INFO, "textureMgr::worker: terminating.\n");
    return 0;
}

// The error state was cleared before the call that may have set it.
void checkUpload(uint32_t sourceFormat, uint32_t internalFormat)
{
    const GLenum error = glGetError();
    if (error == GL_NO_ERROR)
        return;
    CLIENT_LOG(util::LOG_ERROR, "TextureMgr: Got Err %u while uploading data to texture (%u -> %u)\n", uint32_t(error), sourceFormat, internalFormat);
    TAVRIX_FATAL("Texture Uplading Failed\nOut of Video Memory?\n");
}

void uploadPixels(textureRecord* tex, GLenum internalFormat)
{
    if (tex->glFormat == GL_RGB || tex->glFormat == GL_RGBA) {
        glTexImage2D(GL_TEXTURE_2D, 0, GLint(internalFormat), GLsizei(tex->width), GLsizei(tex->height), 0, tex->glFormat, GL_UNSIGNED_BYTE, tex->pixels);
        checkUpload(tex->glFormat, internalFormat);
    } else if (tex->glFormat == GL_COMPRESSED_RGBA_S3TC_DXT5_EXT) {
        if (!GLEW_ARB_texture_compression || !GLEW_EXT_texture_compression_s3tc) {
            CLIENT_LOG(util::LOG_ERROR, "TextureMgr: uploadTextureToGPU() -> Got Pre-Compressed Data but Driver/Hardware has no Compression Support.\n");
            TAVRIX_FATAL("TextureMgr: uploadTextureToGPU() -> Got Pre-Compressed Data but Driver/Hardware has no Compression Support.\n");
        }
        glCompressedTexImage2D(GL_TEXTURE_2D, 0, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, GLsizei(tex->width), GLsizei(tex->height), 0, GLsizei(tex->dataSize), tex->pixels);
        checkUpload(tex->glFormat, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT);
    } else {
        CLIENT_LOG(util::LOG_ERROR, "uploadTextureToGPU() -> GOT Unsupported Source Format %u\n", tex->glFormat);
        TAVRIX_FATAL("TextureMgr: uploadTextureToGPU() -> Unsupported Source Format!\n");
    }
}

// The driver's DXT5 image with its trailer, for the texture worker to store in the cache.
void queueCacheWrite(textureRecord* tex)
{
    GLint internalFormat = 0;
    GLint compressedSize = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &internalFormat);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_COMPRESSED_IMAGE_SIZE, &compressedSize);
    if (internalFormat != GL_COMPRESSED_RGBA_S3TC_DXT5_EXT || compressedSize <= 0)
        return;
    const uint32_t size = uint32_t(compressedSize);
    auto* entry = static_cast<uint8_t*>(roalloc(size + CACHE_TRAILER_SIZE));
    glGetCompressedTexImage(GL_TEXTURE_2D, 0, entry);
    uint8_t* trailer = entry + size;
    util::putU16(trailer, CACHE_VERSION);
    util::putU32(trailer + 2, tex->width);
    util::putU32(trailer + 6, tex->height);
    util::putU32(trailer + 10, uint32_t(internalFormat));
    tex->refCnt.fetch_add(1);
    texTaskAdd(TASK_WRITE_TEXTURECACHE, tex, entry, size + CACHE_TRAILER_SIZE);
}

void uploadTextureToGPU(void* data, int32_t, int32_t, int32_t)
{
    auto* tex = static_cast<textureRecord*>(data);
    while (glGetError() != GL_NO_ERROR) {
    }
    glGenTextures(1, &tex->glId);
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        CLIENT_LOG(util::LOG_ERROR, "TextureMGR: Got Err %u while Creating Texture\n", uint32_t(error));
        TAVRIX_FATAL("Texture Creation Failed\nOut of Video Memory?");
    }
    glBindTexture(GL_TEXTURE_2D, tex->glId);
    const GLenum internalFormat = state.compressionDisabled ? GL_RGBA : GL_COMPRESSED_RGBA_S3TC_DXT5_EXT;
    uploadPixels(tex, internalFormat);
    if (!state.compressionDisabled && !state.cachingDisabled && tex->glFormat != GL_COMPRESSED_RGBA_S3TC_DXT5_EXT)
        queueCacheWrite(tex);

    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    if (GLEW_EXT_texture_filter_anisotropic && state.anisotropy != 1.0f)
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, state.anisotropy);

    rofree(tex->pixels);
    tex->pixels = nullptr;
    {
        std::lock_guard<util::mutex> guard(*state.tableLock);
        db_insertLocked(state.gl2Tex, tex->glId, tex);
    }
    texTaskAdd(TASK_PROCESS_CALLBACKLIST, tex, nullptr, 0);
}

void readSettings()
{
    cvar::initialize("textureMgr.disableCompression", 0, 1);
    state.compressionDisabled = true;
    if (cvar::getI32("textureMgr.disableCompression") == 1)
        CLIENT_LOG(util::LOG_INFO, "textureMgr: Texture Compression Disabled (forced by configuration)\n");
    else if (!GLEW_ARB_texture_compression || !GLEW_EXT_texture_compression_s3tc)
        CLIENT_LOG(util::LOG_INFO, "textureMgr: Texture Compression Disabled, Lacking Hardware Support\nARB_texture_compression: %d\nEXT_texture_compression_s3tc: %d\n", int(GLEW_ARB_texture_compression), int(GLEW_EXT_texture_compression_s3tc));
    else
        state.compressionDisabled = false;

    cvar::initialize("textureMgr.disableTextureCaching", 0, 1);
    state.cachingDisabled = cvar::getI32("textureMgr.disableTextureCaching") == 1;
    if (state.cachingDisabled) {
        CLIENT_LOG(util::LOG_INFO, "textureMgr: Caching of Compressed Textures Disabled (forced by configuration)\n");
    } else if (state.compressionDisabled) {
        state.cachingDisabled = true;
        CLIENT_LOG(util::LOG_INFO, "textureMgr: Caching of Comrpessed Textures Disabled (forced by disabled Texture Compression)\n");
    }

    state.anisotropy = cvar::getFloat("video.anisotropic_samples");
    if (!(state.anisotropy >= 1.0f))
        state.anisotropy = 1.0f;
    else if (state.anisotropy > 1.0f)
        // Bounded for the conversion only: the driver clamps the value itself.
        CLIENT_LOG(util::LOG_INFO, "textureMgr: Anisotropic Samples: %d\n", int(std::min(state.anisotropy, 1e9f)));
}

// Deletes the OpenGL texture only while a context is current: at shutdown the window may be gone.
void unloadRecord(textureRecord* tex)
{
    CLIENT_LOG(util::LOG_INFO, "Texture(%s) still referenced %u times - foreced unloading\n", tex->name, uint32_t(tex->refCnt.load()));
    if (tex->glId && windowing::isInitialized() && glfwGetCurrentContext())
        glDeleteTextures(1, &tex->glId);
    freeRecord(tex);
}

int final_db_sub(uint32_t, void* value, va_list)
{
    auto* tex = static_cast<textureRecord*>(value);
    strdb_delete(state.name2Tex, tex->name, 0);
    unloadRecord(tex);
    return 0;
}

// Records that never reached the GPU.
int final_sub_eachName(const char*, uint32_t, void* value, va_list)
{
    unloadRecord(static_cast<textureRecord*>(value));
    return 0;
}

bool waitForLoads(uint32_t milliseconds)
{
    const int32_t start = getTimeMs();
    while (state.loadsInFlight.load() > 0 && msSince(start) < int32_t(milliseconds))
        sys::sleepMs(1);
    return state.loadsInFlight.load() == 0;
}

void wakeWorker(void*) { state.queue->wakeAll(); }

// Tasks the worker left: the cache writes' buffers go, everything else goes with its record.
void dropTasks()
{
    while (texTask* task = state.queue->take()) {
        if (task->type == TASK_WRITE_TEXTURECACHE)
            rofree(task->data);
        state.taskPool->put(task);
    }
}

} // namespace

void init()
{
    state.queue = new util::taskQueue<texTask>;
    state.tableLock = new util::mutex;
    readSettings();
    state.taskPool = makePool<texTask>(pools::textureMgrTask);
    state.gl2Tex = db_create("texMgr: gl2Tex", 1, 1, TABLE_POOL_NODES, client::logErrorPrintf, roalloc_rbdb, rofree_rbdb);
    state.name2Tex = strdb_create("texMgr: name2Tex", 1, 1, TABLE_POOL_NODES, client::logErrorPrintf, roalloc_rbdb, rofree_rbdb);
    state.defaultTexture.store(nullptr);
    state.loadsInFlight.store(0);
    state.running.store(true);
    state.worker = new util::thread("TextureMgr Worker", Worker, nullptr);
}

void final()
{
    const bool ended = util::stopWorker(&state.running, wakeWorker, nullptr, state.worker, WORKER_JOIN_MS);
    util::letWorkerGo(state.worker);
    // Kept for a worker that outlived its join, or a load still running on the content store: the tables
    // with every record, the task queue, the task pool and the table lock.
    if (!waitForLoads(FINAL_LOAD_WAIT_MS) || !ended) {
        CLIENT_LOG(util::LOG_WARN, "textureMgr::final() -> %d loads still running - textures left in place\n", state.loadsInFlight.load());
        return;
    }
    if (!state.queue)
        return;
    dropTasks();
    db_foreach(state.gl2Tex, final_db_sub);
    strdb_foreach(state.name2Tex, final_sub_eachName);
    db_destroy(state.gl2Tex);
    db_destroy(state.name2Tex);
    state.gl2Tex = nullptr;
    state.name2Tex = nullptr;
    state.defaultTexture.store(nullptr);
    delete state.taskPool;
    state.taskPool = nullptr;
    delete state.queue;
    state.queue = nullptr;
    delete state.tableLock;
    state.tableLock = nullptr;
}

void loadTexture(const char* name, loadCallback callback, void* user, void* arg)
{
    char path[PATH_BUFFER_SIZE];
    const int length = std::snprintf(path, sizeof(path), "data/textures/%s", name);
    if (length < 0 || length >= int(sizeof(path))) {
        // Cut, the path could name another texture.
        CLIENT_LOG(util::LOG_ERROR, "textureMgr: loadTexture(%.64s...) - name too long, using the default texture\n", name);
        loadTexture("default.png", callback, user, arg);
        return;
    }
    auto* node = static_cast<callbackNode*>(roalloc(sizeof(callbackNode)));
    *node = callbackNode{nullptr, callback, user, arg};
    textureRecord* created;
    {
        std::lock_guard<util::mutex> guard(*state.tableLock);
        if (auto* found = static_cast<textureRecord*>(strdb_fetch(state.name2Tex, path, uint32_t(length)))) {
            found->refCnt.fetch_add(1);
            if (found->tail)
                found->tail->next = node;
            else
                found->head = node;
            found->tail = node;
            if (found->pending.load() == 0) {
                found->pending.store(1);
                texTaskAdd(TASK_PROCESS_CALLBACKLIST, found, nullptr, 0);
            }
            return;
        }
        created = newRecord(path, uint32_t(length), node);
        strdb_insert(state.name2Tex, created->name, uint32_t(length), created);
    }
    if (state.cachingDisabled)
        startFileLoad(created);
    else
        texTaskAdd(TASK_TRYREAD_TEXTURECACHE, created, nullptr, 0);
}

void loadDefaultTexture()
{
    loadTexture("default.png", cb_DefaultTextureLoaded, nullptr, nullptr);
    awaitDefaultTexture(DEFAULT_TEXTURE_WAIT_MS);
}

void awaitDefaultTexture(uint32_t milliseconds)
{
    const int32_t start = getTimeMs();
    std::lock_guard<util::mutex> guard(state.defaultLock);
    while (!state.defaultTexture.load()) {
        const int32_t left = int32_t(milliseconds) - msSince(start);
        if (orderedAsyncStartupMgr::shuttingDown())
            return;
        if (left <= 0)
            TAVRIX_FATAL("TextureMgr: Default Texture not loaded, while Texture loading fails\n");
        state.defaultArrived.wait(state.defaultLock, std::min(uint32_t(left), DEFAULT_WAIT_SLICE_MS));
    }
}

void cb_DefaultTextureLoaded(texture* tex, void*, void*)
{
    CLIENT_LOG(util::LOG_INFO, "textureMgr: Default Texture Loaded! (%ux%u)\n", tex->width, tex->height);
    std::lock_guard<util::mutex> guard(state.defaultLock);
    state.defaultTexture.store(tex);
    state.defaultArrived.broadcast();
}

texture* getDefaultTexture()
{
    texture* tex = state.defaultTexture.load();
    if (!tex)
        TAVRIX_FATAL("TextureMgr: Default Texture not loaded, while Texture loading fails\n");
    tex->refCnt.fetch_add(1);
    return tex;
}

bool IncreaseRefCnt(texture* tex)
{
    if (tex->refCnt.fetch_add(1) + 1 == 1) {
        CLIENT_LOG(util::LOG_ERROR, "textureMgr::IncreaseRefCnt() -> refCNT is 1 - forcing decrement / failed to increase refcnt, this should never happen!\n");
        tex->refCnt.fetch_sub(1);
        return false;
    }
    return true;
}

void releaseTexture(uint32_t glId)
{
    auto* tex = static_cast<textureRecord*>(db_fetchLocked(state.gl2Tex, glId));
    if (!tex) {
        CLIENT_LOG(util::LOG_WARN, "releaseTexture(%u) - unknown texture ID!\n", glId);
        return;
    }
    decreaseRefCntAndCheckRelease(tex);
}

void releaseTextureRecord(texture* tex) { decreaseRefCntAndCheckRelease(tex); }

bool processRawTexture(textureRecord* tex, const void* data, uint32_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    textureDecoder load = nullptr;
    if (size >= 8 && std::memcmp(bytes, PNG_SIGNATURE, 8) == 0)
        load = pngTexture::load;
    else if (size > 3 && std::memcmp(bytes, "DDS ", 4) == 0)
        load = ddsTexture::load;
    else if (size > 13 && bytes[0] == 'B' && bytes[1] == 'M')
        load = bmpTexture::load;
    else if (hasTgaExtension(tex->name))
        load = tgaTexture::load;

    void* pixels = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t glFormat = 0;
    uint32_t pixelBytes = 0;
    if (load)
        pixels = load(data, size, &width, &height, &glFormat, &pixelBytes);
    if (!pixels) {
        CLIENT_LOG(util::LOG_ERROR, "textureMgr: '%s' Unsupported Texture Format or File is Damaged.\n", tex->name);
        return false;
    }
    tex->pixels = pixels;
    tex->dataSize = pixelBytes;
    tex->glFormat = glFormat;
    tex->width = width;
    tex->height = height;
    return true;
}

bool cacheEntryUsable(const void* entry, uint32_t size, uint32_t* width, uint32_t* height)
{
    if (size < CACHE_TRAILER_SIZE)
        return false;
    const uint8_t* trailer = static_cast<const uint8_t*>(entry) + size - CACHE_TRAILER_SIZE;
    const uint32_t w = util::getU32(trailer + 2);
    const uint32_t h = util::getU32(trailer + 6);
    const uint32_t side = decoderMaxTextureSize.load(std::memory_order_relaxed);
    if (util::getU16(trailer) != CACHE_VERSION || util::getU32(trailer + 10) != GL_COMPRESSED_RGBA_S3TC_DXT5_EXT)
        return false;
    if (w < 1 || h < 1 || w > side || h > side)
        return false;
    const uint64_t blocks = uint64_t((w + 3) / 4) * ((h + 3) / 4);
    if (blocks * 16 != size - CACHE_TRAILER_SIZE)
        return false;
    *width = w;
    *height = h;
    return true;
}

uint32_t nextPow2(uint32_t x)
{
    if (x == 0)
        return 1;
    return uint32_t(std::pow(2.0, std::ceil(std::log(double(x)) / std::log(2.0))));
}

} // namespace tavrix::textureMgr
