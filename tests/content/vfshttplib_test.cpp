#include "client/vfshttplib.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "contentmodules.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/posix/heap.h"
#include "support/capturelogger.h"
#include "support/httpfixture.h"

using tavrix::test::httpAnswer;
using tavrix::vfsHttpLib::httpGET;
using testing::ElementsAre;
using testing::StartsWith;

namespace {

// Once for the whole program, as the client sets the HTTP library up once.
class httpEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        run = std::make_unique<tavrix::test::moduleRun>();
        run->start({tavrix::test::ALLOCATOR, tavrix::test::HTTP});
    }
    void TearDown() override { run.reset(); }

private:
    std::unique_ptr<tavrix::test::moduleRun> run;
};

[[maybe_unused]] testing::Environment* const environment = testing::AddGlobalTestEnvironment(new httpEnvironment);

std::string pattern(size_t n)
{
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xFF);
    return bytes;
}

// Every read is a tenth of a second after the previous one, so each is reported.
std::atomic<int32_t> fakeNow{0};
int32_t steppingClock() { return fakeNow += 100; }

struct progressCall {
    uint32_t received, total, rate;
    bool operator==(const progressCall&) const = default;
};
std::vector<progressCall> progressCalls;
void recordProgress(uint32_t received, uint32_t total, uint32_t rate) { progressCalls.push_back({received, total, rate}); }

class httpGetTest : public testing::Test {
protected:
    void SetUp() override
    {
        progressCalls.clear();
        fakeNow = 900;
    }
    void TearDown() override
    {
        tavrix::vfsHttpLib::setProgressClock(nullptr);
        tavrix::vfsHttpLib::setTransferBounds(tavrix::vfsHttpLib::SPEED_WINDOW_MS, tavrix::vfsHttpLib::QUERY_LIMIT_MS);
    }

    // The body as a string; empty with size 0 when nothing came.
    std::string get(const std::string& target, tavrix::vfsHttpLib::httpProgressCallback progress = nullptr)
    {
        return fetch(server.url(target), progress);
    }
    std::string fetch(const std::string& url, tavrix::vfsHttpLib::httpProgressCallback progress = nullptr)
    {
        uint32_t size = 12345;
        const tavrix::roPtr<char> body = httpGET(url.c_str(), &size, progress);
        if (!body) {
            EXPECT_EQ(size, 0u);
            return "";
        }
        EXPECT_EQ(body.get()[size], '\0');
        return std::string(body.get(), size);
    }

    tavrix::test::captureLogger log;
    tavrix::test::httpFixture server;
};

TEST_F(httpGetTest, ReadsTheBodyIn4096ByteReadsAndReportsEachPacedRead)
{
    const std::string bytes = pattern(10000);
    server.put("/data/ten", bytes);
    tavrix::vfsHttpLib::setProgressClock(steppingClock);
    EXPECT_EQ(get("/data/ten", recordProgress), bytes);
    // The transfer begins at 1000 and each read is 100 ms later: the rate is the average since the
    // beginning. The end reports nothing.
    EXPECT_THAT(progressCalls, ElementsAre(progressCall{4096, 10000, 40960}, progressCall{8192, 10000, 40960},
                                           progressCall{10000, 10000, 33333}));
    EXPECT_TRUE(log.texts(tavrix::util::LOG_ERROR).empty());

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/data/ten");
    EXPECT_EQ(requests[0].header("User-Agent"), "tavrixVFS/1.0");
    EXPECT_EQ(requests[0].header("Accept-Encoding"), "");
}

struct failureCase {
    const char* name;
    httpAnswer how;
    // "%s" stands for the URL.
    std::string message;
    // Given up on by a speed window of one second.
    bool stalls = false;
};

std::string withUrl(std::string text, const std::string& url)
{
    const size_t at = text.find("%s");
    return at == std::string::npos ? text : text.replace(at, 2, url);
}

httpAnswer given(const char* length, std::string body)
{
    httpAnswer how;
    how.frame = httpAnswer::GIVEN_LENGTH;
    how.contentLength = length;
    how.body = std::move(body);
    return how;
}

httpAnswer answerWith(httpAnswer how, std::string body)
{
    how.body = std::move(body);
    return how;
}

