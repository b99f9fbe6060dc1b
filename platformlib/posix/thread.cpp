#include "platformlib/posix/thread.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platformlib/hooks.h"

using tavrix::util::LOG_ERROR;
using tavrix::util::LOG_INFO;
using tavrix::util::LOG_WARN;

namespace {

int64_t monotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

timespec timespecAt(int64_t monotonicAt) { return timespec{time_t(monotonicAt / 1000000000), long(monotonicAt % 1000000000)}; }

timespec deadlineAfter(uint32_t milliseconds) { return timespecAt(monotonicNs() + int64_t(milliseconds) * 1000000); }

// The zero of getTimeMs on the monotonic clock.
int64_t clockZero();

// Every timed wait here runs on the monotonic clock, so a change of the wall clock cannot stretch it.
void initMonotonicCond(pthread_cond_t* cond)
{
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(cond, &attr);
    pthread_condattr_destroy(&attr);
}

// The thread's priority as its own nice value (Linux keeps one per thread), counted from the nice value
// the process was started with, so that a user's `nice` holds for every thread: normal is that value, the
// other steps lie around it as the usual desktop values lie around 0 (idle +19, below normal +5, above
// normal -5, time critical -20), kept within the values a nice can take. Raising a thread above the
// process's own value needs CAP_SYS_NICE or RLIMIT_NICE.
constexpr int NICE_STEP_OF_PRIORITY[] = {19, 5, 0, -5, -20};
constexpr int NICE_MIN = -20;
constexpr int NICE_MAX = 19;

// The main thread's nice value when first asked: the one the process was started with, since nothing here
// changes the main thread's.
int processNice()
{
    static const int nice = [] {
        errno = 0;
        const int read = getpriority(PRIO_PROCESS, id_t(getpid()));
        return errno == 0 ? read : 0;
    }();
    return nice;
}

int niceOfPriority(uint32_t known)
{
    const int nice = processNice() + NICE_STEP_OF_PRIORITY[known];
    return nice < NICE_MIN ? NICE_MIN : nice > NICE_MAX ? NICE_MAX : nice;
}

char* copyName(const char* name, tavrix::util::threadEntry entry)
{
    char unnamed[64];
    if (name == nullptr || name[0] == '\0') {
        std::snprintf(unnamed, sizeof(unnamed), "UnnamedThread_0x%" PRIxPTR, reinterpret_cast<uintptr_t>(entry));
        name = unnamed;
    }
    const std::size_t size = std::strlen(name) + 1;
    char* copy = new char[size];
    std::memcpy(copy, name, size);
    return copy;
}

} // namespace

namespace tavrix::util {

// Shared by the object and its thread, freed by whichever lets go last: a thread that outlives its object
// (detached by kill or the destructor) still has somewhere to record that it ended.
struct thread::osThread {
    explicit osThread(thread* self) : owner(self)
    {
        // The OS keeps 15 characters of a thread name; the object and the log lines keep all of it.
        std::snprintf(osName, sizeof(osName), "%s", self->name);
        pthread_mutex_init(&lock, nullptr);
        initMonotonicCond(&changed);
    }
    ~osThread()
    {
        pthread_cond_destroy(&changed);
        pthread_mutex_destroy(&lock);
    }
    void drop()
    {
        if (refs.fetch_sub(1) == 1)
            delete this;
    }

