#include "client/timer.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "client/clientlogger.h"
#include "client/cvar.h"
#include "client/pooltable.h"
#include "platformlib/allocator/pool.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/posix/plainthread.h"
#include "platformlib/posix/thread.h"
#include "platformlib/util/exception.h"

namespace {

struct TimerListEntry {
    TimerListEntry* next;
    TimerListEntry* prev;
    // Given once when the pool creates the node and kept through every reuse.
    uint32_t id;
    uint8_t cancelled;
    int32_t due;
    int32_t period;
    timerCallback callback;
    void* user1;
    void* user2;
};

constexpr uint32_t INDEX_SLOTS = 4096;
constexpr uint32_t IDLE_WAIT_MS = 30000;
constexpr uint32_t MAX_WORKERS = 16;
// What timer_stop gives each worker to leave the callback it may be in.
constexpr uint32_t STOP_JOIN_MS = 2000;
constexpr const char* WORKER_NUM_KEY = "timer.worker.num";

// The locks outlive the system, so a late caller finds them even while it is down.
struct timerState {
    std::atomic<bool> initialised{false};
    // The list lock guards everything below it: the list, the due index, the id table (its slots and its
    // growth) and the running flag. Workers test the list and start their wait under it, so no wake-up
    // sent after their look can be missed.
    tavrix::util::mutex listLock;
    tavrix::util::condVar wake;
    std::atomic<bool> running{false};
    TimerListEntry* head = nullptr;
    TimerListEntry* tail = nullptr;
    // Slot s points at a listed entry whose due is s modulo 4096, or is null: where an insertion starts.
    TimerListEntry* index[INDEX_SLOTS] = {};
    // Slot id points at the entry while it is listed or firing.
    TimerListEntry** idTable = nullptr;
    std::atomic<uint32_t> idCount{0};

