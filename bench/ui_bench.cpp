// The UI Worker's cycle with 1, 3 and 10 windows of 1280 x 1024, each repainted once a cycle (the copy of
// the view's surface on the worker, then the texture upload on the OpenGL thread), against the same
// copies and uploads done directly on one thread, and against the 16.7 ms of a 60 Hz frame; the drawn
// quads are not counted on either side, and each row shows its copy and its upload apart. Also the
// worker's copy alone, in bytes a second, against memcpy of the same size. Those rows run on the recording
// fake engine of the tests, whose views hand out a ready surface.
// Then what the client does with the engine library: windows on the loading page, each sent a progress
// statement as the screens send them, one task and one wake-up of the worker each, the engine's repaint of
// each page, the worker's copy and the upload; against the same engine calls and copies made in one task
// on the worker, then the same uploads. And a burst of twenty status texts to one window, as a content
// update sets one a file, against the same statements in one task with one update, copy and upload. A
// hidden window gives the OpenGL context.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
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
#include "platformlib/posix/dynlib.h"
#include "platformlib/util/exception.h"
#include "ui/fakeengine.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

namespace {

constexpr int32_t WIDTH = 1280;
constexpr int32_t HEIGHT = 1024;
constexpr size_t IMAGE_BYTES = size_t(WIDTH) * HEIGHT * 4;
constexpr double FRAME_SECONDS = 1.0 / 60.0;

std::vector<tavrix::uiWindow*> windows;

// The engine the UI runs on: the recording fake or the library, which paints its pages.
enum class engineKind { fake, library };
engineKind running = engineKind::fake;
tavrix::sys::dynLib* engineLibrary = nullptr;

eawebkit::Instance* createLibraryEngine()
{
    try {
        engineLibrary = new tavrix::sys::dynLib(TAVRIX_ENGINE_LIBRARY);
    } catch (tavrix::util::Exception* e) {
        std::fprintf(stderr, "%s\n", e->getMessage());
        delete e;
        return nullptr;
    }
    auto create = reinterpret_cast<eawebkit::Instance* (*)()>(engineLibrary->getProcAddress("CreateEAWebkitInstance"));
    return create ? create() : nullptr;
}

// Seconds since `from`, added to `total`; the time now.
std::chrono::steady_clock::time_point addSince(std::chrono::steady_clock::time_point from, double* total)
{
    const auto now = std::chrono::steady_clock::now();
    *total += std::chrono::duration<double>(now - from).count();
    return now;
}

void setPhaseCounters(benchmark::State& state, double copySeconds, double uploadSeconds)
{
    const double iterations = double(state.iterations());
    state.counters["copyMs"] = copySeconds * 1000 / iterations;
    state.counters["uploadMs"] = uploadSeconds * 1000 / iterations;
}

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

// Windows beyond `count` stay hidden from the cycle: only the first `count` are listed. On the library
// they show the loading page.
void useWindows(size_t count)
{
    while (windows.size() > count) {
        tavrix::ui::destroyWindow(windows.back());
        windows.pop_back();
    }
    const char* page = running == engineKind::library ? "embed:loading.html" : nullptr;
    while (windows.size() < count) {
        tavrix::uiWindow* window = tavrix::ui::createWindow("bench", page, 0, 0, WIDTH, HEIGHT, false);
        tavrix::mainTaskQueue::run();
        while (window->initCount.load() != 3 || window->newPixels.load() != 1 || (page && !window->isLoaded()))
            std::this_thread::yield();
        windows.push_back(window);
    }
}

bool uiRunning = false;

// False, with the reason on stderr, when the UI cannot start on that engine.
bool startUI(engineKind kind)
{
    running = kind;
    tavrix::ui::setEngineFactory(kind == engineKind::fake ? tavrix::test::fakeEngine::create : createLibraryEngine);
    try {
        tavrix::ui::init();
    } catch (tavrix::util::Exception* e) {
        std::fprintf(stderr, "%s\n", e->getMessage());
        delete e;
        tavrix::ui::final();
        return false;
    }
    uiRunning = true;
    return true;
}

void stopUI()
{
    if (!uiRunning)
        return;
    useWindows(0);
    tavrix::ui::final();
    delete tavrix::test::fakeEngine::current;
    tavrix::test::fakeEngine::current = nullptr;
    uiRunning = false;
}

// The rows run in their order, so the UI changes its engine once.
bool useEngine(engineKind kind)
{
    if (running != kind) {
        stopUI();
        startUI(kind);
    }
    return uiRunning;
}

// The engine and the windows a row runs on; false, with the row skipped, when the engine did not start.
bool setUpRow(benchmark::State& state, engineKind kind, size_t windowCount)
{
    if (!useEngine(kind)) {
        state.SkipWithError(kind == engineKind::fake ? "the fake engine did not start" : "the engine library did not start");
        return false;
    }
    useWindows(windowCount);
    return true;
}

// The row's time as a share of a 60 Hz frame.
void printFrameShare(const tavrix::bench::ratioReporter& reporter, const std::string& label, const std::string& run)
{
    if (const tavrix::bench::runFigures* figures = reporter.find(run))
        std::printf("%-56s %-16s %8.2fx\n", (label + " / 60 Hz frame").c_str(), "time", figures->realSeconds / FRAME_SECONDS);
}

// The upload half of the draw; the quad itself is not the cycle's work.
void uploadWindows(size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        windows[i]->lock();
        windows[i]->prepareDraw();
        windows[i]->unlock();
    }
    glFinish();
}

