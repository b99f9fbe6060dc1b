// The texture manager with a real OpenGL context under Xvfb: sharing, callbacks, the compressed cache,
// the settings, releases and the default-texture fallback; and its decoder choice without OpenGL.
#include <gtest/gtest.h>

#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/cvar.h"
#include "client/orderedasyncstartupmgr.h"
#include "client/timer.h"
#include "client/vfs.h"
#include "platformlib/util/littleendian.h"
#include "client/texturemgrlocal.h"
#include "platformlib/posix/thread.h"
#include "render/imagetest.h"
#include "render/texturefixture.h"
#include "support/eventually.h"

namespace {

using namespace tavrix;
using namespace tavrix::test;
using textureMgr::texture;
using tavrix::test::eventually;

constexpr uint32_t DXT5 = GL_COMPRESSED_RGBA_S3TC_DXT5_EXT;

class textureMgrTest : public textureFixture {};

TEST_F(textureMgrTest, requestsBeforeTheLoadShareOneRecordAndEachCallbackRunsOnceInOrder)
{
    startTextures();
    loadDefault();
    addFile("data/textures/a.png", pngImage(64, 64, true));
    callRecorder calls;
    textureMgr::loadTexture("a.png", callRecorder::record, &calls, reinterpret_cast<void*>(1));
    textureMgr::loadTexture("a.png", callRecorder::record, &calls, reinterpret_cast<void*>(2));
    ASSERT_TRUE(drainUntil([&] { return calls.count() == 2; }));
    const auto first = calls.calls();
    EXPECT_EQ(first[0].tex, first[1].tex);
    EXPECT_EQ(first[0].arg, reinterpret_cast<void*>(1));
    EXPECT_EQ(first[1].arg, reinterpret_cast<void*>(2));
    texture* tex = first[0].tex;
    EXPECT_STREQ(tex->name, "data/textures/a.png");
    EXPECT_EQ(tex->width, 64u);
    EXPECT_EQ(tex->height, 64u);
    EXPECT_NE(tex->glId, 0u);
    EXPECT_TRUE(glIsTexture(tex->glId));
    EXPECT_EQ(levelParameter(tex->glId, GL_TEXTURE_INTERNAL_FORMAT), GLint(DXT5));
    ASSERT_TRUE(drainUntil([&] { return tex->refCnt.load() == 2; }));

    // A request after the load: only its own callback, through a new callback run.
    callRecorder later;
    EXPECT_EQ(load("a.png", later), tex);
    EXPECT_EQ(calls.count(), 2u);
    EXPECT_EQ(tex->refCnt.load(), 3);
    EXPECT_EQ(errors(), std::vector<std::string>{});
}

TEST_F(textureMgrTest, theFirstLoadWritesTheCacheEntryAndTheNextStartUploadsItWithoutTheFile)
{
    startTextures();
    loadDefault();
    addFile("data/textures/a.png", pngImage(64, 64, false));
    callRecorder calls;
    texture* tex = load("a.png", calls);
    ASSERT_NE(tex, nullptr);
    ASSERT_TRUE(drainUntil([&] { return dir.exists(cacheFile("data/textures/a.png").substr(2)); }));
    ASSERT_TRUE(drainUntil([&] { return tex->refCnt.load() == 1; }));

    uint32_t size = 0;
    auto* entry = static_cast<uint8_t*>(fsCache::get("data/textures/a.png", &size, textureMgr::MAX_CACHE_ENTRY_SIZE));
    ASSERT_NE(entry, nullptr);
    ASSERT_EQ(size, 4096u + 14u);
    const uint8_t* trailer = entry + 4096;
    EXPECT_EQ(util::getU16(trailer), 1u);
    EXPECT_EQ(util::getU32(trailer + 2), 64u);
    EXPECT_EQ(util::getU32(trailer + 6), 64u);
    EXPECT_EQ(util::getU32(trailer + 10), DXT5);
    rofree(entry);

    // The next start: the content store no longer has the files, so a decode would have failed.
    stop(CONTENT_STORE.name);
    start({CONTENT_STORE, FS_CACHE, MAIN_TASK_QUEUE});
    captured.clear();
    startTextures();
    callRecorder second;
    textureMgr::loadTexture("default.png", textureMgr::cb_DefaultTextureLoaded, nullptr, nullptr);
    texture* cached = load("a.png", second);
    ASSERT_NE(cached, nullptr);
    EXPECT_EQ(cached->width, 64u);
    EXPECT_EQ(cached->height, 64u);
    EXPECT_EQ(levelParameter(cached->glId, GL_TEXTURE_INTERNAL_FORMAT), GLint(DXT5));
    EXPECT_EQ(levelParameter(cached->glId, GL_TEXTURE_COMPRESSED_IMAGE_SIZE), 4096);
    EXPECT_TRUE(captured.contains("textureMgr: Default Texture Loaded! (64x64)\n"));
    EXPECT_EQ(errors(), std::vector<std::string>{});
}

TEST_F(textureMgrTest, disabledCompressionUploadsRgbaAndKeepsNoCache)
{
    cvar::set("textureMgr.disableCompression", 1);
    startTextures();
    EXPECT_TRUE(captured.contains("textureMgr: Texture Compression Disabled (forced by configuration)\n"));
    EXPECT_TRUE(captured.contains("textureMgr: Caching of Comrpessed Textures Disabled (forced by disabled Texture Compression)\n"));
    loadDefault();
    addFile("data/textures/a.png", pngImage(64, 64, true));
    addFile("data/textures/b.dds", ddsImage(8, 8));
    callRecorder calls;
    texture* tex = load("a.png", calls);
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(levelParameter(tex->glId, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA);
    // Data that comes compressed is uploaded as it is.
    texture* compressed = load("b.dds", calls);
    ASSERT_NE(compressed, nullptr);
    EXPECT_EQ(levelParameter(compressed->glId, GL_TEXTURE_INTERNAL_FORMAT), GLint(DXT5));
    EXPECT_EQ(levelParameter(compressed->glId, GL_TEXTURE_COMPRESSED_IMAGE_SIZE), 64);
    stopTextures();
    EXPECT_FALSE(dir.exists(cacheFile("data/textures/a.png").substr(2)));
    EXPECT_FALSE(dir.exists(cacheFile("data/textures/b.dds").substr(2)));
    EXPECT_FALSE(dir.exists(cacheFile("data/textures/default.png").substr(2)));
}

TEST_F(textureMgrTest, disabledCachingNeitherReadsNorWritesTheCache)
{
    // A valid entry for an 8 x 8 image: used, it would make the texture 8 x 8.
    std::string entry(64, '\0');
    entry += std::string{1, 0, 8, 0, 0, 0, 8, 0, 0, 0, char(0xF3), char(0x83), 0, 0};
    fsCache::put("data/textures/a.png", entry.data(), uint32_t(entry.size()), true);
    const std::string before = dir.read(cacheFile("data/textures/a.png").substr(2));
    cvar::set("textureMgr.disableTextureCaching", 1);
    startTextures();
    EXPECT_TRUE(captured.contains("textureMgr: Caching of Compressed Textures Disabled (forced by configuration)\n"));
    loadDefault();
    addFile("data/textures/a.png", pngImage(64, 64, true));
    callRecorder calls;
    texture* tex = load("a.png", calls);
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->width, 64u);
    EXPECT_EQ(levelParameter(tex->glId, GL_TEXTURE_INTERNAL_FORMAT), GLint(DXT5));
    stopTextures();
    EXPECT_EQ(dir.read(cacheFile("data/textures/a.png").substr(2)), before);
    EXPECT_FALSE(dir.exists(cacheFile("data/textures/default.png").substr(2)));
}

TEST_F(textureMgrTest, anisotropicSamplesAreSetOnEveryTexture)
{
    if (!GLEW_EXT_texture_filter_anisotropic)
        GTEST_SKIP() << "no anisotropic filtering";
    cvar::set("video.anisotropic_samples", 4.0);
    startTextures();
    EXPECT_TRUE(captured.contains("textureMgr: Anisotropic Samples: 4\n"));
    loadDefault();
    callRecorder calls;
    texture* tex = load("default.png", calls);
    GLfloat samples = 0;
    glBindTexture(GL_TEXTURE_2D, tex->glId);
    glGetTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, &samples);
    EXPECT_EQ(samples, 4.0f);
    GLint filter = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
    EXPECT_EQ(filter, GL_LINEAR);
}

