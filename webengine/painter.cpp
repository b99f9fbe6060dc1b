#include "webengine/painter.h"

#include "webengine/asciitext.h"

#include <algorithm>
#include <cmath>

namespace eawebkit::engine {
namespace {

static_assert(litehtml::font_decoration_underline == kUnderline && litehtml::font_decoration_linethrough == kLineThrough &&
              litehtml::font_decoration_overline == kOverline);

constexpr int kDefaultFontSize = 16;
// Beyond any page, and well inside cairo's fixed-point range (24.8 bits).
constexpr int kUnbounded = 1 << 20;

cairo_t* context(litehtml::uint_ptr hdc)
{
    return reinterpret_cast<cairo_t*>(hdc);
}

textSystem::font* fontOf(litehtml::uint_ptr hFont)
{
    return reinterpret_cast<textSystem::font*>(hFont);
}

rgba colour(const litehtml::web_color& c)
{
    return {c.red / 255.0, c.green / 255.0, c.blue / 255.0, c.alpha / 255.0};
}

void setColour(cairo_t* cr, const litehtml::web_color& c)
{
    rgba v = colour(c);
    cairo_set_source_rgba(cr, v.red, v.green, v.blue, v.alpha);
}

bool hasRadius(const litehtml::border_radiuses& r)
{
    return r.top_left_x || r.top_left_y || r.top_right_x || r.top_right_y || r.bottom_right_x || r.bottom_right_y ||
           r.bottom_left_x || r.bottom_left_y;
}

// A quarter ellipse around (cx, cy) from angle a to angle b.
void corner(cairo_t* cr, double cx, double cy, double rx, double ry, double a, double b)
{
    if (rx <= 0 || ry <= 0) {
        cairo_line_to(cr, cx + rx * std::cos(a), cy + ry * std::sin(a));
        return;
    }
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_scale(cr, rx, ry);
    cairo_arc(cr, 0, 0, 1, a, b);
    cairo_restore(cr);
}

void roundedRectangle(cairo_t* cr, double x, double y, double w, double h, const litehtml::border_radiuses& r)
{
    if (!hasRadius(r)) {
        cairo_rectangle(cr, x, y, w, h);
        return;
    }
    const double pi = M_PI;
    cairo_new_sub_path(cr);
    corner(cr, x + w - r.top_right_x, y + r.top_right_y, r.top_right_x, r.top_right_y, -pi / 2, 0);
    corner(cr, x + w - r.bottom_right_x, y + h - r.bottom_right_y, r.bottom_right_x, r.bottom_right_y, 0, pi / 2);
    corner(cr, x + r.bottom_left_x, y + h - r.bottom_left_y, r.bottom_left_x, r.bottom_left_y, pi / 2, pi);
    corner(cr, x + r.top_left_x, y + r.top_left_y, r.top_left_x, r.top_left_y, pi, 3 * pi / 2);
    cairo_close_path(cr);
}

void roundedRectangle(cairo_t* cr, const litehtml::position& p, const litehtml::border_radiuses& r)
{
    roundedRectangle(cr, p.x, p.y, p.width, p.height, r);
}

// Insets of the four edges, in pixels from the border box.
struct insets {
    double left, top, right, bottom;
};

insets scaled(const litehtml::borders& b, double factor)
{
    return {b.left.width * factor, b.top.width * factor, b.right.width * factor, b.bottom.width * factor};
}

enum class side { left, top, right, bottom };

// The band of one side between two inset rectangles, with mitred corners.
void band(cairo_t* cr, const litehtml::position& box, side s, const insets& outer, const insets& inner)
{
    double x0 = box.x, y0 = box.y, x1 = box.x + box.width, y1 = box.y + box.height;
    struct point {
        double x, y;
    };
    point o[4] = {{x0 + outer.left, y0 + outer.top}, {x1 - outer.right, y0 + outer.top},
                  {x1 - outer.right, y1 - outer.bottom}, {x0 + outer.left, y1 - outer.bottom}};
    point i[4] = {{x0 + inner.left, y0 + inner.top}, {x1 - inner.right, y0 + inner.top},
                  {x1 - inner.right, y1 - inner.bottom}, {x0 + inner.left, y1 - inner.bottom}};
    // Corners in order top-left, top-right, bottom-right, bottom-left; a side runs between two of them.
    static constexpr int kFrom[] = {3, 0, 1, 2};
    int a = kFrom[int(s)], b = (a + 1) % 4;
    cairo_move_to(cr, o[a].x, o[a].y);
    cairo_line_to(cr, o[b].x, o[b].y);
    cairo_line_to(cr, i[b].x, i[b].y);
    cairo_line_to(cr, i[a].x, i[a].y);
    cairo_close_path(cr);
}

// Dotted and dashed sides: a dashed line along the middle of the side.
void dashedSide(cairo_t* cr, const litehtml::position& box, side s, const litehtml::border& b)
{
    double w = b.width, half = w / 2;
    double x0 = box.x, y0 = box.y, x1 = box.x + box.width, y1 = box.y + box.height;
    double dash[2] = {b.style == litehtml::border_style_dotted ? w : 3 * w,
                      b.style == litehtml::border_style_dotted ? w : 3 * w};
    cairo_save(cr);
    cairo_set_line_width(cr, w);
    cairo_set_dash(cr, dash, 2, 0);
    switch (s) {
    case side::left:
        cairo_move_to(cr, x0 + half, y0);
        cairo_line_to(cr, x0 + half, y1);
        break;
    case side::top:
        cairo_move_to(cr, x0, y0 + half);
        cairo_line_to(cr, x1, y0 + half);
        break;
    case side::right:
        cairo_move_to(cr, x1 - half, y0);
        cairo_line_to(cr, x1 - half, y1);
        break;
    case side::bottom:
        cairo_move_to(cr, x0, y1 - half);
        cairo_line_to(cr, x1, y1 - half);
        break;
    }
    cairo_stroke(cr);
    cairo_restore(cr);
}

bool visible(const litehtml::border& b)
{
    return b.width > 0 && b.style != litehtml::border_style_none && b.style != litehtml::border_style_hidden &&
           b.color.alpha > 0;
}

bool sameBorder(const litehtml::border& a, const litehtml::border& b)
{
    return a.width == b.width && a.style == b.style && a.color.red == b.color.red && a.color.green == b.color.green &&
           a.color.blue == b.color.blue && a.color.alpha == b.color.alpha;
}

// A rounded border of one width, style and colour all round.
bool drawRoundedBorder(cairo_t* cr, const litehtml::borders& borders, const litehtml::position& box)
{
    const litehtml::border& b = borders.top;
    if (!hasRadius(borders.radius) || !sameBorder(b, borders.left) || !sameBorder(b, borders.right) ||
        !sameBorder(b, borders.bottom) || b.style != litehtml::border_style_solid)
        return false;
    double half = b.width / 2.0;
    litehtml::border_radiuses r = borders.radius;
    litehtml::margins shrink;
    shrink.left = shrink.right = shrink.top = shrink.bottom = int(half);
    r -= shrink;
    roundedRectangle(cr, box.x + half, box.y + half, box.width - b.width, box.height - b.width, r);
    setColour(cr, b.color);
    cairo_set_line_width(cr, b.width);
    cairo_stroke(cr);
    return true;
}

std::string markerText(const litehtml::list_marker& marker)
{
    int n = marker.index;
    switch (marker.marker_type) {
    case litehtml::list_style_type_lower_alpha:
    case litehtml::list_style_type_lower_latin:
    case litehtml::list_style_type_upper_alpha:
    case litehtml::list_style_type_upper_latin: {
        bool upper = marker.marker_type == litehtml::list_style_type_upper_alpha ||
                     marker.marker_type == litehtml::list_style_type_upper_latin;
        std::string letters;
        for (int v = std::max(n, 1); v > 0; v = (v - 1) / 26)
            letters.insert(letters.begin(), char((upper ? 'A' : 'a') + (v - 1) % 26));
        return letters + ".";
    }
    default:
        return std::to_string(n) + ".";
    }
}

// An @import names its sheet as a string or as url(...).
std::string_view importTarget(std::string_view url)
{
    url = trimSpaces(url);
    if (url.size() > 5 && equalsNoCase(url.substr(0, 4), "url(") && url.ends_with(')'))
        url = trimSpaces(url.substr(4, url.size() - 5));
    if (url.size() >= 2 && (url.front() == '"' || url.front() == '\'') && url.back() == url.front())
        url = url.substr(1, url.size() - 2);
    return url;
}

} // namespace

void painter::setViewport(int width, int height)
{
    viewportWidth = width;
    viewportHeight = height;
}

litehtml::uint_ptr painter::create_font(const char* faceName, int size, int weight, litehtml::font_style italic,
                                        unsigned int decoration, litehtml::font_metrics* fm)
{
    fontMetrics metrics;
    textSystem::font* f = text.createFont(faceName ? faceName : "", size, weight,
                                          italic == litehtml::fontStyleItalic, decoration, metrics);
    if (fm) {
        fm->height = metrics.height;
        fm->ascent = metrics.ascent;
        fm->descent = metrics.descent;
        fm->x_height = metrics.xHeight;
        fm->draw_spaces = italic == litehtml::fontStyleItalic || decoration != 0;
    }
    return reinterpret_cast<litehtml::uint_ptr>(f);
}

void painter::delete_font(litehtml::uint_ptr hFont)
{
    text.deleteFont(fontOf(hFont));
}

int painter::text_width(const char* str, litehtml::uint_ptr hFont)
{
    return text.textWidth(fontOf(hFont), str ? str : "");
}

void painter::draw_text(litehtml::uint_ptr hdc, const char* str, litehtml::uint_ptr hFont, litehtml::web_color color,
                        const litehtml::position& pos)
{
    cairo_t* cr = context(hdc);
    cairo_save(cr);
    applyClips(cr);
    textSystem::font* f = fontOf(hFont);
    text.drawText(cr, f, str ? str : "", pos.x, pos.bottom() - text.descent(f), colour(color));
    cairo_restore(cr);
}

int painter::pt_to_px(int pt) const
{
    return int(std::lround(pt * 96.0 / 72.0));
}

int painter::get_default_font_size() const
{
    return kDefaultFontSize;
}

const char* painter::get_default_font_name() const
{
    return text.standardFamily().c_str();
}

void painter::draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker)
{
    cairo_t* cr = context(hdc);
    cairo_save(cr);
    applyClips(cr);
    const litehtml::position& p = marker.pos;
    if (!marker.image.empty()) {
        if (cairo_surface_t* image = host.image(host.resolve(marker.image, marker.baseurl ? marker.baseurl : "")))
            drawImage(cr, image, p);
    } else {
        setColour(cr, marker.color);
        switch (marker.marker_type) {
        case litehtml::list_style_type_none:
            break;
        case litehtml::list_style_type_circle:
            cairo_set_line_width(cr, 1);
            cairo_arc(cr, p.x + p.width / 2.0, p.y + p.height / 2.0, std::max(p.width / 2.0 - 0.5, 0.5), 0, 2 * M_PI);
            cairo_stroke(cr);
            break;
        case litehtml::list_style_type_disc:
            cairo_arc(cr, p.x + p.width / 2.0, p.y + p.height / 2.0, p.width / 2.0, 0, 2 * M_PI);
            cairo_fill(cr);
            break;
        case litehtml::list_style_type_square:
            cairo_rectangle(cr, p.x, p.y, p.width, p.height);
            cairo_fill(cr);
            break;
        default: {
            textSystem::font* f = fontOf(marker.font);
            std::string label = markerText(marker);
            int width = text.textWidth(f, label);
            text.drawText(cr, f, label, p.x + p.width - width, p.bottom(), colour(marker.color));
            break;
        }
        }
    }
    cairo_restore(cr);
}

