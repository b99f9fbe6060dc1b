#include "client/maintaskqueue.h"

#include <atomic>
#include <mutex>

#include "client/clientlogger.h"
#include "client/pooltable.h"
#include "platformlib/spinlock.h"
#include "platformlib/taskqueue.h"

namespace tavrix::mainTaskQueue {
namespace {

// A static lock, so a late add still finds it after final.
struct queueState {
    // Guards the queue and the pool pointer: an add takes its entry under it, so final cannot delete the
    // pool under an add.
    util::spinlock lock;
    util::taskQueue<entry, util::noLock> queue;
    Pool<entry>* pool = nullptr;
    // Queued and not yet taken by a frame: lets an empty frame skip the lock. Written only under the lock,
    // so a plain store suffices.
    std::atomic<int32_t> pending{0};
};
queueState state;

} // namespace

void init()
{
    Pool<entry>* pool = makePool<entry>(pools::mainTaskQueueEntry);
    std::lock_guard<util::spinlock> guard(state.lock);
    state.queue.takeAll();
    state.pending = 0;
    state.pool = pool;
}

void add(mainTask fn, void* data, int32_t a, int32_t b, int32_t c)
{
    {
        std::lock_guard<util::spinlock> guard(state.lock);
        if (state.pool) {
            entry* queued = state.pool->get();
            *queued = entry{nullptr, fn, data, a, b, c};
            state.queue.push(queued);
            state.pending.store(state.pending.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
            return;
        }
    }
    CLIENT_LOG(util::LOG_WARN, "mainTaskQueue::add(): the queue is not initialized, task dropped\n");
}

void run()
{
    if (state.pending.load(std::memory_order_relaxed) == 0)
        return;
    entry* current;
    {
        std::lock_guard<util::spinlock> guard(state.lock);
        current = state.queue.takeAll();
        state.pending.store(0, std::memory_order_relaxed);
    }
    while (current) {
        entry* next = current->next;
        current->fn(current->data, current->a, current->b, current->c);
        state.pool->put(current);
        current = next;
    }
}

void final()
{
    Pool<entry>* pool;
    entry* dropped;
    {
        std::lock_guard<util::spinlock> guard(state.lock);
        pool = state.pool;
        dropped = state.queue.takeAll();
        state.pool = nullptr;
        state.pending = 0;
    }
    while (dropped) {
        entry* next = dropped->next;
        pool->put(dropped);
        dropped = next;
    }
    delete pool;
}

} // namespace tavrix::mainTaskQueue
