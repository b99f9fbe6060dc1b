// The real program fetching its content from the local asset server: a first start in an empty directory
// downloads the published content/ and reaches the menu; a second start finds it up to date.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "clientenv.h"
#include "support/clientprocess.h"
#include "support/tempdir.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t VERSION = 3;

using tavrix::test::bundledFiles;
using tavrix::test::readWhole;
using tavrix::test::runToTheMenu;

size_t countOf(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

TEST(contentUpdateProcess, AFreshInstallReachesTheMenuAndASecondStartFetchesNothing)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display (the test suite runs under Xvfb)";
    tavrix::test::bundledRun run(VERSION);
    ASSERT_TRUE(run.assets.started());
    const std::vector<std::string> files = bundledFiles();
    ASSERT_FALSE(files.empty());

    std::string log = runToTheMenu(run.dir);
    EXPECT_NE(log.find("vfs: Update Required, Remote Content Version is newer than local Version (3 > 0)\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("vfs: Update to Content-Version 3 complete, revalidating Version\r\n"), std::string::npos) << log;
    EXPECT_EQ(tavrix::test::clientErrors(log), tavrix::test::fontErrorsAtSetUp()) << log;
    for (const auto& path : files) {
        EXPECT_TRUE(run.dir.exists(path)) << path;
        EXPECT_EQ(run.dir.read(path), readWhole(fs::path(TAVRIX_SOURCE_DIR) / "content" / path)) << path;
    }
    const std::string version = run.dir.read("data/meta/contentVersion");
    ASSERT_EQ(version.size(), 18u);
    EXPECT_EQ(uint8_t(version[2]) | uint8_t(version[3]) << 8 | uint8_t(version[4]) << 16 | uint8_t(version[5]) << 24, VERSION);
    const std::string served = run.assets.log();
    EXPECT_EQ(countOf(served, "\"GET /3/data/"), files.size()) << served;
    EXPECT_EQ(countOf(served, "\"GET /3/fileDB.txt "), 1u) << served;

    log = runToTheMenu(run.dir);
    EXPECT_NE(log.find("vfs: Local Assetserver returned Content Version 3\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Update Required"), std::string::npos) << log;
    EXPECT_EQ(tavrix::test::clientErrors(log), tavrix::test::fontErrorsAtSetUp()) << log;
    const std::string second = run.assets.log().substr(served.size());
    EXPECT_EQ(countOf(second, "\"GET /currentVersion.txt "), 1u) << second;
    EXPECT_EQ(countOf(second, "\"GET /3/"), 0u) << second;
}

} // namespace
