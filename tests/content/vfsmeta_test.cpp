// The content store's files under data/meta/: the meta database's exact bytes, appends and in-place
// updates, every defect the reader knows and the rebuild that follows it; the content version file; and
// the rebuild of both from a directory tree by reindexing.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platformlib/posix/files.h"
#include "platformlib/util/hex.h"
#include "platformlib/util/sha256.h"
#include "support/httpfixture.h"
#include "updatetest.h"
#include "vfsfixture.h"

namespace vfs = tavrix::vfs;
namespace fs = std::filesystem;

namespace {

constexpr const char* DB = "data/meta/contentDB";
constexpr const char* VERSION = "data/meta/contentVersion";

uint32_t le32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | uint8_t(bytes[at + i]);
    return value;
}

int64_t le64(const std::string& bytes, size_t at)
{
    return int64_t(uint64_t(le32(bytes, at + 4)) << 32 | le32(bytes, at));
}

std::string u32(uint32_t value)
{
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = char(value >> (8 * i));
    return out;
}

std::string i64(int64_t value) { return u32(uint32_t(uint64_t(value))) + u32(uint32_t(uint64_t(value) >> 32)); }

uint32_t crcOf(const std::string& bytes) { return crc32_update(0, bytes.data(), uint32_t(bytes.size())); }

// The bytes a node at `offset` must have for a record.
std::string expectedNode(uint32_t offset, const vfs::fileDataINFO* r)
{
    std::string path(r->name, r->nameLength);
    path.resize(128, '\0');
    std::string node = u32(0) + u32(offset - 14496530) + path + i64(r->time) + u32(r->size) +
                       std::string(reinterpret_cast<const char*>(r->sha256), 32) + u32(r->crc32) + u32(r->contentVersion);
    return node + u32(crcOf(node));
}

std::string sha256Of(const std::string& bytes)
{
    sha256Context ctx;
    uint8_t digest[32];
    sha256_starts(&ctx);
    sha256_update(&ctx, bytes.data(), uint32_t(bytes.size()));
    sha256_finish(&ctx, digest);
    return std::string(reinterpret_cast<char*>(digest), 32);
}

// The paths of the nodes, in file order.
std::vector<std::string> nodePaths(const std::string& db)
{
    std::vector<std::string> paths;
    for (size_t at = 2; at + 192 + 20 <= db.size(); at += 192)
        paths.push_back(db.substr(at + 8, 128).c_str());
    return paths;
}

class vfsMetaTest : public tavrix::test::vfsFixture {
protected:
    void SetUp() override
    {
        vfsFixture::SetUp();
        start();
    }

    vfs::fileDataINFO* makeRecord(const std::string& path, uint32_t seed)
    {
        vfs::fileDataINFO* r = vfs::newRecord(path.data(), uint32_t(path.size()));
        r->time = 1234567890123 + seed;
        r->size = 1000 + seed;
        std::fill(std::begin(r->sha256), std::end(r->sha256), uint8_t(0x10 + seed));
        r->crc32 = 0xAABBCC00 + seed;
        r->contentVersion = 40 + seed;
        return r;
    }

    // Reindexed files behind a database that loads.
    void buildDatabase()
    {
        dir.write("data/one.txt", "first file");
        dir.write("data/two.txt", "second file");
        vfs::cleanMetaData();
        vfs::reindex("data", true);
        vfs::fileDB_wipe();
    }

    size_t tableSize()
    {
        size_t n = 0;
        for (const char* path : {"data/one.txt", "data/two.txt"})
            n += record(path) != nullptr;
        return n;
    }
};

