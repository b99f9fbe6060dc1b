// The client's shutdown when a start-up step does not stop: the workers that can be stopped are, the
// settings are saved as they stand, one line says why the process ends, and the console hears it stop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "client/client.h"
#include "client/clientlogger.h"
#include "client/cvar.h"
#include "client/orderedasyncstartupmgr.h"
#include "client/sound.h"
#include "client/timer.h"
#include "client/vfs.h"
#include "platformlib/platform.h"
#include "support/tempdir.h"
#include "support/udplistener.h"

namespace {

std::atomic<bool> stepEntered{false};

// Stuck for other reasons than the shutdown knows of: it never looks at the stop request.
void stuckStep()
{
    stepEntered = true;
    for (;;) {
        tavrix::cvar::set("step.progress", tavrix::cvar::getInt("step.progress") + 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// The client as its start-up leaves it, as far as the shutdown's left-behind path goes, then its shutdown.
void startThenShutDown()
{
    tavrix::client::createLogger();
    platform_init();
    tavrix::cvar::init();
    tavrix::cvar::initialize("kept", 7, 1);
    timer_init();
    tavrix::vfs::init();
    tavrix::sound::init();
    tavrix::orderedAsyncStartupMgr::init();
    tavrix::orderedAsyncStartupMgr::add("stuck", stuckStep);
    tavrix::orderedAsyncStartupMgr::start();
    while (!stepEntered)
        std::this_thread::yield();
    tavrix::client::final();
}

TEST(leftBehindTest, aStepThatDoesNotStopEndsTheProcessAfterTheSave)
{
    GTEST_FLAG_SET(death_test_style, "fast");
    tavrix::test::tempDir dir;
    tavrix::test::udpListener console(5555);
    ASSERT_TRUE(console.bound());
    setenv("ALSOFT_DRIVERS", "null", 1);
    // Nothing on stderr: no report of the race detector either.
    EXPECT_EXIT(startThenShutDown(), testing::ExitedWithCode(0), "^$");

    const std::string log = dir.read("client.log");
    for (const std::string line :
         {"(WARN)    orderedAsyncStartupMgr::cleanup(): step stuck is still running after 2000 ms - left behind\r\n",
          "(INFO)    sound::worker - terminating\r\n", "(INFO)    vfs::worker: terminating.\r\n",
          "(WARN)    client::final() -> a start-up step is still running: the settings are saved and the process ends without its shutdown\r\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << log;
    // Nothing was released or finalised under the step.
    for (const std::string absent : {"vfs::final", "cvar::final", "memleak", "[Platform] ~Pool"})
        EXPECT_EQ(log.find(absent), std::string::npos) << absent << log;
    EXPECT_FALSE(dir.exists("memleak.log"));
    const std::string saved = dir.read("cvar.db");
    EXPECT_EQ(saved.rfind("20131017\n", 0), 0u) << saved;
    for (const std::string entry : {"4:kept:i:7\n", "16:timer.worker.num:i:2\n", "11:vfs.nWorker:i:2\n"})
        EXPECT_NE(saved.find(entry), std::string::npos) << entry << saved;
    const auto datagrams = console.receiveUntil('S', 5000);
    ASSERT_FALSE(datagrams.empty());
    EXPECT_EQ(datagrams.back(), std::string("Sclient\0", 8));
}

} // namespace
