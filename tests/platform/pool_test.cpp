#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platformlib/allocator/pool.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/platform.h"
#include "platformlib/posix/vmem.h"
#include "support/modulerun.h"

using tavrix::util::LOG_ERROR;

namespace {

template <size_t N>
struct sized {
    unsigned char bytes[N];
};
typedef sized<16> elem16;

// The pools only need one to be registered.
class nullTimers : public timerSystem {
public:
    int32_t timer_add(int32_t, callback, void*, void*) override { return 0; }
    int32_t add(int32_t, int32_t, callback, void*, void*) override { return 0; }
    void del(int32_t) override {}
};

struct commitRequest {
    uint64_t bytes;
    bool largePages;
    void* base;
};

// Commits go through here: scripted error codes are answered first, then `persistent` (when set), and
// anything else is committed for real (as normal pages: this machine may have no large pages).
struct commitScript {
    std::mutex lock;
    std::deque<uint32_t> errors;
    uint32_t persistent = 0;
    uint32_t largePageMinimum = 0;
    std::vector<commitRequest> requests;
};
commitScript* script;

void* scriptedCommit(uint64_t bytes, bool largePages, uint32_t* error)
{
    std::lock_guard<std::mutex> guard(script->lock);
    uint32_t code = script->persistent;
    if (!script->errors.empty()) {
        code = script->errors.front();
        script->errors.pop_front();
    }
    void* base = nullptr;
    if (code)
        *error = code;
    else
        base = tavrix::sys::vmemSystemBackend().commit(bytes, false, error);
    script->requests.push_back({bytes, largePages, base});
    return base;
}

uint32_t scriptedLargePageMinimum()
{
    return script->largePageMinimum;
}

const tavrix::sys::vmemBackend scriptedBackend{scriptedCommit, scriptedLargePageMinimum};

bool isMapped(void* base)
{
    unsigned char resident;
    return mincore(base, 1, &resident) == 0;
}

nullTimers noTimers;

const tavrix::test::testModule SCRIPTED_MEMORY = {"scripted memory",
                                                  [] { tavrix::sys::vmemSetBackend(&scriptedBackend); },
                                                  [] {
                                                      tavrix::sys::vmemSetBackend(nullptr);
                                                      script = nullptr;
                                                  }};
const tavrix::test::testModule NULL_TIMERS = {"timer system", [] { platform_setTimerSystem(&noTimers); },
                                              [] { platform_setTimerSystem(nullptr); }};

class poolTest : public tavrix::test::moduleTest {
protected:
    void SetUp() override
    {
        script = &commits;
        start({SCRIPTED_MEMORY, tavrix::test::ALLOCATOR, NULL_TIMERS});
    }
    // While the script still exists.
    void TearDown() override { stop(); }

    std::vector<std::string> errors() const { return log.texts(LOG_ERROR); }
    std::vector<uint64_t> committedBytes()
    {
        std::vector<uint64_t> bytes;
        for (const auto& r : commits.requests)
            bytes.push_back(r.bytes);
        return bytes;
    }

    // Takes `count` elements and gives them back; the last one taken is returned for inspection.
    template <class T>
    static T* takeAndReturn(Pool<T>& pool, int count)
    {
        std::vector<T*> taken;
        for (int i = 0; i < count; ++i)
            taken.push_back(pool.get());
        for (T* e : taken)
            pool.put(e);
        return taken.back();
    }

    tavrix::test::captureLogger& log = captured;
    commitScript commits;
};

// Elements are carved in address order and the last carved is handed out first, so two elements taken
// one after the other lie one node apart.
template <class T>
uint64_t strideOf()
{
    Pool<T> pool("stride", 32, 0, 0);
    T* first = pool.get();
    T* second = pool.get();
    pool.put(first);
    pool.put(second);
    return reinterpret_cast<char*>(first) - reinterpret_cast<char*>(second) - 32;
}

TEST_F(poolTest, strideIsTheNextMultipleOf16AboveTheElementSize)
{
    EXPECT_EQ(strideOf<sized<1>>(), 16u);
    EXPECT_EQ(strideOf<sized<16>>(), 32u);
    EXPECT_EQ(strideOf<sized<20>>(), 32u);
    EXPECT_EQ(strideOf<sized<24>>(), 32u);
    EXPECT_EQ(strideOf<sized<36>>(), 48u);
    EXPECT_EQ(strideOf<sized<32>>(), 48u);
}

TEST_F(poolTest, elementsStartOn16ByteBoundariesAtAFixedDistanceFromTheSegmentStart)
{
    Pool<sized<20>> pool("aligned", 0, 0, 0);
    std::vector<sized<20>*> taken;
    for (int i = 0; i < 10; ++i)
        taken.push_back(pool.get());
    const char* base = static_cast<const char*>(commits.requests.at(0).base);
    for (auto* e : taken) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(e) % 16, 0u);
        EXPECT_EQ((reinterpret_cast<const char*>(e) - base - 64) % 64, 0);
        pool.put(e);
    }
}

