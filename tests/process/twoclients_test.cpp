// Two real clients in one folder: only one of them writes it. The other ends at its start with the fatal
// report that another client uses the folder, and leaves every file as it found it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "clientenv.h"
#include "support/clientprocess.h"
#include "support/tempdir.h"

namespace {

namespace fs = std::filesystem;

using tavrix::test::clientProcess;
using tavrix::test::CLIENT_ENV;
using tavrix::test::bundledFiles;

constexpr uint32_t VERSION = 3;
constexpr int START_MS = 60000;
constexpr int CLOSE_MS = 20000;

const std::string ANOTHER_CLIENT = "Another client uses this folder.\nOnly one client at a time can run in a folder.\n";

// How many nodes of the meta database hold each path.
std::map<std::string, int> nodesByPath(const std::string& db)
{
    constexpr size_t HEAD = 2, NODE = 192, FOOT = 20, PATH_AT = 8, PATH_BYTES = 128;
    std::map<std::string, int> nodes;
    for (size_t at = HEAD; at + NODE + FOOT <= db.size(); at += NODE)
        ++nodes[db.substr(at + PATH_AT, PATH_BYTES).c_str()];
    return nodes;
}

// Every file and folder below the current directory but client.log, with its bytes and modification time.
std::map<std::string, std::string> folderState()
{
    std::map<std::string, std::string> state;
    for (const auto& entry : fs::recursive_directory_iterator(".")) {
        const std::string path = entry.path().string();
        if (path == "./client.log")
            continue;
        const auto written = fs::last_write_time(entry.path()).time_since_epoch().count();
        state[path] = std::to_string(written) + (entry.is_regular_file() ? ":" + tavrix::test::readWhole(entry.path()) : "/");
    }
    return state;
}

bool reportsAnotherClient(const clientProcess& client)
{
    const std::string errors = client.stderrText();
    return errors.find("An Fatal Error occured,") != std::string::npos && errors.find(ANOTHER_CLIENT) != std::string::npos;
}

// Both clients start at once in a fresh folder: the one that comes second ends with the report, the other
// installs the content and reaches the menu, and the meta database holds one node for each file.
TEST(twoClientsProcess, TwoStartedAtOnceInAFreshFolderInstallTheContentOnce)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display (the test suite runs under Xvfb)";
    tavrix::test::bundledRun run(VERSION);
    ASSERT_TRUE(run.assets.started());
    auto first = std::make_unique<clientProcess>(TAVRIX_BINARY, true, CLIENT_ENV);
    auto second = std::make_unique<clientProcess>(TAVRIX_BINARY, true, CLIENT_ENV);

    // The window stays open until it is closed, so the client that loses has ended with its report first.
    clientProcess* loser = nullptr;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(START_MS);
    while (!loser && std::chrono::steady_clock::now() < deadline) {
        loser = reportsAnotherClient(*first) ? first.get() : reportsAnotherClient(*second) ? second.get() : nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_NE(loser, nullptr) << first->stderrText() << second->stderrText();
    clientProcess& winner = loser == first.get() ? *second : *first;
    EXPECT_EQ(loser->wait(CLOSE_MS), 0);
    EXPECT_TRUE(winner.waitForLog("renderMode::switchMode() Switching to: Menu\r\n", START_MS)) << run.dir.read("client.log");
    EXPECT_EQ(std::system(CLOSEWINDOW_BINARY), 0);
    EXPECT_EQ(winner.wait(CLOSE_MS), 0);
    EXPECT_EQ(winner.stderrText(), "");

    const std::vector<std::string> files = bundledFiles();
    ASSERT_FALSE(files.empty());
    std::map<std::string, int> expected;
    for (const auto& path : files)
        expected[path] = 1;
    EXPECT_EQ(nodesByPath(run.dir.read("data/meta/contentDB")), expected);
    for (const auto& path : files)
        EXPECT_EQ(run.dir.read(path), tavrix::test::readWhole(fs::path(TAVRIX_SOURCE_DIR) / "content" / path)) << path;
}

// A client that finds the folder held ends at its start, and neither data/, cache/ nor ./cvar.db changes:
// not even what an interrupted write left is cleaned up.
TEST(twoClientsProcess, AClientFindingTheFolderHeldEndsWithoutWriting)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display (the test suite runs under Xvfb)";
    tavrix::test::tempDir dir;
    dir.write("cvar.db", "20131017\n11:video.width:i:320\n12:video.height:i:240\n");
    dir.write("data/meta/contentVersion", "not a version file");
    dir.write("data/ui/page.html", "page");
    dir.write("data/ui/page.html\\tmp4242.0", "half a page");
    dir.write("data/meta/lock", "");
    // Held as another client holds it.
    const int holder = open("data/meta/lock", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    const std::map<std::string, std::string> before = folderState();

    clientProcess client(TAVRIX_BINARY, true, CLIENT_ENV);
    EXPECT_EQ(client.wait(START_MS), 0);
    close(holder);
    EXPECT_TRUE(reportsAnotherClient(client)) << client.stderrText();
    // The log writes each line feed as CR LF.
    EXPECT_NE(dir.read("client.log").find("Another client uses this folder.\r\nOnly one client at a time can run in a folder.\r\n"), std::string::npos)
        << dir.read("client.log");
    EXPECT_EQ(folderState(), before);
}

} // namespace
