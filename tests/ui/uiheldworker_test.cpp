// The UI while its worker is inside an engine call that takes long, as a hostile page's build does: the
// fake engine holds the call until the test lets it go. Input, window creation and the close path go on
// meanwhile, the input reaching the engine in its order once the call ends; a resize does not hold the
// window across the view's; and the shutdown ends within its bound with the worker still inside the call.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ui/uifixture.h"

namespace tavrix::test {
namespace {

// Far longer than the calls take on a loaded machine; only a call that waits for the worker reaches it.
constexpr int CALLS_BOUND_MS = 20000;

class uiHeldWorkerTest : public uiFixture {
protected:
    // Takes the mouse and the keyboard: (10, 20) to (110, 70).
    uiWindow* target = nullptr;

    void startWithTarget()
    {
        startUI();
        target = newWindow("target", nullptr, 10, 20, 100, 50);
        ui::setWindowInputMask(target, ui::INPUT_MOUSE | ui::INPUT_KEYBOARD);
    }

    // Runs the calls on this thread with the worker held. A call that waits for the worker fails the test:
    // past the bound the worker is let go, so the test ends instead of hanging.
    void whileHeld(const std::function<void()>& calls)
    {
        std::atomic<bool> done{false};
        std::thread watchdog([&] {
            if (!eventually([&] { return done.load(); }, CALLS_BOUND_MS)) {
                ADD_FAILURE() << "a call waited for the worker inside the engine";
                releaseWorker();
            }
        });
        calls();
        done.store(true);
        watchdog.join();
        EXPECT_TRUE(workerHeld()) << "the calls ran only once the worker was let go";
    }
};

TEST_F(uiHeldWorkerTest, inputWindowsAndTheirCloseGoOnWhileAViewUpdatesAndTheInputKeepsItsOrder)
{
    startWithTarget();
    uiWindow* other = newWindow("other", nullptr, 300, 0, 20, 20);
    holdWorker();
    uiWindow* created = nullptr;
    whileHeld([&] {
        ui::onCursorMove(15, 30);
        ui::onMouseButton(15, 30, 0, 1);
        ui::onMouseButton(15, 30, 0, 0);
        ui::onScroll(15, 30, 0, 1);
        ui::onKey(65, 30, 1, 0);
        ui::onCharInput('a');
        ui::onKey(65, 30, 0, 0);
        ui::onCursorMove(20, 40);
        created = ui::createWindow("created", nullptr, 0, 0, 10, 10, false);
        ui::setFocus(target);
        EXPECT_TRUE(ui::isFocusedWindow(target));
        ui::refocus();
        other->setAlwaysOnTop(true);
        ui::onResolutionChange(WIDTH, HEIGHT);
        // The render modes' part of the close.
        ui::destroyWindow(other);
        ui::destroyWindow(created);
    });
    releaseWorker();
    mainTaskQueue::run();
    drainWorker();
    const std::vector<std::string> expected = {
        "View::OnMouseMoveEvent 5 10 -1 -1 0",
        "View::OnMouseButtonEvent 0 5 10 -1 -1 0 1 1",
        "View::OnMouseButtonEvent 0 5 10 -1 -1 0 1 0",
        "View::OnMouseWheelEvent 32 1 -1 -1 -1 -1 0",
        "View::OnKeyboardEvent 65 0 0 1",
        "View::OnKeyboardEvent 97 0 1 1",
        "View::OnKeyboardEvent 65 0 0 0",
        "View::OnMouseMoveEvent 10 20 -1 -1 0",
    };
    EXPECT_EQ(expected, engine->view(0)->inputList());
    EXPECT_EQ(2u, engine->callsStartingWith("View::SetFocus 1").size()) << "the focus and the refocus";
}

// The engine lays the page out again inside the view's new size: the draw and the mouse, which take the
// window's lock, go on meanwhile, and the image of the new size follows once the call ends.
TEST_F(uiHeldWorkerTest, theDrawAndTheMouseGoOnWhileAViewTakesItsNewSize)
{
    startWithTarget();
    ASSERT_TRUE(eventually([&] { return target->newPixels.load() == 1; })) << "no first image";
    ui::drawWindow(target);
    holdWorker("View::SetSize", [&] { target->resize(120, 60); });
    whileHeld([&] {
        ui::drawWindow(target);
        ui::onCursorMove(15, 30);
        target->setPosition(10, 20);
    });
    releaseWorker();
    drainWorker();
    EXPECT_EQ(std::vector<std::string>{"View::OnMouseMoveEvent 5 10 -1 -1 0"}, engine->view(0)->inputList());
    EXPECT_TRUE(eventually([&] {
        std::lock_guard<util::mutex> guard(target->pixelLock);
        return target->imageWidth == 120 && target->imageHeight == 60;
    })) << "the image of the new size";
    ui::drawWindow(target);
}

// The user clicks into the window while the worker is inside a view's update, and then closes it: the
// close goes through, the UI's final gives the worker its bounded join and leaves it behind, and the
// process ends with the worker still inside the call. A shutdown that waits for the worker is ended by the
// alarm, which fails the test.
TEST_F(uiHeldWorkerTest, theShutdownEndsWithTheWorkerStillInsideAViewsUpdate)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // What the worker may still touch stays allocated at the exit, some of it referenced only from the
    // pools' own mappings, where a sanitizer build's leak checker does not look.
    const char* options = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", (std::string(options ? options : "") + ":detect_leaks=0").c_str(), 1);
    EXPECT_EXIT(
        {
            alarm(120);
            startWithTarget();
            holdWorker();
            ui::onMouseButton(15, 30, 0, 1);
            ui::destroyWindow(target);
            ui::final();
            const bool leftBehind = captured.contains("ui::final - the UI Worker did not end: the engine, its library and the windows are left in place\n") && workerHeld();
            std::fprintf(stderr, leftBehind ? "the worker was left behind\n" : "the worker ended\n");
            // The rest of the shutdown, the modules with threads of their own, and the process entry's
            // return. The tracking allocator keeps what was left behind for the worker.
            stop("timers");
            std::exit(0);
        },
        testing::ExitedWithCode(0), "the worker was left behind");
}

} // namespace
} // namespace tavrix::test