TEST_F(vfsMetaTest, EmptyDatabaseAndAppendsAreExactBytes)
{
    const int64_t before = std::time(nullptr);
    vfs::cleanMetaData();
    const int64_t after = std::time(nullptr);
    std::string db = dir.read(DB);
    ASSERT_EQ(22u, db.size());
    EXPECT_EQ(std::string("\x01\x00", 2), db.substr(0, 2));
    EXPECT_EQ(0u, le32(db, 2));
    EXPECT_GE(le64(db, 6), before);
    EXPECT_LE(le64(db, 6), after);
    EXPECT_EQ(0xFFFFFFFEu, le32(db, 14));
    EXPECT_EQ(crcOf(db.substr(2, 16)), le32(db, 18));

    vfs::setLocalContentVersion(5);
    vfs::fileDataINFO* first = makeRecord("data/a.txt", 1);
    EXPECT_EQ(first, vfs::addFileToMetaData(first));
    EXPECT_EQ(2u, first->nodeOffset);
    db = dir.read(DB);
    ASSERT_EQ(214u, db.size());
    EXPECT_EQ(0xFF22CCF0u, le32(db, 6));
    EXPECT_EQ(expectedNode(2, first), db.substr(2, 192));
    EXPECT_EQ(5u, le32(db, 194));
    EXPECT_EQ(2u, le32(db, 206));
    EXPECT_EQ(crcOf(db.substr(194, 16)), le32(db, 210));

    vfs::setLocalContentVersion(6);
    vfs::fileDataINFO* second = makeRecord("data/b/c.bin", 2);
    vfs::addFileToMetaData(second);
    EXPECT_EQ(194u, second->nodeOffset);
    const std::string grown = dir.read(DB);
    ASSERT_EQ(406u, grown.size());
    EXPECT_EQ(db.substr(0, 194), grown.substr(0, 194));
    EXPECT_EQ(expectedNode(194, second), grown.substr(194, 192));
    EXPECT_EQ(6u, le32(grown, 386));
    EXPECT_EQ(194u, le32(grown, 398));

    // An update rewrites one node and the trailer's time, nothing else.
    first->size = 7;
    first->crc32 = 0x01020304;
    first->time = 42;
    first->contentVersion = 77;
    first->sha256[0] = 0xEE;
    vfs::updateFileMetaData(first);
    const std::string updated = dir.read(DB);
    ASSERT_EQ(406u, updated.size());
    EXPECT_EQ(expectedNode(2, first), updated.substr(2, 192));
    EXPECT_EQ(grown.substr(194, 192), updated.substr(194, 192));
    EXPECT_EQ(6u, le32(updated, 386));
    EXPECT_EQ(194u, le32(updated, 398));
    EXPECT_EQ(crcOf(updated.substr(386, 16)), le32(updated, 402));
    rofree(first);
    rofree(second);
}

TEST_F(vfsMetaTest, LoadingRestoresTheRecords)
{
    vfs::cleanMetaData();
    vfs::fileDataINFO* a = makeRecord("data/a.txt", 1);
    vfs::fileDataINFO* b = makeRecord("data/b.txt", 2);
    for (vfs::fileDataINFO* r : {a, b}) {
        ASSERT_TRUE(vfs::fileDB_addEntry(r));
        vfs::addFileToMetaData(r);
    }
    vfs::fileDB_wipe();
    ASSERT_TRUE(vfs::loadMetaData());
    EXPECT_TRUE(captured.contains("vfs: Loaded Meta Data - 2 Files\n"));
    vfs::fileDataINFO* loaded = record("data/b.txt");
    ASSERT_NE(nullptr, loaded);
    EXPECT_EQ(194u, loaded->nodeOffset);
    EXPECT_EQ(1234567890125, loaded->time);
    EXPECT_EQ(1002u, loaded->size);
    EXPECT_EQ(0x12, loaded->sha256[31]);
    EXPECT_EQ(0xAABBCC02u, loaded->crc32);
    EXPECT_EQ(42u, loaded->contentVersion);
    EXPECT_EQ(10u, loaded->nameLength);
}

// Another thread looks names up while the table is wiped (the UI Worker does, for its faces): it keeps a
// table to look in, and finds nothing once the wipe is done.
TEST_F(vfsMetaTest, AWipeLeavesTheTableToThoseLookingUp)
{
    for (int round = 0; round < 20; ++round) {
        for (const char* name : {"data/a.txt", "data/b.txt", "data/c.txt"})
            ASSERT_TRUE(vfs::fileDB_addEntry(makeRecord(name, 1)));
        std::atomic<bool> looking{true};
        std::atomic<uint32_t> lookups{0};
        std::thread reader([&] {
            while (looking.load()) {
                vfs::fileExists("data/b.txt");
                lookups.fetch_add(1);
            }
        });
        while (lookups.load() < 10)
            std::this_thread::yield();
        vfs::fileDB_wipe();
        looking.store(false);
        reader.join();
        EXPECT_FALSE(vfs::fileExists("data/b.txt"));
    }
}

