// Interim loading screen: no window; it draws an empty frame and ignores its page, progress and status.
#include "client/rmloadingscreen.h"

#include "client/interim/screen.h"

namespace tavrix::rmLoadingScreen {
void init() {}
void final() {}
void enter() {}
void leave() {}
void draw() { interim::drawEmptyFrame(); }
void setURL(const char*) {}
void setProgress(int32_t, int32_t) {}
void setStatusText(const char*, uint32_t) {}
} // namespace tavrix::rmLoadingScreen
