// The timer system with its real workers: firing order, periodic timers, deletion (also while a timer
// fires), idle wake-up, growth of the entry pool under concurrent use, the worker count, the platform
// interface and the fatal invalid id.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "client/cvar.h"
#include "client/timer.h"
#include "core/coremodules.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/platform.h"
#include "platformlib/posix/thread.h"
#include "platformlib/util/exception.h"
#include "platformlib/util/logger.h"
#include "support/eventually.h"

using namespace std::chrono_literals;
namespace cvar = tavrix::cvar;
using tavrix::getTimeMs;
using tavrix::test::eventually;

namespace {

// What the callbacks saw: tags in firing order, with the clock at each call.
struct recorder {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<intptr_t> tags;
    std::vector<int32_t> stamps;

    void record(intptr_t tag)
    {
        std::lock_guard<std::mutex> guard(lock);
        tags.push_back(tag);
        stamps.push_back(getTimeMs());
        changed.notify_all();
    }
    bool waitFor(size_t count, std::chrono::milliseconds limit = tavrix::test::EVENTUALLY_LIMIT)
    {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, limit, [&] { return tags.size() >= count; });
    }
    size_t count()
    {
        std::lock_guard<std::mutex> guard(lock);
        return tags.size();
    }
    std::vector<intptr_t> seen()
    {
        std::lock_guard<std::mutex> guard(lock);
        return tags;
    }
};

bool recordOnce(int32_t, void* user1, void* user2)
{
    static_cast<recorder*>(user1)->record(reinterpret_cast<intptr_t>(user2));
    return false;
}

void* tag(intptr_t value) { return reinterpret_cast<void*>(value); }

// The one worker held in a callback while a test lists its timers, so that none is due and taken before
// the last is listed, however late the listing runs.
class heldWorker {
public:
    heldWorker()
    {
        timer_addOnce(getTimeMs(), hold, &state, nullptr);
        entered = eventually([&] { return state.entered.load(); });
    }
    ~heldWorker()
    {
        release();
        eventually([&] { return state.left.load(); });
    }
    heldWorker(const heldWorker&) = delete;
    heldWorker& operator=(const heldWorker&) = delete;
    bool holding() const { return entered; }
    void release() { state.released = true; }

private:
    struct gate {
        std::atomic<bool> entered{false};
        std::atomic<bool> released{false};
        std::atomic<bool> left{false};
    };
    static bool hold(int32_t, void* user1, void*)
    {
        auto* held = static_cast<gate*>(user1);
        held->entered = true;
        while (!held->released)
            std::this_thread::sleep_for(1ms);
        held->left = true;
        return false;
    }
    gate state;
    bool entered = false;
};

class timerTest : public tavrix::test::moduleTest {
protected:
    void SetUp() override { moduleRun::start({tavrix::test::ALLOCATOR, tavrix::test::CVARS}); }

    void start(int workers, int allocStep = 512, int initialAlloc = 8192)
    {
        cvar::set("timer.worker.num", workers);
        cvar::set("timer.entry.allocStep", allocStep);
        cvar::set("timer.entry.initialAlloc", initialAlloc);
        moduleRun::start({tavrix::test::TIMERS});
    }
    void stop() { moduleRun::stop(tavrix::test::TIMERS.name); }
    static int32_t inUse()
    {
        int32_t total, free, peak;
        timer_getStats(&total, &free, &peak);
        return total - free;
    }
};

TEST_F(timerTest, FiresBySortedDueWithEqualDuesInInsertionOrder)
{
    start(1);
    recorder seen;
    heldWorker worker;
    ASSERT_TRUE(worker.holding());
    const int32_t base = getTimeMs() + 300;
    // Far timers share the near ones' index slots, so those insertions start their walk far away.
    std::vector<int32_t> far;
    for (int32_t offset : {0, 10, 50})
        far.push_back(timer_addOnce(base + 4096 + offset, recordOnce, &seen, tag(100 + offset)));
    const std::pair<int32_t, intptr_t> near[] = {{50, 0}, {10, 1}, {50, 2}, {0, 3}, {10, 4}, {50, 5}, {30, 6}};
    for (const auto& [offset, value] : near)
        timer_addOnce(base + offset, recordOnce, &seen, tag(value));
    for (int32_t id : far)
        timer_del(id);
    worker.release();

    ASSERT_TRUE(seen.waitFor(7));
    EXPECT_EQ(seen.seen(), (std::vector<intptr_t>{3, 1, 4, 6, 0, 2, 5}));
    for (int32_t stamp : seen.stamps)
        EXPECT_GE(stamp, base);
}

