// Keyed-table lookups against std::unordered_map at 1k, 100k and 1M keys, with the time ratios.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/ratioreporter.h"
#include "platformlib/util/rbdb.h"

namespace {

std::vector<uint32_t> randomKeys(size_t count)
{
    std::mt19937 random(static_cast<uint32_t>(count));
    std::vector<uint32_t> keys(count);
    for (auto& k : keys)
        k = random();
    return keys;
}

std::vector<std::string> textKeys(size_t count)
{
    std::vector<std::string> keys(count);
    for (size_t i = 0; i < count; ++i)
        keys[i] = "data/textures/block" + std::to_string(i) + ".png";
    return keys;
}

// Lookups in a shuffled order, so that neither container profits from the insertion order.
template <typename Key>
std::vector<Key> probeOrder(const std::vector<Key>& keys)
{
    std::vector<Key> order(keys);
    std::shuffle(order.begin(), order.end(), std::mt19937(1));
    order.resize(std::min<size_t>(order.size(), 1 << 16));
    return order;
}

void intFetch_rbdb(benchmark::State& state)
{
    const auto keys = randomKeys(state.range(0));
    rbdb* table = db_create("bench", 1, 1, 512, nullptr, nullptr, nullptr);
    for (uint32_t k : keys)
        db_insertLocked(table, k, &table);
    const auto probes = probeOrder(keys);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(db_fetchLocked(table, probes[i]));
        i = (i + 1) % probes.size();
    }
    db_destroy(table);
}

void intFetch_unordered_map(benchmark::State& state)
{
    const auto keys = randomKeys(state.range(0));
    std::unordered_map<uint32_t, void*> map;
    for (uint32_t k : keys)
        map.emplace(k, &map);
    const auto probes = probeOrder(keys);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(map.find(probes[i])->second);
        i = (i + 1) % probes.size();
    }
}

void textFetch_strdb(benchmark::State& state)
{
    const auto keys = textKeys(state.range(0));
    rbdb* table = strdb_create("bench", 1, 1, 512, nullptr, nullptr, nullptr);
    for (const auto& k : keys)
        strdb_insert(table, k.c_str(), static_cast<uint32_t>(k.size()), &table);
    const auto probes = probeOrder(keys);
    size_t i = 0;
    for (auto _ : state) {
        const std::string& k = probes[i];
        benchmark::DoNotOptimize(strdb_fetch(table, k.c_str(), static_cast<uint32_t>(k.size())));
        i = (i + 1) % probes.size();
    }
    db_destroy(table);
}

// The string table is handed a C string, so the map is asked with one as well.
void textFetch_unordered_map(benchmark::State& state)
{
    const auto keys = textKeys(state.range(0));
    std::unordered_map<std::string, void*> map;
    for (const auto& k : keys)
        map.emplace(k, &map);
    const auto probes = probeOrder(keys);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(map.find(probes[i].c_str())->second);
        i = (i + 1) % probes.size();
    }
}

#define SIZES ->Arg(1000)->Arg(100000)->Arg(1000000)
BENCHMARK(intFetch_rbdb) SIZES;
BENCHMARK(intFetch_unordered_map) SIZES;
BENCHMARK(textFetch_strdb) SIZES;
BENCHMARK(textFetch_unordered_map) SIZES;

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    tavrix::bench::ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const char* const pairs[][2] = {{"intFetch_rbdb", "intFetch_unordered_map"}, {"textFetch_strdb", "textFetch_unordered_map"}};
    for (const auto& [measured, alternative] : pairs)
        for (const std::string size : {"1000", "100000", "1000000"})
            reporter.printTimeRatio(measured + ("/" + size) + " / " + alternative, measured + ("/" + size),
                                    alternative + ("/" + size));
    benchmark::Shutdown();
    return 0;
}
