#include "platformlib/spinlock.h"

#include <csignal>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/capturelogger.h"

using tavrix::test::captureLogger;
using tavrix::util::spinlock;

TEST(spinlock, excludesConcurrentHolders)
{
    spinlock lock;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 100000; ++i) {
                lock.lock();
                ++counter;
                lock.unlock();
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 400000);
}

TEST(spinlock, destroyingAHeldLockIsLoggedAndTheProcessGoesOn)
{
    captureLogger log;
    log.clear();
    {
        spinlock released;
        released.lock();
        released.unlock();
    }
    EXPECT_TRUE(log.texts().empty());
    {
        spinlock held;
        held.lock();
    }
    EXPECT_EQ(log.texts(), std::vector<std::string>{"[Platform] ~spinlock() -> lock is not fully released\n"});
}

TEST(spinlock, destroyingAHeldLockStopsInAnAttachedDebugger)
{
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        {
            spinlock held;
            held.lock();
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    const bool trapped = WIFSTOPPED(status) && WSTOPSIG(status) == SIGTRAP;
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    EXPECT_TRUE(trapped);
}
