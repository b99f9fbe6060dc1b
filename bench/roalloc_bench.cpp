// The tracking allocator against glibc's malloc, from one and from eight threads: each iteration takes a batch
// of blocks of mixed sizes and gives them back.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "bench/ratioreporter.h"
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

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    roalloc_init();
    tavrix::bench::ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    roalloc_final();
    for (const std::string threads : {"1", "8"})
        reporter.printTimeRatio("roalloc / malloc, " + threads + " thread(s)", "BM_roalloc/real_time/threads:" + threads,
                                "BM_malloc/real_time/threads:" + threads);
    benchmark::Shutdown();
    return 0;
}
