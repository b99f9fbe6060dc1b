#pragma once
// A worker's first-in-first-out queue of task records, linked through the records' own `next` field: any
// thread pushes, the module's workers take, and an idle worker waits for the next push.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "platformlib/posix/thread.h"

namespace tavrix::util {

// For a queue that its module only touches under a lock of its own, and that no worker waits on.
struct noLock {
    void lock() {}
    void unlock() {}
};

// A condition-variable signal with no waiter is lost. So a worker looks at the queue and starts its wait
// under the wait lock, and a push that may find a worker there signals under the same lock: no push can
// fall between a worker's last look and its wait. A worker that is not waiting needs no signal, since it
// takes every record before it waits again.
template <class T, class Lock = mutex>
class taskQueue {
public:
    taskQueue() = default;
    taskQueue(const taskQueue&) = delete;
    taskQueue& operator=(const taskQueue&) = delete;

    // Appends the record and wakes one waiting worker.
    void push(T* record)
    {
        {
            std::lock_guard<Lock> guard(queueLock);
            append(record);
        }
        wakeOne();
    }

    // The oldest record, or null.
    T* take()
    {
        std::lock_guard<Lock> guard(queueLock);
        T* record = head;
        if (record) {
            head = record->next;
            if (!head)
                tail = nullptr;
        }
        return record;
    }

    // Every record, oldest first and linked as they were; the queue is left empty.
    T* takeAll()
    {
        std::lock_guard<Lock> guard(queueLock);
        T* records = head;
        head = nullptr;
        tail = nullptr;
        return records;
    }

    bool empty()
    {
        std::lock_guard<Lock> guard(queueLock);
        return head == nullptr;
    }

    // Returns at once while the queue holds a record or `running` is false; otherwise waits at most
    // `milliseconds` for a push or wakeAll.
    void waitWhileEmpty(const std::atomic<bool>& running, uint32_t milliseconds)
    {
        std::lock_guard<mutex> guard(waitLock);
        waiting.fetch_add(1);
        if (empty() && running.load())
            wake.wait(waitLock, milliseconds);
        waiting.fetch_sub(1);
    }

    // Wakes every waiting worker: after the running flag was cleared, so each sees it.
    void wakeAll()
    {
        std::lock_guard<mutex> guard(waitLock);
        wake.broadcast();
    }

private:
    // Under the queue lock.
    void append(T* record)
    {
        record->next = nullptr;
        if (tail)
            tail->next = record;
        else
            head = record;
        tail = record;
    }

    void wakeOne()
    {
        if (waiting.load() == 0)
            return;
        std::lock_guard<mutex> guard(waitLock);
        wake.signal();
    }

    Lock queueLock;
    T* head = nullptr;
    T* tail = nullptr;
    mutex waitLock;
    condVar wake;
    // Workers inside waitWhileEmpty; changed under the wait lock.
    std::atomic<int32_t> waiting{0};
};

} // namespace tavrix::util