    thread* owner;
    pthread_t id{};
    pid_t tid = 0;
    // Result of the thread putting itself at normal priority as it started.
    int startPriorityError = 0;
    char osName[16];
    pthread_mutex_t lock;
    pthread_cond_t changed;
    bool started = false;
    bool finished = false;
    // The owner let go of the thread (joined or detached it); a thread abandoned while it ran no longer
    // touches the owner.
    bool released = false;
    bool abandoned = false;
    std::atomic<int32_t> refs{2};
};

thread::thread(const char* name_, threadEntry entry_, void* argument_)
    : handle(nullptr), entry(entry_), argument(argument_), running(1),
      // Linux has no dynamic priority boost to query.
      priorityBoostDisabled(1), priority(PRIORITY_NORMAL), name(copyName(name_, entry_))
{
    osThread* control = new osThread(this);
    if (pthread_create(&control->id, nullptr, threadMain, control) != 0) {
        delete control;
        running.exchange(0);
        PLATFORM_LOG(LOG_ERROR, "[Platform] Thread: failed to create new Thread '%s'\n", name);
        return;
    }
    handle = control;
    // The kernel id that the priority calls need is only known inside the thread.
    pthread_mutex_lock(&control->lock);
    while (!control->started)
        pthread_cond_wait(&control->changed, &control->lock);
    const int error = control->startPriorityError;
    pthread_mutex_unlock(&control->lock);
    if (error != 0)
        PLATFORM_LOG(LOG_ERROR, "[Platform] Thread '%s' can't set Priority - Error: %u\n", name, uint32_t(error));
}

thread::~thread()
{
    release();
    if (handle)
        handle->drop();
    delete[] name;
}

void* thread::threadMain(void* control_)
{
    osThread* control = static_cast<osThread*>(control_);
    thread* self = control->owner;
    pthread_setname_np(pthread_self(), control->osName);

    pthread_mutex_lock(&control->lock);
    control->tid = gettid();
    // A new thread starts at normal, whatever its creator runs at. It sets this itself, before its entry
    // runs, so that a thread which ends at once is not mistaken for one that cannot be reached.
    control->startPriorityError =
        setpriority(PRIO_PROCESS, id_t(control->tid), niceOfPriority(PRIORITY_NORMAL)) == 0 ? 0 : errno;
    control->started = true;
    pthread_cond_broadcast(&control->changed);
    // The constructor is still waiting for the lock, so the object is whole here.
    PLATFORM_LOG(LOG_INFO, "[Platform] New Thread '%s'\n", self->name);
    const threadEntry entry = self->entry;
    pthread_mutex_unlock(&control->lock);

    uint32_t result = 0;
    try {
        result = entry(self);
    } catch (...) {
        platform_exitOnUncaught();
    }

    // Under the lock the owner cannot be abandoning us and freeing the object at the same moment.
    pthread_mutex_lock(&control->lock);
    if (!control->abandoned) {
        self->running.exchange(0);
        PLATFORM_LOG(LOG_INFO, "[Platform] Thread Terminated '%s' (ExitCode: %u)\n", self->name, result);
    }
    control->finished = true;
    pthread_cond_broadcast(&control->changed);
    pthread_mutex_unlock(&control->lock);
    control->drop();
    return reinterpret_cast<void*>(uintptr_t(result));
}

uint32_t thread::setPriority(uint32_t value)
{
    if (value == priority)
        return priority;
    uint32_t known = value;
    if (value > PRIORITY_TIME_CRITICAL) {
        PLATFORM_LOG(LOG_INFO, "[Platform] Thread '%s' unknown Priority %u assuming NORMAL Priority\n", name, value);
        known = PRIORITY_NORMAL;
    }
    if (const int error = applyPriority(known)) {
        PLATFORM_LOG(LOG_ERROR, "[Platform] Thread '%s' can't set Priority - Error: %u\n", name, uint32_t(error));
        return priority;
    }
    const uint32_t previous = priority;
    priority = value;
    return previous;
}

int thread::applyPriority(uint32_t known)
{
    if (!handle)
        return ESRCH;
    int error = ESRCH;
    // A thread that has not finished still owns its kernel id, so the call cannot reach another thread.
    pthread_mutex_lock(&handle->lock);
    if (!handle->finished)
        error = setpriority(PRIO_PROCESS, id_t(handle->tid), niceOfPriority(known)) == 0 ? 0 : errno;
    pthread_mutex_unlock(&handle->lock);
    return error;
}

uint32_t thread::join(uint32_t milliseconds)
{
    if (!handle)
        return JOIN_ENDED;
    const timespec deadline = deadlineAfter(milliseconds);
    pthread_mutex_lock(&handle->lock);
    while (!handle->finished && pthread_cond_timedwait(&handle->changed, &handle->lock, &deadline) != ETIMEDOUT) {
    }
    const bool ended = handle->finished;
    pthread_mutex_unlock(&handle->lock);
    return ended ? JOIN_ENDED : JOIN_TIMEOUT;
}

// Linux cannot stop a thread safely (it may hold locks), so a thread that is still running is detached and
// left to end on its own; it then skips its last steps and touches nothing of this object.
void thread::release()
{
    if (!handle)
        return;
    pthread_mutex_lock(&handle->lock);
    const bool wasReleased = handle->released;
    const bool ended = handle->finished;
    handle->released = true;
    if (!ended)
        handle->abandoned = true;
    pthread_mutex_unlock(&handle->lock);
    if (wasReleased)
        return;
    if (ended) {
        pthread_join(handle->id, nullptr);
        return;
    }
    pthread_detach(handle->id);
    PLATFORM_LOG(LOG_WARN, "[Platform] Thread '%s' is still running: detached, not terminated\n", name);
}

void thread::kill() { release(); }

bool thread::isRunning() const { return running.load() != 0; }

struct mutex::osMutex {
    pthread_mutex_t native;
};
mutex::osMutex* mutex::native()
{
    static_assert(sizeof(osMutex) <= sizeof(storage) && alignof(osMutex) <= 16);
    return reinterpret_cast<osMutex*>(storage);
}

mutex::mutex()
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&(new (storage) osMutex)->native, &attr);
    pthread_mutexattr_destroy(&attr);
}