TEST_F(textureMgrTest, theLastReleaseRemovesTheRecordAndDeletesTheTexture)
{
    startTextures();
    loadDefault();
    addFile("data/textures/a.png", pngImage(100, 64, true));
    callRecorder calls;
    texture* tex = load("a.png", calls);
    ASSERT_NE(tex, nullptr);
    EXPECT_TRUE(captured.contains("textureMgr: 'data/textures/a.png' 100x64 is non pow2 this may cause visual artifacts as well as result in degraded performance\n"));
    const GLuint id = tex->glId;
    ASSERT_TRUE(drainUntil([&] { return tex->refCnt.load() == 1; }));
    textureMgr::releaseTexture(id);
    ASSERT_TRUE(drainUntil([&] { return !glIsTexture(id); }));

    textureMgr::releaseTexture(id);
    EXPECT_TRUE(captured.contains("releaseTexture(" + std::to_string(id) + ") - unknown texture ID!\n"));
    // A new record, loaded again.
    callRecorder again;
    texture* reloaded = load("a.png", again);
    ASSERT_NE(reloaded, nullptr);
    EXPECT_TRUE(glIsTexture(reloaded->glId));
    EXPECT_EQ(reloaded->width, 100u);
}

// Both references go in the first callback, while the load still has callbacks to run.
void releaseTwice(texture* tex, void* user, void* arg)
{
    textureMgr::releaseTextureRecord(tex);
    textureMgr::releaseTextureRecord(tex);
    callRecorder::record(tex, user, arg);
}

