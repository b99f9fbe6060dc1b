// The main task queue: order of queueing across threads, tasks queued while a frame's pass runs, and
// what final and a late add do with tasks.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "client/cvar.h"
#include "client/maintaskqueue.h"
#include "core/coremodules.h"

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
