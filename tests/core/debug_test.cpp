// The memory report: reading the process's counters from /proc and the five report lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/debug.h"
#include "support/capturelogger.h"

namespace {

using tavrix::sys::processMemoryCounters;

const char* const statusText = "Name:\tx\nVmPeak:\t    3060 kB\nVmSize:\t    2048 kB\nVmHWM:\t    1024 kB\n"
                               "VmRSS:\t    1023 kB\nRssAnon:\t     112 kB\n";
// The command name may hold spaces and parentheses.
const char* const statText = "4242 (a) b (c) S 1 2 3 4 5 6 700 8 90 10 11 12\n";

TEST(debugTest, parsesProcFiles)
{
    processMemoryCounters c{};
    ASSERT_TRUE(tavrix::sys::parseProcessMemory(statusText, statText, &c));
    EXPECT_EQ(c.workingSet, 1023u * 1024);
    EXPECT_EQ(c.peakWorkingSet, 1024u * 1024);
    EXPECT_EQ(c.privateUsage, 2048u * 1024);
    EXPECT_EQ(c.peakPrivateUsage, 3060u * 1024);
    EXPECT_EQ(c.pageFaults, 790u);

    EXPECT_FALSE(tavrix::sys::parseProcessMemory("VmRSS:\t 1 kB\n", statText, &c));
    EXPECT_FALSE(tavrix::sys::parseProcessMemory(statusText, "4242 (a) S 1 2\n", &c));
    EXPECT_FALSE(tavrix::sys::parseProcessMemory(statusText, "no parenthesis", &c));
}

TEST(debugTest, reportLines)
{
    tavrix::test::captureLogger captured;
    captured.clear();
    const processMemoryCounters c{1048575, 1048576, (uint64_t(5000) << 20) + 1048575, uint64_t(70000) << 20, 123456};
    debug_logMemoryCounters(&c);
    EXPECT_EQ(captured.texts(tavrix::util::LOG_INFO),
              (std::vector<std::string>{"-=-=-=-=- Process Memory Stats =--=-=-=-\n", "Working Set: 0 MiB (Peak: 1 MiB)\n",
                                        "Commit Charge: 5000 MiB (Peak: 70000 MiB)\n", "Page Faults: 123456\n",
                                        "-=-=--=-=--=-=--=-=--=-=--=-=--=-=--=-=-\n"}));

    captured.clear();
    debug_logMemoryCounters(nullptr);
    EXPECT_EQ(captured.texts(), std::vector<std::string>{"logProcessMemoryStats: Failed to retrieve Memory Counters [2]\n"});
}

TEST(debugTest, reportsThisProcess)
{
    tavrix::test::captureLogger captured;
    captured.clear();
    debug_logProcessMemoryStats();
    const auto lines = captured.texts(tavrix::util::LOG_INFO);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1].rfind("Working Set: ", 0), 0u);
    EXPECT_NE(lines[1], "Working Set: 0 MiB (Peak: 0 MiB)\n");
}

} // namespace
