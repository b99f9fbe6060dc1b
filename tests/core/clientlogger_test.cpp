// The client logger: its clock, client.log, the UDP console, the OpenGL debug callback, the error
// reporter for keyed tables, and the stand-in handed out while it does not exist.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "client/clientlogger.h"
#include "client/windowing.h"
#include "platformlib/posix/thread.h"
#include "support/capturelogger.h"
#include "support/tempdir.h"
#include "support/threadnames.h"
#include "support/udplistener.h"

namespace {

using tavrix::util::LOG_ERROR;
using tavrix::util::LOG_INFO;
using tavrix::util::LOG_WARN;

TEST(clientLoggerTest, fileConsoleAndClock)
{
    tavrix::test::tempDir dir;
    tavrix::test::udpListener console(5555);
    ASSERT_TRUE(console.bound());

    tavrix::client::createLogger();
    tavrix::util::logger* out = tavrix::getLogger();
    out->logEx(LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "before the windowing library\n");
    // Percent signs in the reported text are not interpreted again.
    tavrix::client::logErrorPrintf("%s and %d%%\n", "50%d", 7);
    out->logEx(LOG_WARN, __FILE__, __LINE__, TAVRIX_FUNC, "warned\n");
    EXPECT_TRUE(tavrix::client::destroyLogger());
    EXPECT_TRUE(tavrix::client::destroyLogger());

    EXPECT_EQ(dir.read("client.log"),
              "[0.00000] (INFO)    [Platform] Acquired this logger for [Platform] logging\r\n"
              "[0.00000] (INFO)    Enabled UDP Logging to 127.0.0.1:5555\r\n"
              "[0.00000] (INFO)    before the windowing library\r\n"
              "[0.00000] (ERROR)   50%d and 7%\r\n"
              "[0.00000] (WARN)    warned\r\n");

    const auto datagrams = console.receiveUntil('S', 5000);
    ASSERT_GE(datagrams.size(), 2u);
    EXPECT_EQ(datagrams.front(), std::string("Hclient\0", 8));
    EXPECT_EQ(datagrams.back(), std::string("Sclient\0", 8));
    bool reported = false;
    for (const auto& d : datagrams)
        reported = reported || (d.size() > 10 && d[0] == 'M' && d[9] == LOG_ERROR && d.substr(10) == std::string("50%d and 7%\n\0", 13));
    EXPECT_TRUE(reported);
}

TEST(clientLoggerTest, standInWhileTheLoggerDoesNotExist)
{
    // Before creation the lines reach the platform logger; the error reporter stays silent.
    {
        tavrix::test::captureLogger captured;
        ASSERT_NE(tavrix::getLogger(), nullptr);
        tavrix::getLogger()->logEx(LOG_WARN, "client/x.cpp", 3, "tavrix::x", "via %s\n", "stand-in");
        tavrix::client::logErrorPrintf("dropped\n");
        const auto lines = captured.lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1].text, "via stand-in\n");
        EXPECT_EQ(lines[1].function, "tavrix::x");
        EXPECT_EQ(lines[1].line, 3);
    }
    // After destruction a late thread still gets a logger, which discards.
    tavrix::test::tempDir dir;
    tavrix::client::createLogger();
    tavrix::client::destroyLogger();
    const std::string written = dir.read("client.log");
    std::thread late([] { tavrix::getLogger()->logEx(LOG_ERROR, __FILE__, __LINE__, TAVRIX_FUNC, "too late\n"); });
    late.join();
    EXPECT_EQ(dir.read("client.log"), written);
}

// The stand-in is no logger of its own: the only worker is the client logger's, while it exists.
TEST(clientLoggerTest, standInRunsNoWorker)
{
    tavrix::getLogger()->logEx(LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "stand-in\n");
    EXPECT_EQ(tavrix::test::threadsNamed("Logger - Worker"), 0);
    tavrix::test::tempDir dir;
    tavrix::client::createLogger();
    EXPECT_EQ(tavrix::test::threadsNamed("Logger - Worker"), 1);
    tavrix::client::destroyLogger();
    tavrix::getLogger()->logEx(LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "stand-in again\n");
    EXPECT_EQ(tavrix::test::threadsNamed("Logger - Worker"), 0);
}