// Every defect of the database: its exact message, then the rebuild the start-up makes of it.
TEST_F(vfsMetaTest, DamagedDatabasesAreRebuilt)
{
    buildDatabase();
    const std::string good = dir.read(DB);
    // The database itself lies under data/ but is not content: the two files have the nodes.
    ASSERT_EQ(2u + 2 * 192 + 20, good.size());
    ASSERT_EQ((std::vector<std::string>{"data/one.txt", "data/two.txt"}), nodePaths(good));
    auto resealFoot = [](std::string db) {
        return db.substr(0, db.size() - 4) + u32(crcOf(db.substr(db.size() - 20, 16)));
    };
    std::string pastEnd = good;
    pastEnd.replace(good.size() - 8, 4, u32(2 + 192 * 5));
    std::string noNul = good;
    noNul.replace(10, 128, std::string(128, 'a'));
    noNul.replace(190, 4, u32(crcOf(noNul.substr(2, 188))));
    std::string flipped = good;
    flipped[2 + 60] ^= 1;
    std::string version2 = good;
    version2[0] = 2;
    std::string badFoot = good;
    badFoot[good.size() - 1] ^= 0x40;

    struct {
        const char* name;
        std::string bytes; // empty: no file
        const char* message;
        size_t loadedBeforeFailing;
    } cases[] = {
        {"missing", "", "data/meta/contentDB: faild to open file\n", 0},
        {"one byte", "\x01", "data/meta/contentDB: failed to read header\n", 0},
        {"version 2", version2, "data/meta/contentDB: unsupported file-version 2\n", 0},
        {"shorter than a trailer", good.substr(0, 12), "data/meta/contentDB: seek operation failed\n", 0},
        {"trailer CRC", badFoot, "data/meta/contentDB: file corrupted\n", 0},
        {"flipped node byte", flipped, "data/meta/contentDB: file corrupted (2)\n", 0},
        {"node moved", good.substr(0, 2) + good.substr(194, 192) + good.substr(2, 192) + good.substr(386),
         "data/meta/contentDB: file corrupted (2) [M]\n", 0},
        {"path without NUL", noNul, "data/meta/contentDB: file corrupted (2)\n", 0},
        {"last offset past the end", resealFoot(pastEnd), "data/meta/contentDB: read failed (n)\n", 2},
        {"no nodes", resealFoot(good.substr(0, 2) + good.substr(good.size() - 20, 12) + u32(0xFFFFFFFE) + u32(0)),
         "data/meta/contentDB: read failed (n)\n", 0},
    };
    for (const auto& c : cases) {
        captured.clear();
        std::remove(DB);
        if (!c.bytes.empty())
            dir.write(DB, c.bytes);
        EXPECT_FALSE(vfs::loadMetaData()) << c.name;
        EXPECT_TRUE(captured.contains(c.message)) << c.name;
        EXPECT_EQ(c.loadedBeforeFailing, tableSize()) << c.name;

        vfs::setLocalContentVersion(3);
        vfs::prepareLocalContent();
        EXPECT_TRUE(captured.contains("vfs: Meta Database could'nt be loaded, starting re-index\n")) << c.name;
        EXPECT_TRUE(captured.contains("vfs: wiping fileDB!\n")) << c.name;
        EXPECT_EQ(0u, vfs::getLocalContentVersion()) << c.name;
        EXPECT_EQ(2u, tableSize()) << c.name;
        EXPECT_EQ(nodePaths(good), nodePaths(dir.read(DB))) << c.name;
        vfs::fileDB_wipe();
        EXPECT_TRUE(vfs::loadMetaData()) << c.name;
        vfs::fileDB_wipe();
    }
}

TEST_F(vfsMetaTest, UnsafeAndRepeatedPathsInTheDatabase)
{
    vfs::cleanMetaData();
    vfs::fileDataINFO* records[] = {makeRecord("../outside", 1), makeRecord("data/twice.txt", 2), makeRecord("data/twice.txt", 3),
                                    makeRecord("data/meta/contentDB", 4), makeRecord("other/x.txt", 5)};
    for (vfs::fileDataINFO* r : records) {
        vfs::addFileToMetaData(r);
        rofree(r);
    }
    ASSERT_TRUE(vfs::loadMetaData());
    for (uint32_t offset : {2u, 2u + 3 * 192, 2u + 4 * 192})
        EXPECT_TRUE(captured.contains("data/meta/contentDB: node (" + std::to_string(offset) + ") holds an unsafe path - skipped\n")) << offset;
    EXPECT_TRUE(captured.contains("vfs: Loaded Meta Data - 5 Files\n"));
    for (const char* path : {"../outside", "data/meta/contentDB", "other/x.txt"})
        EXPECT_EQ(nullptr, record(path)) << path;
    ASSERT_NE(nullptr, record("data/twice.txt"));
    EXPECT_EQ(194u, record("data/twice.txt")->nodeOffset) << "the first node of a path wins";
}

