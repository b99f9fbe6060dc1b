#include "platformlib/allocator/roalloc.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platformlib/posix/heap.h"
#include "platformlib/util/exception.h"
#include "support/capturelogger.h"
#include "support/tempdir.h"

using testing::ElementsAre;
using testing::EndsWith;
using testing::HasSubstr;
using testing::StartsWith;

namespace {

// The caller's location most cases pass.
#define LOC "client/vfs.cpp", 77, "tavrix::vfs::readFile"
const std::string PREFIX = "client/vfs.cpp:77 @ tavrix::vfs::readFile -> ";
const std::string SELF = "platformlib/allocator/roalloc.cpp";

const uint8_t SIGNATURE[ROALLOC_SIGNATURE_SIZE] = {0xF9, 0x06, 0x13, 0x20, 0x2D, 0x3A, 0x47, 0x54,
                                                   0x61, 0x6E, 0x7B, 0x88, 0x95, 0xA2, 0xAF, 0xBC};

roBlockHeader* headerOf(void* p) { return static_cast<roBlockHeader*>(p) - 1; }

std::string hex(const void* p)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%016llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    return text;
}

// "{P}" in a text stands for the pointer as reports print it.
std::string withPointer(std::string text, const void* p)
{
    const auto at = text.find("{P}");
    if (at != std::string::npos)
        text.replace(at, 3, hex(p));
    return text;
}

template <class F>
std::unique_ptr<FatalErrorException> fatalOf(F&& action)
{
    try {
        action();
    } catch (FatalErrorException* e) {
        return std::unique_ptr<FatalErrorException>(e);
    }
    return nullptr;
}

class roallocTest : public testing::Test {
protected:
    void SetUp() override
    {
        logs.clear(); // the logger's own greeting
        roalloc_init();
    }
    void TearDown() override { roalloc_final(); }

    // Stops the allocator; the leak file's bytes, empty when there is none.
    std::string finish()
    {
        roalloc_final();
        return dir.read("memleak.log");
    }

    tavrix::test::tempDir dir;
    tavrix::test::captureLogger logs;
};

TEST_F(roallocTest, recordsSizeKindAndCallerOfEveryBlock)
{
    const std::string longText(200, 'q');
    struct row {
        const char* name;
        std::function<void*()> make;
        uint32_t size;
        uint32_t kind;
    };
    const row rows[] = {
        {"1 byte", [] { return _roalloc(1, LOC, 5); }, 128, ROALLOC_KIND_ALLOC},
        {"127 bytes", [] { return _roalloc(127, LOC, 5); }, 128, ROALLOC_KIND_ALLOC},
        {"128 bytes", [] { return _roalloc(128, LOC, 5); }, 128, ROALLOC_KIND_ALLOC},
        {"129 bytes", [] { return _roalloc(129, LOC, 5); }, 129, ROALLOC_KIND_ALLOC},
        {"realloc of null", [] { return _rorealloc(nullptr, 300, LOC, 5); }, 300, ROALLOC_KIND_ALLOC},
        {"empty string", [] { return _rostrdup("", LOC, 5); }, 128, ROALLOC_KIND_STRDUP},
        {"long string", [&] { return _rostrdup(longText.c_str(), LOC, 5); }, 201, ROALLOC_KIND_STRDUP},
        {"grown", [] { return _rorealloc(_roalloc(1, "x.cpp", 1, "f", 0), 129, LOC, 5); }, 129, ROALLOC_KIND_REALLOC},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        void* p = r.make();
        roBlockHeader* h = headerOf(p);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
        EXPECT_EQ(h->user, p);
        EXPECT_EQ(h->size, r.size);
        EXPECT_EQ(h->kind, r.kind);
        EXPECT_EQ(h->magic, ROALLOC_MAGIC_LIVE);
        EXPECT_STREQ(h->file, "client/vfs.cpp");
        EXPECT_EQ(h->line, 77u);
        EXPECT_STREQ(h->function, "tavrix::vfs::readFile");
        EXPECT_EQ(h->tag, 5u);
        EXPECT_EQ(std::memcmp(static_cast<uint8_t*>(p) + r.size, SIGNATURE, sizeof(SIGNATURE)), 0);
        _rofree(p, LOC);
    }
    EXPECT_EQ(finish(), "");
}

