// The engine's notifications as log lines and window state, with the UI running against the recording
// fake engine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/uifixture.h"

namespace tavrix::test {
namespace {

using uiWebKitClientTest = uiFixture;

struct loadCase {
    const char* name;
    bool withWindow;
    int32_t event;
    std::vector<std::string> errors;
    bool loaded;
};

TEST_F(uiWebKitClientTest, loadEventsAreLoggedAndCompletedOnesSetTheTitle)
{
    startUI();
    const loadCase cases[] = {
        {"completed", true, eawebkit::kLoadCompleted, {}, true},
        {"with errors", true, eawebkit::kLoadCompletedWithErrors, {"[UI/page] -> Load Completed with Errors:\n"}, true},
        {"failed", true, eawebkit::kLoadFailed, {"[UI/page] -> Failed to Load Ressource 'file://ui/menu/index.html' (404) Code 3\n"}, false},
        {"other", true, 3, {"[UI/page] -> Event: 3\n"}, false},
        {"no window", false, eawebkit::kLoadCompleted, {"uiWebKitClient::LoadUpdate() -> no uiWindow given?\n"}, false},
    };
    for (const loadCase& c : cases) {
        uiWindow* window = newWindow("page", "menu");
        drainWorker();
        const size_t scriptsBefore = engine->callsStartingWith("View::EvaluateScript").size();
        captured.clear();
        eawebkit::LoadInfo info{c.withWindow ? window : nullptr, nullptr, u"file://ui/menu/index.html", eawebkit::LoadEvent(c.event), 404, 3};
        engine->systems.client->LoadUpdate(info);
        drainWorker();
        EXPECT_EQ(c.errors, captured.texts(util::LOG_ERROR)) << c.name;
        EXPECT_EQ(c.loaded, window->isLoaded()) << c.name;
        EXPECT_EQ(c.loaded ? 1u : 0u, engine->callsStartingWith("View::EvaluateScript").size() - scriptsBefore) << c.name;
        ui::destroyWindow(window);
    }
}

struct debugCase {
    bool withWindow;
    uint32_t type;
    std::vector<std::string> warnings;
};

TEST_F(uiWebKitClientTest, debugTextIsLoggedByItsType)
{
    startUI();
    uiWindow* window = newWindow("page", nullptr);
    const debugCase cases[] = {
        {true, 1, {"[UI/page] a warning\n"}},
        {false, 1, {"uiWebKitClient: [@TODO] type(1) a warning\n"}},
        {true, 2, {}},
        {true, 6, {}},
        {true, 7, {"uiWebKitClient: [@TODO] type(7) a warning\n"}},
    };
    for (const debugCase& c : cases) {
        captured.clear();
        eawebkit::DebugLogInfo info{c.withWindow ? window : nullptr, nullptr, "a warning", eawebkit::DebugLogType(c.type)};
        engine->systems.client->DebugLog(info);
        EXPECT_EQ(c.warnings, captured.texts(util::LOG_WARN)) << c.type;
    }
}

TEST_F(uiWebKitClientTest, aNetworkErrorIsLoggedForAWindowOnly)
{
    startUI();
    uiWindow* window = newWindow("page", nullptr);
    captured.clear();
    eawebkit::NetworkErrorInfo withWindow{window, nullptr, u"file://ui/x", 3};
    engine->systems.client->NetworkError(withWindow);
    eawebkit::NetworkErrorInfo without{nullptr, nullptr, u"file://ui/x", 3};
    engine->systems.client->NetworkError(without);
    EXPECT_EQ((std::vector<std::string>{"[UI/page] Net Error"}), captured.texts(util::LOG_ERROR));
}

TEST_F(uiWebKitClientTest, onlyARepaintUpdateAsksForACopy)
{
    startUI();
    uiWindow* window = newWindow("page", nullptr);
    ASSERT_TRUE(eventually([&] { return !window->needsRepaint() && window->newPixels.load() == 1; }));
    holdWorker();
    eawebkit::ViewUpdateInfo other{window, nullptr, eawebkit::ViewUpdatePhase(1)};
    engine->systems.client->ViewUpdate(other);
    EXPECT_FALSE(window->needsRepaint());
    eawebkit::ViewUpdateInfo repaint{window, nullptr, eawebkit::kViewUpdateRepaint};
    engine->systems.client->ViewUpdate(repaint);
    EXPECT_TRUE(window->needsRepaint());
    releaseWorker();
}

} // namespace
} // namespace tavrix::test
