#include "platformlib/posix/thread.h"

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platformlib/taskqueue.h"
#include "platformlib/util/exception.h"
#include "platformlib/util/workerstop.h"
#include "support/capturelogger.h"
#include "support/eventually.h"

using namespace tavrix::util;
using namespace std::chrono_literals;
using tavrix::test::captureLogger;

namespace {

// A thread that reports its kernel id and OS name, then runs until told to stop.
struct parked {
    std::atomic<bool> stop{false};
    std::atomic<pid_t> tid{0};
    // The entry's last touch of this record.
    std::atomic<bool> left{false};
    char osName[16]{};

    pid_t waitForStart() const
    {
        tavrix::test::eventually([&] { return tid.load() != 0; });
        return tid.load();
    }
};

uint32_t parkedEntry(thread* self)
{
    parked* p = static_cast<parked*>(self->getArg());
    pthread_getname_np(pthread_self(), p->osName, sizeof(p->osName));
    p->tid.store(gettid());
    while (!p->stop.load())
        std::this_thread::sleep_for(1ms);
    p->left.store(true);
    return 42;
}

uint32_t quickEntry(thread*) { return 7; }

int niceOf(pid_t tid)
{
    errno = 0;
    return getpriority(PRIO_PROCESS, id_t(tid));
}

// Whether this process may raise a thread above normal (root or CAP_SYS_NICE or RLIMIT_NICE).
bool mayRaisePriority()
{
    bool allowed = false;
    std::thread probe([&] { allowed = setpriority(PRIO_PROCESS, 0, -20) == 0; });
    probe.join();
    return allowed;
}

bool taskExists(pid_t tid) { return access(("/proc/self/task/" + std::to_string(tid)).c_str(), F_OK) == 0; }

} // namespace

TEST(thread, emptyOrMissingNameBecomesTheEntryAddress)
{
    char expected[64];
    std::snprintf(expected, sizeof(expected), "UnnamedThread_0x%" PRIxPTR, reinterpret_cast<uintptr_t>(&quickEntry));
    for (const char* name : {static_cast<const char*>(nullptr), ""}) {
        captureLogger log;
        thread t(name, quickEntry, nullptr);
        EXPECT_STREQ(t.getName(), expected);
        EXPECT_EQ(t.join(30000), JOIN_ENDED);
        EXPECT_TRUE(log.contains(std::string("[Platform] New Thread '") + expected + "'\n"));
    }
}

TEST(thread, keepsItsFullNameWhileTheOsGetsFifteenCharacters)
{
    captureLogger log;
    log.clear();
    parked p;
    auto* t = new thread("Ordered Async Startup - Executor", parkedEntry, &p);
    ASSERT_NE(p.waitForStart(), 0);
    EXPECT_STREQ(p.osName, "Ordered Async S");
    EXPECT_STREQ(t->getName(), "Ordered Async Startup - Executor");
    EXPECT_EQ(t->getArg(), &p);
    EXPECT_TRUE(t->isRunning());
    p.stop = true;
    EXPECT_EQ(t->join(30000), JOIN_ENDED);
    EXPECT_FALSE(t->isRunning());
    delete t;
    EXPECT_EQ(log.texts(), (std::vector<std::string>{
                               "[Platform] New Thread 'Ordered Async Startup - Executor'\n",
                               "[Platform] Thread Terminated 'Ordered Async Startup - Executor' (ExitCode: 42)\n",
                           }));
    EXPECT_EQ(log.lines()[0].function, "tavrix::util::thread::threadMain");
}

TEST(thread, failedCreationIsLoggedAndLeavesAnObjectWithNothingToJoin)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            bool sound = false;
            {
                // No stack of this size can be mapped, so every thread creation fails.
                pthread_attr_t huge;
                pthread_attr_init(&huge);
                pthread_attr_setstacksize(&huge, size_t(1) << 47);
                pthread_setattr_default_np(&huge);
                captureLogger log;
                thread t("Stillborn", quickEntry, nullptr);
                sound = !t.isRunning() && log.contains("[Platform] Thread: failed to create new Thread 'Stillborn'\n") &&
                        t.join(60000) == JOIN_ENDED && t.setPriority(PRIORITY_IDLE) == PRIORITY_NORMAL &&
                        log.contains("[Platform] Thread 'Stillborn' can't set Priority - Error: 3\n");
                t.kill();
            }
            std::fputs(sound ? "sound\n" : "unsound\n", stderr);
            _exit(0);
        },
        testing::ExitedWithCode(0), "^sound\n");
}