void painter::load_image(const char* src, const char* baseurl, bool)
{
    if (src && *src)
        host.requestImage(host.resolve(src, baseurl ? baseurl : ""));
}

void painter::get_image_size(const char* src, const char* baseurl, litehtml::size& sz)
{
    cairo_surface_t* image = src && *src ? host.image(host.resolve(src, baseurl ? baseurl : "")) : nullptr;
    sz.width = image ? cairo_image_surface_get_width(image) : 0;
    sz.height = image ? cairo_image_surface_get_height(image) : 0;
}

void painter::drawImage(cairo_t* cr, cairo_surface_t* image, const litehtml::position& at) const
{
    int w = cairo_image_surface_get_width(image), h = cairo_image_surface_get_height(image);
    if (w <= 0 || h <= 0 || at.width <= 0 || at.height <= 0)
        return;
    cairo_save(cr);
    cairo_translate(cr, at.x, at.y);
    cairo_scale(cr, double(at.width) / w, double(at.height) / h);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
}

void painter::draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg)
{
    cairo_t* cr = context(hdc);
    cairo_save(cr);
    applyClips(cr);
    // The root's background is the canvas: it covers the whole view.
    if (!bg.is_root) {
        roundedRectangle(cr, bg.clip_box, bg.border_radius);
        cairo_clip(cr);
    }
    if (bg.color.alpha > 0) {
        setColour(cr, bg.color);
        cairo_paint(cr);
    }
    cairo_surface_t* image = bg.image.empty() ? nullptr : host.image(host.resolve(bg.image, bg.baseurl));
    if (image) {
        int sw = cairo_image_surface_get_width(image), sh = cairo_image_surface_get_height(image);
        int iw = bg.image_size.width > 0 ? bg.image_size.width : sw;
        int ih = bg.image_size.height > 0 ? bg.image_size.height : sh;
        if (sw > 0 && sh > 0 && iw > 0 && ih > 0) {
            cairo_pattern_t* pattern = cairo_pattern_create_for_surface(image);
            cairo_matrix_t matrix;
            cairo_matrix_init_scale(&matrix, double(sw) / iw, double(sh) / ih);
            cairo_matrix_translate(&matrix, -bg.position_x, -bg.position_y);
            cairo_pattern_set_matrix(pattern, &matrix);
            cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
            int x = bg.position_x, y = bg.position_y;
            switch (bg.repeat) {
            case litehtml::background_repeat_repeat:
                cairo_rectangle(cr, -kUnbounded, -kUnbounded, 2 * kUnbounded, 2 * kUnbounded);
                break;
            case litehtml::background_repeat_repeat_x:
                cairo_rectangle(cr, -kUnbounded, y, 2 * kUnbounded, ih);
                break;
            case litehtml::background_repeat_repeat_y:
                cairo_rectangle(cr, x, -kUnbounded, iw, 2 * kUnbounded);
                break;
            case litehtml::background_repeat_no_repeat:
                cairo_rectangle(cr, x, y, iw, ih);
                break;
            }
            cairo_set_source(cr, pattern);
            cairo_fill(cr);
            cairo_pattern_destroy(pattern);
        }
    }
    cairo_restore(cr);
}

