#pragma once
// Keyboard and mouse callbacks of the main window, routed to the user interface or captured.

struct GLFWwindow;

namespace tavrix::Input {
// After the window exists, before the user interface starts.
void init(GLFWwindow* window);
void final();
} // namespace tavrix::Input
