// How the program ends when it is asked to at awkward moments: a close request before the window exists,
// and a window closed while a start-up step is stuck.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "clientenv.h"
#include "support/clientprocess.h"
#include "support/tempdir.h"
#include "support/udplistener.h"

namespace {

using tavrix::test::clientProcess;
using tavrix::test::CLIENT_ENV;

// Generous: a loaded machine under the sanitizers starts slowly.
constexpr int START_MS = 60000;
constexpr int CLOSE_MS = 20000;

const std::string SMALL_WINDOW = "20131017\n11:video.width:i:320\n12:video.height:i:240\n";

bool hasDisplay() { return std::getenv("DISPLAY") != nullptr; }

// The log's time, in seconds, of the first line holding the text; -1 when there is none.
double secondsOf(const std::string& log, const std::string& text)
{
    const size_t found = log.find(text);
    if (found == std::string::npos)
        return -1;
    const size_t lineStart = log.rfind("\r\n", found);
    double seconds = -1;
    std::sscanf(log.c_str() + (lineStart == std::string::npos ? 0 : lineStart + 2), "[%lf]", &seconds);
    return seconds;
}

// SIGTERM as soon as the logger's console says hello, long before the window exists: the request waits for
// the window, which then closes as a window manager's close would close it.
TEST(shutdownProcess, closeRequestBeforeTheWindowWaitsForIt)
{
    if (!hasDisplay())
        GTEST_SKIP() << "needs a display (the test suite runs under Xvfb)";
    tavrix::test::tempDir dir;
    dir.write("cvar.db", SMALL_WINDOW);
    tavrix::test::udpListener console(5555);
    ASSERT_TRUE(console.bound());

    clientProcess client(TAVRIX_BINARY, true, CLIENT_ENV);
    const auto hello = console.receiveUntil('H', START_MS);
    ASSERT_FALSE(hello.empty());
    ASSERT_EQ(hello.back(), std::string("Hclient\0", 8));
    client.signal(SIGTERM);
    EXPECT_EQ(client.wait(START_MS + CLOSE_MS), 0) << "the signal ended the process";
    EXPECT_EQ(client.stderrText(), "");

    const std::string log = dir.read("client.log");
    const double started = secondsOf(log, "Initialization successful\r\n");
    const double closing = secondsOf(log, "Finalization - Begin\r\n");
    ASSERT_GE(started, 0) << log;
    ASSERT_GE(closing, started) << log;
    // Without an asset server the update itself closes the window, but only ten seconds after its report.
    EXPECT_LT(closing - started, 9.0) << log;
    EXPECT_NE(log.find("Finalization - Finished\r\n"), std::string::npos) << log;
    EXPECT_NE(dir.read("cvar.db").find("11:video.width:i:320\n"), std::string::npos);
}

} // namespace
