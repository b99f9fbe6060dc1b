// Keyed-table lookups against std::unordered_map at 1k, 100k and 1M keys, with the time ratios. A table's
// lookup takes its reader lock, so the map is also timed behind the same lock: at 1k keys, where everything
// is in the cache, the lock is about half of a lookup.
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

template <typename Key, typename Lookup>
void timeLookups(benchmark::State& state, const std::vector<Key>& keys, Lookup lookup)
{
    const auto probes = probeOrder(keys);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(lookup(probes[i]));
        i = (i + 1) % probes.size();
    }
}

template <typename Key>
std::unordered_map<Key, void*> mapOf(const std::vector<Key>& keys)
{
    std::unordered_map<Key, void*> map;
    for (const Key& k : keys)
        map.emplace(k, &map);
    return map;
}

template <typename Lookup>
auto underReadLock(rwSpinLock& lock, Lookup lookup)
{
    return [&lock, lookup](const auto& key) {
        lock.lockRead();
        void* value = lookup(key);
        lock.unlockRead();
        return value;
    };
}

void intFetch_rbdb(benchmark::State& state)
{
    const auto keys = randomKeys(state.range(0));
    rbdb* table = db_create("bench", 1, 1, 512, nullptr, nullptr, nullptr);
    for (uint32_t k : keys)
        db_insertLocked(table, k, &table);
    timeLookups(state, keys, [table](uint32_t k) { return db_fetchLocked(table, k); });
    db_destroy(table);
}

void intFetch_unordered_map(benchmark::State& state)
{
    const auto keys = randomKeys(state.range(0));
    const auto map = mapOf(keys);
    timeLookups(state, keys, [&map](uint32_t k) { return map.find(k)->second; });
}

void intFetch_unordered_map_locked(benchmark::State& state)
{
    const auto keys = randomKeys(state.range(0));
    const auto map = mapOf(keys);
    rwSpinLock lock;
    timeLookups(state, keys, underReadLock(lock, [&map](uint32_t k) { return map.find(k)->second; }));
}

void textFetch_strdb(benchmark::State& state)
{
    const auto keys = textKeys(state.range(0));
    rbdb* table = strdb_create("bench", 1, 1, 512, nullptr, nullptr, nullptr);
    for (const auto& k : keys)
        strdb_insert(table, k.c_str(), static_cast<uint32_t>(k.size()), &table);
    timeLookups(state, keys, [table](const std::string& k) {
        return strdb_fetch(table, k.c_str(), static_cast<uint32_t>(k.size()));
    });
    db_destroy(table);
}

// The map is asked with the std::string it holds, the table with that string's text and length: neither
// builds a key for the lookup.
void textFetch_unordered_map(benchmark::State& state)
{
    const auto keys = textKeys(state.range(0));
    const auto map = mapOf(keys);
    timeLookups(state, keys, [&map](const std::string& k) { return map.find(k)->second; });
}

void textFetch_unordered_map_locked(benchmark::State& state)
{
    const auto keys = textKeys(state.range(0));
    const auto map = mapOf(keys);
    rwSpinLock lock;
    timeLookups(state, keys, underReadLock(lock, [&map](const std::string& k) { return map.find(k)->second; }));
}

#define SIZES ->Arg(1000)->Arg(100000)->Arg(1000000)
BENCHMARK(intFetch_rbdb) SIZES;
BENCHMARK(intFetch_unordered_map) SIZES;
BENCHMARK(intFetch_unordered_map_locked) SIZES;
BENCHMARK(textFetch_strdb) SIZES;
BENCHMARK(textFetch_unordered_map) SIZES;
BENCHMARK(textFetch_unordered_map_locked) SIZES;

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    tavrix::bench::ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const std::string kind : {"intFetch_", "textFetch_"}) {
        const std::string measured = kind + (kind == "intFetch_" ? "rbdb" : "strdb");
        for (const std::string alternative : {"unordered_map", "unordered_map_locked"})
            for (const std::string size : {"1000", "100000", "1000000"})
                reporter.printTimeRatio(measured + "/" + size + " / " + alternative, measured + "/" + size,
                                        kind + alternative + "/" + size);
    }
    benchmark::Shutdown();
    return 0;
}
