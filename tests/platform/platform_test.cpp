#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "platformlib/allocator/roalloc.h"
#include "platformlib/cpuinfo.h"
#include "platformlib/platform.h"
#include "platformlib/util/exception.h"
#include "platformlib/util/logger.h"
#include "support/capturelogger.h"
#include "support/tempdir.h"

using testing::HasSubstr;
using tavrix::test::captureLogger;
using tavrix::util::LOG_ERROR;
using tavrix::util::LOG_INFO;

namespace {

// Runs before main, like the client's other static initialisers: the platform logger must already work.
struct loggerBeforeMain {
    tavrix::util::loggerInterface* seen;
    loggerBeforeMain() : seen(platform_getLogger())
    {
        PLATFORM_LOG(LOG_INFO, "static initialiser %d\n", 1);
    }
} loggedBeforeMain;

TEST(PlatformLogger, ValidBeforeMain)
{
    EXPECT_NE(loggedBeforeMain.seen, nullptr);
    EXPECT_EQ(loggedBeforeMain.seen, platform_getLogger());
}

TEST(PlatformLogger, InstalledLoggerReceivesTheAcquiredLine)
{
    captureLogger capture;
    EXPECT_EQ(platform_getLogger(), &capture);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, LOG_INFO);
    EXPECT_EQ(lines[0].text, "[Platform] Acquired this logger for [Platform] logging\n");
    EXPECT_EQ(lines[0].file, "platformlib/hooks.cpp");
    EXPECT_EQ(lines[0].function, "platform_setLogger");
}

TEST(PlatformLogger, NullInstallsTheNullLoggerWhichSilencesEvenTheAcquiredLine)
{
    captureLogger capture;
    capture.clear();
    platform_setLogger(nullptr);
    EXPECT_NE(platform_getLogger(), nullptr);
    EXPECT_NE(platform_getLogger(), &capture);
    PLATFORM_LOG(LOG_ERROR, "dropped %s\n", "line");
    EXPECT_TRUE(capture.lines().empty());
}

class noTimers : public timerSystem {
public:
    int32_t timer_add(int32_t, callback, void*, void*) override { return -1; }
    int32_t add(int32_t, int32_t, callback, void*, void*) override { return -1; }
    void del(int32_t) override {}
};

TEST(PlatformHooks, TimerSystemIsStoredAndAnnounced)
{
    captureLogger capture;
    capture.clear();
    noTimers timers;
    platform_setTimerSystem(&timers);
    EXPECT_EQ(platform_getTimerSystem(), &timers);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "[Platform] Timer System set!\n");
    EXPECT_EQ(lines[0].function, "platform_setTimerSystem");
    // Cleared at shutdown: nothing is set, nothing is announced.
    capture.clear();
    platform_setTimerSystem(nullptr);
    EXPECT_EQ(platform_getTimerSystem(), nullptr);
    EXPECT_TRUE(capture.lines().empty());
}

TEST(BuildNumber, TableOfDates)
{
    struct {
        const char* date;
        int32_t build;
    } cases[] = {
        {"Oct 13 2013 00:00:00", 0},
        {"oct 13 2013 12:30:00", 0}, // month names compare without case
        {"Feb  9 2015 21:09:43", 484},
        {"Dec 31 2013 23:59:59", 79}, // no month name matches: December, 334 days before it
        {"Jan  1 2015 00:00:00", 445},
        {"Feb 28 2015 00:00:00", 503},
        {"Mar  1 2015 00:00:00", 504},
        // 2016 is a leap year: January and February are counted as usual, March onwards one day more.
        {"Jan  1 2016 00:00:00", 810},
        {"Feb 28 2016 00:00:00", 868},
        {"Feb 29 2016 00:00:00", 869},
        {"Mar  1 2016 00:00:00", 870},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform_buildNumberOf(c.date), c.build) << c.date;

    // The leap day shows as a gap of two between the last of February and the first of March.
    EXPECT_EQ(platform_buildNumberOf("Mar  1 2016 00:00:00") - platform_buildNumberOf("Feb 28 2016 00:00:00"), 2);
    EXPECT_EQ(platform_buildNumberOf("Mar  1 2015 00:00:00") - platform_buildNumberOf("Feb 28 2015 00:00:00"), 1);
}

TEST(BuildNumber, ThisBuildsNumberComesFromItsCompilerDate)
{
    const std::string date = platform_getBuildDate();
    ASSERT_EQ(date.size(), 20u); // "Mmm dd yyyy hh:mm:ss"
    EXPECT_EQ(date[11], ' ');
    EXPECT_EQ(date[14], ':');
    EXPECT_EQ(platform_getBuildNumber(), platform_buildNumberOf(date.c_str()));
    EXPECT_GT(platform_getBuildNumber(), 484);
}