TEST_F(vfsMetaTest, ContentVersionFile)
{
    stop();
    const std::string head = std::string("\x01\x00", 2) + u32(7) + i64(1400000000);
    const std::string good = head + u32(crcOf(head));
    const std::string badCrc = head + u32(crcOf(head) ^ 1);
    char corrupted[96];
    std::snprintf(corrupted, sizeof(corrupted), "vfs: data/meta/contentVersion corrupted (%x != %x)\n", crcOf(head), crcOf(head) ^ 1);
    struct {
        const char* name;
        std::string bytes;
        uint32_t version;
        const char* message;
    } cases[] = {
        {"missing", "", 0, "vfs: data/meta/contentVersion does not exist\n"},
        {"good", good, 7, nullptr},
        {"longer than 18 bytes", good + "more", 7, nullptr},
        {"wrong CRC", badCrc, 0, corrupted},
        {"short", good.substr(0, 10), 0, "vfs: failed to read data/meta/contentVersion\n"},
    };
    for (const auto& c : cases) {
        std::remove(VERSION);
        if (!c.bytes.empty())
            dir.write(VERSION, c.bytes);
        captured.clear();
        start();
        EXPECT_EQ(c.version, vfs::getLocalContentVersion()) << c.name;
        if (c.message) {
            EXPECT_TRUE(captured.contains(c.message)) << c.name;
        } else {
            EXPECT_TRUE(captured.texts(tavrix::util::LOG_ERROR).empty()) << c.name;
        }
        stop();
        // An unchanged version is not written.
        EXPECT_EQ(!c.bytes.empty(), fs::exists(VERSION)) << c.name;
        EXPECT_EQ(c.bytes, dir.read(VERSION)) << c.name;
    }

    // A changed version is written at the end, and again by every later save.
    std::remove(VERSION);
    start();
    vfs::setLocalContentVersion(9);
    const int64_t before = std::time(nullptr);
    vfs::saveLocalContentVersion();
    std::string saved = dir.read(VERSION);
    ASSERT_EQ(18u, saved.size());
    EXPECT_EQ(std::string("\x01\x00", 2) + u32(9), saved.substr(0, 6));
    EXPECT_GE(le64(saved, 6), before);
    EXPECT_EQ(crcOf(saved.substr(0, 14)), le32(saved, 14));
    std::remove(VERSION);
    stop();
    EXPECT_EQ(9u, le32(dir.read(VERSION), 2));
    for (const auto& entry : fs::directory_iterator("data/meta"))
        EXPECT_TRUE(entry.path().filename() == "contentVersion" || entry.path().filename() == "contentDB" ||
                    entry.path().filename() == "lock")
            << entry.path();
}