TEST(thread, joinTimesOutOnARunningThreadAndReturnsAtOnceWhenItEnded)
{
    parked p;
    thread t("Joined", parkedEntry, &p);
    ASSERT_NE(p.waitForStart(), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(t.join(500), JOIN_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_TRUE(t.isRunning());
    p.stop = true;
    EXPECT_EQ(t.join(30000), JOIN_ENDED);
    EXPECT_EQ(t.join(0), JOIN_ENDED);
}

TEST(thread, priorityOutsideTheTableAppliesNormalAndIsKept)
{
    captureLogger log;
    parked p;
    thread t("Prioritised", parkedEntry, &p);
    const pid_t tid = p.waitForStart();
    ASSERT_NE(tid, 0);
    log.clear();

    EXPECT_EQ(t.setPriority(7), PRIORITY_NORMAL);
    EXPECT_EQ(log.texts(), std::vector<std::string>{"[Platform] Thread 'Prioritised' unknown Priority 7 assuming NORMAL Priority\n"});
    EXPECT_EQ(niceOf(tid), 0);

    // The current value makes no OS call: a nice value set from outside survives it.
    ASSERT_EQ(setpriority(PRIO_PROCESS, id_t(tid), 3), 0);
    EXPECT_EQ(t.setPriority(7), 7u);
    EXPECT_EQ(niceOf(tid), 3);

    // Lowering applies to the thread itself, never to the caller.
    const int callerNice = niceOf(gettid());
    EXPECT_EQ(t.setPriority(PRIORITY_IDLE), 7u);
    EXPECT_EQ(niceOf(tid), 19);
    EXPECT_EQ(niceOf(gettid()), callerNice);
    EXPECT_EQ(log.texts().size(), 1u);
    p.stop = true;
    EXPECT_EQ(t.join(30000), JOIN_ENDED);
}

TEST(thread, eachPriorityIsItsOwnNiceValue)
{
    if (!mayRaisePriority())
        GTEST_SKIP() << "raising a thread above normal needs CAP_SYS_NICE";
    parked p;
    thread t("Scaled", parkedEntry, &p);
    const pid_t tid = p.waitForStart();
    ASSERT_NE(tid, 0);
    const struct {
        uint32_t priority;
        int nice;
    } table[] = {{PRIORITY_TIME_CRITICAL, -20}, {PRIORITY_ABOVE_NORMAL, -5}, {PRIORITY_BELOW_NORMAL, 5},
                 {PRIORITY_IDLE, 19}, {PRIORITY_NORMAL, 0}};
    uint32_t previous = PRIORITY_NORMAL;
    for (const auto& row : table) {
        EXPECT_EQ(t.setPriority(row.priority), previous);
        EXPECT_EQ(niceOf(tid), row.nice) << row.priority;
        previous = row.priority;
    }
    p.stop = true;
    EXPECT_EQ(t.join(30000), JOIN_ENDED);
}

namespace {
// Takes CAP_SYS_NICE from the calling thread and allows no nice raise by limit either.
void dropNicePrivilege()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    syscall(SYS_capget, &header, data);
    data[CAP_SYS_NICE / 32].effective &= ~(1u << (CAP_SYS_NICE % 32));
    syscall(SYS_capset, &header, data);
    const rlimit none{0, 0};
    setrlimit(RLIMIT_NICE, &none);
}
} // namespace

TEST(thread, refusedPriorityIsLoggedAndLeavesTheCurrentOne)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            dropNicePrivilege();
            bool refused = false;
            {
                captureLogger log;
                parked p;
                thread t("Raiser", parkedEntry, &p);
                const pid_t tid = p.waitForStart();
                refused = t.setPriority(PRIORITY_TIME_CRITICAL) == PRIORITY_NORMAL &&
                          log.contains("[Platform] Thread 'Raiser' can't set Priority - Error: 13\n") &&
                          t.setPriority(PRIORITY_NORMAL) == PRIORITY_NORMAL && niceOf(tid) == 0;
                p.stop = true;
                t.join(30000);
            }
            std::fputs(refused ? "refused\n" : "not refused\n", stderr);
            _exit(0);
        },
        testing::ExitedWithCode(0), "^refused\n");
}

