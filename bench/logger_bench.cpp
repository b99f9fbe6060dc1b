// Logger calls per second from 1 and 8 threads, against fprintf to a FILE with the same line format; and
// from one thread until the lines are in the file, with the worker's CPU time counted.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <ctime>
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

// The calls above time only the callers: the logger's worker formats the prefix and writes the file after
// them. Here an iteration is a batch of lines from one thread, timed until the last of them is in the file,
// and the process's CPU time over the same span counts the worker's share as well.
constexpr int BATCH = 100000;

template <class WRITE, class WRITTEN>
void timeUntilWritten(benchmark::State& state, WRITE write, WRITTEN written)
{
    double cpuSeconds = 0;
    int line = 0;
    for (auto _ : state) {
        const std::clock_t cpuStart = std::clock();
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < BATCH; ++i)
            write(++line);
        written();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        cpuSeconds += double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    }
    const double lines = double(state.iterations()) * BATCH;
    state.SetItemsProcessed(int64_t(lines));
    state.counters["lines_per_cpu_second"] = cpuSeconds > 0 ? lines / cpuSeconds : 0;
}

void BM_loggerWritten(benchmark::State& state)
{
    benchLogger log;
    log.addLogFile(tmpPath("logger_written").c_str(), 0xFFFF);
    timeUntilWritten(
        state,
        [&log](int i) { log.logEx(tavrix::util::LOG_INFO, __FILE__, __LINE__, "BM_loggerWritten", "line %d of thread %d: %s\n", i, 0, "some text"); },
        [&log] { log.flush(60000); });
    std::remove(tmpPath("logger_written").c_str());
}

void BM_fprintfWritten(benchmark::State& state)
{
    FILE* file = std::fopen(tmpPath("fprintf_written").c_str(), "w");
    timeUntilWritten(
        state,
        [file](int i) {
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            std::fprintf(file, "[%0.5f] %-9s line %d of thread %d: %s\n",
                         double(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()) / 1000.0, "(INFO)", i, 0,
                         "some text");
        },
        [file] { std::fflush(file); });
    std::fclose(file);
    std::remove(tmpPath("fprintf_written").c_str());
}

// A run is a few tens of milliseconds: the median of several stands for it on a busy machine.
constexpr int REPETITIONS = 7;
BENCHMARK(BM_logger)->Iterations(ITERATIONS)->Threads(1)->Threads(8)->UseRealTime()->Repetitions(REPETITIONS);
BENCHMARK(BM_fprintf)->Iterations(ITERATIONS)->Threads(1)->Threads(8)->UseRealTime()->Repetitions(REPETITIONS);
constexpr int WRITTEN_ITERATIONS = 5;
BENCHMARK(BM_loggerWritten)->Iterations(WRITTEN_ITERATIONS)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(REPETITIONS);
BENCHMARK(BM_fprintfWritten)->Iterations(WRITTEN_ITERATIONS)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(REPETITIONS);

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
    const std::string written = "/iterations:" + std::to_string(WRITTEN_ITERATIONS) + "/repeats:" + std::to_string(REPETITIONS) + "/manual_time";
    for (const std::string counter : {"items_per_second", "lines_per_cpu_second"})
        reporter.printCounterRatio("logger / fprintf, 1 thread, until written", "BM_loggerWritten" + written,
                                   "BM_fprintfWritten" + written, counter);
    benchmark::Shutdown();
    return 0;
}
