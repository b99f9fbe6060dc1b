#include "webengine/textsystem.h"

#include "webengine/asciitext.h"
#include "webengine/guard.h"
#include "webengine/images.h"
#include "webengine/url.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SIZES_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <unordered_map>

namespace eawebkit::engine {

std::string familyKey(std::string_view name)
{
    std::string key;
    for (char c : name)
        if (c != '"' && c != '\'' && !isHtmlSpace(c))
            key.push_back(lowerAscii(c));
    return key;
}

namespace {

int genericSlot(std::string_view name)
{
    static constexpr std::pair<std::string_view, int> kGeneric[] = {
        {"serif", kFontSerif}, {"sans-serif", kFontSansSerif}, {"monospace", kFontMonospace},
        {"cursive", kFontCursive}, {"fantasy", kFontFantasy},
    };
    for (auto [generic, slot] : kGeneric)
        if (name == generic)
            return slot;
    return -1;
}

int roundUp26_6(FT_Pos value)
{
    return int((value + 63) >> 6);
}

int round26_6(FT_Pos value)
{
    return int((value + 32) >> 6);
}

// A line box for text whose face has not come yet, in the design units (of 2048 to the em) of a common
// sans-serif face, rounded as FreeType rounds that face's metrics: the line keeps its height, and the text
// that comes later fits it.
fontMetrics placeholderMetrics(int pixelSize)
{
    constexpr int kUnitsPerEm = 2048, kAscender = 1854, kDescender = 434, kLineHeight = 2355, kXHeight = 1082;
    auto scaled = [pixelSize](int units, int rounding) { return (pixelSize * units + rounding) / kUnitsPerEm; };
    fontMetrics m;
    m.ascent = scaled(kAscender, kUnitsPerEm - 1);
    m.descent = scaled(kDescender, kUnitsPerEm - 1);
    m.height = scaled(kLineHeight, kUnitsPerEm / 2);
    m.xHeight = scaled(kXHeight, 0);
    return m;
}

// Holds a reference on a host stream for as long as the engine reads it.
class streamReference {
public:
    explicit streamReference(Stream* stream) : stream(stream) { stream->AddRef(); }
    ~streamReference() { stream->Release(); }
    streamReference(const streamReference&) = delete;
    streamReference& operator=(const streamReference&) = delete;

private:
    Stream* stream;
};

bool readWhole(Stream& stream, std::vector<unsigned char>& bytes)
{
    uint64_t size = stream.GetSize();
    if (size == 0 || size > textSystem::kMaxFaceBytes || !stream.SetPosition(0, kPositionBegin))
        return false;
    bytes.resize(size_t(size));
    uint64_t got = 0;
    while (got < size) {
        uint64_t n = stream.Read(bytes.data() + got, size - got);
        if (n == 0 || n > size - got)
            return false;
        got += n;
    }
    return true;
}

surfacePtr maskFromBitmap(const FT_Bitmap& bitmap)
{
    if (bitmap.width == 0 || bitmap.rows == 0)
        return nullptr;
    surfacePtr mask(cairo_image_surface_create(CAIRO_FORMAT_A8, int(bitmap.width), int(bitmap.rows)));
    unsigned char* out = cairo_image_surface_get_data(mask.get());
    int stride = cairo_image_surface_get_stride(mask.get());
    for (unsigned row = 0; row < bitmap.rows; ++row) {
        const unsigned char* in = bitmap.buffer + ptrdiff_t(row) * bitmap.pitch;
        unsigned char* to = out + ptrdiff_t(row) * stride;
        for (unsigned column = 0; column < bitmap.width; ++column)
            to[column] = bitmap.pixel_mode == FT_PIXEL_MODE_MONO ? ((in[column / 8] >> (7 - column % 8)) & 1) * 255
                                                                 : in[column];
    }
    cairo_surface_mark_dirty(mask.get());
    return mask;
}

// What a cached glyph costs beside its mask: its entry in the cache.
constexpr size_t kGlyphEntryBytes = 64;

} // namespace

struct textSystem::glyph {
    surfacePtr mask; // null for a blank glyph
    int left = 0;
    int top = 0;
    FT_Pos advance = 0; // 26.6

    size_t bytes() const
    {
        if (!mask)
            return kGlyphEntryBytes;
        return kGlyphEntryBytes + size_t(cairo_image_surface_get_stride(mask.get())) *
                                      size_t(cairo_image_surface_get_height(mask.get()));
    }
};

struct textSystem::freeTypeLibrary {
    FT_Library handle = nullptr;
    freeTypeLibrary() { FT_Init_FreeType(&handle); }
    ~freeTypeLibrary()
    {
        if (handle)
            FT_Done_FreeType(handle);
    }
};

struct textSystem::face {
    std::vector<unsigned char> bytes; // FreeType reads the face from here
    FT_Face ft = nullptr;
    std::string family; // lower case
    bool bold = false;
    bool italic = false;
    ~face()
    {
        if (ft)
            FT_Done_Face(ft);
    }
};

struct textSystem::sizedFace {
    FT_Face ft = nullptr;
    FT_Size size = nullptr;
    bool smooth = true;
    fontMetrics metrics;
    int underlinePosition = 0; // pixels below the base line
    int underlineThickness = 1;
    std::unordered_map<char32_t, glyph> glyphs;

