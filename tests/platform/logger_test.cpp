#include "platformlib/util/logger.h"

#include <arpa/inet.h>
#include <poll.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/eventually.h"
#include "support/tempdir.h"
#include "support/threadnames.h"

namespace {

using tavrix::util::logger;

constexpr uint32_t FLUSH_MS = 10000;

class testLogger : public logger {
public:
    int64_t getTime() override { return now.load(); }
    std::atomic<int64_t> now{0};
};

// Keeps a copy of every record a hook is given.
struct capturedRecord {
    int32_t level;
    int64_t time;
    int32_t line;
    std::string file;
    std::string function;
    std::string text;
    uint32_t textLength;
};

struct recordSink {
    static void hook(void* user, const logger::message* record)
    {
        auto* sink = static_cast<recordSink*>(user);
        std::lock_guard<std::mutex> guard(sink->lock);
        sink->records.push_back({record->level, record->time, record->line, record->file, record->function,
                                 std::string(record->text, record->textLength), record->textLength});
    }
    std::vector<capturedRecord> taken()
    {
        std::lock_guard<std::mutex> guard(lock);
        return records;
    }
    std::mutex lock;
    std::vector<capturedRecord> records;
};

class LoggerTest : public ::testing::Test {
protected:
    tavrix::test::tempDir dir;
};

TEST_F(LoggerTest, FileLinesCarryTimeAndLevelTagAndCrLf)
{
    struct row {
        uint32_t level;
        int64_t time;
        const char* text;
        const char* written;
    };
    const row rows[] = {
        {tavrix::util::LOG_INFO, 0, "zero\n", "[0.00000] (INFO)    zero\r\n"},
        {tavrix::util::LOG_WARN, 12345, "warn\n", "[12.34500] (WARN)    warn\r\n"},
        {tavrix::util::LOG_ERROR, 1, "two\nlines\n", "[0.00100] (ERROR)   two\r\nlines\r\n"},
        {tavrix::util::LOG_MEMMGR, 3600000, "mem", "[3600.00000] (MEMMGR)  mem"},
        {tavrix::util::LOG_DEBUG, 999999, "\n", "[999.99900] (DEBUG)   \r\n"},
        {tavrix::util::LOG_INFO, -2, "before\n", "[-0.00200] (INFO)    before\r\n"},
        {tavrix::util::LOG_INFO, -1500, "before\n", "[-1.50000] (INFO)    before\r\n"},
        {tavrix::util::LOG_INFO, 9999999999999, "late\n", "[9999999999.99900] (INFO)    late\r\n"},
        {tavrix::util::LOG_INFO, 20000000000000, "later\n", "[20000000000.00000] (INFO)    later\r\n"},
        {tavrix::util::LOG_INFO, INT64_MIN, "min\n", "[-9223372036854776.00000] (INFO)    min\r\n"},
        {3, 5, "both\n", "[0.00500] (UNKNOWN) both\r\n"},
        {32, 5, "high\n", "[0.00500] (UNKNOWN) high\r\n"},
        {0, 5, "no bit reaches no hook\n", ""},
    };
    std::string expected;
    {
        testLogger log;
        ASSERT_TRUE(log.addLogFile("all.log", 0xFFFF));
        for (const row& r : rows) {
            log.now = r.time;
            log.log(r.level, "%s", r.text);
            expected += r.written;
        }
        ASSERT_TRUE(log.flush(FLUSH_MS));
        EXPECT_EQ(dir.read("all.log"), expected);
    }
    EXPECT_EQ(dir.read("all.log"), expected);
}

TEST_F(LoggerTest, LevelNames)
{
    const std::pair<uint32_t, const char*> names[] = {{1, "INFO"},    {2, "WARN"},    {4, "ERROR"},
                                                      {8, "MEMMGR"},  {16, "DEBUG"},  {0, "UNKNOWN"},
                                                      {3, "UNKNOWN"}, {32, "UNKNOWN"}, {0xFFFFFFFF, "UNKNOWN"}};
    for (const auto& [level, name] : names)
        EXPECT_STREQ(logger::levelName(level), name) << level;
}

int formatByLogger(char* out, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int length = logger::formatText(out, size, format, args);
    va_end(args);
    return length;
}

int formatByLibc(char* out, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(out, size, format, args);
    va_end(args);
    return length;
}

// The same bytes as vsnprintf into a buffer of `size` (the NUL included, nothing written past it) and the
// same result.
template <typename... Args>
void expectAsVsnprintf(size_t size, const char* format, Args... args)
{
    SCOPED_TRACE(std::string("format \"") + format + "\", size " + std::to_string(size));
    constexpr size_t GUARD = 16;
    std::string mine(size + GUARD, '\x5A');
    std::string theirs(size + GUARD, '\x5A');
    EXPECT_EQ(formatByLogger(mine.data(), size, format, args...), formatByLibc(theirs.data(), size, format, args...));
    EXPECT_EQ(mine, theirs);
}

template <typename... Args>
void expectAsVsnprintf(const char* format, Args... args)
{
    expectAsVsnprintf(logger::MAX_TEXT + 1, format, args...);
}

TEST_F(LoggerTest, FormattingMatchesVsnprintfByteForByte)
{
    // The plain conversions.
    expectAsVsnprintf("");
    expectAsVsnprintf("no conversion\n");
    for (const int value : {0, 1, -1, 9, 10, -10, 123456789, INT_MAX, INT_MIN, INT_MIN + 1})
        expectAsVsnprintf("[%d]", value);
    for (const unsigned value : {0u, 1u, 4294967295u, 2147483648u, 1000000000u})
        expectAsVsnprintf("[%u]", value);
    expectAsVsnprintf("%s|%s|%s", "", "abc", "x y\tz\n");
    expectAsVsnprintf("%c%c%c", 'a', '%', 255);
    expectAsVsnprintf("a%cb", 0);
    expectAsVsnprintf("%%|100%% of %d%%|%%%%", 7);
    expectAsVsnprintf("%s=%d (%u) '%c' %s\n", "key", -42, 42u, 'q', "end");
    expectAsVsnprintf("%d%d%d%d%d%d%d%d%d%d", 1, 2, 3, 4, 5, 6, 7, 8, 9, 10);

    // Flags, widths, precisions, length modifiers and other conversions.
    for (const char* format : {"%5d", "%-5d|", "%05d", "%+d", "% d", "%.3d", "%'d", "%x", "%X", "%#x", "%o", "%i"})
        for (const int value : {0, 42, -42, INT_MIN})
            expectAsVsnprintf(format, value);
    expectAsVsnprintf("%ld %lu %lld %llu", LONG_MIN, ULONG_MAX, LLONG_MIN, ULLONG_MAX);
    expectAsVsnprintf("%hd %hu %hhd %hhu", 70000, 70000, 300, 300);
    expectAsVsnprintf("%zu %zd %jd %td", size_t(12345), ptrdiff_t(-5), intmax_t(-6), ptrdiff_t(7));
    expectAsVsnprintf("%" PRId64 " %" PRIu64 " %" PRIx64, INT64_MIN, UINT64_MAX, UINT64_MAX);
    expectAsVsnprintf("%10s|%-10s|%.2s|%.0s|", "abc", "abc", "abc", "abc");
    expectAsVsnprintf("%*d|%-*d|%.*s", 6, 5, 6, 5, 2, "abcdef");
    expectAsVsnprintf("%f %.2f %e %g %a %5.1f", 3.25, -0.125, 1e300, 1e-5, 1.0, 2.0);
    expectAsVsnprintf("%f %f", std::numeric_limits<double>::infinity(), std::nan(""));
    int somewhere = 0;
    expectAsVsnprintf("%p %p", static_cast<void*>(nullptr), static_cast<void*>(&somewhere));
    expectAsVsnprintf("%2$s %1$s", "first", "second");
    expectAsVsnprintf("%3c|%-3c|", 'a', 'b');
    // A null string, and a conversion left unfinished at the end.
    expectAsVsnprintf("[%s]", static_cast<const char*>(nullptr));
    expectAsVsnprintf("[%.1s]", static_cast<const char*>(nullptr));
    expectAsVsnprintf("trailing %");
    // Plain conversions before the first other one: the fallback starts again from the first argument.
    expectAsVsnprintf("%d %s %u %c %5d %s", -1, "s", 2u, 'c', 3, "t");
    expectAsVsnprintf("%s %s", "fine", static_cast<const char*>(nullptr));

    // Buffers too small for the text: cut at size - 1 with a NUL, the whole length returned.
    for (const size_t size : {1, 2, 5, 11, 12, 13})
        expectAsVsnprintf(size, "%d", INT_MIN);
    for (const size_t size : {1, 3, 4, 10})
        expectAsVsnprintf(size, "ab%scd%%", "xyz");
    expectAsVsnprintf(size_t(0), "nothing %d", 1);
    const std::string longText(logger::MAX_TEXT + 100, 'w');
    expectAsVsnprintf("%s", longText.c_str());
    expectAsVsnprintf("%s", longText.substr(0, logger::MAX_TEXT).c_str());
    expectAsVsnprintf("x%s", longText.substr(0, logger::MAX_TEXT).c_str());
}

TEST_F(LoggerTest, FilesReceiveTheLevelsOfTheirMask)
{
    testLogger log;
    ASSERT_TRUE(log.addLogFile("info-error.log", tavrix::util::LOG_INFO | tavrix::util::LOG_ERROR));
    ASSERT_TRUE(log.addLogFile("warn.log", tavrix::util::LOG_WARN));
    log.log(tavrix::util::LOG_INFO, "i\n");
    log.log(tavrix::util::LOG_WARN, "w\n");
    log.log(tavrix::util::LOG_ERROR, "e\n");
    log.log(tavrix::util::LOG_DEBUG, "d\n");
    log.log(3, "u\n");
    ASSERT_TRUE(log.flush(FLUSH_MS));
    EXPECT_EQ(dir.read("info-error.log"),
              "[0.00000] (INFO)    i\r\n[0.00000] (ERROR)   e\r\n[0.00000] (UNKNOWN) u\r\n");
    EXPECT_EQ(dir.read("warn.log"), "[0.00000] (WARN)    w\r\n[0.00000] (UNKNOWN) u\r\n");
}

TEST_F(LoggerTest, AddLogFileTruncatesAndFailsOnADirectory)
{
    dir.write("old.log", "previous run\n");
    ASSERT_EQ(mkdir("adir", 0755), 0);
    testLogger log;
    EXPECT_FALSE(log.addLogFile("adir", 0xFFFF));
    EXPECT_FALSE(log.addLogFile("missing/dir/x.log", 0xFFFF));
    ASSERT_TRUE(log.addLogFile("old.log", 0xFFFF));
    log.log(tavrix::util::LOG_INFO, "still logging\n");
    ASSERT_TRUE(log.flush(FLUSH_MS));
    EXPECT_EQ(dir.read("old.log"), "[0.00000] (INFO)    still logging\r\n");
}

TEST_F(LoggerTest, NamesAreCutByTheirOwnLength)
{
    const std::string name47(47, 'f');
    std::string name48 = "/" + std::string(46, 'g') + "x";
    std::string function60 = "tavrix::" + std::string(51, 'h') + "z";
    ASSERT_EQ(name48.size(), 48u);
    ASSERT_EQ(function60.size(), 60u);
    struct row {
        std::string file;
        std::string function;
        std::string storedFile;
        std::string storedFunction;
    };
    const row rows[] = {
        {name47, "f", name47, "f"},
        {name48, "f", "..." + name48.substr(4), "f"},
        {"a.cpp", function60, "a.cpp", "..." + function60.substr(16)},
        {"", "", "", ""},
    };
    testLogger log;
    recordSink sink;
    log.registerHook(0xFFFF, &sink, recordSink::hook);
    for (const row& r : rows)
        log.logEx(tavrix::util::LOG_INFO, r.file.c_str(), 42, r.function.c_str(), "x");
    log.log(tavrix::util::LOG_WARN, "plain %d", 7);
    ASSERT_TRUE(log.flush(FLUSH_MS));
    const auto records = sink.taken();
    ASSERT_EQ(records.size(), std::size(rows) + 1);
    for (size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(records[i].file, rows[i].storedFile) << i;
        EXPECT_EQ(records[i].function, rows[i].storedFunction) << i;
        EXPECT_EQ(records[i].line, 42);
        EXPECT_LE(records[i].file.size(), 47u);
    }
    EXPECT_EQ(records.back().file, "");
    EXPECT_EQ(records.back().function, "");
    EXPECT_EQ(records.back().line, 0);
    EXPECT_EQ(records.back().text, "plain 7");
}

TEST_F(LoggerTest, LongTextKeepsItsFirst16383Characters)
{
    std::string text(20000, 'a');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = char('a' + i % 26);
    testLogger log;
    recordSink sink;
    ASSERT_TRUE(log.addLogFile("long.log", 0xFFFF));
    log.registerHook(0xFFFF, &sink, recordSink::hook);
    log.log(tavrix::util::LOG_INFO, "%s", text.c_str());
    ASSERT_TRUE(log.flush(FLUSH_MS));
    const auto records = sink.taken();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].textLength, logger::MAX_TEXT);
    EXPECT_EQ(records[0].text, text.substr(0, logger::MAX_TEXT));
    EXPECT_EQ(dir.read("long.log"), "[0.00000] (INFO)    " + text.substr(0, logger::MAX_TEXT));
}

