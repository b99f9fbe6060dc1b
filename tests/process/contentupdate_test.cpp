// The real program fetching its content from the local asset server: a first start in an empty directory
// downloads the published content/ and reaches the menu; a second start finds it up to date.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "clientenv.h"
#include "support/clientprocess.h"
#include "support/tempdir.h"

namespace {

namespace fs = std::filesystem;
using tavrix::test::clientProcess;

constexpr int START_MS = 60000;
constexpr int CLOSE_MS = 20000;
constexpr uint32_t VERSION = 3;

using tavrix::test::CLIENT_ENV;

std::string readWhole(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The content paths of the bundled tree.
std::vector<std::string> bundledFiles()
{
    const fs::path root = fs::path(TAVRIX_SOURCE_DIR) / "content";
    std::vector<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            paths.push_back(fs::relative(entry.path(), root).string());
    return paths;
}

size_t countOf(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// One start of the client until the menu is shown, closed then as a user closes it; its client.log.
std::string runToTheMenu(const tavrix::test::tempDir& dir)
{
    // Not the previous start's lines.
    fs::remove("client.log");
    clientProcess client(TAVRIX_BINARY, true, CLIENT_ENV);
    EXPECT_TRUE(client.waitForLog("renderMode::switchMode() Switching to: Menu\r\n", START_MS)) << dir.read("client.log");
    EXPECT_EQ(std::system(CLOSEWINDOW_BINARY), 0);
    EXPECT_EQ(client.wait(CLOSE_MS), 0);
    EXPECT_EQ(client.stderrText(), "");
    return dir.read("client.log");
}

TEST(contentUpdateProcess, AFreshInstallReachesTheMenuAndASecondStartFetchesNothing)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display (the test suite runs under Xvfb)";
    tavrix::test::tempDir dir;
    dir.write("cvar.db", "20131017\n11:video.width:i:320\n12:video.height:i:240\n");
    tavrix::test::localAssetServer assets(TAVRIX_SOURCE_DIR, VERSION);
    ASSERT_TRUE(assets.started());
    const std::vector<std::string> files = bundledFiles();
    ASSERT_FALSE(files.empty());

    std::string log = runToTheMenu(dir);
    EXPECT_NE(log.find("vfs: Update Required, Remote Content Version is newer than local Version (3 > 0)\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("vfs: Update to Content-Version 3 complete, revalidating Version\r\n"), std::string::npos) << log;
    // No error of the client's own (the platform library's lines are its own tests' business).
    for (size_t at = log.find("(ERROR)"); at != std::string::npos; at = log.find("(ERROR)", at + 1))
        EXPECT_EQ(log.compare(at + 10, 11, "[Platform] "), 0) << log.substr(at, log.find("\r\n", at) - at);
    for (const auto& path : files) {
        EXPECT_TRUE(dir.exists(path)) << path;
        EXPECT_EQ(dir.read(path), readWhole(fs::path(TAVRIX_SOURCE_DIR) / "content" / path)) << path;
    }
    const std::string version = dir.read("data/meta/contentVersion");
    ASSERT_EQ(version.size(), 18u);
    EXPECT_EQ(uint8_t(version[2]) | uint8_t(version[3]) << 8 | uint8_t(version[4]) << 16 | uint8_t(version[5]) << 24, VERSION);
    const std::string served = assets.log();
    EXPECT_EQ(countOf(served, "\"GET /3/data/"), files.size()) << served;
    EXPECT_EQ(countOf(served, "\"GET /3/fileDB.txt "), 1u) << served;

    log = runToTheMenu(dir);
    EXPECT_NE(log.find("vfs: Local Assetserver returned Content Version 3\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Update Required"), std::string::npos) << log;
    const std::string second = assets.log().substr(served.size());
    EXPECT_EQ(countOf(second, "\"GET /currentVersion.txt "), 1u) << second;
    EXPECT_EQ(countOf(second, "\"GET /3/"), 0u) << second;
}

} // namespace
