// The main task queue: order of queueing across threads, tasks queued while a frame's pass runs, a frame
// while an add grows the pool, and what final and a late add do with tasks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "client/cvar.h"
#include "client/maintaskqueue.h"
#include "core/coremodules.h"
#include "platformlib/posix/vmem.h"

namespace cvar = tavrix::cvar;
namespace mainTaskQueue = tavrix::mainTaskQueue;

namespace {

struct ran {
    int32_t a;
    int32_t b;
    int32_t c;
};

// Only the test's thread runs the queue, so the record needs no lock.
void recordTask(void* data, int32_t a, int32_t b, int32_t c) { static_cast<std::vector<ran>*>(data)->push_back({a, b, c}); }

class mainTaskQueueTest : public tavrix::test::moduleTest {
protected:
    void SetUp() override
    {
        using namespace tavrix::test;
        start({ALLOCATOR, CVARS, {"one timer worker", [] { cvar::set("timer.worker.num", 1); }, nullptr}, TIMERS,
               MAIN_TASK_QUEUE});
    }
};

TEST_F(mainTaskQueueTest, RunsEveryTaskInQueueOrderInOnePass)
{
    std::vector<ran> seen;
    // Three threads, one after another: their tasks run in that order.
    for (int32_t t = 0; t < 3; ++t)
        std::thread([&seen, t] { mainTaskQueue::add(recordTask, &seen, t, t * 10, t * 100); }).join();
    mainTaskQueue::run();
    ASSERT_EQ(seen.size(), 3u);
    for (int32_t t = 0; t < 3; ++t) {
        EXPECT_EQ(seen[size_t(t)].a, t);
        EXPECT_EQ(seen[size_t(t)].b, t * 10);
        EXPECT_EQ(seen[size_t(t)].c, t * 100);
    }

    // Many threads at once, beyond the pool's first allocation: each thread's tasks keep its order.
    seen.clear();
    constexpr int32_t threads = 8;
    constexpr int32_t each = 1000;
    std::vector<std::thread> adders;
    for (int32_t t = 0; t < threads; ++t)
        adders.emplace_back([&seen, t] {
            for (int32_t i = 0; i < each; ++i)
                mainTaskQueue::add(recordTask, &seen, t, i, 0);
        });
    for (auto& adder : adders)
        adder.join();
    mainTaskQueue::run();
    ASSERT_EQ(seen.size(), size_t(threads * each));
    std::vector<int32_t> next(threads, 0);
    for (const ran& r : seen)
        ASSERT_EQ(r.b, next[size_t(r.a)]++) << "thread " << r.a;
    mainTaskQueue::run();
    EXPECT_EQ(seen.size(), size_t(threads * each));
}

struct chain {
    std::vector<int> order;
    int frame = 0;
};

void secondTask(void* data, int32_t, int32_t, int32_t)
{
    auto* c = static_cast<chain*>(data);
    c->order.push_back(c->frame * 10 + 2);
}

void firstTask(void* data, int32_t, int32_t, int32_t)
{
    auto* c = static_cast<chain*>(data);
    c->order.push_back(c->frame * 10 + 1);
    mainTaskQueue::add(secondTask, data, 0, 0, 0);
}

TEST_F(mainTaskQueueTest, TaskQueuedDuringAPassRunsInTheNextFrame)
{
    chain c;
    mainTaskQueue::add(firstTask, &c, 0, 0, 0);
    mainTaskQueue::run();
    EXPECT_EQ(c.order, std::vector<int>{1});
    c.frame = 1;
    mainTaskQueue::run();
    EXPECT_EQ(c.order, (std::vector<int>{1, 12}));
}

// Pool growth that waits until the test lets it commit.
struct heldGrowth {
    std::mutex lock;
    std::condition_variable changed;
    bool growing = false;
    bool released = false;
};
heldGrowth* held;

void* heldCommit(uint64_t bytes, bool largePages, uint32_t* error)
{
    {
        std::unique_lock<std::mutex> guard(held->lock);
        held->growing = true;
        held->changed.notify_all();
        held->changed.wait(guard, [] { return held->released; });
    }
    return tavrix::sys::vmemSystemBackend().commit(bytes, largePages, error);
}

const tavrix::sys::vmemBackend heldBackend{heldCommit, [] { return tavrix::sys::vmemSystemBackend().largePageMinimum(); }};

void countTask(void* data, int32_t, int32_t, int32_t) { static_cast<std::atomic<int32_t>*>(data)->fetch_add(1); }

// A queue whose pool holds one small segment, and a thread that adds more tasks than it holds, with the
// pool's growth held until release.
class heldGrowthTest : public mainTaskQueueTest {
protected:
    static constexpr int32_t TASKS = 500;

