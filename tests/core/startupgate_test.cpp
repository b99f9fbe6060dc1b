// The start-up's check of the required OpenGL features against a real driver told to be a plain 2.1 one:
// shaders but no vertex array objects. The start-up stops with the fatal text before anything needs them,
// and the shutdown after it leaves nothing behind.
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "client/client.h"
#include "client/windowing.h"
#include "platformlib/platform.h"
#include "platformlib/util/loggerinterface.h"
#include "support/capturelogger.h"
#include "support/tempdir.h"

namespace {

TEST(startupGate, withoutVertexArrayObjectsTheStartupFails)
{
    // Mesa reads them when the windowing library first reaches the driver.
    setenv("MESA_GL_VERSION_OVERRIDE", "2.1", 1);
    setenv("MESA_EXTENSION_OVERRIDE", "-GL_ARB_vertex_array_object", 1);
    tavrix::test::tempDir dir;
    tavrix::test::captureLogger captured;
    platform_init();
    if (tavrix::windowing::init() != GLFW_TRUE) {
        platform_final();
        GTEST_SKIP() << "needs a display (the test suite runs under Xvfb)";
    }

    EXPECT_FALSE(tavrix::client::init());
    bool plain21 = false;
    for (const std::string& line : captured.texts(tavrix::util::LOG_INFO))
        plain21 |= line.rfind("GL Version: 2.1 ", 0) == 0;
    EXPECT_TRUE(plain21) << "the driver ignored the override";
    EXPECT_EQ(tavrix::client::window, nullptr);
    tavrix::client::final();
    platform_final();

    EXPECT_EQ(captured.texts(tavrix::util::LOG_ERROR),
              std::vector<std::string>({"Your Graphics Hardware seems to have no support for Vertex Array Objects\n",
                                        "Maybe you can check for an Video Driver Upgrade\n"}));
    EXPECT_FALSE(dir.exists("memleak.log")) << dir.read("memleak.log");
}

} // namespace
