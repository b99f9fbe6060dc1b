#include "webengine/pagebounds.h"

#include "webengine/asciitext.h"
#include "webengine/url.h"
#include "webengine/useragentstyle.h"

#include <gumbo.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace eawebkit::engine {
namespace {

overrun tooComplex(std::string what)
{
    return {kLoadErrorTooComplex, std::move(what)};
}

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isNameChar(char c)
{
    return isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// The elements the parser reopens in every later run of text or tag while they are open.
bool isFormatting(std::string_view tag)
{
    static constexpr std::string_view kTags[] = {"a",      "b",     "big",    "code", "em", "font", "i",
                                                 "nobr",   "s",     "small",  "strike", "strong", "tt", "u"};
    return std::find(std::begin(kTags), std::end(kTags), tag) != std::end(kTags);
}

// Most elements one misnested formatting end tag makes the parser clone (its adoption loops are bounded).
constexpr double kClonesPerMisnestedEnd = 32;

struct tagCount {
    size_t startTags = 0;
    double elements = 0;
    bool needsTree = false; // a tag that only the parsed tree measures
};

// Tags the parser may add elements around (tables' parts, isindex), and links, whose sheets are measured
// against the tree.
bool needsTree(std::string_view tag)
{
    static constexpr std::string_view kTags[] = {"table", "caption", "colgroup", "col", "tbody",   "thead",
                                                 "tfoot", "tr",      "td",       "th",  "isindex", "link"};
    return std::find(std::begin(kTags), std::end(kTags), tag) != std::end(kTags);
}

bool containsNoCase(std::string_view text, std::string_view part)
{
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [](char a, char b) { return lowerAscii(a) == b; }) != text.end();
}

void endTag(std::vector<std::string>& open, const std::string& tag, tagCount& count)
{
    count.elements += 1;
    auto found = std::find(open.rbegin(), open.rend(), tag);
    if (found == open.rend())
        return;
    if (found != open.rbegin())
        count.elements += kClonesPerMisnestedEnd;
    open.erase(std::next(found).base());
}

// What the parser may make of the markup, counted from its tags alone, before it runs. Every '<' followed
// by a letter counts, wherever it stands: a count too high only refuses sooner.
tagCount countTags(std::string_view html)
{
    tagCount count;
    std::vector<std::string> open; // formatting elements not closed yet
    bool inText = false;
    for (size_t i = 0; i < html.size();) {
        size_t name = i + 1 + (i + 1 < html.size() && html[i + 1] == '/');
        if (html[i] != '<' || name >= html.size() || !isAsciiLetter(html[name])) {
            if (!inText)
                count.elements += double(open.size());
            inText = true;
            ++i;
            continue;
        }
        size_t end = name;
        while (end < html.size() && isNameChar(html[end]))
            ++end;
        std::string tag = lowerAscii(html.substr(name, end - name));
        bool closing = name > i + 1;
        size_t close = html.find('>', end);
        i = close == std::string_view::npos ? html.size() : close + 1;
        inText = false;
        if (closing) {
            endTag(open, tag, count);
            continue;
        }
        ++count.startTags;
        count.elements += 1 + double(open.size());
        count.needsTree |= needsTree(tag);
        if (isFormatting(tag))
            open.push_back(std::move(tag));
    }
    return count;
}

// The pieces the library makes of a text: each white space character, each CJK character and each run
// of other characters.
size_t textPieces(std::string_view text)
{
    size_t pieces = 0;
    bool inWord = false;
    while (!text.empty()) {
        char32_t c = nextCodePoint(text);
        bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
        bool alone = space || (c >= 0x4E00 && c <= 0x9FCC);
        pieces += alone || !inWord;
        inWord = !alone;
    }
    return pieces;
}

// The columns a cell spans, saturated far above any bound.
double columnSpan(const GumboNode* cell)
{
    const GumboAttribute* span = gumbo_get_attribute(&cell->v.element.attributes, "colspan");
    double columns = 0;
    for (const char* c = span ? span->value : ""; *c >= '0' && *c <= '9' && columns < 1e9; ++c)
        columns = columns * 10 + (*c - '0');
    return std::max(columns, 1.0);
}

// The columns a row's cells take.
double rowWidth(const GumboNode* row)
{
    double columns = 0;
    const GumboVector& children = row->v.element.children;
    for (unsigned i = 0; i < children.length; ++i) {
        auto* cell = static_cast<const GumboNode*>(children.data[i]);
        if (cell->type == GUMBO_NODE_ELEMENT && (cell->v.element.tag == GUMBO_TAG_TD || cell->v.element.tag == GUMBO_TAG_TH))
            columns += columnSpan(cell);
    }
    return columns;
}

const GumboNode* tableOf(const GumboNode* row)
{
    const GumboNode* at = row->parent;
    while (at && !(at->type == GUMBO_NODE_ELEMENT && at->v.element.tag == GUMBO_TAG_TABLE))
        at = at->parent;
    return at;
}

struct grid {
    double rows = 0;
    double columns = 0;
};

std::string tagName(const GumboNode* node)
{
    const GumboElement& element = node->v.element;
    if (element.tag != GUMBO_TAG_UNKNOWN)
        return gumbo_normalized_tagname(element.tag);
    GumboStringPiece original = element.original_tag;
    gumbo_tag_from_original_text(&original);
    return lowerAscii(std::string_view(original.data ? original.data : "", original.data ? original.length : 0));
}

double choose(double n, int k)
{
    if (k > n)
        return 0;
    double ways = 1;
    for (int i = 1; i <= k; ++i)
        ways = ways * (n - k + i) / i;
    return ways;
}

// One selector's steps: its compounds, the steps that may skip elements (descendant and general sibling),
// its deepest parentheses and the type its subject (the last compound) names, empty for any.
struct selectorSteps {
    int compounds = 0;
    int skipping = 0;
    bool siblings = false;
    int nesting = 0;
    std::string subject;
};

selectorSteps stepsOf(std::string_view selector)
{
    selectorSteps steps;
    int depth = 0;
    char pending = 0; // the combinator since the last compound: ' ', '>', '+', '~'
    bool inCompound = false;
    size_t subjectStart = 0;
    for (size_t i = 0; i < selector.size(); ++i) {
        char c = selector[i];
        if (depth == 0 && (isHtmlSpace(c) || c == '>' || c == '+' || c == '~')) {
            if (inCompound || pending)
                pending = isHtmlSpace(c) ? (pending ? pending : ' ') : c;
            inCompound = false;
            continue;
        }
        if (c == '(' || c == '[')
            steps.nesting = std::max(steps.nesting, ++depth);
        else if ((c == ')' || c == ']') && depth > 0)
            --depth;
        if (inCompound)
            continue;
        if (steps.compounds > 0) {
            steps.skipping += pending == ' ' || pending == '~';
            steps.siblings |= pending == '~';
        }
        ++steps.compounds;
        inCompound = true;
        pending = 0;
        subjectStart = i;
    }
    size_t end = subjectStart;
    while (end < selector.size() && isNameChar(selector[end]))
        ++end;
    steps.subject = lowerAscii(selector.substr(subjectStart, end - subjectStart));
    return steps;
}

// The elements the parser adds to any page: html, head and body.
constexpr double kImpliedElements = 3;

std::string withoutComments(std::string_view css)
{
    std::string out;
    out.reserve(css.size());
    for (size_t at = 0; at < css.size();) {
        size_t open = css.find("/*", at);
        out.append(css.substr(at, open == std::string_view::npos ? std::string_view::npos : open - at));
        size_t close = open == std::string_view::npos ? open : css.find("*/", open + 2);
        at = close == std::string_view::npos ? css.size() : close + 2;
    }
    return out;
}

// Calls `f` with every selector of the style text's rules (at-rules' own preludes are not selectors; the
// rules inside @media are).
template <class F>
std::optional<overrun> forEachSelector(std::string_view css, F&& f)
{
    size_t start = 0;
    for (size_t i = 0; i < css.size(); ++i) {
        if (css[i] == '}' || css[i] == ';') {
            start = i + 1;
            continue;
        }
        if (css[i] != '{')
            continue;
        std::string_view prelude = trimSpaces(css.substr(start, i - start));
        int depth = 1;
        size_t j = i + 1;
        if (!prelude.starts_with('@')) {
            for (; j < css.size() && depth > 0; ++j)
                depth += css[j] == '{' ? 1 : css[j] == '}' ? -1 : 0;
            i = j - 1;
        }
        start = j;
        for (size_t from = 0; !prelude.starts_with('@') && from <= prelude.size();) {
            size_t comma = prelude.find(',', from);
            size_t to = comma == std::string_view::npos ? prelude.size() : comma;
            if (auto o = f(trimSpaces(prelude.substr(from, to - from))))
                return o;
            from = to + 1;
        }
    }
    return std::nullopt;
}

// A display declaration with a table value: the style may make any element a table.
bool makesTables(std::string_view css)
{
    static constexpr std::string_view kProperty = "display";
    for (size_t at = 0; at + kProperty.size() <= css.size(); ++at) {
        if (!equalsNoCase(css.substr(at, kProperty.size()), kProperty))
            continue;
        size_t end = css.find_first_of(";}\"'>", at);
        if (lowerAscii(css.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at)).find("table") !=
            std::string::npos)
            return true;
    }
    return false;
}