namespace {
struct priorityStep {
    uint32_t priority;
    int nice;
    bool refused;
};

// In a process started as `nice -n 5` starts it: a new thread's nice value, then each step's; "as expected"
// or what differed.
std::string underNiceFive(bool privileged, std::initializer_list<priorityStep> steps)
{
    if (!privileged)
        dropNicePrivilege();
    setpriority(PRIO_PROCESS, 0, 5);
    std::string differences;
    captureLogger log;
    parked p;
    thread t("Niced", parkedEntry, &p);
    const pid_t tid = p.waitForStart();
    if (niceOf(tid) != 5 || !log.texts(LOG_ERROR).empty())
        differences += "started at " + std::to_string(niceOf(tid)) + " with " + std::to_string(log.texts(LOG_ERROR).size()) + " errors\n";
    uint32_t current = PRIORITY_NORMAL;
    for (const priorityStep& step : steps) {
        log.clear();
        const uint32_t previous = t.setPriority(step.priority);
        const auto errors = log.lines();
        const bool refused = errors.size() == 1 && errors[0].text == "[Platform] Thread 'Niced' can't set Priority - Error: 13\n" &&
                             errors[0].function == "tavrix::util::thread::setPriority";
        if (previous != current || niceOf(tid) != step.nice || refused != step.refused || (!step.refused && !errors.empty()))
            differences += "priority " + std::to_string(step.priority) + ": nice " + std::to_string(niceOf(tid)) + ", " +
                           std::to_string(errors.size()) + " lines\n";
        if (!step.refused)
            current = step.priority;
    }
    p.stop = true;
    t.join(30000);
    return differences.empty() ? "as expected\n" : differences;
}
} // namespace

// A user's nice holds for every thread: the steps count from the process's own nice value, within what a
// nice value can take, and a refusal is logged by setPriority itself.
TEST(thread, prioritiesCountFromTheNiceTheProcessWasStartedWith)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::fputs(underNiceFive(false, {{PRIORITY_BELOW_NORMAL, 10, false}, {PRIORITY_IDLE, 19, false},
                                             {PRIORITY_NORMAL, 19, true}})
                           .c_str(),
                       stderr);
            _exit(0);
        },
        testing::ExitedWithCode(0), "^as expected\n");
    if (!mayRaisePriority())
        GTEST_SKIP() << "raising a thread above normal needs CAP_SYS_NICE";
    EXPECT_EXIT(
        {
            std::fputs(underNiceFive(true, {{PRIORITY_TIME_CRITICAL, -15, false}, {PRIORITY_ABOVE_NORMAL, 0, false},
                                            {PRIORITY_IDLE, 19, false}, {PRIORITY_NORMAL, 5, false}})
                           .c_str(),
                       stderr);
            _exit(0);
        },
        testing::ExitedWithCode(0), "^as expected\n");
}

TEST(thread, killDetachesARunningThreadThatThenLeavesItsObjectAlone)
{
    captureLogger log;
    parked p;
    thread t("Stubborn", parkedEntry, &p);
    const pid_t tid = p.waitForStart();
    ASSERT_NE(tid, 0);
    t.kill();
    EXPECT_TRUE(log.contains("[Platform] Thread 'Stubborn' is still running: detached, not terminated\n"));
    EXPECT_TRUE(taskExists(tid));
    p.stop = true;
    EXPECT_EQ(t.join(30000), JOIN_ENDED);
    // Cut off from its object, the thread skips its last steps.
    EXPECT_TRUE(t.isRunning());
    EXPECT_FALSE(log.contains("Thread Terminated"));
}

TEST(thread, deletingARunningThreadLeavesItRunningUntilItEnds)
{
    captureLogger log;
    parked p;
    auto* t = new thread("Orphan", parkedEntry, &p);
    const pid_t tid = p.waitForStart();
    ASSERT_NE(tid, 0);
    delete t;
    EXPECT_TRUE(log.contains("[Platform] Thread 'Orphan' is still running: detached, not terminated\n"));
    EXPECT_TRUE(taskExists(tid));
    p.stop = true;
    tavrix::test::eventually([&] { return p.left.load() && !taskExists(tid); });
    EXPECT_FALSE(taskExists(tid));
    EXPECT_FALSE(log.contains("Thread Terminated"));
}

