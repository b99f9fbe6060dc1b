#pragma once
// ASCII helpers for the texts of pages and style sheets (HTML's white space, ASCII case folding).
#include <string>
#include <string_view>

namespace eawebkit::engine {

bool isHtmlSpace(char c);
std::string_view trimSpaces(std::string_view s);
char lowerAscii(char c);
std::string lowerAscii(std::string_view s);
bool equalsNoCase(std::string_view a, std::string_view b);
// The value of a hexadecimal digit of either case, or -1.
int hexValue(char c);
// The text with each NUL byte as U+FFFD, as the HTML parser reads one: the library takes C strings.
std::string withoutNul(std::string_view s);

} // namespace eawebkit::engine
