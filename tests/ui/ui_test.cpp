// The UI module against the recording fake engine: the engine's set-up on the worker, the fonts, the
// update rate, the window list's names and order, the two-stage clean-up, the shutdown, and the failures
// that stop the start-up.
#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "client/timer.h"
#include "platformlib/platform.h"
#include "ui/uifixture.h"

#include <GLFW/glfw3.h>

namespace tavrix::test {
namespace {

using uiTest = uiFixture;

std::vector<std::string> order(uiWindow* anyListed)
{
    uiWindow* head = anyListed;
    while (head->prev)
        head = head->prev;
    std::vector<std::string> names;
    for (uiWindow* window = head; window; window = window->next)
        names.push_back(window->name);
    return names;
}

std::string familyName(const char16_t* name) { return fakeEngine::narrow(name); }

TEST_F(uiTest, setsTheEngineUpOnTheWorkerInTheOrderGiven)
{
    startUI();
    std::vector<std::string> expected = {"GetVersion", "Init", "GetTextSystem"};
    expected.insert(expected.end(), 12, "AddFace");
    expected.insert(expected.end(), {
                                        "GetParameters",
                                        "SetParameters",
                                        "SetRAMCacheUsage 134217728 0 33554432",
                                        "SetDiskCacheUsage 134217728 16384 64 1024 cache/webkit/",
                                        "SetCookieUsage 4096 8388608 256 cache/cookie/",
                                        "AddTransportHandler file",
                                    });
    EXPECT_EQ(expected, engine->callList());

    EXPECT_EQ(glfwGetTime, engine->callbacks.timeSource);
    EXPECT_EQ(nullptr, engine->systems.allocator) << "the engine runs on its own heap";
    EXPECT_NE(nullptr, engine->systems.client);
    const eawebkit::Parameters& p = engine->parameters;
    EXPECT_STREQ("Tavrix", p.applicationName);
    EXPECT_STREQ(ui::getUserAgent(), p.userAgent);
    EXPECT_EQ(1048576u, p.javaScriptStackSize);
    EXPECT_TRUE(p.ignoreColorProfile);
    EXPECT_EQ(0u, p.minFontSizeForSmoothing);
    EXPECT_FALSE(p.pluginsEnabled);
    for (uint32_t slot = 0; slot < eawebkit::kFontSlotCount; ++slot)
        EXPECT_EQ(slot == eawebkit::kFontMonospace ? "Liberation Mono" : "Liberation Sans", familyName(p.fontFamilies[slot])) << slot;
    ASSERT_EQ(12u, engine->faces.size());
    EXPECT_EQ("face LiberationMono-Regular", engine->faces[0]);
    EXPECT_EQ("face LiberationSans-BoldItalic", engine->faces[11]);

    drainWorker();
    stopUI();
    EXPECT_EQ("Shutdown", engine->callList()[engine->callList().size() - 2]);
    EXPECT_EQ("Destroy", engine->callList().back());
    EXPECT_TRUE(engine->lateCalls.empty()) << engine->lateCalls.front();

    // Creation's version check and the destruction on the main thread, everything else on one other.
    std::thread::id workerThread;
    for (const auto& note : engine->threads) {
        if (note.what == "GetVersion" || note.what == "Destroy") {
            EXPECT_EQ(mainThread, note.thread) << note.what;
            continue;
        }
        if (workerThread == std::thread::id())
            workerThread = note.thread;
        EXPECT_EQ(workerThread, note.thread) << note.what;
        EXPECT_NE(mainThread, note.thread) << note.what;
    }
    EXPECT_TRUE(captured.contains("ui::worker - m_running = 0\n"));
}

TEST_F(uiTest, aMissingFontFaceIsOneErrorAndTheOthersStillLoad)
{
    std::remove((dir.path() + "/dev/data/ui/shared/font/LiberationMono-Italic.ttf").c_str());
    startUI();
    EXPECT_EQ(11u, engine->faces.size());
    EXPECT_EQ((std::vector<std::string>{"Failed to load Font(LiberationMono-Italic)\n"}), captured.texts(util::LOG_ERROR));
}

// The engine is set up before the content store lists its files: the faces it could not add then are
// added, silently, before a view loads an address once the store has them.
TEST_F(uiTest, facesMissingAtTheSetUpAreAddedBeforeALaterPageLoads)
{
    for (const char* font : FONT_FILES)
        std::remove((dir.path() + "/dev/data/ui/shared/font/" + font + ".ttf").c_str());
    startUI();
    EXPECT_EQ(12u, captured.texts(util::LOG_ERROR).size());
    EXPECT_TRUE(engine->faces.empty());

    for (const char* font : FONT_FILES)
        if (std::string(font) != "LiberationSans-Bold")
            dir.write(std::string("dev/data/ui/shared/font/") + font + ".ttf", std::string("face ") + font);
    captured.clear();
    uiWindow* window = newWindow("w", nullptr);
    drainWorker();
    EXPECT_EQ(11u, engine->faces.size());
    const std::vector<std::string> calls = engine->callList();
    const auto firstAddress = std::find(calls.begin(), calls.end(), "View::SetURI file://embedded/uninitialized.html");
    EXPECT_EQ(11, std::count(calls.begin(), firstAddress, "AddFace")) << "before the page loads";
    EXPECT_TRUE(captured.contains("Loaded Font(LiberationMono-Regular) once the content store had it\n"));
    EXPECT_TRUE(captured.texts(util::LOG_ERROR).empty()) << "a face still missing is not logged again";

    dir.write("dev/data/ui/shared/font/LiberationSans-Bold.ttf", "face LiberationSans-Bold");
    window->setURL("file://ui/menu/index.html");
    drainWorker();
    ASSERT_EQ(12u, engine->faces.size());
    EXPECT_EQ("face LiberationSans-Bold", engine->faces.back());
    window->setURL("file://ui/other/index.html");
    drainWorker();
    EXPECT_EQ(12u, engine->faces.size()) << "each face once";
}

// The loading screen's page is shown before the content store lists its files, and on a fresh install the
// faces come with the content update: the worker's cycle adds them as they come, without a page load.
TEST_F(uiTest, aFaceThatComesLaterIsAddedByTheCycleWithoutAPageLoad)
{
    for (const char* font : FONT_FILES)
        std::remove((dir.path() + "/dev/data/ui/shared/font/" + font + ".ttf").c_str());
    startUI();
    EXPECT_EQ(12u, captured.texts(util::LOG_ERROR).size());
    captured.clear();

    dir.write("dev/data/ui/shared/font/LiberationSans-Regular.ttf", "face LiberationSans-Regular");
    ASSERT_TRUE(eventually([&] { return count(util::LOG_INFO, "Loaded Font(LiberationSans-Regular) once the content store had it\n") == 1; }));
    drainWorker();
    EXPECT_EQ((std::vector<std::string>{"face LiberationSans-Regular"}), engine->faces);
    EXPECT_TRUE(engine->callsStartingWith("CreateView").empty()) << "no view, no page load";
    EXPECT_EQ(1u, count(util::LOG_INFO, "Loaded Font(LiberationSans-Regular) once the content store had it\n")) << "each face once";
    EXPECT_TRUE(captured.texts(util::LOG_ERROR).empty());
}

// Each look asks the engine for its text system once. Faces the content store does not have are looked
// for at most every 250 ms however fast the worker cycles, and a face it lists that does not load is read
// once more by the cycle, not at every look, so its errors are not logged four times a second.
TEST_F(uiTest, theCycleLooksForMissingFacesAtMostEveryQuarterSecond)
{
    for (const char* font : FONT_FILES)
        std::remove((dir.path() + "/dev/data/ui/shared/font/" + font + ".ttf").c_str());
    dir.write("dev/data/ui/shared/font/LiberationMono-Bold.ttf", "");
    cvar::set("ui.updateFPS", 1000);
    startUI();
    // What the content store logs for one read of the file.
    std::vector<std::string> oneRead;
    for (const std::string& text : captured.texts(util::LOG_ERROR))
        if (text.rfind("Failed to load Font(", 0) != 0)
            oneRead.push_back(text);
    EXPECT_FALSE(oneRead.empty());
    captured.clear();

    const size_t looksBefore = engine->callsStartingWith("GetTextSystem").size();
    const int32_t ticksBefore = engine->ticks.load();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(eventually([&] { return engine->ticks.load() >= ticksBefore + 1000; }));
    const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    const size_t looks = engine->callsStartingWith("GetTextSystem").size() - looksBefore;
    EXPECT_GE(looks, 1u) << "a cycle that does not wait took a millisecond at least every other time";
    EXPECT_LE(looks, size_t(elapsedMs / 250 + 1)) << elapsedMs << " ms";
    EXPECT_EQ(oneRead, captured.texts(util::LOG_ERROR)) << "read by the cycle once";
    EXPECT_TRUE(engine->callsStartingWith("AddFace").empty());
}

TEST_F(uiTest, theUserAgentNamesTheKernelAndTheBuild)
{
    utsname names;
    ASSERT_EQ(0, uname(&names));
    unsigned major = 0, minor = 0, patch = 0;
    std::sscanf(names.release, "%u.%u.%u", &major, &minor, &patch);
    char expected[512];
    std::snprintf(expected, sizeof(expected),
                  "Mozilla/5.0 (Linux %u.%u Build %u) AppleWebkit/535.3 (KHTML, like Gecko) Safari/535.3 Tavrix/1.0.0-feature/EAWebKit (Build %u; Debug)",
                  major, minor, patch, unsigned(platform_getBuildNumber()));
    EXPECT_STREQ(expected, ui::getUserAgent());
}

// An update rate the worker cannot divide by, or one past 1000, runs at 60 with a warning.
TEST_F(uiTest, anUnusableUpdateRateRunsAtSixty)
{
    struct rateCase {
        int rate;
        bool warned;
    };
    for (const rateCase& c : {rateCase{0, true}, rateCase{-5, true}, rateCase{1001, true}, rateCase{1000, false}, rateCase{30, false}}) {
        captured.clear();
        cvar::set("ui.updateFPS", c.rate);
        startUI();
        drainWorker();
        stopUI();
        delete fakeEngine::current;
        fakeEngine::current = nullptr;
        const std::string warning = "ui::worker - ui.updateFPS " + std::to_string(c.rate) + " is out of range (1 to 1000), using 60\n";
        EXPECT_EQ(c.warned ? 1u : 0u, count(util::LOG_WARN, warning)) << c.rate;
    }
    cvar::_delete("ui.updateFPS");
    startUI();
    EXPECT_EQ(60, cvar::getI32("ui.updateFPS")) << "the default";
}

TEST_F(uiTest, aTakenNameGetsTheFirstFreeNumber)
{
    startUI();
    uiWindow* first = newWindow("sys.menu", nullptr);
    uiWindow* second = newWindow("sys.menu", nullptr);
    uiWindow* third = newWindow("sys.menu", nullptr);
    EXPECT_STREQ("sys.menu", first->name);
    EXPECT_STREQ("sys.menu.1", second->name);
    EXPECT_STREQ("sys.menu.2", third->name);
    EXPECT_EQ((std::vector<std::string>{"WindowName CONFLICT - Enforcing rename of Window 'sys.menu' -> 'sys.menu.1'\n",
                                        "WindowName CONFLICT - Enforcing rename of Window 'sys.menu' -> 'sys.menu.2'\n"}),
              captured.texts(util::LOG_ERROR));
    ui::destroyWindow(first);
    uiWindow* again = newWindow("sys.menu", nullptr);
    EXPECT_STREQ("sys.menu", again->name) << "a freed name is taken again";
}

// Front to back: always-on-top windows first; a window goes in front of every other window, behind every
// always-on-top one, whatever its own flag.
TEST_F(uiTest, windowsAreOrderedFrontToBackWithTheAlwaysOnTopFirst)
{
    startUI();
    uiWindow* a = newWindow("a", nullptr);
    uiWindow* b = newWindow("b", nullptr);
    EXPECT_EQ((std::vector<std::string>{"b", "a"}), order(a)) << "a new window goes in front";
    uiWindow* top = newWindow("top", nullptr);
    top->setAlwaysOnTop(true);
    EXPECT_EQ((std::vector<std::string>{"top", "b", "a"}), order(a));
    uiWindow* c = newWindow("c", nullptr);
    EXPECT_EQ((std::vector<std::string>{"top", "c", "b", "a"}), order(a)) << "directly behind the always-on-top one";
    ui::windowListReinsert(a);
    EXPECT_EQ((std::vector<std::string>{"top", "a", "c", "b"}), order(a)) << "brought to the front of its group";
    top->setAlwaysOnTop(false);
    EXPECT_EQ((std::vector<std::string>{"top", "a", "c", "b"}), order(a)) << "turning it off leaves it in place";
    top->setAlwaysOnTop(true);
    uiWindow* top2 = newWindow("top2", nullptr);
    top2->setAlwaysOnTop(true);
    EXPECT_EQ((std::vector<std::string>{"top", "top2", "a", "c", "b"}), order(a));
    ui::destroyWindow(a);
    ui::destroyWindow(b);
    ui::destroyWindow(c);
    uiWindow* last = newWindow("last", nullptr);
    EXPECT_EQ((std::vector<std::string>{"top", "top2", "last"}), order(last)) << "behind a list of always-on-top windows only";
    (void)top2;
}

// The clean-up stepped by hand: released at the first run gcStepAfter after the destruction (the view on
// the worker, the OpenGL objects on the main task queue), deleted at the first run gcStepAfter after that.
TEST_F(uiTest, aDestroyedWindowIsReleasedThenDeletedEachAStepLater)
{
    // A step long enough that a run right after the destruction still finds it not due on a loaded machine.
    constexpr int32_t STEP_MS = 2000;
    cvar::set("ui.windowCleanup.gcInterval", 3600000);
    cvar::set("ui.windowCleanup.gcStepAfter", STEP_MS);
    startUI();
    uiWindow* window = newWindow("gone", nullptr);
    ASSERT_TRUE(eventually([&] { return window->newPixels.load() == 1; }));
    ui::drawWindow(window);
    const GLuint texture = window->texture;
    ASSERT_TRUE(glIsTexture(texture));

    ui::destroyWindow(window);
    // Read after the call: the window's own time is no earlier than this.
    const int32_t destroyed = getTimeMs();
    ui::doWindowCleanUp(0, nullptr, nullptr);
    drainWorker();
    EXPECT_FALSE(engine->called("View::Shutdown")) << "not due yet";
    mainTaskQueue::run();
    EXPECT_TRUE(glIsTexture(texture));

    ASSERT_TRUE(eventually([&] { return getTimeMs() - destroyed >= STEP_MS; }));
    ui::doWindowCleanUp(0, nullptr, nullptr);
    const int32_t released = getTimeMs();
    drainWorker();
    EXPECT_TRUE(engine->called("View::Shutdown"));
    EXPECT_TRUE(glIsTexture(texture)) << "the OpenGL objects go on the OpenGL thread";
    mainTaskQueue::run();
    EXPECT_FALSE(glIsTexture(texture));

    ASSERT_TRUE(eventually([&] { return getTimeMs() - released >= STEP_MS; }));
    ui::doWindowCleanUp(0, nullptr, nullptr);
}

// A run that finds the view's release or the OpenGL clean-up still queued leaves the window for a later
// run: neither task ever meets a deleted window, however short the step or stalled the two queues.
TEST_F(uiTest, aWindowIsDeletedOnlyOnceItsReleaseTasksHaveRun)
{
    cvar::set("ui.windowCleanup.gcInterval", 3600000);
    cvar::set("ui.windowCleanup.gcStepAfter", 0);
    startUI();
    newWindow("kept", nullptr);
    uiWindow* window = newWindow("gone", nullptr);
    ui::destroyWindow(window);
    holdWorker();
    ui::doWindowCleanUp(0, nullptr, nullptr);
    ui::doWindowCleanUp(0, nullptr, nullptr);
    // Out of the tracking allocator's quarantine, back to the heap: a task that meets a deleted window is
    // then caught by the address sanitizer.
    rofree(roalloc(2u << 20));
    releaseWorker();
    drainWorker();
    EXPECT_EQ(1u, engine->callsStartingWith("View::Shutdown").size());
    ui::doWindowCleanUp(0, nullptr, nullptr);
    rofree(roalloc(2u << 20));
    mainTaskQueue::run();
    ui::doWindowCleanUp(0, nullptr, nullptr);
}

TEST_F(uiTest, theTimerReleasesADestroyedWindow)
{
    cvar::set("ui.windowCleanup.gcInterval", 10);
    cvar::set("ui.windowCleanup.gcStepAfter", 30);
    startUI();
    uiWindow* window = newWindow("gone", nullptr);
    ui::destroyWindow(window);
    EXPECT_TRUE(eventually([&] { return engine->called("View::Shutdown"); }));
    mainTaskQueue::run();
}

// The worker is held inside its pass while tasks that own copies are queued; final stops it there, frees
// the queued tasks unrun and every window, listed or on its way out, and calls the engine no more.
TEST_F(uiTest, finalFreesListedWindowsAndQueuedTasksWithoutRunningThem)
{
    cvar::set("ui.windowCleanup.gcInterval", 3600000);
    cvar::set("ui.windowCleanup.gcStepAfter", 0);
    startUI();
    uiWindow* listed = newWindow("listed", "menu");
    uiWindow* released = newWindow("released", nullptr);
    uiWindow* destroyed = newWindow("destroyed", nullptr);
    ui::destroyWindow(released);
    ui::doWindowCleanUp(0, nullptr, nullptr);
    mainTaskQueue::run();
    ui::destroyWindow(destroyed);
    drainWorker();

    holdWorker();
    listed->setURL("file://ui/other/index.html");
    listed->execJS("document.title = \"x\";");
    std::thread release([this] {
        EXPECT_TRUE(eventually([this] { return captured.contains("ui::final - terminating UI Worker\n"); }));
        releaseWorker();
    });
    stopUI();
    release.join();
    EXPECT_TRUE(engine->callsStartingWith("View::SetURI file://ui/other").empty());
    EXPECT_TRUE(engine->callsStartingWith("View::EvaluateScript").empty());
    EXPECT_TRUE(engine->lateCalls.empty()) << engine->lateCalls.front();
}

TEST_F(uiTest, aPostAfterFinalIsDroppedWithWhatItOwns)
{
    startUI();
    stopUI();
    void* copy = roalloc(16);
    ui::postTask([](void*, void*) { ADD_FAILURE() << "ran"; }, nullptr, copy, [](void*, void* owned) { rofree(owned); });
    EXPECT_TRUE(captured.contains("ui::postTask() - the UI is not running, task dropped\n"));
}

struct failureCase {
    const char* name;
    bool createFails;
    const char* version;
    bool initResult;
    const char* message;
};

// Each stops the start-up with its report; the shutdown then frees what was made.
TEST_F(uiTest, aFailedEngineStopsTheStartUpWithItsReport)
{
    const failureCase cases[] = {
        {"no instance", true, "13.3.2.0.0", true, "Failed to create WebKit Instance\n"},
        {"wrong version", false, "13.3.2.0.1", true, "WebKit Version Verification failed\nBuild against: 13.3.2.0.0\nGot: 13.3.2.0.1\n"},
        {"set-up on the worker", false, "13.3.2.0.0", false, "Webkit Initialization failed (this should never happen) [wk-0]"},
    };
    for (const failureCase& c : cases) {
        fakeEngine::nextCreateFails = c.createFails;
        fakeEngine::nextVersion = c.version;
        fakeEngine::nextInitResult = c.initResult;
        EXPECT_EQ(c.message, thrownMessage([this] { startUI(); }, true)) << c.name;
        stopUI();
        if (fakeEngine::current) {
            EXPECT_TRUE(fakeEngine::current->destroyed) << c.name;
            EXPECT_TRUE(fakeEngine::current->lateCalls.empty()) << c.name;
        }
        delete fakeEngine::current;
        fakeEngine::current = nullptr;
    }
    EXPECT_TRUE(captured.contains("ui::worker - engine set-up failed: Webkit Initialization failed (this should never happen) [wk-0]\n"));

    // This program has no engine library beside it or on its library path.
    const std::string missing = thrownMessage([this] { startUI(nullptr); }, true);
    EXPECT_EQ(0u, missing.rfind("Failed to load required Shared Library (WebKit)\nMessage: Loading of Shared Library 'EAWebKitd.so' failed (GetLastError: ", 0)) << missing;
    stopUI();
}

} // namespace
} // namespace tavrix::test
