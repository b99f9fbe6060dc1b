// Reading a setting: tavrix::cvar::getInt against a std::unordered_map under a std::mutex, from 1 and 8
// threads, with the time ratios.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

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

class ratioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> nsPerOp;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const auto& run : runs)
            if (run.run_type == Run::RT_Iteration)
                nsPerOp[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

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
    ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* threads : {"threads:1", "threads:8"}) {
        const double ours = reporter.nsPerOp["getInt_cvar/real_time/" + std::string(threads)];
        const double theirs = reporter.nsPerOp["getInt_unordered_map/real_time/" + std::string(threads)];
        if (ours > 0 && theirs > 0)
            std::printf("getInt %s: cvar / unordered_map+mutex = %.2f\n", threads, ours / theirs);
    }
    benchmark::Shutdown();
    tavrix::cvar::final();
    roalloc_final();
    return 0;
}
