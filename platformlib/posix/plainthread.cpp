#include "platformlib/posix/plainthread.h"

#include <cerrno>
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

} // namespace tavrix::sys