void readWidth(texture* tex, void* user, void*)
{
    callRecorder::record(tex, user, reinterpret_cast<void*>(uintptr_t(tex->width)));
}

TEST_F(textureMgrTest, referencesReleasedBeforeTheCallbacksRanLeaveTheRecordToTheLoad)
{
    startTextures();
    loadDefault();
    addFile("data/textures/a.png", pngImage(32, 32, true));
    callRecorder calls;
    textureMgr::loadTexture("a.png", releaseTwice, &calls, nullptr);
    textureMgr::loadTexture("a.png", readWidth, &calls, nullptr);
    ASSERT_TRUE(drainUntil([&] { return calls.count() == 2; }));
    EXPECT_EQ(calls.calls()[1].arg, reinterpret_cast<void*>(32));
    const GLuint id = calls.calls()[0].tex->glId;
    ASSERT_TRUE(drainUntil([&] { return !glIsTexture(id); }));
}

// A callback of a later run after which the record's last reference goes, on another thread, while the
// run is still on the worker: the run must not touch the record after its last callback.
struct handOver {
    std::mutex lock;
    std::condition_variable changed;
    texture* tex = nullptr;
    bool released = false;
};

void waitForTheRelease(texture* tex, void* user, void*)
{
    auto* state = static_cast<handOver*>(user);
    std::unique_lock<std::mutex> guard(state->lock);
    state->tex = tex;
    state->changed.notify_all();
    state->changed.wait_for(guard, std::chrono::seconds(30), [&] { return state->released; });
}

TEST_F(textureMgrTest, theLastReferenceMayGoWhileTheLastCallbackReturns)
{
    startTextures();
    loadDefault();
    addFile("data/textures/a.png", pngImage(32, 32, true));
    callRecorder first;
    texture* tex = load("a.png", first);
    ASSERT_NE(tex, nullptr);
    ASSERT_TRUE(drainUntil([&] { return tex->refCnt.load() == 1; }));
    const GLuint id = tex->glId;

    handOver state;
    textureMgr::loadTexture("a.png", waitForTheRelease, &state, nullptr);
    {
        std::unique_lock<std::mutex> guard(state.lock);
        ASSERT_TRUE(state.changed.wait_for(guard, std::chrono::seconds(30), [&] { return state.tex != nullptr; }));
    }
    textureMgr::releaseTextureRecord(tex);
    textureMgr::releaseTextureRecord(tex);
    ASSERT_TRUE(drainUntil([&] { return !glIsTexture(id); }));
    // The record leaves the tracking allocator's quarantine for the heap.
    for (int i = 0; i < 64; ++i)
        rofree(roalloc(64 * 1024));
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.released = true;
        state.changed.notify_all();
    }
    stopTextures();
}

