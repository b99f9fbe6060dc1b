#include "platformlib/spinlock.h"

#include "platformlib/hooks.h"
#include "platformlib/posix/debugger.h"

namespace tavrix::util {

spinlock::spinlock() { __atomic_exchange_n(&word, 0, __ATOMIC_SEQ_CST); }

spinlock::~spinlock()
{
    if (__atomic_load_n(&word, __ATOMIC_SEQ_CST) == 0)
        return;
    PLATFORM_LOG(LOG_INFO, "[Platform] ~spinlock() -> lock is not fully released\n");
    // A programming error worth stopping for under a debugger; without one the trap would end the process.
    if (tavrix::sys::debuggerAttached())
        tavrix::sys::debugBreak();
}

void spinlock::lock()
{
    int32_t expected = 0;
    while (!__atomic_compare_exchange_n(&word, &expected, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED))
        expected = 0;
}

// A release store frees it as an exchange would, without a locked instruction.
void spinlock::unlock() { __atomic_store_n(&word, 0, __ATOMIC_RELEASE); }

} // namespace tavrix::util