TEST_F(httpGetTest, FailuresYieldNothingAndSayWhy)
{
    const std::string unsuccessful = "httpGet() -> Request for '%s' unsucessful - Error ";
    const std::string noLength = "httpGET() -> failed to receive the content-length of '%s'\n";
    httpAnswer chunked = answerWith({}, pattern(10000));
    chunked.frame = httpAnswer::CHUNKED;
    httpAnswer closeDelimited = answerWith({}, pattern(10000));
    closeDelimited.frame = httpAnswer::NO_LENGTH;
    httpAnswer halfThenClose = answerWith({}, pattern(10000));
    halfThenClose.closeAfter = 5000;
    httpAnswer nothingAfterHeaders = halfThenClose;
    nothingAfterHeaders.closeAfter = 0;
    httpAnswer stallBeforeHeaders = answerWith({}, "late");
    stallBeforeHeaders.stallMs = 20000;
    httpAnswer stallInBody = answerWith({}, pattern(10000));
    stallInBody.stallMs = 20000;
    stallInBody.stallAfter = 3000;

    const failureCase cases[] = {
        {"404 with a body", answerWith(httpAnswer::withStatus(404), "no such file"), unsuccessful + "404\n"},
        {"500 without a body", answerWith(httpAnswer::withStatus(500), ""), unsuccessful + "500\n"},
        {"300 is past the range", answerWith(httpAnswer::withStatus(300), "x"), unsuccessful + "300\n"},
        {"Content-Length 0", answerWith({}, ""), "httpGET() -> executed code, that's impossible to reach!\n"},
        {"half the body, then close", halfThenClose, "httpGET() -> broken pipe after 5000 bytes while reading '%s'\n"},
        {"closed right after the headers", nothingAfterHeaders,
         "httpGET() -> broken pipe after 0 bytes while reading '%s'\n"},
        {"chunked", chunked, noLength},
        {"close-delimited", closeDelimited, noLength},
        {"stall in the body", stallInBody, "httpGET() -> broken pipe after 3000 bytes while reading '%s'\n", true},
        {"stall before the headers", stallBeforeHeaders, "httpGET() -> failed to get '%s' returned 28 (", true},
    };
    for (const failureCase& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        tavrix::vfsHttpLib::setTransferBounds(c.stalls ? 1000 : tavrix::vfsHttpLib::SPEED_WINDOW_MS, tavrix::vfsHttpLib::QUERY_LIMIT_MS);
        server.answer("/case", c.how);
        EXPECT_EQ(get("/case", recordProgress), "");
        const std::string url = server.url("/case");
        EXPECT_THAT(log.texts(tavrix::util::LOG_ERROR), ElementsAre(StartsWith(withUrl(c.message, url))));
    }
}

TEST_F(httpGetTest, AnUntrustworthyContentLengthIsRefusedBeforeAnyAllocation)
{
    const std::string refused = "httpGET() -> failed to receive the content-length of '%s'\n";
    // What is no number at all, libcurl already rejects.
    const std::string rejected = "httpGET() -> failed to get '%s' returned 8 (Invalid Content-Length: value)\n";
    const struct {
        const char* length;
        std::string message;
    } cases[] = {
        {"99999999999", refused}, {"4294967295", refused}, {"4294967296", refused}, {"536870913", refused},
        {"99999999999999999999999999", refused}, {"-5", rejected}, {"abc", rejected},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        log.clear();
        server.answer("/lying", given(c.length, pattern(1000)));
        // An allocation would find the heap refusing once and pause before its retry.
        const uint32_t pauses = tavrix::sys::heapRetryPauses();
        tavrix::sys::heapFailNext(1);
        EXPECT_EQ(get("/lying"), "");
        tavrix::sys::heapFailNext(0);
        EXPECT_EQ(tavrix::sys::heapRetryPauses(), pauses);
        EXPECT_THAT(log.texts(tavrix::util::LOG_ERROR), ElementsAre(withUrl(c.message, server.url("/lying"))));
    }
}

TEST_F(httpGetTest, ABodyLongerThanItsContentLengthIsCut)
{
    const std::string bytes = pattern(10000);
    server.answer("/long", given("5000", bytes));
    EXPECT_EQ(get("/long"), bytes.substr(0, 5000));
}

