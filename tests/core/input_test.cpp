// Input routing against fakes of the windowing library's functions it calls and of the user interface's
// entry points it forwards to, both defined here: each call is recorded with its arguments and the thread
// it came from. The callbacks are called through the pointers init installed.
#include <gtest/gtest.h>

#include <GLFW/glfw3.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/input.h"
#include "client/ui.h"
#include "platformlib/util/exception.h"

namespace {

struct recordedCall {
    std::string what;
    std::thread::id thread;
};

std::mutex callsLock;
std::vector<recordedCall> calls;

void record(const std::string& what)
{
    std::lock_guard<std::mutex> guard(callsLock);
    calls.push_back({what, std::this_thread::get_id()});
}

// The callbacks init installed.
GLFWkeyfun keyCallback;
GLFWcharfun charCallback;
GLFWcursorenterfun cursorEnterCallback;
GLFWcursorposfun cursorPosCallback;
GLFWmousebuttonfun mouseButtonCallback;
GLFWscrollfun scrollCallback;

// What glfwGetCursorPos reports.
double cursorX = 0.0;
double cursorY = 0.0;

std::string number(double value)
{
    char text[64];
    std::snprintf(text, sizeof(text), "%g", value);
    return text;
}

} // namespace

extern "C" {

void glfwGetCursorPos(GLFWwindow*, double* x, double* y)
{
    record("glfwGetCursorPos");
    *x = cursorX;
    *y = cursorY;
}

void glfwSetInputMode(GLFWwindow*, int mode, int value)
{
    const char* modeName = mode == GLFW_CURSOR ? "CURSOR" : "?";
    const char* valueName = value == GLFW_CURSOR_NORMAL ? "NORMAL" : value == GLFW_CURSOR_DISABLED ? "DISABLED" : "?";
    record(std::string("glfwSetInputMode ") + modeName + " " + valueName);
}

void glfwSetCursorPos(GLFWwindow*, double x, double y) { record("glfwSetCursorPos " + number(x) + " " + number(y)); }

void glfwPostEmptyEvent() { record("glfwPostEmptyEvent"); }

GLFWkeyfun glfwSetKeyCallback(GLFWwindow*, GLFWkeyfun callback)
{
    record("glfwSetKeyCallback");
    keyCallback = callback;
    return nullptr;
}

GLFWcharfun glfwSetCharCallback(GLFWwindow*, GLFWcharfun callback)
{
    record("glfwSetCharCallback");
    charCallback = callback;
    return nullptr;
}

GLFWcursorenterfun glfwSetCursorEnterCallback(GLFWwindow*, GLFWcursorenterfun callback)
{
    record("glfwSetCursorEnterCallback");
    cursorEnterCallback = callback;
    return nullptr;
}

GLFWcursorposfun glfwSetCursorPosCallback(GLFWwindow*, GLFWcursorposfun callback)
{
    record("glfwSetCursorPosCallback");
    cursorPosCallback = callback;
    return nullptr;
}

GLFWmousebuttonfun glfwSetMouseButtonCallback(GLFWwindow*, GLFWmousebuttonfun callback)
{
    record("glfwSetMouseButtonCallback");
    mouseButtonCallback = callback;
    return nullptr;
}

GLFWscrollfun glfwSetScrollCallback(GLFWwindow*, GLFWscrollfun callback)
{
    record("glfwSetScrollCallback");
    scrollCallback = callback;
    return nullptr;
}

} // extern "C"

namespace tavrix::ui {

void onScroll(int32_t x, int32_t y, int32_t xOffset, int32_t yOffset)
{
    record("ui::onScroll " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(xOffset) + " " + std::to_string(yOffset));
}
void onMouseButton(int32_t x, int32_t y, int32_t button, int32_t action)
{
    record("ui::onMouseButton " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(button) + " " + std::to_string(action));
}
void onCursorMove(int32_t x, int32_t y) { record("ui::onCursorMove " + std::to_string(x) + " " + std::to_string(y)); }
void onKey(int32_t key, int32_t scancode, int32_t action, int32_t modifiers)
{
    record("ui::onKey " + std::to_string(key) + " " + std::to_string(scancode) + " " + std::to_string(action) + " " + std::to_string(modifiers));
}
void onCharInput(uint32_t codePoint) { record("ui::onCharInput " + std::to_string(codePoint)); }
void refocus() { record("ui::refocus"); }

} // namespace tavrix::ui

