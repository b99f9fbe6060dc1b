// The workers' task queue: first in, first out; and no push or stop is lost between a worker's last look
// at the queue and its wait.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platformlib/spinlock.h"
#include "platformlib/taskqueue.h"

using namespace std::chrono_literals;

namespace {

struct record {
    record* next;
    int value;
};

// Far longer than any wait below: a lost wake-up shows as a worker that does not answer in time.
constexpr uint32_t LONG_WAIT_MS = 600000;

bool within(std::chrono::seconds limit, const std::atomic<int>& counter, int expected)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    // Spinning, so that the next push lands just as the worker turns to its wait.
    while (counter.load() != expected && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    return counter.load() == expected;
}

TEST(taskQueue, TakesInPushOrderOneOrAll)
{
    tavrix::util::taskQueue<record, tavrix::util::spinlock> queue;
    record a{nullptr, 1}, b{nullptr, 2}, c{nullptr, 3};
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(queue.take(), nullptr);
    queue.push(&a);
    queue.push(&b);
    queue.push(&c);
    EXPECT_EQ(queue.take(), &a);
    EXPECT_FALSE(queue.empty());

    record* rest = queue.takeAll();
    ASSERT_EQ(rest, &b);
    ASSERT_EQ(rest->next, &c);
    EXPECT_EQ(c.next, nullptr);
    EXPECT_TRUE(queue.empty());
    queue.push(&a);
    EXPECT_EQ(queue.take(), &a);
    EXPECT_EQ(a.next, nullptr);
}

// Pushes land while the worker is anywhere in its loop: every one is taken without the wait's time-out.
TEST(taskQueue, EveryPushWakesAnIdleWorkerAndWakeAllEndsThem)
{
    tavrix::util::taskQueue<record> queue;
    std::atomic<bool> running{true};
    std::atomic<int> taken{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; ++w)
        workers.emplace_back([&] {
            while (running.load()) {
                while (queue.take())
                    ++taken;
                queue.waitWhileEmpty(running, LONG_WAIT_MS);
            }
        });

    constexpr int PUSHES = 2000;
    std::vector<record> records(PUSHES);
    for (int i = 0; i < PUSHES; ++i) {
        queue.push(&records[size_t(i)]);
        ASSERT_TRUE(within(30s, taken, i + 1)) << "push " << i << " was not taken";
    }

    running.store(false);
    queue.wakeAll();
    for (auto& worker : workers)
        worker.join();
    EXPECT_EQ(taken.load(), PUSHES);

    // A stopped queue's wait returns at once.
    std::atomic<int> returned{0};
    std::thread late([&] {
        queue.waitWhileEmpty(running, LONG_WAIT_MS);
        ++returned;
    });
    EXPECT_TRUE(within(30s, returned, 1));
    late.join();
}

} // namespace