struct sizingCase {
    uint32_t allocStep;
    uint32_t initialAlloc;
    int32_t total;
    std::vector<uint64_t> commits;
};

TEST_F(poolTest, sizingFillsWholePagesAndCountsSegmentsFromInitialAlloc)
{
    const sizingCase cases[] = {
        {0, 0, 63, {4096}}, // allocStep below 32 counts as 32: one page of 63 nodes
        {1, 0, 63, {4096}},
        {31, 0, 63, {4096}},
        {32, 0, 63, {4096}},
        {63, 0, 63, {4096}},
        {64, 0, 127, {8192}},
        {128, 0, 191, {12288}},
        {128, 191, 191, {12288}},
        {128, 382, 382, {12288, 12288}},
        {128, 383, 573, {12288, 12288, 12288}},
        {128, 512, 573, {12288, 12288, 12288}},
        {128, 1, 191, {12288}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("allocStep " + std::to_string(c.allocStep) + ", initialAlloc " + std::to_string(c.initialAlloc));
        commits.requests.clear();
        Pool<elem16> pool("sizing", c.allocStep, c.initialAlloc, 0);
        int32_t total, free, peak;
        pool.getStats(total, free, peak);
        EXPECT_EQ(total, c.total);
        EXPECT_EQ(free, c.total);
        EXPECT_EQ(peak, 0);
        EXPECT_EQ(committedBytes(), c.commits);
    }
}

TEST_F(poolTest, nodesEndingExactlyOnAPageGainAWholePageOfNodes)
{
    // 170 one-byte elements: 170 x 48 + 32 = 8192 bytes.
    Pool<sized<1>> pool("boundary", 170, 256, 0);
    int32_t total, free, peak;
    pool.getStats(total, free, peak);
    EXPECT_EQ(total, 510);
    EXPECT_EQ(committedBytes(), (std::vector<uint64_t>{12288, 12288}));
}

struct callbackLog {
    std::vector<void*> inits;
    std::vector<void*> releases;
    std::vector<uint32_t> grows;
    std::vector<size_t> initsAtGrow;
    bool carvedZero = true;
};
callbackLog* callbacks;

void recordInit(elem16* e)
{
    static const elem16 zero{};
    callbacks->carvedZero = callbacks->carvedZero && std::memcmp(e, &zero, sizeof(zero)) == 0;
    callbacks->inits.push_back(e);
}
void recordRelease(elem16* e) { callbacks->releases.push_back(e); }
void recordGrow(uint32_t newTotal)
{
    callbacks->grows.push_back(newTotal);
    callbacks->initsAtGrow.push_back(callbacks->inits.size());
}

TEST_F(poolTest, theGetThatTakesTheLastCountedElementCommitsTheNextSegmentFirst)
{
    callbackLog seen;
    callbacks = &seen;
    {
        Pool<elem16> pool("growth", 0, 0, 0, recordInit, recordRelease, recordGrow);
        EXPECT_EQ(seen.grows, std::vector<uint32_t>{63});
        EXPECT_EQ(seen.initsAtGrow, std::vector<size_t>{0});
        std::vector<elem16*> taken;
        for (int i = 0; i < 62; ++i)
            taken.push_back(pool.get());
        int32_t total, free, peak;
        pool.getStats(total, free, peak);
        EXPECT_EQ(total, 63);
        EXPECT_EQ(free, 1);
        EXPECT_EQ(commits.requests.size(), 1u);

        taken.push_back(pool.get());
        pool.getStats(total, free, peak);
        EXPECT_EQ(total, 126);
        EXPECT_EQ(free, 63);
        EXPECT_EQ(peak, 63);
        EXPECT_EQ(commits.requests.size(), 2u);
        // The grow callback saw the new total before any node of the new segment was initialised.
        EXPECT_EQ(seen.grows, (std::vector<uint32_t>{63, 126}));
        EXPECT_EQ(seen.initsAtGrow, (std::vector<size_t>{0, 63}));
        EXPECT_EQ(seen.inits.size(), 126u);
        EXPECT_TRUE(seen.carvedZero);

        // Elements come back as their last user left them; elemInit never runs again.
        std::memset(taken[0], 0xAB, sizeof(elem16));
        elem16* kept = taken[0];
        for (elem16* e : taken)
            pool.put(e);
        pool.getStats(total, free, peak);
        EXPECT_EQ(free, 126);
        EXPECT_EQ(peak, 63);
        elem16* again = takeAndReturn(pool, 63);
        EXPECT_EQ(again, kept);
        EXPECT_EQ(again->bytes[5], 0xAB);
        EXPECT_EQ(seen.inits.size(), 126u);
        EXPECT_TRUE(seen.releases.empty());
    }
    EXPECT_TRUE(errors().empty());
    // Every slot is released once, each segment in address order.
    std::vector<void*> released = seen.releases;
    std::vector<void*> inits = seen.inits;
    std::sort(released.begin(), released.end());
    std::sort(inits.begin(), inits.end());
    EXPECT_EQ(released, inits);
    for (size_t i = 1; i < seen.releases.size(); ++i)
        EXPECT_TRUE(i % 63 == 0 || seen.releases[i - 1] < seen.releases[i]) << i;
    callbacks = nullptr;
}

TEST_F(poolTest, destructionWithElementsOutWarnsOnceAndStillReleasesEverything)
{
    callbackLog seen;
    callbacks = &seen;
    Pool<elem16>* pool = new Pool<elem16>(nullptr, 0, 100, 0, nullptr, recordRelease);
    pool->get();
    pool->get();
    delete pool;
    EXPECT_EQ(errors(), std::vector<std::string>{"[Platform] ~Pool<Unnamed>:  Pool is not Empty!\n"});
    EXPECT_EQ(seen.releases.size(), 126u);
    ASSERT_EQ(commits.requests.size(), 2u);
    for (const auto& r : commits.requests)
        EXPECT_FALSE(isMapped(r.base));
    callbacks = nullptr;
}

TEST_F(poolTest, putRefusesElementsOfAnotherPoolAndDamagedHeaders)
{
    Pool<elem16> mine("mine", 0, 0, 0);
    Pool<elem16> other("other", 0, 0, 0);
    elem16* foreign = other.get();
    elem16* own = mine.get();
    int32_t total, free, peak;

    mine.put(foreign);
    EXPECT_EQ(errors(), (std::vector<std::string>{"[Platform] Pool<mine>::put(): ASSERT pool fail\n",
                                                  "[Platform] this mine != node other\n"}));
    mine.getStats(total, free, peak);
    EXPECT_EQ(free, 62);

    // magic1 sits 8 bytes before the element, magic2 4 bytes before it.
    struct damageCase {
        elem16* element;
        int offset;
        const char* line;
    };
    const damageCase cases[] = {
        {own, -8, "[Platform] Pool<mine>::put(): ASSERT magic fail\n"},
        {own, -4, "[Platform] Pool<mine>::put(): ASSERT magic fail\n"},
        {foreign, -8, "[Platform] Pool<mine>::put(): ASSERT pool fail\n"},
    };
    for (const auto& c : cases) {
        log.clear();
        uint32_t* word = reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(c.element) + c.offset);
        const uint32_t intact = *word;
        *word ^= 1;
        mine.put(c.element);
        *word = intact;
        EXPECT_EQ(errors(), std::vector<std::string>{c.line});
    }
    mine.getStats(total, free, peak);
    EXPECT_EQ(total, 63);
    EXPECT_EQ(free, 62);
    // Nothing refused reached the free stack: draining it finds 62 elements, not the foreign one.
    std::vector<elem16*> rest;
    for (int i = 0; i < 62; ++i)
        rest.push_back(mine.get());
    EXPECT_EQ(std::count(rest.begin(), rest.end(), foreign), 0);
    EXPECT_EQ(commits.requests.size(), 3u); // the 62nd get grew the pool
    for (elem16* e : rest)
        mine.put(e);
    mine.put(own);
    other.put(foreign);
}

