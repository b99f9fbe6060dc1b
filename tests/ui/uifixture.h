#pragma once
// The UI running for real against the recording fake engine: a hidden window with an OpenGL 2.1 context
// (skipped without a display), the content store in a temporary directory with twelve small font files,
// the settings, the timers and the main task queue, every log line captured and the tracking allocator
// checked for leaks after every test.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "client/cvar.h"
#include "client/maintaskqueue.h"
#include "client/uilocal.h"
#include "client/uiwindow.h"
#include "client/windowing.h"
#include "core/coremodules.h"
#include "render/glfixture.h"
#include "ui/fakeengine.h"

namespace tavrix::test {

inline const char* const FONT_FILES[] = {
    "LiberationMono-Regular", "LiberationMono-Italic", "LiberationMono-Bold", "LiberationMono-BoldItalic",
    "LiberationSerif-Regular", "LiberationSerif-Italic", "LiberationSerif-Bold", "LiberationSerif-BoldItalic",
    "LiberationSans-Regular", "LiberationSans-Italic", "LiberationSans-Bold", "LiberationSans-BoldItalic",
};

// True once pred holds; false when it still does not after the bound.
inline bool eventually(const std::function<bool()>& pred, int milliseconds = 30000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class uiFixture : public sizedGlFixture<160, 120> {
protected:
    fakeEngine* engine = nullptr;
    bool uiRunning = false;
    std::thread::id mainThread = std::this_thread::get_id();

    void SetUp() override
    {
        sizedGlFixture::SetUp();
        if (!ready)
            return;
        start({MAIN_TASK_QUEUE});
        client::screenWidth = WIDTH;
        client::screenHeight = HEIGHT;
        for (const char* font : FONT_FILES)
            dir.write(std::string("dev/data/ui/shared/font/") + font + ".ttf", std::string("face ") + font);
        fakeEngine::nextVersion = "13.3.2.0.0";
        fakeEngine::nextInitResult = true;
        fakeEngine::nextCreateFails = false;
        fakeEngine::nextLoadsComplete = false;
    }
    void TearDown() override
    {
        if (!ready)
            return;
        stopUI();
        delete fakeEngine::current;
        fakeEngine::current = nullptr;
        sizedGlFixture::TearDown();
    }

    // The real library when factory is null.
    void startUI(ui::engineFactory factory = fakeEngine::create)
    {
        ui::setEngineFactory(factory);
        uiRunning = true;
        ui::init();
        engine = fakeEngine::current;
    }
    void stopUI()
    {
        if (uiRunning)
            ui::final();
        uiRunning = false;
    }

    // Returns once the worker ran every task posted before, and then (with the fake engine) a whole cycle.
    void drainWorker()
    {
        std::atomic<bool> ran{false};
        ui::postTask([](void* flag, void*) { static_cast<std::atomic<bool>*>(flag)->store(true); }, &ran, nullptr);
        ASSERT_TRUE(eventually([&] { return ran.load(); })) << "the worker ran no task";
        if (!engine)
            return;
        const int32_t ticks = engine->ticks.load();
        ASSERT_TRUE(eventually([&] { return engine->ticks.load() >= ticks + 2; })) << "the worker stopped cycling";
    }

    // Holds the worker inside a view's call (its update: in the pass over the windows; its resize: in a
    // task) until releaseWorker; reach, when given, is what brings the worker there once the hold is set.
    void holdWorker(const std::string& call = "View::Update", const std::function<void()>& reach = nullptr)
    {
        {
            std::lock_guard<std::mutex> guard(engine->holdLock);
            engine->holdCall = call;
        }
        if (reach)
            reach();
        ASSERT_TRUE(eventually([&] {
            std::lock_guard<std::mutex> guard(engine->holdLock);
            return engine->heldIn == call;
        })) << "the worker does not reach " << call;
    }
    void releaseWorker()
    {
        std::lock_guard<std::mutex> guard(engine->holdLock);
        engine->holdCall.clear();
        engine->holdChanged.notify_all();
    }
    bool workerHeld()
    {
        std::lock_guard<std::mutex> guard(engine->holdLock);
        return !engine->heldIn.empty();
    }

    // A window whose view exists and has been given its first address.
    uiWindow* newWindow(const char* name, const char* page, int32_t x = 0, int32_t y = 0, int32_t width = 100, int32_t height = 50)
    {
        uiWindow* window = ui::createWindow(name, page, x, y, width, height, false);
        mainTaskQueue::run();
        EXPECT_TRUE(eventually([&] { return window->initCount.load() == 3; })) << "the window never became drawable";
        return window;
    }

    size_t count(uint32_t level, const std::string& text) const
    {
        size_t n = 0;
        for (const capturedLine& line : captured.lines())
            n += line.level == level && line.text == text;
        return n;
    }
};

} // namespace tavrix::test