std::vector<GLuint> makeTextures(size_t count)
{
    std::vector<GLuint> textures(count);
    glGenTextures(GLsizei(count), textures.data());
    for (GLuint texture : textures) {
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    }
    return textures;
}

void uploadCopies(const std::vector<GLuint>& textures, const std::vector<std::vector<uint8_t>>& copies)
{
    for (size_t i = 0; i < textures.size(); ++i) {
        glBindTexture(GL_TEXTURE_2D, textures[i]);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, WIDTH, HEIGHT, 0, GL_BGRA, GL_UNSIGNED_BYTE, copies[i].data());
    }
    glFinish();
}

void uiWorkerCycle(benchmark::State& state)
{
    const size_t count = size_t(state.range(0));
    if (!setUpRow(state, engineKind::fake, count))
        return;
    double copySeconds = 0;
    double uploadSeconds = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < count; ++i)
            windows[i]->newPixels.store(0);
        auto at = std::chrono::steady_clock::now();
        tavrix::ui::postTask(repaintAll, nullptr, nullptr);
        waitForCopies(count);
        at = addSince(at, &copySeconds);
        uploadWindows(count);
        addSince(at, &uploadSeconds);
    }
    setPhaseCounters(state, copySeconds, uploadSeconds);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(count * IMAGE_BYTES));
}

// The same copies and uploads on one thread: memcpy into a buffer, then the upload from it.
void directCopyAndUpload(benchmark::State& state)
{
    const size_t count = size_t(state.range(0));
    std::vector<std::vector<uint8_t>> sources(count, std::vector<uint8_t>(IMAGE_BYTES, 0x5A));
    std::vector<std::vector<uint8_t>> copies(count, std::vector<uint8_t>(IMAGE_BYTES));
    const std::vector<GLuint> textures = makeTextures(count);
    double copySeconds = 0;
    double uploadSeconds = 0;
    for (auto _ : state) {
        auto at = std::chrono::steady_clock::now();
        for (size_t i = 0; i < count; ++i)
            std::memcpy(copies[i].data(), sources[i].data(), IMAGE_BYTES);
        at = addSince(at, &copySeconds);
        uploadCopies(textures, copies);
        addSince(at, &uploadSeconds);
    }
    glDeleteTextures(GLsizei(count), textures.data());
    setPhaseCounters(state, copySeconds, uploadSeconds);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(count * IMAGE_BYTES));
}

