#include "client/vfshttplib.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "client/clientlogger.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/posix/thread.h"

namespace tavrix::vfsHttpLib {

namespace {

constexpr uint32_t READ_SIZE = 4096;
constexpr uint32_t LENGTH_TEXT_SIZE = 48;
constexpr long CONNECT_TIMEOUT_MS = 10000;
constexpr long MAX_REDIRECTS = 10;
constexpr uint32_t PACING_INTERVAL_MS = 30;
// The longest a transfer waits for its sockets before its bounds are looked at again.
constexpr int POLL_MS = 100;

struct testSeams {
    std::atomic<uint32_t> speedWindowMs{SPEED_WINDOW_MS};
    std::atomic<uint32_t> queryLimitMs{QUERY_LIMIT_MS};
    std::atomic<int32_t (*)()> progressClock{nullptr};
};
testSeams seams;

// Every request has a handle of its own, but their connections are kept in one process-wide cache, as the
// platform's internet library keeps them: the next request to the same server reuses a connection instead
// of opening one.
struct connectionCache {
    CURLSH* share = nullptr;
    util::mutex lock;
};
connectionCache connections;

void lockConnections(CURL*, curl_lock_data, curl_lock_access, void*) { connections.lock.lock(); }

void unlockConnections(CURL*, curl_lock_data, void*) { connections.lock.unlock(); }

uint32_t progressNow()
{
    int32_t (*clock)() = seams.progressClock.load(std::memory_order_relaxed);
    return uint32_t(clock ? clock() : getTimeMs());
}

// One request: what the library's callbacks see of it, and its place among the transfers under way.
struct transfer {
    const char* url;
    CURL* handle = nullptr;
    CURLM* multi = nullptr;
    httpProgressCallback progress;
    uint32_t flags;
    progressPacer pacer;
    transfer* previousActive = nullptr;
    transfer* nextActive = nullptr;
    // Body bytes as they arrive, beyond the announced length too, and the speed window's start.
    uint64_t arrived = 0;
    uint32_t started = 0;
    uint32_t windowStart = 0;
    uint64_t windowStartBytes = 0;
    // The header block of the latest response has ended.
    bool headersDone = false;
    bool hasLength = false;
    char lengthText[LENGTH_TEXT_SIZE] = {};
    // The response has been judged; refused when it had no body to read (and that was logged).
    bool bodyBegun = false;
    bool refused = false;
    roPtr<char> body;
    uint32_t total = 0;
    uint32_t received = 0;
    // Bytes delivered so far to the read in progress, which asks for min(4096, total - received).
    uint32_t pending = 0;
};

// The transfers under way, and whether new ones are refused (from abortTransfers or final until init). The
// lock also keeps final's clean-up from meeting a transfer's set-up or clean-up.
struct transferRegistry {
    std::mutex lock;
    transfer* active = nullptr;
    std::atomic<bool> closing{false};
    // Between init and the final that cleans the library up; under the lock.
    bool setUp = false;
};
transferRegistry registry;

// False when the client is shutting down: the library is not touched then.
bool enlist(transfer& t)
{
    std::lock_guard<std::mutex> guard(registry.lock);
    if (registry.closing)
        return false;
    t.nextActive = registry.active;
    if (registry.active)
        registry.active->previousActive = &t;
    registry.active = &t;
    t.handle = curl_easy_init();
    t.multi = curl_multi_init();
    return true;
}

void discharge(transfer& t)
{
    std::lock_guard<std::mutex> guard(registry.lock);
    if (t.multi && t.handle)
        curl_multi_remove_handle(t.multi, t.handle);
    if (t.handle)
        curl_easy_cleanup(t.handle);
    if (t.multi)
        curl_multi_cleanup(t.multi);
    if (t.previousActive)
        t.previousActive->nextActive = t.nextActive;
    else
        registry.active = t.nextActive;
    if (t.nextActive)
        t.nextActive->previousActive = t.previousActive;
}

void logShutdownAbort(const char* url)
{
    CLIENT_LOG(util::LOG_WARN, "httpGET() -> '%s' aborted, the client is shutting down\n", url);
}

// Under the registry's lock.
void wakeAllClosing()
{
    registry.closing = true;
    for (transfer* t = registry.active; t; t = t->nextActive)
        if (t->multi)
            curl_multi_wakeup(t->multi);
}

bool startsWithNoCase(const char* text, size_t length, const char* prefix)
{
    const size_t n = std::strlen(prefix);
    if (length < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

size_t onHeader(char* line, size_t size, size_t count, void* user)
{
    transfer& t = *static_cast<transfer*>(user);
    const size_t length = size * count;
    if (startsWithNoCase(line, length, "HTTP/")) {
        // A new response (after an interim one or a redirect) brings its own headers.
        t.headersDone = false;
        t.hasLength = false;
    } else if (t.headersDone) {
        return length;
    } else if ((length == 2 && line[0] == '\r') || (length == 1 && line[0] == '\n')) {
        t.headersDone = true;
    } else if (startsWithNoCase(line, length, "Content-Length:")) {
        size_t at = std::strlen("Content-Length:");
        while (at < length && (line[at] == ' ' || line[at] == '\t'))
            ++at;
        size_t end = at;
        while (end < length && line[end] != '\r' && line[end] != '\n')
            ++end;
        const size_t kept = std::min<size_t>(end - at, LENGTH_TEXT_SIZE - 1);
        std::memcpy(t.lengthText, line + at, kept);
        t.lengthText[kept] = '\0';
        t.hasLength = true;
    }
    return length;
}

// The leading decimal number of the header's text. False when there is none or it is above the bound:
// the length sizes the allocation, so it is never trusted further than that.
bool parseContentLength(const char* text, uint32_t& total)
{
    if (*text < '0' || *text > '9')
        return false;
    uint64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + uint64_t(*text - '0');
        if (value > MAX_CONTENT_LENGTH)
            return false;
    }
    total = uint32_t(value);
    return true;
}

// Whether the final response has a body to read: its status and length. Logs why not.
bool acceptResponse(transfer& t)
{
    long status = 0;
    if (curl_easy_getinfo(t.handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
        CLIENT_LOG(util::LOG_ERROR, "httpGET() -> failed to retrieve HTTP-Status Code of '%s'\n", t.url);
        return false;
    }
    if (uint32_t(status) < 200 || uint32_t(status) > 299) {
        CLIENT_LOG(util::LOG_ERROR, "httpGet() -> Request for '%s' unsucessful - Error %u\n", t.url, uint32_t(status));
        return false;
    }
    if (!t.hasLength || !parseContentLength(t.lengthText, t.total)) {
        CLIENT_LOG(util::LOG_ERROR, "httpGET() -> failed to receive the content-length of '%s'\n", t.url);
        return false;
    }
    if (t.total == 0 && !(t.flags & EMPTY_BODY_VALID)) {
        CLIENT_LOG(util::LOG_ERROR, "httpGET() -> executed code, that's impossible to reach!\n");
        return false;
    }
    return true;
}

// Runs once, when the first body bytes arrive or, for a response without any, after the transfer.
bool beginBody(transfer& t)
{
    t.bodyBegun = true;
    t.refused = !acceptResponse(t);
    if (!t.refused)
        t.body.reset(static_cast<char*>(roalloc(t.total + 1)));
    return !t.refused;
}

void completeRead(transfer& t)
{
    t.received += t.pending;
    t.pending = 0;
    if (t.progress && paceProgress(t.pacer, progressNow(), t.received))
        t.progress(t.received, t.total, t.pacer.rate);
}

// libcurl hands over whatever has arrived; it is gathered into reads of min(4096, total - received) bytes,
// and progress is judged after each whole read.
size_t onBody(char* data, size_t size, size_t count, void* user)
{
    transfer& t = *static_cast<transfer*>(user);
    const size_t length = size * count;
    t.arrived += length;
    if (!t.bodyBegun)
        beginBody(t);
    if (t.refused)
        return 0;
    size_t left = length;
    while (left > 0 && t.received < t.total) {
        const uint32_t wanted = std::min(READ_SIZE, t.total - t.received);
        const uint32_t taken = uint32_t(std::min<size_t>(wanted - t.pending, left));
        std::memcpy(t.body.get() + t.received + t.pending, data, taken);
        t.pending += taken;
        data += taken;
        left -= taken;
        if (t.pending == wanted)
            completeRead(t);
    }
    // Whatever follows the announced length is dropped: the body is cut there.
    return length;
}

bool configure(transfer& t, char* errorText)
{
    if (!t.handle || !t.multi) {
        CLIENT_LOG(util::LOG_ERROR, "httpGET() -> InternetOpen failed! (err: %u)\n", uint32_t(CURLE_FAILED_INIT));
        return false;
    }
    CURL* h = t.handle;
    const CURLcode results[] = {
        curl_easy_setopt(h, CURLOPT_URL, t.url),
        curl_easy_setopt(h, CURLOPT_USERAGENT, "tavrixVFS/1.0"),
        curl_easy_setopt(h, CURLOPT_PROXY, ""),
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https"),
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"),
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L),
        curl_easy_setopt(h, CURLOPT_MAXREDIRS, MAX_REDIRECTS),
        // Worker threads call this: no signals for name look-up time-outs.
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L),
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, CONNECT_TIMEOUT_MS),
        // The bytes as served: checksums are over them.
        curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 0L),
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText),
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, onHeader),
        curl_easy_setopt(h, CURLOPT_HEADERDATA, &t),
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody),
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &t),
        curl_easy_setopt(h, CURLOPT_SHARE, connections.share),
    };
    for (CURLcode result : results) {
        if (result != CURLE_OK) {
            CLIENT_LOG(util::LOG_ERROR, "httpGET() -> InternetOpen failed! (err: %u)\n", uint32_t(result));
            return false;
        }
    }
    return true;
}