// The worker held in a callback past final's join: final lets it go and leaves it the records, the queue
// and the pool, so the callback's run ends on them; a second final, once the worker has ended, frees them.
TEST_F(textureMgrTest, aWorkerLeftBehindByFinalKeepsWhatItRunsOn)
{
    startTextures();
    loadDefault();
    addFile("data/textures/a.png", pngImage(32, 32, true));
    handOver held;
    textureMgr::loadTexture("a.png", waitForTheRelease, &held, nullptr);
    ASSERT_TRUE(drainUntil([&] {
        std::lock_guard<std::mutex> guard(held.lock);
        return held.tex != nullptr;
    }));
    stopTextures();
    EXPECT_TRUE(captured.contains("textureMgr::final() -> 0 loads still running - textures left in place\n"));
    EXPECT_FALSE(captured.contains("textureMgr::worker: terminating.\n"));
    {
        std::lock_guard<std::mutex> guard(held.lock);
        held.released = true;
        held.changed.notify_all();
    }
    ASSERT_TRUE(eventually([&] { return captured.contains("textureMgr::worker: terminating.\n"); }));
    EXPECT_STREQ(held.tex->name, "data/textures/a.png");
    const GLuint id = held.tex->glId;
    textureMgr::releaseTextureRecord(held.tex);
    ASSERT_TRUE(drainUntil([&] { return !glIsTexture(id); }));
    textureMgr::final();
    EXPECT_TRUE(captured.contains("Texture(data/textures/default.png) still referenced 1 times - foreced unloading\n"));
}

TEST_F(textureMgrTest, aTextureThatCannotBeLoadedAfterTheDefaultGetsTheDefault)
{
    startTextures();
    loadDefault();
    callRecorder defaults;
    texture* fallback = load("default.png", defaults);
    addFile("data/textures/broken.png", "not an image");
    for (const char* name : {"missing.png", "broken.png"}) {
        SCOPED_TRACE(name);
        callRecorder calls;
        for (int i = 0; i < 3; ++i)
            textureMgr::loadTexture(name, callRecorder::record, &calls, nullptr);
        ASSERT_TRUE(drainUntil([&] { return calls.count() == 3; }));
        // Later requests of it as well.
        EXPECT_EQ(load(name, calls), fallback);
        for (const textureCall& call : calls.calls())
            EXPECT_EQ(call.tex, fallback);
    }
    EXPECT_TRUE(captured.contains("textureMgr: 'data/textures/broken.png' Unsupported Texture Format or File is Damaged.\n"));
    EXPECT_TRUE(captured.contains("@TODO - fallback to default texture\n"));
    // The module's own, the fixture's request and eight fallbacks.
    EXPECT_EQ(fallback->refCnt.load(), 10);

    // The failed records went with their requests' references: once its file is there, the name loads.
    // The worker runs tasks in order, so this callback comes after the failed records' last run.
    load("default.png", defaults);
    addFile("data/textures/missing.png", pngImage(32, 32, true));
    callRecorder calls;
    texture* loaded = load("missing.png", calls);
    ASSERT_NE(loaded, fallback);
    EXPECT_EQ(loaded->width, 32u);
    ASSERT_TRUE(drainUntil([&] { return loaded->refCnt.load() == 1; }));
    textureMgr::releaseTextureRecord(loaded);
    stopTextures();
    EXPECT_FALSE(captured.contains("Texture(data/textures/missing.png) still referenced"));
    EXPECT_FALSE(captured.contains("Texture(data/textures/broken.png) still referenced"));
}

TEST_F(textureMgrTest, aNameTooLongForThePathGetsTheDefault)
{
    startTextures();
    loadDefault();
    callRecorder defaults;
    texture* fallback = load("default.png", defaults);
    const std::string name(241, 'n');
    callRecorder calls;
    EXPECT_EQ(load(name, calls), fallback);
    EXPECT_TRUE(captured.contains("textureMgr: loadTexture(" + name.substr(0, 64) + "...) - name too long, using the default texture\n"));
}