// The worker's copy of one 1280 x 1024 surface, from the repaint to the new pixels.
void uiSurfaceCopy(benchmark::State& state)
{
    if (!setUpRow(state, engineKind::fake, 1))
        return;
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

// A progress width that changes every time, as a download's does.
void progressStatement(char (&statement)[96])
{
    static uint32_t percent = 0;
    percent = (percent + 37) % 101;
    std::snprintf(statement, sizeof(statement), "document.getElementById('progress').style.width ='%u%%';", percent);
}

void uiPageStatements(benchmark::State& state)
{
    const size_t count = size_t(state.range(0));
    if (!setUpRow(state, engineKind::library, count))
        return;
    double copySeconds = 0;
    double uploadSeconds = 0;
    for (auto _ : state) {
        char statement[96];
        progressStatement(statement);
        auto at = std::chrono::steady_clock::now();
        for (size_t i = 0; i < count; ++i) {
            windows[i]->newPixels.store(0);
            windows[i]->execJS(statement);
        }
        waitForCopies(count);
        at = addSince(at, &copySeconds);
        uploadWindows(count);
        addSince(at, &uploadSeconds);
    }
    setPhaseCounters(state, copySeconds, uploadSeconds);
}

// What one task on the worker does for every window in place of the client's statements and cycle.
struct directPass {
    const char* statement;
    std::vector<std::vector<uint8_t>>* copies;
    std::atomic<bool> done{false};
};

// The repaint is taken here, so the worker's own pass copies nothing.
void runDirectPass(void* pass, void*)
{
    auto* run = static_cast<directPass*>(pass);
    for (size_t i = 0; i < run->copies->size(); ++i) {
        eawebkit::View* view = windows[i]->view;
        view->EvaluateScript(run->statement);
        view->Update(0);
        windows[i]->setNeedsRepaint(false);
        eawebkit::Surface* surface = view->GetSurface();
        eawebkit::SurfaceDescriptor descriptor{};
        surface->Lock(&descriptor, nullptr);
        std::memcpy((*run->copies)[i].data(), descriptor.pixels, IMAGE_BYTES);
        surface->Unlock();
    }
    run->done.store(true);
}

void directPageStatements(benchmark::State& state)
{
    const size_t count = size_t(state.range(0));
    if (!setUpRow(state, engineKind::library, count))
        return;
    std::vector<std::vector<uint8_t>> copies(count, std::vector<uint8_t>(IMAGE_BYTES));
    const std::vector<GLuint> textures = makeTextures(count);
    double copySeconds = 0;
    double uploadSeconds = 0;
    for (auto _ : state) {
        char statement[96];
        progressStatement(statement);
        directPass pass{statement, &copies};
        auto at = std::chrono::steady_clock::now();
        tavrix::ui::postTask(runDirectPass, &pass, nullptr);
        while (!pass.done.load())
            std::this_thread::yield();
        at = addSince(at, &copySeconds);
        uploadCopies(textures, copies);
        addSince(at, &uploadSeconds);
    }
    glDeleteTextures(GLsizei(count), textures.data());
    setPhaseCounters(state, copySeconds, uploadSeconds);
}

constexpr int BURST = 20;

// A status text as the screens set one a file ("Downloading" and the file's number), every byte escaped.
std::string statusStatement(int file)
{
    std::string statement = "document.getElementById('status').innerHTML = \"";
    char escaped[8];
    for (unsigned char byte : "Downloading file " + std::to_string(file)) {
        std::snprintf(escaped, sizeof(escaped), "\\x%02x", byte);
        statement += escaped;
    }
    return statement + "\";";
}

// After the burst's statements on the worker: the next pass copies the page as they left it, whether or
// not an earlier cycle painted it already.
void markBurstEnd(void* ended, void* window)
{
    static_cast<tavrix::uiWindow*>(window)->newPixels.store(0);
    static_cast<tavrix::uiWindow*>(window)->setNeedsRepaint(true);
    static_cast<std::atomic<bool>*>(ended)->store(true);
}

// Twenty status texts sent to one window back to back, each its own task and wake-up, until the image
// after the last is uploaded.
void uiStatementBurst(benchmark::State& state)
{
    if (!setUpRow(state, engineKind::library, 1))
        return;
    int file = 0;
    for (auto _ : state) {
        std::atomic<bool> ended{false};
        for (int i = 0; i < BURST; ++i)
            windows[0]->execJS(statusStatement(++file).c_str());
        tavrix::ui::postTask(markBurstEnd, &ended, windows[0]);
        while (!ended.load() || windows[0]->newPixels.load() != 1)
            std::this_thread::yield();
        uploadWindows(1);
    }
}

struct directBurst {
    std::vector<std::string> statements;
    std::vector<uint8_t>* copy;
    std::atomic<bool> done{false};
};

void runDirectBurst(void* burst, void*)
{
    auto* run = static_cast<directBurst*>(burst);
    eawebkit::View* view = windows[0]->view;
    for (const std::string& statement : run->statements)
        view->EvaluateScript(statement.c_str());
    view->Update(0);
    windows[0]->setNeedsRepaint(false);
    eawebkit::Surface* surface = view->GetSurface();
    eawebkit::SurfaceDescriptor descriptor{};
    surface->Lock(&descriptor, nullptr);
    std::memcpy(run->copy->data(), descriptor.pixels, IMAGE_BYTES);
    surface->Unlock();
    run->done.store(true);
}

// The same statements in one task, then one update, one copy and one upload.
void directStatementBurst(benchmark::State& state)
{
    if (!setUpRow(state, engineKind::library, 1))
        return;
    std::vector<std::vector<uint8_t>> copies(1, std::vector<uint8_t>(IMAGE_BYTES));
    const std::vector<GLuint> textures = makeTextures(1);
    int file = 0;
    for (auto _ : state) {
        directBurst burst{{}, &copies[0]};
        for (int i = 0; i < BURST; ++i)
            burst.statements.push_back(statusStatement(++file));
        tavrix::ui::postTask(runDirectBurst, &burst, nullptr);
        while (!burst.done.load())
            std::this_thread::yield();
        uploadCopies(textures, copies);
    }
    glDeleteTextures(GLsizei(1), textures.data());
}

BENCHMARK(uiWorkerCycle)->Arg(1)->Arg(3)->Arg(10)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(directCopyAndUpload)->Arg(1)->Arg(3)->Arg(10)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(uiSurfaceCopy)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(memcpySurface)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(uiPageStatements)->Arg(1)->Arg(3)->Arg(10)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(directPageStatements)->Arg(1)->Arg(3)->Arg(10)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(uiStatementBurst)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(directStatementBurst)->UseRealTime()->Unit(benchmark::kMillisecond);

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
    startUI(engineKind::fake);

    benchmark::Initialize(&argc, argv);
    tavrix::bench::ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const std::string count : {"1", "3", "10"}) {
        const std::string cycle = "uiWorkerCycle/" + count + "/real_time";
        reporter.printTimeRatio("uiWorkerCycle / directCopyAndUpload, " + count + " window(s)", cycle,
                                "directCopyAndUpload/" + count + "/real_time");
        printFrameShare(reporter, "uiWorkerCycle, " + count + " window(s)", cycle);
    }
    reporter.printCounterRatio("uiSurfaceCopy / memcpySurface", "uiSurfaceCopy/real_time", "memcpySurface/real_time", "bytes_per_second");
    for (const std::string count : {"1", "3", "10"}) {
        const std::string statements = "uiPageStatements/" + count + "/real_time";
        reporter.printTimeRatio("uiPageStatements / directPageStatements, " + count + " window(s)", statements,
                                "directPageStatements/" + count + "/real_time");
        printFrameShare(reporter, "uiPageStatements, " + count + " window(s)", statements);
    }

    reporter.printTimeRatio("uiStatementBurst / directStatementBurst", "uiStatementBurst/real_time", "directStatementBurst/real_time");
    printFrameShare(reporter, "uiStatementBurst", "uiStatementBurst/real_time");

    stopUI();
    tavrix::mainTaskQueue::final();
    delete engineLibrary;
    tavrix::vfs::final();
    timer_final();
    tavrix::cvar::final();
    roalloc_final();
    glfwDestroyWindow(window);
    std::filesystem::remove_all(dir);
    return 0;
}
