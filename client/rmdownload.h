#pragma once
// The download screen, shown while content is fetched from the asset server.
#include <cstdint>

namespace tavrix::rmDownload {
void init();
void final();
void enter();
void leave();
void draw();
// Any thread.
void setURL(const char* url);
// A total of 0 counts as 1.
void setProgress(int32_t done, int32_t total);
// A length of 0 means the text's NUL-terminated length.
void setStatusText(const char* text, uint32_t length);
} // namespace tavrix::rmDownload