    ~sizedFace()
    {
        if (size)
            FT_Done_Size(size);
    }

    glyph render(char32_t cp) const
    {
        glyph g;
        FT_Activate_Size(size);
        FT_Int32 flags = FT_LOAD_RENDER | (smooth ? FT_LOAD_TARGET_NORMAL : FT_LOAD_TARGET_MONO);
        if (FT_Load_Glyph(ft, FT_Get_Char_Index(ft, FT_ULong(cp)), flags) == 0) {
            FT_GlyphSlot slot = ft->glyph;
            g.mask = maskFromBitmap(slot->bitmap);
            g.left = slot->bitmap_left;
            g.top = slot->bitmap_top;
            g.advance = slot->advance.x;
        }
        return g;
    }
};

class textSystem::font {
public:
    std::string families;
    int pixelSize;
    bool bold;
    bool italic;
    unsigned decoration;
    fontMetrics laidOut; // as handed to the page
    sizedFace* sized = nullptr;
    // The text system's generation when `sized` was picked; none before the first pick.
    std::optional<uint64_t> pickedAt = std::nullopt;
};

textSystem::textSystem() : library(std::make_unique<freeTypeLibrary>()) {}

textSystem::~textSystem() = default;

bool textSystem::AddFace(Stream* stream)
{
    return guarded(
        false,
        [&] {
            if (!stream || !library->handle)
                return false;
            std::unique_ptr<face> added;
            {
                // Taken first, so that the stream is released even when no copy can be made.
                streamReference reference(stream);
                added = std::make_unique<face>();
                if (!readWhole(*stream, added->bytes))
                    return false;
            }
            if (FT_New_Memory_Face(library->handle, added->bytes.data(), FT_Long(added->bytes.size()), 0,
                                   &added->ft) != 0) {
                added->ft = nullptr;
                return false;
            }
            if (!FT_IS_SCALABLE(added->ft) || !added->ft->family_name)
                return false;
            added->family = familyKey(added->ft->family_name);
            added->bold = added->ft->style_flags & FT_STYLE_FLAG_BOLD;
            added->italic = added->ft->style_flags & FT_STYLE_FLAG_ITALIC;
            faces.push_back(std::move(added));
            ++faceGeneration;
            ++sizedGeneration;
            return true;
        },
        ignore);
}

void textSystem::configure(const Parameters& parameters)
{
    for (size_t i = 0; i < kFontSlotCount; ++i) {
        const char16_t* name = parameters.fontFamilies[i];
        size_t length = std::find(name, name + kFontFamilyNameChars, u'\0') - name;
        slots[i] = familyKey(toUTF8(std::u16string_view(name, length)));
    }
    minSmoothSize = parameters.minFontSizeForSmoothing;
}

const textSystem::face* textSystem::pickStyle(std::string_view family, bool bold, bool italic) const
{
    const face* best = nullptr;
    int bestScore = -1;
    for (const auto& f : faces) {
        if (f->family != family)
            continue;
        int score = (f->bold == bold) * 2 + (f->italic == italic);
        if (score > bestScore) {
            best = f.get();
            bestScore = score;
        }
    }
    return best;
}

std::unique_ptr<textSystem::face> textSystem::openInstalled(const installedFonts::installedFace& installed,
                                                            std::string_view family)
{
    std::error_code error;
    uintmax_t size = std::filesystem::file_size(installed.path, error);
    if (error || size == 0 || size > kMaxFaceBytes)
        return nullptr;
    auto opened = std::make_unique<face>();
    if (FT_New_Face(library->handle, installed.path.c_str(), FT_Long(installed.index), &opened->ft) != 0) {
        opened->ft = nullptr;
        return nullptr;
    }
    if (!FT_IS_SCALABLE(opened->ft))
        return nullptr;
    opened->family = family;
    opened->bold = installed.bold;
    opened->italic = installed.italic;
    return opened;
}

const textSystem::face* textSystem::pickInstalled(std::string_view family, bool bold, bool italic)
{
    const installedFonts::installedFace* found = library->handle ? installed.find(family, bold, italic) : nullptr;
    if (!found)
        return nullptr;
    auto opened = installedFaces.find(found);
    if (opened != installedFaces.end())
        return opened->second.get();
    if (installedFaces.size() >= kMaxInstalledFaces)
        return nullptr;
    return installedFaces.emplace(found, openInstalled(*found, family)).first->second.get();
}

const textSystem::face* textSystem::pickFamily(std::string_view family, bool bold, bool italic)
{
    if (const face* f = pickStyle(family, bold, italic))
        return f;
    return pickInstalled(family, bold, italic);
}

const textSystem::face* textSystem::pickFace(std::string_view families, bool bold, bool italic)
{
    while (!families.empty()) {
        size_t comma = families.find(',');
        std::string name = familyKey(families.substr(0, comma));
        families.remove_prefix(comma == std::string_view::npos ? families.size() : comma + 1);
        int slot = genericSlot(name);
        if (const face* f = pickFamily(slot < 0 ? name : slots[size_t(slot)], bold, italic))
            return f;
    }
    if (const face* f = pickFamily(slots[kFontStandard], bold, italic))
        return f;
    return faces.empty() ? nullptr : pickStyle(faces.front()->family, bold, italic);
}

textSystem::sizedFace& textSystem::sized(const face& f, int pixelSize)
{
    bool smooth = uint32_t(pixelSize) >= minSmoothSize;
    std::tuple<const face*, int, bool> key{&f, pixelSize, smooth};
    auto found = sizes.find(key);
    if (found != sizes.end())
        return *found->second;
    if (sizes.size() >= kMaxSizedFaces) {
        sizes.clear();
        glyphBytes = 0;
        ++sizedGeneration;
    }
    auto& entry = sizes[key];
    entry = std::make_unique<sizedFace>();
    sizedFace& s = *entry;
    s.ft = f.ft;
    s.smooth = smooth;
    FT_New_Size(f.ft, &s.size);
    FT_Activate_Size(s.size);
    FT_Set_Pixel_Sizes(f.ft, 0, FT_UInt(pixelSize));
    const FT_Size_Metrics& m = s.size->metrics;
    s.metrics.ascent = roundUp26_6(m.ascender);
    s.metrics.descent = roundUp26_6(-m.descender);
    s.metrics.height = roundUp26_6(m.height);
    auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(f.ft, FT_SFNT_OS2));
    s.metrics.xHeight = os2 && os2->version >= 2 && os2->sxHeight
                            ? int(int64_t(os2->sxHeight) * pixelSize / f.ft->units_per_EM)
                            : s.metrics.ascent / 2;
    s.underlinePosition = -round26_6(FT_MulFix(f.ft->underline_position, m.y_scale));
    s.underlineThickness = std::max(1, round26_6(FT_MulFix(f.ft->underline_thickness, m.y_scale)));
    return s;
}

