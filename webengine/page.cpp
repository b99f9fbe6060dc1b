#include "webengine/page.h"

#include "webengine/asciitext.h"
#include "webengine/cssrepair.h"
#include "webengine/transport.h"
#include "webengine/url.h"

#include <algorithm>
#include <utility>

namespace eawebkit::engine {
namespace {

// A style attribute with one property set, the others kept in their order.
std::string withProperty(std::string_view style, std::string_view name, std::string_view value)
{
    std::string out;
    while (!style.empty()) {
        size_t semicolon = style.find(';');
        std::string_view declaration = trimSpaces(style.substr(0, semicolon));
        style.remove_prefix(semicolon == std::string_view::npos ? style.size() : semicolon + 1);
        size_t colon = declaration.find(':');
        if (declaration.empty() || (colon != std::string_view::npos && equalsNoCase(trimSpaces(declaration.substr(0, colon)), name)))
            continue;
        out.append(declaration).append("; ");
    }
    out.append(name).append(": ").append(value).append(";");
    return out;
}

} // namespace

page::page(textSystem& text, const transport& transports, litehtml::context& styles, settings options,
           std::string url)
    : text(text), transports(transports), styles(styles), options(options), address(std::move(url)), base(address),
      paint(text, *this)
{
    start(main, address);
    if (main.done && !main.ok)
        current = phase::failed;
}

page::~page() = default;

void page::start(fetch& f, const std::string& url)
{
    if (urlScheme(url) == "data") {
        std::optional<std::string> data = decodeDataURI(url);
        f.done = true;
        f.ok = data.has_value();
        f.status = f.ok ? 200 : 0;
        f.error = f.ok ? kLoadErrorNone : kLoadErrorTransfer;
        if (data)
            f.data = std::move(*data);
        return;
    }
    f.job = transports.start(url);
    if (!f.job) {
        f.done = true;
        f.error = kLoadErrorNoHandler;
    }
}

bool page::step(fetch& f)
{
    if (f.done)
        return false;
    f.job->advance();
    if (!f.job->finished())
        return false;
    f.done = true;
    f.ok = f.job->succeeded();
    f.status = f.job->status();
    f.error = f.job->error();
    f.data = f.job->takeData();
    f.job.reset();
    return true;
}

void page::cancelFetches()
{
    auto cancel = [](fetch& f) {
        if (!f.done) {
            f.job.reset();
            f.done = true;
        }
    };
    cancel(main);
    for (auto& [url, r] : requested)
        cancel(r->transfer);
}

bool page::advance()
{
    if (current == phase::failed || (!main.done && !step(main)))
        return false;
    if (!document) {
        if (!main.ok) {
            current = phase::failed;
            return false;
        }
        html = repairHtmlCss(main.data);
        main.data.clear();
        build();
    }
    bool lateImage = stepResources();
    if (current == phase::ready)
        return lateImage;
    if (sheetsArrived && std::none_of(resources.begin(), resources.end(), [](const auto& entry) {
            return !entry.second.isImage && !entry.second.transfer.done;
        }))
        build();
    if (!pendingResources())
        current = phase::ready;
    return false;
}

bool page::stepResources()
{
    bool imageArrived = false;
    for (auto& [url, r] : requested) {
        if (!step(r->transfer))
            continue;
        resourceDone(*url, *r);
        imageArrived |= r->isImage && r->image;
    }
    return imageArrived;
}

bool page::pendingResources() const
{
    return std::any_of(resources.begin(), resources.end(), [](const auto& entry) { return !entry.second.transfer.done; });
}

void page::resourceDone(const std::string& url, resource& r)
{
    fetch& f = r.transfer;
    if (f.ok && r.isImage) {
        r.image = decodeImage(f.data);
        if (!r.image) {
            f.ok = false;
            f.error = kLoadErrorTransfer;
        }
    } else if (f.ok) {
        r.sheet = repairCss(f.data);
        // A sheet that is in while the document is being built is part of it already.
        sheetsArrived |= !building;
    }
    f.data.clear();
    if (!f.ok) {
        ++failedCount;
        incidents.push_back({url, f.status, f.error});
    }
}

void page::build()
{
    sheetsArrived = false;
    building = true;
    document.reset();
    measuredAt = text.generation();
    document = litehtml::document::createFromUTF8(html.c_str(), &paint, &styles);
    building = false;
}

// The HTML library measures text when it reads an element's style, so each element reads it again (its own
// only: the library's reparse leaves the children alone), parents first, whose fonts the children inherit.
// The document, with every statement applied to it, stays as it is.
void page::measureText()
{
    measuredAt = text.generation();
    std::vector<litehtml::element::ptr> elements{document->root()};
    while (!elements.empty()) {
        litehtml::element::ptr element = std::move(elements.back());
        elements.pop_back();
        element->parse_styles(true);
        for (size_t i = element->get_children_count(); i-- > 0;)
            elements.push_back(element->get_child(int(i)));
    }
}

page::resource* page::request(const std::string& url, bool isImage)
{
    auto found = resources.find(url);
    if (found != resources.end())
        return &found->second;
    if (resources.size() >= kMaxResources)
        return nullptr;
    auto [entry, added] = resources.try_emplace(url);
    resource& r = entry->second;
    requested.emplace_back(&entry->first, &r);
    r.isImage = isImage;
    start(r.transfer, url);
    if (r.transfer.done)
        resourceDone(url, r);
    return &r;
}

std::string page::resolve(std::string_view reference, std::string_view from)
{
    return resolveURL(from.empty() ? std::string_view(base) : from, reference);
}

const std::string* page::styleSheet(const std::string& url)
{
    if (!options.loadStyleSheets)
        return nullptr;
    resource* r = request(url, false);
    return r && r->transfer.done && r->transfer.ok ? &r->sheet : nullptr;
}

void page::requestImage(const std::string& url)
{
    if (options.loadImages)
        request(url, true);
}

cairo_surface_t* page::image(const std::string& url)
{
    auto found = resources.find(url);
    return found == resources.end() ? nullptr : found->second.image.get();
}

void page::linkClicked(const std::string& url)
{
    clicked = url;
}

void page::setTitle(std::string_view title)
{
    pageTitle = title;
}

void page::setBase(std::string_view reference)
{
    base = resolveURL(address, reference);
}

void page::layout(int width, int height)
{
    if (!document)
        return;
    if (textOutdated())
        measureText();
    paint.setViewport(width, height);
    document->media_changed();
    document->render(width);
}

int page::documentHeight() const
{
    return document ? document->height() : 0;
}

void page::draw(cairo_t* cr, int x, int y, int width, int height)
{
    if (!document)
        return;
    litehtml::position clip(0, 0, width, height);
    document->draw(reinterpret_cast<litehtml::uint_ptr>(cr), x, y, &clip);
}

bool page::mouseMove(int docX, int docY, int viewX, int viewY)
{
    litehtml::position::vector redraw;
    return document && document->on_mouse_over(docX, docY, viewX, viewY, redraw);
}

bool page::buttonDown(int docX, int docY, int viewX, int viewY)
{
    litehtml::position::vector redraw;
    return document && document->on_lbutton_down(docX, docY, viewX, viewY, redraw);
}

bool page::buttonUp(int docX, int docY, int viewX, int viewY)
{
    litehtml::position::vector redraw;
    return document && document->on_lbutton_up(docX, docY, viewX, viewY, redraw);
}

std::optional<std::string> page::takeLinkClicked()
{
    return std::exchange(clicked, std::nullopt);
}

litehtml::element::ptr page::elementById(const char* selector) const
{
    return document && document->root() ? document->root()->select_one(selector) : nullptr;
}

bool page::apply(const pageStatement& statement)
{
    switch (statement.what) {
    case pageStatement::kind::progressWidth: {
        litehtml::element::ptr bar = elementById("#progress");
        if (!bar)
            return false;
        std::string width = std::to_string(statement.percent) + "%";
        bar->set_attr("style", withProperty(bar->get_attr("style", ""), "width", width).c_str());
        bar->refresh_styles();
        bar->parse_styles(true);
        return true;
    }
    case pageStatement::kind::statusMarkup: {
        litehtml::element::ptr status = elementById("#status");
        if (!status)
            return false;
        while (status->get_children_count() > 0)
            status->removeChild(status->get_child(0));
        document->append_children_from_utf8(*status, repairHtmlCss(statement.text).c_str());
        return true;
    }
    case pageStatement::kind::title:
        pageTitle = statement.text;
        return true;
    }
    return false;
}

} // namespace eawebkit::engine