TEST_F(vfsMetaTest, ReindexWalksTheTreeInByteOrder)
{
    const std::string deepName = "data/deep/" + std::string(117, 'd');         // 127 bytes
    const std::string tooLong = "data/deep/" + std::string(118, 'e');          // 128 bytes
    dir.write("data/a.txt", "alpha");
    dir.write("data/B.txt", "upper case sorts first");
    dir.write("data/sub.txt", "after the folder sub");
    dir.write("data/sub/x.bin", std::string(20000, 'x'));
    dir.write("data/sub/deeper/y.bin", "y");
    dir.write("data/empty.txt", "");
    dir.write(deepName, "fits");
    dir.write(tooLong, "too long");
    dir.write("data/back\\slash", "not a content path");
    dir.write("data/meta/notes.txt", "the store's folder holds no content");
    dir.write("data/meta.txt", "but a name that only begins like it is content");
    fs::create_directory_symlink("..", "data/sub/loop");
    fs::create_symlink("a.txt", "data/link.txt");
    ASSERT_EQ(0, mkfifo("data/pipe", 0644));
    {
        std::FILE* big = std::fopen("data/sub/huge.bin", "wb");
        ASSERT_NE(nullptr, big);
        std::fclose(big);
        fs::resize_file("data/sub/huge.bin", uint64_t(1) << 32); // sparse: no bytes are read from it
    }

    const int64_t before = std::time(nullptr);
    vfs::cleanMetaData();
    vfs::reindex("data", true);
    const std::string db = dir.read(DB);
    const std::vector<std::string> expected = {
        "data/B.txt",          "data/a.txt",     deepName,      "data/empty.txt", "data/meta.txt",
        "data/sub/deeper/y.bin", "data/sub/x.bin", "data/sub.txt",
    };
    EXPECT_EQ(expected, nodePaths(db));
    EXPECT_TRUE(captured.contains("vfs::reindexFile() - '" + tooLong +
                                  "' fileName exceeds the maximum supported fileName length of 127 chars. - SKIPPING!\n"));
    EXPECT_TRUE(captured.contains("vfs::reindexFile() - 'data/back\\slash' is not a valid content path - SKIPPING!\n"));
    EXPECT_TRUE(captured.contains("vfs::reindexFile() - 'data/sub/huge.bin' has 4294967296 Bytes, files of 4 GiB or more are not supported - SKIPPING!\n"));
    EXPECT_TRUE(fs::exists("data/sub/huge.bin") && fs::exists("data/pipe") && fs::is_symlink("data/link.txt"));
    EXPECT_EQ(nullptr, vfs::reindexFile(DB));
    EXPECT_TRUE(captured.contains("vfs::reindexFile() - 'data/meta/contentDB' is not a valid content path - SKIPPING!\n"));

    char line[256];
    std::string hex(64, '\0');
    const std::string digest = sha256Of("alpha");
    tavrix::util::bytesToHex(reinterpret_cast<const uint8_t*>(digest.data()), hex.data(), 32);
    std::snprintf(line, sizeof(line), "vfs::reindexFile(data/a.txt) crc32(%u) sha256(%s) size(5)\n", crcOf("alpha"), hex.c_str());
    EXPECT_TRUE(captured.contains(line));

    vfs::fileDataINFO* x = record("data/sub/x.bin");
    ASSERT_NE(nullptr, x);
    EXPECT_EQ(20000u, x->size);
    EXPECT_EQ(crcOf(std::string(20000, 'x')), x->crc32);
    EXPECT_EQ(sha256Of(std::string(20000, 'x')), std::string(reinterpret_cast<char*>(x->sha256), 32));
    EXPECT_EQ(0u, record("data/empty.txt")->size);
    EXPECT_EQ(sha256Of(""), std::string(reinterpret_cast<char*>(record("data/empty.txt")->sha256), 32));
    EXPECT_GE(x->time, before - 60);
    EXPECT_LE(x->time, std::time(nullptr) + 60);

    // The same tree gives the same nodes again; only the trailer holds a time.
    vfs::fileDB_wipe();
    vfs::cleanMetaData();
    vfs::reindex("data", true);
    const std::string again = dir.read(DB);
    ASSERT_EQ(db.size(), again.size());
    EXPECT_EQ(db.substr(0, db.size() - 20), again.substr(0, again.size() - 20));
}

// The loading screen names each file, with markup in a name escaped, and its bar runs 2 by 2 to 100 and
// then again from 2.
TEST_F(vfsMetaTest, ReindexShowsEachFileAndCyclesItsProgress)
{
    using screen = vfs::updateSink;
    tavrix::test::screenRecorder screens;
    vfs::setUpdateSink(&screens);
    const std::string markup = "data/<img src=x onerror=\"alert('&')\">.txt";
    dir.write(markup, "sorts before the others");
    constexpr int OTHERS = 60;
    for (int i = 0; i < OTHERS; ++i)
        dir.write("data/f" + std::to_string(100 + i) + ".txt", "x");
    vfs::rebuildMetaData();
    vfs::setUpdateSink(nullptr);
    EXPECT_NE(nullptr, record(markup));

    const std::vector<std::string> statuses = screens.statusTexts(screen::LOADING_SCREEN);
    ASSERT_EQ(size_t(OTHERS + 2), statuses.size());
    EXPECT_EQ("VFS: Reindex in Progress (this may take a while)\nCurrent File: "
              "data/&lt;img src=x onerror=&quot;alert(&#39;&amp;&#39;)&quot;&gt;.txt",
              statuses.front());
    EXPECT_EQ("VFS: Reindex in Progress (this may take a while)\nCurrent File: data/f100.txt", statuses[1]);
    EXPECT_EQ("VFS: Reindex complete\n", statuses.back());

    const std::vector<std::string> progress = screens.progress(screen::LOADING_SCREEN);
    ASSERT_EQ(size_t(OTHERS + 3), progress.size());
    EXPECT_EQ("0/100", progress.front());
    EXPECT_EQ("100/100", progress.back());
    // The counter carries over from any earlier reindex of the process: each file's value follows the one before.
    bool wrapped = false;
    for (size_t k = 2; k + 1 < progress.size(); ++k) {
        const int before = std::stoi(progress[k - 1]);
        EXPECT_EQ(std::to_string(before == 100 ? 2 : before + 2) + "/100", progress[k]) << k;
        wrapped = wrapped || before == 100;
    }
    EXPECT_TRUE(wrapped);
}

