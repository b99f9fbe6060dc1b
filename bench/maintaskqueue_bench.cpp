// One frame of the main task queue, 100k tasks queued and run, against a std::vector of the same calls
// under a std::mutex swapped out once per frame; from one thread and from four. Also the cost of a frame
// with nothing queued. Ratios are printed after the table.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "bench/ratioreporter.h"
#include "client/cvar.h"
#include "client/maintaskqueue.h"
#include "client/timer.h"
#include "platformlib/allocator/roalloc.h"

namespace {

constexpr int32_t TASKS = 100000;

int64_t checksum;
void sumTask(void*, int32_t a, int32_t b, int32_t c) { checksum += a + b + c; }

// The usual alternative: calls appended to a vector under a mutex, the vector swapped out per frame.
class stdQueue {
public:
    struct call {
        tavrix::mainTask fn;
        void* data;
        int32_t a;
        int32_t b;
        int32_t c;
    };
    void add(tavrix::mainTask fn, void* data, int32_t a, int32_t b, int32_t c)
    {
        std::lock_guard<std::mutex> guard(lock);
        queued.push_back({fn, data, a, b, c});
    }
    void run()
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (queued.empty())
                return;
            running.swap(queued);
        }
        for (const call& c : running)
            c.fn(c.data, c.a, c.b, c.c);
        running.clear();
    }

private:
    std::mutex lock;
    std::vector<call> queued;
    std::vector<call> running;
};
stdQueue* alternative;

// The frame's tasks come from `threads` threads, then the frame runs them.
template <class ADD, class RUN>
void frame(benchmark::State& state, ADD add, RUN run)
{
    const int threads = int(state.range(0));
    for (auto _ : state) {
        std::vector<std::thread> adders;
        for (int t = 1; t < threads; ++t)
            adders.emplace_back([&, t] {
                for (int32_t i = t; i < TASKS; i += threads)
                    add(i);
            });
        for (int32_t i = 0; i < TASKS; i += threads)
            add(i);
        for (auto& adder : adders)
            adder.join();
        run();
    }
    benchmark::DoNotOptimize(checksum);
    state.SetItemsProcessed(state.iterations() * TASKS);
}

void mainTaskQueueFrame(benchmark::State& state)
{
    frame(state, [](int32_t i) { tavrix::mainTaskQueue::add(sumTask, nullptr, i, 1, 2); }, [] { tavrix::mainTaskQueue::run(); });
}

void stdVectorFrame(benchmark::State& state)
{
    frame(state, [](int32_t i) { alternative->add(sumTask, nullptr, i, 1, 2); }, [] { alternative->run(); });
}

void mainTaskQueueEmptyFrame(benchmark::State& state)
{
    for (auto _ : state)
        tavrix::mainTaskQueue::run();
    state.SetItemsProcessed(state.iterations());
}

void stdVectorEmptyFrame(benchmark::State& state)
{
    for (auto _ : state)
        alternative->run();
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(mainTaskQueueFrame)->Arg(1)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(stdVectorFrame)->Arg(1)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(mainTaskQueueEmptyFrame);
BENCHMARK(stdVectorEmptyFrame);

} // namespace

int main(int argc, char** argv)
{
    char dir[] = "/tmp/tavrix-maintaskqueue-bench-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0)
        return 1;
    roalloc_init();
    tavrix::cvar::init();
    timer_init();
    // Room for a whole frame: growth of the pool is not what is measured.
    tavrix::cvar::set("mainTaskQueue.entry.initialAlloc", TASKS + 1024);
    tavrix::mainTaskQueue::init();
    alternative = new stdQueue;

    benchmark::Initialize(&argc, argv);
    tavrix::bench::ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const std::string threads : {"1", "4"})
        reporter.printCounterRatio("mainTaskQueueFrame / stdVectorFrame, " + threads + " thread(s)",
                                   "mainTaskQueueFrame/" + threads + "/real_time", "stdVectorFrame/" + threads + "/real_time",
                                   "items_per_second");
    reporter.printCounterRatio("mainTaskQueueEmptyFrame / stdVectorEmptyFrame", "mainTaskQueueEmptyFrame", "stdVectorEmptyFrame",
                               "items_per_second");

    delete alternative;
    tavrix::mainTaskQueue::final();
    timer_final();
    tavrix::cvar::final();
    roalloc_final();
    std::filesystem::remove_all(dir);
    return 0;
}