textSystem::sizedFace* textSystem::resolve(font& f)
{
    if (f.pickedAt != sizedGeneration) {
        const face* picked = pickFace(f.families, f.bold, f.italic);
        f.sized = picked ? &sized(*picked, f.pixelSize) : nullptr;
        // Read after the pick, which may have dropped the sized faces.
        f.pickedAt = sizedGeneration;
    }
    return f.sized;
}

const textSystem::glyph& textSystem::glyphOf(sizedFace& s, char32_t cp)
{
    auto found = s.glyphs.find(cp);
    if (found != s.glyphs.end())
        return found->second;
    glyph g = s.render(cp);
    size_t bytes = g.bytes();
    if (glyphBytes + bytes > kMaxGlyphBytes) {
        for (auto& [key, cached] : sizes)
            cached->glyphs.clear();
        glyphBytes = 0;
    }
    glyphBytes += bytes;
    return s.glyphs.emplace(cp, std::move(g)).first->second;
}

textSystem::font* textSystem::createFont(std::string_view families, int pixelSize, int weight, bool italic,
                                         unsigned decoration, fontMetrics& metrics)
{
    auto* f = new font{std::string(families), std::clamp(pixelSize, 1, kMaxPixelSize), weight >= 600, italic,
                       decoration, {}};
    const sizedFace* s = resolve(*f);
    f->laidOut = s ? s->metrics : placeholderMetrics(f->pixelSize);
    metrics = f->laidOut;
    return f;
}

void textSystem::deleteFont(font* f)
{
    delete f;
}

int textSystem::textWidth(font* f, std::string_view utf8)
{
    sizedFace* s = f ? resolve(*f) : nullptr;
    if (!s)
        return 0;
    FT_Pos width = 0;
    while (!utf8.empty())
        width += glyphOf(*s, nextCodePoint(utf8)).advance;
    return round26_6(width);
}

int textSystem::descent(font* f) const
{
    return f ? f->laidOut.descent : 0;
}

void textSystem::drawText(cairo_t* cr, font* f, std::string_view utf8, int x, int baseline, const rgba& color)
{
    sizedFace* picked = f ? resolve(*f) : nullptr;
    if (!picked)
        return;
    sizedFace& s = *picked;
    cairo_save(cr);
    cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
    FT_Pos pen = FT_Pos(x) * 64;
    while (!utf8.empty()) {
        const glyph& g = glyphOf(s, nextCodePoint(utf8));
        if (g.mask)
            cairo_mask_surface(cr, g.mask.get(), round26_6(pen) + g.left, baseline - g.top);
        pen += g.advance;
    }
    int width = round26_6(pen) - x;
    auto line = [&](int y) {
        cairo_rectangle(cr, x, y, width, s.underlineThickness);
        cairo_fill(cr);
    };
    if (f->decoration & kUnderline)
        line(baseline + s.underlinePosition);
    if (f->decoration & kLineThrough)
        line(baseline - s.metrics.xHeight / 2);
    if (f->decoration & kOverline)
        line(baseline - s.metrics.ascent);
    cairo_restore(cr);
}

} // namespace eawebkit::engine