TEST_F(textureMgrTest, theStartUpStepWaitsForTheDefaultTexture)
{
    startTextures();
    addFile("data/textures/default.png", pngImage(64, 64, false));
    std::atomic<bool> returned{false};
    std::thread step([&] {
        textureMgr::loadDefaultTexture();
        returned = true;
    });
    EXPECT_TRUE(drainUntil([&] { return returned.load(); }));
    step.join();
    texture* fallback = textureMgr::getDefaultTexture();
    EXPECT_EQ(fallback->width, 64u);
    textureMgr::releaseTextureRecord(fallback);

    stopTextures();
    startTextures();
    EXPECT_EQ(thrownMessage([] { textureMgr::awaitDefaultTexture(50); }, true),
              "TextureMgr: Default Texture not loaded, while Texture loading fails\n");
}

// The shutdown begins while the start-up step waits for "default.png", or before the step begins, and the
// file is not there: the step ends, and the failed load is no fatal report.
TEST_F(textureMgrTest, aShutdownAroundTheDefaultTextureWaitEndsItWithoutAFatalReport)
{
    struct startupReset {
        ~startupReset() { orderedAsyncStartupMgr::init(); }
    } reset;
    for (const bool underWay : {false, true}) {
        SCOPED_TRACE(underWay ? "wait under way" : "wait about to start");
        orderedAsyncStartupMgr::init();
        startTextures();
        handOver held;
        if (underWay) {
            // The worker is held in a callback, so the default's cache read, and with it the failing
            // load, waits until the shutdown has begun.
            addFile("data/textures/a.png", pngImage(32, 32, true));
            textureMgr::loadTexture("a.png", waitForTheRelease, &held, nullptr);
            ASSERT_TRUE(drainUntil([&] {
                std::lock_guard<std::mutex> guard(held.lock);
                return held.tex != nullptr;
            }));
        } else {
            orderedAsyncStartupMgr::cleanup();
        }
        std::thread step(textureMgr::loadDefaultTexture);
        if (underWay)
            orderedAsyncStartupMgr::cleanup();
        step.join();
        {
            std::lock_guard<std::mutex> guard(held.lock);
            held.released = true;
            held.changed.notify_all();
        }
        EXPECT_TRUE(drainUntil([&] { return captured.contains("textureMgr: 'data/textures/default.png' not loaded - the client is shutting down\n"); }));
        if (held.tex)
            textureMgr::releaseTextureRecord(held.tex);
        stopTextures();
    }
}

TEST_F(textureMgrTest, finalWaitsForLoadsStillOnTheContentStore)
{
    startTextures();
    loadDefault();
    callRecorder calls;
    for (int i = 0; i < 8; ++i) {
        addFile("data/textures/t" + std::to_string(i) + ".png", pngImage(256, 256, true));
        textureMgr::loadTexture(("t" + std::to_string(i) + ".png").c_str(), callRecorder::record, &calls, nullptr);
    }
    stopTextures();
    EXPECT_TRUE(captured.contains("Texture(data/textures/default.png) still referenced 1 times - foreced unloading\n"));
}

// The client's render thread: the main task queue with the context current, for as long as a fatal report
// may take to end the process.
uint32_t renderFrames(util::thread* self)
{
    glfwMakeContextCurrent(static_cast<GLFWwindow*>(self->getArg()));
    const int32_t start = getTimeMs();
    while (msSince(start) < 60000) {
        mainTaskQueue::run();
        sys::sleepMs(1);
    }
    return 0;
}

// One column wider than the driver takes: the decoder lets it through, the driver refuses the upload.
TEST_F(textureMgrTest, anUploadTheDriverRefusesEndsTheProcessWithItsReport)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            GLint largest = 0;
            glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
            const textureSizeLimit decodable(uint32_t(largest) + 1);
            startTextures();
            addFile("data/textures/wide.png", pngImage(uint32_t(largest) + 1, 1, true));
            glfwMakeContextCurrent(nullptr);
            util::thread render("RenderThread", renderFrames, window);
            textureMgr::loadTexture("wide.png", callRecorder::record, nullptr, nullptr);
            render.join(120000);
            _exit(0);
        },
        testing::ExitedWithCode(1), "Detail:\nTexture Uplading Failed\nOut of Video Memory\\?\n\n");
}

