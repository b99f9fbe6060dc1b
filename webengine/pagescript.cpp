#include "webengine/pagescript.h"

#include "webengine/asciitext.h"
#include "webengine/url.h"

namespace eawebkit::engine {
namespace {

constexpr std::string_view kProgressHead = "document.getElementById('progress').style.width ='";
constexpr std::string_view kProgressTail = "%';";
constexpr std::string_view kStatusHead = "document.getElementById('status').innerHTML = \"";
constexpr std::string_view kTitleHead = "document.title = \"";
constexpr std::string_view kStringTail = "\";";

std::optional<uint32_t> parsePercent(std::string_view digits)
{
    if (digits.empty() || digits.size() > 10)
        return std::nullopt;
    uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + uint64_t(c - '0');
    }
    if (value > UINT32_MAX)
        return std::nullopt;
    return uint32_t(value);
}

// A run of \xHH escapes; NUL becomes U+FFFD, as in a parsed page.
std::optional<std::string> parseEscapes(std::string_view escapes)
{
    if (escapes.size() % 4 != 0)
        return std::nullopt;
    std::string text;
    text.reserve(escapes.size() / 2);
    for (size_t i = 0; i < escapes.size(); i += 4) {
        if (escapes[i] != '\\' || escapes[i + 1] != 'x')
            return std::nullopt;
        int high = hexValue(escapes[i + 2]), low = hexValue(escapes[i + 3]);
        if (high < 0 || low < 0)
            return std::nullopt;
        char32_t c = char32_t(high * 16 + low);
        appendUTF8(text, c == 0 ? 0xFFFD : c);
    }
    return text;
}

std::optional<std::string_view> between(std::string_view script, std::string_view head, std::string_view tail)
{
    if (script.size() < head.size() + tail.size() || !script.starts_with(head) || !script.ends_with(tail))
        return std::nullopt;
    return script.substr(head.size(), script.size() - head.size() - tail.size());
}

std::optional<pageStatement> stringStatement(pageStatement::kind what, std::optional<std::string_view> escapes)
{
    if (!escapes)
        return std::nullopt;
    std::optional<std::string> text = parseEscapes(*escapes);
    if (!text)
        return std::nullopt;
    return pageStatement{what, 0, std::move(*text)};
}

} // namespace

std::optional<pageStatement> parsePageStatement(std::string_view script)
{
    if (auto digits = between(script, kProgressHead, kProgressTail)) {
        std::optional<uint32_t> percent = parsePercent(*digits);
        if (!percent)
            return std::nullopt;
        return pageStatement{pageStatement::kind::progressWidth, *percent, {}};
    }
    if (script.starts_with(kStatusHead))
        return stringStatement(pageStatement::kind::statusMarkup, between(script, kStatusHead, kStringTail));
    return stringStatement(pageStatement::kind::title, between(script, kTitleHead, kStringTail));
}

} // namespace eawebkit::engine