TEST_F(roallocTest, reallocationWithinTheRecordedSizeKeepsBlockAndHeader)
{
    auto* p = static_cast<uint8_t*>(_roalloc(1, "a.cpp", 10, "first", 3));
    for (int i = 0; i < 128; ++i)
        p[i] = uint8_t(i);
    roBlockHeader before = *headerOf(p);

    EXPECT_EQ(_rorealloc(p, 100, "b.cpp", 20, "second", 4), p);
    EXPECT_EQ(_rorealloc(p, 128, "b.cpp", 20, "second", 4), p);
    EXPECT_EQ(std::memcmp(&before, headerOf(p), sizeof(before)), 0);

    auto* grown = static_cast<uint8_t*>(_rorealloc(p, 129, "c.cpp", 30, "third", 6));
    roBlockHeader* h = headerOf(grown);
    EXPECT_EQ(h->user, grown);
    EXPECT_EQ(h->size, 129u);
    EXPECT_EQ(h->kind, ROALLOC_KIND_REALLOC);
    EXPECT_STREQ(h->file, "c.cpp");
    EXPECT_EQ(h->line, 30u);
    EXPECT_STREQ(h->function, "third");
    EXPECT_EQ(h->tag, 6u);
    EXPECT_EQ(std::memcmp(grown + 129, SIGNATURE, sizeof(SIGNATURE)), 0);

    auto* large = static_cast<uint8_t*>(_rorealloc(grown, 1 << 20, LOC, 0));
    for (int i = 0; i < 128; ++i)
        ASSERT_EQ(large[i], uint8_t(i));
    _rofree(large, LOC);
    EXPECT_EQ(finish(), "");
}

TEST_F(roallocTest, releaseByZeroSizeAndNullRelease)
{
    void* p = _roalloc(50, LOC, 0);
    EXPECT_EQ(_rorealloc(p, 0, LOC, 0), nullptr);
    _rofree(nullptr, LOC);
    EXPECT_EQ(finish(), "");
    EXPECT_TRUE(logs.lines().empty());
}

TEST_F(roallocTest, writesWithinTheRaisedSizeGoUnnoticed)
{
    auto* p = static_cast<uint8_t*>(_roalloc(1, LOC, 0));
    std::memset(p, 0xAB, ROALLOC_MIN_SIZE);
    _rofree(p, LOC);
    EXPECT_TRUE(logs.lines().empty());
}

