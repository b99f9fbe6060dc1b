#pragma once
// Narrow text (UTF-8) from the UTF-16 texts of outside interfaces.
#include <cstddef>

namespace tavrix::util {

// Converts NUL-terminated UTF-16 into buffer, NUL-terminated when size > 0; an unpaired surrogate becomes
// U+FFFD. False when the text does not fit: the buffer then holds the characters that fit whole.
bool utf16ToUtf8(const char16_t* text, char* buffer, size_t size);

} // namespace tavrix::util