TEST_F(LoggerTest, HooksRunInOrderForTheirMaskAndUnregisterByAllThree)
{
    struct tagged {
        static void hook(void* user, const logger::message* record)
        {
            auto* self = static_cast<tagged*>(user);
            self->calls->push_back(self->name + std::string(record->text, record->textLength));
        }
        std::string name;
        std::vector<std::string>* calls;
    };
    std::vector<std::string> calls; // only the worker writes it, read after flush
    tagged a{"a:", &calls}, b{"b:", &calls}, c{"c:", &calls}, d{"d:", &calls};
    testLogger log;
    log.registerHook(tavrix::util::LOG_INFO | tavrix::util::LOG_WARN, &a, tagged::hook);
    log.registerHook(tavrix::util::LOG_WARN, &b, tagged::hook);
    log.registerHook(tavrix::util::LOG_ERROR | tavrix::util::LOG_WARN, &c, tagged::hook);
    log.log(tavrix::util::LOG_WARN, "1");
    log.log(tavrix::util::LOG_INFO, "2");
    log.log(tavrix::util::LOG_ERROR, "3");
    ASSERT_TRUE(log.flush(FLUSH_MS));
    EXPECT_EQ(calls, (std::vector<std::string>{"a:1", "b:1", "c:1", "a:2", "c:3"}));

    calls.clear();
    log.unregisterHook(tavrix::util::LOG_INFO, &b, tagged::hook); // mask differs
    log.unregisterHook(tavrix::util::LOG_WARN, &a, tagged::hook); // user differs
    log.unregisterHook(tavrix::util::LOG_WARN, &b, tagged::hook);
    log.registerHook(tavrix::util::LOG_WARN, &d, tagged::hook); // appended after c: the tail is right
    log.log(tavrix::util::LOG_WARN, "4");
    ASSERT_TRUE(log.flush(FLUSH_MS));
    EXPECT_EQ(calls, (std::vector<std::string>{"a:4", "c:4", "d:4"}));

    calls.clear();
    log.unregisterHook(tavrix::util::LOG_WARN, &d, tagged::hook); // the tail
    log.unregisterHook(tavrix::util::LOG_INFO | tavrix::util::LOG_WARN, &a, tagged::hook); // the head
    log.registerHook(tavrix::util::LOG_WARN, &b, tagged::hook);
    log.log(tavrix::util::LOG_WARN, "5");
    ASSERT_TRUE(log.flush(FLUSH_MS));
    EXPECT_EQ(calls, (std::vector<std::string>{"c:5", "b:5"}));
}