// Many dues with many repeats, among deleted timers whose dues lie whole index periods later.
TEST_F(timerTest, RandomDuesFireByDueThenInsertionOrder)
{
    start(1);
    recorder seen;
    heldWorker worker;
    ASSERT_TRUE(worker.holding());
    std::minstd_rand random(7);
    const int32_t base = getTimeMs() + 1000;
    std::vector<int32_t> dues;
    std::vector<int32_t> far;
    for (int i = 0; i < 3000; ++i) {
        if (i % 5 == 0)
            far.push_back(timer_addOnce(base + 4096 * int32_t(1 + random() % 3) + int32_t(random() % 200), recordOnce, &seen, tag(-1)));
        dues.push_back(base + int32_t(random() % 200));
        timer_addOnce(dues.back(), recordOnce, &seen, tag(intptr_t(dues.size() - 1)));
    }
    for (int32_t id : far)
        timer_del(id);
    worker.release();

    ASSERT_TRUE(seen.waitFor(dues.size()));
    const std::vector<intptr_t> order = seen.seen();
    for (size_t i = 1; i < order.size(); ++i) {
        const intptr_t before = order[i - 1];
        const intptr_t after = order[i];
        ASSERT_TRUE(dues[size_t(before)] < dues[size_t(after)] || (dues[size_t(before)] == dues[size_t(after)] && before < after))
            << "position " << i << ": timer " << before << " (due " << dues[size_t(before)] << ") before timer " << after
            << " (due " << dues[size_t(after)] << ")";
    }
}

// The worker waits for the later timer's due, an hour away: one not woken by the add would still wait.
TEST_F(timerTest, PastDueFiresAtOnceWhileWorkerWaitsForALaterTimer)
{
    start(1);
    recorder seen;
    timer_addOnce(getTimeMs() + 3600000, recordOnce, &seen, tag(1));
    std::this_thread::sleep_for(50ms);
    timer_addOnce(getTimeMs() - 1000, recordOnce, &seen, tag(2));
    ASSERT_TRUE(seen.waitFor(1));
    EXPECT_EQ(seen.tags[0], 2);
}

// A worker that found the list empty waits 30 s: an add that does not wake it shows only then, well after
// the wait for its run has given up.
TEST_F(timerTest, AddToAnIdleListWakesAWorker)
{
    start(1);
    recorder seen;
    std::this_thread::sleep_for(100ms);
    for (size_t round = 1; round <= 20; ++round) {
        timer_addOnce(getTimeMs(), recordOnce, &seen, tag(intptr_t(round)));
        ASSERT_TRUE(seen.waitFor(round, 15s)) << "round " << round;
    }
}

struct periodicState {
    recorder seen;
    int stopAfter;
};

bool countUntilStop(int32_t, void* user1, void*)
{
    auto* state = static_cast<periodicState*>(user1);
    state->seen.record(0);
    return int(state->seen.count()) >= state->stopAfter;
}

TEST_F(timerTest, PeriodicTimerRunsAgainUntilItsCallbackReturnsTrue)
{
    start(1);
    const int32_t idleInUse = inUse();
    periodicState state{{}, 3};
    const int32_t due = getTimeMs();
    timer_add(due, 5, countUntilStop, &state, nullptr);
    ASSERT_TRUE(state.seen.waitFor(3));
    // Freed once its callback has returned true: it cannot run again from then on.
    EXPECT_TRUE(eventually([&] { return inUse() == idleInUse; }));
    EXPECT_EQ(state.seen.count(), 3u);
    EXPECT_GE(state.seen.stamps[2], due + 10);
}

// Runs due in the past catch up back to back; the next one waits for its due, half a minute on.
TEST_F(timerTest, DelayedPeriodicTimerCatchesUp)
{
    start(1);
    recorder seen;
    timer_add(getTimeMs() - 270000, 60000, recordOnce, &seen, tag(0));
    ASSERT_TRUE(seen.waitFor(5, 20s));
    EXPECT_EQ(seen.count(), 5u);
}

TEST_F(timerTest, DeletedTimerNeverRunsAndIsFreedAtItsDue)
{
    start(1);
    recorder seen;
    const int32_t idleInUse = inUse();
    heldWorker worker;
    ASSERT_TRUE(worker.holding());
    const int32_t holding = inUse();
    const int32_t now = getTimeMs();
    const int32_t deleted = timer_addOnce(now + 100, recordOnce, &seen, tag(1));
    timer_addOnce(now + 150, recordOnce, &seen, tag(2));
    timer_del(deleted);
    EXPECT_EQ(inUse(), holding + 2);
    worker.release();
    ASSERT_TRUE(seen.waitFor(1));
    EXPECT_TRUE(eventually([&] { return inUse() == idleInUse; }));
    EXPECT_EQ(seen.seen(), std::vector<intptr_t>{2});
}