// The user agent's selectors, read once.
const std::vector<selectorSteps>& userAgentSelectors()
{
    static const std::vector<selectorSteps> steps = [] {
        std::vector<selectorSteps> all;
        forEachSelector(withoutComments(kUserAgentStyleSheet), [&](std::string_view selector) {
            all.push_back(stepsOf(selector));
            return std::optional<overrun>();
        });
        return all;
    }();
    return steps;
}

} // namespace

void documentShape::addUserAgentWork(double& work) const
{
    for (const selectorSteps& steps : userAgentSelectors())
        work += selectorWork(steps.subject, steps.skipping, steps.siblings);
}

std::optional<overrun> documentShape::layoutWithStyledTables() const
{
    double work = 0;
    for (size_t depth = 1; depth < all.size(); ++depth)
        work += all[depth] * std::pow(3.0, double(depth - 1));
    for (size_t depth = 1; depth < piecesAt.size(); ++depth)
        work += piecesAt[depth] * std::pow(3.0, double(depth - 1));
    if (work > kMaxLayoutWork)
        return tooComplex("elements nested too deep to be laid out as tables");
    return std::nullopt;
}

std::optional<overrun> documentShape::measure(std::string_view html, double& styleWork)
{
    if (html.size() > kMaxPageBytes)
        return overrun{kLoadErrorTooLarge, "page above " + std::to_string(kMaxPageBytes) + " bytes"};
    tagCount tags = countTags(html);
    if (tags.startTags > kMaxStartTags)
        return tooComplex("more than " + std::to_string(kMaxStartTags) + " start tags");
    if (tags.elements > kMaxParsedElements)
        return tooComplex("more than " + std::to_string(int(kMaxParsedElements)) + " elements with those reopened");
    bool treeNeeded = tags.needsTree || containsNoCase(html, "@import");
    if (!treeNeeded && measureFromTags(html, tags.elements + kImpliedElements, styleWork))
        return std::nullopt;
    return measureTree(html, styleWork);
}