// Every checked misuse: one MEMMGR line naming the allocator's routine, then the same text thrown.
TEST_F(roallocTest, misuseIsLoggedAndThrown)
{
    alignas(16) static uint8_t foreign[512] = {};
    struct row {
        const char* name;
        std::function<void(void*& p)> act;
        const char* function;
        std::string text;
    };
    const row rows[] = {
        {"zero bytes", [](void*&) { _roalloc(0, LOC, 0); }, "_roalloc", "call to alloc() for 0 bytes!"},
        {"realloc of null to zero", [](void*&) { _rorealloc(nullptr, 0, LOC, 0); }, "_rorealloc",
         "invalid call, oldptr = NULL newsz = 0\n"},
        {"overflow by one byte",
         [](void*& p) {
             p = _roalloc(128, LOC, 0);
             static_cast<uint8_t*>(p)[128] = 0;
             _rofree(p, LOC);
         },
         "_rofree", "FREE (ptr: {P}) Signature check failed, OVERFLOW!\n"},
        {"overflow behind a small request, last signature byte",
         [](void*& p) {
             p = _roalloc(7, LOC, 0);
             static_cast<uint8_t*>(p)[128 + 15] ^= 1;
             _rofree(p, LOC);
         },
         "_rofree", "FREE (ptr: {P}) Signature check failed, OVERFLOW!\n"},
        {"overflow found by realloc",
         [](void*& p) {
             p = _roalloc(300, LOC, 0);
             static_cast<uint8_t*>(p)[300] = 0;
             _rorealloc(p, 500, LOC, 0);
         },
         "_rorealloc", "REALLOC (oldptr: {P}) Signature check failed, OVERFLOW! (Requested new size: 500)\n"},
        {"double release",
         [](void*& p) {
             p = _roalloc(10, LOC, 0);
             _rofree(p, LOC);
             _rofree(p, LOC);
         },
         "_rofree", "FREE, tried to free already freed block! (magic validation failed) UserPTR: {P} \n"},
        {"double release after other releases",
         [](void*& p) {
             p = _roalloc(10, LOC, 0);
             _rofree(p, LOC);
             for (int i = 0; i < 16; ++i)
                 _rofree(_roalloc(1000, LOC, 0), LOC);
             _rofree(p, LOC);
         },
         "_rofree", "FREE, tried to free already freed block! (magic validation failed) UserPTR: {P} \n"},
        {"realloc after release",
         [](void*& p) {
             p = _rostrdup("gone", LOC, 0);
             _rofree(p, LOC);
             _rorealloc(p, 500, LOC, 0);
         },
         "_rorealloc",
         "REALLOC (oldptr: {P}) invalid address, magic validation failed! BLOCK IS ALREADY FREED()!! (Requested new size: 500)\n"},
        {"realloc to zero after release",
         [](void*& p) {
             p = _roalloc(10, LOC, 0);
             _rofree(p, LOC);
             _rorealloc(p, 0, LOC, 0);
         },
         "_rofree", "FREE, tried to free already freed block! (magic validation failed) UserPTR: {P} \n"},
        {"foreign block",
         [](void*& p) {
             p = foreign + 256;
             _rofree(p, LOC);
         },
         "_rofree", "FREE, unknown or corrupted block! - (magic validation failed) UserPTR: {P} \n"},
        {"pointer into a block",
         [](void*& p) {
             p = static_cast<uint8_t*>(_roalloc(64, LOC, 0)) + 1;
             _rofree(p, LOC);
         },
         "_rofree", "FREE, unknown or corrupted block! - (magic validation failed) UserPTR: {P} \n"},
        {"overwritten magic",
         [](void*& p) {
             p = _roalloc(64, LOC, 0);
             headerOf(p)->magic = 0;
             _rofree(p, LOC);
         },
         "_rofree", "FREE, unknown or corrupted block! - (magic validation failed) UserPTR: {P} \n"},
        {"foreign block to realloc",
         [](void*& p) {
             p = foreign + 256;
             _rorealloc(p, 500, LOC, 0);
         },
         "_rorealloc", "REALLOC (oldptr: {P}) invalid address, magic validation failed! (Requested new size: 500)\n"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        logs.clear();
        void* p = nullptr;
        auto e = fatalOf([&] { r.act(p); });
        ASSERT_NE(e, nullptr);
        const std::string text = PREFIX + withPointer(r.text, p);
        EXPECT_EQ(e->getMessage(), text);
        EXPECT_EQ(e->getFile(), SELF);
        EXPECT_STREQ(e->getFunction(), r.function);
        const auto lines = logs.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].level, tavrix::util::LOG_MEMMGR);
        EXPECT_EQ(lines[0].text, "[Platform] " + text);
        EXPECT_EQ(lines[0].file, SELF);
        EXPECT_EQ(lines[0].function, r.function);
    }
}

TEST_F(roallocTest, aBlockThatFailsItsCheckStaysListed)
{
    auto* p = static_cast<uint8_t*>(_roalloc(128, LOC, 0));
    const uint8_t kept = p[128];
    p[128] = 0;
    EXPECT_NE(fatalOf([&] { _rofree(p, LOC); }), nullptr);
    EXPECT_NE(fatalOf([&] { _rorealloc(p, 1000, LOC, 0); }), nullptr);
    p[128] = kept;
    _rofree(p, LOC);
    EXPECT_EQ(finish(), "");
}

TEST(roallocLifecycle, everyCallOutsideTheReadyStateThrowsWithoutALogLine)
{
    tavrix::test::tempDir dir;
    tavrix::test::captureLogger logs;
    logs.clear();
    alignas(16) static uint8_t block[256] = {};
    struct row {
        const char* name;
        std::function<void()> act;
        const char* function;
        std::string text;
    };
    const row rows[] = {
        {"alloc", [] { _roalloc(10, LOC, 0); }, "_roalloc",
         PREFIX + "call to alloc() before subsystem has been initialized!\n"},
        {"free", [] { _rofree(block + 128, LOC); }, "_rofree",
         PREFIX + "call to free() before subsystem has been initialized!\n"},
        {"free of null", [] { _rofree(nullptr, LOC); }, "_rofree",
         PREFIX + "call to free() before subsystem has been initialized!\n"},
        {"realloc", [] { _rorealloc(nullptr, 10, LOC, 0); }, "_rorealloc",
         PREFIX + "call to realloc() before subsystem has been initialized!\n"},
        {"strdup", [] { _rostrdup("x", LOC, 0); }, "_rostrdup",
         PREFIX + "call to rostrdup() before subsystem has been initialized!\n"},
        {"table callback", [] { roalloc_rbdb(10); }, "_roalloc",
         " @ roalloc_rbdb -> call to alloc() before subsystem has been initialized!\n"},
        {"class operator", [] { tavrix::roAlloc::operator new(10); }, "_roalloc",
         " @ tavrix::roAlloc::operator new -> call to alloc() before subsystem has been initialized!\n"},
    };
    auto expectAllThrow = [&](const char* state) {
        SCOPED_TRACE(state);
        for (const row& r : rows) {
            SCOPED_TRACE(r.name);
            auto e = fatalOf(r.act);
            ASSERT_NE(e, nullptr);
            EXPECT_THAT(e->getMessage(), EndsWith(r.text));
            EXPECT_EQ(e->getFile(), SELF);
            EXPECT_STREQ(e->getFunction(), r.function);
        }
    };
    roalloc_final(); // does nothing outside the ready state
    expectAllThrow("before init");
    roalloc_init();
    _roalloc(10, LOC, 0); // leaks into the report below
    roalloc_final();
    expectAllThrow("after final");
    EXPECT_EQ(logs.texts().size(), 4u) << "only the leak report is logged";
    EXPECT_TRUE(dir.exists("memleak.log"));
}

