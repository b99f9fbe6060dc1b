// UI input against the recording fake engine: the key table, the engine events each entry point ends in
// (buttons, wheel, modifiers, keys and characters), the window an event targets, focus on a click, and
// every record back in its pool by the UI's final.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ui/uifixture.h"

namespace tavrix::test {
namespace {

// The windowing library's key codes and their virtual-key codes, key by key; runs of consecutive keys
// with consecutive codes are written as (first key, last key, first code).
std::map<int32_t, uint32_t> expectedKeyCodes()
{
    std::map<int32_t, uint32_t> codes = {
        {32, 32},   {44, 188},  {45, 189},  {46, 190},  {47, 191},  {59, 186},  {61, 187},  {91, 219},
        {92, 220},  {93, 221},  {96, 192},  {256, 27},  {257, 10},  {258, 9},   {259, 8},   {260, 45},
        {261, 46},  {262, 39},  {263, 37},  {264, 40},  {265, 38},  {266, 33},  {267, 34},  {268, 36},
        {269, 35},  {280, 20},  {281, 145}, {282, 144}, {283, 44},  {284, 19},  {330, 110}, {331, 111},
        {332, 106}, {333, 109}, {334, 107}, {335, 14},  {340, 160}, {341, 162}, {342, 164}, {343, 91},
        {344, 161}, {345, 163}, {346, 165}, {347, 92},  {348, 93},
    };
    struct run {
        int32_t first, last;
        uint32_t code;
    };
    for (const run& r : {run{48, 57, 48}, run{65, 90, 65}, run{290, 313, 112}, run{320, 329, 96}})
        for (int32_t key = r.first; key <= r.last; ++key)
            codes[key] = r.code + uint32_t(key - r.first);
    return codes;
}

TEST(uiTranslateGlfwKeyTest, everyListedKeyHasItsCodeAndEveryOtherKeyNone)
{
    const std::map<int32_t, uint32_t> codes = expectedKeyCodes();
    for (int32_t key = -2; key <= 1024; ++key) {
        auto found = codes.find(key);
        EXPECT_EQ(found == codes.end() ? 0u : found->second, uiTranslateGlfwKey(key)) << "key " << key;
    }
    EXPECT_EQ(0u, uiTranslateGlfwKey(INT32_MIN));
    EXPECT_EQ(0u, uiTranslateGlfwKey(INT32_MAX));
}

constexpr char POOL_NOT_EMPTY[] = "[Platform] ~Pool<inputEventPool>:  Pool is not Empty!\n";

class uiInputTest : public uiFixture {
protected:
    // The window the tests aim at: (10, 20) to (110, 70), both edges inclusive.
    uiWindow* target = nullptr;

    void SetUp() override
    {
        uiFixture::SetUp();
        if (!ready)
            return;
        startUI();
        target = newWindow("target", nullptr, 10, 20, 100, 50);
    }

    // Every input record is back in its pool once the UI has stopped.
    void TearDown() override
    {
        if (ready) {
            stopUI();
            EXPECT_FALSE(captured.contains(POOL_NOT_EMPTY));
        }
        uiFixture::TearDown();
    }

