// The start-up step's content update against real asset servers on 127.0.0.1: what it requests, what it
// stores and records, the texts it leaves on the loading screen, the saved content version, the close
// request and the screens' pages. Each case runs in a directory of its own.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "updatetest.h"

namespace vfs = tavrix::vfs;
using screen = tavrix::vfs::updateSink;
using tavrix::test::baseOf;
using tavrix::test::contentFile;
using tavrix::test::httpAnswer;
using tavrix::test::httpFixture;
using tavrix::test::publish;
using tavrix::test::refusingPort;
using tavrix::test::storeRun;
using tavrix::test::targetsOf;

namespace {

const contentFile MENU = {"data/ui/mainMenu.titleScreen/index.html", "<html>menu</html>"};
const contentFile LOADING = {"data/ui/sys.loadingScreenWindow/index.html", "<html>loading</html>"};
const contentFile DOWNLOAD = {"data/ui/sys.downloadWindow/index.html", "<html>download</html>"};
const contentFile EMPTY = {"data/empty.txt", ""};
const contentFile ODD = {"data/a b%.txt", "odd name"};
const contentFile ODD_CHANGED = {"data/a b%.txt", "odd name, changed"};
const std::vector<contentFile> V7 = {MENU, LOADING, DOWNLOAD, EMPTY, ODD};

// V7's files in the order they are fetched: the reverse of the list.
const std::vector<std::string> V7_FETCHED = {"/7/data/a%20b%25.txt", "/7/data/empty.txt",
                                             "/7/data/ui/sys.downloadWindow/index.html",
                                             "/7/data/ui/sys.loadingScreenWindow/index.html",
                                             "/7/data/ui/mainMenu.titleScreen/index.html"};

const std::string UP_TO_DATE = "Everything is up-to-date\n";
const std::string UNAVAILABLE = "Error: Assetserver unavailable, connection Problem?\n\nThe game will close in 10 Seconds automatically.\n\nPlease try again later.\n";
const std::string CORRUPT_LIST = "An unexpected error occured\n\nThe received File Database seems to be corrupt\nPlease try again later!\n";

std::vector<std::string> concat(std::vector<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::string definitionOf(const std::string& name, const std::string& bytes)
{
    return std::to_string(name.size()) + ":" + name + "," + std::to_string(bytes.size()) + "," +
           tavrix::test::hexOf(tavrix::test::sha256Of(bytes));
}

httpAnswer withBody(std::string bytes)
{
    httpAnswer how;
    how.body = std::move(bytes);
    return how;
}

class updateTest : public ::testing::Test {
protected:
    // A first start that installs version 7 of these files.
    static void install(storeRun& run, const std::vector<contentFile>& files)
    {
        httpFixture server;
        publish(server, 7, files);
        run.start(baseOf(server.port()), baseOf(refusingPort().port()));
        ASSERT_EQ(run.update(), "");
        ASSERT_EQ(run.screens.statusText(screen::LOADING_SCREEN), UP_TO_DATE);
        run.stop();
        ASSERT_FALSE(run.screens.takeCloseRequest());
    }

    // After the run: a new start reads the saved version, and the meta database holds every stored file
    // and none of the absent ones.
    static void expectSaved(storeRun& run, uint32_t version, const std::vector<contentFile>& stored,
                            const std::vector<std::string>& absent = {})
    {
        run.start(baseOf(refusingPort().port()), baseOf(refusingPort().port()));
        EXPECT_EQ(vfs::getLocalContentVersion(), version);
        if (version != 0) {
            EXPECT_TRUE(vfs::loadMetaData());
            for (const auto& f : stored)
                run.expectStored(f);
            for (const auto& path : absent)
                EXPECT_EQ(run.record(path), nullptr) << path;
        }
        run.stop();
    }
};

enum serverState { SERVES, REFUSES, ANSWERS_EMPTY };

struct scenario {
    const char* name = "";
    std::vector<contentFile> installed = {}; // as version 7 by an earlier start; none when empty
    serverState local = REFUSES;
    serverState publicServer = REFUSES;
    // What the serving server publishes now, a replaced list and misbehaving answers by target.
    uint32_t version = 0;
    std::vector<contentFile> files = {};
    std::optional<std::string> list = {};
    std::map<std::string, httpAnswer> answers = {};
    // What the update does.
    std::vector<std::string> localTargets = {};
    std::vector<std::string> publicTargets = {};
    std::string status = {};
    std::string logged = {};
    std::string fatal = {};
    bool closed = false;
    bool pagesSet = false;
    uint32_t savedVersion = 0;
    std::vector<contentFile> stored = {}; // every file on disk and in the meta database afterwards
    std::vector<std::string> absent = {};
};

TEST_F(updateTest, Scenarios)
{
    const std::vector<std::string> V7_FRESH = concat({{"/currentVersion.txt", "/7/fileDB.txt"}, V7_FETCHED, {"/currentVersion.txt"}});
    const scenario scenarios[] = {
        {.name = "fresh install",
         .local = SERVES, .publicServer = REFUSES, .version = 7, .files = V7,
         .localTargets = V7_FRESH,
         .status = UP_TO_DATE, .logged = "vfs: Update to Content-Version 7 complete, revalidating Version\n",
         .closed = false, .pagesSet = true, .savedVersion = 7, .stored = V7},
        {.name = "equal version",
         .installed = V7, .local = SERVES, .publicServer = REFUSES, .version = 7, .files = V7,
         .localTargets = {"/currentVersion.txt"},
         .status = UP_TO_DATE, .logged = "vfs: Local Assetserver returned Content Version 7\n",
         .closed = false, .pagesSet = true, .savedVersion = 7, .stored = V7},
        {.name = "a list of 0 files is a complete update",
         .installed = V7, .local = SERVES, .publicServer = REFUSES, .version = 8, .files = {},
         .list = "0\nwhat follows is not read\n",
         .localTargets = {"/currentVersion.txt", "/8/fileDB.txt", "/currentVersion.txt"},
         .status = UP_TO_DATE, .logged = "vfs: prepareAndDownloadUpdates -> remote FileDB contains 0 File Definitions\n",
         .closed = false, .pagesSet = true, .savedVersion = 8, .stored = V7},
        {.name = "an unchanged file is counted but not fetched",
         .installed = V7, .local = SERVES, .publicServer = REFUSES, .version = 8,
         .files = {MENU, LOADING, DOWNLOAD, EMPTY, ODD_CHANGED},
         .localTargets = {"/currentVersion.txt", "/8/fileDB.txt", "/8/data/a%20b%25.txt", "/currentVersion.txt"},
         .status = UP_TO_DATE, .logged = "vfs: prepareAndDownloadUpdates -> remote FileDB contains 5 File Definitions\n",
         .closed = false, .pagesSet = true, .savedVersion = 8, .stored = {MENU, LOADING, DOWNLOAD, EMPTY, ODD_CHANGED}},
        {.name = "local server refuses: the public one serves everything",
         .local = REFUSES, .publicServer = SERVES, .version = 7, .files = V7,
         .publicTargets = V7_FRESH,
         .status = UP_TO_DATE, .logged = "' seems to be unavailable, retrying with public-assetserver\n",
         .closed = false, .pagesSet = true, .savedVersion = 7, .stored = V7},
        {.name = "an empty version answer counts as unavailable",
         .local = ANSWERS_EMPTY, .publicServer = SERVES, .version = 7, .files = V7,
         .localTargets = {"/currentVersion.txt"}, .publicTargets = V7_FRESH,
         .status = UP_TO_DATE, .logged = "httpGET() -> executed code, that's impossible to reach!\n",
         .closed = false, .pagesSet = true, .savedVersion = 7, .stored = V7},
        {.name = "both servers refuse",
         .local = REFUSES, .publicServer = REFUSES,
         .status = UNAVAILABLE, .logged = "vfs: Assetserver seems to be unavailable, connection issues?\n",
         .closed = true, .pagesSet = false, .savedVersion = 0, .absent = {MENU.path}},
        {.name = "a file that fails its hash is not written",
         .local = SERVES, .publicServer = REFUSES, .version = 7, .files = V7,
         .answers = {{"/7/data/ui/sys.downloadWindow/index.html", withBody("<html>tampered</html>")}},
         .localTargets = {"/currentVersion.txt", "/7/fileDB.txt", "/7/data/a%20b%25.txt", "/7/data/empty.txt",
                          "/7/data/ui/sys.downloadWindow/index.html"},
         .status = "Download of data/ui/sys.downloadWindow/index.html failed\nPlease try again later!\n",
         .logged = "vfs: downloadAndPatch() -> 'data/ui/sys.downloadWindow/index.html' expected hash-validation failed.\n",
         .closed = true, .pagesSet = false, .savedVersion = 0, .stored = {EMPTY, ODD},
         .absent = {DOWNLOAD.path, LOADING.path, MENU.path}},
        {.name = "the menu page missing",
         .local = SERVES, .publicServer = REFUSES, .version = 7, .files = {LOADING, DOWNLOAD},
         .localTargets = {"/currentVersion.txt", "/7/fileDB.txt", "/7/data/ui/sys.downloadWindow/index.html",
                          "/7/data/ui/sys.loadingScreenWindow/index.html", "/currentVersion.txt"},
         .status = UP_TO_DATE, .fatal = "Main Menu / Titlescreen data missing.\n",
         .closed = false, .pagesSet = false, .savedVersion = 7, .stored = {LOADING, DOWNLOAD}},
        {.name = "a name outside data/ makes the list corrupt",
         .local = SERVES, .publicServer = REFUSES, .version = 7,
         .list = "2\n" + definitionOf(MENU.path, MENU.bytes) + "\n" + definitionOf("../../escaped", "x") + "\n",
         .localTargets = {"/currentVersion.txt", "/7/fileDB.txt"},
         .status = CORRUPT_LIST, .logged = "vfs: prepareAndDownloadUpdates -> Remote fileDB Corrupt, invalid fileName (line: 3)\n",
         .closed = true, .pagesSet = false, .savedVersion = 0, .absent = {MENU.path}},
        {.name = "a carriage return makes the list corrupt",
         .local = SERVES, .publicServer = REFUSES, .version = 7,
         .list = "1\n" + definitionOf(MENU.path, MENU.bytes) + "\r\n",
         .localTargets = {"/currentVersion.txt", "/7/fileDB.txt"},
         .status = CORRUPT_LIST, .logged = "vfs: prepareAndDownloadUpdats -> Remote FileDB corrupt, processed 0 of expected 1 Definitions!\n",
         .closed = true, .pagesSet = false, .savedVersion = 0, .absent = {MENU.path}},
        {.name = "a name longer than 127 bytes makes the list corrupt",
         .local = SERVES, .publicServer = REFUSES, .version = 7,
         .list = "1\n" + definitionOf("data/" + std::string(123, 'n'), "x") + "\n",
         .localTargets = {"/currentVersion.txt", "/7/fileDB.txt"},
         .status = CORRUPT_LIST, .logged = "vfs: prepareEndDownloadUpdates -> Remote fileDB Corrupt or Contains Filename > 127 chars (line: 2)\n",
         .closed = true, .pagesSet = false, .savedVersion = 0},
        {.name = "a name without its comma makes the list corrupt",
         .local = SERVES, .publicServer = REFUSES, .version = 7,
         .list = "1\n10:data/a.txt;1," + tavrix::test::hexOf(tavrix::test::sha256Of("x")) + "\n",
         .localTargets = {"/currentVersion.txt", "/7/fileDB.txt"},
         .status = CORRUPT_LIST, .logged = "vfs: prepareAndDownloadUpdates -> Remote fileDB Corrupt missing sepperator after fileName (line: 2)\n",
         .closed = true, .pagesSet = false, .savedVersion = 0},
        {.name = "a hash of 63 digits makes the list corrupt",
         .local = SERVES, .publicServer = REFUSES, .version = 7,
         .list = "1\n10:data/a.txt,1," + tavrix::test::hexOf(tavrix::test::sha256Of("x")).substr(1) + "\n",
         .localTargets = {"/currentVersion.txt", "/7/fileDB.txt"},
         .status = CORRUPT_LIST, .logged = "vfs:: prepareAndDownloadUpdates -> Remote fileDB Corrupt, != 64 bytes remaining after filesize/hash sepperator!\n",
         .closed = true, .pagesSet = false, .savedVersion = 0},
        {.name = "a list that ends after its count",
         .local = SERVES, .publicServer = REFUSES, .version = 7, .list = "3",
         .localTargets = {"/currentVersion.txt", "/7/fileDB.txt"},
         .status = "An unexpected error occured\n\nThe received File Database seems to be corrupt [1]\nPlease try again later!\n",
         .logged = "vfs: prepareAndDownloadUpdates -> remote FileDB corrupted, it should contain 3 Definitions, but EOF after Number of Files!\n",
         .closed = true, .pagesSet = false, .savedVersion = 0},
    };
    for (const scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        storeRun run;
        if (!s.installed.empty())
            install(run, s.installed);

        httpFixture local;
        httpFixture publicServer;
        refusingPort refused;
        httpFixture& serving = s.local == SERVES ? local : publicServer;
        if (s.version != 0)
            publish(serving, s.version, s.files);
        if (s.list)
            serving.put("/" + std::to_string(s.version) + "/fileDB.txt", *s.list);
        for (const auto& [target, how] : s.answers)
            serving.answer(target, how);
        if (s.local == ANSWERS_EMPTY)
            local.put("/currentVersion.txt", "");

        run.start(s.local == REFUSES ? baseOf(refused.port()) : baseOf(local.port()),
                  s.publicServer == REFUSES ? baseOf(refused.port()) : baseOf(publicServer.port()));
        run.captured.clear();
        EXPECT_EQ(run.update(), s.fatal);
        EXPECT_EQ(targetsOf(local), s.localTargets);
        EXPECT_EQ(targetsOf(publicServer), s.publicTargets);
        EXPECT_EQ(run.screens.statusText(screen::LOADING_SCREEN), s.status);
        if (!s.logged.empty()) {
            EXPECT_TRUE(run.captured.contains(s.logged)) << s.logged;
        }
        EXPECT_EQ(run.screens.takeCloseRequest(), s.closed);
        EXPECT_EQ(run.screens.url(screen::MENU_SCREEN), s.pagesSet ? "file://ui/mainMenu.titleScreen/index.html" : "");
        EXPECT_EQ(run.screens.url(screen::LOADING_SCREEN), s.pagesSet ? "file://ui/sys.loadingScreenWindow/index.html" : "");
        EXPECT_EQ(run.screens.url(screen::DOWNLOAD_SCREEN), s.pagesSet ? "file://ui/sys.downloadWindow/index.html" : "");
        for (const auto& f : s.stored)
            run.expectStored(f);
        for (const auto& path : s.absent)
            EXPECT_FALSE(run.dir.exists(path)) << path;
        run.stop();
        expectSaved(run, s.savedVersion, s.stored, s.absent);
    }
}

// Three changed files listed x, y, z are fetched z, y, x; y failing stops the update before x, and a later
// start fetches only what still differs.
TEST_F(updateTest, AFailedDownloadStopsTheUpdateAndTheNextStartResumes)
{
    const contentFile x = {"data/x.txt", "x bytes"};
    const contentFile y = {"data/y.txt", "y bytes"};
    const contentFile z = {"data/z.txt", "z bytes"};
    const std::vector<contentFile> v8 = {MENU, LOADING, DOWNLOAD, EMPTY, ODD, x, y, z};
    storeRun run;
    install(run, V7);

    httpFixture server;
    publish(server, 8, v8);
    server.answer("/8/data/y.txt", httpAnswer::withStatus(404));
    run.start(baseOf(server.port()), baseOf(refusingPort().port()));
    EXPECT_EQ(run.update(), "");
    EXPECT_EQ(targetsOf(server), (std::vector<std::string>{"/currentVersion.txt", "/8/fileDB.txt", "/8/data/z.txt", "/8/data/y.txt"}));
    EXPECT_EQ(run.screens.statusText(screen::LOADING_SCREEN), "Download of data/y.txt failed\nPlease try again later!\n");
    EXPECT_TRUE(run.captured.contains("vfs: downloadAndPatch() -> 'data/y.txt' seems to me unavailable\n"));
    EXPECT_TRUE(run.captured.contains("vfs: Update to Content-Version 8 failed!\n"));
    EXPECT_TRUE(run.screens.takeCloseRequest());
    EXPECT_EQ(run.screens.url(screen::MENU_SCREEN), "");
    run.expectStored(z);
    // Recorded with the version the content had when it was fetched.
    EXPECT_EQ(run.record(z.path)->contentVersion, 7u);
    EXPECT_FALSE(run.dir.exists(y.path));
    EXPECT_FALSE(run.dir.exists(x.path));
    run.stop();
    expectSaved(run, 7, {MENU, LOADING, DOWNLOAD, EMPTY, ODD, z});

    server.answer("/8/data/y.txt", httpAnswer{});
    server.clearRequests();
    run.start(baseOf(server.port()), baseOf(refusingPort().port()));
    EXPECT_EQ(run.update(), "");
    EXPECT_EQ(targetsOf(server), (std::vector<std::string>{"/currentVersion.txt", "/8/fileDB.txt", "/8/data/y.txt", "/8/data/x.txt", "/currentVersion.txt"}));
    EXPECT_EQ(run.screens.statusText(screen::LOADING_SCREEN), UP_TO_DATE);
    EXPECT_FALSE(run.screens.takeCloseRequest());
    run.stop();
    expectSaved(run, 8, v8);
}

// A listed name may hold markup: it is fetched and stored under that name, and the status texts that name
// it carry it escaped.
TEST_F(updateTest, AMarkupNameIsStoredAndEscapedInTheStatusTexts)
{
    const contentFile markup = {"data/<img src=x onerror=\"alert('&')\">.txt", "a name that is markup"};
    const std::string escaped = "data/&lt;img src=x onerror=&quot;alert(&#39;&amp;&#39;)&quot;&gt;.txt";
    storeRun run;
    httpFixture server;
    publish(server, 7, {MENU, markup});
    server.answer(tavrix::test::targetOf(7, markup.path), httpAnswer::withStatus(404));
    run.start(baseOf(server.port()), baseOf(refusingPort().port()));
    EXPECT_EQ(run.update(), "");
    EXPECT_EQ(run.screens.statusText(screen::LOADING_SCREEN), "Download of " + escaped + " failed\nPlease try again later!\n");
    run.stop();

    server.answer(tavrix::test::targetOf(7, markup.path), httpAnswer{});
    run.start(baseOf(server.port()), baseOf(refusingPort().port()));
    EXPECT_EQ(run.update(), "");
    const std::vector<std::string> statuses = run.screens.statusTexts(screen::LOADING_SCREEN);
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Writing '" + escaped + "' to Disk\n"), statuses.end());
    EXPECT_EQ(run.screens.statusText(screen::LOADING_SCREEN), UP_TO_DATE);
    run.expectStored(markup);
    run.stop();
}

// A folder under data/ that is a symbolic link is not written through: that file's download fails, and
// nothing lands where the link points.
TEST_F(updateTest, AFolderThatIsALinkIsNotWrittenThrough)
{
    const contentFile linked = {"data/linked/x.txt", "would land outside data/"};
    storeRun run;
    std::filesystem::create_directories("data");
    std::filesystem::create_directories("outside");
    std::filesystem::create_directory_symlink("../outside", "data/linked");
    httpFixture server;
    publish(server, 7, {MENU, linked});
    run.start(baseOf(server.port()), baseOf(refusingPort().port()));
    EXPECT_EQ(run.update(), "");
    EXPECT_TRUE(run.captured.contains("vfs: downloadAndPatch() -> 'data/linked/x.txt' can't build the specified directory tree (error'd at 'data/linked')\n"));
    EXPECT_EQ(run.screens.statusText(screen::LOADING_SCREEN), "Download of data/linked/x.txt failed\nPlease try again later!\n");
    EXPECT_TRUE(run.screens.takeCloseRequest());
    EXPECT_TRUE(std::filesystem::is_empty("outside"));
    EXPECT_EQ(run.record(linked.path), nullptr);
    run.stop();
}

// A server that stalls or trickles holds the update no longer than its bounds: the version and the list
// in all, a file by its speed.
TEST_F(updateTest, AServerThatTricklesHoldsTheUpdateNoLonger)
{
    httpAnswer stalled;
    stalled.stallMs = 60000;
    // A byte every 400 ms: even the shortest body here (21 bytes) would take over 8 s, four times the
    // bound below, so the bound cuts each one whatever the machine's load.
    httpAnswer trickle;
    trickle.trickleBytes = 1;
    trickle.trickleMs = 400;
    const struct {
        const char* name;
        std::string target;
        httpAnswer how;
        std::string logged;
        std::string status;
    } cases[] = {
        {"the version", "/currentVersion.txt", stalled, "vfs: Assetserver seems to be unavailable, connection issues?\n", UNAVAILABLE},
        {"the list", "/7/fileDB.txt", trickle, "vfs: Update to Content-Version 7 failed!\n", ""},
        {"a file", "/7/data/ui/sys.downloadWindow/index.html", trickle,
         "vfs: downloadAndPatch() -> 'data/ui/sys.downloadWindow/index.html' seems to me unavailable\n",
         "Download of data/ui/sys.downloadWindow/index.html failed\nPlease try again later!\n"},
    };
    // Bounds that cut the stall and the trickles, and that the other transfers keep even on a loaded machine.
    tavrix::vfsHttpLib::setTransferBounds(2000, 2000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        storeRun run;
        httpFixture server;
        publish(server, 7, V7);
        server.answer(c.target, c.how);
        run.start(baseOf(server.port()), baseOf(refusingPort().port()));
        EXPECT_EQ(run.update(), "");
        EXPECT_TRUE(run.captured.contains(c.logged));
        if (!c.status.empty()) {
            EXPECT_EQ(run.screens.statusText(screen::LOADING_SCREEN), c.status);
        }
        EXPECT_TRUE(run.screens.takeCloseRequest());
        EXPECT_EQ(run.screens.url(screen::MENU_SCREEN), "");
        run.stop();
    }
    tavrix::vfsHttpLib::setTransferBounds(tavrix::vfsHttpLib::SPEED_WINDOW_MS, tavrix::vfsHttpLib::QUERY_LIMIT_MS);
}

// Closing the window while the update waits on a stalled server ends the update at once: nothing more is
// asked of any server.
TEST_F(updateTest, AShutdownEndsAStalledUpdate)
{
    storeRun run;
    httpFixture local;
    httpFixture publicServer;
    publish(local, 7, V7);
    publish(publicServer, 7, V7);
    httpAnswer stalled;
    stalled.stallMs = 60000;
    local.answer("/7/fileDB.txt", stalled);
    run.start(baseOf(local.port()), baseOf(publicServer.port()));
    std::string fatal = "(running)";
    std::thread step([&] { fatal = run.update(); });
    for (int i = 0; i < 3000 && targetsOf(local).size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(targetsOf(local), (std::vector<std::string>{"/currentVersion.txt", "/7/fileDB.txt"}));
    tavrix::vfsHttpLib::abortTransfers();
    step.join();
    EXPECT_EQ(fatal, "");
    EXPECT_TRUE(run.captured.contains("httpGET() -> '" + local.url("/7/fileDB.txt") + "' aborted, the client is shutting down\n"));
    EXPECT_TRUE(run.captured.contains("vfs: Update to Content-Version 7 failed!\n"));
    EXPECT_EQ(targetsOf(local), (std::vector<std::string>{"/currentVersion.txt", "/7/fileDB.txt"}));
    EXPECT_TRUE(targetsOf(publicServer).empty());
    EXPECT_EQ(run.screens.url(screen::MENU_SCREEN), "");
    run.stop();
}

// A content file may be named as the store's temporary files once were: the next start keeps it.
TEST_F(updateTest, AContentFileNamedLikeATemporaryOneStays)
{
    const contentFile backup = {"data/test/backup.tmp1.2", "named like a temporary file"};
    storeRun run;
    install(run, {MENU, backup});
    expectSaved(run, 7, {MENU, backup});
}

std::atomic<int32_t> fakeNow{0};
// Each reading is 100 ms after the one before.
int32_t steppingClock() { return fakeNow += 100; }

// The speed on the screen is the average rate of the file's transfer so far.
TEST_F(updateTest, TheSpeedShownIsTheAverageSoFar)
{
    const contentFile big = {"data/big.bin", std::string(10000, 'b')};
    storeRun run;
    httpFixture server;
    publish(server, 7, {MENU, big});
    tavrix::vfsHttpLib::setProgressClock(steppingClock);
    run.start(baseOf(server.port()), baseOf(refusingPort().port()));
    EXPECT_EQ(run.update(), "");
    tavrix::vfsHttpLib::setProgressClock(nullptr);
    std::vector<std::string> receiving;
    for (const std::string& status : run.screens.statusTexts(screen::LOADING_SCREEN))
        if (status.rfind("Receiving File", 0) == 0)
            receiving.push_back(status);
    // The big file first, in reads of 4096 bytes, then the 17 bytes of the menu page in one.
    EXPECT_EQ(receiving, (std::vector<std::string>{"Receiving File (4/9 KByte)\nSpeed: 40.00 KByte/sec",
                                                   "Receiving File (8/9 KByte)\nSpeed: 40.00 KByte/sec",
                                                   "Receiving File (9/9 KByte)\nSpeed: 32.55 KByte/sec",
                                                   "Receiving File (0/0 KByte)\nSpeed: 0.17 KByte/sec"}));
    run.stop();
}

// While the local server answers, the public one is never asked, even when it has a newer version.
TEST_F(updateTest, ThePublicServerIsNotAskedWhileTheLocalOneAnswers)
{
    storeRun run;
    httpFixture local;
    httpFixture publicServer;
    publish(local, 7, V7);
    publish(publicServer, 9, V7);
    run.start(baseOf(local.port()), baseOf(publicServer.port()));
    EXPECT_EQ(run.update(), "");
    EXPECT_EQ(targetsOf(publicServer), std::vector<std::string>{});
    EXPECT_EQ(targetsOf(local).back(), "/currentVersion.txt");
    run.stop();
    expectSaved(run, 7, V7);
}

} // namespace
