#pragma once
// The user interface's records, its list operations, the worker and the clean-up run, for its own files
// and its tests.
#include <cstdint>

#include "client/ui.h"

namespace eawebkit {
class Instance;
}

namespace tavrix {

namespace util {
class thread;
}

namespace ui {

struct wqElem {
    wqElem* next;
    workerTask fn;
    void* a;
    void* b;
    workerTask drop;
};

// A destroyed window on its way out: stage 0 releases the view and the OpenGL objects next, stage 1
// deletes the window.
struct wcElem {
    wcElem* next;
    int32_t stage;
    int32_t time; // tavrix::getTimeMs when queued
    uiWindow* window;
};

struct inputEvent {
    int32_t type;
    int32_t a;
    int32_t b;
    int32_t c;
    int32_t d;
};

// Under the window-list lock.
void windowListInsert(uiWindow* window);
void windowListRemove(uiWindow* window);

// The clean-up timer's callback; keeps the timer.
bool doWindowCleanUp(int32_t id, void* unused1, void* unused2);
uint32_t worker(util::thread* self);

// Test seam, before init: the engine comes from the factory instead of the library.
typedef eawebkit::Instance* (*engineFactory)();
void setEngineFactory(engineFactory factory);

} // namespace ui
} // namespace tavrix
