#pragma once
// Deferred calls for the thread that owns the OpenGL context: any thread queues, the frame loop runs
// everything queued since the previous frame, in order, after the frame is drawn.
#include <cstdint>

namespace tavrix {

typedef void (*mainTask)(void* data, int32_t a, int32_t b, int32_t c);

namespace mainTaskQueue {

struct entry {
    entry* next;
    mainTask fn;
    void* data;
    int32_t a;
    int32_t b;
    int32_t c;
};

void init();
// Any thread. Outside init..final the task is dropped with a warning.
void add(mainTask fn, void* data, int32_t a, int32_t b, int32_t c);
// On the OpenGL thread, once per frame. Tasks queued meanwhile wait for the next frame.
void run();
// Queued tasks are dropped without running.
void final();

} // namespace mainTaskQueue
} // namespace tavrix