// A gathered batch goes back whole and counted once; what put refuses is refused the same way.
TEST_F(poolTest, gatheredElementsGoBackTogetherAndForeignOnesAreRefused)
{
    Pool<elem16> mine("mine", 0, 0, 0);
    Pool<elem16> other("other", 0, 0, 0);
    elem16* foreign = other.get();
    int32_t total, free, peak;
    mine.getStats(total, free, peak);
    const int32_t allFree = free;
    std::vector<elem16*> taken;
    for (int i = 0; i < 10; ++i)
        taken.push_back(mine.get());

    Pool<elem16>::gathered batch;
    for (elem16* e : taken)
        mine.gather(batch, e);
    mine.gather(batch, foreign);
    EXPECT_EQ(errors(), (std::vector<std::string>{"[Platform] Pool<mine>::put(): ASSERT pool fail\n",
                                                  "[Platform] this mine != node other\n"}));
    mine.getStats(total, free, peak);
    EXPECT_EQ(free, allFree - 10);
    mine.putGathered(batch);
    mine.getStats(total, free, peak);
    EXPECT_EQ(free, allFree);
    // The batch is empty again.
    mine.putGathered(batch);
    mine.getStats(total, free, peak);
    EXPECT_EQ(free, allFree);

    // On top of the free stack: the next gets hand out exactly the gathered elements.
    std::vector<elem16*> again;
    for (int i = 0; i < 10; ++i)
        again.push_back(mine.get());
    std::sort(taken.begin(), taken.end());
    std::sort(again.begin(), again.end());
    EXPECT_EQ(again, taken);
    for (elem16* e : again)
        mine.put(e);
    other.put(foreign);
}

