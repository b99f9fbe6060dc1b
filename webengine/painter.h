#pragma once
// What the HTML library asks of its host while it builds, lays out and draws a document: fonts from the
// text system, drawing on cairo, and the page's resources through painterHost.
#include "webengine/textsystem.h"

#include <litehtml/litehtml.h>

#include <cairo.h>

#include <string>
#include <string_view>
#include <vector>

namespace eawebkit::engine {

class painterHost {
public:
    // An address seen from `base`, or from the page when `base` is empty.
    virtual std::string resolve(std::string_view reference, std::string_view base) = 0;
    // The text of a style sheet that is in (mended for the HTML library), or null: then it is requested,
    // unless a bound refuses it. `from` is the address of the sheet that imports it, or the page's base.
    virtual const std::string* styleSheet(const std::string& url, const std::string& from) = 0;
    virtual void requestImage(const std::string& url) = 0;
    // An image that is in, or null.
    virtual cairo_surface_t* image(const std::string& url) = 0;
    virtual void linkClicked(const std::string& url) = 0;
    virtual void setTitle(std::string_view title) = 0;
    virtual void setBase(std::string_view base) = 0;

protected:
    ~painterHost() = default;
};

class painter final : public litehtml::document_container {
public:
    painter(textSystem& text, painterHost& host) : text(text), host(host) {}

    void setViewport(int width, int height);

    litehtml::uint_ptr create_font(const char* faceName, int size, int weight, litehtml::font_style italic,
                                   unsigned int decoration, litehtml::font_metrics* fm) override;
    void delete_font(litehtml::uint_ptr hFont) override;
    int text_width(const char* text, litehtml::uint_ptr hFont) override;
    void draw_text(litehtml::uint_ptr hdc, const char* text, litehtml::uint_ptr hFont, litehtml::web_color color,
                   const litehtml::position& pos) override;
    int pt_to_px(int pt) const override;
    int get_default_font_size() const override;
    const char* get_default_font_name() const override;
    void draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) override;
    void load_image(const char* src, const char* baseurl, bool redraw_on_ready) override;
    void get_image_size(const char* src, const char* baseurl, litehtml::size& sz) override;
    void draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) override;
    void draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders, const litehtml::position& draw_pos,
                      bool root) override;
    void set_caption(const char* caption) override;
    void set_base_url(const char* base_url) override;
    void link(const std::shared_ptr<litehtml::document>& doc, const litehtml::element::ptr& el) override;
    void on_anchor_click(const char* url, const litehtml::element::ptr& el) override;
    void set_cursor(const char* cursor) override;
    void transform_text(litehtml::tstring& text, litehtml::text_transform tt) override;
    void import_css(litehtml::tstring& text, const litehtml::tstring& url, litehtml::tstring& baseurl) override;
    void set_clip(const litehtml::position& pos, const litehtml::border_radiuses& bdr_radius, bool valid_x,
                  bool valid_y) override;
    void del_clip() override;
    void get_client_rect(litehtml::position& client) const override;
    std::shared_ptr<litehtml::element> create_element(const char* tag_name, const litehtml::string_map& attributes,
                                                      const std::shared_ptr<litehtml::document>& doc) override;
    void get_media_features(litehtml::media_features& media) const override;
    void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override;

private:
    void applyClips(cairo_t* cr) const;
    void drawImage(cairo_t* cr, cairo_surface_t* image, const litehtml::position& at) const;

    textSystem& text;
    painterHost& host;
    std::vector<litehtml::position> clips;
    int viewportWidth = 0;
    int viewportHeight = 0;
};

} // namespace eawebkit::engine