mutex::~mutex() { pthread_mutex_destroy(&native()->native); }

void mutex::lock() { pthread_mutex_lock(&native()->native); }

bool mutex::tryLock() { return pthread_mutex_trylock(&native()->native) == 0; }

void mutex::unlock() { pthread_mutex_unlock(&native()->native); }

// Two events in one: a pending signal wakes one waiter and resets itself; a broadcast wakes every
// waiter and stays set until the last waiter leaves. Neither is kept when no thread waits.
struct condVar::osEvents {
    osEvents()
    {
        pthread_mutex_init(&guard, nullptr);
        initMonotonicCond(&wake);
    }
    ~osEvents()
    {
        pthread_cond_destroy(&wake);
        pthread_mutex_destroy(&guard);
    }

    pthread_mutex_t guard;
    pthread_cond_t wake;
    int32_t waiters = 0;
    bool signalSet = false;
    bool broadcastSet = false;
};

condVar::condVar() : events(new osEvents) {}

condVar::~condVar() { delete events; }

void condVar::wait(mutex& held, uint32_t milliseconds) { waitUntilNs(held, monotonicNs() + int64_t(milliseconds) * 1000000); }

void condVar::waitUntil(mutex& held, int32_t clockMs) { waitUntilNs(held, clockZero() + int64_t(clockMs) * 1000000); }

void condVar::waitUntilNs(mutex& held, int64_t monotonicAt)
{
    const timespec deadline = timespecAt(monotonicAt);
    pthread_mutex_lock(&events->guard);
    ++events->waiters;
    held.unlock();
    while (!events->signalSet && !events->broadcastSet &&
           pthread_cond_timedwait(&events->wake, &events->guard, &deadline) != ETIMEDOUT) {
    }
    // A waiter that leaves takes a pending signal with it, even after its time-out, so none is left over.
    events->signalSet = false;
    if (--events->waiters == 0)
        events->broadcastSet = false;
    pthread_mutex_unlock(&events->guard);
    held.lock();
}

void condVar::signal()
{
    pthread_mutex_lock(&events->guard);
    if (events->waiters > 0) {
        events->signalSet = true;
        pthread_cond_broadcast(&events->wake);
    }
    pthread_mutex_unlock(&events->guard);
}

void condVar::broadcast()
{
    pthread_mutex_lock(&events->guard);
    if (events->waiters > 0) {
        events->broadcastSet = true;
        pthread_cond_broadcast(&events->wake);
    }
    pthread_mutex_unlock(&events->guard);
}

} // namespace tavrix::util

namespace tavrix::sys {

void sleepMs(uint32_t milliseconds)
{
    timespec left{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void yield() { sched_yield(); }

} // namespace tavrix::sys

namespace {

std::atomic<int64_t> clockZeroNs{0};
std::atomic<int32_t> frameTimeMs{0};

int64_t clockZero()
{
    int64_t zero = clockZeroNs.load();
    if (zero == 0) {
        const int64_t now = monotonicNs();
        zero = clockZeroNs.compare_exchange_strong(zero, now) ? now : zero;
    }
    return zero;
}

// Until the windowing library starts the clock, it counts from the start of the process.
[[maybe_unused]] const int64_t processStartNs = clockZero();

} // namespace

namespace tavrix {

int32_t getTimeMs() { return int32_t((monotonicNs() - clockZero()) / 1000000); }

int32_t msSince(int32_t start) { return int32_t(uint32_t(getTimeMs()) - uint32_t(start)); }

void clockStart() { clockZeroNs.store(monotonicNs()); }

namespace client {
int32_t getFrameTimeMs() { return frameTimeMs.load(std::memory_order_relaxed); }
void setFrameTimeMs(int32_t stamp) { frameTimeMs.store(stamp, std::memory_order_relaxed); }
} // namespace client

} // namespace tavrix
