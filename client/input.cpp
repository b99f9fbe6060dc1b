#include "client/input.h"

#include <GLFW/glfw3.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>

#include "client/ui.h"
#include "platformlib/posix/thread.h"
#include "platformlib/util/exception.h"

namespace tavrix::Input {
namespace {

// The lock is static, so that a late switch still finds it after final.
struct moduleState {
    GLFWwindow* window = nullptr;
    std::atomic<int32_t> mode{MODE_UI};
    // Serialises mode switches and the cursor's changes.
    util::mutex modeLock;
    // The thread that processes the window's events, the only one that may change the cursor.
    std::thread::id mainThread;
    // The cursor's state as the main thread last set it: captured or released (the main thread's only).
    int32_t cursorMode = MODE_UI;
    int32_t savedX = 0;
    int32_t savedY = 0;
    // Written by the cursor callback, read by the button and scroll callbacks, all on the main thread.
    int32_t lastX = 0;
    int32_t lastY = 0;
};
moduleState state;

// Toward zero, within the 32-bit range; a position the windowing library cannot mean (NaN) is 0.
int32_t truncated(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= double(INT32_MAX))
        return INT32_MAX;
    if (value <= double(INT32_MIN))
        return INT32_MIN;
    return int32_t(value);
}

int32_t ceiling(double value) { return truncated(std::ceil(value)); }

bool forwarding() { return state.mode.load() != MODE_CAPTURED; }

bool onMainThread() { return std::this_thread::get_id() == state.mainThread; }

// Under the mode lock, on the main thread.
void followMode()
{
    const int32_t mode = state.mode.load();
    if (mode == state.cursorMode)
        return;
    if (mode == MODE_CAPTURED)
        captureCursor();
    else
        releaseCursor();
}

} // namespace

void init(GLFWwindow* window)
{
    state.window = window;
    state.mainThread = std::this_thread::get_id();
    state.mode.store(MODE_UI);
    state.savedX = 0;
    state.savedY = 0;
    state.lastX = 0;
    state.lastY = 0;
    releaseCursor();
    glfwSetKeyCallback(window, onKey);
    glfwSetCharCallback(window, onChar);
    glfwSetCursorEnterCallback(window, onCursorEnter);
    glfwSetCursorPosCallback(window, onCursorPos);
    glfwSetMouseButtonCallback(window, onMouseButton);
    glfwSetScrollCallback(window, onScroll);
}

void final()
{
    std::lock_guard<util::mutex> guard(state.modeLock);
    state.window = nullptr;
}

int32_t setInputMode(int32_t mode)
{
    std::lock_guard<util::mutex> guard(state.modeLock);
    const int32_t previous = state.mode.load();
    if (mode == previous)
        return previous;
    if (mode != MODE_CAPTURED && mode != MODE_UI)
        TAVRIX_FATAL("Input::setInputMode() - unknown mode %u", uint32_t(mode));
    state.mode.exchange(mode);
    // The cursor belongs to the main thread: elsewhere it is woken to follow.
    if (onMainThread())
        followMode();
    else
        glfwPostEmptyEvent();
    return previous;
}

void applyInputMode()
{
    std::lock_guard<util::mutex> guard(state.modeLock);
    followMode();
}

void captureCursor()
{
    state.cursorMode = MODE_CAPTURED;
    if (!state.window)
        return;
    double x = 0.0;
    double y = 0.0;
    glfwGetCursorPos(state.window, &x, &y);
    state.savedX = truncated(x);
    state.savedY = truncated(y);
    glfwSetInputMode(state.window, GLFW_CURSOR, GLFW_CURSOR_DISABLED);
    ui::refocus();
}

void releaseCursor()
{
    state.cursorMode = MODE_UI;
    if (!state.window)
        return;
    glfwSetInputMode(state.window, GLFW_CURSOR, GLFW_CURSOR_NORMAL);
    glfwSetCursorPos(state.window, state.savedX, state.savedY);
    ui::refocus();
}

void onKey(GLFWwindow*, int key, int scancode, int action, int modifiers)
{
    if (forwarding())
        ui::onKey(key, scancode, action, modifiers);
}

void onChar(GLFWwindow*, unsigned int codePoint)
{
    if (forwarding())
        ui::onCharInput(codePoint);
}

void onCursorEnter(GLFWwindow*, int) {}

void onCursorPos(GLFWwindow*, double x, double y)
{
    state.lastX = truncated(x);
    state.lastY = truncated(y);
    if (forwarding())
        ui::onCursorMove(state.lastX, state.lastY);
}

// The position is the last cursor event's, not one read at the click.
void onMouseButton(GLFWwindow*, int button, int action, int)
{
    if (forwarding())
        ui::onMouseButton(state.lastX, state.lastY, button, action);
}

void onScroll(GLFWwindow*, double xOffset, double yOffset)
{
    if (forwarding())
        ui::onScroll(state.lastX, state.lastY, ceiling(xOffset), ceiling(yOffset));
}

} // namespace tavrix::Input
