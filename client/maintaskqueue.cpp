#include "client/maintaskqueue.h"

#include <atomic>
#include <mutex>

#include "client/clientlogger.h"
#include "client/pooltable.h"
#include "platformlib/posix/thread.h"
#include "platformlib/spinlock.h"
#include "platformlib/taskqueue.h"

namespace tavrix::mainTaskQueue {
namespace {

// A static lock, so a late add still finds it after final. An add writes every field: they share one
// cache line.
struct alignas(64) queueState {
    // Held only to link one entry or to detach the list: entries come from the pool before it is taken.
    util::spinlock lock;
    // Adds under way and entries queued, not yet run or dropped. An add counts itself before it looks at
    // the pool, so final, which clears the pool first, waits for every add that may still use it; an empty
    // frame reads 0 and skips the lock.
    std::atomic<int32_t> pending{0};
    // Set by init, cleared by final under the lock.
    std::atomic<Pool<entry>*> pool{nullptr};
    util::taskQueue<entry, util::noLock> queue;
};
queueState state;

void warnDropped() { CLIENT_LOG(util::LOG_WARN, "mainTaskQueue::add(): the queue is not initialized, task dropped\n"); }

} // namespace

void init()
{
    Pool<entry>* pool = makePool<entry>(pools::mainTaskQueueEntry);
    std::lock_guard<util::spinlock> guard(state.lock);
    state.queue.takeAll();
    state.pool.store(pool);
}

void add(mainTask fn, void* data, int32_t a, int32_t b, int32_t c)
{
    state.pending.fetch_add(1);
    Pool<entry>* pool = state.pool.load();
    if (!pool) {
        state.pending.fetch_sub(1);
        warnDropped();
        return;
    }
    entry* queued = pool->get();
    *queued = entry{nullptr, fn, data, a, b, c};
    bool open;
    {
        std::lock_guard<util::spinlock> guard(state.lock);
        open = state.pool.load(std::memory_order_relaxed) != nullptr;
        if (open)
            state.queue.push(queued);
    }
    if (open)
        return;
    // final ran meanwhile; it waits for this add before it deletes the pool.
    pool->put(queued);
    state.pending.fetch_sub(1);
    warnDropped();
}

void run()
{
    if (state.pending.load(std::memory_order_relaxed) == 0)
        return;
    entry* current;
    {
        std::lock_guard<util::spinlock> guard(state.lock);
        current = state.queue.takeAll();
    }
    if (!current)
        return;
    Pool<entry>* pool = state.pool.load(std::memory_order_relaxed);
    // The whole pass goes back to the pool at once, before the count lets final delete it.
    Pool<entry>::gathered ran;
    int32_t count = 0;
    while (current) {
        entry* next = current->next;
        current->fn(current->data, current->a, current->b, current->c);
        pool->gather(ran, current);
        current = next;
        ++count;
    }
    pool->putGathered(ran);
    state.pending.fetch_sub(count);
}

void final()
{
    Pool<entry>* pool;
    entry* dropped;
    {
        std::lock_guard<util::spinlock> guard(state.lock);
        pool = state.pool.exchange(nullptr);
        dropped = state.queue.takeAll();
    }
    if (!pool)
        return;
    while (dropped) {
        entry* next = dropped->next;
        pool->put(dropped);
        state.pending.fetch_sub(1);
        dropped = next;
    }
    while (state.pending.load() != 0)
        sys::yield();
    delete pool;
}

} // namespace tavrix::mainTaskQueue