// A small page needs no parse: the elements its tags may make, all as deep as their number and all of any
// type, with its whole text read as style, pass every bound. False when they might not: the parsed tree
// tells.
bool documentShape::measureFromTags(std::string_view html, double elements, double& styleWork)
{
    if (elements > kMaxDepth || elements + double(html.size()) > double(kMaxNodes) || makesTables(html))
        return false;
    all.assign(size_t(elements) + 1, 0);
    all.back() = elements;
    widest = size_t(elements);
    anyTag = true;
    double work = 0;
    addUserAgentWork(work);
    if (work > kMaxSelectorWork || addSelectorWork(html, work)) {
        all.clear();
        widest = 0;
        anyTag = false;
        return false;
    }
    styleWork += work;
    return true;
}

std::optional<overrun> documentShape::measureTree(std::string_view html, double& styleWork)
{
    std::vector<std::string> styles;
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size());
    struct visit {
        const GumboNode* node;
        int depth;
        int tables;
    };
    std::vector<visit> pending{{output->root, 1, 0}};
    size_t nodes = 0;
    double layoutWork = 0;
    std::map<const GumboNode*, grid> grids;
    std::optional<overrun> over;
    while (!pending.empty() && !over) {
        visit at = pending.back();
        pending.pop_back();
        const GumboNode* node = at.node;
        if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE || node->type == GUMBO_NODE_CDATA) {
            const GumboNode* parent = node->parent;
            bool styleText = parent && parent->type == GUMBO_NODE_ELEMENT && parent->v.element.tag == GUMBO_TAG_STYLE;
            if (styleText)
                styles.emplace_back(node->v.text.text);
            size_t pieces = styleText ? 0 : textPieces(node->v.text.text);
            nodes += pieces;
            piecesAt.resize(std::max(piecesAt.size(), size_t(at.depth) + 1));
            piecesAt[size_t(at.depth)] += double(pieces);
            layoutWork += double(pieces) * std::pow(3.0, at.tables);
        }
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
            continue;
        ++nodes;
        layoutWork += std::pow(3.0, at.tables);
        if (at.depth > kMaxDepth)
            over = tooComplex("elements nested deeper than " + std::to_string(kMaxDepth));
        if (all.size() <= size_t(at.depth))
            all.resize(size_t(at.depth) + 1);
        all[size_t(at.depth)] += 1;
        std::vector<double>& ofTag = byTag[tagName(node)];
        ofTag.resize(std::max(ofTag.size(), size_t(at.depth) + 1));
        ofTag[size_t(at.depth)] += 1;
        if (node->v.element.tag == GUMBO_TAG_TR) {
            grid& g = grids[tableOf(node)];
            g.rows += 1;
            g.columns = std::max(g.columns, rowWidth(node));
        }
        const GumboVector& children = node->v.element.children;
        widest = std::max(widest, size_t(children.length));
        int tables = at.tables + (node->v.element.tag == GUMBO_TAG_TABLE);
        for (unsigned i = children.length; i-- > 0;)
            pending.push_back({static_cast<const GumboNode*>(children.data[i]), at.depth + 1, tables});
    }
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    if (over)
        return over;
    if (nodes > kMaxNodes)
        return tooComplex("more than " + std::to_string(kMaxNodes) + " elements and text pieces");
    if (layoutWork > kMaxLayoutWork)
        return tooComplex("tables nested too deep for their content");
    double cells = 0;
    for (const auto& [table, g] : grids)
        cells += g.rows * g.columns;
    if (cells > kMaxTableCells)
        return tooComplex("tables of more than " + std::to_string(int(kMaxTableCells)) + " cells");
    if (makesTables(html))
        if (auto over = layoutWithStyledTables())
            return over;
    addUserAgentWork(styleWork);
    for (const std::string& style : styles)
        if (auto over = addSelectorWork(style, styleWork))
            return over;
    return std::nullopt;
}

