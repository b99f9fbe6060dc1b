#pragma once
// The base layer's modules as the tests start them, in the client's order.
#include <gtest/gtest.h>

#include "client/cvar.h"
#include "client/maintaskqueue.h"
#include "client/timer.h"
#include "support/modulerun.h"

namespace tavrix::test {

inline const testModule CVARS = {"cvars", [] { EXPECT_TRUE(cvar::init()); }, cvar::final};
inline const testModule TIMERS = {"timers", timer_init, timer_final};
inline const testModule MAIN_TASK_QUEUE = {"main task queue", mainTaskQueue::init, mainTaskQueue::final};

} // namespace tavrix::test
