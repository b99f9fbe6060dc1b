#pragma once
// Keyboard and mouse callbacks of the main window, routed to the user interface or captured.
#include <cstdint>

struct GLFWwindow;

namespace tavrix::Input {

// The input modes: captured (cursor hidden and locked, nothing forwarded) and the user interface's.
enum inputMode : int32_t {
    MODE_CAPTURED = 0,
    MODE_UI = 1,
};

// After the window exists, before the user interface starts; on the main thread, which processes the
// window's events.
void init(GLFWwindow* window);
void final();

// Any thread; returns the previous mode. Off the main thread the cursor follows on the main thread, which
// is woken from its event wait for it.
int32_t setInputMode(int32_t mode);
// The main thread's, after each event wait or poll: brings the cursor in line with a mode set elsewhere.
void applyInputMode();

// Main thread.
void captureCursor();
void releaseCursor();

// The windowing library's callbacks, on the main thread.
void onKey(GLFWwindow* window, int key, int scancode, int action, int modifiers);
void onChar(GLFWwindow* window, unsigned int codePoint);
void onCursorEnter(GLFWwindow* window, int entered);
void onCursorPos(GLFWwindow* window, double x, double y);
void onMouseButton(GLFWwindow* window, int button, int action, int modifiers);
void onScroll(GLFWwindow* window, double xOffset, double yOffset);

} // namespace tavrix::Input
