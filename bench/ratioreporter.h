// Console output that also keeps every run's figures, so that a benchmark can close with ratios of its
// measured runs against their alternatives.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace tavrix::bench {

// What one run measured: real seconds per iteration and every counter by name.
struct runFigures {
    double realSeconds = 0;
    std::map<std::string, double> counters;
};

class ratioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            runFigures& figures = byName[run.benchmark_name()];
            // Seconds, so that runs shown in different units still compare.
            figures.realSeconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            for (const auto& [name, counter] : run.counters)
                figures.counters[name] = counter.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // With --benchmark_repetitions the median stands for the run.
    const runFigures* find(const std::string& name) const
    {
        for (const std::string& key : {name + "_median", name}) {
            auto found = byName.find(key);
            if (found != byName.end())
                return &found->second;
        }
        return nullptr;
    }

    // Real time of `measured` over that of `alternative`: below 1, the measured run is faster.
    void printTimeRatio(const std::string& label, const std::string& measured, const std::string& alternative) const
    {
        const runFigures* a = find(measured);
        const runFigures* b = find(alternative);
        if (a && b)
            printRatio(label, "time", a->realSeconds, b->realSeconds);
    }

    // One counter of `measured` over the same counter of `alternative`.
    void printCounterRatio(const std::string& label, const std::string& measured, const std::string& alternative,
                           const std::string& counter) const
    {
        const runFigures* a = find(measured);
        const runFigures* b = find(alternative);
        if (!a || !b)
            return;
        auto mine = a->counters.find(counter);
        auto theirs = b->counters.find(counter);
        if (mine != a->counters.end() && theirs != b->counters.end())
            printRatio(label, counter, mine->second, theirs->second);
    }

private:
    static void printRatio(const std::string& label, const std::string& quantity, double mine, double theirs)
    {
        if (mine > 0 && theirs > 0)
            std::printf("%-56s %-16s %8.2fx\n", label.c_str(), quantity.c_str(), mine / theirs);
    }

    std::map<std::string, runFigures> byName;
};

} // namespace tavrix::bench
