#pragma once
#include <cstdint>

namespace tavrix::util {

// Busy-waiting lock for short critical sections; not re-entrant, no owner.
class spinlock {
public:
    spinlock();
    ~spinlock();
    spinlock(const spinlock&) = delete;
    spinlock& operator=(const spinlock&) = delete;

    void lock();
    void unlock();

private:
    volatile int32_t word;
};

} // namespace tavrix::util
