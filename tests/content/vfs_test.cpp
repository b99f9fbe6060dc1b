// The content store: where a load finds its bytes (dev/, the file table, neither), the content-path check,
// shared references and their release, the timed collection, asynchronous loads on the workers, and
// what final does with files still held.
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/json.h"
#include "platformlib/posix/thread.h"
#include "platformlib/util/format.h"
#include "vfsfixture.h"

using namespace std::chrono_literals;
namespace vfs = tavrix::vfs;
namespace cvar = tavrix::cvar;

namespace {

class vfsTest : public tavrix::test::vfsFixture {
protected:
    void SetUp() override
    {
        vfsFixture::SetUp();
        // Collections run only when a test calls onGC, unless it asks for the timer.
        cvar::set("vfs.gc.interval", 100000000);
        start();
        vfs::startCollection();
    }
};

TEST(contentPath, SafePaths)
{
    const std::string longest(127, 'a');
    struct {
        std::string path;
        bool safe;
    } cases[] = {
        {"data/ui/mainMenu.titleScreen/index.html", true},
        {"a", true},
        {longest, true},
        {".hidden/...", true},
        {"data/\xC3\xA4.png", true},
        {longest + "a", false},
        {"", false},
        {"/etc/passwd", false},
        {"data/", false},
        {"data//x", false},
        {"./data/x", false},
        {"data/./x", false},
        {"data/../../x", false},
        {"..", false},
        {"data\\x", false},
        {"data/x\ny", false},
        {"data/x\x7F", false},
        {std::string("data/x\0y", 8), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vfs::isSafeContentPath(c.path.data(), uint32_t(c.path.size())), c.safe) << c.path;
}

// Names go into status texts that the screens show as markup.
TEST(statusText, MarkupInANameIsEscaped)
{
    const struct {
        std::string path;
        size_t size;
        std::string escaped;
    } cases[] = {
        {"data/ui/mainMenu.titleScreen/index.html", 256, "data/ui/mainMenu.titleScreen/index.html"},
        {"data/<img src=x onerror=\"alert('&')\">", 256, "data/&lt;img src=x onerror=&quot;alert(&#39;&amp;&#39;)&quot;&gt;"},
        {"\xC3\xA4 %;#", 256, "\xC3\xA4 %;#"},
        {std::string(127, '"'), vfs::ESCAPED_PATH_SIZE, [] {
             std::string all;
             for (int i = 0; i < 127; ++i)
                 all += "&quot;";
             return all;
         }()},
        // Cut where the next piece no longer fits, never inside an entity.
        {"ab<c", 7, "ab&lt;"},
        {"ab<c", 6, "ab"},
        {"abc", 3, "ab"},
        {"abc", 1, ""},
    };
    for (const auto& c : cases) {
        std::vector<char> out(c.size, '?');
        vfs::escapeMarkup(c.path.c_str(), out.data(), out.size());
        EXPECT_EQ(c.escaped, std::string(out.data())) << c.path << " in " << c.size;
    }
}

// What the store records, downloads and writes: content files under data/, never its own under data/meta.
TEST(contentPath, UpdatablePaths)
{
    const struct {
        std::string path;
        bool updatable;
    } cases[] = {
        {"data/x", true},
        {"data/ui/mainMenu.titleScreen/index.html", true},
        {"data/meta.txt", true},
        {"data/metadata/x", true},
        {"data/x/meta/y", true},
        {"data/meta", false},
        {"data/meta/contentDB", false},
        {"data/meta/contentVersion", false},
        {"data/meta/sub/x", false},
        {"data", false},
        {"data/", false},
        {"datax/y", false},
        {"dev/data/x", false},
        {"other/x", false},
        {"data/../x", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vfs::isUpdatablePath(c.path.data(), uint32_t(c.path.size())), c.updatable) << c.path;
}

// Every source a load can take its bytes from, and the two ways of finding nothing.
TEST_F(vfsTest, SourcesOfALoad)
{
    addFile("data/table.txt", "from the table");
    dir.write("dev/devonly.txt", "from dev");
    addFile("data/both.txt", "table copy");
    dir.write("dev/data/both.txt", "dev copy");
    addFile("data/emptydev.txt", "table after empty dev");
    dir.write("dev/data/emptydev.txt", "");
    vfs::fileDataINFO* empty = addFile("data/zero.txt", "");
    ASSERT_EQ(0, std::remove("data/zero.txt")); // a size-0 record never opens its file
    dir.write("secret.txt", "outside the content");

    struct {
        const char* path;
        const char* expected; // null: no data
        const char* message;
    } cases[] = {
        {"data/table.txt", "from the table", nullptr},
        {"devonly.txt", "from dev", nullptr},
        {"data/both.txt", "dev copy", nullptr},
        {"data/emptydev.txt", "table after empty dev", "vfs::_getFileDataDirect(dev/data/emptydev.txt) -> read() failed\n"},
        {"data/zero.txt", "", nullptr},
        {"data/missing.txt", nullptr, "vfs: readFile(data/missing.txt) - file does not exist\n"},
        {"../secret.txt", nullptr, "vfs: readFile(../secret.txt) - file does not exist\n"},
        {"data/../../secret.txt", nullptr, "vfs: readFile(data/../../secret.txt) - file does not exist\n"},
    };
    for (const auto& c : cases) {
        captured.clear();
        uint32_t size = 99;
        void* data = vfs::readFile(c.path, &size);
        if (c.expected) {
            ASSERT_NE(nullptr, data) << c.path;
            EXPECT_EQ(c.expected, text(data, size)) << c.path;
            EXPECT_EQ('\0', static_cast<char*>(data)[size]) << c.path;
            vfs::releaseFile(data);
        } else {
            EXPECT_EQ(nullptr, data) << c.path;
            EXPECT_EQ(0u, size) << c.path;
        }
        if (c.message) {
            EXPECT_TRUE(captured.contains(c.message)) << c.path;
        }
        EXPECT_TRUE(captured.texts(tavrix::util::LOG_ERROR).empty() || c.message) << c.path;
    }
    // The dev copy went straight back; the table's record of the same path was never touched.
    EXPECT_EQ(nullptr, record("data/both.txt")->data);
    EXPECT_EQ(0u, record("data/both.txt")->refCount);
    EXPECT_EQ(1u, empty->loaded);
}

TEST_F(vfsTest, FileExistsNeverLoads)
{
    addFile("data/table.txt", "x");
    dir.write("dev/devonly.txt", "y");
    dir.write("secret.txt", "z");
    EXPECT_TRUE(vfs::fileExists("data/table.txt"));
    EXPECT_TRUE(vfs::fileExists("devonly.txt"));
    EXPECT_FALSE(vfs::fileExists("data/missing.txt"));
    EXPECT_FALSE(vfs::fileExists("../secret.txt"));
    EXPECT_EQ(nullptr, record("data/table.txt")->data);
}

TEST_F(vfsTest, RecordedFileThatCannotBeUsed)
{
    vfs::fileDataINFO* bad = addFile("data/bad.bin", "original bytes");
    dir.write("data/bad.bin", "changed bytes!");
    vfs::fileDataINFO* gone = addFile("data/gone.bin", "soon deleted");
    std::remove("data/gone.bin");
    vfs::fileDataINFO* cut = addFile("data/short.bin", "full length");
    dir.write("data/short.bin", "full");

    struct {
        vfs::fileDataINFO* record;
        const char* message;
    } cases[] = {
        {bad, "vfs: _getFileDataDisk() 'data/bad.bin' - Checksum Error\n"},
        {gone, "vfs: _getFileDataDisk() 'data/gone.bin' - I/O open error\n"},
        {cut, "vfs: _getFileDatDisk() 'data/short.bin' - I/O read error (reading of 11 Bytes failed)\n"},
    };
    for (const auto& c : cases) {
        captured.clear();
        uint32_t size = 0;
        EXPECT_EQ(nullptr, vfs::readFile(c.record->name, &size)) << c.record->name;
        EXPECT_EQ(c.record->size, size) << c.record->name;
        EXPECT_TRUE(captured.contains(c.message)) << c.record->name;
        EXPECT_TRUE(captured.contains("readFile: @TODO --- HANDLE I/O ERROR WITH DOWNLOADING\n"));
        EXPECT_EQ(0u, c.record->refCount);
        EXPECT_EQ(0u, c.record->loaded);
    }
}

TEST_F(vfsTest, TwoReadsShareOnePointerUntilTheCollection)
{
    vfs::fileDataINFO* shared = addFile("data/shared.txt", "shared bytes");
    uint32_t size1 = 0, size2 = 0;
    void* first = vfs::readFile("data/shared.txt", &size1);
    dir.write("data/shared.txt", "changed on disk"); // served from memory from now on
    void* second = vfs::readFile("data/shared.txt", &size2);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, second);
    EXPECT_EQ(2u, shared->refCount);

    cvar::set("vfs.gc.freeAfter", 0);
    vfs::releaseFile(first);
    vfs::onGC(0, nullptr, nullptr);
    EXPECT_EQ(first, shared->data) << "still referenced";
    vfs::releaseFile(second);
    EXPECT_EQ(1u, shared->queued);

    cvar::set("vfs.gc.freeAfter", 100000000);
    vfs::onGC(0, nullptr, nullptr);
    EXPECT_EQ(first, shared->data) << "released too recently";
    uint32_t size = 0;
    void* again = vfs::readFile("data/shared.txt", &size);
    EXPECT_EQ(first, again) << "a file read again before the collection comes from memory";
    vfs::releaseFile(again);

    cvar::set("vfs.gc.freeAfter", 0);
    vfs::onGC(0, nullptr, nullptr);
    EXPECT_EQ(nullptr, shared->data);
    EXPECT_EQ(0u, shared->loaded);
    EXPECT_EQ(0u, shared->queued);
}

TEST_F(vfsTest, ARunFindingTheFileHeldDropsItUntilItsNextRelease)
{
    vfs::fileDataINFO* held = addFile("data/held.txt", "held");
    uint32_t size = 0;
    cvar::set("vfs.gc.freeAfter", 0);
    vfs::releaseFile(vfs::readFile("data/held.txt", &size));
    void* data = vfs::readFile("data/held.txt", &size);
    vfs::onGC(0, nullptr, nullptr);
    EXPECT_EQ(0u, held->queued);
    EXPECT_EQ(data, held->data);

    // Falling to 0 twice before a run queues it once, with the later time.
    vfs::releaseFile(data);
    const uint32_t firstRelease = held->releaseTime;
    std::this_thread::sleep_for(5ms);
    vfs::releaseFile(vfs::readFile("data/held.txt", &size));
    EXPECT_GT(held->releaseTime, firstRelease);
    vfs::onGC(0, nullptr, nullptr);
    EXPECT_EQ(nullptr, held->data);
    vfs::onGC(0, nullptr, nullptr); // the record is on no stack any more
}

TEST_F(vfsTest, TheTimerRunsTheCollection)
{
    stop();
    cvar::set("vfs.gc.interval", 20);
    cvar::set("vfs.gc.freeAfter", 0);
    start();
    vfs::startCollection();
    vfs::fileDataINFO* file = addFile("data/timed.txt", "timed");
    uint32_t size = 0;
    vfs::releaseFile(vfs::readFile("data/timed.txt", &size));
    auto loaded = [file] {
        std::lock_guard<tavrix::util::mutex> guard(*file->lock);
        return file->loaded;
    };
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (loaded() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(0u, loaded());
}

TEST_F(vfsTest, ReleasesThatAreNotOwed)
{
    void* foreign = roalloc(64);
    char expected[128];
    std::snprintf(expected, sizeof(expected), "vfs: releaseFile(" TAVRIX_PTR ") - Invalid Address\n", tavrix::util::ptrArg(foreign));
    vfs::releaseFile(foreign);
    EXPECT_TRUE(captured.contains(expected));
    rofree(foreign);
    vfs::releaseFile(nullptr);
    EXPECT_TRUE(captured.contains("vfs: releaseFile(0000000000000000) - Invalid Address\n"));

    vfs::fileDataINFO* file = addFile("data/once.txt", "once");
    uint32_t size = 0;
    void* data = vfs::readFile("data/once.txt", &size);
    vfs::releaseFile(data);
    vfs::releaseFile(data);
    std::snprintf(expected, sizeof(expected), "vfs: releaseFile(" TAVRIX_PTR ") Tried to Release already fully dereferenced file data/once.txt\n",
                  tavrix::util::ptrArg(data));
    EXPECT_TRUE(captured.contains(expected));
    EXPECT_EQ(0u, file->refCount);
    EXPECT_EQ(data, file->data);
}

// What the asynchronous loads delivered.
struct deliveries {
    std::mutex lock;
    std::condition_variable changed;
    struct call {
        std::string name;
        void* data;
        uint32_t size;
        void* user;
        void* user2;
        std::string thread;
    };
    std::vector<call> calls;

    static void callback(const char* name, void* data, uint32_t size, void* user, void* user2)
    {
        char threadName[32] = {};
        pthread_getname_np(pthread_self(), threadName, sizeof(threadName));
        auto* self = static_cast<deliveries*>(user);
        std::lock_guard<std::mutex> guard(self->lock);
        self->calls.push_back({name, data, size, user, user2, threadName});
        self->changed.notify_all();
    }
    bool waitFor(size_t count)
    {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, 60s, [&] { return calls.size() >= count; });
    }
};

TEST_F(vfsTest, AsyncLoadsOnTheWorkers)
{
    addFile("data/async.txt", "async bytes");
    const std::string cutName = "data/" + std::string(122, 'x');
    addFile(cutName, "must not load");
    const std::string longPath = cutName + std::string(73, 'y');
    deliveries got;
    int marker = 0;
    vfs::asyncLoad("data/async.txt", deliveries::callback, &got, &marker);
    vfs::asyncLoad("data/none.txt", deliveries::callback, &got, &marker);
    vfs::asyncLoad(longPath.c_str(), deliveries::callback, &got, &marker);
    ASSERT_TRUE(got.waitFor(3));

    std::lock_guard<std::mutex> guard(got.lock);
    for (const auto& call : got.calls) {
        EXPECT_EQ(0u, call.thread.rfind("VFS Worker#", 0)) << call.thread;
        EXPECT_EQ(&marker, call.user2);
        if (call.name == "data/async.txt") {
            ASSERT_NE(nullptr, call.data);
            EXPECT_EQ("async bytes", text(call.data, call.size));
            vfs::releaseFile(call.data);
        } else {
            EXPECT_EQ(nullptr, call.data) << call.name;
            EXPECT_EQ(0u, call.size) << call.name;
            EXPECT_TRUE(call.name == "data/none.txt" || call.name == cutName) << call.name;
        }
    }
    EXPECT_TRUE(captured.contains("vfs: asyncLoad(data/none.txt) - file does not exist\n"));
    EXPECT_TRUE(captured.contains("vfs: asyncLoad(" + cutName + "...) - path longer than 127 Bytes, not loaded\n"));
    EXPECT_EQ(nullptr, record(cutName)->data);
}

TEST_F(vfsTest, ManyThreadsLoadOnePathAsynchronously)
{
    stop();
    cvar::set("vfs.nWorker", 4);
    start();
    vfs::fileDataINFO* file = addFile("data/busy.bin", std::string(100000, 'b'));
    constexpr int THREADS = 8;
    constexpr int LOADS = 50;
    deliveries got;
    std::vector<std::thread> callers;
    for (int t = 0; t < THREADS; ++t)
        callers.emplace_back([&] {
            for (int i = 0; i < LOADS; ++i)
                vfs::asyncLoad("data/busy.bin", deliveries::callback, &got, nullptr);
        });
    for (auto& caller : callers)
        caller.join();
    ASSERT_TRUE(got.waitFor(THREADS * LOADS));
    {
        std::lock_guard<std::mutex> guard(got.lock);
        EXPECT_EQ(THREADS * LOADS, int(got.calls.size()));
        for (const auto& call : got.calls)
            EXPECT_EQ(file->data, call.data);
        EXPECT_EQ(uint32_t(THREADS * LOADS), file->refCount);
        for (const auto& call : got.calls)
            vfs::releaseFile(call.data);
    }
    EXPECT_EQ(0u, file->refCount);
    EXPECT_EQ(1u, file->queued);
}

TEST_F(vfsTest, FinalFreesFilesStillHeld)
{
    addFile("data/kept.txt", "kept");
    uint32_t size = 0;
    ASSERT_NE(nullptr, vfs::readFile("data/kept.txt", &size));
    ASSERT_NE(nullptr, vfs::readFile("data/kept.txt", &size));
    stop();
    EXPECT_TRUE(captured.contains("vfs: File 'data/kept.txt' still referenced/used 2 times\n"));
    EXPECT_TRUE(captured.contains("vfs::final - end\n"));
}

// For a shutdown that cannot finish: the collection and the workers stop and nothing is released, so a file
// held stays readable and a load queued afterwards never runs; final then releases everything.
TEST_F(vfsTest, StopEndsTheWorkersAndReleasesNothing)
{
    addFile("data/kept.txt", "kept");
    uint32_t size = 0;
    void* held = vfs::readFile("data/kept.txt", &size);
    ASSERT_NE(nullptr, held);
    EXPECT_TRUE(vfs::stop());
    const auto lines = captured.texts(tavrix::util::LOG_INFO);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "vfs::worker: terminating.\n"), 2);
    deliveries got;
    vfs::asyncLoad("data/kept.txt", deliveries::callback, &got, nullptr);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ("kept", text(held, size));
    vfs::releaseFile(held);
    stop();
    std::lock_guard<std::mutex> guard(got.lock);
    EXPECT_TRUE(got.calls.empty());
    EXPECT_TRUE(captured.contains("vfs::final - end\n"));
}

TEST_F(vfsTest, JsonDocumentsReadThroughTheStore)
{
    dir.write("dev/data/doc.json", "{\"a\": 1}");
    tavrix::json document;
    jsonValue value;
    ASSERT_TRUE(document.parseFile("data/doc.json", &value));
    EXPECT_EQ(JSON_TAG_OBJECT, value.getTag());
}

TEST_F(vfsTest, StartAndEndLog)
{
    stop();
    captured.clear();
    start();
    for (const char* line : {"vfs: data/meta/contentVersion does not exist\n", "vfs: Local Content Version 0\n",
                             "vfs: _DEBUG Build, enabled (forced) read dev/ folder first\n", "vfs: launching 2 Workers\n",
                             "vfs: Can't determine local Content Version\n",
                             "vfs: _DEBUG -> setting localAssetServerURL to 'http://127.0.0.1:8090/'\n"})
        EXPECT_TRUE(captured.contains(line)) << line;
    EXPECT_TRUE(dir.exists("data/meta"));
    stop();
    const std::vector<std::string> lines = captured.texts();
    EXPECT_EQ(2, int(std::count(lines.begin(), lines.end(), std::string("vfs::worker: terminating.\n"))));
}

} // namespace