TEST_F(roallocTest, leakReportListsNewestFirstWithTotals)
{
    void* a = _roalloc(10, "client/vfs.cpp", 77, "tavrix::vfs::readFile", 0);
    void* b = _roalloc(300, "c:\\src\\client\\ui.cpp", 12, "tavrix::ui::init", 9);
    const std::string lineB =
        withPointer("Memory Leak [{P}]:  300 Bytes, Allocated thru alloc in Proc 'tavrix::ui::init' -> ui.cpp:12", b);
    const std::string lineA = withPointer(
        "Memory Leak [{P}]:  128 Bytes, Allocated thru alloc in Proc 'tavrix::vfs::readFile' -> vfs.cpp:77", a);

    EXPECT_EQ(finish(), lineB + "\r\n" + lineA + "\r\n" +
                            "\r\nMemory Leak Statistics:\r\n Leaks Total: 2\r\n Leaked Bytes: 428\r\n");
    const auto lines = logs.lines();
    ASSERT_EQ(lines.size(), 5u);
    for (const auto& l : lines) {
        EXPECT_EQ(l.level, tavrix::util::LOG_MEMMGR);
        EXPECT_EQ(l.file, SELF);
    }
    EXPECT_THAT(logs.texts(), ElementsAre("[Platform] " + lineB + "\n", "[Platform] " + lineA + "\n",
                                          "[Platform] Memory Leak Statistics:\n", "[Platform]  Leaks Total: 2\n",
                                          "[Platform]  Leaked Bytes: 428\n"));
    EXPECT_EQ(lines[0].function, "report_memleak");
    EXPECT_EQ(lines[4].function, "roalloc_final");
}

TEST_F(roallocTest, leakReportNamesKindsFilesAndStrings)
{
    struct row {
        std::function<void*()> make;
        std::string lines; // as in the file, "{P}" for the pointer
    };
    const row rows[] = {
        {[] { return _rostrdup("", "plain.cpp", 1, "f", 0); },
         "Memory Leak [{P}]:  128 Bytes, Allocated thru strdup in Proc 'f' -> plain.cpp:1\r\n"
         "Memory Leak [{P}]:  String Contents ''\r\n"},
        {[] { return _rostrdup("two\nlines", "dir/sub\\mixed.cpp", 2, "g", 0); },
         "Memory Leak [{P}]:  128 Bytes, Allocated thru strdup in Proc 'g' -> mixed.cpp:2\r\n"
         "Memory Leak [{P}]:  String Contents 'two\r\nlines'\r\n"},
        {[] {
             void* p = _rostrdup("abc", "dir\\a.cpp", 3, "h", 0);
             std::memset(p, 'x', ROALLOC_MIN_SIZE); // its NUL is gone
             return p;
         },
         "Memory Leak [{P}]:  128 Bytes, Allocated thru strdup in Proc 'h' -> a.cpp:3\r\n"
         "Memory Leak [{P}]:  String Contents '" +
             std::string(ROALLOC_MIN_SIZE, 'x') + "'\r\n"},
        {[] { return _rorealloc(_rostrdup("s", LOC, 0), 200, "r.cpp", 4, "i", 0); },
         "Memory Leak [{P}]:  200 Bytes, Allocated thru realloc in Proc 'i' -> r.cpp:4\r\n"},
        {[] {
             void* p = _roalloc(1, "/abs/u.cpp", 5, "j", 0);
             headerOf(p)->kind = 7;
             return p;
         },
         "Memory Leak [{P}]:  128 Bytes, Allocated thru unknown in Proc 'j' -> u.cpp:5\r\n"},
    };
    std::string expected;
    for (const row& r : rows) {
        void* p = r.make();
        std::string text = r.lines;
        for (auto at = text.find("{P}"); at != std::string::npos; at = text.find("{P}"))
            text.replace(at, 3, hex(p));
        expected = text + expected;
    }
    expected += "\r\nMemory Leak Statistics:\r\n Leaks Total: 5\r\n Leaked Bytes: 712\r\n";
    EXPECT_EQ(finish(), expected);
    EXPECT_TRUE(logs.contains("String Contents 'two\nlines'\n"));
    EXPECT_TRUE(logs.contains("String Contents '" + std::string(ROALLOC_MIN_SIZE, 'x') + "'\n"));
}