std::vector<std::string> lines(const std::string& bytes)
{
    std::vector<std::string> out;
    std::istringstream in(bytes);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

TEST_F(LoggerTest, ConcurrentCallersKeepTheirOwnOrder)
{
    constexpr int THREADS = 8;
    constexpr int LINES = 1000;
    testLogger log;
    ASSERT_TRUE(log.addLogFile("mt.log", 0xFFFF));
    std::vector<std::thread> callers;
    for (int t = 0; t < THREADS; ++t)
        callers.emplace_back([&log, t] {
            for (int i = 0; i < LINES; ++i)
                log.logEx(tavrix::util::LOG_DEBUG, __FILE__, __LINE__, "caller", "T%d %d\n", t, i);
        });
    for (auto& c : callers)
        c.join();
    ASSERT_TRUE(log.flush(FLUSH_MS));
    const auto written = lines(dir.read("mt.log"));
    ASSERT_EQ(written.size(), size_t(THREADS * LINES));
    int next[THREADS] = {};
    for (const std::string& line : written) {
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "[0.00000] (DEBUG)   T%d %d\r", &t, &i), 2) << line;
        ASSERT_TRUE(t >= 0 && t < THREADS) << line;
        ASSERT_EQ(i, next[t]) << line;
        ++next[t];
    }
}