namespace {

// Workers that idle on a queue while their flag holds, each wait far longer than any join's bound: only the
// wake-up ends it in time.
struct idleWorkers {
    struct job {
        job* next;
    };
    std::atomic<bool> running{true};
    taskQueue<job> queue;
    int wakes = 0;
    bool flagClearedBeforeTheWake = false;

    static uint32_t entry(thread* self)
    {
        auto* workers = static_cast<idleWorkers*>(self->getArg());
        while (workers->running.load())
            workers->queue.waitWhileEmpty(workers->running, 600000);
        return 0;
    }
    static void wake(void* context)
    {
        auto* workers = static_cast<idleWorkers*>(context);
        ++workers->wakes;
        workers->flagClearedBeforeTheWake = !workers->running.load();
        workers->queue.wakeAll();
    }
};

} // namespace

TEST(stopWorkers, clearsTheFlagWakesTheWorkersOnceAndDeletesEachThatEnded)
{
    idleWorkers idle;
    thread* workers[3] = {new thread("Idle#0", idleWorkers::entry, &idle), nullptr,
                          new thread("Idle#2", idleWorkers::entry, &idle)};
    EXPECT_TRUE(stopWorkers(&idle.running, idleWorkers::wake, &idle, workers, 3, 30000));
    EXPECT_EQ(idle.wakes, 1);
    EXPECT_TRUE(idle.flagClearedBeforeTheWake);
    for (thread* worker : workers)
        EXPECT_EQ(worker, nullptr);
}

TEST(stopWorkers, aModuleWithoutItsWorkerOnlyHasItsFlagCleared)
{
    idleWorkers idle;
    thread* none = nullptr;
    EXPECT_TRUE(stopWorker(&idle.running, idleWorkers::wake, &idle, none, 30000));
    EXPECT_FALSE(idle.running.load());
    EXPECT_TRUE(stopWorkers(nullptr, idleWorkers::wake, &idle, nullptr, 0, 30000));
    EXPECT_EQ(idle.wakes, 0);
}

// The worker waits for the test, not for its flag: it cannot end within the bound, whatever the machine.
TEST(stopWorkers, aWorkerStillRunningAfterTheBoundKeepsItsObjectUntilItsOwnerLetsItGo)
{
    captureLogger log;
    std::atomic<bool> running{true};
    parked p;
    thread* worker = new thread("Held", parkedEntry, &p);
    ASSERT_NE(p.waitForStart(), 0);
    EXPECT_FALSE(stopWorker(&running, nullptr, nullptr, worker, 50));
    ASSERT_NE(worker, nullptr);
    EXPECT_TRUE(worker->isRunning());
    EXPECT_FALSE(log.contains("is still running: detached"));

    letWorkerGo(worker);
    EXPECT_EQ(worker, nullptr);
    EXPECT_TRUE(workerLeftBehind());
    EXPECT_TRUE(log.contains("[Platform] Thread 'Held' is still running: detached, not terminated\n"));
    p.stop = true;
    EXPECT_TRUE(tavrix::test::eventually([&] { return p.left.load(); }));
}

namespace {
uint32_t throwingEntry(thread*) { TAVRIX_FATAL("worker gave up: %d", 5); }
} // namespace

TEST(thread, exceptionEscapingTheEntryEndsTheProcessWithAReport)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            thread t("Thrower", throwingEntry, nullptr);
            t.join(60000);
        },
        testing::ExitedWithCode(1), "An Fatal Error occured,.*Detail:\nworker gave up: 5\n");
}

TEST(clock, countsMillisecondsFromItsStart)
{
    EXPECT_GE(tavrix::getTimeMs(), 0);
    tavrix::clockStart();
    const int32_t start = tavrix::getTimeMs();
    EXPECT_GE(start, 0);
    EXPECT_LT(start, 1000);
    tavrix::sys::sleepMs(50);
    // Both readings are truncated to whole milliseconds.
    EXPECT_GE(tavrix::getTimeMs() - start, 49);
}

TEST(clock, frameStampIsWhatWasStored)
{
    for (int32_t stamp : {0, 123456, -5, INT32_MAX}) {
        tavrix::client::setFrameTimeMs(stamp);
        EXPECT_EQ(tavrix::client::getFrameTimeMs(), stamp);
    }
}
