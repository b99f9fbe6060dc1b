#include "webengine/url.h"

#include "webengine/asciitext.h"

#include <cstdint>

namespace eawebkit::engine {
namespace {

struct urlParts {
    std::string_view scheme;
    bool hasAuthority = false;
    std::string_view authority;
    std::string_view path;
    bool hasQuery = false;
    std::string_view query;
};

bool isAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isSchemeChar(char c)
{
    return isAlpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

size_t schemeLength(std::string_view url)
{
    if (url.empty() || !isAlpha(url[0]))
        return 0;
    size_t i = 1;
    while (i < url.size() && isSchemeChar(url[i]))
        ++i;
    return i < url.size() && url[i] == ':' ? i : 0;
}

urlParts split(std::string_view url)
{
    urlParts parts;
    url = url.substr(0, url.find('#'));
    if (size_t length = schemeLength(url)) {
        parts.scheme = url.substr(0, length);
        url.remove_prefix(length + 1);
    }
    if (url.starts_with("//")) {
        url.remove_prefix(2);
        size_t end = url.find_first_of("/?");
        parts.hasAuthority = true;
        parts.authority = url.substr(0, end);
        url.remove_prefix(end == std::string_view::npos ? url.size() : end);
    }
    size_t queryAt = url.find('?');
    parts.path = url.substr(0, queryAt);
    if (queryAt != std::string_view::npos) {
        parts.hasQuery = true;
        parts.query = url.substr(queryAt + 1);
    }
    return parts;
}

// The output loses its last segment and the '/' before it.
void dropLastSegment(std::string& out)
{
    size_t slash = out.rfind('/');
    out.erase(slash == std::string::npos ? 0 : slash);
}

std::string removeDotSegments(std::string_view in)
{
    std::string out;
    while (!in.empty()) {
        if (in.starts_with("../")) {
            in.remove_prefix(3);
        } else if (in.starts_with("./")) {
            in.remove_prefix(2);
        } else if (in.starts_with("/./")) {
            in.remove_prefix(2);
        } else if (in == "/.") {
            in = "/";
        } else if (in.starts_with("/../")) {
            in.remove_prefix(3);
            dropLastSegment(out);
        } else if (in == "/..") {
            in = "/";
            dropLastSegment(out);
        } else if (in == "." || in == "..") {
            in = {};
        } else {
            size_t end = in.find('/', 1);
            if (end == std::string_view::npos)
                end = in.size();
            out.append(in.substr(0, end));
            in.remove_prefix(end);
        }
    }
    return out;
}

std::string mergePaths(const urlParts& base, std::string_view reference)
{
    if (base.hasAuthority && base.path.empty())
        return "/" + std::string(reference);
    size_t slash = base.path.rfind('/');
    if (slash == std::string_view::npos)
        return std::string(reference);
    return std::string(base.path.substr(0, slash + 1)) + std::string(reference);
}

std::string compose(std::string_view scheme, bool hasAuthority, std::string_view authority, std::string_view path,
                    bool hasQuery, std::string_view query)
{
    std::string out;
    if (!scheme.empty())
        out.append(scheme).append(":");
    if (hasAuthority)
        out.append("//").append(authority);
    out.append(path);
    if (hasQuery)
        out.append("?").append(query);
    return out;
}

std::string percentDecode(std::string_view in)
{
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '%' && i + 2 < in.size()) {
            int high = hexValue(in[i + 1]), low = hexValue(in[i + 2]);
            if (high >= 0 && low >= 0) {
                out.push_back(char(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.push_back(in[i]);
    }
    return out;
}

int base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

std::optional<std::string> base64Decode(std::string_view in)
{
    std::string out;
    out.reserve(in.size() / 4 * 3);
    uint32_t bits = 0;
    int count = 0;
    bool padded = false;
    for (char c : in) {
        if (isHtmlSpace(c))
            continue;
        if (c == '=') {
            padded = true;
            continue;
        }
        int value = base64Value(c);
        if (value < 0 || padded)
            return std::nullopt;
        bits = bits << 6 | uint32_t(value);
        if (++count == 4) {
            out.push_back(char(bits >> 16));
            out.push_back(char(bits >> 8));
            out.push_back(char(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 1)
        return std::nullopt;
    if (count == 2)
        out.push_back(char(bits >> 4));
    if (count == 3) {
        out.push_back(char(bits >> 10));
        out.push_back(char(bits >> 2));
    }
    return out;
}

constexpr char32_t kReplacement = 0xFFFD;

} // namespace

std::string urlScheme(std::string_view url)
{
    return lowerAscii(url.substr(0, schemeLength(url)));
}

std::string resolveURL(std::string_view base, std::string_view reference)
{
    reference = trimSpaces(reference);
    urlParts ref = split(reference);
    if (!ref.scheme.empty()) {
        // Opaque addresses (data:, about:) are taken as they are.
        if (!ref.hasAuthority && !ref.path.starts_with('/'))
            return std::string(reference);
        return compose(ref.scheme, ref.hasAuthority, ref.authority, removeDotSegments(ref.path), ref.hasQuery,
                       ref.query);
    }
    urlParts from = split(base);
    if (ref.hasAuthority)
        return compose(from.scheme, true, ref.authority, removeDotSegments(ref.path), ref.hasQuery, ref.query);
    if (ref.path.empty())
        return compose(from.scheme, from.hasAuthority, from.authority, from.path, ref.hasQuery || from.hasQuery,
                       ref.hasQuery ? ref.query : from.query);
    std::string path = ref.path.starts_with('/') ? std::string(ref.path) : mergePaths(from, ref.path);
    return compose(from.scheme, from.hasAuthority, from.authority, removeDotSegments(path), ref.hasQuery, ref.query);
}

std::optional<std::string> decodeDataURI(std::string_view uri)
{
    if (urlScheme(uri) != "data")
        return std::nullopt;
    uri.remove_prefix(5);
    size_t comma = uri.find(',');
    if (comma == std::string_view::npos)
        return std::nullopt;
    std::string payload = percentDecode(uri.substr(comma + 1));
    std::string_view header = uri.substr(0, comma);
    if (header.size() >= 7 && equalsNoCase(header.substr(header.size() - 7), ";base64"))
        return base64Decode(payload);
    return payload;
}

// Malformed sequences yield U+FFFD and consume one byte.
char32_t nextCodePoint(std::string_view& in)
{
    auto byte = [&](size_t i) { return uint8_t(in[i]); };
    uint8_t first = byte(0);
    size_t length = first < 0x80 ? 1 : first >= 0xF0 && first < 0xF5 ? 4 : first >= 0xE0 ? 3 : first >= 0xC2 ? 2 : 0;
    if (length == 0 || first >= 0xF5 || length > in.size()) {
        in.remove_prefix(1);
        return first < 0x80 ? first : kReplacement;
    }
    char32_t cp = length == 1 ? first : first & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            in.remove_prefix(1);
            return kReplacement;
        }
        cp = cp << 6 | (byte(i) & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    in.remove_prefix(length);
    if (cp < kSmallest[length] || (cp >= 0xD800 && cp <= 0xDFFF))
        return kReplacement;
    return cp;
}

void appendUTF8(std::string& out, char32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = kReplacement;
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | cp >> 6));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | cp >> 12));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | cp >> 18));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

std::u16string toUTF16(std::string_view utf8)
{
    std::u16string out;
    out.reserve(utf8.size());
    while (!utf8.empty()) {
        char32_t cp = nextCodePoint(utf8);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 | cp >> 10));
            out.push_back(char16_t(0xDC00 | (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

std::string toUTF8(std::u16string_view utf16)
{
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[++i] - 0xDC00);
        appendUTF8(out, cp);
    }
    return out;
}

} // namespace eawebkit::engine
