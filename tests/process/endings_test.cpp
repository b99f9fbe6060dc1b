// How the program ends on the paths a user does not choose: a first start whose update cannot happen, sizes
// in ./cvar.db that no window can take, a display that goes away, a log file that stops taking lines.
// Each ends with status 0 and its settings saved.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "x11window.h"

#include "clientenv.h"
#include "support/clientprocess.h"
#include "support/httpfixture.h"
#include "support/privatedisplay.h"
#include "support/tempdir.h"

namespace {

using tavrix::test::CLIENT_ENV;
using tavrix::test::clientProcess;
using tavrix::test::httpAnswer;
using tavrix::test::privateDisplay;

// Generous: a loaded machine under the sanitizers starts slowly. The update closes the window ten seconds
// after its report.
constexpr int START_MS = 60000;
constexpr int END_MS = 60000;
constexpr uint16_t LOCAL_ASSET_PORT = 8090;

const std::string SETTINGS_HEADER = "20131017\n";
const std::string SMALL_WINDOW = SETTINGS_HEADER + "11:video.width:i:320\n12:video.height:i:240\n";
// Only the public asset server, whose name never resolves: a start without any server, whatever listens on
// the local server's port.
const std::string NO_LOCAL_SERVER = "27:vfs.dev.useLocalAssetServer:i:0\n";

bool hasDisplay() { return std::getenv("DISPLAY") != nullptr; }

// The local asset server's port bound and not listening: every connection to it is refused. (The public
// server's name never resolves.) Bound without address reuse, so no other server can take the port while
// it is held; a closed connection of an earlier run may keep the port for a minute.
class refusedAssetServer {
public:
    refusedAssetServer()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(LOCAL_ASSET_PORT);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(90);
        for (;;) {
            socket = ::socket(AF_INET, SOCK_STREAM, 0);
            if (bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0)
                return;
            close(socket);
            socket = -1;
            if (std::chrono::steady_clock::now() > until)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    ~refusedAssetServer()
    {
        if (socket >= 0)
            close(socket);
    }
    refusedAssetServer(const refusedAssetServer&) = delete;
    refusedAssetServer& operator=(const refusedAssetServer&) = delete;
    bool bound() const { return socket >= 0; }

private:
    int socket = -1;
};

// What every one of these ends shows: the whole shutdown ran and the settings were saved, the window's
// size among them as the file had it.
void expectNormalEnd(const tavrix::test::tempDir& dir, const std::string& width)
{
    const std::string log = dir.read("client.log");
    EXPECT_NE(log.find("Finalization - Finished\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("An Fatal Error occured"), std::string::npos) << log;
    const std::string saved = dir.read("cvar.db");
    EXPECT_EQ(saved.rfind(SETTINGS_HEADER, 0), 0u) << saved;
    for (const std::string& entry : {"11:video.width:i:" + width + "\n", std::string("16:timer.worker.num:i:2\n")})
        EXPECT_NE(saved.find(entry), std::string::npos) << entry << saved;
}

// The start-up steps after the update wait on content it never fetched: none of them starts.
void expectNoStepAfterTheUpdate(const std::string& log)
{
    EXPECT_NE(log.find("Async Initialization of VFS took "), std::string::npos) << log;
    EXPECT_EQ(log.find("Async Initialization of TextureMgr"), std::string::npos) << log;
    EXPECT_EQ(log.find("Ordered asynchronous Initializations Complete"), std::string::npos) << log;
}

TEST(endingsProcess, AFirstStartWithoutItsServerClosesAfterTheStatusAndSavesItsSettings)
{
    if (!hasDisplay())
        GTEST_SKIP() << "needs a display (the test suite runs under Xvfb)";
    tavrix::test::tempDir dir;
    dir.write("cvar.db", SMALL_WINDOW);
    refusedAssetServer assets;
    ASSERT_TRUE(assets.bound());

    clientProcess client(TAVRIX_BINARY, true, CLIENT_ENV);
    EXPECT_TRUE(client.waitForLog("vfs: Assetserver seems to be unavailable, connection issues?\r\n", START_MS)) << dir.read("client.log");
    EXPECT_EQ(client.wait(END_MS), 0) << dir.read("client.log");
    EXPECT_EQ(client.stderrText(), "");
    expectNormalEnd(dir, "320");
    expectNoStepAfterTheUpdate(dir.read("client.log"));
}

// The server answers the version query and goes away during the update: its file list, or a content file,
// is cut off part way. The update fails and closes the window as an unavailable server does.
TEST(endingsProcess, AnUpdateCutOffByItsServerClosesTheSameWay)
{
    if (!hasDisplay())
        GTEST_SKIP() << "needs a display (the test suite runs under Xvfb)";
    const std::string content(100000, 'c');
    const std::string list = "1\n17:data/content.txt,100000," + std::string(64, '0') + "\n";
    struct cutOff {
        const char* name;
        std::string target;
        std::string bytes;
    };
    const cutOff cases[] = {{"file list", "/5/fileDB.txt", list}, {"content file", "/5/data/content.txt", content}};
    for (const cutOff& c : cases) {
        SCOPED_TRACE(c.name);
        tavrix::test::tempDir dir;
        dir.write("cvar.db", SMALL_WINDOW);
        tavrix::test::httpFixture server("", LOCAL_ASSET_PORT);
        server.put("/currentVersion.txt", "5");
        server.put("/5/fileDB.txt", list);
        httpAnswer goesAway;
        goesAway.body = c.bytes;
        goesAway.closeAfter = c.bytes.size() / 2;
        server.answer(c.target, goesAway);

        clientProcess client(TAVRIX_BINARY, true, CLIENT_ENV);
        EXPECT_TRUE(client.waitForLog("vfs: Update to Content-Version 5 failed!\r\n", START_MS)) << dir.read("client.log");
        EXPECT_EQ(client.wait(END_MS), 0) << dir.read("client.log");
        EXPECT_EQ(client.stderrText(), "");
        expectNormalEnd(dir, "320");
        expectNoStepAfterTheUpdate(dir.read("client.log"));
    }
}

// Sizes no window can take: below 1, past 32 bits, beyond the X server's and the driver's limits. Each is
// brought within the display's size, the run ends as without a server, and the setting stays as written.
TEST(endingsProcess, WindowSizesTheDisplayCannotTakeAreBroughtWithinIt)
{
    if (!hasDisplay())
        GTEST_SKIP() << "needs a display (the test suite runs under Xvfb)";
    struct size {
        std::string width;
        std::string height;
    };
    const size cases[] = {{"-5", "240"}, {"4294967291", "240"}, {"40000", "40000"}, {"320", "100000"}};
    for (const size& c : cases) {
        SCOPED_TRACE(c.width + "x" + c.height);
        tavrix::test::tempDir dir;
        dir.write("cvar.db", SETTINGS_HEADER + NO_LOCAL_SERVER + "11:video.width:i:" + c.width + "\n12:video.height:i:" + c.height + "\n");

        clientProcess client(TAVRIX_BINARY, true, CLIENT_ENV);
        EXPECT_EQ(client.wait(START_MS + END_MS), 0) << dir.read("client.log");
        EXPECT_EQ(client.stderrText(), "");
        expectNormalEnd(dir, c.width);
        EXPECT_NE(dir.read("client.log").find("is no window size the display takes, using "), std::string::npos) << dir.read("client.log");
        EXPECT_NE(dir.read("cvar.db").find("12:video.height:i:" + c.height + "\n"), std::string::npos);
    }
}

// Another client destroys the window at the menu: the requests on it fail, and the client closes through
// its own shutdown.
TEST(endingsProcess, AWindowDestroyedByAnotherClientClosesTheClient)
{
    if (!hasDisplay())
        GTEST_SKIP() << "needs a display (the test suite runs under Xvfb)";
    tavrix::test::bundledRun run(1);
    ASSERT_TRUE(run.assets.started());
    // The software driver draws the frame in which the window went into a buffer it sized for no window at
    // all and reads past it: under the address sanitizer that is the driver's fault, not the client's.
    run.dir.write("driver.supp", "interceptor_via_lib:swrast_dri.so\n");
    const char* options = std::getenv("ASAN_OPTIONS");
    std::vector<std::string> env = CLIENT_ENV;
    env.push_back("ASAN_OPTIONS=" + std::string(options ? options : "") + ":suppressions=" + run.dir.path() + "/driver.supp");
    clientProcess client(TAVRIX_BINARY, true, env);
    ASSERT_TRUE(client.waitForLog("renderMode::switchMode() Switching to: Menu\r\n", START_MS)) << run.dir.read("client.log");

    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window window = x11_findWindowByName(display, DefaultRootWindow(display), "Tavrix!");
    ASSERT_NE(window, Window(None));
    XDestroyWindow(display, window);
    XCloseDisplay(display);

    EXPECT_EQ(client.wait(END_MS), 0) << run.dir.read("client.log");
    EXPECT_EQ(client.stderrText(), "");
    expectNormalEnd(run.dir, "320");
    EXPECT_NE(run.dir.read("client.log").find("client: X Error: "), std::string::npos) << run.dir.read("client.log");
}

// The X server goes away at the menu, with the window and its context: the client saves its settings and
// ends without the shutdown that would release them.
TEST(endingsProcess, ADisplayLostAtTheMenuEndsWithTheSettingsSaved)
{
    tavrix::test::bundledRun run(1);
    ASSERT_TRUE(run.assets.started());
    privateDisplay x;
    ASSERT_FALSE(x.displayName().empty()) << "Xvfb did not start";
    std::vector<std::string> env = CLIENT_ENV;
    env.push_back("DISPLAY=" + x.displayName());
    clientProcess client(TAVRIX_BINARY, true, env);
    ASSERT_TRUE(client.waitForLog("renderMode::switchMode() Switching to: Menu\r\n", START_MS)) << run.dir.read("client.log");

    x.goAway();
    EXPECT_EQ(client.wait(END_MS), 0) << run.dir.read("client.log");
    EXPECT_EQ(client.stderrText(), "");
    const std::string log = run.dir.read("client.log");
    EXPECT_NE(log.find("client: the connection to the display is lost - the settings are saved and the process ends without its shutdown\r\n"), std::string::npos) << log;
    const std::string saved = run.dir.read("cvar.db");
    for (const std::string& entry : {std::string("11:video.width:i:320\n"), std::string("12:ui.updateFPS:i:60\n")})
        EXPECT_NE(saved.find(entry), std::string::npos) << entry << saved;
}

// client.log is a pipe whose reader takes nothing: the logger's worker stays in a write from early in the
// start-up on. The update closes the window as without a server, and the process still ends, its settings
// saved, though the worker never leaves its write.
TEST(endingsProcess, ALogFileThatTakesNoMoreDoesNotHoldTheEnd)
{
    if (!hasDisplay())
        GTEST_SKIP() << "needs a display (the test suite runs under Xvfb)";
    tavrix::test::tempDir dir;
    dir.write("cvar.db", SMALL_WINDOW + NO_LOCAL_SERVER);
    ASSERT_EQ(mkfifo("client.log", 0600), 0);
    const int reader = open("client.log", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    // The smallest pipe: the start-up's first lines fill it.
    ASSERT_GT(fcntl(reader, F_SETPIPE_SZ, 4096), 0);

    clientProcess client(TAVRIX_BINARY, true, CLIENT_ENV);
    EXPECT_EQ(client.wait(START_MS + END_MS), 0);
    EXPECT_EQ(client.stderrText(), "");
    const std::string saved = dir.read("cvar.db");
    EXPECT_NE(saved.find("16:timer.worker.num:i:2\n"), std::string::npos) << saved;
    // What the pipe took: the start of the log, never its end.
    std::string written;
    char bytes[4096];
    for (ssize_t got; (got = read(reader, bytes, sizeof(bytes))) > 0;)
        written.append(bytes, size_t(got));
    close(reader);
    EXPECT_EQ(written.rfind("[0.00000] (INFO)    [Platform] Acquired this logger", 0), 0u) << written;
    EXPECT_EQ(written.find("Finalization - Begin"), std::string::npos) << written;
}

} // namespace
