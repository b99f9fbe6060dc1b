#pragma once
// Named threads, the re-entrant mutex, the condition variable and the two millisecond clocks.
#include <atomic>
#include <cstdint>

namespace tavrix::util {

class thread;
typedef uint32_t (*threadEntry)(thread* self);

enum threadPriority : uint32_t {
    PRIORITY_IDLE = 0,
    PRIORITY_BELOW_NORMAL = 1,
    PRIORITY_NORMAL = 2,
    PRIORITY_ABOVE_NORMAL = 3,
    PRIORITY_TIME_CRITICAL = 4,
};

// Result codes of a bounded join.
constexpr uint32_t JOIN_ENDED = 0;
constexpr uint32_t JOIN_TIMEOUT = 258;

class thread {
public:
    thread(const char* name, threadEntry entry, void* argument);
    ~thread();
    thread(const thread&) = delete;
    thread& operator=(const thread&) = delete;

    uint32_t setPriority(uint32_t value);
    uint32_t join(uint32_t milliseconds);
    void kill();
    void* getArg() const { return argument; }
    const char* getName() const { return name; }
    bool isRunning() const;

private:
    struct osThread;
    static void* threadMain(void* control);
    // 0, or the system's error code.
    int applyPriority(uint32_t known);
    void release();

    osThread* handle;
    threadEntry entry;
    void* argument;
    std::atomic<int32_t> running;
    uint8_t priorityBoostDisabled;
    uint32_t priority;
    char* name;
};

// Re-entrant for its owning thread.
class mutex {
public:
    mutex();
    ~mutex();
    mutex(const mutex&) = delete;
    mutex& operator=(const mutex&) = delete;

    void lock();
    bool tryLock();
    void unlock();

private:
    friend class condVar;
    struct osMutex;
    alignas(16) unsigned char storage[64];
    osMutex* native();
};

// A signal with no waiter is lost: waiters re-check their condition and wait with a time-out.
class condVar {
public:
    condVar();
    ~condVar();
    condVar(const condVar&) = delete;
    condVar& operator=(const condVar&) = delete;

    void wait(mutex& held, uint32_t milliseconds);
    // As wait, up to the instant the millisecond clock (getTimeMs) reaches clockMs: a wait of whole
    // milliseconds from a reading taken part way through one would end that part late.
    void waitUntil(mutex& held, int32_t clockMs);
    void signal();
    void broadcast();

private:
    void waitUntilNs(mutex& held, int64_t monotonicNs);
    struct osEvents;
    osEvents* events;
};

} // namespace tavrix::util

namespace tavrix::sys {
void sleepMs(uint32_t milliseconds);
// Gives the rest of the time slice to another ready thread.
void yield();
} // namespace tavrix::sys

namespace tavrix {
// Milliseconds since the windowing library started (one monotonic clock; see clockStart).
int32_t getTimeMs();
// Milliseconds from a reading of getTimeMs until now, by wrapping difference: right across the clock's
// wrap after 24.8 days.
int32_t msSince(int32_t start);
// Sets the clock's zero; the windowing wrapper calls it when the library starts.
void clockStart();
namespace client {
int32_t getFrameTimeMs();
void setFrameTimeMs(int32_t stamp);
} // namespace client
} // namespace tavrix