// The cache's entries under a texture's path: an entry is taken only when its trailer and data agree.
struct cacheCase {
    const char* name;
    uint16_t version;
    uint32_t width;
    uint32_t height;
    uint32_t format;
    uint32_t dataBytes;
    bool usable;
};

std::string cacheEntry(const cacheCase& c)
{
    std::string entry(c.dataBytes, '\x55');
    uint8_t trailer[14];
    util::putU16(trailer, c.version);
    util::putU32(trailer + 2, c.width);
    util::putU32(trailer + 6, c.height);
    util::putU32(trailer + 10, c.format);
    return entry + std::string(reinterpret_cast<char*>(trailer), 14);
}

const cacheCase CACHE_CASES[] = {
    {"valid8x8", 1, 8, 8, DXT5, 64, true},
    {"valid5x3RoundsUpToBlocks", 1, 5, 3, DXT5, 32, true},
    {"otherVersion", 2, 8, 8, DXT5, 64, false},
    {"dxt1Format", 1, 8, 8, 0x83F1, 64, false},
    {"zeroWidth", 1, 0, 8, DXT5, 0, false},
    {"zeroHeight", 1, 8, 0, DXT5, 0, false},
    {"widerThanTheMaximum", 1, 32768, 4, DXT5, 8192 * 16, false},
    {"dataTooShort", 1, 8, 8, DXT5, 48, false},
    {"dataTooLong", 1, 8, 8, DXT5, 80, false},
};

TEST(textureCacheEntry, isUsableOnlyWhenTrailerAndDataAgree)
{
    for (const cacheCase& c : CACHE_CASES) {
        SCOPED_TRACE(c.name);
        const std::string entry = cacheEntry(c);
        uint32_t width = 0;
        uint32_t height = 0;
        EXPECT_EQ(textureMgr::cacheEntryUsable(entry.data(), uint32_t(entry.size()), &width, &height), c.usable);
        if (c.usable) {
            EXPECT_EQ(width, c.width);
            EXPECT_EQ(height, c.height);
        }
    }
    uint32_t width = 0;
    uint32_t height = 0;
    EXPECT_FALSE(textureMgr::cacheEntryUsable("\x01\x00\x08", 13, &width, &height));
}

TEST_F(textureMgrTest, aStaleCacheEntryIsDroppedForTheFile)
{
    startTextures();
    loadDefault();
    addFile("data/textures/a.png", pngImage(64, 64, false));
    for (const cacheCase& c : {CACHE_CASES[0], CACHE_CASES[2], CACHE_CASES[3], CACHE_CASES[7]}) {
        SCOPED_TRACE(c.name);
        const std::string entry = cacheEntry(c);
        fsCache::put("data/textures/a.png", entry.data(), uint32_t(entry.size()), true);
        callRecorder calls;
        texture* tex = load("a.png", calls);
        ASSERT_NE(tex, nullptr);
        EXPECT_EQ(tex->width, c.usable ? 8u : 64u);
        EXPECT_EQ(levelParameter(tex->glId, GL_TEXTURE_INTERNAL_FORMAT), GLint(DXT5));
        ASSERT_TRUE(drainUntil([&] { return tex->refCnt.load() == 1; }));
        const GLuint id = tex->glId;
        textureMgr::releaseTexture(id);
        ASSERT_TRUE(drainUntil([&] { return !glIsTexture(id); }));
    }
    EXPECT_EQ(errors(), std::vector<std::string>{});
}

