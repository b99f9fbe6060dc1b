#include "client/uivfstransporthandlerassetscheme.h"

#include <cstdio>
#include <cstring>

#include "client/clientlogger.h"
#include "client/pooltable.h"
#include "client/uiembeddeddataprovider.h"
#include "client/vfs.h"
#include "platformlib/posix/thread.h"
#include "platformlib/spinlock.h"
#include "platformlib/util/utf16.h"

namespace tavrix {
namespace {

using jobInfo = uiVFSTransportHandlerAssetScheme::jobInfo;
using loadShare = uiVFSTransportHandlerAssetScheme::loadShare;

constexpr char EMBEDDED_PREFIX[] = "embedded/";
constexpr char UI_PREFIX[] = "ui/";

void jobInit(jobInfo* job)
{
    std::memset(job, 0, sizeof(*job));
    job->lock = new util::spinlock;
}

void jobRelease(jobInfo* job) { delete job->lock; }

jobInfo* jobOf(eawebkit::TransportInfo* info) { return static_cast<jobInfo*>(info->handlerData); }

bool startsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// Nothing will arrive for the job: a stray Transfer answers done with 404 and ShutdownJob returns it at once.
void markFailed(jobInfo* job)
{
    job->failed = 1;
    job->staticData = 1;
    job->data = nullptr;
    job->size = 0;
}

// Gives one use up; the last frees the pool. Returns the uses left.
int32_t releaseUse(loadShare* shared)
{
    const int32_t left = shared->users.fetch_sub(1) - 1;
    if (left == 0) {
        delete shared->pool;
        delete shared;
    }
    return left;
}

} // namespace

uiVFSTransportHandlerAssetScheme::uiVFSTransportHandlerAssetScheme(int32_t pendingLoadsWaitMs_)
    : shared(new loadShare), pendingLoadsWaitMs(pendingLoadsWaitMs_)
{
    shared->pool = makePool<jobInfo>(pools::vfsAssetSchemeJobInfo, jobInit, jobRelease);
    shared->users.store(1);
}

uiVFSTransportHandlerAssetScheme::~uiVFSTransportHandlerAssetScheme()
{
    const int32_t start = getTimeMs();
    while (shared->users.load() > 1 && msSince(start) < pendingLoadsWaitMs)
        sys::sleepMs(1);
    const int32_t pending = releaseUse(shared);
    if (pending > 0)
        CLIENT_LOG(util::LOG_ERROR, "uiVFSTransportHandlerAssetScheme: %d content loads still pending, the last of them frees the job pool\n", pending);
}

bool uiVFSTransportHandlerAssetScheme::Init(const char16_t*) { return true; }

bool uiVFSTransportHandlerAssetScheme::Shutdown(const char16_t*) { return true; }

bool uiVFSTransportHandlerAssetScheme::InitJob(eawebkit::TransportInfo* info, bool& done)
{
    char url[256];
    char scheme[32];
    // A URL cut to its buffer could name another file: one that does not fit is malformed.
    const bool whole = util::utf16ToUtf8(info->effectiveURL, url, sizeof(url));
    util::utf16ToUtf8(info->scheme, scheme, sizeof(scheme));
    const size_t schemeLength = std::strlen(scheme);
    done = true;
    if (!whole || std::strlen(url) < schemeLength + 3 || std::strncmp(url + schemeLength, "://", 3) != 0) {
        CLIENT_LOG(util::LOG_ERROR, "uiVFSTransportHandlerAssetScheme::InitJob() -> Malformed effectiveURL(%s)\n", url);
        return false;
    }
    jobInfo* job = shared->pool->get();
    job->handler = this;
    job->info = info;
    job->size = 0;
    job->data = nullptr;
    job->staticData = 0;
    job->abandoned = 0;
    job->failed = 0;
    std::snprintf(job->path, sizeof(job->path), "%s", url + schemeLength + 3);
    info->handlerData = job;
    return true;
}

bool uiVFSTransportHandlerAssetScheme::Connect(eawebkit::TransportInfo* info, bool& done)
{
    done = true;
    jobInfo* job = jobOf(info);
    if (!job)
        return false;
    bool result = false;
    job->lock->lock();
    if (info->requestType != eawebkit::kRequestGet) {
        markFailed(job);
        job->lock->unlock();
        CLIENT_LOG(util::LOG_ERROR, "uiVFSTransportHandlerAssetScheme::InitJob() Unsupported RequestType(%u) on '%s'\n", uint32_t(info->requestType), job->path);
        return false;
    }
    if (startsWith(job->path, EMBEDDED_PREFIX)) {
        uint32_t size = 0;
        job->data = uiEmbeddedDataProvider::getRessource(job->path + sizeof(EMBEDDED_PREFIX) - 1, &size);
        job->size = int32_t(size);
        job->staticData = 1;
        job->failed = 0;
        result = true;
    } else if (startsWith(job->path, UI_PREFIX)) {
        connectContentFile(job, job->path + sizeof(UI_PREFIX) - 1);
        result = true;
    } else {
        markFailed(job);
    }
    job->lock->unlock();
    return result;
}

void uiVFSTransportHandlerAssetScheme::connectContentFile(jobInfo* job, const char* rest)
{
    char contentPath[sizeof(job->path) + 8];
    std::snprintf(contentPath, sizeof(contentPath), "data/ui/%s", rest);
    job->staticData = 0;
    job->failed = 0;
    // The store's one path check refuses a path that would leave data/ui/ (and one over 127 bytes) as absent.
    if (vfs::fileExists(contentPath)) {
        shared->users.fetch_add(1);
        vfs::asyncLoad(contentPath, onVfsFileRead, shared, job);
        return;
    }
    CLIENT_LOG(util::LOG_ERROR, "uiVFSTransportHandlerAssetScheme: File Not found '%s' [Path: %s]\n", job->path, contentPath);
    markFailed(job);
}

void uiVFSTransportHandlerAssetScheme::onVfsFileRead(const char*, void* data, uint32_t size, void* sharedArg, void* jobArg)
{
    auto* shared = static_cast<loadShare*>(sharedArg);
    auto* job = static_cast<jobInfo*>(jobArg);
    job->lock->lock();
    if (job->abandoned == 1) {
        job->lock->unlock();
        if (data)
            vfs::releaseFile(data);
        shared->pool->put(job);
    } else {
        if (data) {
            job->data = static_cast<const char*>(data);
            job->size = int32_t(size);
        } else {
            markFailed(job);
        }
        job->lock->unlock();
    }
    // The handler may be gone: only the shared part is touched.
    releaseUse(shared);
}

bool uiVFSTransportHandlerAssetScheme::Transfer(eawebkit::TransportInfo* info, bool& done)
{
    bool result = false;
    if (jobInfo* job = jobOf(info)) {
        job->lock->lock();
        if (job->data) {
            info->server->SetExpectedLength(info, job->size);
            info->server->DataReceived(info, job->data, job->size);
            done = true;
            result = job->size != 0;
        } else if (job->failed == 1) {
            done = true;
        }
        job->lock->unlock();
    }
    info->status = result ? 200 : 404;
    if (done)
        info->server->DataDone(info, result);
    return result;
}

bool uiVFSTransportHandlerAssetScheme::Disconnect(eawebkit::TransportInfo*, bool& done)
{
    CLIENT_LOG(util::LOG_DEBUG, "Disconnect\n");
    done = true;
    return true;
}

bool uiVFSTransportHandlerAssetScheme::ShutdownJob(eawebkit::TransportInfo* info, bool& done)
{
    if (jobInfo* job = jobOf(info)) {
        job->lock->lock();
        if (job->data || job->failed == 1) {
            if (job->data && job->staticData != 1)
                vfs::releaseFile(const_cast<char*>(job->data));
            job->data = nullptr;
            job->lock->unlock();
            shared->pool->put(job);
        } else {
            job->abandoned = 1;
            job->lock->unlock();
        }
    }
    info->handlerData = nullptr;
    done = true;
    return true;
}

bool uiVFSTransportHandlerAssetScheme::ManagesTimeOut() { return false; }

bool uiVFSTransportHandlerAssetScheme::CanCacheToDisk() { return false; }

bool uiVFSTransportHandlerAssetScheme::IsLocal() { return true; }

} // namespace tavrix
