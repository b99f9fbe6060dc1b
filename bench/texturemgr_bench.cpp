// The texture manager under a real OpenGL context (run it under Xvfb): a first start of 500 textures of
// 64 x 64 (file, decode, driver DXT5 compression, cache write) against a cached start (cache read,
// compressed upload), each beside the same work done inline on the OpenGL thread without the manager;
// and requests for an already loaded name from 1 and 8 threads, beside a map under a mutex with a
// callback queue and worker of the standard library doing the same bookkeeping.
#include <GL/glew.h>
#include <GLFW/glfw3.h>
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "client/cvar.h"
#include "client/fscache.h"
#include "client/maintaskqueue.h"
#include "client/pngtexture.h"
#include "client/texturemgrlocal.h"
#include "client/timer.h"
#include "client/vfs.h"
#include "platformlib/allocator/roalloc.h"
#include "glcontext.h"
#include "ratioreporter.h"
#include "content/contentrecord.h"
#include "render/imagefiles.h"
#include "support/tempdir.h"

namespace {

using namespace tavrix;

constexpr int TEXTURES = 500;
constexpr int REQUESTS_PER_THREAD = 50000;

std::string nameOf(int i) { return "t" + std::to_string(i) + ".png"; }

uint32_t noise(uint32_t x, uint32_t y) { return (x * 2654435761u) ^ (y * 40503u) ^ 0xFF; }

std::atomic<int> arrived{0};

void runFrames(int expected)
{
    while (arrived.load() < expected) {
        mainTaskQueue::run();
        std::this_thread::yield();
    }
}

// One start of the manager: the default and every texture requested, until all have arrived. Returns the
// records, one reference each.
std::vector<textureMgr::texture*> startAndLoadAll()
{
    textureMgr::init();
    textureMgr::loadTexture("default.png", textureMgr::cb_DefaultTextureLoaded, nullptr, nullptr);
    arrived = 0;
    std::vector<textureMgr::texture*> records(TEXTURES);
    for (int i = 0; i < TEXTURES; ++i)
        textureMgr::loadTexture(nameOf(i).c_str(), [](textureMgr::texture* tex, void* user, void* arg) {
            static_cast<textureMgr::texture**>(user)[reinterpret_cast<intptr_t>(arg)] = tex;
            arrived.fetch_add(1);
        }, records.data(), reinterpret_cast<void*>(intptr_t(i)));
    runFrames(TEXTURES);
    return records;
}

void stopManager(const std::vector<textureMgr::texture*>& records)
{
    for (textureMgr::texture* tex : records)
        textureMgr::releaseTextureRecord(tex);
    mainTaskQueue::run();
    textureMgr::final();
}

void emptyCache()
{
    std::filesystem::remove_all("cache");
    fsCache::init();
}

void BM_managerFirstStart(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        emptyCache();
        state.ResumeTiming();
        auto records = startAndLoadAll();
        state.PauseTiming();
        stopManager(records);
        state.ResumeTiming();
    }
    state.counters["textures/s"] = benchmark::Counter(double(TEXTURES) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_managerCachedStart(benchmark::State& state)
{
    stopManager(startAndLoadAll());
    for (auto _ : state) {
        auto records = startAndLoadAll();
        state.PauseTiming();
        stopManager(records);
        state.ResumeTiming();
    }
    state.counters["textures/s"] = benchmark::Counter(double(TEXTURES) * double(state.iterations()), benchmark::Counter::kIsRate);
}

// The same work inline on the OpenGL thread: read, decode, compress, read back and store each texture.
void BM_inlineFirstStart(benchmark::State& state)
{
    std::vector<GLuint> ids(TEXTURES);
    for (auto _ : state) {
        state.PauseTiming();
        emptyCache();
        state.ResumeTiming();
        glGenTextures(TEXTURES, ids.data());
        for (int i = 0; i < TEXTURES; ++i) {
            const std::string path = "data/textures/" + nameOf(i);
            uint32_t size = 0;
            void* file = vfs::readFile(path.c_str(), &size);
            uint32_t width, height, format, bytes;
            void* pixels = pngTexture::load(file, size, &width, &height, &format, &bytes);
            vfs::releaseFile(file);
            glBindTexture(GL_TEXTURE_2D, ids[i]);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, GLsizei(width), GLsizei(height), 0, format, GL_UNSIGNED_BYTE, pixels);
            rofree(pixels);
            GLint compressed = 0;
            glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_COMPRESSED_IMAGE_SIZE, &compressed);
            std::vector<uint8_t> entry(size_t(compressed) + textureMgr::CACHE_TRAILER_SIZE);
            glGetCompressedTexImage(GL_TEXTURE_2D, 0, entry.data());
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            fsCache::put(path.c_str(), entry.data(), uint32_t(entry.size()), true);
        }
        state.PauseTiming();
        glDeleteTextures(TEXTURES, ids.data());
        state.ResumeTiming();
    }
    state.counters["textures/s"] = benchmark::Counter(double(TEXTURES) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_inlineCachedStart(benchmark::State& state)
{
    stopManager(startAndLoadAll());
    std::vector<GLuint> ids(TEXTURES);
    for (auto _ : state) {
        glGenTextures(TEXTURES, ids.data());
        for (int i = 0; i < TEXTURES; ++i) {
            const std::string path = "data/textures/" + nameOf(i);
            uint32_t size = 0;
            void* entry = fsCache::get(path.c_str(), &size, textureMgr::MAX_CACHE_ENTRY_SIZE);
            glBindTexture(GL_TEXTURE_2D, ids[i]);
            glCompressedTexImage2D(GL_TEXTURE_2D, 0, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 64, 64, 0, GLsizei(size - textureMgr::CACHE_TRAILER_SIZE), entry);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            rofree(entry);
        }
        state.PauseTiming();
        glDeleteTextures(TEXTURES, ids.data());
        state.ResumeTiming();
    }
    state.counters["textures/s"] = benchmark::Counter(double(TEXTURES) * double(state.iterations()), benchmark::Counter::kIsRate);
}

// Requests for a loaded name: each callback gives its reference back at once.
std::atomic<int64_t> released{0};
void releaseAtOnce(textureMgr::texture* tex, void*, void*)
{
    textureMgr::releaseTextureRecord(tex);
    released.fetch_add(1);
}

void BM_managerRequests(benchmark::State& state)
{
    if (state.thread_index() == 0)
        released = 0;
    for (auto _ : state)
        textureMgr::loadTexture("t0.png", releaseAtOnce, nullptr, nullptr);
    state.counters["requests/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    // Every callback runs before the next run starts.
    while (released.load() < int64_t(state.iterations()) * state.threads())
        std::this_thread::yield();
}

// The standard library's way: a map of shared records under a mutex, callbacks queued to a worker.
struct stdTexture {
    std::atomic<int32_t> refCnt{1};
};
struct stdRequest {
    std::shared_ptr<stdTexture> tex;
    void (*callback)(stdTexture*);
};
struct stdManager {
    std::mutex lock;
    std::unordered_map<std::string, std::shared_ptr<stdTexture>> byName;
    std::mutex queueLock;
    std::condition_variable wake;
    std::deque<stdRequest> queue;
    bool running = true;
    std::atomic<int64_t> done{0};
    std::thread worker{[this] {
        std::unique_lock<std::mutex> guard(queueLock);
        while (running || !queue.empty()) {
            if (queue.empty()) {
                wake.wait(guard);
                continue;
            }
            stdRequest request = std::move(queue.front());
            queue.pop_front();
            guard.unlock();
            request.callback(request.tex.get());
            done.fetch_add(1);
            guard.lock();
        }
    }};

    void load(const char* name, void (*callback)(stdTexture*))
    {
        char path[textureMgr::PATH_BUFFER_SIZE];
        std::snprintf(path, sizeof(path), "data/textures/%s", name);
        std::shared_ptr<stdTexture> tex;
        {
            std::lock_guard<std::mutex> guard(lock);
            auto& slot = byName[path];
            if (!slot)
                slot = std::make_shared<stdTexture>();
            tex = slot;
            tex->refCnt.fetch_add(1);
        }
        {
            std::lock_guard<std::mutex> guard(queueLock);
            queue.push_back({std::move(tex), callback});
        }
        wake.notify_one();
    }
    ~stdManager()
    {
        {
            std::lock_guard<std::mutex> guard(queueLock);
            running = false;
        }
        wake.notify_one();
        worker.join();
    }
};
stdManager* stdBaseline = nullptr;

void BM_stdRequests(benchmark::State& state)
{
    if (state.thread_index() == 0)
        stdBaseline->done = 0;
    for (auto _ : state)
        stdBaseline->load("t0.png", [](stdTexture* tex) { tex->refCnt.fetch_sub(1); });
    state.counters["requests/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    while (stdBaseline->done.load() < int64_t(state.iterations()) * state.threads())
        std::this_thread::yield();
}

BENCHMARK(BM_managerFirstStart)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_inlineFirstStart)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_managerCachedStart)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_inlineCachedStart)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_managerRequests)->Iterations(REQUESTS_PER_THREAD)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_stdRequests)->Iterations(REQUESTS_PER_THREAD)->Threads(1)->Threads(8)->UseRealTime();