    Pool<TimerListEntry>* pool = nullptr;
    ClientTimerSystem* system = nullptr;
    tavrix::sys::plainThread* workers[MAX_WORKERS] = {};
    uint32_t workerCount = 0;
};
// Never destroyed: a process that ends through exit() while workers wait on the condition variable would
// block in its destruction.
timerState& state = *new timerState;

uint32_t indexSlot(int32_t due) { return uint32_t(due) % INDEX_SLOTS; }

// Pool callback: ids 0, 1, 2, ... in the order the pool creates nodes.
void timer_initEntry(TimerListEntry* entry)
{
    entry->id = state.idCount.fetch_add(1);
    entry->next = nullptr;
    entry->prev = nullptr;
    entry->cancelled = 1;
}

// Pool callback, before the nodes of a new segment exist: room for an id per node of the new total. It
// runs under the pool's growth lock and takes the list lock, so nothing takes an entry from the pool while
// holding the list lock.
void timer_growIdTable(uint32_t newTotal)
{
    if (newTotal > UINT32_MAX / sizeof(TimerListEntry*))
        TAVRIX_FATAL("timer_growIdTable(): %u timer ids do not fit the id table\n", newTotal);
    const uint32_t bytes = newTotal * uint32_t(sizeof(TimerListEntry*));
    std::lock_guard<tavrix::util::mutex> guard(state.listLock);
    void* grown = state.idTable ? rorealloc(state.idTable, bytes) : roalloc(bytes);
    state.idTable = static_cast<TimerListEntry**>(grown);
    for (uint32_t id = state.idCount.load(); id < newTotal; ++id)
        state.idTable[id] = nullptr;
}

int64_t dueDistance(const TimerListEntry* from, int32_t due) { return std::llabs(int64_t(from->due) - due); }

// Where an insertion starts its walk. The index slot is a sure hit only for an equal due: an entry of
// another due in the slot lies a multiple of 4096 ms away, and the walk from it would cross every timer in
// between. Otherwise the nearest of the slot's entry, the head and the tail.
TimerListEntry* timer_walkStart(int32_t due)
{
    TimerListEntry* best = state.index[indexSlot(due)];
    if (best && best->due == due)
        return best;
    for (TimerListEntry* candidate : {state.head, state.tail})
        if (candidate && (!best || dueDistance(candidate, due) < dueDistance(best, due)))
            best = candidate;
    return best;
}

// Under the list lock. An entry goes behind every entry with the same or an earlier due, so equal due
// times run in the order of insertion.
void timer_listInsert(TimerListEntry* entry)
{
    TimerListEntry* at = timer_walkStart(entry->due);
    if (!at) {
        entry->next = nullptr;
        entry->prev = nullptr;
        state.head = entry;
    } else if (at->due <= entry->due) {
        while (at->next && at->next->due <= entry->due)
            at = at->next;
        entry->prev = at;
        entry->next = at->next;
        if (at->next)
            at->next->prev = entry;
        at->next = entry;
    } else {
        while (at->prev && at->prev->due > entry->due)
            at = at->prev;
        entry->next = at;
        entry->prev = at->prev;
        if (at->prev)
            at->prev->next = entry;
        else
            state.head = entry;
        at->prev = entry;
    }
    if (!entry->next)
        state.tail = entry;
    state.idTable[entry->id] = entry;
    // The latest insertion of a due is the last of its equal run: the next one with that due links
    // right behind it.
    state.index[indexSlot(entry->due)] = entry;
}

// Under the list lock, with a non-empty list. The id slot stays: a firing timer can still be deleted.
TimerListEntry* timer_listUnlink()
{
    TimerListEntry* entry = state.head;
    const uint32_t slot = indexSlot(entry->due);
    if (state.index[slot] == entry)
        state.index[slot] = nullptr;
    state.head = entry->next;
    if (state.head)
        state.head->prev = nullptr;
    else
        state.tail = nullptr;
    entry->next = nullptr;
    return entry;
}

// Inserts under the list lock; idle workers only need waking when the new entry is the earliest.
void timer_listInsertAndWake(TimerListEntry* entry)
{
    state.listLock.lock();
    timer_listInsert(entry);
    const bool earliest = state.head == entry;
    state.listLock.unlock();
    if (earliest)
        state.wake.broadcast();
}

// With no lock held, so the callback may add and delete timers. A periodic timer re-arms from its
// previous due, so a late one catches up at once; a deleted one is never re-armed.
void timer_fire(TimerListEntry* entry)
{
    const bool stop = entry->callback(int32_t(entry->id), entry->user1, entry->user2);
    state.listLock.lock();
    const bool done = stop || entry->period < 0 || entry->cancelled;
    bool earliest = false;
    if (done) {
        state.idTable[entry->id] = nullptr;
    } else {
        entry->due = int32_t(uint32_t(entry->due) + uint32_t(entry->period));
        timer_listInsert(entry);
        earliest = state.head == entry;
    }
    state.listLock.unlock();
    if (done)
        state.pool->put(entry);
    else if (earliest)
        state.wake.broadcast();
}

void timer_worker(void*)
{
    state.listLock.lock();
    while (state.running) {
        const int32_t now = tavrix::getTimeMs();
        TimerListEntry* head = state.head;
        if (!head) {
            state.wake.wait(state.listLock, IDLE_WAIT_MS);
            continue;
        }
        if (head->due > now) {
            state.wake.waitUntil(state.listLock, head->due);
            continue;
        }
        TimerListEntry* entry = timer_listUnlink();
        const bool cancelled = entry->cancelled;
        if (cancelled)
            state.idTable[entry->id] = nullptr;
        state.listLock.unlock();
        if (cancelled)
            state.pool->put(entry);
        else
            timer_fire(entry);
        state.listLock.lock();
    }
    state.listLock.unlock();
}

// The workers leave their loop once they look at the flag; idle ones are woken for it.
void timer_endWorkers()
{
    state.listLock.lock();
    state.running = false;
    state.listLock.unlock();
    state.wake.broadcast();
}

uint32_t timer_workerCount()
{
    tavrix::cvar::initialize(WORKER_NUM_KEY, 2, 1);
    const uint32_t wanted = uint32_t(tavrix::cvar::getI32(WORKER_NUM_KEY));
    if (wanted > MAX_WORKERS)
        return MAX_WORKERS;
    return wanted == 0 ? 1 : wanted;
}

} // namespace

