// The UI Worker's cycle with 1, 3 and 10 windows of 1280 x 1024, each repainted once a cycle (the copy of
// the view's surface on the worker, then the texture upload on the OpenGL thread), against the same
// copies and uploads done directly on one thread, and against the 16.7 ms of a 60 Hz frame; the drawn
// quads are not counted on either side. Also the
// worker's copy alone, in bytes a second, against memcpy of the same size. The engine is the recording
// fake of the tests, whose views hand out a ready surface; a hidden window gives the OpenGL context.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "bench/glcontext.h"
#include "bench/ratioreporter.h"
#include "client/cvar.h"
#include "client/maintaskqueue.h"
#include "client/timer.h"
#include "client/uilocal.h"
#include "client/uiwindow.h"
#include "client/vfs.h"
#include "client/windowing.h"
#include "platformlib/allocator/roalloc.h"
#include "ui/fakeengine.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

namespace {

constexpr int32_t WIDTH = 1280;
constexpr int32_t HEIGHT = 1024;
constexpr size_t IMAGE_BYTES = size_t(WIDTH) * HEIGHT * 4;
constexpr double FRAME_SECONDS = 1.0 / 60.0;

std::vector<tavrix::uiWindow*> windows;

// Every view has a new image, as the engine reports after a repaint: marked on the worker, which then
// copies them all in the same cycle.
void repaintAll(void*, void*)
{
    for (size_t i = 0;; ++i) {
        tavrix::test::fakeView* view = tavrix::test::fakeEngine::current->view(i);
        if (!view)
            break;
        view->dirty = true;
    }
}

void waitForCopies(size_t count)
{
    for (size_t i = 0; i < count; ++i)
        while (windows[i]->newPixels.load() != 1)
            std::this_thread::yield();
}

// Windows beyond `count` stay hidden from the cycle: only the first `count` are listed.
void useWindows(size_t count)
{
    while (windows.size() > count) {
        tavrix::ui::destroyWindow(windows.back());
        windows.pop_back();
    }
    while (windows.size() < count) {
        tavrix::uiWindow* window = tavrix::ui::createWindow("bench", nullptr, 0, 0, WIDTH, HEIGHT, false);
        tavrix::mainTaskQueue::run();
        while (window->initCount.load() != 3 || window->newPixels.load() != 1)
            std::this_thread::yield();
        windows.push_back(window);
    }
}

void uiWorkerCycle(benchmark::State& state)
{
    const size_t count = size_t(state.range(0));
    useWindows(count);
    for (auto _ : state) {
        for (size_t i = 0; i < count; ++i)
            windows[i]->newPixels.store(0);
        tavrix::ui::postTask(repaintAll, nullptr, nullptr);
        waitForCopies(count);
        // The upload half of the draw; the quad itself is not the cycle's work.
        for (size_t i = 0; i < count; ++i) {
            windows[i]->lock();
            windows[i]->prepareDraw();
            windows[i]->unlock();
        }
        glFinish();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(count * IMAGE_BYTES));
}

// The same copies and uploads on one thread: memcpy into a buffer, then the upload from it.
void directCopyAndUpload(benchmark::State& state)
{
    const size_t count = size_t(state.range(0));
    std::vector<std::vector<uint8_t>> sources(count, std::vector<uint8_t>(IMAGE_BYTES, 0x5A));
    std::vector<std::vector<uint8_t>> copies(count, std::vector<uint8_t>(IMAGE_BYTES));
    std::vector<GLuint> textures(count);
    glGenTextures(GLsizei(count), textures.data());
    for (GLuint texture : textures) {
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    }
    for (auto _ : state) {
        for (size_t i = 0; i < count; ++i)
            std::memcpy(copies[i].data(), sources[i].data(), IMAGE_BYTES);
        for (size_t i = 0; i < count; ++i) {
            glBindTexture(GL_TEXTURE_2D, textures[i]);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, WIDTH, HEIGHT, 0, GL_BGRA, GL_UNSIGNED_BYTE, copies[i].data());
        }
        glFinish();
    }
    glDeleteTextures(GLsizei(count), textures.data());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(count * IMAGE_BYTES));
}

// The worker's copy of one 1280 x 1024 surface, from the repaint to the new pixels.
void uiSurfaceCopy(benchmark::State& state)
{
    useWindows(1);
    for (auto _ : state) {
        windows[0]->newPixels.store(0);
        tavrix::ui::postTask(repaintAll, nullptr, nullptr);
        waitForCopies(1);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(IMAGE_BYTES));
}

void memcpySurface(benchmark::State& state)
{
    std::vector<uint8_t> source(IMAGE_BYTES, 0x5A);
    std::vector<uint8_t> copy(IMAGE_BYTES);
    for (auto _ : state) {
        std::memcpy(copy.data(), source.data(), IMAGE_BYTES);
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(IMAGE_BYTES));
}

BENCHMARK(uiWorkerCycle)->Arg(1)->Arg(3)->Arg(10)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(directCopyAndUpload)->Arg(1)->Arg(3)->Arg(10)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(uiSurfaceCopy)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(memcpySurface)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    char dir[] = "/tmp/tavrix-ui-bench-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0)
        return 1;
    GLFWwindow* window = tavrix::bench::openHiddenContext("ui bench");
    if (!window) {
        std::fprintf(stderr, "the UI benchmark needs a display with an OpenGL 2.1 context (run under xvfb-run)\n");
        return 1;
    }
    roalloc_init();
    tavrix::cvar::init();
    timer_init();
    tavrix::vfs::init();
    tavrix::mainTaskQueue::init();
    tavrix::client::screenWidth = WIDTH;
    tavrix::client::screenHeight = HEIGHT;
    tavrix::ui::setEngineFactory(tavrix::test::fakeEngine::create);
    tavrix::ui::init();

    benchmark::Initialize(&argc, argv);
    tavrix::bench::ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const std::string count : {"1", "3", "10"}) {
        const std::string cycle = "uiWorkerCycle/" + count + "/real_time";
        reporter.printTimeRatio("uiWorkerCycle / directCopyAndUpload, " + count + " window(s)", cycle,
                                "directCopyAndUpload/" + count + "/real_time");
        if (const tavrix::bench::runFigures* figures = reporter.find(cycle))
            std::printf("%-56s %-16s %8.2fx\n", ("uiWorkerCycle / 60 Hz frame, " + count + " window(s)").c_str(), "time",
                        figures->realSeconds / FRAME_SECONDS);
    }
    reporter.printCounterRatio("uiSurfaceCopy / memcpySurface", "uiSurfaceCopy/real_time", "memcpySurface/real_time", "bytes_per_second");

    useWindows(0);
    tavrix::ui::final();
    tavrix::mainTaskQueue::final();
    delete tavrix::test::fakeEngine::current;
    tavrix::vfs::final();
    timer_final();
    tavrix::cvar::final();
    roalloc_final();
    glfwDestroyWindow(window);
    std::filesystem::remove_all(dir);
    return 0;
}