TEST(Version, FormattedOnceFromNumbersBranchBuildAndDate)
{
    const char* first = platform_getVersionString();
    char expected[512];
    std::snprintf(expected, sizeof(expected), "1.0.0-feature/EAWebKit #%d (%s)", platform_getBuildNumber(),
                  platform_getBuildDate());
    EXPECT_STREQ(first, expected);
    EXPECT_EQ(platform_getVersionString(), first);
}

TEST(CpuCheck, FirstMissingFeatureInOrder)
{
    constexpr uint32_t cx8 = 1u << 8, mmx = 1u << 23, sse = 1u << 25, sse2 = 1u << 26;
    constexpr uint32_t all = cx8 | mmx | sse | sse2;
    struct {
        uint32_t edx;
        const char* message;
    } cases[] = {
        {all, nullptr},
        {0xFFFFFFFFu, nullptr},
        {all & ~cx8, "[Platform] CPU as no CX8 (CMPXCHG8B) Support\n"},
        {0, "[Platform] CPU as no CX8 (CMPXCHG8B) Support\n"},
        {all & ~mmx, "[Platform] CPU has no MMX Support\n"},
        {all & ~(mmx | sse2), "[Platform] CPU has no MMX Support\n"},
        {all & ~sse, "[Platform] CPU has no SSE Support\n"},
        {all & ~(sse | sse2), "[Platform] CPU has no SSE Support\n"},
        {all & ~sse2, "[Platform] CPU has no SSE2 Support\n"},
    };
    for (const auto& c : cases) {
        const char* missing = tavrix::cpuinfo_missingFeature(c.edx);
        if (c.message)
            EXPECT_STREQ(missing, c.message) << std::hex << c.edx;
        else
            EXPECT_EQ(missing, nullptr) << std::hex << c.edx;
    }
}

TEST(CpuReport, LinesInOrderWithTheMachinesFigures)
{
    captureLogger capture;
    capture.clear();
    tavrix::cpuinfo_init();
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 8u);
    for (const auto& l : lines) {
        EXPECT_EQ(l.level, LOG_INFO) << l.text;
        EXPECT_EQ(l.function, "tavrix::cpuinfo_init");
        EXPECT_EQ(l.file, "platformlib/cpuinfo.cpp");
    }
    EXPECT_EQ(lines[0].text, "[Platform] ~ ~ ~ ~ ~ CPU  INFO ~ ~ ~ ~ ~\n");
    EXPECT_EQ(lines[1].text.size(), std::strlen("[Platform] Vendor: \n") + 12) << lines[1].text;
    EXPECT_THAT(lines[2].text, testing::StartsWith("[Platform] Branding: "));
    unsigned stepping = 99, model = 99, family = 99, type = 99, logical = 0;
    EXPECT_EQ(std::sscanf(lines[3].text.c_str(), "[Platform] Stepping: %u, Model %u, Family %u, Type %u", &stepping,
                          &model, &family, &type),
              4);
    EXPECT_LT(stepping, 16u);
    EXPECT_LT(model, 16u);
    EXPECT_LT(family, 16u);
    EXPECT_LT(type, 4u);
    EXPECT_EQ(std::sscanf(lines[4].text.c_str(), "[Platform] Logical Processors: %u", &logical), 1);
    EXPECT_EQ(lines[5].text, "[Platform] ~ ~ ~ ~ ~ ~ ~ ~ ~ ~ ~ ~ ~ ~ ~\n");

    unsigned available = 0, total = 0, processes = 0, threads = 0;
    EXPECT_EQ(std::sscanf(lines[6].text.c_str(), "[Platform] System Memory Available: %u MiB / %u MiB", &available,
                          &total),
              2);
    EXPECT_GT(total, 0u);
    EXPECT_LE(available, total);
    EXPECT_EQ(std::sscanf(lines[7].text.c_str(), "[Platform] System has %u Processes and %u Threads running",
                          &processes, &threads),
              2);
    EXPECT_GE(processes, 1u);
    EXPECT_GE(threads, processes);
}

TEST(PlatformLifecycle, InitStartsTheAllocatorAndReportsTheCpuFinalChecksForLeaks)
{
    tavrix::test::tempDir dir;
    captureLogger capture;
    platform_init();
    EXPECT_TRUE(capture.contains("[Platform] ~ ~ ~ ~ ~ CPU  INFO ~ ~ ~ ~ ~\n"));
    void* block = roalloc(100);
    ASSERT_NE(block, nullptr);
    rofree(block);
    platform_final();
    EXPECT_FALSE(dir.exists("memleak.log"));
}

