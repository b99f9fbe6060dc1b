#pragma once
// The engine's transport for the scheme "file": file://embedded/<name> from the built-in pages and
// file://ui/<path> from the content store under data/ui/.
#include <atomic>
#include <cstdint>

#include "platformlib/allocator/pool.h"
#include "platformlib/allocator/roalloc.h"
#include "webengine/eawebkit.h"

namespace tavrix {

namespace util {
class spinlock;
}

class uiVFSTransportHandlerAssetScheme : public eawebkit::TransportHandler, public roAlloc {
public:
    // One transfer. The lock guards size, data and the three flags between the engine's calls and the
    // content store's load callback.
    struct jobInfo {
        uiVFSTransportHandlerAssetScheme* handler;
        eawebkit::TransportInfo* info;
        util::spinlock* lock;
        int32_t size;
        const char* data;
        uint8_t staticData; // the data is a built-in page, or there is none: never released to the store
        uint8_t abandoned;  // shut down while its load was pending: the load callback returns it
        uint8_t failed;     // missing, refused or failed: nothing will arrive
        char path[257];     // the URL after "://"
    };

    // What a pending load touches when it completes, so that one which outlives the handler's bounded wait
    // finds it still there: the handler and each pending load hold one use, and the last frees the pool.
    struct loadShare : public roAlloc {
        Pool<jobInfo>* pool;
        std::atomic<int32_t> users;
    };

    // The content store's workers finish a pending load in well under the default bound.
    static constexpr int32_t PENDING_LOADS_WAIT_MS = 5000;

    explicit uiVFSTransportHandlerAssetScheme(int32_t pendingLoadsWaitMs = PENDING_LOADS_WAIT_MS);
    // Waits (bounded) for the content loads still pending, whose callbacks use the job pool; past the
    // bound the last of them frees it.
    ~uiVFSTransportHandlerAssetScheme() override;
    uiVFSTransportHandlerAssetScheme(const uiVFSTransportHandlerAssetScheme&) = delete;
    uiVFSTransportHandlerAssetScheme& operator=(const uiVFSTransportHandlerAssetScheme&) = delete;

    bool Init(const char16_t* scheme) override;
    bool Shutdown(const char16_t* scheme) override;
    bool InitJob(eawebkit::TransportInfo* info, bool& done) override;
    bool Connect(eawebkit::TransportInfo* info, bool& done) override;
    bool Transfer(eawebkit::TransportInfo* info, bool& done) override;
    bool Disconnect(eawebkit::TransportInfo* info, bool& done) override;
    bool ShutdownJob(eawebkit::TransportInfo* info, bool& done) override;
    bool ManagesTimeOut() override;
    bool CanCacheToDisk() override;
    bool IsLocal() override;

    // The content store's load callback, on one of its workers.
    static void onVfsFileRead(const char* name, void* data, uint32_t size, void* shared, void* job);

private:
    // Under the job's lock: a file under data/ui/ that exists starts loading, else the job is failed.
    void connectContentFile(jobInfo* job, const char* rest);

    loadShare* shared;
    int32_t pendingLoadsWaitMs;
};

} // namespace tavrix
