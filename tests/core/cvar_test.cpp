// The configuration store: loading ./cvar.db (good, odd and broken files), saving it, the getters and
// setters, calls outside init/final, and concurrent registration.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "client/cvar.h"
#include "core/coremodules.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/util/exception.h"

using namespace std::string_literals;
namespace cvar = tavrix::cvar;

namespace {

class cvarTest : public tavrix::test::moduleTest {
protected:
    void SetUp() override { moduleRun::start({tavrix::test::ALLOCATOR}); }

    void start() { moduleRun::start({tavrix::test::CVARS}); }
    void stop() { moduleRun::stop(tavrix::test::CVARS.name); }
    void startWith(const std::string& file)
    {
        dir.write("cvar.db", file);
        start();
    }
    static std::string str(const char* name)
    {
        std::vector<char> buffer(1 << 23);
        uint32_t len = uint32_t(buffer.size());
        cvar::getStr(name, buffer.data(), &len);
        return std::string(buffer.data(), len);
    }
    std::vector<std::string> warnings() const { return captured.texts(tavrix::util::LOG_WARN); }
    // The saved entries after the version line, split at their line feeds, sorted.
    static std::vector<std::string> sortedLines(const std::string& file)
    {
        std::vector<std::string> lines;
        size_t at = 0;
        while (at < file.size()) {
            const size_t end = file.find('\n', at);
            lines.push_back(file.substr(at, end - at));
            at = end == std::string::npos ? file.size() : end + 1;
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }
};

struct loadCase {
    const char* what;
    std::string file;
    std::vector<std::pair<const char*, std::string>> values; // name -> string form ("0": not loaded)
    std::vector<std::string> warnings;
};

TEST_F(cvarTest, loadsFiles)
{
    const std::string big(20000, 'x');
    const loadCase cases[] = {
        {"the example", "20131017\n9:video.bpp:i:32\n12:sound.device:s:8:Speakers\n",
         {{"video.bpp", "32"}, {"sound.device", "Speakers"}}, {}},
        {"CRLF lines", "20131017\r\n9:video.bpp:i:32\r\n", {{"video.bpp", "0"}},
         {"./cvar.db: Unknonwn Version 20131017\r - Expected 20131017\n"}},
        {"another version", "20120101\n9:video.bpp:i:32\n", {{"video.bpp", "0"}},
         {"./cvar.db: Unknonwn Version 20120101 - Expected 20131017\n"}},
        {"no version line", "", {}, {"./cvar.db: Syntax Error - Version Expected - got: null\n"}},
        {"first duplicate wins", "20131017\n1:a:i:1\n1:a:i:2\n", {{"a", "1"}}, {}},
        {"doubles", "20131017\n1:a:d:2.75\n1:b:d:-1e-300\n", {{"a", "2.75"}, {"b", "-1e-300"}}, {}},
        {"a key holding colons", "20131017\n3:a:b:i:7\n", {{"a:b", "7"}}, {}},
        {"a string holding a line feed", "20131017\n1:s:s:7:abc\ndef\n1:t:i:5\n", {{"s", "abc\ndef"}, {"t", "5"}}, {}},
        {"a string holding only line feeds", "20131017\n1:s:s:2:\n\n\n1:t:i:5\n", {{"s", "\n\n"}, {"t", "5"}}, {}},
        {"a string longer than a line", "20131017\n1:s:s:20000:" + big + "\n1:t:i:5\n", {{"s", big}, {"t", "5"}}, {}},
        // The line buffer holds 16382 bytes: a value ending exactly there, and one going one byte past it.
        {"a value filling the line buffer", "20131017\n1:s:s:16370:" + std::string(16370, 'z') + "\n1:t:i:5\n",
         {{"s", std::string(16370, 'z')}, {"t", "5"}}, {}},
        {"a value one byte past the line buffer", "20131017\n1:s:s:16371:" + std::string(16371, 'z') + "\n1:t:i:5\n",
         {{"s", std::string(16371, 'z')}, {"t", "5"}}, {}},
        {"an empty string", "20131017\n1:e:s:0:\n1:t:i:5\n", {{"e", ""}, {"t", "5"}}, {}},
        {"a NUL inside a line", "20131017\n1:n:s:3:a\0b\n1:t:i:5\n"s, {{"n", "a\0b"s}, {"t", "5"}}, {}},
        {"no final line feed after an integer", "20131017\n9:video.bpp:i:32", {{"video.bpp", "32"}}, {}},
        {"no final line feed after a string", "20131017\n12:sound.device:s:8:Speakers", {{"sound.device", "Speakers"}}, {}},
        {"syntax error on line 5", "20131017\n1:a:i:2\n1:b:i:3\n1:c:i:4\ngarbage\n1:f:i:6\n",
         {{"a", "2"}, {"b", "3"}, {"c", "4"}, {"f", "0"}}, {"./cvar.db:5 -> Syntax Error - expected Key\n"}},
        {"unknown type on line 5", "20131017\n1:a:i:2\n1:b:i:3\n1:c:i:4\n1:e:q:5\n1:f:i:6\n",
         {{"a", "2"}, {"e", "0"}, {"f", "6"}}, {"./cvar.db:5 Sntax Error - unknown type specifier 'q'\n"}},
        {"a value longer than its length", "20131017\n1:a:i:1\n1:s:s:3:abcdefgh\n1:t:i:5\n",
         {{"a", "1"}, {"s", "0"}, {"t", "0"}}, {"./cvar.db:3 Syntax Error - expected \n as var termination\n"}},
        {"a value longer than its length, no line feed", "20131017\n1:s:s:0:abc",
         {{"s", "0"}}, {"./cvar.db:2 Syntax Error - expected \n as var termination\n"}},
        {"a multi-line value not ended by a line feed", "20131017\n1:s:s:5:ab\ncdX1:t:i:5\n",
         {{"s", "0"}, {"t", "0"}}, {"./cvar.db:2 Syntax Error - expected \n as var termination\n"}},
        {"a value cut by the end of the file", "20131017\n1:s:s:10:abc\n", {{"s", "0"}},
         {"./cvar.db:2 IO Error - Tried to read 6 Bytes to complete reading strData - read failed\n"}},
        {"a length over 4 MiB", "20131017\n1:a:i:1\n1:s:s:4194305:abc\n1:t:i:5\n", {{"a", "1"}, {"t", "0"}},
         {"./cvar.db:3 Syntax Error - Str Length > 4M  - Report This.\n"}},
        {"a negative length", "20131017\n1:s:s:-1:abc\n", {{"s", "0"}},
         {"./cvar.db:2 Syntax Error - Str Length > 4M  - Report This.\n"}},
        {"no string length delimiter", "20131017\n1:s:s:abc\n", {{"s", "0"}},
         {"./cvar.db:2 Syntax Error, expected ':' as delimieter for str length an str data\n"}},
        {"a key length past the line", "20131017\n9:ab:i:1\n", {{"ab", "0"}},
         {"./cvar.db:2 Syntax Error - specified Key Length exceeds buffer length\n"}},
        {"a negative key length", "20131017\n-1:ab:i:1\n", {{"ab", "0"}},
         {"./cvar.db:2 Syntax Error - specified Key Length exceeds buffer length\n"}},
        {"a key shorter than its length", "20131017\n1:ab:i:1\n", {{"a", "0"}},
         {"./cvar.db:2 Sntax Error - expected ':' as delimeter between key and type\n"}},
        {"no delimiter after the type", "20131017\n1:a:i1\n", {{"a", "0"}},
         {"./cvar.db:2 Syntax Error - expected ':' as delimiter between type and data\n"}},
        {"a line ending at the type", "20131017\n1:a:i", {{"a", "0"}},
         {"./cvar.db:2 Syntax Error - expected ':' as delimiter between type and data\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        captured.clear();
        startWith(c.file);
        for (const auto& [name, value] : c.values)
            EXPECT_EQ(str(name), value) << name;
        EXPECT_EQ(warnings(), c.warnings);
        stop();
    }
}

TEST_F(cvarTest, missingFileLoadsNothingSilently)
{
    start();
    EXPECT_EQ(cvar::getInt("video.bpp"), 0);
    EXPECT_TRUE(captured.texts(tavrix::util::LOG_WARN | tavrix::util::LOG_ERROR).empty());
}

TEST_F(cvarTest, roundTrip)
{
    const std::string big(20000, 'y');
    const std::string odd = "a\0b\nc:d\r\n"s;
    start();
    cvar::initialize("i.neg", int64_t(-9223372036854775807LL - 1), 1);
    cvar::initialize("i.int", 42, 1);
    cvar::initialize("d.tenth", 0.1, 1);
    cvar::initialize("d.float", 0.1f, 1);
    cvar::initialize("s.empty", "", 0, 1);
    cvar::initialize("s.odd", odd.data(), uint32_t(odd.size()), 1);
    cvar::initialize("s.big", big.data(), uint32_t(big.size()), 1);
    cvar::initialize("key:with:colons", "v", 0, 1);
    cvar::initialize("not.saved", 7, 0);
    cvar::getInt("read.only");
    stop();

    std::string file = dir.read("cvar.db");
    ASSERT_EQ(file.substr(0, 9), "20131017\n");
    EXPECT_FALSE(dir.exists("cvar.db.tmp"));
    // The long value is checked once here, so that a mismatch below stays readable.
    const size_t at = file.find(big);
    ASSERT_NE(at, std::string::npos);
    file.replace(at, big.size(), "<big>");
    const std::vector<std::string> expected = sortedLines("5:i.neg:i:-9223372036854775808\n"
                                                          "5:i.int:i:42\n"
                                                          "7:d.tenth:d:0.10000000000000000555111512312578\n"
                                                          "7:d.float:d:0.100000001490116119384765625\n"
                                                          "7:s.empty:s:0:\n"
                                                          "5:s.odd:s:9:" +
                                                          odd + "\n5:s.big:s:20000:<big>"
                                                          "\n15:key:with:colons:s:1:v\n");
    EXPECT_EQ(sortedLines(file.substr(9)), expected);

    start();
    EXPECT_EQ(cvar::getInt("i.neg"), INT64_MIN);
    EXPECT_EQ(cvar::getInt("i.int"), 42);
    EXPECT_EQ(cvar::getDouble("d.tenth"), 0.1);
    EXPECT_EQ(cvar::getFloat("d.float"), 0.1f);
    EXPECT_EQ(str("s.empty"), "");
    EXPECT_EQ(str("s.odd"), odd);
    EXPECT_EQ(str("s.big"), big);
    EXPECT_EQ(str("key:with:colons"), "v");
    EXPECT_EQ(str("not.saved"), "0");
    EXPECT_TRUE(warnings().empty());
}

TEST_F(cvarTest, whatTheNextSaveKeeps)
{
    // Unregistered: i and d stay (persist 1 from the loader), s goes unless a module registers it again.
    startWith("20131017\n1:i:i:1\n1:d:d:1.5\n1:s:s:1:x\n1:r:s:1:y\n1:n:i:3\n");
    cvar::initialize("r", "default", 0, 1);
    cvar::initialize("n", 9, 0);
    stop();
    EXPECT_EQ(sortedLines(dir.read("cvar.db")), sortedLines("20131017\n1:i:i:1\n1:d:d:1.5\n1:r:s:1:y\n"));
}

TEST_F(cvarTest, anIntKeyStoredAsDoubleStaysDouble)
{
    startWith("20131017\n1:a:d:2.75\n1:b:d:-2.75\n");
    cvar::initialize("a", 5, 1);
    cvar::initialize("b", 5, 1);
    EXPECT_EQ(cvar::getI32("a"), 2);
    EXPECT_EQ(cvar::getI32("b"), -2);
    EXPECT_EQ(cvar::getDouble("a"), 2.75);
    stop();
    EXPECT_EQ(sortedLines(dir.read("cvar.db")), sortedLines("20131017\n1:a:d:2.75\n1:b:d:-2.75\n"));
}

TEST_F(cvarTest, anotherVersionIsRewritten)
{
    startWith("19990101\n1:a:i:1\n");
    cvar::initialize("b", 2, 1);
    stop();
    EXPECT_EQ(dir.read("cvar.db"), "20131017\n1:b:i:2\n");
}

TEST_F(cvarTest, aFailedSaveKeepsThePreviousFile)
{
    const std::string previous = "20131017\n1:a:i:1\n";
    // The temporary file cannot be made.
    startWith(previous);
    cvar::set("a", 2);
    ASSERT_EQ(mkdir("cvar.db.tmp", 0700), 0);
    stop();
    EXPECT_EQ(dir.read("cvar.db"), previous);
    // Named as the user knows it, whatever file the save goes through.
    EXPECT_TRUE(captured.contains("cvar::final() -> cannto open './cvar.db' for saving the current variable states\n"));
    ASSERT_EQ(rmdir("cvar.db.tmp"), 0);

    // The disk is full: the writes fail when the file is flushed and closed.
    captured.clear();
    start();
    cvar::set("a", 3);
    ASSERT_EQ(symlink("/dev/full", "cvar.db.tmp"), 0);
    stop();
    EXPECT_EQ(dir.read("cvar.db"), previous);
    EXPECT_FALSE(dir.exists("cvar.db.tmp"));
    EXPECT_EQ(captured.texts(tavrix::util::LOG_ERROR),
              std::vector<std::string>{"cvar::final() -> saving './cvar.db' failed, the previous file is kept\n"});
}

TEST_F(cvarTest, formsAndGetters)
{
    start();
    cvar::set("s", "  -12.5e1xyz", 0);
    EXPECT_EQ(cvar::getInt("s"), -12);
    EXPECT_EQ(cvar::getDouble("s"), -125.0);
    EXPECT_EQ(str("s"), "  -12.5e1xyz");

    cvar::set("d", 3.99);
    EXPECT_EQ(cvar::getInt("d"), 3);
    cvar::set("d", -3.99);
    EXPECT_EQ(cvar::getInt("d"), -3);
    cvar::set("huge", 1e300);
    EXPECT_EQ(cvar::getInt("huge"), INT64_MAX);

    cvar::set("i", int64_t(0x100000002LL));
    EXPECT_EQ(cvar::getI32("i"), 2);
    EXPECT_EQ(cvar::getDouble("i"), 4294967298.0);
    cvar::set("ll", 5LL);
    EXPECT_EQ(cvar::getInt("ll"), 5);

    cvar::set("b", 1);
    EXPECT_TRUE(cvar::getBool("b"));
    cvar::set("b", 2);
    EXPECT_FALSE(cvar::getBool("b"));

    // Reading a missing name makes it an integer 0.
    EXPECT_EQ(cvar::getInt("missing"), 0);
    EXPECT_EQ(str("missing2"), "0");

    // The string form of a number is made on demand and refreshed by every later set.
    cvar::initialize("f", 1, 1);
    EXPECT_EQ(str("f"), "1");
    cvar::set("f", 0.1f);
    EXPECT_EQ(str("f"), "0.10000000149012");
    cvar::set("f", 0.1);
    EXPECT_EQ(str("f"), "0.1");
    cvar::set("f", 1.0 / 3.0);
    EXPECT_EQ(str("f"), "0.333333333333");
    cvar::set("f", -7);
    EXPECT_EQ(str("f"), "-7");
    cvar::set("f", int64_t(-9223372036854775807LL));
    EXPECT_EQ(str("f"), "-9223372036854775807");

    // initialize stores only when the name is new; persist changes in every case.
    cvar::initialize("f", 99, 1);
    EXPECT_EQ(cvar::getInt("f"), -9223372036854775807LL);

    cvar::_delete("f");
    EXPECT_EQ(cvar::getInt("f"), 0);
    cvar::_delete("never.made");
}

TEST_F(cvarTest, getStrBufferSizes)
{
    start();
    cvar::set("s", "hello", 0);
    struct {
        uint32_t size;
        std::string text;
    } const cases[] = {{1, ""}, {2, "h"}, {5, "hell"}, {6, "hello"}, {100, "hello"}};
    for (const auto& c : cases) {
        char buffer[128];
        std::fill(std::begin(buffer), std::end(buffer), '#');
        uint32_t len = c.size;
        cvar::getStr("s", buffer, &len);
        EXPECT_EQ(len, c.text.size()) << c.size;
        EXPECT_EQ(std::string(buffer), c.text) << c.size;
        EXPECT_EQ(buffer[len + 1], '#') << c.size;
    }
    char untouched = '#';
    uint32_t len = 0;
    cvar::getStr("s", &untouched, &len);
    EXPECT_EQ(untouched, '#');
    EXPECT_EQ(len, 0u);
}

TEST(cvarCapacity, rule)
{
    // Keyed by the bytes to hold, the NUL included.
    struct {
        uint32_t bytes;
        uint32_t capacity;
    } const cases[] = {{1, 64}, {63, 64}, {64, 64}, {65, 129}, {101, 165}, {128, 256}, {4194305, 8388609}};
    for (const auto& c : cases)
        EXPECT_EQ(cvar::strCapacityFor(c.bytes - 1), c.capacity) << c.bytes;
}

TEST_F(cvarTest, callsOutsideInitAndFinal)
{
    struct {
        std::function<void()> call;
        const char* message;
        const char* function;
    } const cases[] = {
        {[] { cvar::_delete("k"); }, "cvar::delete(k) -> while subsystem is not initialized!\n", "tavrix::cvar::_delete"},
        {[] { cvar::initialize("k", int64_t(-5), 1); }, "cvar::initialize(k, (int64)-5 ) -> while subsystem is not initialized!\n", "tavrix::cvar::initialize"},
        {[] { cvar::initialize("k", 5LL, 1); }, "cvar::initialize(k, (int64)5 ) -> while subsystem is not initialized!\n", "tavrix::cvar::initialize"},
        {[] { cvar::initialize("k", 7, 1); }, "cvar::initialize(k, (int)7 ) -> while subsystem is not initialized!\n", "tavrix::cvar::initialize"},
        {[] { cvar::initialize("k", 1.5, 1); }, "cvar::initialize(k, (dobule)1.500000 ) -> while subsystem is not initialized!\n", "tavrix::cvar::initialize"},
        {[] { cvar::initialize("k", 2.5f, 1); }, "cvar::initialize(k, (float)2.500000 ) -> while subsystem is not initialized!\n", "tavrix::cvar::initialize"},
        {[] { cvar::initialize("k", "abc", 3, 1); }, "cvar::initialize(k, 'abc' (len: 3) ) -> while subsystem is not initialized!\n", "tavrix::cvar::initialize"},
        {[] { cvar::set("k", int64_t(9)); }, "cvar::set(k, (int64)9 ) -> while subsystem is not initialized!\n", "tavrix::cvar::set"},
        {[] { cvar::set("k", 7); }, "cvar::set(k, (int)7 ) -> while subsystem is not initialized!\n", "tavrix::cvar::set"},
        {[] { cvar::set("k", 1.5); }, "cvar::set(k, (dobule)1.500000 ) -> while subsystem is not initialized!\n", "tavrix::cvar::set"},
        {[] { cvar::set("k", 2.5f); }, "cvar::set(k, (float)2.500000 ) -> while subsystem is not initialized!\n", "tavrix::cvar::set"},
        {[] { cvar::set("k", "abc", 0); }, "cvar::set(k, 'abc' (len: 0) ) -> while subsystem is not initialized!\n", "tavrix::cvar::set"},
        {[] { char b[8]; uint32_t n = 8; cvar::getStr("k", b, &n); }, "cvar::getStr(k) -> while subsystem is not initialized!\n", "tavrix::cvar::getStr"},
        {[] { cvar::getInt("k"); }, "cvar::getInt(k) -> while subsystem is not initialized!\n", "tavrix::cvar::getInt"},
        {[] { cvar::getI32("k"); }, "cvar::getI32(k) -> while subsystem is not initialized!\n", "tavrix::cvar::getI32"},
        {[] { cvar::getBool("k"); }, "cvar::getI32(k) -> while subsystem is not initialized!\n", "tavrix::cvar::getI32"},
        {[] { cvar::getDouble("k"); }, "cvar::getDouble(k) -> while subsystem is not initialized!\n", "tavrix::cvar::getDouble"},
        {[] { cvar::getFloat("k"); }, "cvar::getFloat(k) -> while subsystem is not initialized!\n", "tavrix::cvar::getFloat"},
    };
    // Before init, and after final.
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : cases) {
            FatalErrorException* caught = nullptr;
            try {
                c.call();
            } catch (FatalErrorException* e) {
                caught = e;
            }
            ASSERT_NE(caught, nullptr) << c.message;
            EXPECT_STREQ(caught->getMessage(), c.message);
            EXPECT_STREQ(caught->getFunction(), c.function);
            EXPECT_STREQ(caught->getFile(), "client/cvar.cpp");
            delete caught;
        }
        start();
        stop();
    }
}

// The value a thread set that was never joined, as a worker left behind at shutdown: only the variable's
// own lock orders that write before the save.
TEST_F(cvarTest, theSaveReadsEachVariableUnderItsOwnLock)
{
    start();
    std::atomic<bool> set{false};
    std::atomic<bool> release{false};
    std::thread leftBehind([&] {
        cvar::initialize("left.behind", "", 0, 1);
        cvar::set("left.behind", "value", 0);
        set.store(true, std::memory_order_relaxed);
        while (!release.load(std::memory_order_relaxed))
            std::this_thread::yield();
    });
    while (!set.load(std::memory_order_relaxed))
        std::this_thread::yield();
    stop();
    release.store(true, std::memory_order_relaxed);
    leftBehind.join();
    EXPECT_NE(dir.read("cvar.db").find("11:left.behind:s:5:value\n"), std::string::npos) << dir.read("cvar.db");
}

// For a shutdown that cannot finish: the file as the variables stand, and the store still whole for the
// threads that run on.
TEST_F(cvarTest, saveWritesTheFileAndReleasesNothing)
{
    startWith("20131017\n1:a:i:1\n");
    cvar::initialize("s", "text", 0, 1);
    cvar::save();
    EXPECT_EQ(sortedLines(dir.read("cvar.db")), (std::vector<std::string>{"1:a:i:1", "1:s:s:4:text", "20131017"}));
    EXPECT_FALSE(dir.exists("cvar.db.tmp"));
    EXPECT_EQ(str("s"), "text");
    cvar::set("a", 2);
    stop();
    EXPECT_EQ(sortedLines(dir.read("cvar.db")), (std::vector<std::string>{"1:a:i:2", "1:s:s:4:text", "20131017"}));
}

TEST_F(cvarTest, concurrentUse)
{
    start();
    constexpr int threads = 8;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t] {
            const std::string own = "own." + std::to_string(t);
            for (int i = 0; i < 2000; ++i) {
                cvar::initialize("shared", t, 1);
                cvar::set(own.c_str(), i);
                EXPECT_EQ(cvar::getInt(own.c_str()), i);
                const int64_t shared = cvar::getInt("shared");
                EXPECT_TRUE(shared >= 0 && shared < threads);
                if (i % 100 == 0)
                    cvar::_delete(("gone." + std::to_string(t)).c_str());
                char text[32];
                uint32_t len = sizeof(text);
                cvar::getStr("shared", text, &len);
                EXPECT_EQ(len, 1u);
            }
        });
    }
    for (auto& w : workers)
        w.join();
    const int64_t winner = cvar::getInt("shared");
    stop();
    const std::string file = dir.read("cvar.db");
    EXPECT_NE(file.find("6:shared:i:" + std::to_string(winner) + "\n"), std::string::npos) << file;
    EXPECT_EQ(file.find("6:shared:"), file.rfind("6:shared:"));
}

} // namespace
