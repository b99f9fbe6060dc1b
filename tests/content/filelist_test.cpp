// The asset server's file list read on its own: the count line, each definition's fields, where reading
// stops, and the names that may never reach the disk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/vfslocal.h"
#include "platformlib/util/hex.h"

namespace vfs = tavrix::vfs;

namespace {

const std::string HASH = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
const std::string UPPER_HASH = "00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF";

std::string definition(const std::string& name, const std::string& size = "5", const std::string& hash = HASH)
{
    return std::to_string(name.size()) + ":" + name + "," + size + "," + hash;
}

struct visited {
    std::string name;
    uint32_t size;
    std::string hash;
    bool operator==(const visited&) const = default;
};

void collect(const vfs::fileListDefinition& d, void* user)
{
    char hex[65] = {};
    tavrix::util::bytesToHex(d.sha256, hex, 32);
    static_cast<std::vector<visited>*>(user)->push_back({std::string(d.name, d.nameLength), d.size, hex});
}

struct listCase {
    const char* what;
    std::string list;
    vfs::fileListEnd end;
    uint32_t count;
    uint32_t processed;
    uint32_t line;
};

TEST(fileList, WhereReadingEnds)
{
    const std::string ok = definition("data/a.txt");
    const std::string longest = "data/" + std::string(122, 'n');
    const listCase cases[] = {
        {"empty list", "", vfs::FILELIST_COUNT_CORRUPT, 0, 0, 1},
        {"empty count line", "\n" + ok, vfs::FILELIST_COUNT_CORRUPT, 0, 0, 1},
        {"count not a digit", "x1\n" + ok, vfs::FILELIST_COUNT_CORRUPT, 0, 0, 1},
        {"negative count", "-1\n" + ok, vfs::FILELIST_COUNT_CORRUPT, 0, 0, 1},
        {"count beyond 32 bits", "4294967296\n" + ok, vfs::FILELIST_COUNT_CORRUPT, 0, 0, 1},
        {"largest count, no line feed", "4294967295", vfs::FILELIST_ONLY_COUNT, 4294967295u, 0, 1},
        {"count line is the whole list", "2", vfs::FILELIST_ONLY_COUNT, 2, 0, 1},
        {"count 0 reads nothing more", "0\nnot a definition", vfs::FILELIST_END, 0, 0, 1},
        {"count 0 without line feed", "0", vfs::FILELIST_END, 0, 0, 1},
        {"count then nothing", "3\n", vfs::FILELIST_END, 3, 0, 2},
        {"count's leading number", "2 files\r\n" + ok + "\n" + ok, vfs::FILELIST_END, 2, 2, 3},
        {"last line without line feed", "1\n" + ok, vfs::FILELIST_END, 1, 1, 2},
        {"last line with line feed", "1\n" + ok + "\n", vfs::FILELIST_END, 1, 1, 3},
        {"empty line ends the list", "2\n" + ok + "\n\n" + ok + "\n", vfs::FILELIST_END, 2, 1, 3},
        {"carriage return", "1\n" + ok + "\r\n", vfs::FILELIST_BAD_HASH_LENGTH, 1, 0, 2},
        {"no colon", "2\n" + ok + "\nno colon here\n", vfs::FILELIST_NO_COLON, 2, 1, 3},
        {"name length 127", "1\n" + definition(longest), vfs::FILELIST_END, 1, 1, 2},
        {"name length 128", "1\n" + definition(longest + "n"), vfs::FILELIST_BAD_NAME_LENGTH, 1, 0, 2},
        {"negative name length", "1\n-1:data/a.txt,5," + HASH, vfs::FILELIST_BAD_NAME_LENGTH, 1, 0, 2},
        {"signed name length", "1\n+10:data/a.txt,5," + HASH, vfs::FILELIST_BAD_NAME_LENGTH, 1, 0, 2},
        {"empty name length", "1\n:data/a.txt,5," + HASH, vfs::FILELIST_BAD_NAME_LENGTH, 1, 0, 2},
        {"name past the line", "1\n90:data/a.txt,5," + HASH + "\n" + ok, vfs::FILELIST_BAD_NAME_LENGTH, 1, 0, 2},
        {"name up to the end of the line", "1\n10:data/a.txt", vfs::FILELIST_NO_SEPARATOR, 1, 0, 2},
        {"missing ',' after the name", "1\n9:data/a.txt,5," + HASH, vfs::FILELIST_NO_SEPARATOR, 1, 0, 2},
        {"no second ','", "1\n10:data/a.txt,5" + HASH, vfs::FILELIST_NO_SIZE_SEPARATOR, 1, 0, 2},
        {"63 hash digits", "1\n" + definition("data/a.txt", "5", HASH.substr(1)), vfs::FILELIST_BAD_HASH_LENGTH, 1, 0, 2},
        {"65 hash digits", "1\n" + definition("data/a.txt", "5", HASH + "0"), vfs::FILELIST_BAD_HASH_LENGTH, 1, 0, 2},
        {"negative size", "1\n" + definition("data/a.txt", "-1"), vfs::FILELIST_BAD_SIZE, 1, 0, 2},
        {"empty size", "1\n" + definition("data/a.txt", ""), vfs::FILELIST_BAD_SIZE, 1, 0, 2},
        {"size beyond 32 bits", "1\n" + definition("data/a.txt", "4294967296"), vfs::FILELIST_BAD_SIZE, 1, 0, 2},
        {"size with a suffix", "1\n" + definition("data/a.txt", "12k"), vfs::FILELIST_BAD_SIZE, 1, 0, 2},
        {"definitions after a stop are not read", "3\n" + ok + "\n1:x\n" + ok, vfs::FILELIST_NO_SEPARATOR, 3, 1, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<visited> seen;
        const vfs::fileListResult r = vfs::parseFileList(c.list.data(), uint32_t(c.list.size()), collect, &seen);
        EXPECT_EQ(r.end, c.end);
        EXPECT_EQ(r.count, c.count);
        EXPECT_EQ(r.processed, c.processed);
        EXPECT_EQ(r.line, c.line);
        EXPECT_EQ(seen.size(), c.processed);
    }
}

TEST(fileList, FieldsOfADefinition)
{
    const std::string list = "4\n" + definition("data/a:b,c.txt", "0") + "\n" + definition("data/x", "4294967295", UPPER_HASH) +
                             "\n" + definition("data/\xC3\xA4 %.png", "7") + "\n" + definition("data/z", "0012");
    std::vector<visited> seen;
    const vfs::fileListResult r = vfs::parseFileList(list.data(), uint32_t(list.size()), collect, &seen);
    EXPECT_EQ(r.end, vfs::FILELIST_END);
    EXPECT_EQ(r.processed, 4u);
    const std::vector<visited> expected = {
        {"data/a:b,c.txt", 0, HASH},
        {"data/x", 4294967295u, HASH},
        {"data/\xC3\xA4 %.png", 7, HASH},
        {"data/z", 12, HASH},
    };
    EXPECT_EQ(seen, expected);
}

TEST(fileList, NamesThatMayNotReachTheDiskEndTheList)
{
    const std::string hostile[] = {
        "../../x",
        "/etc/x",
        "data/meta/contentDB",
        "data/meta/contentVersion",
        "data/meta",
        "dev/data/x",
        "data/../../x",
        "data/./x",
        "data//x",
        "data/",
        "data",
        "datax/y",
        "data\\x",
        "data/x\ty",
        std::string("data/x\0y", 8),
        "",
    };
    for (const auto& name : hostile) {
        SCOPED_TRACE(name);
        const std::string list = "2\n" + definition("data/ok") + "\n" + definition(name) + "\n";
        std::vector<visited> seen;
        const vfs::fileListResult r = vfs::parseFileList(list.data(), uint32_t(list.size()), collect, &seen);
        EXPECT_EQ(r.end, vfs::FILELIST_BAD_NAME);
        EXPECT_EQ(r.line, 3u);
        EXPECT_EQ(r.processed, 1u);
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].name, "data/ok");
    }
}

} // namespace
