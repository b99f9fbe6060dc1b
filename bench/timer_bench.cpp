// The timer system against a std::multimap under a std::mutex with one std::thread waiting on a
// std::condition_variable: add/delete throughput with 10k timers, and how late 10k timers fire against
// their due time (median and 99th percentile). Ratios are printed after the table.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <unistd.h>

#include "bench/ratioreporter.h"
#include "client/cvar.h"
#include "client/timer.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/posix/thread.h"

namespace {

using steadyClock = std::chrono::steady_clock;
constexpr int TIMERS = 10000;

// The instant tavrix::getTimeMs counted from; set together with it in main.
steadyClock::time_point clockZero;

steadyClock::time_point instantOf(int32_t dueMs) { return clockZero + std::chrono::milliseconds(dueMs); }

// The client's clock zero as a point of this clock: the middle of two readings around its start, taken
// again when a preemption keeps them apart, since every lateness is measured from it.
void startClocks()
{
    for (int attempt = 0;; ++attempt) {
        const auto before = steadyClock::now();
        tavrix::clockStart();
        const auto after = steadyClock::now();
        clockZero = before + (after - before) / 2;
        if (after - before < std::chrono::microseconds(20) || attempt == 100)
            return;
    }
}

// The usual alternative: one sorted map, one lock, one thread.
class stdTimers {
public:
    stdTimers() : worker([this] { run(); }) {}
    ~stdTimers()
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        wake.notify_all();
        worker.join();
    }

    int32_t add(int32_t due, timerCallback callback, void* user1, void* user2)
    {
        std::lock_guard<std::mutex> guard(lock);
        const int32_t id = nextId++;
        auto at = list.emplace(due, job{id, callback, user1, user2});
        byId.emplace(id, at);
        if (at == list.begin())
            wake.notify_one();
        return id;
    }
    void del(int32_t id)
    {
        std::lock_guard<std::mutex> guard(lock);
        auto found = byId.find(id);
        if (found == byId.end())
            return;
        list.erase(found->second);
        byId.erase(found);
    }

private:
    struct job {
        int32_t id;
        timerCallback callback;
        void* user1;
        void* user2;
    };

    void run()
    {
        std::unique_lock<std::mutex> guard(lock);
        while (!stopping) {
            if (list.empty()) {
                wake.wait(guard);
                continue;
            }
            auto first = list.begin();
            if (steadyClock::now() < instantOf(first->first)) {
                wake.wait_until(guard, instantOf(first->first));
                continue;
            }
            const job due = first->second;
            byId.erase(due.id);
            list.erase(first);
            guard.unlock();
            due.callback(due.id, due.user1, due.user2);
            guard.lock();
        }
    }

    std::mutex lock;
    std::condition_variable wake;
    std::multimap<int32_t, job> list;
    std::unordered_map<int32_t, std::multimap<int32_t, job>::iterator> byId;
    int32_t nextId = 0;
    bool stopping = false;
    std::thread worker;
};

bool neverRuns(int32_t, void*, void*) { return false; }

// Far-off dues: nothing fires while the timers are added and deleted. Deleted timers of the timer
// system stay listed until their due, so the iterations are bounded.
template <class ADD, class DEL>
void addDelete(benchmark::State& state, ADD add, DEL del)
{
    std::vector<int32_t> ids(TIMERS);
    for (auto _ : state) {
        const int32_t now = tavrix::getTimeMs();
        for (int i = 0; i < TIMERS; ++i)
            ids[size_t(i)] = add(now + 600000 + i % 1000);
        for (int32_t id : ids)
            del(id);
    }
    state.SetItemsProcessed(state.iterations() * 2 * TIMERS);
}

void timerSystemAddDelete(benchmark::State& state)
{
    addDelete(
        state, [](int32_t due) { return timer_addOnce(due, neverRuns, nullptr, nullptr); }, [](int32_t id) { timer_del(id); });
}

void stdMultimapAddDelete(benchmark::State& state)
{
    stdTimers timers;
    addDelete(
        state, [&](int32_t due) { return timers.add(due, neverRuns, nullptr, nullptr); }, [&](int32_t id) { timers.del(id); });
}

// One run's lateness per timer, filled by the callbacks.
struct latencyRun {
    std::vector<int32_t> dues = std::vector<int32_t>(TIMERS);
    std::vector<int64_t> lateNs = std::vector<int64_t>(TIMERS);
    std::atomic<int> fired{0};
};

bool recordLateness(int32_t, void* user1, void* user2)
{
    const auto now = steadyClock::now();
    auto* run = static_cast<latencyRun*>(user1);
    const size_t i = size_t(reinterpret_cast<intptr_t>(user2));
    run->lateNs[i] = std::chrono::duration_cast<std::chrono::nanoseconds>(now - instantOf(run->dues[i])).count();
    run->fired.fetch_add(1, std::memory_order_release);
    return false;
}

// 10k timers due over half a second, starting 100 ms ahead.
template <class ADD>
void firingLatency(benchmark::State& state, ADD add)
{
    std::vector<int64_t> all;
    for (auto _ : state) {
        latencyRun run;
        const int32_t first = tavrix::getTimeMs() + 100;
        for (int i = 0; i < TIMERS; ++i) {
            run.dues[size_t(i)] = first + i % 500;
            add(run.dues[size_t(i)], &run, reinterpret_cast<void*>(intptr_t(i)));
        }
        while (run.fired.load(std::memory_order_acquire) < TIMERS)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        all.insert(all.end(), run.lateNs.begin(), run.lateNs.end());
    }
    std::sort(all.begin(), all.end());
    state.counters["median_us"] = double(all[all.size() / 2]) / 1000.0;
    state.counters["p99_us"] = double(all[all.size() * 99 / 100]) / 1000.0;
    state.SetItemsProcessed(state.iterations() * TIMERS);
}

void timerSystemFiringLatency(benchmark::State& state)
{
    firingLatency(state, [](int32_t due, void* user1, void* user2) { timer_addOnce(due, recordLateness, user1, user2); });
}

void stdMultimapFiringLatency(benchmark::State& state)
{
    stdTimers timers;
    firingLatency(state, [&](int32_t due, void* user1, void* user2) { timers.add(due, recordLateness, user1, user2); });
}

BENCHMARK(timerSystemAddDelete)->Iterations(30)->UseRealTime();
BENCHMARK(stdMultimapAddDelete)->Iterations(30)->UseRealTime();
BENCHMARK(timerSystemFiringLatency)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(stdMultimapFiringLatency)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    char dir[] = "/tmp/tavrix-timer-bench-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0)
        return 1;
    startClocks();
    roalloc_init();
    tavrix::cvar::init();
    // Room for every timer the add/delete runs leave listed: the pool does not grow while they are measured.
    tavrix::cvar::set("timer.entry.initialAlloc", 320000);
    timer_init();

    benchmark::Initialize(&argc, argv);
    tavrix::bench::ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printCounterRatio("timerSystemAddDelete / stdMultimapAddDelete", "timerSystemAddDelete/iterations:30/real_time",
                               "stdMultimapAddDelete/iterations:30/real_time", "items_per_second");
    for (const char* lateness : {"median_us", "p99_us"})
        reporter.printCounterRatio("timerSystemFiringLatency / stdMultimapFiringLatency",
                                   "timerSystemFiringLatency/iterations:3/real_time",
                                   "stdMultimapFiringLatency/iterations:3/real_time", lateness);

    timer_final();
    tavrix::cvar::final();
    roalloc_final();
    std::filesystem::remove_all(dir);
    return 0;
}
