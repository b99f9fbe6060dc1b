#pragma once
// What the frame loop draws: the current render mode, its screen and the switches between them.
#include <cstdint>

namespace tavrix::renderMode {

enum modeId : int32_t {
    MODE_LOADING = 0,
    MODE_DOWNLOAD = 1,
    MODE_MENU = 2,
    MODE_GAME = 3,
};

// Main thread: creates the screens, waits for the loading screen's page and enters Loading.
void init();
void final();
// Any thread. Returns the mode before the call; a mode without a screen (Game) changes nothing and
// returns the current one.
int32_t switchMode(int32_t mode);
// switchMode(mode) only while the current mode is still `expected`, checked under the mode lock, so a
// switch made meanwhile by another thread is never undone. Returns the mode before the call.
int32_t switchModeIfCurrent(int32_t expected, int32_t mode);
const char* getModeName(int32_t mode);
// The current mode's draw callback; OpenGL thread, once per frame.
void draw();

} // namespace tavrix::renderMode

// The main menu's screen.
namespace tavrix::rmMenu {
void init();
void final();
void enter();
void leave();
void draw();
// Any thread.
void setURL(const char* url);
} // namespace tavrix::rmMenu
