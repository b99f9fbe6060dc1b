// The file-system cache: entry paths, the stored header, round trips, stale and damaged entries, the
// disabled switch and the start-up folders.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "client/fscache.h"
#include "contentmodules.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/util/exception.h"
#include "platformlib/util/loggerinterface.h"

namespace fsCache = tavrix::fsCache;
namespace cvar = tavrix::cvar;
namespace fs = std::filesystem;

namespace {

std::string pathOf(const char* key)
{
    char path[fsCache::PATH_BUFFER_SIZE];
    fsCache::makePath(key, path);
    return path;
}

uint32_t le32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | uint8_t(bytes[at + i]);
    return value;
}

void setLe32(std::string& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char(value >> (8 * i));
}

// Every file below ./cache/, the folders left out.
std::vector<std::string> cacheFiles()
{
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator("cache"))
        if (!entry.is_directory())
            files.push_back(entry.path().string());
    return files;
}

class fsCacheTest : public tavrix::test::moduleTest {
protected:
    void SetUp() override
    {
        start({tavrix::test::ALLOCATOR, tavrix::test::CVARS,
               {"content version 5", [] { tavrix::vfs::setLocalContentVersion(5); }, nullptr}});
    }
    // Before the settings stop: each test starts the cache itself.
    void TearDown() override { fsCache::final(); }

    // What get gave back; the buffer is checked for its NUL and freed.
    struct readBack {
        bool found;
        std::string data;
    };
    static readBack read(const char* key, uint32_t maxSize = UINT32_MAX)
    {
        uint32_t size = 0xDEADu;
        char* data = static_cast<char*>(fsCache::get(key, &size, maxSize));
        if (!data)
            return {false, {}};
        EXPECT_EQ(data[size], '\0');
        readBack result{true, std::string(data, size)};
        rofree(data);
        return result;
    }
    static void store(const char* key, const std::string& data, bool versionDependent)
    {
        fsCache::put(key, data.data(), uint32_t(data.size()), versionDependent);
    }
};

TEST(fsCachePath, keysMapToHashedNames)
{
    struct pathCase {
        const char* key;
        const char* path;
    };
    const pathCase cases[] = {
        {"abc", "./cache/2/ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad_352441c2"},
        // CRC 0x04702df7: one leading zero nibble, one space.
        {"data/textures/t3.png", "./cache/7/8c1a495d4b3e4e9ca8c6a724dff427a6ce0901d4704f644a1765d87288d0b7bc_ 4702df7"},
        {"data/textures/t115.png", "./cache/4/e11abc37fcf708ea392603bd2accd7a813053a905f75ee82f1f4229ca8d59087_  2214c4"},
        {"", "./cache/0/e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855_       0"},
    };
    for (const pathCase& c : cases)
        EXPECT_EQ(pathOf(c.key), c.path) << "key '" << c.key << "'";
}

TEST_F(fsCacheTest, initMakesSixteenFoldersAndTracksTheContentVersion)
{
    fsCache::init();
    for (const char* digit : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "a", "b", "c", "d", "e", "f"})
        EXPECT_TRUE(fs::is_directory(std::string("cache/") + digit)) << digit;
    EXPECT_TRUE(captured.contains("fsCache: Initialization -> Content Version Changed\n"));
    EXPECT_EQ(cvar::getInt("fsCache.lastContentVersion"), 5);

    captured.clear();
    fsCache::init();
    EXPECT_FALSE(captured.contains("fsCache: Initialization -> Content Version Changed\n"));
}

TEST_F(fsCacheTest, aFileInPlaceOfAFolderIsFatal)
{
    dir.write("cache/3", "not a folder");
    try {
        fsCache::init();
        FAIL() << "init went on without its folders";
    } catch (FatalErrorException* e) {
        EXPECT_STREQ(e->getMessage(), "fsCache Initialization Error\n\nDirectory Creation Failed.\n");
        delete e;
    }
}

TEST_F(fsCacheTest, entryFileHoldsTheHeaderThenTheData)
{
    fsCache::init();
    store("abc", "hello", true);
    const std::string file = dir.read(pathOf("abc"));
    ASSERT_EQ(file.size(), 45u);
    EXPECT_EQ(file.substr(0, 8), std::string("TVRXTMP\0", 8));
    EXPECT_EQ(file.substr(8, 4), std::string("\x01\x00\x00\x80", 4)); // version 1, depends on the content version
    EXPECT_EQ(le32(file, 12), 5u);
    EXPECT_EQ(le32(file, 16), 0x3610a686u); // CRC-32 of "hello"
    EXPECT_EQ(file.substr(20, 16), std::string(16, '\0'));
    EXPECT_EQ(le32(file, 36), 5u);
    EXPECT_EQ(file.substr(40), "hello");

    store("abc", "hello", false);
    EXPECT_EQ(dir.read(pathOf("abc")).substr(10, 2), std::string(2, '\0'));
}

