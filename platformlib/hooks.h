#pragma once
// The ground floor of the platform library: the logger every platform message goes through and the timer
// system the element pools need, both installed by the client, and the reports of an exception that
// escaped.
#include <cstddef>
#include <cstdint>

#include "platformlib/util/funcname.h"
#include "platformlib/util/loggerinterface.h"

// The timer system the element pools need; installed by the client before any pool exists.
class timerSystem {
public:
    // Returning true cancels the timer.
    typedef bool (*callback)(int32_t id, void* user1, void* user2);
    virtual int32_t timer_add(int32_t dueMs, callback cb, void* user1, void* user2) = 0;
    virtual int32_t add(int32_t dueMs, int32_t periodMs, callback cb, void* user1, void* user2) = 0;
    virtual void del(int32_t id) = 0;

protected:
    ~timerSystem() = default;
};

void platform_setLogger(tavrix::util::loggerInterface* logger);
void platform_setTimerSystem(timerSystem* timers);

// The logger every platform message goes through: the null logger until the client installs its own.
tavrix::util::loggerInterface* platform_getLogger();
timerSystem* platform_getTimerSystem();

// Every platform log line carries its source location.
#define PLATFORM_LOG(level, ...) platform_getLogger()->logEx((level), __FILE__, __LINE__, TAVRIX_FUNC, __VA_ARGS__)

// The process entry's report text for the exception being handled (call it inside a catch block); a thrown
// FatalErrorException or tavrix::util::Exception is deleted, as its handler owns it.
void platform_formatUncaught(char* buffer, size_t size) noexcept;
// Reports an exception that escaped on a thread other than the main one (call it inside a catch block):
// the process entry's report text at ERROR and on stderr, then the logger is flushed and the process ends
// with status 1.
[[noreturn]] void platform_exitOnUncaught() noexcept;
// Flushes the logger (bounded) and ends the process at once with the status.
[[noreturn]] void platform_flushAndExit(int status) noexcept;
