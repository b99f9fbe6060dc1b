#include "client/interim/screen.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include "client/windowing.h"

namespace tavrix::interim {
void drawEmptyFrame()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glfwSwapBuffers(client::window);
}
} // namespace tavrix::interim