TEST_F(fsCacheTest, roundTripsReplaceAndLeaveNoTemporaryFiles)
{
    fsCache::init();
    const std::string binary("\0\x01\xff payload \0", 13);
    store("data/textures/t3.png", binary, true);
    store("abc", "first", false);
    store("abc", "second, longer", false);

    EXPECT_TRUE(dir.exists(pathOf("data/textures/t3.png"))); // the name with a space
    readBack spaced = read("data/textures/t3.png");
    EXPECT_TRUE(spaced.found);
    EXPECT_EQ(spaced.data, binary);
    EXPECT_EQ(read("abc").data, "second, longer");
    EXPECT_FALSE(read("never stored").found);
    EXPECT_EQ(cacheFiles().size(), 2u);
}

TEST_F(fsCacheTest, emptyDataIsNotStored)
{
    fsCache::init();
    store("abc", "kept", false);
    store("abc", "", false);
    store("empty", "", false);
    EXPECT_EQ(read("abc").data, "kept");
    EXPECT_FALSE(dir.exists(pathOf("empty")));
}

TEST_F(fsCacheTest, aNewerContentVersionDropsOnlyDependentEntries)
{
    fsCache::init();
    store("dependent", "old texture", true);
    store("independent", "still good", false);

    tavrix::vfs::setLocalContentVersion(6);
    fsCache::init();
    EXPECT_EQ(cvar::getInt("fsCache.lastContentVersion"), 6);
    EXPECT_FALSE(read("dependent").found);
    EXPECT_FALSE(dir.exists(pathOf("dependent")));
    EXPECT_EQ(read("independent").data, "still good");

    store("dependent", "new texture", true);
    EXPECT_EQ(read("dependent").data, "new texture");
}

TEST_F(fsCacheTest, damagedEntriesAreNotReturned)
{
    struct damageCase {
        const char* name;
        std::function<void(std::string&)> damage;
        bool kept;
        bool logged;
    };
    const damageCase cases[] = {
        {"truncated data", [](std::string& f) { f.pop_back(); }, false, false},
        {"a byte beyond the data", [](std::string& f) { f.push_back('x'); }, false, false},
        {"39-byte file", [](std::string& f) { f.resize(39); }, true, false},
        {"empty file", [](std::string& f) { f.clear(); }, true, false},
        {"flipped data byte", [](std::string& f) { f[45] ^= 0x20; }, false, true},
        {"wrong magic", [](std::string& f) { f[7] = 'X'; }, false, false},
        {"format version 2", [](std::string& f) { f[8] = 2; }, false, false},
        {"header claiming 4 GiB", [](std::string& f) { setLe32(f, 12, 0xFFFFFFFFu); }, false, false},
        {"header claiming 4 GiB - 2", [](std::string& f) { setLe32(f, 12, 0xFFFFFFFEu); }, false, false},
    };
    fsCache::init();
    const std::string path = pathOf("abc");
    for (const damageCase& c : cases) {
        SCOPED_TRACE(c.name);
        captured.clear();
        store("abc", "a cached texture", false);
        std::string file = dir.read(path);
        c.damage(file);
        dir.write(path, file);

        EXPECT_FALSE(read("abc").found);
        EXPECT_EQ(dir.exists(path), c.kept);
        std::vector<std::string> errors = captured.texts(tavrix::util::LOG_ERROR);
        if (c.logged)
            EXPECT_EQ(errors, std::vector<std::string>{"fsCache::get(" + path + ") - file corrupted\n"});
        else
            EXPECT_TRUE(errors.empty());
    }
}

