#pragma once
// Addresses: resolving references against a page, data: URIs, and the UTF-16 form the transport uses.
#include <optional>
#include <string>
#include <string_view>

namespace eawebkit::engine {

// The scheme of an absolute address in lower case, or empty when it has none.
std::string urlScheme(std::string_view url);

// The address that `reference` names, seen from `base` (RFC 3986 resolution with dot segments removed;
// a path never climbs above its root). The fragment is dropped.
std::string resolveURL(std::string_view base, std::string_view reference);

// The bytes a data: URI holds, or nothing when it is malformed.
std::optional<std::string> decodeDataURI(std::string_view uri);

// UTF-8 and UTF-16 conversions; malformed input becomes U+FFFD.
std::u16string toUTF16(std::string_view utf8);
std::string toUTF8(std::u16string_view utf16);
void appendUTF8(std::string& out, char32_t codePoint);
// Takes one code point from the front of `utf8`.
char32_t nextCodePoint(std::string_view& utf8);

} // namespace eawebkit::engine
