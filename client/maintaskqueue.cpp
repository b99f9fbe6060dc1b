#include "client/maintaskqueue.h"

#include <atomic>
#include <mutex>

#include "client/clientlogger.h"
#include "client/cvar.h"
#include "platformlib/allocator/pool.h"
#include "platformlib/allocator/pooltable.h"
#include "platformlib/spinlock.h"

namespace tavrix::mainTaskQueue {
namespace {

// A static lock, so a late add still finds it after final.
struct queueState {
    // Guards the list and the pool pointer: an add takes its entry under it, so final cannot delete the
    // pool under an add.
    util::spinlock lock;
    entry* head = nullptr;
    entry* tail = nullptr;
    Pool<entry>* pool = nullptr;
    // Queued and not yet taken by a frame: lets an empty frame skip the lock. Written only under the lock,
    // so a plain store suffices.
    std::atomic<int32_t> pending{0};
};
queueState queue;

} // namespace

void init()
{
    const poolSettings& settings = pools::mainTaskQueueEntry;
    cvar::initialize(settings.allocStepKey, int(settings.allocStep), 1);
    cvar::initialize(settings.initialAllocKey, int(settings.initialAlloc), 1);
    const uint32_t allocStep = uint32_t(cvar::getI32(settings.allocStepKey));
    const uint32_t initialAlloc = uint32_t(cvar::getI32(settings.initialAllocKey));
    auto* pool = new Pool<entry>(settings.name, allocStep, initialAlloc, settings.largePages);
    std::lock_guard<util::spinlock> guard(queue.lock);
    queue.head = nullptr;
    queue.tail = nullptr;
    queue.pending = 0;
    queue.pool = pool;
}

void add(mainTask fn, void* data, int32_t a, int32_t b, int32_t c)
{
    {
        std::lock_guard<util::spinlock> guard(queue.lock);
        if (queue.pool) {
            entry* queued = queue.pool->get();
            *queued = entry{nullptr, fn, data, a, b, c};
            if (queue.tail)
                queue.tail->next = queued;
            else
                queue.head = queued;
            queue.tail = queued;
            queue.pending.store(queue.pending.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
            return;
        }
    }
    CLIENT_LOG(util::LOG_WARN, "mainTaskQueue::add(): the queue is not initialized, task dropped\n");
}

void run()
{
    if (queue.pending.load(std::memory_order_relaxed) == 0)
        return;
    entry* current;
    {
        std::lock_guard<util::spinlock> guard(queue.lock);
        current = queue.head;
        queue.head = nullptr;
        queue.tail = nullptr;
        queue.pending.store(0, std::memory_order_relaxed);
    }
    while (current) {
        entry* next = current->next;
        current->fn(current->data, current->a, current->b, current->c);
        queue.pool->put(current);
        current = next;
    }
}

void final()
{
    Pool<entry>* pool;
    entry* dropped;
    {
        std::lock_guard<util::spinlock> guard(queue.lock);
        pool = queue.pool;
        dropped = queue.head;
        queue.pool = nullptr;
        queue.head = nullptr;
        queue.tail = nullptr;
        queue.pending = 0;
    }
    while (dropped) {
        entry* next = dropped->next;
        pool->put(dropped);
        dropped = next;
    }
    delete pool;
}

} // namespace tavrix::mainTaskQueue
