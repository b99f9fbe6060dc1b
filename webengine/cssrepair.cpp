#include "webengine/cssrepair.h"

#include "webengine/asciitext.h"

#include <gumbo.h>

#include <algorithm>
#include <charconv>
#include <vector>

namespace eawebkit::engine {
namespace {

// How a quote is written where the style text stands: literally in a style sheet, as a character
// reference inside an attribute (whatever quotes the attribute itself uses).
struct quoteForm {
    char literal;
    std::string_view written;
};

struct quoteSpelling {
    quoteForm doubleQuote;
    quoteForm singleQuote;
};

constexpr quoteSpelling kInStyleSheet{{'"', "\""}, {'\'', "'"}};
constexpr quoteSpelling kInAttribute{{'"', "&quot;"}, {'\'', "&#39;"}};

bool isNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

bool startsUrl(std::string_view css, size_t at)
{
    if (at + 4 > css.size() || (at > 0 && isNameChar(css[at - 1])))
        return false;
    return equalsNoCase(css.substr(at, 4), "url(");
}

bool holds(std::string_view value, const quoteForm& quote)
{
    return value.find(quote.literal) != std::string_view::npos || value.find(quote.written) != std::string_view::npos;
}

bool quotedAlready(std::string_view value, const quoteSpelling& spelling)
{
    return value[0] == '"' || value[0] == '\'' || value.starts_with(spelling.doubleQuote.written) ||
           value.starts_with(spelling.singleQuote.written);
}

std::string quoteUrls(std::string_view css, const quoteSpelling& spelling)
{
    std::string out;
    out.reserve(css.size() + 16);
    size_t copied = 0;
    for (size_t at = 0; at < css.size(); ++at) {
        if (!startsUrl(css, at))
            continue;
        size_t begin = at + 4;
        while (begin < css.size() && isHtmlSpace(css[begin]))
            ++begin;
        size_t close = css.find(')', begin);
        if (close == std::string_view::npos)
            break;
        size_t end = close;
        while (end > begin && isHtmlSpace(css[end - 1]))
            --end;
        std::string_view value = css.substr(begin, end - begin);
        if (value.empty() || quotedAlready(value, spelling))
            continue;
        std::string_view quote = !holds(value, spelling.doubleQuote)   ? spelling.doubleQuote.written
                                 : !holds(value, spelling.singleQuote) ? spelling.singleQuote.written
                                                                       : std::string_view{};
        if (quote.empty())
            continue;
        out.append(css.substr(copied, begin - copied)).append(quote).append(value).append(quote);
        copied = end;
        at = close;
    }
    out.append(css.substr(copied));
    return out;
}

// The font-weight declarations' numbers as the keywords the library reads.
std::string nameWeights(std::string_view css)
{
    static constexpr std::string_view kProperty = "font-weight";
    std::string out;
    size_t copied = 0;
    for (size_t at = 0; at + kProperty.size() <= css.size(); ++at) {
        if (!equalsNoCase(css.substr(at, kProperty.size()), kProperty) || (at > 0 && isNameChar(css[at - 1])))
            continue;
        size_t i = at + kProperty.size();
        while (i < css.size() && isHtmlSpace(css[i]))
            ++i;
        if (i >= css.size() || css[i] != ':')
            continue;
        ++i;
        while (i < css.size() && isHtmlSpace(css[i]))
            ++i;
        size_t digits = i;
        int weight = 0;
        while (i < css.size() && i - digits < 4 && css[i] >= '0' && css[i] <= '9')
            weight = weight * 10 + (css[i++] - '0');
        if (i == digits || (i < css.size() && (isNameChar(css[i]) || css[i] == '.')))
            continue;
        out.append(css.substr(copied, digits - copied)).append(weight >= 600 ? "bold" : "normal");
        copied = i;
        at = i - 1;
    }
    out.append(css.substr(copied));
    return out;
}

// The length of a gradient function starting at `at` (up to its matching parenthesis), or 0.
size_t gradientLength(std::string_view css, size_t at)
{
    static constexpr std::string_view kKinds[] = {"linear-gradient(", "radial-gradient(", "conic-gradient(",
                                                  "repeating-linear-gradient(", "repeating-radial-gradient(",
                                                  "repeating-conic-gradient("};
    if (at > 0 && isNameChar(css[at - 1]))
        return 0;
    for (std::string_view kind : kKinds) {
        if (!equalsNoCase(css.substr(at, kind.size()), kind))
            continue;
        int depth = 0;
        for (size_t i = at + kind.size() - 1; i < css.size(); ++i) {
            depth += css[i] == '(' ? 1 : css[i] == ')' ? -1 : 0;
            if (depth == 0)
                return i + 1 - at;
        }
        return 0;
    }
    return 0;
}

// Gradients left out: the library would take their arguments for an image's address (and a gradient put
// as none after a colour costs the colour).
std::string dropGradients(std::string_view css)
{
    std::string out;
    size_t copied = 0;
    for (size_t at = 0; at < css.size(); ++at) {
        size_t length = gradientLength(css, at);
        if (length == 0)
            continue;
        out.append(css.substr(copied, at - copied));
        copied = at + length;
        at = copied - 1;
    }
    out.append(css.substr(copied));
    return out;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Beyond any size a page means, and small enough that the library's conversions of a value, scaled by
// a font size or a view's width, to whole pixels stay far inside an int.
constexpr double kMaxNumber = 100000;
constexpr std::string_view kMaxNumberText = "100000";

// The end of the number starting at `at`: digits, a fraction, an exponent.
size_t numberEnd(std::string_view css, size_t at)
{
    auto digits = [&](size_t i) {
        while (i < css.size() && isDigit(css[i]))
            ++i;
        return i;
    };
    size_t end = digits(at);
    if (end + 1 < css.size() && css[end] == '.' && isDigit(css[end + 1]))
        end = digits(end + 1);
    if (end + 1 < css.size() && (css[end] == 'e' || css[end] == 'E')) {
        size_t exponent = end + 1 + (css[end + 1] == '+' || css[end + 1] == '-');
        if (exponent < css.size() && isDigit(css[exponent]))
            end = digits(exponent);
    }
    return end;
}

// A number that is part of a name (h1, a colour's #123456, an escape) is no size.
bool inName(std::string_view css, size_t at)
{
    if (at == 0)
        return false;
    char before = css[at - 1];
    bool sign = before == '-' && (at < 2 || !isNameChar(css[at - 2]));
    return !sign && (isNameChar(before) || before == '#' || before == '\\' || before == '.');
}

// Where a string or url() value starting at `at` ends, or `at` when none starts there. Quotes written as
// character references do not count: each number between them is clamped.
size_t skipString(std::string_view css, size_t at, const quoteSpelling& spelling)
{
    char c = css[at];
    bool literalQuotes = spelling.doubleQuote.written.size() == 1;
    size_t end = literalQuotes && (c == '"' || c == '\'') ? css.find(c, at + 1)
                 : startsUrl(css, at)                     ? css.find(')', at)
                                                          : at;
    return end == std::string_view::npos ? at : end;
}

// Numbers above kMaxNumber become kMaxNumber, their sign and unit kept: the library turns sizes into
// whole pixels without a check. Strings and url() values stay as they are.
std::string clampNumbers(std::string_view css, const quoteSpelling& spelling)
{
    std::string out;
    size_t copied = 0;
    for (size_t at = 0; at < css.size(); ++at) {
        char c = css[at];
        size_t skipTo = skipString(css, at, spelling);
        if (skipTo != at || !(isDigit(c) || (c == '.' && at + 1 < css.size() && isDigit(css[at + 1])))) {
            at = skipTo;
            continue;
        }
        size_t end = numberEnd(css, at);
        if (inName(css, at)) {
            while (end < css.size() && (isNameChar(css[end]) || css[end] == '.'))
                ++end;
            at = end - 1;
            continue;
        }
        double value = 0;
        auto [stop, failed] = std::from_chars(css.data() + at, css.data() + end, value);
        // Out of a double's range: huge, or below its smallest with a negative exponent.
        bool huge = failed == std::errc::result_out_of_range && css.substr(at, end - at).find('-') == std::string_view::npos;
        if (huge || value > kMaxNumber) {
            out.append(css.substr(copied, at - copied)).append(kMaxNumberText);
            copied = end;
        }
        at = end - 1;
    }
    out.append(css.substr(copied));
    return out;
}

std::string repair(std::string_view css, const quoteSpelling& spelling)
{
    return clampNumbers(dropGradients(nameWeights(quoteUrls(css, spelling))), spelling);
}

struct edit {
    size_t offset;
    size_t length;
    std::string text;
};

void addEdit(std::vector<edit>& edits, std::string_view html, const GumboStringPiece& piece,
             const quoteSpelling& spelling)
{
    if (!piece.data || piece.length == 0)
        return;
    std::string_view original(piece.data, piece.length);
    std::string mended = repair(original, spelling);
    if (mended != original)
        edits.push_back({size_t(piece.data - html.data()), piece.length, std::move(mended)});
}

// Attributes the library reads as sizes, as it reads a style's.
bool isSizeAttribute(std::string_view name)
{
    static constexpr std::string_view kNames[] = {"width",       "height",      "border", "cellpadding",
                                                  "cellspacing", "size",        "hspace", "vspace"};
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

void collectEdits(const GumboNode* node, std::string_view html, std::vector<edit>& edits)
{
    if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
        return;
    const GumboElement& element = node->v.element;
    for (unsigned i = 0; i < element.attributes.length; ++i) {
        auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
        std::string_view name(attribute->name);
        if (name == "style" || isSizeAttribute(name))
            addEdit(edits, html, attribute->original_value, kInAttribute);
    }
    for (unsigned i = 0; i < element.children.length; ++i) {
        auto* child = static_cast<const GumboNode*>(element.children.data[i]);
        if (element.tag == GUMBO_TAG_STYLE && child->type == GUMBO_NODE_TEXT)
            addEdit(edits, html, child->v.text.original_text, kInStyleSheet);
        else
            collectEdits(child, html, edits);
    }
}

// Only pieces that lie inside the parsed text can be replaced (the parser's own insertions have none).
bool insideText(const edit& e, std::string_view html)
{
    return e.offset <= html.size() && e.length <= html.size() - e.offset;
}

} // namespace

std::string repairCss(std::string_view css)
{
    return repair(css, kInStyleSheet);
}

std::string repairHtmlCss(std::string_view html)
{
    // With nothing to mend anywhere there is nothing to look for (every number counts here, between
    // quotes too).
    if (repair(html, kInAttribute) == html)
        return std::string(html);
    GumboOptions options = kGumboDefaultOptions;
    GumboOutput* output = gumbo_parse_with_options(&options, html.data(), html.size());
    std::vector<edit> edits;
    collectEdits(output->root, html, edits);
    gumbo_destroy_output(&options, output);
    std::sort(edits.begin(), edits.end(), [](const edit& a, const edit& b) { return a.offset < b.offset; });
    std::string out;
    out.reserve(html.size() + 16 * edits.size());
    size_t copied = 0;
    for (const edit& e : edits) {
        if (!insideText(e, html) || e.offset < copied)
            continue;
        out.append(html.substr(copied, e.offset - copied)).append(e.text);
        copied = e.offset + e.length;
    }
    out.append(html.substr(copied));
    return out;
}

} // namespace eawebkit::engine