// A real logger writing one file, so a child's last lines can be read after it ended.
class fileLogger : public tavrix::util::logger {
public:
    explicit fileLogger(const std::string& path)
    {
        addLogFile(path.c_str(), 0xFFFFFFFFu);
        platform_setLogger(this);
    }
    ~fileLogger() override { platform_setLogger(nullptr); }
    int64_t getTime() override { return 0; }
};

TEST(FlushAndExit, LineLoggedJustBeforeTheExitReachesTheFile)
{
    tavrix::test::tempDir dir;
    const std::string path = dir.path() + "/exit.log";
    EXPECT_EXIT(
        {
            fileLogger logger(path);
            for (int i = 0; i < 200; ++i)
                PLATFORM_LOG(LOG_INFO, "filler %d\n", i);
            PLATFORM_LOG(LOG_ERROR, "[Platform] CPU has no SSE2 Support\n");
            platform_flushAndExit(3);
        },
        testing::ExitedWithCode(3), "");
    const std::string written = dir.read("exit.log");
    EXPECT_THAT(written, HasSubstr("filler 199"));
    EXPECT_THAT(written, HasSubstr("[Platform] CPU has no SSE2 Support"));
}

} // namespace

namespace platformTest {
void throwFatal() { TAVRIX_FATAL("pool '%s' exhausted", "vfs.files"); }
} // namespace platformTest

namespace {

// Throws on a thread of its own and reports from that thread's handler, as the workers do.
template <typename Throw>
void uncaughtOnWorker(const std::string& logPath, Throw throwIt)
{
    fileLogger logger(logPath);
    std::thread worker([&] {
        try {
            throwIt();
        } catch (...) {
            platform_exitOnUncaught();
        }
    });
    worker.join();
}

class ExitOnUncaught : public testing::Test {
protected:
    tavrix::test::tempDir dir;
    std::string logPath = dir.path() + "/uncaught.log";
    // The log file writes each line feed as CR LF: compare the report's first line.
    std::string logged() const { return dir.read("uncaught.log"); }
};

TEST_F(ExitOnUncaught, FatalErrorReportWithLocation)
{
    int32_t throwLine = 0;
    try {
        platformTest::throwFatal();
    } catch (FatalErrorException* e) {
        throwLine = e->getLine();
        delete e;
    }
    EXPECT_EXIT(uncaughtOnWorker(logPath, [] { platformTest::throwFatal(); }), testing::ExitedWithCode(1),
                HasSubstr("An Fatal Error occured,\nif this Problem persists, please contact us\n\nDetail:\npool "
                          "'vfs.files' exhausted\n\nFile: tests/platform/platform_test.cpp:" +
                          std::to_string(throwLine) + "\nFunction: platformTest::throwFatal\n"));
    EXPECT_THAT(logged(), HasSubstr("An Fatal Error occured,"));
    EXPECT_THAT(logged(), HasSubstr("pool 'vfs.files' exhausted"));
    EXPECT_THAT(logged(), testing::Not(HasSubstr("An unhandled Exception occured,")));
}

TEST_F(ExitOnUncaught, PlainExceptionReportWithoutLocation)
{
    EXPECT_EXIT(uncaughtOnWorker(logPath,
                                 [] { throw new tavrix::util::Exception("Loading of Shared Library '%s' failed", "x.so"); }),
                testing::ExitedWithCode(1),
                HasSubstr("An unhandled Exception occured,\nif this Problem persists, please contact us\n\nDetail:\n"
                          "Loading of Shared Library 'x.so' failed\n\nFile: :0\nFunction: \n"));
    EXPECT_THAT(logged(), HasSubstr("An unhandled Exception occured,"));
    EXPECT_THAT(logged(), testing::Not(HasSubstr("An Fatal Error occured,")));
}

TEST_F(ExitOnUncaught, AnythingElseGivesTheUnknownReport)
{
    EXPECT_EXIT(uncaughtOnWorker(logPath, [] { throw 42; }), testing::ExitedWithCode(1),
                HasSubstr("An unknown unhandled Exception occured,\nif this Problem persists, please contact us\n"));
    EXPECT_THAT(logged(), HasSubstr("An unknown unhandled Exception occured,"));
    EXPECT_THAT(logged(), testing::Not(HasSubstr("Detail:")));
}

} // namespace
