#include "client/windowing.h"

#include <GLFW/glfw3.h>

#include <atomic>

#include "platformlib/posix/thread.h"

namespace {
// Read by logging threads while the main thread starts and stops the library.
std::atomic<bool> initialized{false};
} // namespace

namespace tavrix::windowing {

int init()
{
    const int result = glfwInit();
    if (result == GLFW_TRUE) {
        clockStart();
        initialized.store(true, std::memory_order_release);
    }
    return result;
}

void terminate()
{
    initialized.store(false, std::memory_order_release);
    glfwTerminate();
}

bool isInitialized() { return initialized.load(std::memory_order_acquire); }

} // namespace tavrix::windowing

namespace tavrix::client {

GLFWwindow* window = nullptr;
std::atomic<int32_t> screenWidth{0};
std::atomic<int32_t> screenHeight{0};
int32_t maxTextureSize = 0;

void requestClose()
{
    if (!window)
        return;
    glfwSetWindowShouldClose(window, GLFW_TRUE);
    glfwPostEmptyEvent();
}

bool closeRequested()
{
    GLFWwindow* current = window;
    return current && glfwWindowShouldClose(current);
}

} // namespace tavrix::client
