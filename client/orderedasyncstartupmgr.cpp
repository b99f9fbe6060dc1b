#include "client/orderedasyncstartupmgr.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "client/clientlogger.h"
#include "client/windowing.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/hooks.h"
#include "platformlib/posix/thread.h"
#include "platformlib/util/workerstop.h"

namespace tavrix::orderedAsyncStartupMgr {
namespace {

// One tracking-allocator block: these fields, then the name's characters with their NUL.
struct entry {
    entry* next;
    char* name;
    startupStep fn;
};

// Never destroyed: a step left running at shutdown may still take the lock while the process ends.
struct startupState {
    util::mutex lock;
    entry* head = nullptr;
    entry* tail = nullptr;
    // The step the executor is running, under the lock.
    entry* current = nullptr;
    util::thread* executor = nullptr;
    std::atomic<bool> stopping{false};
    std::atomic<void (*)()> closeWindow{nullptr};
};
startupState& startup = *new startupState;

// Null when the list is empty or the shutdown has begun.
entry* takeNext()
{
    std::lock_guard<util::mutex> guard(startup.lock);
    entry* next = shuttingDown() ? nullptr : startup.head;
    if (next) {
        startup.head = next->next;
        if (!startup.head)
            startup.tail = nullptr;
    }
    startup.current = next;
    return next;
}

void finishStep(entry* done)
{
    {
        std::lock_guard<util::mutex> guard(startup.lock);
        startup.current = nullptr;
    }
    rofree(done);
}

// The process entry's report for an exception that escaped a step; the window is then asked to close.
void reportFailedStep()
{
    char text[16384 + 1024];
    platform_formatUncaught(text, sizeof(text));
    CLIENT_LOG(util::LOG_ERROR, "%s", text);
    std::fputs(text, stderr);
    if (auto* closeWindow = startup.closeWindow.load())
        closeWindow();
}

void freeList()
{
    std::lock_guard<util::mutex> guard(startup.lock);
    while (entry* dropped = startup.head) {
        startup.head = dropped->next;
        rofree(dropped);
    }
    startup.tail = nullptr;
}

} // namespace

void init()
{
    std::lock_guard<util::mutex> guard(startup.lock);
    startup.executor = nullptr;
    startup.head = nullptr;
    startup.tail = nullptr;
    startup.current = nullptr;
    startup.stopping = false;
}

void setCloseAction(void (*closeWindow)()) { startup.closeWindow = closeWindow; }

void add(const char* name, startupStep fn)
{
    const size_t length = std::strlen(name);
    auto* added = static_cast<entry*>(roalloc(uint32_t(sizeof(entry) + length + 1)));
    added->name = reinterpret_cast<char*>(added + 1);
    std::memcpy(added->name, name, length + 1);
    added->next = nullptr;
    added->fn = fn;
    std::lock_guard<util::mutex> guard(startup.lock);
    if (startup.tail)
        startup.tail->next = added;
    else
        startup.head = added;
    startup.tail = added;
}

void start() { startup.executor = new util::thread("Ordered Async Startup - Executor", worker, nullptr); }

uint32_t worker(util::thread*)
{
    auto* out = getLogger();
    out->logEx(util::LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "Running ordered asynchronous Initializations\n");
    while (entry* step = takeNext()) {
        const int32_t started = getTimeMs();
        try {
            step->fn();
        } catch (...) {
            // The remaining steps stay listed; cleanup frees them.
            reportFailedStep();
            finishStep(step);
            return 1;
        }
        out->logEx(util::LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "Async Initialization of %s took %u ms\n", step->name, uint32_t(msSince(started)));
        finishStep(step);
    }
    if (!shuttingDown())
        out->logEx(util::LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "Ordered asynchronous Initializations Complete\n");
    return 0;
}

bool shuttingDown() { return startup.stopping || client::closeRequested(); }

bool cleanup()
{
    // The steps look at the flag themselves; nothing waits to be woken.
    startup.stopping = true;
    const bool ended = util::stopWorker(nullptr, nullptr, nullptr, startup.executor, CLEANUP_WAIT_MS);
    if (!ended) {
        {
            std::lock_guard<util::mutex> guard(startup.lock);
            CLIENT_LOG(util::LOG_WARN, "orderedAsyncStartupMgr::cleanup(): step %s is still running after %u ms - left behind\n", startup.current ? startup.current->name : "?", CLEANUP_WAIT_MS);
        }
        util::letWorkerGo(startup.executor);
    }
    // A step left behind still owns its entry and walks the list when it returns.
    if (ended)
        freeList();
    return ended;
}

} // namespace tavrix::orderedAsyncStartupMgr
