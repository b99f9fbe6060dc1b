// The scheme "file" served from the built-in pages and the content store, with the store running for real
// and the test in the engine's place: jobs, their answers, and every job back in its pool.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "client/uiembeddeddataprovider.h"
#include "client/uivfstransporthandlerassetscheme.h"
#include "content/vfsfixture.h"

namespace tavrix::test {
namespace {

// The engine's side of one job: what the handler hands over.
class recordingServer final : public eawebkit::TransportServer {
public:
    void SetExpectedLength(eawebkit::TransportInfo*, int64_t length) override { expected = length; }
    void DataReceived(eawebkit::TransportInfo*, const void* data, int64_t length) override
    {
        received.append(static_cast<const char*>(data), size_t(length));
    }
    void DataDone(eawebkit::TransportInfo*, bool success) override
    {
        ++doneCalls;
        succeeded = success;
    }

    int64_t expected = -1;
    std::string received;
    int doneCalls = 0;
    bool succeeded = false;
};

struct job {
    eawebkit::TransportInfo info{};
    recordingServer server;
    bool done = false;

    explicit job(const std::string& url, int32_t requestType = eawebkit::kRequestGet)
    {
        for (size_t i = 0; i < url.size() && i + 1 < eawebkit::kTransportURIChars; ++i)
            info.effectiveURL[i] = char16_t(uint8_t(url[i]));
        const char16_t scheme[] = u"file";
        for (size_t i = 0; i < 5; ++i)
            info.scheme[i] = scheme[i];
        info.requestType = eawebkit::RequestType(requestType);
        info.server = &server;
    }
};

class assetSchemeTest : public vfsFixture {
protected:
    uiVFSTransportHandlerAssetScheme* handler = nullptr;

    void SetUp() override
    {
        vfsFixture::SetUp();
        // One content-store worker, so that a test can keep a load pending behind a held one.
        cvar::set("vfs.nWorker", 1);
        start();
        handler = new uiVFSTransportHandlerAssetScheme;
    }
    void TearDown() override
    {
        deleteHandler();
        vfsFixture::TearDown();
    }
    void deleteHandler()
    {
        delete handler;
        handler = nullptr;
        EXPECT_FALSE(captured.contains("[Platform] ~Pool<VFSAssetSchemeJobInfo>:  Pool is not Empty!\n")) << "a job was never returned";
    }

    // InitJob, Connect and Transfer until done, then Disconnect and ShutdownJob, as the engine calls them.
    void runToEnd(job& j, bool expectInit = true, bool expectConnect = true)
    {
        EXPECT_EQ(expectInit, handler->InitJob(&j.info, j.done));
        EXPECT_TRUE(j.done);
        if (expectInit) {
            j.done = false;
            EXPECT_EQ(expectConnect, handler->Connect(&j.info, j.done));
            EXPECT_TRUE(j.done);
            j.done = false;
            ASSERT_TRUE(eventually([&] {
                handler->Transfer(&j.info, j.done);
                return j.done;
            }));
            j.done = false;
            EXPECT_TRUE(handler->Disconnect(&j.info, j.done));
        }
        j.done = false;
        EXPECT_TRUE(handler->ShutdownJob(&j.info, j.done));
        EXPECT_TRUE(j.done);
        EXPECT_EQ(nullptr, j.info.handlerData);
    }