// The callback holds its first run open until the timer has been deleted.
struct heldCallback {
    recorder seen;
    std::mutex lock;
    std::condition_variable changed;
    int32_t id = -1;
    bool entered = false;
    bool released = false;
    bool deleteItself = false;
};

bool holdFirstRun(int32_t id, void* user1, void*)
{
    auto* held = static_cast<heldCallback*>(user1);
    held->seen.record(0);
    if (held->deleteItself) {
        timer_del(id);
        return false;
    }
    std::unique_lock<std::mutex> guard(held->lock);
    held->entered = true;
    held->changed.notify_all();
    held->changed.wait(guard, [&] { return held->released; });
    return false;
}

TEST_F(timerTest, TimerDeletedWhileFiringIsNotRearmed)
{
    start(2);
    const int32_t idleInUse = inUse();
    for (bool deleteItself : {false, true}) {
        SCOPED_TRACE(deleteItself ? "deleted by its own callback" : "deleted by another thread");
        heldCallback held;
        held.deleteItself = deleteItself;
        held.id = timer_add(getTimeMs(), 10, holdFirstRun, &held, nullptr);
        if (!deleteItself) {
            std::unique_lock<std::mutex> guard(held.lock);
            ASSERT_TRUE(held.changed.wait_for(guard, tavrix::test::EVENTUALLY_LIMIT, [&] { return held.entered; }));
            timer_del(held.id);
            held.released = true;
            held.changed.notify_all();
        }
        ASSERT_TRUE(held.seen.waitFor(1));
        // Freed, not listed again: it cannot run again from then on.
        EXPECT_TRUE(eventually([&] { return inUse() == idleInUse; }));
        EXPECT_EQ(held.seen.count(), 1u);
    }
}

// For a shutdown that cannot finish: the workers end, one still in a callback is given a bounded time, and
// the system stays whole, so timers are still added and deleted though none runs; final then ends it all.
TEST_F(timerTest, StopEndsTheWorkersAndKeepsTheSystem)
{
    start(2);
    heldCallback held;
    held.id = timer_addOnce(getTimeMs(), holdFirstRun, &held, nullptr);
    {
        std::unique_lock<std::mutex> guard(held.lock);
        ASSERT_TRUE(held.changed.wait_for(guard, tavrix::test::EVENTUALLY_LIMIT, [&] { return held.entered; }));
    }
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(timer_stop());
    EXPECT_GE(std::chrono::steady_clock::now() - before, 2s);

    recorder seen;
    timer_del(timer_addOnce(getTimeMs(), recordOnce, &seen, tag(1)));
    timer_addOnce(getTimeMs(), recordOnce, &seen, tag(2));
    {
        std::lock_guard<std::mutex> guard(held.lock);
        held.released = true;
        held.changed.notify_all();
    }
    EXPECT_FALSE(seen.waitFor(1, 300ms));
    stop();
    EXPECT_EQ(seen.count(), 0u);
}

bool countFired(int32_t, void* user1, void* user2)
{
    auto* fired = static_cast<std::vector<std::atomic<int>>*>(user1);
    (*fired)[size_t(reinterpret_cast<intptr_t>(user2))].fetch_add(1);
    return false;
}