void timer_init()
{
    state.idCount = 0;
    state.idTable = nullptr;
    // The pool needs an installed timer system.
    state.system = new ClientTimerSystem;
    platform_setTimerSystem(state.system);
    state.pool = tavrix::makePool<TimerListEntry>(tavrix::pools::timerListEntry, timer_initEntry, nullptr, timer_growIdTable);
    state.head = nullptr;
    state.tail = nullptr;
    for (TimerListEntry*& slot : state.index)
        slot = nullptr;

    state.workerCount = timer_workerCount();
    state.running = true;
    for (uint32_t i = 0; i < state.workerCount; ++i) {
        uint32_t error = 0;
        state.workers[i] = tavrix::sys::startPlainThread(timer_worker, nullptr, &error);
        if (!state.workers[i]) {
            CLIENT_LOG(tavrix::util::LOG_ERROR, "timer_init() -> cannot spawn worker thread! (createThread failed err: %u)\n", error);
            platform_flushAndExit(1);
        }
    }
    CLIENT_LOG(tavrix::util::LOG_INFO, "Timer System Initialized (Worker: %u)\n", state.workerCount);
    state.initialised = true;
}

void timer_final()
{
    if (!state.initialised)
        return;
    // Nothing may reach the deleted object through the platform.
    platform_setTimerSystem(nullptr);
    delete state.system;
    state.system = nullptr;

    timer_endWorkers();
    for (uint32_t i = 0; i < state.workerCount; ++i) {
        if (state.workers[i])
            tavrix::sys::joinPlainThread(state.workers[i]);
        state.workers[i] = nullptr;
    }
    state.workerCount = 0;

    state.listLock.lock();
    while (state.head) {
        TimerListEntry* entry = timer_listUnlink();
        state.pool->put(entry);
    }
    delete state.pool;
    state.pool = nullptr;
    rofree(state.idTable);
    state.idTable = nullptr;
    state.idCount = 0;
    state.initialised = false;
    state.listLock.unlock();
}

bool timer_stop()
{
    if (!state.initialised)
        return true;
    timer_endWorkers();
    bool ended = true;
    for (uint32_t i = 0; i < state.workerCount; ++i) {
        if (state.workers[i] && tavrix::sys::joinPlainThread(state.workers[i], STOP_JOIN_MS))
            state.workers[i] = nullptr;
        ended = ended && !state.workers[i];
    }
    return ended;
}

int32_t timer_add(int32_t due, int32_t period, timerCallback callback, void* user1, void* user2)
{
    if (!state.initialised)
        TAVRIX_FATAL("timer_add(): the timer system is not initialized\n");
    TimerListEntry* entry = state.pool->get();
    entry->due = due;
    entry->period = period;
    entry->callback = callback;
    entry->user1 = user1;
    entry->user2 = user2;
    entry->cancelled = 0;
    timer_listInsertAndWake(entry);
    return int32_t(entry->id);
}

int32_t timer_addOnce(int32_t due, timerCallback callback, void* user1, void* user2)
{
    return timer_add(due, -1, callback, user1, user2);
}

void timer_del(int32_t id)
{
    std::unique_lock<tavrix::util::mutex> guard(state.listLock);
    const uint32_t count = state.idCount.load();
    if (id < 0 || uint32_t(id) >= count) {
        guard.unlock();
        CLIENT_LOG(tavrix::util::LOG_ERROR, "timer_del(%d): invalid ID! must be within 0 and %u\n", id, count);
        platform_flushAndExit(1);
    }
    if (TimerListEntry* entry = state.idTable[id])
        entry->cancelled = 1;
}

void timer_getStats(int32_t* total, int32_t* free, int32_t* peak)
{
    std::lock_guard<tavrix::util::mutex> guard(state.listLock);
    if (!state.initialised) {
        *total = 0;
        *free = 0;
        *peak = 0;
        return;
    }
    state.pool->getStats(*total, *free, *peak);
}

int32_t ClientTimerSystem::timer_add(int32_t, callback, void*, void*)
{
    TAVRIX_FATAL("@TODO\n");
}

int32_t ClientTimerSystem::add(int32_t due, int32_t period, callback cb, void* user1, void* user2)
{
    return ::timer_add(due, period, cb, user1, user2);
}

void ClientTimerSystem::del(int32_t id) { ::timer_del(id); }