namespace tavrix::test {
namespace {

using strings = std::vector<std::string>;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

class inputTest : public ::testing::Test {
protected:
    unsigned char windowBytes = 0;
    GLFWwindow* window = reinterpret_cast<GLFWwindow*>(&windowBytes);

    void SetUp() override
    {
        cursorX = 0.0;
        cursorY = 0.0;
        Input::init(window);
    }
    void TearDown() override
    {
        Input::final();
        taken();
    }

    // The calls since the last time, which are cleared.
    strings taken()
    {
        std::lock_guard<std::mutex> guard(callsLock);
        strings texts;
        for (const recordedCall& call : calls)
            texts.push_back(call.what);
        calls.clear();
        return texts;
    }
    // Every call since the last time came from this thread.
    bool allFromThisThread()
    {
        std::lock_guard<std::mutex> guard(callsLock);
        for (const recordedCall& call : calls)
            if (call.thread != std::this_thread::get_id())
                return false;
        return true;
    }

    // Each callback of the windowing library once, as a user's input.
    void everyInput()
    {
        keyCallback(window, 65, 30, 1, 2);
        charCallback(window, 0x1F600);
        cursorEnterCallback(window, 1);
        cursorPosCallback(window, 40.5, 50.5);
        mouseButtonCallback(window, 1, 1, 4);
        scrollCallback(window, 0.0, 1.0);
    }
};

TEST_F(inputTest, initReleasesTheCursorAtTheCornerThenInstallsTheCallbacksInOrder)
{
    Input::final();
    taken();
    Input::init(window);
    const strings expected = {
        "glfwSetInputMode CURSOR NORMAL", "glfwSetCursorPos 0 0",       "ui::refocus",
        "glfwSetKeyCallback",             "glfwSetCharCallback",        "glfwSetCursorEnterCallback",
        "glfwSetCursorPosCallback",       "glfwSetMouseButtonCallback", "glfwSetScrollCallback",
    };
    EXPECT_EQ(expected, taken());
}

// The button and scroll events carry the last cursor event's position; the button's modifiers stay
// behind, and the cursor's entering goes nowhere.
TEST_F(inputTest, eachCallbackIsForwardedToTheUserInterface)
{
    taken();
    everyInput();
    const strings expected = {
        "ui::onKey 65 30 1 2",          "ui::onCharInput 128512", "ui::onCursorMove 40 50",
        "ui::onMouseButton 40 50 1 1", "ui::onScroll 40 50 0 1",
    };
    EXPECT_EQ(expected, taken());
}

struct pointCase {
    double x, y;
    const char* forwarded;
};

// Toward zero within the 32-bit range; NaN, which no position can be, as 0.
TEST_F(inputTest, aCursorPositionIsTruncatedTowardZeroWithinRange)
{
    const pointCase cases[] = {
        {10.7, 20.2, "ui::onCursorMove 10 20"},
        {-0.5, -1.7, "ui::onCursorMove 0 -1"},
        {2147483646.9, -2147483648.0, "ui::onCursorMove 2147483646 -2147483648"},
        {1e300, -1e300, "ui::onCursorMove 2147483647 -2147483648"},
        {INF, -INF, "ui::onCursorMove 2147483647 -2147483648"},
        {NaN, -NaN, "ui::onCursorMove 0 0"},
    };
    taken();
    for (const pointCase& c : cases) {
        cursorPosCallback(window, c.x, c.y);
        EXPECT_EQ(strings{c.forwarded}, taken()) << c.x << ", " << c.y;
    }
}

// Each offset's ceiling, within the 32-bit range.
TEST_F(inputTest, aScrollIsForwardedWithTheCeilingsOfItsOffsets)
{
    const pointCase cases[] = {
        {0.0, 1.0, "ui::onScroll 7 8 0 1"},
        {0.0, -1.0, "ui::onScroll 7 8 0 -1"},
        {0.5, -0.5, "ui::onScroll 7 8 1 0"},
        {-1.5, 2.0000001, "ui::onScroll 7 8 -1 3"},
        {1e300, -1e300, "ui::onScroll 7 8 2147483647 -2147483648"},
        {INF, -INF, "ui::onScroll 7 8 2147483647 -2147483648"},
        {NaN, NaN, "ui::onScroll 7 8 0 0"},
    };
    cursorPosCallback(window, 7.9, 8.1);
    taken();
    for (const pointCase& c : cases) {
        scrollCallback(window, c.x, c.y);
        EXPECT_EQ(strings{c.forwarded}, taken()) << c.x << ", " << c.y;
    }
}

// Captured, the cursor is still tracked but nothing is forwarded; released again, it returns to where it
// was captured, and the first click carries the latest position.
TEST_F(inputTest, theCapturedModeTracksTheCursorAndForwardsNothing)
{
    cursorX = 33.9;
    cursorY = 44.1;
    taken();
    EXPECT_EQ(Input::MODE_UI, Input::setInputMode(Input::MODE_CAPTURED));
    EXPECT_EQ((strings{"glfwGetCursorPos", "glfwSetInputMode CURSOR DISABLED", "ui::refocus"}), taken());

    everyInput();
    cursorPosCallback(window, 70.2, 80.9);
    EXPECT_TRUE(taken().empty());

    EXPECT_EQ(Input::MODE_CAPTURED, Input::setInputMode(Input::MODE_UI));
    EXPECT_EQ((strings{"glfwSetInputMode CURSOR NORMAL", "glfwSetCursorPos 33 44", "ui::refocus"}), taken());
    mouseButtonCallback(window, 0, 1, 0);
    EXPECT_EQ(strings{"ui::onMouseButton 70 80 0 1"}, taken());
}

TEST_F(inputTest, aSwitchToTheCurrentModeChangesNothing)
{
    taken();
    EXPECT_EQ(Input::MODE_UI, Input::setInputMode(Input::MODE_UI));
    EXPECT_TRUE(taken().empty()) << "the cursor is not moved";
    Input::setInputMode(Input::MODE_CAPTURED);
    taken();
    EXPECT_EQ(Input::MODE_CAPTURED, Input::setInputMode(Input::MODE_CAPTURED));
    EXPECT_TRUE(taken().empty());
}

// The switch fails as a whole: the mode, the cursor and the lock are as they were.
TEST_F(inputTest, anUnknownModeIsFatal)
{
    struct unknownCase {
        int32_t mode;
        const char* message;
    };
    const unknownCase cases[] = {
        {2, "Input::setInputMode() - unknown mode 2"},
        {-1, "Input::setInputMode() - unknown mode 4294967295"},
    };
    taken();
    for (const unknownCase& c : cases) {
        FatalErrorException* caught = nullptr;
        try {
            Input::setInputMode(c.mode);
        } catch (FatalErrorException* e) {
            caught = e;
        }
        ASSERT_NE(nullptr, caught) << c.mode;
        EXPECT_STREQ(c.message, caught->getMessage());
        EXPECT_STREQ("client/input.cpp", caught->getFile());
        delete caught;
    }
    EXPECT_TRUE(taken().empty());
    keyCallback(window, 65, 30, 1, 0);
    EXPECT_EQ(strings{"ui::onKey 65 30 1 0"}, taken()) << "still forwarding";
    EXPECT_EQ(Input::MODE_UI, Input::setInputMode(Input::MODE_CAPTURED));
}

// Off the main thread a switch takes effect for the callbacks at once; the cursor follows on the main
// thread, which the switch wakes. A switch there and back before it wakes leaves the cursor alone.
TEST_F(inputTest, aSwitchOffTheMainThreadIsAppliedOnTheMainThread)
{
    auto switchElsewhere = [](int32_t mode) {
        int32_t previous = -1;
        std::thread other([&] { previous = Input::setInputMode(mode); });
        other.join();
        return previous;
    };
    taken();
    EXPECT_EQ(Input::MODE_UI, switchElsewhere(Input::MODE_CAPTURED));
    EXPECT_EQ(strings{"glfwPostEmptyEvent"}, taken());
    keyCallback(window, 65, 30, 1, 0);
    EXPECT_TRUE(taken().empty()) << "captured already";

    Input::applyInputMode();
    EXPECT_TRUE(allFromThisThread());
    EXPECT_EQ((strings{"glfwGetCursorPos", "glfwSetInputMode CURSOR DISABLED", "ui::refocus"}), taken());
    Input::applyInputMode();
    EXPECT_TRUE(taken().empty());

    switchElsewhere(Input::MODE_UI);
    switchElsewhere(Input::MODE_CAPTURED);
    EXPECT_EQ((strings{"glfwPostEmptyEvent", "glfwPostEmptyEvent"}), taken());
    Input::applyInputMode();
    EXPECT_TRUE(taken().empty());

    switchElsewhere(Input::MODE_UI);
    taken();
    Input::applyInputMode();
    EXPECT_TRUE(allFromThisThread());
    EXPECT_EQ((strings{"glfwSetInputMode CURSOR NORMAL", "glfwSetCursorPos 0 0", "ui::refocus"}), taken());
}

} // namespace
} // namespace tavrix::test
