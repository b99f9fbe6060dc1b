// The ordered start-up: steps in order on the executor with their log lines, a step that throws, a step
// added too late, and cleanup while a step still runs (one that checks the shutdown flag, one that does not).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <GLFW/glfw3.h>

#include "client/orderedasyncstartupmgr.h"
#include "client/windowing.h"
#include "platformlib/util/exception.h"
#include "support/eventually.h"
#include "support/modulerun.h"
#include "support/threadnames.h"

using namespace std::chrono_literals;
namespace startupMgr = tavrix::orderedAsyncStartupMgr;
using tavrix::util::LOG_ERROR;
using tavrix::util::LOG_INFO;
using tavrix::util::LOG_WARN;
using tavrix::test::eventually;

namespace {

constexpr char COMPLETE[] = "Ordered asynchronous Initializations Complete\n";

// Steps take no argument: what they share with the test lives here.
std::mutex stepsLock;
std::vector<std::string> stepsRun;
void ranStep(const char* name)
{
    std::lock_guard<std::mutex> guard(stepsLock);
    stepsRun.push_back(name);
}
std::vector<std::string> ranSteps()
{
    std::lock_guard<std::mutex> guard(stepsLock);
    return stepsRun;
}

std::atomic<int> closeRequests{0};
void requestClose() { closeRequests.fetch_add(1); }

const tavrix::test::testModule STARTUP = {"ordered start-up",
                                          [] {
                                              stepsRun.clear();
                                              closeRequests = 0;
                                              startupMgr::init();
                                              startupMgr::setCloseAction(requestClose);
                                          },
                                          [] { EXPECT_TRUE(startupMgr::cleanup()); }};

class startupTest : public tavrix::test::moduleTest {
protected:
    void SetUp() override { start({tavrix::test::ALLOCATOR, STARTUP}); }

    // The executor's own lines, in order.
    std::vector<std::string> executorLines(uint32_t mask = 0xFFFFFFFF)
    {
        std::vector<std::string> texts;
        for (const auto& line : captured.lines())
            if (line.file == "client/orderedasyncstartupmgr.cpp" && (line.level & mask))
                texts.push_back(line.text);
        return texts;
    }
    bool waitForLine(const std::string& text) { return eventually([&] { return captured.contains(text); }); }
};

void vfsStep() { ranStep("VFS"); }
void textureStep() { ranStep("TextureMgr"); }
void worldStep() { ranStep("worldFactory"); }
void blockStep() { ranStep("blockTypeRegistry"); }
void clientStep() { ranStep("client"); }

TEST_F(startupTest, RunsTheStepsInOrderWithTheirLogLines)
{
    const std::pair<const char*, startupMgr::startupStep> steps[] = {
        {"VFS", vfsStep}, {"TextureMgr", textureStep}, {"worldFactory", worldStep}, {"blockTypeRegistry", blockStep}, {"client", clientStep},
    };
    for (const auto& [name, fn] : steps) {
        // The name is copied: the caller's string goes away at once.
        std::string* transient = new std::string(name);
        startupMgr::add(transient->c_str(), fn);
        delete transient;
    }
    startupMgr::start();
    ASSERT_TRUE(waitForLine(COMPLETE));

    EXPECT_EQ(ranSteps(), (std::vector<std::string>{"VFS", "TextureMgr", "worldFactory", "blockTypeRegistry", "client"}));
    const std::vector<std::string> lines = executorLines(LOG_INFO);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "Running ordered asynchronous Initializations\n");
    for (size_t i = 0; i < 5; ++i)
        EXPECT_TRUE(lines[i + 1].starts_with("Async Initialization of " + std::string(steps[i].first) + " took ") && lines[i + 1].ends_with(" ms\n")) << lines[i + 1];
    EXPECT_EQ(lines[6], COMPLETE);
    EXPECT_TRUE(captured.contains("[Platform] New Thread 'Ordered Async Startup - Executor'\n"));
}

// Added after the executor found the list empty: never run, freed by cleanup (TearDown's leak check).
TEST_F(startupTest, StepAddedAfterTheLastOneIsNeverRun)
{
    startupMgr::start();
    ASSERT_TRUE(waitForLine(COMPLETE));
    startupMgr::add("late", clientStep);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(ranSteps().empty());
}

void okStep() { ranStep("ok"); }
void afterStep() { ranStep("after"); }
void fatalStep() { TAVRIX_FATAL("step %s broke\n", "two"); }
void exceptionStep() { throw new tavrix::util::Exception("plain failure %d\n", 2); }
void unknownStep() { throw 42; }

