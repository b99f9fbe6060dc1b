#pragma once
// Bounds on what a page may cost, measured before the HTML library sees it. The library's work grows with
// the square of the nesting, by about 2.6 times with each table around an element, and with the number of
// ways a selector's descendant steps can be placed over an element's ancestors; its recursion takes about
// half a KiB of stack a level, and each element about 1 KiB of memory. The HTML parser itself takes time
// growing with the square of the nesting, and reopens every formatting element still open in each later
// run of text or tag. A page that passes a bound fails to load, its old content kept.
#include "webengine/eawebkit.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace eawebkit::engine {

// The page and every use of a style sheet in one build of its document.
inline constexpr size_t kMaxPageBytes = size_t(1) << 20;
// Start tags, counted before the parser runs: its time grows with their nesting.
inline constexpr size_t kMaxStartTags = 4096;
// Elements the parser may make, formatting elements it reopens included, counted before it runs.
inline constexpr double kMaxParsedElements = 16384;
inline constexpr int kMaxDepth = 256;
// Elements and text pieces (a word, a space) of the document, each an element of the library's.
inline constexpr size_t kMaxNodes = 50000;
// Nodes, each weighted by 3 for every table around it (for every element around it, once a style makes
// elements tables).
inline constexpr double kMaxLayoutWork = 2e6;
// Cells of the tables' grids (rows times the widest row's columns, spans counted), about 64 bytes each.
inline constexpr double kMaxTableCells = 100000;
inline constexpr size_t kMaxSelectorBytes = 1024;
inline constexpr int kMaxCompounds = 32;
inline constexpr int kMaxSelectorNesting = 8;
// Ways of matching every selector over the elements, counted as the library matches them.
inline constexpr double kMaxSelectorWork = 1e7;
inline constexpr int kMaxImportDepth = 8;
// Style sheets handed to the library in one build, each @import and each link counted.
inline constexpr int kMaxImports = 64;
// Pixels of every image of a page, at 4 bytes each.
inline constexpr uint64_t kMaxImageBytes = uint64_t(128) << 20;

// A bound a page passed: the load error it fails with, and the bound as one line of text.
struct overrun {
    LoadError code;
    std::string what;
};

// The shape of a document as the HTML parser builds it, for the cost of matching selectors over it.
class documentShape {
public:
    // Measures markup (a page, or a fragment added to one) against the bounds, adding the work of matching
    // the selectors of its style elements and of the user agent's style sheet to `styleWork`.
    std::optional<overrun> measure(std::string_view html, double& styleWork);
    // Adds the work of matching a style sheet's selectors over the document to `work`.
    std::optional<overrun> addSelectorWork(std::string_view css, double& work) const;
    // The same for a page's own style, which also weighs every element as a table once it makes elements
    // tables (the user agent's makes only table elements tables).
    std::optional<overrun> measureStyle(std::string_view css, double& work) const;

private:
    bool measureFromTags(std::string_view html, double elements, double& styleWork);
    std::optional<overrun> measureTree(std::string_view html, double& styleWork);
    std::optional<overrun> layoutWithStyledTables() const;
    void addUserAgentWork(double& work) const;
    // Elements whose ancestors (and, with siblings, their siblings) the library may try in every
    // combination of the skipping steps.
    double selectorWork(std::string_view subject, int skipping, bool siblings) const;

    std::map<std::string, std::vector<double>, std::less<>> byTag; // elements of a tag at each depth
    std::vector<double> all;                                        // elements at each depth
    std::vector<double> piecesAt;                                   // text pieces at each depth
    size_t widest = 0;                                              // most children of one element
    bool anyTag = false; // the counts are not by tag: every selector's subject may be any element
};

} // namespace eawebkit::engine
