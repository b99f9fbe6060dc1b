// The tracking allocator against glibc's malloc, from one and from eight threads: each iteration takes a batch
// of blocks of mixed sizes and gives them back.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "platformlib/allocator/roalloc.h"

namespace {

constexpr int BATCH = 64;

uint32_t sizeOf(int i) { return uint32_t(16 + (i * 97) % 1000); }

void BM_roalloc(benchmark::State& state)
{
    void* blocks[BATCH];
    for (auto _ : state) {
        for (int i = 0; i < BATCH; ++i)
            blocks[i] = roalloc(sizeOf(i));
        benchmark::DoNotOptimize(blocks);
        for (int i = 0; i < BATCH; ++i)
            rofree(blocks[i]);
    }
    state.SetItemsProcessed(state.iterations() * BATCH);
}

void BM_malloc(benchmark::State& state)
{
    void* blocks[BATCH];
    for (auto _ : state) {
        for (int i = 0; i < BATCH; ++i)
            blocks[i] = std::malloc(sizeOf(i));
        benchmark::DoNotOptimize(blocks);
        for (int i = 0; i < BATCH; ++i)
            std::free(blocks[i]);
    }
    state.SetItemsProcessed(state.iterations() * BATCH);
}

BENCHMARK(BM_roalloc)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_malloc)->Threads(1)->Threads(8)->UseRealTime();

// Keeps each run's time so that the ratio can be printed at the end.
class ratioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    roalloc_init();
    ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    roalloc_final();
    for (const char* threads : {"1", "8"}) {
        const std::string suffix = std::string("/real_time/threads:") + threads;
        const auto ours = reporter.times.find("BM_roalloc" + suffix);
        const auto theirs = reporter.times.find("BM_malloc" + suffix);
        if (ours != reporter.times.end() && theirs != reporter.times.end())
            std::printf("roalloc/malloc time ratio, %s thread(s): %.2f\n", threads, ours->second / theirs->second);
    }
    benchmark::Shutdown();
    return 0;
}