    void SetUp() override
    {
        mainTaskQueueTest::SetUp();
        stop(tavrix::test::MAIN_TASK_QUEUE.name);
        cvar::set("mainTaskQueue.entry.allocStep", 32);
        cvar::set("mainTaskQueue.entry.initialAlloc", 1);
        start({tavrix::test::MAIN_TASK_QUEUE});
        held = &growth;
        tavrix::sys::vmemSetBackend(&heldBackend);
        adder = std::thread([this] {
            for (int32_t i = 0; i < TASKS; ++i) {
                mainTaskQueue::add(countTask, &ran, 0, 0, 0);
                added.fetch_add(1);
            }
        });
        std::unique_lock<std::mutex> guard(growth.lock);
        growing = growth.changed.wait_for(guard, std::chrono::seconds(30), [this] { return growth.growing; });
    }

    void TearDown() override
    {
        release();
        if (adder.joinable())
            adder.join();
        tavrix::sys::vmemSetBackend(nullptr);
    }

    void release()
    {
        std::lock_guard<std::mutex> guard(growth.lock);
        growth.released = true;
        growth.changed.notify_all();
    }

    heldGrowth growth;
    bool growing = false;
    std::atomic<int32_t> ran{0};
    std::atomic<int32_t> added{0};
    std::thread adder;
};

// An add takes its entry, and grows the pool, before it takes the queue's spin lock: a frame meanwhile runs
// what is queued instead of spinning until the growth ends.
TEST_F(heldGrowthTest, AFrameRunsWhileAnAddGrowsThePool)
{
    ASSERT_TRUE(growing);
    auto frame = std::async(std::launch::async, [] { mainTaskQueue::run(); });
    const bool frameEnded = frame.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    const int32_t ranDuringGrowth = ran.load();
    const int32_t addedBeforeGrowth = added.load();
    release();
    frame.wait();
    adder.join();
    EXPECT_TRUE(frameEnded) << "the frame waited for the pool's growth";
    EXPECT_GT(ranDuringGrowth, 0);
    EXPECT_EQ(ranDuringGrowth, addedBeforeGrowth);

    mainTaskQueue::run();
    EXPECT_EQ(ran.load(), TASKS);
}

// final deletes the pool only once an add that is still using it has ended; that task and the later ones
// are dropped.
TEST_F(heldGrowthTest, FinalWaitsForAnAddUnderWay)
{
    ASSERT_TRUE(growing);
    auto finalDone = std::async(std::launch::async, [this] { stop(tavrix::test::MAIN_TASK_QUEUE.name); });
    EXPECT_EQ(finalDone.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    release();
    finalDone.wait();
    adder.join();
    mainTaskQueue::run();
    EXPECT_EQ(ran.load(), 0);
    EXPECT_TRUE(captured.contains("mainTaskQueue::add(): the queue is not initialized, task dropped\n"));
    EXPECT_FALSE(captured.contains("[Platform] ~Pool<MainTaskQueueEntry>:  Pool is not Empty!\n"));
}

TEST_F(mainTaskQueueTest, FinalDropsQueuedTasksAndALateAddIsDroppedWithAWarning)
{
    std::vector<ran> seen;
    for (int32_t i = 0; i < 3; ++i)
        mainTaskQueue::add(recordTask, &seen, i, 0, 0);
    stop(tavrix::test::MAIN_TASK_QUEUE.name);
    mainTaskQueue::run();

    mainTaskQueue::add(recordTask, &seen, 9, 0, 0);
    mainTaskQueue::run();
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(captured.contains("mainTaskQueue::add(): the queue is not initialized, task dropped\n"));
    EXPECT_FALSE(captured.contains("[Platform] ~Pool<MainTaskQueueEntry>:  Pool is not Empty!\n"));

    // A fresh start holds none of the dropped tasks.
    start({tavrix::test::MAIN_TASK_QUEUE});
    mainTaskQueue::run();
    EXPECT_TRUE(seen.empty());
}

} // namespace