TEST_F(fsCacheTest, anEntryLargerThanTheCallerTakesIsDroppedUnread)
{
    fsCache::init();
    const std::string path = pathOf("abc");
    store("abc", std::string(16, 'x'), false);
    EXPECT_EQ(read("abc", 16).data, std::string(16, 'x'));
    store("abc", std::string(17, 'x'), false);
    EXPECT_FALSE(read("abc", 16).found);
    EXPECT_FALSE(dir.exists(path));

    // A sparse file as long as its header claims: refused by the bound before anything is read.
    store("abc", "a cached texture", false);
    std::string head = dir.read(path).substr(0, 40);
    setLe32(head, 12, 1u << 30);
    dir.write(path, head);
    fs::resize_file(path, 40 + (uintmax_t(1) << 30));
    captured.clear();
    EXPECT_FALSE(read("abc", (256u << 20) + 14).found);
    EXPECT_FALSE(dir.exists(path));
    EXPECT_TRUE(captured.texts(tavrix::util::LOG_ERROR).empty());
}

TEST_F(fsCacheTest, aFailedStoreLeavesNothingBehind)
{
    fsCache::init();
    fs::create_directory(pathOf("abc")); // nothing can be renamed over a folder
    store("abc", "data", false);
    EXPECT_FALSE(read("abc").found);
    EXPECT_TRUE(cacheFiles().empty());
}

TEST_F(fsCacheTest, aFolderThatIsALinkIsNotCreatedOrWrittenThrough)
{
    struct linkCase {
        const char* link;
        const char* target;
        const char* line;
    };
    // abc's entries go to cache/2.
    const linkCase cases[] = {
        {"cache", "elsewhere", "fsCache: './cache' is a symbolic link or cannot be opened - nothing is cached through it, the cache is off\n"},
        {"cache/2", "../elsewhere", "fsCache: './cache/2' is a symbolic link or cannot be opened - nothing is cached through it, the cache is off\n"},
    };
    for (const linkCase& c : cases) {
        SCOPED_TRACE(c.link);
        fs::remove_all("cache");
        fs::remove_all("elsewhere");
        fs::create_directory("elsewhere");
        fs::create_directories(fs::path(c.link).parent_path().empty() ? "." : fs::path(c.link).parent_path());
        fs::create_directory_symlink(c.target, c.link);
        captured.clear();
        fsCache::init();
        EXPECT_EQ(captured.texts(tavrix::util::LOG_WARN), std::vector<std::string>{c.line});
        store("abc", "data", false);
        EXPECT_FALSE(read("abc").found);
        EXPECT_TRUE(fs::is_empty("elsewhere"));
    }

    // Without the link the cache is on again.
    fs::remove("cache/2");
    fsCache::init();
    store("abc", "data", false);
    EXPECT_TRUE(read("abc").found);
}

TEST_F(fsCacheTest, temporaryFilesOfAnInterruptedStoreAreRemovedAtInit)
{
    const std::string leftover = pathOf("abc") + "\\tmp4242.0";
    fs::create_directories(fs::path(leftover).parent_path());
    dir.write(leftover, "half an entry");
    fsCache::init();
    EXPECT_TRUE(captured.contains("fsCache: removed 1 temporary files left by an interrupted write\n"));
    EXPECT_TRUE(cacheFiles().empty());
}

TEST_F(fsCacheTest, disabledCacheTouchesNothing)
{
    cvar::set("fsCache.disabled", 1);
    fsCache::init();
    EXPECT_TRUE(captured.contains("fsCache: DISABLED - Skipping Initialization.\n"));
    EXPECT_FALSE(dir.exists("cache"));

    // An entry written by an enabled run is not read either.
    cvar::set("fsCache.disabled", 0);
    fsCache::init();
    store("abc", "data", false);
    cvar::set("fsCache.disabled", 1);
    fsCache::init();
    store("other", "data", false);
    EXPECT_FALSE(read("abc").found);
    EXPECT_TRUE(dir.exists(pathOf("abc")));
    EXPECT_FALSE(dir.exists(pathOf("other")));

    cvar::set("fsCache.disabled", 2); // only 1 turns it off
    fsCache::init();
    EXPECT_TRUE(read("abc").found);
}

TEST_F(fsCacheTest, flushOnlyReports)
{
    fsCache::init();
    store("abc", "data", true);
    captured.clear();
    fsCache::flush();
    EXPECT_EQ(captured.texts(), (std::vector<std::string>{
                                    "fsCache: Flushing Version Dependent Cache.\n",
                                    "fsCache: @TODO - Implement Depnedent Cache Flush\n",
                                    "fsCache: Flushing Version Independent Cache.\n",
                                    "fsCache: @TODO - Implement Independent Flush\n",
                                }));
    EXPECT_EQ(captured.texts(tavrix::util::LOG_ERROR).size(), 2u);
    EXPECT_TRUE(read("abc").found);
}

} // namespace
