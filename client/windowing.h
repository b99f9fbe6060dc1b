#pragma once
// The windowing library's start and stop, with the "initialised" state it does not publish itself.

namespace tavrix::windowing {

// glfwInit; on success the shared millisecond clock starts at zero and the library counts as up.
// Returns glfwInit's result.
int init();
// The library counts as down from here on, then glfwTerminate.
void terminate();
bool isInitialized();

} // namespace tavrix::windowing