// Reads the meta database each time the reindex shows the next file, before that file is indexed.
class databaseSnapshots final : public vfs::updateSink {
public:
    void setStatusText(screen, const char*, uint32_t) override
    {
        std::FILE* file = std::fopen(DB, "rb");
        std::string bytes;
        if (file) {
            char buffer[4096];
            for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), file)) > 0;)
                bytes.append(buffer, n);
            std::fclose(file);
        }
        taken.push_back(bytes);
    }
    void setProgress(screen, int32_t, int32_t) override {}
    void setURL(screen, const char*) override {}
    int32_t showDownload() override { return 0; }
    void leaveDownload(int32_t) override {}
    void requestClose() override {}

    std::vector<std::string> taken;
};

// The pass keeps the database open, yet after every file it holds what appending that file by itself
// leaves: the nodes so far and a trailer that names the last of them.
TEST_F(vfsMetaTest, ReindexLeavesAWholeDatabaseAfterEveryFile)
{
    for (int i = 0; i < 5; ++i)
        dir.write("data/f" + std::to_string(i) + ".txt", std::string(size_t(100 + i), char('a' + i)));
    databaseSnapshots snapshots;
    vfs::setUpdateSink(&snapshots);
    vfs::setLocalContentVersion(3);
    vfs::cleanMetaData();
    vfs::reindex("data", true);
    vfs::setUpdateSink(nullptr);
    const std::string last = dir.read(DB);

    // One snapshot per file (the five: the database itself is not content), then the final state.
    std::vector<std::string> states = snapshots.taken;
    states.push_back(last);
    ASSERT_EQ(6u, states.size());
    for (size_t k = 0; k < states.size(); ++k) {
        const std::string& db = states[k];
        ASSERT_EQ(2 + 192 * k + 20, db.size()) << k;
        EXPECT_EQ(last.substr(0, 2 + 192 * k), db.substr(0, 2 + 192 * k)) << k;
        const size_t foot = db.size() - 20;
        EXPECT_EQ(crcOf(db.substr(foot, 16)), le32(db, foot + 16)) << k;
        EXPECT_EQ(k == 0 ? 0u : 3u, le32(db, foot)) << k;
        EXPECT_EQ(k == 0 ? 0xFFFFFFFEu : uint32_t(2 + 192 * (k - 1)), le32(db, foot + 12)) << k;
    }
}

TEST_F(vfsMetaTest, ReindexTimeIsBirthElseModification)
{
    dir.write("data/old.txt", "old");
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 10);
    fs::last_write_time("data/old.txt", past);
    const int64_t pastSeconds = std::chrono::duration_cast<std::chrono::seconds>(
                                    std::chrono::file_clock::to_sys(past).time_since_epoch()).count();
    vfs::fileDataINFO* r = vfs::reindexFile("data/old.txt");
    ASSERT_NE(nullptr, r);
    // The birth time (now) where the file system keeps one, else the modification time set above.
    EXPECT_TRUE(r->time == pastSeconds || std::abs(r->time - int64_t(std::time(nullptr))) < 60) << r->time;
    rofree(r);
}

// A replace cut short leaves its temporary file beside the file; the next start removes it before a
// reindex could take it for content. Content named as such files once were named stays content.
TEST_F(vfsMetaTest, TemporaryFilesOfAnInterruptedWriteAreRemovedAtStart)
{
    stop();
    dir.write("data/ui/page.html", "page");
    dir.write("data/ui/page.html\\tmp4242.0", "half a page");
    dir.write("data/meta/contentVersion\\tmp4242.1", "half");
    dir.write("data/notes.tmp", "content");
    dir.write("data/test/backup.tmp1.2", "content named like a temporary file");
    captured.clear();
    start();
    EXPECT_TRUE(captured.contains("vfs: removed 2 temporary files left by an interrupted write\n"));
    vfs::rebuildMetaData();
    EXPECT_EQ((std::vector<std::string>{"data/notes.tmp", "data/test/backup.tmp1.2", "data/ui/page.html"}),
              nodePaths(dir.read(DB)));
    EXPECT_FALSE(fs::exists("data/meta/contentVersion\\tmp4242.1"));
}

