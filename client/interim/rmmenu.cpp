// Interim menu screen of client/rendermode.h: no window; it draws an empty frame and keeps its page for
// its callers.
#include "client/rendermode.h"

#include <cstring>

#include "client/interim/screen.h"

namespace {
tavrix::interim::lastText page;
} // namespace

namespace tavrix::rmMenu {
void init() { page.set("", 0); }
void final() {}
void enter() {}
void leave() {}
void draw() { interim::drawEmptyFrame(); }
void setURL(const char* url) { page.set(url, std::strlen(url)); }
std::string getURL() { return page.get(); }
} // namespace tavrix::rmMenu