bool openContext() { return tavrix::bench::openHiddenContext("texture bench") && GLEW_EXT_texture_compression_s3tc; }

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!openContext()) {
        std::fprintf(stderr, "needs a display with an OpenGL 2.1 context and S3TC (run under xvfb-run)\n");
        return 1;
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    tavrix::test::tempDir dir;
    roalloc_init();
    cvar::init();
    timer_init();
    vfs::init();
    fsCache::init();
    mainTaskQueue::init();
    tavrix::test::addContentFile(dir, "data/textures/default.png", tavrix::test::pngImage(64, 64, false));
    for (int i = 0; i < TEXTURES; ++i)
        tavrix::test::addContentFile(dir, "data/textures/" + nameOf(i), tavrix::test::pngImage(64, 64, true, noise));

    tavrix::bench::ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter, "Start");
    // The request benchmarks run against names already loaded.
    auto records = startAndLoadAll();
    stdBaseline = new stdManager;
    benchmark::RunSpecifiedBenchmarks(&reporter, "Requests");
    delete stdBaseline;
    stopManager(records);

    std::printf("\n");
    reporter.printTimeRatio("first start: manager / inline", "BM_managerFirstStart/iterations:5/real_time", "BM_inlineFirstStart/iterations:5/real_time");
    reporter.printTimeRatio("cached start: manager / inline", "BM_managerCachedStart/iterations:5/real_time", "BM_inlineCachedStart/iterations:5/real_time");
    reporter.printTimeRatio("manager: first start / cached start", "BM_managerFirstStart/iterations:5/real_time", "BM_managerCachedStart/iterations:5/real_time");
    for (const char* threads : {"1", "8"}) {
        const std::string suffix = "/iterations:" + std::to_string(REQUESTS_PER_THREAD) + "/real_time/threads:" + threads;
        reporter.printCounterRatio(std::string("requests, ") + threads + " threads: manager / std", "BM_managerRequests" + suffix, "BM_stdRequests" + suffix, "requests/s");
    }
    mainTaskQueue::final();
    fsCache::final();
    vfs::final();
    timer_final();
    cvar::final();
    roalloc_final();
    return 0;
}
