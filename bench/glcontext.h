#pragma once
// A hidden window whose OpenGL 2.1 context is current on the calling thread, for the benchmarks that draw
// or upload.
#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include "client/windowing.h"

namespace tavrix::bench {

// Null without a display or such a context.
inline GLFWwindow* openHiddenContext(const char* title)
{
    if (windowing::init() != GLFW_TRUE)
        return nullptr;
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 2);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 1);
    GLFWwindow* window = glfwCreateWindow(64, 64, title, nullptr, nullptr);
    if (!window)
        return nullptr;
    glfwMakeContextCurrent(window);
    return glewInit() == GLEW_OK ? window : nullptr;
}

} // namespace tavrix::bench
