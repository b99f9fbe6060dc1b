// Input latency: from the windowing library's callback (Input::onCursorPos, Input::onMouseButton) to the
// engine event arriving at the view on the UI Worker, through the user interface's window search, pooled
// record and worker queue; against the usual hand-off of the same event to a thread, a std::deque behind a
// std::mutex with a std::condition_variable, whose consumer sends it to the same view. Each sample is one
// event from an idle start; median and 99th percentile in microseconds. The engine is the recording fake
// of the tests; a hidden window gives the OpenGL context and the callbacks' window.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "bench/glcontext.h"
#include "bench/ratioreporter.h"
#include "client/cvar.h"
#include "client/input.h"
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

constexpr int64_t SAMPLES = 20000;
// Between samples, so that each event finds the receiving thread waiting, as a user's input does.
constexpr std::chrono::microseconds PAUSE{200};
// The fake engine keeps every call; its lists are emptied this often, outside the measured time.
constexpr int64_t TRIM_EVERY = 1000;

GLFWwindow* mainWindow = nullptr;

tavrix::test::fakeEngine* engine() { return tavrix::test::fakeEngine::current; }
tavrix::test::fakeView* view() { return engine()->view(0); }

void trimRecords()
{
    tavrix::test::fakeView* target = view();
    std::lock_guard<std::mutex> guard(engine()->lock);
    engine()->calls.clear();
    engine()->threads.clear();
    target->inputs.clear();
}

// One event as the windowing library delivers it; even samples move the cursor, odd ones click.
enum eventKind { CURSOR, BUTTON };

struct sampler {
    std::vector<double> micros;

    void report(benchmark::State& state)
    {
        std::sort(micros.begin(), micros.end());
        if (micros.empty())
            return;
        state.counters["median_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    }
};

// Sends one event through `send` and waits until the view has it; the time between the two.
template <typename Send> void measure(benchmark::State& state, Send send)
{
    sampler samples;
    int64_t i = 0;
    for (auto _ : state) {
        const int64_t before = engine()->inputEvents.load();
        const auto start = std::chrono::steady_clock::now();
        send(i);
        while (engine()->inputEvents.load() == before) {
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        samples.micros.push_back(elapsed.count() * 1e6);
        if (++i % TRIM_EVERY == 0)
            trimRecords();
        std::this_thread::sleep_for(PAUSE);
    }
    samples.report(state);
}

void sendThroughInput(eventKind kind, int64_t i)
{
    if (kind == CURSOR)
        tavrix::Input::onCursorPos(mainWindow, 20.5 + double(i % 8), 30.25);
    else
        tavrix::Input::onMouseButton(mainWindow, 0, int(i % 2 == 0), 0);
}

void inputToView(benchmark::State& state)
{
    const eventKind kind = eventKind(state.range(0));
    measure(state, [kind](int64_t i) { sendThroughInput(kind, i); });
}

// The usual hand-off: the event by value into a locked deque, the consumer woken to send it.
class mutexQueue {
public:
    struct event {
        eventKind kind;
        int32_t x, y, action;
    };

    mutexQueue() : consumer([this] { run(); }) {}
    ~mutexQueue()
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        wake.notify_one();
        consumer.join();
    }
    void push(const event& e)
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            events.push_back(e);
        }
        wake.notify_one();
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> held(lock);
        for (;;) {
            wake.wait(held, [this] { return stopping || !events.empty(); });
            if (events.empty())
                return;
            const event e = events.front();
            events.pop_front();
            held.unlock();
            if (e.kind == CURSOR)
                view()->OnMouseMoveEvent({e.x, e.y, -1, -1, 0});
            else
                view()->OnMouseButtonEvent({eawebkit::kMouseLeft, e.x, e.y, -1, -1, 0, 1, e.action == 1});
            held.lock();
        }
    }

    std::mutex lock;
    std::condition_variable wake;
    std::deque<event> events;
    bool stopping = false;
    std::thread consumer;
};

void mutexQueueToView(benchmark::State& state)
{
    const eventKind kind = eventKind(state.range(0));
    mutexQueue queue;
    measure(state, [&queue, kind](int64_t i) {
        if (kind == CURSOR)
            queue.push({CURSOR, int32_t(20.5 + double(i % 8)) - 10, int32_t(30.25) - 20, 0});
        else
            queue.push({BUTTON, 10, 10, int32_t(i % 2 == 0)});
    });
}

BENCHMARK(inputToView)->Arg(CURSOR)->Arg(BUTTON)->Iterations(SAMPLES)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(mutexQueueToView)->Arg(CURSOR)->Arg(BUTTON)->Iterations(SAMPLES)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    char dir[] = "/tmp/tavrix-input-bench-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0)
        return 1;
    mainWindow = tavrix::bench::openHiddenContext("input bench");
    if (!mainWindow) {
        std::fprintf(stderr, "the input benchmark needs a display with an OpenGL 2.1 context (run under xvfb-run)\n");
        return 1;
    }
    roalloc_init();
    tavrix::cvar::init();
    timer_init();
    tavrix::vfs::init();
    tavrix::mainTaskQueue::init();
    tavrix::client::screenWidth = 640;
    tavrix::client::screenHeight = 480;
    tavrix::Input::init(mainWindow);
    tavrix::ui::setEngineFactory(tavrix::test::fakeEngine::create);
    tavrix::ui::init();
    // The target under the cursor, taking the mouse only (a click gives no focus).
    tavrix::uiWindow* target = tavrix::ui::createWindow("target", nullptr, 10, 20, 200, 100, false);
    tavrix::mainTaskQueue::run();
    while (target->initCount.load() != 3)
        std::this_thread::yield();
    tavrix::ui::setWindowInputMask(target, tavrix::ui::INPUT_MOUSE);
    // Clicks land where the last cursor event was.
    tavrix::Input::onCursorPos(mainWindow, 20.5, 30.25);
    while (engine()->inputEvents.load() == 0)
        std::this_thread::yield();

    benchmark::Initialize(&argc, argv);
    tavrix::bench::ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::string suffix = "/iterations:" + std::to_string(SAMPLES) + "/manual_time";
    for (const auto& [kind, name] : {std::pair{CURSOR, "cursor"}, std::pair{BUTTON, "button"}}) {
        const std::string arg = "/" + std::to_string(int(kind));
        for (const char* counter : {"median_us", "p99_us"})
            reporter.printCounterRatio(std::string("inputToView / mutexQueueToView, ") + name, "inputToView" + arg + suffix,
                                       "mutexQueueToView" + arg + suffix, counter);
    }

    tavrix::ui::destroyWindow(target);
    tavrix::ui::final();
    tavrix::Input::final();
    tavrix::mainTaskQueue::final();
    delete tavrix::test::fakeEngine::current;
    tavrix::vfs::final();
    timer_final();
    tavrix::cvar::final();
    roalloc_final();
    glfwDestroyWindow(mainWindow);
    std::filesystem::remove_all(dir);
    return 0;
}