void painter::draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders, const litehtml::position& box,
                           bool)
{
    cairo_t* cr = context(hdc);
    cairo_save(cr);
    applyClips(cr);
    if (!drawRoundedBorder(cr, borders, box)) {
        const std::pair<side, const litehtml::border*> sides[] = {
            {side::left, &borders.left}, {side::top, &borders.top}, {side::right, &borders.right},
            {side::bottom, &borders.bottom}};
        for (auto [s, b] : sides) {
            if (!visible(*b))
                continue;
            setColour(cr, b->color);
            if (b->style == litehtml::border_style_dotted || b->style == litehtml::border_style_dashed) {
                dashedSide(cr, box, s, *b);
                continue;
            }
            if (b->style == litehtml::border_style_double && b->width >= 3) {
                band(cr, box, s, scaled(borders, 0), scaled(borders, 1.0 / 3));
                band(cr, box, s, scaled(borders, 2.0 / 3), scaled(borders, 1));
            } else {
                band(cr, box, s, scaled(borders, 0), scaled(borders, 1));
            }
            cairo_fill(cr);
        }
    }
    cairo_restore(cr);
}

void painter::set_caption(const char* caption)
{
    host.setTitle(caption ? caption : "");
}

void painter::set_base_url(const char* base_url)
{
    host.setBase(base_url ? base_url : "");
}

