#pragma once
// The renderer's wrappers against a real OpenGL context: a hidden window with a 2.1 context made once per
// test suite (skipped without a display), the tracking allocator checked for leaks after every test, the
// content store running in a temporary directory, and every log line captured.
#include <GL/glew.h>
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/windowing.h"
#include "content/contentmodules.h"
#include "content/contentrecord.h"
#include "platformlib/util/exception.h"

namespace tavrix::test {

// Allocator and captured log only: for what touches no OpenGL.
class allocFixture : public moduleTest {
protected:
    void SetUp() override { start({ALLOCATOR}); }

    bool logged(uint32_t level, const std::string& text) const
    {
        for (const capturedLine& line : captured.lines())
            if (line.level == level && line.text == text)
                return true;
        return false;
    }
};

// The message of the exception that f throws by pointer, "" when it throws none. fatal tells which of the two
// types it must be.
template <typename F> std::string thrownMessage(F f, bool fatal)
{
    try {
        f();
    } catch (util::Exception* e) {
        EXPECT_EQ(fatal, dynamic_cast<FatalErrorException*>(e) != nullptr) << e->getMessage();
        std::string message = e->getMessage();
        delete e;
        return message;
    }
    ADD_FAILURE() << "nothing thrown";
    return "";
}

// The window's framebuffer is WIDTH x HEIGHT pixels.
template <int WIDTH_, int HEIGHT_>
class sizedGlFixture : public allocFixture {
public:
    static void SetUpTestSuite()
    {
        if (windowing::init() != GLFW_TRUE)
            return;
        glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
        glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 2);
        glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 1);
        window = glfwCreateWindow(WIDTH, HEIGHT, "gl test", nullptr, nullptr);
        if (!window) {
            windowing::terminate();
            return;
        }
        glfwMakeContextCurrent(window);
        if (glewInit() != GLEW_OK) {
            glfwDestroyWindow(window);
            window = nullptr;
            windowing::terminate();
        }
    }
    // The windowing library stays up until the process ends: glfwTerminate unloads Mesa's driver, which
    // leaves a few blocks behind that the leak checker can then no longer attribute to it.
    static void TearDownTestSuite()
    {
        if (!window)
            return;
        glfwDestroyWindow(window);
        window = nullptr;
    }

    static constexpr int WIDTH = WIDTH_;
    static constexpr int HEIGHT = HEIGHT_;

protected:
    void SetUp() override
    {
        if (!window)
            GTEST_SKIP() << "no display with an OpenGL 2.1 context";
        allocFixture::SetUp();
        start({CVARS, TIMERS, CONTENT_STORE});
        ready = true;
        while (glGetError() != GL_NO_ERROR) {
        }
    }
    void TearDown() override
    {
        if (!ready)
            return;
        EXPECT_EQ(GLenum(GL_NO_ERROR), glGetError());
    }

    // A content file with its record, as the meta database would list it.
    vfs::fileDataINFO* addFile(const std::string& path, const std::string& bytes)
    {
        return tavrix::test::addContentFile(dir, path, bytes);
    }

    // RGBA of one pixel of the back buffer, x and y from the lower left corner.
    static std::vector<uint8_t> pixel(int x, int y)
    {
        std::vector<uint8_t> rgba(4);
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        return rgba;
    }

    // Shader and program objects alive among the first ids, to see that nothing was left behind.
    static int liveObjects()
    {
        int live = 0;
        for (GLuint id = 1; id < 512; ++id)
            live += (glIsShader(id) ? 1 : 0) + (glIsProgram(id) ? 1 : 0);
        return live;
    }

    inline static GLFWwindow* window = nullptr;
    bool ready = false;
};

using glFixture = sizedGlFixture<64, 64>;

} // namespace tavrix::test