// Why the transfer is to be given up now, with the code it ends with, or null: the client shuts down, a
// small query ran out of time, or the last window brought too few bytes. Logged.
const char* boundBroken(transfer& t, CURLcode& code)
{
    const uint32_t now = uint32_t(getTimeMs());
    if (registry.closing) {
        logShutdownAbort(t.url);
        code = CURLE_ABORTED_BY_CALLBACK;
        return "aborted, the client is shutting down";
    }
    code = CURLE_OPERATION_TIMEDOUT;
    const uint32_t queryLimit = seams.queryLimitMs.load(std::memory_order_relaxed);
    if ((t.flags & SMALL_QUERY) && now - t.started >= queryLimit) {
        CLIENT_LOG(util::LOG_WARN, "httpGET() -> '%s' took longer than %u ms - aborted\n", t.url, queryLimit);
        return "the query took too long";
    }
    const uint32_t elapsed = now - t.windowStart;
    if (elapsed < seams.speedWindowMs.load(std::memory_order_relaxed))
        return nullptr;
    const uint64_t bytes = t.arrived - t.windowStartBytes;
    if (bytes * 1000 < uint64_t(MIN_AVERAGE_SPEED) * elapsed) {
        CLIENT_LOG(util::LOG_WARN, "httpGET() -> '%s' received %u Bytes in %u ms, less than %u Bytes/sec - aborted\n", t.url, uint32_t(bytes), elapsed, MIN_AVERAGE_SPEED);
        return "the transfer was too slow";
    }
    t.windowStart = now;
    t.windowStartBytes = t.arrived;
    return nullptr;
}