// While threads that may still log remain (an exception escaped on the main thread, and the process ends
// right after), the logger is stopped but kept: one that holds it logs into nothing.
TEST(clientLoggerTest, keptForThreadsThatMayStillLog)
{
    tavrix::test::tempDir dir;
    tavrix::test::udpListener console(5555);
    ASSERT_TRUE(console.bound());
    tavrix::client::createLogger();
    // Held as the start-up executor holds it, across the destruction; kept reachable for the leak check.
    static tavrix::util::logger* const held = tavrix::getLogger();
    held->logEx(LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "before\n");
    std::atomic<bool> stopped{false};
    std::thread late([&] {
        while (!stopped) {
            held->logEx(LOG_ERROR, __FILE__, __LINE__, TAVRIX_FUNC, "late\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        held->logEx(LOG_ERROR, __FILE__, __LINE__, TAVRIX_FUNC, "too late\n");
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    tavrix::client::destroyLogger(true);
    stopped = true;
    late.join();
    EXPECT_NE(tavrix::getLogger(), held);
    const std::string written = dir.read("client.log");
    EXPECT_NE(written.find("(INFO)    before\r\n"), std::string::npos);
    EXPECT_EQ(written.find("too late"), std::string::npos);
    const auto datagrams = console.receiveUntil('S', 5000);
    ASSERT_FALSE(datagrams.empty());
    EXPECT_EQ(datagrams.back(), std::string("Sclient\0", 8));
}

// client.log is a pipe whose reader stops reading: the worker stays in its write, holding the file, and the
// destruction says so, so that the process does not end through another flush of that file.
TEST(clientLoggerTest, aWorkerStuckInAWriteIsReported)
{
    tavrix::test::tempDir dir;
    ASSERT_EQ(mkfifo("client.log", 0600), 0);
    const int reader = open("client.log", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    // The smallest pipe: a page's worth of lines fills it.
    ASSERT_GT(fcntl(reader, F_SETPIPE_SZ, 4096), 0);
    tavrix::client::createLogger();
    const std::string text(200, 'x');
    for (int i = 0; i < 100; ++i)
        tavrix::getLogger()->logEx(LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "%s\n", text.c_str());
    EXPECT_FALSE(tavrix::client::destroyLogger());

    // Read on, so that the worker leaves its write, ends and closes the file: the pipe then ends.
    bool ended = false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!ended && std::chrono::steady_clock::now() < until) {
        pollfd ready{reader, POLLIN, 0};
        poll(&ready, 1, 100);
        char bytes[4096];
        ended = read(reader, bytes, sizeof(bytes)) == 0;
    }
    EXPECT_TRUE(ended);
    close(reader);
}

TEST(clientLoggerTest, glDebugNames)
{
    struct {
        uint32_t source, type, severity;
        const char* text;
    } const cases[] = {
        {0x8248, 0x824C, 0x826B, "GL Debug: [Notify] -> Error in ShaderCompiler\nMessage:\nsome text\n"},
        {0x8246, 0x824D, 0x9146, "GL Debug: [High] -> DeprecatedBehavior in Api\nMessage:\nsome text\n"},
        {0x824A, 0x8250, 0x9148, "GL Debug: [Low] -> Performance in Application\nMessage:\nsome text\n"},
        {0x824C, 0x8252, 0x9149, "GL Debug: [UNKOWN] -> UNKNOWN in UNKNOWN\nMessage:\nsome text\n"},
    };
    for (const auto& c : cases) {
        tavrix::test::captureLogger captured;
        tavrix::clientLogger::glDebugLogARB(c.source, c.type, 1, c.severity, 9, "some text", nullptr);
        EXPECT_EQ(captured.texts(LOG_WARN), std::vector<std::string>{c.text});
    }
}

TEST(clientLoggerTest, clockFollowsTheWindowingLibrary)
{
    tavrix::test::tempDir dir;
    tavrix::client::createLogger();
    auto* logger = static_cast<tavrix::clientLogger*>(tavrix::getLogger());
    EXPECT_EQ(logger->getTime(), 0);
    if (tavrix::windowing::init() != 1) {
        tavrix::client::destroyLogger();
        GTEST_SKIP() << "no display for the windowing library";
    }
    tavrix::sys::sleepMs(30);
    const int64_t logged = logger->getTime();
    const int32_t shared = tavrix::getTimeMs();
    EXPECT_GE(logged, 30);
    EXPECT_LE(logged - shared, 50);
    EXPECT_LE(shared - logged, 50);
    tavrix::windowing::terminate();
    EXPECT_EQ(logger->getTime(), 0);
    tavrix::client::destroyLogger();
}

} // namespace
