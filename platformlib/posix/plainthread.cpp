#include "platformlib/posix/plainthread.h"

#include <cerrno>
#include <ctime>
#include <new>

#include <pthread.h>

#include "platformlib/hooks.h"

namespace tavrix::sys {

struct plainThread {
    pthread_t id;
    plainThreadEntry entry;
    void* argument;
};

namespace {

void* plainThreadMain(void* handle)
{
    const plainThread* self = static_cast<plainThread*>(handle);
    try {
        self->entry(self->argument);
    } catch (...) {
        platform_exitOnUncaught();
    }
    return nullptr;
}

} // namespace

plainThread* startPlainThread(plainThreadEntry entry, void* argument, uint32_t* error)
{
    plainThread* handle = new (std::nothrow) plainThread{pthread_t{}, entry, argument};
    if (!handle) {
        *error = ENOMEM;
        return nullptr;
    }
    const int result = pthread_create(&handle->id, nullptr, plainThreadMain, handle);
    if (result != 0) {
        delete handle;
        *error = uint32_t(result);
        return nullptr;
    }
    return handle;
}

void joinPlainThread(plainThread* handle)
{
    pthread_join(handle->id, nullptr);
    delete handle;
}

// The timed join measures against the wall clock.
bool joinPlainThread(plainThread* handle, uint32_t milliseconds)
{
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    const int64_t nanoseconds = int64_t(deadline.tv_nsec) + int64_t(milliseconds % 1000) * 1000000;
    deadline.tv_sec += time_t(milliseconds / 1000 + nanoseconds / 1000000000);
    deadline.tv_nsec = long(nanoseconds % 1000000000);
    if (pthread_timedjoin_np(handle->id, nullptr, &deadline) != 0)
        return false;
    delete handle;
    return true;
}

} // namespace tavrix::sys