// Runs the transfer until it ends or a bound is broken; its result, with the reason in errorText when a
// bound ended it.
CURLcode perform(transfer& t, char* errorText)
{
    t.started = t.windowStart = uint32_t(getTimeMs());
    t.pacer.started = progressNow();
    if (curl_multi_add_handle(t.multi, t.handle) != CURLM_OK)
        return CURLE_FAILED_INIT;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(t.multi, &running) != CURLM_OK)
            return CURLE_FAILED_INIT;
        if (running == 0)
            break;
        CURLcode code;
        if (const char* reason = boundBroken(t, code)) {
            std::snprintf(errorText, CURL_ERROR_SIZE, "%s", reason);
            return code;
        }
        if (curl_multi_poll(t.multi, nullptr, 0, POLL_MS, nullptr) != CURLM_OK)
            return CURLE_FAILED_INIT;
    }
    CURLcode result = CURLE_FAILED_INIT;
    int queued = 0;
    while (const CURLMsg* message = curl_multi_info_read(t.multi, &queued))
        if (message->msg == CURLMSG_DONE)
            result = message->data.result;
    return result;
}

// Whether the transfer failed while following a redirect: the last response it saw is one. Its headers
// then say nothing of why the request failed.
bool failedOnRedirect(transfer& t, CURLcode result)
{
    long status = 0;
    return result != CURLE_OK && curl_easy_getinfo(t.handle, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
           status >= 300 && status <= 399;
}

// The body once the transfer has ended, or null. The end counts as the read that returns 0 bytes.
roPtr<char> finish(transfer& t, CURLcode result, const char* errorText)
{
    if (t.refused)
        return nullptr;
    if (!t.bodyBegun) {
        if (!t.headersDone || failedOnRedirect(t, result)) {
            char info[256];
            std::snprintf(info, sizeof(info), "%s", errorText[0] ? errorText : curl_easy_strerror(result));
            CLIENT_LOG(util::LOG_ERROR, "httpGET() -> failed to get '%s' returned %u (%s)\n", t.url, uint32_t(result), info);
            return nullptr;
        }
        if (!beginBody(t))
            return nullptr;
    }
    if (t.pending > 0)
        completeRead(t);
    if (t.received != t.total) {
        CLIENT_LOG(util::LOG_ERROR, "httpGET() -> broken pipe after %u bytes while reading '%s'\n", t.received, t.url);
        return nullptr;
    }
    t.body.get()[t.received] = '\0';
    return std::move(t.body);
}

} // namespace

