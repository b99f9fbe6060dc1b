// Pool<T>::get/put against malloc/free and new/delete, and the 16-byte tagged stack against a pointer
// packed with its tag in 8 bytes; 1 and 8 threads. Ratios are printed after the table.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bench/ratioreporter.h"
#include "platformlib/allocator/lockfreestack.h"
#include "platformlib/allocator/pool.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/platform.h"

namespace {

struct element {
    int64_t words[4];
};
constexpr int BATCH = 16;

class nullTimers : public timerSystem {
public:
    int32_t timer_add(int32_t, callback, void*, void*) override { return 0; }
    int32_t add(int32_t, int32_t, callback, void*, void*) override { return 0; }
    void del(int32_t) override {}
};

Pool<element>* pool;

// Every iteration takes BATCH elements and gives them back.
void poolGetPut(benchmark::State& state)
{
    element* held[BATCH];
    for (auto _ : state) {
        for (auto& e : held)
            benchmark::DoNotOptimize(e = pool->get());
        for (auto* e : held)
            pool->put(e);
    }
    state.SetItemsProcessed(state.iterations() * BATCH);
}

void mallocFree(benchmark::State& state)
{
    void* held[BATCH];
    for (auto _ : state) {
        for (auto& e : held)
            benchmark::DoNotOptimize(e = std::malloc(sizeof(element)));
        for (auto* e : held)
            std::free(e);
    }
    state.SetItemsProcessed(state.iterations() * BATCH);
}

void newDelete(benchmark::State& state)
{
    element* held[BATCH];
    for (auto _ : state) {
        for (auto& e : held)
            benchmark::DoNotOptimize(e = new element);
        for (auto* e : held)
            delete e;
    }
    state.SetItemsProcessed(state.iterations() * BATCH);
}

// The alternative layout: an 8-byte-aligned 47-bit address shifted into the top 44 bits of one word, a
// 20-bit tag below it.
struct packedStack {
    uint64_t word;
};
constexpr uint64_t TAG_MASK = (1u << 20) - 1;

void packedPush(packedStack* stack, void* node)
{
    uint64_t seen = __atomic_load_n(&stack->word, __ATOMIC_ACQUIRE);
    uint64_t wanted;
    do {
        __atomic_store_n(static_cast<void**>(node), reinterpret_cast<void*>((seen >> 20) << 3), __ATOMIC_RELAXED);
        wanted = (reinterpret_cast<uint64_t>(node) >> 3) << 20 | ((seen + 1) & TAG_MASK);
    } while (!__atomic_compare_exchange_n(&stack->word, &seen, wanted, false, __ATOMIC_SEQ_CST, __ATOMIC_ACQUIRE) &&
             (__builtin_ia32_pause(), true));
}

void* packedPop(packedStack* stack)
{
    uint64_t seen = __atomic_load_n(&stack->word, __ATOMIC_ACQUIRE);
    void* head;
    uint64_t wanted;
    do {
        head = reinterpret_cast<void*>((seen >> 20) << 3);
        if (!head)
            return nullptr;
        void* next = __atomic_load_n(static_cast<void**>(head), __ATOMIC_RELAXED);
        wanted = (reinterpret_cast<uint64_t>(next) >> 3) << 20 | ((seen + 1) & TAG_MASK);
    } while (!__atomic_compare_exchange_n(&stack->word, &seen, wanted, false, __ATOMIC_SEQ_CST, __ATOMIC_ACQUIRE) &&
             (__builtin_ia32_pause(), true));
    return head;
}

struct alignas(16) stackNode {
    void* link;
    int64_t payload;
};
std::vector<stackNode> wideNodes(1024);
std::vector<stackNode> narrowNodes(1024);
tavrix::util::lockFreeStack wideStack;
packedStack narrowStack;

void stack16BytePopPush(benchmark::State& state)
{
    for (auto _ : state) {
        void* n = tavrix::util::lfStackPop(&wideStack);
        benchmark::DoNotOptimize(n);
        if (n)
            tavrix::util::lfStackPush(&wideStack, n);
    }
    state.SetItemsProcessed(state.iterations());
}

void stackPackedPopPush(benchmark::State& state)
{
    for (auto _ : state) {
        void* n = packedPop(&narrowStack);
        benchmark::DoNotOptimize(n);
        if (n)
            packedPush(&narrowStack, n);
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(poolGetPut)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(mallocFree)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(newDelete)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(stack16BytePopPush)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(stackPackedPopPush)->Threads(1)->Threads(8)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    roalloc_init();
    nullTimers timers;
    platform_setTimerSystem(&timers);
    // Room for 8 threads' batches from the start: no growth inside the measurement.
    pool = new Pool<element>("bench", 256, 1024, 0);
    tavrix::util::lfStackInit(&wideStack);
    for (auto& n : wideNodes)
        tavrix::util::lfStackPush(&wideStack, &n);
    for (auto& n : narrowNodes)
        packedPush(&narrowStack, &n);

    benchmark::Initialize(&argc, argv);
    tavrix::bench::ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const char* const pairs[][2] = {{"poolGetPut", "mallocFree"}, {"poolGetPut", "newDelete"}, {"stack16BytePopPush", "stackPackedPopPush"}};
    for (const std::string threads : {"1", "8"})
        for (const auto& [measured, alternative] : pairs)
            reporter.printCounterRatio(std::string(measured) + " / " + alternative + ", " + threads + " thread(s)",
                                       measured + ("/real_time/threads:" + threads), alternative + ("/real_time/threads:" + threads),
                                       "items_per_second");

    delete pool;
    platform_setTimerSystem(nullptr);
    roalloc_final();
    return 0;
}
