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

bool page::step(fetch& f, double now)
{
    if (f.done)
        return false;
    f.job->advance(now);
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
    if (current == phase::failed)
        return false;
    // Read once, before any work of this cycle.
    double now = transports.now();
    if (!main.done && !step(main, now))
        return false;
    if (!document) {
        if (!main.ok) {
            current = phase::failed;
            return false;
        }
        if (!prepare())
            return false;
        build();
    }
    bool lateImage = stepResources(now);
    if (current != phase::loading)
        return lateImage && current == phase::ready;
    if (sheetsArrived && std::none_of(resources.begin(), resources.end(), [](const auto& entry) {
            return !entry.second.isImage && !entry.second.transfer.done;
        }))
        build();
    if (current == phase::loading && !pendingResources())
        current = phase::ready;
    return false;
}

// The page's text as the library gets it, measured against the bounds first.
bool page::prepare()
{
    std::string text = withoutNul(main.data);
    main.data.clear();
    if (std::optional<overrun> over = shape.measure(text, ownSelectorWork)) {
        refuse(std::move(*over));
        return false;
    }
    html = repairHtmlCss(text);
    return true;
}

void page::refuse(overrun why)
{
    refused = std::move(why);
    current = phase::failed;
    cancelFetches();
}

bool page::stepResources(double now)
{
    bool imageArrived = false;
    for (auto& [url, r] : requested) {
        if (!step(r->transfer, now))
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
        imageDone(r);
    } else if (f.ok) {
        if (f.data.size() > kMaxPageBytes)
            r.sheetOverrun = overrun{kLoadErrorTooLarge, "a style sheet above " + std::to_string(kMaxPageBytes) + " bytes"};
        else
            r.sheet = repairCss(withoutNul(f.data));
        if (!r.sheetOverrun)
            r.sheetOverrun = shape.measureStyle(r.sheet, r.selectorWork);
        // A sheet that is in while the document is being built is part of it already.
        sheetsArrived |= !building;
    }
    f.data.clear();
    if (!f.ok) {
        ++failedCount;
        incidents.push_back({url, f.status, f.error});
    }
}

// Decoded within the page's budget: a page still loading fails when its images pass it, a page shown
// only loses the image.
void page::imageDone(resource& r)
{
    fetch& f = r.transfer;
    uint64_t bytes = decodedBytes(f.data);
    if (bytes > kMaxImageBytes - imageBytes) {
        f.ok = false;
        f.error = kLoadErrorTooLarge;
        if (current == phase::loading)
            refuse({kLoadErrorTooLarge, "images above " + std::to_string(kMaxImageBytes) + " bytes decoded"});
        return;
    }
    r.image = decodeImage(f.data);
    if (!r.image) {
        f.ok = false;
        f.error = kLoadErrorTransfer;
        return;
    }
    imageBytes += bytes;
}

void page::build()
{
    sheetsArrived = false;
    building = true;
    budget = {};
    budget.bytes = html.size();
    budget.selectorWork = ownSelectorWork;
    document.reset();
    measuredAt = text.generation();
    document = litehtml::document::createFromUTF8(html.c_str(), &paint, &styles);
    building = false;
    if (budget.exceeded)
        refuse(std::move(*budget.exceeded));
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

const std::string* page::styleSheet(const std::string& url, const std::string& from)
{
    if (!options.loadStyleSheets || budget.exceeded || current == phase::failed)
        return nullptr;
    budget.exceeded = importBound(url, from);
    resource* r = budget.exceeded ? nullptr : request(url, false);
    if (!r || !r->transfer.done || !r->transfer.ok)
        return nullptr;
    budget.exceeded = takeSheet(*r);
    if (budget.exceeded)
        return nullptr;
    budget.importedFrom[url] = from;
    return &r->sheet;
}

// Cycles, the depth of imports and the number of sheets, before the sheet is requested. The sheets being
// read form a chain through the addresses they were imported from: the library reads an imported sheet
// whole before the rest of the sheet that imports it.
std::optional<overrun> page::importBound(const std::string& url, const std::string& from)
{
    int depth = 1;
    for (const std::string* at = &from; depth <= kMaxImportDepth; ++depth) {
        if (*at == url)
            return overrun{kLoadErrorTooComplex, "style sheet '" + url + "' imports itself"};
        auto parent = budget.importedFrom.find(*at);
        if (parent == budget.importedFrom.end())
            break;
        at = &parent->second;
    }
    if (depth > kMaxImportDepth)
        return overrun{kLoadErrorTooComplex, "style sheets imported deeper than " + std::to_string(kMaxImportDepth)};
    if (++budget.sheets > kMaxImports)
        return overrun{kLoadErrorTooComplex, "more than " + std::to_string(kMaxImports) + " style sheets"};
    return std::nullopt;
}

// A sheet that is in, counted in the build's bytes and selector work.
std::optional<overrun> page::takeSheet(const resource& r)
{
    if (r.sheetOverrun)
        return r.sheetOverrun;
    budget.bytes += r.sheet.size();
    budget.selectorWork += r.selectorWork;
    if (budget.bytes > kMaxPageBytes)
        return overrun{kLoadErrorTooLarge, "page and style sheets above " + std::to_string(kMaxPageBytes) + " bytes"};
    if (budget.selectorWork > kMaxSelectorWork)
        return overrun{kLoadErrorTooComplex, "selectors too costly to match over the elements"};
    return std::nullopt;
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
        std::string markup = withoutNul(statement.text);
        double styleWork = 0;
        if (documentShape().measure(markup, styleWork))
            return false;
        while (status->get_children_count() > 0)
            status->removeChild(status->get_child(0));
        document->append_children_from_utf8(*status, repairHtmlCss(markup).c_str());
        return true;
    }
    case pageStatement::kind::title:
        pageTitle = statement.text;
        return true;
    }
    return false;
}

} // namespace eawebkit::engine