uint32_t averageRate(uint64_t bytes, uint32_t elapsedMs)
{
    const uint64_t rate = bytes * 1000 / std::max<uint32_t>(elapsedMs, 1);
    return uint32_t(std::min<uint64_t>(rate, UINT32_MAX));
}

bool paceProgress(progressPacer& pacer, uint32_t now, uint32_t received)
{
    if (now - pacer.lastCall <= PACING_INTERVAL_MS)
        return false;
    pacer.lastCall = now;
    pacer.rate = averageRate(received, now - pacer.started);
    return true;
}

roPtr<char> httpGET(const char* url, uint32_t* size, httpProgressCallback progress, uint32_t flags)
{
    *size = 0;
    transfer t;
    t.url = url;
    t.progress = progress;
    t.flags = flags;
    if (!enlist(t)) {
        logShutdownAbort(url);
        return nullptr;
    }
    char errorText[CURL_ERROR_SIZE] = {};
    roPtr<char> body;
    if (configure(t, errorText))
        body = finish(t, perform(t, errorText), errorText);
    discharge(t);
    if (body)
        *size = t.received;
    return body;
}

void init()
{
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.closing = false;
    // A final under a transfer left the library and its cache set up.
    if (registry.setUp)
        return;
    registry.setUp = true;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURLSH* share = curl_share_init();
    if (share && (curl_share_setopt(share, CURLSHOPT_LOCKFUNC, lockConnections) != CURLSHE_OK ||
                  curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, unlockConnections) != CURLSHE_OK ||
                  curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT) != CURLSHE_OK)) {
        curl_share_cleanup(share);
        share = nullptr;
    }
    connections.share = share;
}

// A transfer still under way keeps the library and the connection cache: they are then left to the
// process's end.
void final()
{
    std::lock_guard<std::mutex> guard(registry.lock);
    wakeAllClosing();
    if (registry.active) {
        CLIENT_LOG(util::LOG_WARN, "vfsHttpLib::final() -> a transfer is still under way, the HTTP library stays set up\n");
        return;
    }
    if (!registry.setUp)
        return;
    if (connections.share && curl_share_cleanup(connections.share) == CURLSHE_OK)
        connections.share = nullptr;
    curl_global_cleanup();
    registry.setUp = false;
}

void abortTransfers()
{
    std::lock_guard<std::mutex> guard(registry.lock);
    wakeAllClosing();
}

void setTransferBounds(uint32_t speedWindowMs, uint32_t queryLimitMs)
{
    seams.speedWindowMs.store(speedWindowMs, std::memory_order_relaxed);
    seams.queryLimitMs.store(queryLimitMs, std::memory_order_relaxed);
}

void setProgressClock(int32_t (*clock)()) { seams.progressClock.store(clock, std::memory_order_relaxed); }

} // namespace tavrix::vfsHttpLib
