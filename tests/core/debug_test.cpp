// The memory report: reading the process's counters from /proc and the five report lines.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <string>
#include <vector>

#include "client/debug.h"
#include "support/capturelogger.h"

namespace {

using tavrix::sys::processMemoryCounters;

const char* const statusText = "Name:\tx\nVmPeak:\t 2119680 kB\nVmSize:\t 2119680 kB\nVmHWM:\t    1024 kB\n"
                               "VmRSS:\t    1023 kB\nRssAnon:\t     112 kB\nVmData:\t     900 kB\nVmStk:\t     132 kB\n";
// The command name may hold spaces and parentheses.
const char* const statText = "4242 (a) b (c) S 1 2 3 4 5 6 700 8 90 10 11 12\n";

TEST(debugTest, parsesProcFiles)
{
    processMemoryCounters c{};
    ASSERT_TRUE(tavrix::sys::parseProcessMemory(statusText, statText, &c));
    EXPECT_EQ(c.workingSet, 1023u * 1024);
    EXPECT_EQ(c.peakWorkingSet, 1024u * 1024);
    // The commit charge is the private writable memory, not the reserved address space of VmSize.
    EXPECT_EQ(c.privateUsage, (900u + 132u) * 1024);
    EXPECT_EQ(c.peakPrivateUsage, c.privateUsage);
    EXPECT_EQ(c.pageFaults, 790u);

    EXPECT_FALSE(tavrix::sys::parseProcessMemory("VmRSS:\t 1 kB\n", statText, &c));
    EXPECT_FALSE(tavrix::sys::parseProcessMemory(statusText, "4242 (a) S 1 2\n", &c));
    EXPECT_FALSE(tavrix::sys::parseProcessMemory(statusText, "no parenthesis", &c));
}

// The commit charge follows the writable memory the process maps, not address space it only reserves; its
// peak keeps the largest any read has seen.
TEST(debugTest, commitChargeAndItsPeak)
{
    constexpr size_t MAPPED = size_t(256) << 20;
    processMemoryCounters before{}, reserved{}, mapped{}, after{};
    ASSERT_TRUE(tavrix::sys::queryProcessMemory(&before));
    void* reservation = mmap(nullptr, MAPPED, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(reservation, MAP_FAILED);
    ASSERT_TRUE(tavrix::sys::queryProcessMemory(&reserved));
    munmap(reservation, MAPPED);
    void* block = mmap(nullptr, MAPPED, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(block, MAP_FAILED);
    ASSERT_TRUE(tavrix::sys::queryProcessMemory(&mapped));
    munmap(block, MAPPED);
    ASSERT_TRUE(tavrix::sys::queryProcessMemory(&after));
    EXPECT_LT(reserved.privateUsage, before.privateUsage + MAPPED / 2);
    EXPECT_GE(mapped.privateUsage, before.privateUsage + MAPPED / 2);
    EXPECT_LE(after.privateUsage, mapped.privateUsage - MAPPED / 2);
    EXPECT_GE(after.peakPrivateUsage, mapped.privateUsage);
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
