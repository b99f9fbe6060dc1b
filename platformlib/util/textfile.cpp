#include "platformlib/util/textfile.h"

#include <cstring>

namespace tavrix::util {

void writeTextMode(FILE* file, const char* text, std::size_t length)
{
    const char* end = text + length;
    while (text < end) {
        const char* lf = static_cast<const char*>(std::memchr(text, '\n', end - text));
        if (!lf) {
            std::fwrite(text, 1, end - text, file);
            return;
        }
        std::fwrite(text, 1, lf - text, file);
        std::fwrite("\r\n", 1, 2, file);
        text = lf + 1;
    }
}

} // namespace tavrix::util