    // What the view of the index-th window made has received once the worker ran every event posted.
    std::vector<std::string> received(size_t view = 0)
    {
        drainWorker();
        return engine->view(view)->inputList();
    }
    void clearReceived()
    {
        drainWorker();
        std::lock_guard<std::mutex> guard(engine->lock);
        for (size_t i = 0; i < engine->views.size(); ++i)
            engine->views[i]->inputs.clear();
    }
};

TEST_F(uiInputTest, buttonsArriveAsTheEnginesAndAFourthSendsNothing)
{
    ui::setWindowInputMask(target, ui::INPUT_MOUSE);
    ui::onMouseButton(15, 30, 0, 1);
    ui::onMouseButton(15, 30, 0, 0);
    ui::onMouseButton(15, 30, 2, 1);
    ui::onMouseButton(15, 30, 1, 1);
    ui::onMouseButton(15, 30, 3, 1);
    ui::onMouseButton(15, 30, 1, 2);
    const std::vector<std::string> expected = {
        "View::OnMouseButtonEvent 0 5 10 -1 -1 0 1 1",
        "View::OnMouseButtonEvent 0 5 10 -1 -1 0 1 0",
        "View::OnMouseButtonEvent 1 5 10 -1 -1 0 1 1", // middle
        "View::OnMouseButtonEvent 2 5 10 -1 -1 0 1 1", // right
        "View::OnMouseButtonEvent 2 5 10 -1 -1 0 1 0", // a repeat is not a press
    };
    EXPECT_EQ(expected, received());
}

TEST_F(uiInputTest, aWheelNotchIsThirtyTwoPixelsAndTheXOffsetIsNotUsed)
{
    ui::setWindowInputMask(target, ui::INPUT_MOUSE);
    struct wheelCase {
        int32_t x, y;
        const char* line;
    };
    const wheelCase cases[] = {
        {0, 1, "View::OnMouseWheelEvent 32 1 -1 -1 -1 -1 0"},
        {0, -1, "View::OnMouseWheelEvent -32 1 -1 -1 -1 -1 0"},
        {7, 0, "View::OnMouseWheelEvent 0 1 -1 -1 -1 -1 0"},
        {0, 3, "View::OnMouseWheelEvent 96 1 -1 -1 -1 -1 0"},
        {0, INT32_MAX, "View::OnMouseWheelEvent 2147483647 1 -1 -1 -1 -1 0"},
        {0, INT32_MIN, "View::OnMouseWheelEvent -2147483648 1 -1 -1 -1 -1 0"},
    };
    std::vector<std::string> expected;
    for (const wheelCase& c : cases) {
        ui::onScroll(15, 30, c.x, c.y);
        expected.push_back(c.line);
    }
    EXPECT_EQ(expected, received());
}

TEST_F(uiInputTest, aMoveArrivesInTheWindowsPixels)
{
    ui::setWindowInputMask(target, ui::INPUT_MOUSE);
    ui::onCursorMove(15, 30);
    EXPECT_EQ(std::vector<std::string>{"View::OnMouseMoveEvent 5 10 -1 -1 0"}, received());
}

TEST_F(uiInputTest, keysCarryTheirCodeActionAndModifiersWithSuperAsSixteen)
{
    ui::setWindowInputMask(target, ui::INPUT_KEYBOARD);
    struct keyCase {
        int32_t key, action, modifiers;
        const char* line; // null: nothing is sent
    };
    const keyCase cases[] = {
        {65, 1, 0, "View::OnKeyboardEvent 65 0 0 1"},
        {65, 0, 0, "View::OnKeyboardEvent 65 0 0 0"},
        {65, 2, 0, "View::OnKeyboardEvent 65 0 0 1"},
        {65, 1, 1, "View::OnKeyboardEvent 65 1 0 1"},
        {65, 1, 2, "View::OnKeyboardEvent 65 2 0 1"},
        {65, 1, 4, "View::OnKeyboardEvent 65 4 0 1"},
        {65, 1, 8, "View::OnKeyboardEvent 65 16 0 1"},
        {65, 1, 15, "View::OnKeyboardEvent 65 23 0 1"},
        {65, 1, 0x30, "View::OnKeyboardEvent 65 0 0 1"}, // caps lock and num lock are no modifiers
        {257, 1, 0, "View::OnKeyboardEvent 10 0 0 1"},  // enter
        {335, 1, 0, "View::OnKeyboardEvent 14 0 0 1"},  // keypad enter
        {39, 1, 0, nullptr},                            // apostrophe
        {336, 1, 0, nullptr},                           // keypad equal
        {-1, 1, 0, nullptr},                            // a key the windowing library does not know
    };
    std::vector<std::string> expected;
    for (const keyCase& c : cases) {
        ui::onKey(c.key, 30, c.action, c.modifiers);
        if (c.line)
            expected.push_back(c.line);
    }
    EXPECT_EQ(expected, received());
}

// The apostrophe has no key code, but what it types still arrives.
TEST_F(uiInputTest, anApostropheSendsNoKeyButItsCharacter)
{
    ui::setWindowInputMask(target, ui::INPUT_KEYBOARD);
    ui::onKey(39, 40, 1, 0);
    ui::onCharInput('\'');
    ui::onKey(39, 40, 0, 0);
    ui::onCharInput(0x1F600);
    const std::vector<std::string> expected = {"View::OnKeyboardEvent 39 0 1 1", "View::OnKeyboardEvent 128512 0 1 1"};
    EXPECT_EQ(expected, received());
}

TEST_F(uiInputTest, aKeyActionOutsideReleasePressRepeatIsLoggedAndDropped)
{
    ui::setWindowInputMask(target, ui::INPUT_KEYBOARD);
    ui::onKey(65, 30, 3, 0);
    ui::onKey(65, 30, -1, 0);
    ui::onKey(65, 30, 1, 0);
    EXPECT_EQ(std::vector<std::string>{"View::OnKeyboardEvent 65 0 0 1"}, received());
    EXPECT_EQ(2u, count(util::LOG_ERROR, "Something has fallen into deep depressions.\n"));
}

TEST_F(uiInputTest, aWin32KeyIsLoggedAndNotSent)
{
    ui::setWindowInputMask(target, ui::INPUT_KEYBOARD);
    ui::onInputType5(1, 2, 3);
    EXPECT_TRUE(received().empty());
    EXPECT_EQ(1u, count(util::LOG_ERROR, "uiWindow - Win32Key Input event is not supported.\n"));
}

TEST_F(uiInputTest, aClickFocusesAWindowThatTakesTheKeyboard)
{
    struct focusCase {
        int32_t mask;
        int32_t button;
        bool focused;
    };
    const focusCase cases[] = {
        {ui::INPUT_MOUSE | ui::INPUT_KEYBOARD, 0, true},
        {ui::INPUT_MOUSE, 0, false},
        {ui::INPUT_MOUSE | ui::INPUT_KEYBOARD, 3, false}, // a button that sends nothing
    };
    for (const focusCase& c : cases) {
        uiWindow* window = newWindow("clicked", nullptr, 200, 0, 20, 20);
        ui::setWindowInputMask(window, c.mask);
        ui::onMouseButton(205, 5, c.button, 1);
        drainWorker();
        EXPECT_EQ(c.focused, ui::isFocusedWindow(window)) << "mask " << c.mask << ", button " << c.button;
        ui::destroyWindow(window);
    }
    EXPECT_EQ(1u, engine->callsStartingWith("View::SetFocus 1").size());
}

struct hitCase {
    int32_t x, y;
    const char* line; // null: no window receives it
};

// The window's edges belong to it: the right and bottom ones arrive as its width and height.
TEST_F(uiInputTest, aPointHitsTheWindowFromItsCornerToItsEdgesInclusive)
{
    ui::setWindowInputMask(target, ui::INPUT_MOUSE);
    const hitCase cases[] = {
        {10, 20, "View::OnMouseMoveEvent 0 0 -1 -1 0"},
        {110, 70, "View::OnMouseMoveEvent 100 50 -1 -1 0"},
        {110, 20, "View::OnMouseMoveEvent 100 0 -1 -1 0"},
        {111, 30, nullptr},
        {9, 30, nullptr},
        {50, 19, nullptr},
        {50, 71, nullptr},
        {INT32_MAX, INT32_MAX, nullptr},
        {INT32_MIN, INT32_MIN, nullptr},
    };
    std::vector<std::string> expected;
    for (const hitCase& c : cases) {
        ui::onCursorMove(c.x, c.y);
        if (c.line)
            expected.push_back(c.line);
    }
    EXPECT_EQ(expected, received());
}

// A window at the end of the coordinates still holds its points, and their offsets stay in range.
TEST_F(uiInputTest, aWindowAtTheEndOfTheCoordinatesHoldsItsPoints)
{
    ui::setWindowInputMask(target, ui::INPUT_MOUSE);
    target->setPosition(INT32_MAX - 10, INT32_MIN);
    ui::onCursorMove(INT32_MAX, INT32_MIN + 5);
    EXPECT_EQ(std::vector<std::string>{"View::OnMouseMoveEvent 10 5 -1 -1 0"}, received());
}

// The window made later lies in front; hidden windows and those without the mouse in their mask are
// passed over.
TEST_F(uiInputTest, theMouseGoesToTheFrontmostVisibleWindowThatTakesIt)
{
    uiWindow* front = newWindow("front", nullptr, 50, 40, 100, 50);
    ui::setWindowInputMask(target, ui::INPUT_MOUSE);
    ui::setWindowInputMask(front, ui::INPUT_MOUSE);
    ui::onMouseButton(60, 45, 0, 1);
    ui::onMouseButton(20, 25, 0, 1);
    EXPECT_EQ(std::vector<std::string>{"View::OnMouseButtonEvent 0 10 5 -1 -1 0 1 1"}, received(1));
    EXPECT_EQ(std::vector<std::string>{"View::OnMouseButtonEvent 0 10 5 -1 -1 0 1 1"}, received(0));
    clearReceived();

    front->setHidden(true);
    ui::onMouseButton(60, 45, 0, 1);
    front->setHidden(false);
    ui::setWindowInputMask(front, ui::INPUT_KEYBOARD);
    ui::onMouseButton(61, 45, 0, 1);
    EXPECT_TRUE(received(1).empty());
    const std::vector<std::string> behind = {"View::OnMouseButtonEvent 0 50 25 -1 -1 0 1 1", "View::OnMouseButtonEvent 0 51 25 -1 -1 0 1 1"};
    EXPECT_EQ(behind, received(0));
}

// Keys go to the frontmost window that takes the keyboard, wherever the cursor is and whichever window
// has the focus.
TEST_F(uiInputTest, theKeyboardGoesToTheFrontmostVisibleKeyboardWindow)
{
    uiWindow* front = newWindow("front", nullptr, 500, 500, 10, 10);
    uiWindow* hidden = newWindow("hidden", nullptr, 0, 0, 10, 10);
    ui::setWindowInputMask(target, ui::INPUT_MOUSE | ui::INPUT_KEYBOARD);
    ui::setWindowInputMask(front, ui::INPUT_KEYBOARD);
    ui::setWindowInputMask(hidden, ui::INPUT_KEYBOARD);
    hidden->setHidden(true);
    ui::setFocus(target);
    ui::onCursorMove(15, 30);
    ui::onKey(65, 30, 1, 0);
    ui::onCharInput('a');
    EXPECT_EQ(std::vector<std::string>{"View::OnMouseMoveEvent 5 10 -1 -1 0"}, received(0));
    const std::vector<std::string> keys = {"View::OnKeyboardEvent 65 0 0 1", "View::OnKeyboardEvent 97 0 1 1"};
    EXPECT_EQ(keys, received(1));
    EXPECT_TRUE(received(2).empty());
}

TEST_F(uiInputTest, aWindowWithoutAMaskReceivesNothing)
{
    ui::onCursorMove(15, 30);
    ui::onMouseButton(15, 30, 0, 1);
    ui::onKey(65, 30, 1, 0);
    ui::onCharInput('a');
    EXPECT_TRUE(received().empty());
}

// An event still queued when its window is destroyed is not sent.
TEST_F(uiInputTest, inputForADestroyedWindowIsNotSent)
{
    ui::setWindowInputMask(target, ui::INPUT_MOUSE);
    std::atomic<bool> go{false};
    ui::postTask([](void* flag, void*) {
        while (!static_cast<std::atomic<bool>*>(flag)->load())
            std::this_thread::yield();
    }, &go, nullptr);
    ui::onCursorMove(15, 30);
    ui::destroyWindow(target);
    go.store(true);
    EXPECT_TRUE(received().empty());
}

// The worker is held in a view's update while an event is posted; the UI then stops, and the event, posted
// after the worker's last drain, is freed unsent.
TEST_F(uiInputTest, anEventQueuedWhenTheWorkerStopsGoesBackToThePool)
{
    ui::setWindowInputMask(target, ui::INPUT_MOUSE);
    fakeView* view = engine->view(0);
    holdWorker();
    ui::onCursorMove(15, 30);
    std::thread release([this] {
        EXPECT_TRUE(eventually([this] { return captured.contains("ui::final - terminating UI Worker\n"); }));
        releaseWorker();
    });
    stopUI();
    release.join();
    EXPECT_TRUE(view->inputList().empty());
    EXPECT_FALSE(captured.contains(POOL_NOT_EMPTY));
}

TEST_F(uiInputTest, inputWhileTheUIIsDownReachesNothing)
{
    ui::setWindowInputMask(target, ui::INPUT_MOUSE | ui::INPUT_KEYBOARD);
    fakeView* view = engine->view(0);
    stopUI();
    ui::onCursorMove(15, 30);
    ui::onMouseButton(15, 30, 0, 1);
    ui::onScroll(15, 30, 0, 1);
    ui::onKey(65, 30, 1, 0);
    ui::onCharInput('a');
    ui::onInputType5(1, 2, 3);
    EXPECT_TRUE(view->inputList().empty());
}

} // namespace
} // namespace tavrix::test
