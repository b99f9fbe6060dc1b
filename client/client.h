#pragma once
// The client's start-up, frame loop and shutdown, run by the process entry. The main window and its size
// are in windowing.h, below every layer that reads them.
#include <cstdint>

struct GLFWwindow;

namespace tavrix::client {

// False when the start-up failed; the shutdown runs in either case.
bool init();
// Returns when the window's close flag is set and the frame loop has ended.
void run();
void final();

// The window-size callback; main thread.
void onResolutionChanged(GLFWwindow* window, int width, int height);
// Main task: applies a new size on the OpenGL thread.
void resulotionChangeTask(void* data, int32_t unused, int32_t height, int32_t width);
// The performance timer's callback: the 'P' datagram of the UDP console.
bool perfReport(int32_t id, void* user1, void* user2);
// The ordered start-up step "client": switches to the menu.
void startupStepClient();
void setupGLState();
void finalGLState();

} // namespace tavrix::client
