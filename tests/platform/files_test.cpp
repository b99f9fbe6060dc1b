// The content store's file calls: writing a file below the current directory without following a
// symbolic link on the way, and removing what an interrupted write left.
#include "platformlib/posix/files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/tempdir.h"

namespace fs = std::filesystem;
namespace sys = tavrix::sys;

namespace {

class filesTest : public testing::Test {
protected:
    tavrix::test::tempDir dir;

    // What parentDirectory does with the path: the written bytes, or where it stopped.
    bool write(const std::string& path, const std::string& bytes, uint32_t* failedLength)
    {
        sys::parentDirectory parent;
        if (!parent.open(path.c_str(), failedLength))
            return false;
        return parent.writeFileAtomic(bytes.data(), uint32_t(bytes.size()), nullptr, 0, false) == sys::WRITE_DONE;
    }
};

TEST_F(filesTest, NothingIsWrittenThroughALinkOnTheWay)
{
    fs::create_directories("outside");
    dir.write("outside/target.txt", "outside");
    fs::create_directories("data/sub");
    fs::create_directory_symlink("../outside", "data/linked");
    fs::create_directory_symlink("outside", "linkedData");
    fs::create_directory_symlink("nowhere", "data/dangling");
    fs::create_symlink("../outside/target.txt", "data/fileLink");
    dir.write("data/plain.txt", "a file, not a folder");

    const struct {
        const char* path;
        bool written;
        uint32_t failedLength; // when not written
    } cases[] = {
        {"data/new/deeper/x.txt", true, 0},
        {"data/sub/x.txt", true, 0},
        {"top.txt", true, 0},
        {"data/linked/x.txt", false, 11},
        {"data/linked/new/x.txt", false, 11},
        {"linkedData/x.txt", false, 10},
        {"data/dangling/x.txt", false, 13},
        {"data/plain.txt/x.txt", false, 14},
        // A link at the path itself is replaced by the file; what it pointed to stays.
        {"data/fileLink", true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        uint32_t failedLength = 99;
        EXPECT_EQ(write(c.path, c.path, &failedLength), c.written);
        if (c.written) {
            EXPECT_EQ(dir.read(c.path), c.path);
            EXPECT_FALSE(fs::is_symlink(c.path));
        } else {
            EXPECT_EQ(failedLength, c.failedLength);
        }
    }
    EXPECT_EQ(dir.read("outside/target.txt"), "outside");
    std::vector<std::string> outside;
    for (const auto& entry : fs::recursive_directory_iterator("outside"))
        outside.push_back(entry.path().string());
    EXPECT_EQ(outside, std::vector<std::string>{"outside/target.txt"});
    EXPECT_FALSE(fs::exists("nowhere"));
    // Nothing is left beside the files written.
    for (const auto& entry : fs::recursive_directory_iterator("data"))
        EXPECT_EQ(entry.path().string().find("tmp"), std::string::npos) << entry.path();
}

// A lock file is held against every other holder until released, and only a regular file reached without
// a link is one: a link or a FIFO at its path is refused, and nothing is made where a link points.
TEST_F(filesTest, ALockFileHasOneHolderAndIsNoLink)
{
    fs::create_directories("data/meta");
    sys::parentDirectory folder;
    uint32_t failedLength;
    ASSERT_TRUE(folder.open("data/meta/lock", &failedLength));
    sys::fileLock first;
    sys::fileLock second;
    EXPECT_EQ(first.take(folder), sys::LOCK_TAKEN);
    EXPECT_EQ(second.take(folder), sys::LOCK_BUSY);
    first.release();
    EXPECT_EQ(second.take(folder), sys::LOCK_TAKEN);
    EXPECT_EQ(dir.read("data/meta/lock"), "");

    fs::create_directories("other");
    fs::create_symlink("../elsewhere", "other/link");
    ASSERT_TRUE(folder.open("other/link", &failedLength));
    EXPECT_EQ(first.take(folder), sys::LOCK_FAILED);
    EXPECT_FALSE(fs::exists("elsewhere"));
    ASSERT_EQ(mkfifo("other/fifo", 0666), 0);
    ASSERT_TRUE(folder.open("other/fifo", &failedLength));
    EXPECT_EQ(first.take(folder), sys::LOCK_FAILED);
}

// Only names a write's temporary file can have are removed, in every folder below but not behind a link:
// a name that merely looks like one, as content may be named, stays.
TEST_F(filesTest, LeftoverTemporariesAreRemoved)
{
    const std::vector<std::string> leftovers = {"tree/a.txt\\tmp123.0", "tree/sub/deeper/b.png\\tmp7.42",
                                                "tree/.tmp\\tmp1.1"};
    // The old form of the name (".tmp<pid>.<serial>"), which content may well have, among them.
    const std::vector<std::string> kept = {"tree/a.txt",        "tree/notes.tmp",     "tree/x.tmp1",
                                           "tree/x.tmp.1",      "tree/.tmp1.2",       "tree/x.tmp1.2.txt",
                                           "tree/x.tmpa.1",     "tree/x.tmp1.",       "tree/backup.tmp1.2",
                                           "tree/a.txt.tmp1.0", "tree/\\tmp1.2",      "tree/x\\tmp1",
                                           "tree/x\\tmp.1",     "tree/x\\TMP1.2",     "outside/c\\tmp5.5"};
    for (const auto& path : leftovers)
        dir.write(path, "half written");
    for (const auto& path : kept)
        dir.write(path, "kept");
    fs::create_directory_symlink("../outside", "tree/linked");

    EXPECT_EQ(sys::removeLeftoverTemporaries("tree"), leftovers.size());
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator("."))
        if (entry.is_regular_file())
            left.push_back(entry.path().string().substr(2));
    std::sort(left.begin(), left.end());
    std::vector<std::string> expected = kept;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
    EXPECT_EQ(sys::removeLeftoverTemporaries("missing"), 0u);
}

} // namespace