TEST_F(poolTest, creatingAPoolWithoutATimerSystemFailsAndLeavesNothingBehind)
{
    platform_setTimerSystem(nullptr);
    try {
        new Pool<elem16>("timerless", 0, 0, 0);
        FAIL() << "no exception";
    } catch (FatalErrorException* e) {
        EXPECT_STREQ(e->getMessage(), "Tried to Create a Pool - but no platform Timer System has been registered!\n");
        delete e;
    }
    EXPECT_TRUE(commits.requests.empty());
}

// Runs the constructor expecting a fatal failure and returns its message.
std::string constructionFailure(const char* name, uint32_t allocStep, uint32_t initialAlloc, uint8_t largePages)
{
    try {
        Pool<elem16> pool(name, allocStep, initialAlloc, largePages);
    } catch (FatalErrorException* e) {
        std::string message = e->getMessage();
        delete e;
        return message;
    }
    return "no exception";
}

const char* const FAILED_4096 = "[Platform] Pool<r>::segmentAllocate(): VirtualAlloc failed! (Errcode: %u) - Bytes Total: 4096\n";
const char* const FAILED_LARGE = "[Platform] Pool<r>::segmentAllocate(): VirtualAlloc failed! (Errcode: %u) - Bytes Total: 2097152\n";
const char* const LOCK_PAGES_ADVICE = "[Platform] Pool<r>::segmentAllocate(): Allocation of LargePages failed, this happens when the Current user has no Permission to LOCK Pages in Memory (to allow: Open Security Policy manager => Local Policies => User Rights Assignment => Lock pages in Memory, add the user)\n";
const char* const NORMAL_PAGES_ADVICE = "[Platform] Pool<r>::segmentAllocate(): Allocation of large Pages failed, system reported out of ressources, allocating normal pages, please reboot the system!\n";

std::string withCode(const char* format, uint32_t code)
{
    char line[512];
    std::snprintf(line, sizeof(line), format, code);
    return line;
}

std::vector<std::string> repeated(const std::string& line, size_t count)
{
    return std::vector<std::string>(count, line);
}

TEST_F(poolTest, unexpectedCommitErrorsAreRetriedThenEndInFatalTexts)
{
    struct retryCase {
        const char* what;
        std::vector<uint32_t> errors;
        uint32_t persistent;
        size_t attempts;
        std::vector<std::string> lines;
        const char* fatal;
    };
    const retryCase cases[] = {
        {"31 quick retries are silent", std::vector<uint32_t>(31, 1450), 0, 32, {}, nullptr},
        {"persistent 1450", {}, 1450, 32, {withCode(FAILED_4096, 1450)},
         "Where is the Guru?!\n\nSegment Allocation Failed\nPool<r>\nError: 1450\nBytes: 4096\n"},
        {"persistent other error", {}, 87, 17, repeated(withCode(FAILED_4096, 87), 17),
         "Where is the Guru?!\n\nSegment Allocation Failed\nPool<r>\nError: 87\nBytes: 4096\n"},
        {"persistent 8", {}, 8, 16, repeated(withCode(FAILED_4096, 8), 16),
         "Out Of Memory\n\nTried to allocate 4096 Bytes for Pool<r>\n"},
        {"8 fifteen times", std::vector<uint32_t>(15, 8), 0, 16, repeated(withCode(FAILED_4096, 8), 15), nullptr},
        {"1314 without large pages", {1314}, 0, 2, {withCode(FAILED_4096, 1314), LOCK_PAGES_ADVICE}, nullptr},
        {"one other error", {5}, 0, 2, {withCode(FAILED_4096, 5)}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        commits.requests.clear();
        commits.errors.assign(c.errors.begin(), c.errors.end());
        commits.persistent = c.persistent;
        log.clear();
        const auto started = std::chrono::steady_clock::now();
        const std::string outcome = constructionFailure("r", 0, 0, 0);
        EXPECT_EQ(outcome, c.fatal ? c.fatal : "no exception");
        EXPECT_EQ(commits.requests.size(), c.attempts);
        EXPECT_EQ(errors(), c.lines);
        if (c.persistent == 87) { // 16 sleeps of 32 ms between the 17 attempts
            EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(16 * 32));
        }
    }
}

