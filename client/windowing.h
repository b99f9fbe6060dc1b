#pragma once
// The windowing library's start and stop, with the "initialised" state it does not publish itself, and the
// client's main window with its size, which every layer above may read.
#include <atomic>
#include <cstdint>

struct GLFWwindow;

namespace tavrix::windowing {

// glfwInit; on success the shared millisecond clock starts at zero and the library counts as up.
// Returns glfwInit's result.
int init();
// The library counts as down from here on, then glfwTerminate.
void terminate();
bool isInitialized();

} // namespace tavrix::windowing

namespace tavrix::client {

// Made by the client's start-up; null before the window is created and after it is destroyed.
extern GLFWwindow* window;
// The configured size first, then every accepted resize.
extern std::atomic<int32_t> screenWidth;
extern std::atomic<int32_t> screenHeight;
// GL_MAX_TEXTURE_SIZE as read at start-up.
extern int32_t maxTextureSize;

// Sets the window's close flag and wakes the event loop, as a window manager's close does; any thread.
void requestClose();
// True once the window's close flag is set (the user's close, a close request, a signal); any thread.
bool closeRequested();

} // namespace tavrix::client
