#include "client/rmdownload.h"

#include "client/rmscreen.h"

namespace tavrix::rmDownload {
namespace {
rmScreen screen("sys.DdwnloadWindow", "embed:download.html");
} // namespace

void init() { screen.init(); }
void final() { screen.final(); }
void enter() { screen.enter(); }
void leave() { screen.leave(); }
void draw() { screen.draw(); }
void setURL(const char* url) { screen.setURL(url); }
void setProgress(int32_t done, int32_t total) { screen.setProgress(done, total); }
void setStatusText(const char* text, uint32_t length) { screen.setStatusText(text, length); }
} // namespace tavrix::rmDownload