// Every queued line reaches the file at destruction, also when the last lines race the worker's idle wait.
TEST_F(LoggerTest, DestructionWritesEveryQueuedLine)
{
    {
        auto* log = new testLogger;
        ASSERT_TRUE(log->addLogFile("many.log", 0xFFFF));
        for (int i = 0; i < 5000; ++i)
            log->log(tavrix::util::LOG_INFO, "%d\n", i);
        delete log;
    }
    const auto written = lines(dir.read("many.log"));
    ASSERT_EQ(written.size(), 5000u);
    EXPECT_EQ(written.back(), "[0.00000] (INFO)    4999\r");

    for (int round = 0; round < 200; ++round) {
        auto* log = new testLogger;
        ASSERT_TRUE(log->addLogFile("one.log", 0xFFFF));
        if (round % 2)
            std::this_thread::sleep_for(std::chrono::microseconds(round * 10));
        log->log(tavrix::util::LOG_INFO, "last\n");
        delete log;
        ASSERT_EQ(dir.read("one.log"), "[0.00000] (INFO)    last\r\n") << "round " << round;
    }
}

// A hook still busy when the join ends: what is queued behind it is dropped, and so is anything logged
// while destruction runs. The hook returns between the destruction's two bounded joins, timed from the
// destruction's start, so a late start of it does not move the window.
TEST_F(LoggerTest, DestructionDropsWhatTheWorkerCannotReach)
{
    struct slowHook {
        // The logger's own call, not through its table of virtual functions, which destruction rewrites.
        static void logLate(logger* owner, const char* format, ...)
        {
            va_list args;
            va_start(args, format);
            owner->logger::vlogEx(tavrix::util::LOG_INFO, nullptr, 0, nullptr, format, args);
            va_end(args);
        }
        static void hook(void* user, const logger::message* record)
        {
            auto* self = static_cast<slowHook*>(user);
            if (std::string(record->text) != "block\n")
                return;
            self->entered = true;
            while (!self->destroying)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::this_thread::sleep_until(self->destroyingAt.load() + std::chrono::milliseconds(750));
            logLate(self->owner, "late\n");
        }
        logger* owner;
        std::atomic<bool> entered{false};
        std::atomic<std::chrono::steady_clock::time_point> destroyingAt{};
        std::atomic<bool> destroying{false};
    };
    auto* log = new testLogger;
    slowHook slow{log};
    ASSERT_TRUE(log->addLogFile("drop.log", 0xFFFF));
    log->registerHook(0xFFFF, &slow, slowHook::hook);
    log->log(tavrix::util::LOG_INFO, "block\n");
    log->log(tavrix::util::LOG_INFO, "queued\n");
    while (!slow.entered)
        std::this_thread::yield();
    EXPECT_FALSE(log->flush(1));
    slow.destroyingAt = std::chrono::steady_clock::now();
    slow.destroying = true;
    delete log;
    EXPECT_EQ(dir.read("drop.log"), "[0.00000] (INFO)    block\r\n");
}

