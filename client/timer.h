#pragma once
// Callbacks at absolute times on the millisecond clock, once or with a period, run on a few worker
// threads from one list of timers sorted by due time.
#include <cstdint>

#include "platformlib/hooks.h"

// Runs on a timer worker; returning true cancels the timer.
typedef timerSystem::callback timerCallback;

void timer_init();
void timer_final();
// For a shutdown that cannot finish: the workers end, each given a bounded time to leave its callback, and
// nothing is released, so timers may still be added and deleted though none runs again. False when a
// worker was still in a callback then.
bool timer_stop();
// due is absolute on tavrix::getTimeMs; a negative period (-1) makes a one-shot timer.
int32_t timer_add(int32_t due, int32_t period, timerCallback callback, void* user1, void* user2);
int32_t timer_addOnce(int32_t due, timerCallback callback, void* user1, void* user2);
// The timer is dropped instead of run when it comes due and is never re-armed. An id outside the ids
// handed out so far ends the process.
void timer_del(int32_t id);
// The entry pool's counters; zeros while the system is down.
void timer_getStats(int32_t* total, int32_t* free, int32_t* peak);

// The platform's view of this timer system, installed while it runs.
class ClientTimerSystem final : public timerSystem {
public:
    int32_t timer_add(int32_t due, callback cb, void* user1, void* user2) override;
    int32_t add(int32_t due, int32_t period, callback cb, void* user1, void* user2) override;
    void del(int32_t id) override;
};
