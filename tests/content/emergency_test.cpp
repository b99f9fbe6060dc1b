// The emergency download: a content file that no longer matches its record is fetched again from the
// server the update chose, with the download screen shown meanwhile, once for any number of emergencies
// in flight.
#include <chrono>
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

size_t countOf(const std::vector<std::string>& lines, const std::string& text)
{
    size_t n = 0;
    for (const auto& line : lines)
        n += line == text;
    return n;
}

const contentFile MENU = {"data/ui/mainMenu.titleScreen/index.html", "<html>menu</html>"};
const contentFile FIRST = {"data/first.txt", "the first file's bytes"};
const contentFile SECOND = {"data/second.txt", "the second file's bytes"};
const contentFile MARKUP = {"data/<img src=x onerror=\"alert('&')\">.txt", "a name that is markup"};

std::string readWhole(const std::string& path)
{
    uint32_t size = 0;
    void* data = vfs::readFile(path.c_str(), &size);
    if (!data)
        return "(unreadable)";
    std::string bytes(static_cast<const char*>(data), size);
    vfs::releaseFile(data);
    return bytes;
}

// Waits, generously, until the server has been asked for the target.
bool requested(const httpFixture& server, const std::string& target)
{
    for (int i = 0; i < 3000; ++i) {
        for (const auto& t : targetsOf(server))
            if (t == target)
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

httpAnswer answerWith(std::string bytes)
{
    httpAnswer how;
    how.body = std::move(bytes);
    return how;
}

// Same length, other bytes: only the CRC-32 tells.
void damageFile(storeRun& run, const contentFile& f) { run.dir.write(f.path, std::string(f.bytes.size(), '#')); }

class emergencyTest : public ::testing::Test {
protected:
    storeRun run;
    httpFixture server;

    void SetUp() override
    {
        publish(server, 7, {MENU, FIRST, SECOND, MARKUP});
        run.start(baseOf(server.port()), baseOf(refusingPort().port()));
        ASSERT_EQ(run.update(), "");
        server.clearRequests();
        run.captured.clear();
    }
    void TearDown() override { run.stop(); }

    void damage(const contentFile& f) { damageFile(run, f); }
};

TEST_F(emergencyTest, AFileThatFailsItsChecksumIsFetchedAgainOnTheDownloadScreen)
{
    damage(FIRST);
    EXPECT_EQ(readWhole(FIRST.path), FIRST.bytes);
    EXPECT_EQ(targetsOf(server), std::vector<std::string>{"/7/data/first.txt"});
    EXPECT_EQ(run.dir.read(FIRST.path), FIRST.bytes);
    run.expectStored(FIRST);

    const auto lines = run.captured.texts();
    EXPECT_EQ(countOf(lines, "vfs: _getFileDataDisk() 'data/first.txt' - Checksum Error\n"), 1u);
    EXPECT_EQ(countOf(lines, "vfs: emergeDownloadAndPatch -> Downloading data/first.txt\n"), 1u);
    EXPECT_EQ(run.screens.switchesTo(screen::DOWNLOAD_SCREEN), 1u);
    EXPECT_EQ(run.screens.switchesTo(screen::LOADING_SCREEN), 1u);
    EXPECT_EQ(run.screens.statusText(screen::DOWNLOAD_SCREEN), "Writing 'data/first.txt' to Disk\n");
    EXPECT_EQ(run.screens.shown(), screen::LOADING_SCREEN);
}

TEST_F(emergencyTest, ABodyWithAnotherHashIsNotWritten)
{
    damage(FIRST);
    server.answer("/7/data/first.txt", answerWith(std::string(FIRST.bytes.size(), '!')));
    uint32_t size = 0;
    EXPECT_EQ(vfs::readFile(FIRST.path.c_str(), &size), nullptr);
    EXPECT_TRUE(run.captured.contains("vfs: emergeDownloadAndPatch() -> 'data/first.txt' expected hash-validation failed.\n"));
    EXPECT_EQ(targetsOf(server), std::vector<std::string>{"/7/data/first.txt"});
    EXPECT_EQ(run.dir.read(FIRST.path), std::string(FIRST.bytes.size(), '#'));
    EXPECT_EQ(run.record(FIRST.path)->crc32, crc32_update(0, FIRST.bytes.data(), uint32_t(FIRST.bytes.size())));
    EXPECT_EQ(run.screens.shown(), screen::LOADING_SCREEN);
}

// A file that still fails after its downloads (here it is damaged again as each one ends) is given up
// after the second, so the load does not hold the record's lock for ever.
TEST_F(emergencyTest, AFileThatNeverReadsBackIsGivenUpAfterTwoDownloads)
{
    class damagingScreens final : public vfs::updateSink {
    public:
        explicit damagingScreens(storeRun& run) : run(run) {}
        void setStatusText(screen, const char*, uint32_t) override {}
        void setProgress(screen, int32_t, int32_t) override {}
        void setURL(screen, const char*) override {}
        int32_t showDownload() override { return LOADING_SCREEN; }
        void leaveDownload(int32_t) override { damageFile(run, FIRST); }
        void requestClose() override {}

    private:
        storeRun& run;
    } screens(run);
    vfs::setUpdateSink(&screens);
    damage(FIRST);
    uint32_t size = 0;
    EXPECT_EQ(vfs::readFile(FIRST.path.c_str(), &size), nullptr);
    vfs::setUpdateSink(&run.screens);
    EXPECT_EQ(targetsOf(server), (std::vector<std::string>{"/7/data/first.txt", "/7/data/first.txt"}));
    EXPECT_EQ(countOf(run.captured.texts(), "vfs: _getFileDataDisk() 'data/first.txt' - Checksum Error\n"), 3u);
    EXPECT_TRUE(run.captured.contains("readFile: @TODO --- HANDLE I/O ERROR WITH DOWNLOADING\n"));
    EXPECT_EQ(run.record(FIRST.path)->refCount, 0u);
}

TEST_F(emergencyTest, AMarkupNameIsFetchedAndEscapedInTheStatus)
{
    damage(MARKUP);
    EXPECT_EQ(readWhole(MARKUP.path), MARKUP.bytes);
    run.expectStored(MARKUP);
    EXPECT_EQ(run.screens.statusText(screen::DOWNLOAD_SCREEN),
              "Writing 'data/&lt;img src=x onerror=&quot;alert(&#39;&amp;&#39;)&quot;&gt;.txt' to Disk\n");
}

TEST_F(emergencyTest, AFileTheServerCannotGiveStaysUnreadable)
{
    damage(FIRST);
    server.answer("/7/data/first.txt", httpAnswer::withStatus(404));
    uint32_t size = 0;
    EXPECT_EQ(vfs::readFile(FIRST.path.c_str(), &size), nullptr);
    EXPECT_TRUE(run.captured.contains("vfs: emergeDownloadAndPatch() -> 'data/first.txt' seems to me unavailable\n"));
    EXPECT_EQ(run.screens.shown(), screen::LOADING_SCREEN);
}

// The first emergency finds Loading, the second finds Download; the first ends while the second still
// runs, and the screen stays on Download until the second ends, then goes back to Loading.
TEST_F(emergencyTest, OverlappingEmergenciesSwitchOnceAndRestoreTheModeTheFirstFound)
{
    damage(FIRST);
    damage(SECOND);
    server.holdBack("/7/data/first.txt");
    server.holdBack("/7/data/second.txt");

    std::string first, second;
    std::thread a([&] { first = readWhole(FIRST.path); });
    ASSERT_TRUE(requested(server, "/7/data/first.txt"));
    std::thread b([&] { second = readWhole(SECOND.path); });
    ASSERT_TRUE(requested(server, "/7/data/second.txt"));
    server.release("/7/data/first.txt");
    a.join();
    EXPECT_EQ(run.screens.shown(), screen::DOWNLOAD_SCREEN) << "the second emergency still runs";
    server.release("/7/data/second.txt");
    b.join();
    EXPECT_EQ(first, FIRST.bytes);
    EXPECT_EQ(second, SECOND.bytes);

    EXPECT_EQ(run.screens.switchesTo(screen::DOWNLOAD_SCREEN), 1u);
    EXPECT_EQ(run.screens.switchesTo(screen::LOADING_SCREEN), 1u);
    EXPECT_EQ(run.screens.shown(), screen::LOADING_SCREEN);
}

// The store's own files and anything outside data/ are never asked for, by either kind of download.
TEST_F(emergencyTest, OnlyContentFilesAreFetched)
{
    for (const char* path : {"data/meta/contentDB", "data/meta", "other/x.txt", "data/../x.txt"}) {
        SCOPED_TRACE(path);
        run.captured.clear();
        EXPECT_FALSE(vfs::emergeDownloadAndPatch(path, nullptr));
        EXPECT_FALSE(vfs::downloadAndPatch(path, nullptr));
        EXPECT_TRUE(run.captured.contains("vfs: emergeDownloadAndPatch() -> '" + std::string(path) + "' is no content file, not downloaded\n"));
        EXPECT_TRUE(run.captured.contains("vfs: downloadAndPatch() -> '" + std::string(path) + "' is no content file, not downloaded\n"));
    }
    EXPECT_TRUE(targetsOf(server).empty());
    EXPECT_EQ(run.screens.switchesTo(screen::DOWNLOAD_SCREEN), 0u);
}

// A server whose current version is 0 has no files to give: nothing is asked for in its name. The
// reindex that a first start makes leaves the store's own files out, so they are not there to load.
TEST(emergencyDownload, AServerAtVersion0IsNotAskedForFiles)
{
    storeRun run;
    httpFixture server;
    server.put("/currentVersion.txt", "0");
    run.dir.write(MENU.path, MENU.bytes);
    run.start(baseOf(server.port()), baseOf(refusingPort().port()));
    ASSERT_EQ(run.update(), "");
    ASSERT_NE(run.record(MENU.path), nullptr);
    EXPECT_EQ(run.record("data/meta/contentDB"), nullptr);
    uint32_t size = 0;
    EXPECT_EQ(vfs::readFile("data/meta/contentDB", &size), nullptr);
    damageFile(run, MENU);
    EXPECT_EQ(vfs::readFile(MENU.path.c_str(), &size), nullptr);
    EXPECT_TRUE(run.captured.contains("vfs: emergeDownloadAndPatch() -> '" + MENU.path + "' can't be downloaded, the Assetserver gave no Content Version\n"));
    EXPECT_EQ(targetsOf(server), std::vector<std::string>{"/currentVersion.txt"});
}

TEST(emergencyDownload, BeforeAnyServerIsChosenNothingIsRequested)
{
    storeRun run;
    httpFixture server;
    run.start(baseOf(server.port()), baseOf(server.port()));
    EXPECT_FALSE(vfs::emergeDownloadAndPatch("data/x.txt", nullptr));
    EXPECT_TRUE(run.captured.contains("vfs: emergeDownloadAndPatch() -> 'data/x.txt' can't be downloaded, no Assetserver in use\n"));
    EXPECT_TRUE(targetsOf(server).empty());
}

} // namespace