// Small pool segments: the adders keep growing the pool (and the id table) while other threads delete
// and the workers fire.
TEST_F(timerTest, ConcurrentAddsDeletesAndFiringWhileThePoolGrows)
{
    start(4, 32, 32);
    constexpr int threadsEach = 4;
    constexpr int timersEach = 600;
    constexpr int soonCount = threadsEach * timersEach;
    std::vector<std::atomic<int>> fired(2 * soonCount);
    int32_t totalBefore, freeBefore, peak;
    timer_getStats(&totalBefore, &freeBefore, &peak);

    std::vector<std::thread> threads;
    for (int t = 0; t < threadsEach; ++t) {
        threads.emplace_back([&, t] {
            std::minstd_rand random(t);
            for (int i = 0; i < timersEach; ++i)
                timer_addOnce(getTimeMs() + int32_t(random() % 30), countFired, &fired, tag(t * timersEach + i));
        });
        threads.emplace_back([&, t] {
            for (int i = 0; i < timersEach; ++i) {
                const int32_t id = timer_addOnce(getTimeMs() + 3600000, countFired, &fired, tag(soonCount + t * timersEach + i));
                timer_del(id);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();

    const auto until = std::chrono::steady_clock::now() + 20s;
    auto allFired = [&] {
        for (int i = 0; i < soonCount; ++i)
            if (fired[size_t(i)].load() == 0)
                return false;
        return true;
    };
    while (!allFired() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(10ms);
    for (int i = 0; i < 2 * soonCount; ++i)
        ASSERT_EQ(fired[size_t(i)].load(), i < soonCount ? 1 : 0) << "timer " << i;

    int32_t total, free;
    timer_getStats(&total, &free, &peak);
    EXPECT_GT(total, totalBefore);
    // The deleted timers stay listed until their due.
    EXPECT_EQ(total - free, soonCount);
}

TEST_F(timerTest, WorkerCountIsClampedToOneToSixteen)
{
    const std::pair<int, const char*> cases[] = {
        {0, "Timer System Initialized (Worker: 1)\n"},
        {3, "Timer System Initialized (Worker: 3)\n"},
        {40, "Timer System Initialized (Worker: 16)\n"},
        {-1, "Timer System Initialized (Worker: 16)\n"},
    };
    for (const auto& [configured, expected] : cases) {
        captured.clear();
        start(configured);
        stop();
        EXPECT_TRUE(captured.contains(expected)) << configured;
    }
}

TEST_F(timerTest, PlatformInterfaceIsInstalledWhileTheSystemRuns)
{
    EXPECT_EQ(platform_getTimerSystem(), nullptr);
    start(1);
    timerSystem* timers = platform_getTimerSystem();
    ASSERT_NE(timers, nullptr);

    recorder seen;
    const int32_t idleInUse = inUse();
    const int32_t id = timers->add(getTimeMs(), 5, recordOnce, &seen, tag(7));
    ASSERT_TRUE(seen.waitFor(2));
    timers->del(id);
    // Freed at its next due instead of running: no run comes after that.
    ASSERT_TRUE(eventually([&] { return inUse() == idleInUse; }));
    const size_t settled = seen.count();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(seen.count(), settled);

    try {
        timers->timer_add(getTimeMs(), recordOnce, &seen, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (FatalErrorException* e) {
        EXPECT_STREQ(e->getMessage(), "@TODO\n");
        EXPECT_STREQ(e->getFile(), "client/timer.cpp");
        EXPECT_STREQ(e->getFunction(), "ClientTimerSystem::timer_add");
        delete e;
    }

    stop();
    EXPECT_EQ(platform_getTimerSystem(), nullptr);
    int32_t total = -1, free = -1, peak = -1;
    timer_getStats(&total, &free, &peak);
    EXPECT_EQ(total + free + peak, 0);
}

class fileLogger final : public tavrix::util::logger {
public:
    int64_t getTime() override { return 0; }
};

// Xlib's default error handler ends the process through exit() while the workers wait: the process still
// ends, as the system's state is never destroyed under them. The child starts the workers itself (a fork
// keeps only the thread that calls it).
TEST_F(timerTest, ExitWhileTheWorkersWaitEnds)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        cvar::set("timer.worker.num", 2);
        timer_init();
        timer_add(getTimeMs() + 3600000, -1, [](int32_t, void*, void*) { return true; }, nullptr, nullptr);
        std::this_thread::sleep_for(200ms);
        std::exit(0);
    }
    int status = -1;
    const auto until = std::chrono::steady_clock::now() + 60s;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "ended with " << status;
}

// The child re-runs the test from the start in a fresh directory of its own; it writes client.log where
// the parent looks, which the variable tells it.
TEST_F(timerTest, InvalidIdEndsTheProcessAfterTheLineReachesTheLog)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    constexpr const char* LOG_DIR = "TAVRIX_TIMER_TEST_LOG_DIR";
    setenv(LOG_DIR, dir.path().c_str(), 0);
    const std::string logDir = getenv(LOG_DIR);
    struct invalid {
        const char* name;
        bool idCount;
    };
    for (const invalid& c : {invalid{"-1", false}, invalid{"id count", true}}) {
        SCOPED_TRACE(c.name);
        auto deleteInvalid = [&] {
            std::filesystem::current_path(logDir);
            std::filesystem::remove_all(dir.path());
            auto* out = new fileLogger;
            out->addLogFile("client.log", 0xFFFF);
            platform_setLogger(out);
            start(1);
            int32_t total, free, peak;
            timer_getStats(&total, &free, &peak);
            timer_del(c.idCount ? total : -1);
        };
        EXPECT_EXIT(deleteInvalid(), ::testing::ExitedWithCode(1), "");
        const std::regex expected(c.idCount ? R"(timer_del\(([0-9]+)\): invalid ID! must be within 0 and \1\r\n)"
                                            : R"(timer_del\(-1\): invalid ID! must be within 0 and [0-9]+\r\n)");
        const std::string log = dir.read("client.log");
        EXPECT_TRUE(std::regex_search(log, expected)) << log;
    }
    unsetenv(LOG_DIR);
}

} // namespace