TEST_F(httpGetTest, TheLargestAcceptedLengthIsAllocated)
{
    // The whole bound is allocated before the server's early close is seen.
    httpAnswer how = given("536870912", pattern(100));
    server.answer("/bound", how);
    EXPECT_EQ(get("/bound"), "");
    EXPECT_THAT(log.texts(tavrix::util::LOG_ERROR),
                ElementsAre("httpGET() -> broken pipe after 100 bytes while reading '" + server.url("/bound") + "'\n"));
}

TEST_F(httpGetTest, RedirectsAreFollowed)
{
    const std::string bytes = pattern(777);
    server.put("/new", bytes);
    httpAnswer moved = httpAnswer::redirectTo("/new");
    moved.body = "see /new";
    server.answer("/old", moved);
    EXPECT_EQ(get("/old"), bytes);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/old");
    EXPECT_EQ(requests[1].target, "/new");
}

// A redirect that cannot be followed is reported with why, not as the redirect's own status.
TEST_F(httpGetTest, ARedirectThatFailsSaysWhy)
{
    tavrix::test::refusingPort closed;
    const struct {
        const char* name;
        std::string location;
        uint32_t code;
    } cases[] = {
        {"a loop", "/loop", 47},
        {"another scheme", "file:///etc/passwd", 1},
        {"a closed port", "http://127.0.0.1:" + std::to_string(closed.port()) + "/x", 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        server.answer("/loop", httpAnswer::redirectTo(c.location));
        EXPECT_EQ(get("/loop"), "");
        const std::string failed = "httpGET() -> failed to get '" + server.url("/loop") + "' returned " + std::to_string(c.code) + " (";
        EXPECT_THAT(log.texts(tavrix::util::LOG_ERROR), ElementsAre(StartsWith(failed)));
    }
}

TEST_F(httpGetTest, TheBytesComeAsServedWithoutDecoding)
{
    httpAnswer how = answerWith({}, "plainly not gzip");
    how.headers.push_back("Content-Encoding: gzip");
    server.answer("/encoded", how);
    EXPECT_EQ(get("/encoded"), "plainly not gzip");
}

TEST_F(httpGetTest, AProxyInTheEnvironmentIsNotUsed)
{
    tavrix::test::refusingPort proxy;
    const std::string proxyUrl = "http://127.0.0.1:" + std::to_string(proxy.port());
    setenv("http_proxy", proxyUrl.c_str(), 1);
    setenv("HTTP_PROXY", proxyUrl.c_str(), 1);
    server.put("/direct", "direct");
    EXPECT_EQ(get("/direct"), "direct");
    unsetenv("http_proxy");
    unsetenv("HTTP_PROXY");
}

TEST_F(httpGetTest, ARefusedConnectionFailsToGet)
{
    tavrix::test::refusingPort nobody;
    const std::string url = "http://127.0.0.1:" + std::to_string(nobody.port()) + "/version";
    EXPECT_EQ(fetch(url), "");
    EXPECT_THAT(log.texts(tavrix::util::LOG_ERROR), ElementsAre(StartsWith("httpGET() -> failed to get '" + url + "' returned 7 (")));
}

TEST_F(httpGetTest, CallsOnSeveralThreadsAtOnceEachGetTheirOwnBody)
{
    constexpr int THREADS = 4;
    constexpr int ROUNDS = 10;
    for (int i = 0; i < THREADS; ++i)
        server.put("/file" + std::to_string(i), pattern(20000 + size_t(i) * 1000));
    std::atomic<int> right{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < THREADS; ++i) {
        threads.emplace_back([&, i] {
            const std::string url = server.url("/file" + std::to_string(i));
            const std::string expected = pattern(20000 + size_t(i) * 1000);
            for (int round = 0; round < ROUNDS; ++round) {
                uint32_t size = 0;
                const tavrix::roPtr<char> body = httpGET(url.c_str(), &size);
                if (body && std::string(body.get(), size) == expected)
                    ++right;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(right, THREADS * ROUNDS);
}

// Waits, generously, until the server has been asked for the target.
bool requested(const tavrix::test::httpFixture& server, const std::string& target)
{
    for (int i = 0; i < 3000; ++i) {
        for (const auto& request : server.requests())
            if (request.target == target)
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

httpAnswer stalled(uint32_t ms)
{
    httpAnswer how = answerWith({}, "late");
    how.stallMs = ms;
    return how;
}

httpAnswer trickled(size_t bytes, size_t piece, uint32_t everyMs)
{
    httpAnswer how = answerWith({}, pattern(bytes));
    how.trickleBytes = piece;
    how.trickleMs = everyMs;
    return how;
}

TEST_F(httpGetTest, ATransferIsGivenUpWhenTooSlowOrAQueryWhenTooLong)
{
    using tavrix::vfsHttpLib::SMALL_QUERY;
    const struct {
        const char* name;
        httpAnswer how;
        uint32_t flags;
        uint32_t speedWindowMs;
        uint32_t queryLimitMs;
        // "%s" stands for the URL; none when the body comes.
        std::string warning;
        std::string error;
    } cases[] = {
        {"a trickle of 20 Bytes/sec", trickled(100, 1, 50), 0, 500, 100,
         "httpGET() -> '%s' received ", "httpGET() -> broken pipe after "},
        {"headers that never come", stalled(20000), 0, 500, 100,
         "httpGET() -> '%s' received 0 Bytes in ", "httpGET() -> failed to get '%s' returned 28 (the transfer was too slow)\n"},
        // Twelve times the least speed: a loaded machine may hold the server back for most of a window.
        {"a steady 12800 Bytes/sec", trickled(32000, 64, 5), 0, 2000, 100, "", ""},
        {"a query of 10 Bytes/sec past its limit", trickled(100, 1, 100), SMALL_QUERY, 30000, 500,
         "httpGET() -> '%s' took longer than 500 ms - aborted\n", "httpGET() -> broken pipe after "},
        {"a query within its limit", trickled(10, 1, 10), SMALL_QUERY, 30000, 20000, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        tavrix::vfsHttpLib::setTransferBounds(c.speedWindowMs, c.queryLimitMs);
        server.answer("/slow", c.how);
        const std::string url = server.url("/slow");
        uint32_t size = 0;
        const tavrix::roPtr<char> body = httpGET(url.c_str(), &size, nullptr, c.flags);
        if (c.warning.empty()) {
            ASSERT_NE(body, nullptr);
            EXPECT_EQ(std::string(body.get(), size), *c.how.body);
            EXPECT_TRUE(log.texts(tavrix::util::LOG_WARN).empty());
            continue;
        }
        EXPECT_EQ(body, nullptr);
        EXPECT_THAT(log.texts(tavrix::util::LOG_WARN), ElementsAre(StartsWith(withUrl(c.warning, url))));
        EXPECT_THAT(log.texts(tavrix::util::LOG_ERROR), ElementsAre(StartsWith(withUrl(c.error, url))));
    }
}

// Shutting down ends a transfer stuck on a stalled server at once, and every later one before it asks.
TEST_F(httpGetTest, AbortingEndsTransfersUnderWayAndRefusesLaterOnes)
{
    server.answer("/stalled", stalled(60000));
    const std::string url = server.url("/stalled");
    std::string got = "(running)";
    std::thread waiting([&] { got = fetch(url); });
    ASSERT_TRUE(requested(server, "/stalled"));
    tavrix::vfsHttpLib::abortTransfers();
    waiting.join();
    EXPECT_EQ(got, "");
    EXPECT_TRUE(log.contains("httpGET() -> '" + url + "' aborted, the client is shutting down\n"));
    EXPECT_THAT(log.texts(tavrix::util::LOG_ERROR), ElementsAre("httpGET() -> failed to get '" + url + "' returned 42 (aborted, the client is shutting down)\n"));

    server.clearRequests();
    server.put("/later", "later");
    EXPECT_EQ(get("/later"), "");
    EXPECT_TRUE(server.requests().empty());

    // The next start sets the library up again.
    tavrix::vfsHttpLib::final();
    tavrix::vfsHttpLib::init();
    EXPECT_EQ(get("/later"), "later");
}

// The library is not cleaned up under a transfer that has not returned yet; that transfer ends.
TEST_F(httpGetTest, FinalLeavesTheLibraryToATransferUnderWay)
{
    server.answer("/stalled", stalled(60000));
    std::string got = "(running)";
    std::thread waiting([&] { got = get("/stalled"); });
    ASSERT_TRUE(requested(server, "/stalled"));
    tavrix::vfsHttpLib::final();
    waiting.join();
    EXPECT_EQ(got, "");
    EXPECT_TRUE(log.contains("vfsHttpLib::final() -> a transfer is still under way, the HTTP library stays set up\n"));

    tavrix::vfsHttpLib::init();
    server.put("/after", "after");
    EXPECT_EQ(get("/after"), "after");
}

// Each request has a handle of its own, yet a server that keeps its connections sees one for all of
// them, also from several threads one after another; a server that closes them is asked anew each time.
TEST_F(httpGetTest, RequestsReuseAConnectionTheServerKeeps)
{
    server.put("/a", "alpha");
    server.put("/b", pattern(10000));
    EXPECT_EQ(get("/a"), "alpha");
    EXPECT_EQ(get("/b"), pattern(10000));
    EXPECT_EQ(server.acceptedConnections(), 2u);

    tavrix::test::httpFixture keeping;
    keeping.keepConnections();
    keeping.put("/a", "alpha");
    keeping.put("/b", pattern(10000));
    EXPECT_EQ(fetch(keeping.url("/a")), "alpha");
    EXPECT_EQ(fetch(keeping.url("/b")), pattern(10000));
    std::thread([&] { EXPECT_EQ(fetch(keeping.url("/a")), "alpha"); }).join();
    EXPECT_EQ(keeping.acceptedConnections(), 1u);
    EXPECT_EQ(keeping.requests().size(), 3u);
}

struct paceStep {
    uint32_t now;
    uint32_t received;
    bool reported;
    uint32_t rate;
};

TEST(paceProgress, ReportsAtMostEvery31MsWithTheAverageRateSoFar)
{
    const struct {
        const char* name;
        uint32_t started;
        std::vector<paceStep> steps;
    } cases[] = {
        {"a read within 30 ms of the clock's zero is not reported", 0,
         {{10, 4096, false, 0}, {30, 8192, false, 0}, {31, 12288, true, 396387}}},
        {"reports are more than 30 ms apart", 0,
         {{40, 4096, true, 102400}, {70, 8192, false, 102400}, {71, 12288, true, 173070}, {101, 16384, false, 173070},
          {102, 20480, true, 200784}}},
        // 244 KB/s, in reads of 4096 bytes 16 or 17 ms apart: the first report already shows it.
        {"a 2 Mbit/s link", 5000,
         {{5017, 4096, true, 240941}, {5033, 8192, false, 240941}, {5050, 12288, true, 245760},
          {5066, 16384, false, 245760}, {5083, 20480, true, 246746}}},
        {"a read in the transfer's first millisecond", 3000, {{3000, 4096, true, 4096000}}},
        {"the clock wraps", 0xFFFFFF00u, {{0xFFFFFFF0u, 100, true, 416}, {0x10, 300, true, 1102}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tavrix::vfsHttpLib::progressPacer pacer;
        pacer.started = c.started;
        for (const paceStep& step : c.steps) {
            SCOPED_TRACE(step.now);
            EXPECT_EQ(tavrix::vfsHttpLib::paceProgress(pacer, step.now, step.received), step.reported);
            EXPECT_EQ(pacer.rate, step.rate);
        }
    }
}

TEST(averageRate, IsBytesPerSecondAndBounded)
{
    EXPECT_EQ(tavrix::vfsHttpLib::averageRate(0, 0), 0u);
    EXPECT_EQ(tavrix::vfsHttpLib::averageRate(250000, 1000), 250000u);
    EXPECT_EQ(tavrix::vfsHttpLib::averageRate(1, 3), 333u);
    EXPECT_EQ(tavrix::vfsHttpLib::averageRate(536870912, 1), UINT32_MAX);
    EXPECT_EQ(tavrix::vfsHttpLib::averageRate(536870912, UINT32_MAX), 125u);
}

} // namespace