// The message of the fatal error the call throws; empty when it throws none.
template <typename Call>
std::string fatalOf(Call call)
{
    try {
        call();
    } catch (FatalErrorException* e) {
        const std::string message = e->getMessage();
        delete e;
        return message;
    }
    return "";
}

// The files and folders below a folder, each file with its bytes.
std::vector<std::string> treeOf(const tavrix::test::tempDir& dir, const std::string& folder)
{
    std::vector<std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        tree.push_back(entry.path().string() + (entry.is_regular_file() ? "=" + dir.read(entry.path().string()) : "/"));
    std::sort(tree.begin(), tree.end());
    return tree;
}

// With data/meta a link to a folder elsewhere, the meta files are neither made nor written there: the
// database's writes fail as their fatal errors, the version's save as its logged one, and a start ends.
TEST_F(vfsMetaTest, NoMetaFileIsWrittenThroughALinkedFolder)
{
    stop();
    fs::remove_all("data/meta");
    fs::create_directories("outside");
    fs::create_directory_symlink("../outside", "data/meta");
    tavrix::roPtr<vfs::fileDataINFO> r(makeRecord("data/x.txt", 1));

    EXPECT_EQ(fatalOf(vfs::cleanMetaData), "vfs::cleanMetaData() -> could not open data/meta/contentDB for writing!\n");
    EXPECT_EQ(fatalOf([&] { vfs::addFileToMetaData(r.get()); }), "vfs::addFileToMetaData() -> failed to open data/meta/contentDB!\n");
    EXPECT_EQ(fatalOf([&] { vfs::updateFileMetaData(r.get()); }), "vfs::updateFileMetaData() -> failed to open data/meta/contentDB!\n");
    vfs::setLocalContentVersion(5);
    vfs::saveLocalContentVersion();
    EXPECT_TRUE(captured.contains("vfs: failed to open data/meta/contentVersion for writing.\n"));
    EXPECT_EQ(fatalOf(vfs::init), "VFS Error\n\nCould not create Folder ./data/meta/");
    EXPECT_TRUE(fs::is_empty("outside"));

    fs::remove("data/meta");
    fs::remove("data");
    fs::create_directory_symlink("outside", "data");
    EXPECT_EQ(fatalOf(vfs::cleanMetaData), "vfs::cleanMetaData() -> could not open data/meta/contentDB for writing!\n");
    EXPECT_EQ(fatalOf(vfs::init), "VFS Error\n\nCould not create Folder ./data/");
    EXPECT_TRUE(fs::is_empty("outside"));
}

// A meta file that is itself a link is not read or written through: the database is rebuilt in its place
// and the version saved in its place, and what the links point to stays as it was.
TEST_F(vfsMetaTest, AMetaFileThatIsALinkIsReplacedNotFollowed)
{
    buildDatabase();
    stop();
    fs::create_directories("outside");
    fs::rename(DB, "outside/contentDB");
    dir.write("outside/contentVersion", "elsewhere");
    fs::create_symlink("../../outside/contentDB", DB);
    fs::create_symlink("../../outside/contentVersion", VERSION);
    const std::vector<std::string> outside = treeOf(dir, "outside");

    captured.clear();
    start();
    EXPECT_TRUE(captured.contains("vfs: data/meta/contentVersion does not exist\n"));
    EXPECT_FALSE(vfs::loadMetaData());
    EXPECT_TRUE(captured.contains("data/meta/contentDB: faild to open file\n"));
    vfs::rebuildMetaData();
    vfs::fileDataINFO* one = record("data/one.txt");
    ASSERT_NE(one, nullptr);
    vfs::updateFileMetaData(one);
    vfs::setLocalContentVersion(3);
    stop();
    EXPECT_FALSE(fs::is_symlink(DB));
    EXPECT_FALSE(fs::is_symlink(VERSION));
    EXPECT_EQ((std::vector<std::string>{"data/one.txt", "data/two.txt"}), nodePaths(dir.read(DB)));
    EXPECT_EQ(3u, le32(dir.read(VERSION), 2));
    EXPECT_EQ(treeOf(dir, "outside"), outside);
}

