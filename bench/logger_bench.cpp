// Logger calls per second from 1 and 8 threads, against fprintf to a FILE with the same line format.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "bench/ratioreporter.h"
#include "platformlib/util/logger.h"

namespace {

constexpr int ITERATIONS = 50000;

class benchLogger : public tavrix::util::logger {
public:
    int64_t getTime() override
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

std::string tmpPath(const char* what) { return "/tmp/tavrix_" + std::string(what) + ".log"; }

benchLogger* sharedLogger;
FILE* sharedFile;

void BM_logger(benchmark::State& state)
{
    if (state.thread_index() == 0) {
        sharedLogger = new benchLogger;
        sharedLogger->addLogFile(tmpPath("logger_bench").c_str(), 0xFFFF);
    }
    int i = 0;
    for (auto _ : state)
        sharedLogger->logEx(tavrix::util::LOG_INFO, __FILE__, __LINE__, "BM_logger", "line %d of thread %d: %s\n", ++i,
                            state.thread_index(), "some text");
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) {
        sharedLogger->flush(60000);
        delete sharedLogger;
        std::remove(tmpPath("logger_bench").c_str());
    }
}

void BM_fprintf(benchmark::State& state)
{
    if (state.thread_index() == 0)
        sharedFile = std::fopen(tmpPath("fprintf_bench").c_str(), "w");
    int i = 0;
    for (auto _ : state) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        std::fprintf(sharedFile, "[%0.5f] %-9s line %d of thread %d: %s\n",
                     double(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()) / 1000.0, "(INFO)", ++i,
                     state.thread_index(), "some text");
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) {
        std::fclose(sharedFile);
        std::remove(tmpPath("fprintf_bench").c_str());
    }
}

// A run is a few tens of milliseconds: the median of several stands for it on a busy machine.
constexpr int REPETITIONS = 7;
BENCHMARK(BM_logger)->Iterations(ITERATIONS)->Threads(1)->Threads(8)->UseRealTime()->Repetitions(REPETITIONS);
BENCHMARK(BM_fprintf)->Iterations(ITERATIONS)->Threads(1)->Threads(8)->UseRealTime()->Repetitions(REPETITIONS);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    tavrix::bench::ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::string iterations = "/iterations:" + std::to_string(ITERATIONS) + "/repeats:" + std::to_string(REPETITIONS);
    for (const std::string threads : {"1", "8"})
        reporter.printCounterRatio("logger / fprintf, " + threads + " thread(s)",
                                   "BM_logger" + iterations + "/real_time/threads:" + threads,
                                   "BM_fprintf" + iterations + "/real_time/threads:" + threads, "items_per_second");
    benchmark::Shutdown();
    return 0;
}
