#pragma once
// Style text is mended before the HTML library reads it, for two of its faults: it cuts an unquoted url(...)
// value at its first ';' (as in data:image/png;base64,...), and it reads a numeric font-weight as normal.
// Unquoted url() values are quoted, and numeric weights become bold (600 and above) or normal.
#include <string>
#include <string_view>

namespace eawebkit::engine {

std::string repairCss(std::string_view css);

// A page (or a fragment of markup) with its <style> elements and style attributes mended; nothing else in
// it changes.
std::string repairHtmlCss(std::string_view html);

} // namespace eawebkit::engine
