#pragma once
// The client's start-up, frame loop and shutdown, run by the process entry, and the state they own: the
// main window, the screen size and the frame clock.
#include <atomic>
#include <cstdint>

struct GLFWwindow;

namespace tavrix::client {

// Null before the window is created and after it is destroyed.
extern GLFWwindow* window;
// The configured size first, then every accepted resize.
extern std::atomic<int32_t> screenWidth;
extern std::atomic<int32_t> screenHeight;
// GL_MAX_TEXTURE_SIZE as read at start-up.
extern int32_t maxTextureSize;

// False when the start-up failed; the shutdown runs in either case.
bool init();
// Returns when the window's close flag is set and the frame loop has ended.
void run();
void final();

// Sets the window's close flag and wakes the event loop, as a window manager's close does; any thread.
void requestClose();

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
