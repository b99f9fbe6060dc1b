#pragma once
// The font faces the host adds, and text measured and drawn with them. A family the host has added no face
// of is drawn with the machine's installed face of that family (on a first start the host has none yet);
// a face the host adds of it takes over.
#include "webengine/eawebkit.h"
#include "webengine/systemfonts.h"

#include <cairo.h>

#include <array>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace eawebkit::engine {

struct fontMetrics {
    int height = 0;
    int ascent = 0;
    int descent = 0;
    int xHeight = 0;
};

// Text decoration bits, as the HTML library gives them.
enum textDecoration : unsigned {
    kUnderline = 1,
    kLineThrough = 2,
    kOverline = 4,
};

// How family names are compared: without quotes, case or spaces (the HTML library drops the spaces of a
// family named in the font shorthand).
std::string familyKey(std::string_view name);

struct rgba {
    double red, green, blue, alpha;
};

class textSystem final : public TextSystem {
public:
    static constexpr uint64_t kMaxFaceBytes = uint64_t(32) << 20;
    static constexpr int kMaxPixelSize = 512;
    // The machine's faces opened at most, whatever families the pages name.
    static constexpr size_t kMaxInstalledFaces = 64;
    // What the glyph cache holds at most, over all sizes: passing it drops the glyphs, which are rendered
    // again at their next use.
    static constexpr size_t kMaxGlyphBytes = size_t(64) << 20;
    // The faces opened at a size at most: passing it drops them all, and fonts pick theirs again.
    static constexpr size_t kMaxSizedFaces = 256;

    textSystem();
    ~textSystem();
    textSystem(const textSystem&) = delete;
    textSystem& operator=(const textSystem&) = delete;

    bool AddFace(Stream* stream) override;

    // The family names of the generic slots and the size below which text is not smoothed.
    void configure(const Parameters& parameters);
    // The standard slot's family, as CSS names it.
    const std::string& standardFamily() const { return slots[kFontStandard]; }

    // Counts the faces added: a font picked before the count changed is picked again, and text measured
    // before it is measured again.
    uint64_t generation() const { return faceGeneration; }

    class font;
    // A font for a CSS font-family list: the first family with a face, a generic name through its slot,
    // and the standard slot for the rest, then any face the host added; weight 600 and above asks for
    // Bold. A family has the host's faces when the host added any of it, else the machine's. Its face is
    // picked again at its next use once faces were added, so a page laid out before its faces came draws
    // with them; its metrics are those of its first face, or of a common sans-serif face when none existed
    // yet.
    font* createFont(std::string_view families, int pixelSize, int weight, bool italic, unsigned decoration,
                     fontMetrics& metrics);
    void deleteFont(font* f);
    // Zero, and nothing drawn, while no face exists.
    int textWidth(font* f, std::string_view utf8);
    // Pixels from the base line down to the bottom of the font's line box, as the page was laid out.
    int descent(font* f) const;
    // Text with its decoration; baseline is the y of the base line.
    void drawText(cairo_t* cr, font* f, std::string_view utf8, int x, int baseline, const rgba& color);

private:
    struct face;
    struct sizedFace;
    struct glyph;

    const face* pickFace(std::string_view families, bool bold, bool italic);
    const face* pickFamily(std::string_view family, bool bold, bool italic);
    const face* pickStyle(std::string_view family, bool bold, bool italic) const;
    const face* pickInstalled(std::string_view family, bool bold, bool italic);
    std::unique_ptr<face> openInstalled(const installedFonts::installedFace& installed, std::string_view family);
    sizedFace& sized(const face& f, int pixelSize);
    // The font's face at its size for the faces there are now; null while there is none.
    sizedFace* resolve(font& f);
    // The glyph of the sized face, rendered at its first use; valid until the next lookup.
    const glyph& glyphOf(sizedFace& s, char32_t cp);

    struct freeTypeLibrary;
    std::unique_ptr<freeTypeLibrary> library;
    std::vector<std::unique_ptr<face>> faces; // the host's
    installedFonts installed;
    // Opened at their first use; null for one that cannot be opened.
    std::map<const installedFonts::installedFace*, std::unique_ptr<face>> installedFaces;
    std::map<std::tuple<const face*, int, bool>, std::unique_ptr<sizedFace>> sizes;
    std::array<std::string, kFontSlotCount> slots; // compared as family keys
    uint32_t minSmoothSize = 0;
    uint64_t faceGeneration = 0;
    // Counts the faces added and the times the sized faces were dropped: a font's sized face picked before
    // it changed is picked again.
    uint64_t sizedGeneration = 0;
    size_t glyphBytes = 0;
};

} // namespace eawebkit::engine