TEST_F(poolTest, largePageRefusalsFallBackToNormalPagesForThatSegmentOnly)
{
    commits.largePageMinimum = 2 * 1024 * 1024;
    struct largeCase {
        const char* what;
        std::vector<uint32_t> errors;
        std::vector<std::string> lines;
    };
    std::vector<uint32_t> refusals(32, 1450);
    const largeCase cases[] = {
        {"granted", {}, {}},
        {"privilege not held", {1314}, {withCode(FAILED_LARGE, 1314), LOCK_PAGES_ADVICE}},
        {"out of resources 32 times", refusals, {withCode(FAILED_LARGE, 1450), NORMAL_PAGES_ADVICE}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        commits.requests.clear();
        commits.errors.assign(c.errors.begin(), c.errors.end());
        log.clear();
        // Sized with the large page: 128 requested nodes of 64 bytes grow to fill 2 MB.
        Pool<elem16> pool("r", 128, 0, 1);
        int32_t total, free, peak;
        pool.getStats(total, free, peak);
        EXPECT_EQ(total, 32767);
        EXPECT_EQ(errors(), c.lines);
        ASSERT_EQ(commits.requests.size(), c.errors.size() + 1);
        for (size_t i = 0; i + 1 < commits.requests.size(); ++i)
            EXPECT_TRUE(commits.requests[i].largePages);
        EXPECT_EQ(commits.requests.back().largePages, c.errors.empty());
        EXPECT_EQ(commits.requests.back().bytes, 2097152u);

        // The next segment asks for large pages again.
        commits.requests.clear();
        takeAndReturn(pool, 32767);
        ASSERT_EQ(commits.requests.size(), 1u);
        EXPECT_TRUE(commits.requests[0].largePages);
    }
}

TEST_F(poolTest, largePagesOnASystemWithoutThemUseNormalPages)
{
    commits.largePageMinimum = 0;
    Pool<elem16> pool("r", 128, 0, 1);
    int32_t total, free, peak;
    pool.getStats(total, free, peak);
    EXPECT_EQ(total, 191);
    ASSERT_EQ(commits.requests.size(), 1u);
    EXPECT_FALSE(commits.requests[0].largePages);
    EXPECT_EQ(commits.requests[0].bytes, 12288u);
}

TEST_F(poolTest, segmentSizesPast32BitsAreRefusedAsOutOfMemoryWithoutCommitting)
{
    // 67108864 nodes of 64 bytes are 4 GiB; the largest count overflows a 32-bit product many times.
    EXPECT_EQ(constructionFailure("r", 67108864, 0, 0), "Out Of Memory\n\nTried to allocate 4294967295 Bytes for Pool<r>\n");
    EXPECT_EQ(constructionFailure("r", UINT32_MAX, UINT32_MAX, 0), "Out Of Memory\n\nTried to allocate 4294967295 Bytes for Pool<r>\n");
    EXPECT_TRUE(commits.requests.empty());
    EXPECT_TRUE(errors().empty());
}

// Counts from the settings file are bounded in bytes as well: a pool past 1 GiB is out of memory, refused
// whole at construction and segment by segment as it grows.
TEST_F(poolTest, poolsPastOneGibibyteAreOutOfMemory)
{
    // 2 * 10^9 elements of 64-byte nodes, one page of 63 a segment.
    EXPECT_EQ(constructionFailure("r", 32, 2000000000, 0), "Out Of Memory\n\nTried to allocate 4294967295 Bytes for Pool<r>\n");
    EXPECT_TRUE(commits.requests.empty());

    // 8 MiB nodes, 32 to a segment of 256 MiB and a page: three segments fit, a fourth does not.
    typedef sized<(size_t(8) << 20) - 48> huge;
    constexpr uint64_t SEGMENT = (uint64_t(256) << 20) + 4096;
    try {
        Pool<huge> pool("huge", 32, 128, 0);
        ADD_FAILURE() << "no exception";
    } catch (FatalErrorException* e) {
        EXPECT_STREQ(e->getMessage(), ("Out Of Memory\n\nTried to allocate " + std::to_string(4 * SEGMENT) + " Bytes for Pool<huge>\n").c_str());
        delete e;
    }
    EXPECT_TRUE(commits.requests.empty());

    Pool<huge> pool("huge", 32, 96, 0);
    EXPECT_EQ(committedBytes(), std::vector<uint64_t>(3, SEGMENT));
    std::vector<huge*> taken;
    for (int i = 0; i < 95; ++i)
        taken.push_back(pool.get());
    try {
        pool.get();
        ADD_FAILURE() << "no exception";
    } catch (FatalErrorException* e) {
        EXPECT_STREQ(e->getMessage(), ("Out Of Memory\n\nTried to allocate " + std::to_string(SEGMENT) + " Bytes for Pool<huge>\n").c_str());
        delete e;
    }
    EXPECT_EQ(commits.requests.size(), 3u);
    for (huge* element : taken)
        pool.put(element);
}

TEST_F(poolTest, aFailedConstructionReleasesTheSegmentsItHadCommitted)
{
    commits.errors.assign(1, 0);
    commits.persistent = 8;
    EXPECT_EQ(constructionFailure("r", 0, 100, 0), "Out Of Memory\n\nTried to allocate 4096 Bytes for Pool<r>\n");
    ASSERT_EQ(commits.requests.size(), 17u);
    EXPECT_FALSE(isMapped(commits.requests[0].base));
}

// Each element records which thread holds it: a second hand-out of a held element shows at once.
struct claimed {
    std::atomic<int32_t> holder;
    int32_t spare[3];
};
std::mutex growLock;
std::vector<uint32_t> grownTotals;

void recordGrowSlowly(uint32_t newTotal)
{
    {
        std::lock_guard<std::mutex> guard(growLock);
        grownTotals.push_back(newTotal);
    }
    // Widen the window in which other threads run the free count down to 0 again.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST_F(poolTest, eightThreadsOnATinyGrowingPoolNeverShareAnElement)
{
    constexpr int THREADS = 8;
    constexpr int ROUNDS = 20000;
    constexpr size_t MOST_HELD = 48;
    grownTotals.clear();
    Pool<claimed> pool("stress", 0, 0, 0, nullptr, nullptr, recordGrowSlowly);
    std::atomic<int32_t> doubleHandOuts{0};
    // Every thread holds its most before any lets go, so the pool must grow however the threads are scheduled.
    std::barrier allHolding(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t)
        threads.emplace_back([&, t] {
            std::minstd_rand random(t + 1);
            std::vector<claimed*> held;
            auto take = [&] {
                claimed* e = pool.get();
                int32_t nobody = 0;
                if (!e->holder.compare_exchange_strong(nobody, t + 1))
                    ++doubleHandOuts;
                held.push_back(e);
            };
            while (held.size() < MOST_HELD)
                take();
            allHolding.arrive_and_wait();
            for (int i = 0; i < ROUNDS; ++i) {
                if (held.size() < MOST_HELD && (held.empty() || random() % 2)) {
                    take();
                } else {
                    claimed* e = held.back();
                    held.pop_back();
                    e->holder = 0;
                    pool.put(e);
                }
            }
            for (claimed* e : held) {
                e->holder = 0;
                pool.put(e);
            }
        });
    for (auto& t : threads)
        t.join();

    EXPECT_EQ(doubleHandOuts.load(), 0);
    int32_t total, free, peak;
    pool.getStats(total, free, peak);
    EXPECT_EQ(free, total);
    EXPECT_LE(peak, total);
    EXPECT_GT(total, 63);
    EXPECT_EQ(total % 63, 0);
    // Growth is serialised: every grow callback saw the total its own segment brought.
    std::vector<uint32_t> expected;
    for (int32_t t = 63; t <= total; t += 63)
        expected.push_back(t);
    EXPECT_EQ(grownTotals, expected);
    EXPECT_TRUE(errors().empty());
}

} // namespace
