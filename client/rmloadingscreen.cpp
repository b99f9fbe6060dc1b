#include "client/rmloadingscreen.h"

#include "client/rmscreen.h"

namespace tavrix::rmLoadingScreen {
namespace {
rmScreen screen("sys.loadingScreenWindow", "embed:loading.html");
} // namespace

void init() { screen.init(); }
void final() { screen.final(); }
void enter() { screen.enter(); }
void leave() { screen.leave(); }
void draw() { screen.draw(); }
bool isLoaded() { return screen.isLoaded(); }
void setURL(const char* url) { screen.setURL(url); }
void setProgress(int32_t done, int32_t total) { screen.setProgress(done, total); }
void setStatusText(const char* text, uint32_t length) { screen.setStatusText(text, length); }
} // namespace tavrix::rmLoadingScreen