// While one store holds the folder, a second one in it ends at its start with the fatal error, before it
// has written anything; once the first has ended, a store starts there again.
TEST_F(vfsMetaTest, OnlyOneStoreAtATimeWritesTheFolder)
{
    dir.write("data/ui/page.html", "page");
    dir.write("data/ui/page.html\\tmp4242.0", "half a page");
    // An outside holder, as another process holds it.
    tavrix::sys::parentDirectory folder;
    uint32_t failedLength;
    ASSERT_TRUE(folder.open("data/meta/lock", &failedLength));
    tavrix::sys::fileLock other;
    EXPECT_EQ(other.take(folder), tavrix::sys::LOCK_BUSY);
    vfs::setLocalContentVersion(4);
    stop();
    ASSERT_EQ(other.take(folder), tavrix::sys::LOCK_TAKEN);
    const std::vector<std::string> tree = treeOf(dir, "data");

    EXPECT_EQ(fatalOf(vfs::init), "VFS Error\n\nAnother client uses this folder.\nOnly one client at a time can run in a folder.\n");
    EXPECT_EQ(treeOf(dir, "data"), tree);
    other.release();
    start();
    EXPECT_FALSE(fs::exists("data/ui/page.html\\tmp4242.0"));
}

TEST(fileTime, WindowsFileTimesBecomeUnixSecondsTruncatedTowardZero)
{
    const struct {
        uint64_t fileTime;
        int64_t unixSeconds;
    } cases[] = {
        {116444736000000000, 0},
        {0, -11644473600},
        {116444736000000000 + 10000000, 1},
        {116444736000000000 + 9999999, 0},
        {116444736000000000 - 9999999, 0},
        {116444736000000000 - 10000000, -1},
        {133485408000000000, 1704067200}, // 2024-01-01
        {UINT64_MAX, -11644473600},       // as a signed count, 100 ns before 1601
    };
    for (const auto& c : cases)
        EXPECT_EQ(vfs::fileTimeToUnix(c.fileTime), c.unixSeconds) << c.fileTime;
}

TEST_F(vfsMetaTest, ReindexDeletesWhatItCannotRead)
{
    // Gone between the walk and the open: nothing to delete, no failure.
    EXPECT_EQ(nullptr, vfs::reindexFile("data/vanished.txt"));
    EXPECT_TRUE(captured.contains("vfs::reindexFile - data/vanished.txt deleted, as read/open failed\n"));
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    dir.write("data/locked.txt", "no access");
    ASSERT_EQ(0, chmod("data/locked.txt", 0));
    EXPECT_EQ(nullptr, vfs::reindexFile("data/locked.txt"));
    EXPECT_TRUE(captured.contains("vfs::reindexFile - data/locked.txt deleted, as read/open failed\n"));
    EXPECT_FALSE(fs::exists("data/locked.txt"));
}

TEST_F(vfsMetaTest, StartUpStepBuildsThenLoadsTheDatabase)
{
    // The step's update finds no asset server and gives up at once.
    tavrix::test::refusingPort noServer;
    const std::string base = "http://127.0.0.1:" + std::to_string(noServer.port()) + "/";
    stop();
    vfs::setAssetServerBaseURLs(base.c_str(), base.c_str());
    vfs::setCloseWaitMs(0);
    start();
    dir.write("data/ui/mainMenu.titleScreen/index.html", "<html></html>");
    dir.write("data/shader/x.vertex.glsl", "void main() {}");
    vfs::postInit();
    EXPECT_EQ(2u, nodePaths(dir.read(DB)).size());
    EXPECT_NE(nullptr, record("data/shader/x.vertex.glsl"));
    vfs::setLocalContentVersion(4); // as an update would leave it
    stop();

    captured.clear();
    start();
    EXPECT_EQ(4u, vfs::getLocalContentVersion());
    vfs::postInit();
    EXPECT_TRUE(captured.contains("vfs: Loaded Meta Data - 2 Files\n"));
    for (const auto& line : captured.texts())
        EXPECT_EQ(std::string::npos, line.find("reindexFile")) << line;
    uint32_t size = 0;
    void* data = vfs::readFile("data/shader/x.vertex.glsl", &size);
    ASSERT_NE(nullptr, data);
    EXPECT_EQ("void main() {}", text(data, size));
    vfs::releaseFile(data);
    stop();
    vfs::setAssetServerBaseURLs(nullptr, nullptr);
}

} // namespace
