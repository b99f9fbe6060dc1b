// Interim download screen: no window; it draws an empty frame and keeps its page and status for its callers
// and ignores its progress.
#include "client/rmdownload.h"

#include <cstring>

#include "client/interim/screen.h"

namespace {
tavrix::interim::lastText page;
tavrix::interim::lastText status;
} // namespace

namespace tavrix::rmDownload {
// Every start shows nothing yet.
void init()
{
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
} // namespace tavrix::rmDownload
