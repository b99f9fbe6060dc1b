#pragma once
// Text files (client.log, memleak.log) are written as Windows text mode writes them: every line feed as CR LF.
#include <cstddef>
#include <cstdio>

namespace tavrix::util {
void writeTextMode(FILE* file, const char* text, std::size_t length);
} // namespace tavrix::util
