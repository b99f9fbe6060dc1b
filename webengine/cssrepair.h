#pragma once
// Style text is mended before the HTML library reads it, for four of its faults: it cuts an unquoted
// url(...) value at its first ';' (as in data:image/png;base64,...), it reads a numeric font-weight as
// normal, it takes a gradient's arguments for an image's address, and it turns sizes into whole pixels
// without a check (a huge one overflows). Unquoted url() values are quoted, numeric weights become bold
// (600 and above) or normal, gradients are left out (the background colour stays), and numbers above
// 100000 become 100000.
#include <string>
#include <string_view>

namespace eawebkit::engine {

std::string repairCss(std::string_view css);

// A page (or a fragment of markup) with its <style> elements and style attributes mended, and the numbers of
// the attributes the library reads as sizes (width, height, border, ...) clamped; nothing else in it changes.
std::string repairHtmlCss(std::string_view html);

} // namespace eawebkit::engine
