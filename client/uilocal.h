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

// Under the window-list lock.
void windowListInsert(uiWindow* window);
void windowListRemove(uiWindow* window);
// The frontmost window that takes input of the mask and is not hidden, and for the mouse holds the point
// (both edges inclusive); null when none does. Keyboard input goes to it wherever the point is.
uiWindow* findInputWindow(int32_t mask, int32_t x, int32_t y);
// The screen point in the window's pixels, within 0..width and 0..height.
void screenToWindow(uiWindow* window, int32_t x, int32_t y, int32_t* localX, int32_t* localY);

// The clean-up timer's callback; keeps the timer.
bool doWindowCleanUp(int32_t id, void* unused1, void* unused2);
uint32_t worker(util::thread* self);

// Test seam, before init: the engine comes from the factory instead of the library.
typedef eawebkit::Instance* (*engineFactory)();
void setEngineFactory(engineFactory factory);

} // namespace ui
} // namespace tavrix
