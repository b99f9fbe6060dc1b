#pragma once
// The web user interface: the engine driven from its own thread, the "UI Worker"; the windows in z-order
// with unique names and one focused window; their drawing as textured quads; and their delayed two-stage
// clean-up.
#include <atomic>
#include <cstdint>

#include "client/uiwindow.h"

namespace tavrix::ui {

// fn(a, b) on the UI Worker. drop, when given, frees what the task owns instead of running it: for a task
// still queued when the worker stops.
typedef uiTask workerTask;

// Main (OpenGL) thread; returns when the worker has set the engine up, and rethrows its failure.
void init();
void final();

// Any thread.
void postTask(workerTask fn, void* a, void* b, workerTask drop = nullptr);
uiWindow* createWindow(const char* name, const char* url, int32_t x, int32_t y, int32_t width, int32_t height,
                       bool hidden);
// The caller must not use the window afterwards.
void destroyWindow(uiWindow* window);
// Re-sorts the window into its z-order group (brings it to the front of it).
void windowListReinsert(uiWindow* window);
void setFocus(uiWindow* window);
void refocus();
bool isFocusedWindow(uiWindow* window);
void setWindowInputMask(uiWindow* window, int32_t mask);
void clearWindowInputMask(uiWindow* window);
// Built once.
const char* getUserAgent();

// Input from the main window's callbacks, in screen pixels and the windowing library's codes: each goes to
// the window it targets, on the UI Worker. Nothing while the UI is not running.
void onScroll(int32_t x, int32_t y, int32_t xOffset, int32_t yOffset);
void onMouseButton(int32_t x, int32_t y, int32_t button, int32_t action);
void onCursorMove(int32_t x, int32_t y);
void onKey(int32_t key, int32_t scancode, int32_t action, int32_t modifiers);
void onCharInput(uint32_t codePoint);
void onInputType5(int32_t first, int32_t second, int32_t third);

// OpenGL thread.
void drawWindow(uiWindow* window);
void onResolutionChange(int32_t width, int32_t height);

// Length of the worker's last cycle in milliseconds.
extern std::atomic<int32_t> lastFrameMs;

} // namespace tavrix::ui