TEST_F(startupTest, StepThatThrowsIsReportedAndStopsTheSequence)
{
    struct thrower {
        startupMgr::startupStep fn;
        const char* report;
    };
    const thrower cases[] = {
        {fatalStep, "An Fatal Error occured,\nif this Problem persists, please contact us\n\nDetail:\nstep two broke\n\n\nFile: tests/core/orderedasyncstartupmgr_test.cpp:"},
        {exceptionStep, "An unhandled Exception occured,\nif this Problem persists, please contact us\n\nDetail:\nplain failure 2\n\n\nFile: "},
        {unknownStep, "An unknown unhandled Exception occured,\nif this Problem persists, please contact us\n"},
    };
    for (const thrower& c : cases) {
        SCOPED_TRACE(c.report);
        captured.clear();
        stepsRun.clear();
        closeRequests = 0;
        startupMgr::add("ok", okStep);
        startupMgr::add("broken", c.fn);
        startupMgr::add("after", afterStep);
        startupMgr::start();
        EXPECT_TRUE(eventually([] { return closeRequests.load() != 0; }));
        EXPECT_TRUE(startupMgr::cleanup());

        EXPECT_EQ(closeRequests.load(), 1);
        EXPECT_EQ(ranSteps(), std::vector<std::string>{"ok"});
        const std::vector<std::string> errors = executorLines(LOG_ERROR);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_TRUE(errors[0].starts_with(c.report)) << errors[0];
        EXPECT_FALSE(captured.contains(COMPLETE));
        EXPECT_TRUE(captured.contains("[Platform] Thread Terminated 'Ordered Async Startup - Executor' (ExitCode: 1)\n"));
        startupMgr::init();
    }
}

// The update asks the window to close and returns: the steps after it wait on what it never fetched.
void closingStep()
{
    ranStep("closing");
    tavrix::client::requestClose();
}

TEST_F(startupTest, AStepThatAsksForTheCloseIsTheLastToRun)
{
    if (tavrix::windowing::init() != GLFW_TRUE)
        GTEST_SKIP() << "needs a display (the test suite runs under Xvfb)";
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    glfwWindowHint(GLFW_CLIENT_API, GLFW_NO_API);
    tavrix::client::window = glfwCreateWindow(64, 64, "closing", nullptr, nullptr);
    ASSERT_NE(tavrix::client::window, nullptr);
    EXPECT_FALSE(startupMgr::shuttingDown());
    startupMgr::add("closing", closingStep);
    startupMgr::add("after", afterStep);
    startupMgr::start();
    ASSERT_TRUE(waitForLine("Async Initialization of closing took "));
    EXPECT_TRUE(startupMgr::shuttingDown());
    // The executor ends after the step; cleanup's join then waits for nothing.
    EXPECT_TRUE(startupMgr::cleanup());
    glfwDestroyWindow(tavrix::client::window);
    tavrix::client::window = nullptr;
    tavrix::windowing::terminate();

    EXPECT_EQ(ranSteps(), std::vector<std::string>{"closing"});
    EXPECT_FALSE(captured.contains(COMPLETE));
    EXPECT_TRUE(captured.contains("[Platform] Thread Terminated 'Ordered Async Startup - Executor' (ExitCode: 0)\n"));
}

// A long step that watches the shutdown flag.
void cooperativeStep()
{
    ranStep("cooperative");
    while (!startupMgr::shuttingDown())
        std::this_thread::sleep_for(1ms);
}

struct gate {
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;
} blockerGate;

// A step that ignores the flag until the test lets it go.
void blockingStep()
{
    std::unique_lock<std::mutex> guard(blockerGate.lock);
    blockerGate.entered = true;
    blockerGate.changed.notify_all();
    blockerGate.changed.wait(guard, [] { return blockerGate.open; });
}

TEST_F(startupTest, CleanupStopsAStepThatWatchesTheShutdownFlag)
{
    startupMgr::add("cooperative", cooperativeStep);
    startupMgr::add("after", afterStep);
    startupMgr::start();
    ASSERT_TRUE(eventually([] { return !ranSteps().empty(); }));

    // True: the step ended within the bound.
    EXPECT_TRUE(startupMgr::cleanup());
    EXPECT_EQ(ranSteps(), std::vector<std::string>{"cooperative"});
    EXPECT_FALSE(captured.contains(COMPLETE));
}

TEST_F(startupTest, CleanupLeavesABlockedStepBehindAfterItsBound)
{
    startupMgr::add("blocker", blockingStep);
    startupMgr::add("after", afterStep);
    startupMgr::start();
    {
        std::unique_lock<std::mutex> guard(blockerGate.lock);
        ASSERT_TRUE(blockerGate.changed.wait_for(guard, tavrix::test::EVENTUALLY_LIMIT, [] { return blockerGate.entered; }));
    }

    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(startupMgr::cleanup());
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_GE(took, std::chrono::milliseconds(startupMgr::CLEANUP_WAIT_MS));
    // Bounded: a loaded machine may add some seconds, but not a wait for the step.
    EXPECT_LT(took, std::chrono::milliseconds(startupMgr::CLEANUP_WAIT_MS) + 20s);
    EXPECT_EQ(executorLines(LOG_WARN), std::vector<std::string>{"orderedAsyncStartupMgr::cleanup(): step blocker is still running after 2000 ms - left behind\n"});

    ASSERT_EQ(tavrix::test::threadsNamed("Ordered Async S"), 1) << "the executor is held in its step";

    // Let the step end: it runs nothing more, and the next cleanup frees what it left listed.
    {
        std::lock_guard<std::mutex> guard(blockerGate.lock);
        blockerGate.open = true;
        blockerGate.changed.notify_all();
    }
    ASSERT_TRUE(eventually([&] {
        for (const auto& text : executorLines(LOG_INFO))
            if (text.starts_with("Async Initialization of blocker took "))
                return true;
        return false;
    }));
    // The abandoned executor frees its entry before it ends (TearDown's leak check).
    EXPECT_TRUE(eventually([] { return tavrix::test::threadsNamed("Ordered Async S") == 0; }));
    EXPECT_TRUE(ranSteps().empty());
    EXPECT_FALSE(captured.contains(COMPLETE));
}

} // namespace