TEST_F(roallocTest, nothingLeakedLeavesAnExistingFileUntouched)
{
    dir.write("memleak.log", "earlier run");
    _rofree(_roalloc(10, LOC, 0), LOC);
    EXPECT_EQ(finish(), "earlier run");
    EXPECT_TRUE(logs.lines().empty());
}

TEST_F(roallocTest, aLeakReplacesAnExistingFile)
{
    dir.write("memleak.log", std::string(4000, 'o'));
    _roalloc(10, LOC, 0);
    EXPECT_THAT(finish(), StartsWith("Memory Leak ["));
}

TEST_F(roallocTest, theLogGetsTheReportWhenTheFileCannotBeOpened)
{
    std::filesystem::create_directory(dir.path() + "/memleak.log");
    _roalloc(10, LOC, 0);
    roalloc_final();
    EXPECT_THAT(logs.texts(), ElementsAre(HasSubstr("128 Bytes"), "[Platform] Memory Leak Statistics:\n",
                                          "[Platform]  Leaks Total: 1\n", "[Platform]  Leaked Bytes: 128\n"));
}

TEST_F(roallocTest, outOfMemoryAfterTwentyAttemptsAndNineteenPauses)
{
    struct row {
        const char* name;
        uint32_t size;
        uint32_t recorded;
    };
    const row rows[] = {{"small", 1, 128}, {"largest", 0xFFFFFFFF, 0xFFFFFFFF}};
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        logs.clear();
        tavrix::sys::heapFailNext(20);
        const uint32_t pauses = tavrix::sys::heapRetryPauses();
        const auto started = std::chrono::steady_clock::now();
        auto e = fatalOf([&] { _roalloc(r.size, LOC, 0); });
        const auto elapsed = std::chrono::steady_clock::now() - started;
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(tavrix::sys::heapRetryPauses() - pauses, 19u);
        EXPECT_GE(elapsed, std::chrono::milliseconds(19 * 16));
        const std::string text = PREFIX + "Out of Memory - " + std::to_string(uint64_t(r.recorded) + ROALLOC_OVERHEAD) +
                                 " Bytes (User Size: " + std::to_string(r.recorded) + ")\n";
        EXPECT_EQ(e->getMessage(), text);
        EXPECT_STREQ(e->getFunction(), "_roalloc");
        EXPECT_THAT(logs.texts(), ElementsAre("[Platform] " + text));
    }

    // The lock is free again for other threads.
    auto other = std::async(std::launch::async, [] { _rofree(_roalloc(10, LOC, 0), LOC); });
    ASSERT_EQ(other.wait_for(std::chrono::seconds(30)), std::future_status::ready);

    tavrix::sys::heapFailNext(19);
    const uint32_t pauses = tavrix::sys::heapRetryPauses();
    void* p = _roalloc(10, LOC, 0);
    EXPECT_EQ(tavrix::sys::heapRetryPauses() - pauses, 19u);
    _rofree(p, LOC);
    EXPECT_EQ(finish(), "");
}