// Style sheets come through import_css.
void painter::link(const std::shared_ptr<litehtml::document>&, const litehtml::element::ptr&) {}

void painter::on_anchor_click(const char* url, const litehtml::element::ptr&)
{
    if (url && *url)
        host.linkClicked(host.resolve(url, ""));
}

// The engine draws no cursor: the host does.
void painter::set_cursor(const char*) {}

void painter::transform_text(litehtml::tstring& str, litehtml::text_transform tt)
{
    bool wordStart = true;
    for (char& c : str) {
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        bool upper = tt == litehtml::text_transform_uppercase || (tt == litehtml::text_transform_capitalize && wordStart);
        if (letter && upper && c >= 'a')
            c = char(c - 'a' + 'A');
        else if (letter && tt == litehtml::text_transform_lowercase && c <= 'Z')
            c = char(c - 'A' + 'a');
        wordStart = c == ' ' || c == '\t' || c == '\n';
    }
}

void painter::import_css(litehtml::tstring& str, const litehtml::tstring& url, litehtml::tstring& baseurl)
{
    std::string address = host.resolve(importTarget(url), baseurl);
    if (const std::string* sheet = host.styleSheet(address, baseurl))
        str = *sheet;
    baseurl = address;
}

void painter::set_clip(const litehtml::position& pos, const litehtml::border_radiuses&, bool valid_x, bool valid_y)
{
    litehtml::position clip = pos;
    if (!valid_x) {
        clip.x = -kUnbounded;
        clip.width = 2 * kUnbounded;
    }
    if (!valid_y) {
        clip.y = -kUnbounded;
        clip.height = 2 * kUnbounded;
    }
    clips.push_back(clip);
}

void painter::del_clip()
{
    if (!clips.empty())
        clips.pop_back();
}

void painter::applyClips(cairo_t* cr) const
{
    for (const litehtml::position& clip : clips) {
        cairo_rectangle(cr, clip.x, clip.y, clip.width, clip.height);
        cairo_clip(cr);
    }
}

void painter::get_client_rect(litehtml::position& client) const
{
    client = litehtml::position(0, 0, viewportWidth, viewportHeight);
}

// Every element is the library's own.
std::shared_ptr<litehtml::element> painter::create_element(const char*, const litehtml::string_map&,
                                                           const std::shared_ptr<litehtml::document>&)
{
    return nullptr;
}

void painter::get_media_features(litehtml::media_features& media) const
{
    media.type = litehtml::media_type_screen;
    media.width = media.device_width = viewportWidth;
    media.height = media.device_height = viewportHeight;
    media.color = 8;
    media.color_index = 256;
    media.monochrome = 0;
    media.resolution = 96;
}

void painter::get_language(litehtml::tstring& language, litehtml::tstring& culture) const
{
    language = "en";
    culture.clear();
}

} // namespace eawebkit::engine
