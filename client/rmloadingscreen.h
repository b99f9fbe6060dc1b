#pragma once
// The loading screen, shown from start-up until the menu; it takes progress and status reports.
#include <cstdint>

namespace tavrix::rmLoadingScreen {
void init();
void final();
void enter();
void leave();
void draw();
// Whether its page has finished loading; false before init.
bool isLoaded();
// Any thread.
void setURL(const char* url);
// A total of 0 counts as 1.
void setProgress(int32_t done, int32_t total);
// A length of 0 means the text's NUL-terminated length.
void setStatusText(const char* text, uint32_t length);
} // namespace tavrix::rmLoadingScreen