    static bool eventually(const std::function<bool()>& pred)
    {
        for (int i = 0; i < 10000; ++i) {
            if (pred())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    // A job for data/ui/menu/index.html connected while the only content-store worker is held, so that its
    // load stays pending until the returned flag is set.
    std::atomic<bool>* connectPending(job& j)
    {
        addFile("data/ui/menu/index.html", "menu");
        std::atomic<bool>* release = holdContentWorker();
        EXPECT_TRUE(handler->InitJob(&j.info, j.done));
        EXPECT_TRUE(handler->Connect(&j.info, j.done));
        return release;
    }

    // Keeps the only content-store worker busy until the returned flag is set.
    std::atomic<bool>* holdContentWorker()
    {
        static std::atomic<bool> release;
        static std::atomic<bool> held;
        release = false;
        held = false;
        addFile("data/ui/hold.txt", "hold");
        vfs::asyncLoad("data/ui/hold.txt", [](const char*, void* data, uint32_t, void*, void*) {
            held = true;
            while (!release.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            vfs::releaseFile(data);
        }, nullptr, nullptr);
        EXPECT_TRUE(eventually([] { return held.load(); }));
        return &release;
    }
};

struct schemeCase {
    const char* name;
    std::string url;
    int32_t requestType;
    bool init;
    bool connect;
    int32_t status;
    std::string data;
    std::vector<std::string> errors;
};

TEST_F(assetSchemeTest, eachAddressIsAnsweredAsItsPrefixSays)
{
    addFile("data/ui/menu/index.html", "<html>menu</html>");
    addFile("data/ui/empty.html", "");
    addFile("data/meta/secret", "secret");
    uint32_t downloadSize = 0;
    const std::string download = uiEmbeddedDataProvider::getRessource("download.html", &downloadSize);
    const std::string longPath = "data/ui/" + std::string(130, 'x');
    const std::string overlong = "file://ui/" + std::string(250, 'y');
    const schemeCase cases[] = {
        {"built-in page", "file://embedded/download.html", 1, true, true, 200, download, {}},
        {"unknown built-in page", "file://embedded/nothing.html", 1, true, true, 200, "Unknown Ressource (ERROR)",
         {"uiEmbeddedDataProvider -> 'nothing.html' is unknown!\n"}},
        {"content file", "file://ui/menu/index.html", 1, true, true, 200, "<html>menu</html>", {}},
        {"missing file", "file://ui/menu/missing.html", 1, true, true, 404, "",
         {"uiVFSTransportHandlerAssetScheme: File Not found 'ui/menu/missing.html' [Path: data/ui/menu/missing.html]\n"}},
        {"empty file", "file://ui/empty.html", 1, true, true, 404, "", {}},
        {"no ://", "file:/x", 1, false, false, 0, "", {"uiVFSTransportHandlerAssetScheme::InitJob() -> Malformed effectiveURL(file:/x)\n"}},
        {"another request type", "file://ui/menu/index.html", 2, true, false, 404, "",
         {"uiVFSTransportHandlerAssetScheme::InitJob() Unsupported RequestType(2) on 'ui/menu/index.html'\n"}},
        {"unknown prefix", "file://foo/x", 1, true, false, 404, "", {}},
        {"outside data/ui", "file://ui/../meta/secret", 1, true, true, 404, "",
         {"uiVFSTransportHandlerAssetScheme: File Not found 'ui/../meta/secret' [Path: data/ui/../meta/secret]\n"}},
        {"a backslash", "file://ui/menu\\index.html", 1, true, true, 404, "",
         {"uiVFSTransportHandlerAssetScheme: File Not found 'ui/menu\\index.html' [Path: data/ui/menu\\index.html]\n"}},
        {"a leading slash", "file://ui//etc/passwd", 1, true, true, 404, "",
         {"uiVFSTransportHandlerAssetScheme: File Not found 'ui//etc/passwd' [Path: data/ui//etc/passwd]\n"}},
        {"content path over 127 bytes", "file://ui/" + longPath.substr(8), 1, true, true, 404, "",
         {"uiVFSTransportHandlerAssetScheme: File Not found 'ui/" + longPath.substr(8) + "' [Path: " + longPath + "]\n"}},
        {"URL over 255 bytes", overlong, 1, false, false, 0, "",
         {"uiVFSTransportHandlerAssetScheme::InitJob() -> Malformed effectiveURL(" + overlong.substr(0, 255) + ")\n"}},
    };
    for (const schemeCase& c : cases) {
        captured.clear();
        job j(c.url, c.requestType);
        runToEnd(j, c.init, c.connect);
        EXPECT_EQ(c.errors, captured.texts(util::LOG_ERROR)) << c.name;
        if (!c.init)
            continue;
        EXPECT_EQ(c.status, j.info.status) << c.name;
        EXPECT_EQ(c.data, j.server.received) << c.name;
        EXPECT_EQ(1, j.server.doneCalls) << c.name;
        EXPECT_EQ(c.status == 200, j.server.succeeded) << c.name;
    }
    EXPECT_EQ(784u, downloadSize);
    EXPECT_EQ(0u, record("data/ui/menu/index.html")->refCount) << "the data went back to the store";
}

// While the load is pending Transfer answers 404 and leaves the job running; the data then arrives.
TEST_F(assetSchemeTest, aPendingLoadIsServedOnceItArrives)
{
    job j("file://ui/menu/index.html");
    std::atomic<bool>* release = connectPending(j);
    j.done = false;
    EXPECT_FALSE(handler->Transfer(&j.info, j.done));
    EXPECT_FALSE(j.done);
    EXPECT_EQ(404, j.info.status);
    EXPECT_EQ(0, j.server.doneCalls);
    release->store(true);
    ASSERT_TRUE(eventually([&] { return handler->Transfer(&j.info, j.done); }));
    EXPECT_TRUE(j.done);
    EXPECT_EQ(200, j.info.status);
    EXPECT_EQ("menu", j.server.received);
    EXPECT_TRUE(handler->ShutdownJob(&j.info, j.done));
}

// Shut down while its load is pending: the load's callback returns the job and gives the data back.
TEST_F(assetSchemeTest, aJobShutDownBeforeItsLoadIsReturnedByTheLoad)
{
    job j("file://ui/menu/index.html");
    std::atomic<bool>* release = connectPending(j);
    EXPECT_TRUE(handler->ShutdownJob(&j.info, j.done));
    release->store(true);
    deleteHandler();
    EXPECT_EQ(0u, record("data/ui/menu/index.html")->refCount);
    EXPECT_EQ(1u, record("data/ui/menu/index.html")->loaded);
}

// The handler goes while loads are still queued: it waits for them before its pool goes.
TEST_F(assetSchemeTest, theHandlerWaitsForItsPendingLoads)
{
    job j("file://ui/menu/index.html");
    std::atomic<bool>* release = connectPending(j);
    EXPECT_TRUE(handler->ShutdownJob(&j.info, j.done));
    std::thread later([release] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        release->store(true);
    });
    deleteHandler();
    later.join();
    EXPECT_EQ(0u, record("data/ui/menu/index.html")->refCount);
}

// A load that outlives the handler's bounded wait still returns its job and gives its data back, and the
// last of the loads frees the pool: nothing of the deleted handler is touched.
TEST_F(assetSchemeTest, aLoadThatOutlivesTheHandlersWaitFreesThePool)
{
    deleteHandler();
    handler = new uiVFSTransportHandlerAssetScheme(20);
    job j("file://ui/menu/index.html");
    std::atomic<bool>* release = connectPending(j);
    EXPECT_TRUE(handler->ShutdownJob(&j.info, j.done));
    delete handler;
    handler = nullptr;
    // Out of the tracking allocator's quarantine, back to the heap: a late touch of the handler is then
    // caught by the address sanitizer.
    rofree(roalloc(2u << 20));
    EXPECT_EQ(std::vector<std::string>{"uiVFSTransportHandlerAssetScheme: 1 content loads still pending, the last of them frees the job pool\n"},
              captured.texts(util::LOG_ERROR));
    // The only content-store worker takes this once the pending load's callback is done.
    static std::atomic<bool> after;
    after = false;
    vfs::asyncLoad("data/ui/hold.txt", [](const char*, void* data, uint32_t, void*, void*) {
        vfs::releaseFile(data);
        after = true;
    }, nullptr, nullptr);
    release->store(true);
    ASSERT_TRUE(eventually([] { return after.load(); }));
    EXPECT_EQ(0u, record("data/ui/menu/index.html")->refCount);
}

TEST_F(assetSchemeTest, theSchemeIsLocalAndBoundedByTheEngine)
{
    EXPECT_FALSE(handler->ManagesTimeOut());
    EXPECT_FALSE(handler->CanCacheToDisk());
    EXPECT_TRUE(handler->IsLocal());
    EXPECT_TRUE(handler->Init(u"file"));
    EXPECT_TRUE(handler->Shutdown(u"file"));
}

} // namespace
} // namespace tavrix::test