TEST_F(roallocTest, failedGrowthLeavesTheOldBlockReleased)
{
    auto* p = static_cast<char*>(_rostrdup("old bytes", LOC, 0));
    tavrix::sys::heapFailNext(20);
    const uint32_t pauses = tavrix::sys::heapRetryPauses();
    auto e = fatalOf([&] { _rorealloc(p, 500, LOC, 0); });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(tavrix::sys::heapRetryPauses() - pauses, 19u);
    const std::string text = PREFIX + withPointer("REALLOC [128 => 500 Bytes] OUT OF MEMORY, (oldptr: {P})\n", p);
    EXPECT_EQ(e->getMessage(), text);
    EXPECT_STREQ(e->getFunction(), "_rorealloc");
    EXPECT_THAT(logs.texts(), ElementsAre("[Platform] " + text));

    EXPECT_STREQ(p, "old bytes");
    auto again = fatalOf([&] { _rofree(p, LOC); });
    ASSERT_NE(again, nullptr);
    EXPECT_THAT(again->getMessage(), HasSubstr("tried to free already freed block!"));
    EXPECT_EQ(finish(), "") << "the old block is off the list";
}

struct widget : tavrix::roAlloc {
    int values[10];
};

__attribute__((noinline)) widget* makeWidget() { return new widget(); }

TEST_F(roallocTest, classOperatorsRecordTheirOwnLocationAndTheCaller)
{
    widget* w = makeWidget();
    roBlockHeader* h = headerOf(w);
    EXPECT_STREQ(h->function, "tavrix::roAlloc::operator new");
    EXPECT_EQ(h->file, SELF);
    EXPECT_EQ(h->size, ROALLOC_MIN_SIZE);
    const uint32_t entry = uint32_t(reinterpret_cast<uintptr_t>(&makeWidget));
    EXPECT_GT(h->tag - entry, 0u) << "the tag is the code address inside the creator";
    EXPECT_LT(h->tag - entry, 4096u);
    // The released block is still quarantined, so the second release is a defined check.
    volatile uintptr_t address = reinterpret_cast<uintptr_t>(w);
    delete w;

    auto e = fatalOf([&] { tavrix::roAlloc::operator delete(reinterpret_cast<void*>(address)); });
    ASSERT_NE(e, nullptr);
    EXPECT_THAT(e->getMessage(), StartsWith(SELF + ":"));
    EXPECT_THAT(e->getMessage(), HasSubstr(" @ tavrix::roAlloc::operator delete -> FREE, tried to free already freed block!"));
    EXPECT_EQ(finish(), "");
}

TEST_F(roallocTest, tableCallbacksRecordTheirOwnNames)
{
    void* p = roalloc_rbdb(10);
    EXPECT_STREQ(headerOf(p)->function, "roalloc_rbdb");
    EXPECT_EQ(headerOf(p)->file, SELF);
    EXPECT_EQ(headerOf(p)->tag, 0u);
    rofree_rbdb(p);
    auto e = fatalOf([&] { rofree_rbdb(p); });
    ASSERT_NE(e, nullptr);
    EXPECT_THAT(e->getMessage(), HasSubstr(" @ rofree_rbdb -> FREE, tried to free already freed block!"));
    EXPECT_EQ(finish(), "");
}

TEST_F(roallocTest, leakReportOrdersBlocksOfAllThreadsNewestFirst)
{
    _roalloc(1, "first.cpp", 1, "f", 0);
    std::thread([] { _roalloc(1, "second.cpp", 2, "g", 0); }).join();
    _roalloc(1, "third.cpp", 3, "h", 0);
    std::thread([] { _roalloc(1, "fourth.cpp", 4, "i", 0); }).join();
    const std::string report = finish();
    const auto at = [&](const char* name) { return report.find(name); };
    EXPECT_LT(at("fourth.cpp"), at("third.cpp"));
    EXPECT_LT(at("third.cpp"), at("second.cpp"));
    EXPECT_LT(at("second.cpp"), at("first.cpp"));
    EXPECT_NE(at("first.cpp"), std::string::npos);
}

TEST_F(roallocTest, threadsAllocateAndReleaseAtOnce)
{
    constexpr int THREADS = 8;
    std::vector<std::thread> workers;
    for (int t = 0; t < THREADS; ++t)
        workers.emplace_back([t] {
            std::vector<void*> live;
            for (int i = 0; i < 3000; ++i) {
                live.push_back(_roalloc(uint32_t(1 + (i * 37 + t) % 700), LOC, 0));
                if (i % 3 == 0)
                    live.back() = _rorealloc(live.back(), 900, LOC, 0);
                if (live.size() > 20) {
                    _rofree(live.front(), LOC);
                    live.erase(live.begin());
                }
            }
            for (void* p : live)
                _rofree(p, LOC);
            _rostrdup("kept", LOC, 0);
        });
    for (auto& w : workers)
        w.join();
    EXPECT_THAT(finish(), HasSubstr(" Leaks Total: 8\r\n Leaked Bytes: 1024\r\n"));
}

} // namespace
