#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platformlib/posix/thread.h"
#include "support/eventually.h"

using namespace tavrix::util;
using namespace std::chrono_literals;

namespace {

bool lockedElsewhere(mutex& m)
{
    bool taken = false;
    std::thread other([&] {
        taken = m.tryLock();
        if (taken)
            m.unlock();
    });
    other.join();
    return !taken;
}

// Waiters that count themselves in under the mutex: once the test holds it and sees them all, every one
// of them is inside wait.
struct waiters {
    mutex held;
    condVar cv;
    std::atomic<int> entered{0};
    std::atomic<int> woken{0};
    std::vector<std::thread> threads;

    void start(int n)
    {
        for (int i = 0; i < n; ++i)
            threads.emplace_back([this] {
                held.lock();
                ++entered;
                cv.wait(held, 60000);
                ++woken;
                held.unlock();
            });
        const auto until = std::chrono::steady_clock::now() + tavrix::test::EVENTUALLY_LIMIT;
        for (;;) {
            held.lock();
            if (entered.load() == n || std::chrono::steady_clock::now() > until)
                return; // held by the test
            held.unlock();
            std::this_thread::sleep_for(1ms);
        }
    }
    bool waitForWoken(int n) const
    {
        tavrix::test::eventually([&] { return woken.load() >= n; });
        return woken.load() == n;
    }
    void joinAll()
    {
        for (auto& t : threads)
            t.join();
    }
};

} // namespace

TEST(mutex, isReentrantForItsOwner)
{
    mutex m;
    m.lock();
    EXPECT_TRUE(m.tryLock());
    m.unlock();
    EXPECT_TRUE(lockedElsewhere(m));
    m.unlock();
    EXPECT_FALSE(lockedElsewhere(m));
}

TEST(condVar, wakeUpWithNoWaiterIsLost)
{
    for (bool broadcast : {false, true}) {
        mutex held;
        condVar cv;
        broadcast ? cv.broadcast() : cv.signal();
        held.lock();
        const auto start = std::chrono::steady_clock::now();
        cv.wait(held, 300);
        EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms) << broadcast;
        EXPECT_TRUE(lockedElsewhere(held)) << "wait returns with the mutex held again";
        held.unlock();
    }
}

TEST(condVar, signalWakesOneWaiter)
{
    waiters w;
    w.start(2);
    ASSERT_EQ(w.entered.load(), 2);
    w.cv.signal();
    w.held.unlock();
    EXPECT_TRUE(w.waitForWoken(1));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(w.woken.load(), 1);
    w.cv.signal();
    EXPECT_TRUE(w.waitForWoken(2));
    w.joinAll();
}

TEST(condVar, broadcastWakesEveryWaiterAndIsResetByTheLast)
{
    waiters w;
    w.start(3);
    ASSERT_EQ(w.entered.load(), 3);
    w.cv.broadcast();
    w.held.unlock();
    EXPECT_TRUE(w.waitForWoken(3));
    w.joinAll();

    w.held.lock();
    const auto start = std::chrono::steady_clock::now();
    w.cv.wait(w.held, 300);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    w.held.unlock();
}

// A wait up to an instant of the millisecond clock ends once the clock has reached it, never before, and
// with the mutex held again; a due already past included.
TEST(condVar, waitUntilEndsWhenTheClockReachesIt)
{
    mutex held;
    condVar cv;
    for (int32_t ahead : {-5, 0, 1, 7, 30}) {
        held.lock();
        const int32_t due = tavrix::getTimeMs() + ahead;
        cv.waitUntil(held, due);
        EXPECT_GE(tavrix::getTimeMs(), due) << ahead;
        EXPECT_TRUE(lockedElsewhere(held)) << ahead;
        held.unlock();
    }
}