double documentShape::selectorWork(std::string_view subject, int skipping, bool siblings) const
{
    const std::vector<double>* counts = &all;
    if (!subject.empty() && !anyTag) {
        auto found = byTag.find(subject);
        if (found == byTag.end())
            return 0;
        counts = &found->second;
    }
    double work = 0;
    for (size_t depth = 1; depth < counts->size(); ++depth) {
        double reach = double(depth - 1) + (siblings ? double(widest) : 0);
        work += (*counts)[depth] * std::max(1.0, choose(reach, skipping));
    }
    return work;
}

std::optional<overrun> documentShape::measureStyle(std::string_view css, double& work) const
{
    if (makesTables(withoutComments(css)))
        if (auto over = layoutWithStyledTables())
            return over;
    return addSelectorWork(css, work);
}

std::optional<overrun> documentShape::addSelectorWork(std::string_view css, double& work) const
{
    std::string text = withoutComments(css);
    return forEachSelector(text, [&](std::string_view selector) -> std::optional<overrun> {
        if (selector.size() > kMaxSelectorBytes)
            return tooComplex("a selector above " + std::to_string(kMaxSelectorBytes) + " bytes");
        selectorSteps steps = stepsOf(selector);
        if (steps.compounds > kMaxCompounds)
            return tooComplex("a selector of more than " + std::to_string(kMaxCompounds) + " compounds");
        if (steps.nesting > kMaxSelectorNesting)
            return tooComplex("a selector nested deeper than " + std::to_string(kMaxSelectorNesting));
        work += selectorWork(steps.subject, steps.skipping, steps.siblings);
        if (work > kMaxSelectorWork)
            return tooComplex("selectors too costly to match over the elements");
        return std::nullopt;
    });
}

} // namespace eawebkit::engine
