// Reading a setting: tavrix::cvar::getInt against a std::unordered_map under a std::mutex, from 1 and 8
// threads, with the time ratios.
#include <benchmark/benchmark.h>

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/ratioreporter.h"
#include "client/cvar.h"
#include "platformlib/allocator/roalloc.h"

namespace {

constexpr int KEY_COUNT = 200;

std::vector<std::string> keyNames()
{
    std::vector<std::string> names;
    for (int i = 0; i < KEY_COUNT; ++i)
        names.push_back("module" + std::to_string(i % 17) + ".setting" + std::to_string(i));
    return names;
}

const std::vector<std::string>& names()
{
    static const std::vector<std::string> all = keyNames();
    return all;
}

std::mutex mapLock;
std::unordered_map<std::string, int64_t> settings;

void getInt_cvar(benchmark::State& state)
{
    size_t i = size_t(state.thread_index()) * 7;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tavrix::cvar::getInt(names()[i].c_str()));
        i = (i + 1) % KEY_COUNT;
    }
}

void getInt_unordered_map(benchmark::State& state)
{
    size_t i = size_t(state.thread_index()) * 7;
    for (auto _ : state) {
        // As a caller with a C string would: the key becomes a std::string for the lookup.
        const char* name = names()[i].c_str();
        std::lock_guard<std::mutex> guard(mapLock);
        benchmark::DoNotOptimize(settings.find(name)->second);
        i = (i + 1) % KEY_COUNT;
    }
}

BENCHMARK(getInt_cvar)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(getInt_unordered_map)->Threads(1)->Threads(8)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    roalloc_init();
    tavrix::cvar::init();
    for (int i = 0; i < KEY_COUNT; ++i) {
        tavrix::cvar::initialize(names()[i].c_str(), i, 0);
        settings[names()[i]] = i;
    }
    benchmark::Initialize(&argc, argv);
    tavrix::bench::ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const std::string threads : {"threads:1", "threads:8"})
        reporter.printTimeRatio("getInt " + threads + ": cvar / unordered_map+mutex", "getInt_cvar/real_time/" + threads,
                                "getInt_unordered_map/real_time/" + threads);
    benchmark::Shutdown();
    tavrix::cvar::final();
    roalloc_final();
    return 0;
}