// Until no logger worker is left.
bool workersEnded()
{
    return tavrix::test::eventually([] { return tavrix::test::threadsNamed("Logger - Worker") == 0; });
}

// A hook still inside after both joins, held there until the logger is gone: the worker it leaves behind
// finishes on state of its own (the address sanitizer sees any touch of the freed logger).
TEST_F(LoggerTest, WorkerLeftInAHookOutlivesTheLogger)
{
    struct stuckHook {
        static void hook(void* user, const logger::message* record)
        {
            auto* self = static_cast<stuckHook*>(user);
            if (std::string(record->text) != "stuck\n")
                return;
            self->entered = true;
            while (!self->released)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::atomic<bool> entered{false};
        std::atomic<bool> released{false};
    };
    ASSERT_TRUE(workersEnded());
    stuckHook stuck;
    auto* log = new testLogger;
    ASSERT_TRUE(log->addLogFile("stuck.log", 0xFFFF));
    log->registerHook(0xFFFF, &stuck, stuckHook::hook);
    log->log(tavrix::util::LOG_INFO, "stuck\n");
    log->log(tavrix::util::LOG_INFO, "behind\n");
    while (!stuck.entered)
        std::this_thread::yield();
    delete log;
    const bool leftInTheHook = tavrix::test::threadsNamed("Logger - Worker") == 1;
    stuck.released = true;
    ASSERT_TRUE(leftInTheHook) << "the worker is still in its hook";
    ASSERT_TRUE(workersEnded());
    // Its last act closed the file: the line it was writing is there, the one behind it is not.
    EXPECT_EQ(dir.read("stuck.log"), "[0.00000] (INFO)    stuck\r\n");
}

// A call already past its look at the running flag when destruction begins is waited for: it still
// reaches the file, and nothing of the logger goes while it runs.
TEST_F(LoggerTest, DestructionWaitsForACallUnderWay)
{
    class slowClock : public logger {
    public:
        ~slowClock() override { stop(); }
        int64_t getTime() override
        {
            entered = true;
            while (!released)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return 7;
        }
        std::atomic<bool> entered{false};
        std::atomic<bool> released{false};
    };
    auto* log = new slowClock;
    ASSERT_TRUE(log->addLogFile("underway.log", 0xFFFF));
    std::thread caller([log] { log->log(tavrix::util::LOG_WARN, "under way\n"); });
    while (!log->entered)
        std::this_thread::yield();
    std::atomic<bool> destroyed{false};
    std::thread destroyer([log, &destroyed] {
        delete log;
        destroyed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(destroyed) << "destruction did not wait for the call";
    log->released = true;
    caller.join();
    destroyer.join();
    EXPECT_EQ(dir.read("underway.log"), "[0.00700] (WARN)    under way\r\n");
}

// A real UDP listener on the loopback address.
class listener {
public:
    listener()
    {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
        socklen_t size = sizeof(addr);
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
        port = ntohs(addr.sin_port);
    }
    ~listener() { close(fd); }
    // The next datagram; empty after the time-out.
    std::string next(int milliseconds = 5000)
    {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, milliseconds) != 1)
            return std::string();
        char buffer[65536];
        const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
        return n < 0 ? std::string() : std::string(buffer, n);
    }
    // The next datagram other than the console's own announcement, which is queued before the console's
    // hook exists and so may or may not be mirrored.
    std::string nextMessage()
    {
        const std::string enabled = "Enabled UDP Logging to 127.0.0.1:" + std::to_string(port) + "\n";
        const std::string announcement = std::string("M\0\0\0\0\0\0\0\0\1", 10) + enabled + std::string(1, '\0');
        std::string d = next();
        return d == announcement ? next() : d;
    }
    uint16_t port;

private:
    int fd;
};

std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values)
        out += char(v);
    return out;
}

