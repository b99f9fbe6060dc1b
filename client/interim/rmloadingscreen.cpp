// Interim loading screen: no window; it draws an empty frame and keeps its page and status for its callers
// and ignores its progress.
#include "client/rmloadingscreen.h"

#include <cstring>

#include "client/clientlogger.h"
#include "client/interim/screen.h"

namespace {
tavrix::interim::lastText page;
tavrix::interim::lastText status;
} // namespace

namespace tavrix::rmLoadingScreen {
// Every start shows nothing yet. The first of the screens to start, it speaks for all three.
void init()
{
    CLIENT_LOG(util::LOG_INFO, "renderMode: interim version - screens drawn empty\n");
    page.set("", 0);
    status.set("", 0);
}
void final() {}
void enter() {}
void leave() {}
void draw() { interim::drawEmptyFrame(); }
void setURL(const char* url) { page.set(url, std::strlen(url)); }
void setProgress(int32_t, int32_t) {}
void setStatusText(const char* text, uint32_t length) { status.set(text, length ? length : std::strlen(text)); }
std::string getURL() { return page.get(); }
std::string getStatusText() { return status.get(); }
} // namespace tavrix::rmLoadingScreen