TEST_F(textureMgrTest, aCacheEntryLargerThanAnyTextureIsDroppedUnreadForTheFile)
{
    startTextures();
    loadDefault();
    addFile("data/textures/a.png", pngImage(64, 64, false));
    const std::string entry = cacheEntry(CACHE_CASES[0]);
    fsCache::put("data/textures/a.png", entry.data(), uint32_t(entry.size()), true);
    // A sparse file as long as its header claims (1 GiB): only the bound keeps it from being read.
    const std::string path = cacheFile("data/textures/a.png").substr(2);
    std::string head = dir.read(path).substr(0, 40);
    const uint32_t claimed = 1u << 30;
    util::putU32(reinterpret_cast<uint8_t*>(head.data()) + 12, claimed);
    dir.write(path, head);
    std::filesystem::resize_file(path, 40 + uint64_t(claimed));

    callRecorder calls;
    texture* tex = load("a.png", calls);
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->width, 64u);
    EXPECT_EQ(errors(), std::vector<std::string>{});
}

// Without OpenGL: the texture manager in the content store, its worker and the main task queue only.
class textureMgrNoGL : public allocFixture {};

TEST_F(textureMgrNoGL, aTextureMissingBeforeTheDefaultEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            cvar::init();
            timer_init();
            vfs::init();
            mainTaskQueue::init();
            textureMgr::init();
            textureMgr::loadTexture("missing.png", callRecorder::record, nullptr, nullptr);
            sleep(30);
            _exit(0);
        },
        testing::ExitedWithCode(1), "TextureMgr: Default Texture not loaded, while Texture loading fails\n");
}

struct decoderCase {
    const char* name;
    const char* path;
    std::string file;
    bool decoded;
    uint32_t glFormat;
};

TEST_F(textureMgrNoGL, theDecoderIsChosenByTheFirstBytesOrTheExtension)
{
    const std::string tga = tgaImage(2, 2);
    const std::string dds = ddsImage(4, 4);
    std::string bmp(54 + 4, '\0');
    bmp[0] = 'B';
    bmp[1] = 'M';
    bmp[10] = 54;
    bmp[18] = 1;
    bmp[22] = 1;
    bmp[28] = 24;
    const std::vector<decoderCase> cases = {
        {"png", "data/textures/a.tga", pngImage(2, 2, false), true, GL_RGB},
        {"dds", "data/textures/a.png", dds, true, DXT5},
        {"bmp", "data/textures/a.png", bmp, true, GL_RGBA},
        {"tgaAnyCase", "data/textures/a.TgA", tga, true, GL_RGBA},
        {"tgaByExtensionOnly", "x.tga", tga, true, GL_RGBA},
        {"tgxUnsupported", "data/textures/a.tgx", tga, false, 0},
        {"tooShortForAnExtension", ".tga", tga, false, 0},
        {"pngSignatureCut", "data/textures/a.png", pngImage(2, 2, false).substr(0, 7), false, 0},
        {"bmpTooShort", "data/textures/a.png", bmp.substr(0, 13), false, 0},
    };
    for (const decoderCase& c : cases) {
        SCOPED_TRACE(c.name);
        captured.clear();
        std::vector<char> block(sizeof(textureMgr::textureRecord) + std::strlen(c.path) + 1);
        auto* tex = new (block.data()) textureMgr::textureRecord{};
        tex->name = block.data() + sizeof(textureMgr::textureRecord);
        std::strcpy(tex->name, c.path);
        EXPECT_EQ(textureMgr::processRawTexture(tex, c.file.data(), uint32_t(c.file.size())), c.decoded);
        EXPECT_EQ(tex->glFormat, c.glFormat);
        if (c.decoded) {
            EXPECT_NE(tex->pixels, nullptr);
            EXPECT_NE(tex->dataSize, 0u);
            EXPECT_EQ(tex->width, c.glFormat == DXT5 ? 4u : c.name == std::string("bmp") ? 1u : 2u);
            rofree(tex->pixels);
        } else {
            EXPECT_TRUE(captured.contains("textureMgr: '" + std::string(c.path) + "' Unsupported Texture Format or File is Damaged.\n"));
        }
        tex->~textureRecord();
    }
}

TEST(textureMgrPow2, nextPow2RoundsUp)
{
    const std::pair<uint32_t, uint32_t> cases[] = {{1, 1}, {2, 2}, {3, 4}, {64, 64}, {100, 128}, {16385, 32768}};
    for (const auto& [x, expected] : cases)
        EXPECT_EQ(textureMgr::nextPow2(x), expected) << x;
}

} // namespace