TEST_F(LoggerTest, ConsoleSendsHelloMessagesPerformanceAndStop)
{
    listener console;
    auto* log = new testLogger;
    log->sendPerf(1, 2, 3); // console off: nothing
    log->enableUDPConsole("client", "127.0.0.1", console.port);
    log->enableUDPConsole("other", "127.0.0.1", console.port);
    EXPECT_EQ(console.next(), std::string("Hclient\0", 8));

    log->log(tavrix::util::LOG_WARN, "abc");
    log->now = 0x0102030405060708;
    log->logEx(0x104, "f.cpp", 1, "f", "%s", "");
    log->now = -2;
    log->log(tavrix::util::LOG_DEBUG, "x\ny");
    ASSERT_TRUE(log->flush(FLUSH_MS));
    const std::string abc = bytes({'M', 0, 0, 0, 0, 0, 0, 0, 0, 2, 'a', 'b', 'c', 0});
    EXPECT_EQ(abc.size(), 14u);
    EXPECT_EQ(console.nextMessage(), abc);
    EXPECT_EQ(console.nextMessage(), bytes({'M', 8, 7, 6, 5, 4, 3, 2, 1, 4, 0}));
    EXPECT_EQ(console.nextMessage(),
              bytes({'M', 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 16, 'x', '\n', 'y', 0}));
    log->sendPerf(0x01020304, -1, 60);
    EXPECT_EQ(console.next(), bytes({'P', 4, 3, 2, 1, 0xFF, 0xFF, 0xFF, 0xFF, 60, 0, 0, 0}));
    EXPECT_EQ(console.next(200), "") << "one console hook, one datagram per record";

    delete log;
    EXPECT_EQ(console.next(), std::string("Sclient\0", 8));
}

