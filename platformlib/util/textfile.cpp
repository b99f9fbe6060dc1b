#include "platformlib/util/textfile.h"

#include <cstring>

namespace tavrix::util {

// The file's lock is taken once for the whole text, not once for each piece.
void writeTextMode(FILE* file, const char* text, std::size_t length)
{
    const char* end = text + length;
    flockfile(file);
    while (text < end) {
        const char* lf = static_cast<const char*>(std::memchr(text, '\n', end - text));
        if (!lf) {
            fwrite_unlocked(text, 1, end - text, file);
            break;
        }
        fwrite_unlocked(text, 1, lf - text, file);
        fwrite_unlocked("\r\n", 1, 2, file);
        text = lf + 1;
    }
    funlockfile(file);
}

} // namespace tavrix::util
