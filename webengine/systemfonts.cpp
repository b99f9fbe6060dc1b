#include "webengine/systemfonts.h"

#include "webengine/textsystem.h"

#include <fontconfig/fontconfig.h>

#include <cstdlib>
#include <memory>
#include <tuple>

namespace eawebkit::engine {
namespace {

template <class T, void (*destroy)(T*)>
struct fcDelete {
    void operator()(T* p) const { destroy(p); }
};
using configPtr = std::unique_ptr<FcConfig, fcDelete<FcConfig, FcConfigDestroy>>;
using patternPtr = std::unique_ptr<FcPattern, fcDelete<FcPattern, FcPatternDestroy>>;
using objectSetPtr = std::unique_ptr<FcObjectSet, fcDelete<FcObjectSet, FcObjectSetDestroy>>;
using fontSetPtr = std::unique_ptr<FcFontSet, fcDelete<FcFontSet, FcFontSetDestroy>>;

int integerOf(FcPattern* font, const char* object, int fallback)
{
    int value = fallback;
    return FcPatternGetInteger(font, object, 0, &value) == FcResultMatch ? value : fallback;
}

// Lower is closer: the bold and italic wishes first, as for the host's faces, then the weight nearest
// to regular or bold and the width nearest to normal.
std::tuple<int, int, int> distance(const installedFonts::installedFace& f, bool bold, bool italic)
{
    int style = (f.bold != bold) * 2 + (f.italic != italic);
    int weight = std::abs(f.weight - (bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR));
    return {style, weight, std::abs(f.width - FC_WIDTH_NORMAL)};
}

} // namespace

const installedFonts::installedFace* installedFonts::find(std::string_view family, bool bold, bool italic)
{
    if (!listed)
        list();
    auto found = families.find(family);
    if (found == families.end())
        return nullptr;
    const installedFace* best = nullptr;
    for (const installedFace& f : found->second)
        if (!best || distance(f, bold, italic) < distance(*best, bold, italic))
            best = &f;
    return best;
}

// Scalable faces only; a face is listed under each of its family names. A private configuration, so that
// nothing of fontconfig is kept once the list is read.
void installedFonts::list()
{
    listed = true;
    configPtr config(FcInitLoadConfigAndFonts());
    patternPtr pattern(FcPatternBuild(nullptr, FC_SCALABLE, FcTypeBool, FcTrue, nullptr));
    objectSetPtr objects(FcObjectSetBuild(FC_FAMILY, FC_FILE, FC_INDEX, FC_WEIGHT, FC_SLANT, FC_WIDTH, nullptr));
    if (!config || !pattern || !objects)
        return;
    fontSetPtr set(FcFontList(config.get(), pattern.get(), objects.get()));
    if (!set)
        return;
    for (int i = 0; i < set->nfont && size_t(i) < kMaxFaces; ++i) {
        FcPattern* font = set->fonts[i];
        FcChar8* file = nullptr;
        if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch)
            continue;
        installedFace f;
        f.path = reinterpret_cast<const char*>(file);
        f.index = integerOf(font, FC_INDEX, 0);
        f.weight = integerOf(font, FC_WEIGHT, FC_WEIGHT_REGULAR);
        f.width = integerOf(font, FC_WIDTH, FC_WIDTH_NORMAL);
        f.bold = f.weight >= FC_WEIGHT_BOLD;
        f.italic = integerOf(font, FC_SLANT, FC_SLANT_ROMAN) != FC_SLANT_ROMAN;
        FcChar8* name = nullptr;
        for (int n = 0; FcPatternGetString(font, FC_FAMILY, n, &name) == FcResultMatch; ++n)
            families[familyKey(reinterpret_cast<const char*>(name))].push_back(f);
    }
}

} // namespace eawebkit::engine