TEST_F(LoggerTest, ConsoleMirrorsTheWholeStoredText)
{
    listener console;
    testLogger log;
    log.enableUDPConsole("", "127.0.0.1", console.port);
    EXPECT_EQ(console.next(), std::string("H\0", 2));
    const std::string text(logger::MAX_TEXT + 100, 'q');
    log.log(tavrix::util::LOG_INFO, "%s", text.c_str());
    const std::string d = console.nextMessage();
    ASSERT_EQ(d.size(), logger::MAX_TEXT + 11);
    EXPECT_EQ(d.substr(0, 10), bytes({'M', 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(d.substr(10), std::string(logger::MAX_TEXT, 'q') + std::string(1, '\0'));
}

// Stopped, the logger stays whole for late callers, whose lines are dropped.
TEST_F(LoggerTest, StoppedLoggerDropsLateCalls)
{
    listener console;
    testLogger log;
    ASSERT_TRUE(log.addLogFile("stopped.log", 0xFFFF));
    log.enableUDPConsole("late", "127.0.0.1", console.port);
    EXPECT_EQ(console.next(), std::string("Hlate\0", 6));
    log.log(tavrix::util::LOG_INFO, "before\n");
    EXPECT_TRUE(log.stop());
    EXPECT_EQ(console.nextMessage(), std::string("M\0\0\0\0\0\0\0\0\1before\n\0", 18));
    EXPECT_EQ(console.next(), std::string("Slate\0", 6));
    log.log(tavrix::util::LOG_INFO, "after\n");
    log.sendPerf(1, 2, 3);
    EXPECT_TRUE(log.flush(FLUSH_MS));
    EXPECT_TRUE(log.stop());
    EXPECT_EQ(console.next(200), "");
    EXPECT_EQ(dir.read("stopped.log"), "[0.00000] (INFO)    Enabled UDP Logging to 127.0.0.1:" + std::to_string(console.port) +
                                           "\r\n[0.00000] (INFO)    before\r\n");
}

} // namespace
