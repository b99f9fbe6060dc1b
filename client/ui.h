#pragma once
// The web user interface: its worker, its windows and their drawing.
#include <atomic>
#include <cstdint>

namespace tavrix::ui {
// Main (OpenGL) thread; returns when the worker has set the engine up.
void init();
void final();
// OpenGL thread.
void onResolutionChange(int32_t width, int32_t height);
// Length of the worker's last cycle in milliseconds.
extern std::atomic<int32_t> lastFrameMs;
} // namespace tavrix::ui
