#pragma once
// The long part of the start-up: named steps run one after another, in the order they were added, on the
// thread "Ordered Async Startup - Executor" while the frame loop already runs.
#include <cstdint>

namespace tavrix::util {
class thread;
}

namespace tavrix::orderedAsyncStartupMgr {

typedef void (*startupStep)();

// How long cleanup waits for a running step to notice shuttingDown().
constexpr uint32_t CLEANUP_WAIT_MS = 2000;

void init();
// What a failed step does once it is reported: ask the window to close, so the normal shutdown runs.
void setCloseAction(void (*closeWindow)());
// The name is copied. Any thread.
void add(const char* name, startupStep fn);
void start();
uint32_t worker(util::thread* self);
// True once the window is asked to close or cleanup has begun: no further step starts, and a long step
// checks it and returns early.
bool shuttingDown();
// Stops the executor. False when a step was still running after CLEANUP_WAIT_MS: it is left behind with
// what it may still touch, and the caller should only save what must be saved and end the process.
bool cleanup();

} // namespace tavrix::orderedAsyncStartupMgr
