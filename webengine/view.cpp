#include "webengine/view.h"

#include "webengine/guard.h"
#include "webengine/pagescript.h"
#include "webengine/url.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace eawebkit::engine {
namespace {

void setColour(cairo_t* cr, uint32_t argb)
{
    cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0,
                          (argb >> 24) / 255.0);
}

bool validSize(int32_t width, int32_t height)
{
    return width > 0 && height > 0 && width <= engineView::kMaxSide && height <= engineView::kMaxSide;
}

std::string point(int32_t x, int32_t y)
{
    return std::to_string(x) + "," + std::to_string(y);
}

} // namespace

engineView::engineView(engineContext& engine, std::function<void(engineView*)> ended)
    : engine(engine), ended(std::move(ended))
{
}

engineView::~engineView() = default;

void engineView::engineError(const char* what)
{
    warn(std::string("engine error: ") + what);
}

template <class Body>
void engineView::guardedCall(Body&& body)
{
    guarded(std::forward<Body>(body), [this](const char* what) { engineError(what); });
}

template <class Result, class Body>
Result engineView::guardedCall(Result fallback, Body&& body)
{
    return guarded(fallback, std::forward<Body>(body), [this](const char* what) { engineError(what); });
}

bool engineView::Init(const ViewParameters& parameters)
{
    return guardedCall(false, [&] {
            if (initialised || !validSize(parameters.width, parameters.height))
                return false;
            params = parameters;
            if (params.maxURILength <= 0 || size_t(params.maxURILength) > kTransportURIChars)
                params.maxURILength = int32_t(kTransportURIChars);
            resize(parameters.width, parameters.height);
            paint();
            initialised = true;
            return true;
    });
}

bool engineView::SetURI(const char* uri)
{
    return guardedCall(false, [&] { return initialised && uri && navigate(uri); });
}

page::settings engineView::pageSettings() const
{
    return {params.loadImages, params.loadStyleSheets};
}

bool engineView::navigate(std::string url)
{
    requested = std::move(url);
    loadState = "loading";
    pending.reset();
    if (shown)
        shown->cancelFetches();
    if (requested.size() + 1 > size_t(params.maxURILength)) {
        loadFailed(requested, 0, kLoadErrorURITooLong);
        return false;
    }
    pending = std::make_unique<page>(engine.text, engine.transports, engine.styles, pageSettings(), requested);
    if (pending->state() == page::phase::failed) {
        loadFailed(requested, pending->failureStatus(), pending->failure());
        pending.reset();
        return false;
    }
    return true;
}

void engineView::loadFailed(const std::string& url, int32_t status, LoadError why)
{
    loadState = "failed";
    if (why == kLoadErrorTimeOut)
        networkError(url, why);
    notify({kLoadFailed, url, status, why});
}

void engineView::Update(uint32_t flags)
{
    guardedCall([&] {
        if (!initialised)
            return;
        advancePending();
        advanceShown();
        // Faces added since the page was laid out: its text is drawn with them.
        if (shown && shown->textOutdated())
            relayout();
        if (dirty || (flags & kUpdateForceRepaint))
            repaint();
        if (unsent)
            notify(*std::exchange(unsent, std::nullopt));
    });
}

void engineView::advancePending()
{
    if (!pending)
        return;
    pending->advance();
    reportIncidents(*pending);
    if (pending->state() == page::phase::failed) {
        std::unique_ptr<page> failed = std::move(pending);
        if (const std::optional<overrun>& refusal = failed->refusal())
            warn("Refused '" + failed->url() + "': " + refusal->what);
        loadFailed(failed->url(), failed->failureStatus(), failed->failure());
        return;
    }
    if (pending->state() != page::phase::ready)
        return;
    shown = std::move(pending);
    scrollX = scrollY = 0;
    int failures = shown->failedResources();
    loadState = failures ? "loaded-with-errors" : "loaded";
    // Sent after the first paint, so that the page is on the surface when the host hears of it.
    unsent = loadNotice{failures ? kLoadCompletedWithErrors : kLoadCompleted, shown->url(), failures, 0};
    relayout();
}

void engineView::advanceShown()
{
    if (!shown)
        return;
    if (shown->advance())
        relayout();
    reportIncidents(*shown);
}

void engineView::reportIncidents(page& p)
{
    for (const page::incident& failed : p.takeIncidents()) {
        warn("Failed to load sub-resource '" + failed.url + "' (status " + std::to_string(failed.status) + ", error " +
             std::to_string(int(failed.error)) + ")");
        if (failed.error == kLoadErrorTimeOut)
            networkError(failed.url, failed.error);
    }
}

void engineView::networkError(const std::string& url, LoadError why)
{
    if (!engine.client)
        return;
    std::u16string uri = toUTF16(url);
    NetworkErrorInfo info{params.userData, this, uri.c_str(), why};
    engine.client->NetworkError(info);
}

void engineView::resize(int32_t newWidth, int32_t newHeight)
{
    surface.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, newWidth, newHeight));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        surface.reset();
    width = newWidth;
    height = newHeight;
}

void engineView::relayout()
{
    if (shown)
        shown->layout(width, height);
    clampScroll();
    dirty = true;
}

int32_t engineView::scrollBottom() const
{
    return shown ? std::max(0, shown->documentHeight() - height) : 0;
}

void engineView::clampScroll()
{
    scrollY = std::clamp(scrollY, 0, scrollBottom());
}

void engineView::paint()
{
    if (!surface)
        return;
    cairo_t* cr = cairo_create(surface.get());
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    setColour(cr, params.transparent ? 0 : params.backgroundColor);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    if (shown)
        shown->draw(cr, -scrollX, -scrollY, width, height);
    cairo_destroy(cr);
    cairo_surface_flush(surface.get());
}

void engineView::repaint()
{
    paint();
    dirty = false;
    if (engine.client) {
        ViewUpdateInfo info{params.userData, this, kViewUpdateRepaint};
        engine.client->ViewUpdate(info);
    }
}

void engineView::SetSize(int32_t newWidth, int32_t newHeight)
{
    guardedCall([&] {
        if (!initialised || !validSize(newWidth, newHeight))
            return;
        resize(newWidth, newHeight);
        relayout();
        repaint();
    });
}

void engineView::SetFocus(bool focus)
{
    guardedCall([&] {
        focused = focus;
        record(focus ? "focus in" : "focus out");
    });
}

void engineView::clampPoint(int32_t& x, int32_t& y) const
{
    x = std::clamp(x, 0, std::max(0, width - 1));
    y = std::clamp(y, 0, std::max(0, height - 1));
}

void engineView::OnMouseMoveEvent(const MouseMoveEvent& event)
{
    guardedCall([&] {
        int32_t x = event.x, y = event.y;
        clampPoint(x, y);
        mouseX = x;
        mouseY = y;
        record("move " + point(x, y));
        if (shown && shown->mouseMove(x + scrollX, y + scrollY, x, y))
            dirty = true;
    });
}

void engineView::OnMouseButtonEvent(const MouseButtonEvent& event)
{
    guardedCall([&] {
        int32_t x = event.x, y = event.y;
        clampPoint(x, y);
        record("button " + std::to_string(int(event.id)) + (event.depressed ? " down " : " up ") + point(x, y));
        if (!shown || event.id != kMouseLeft)
            return;
        bool changed = event.depressed ? shown->buttonDown(x + scrollX, y + scrollY, x, y)
                                       : shown->buttonUp(x + scrollX, y + scrollY, x, y);
        dirty |= changed;
        if (!event.depressed)
            followLink();
    });
}

void engineView::followLink()
{
    std::optional<std::string> link = shown->takeLinkClicked();
    if (!link || !params.followLinks)
        return;
    TransportHandler* handler = engine.transports.handlerFor(urlScheme(*link));
    if (handler && handler->IsLocal())
        navigate(std::move(*link));
}

void engineView::OnMouseWheelEvent(const MouseWheelEvent& event)
{
    guardedCall([&] {
        record("wheel " + std::to_string(event.delta));
        int32_t before = scrollY;
        // In double and clamped before it is a pixel count again: an extreme delta would overflow one.
        double target = scrollY - std::round(double(event.delta) * event.lineDelta);
        if (!std::isnan(target))
            scrollY = int32_t(std::clamp(target, 0.0, double(scrollBottom())));
        dirty |= scrollY != before;
    });
}

void engineView::OnKeyboardEvent(const KeyboardEvent& event)
{
    guardedCall([&] {
        if (event.isChar)
            record("char " + std::to_string(event.id));
        else
            record("key " + std::to_string(event.id) + (event.depressed ? " down " : " up ") +
                   std::to_string(event.modifiers));
    });
}

bool engineView::EvaluateScript(const char* script)
{
    return guardedCall(false, [&] {
            std::optional<pageStatement> statement = script ? parsePageStatement(script) : std::nullopt;
            if (!params.runScripts || !statement || !shown || !shown->apply(*statement))
                return false;
            if (statement->what != pageStatement::kind::title)
                relayout();
            return true;
    });
}

void engineView::Shutdown()
{
    // Reported to no one: the view may be gone by the time a failure is seen.
    guarded(
        [&] {
            pending.reset();
            shown.reset();
            // The call frees this view, its own copy of the callback with it.
            std::function<void(engineView*)> release = std::move(ended);
            release(this);
        },
        ignore);
}

void engineView::Lock(SurfaceDescriptor* out, const IntRect* rect)
{
    if (!out)
        return;
    if (!surface) {
        *out = {nullptr, 0};
        return;
    }
    cairo_surface_flush(surface.get());
    unsigned char* pixels = cairo_image_surface_get_data(surface.get());
    int32_t stride = cairo_image_surface_get_stride(surface.get());
    if (rect) {
        int32_t x = std::clamp(rect->x, 0, width - 1), y = std::clamp(rect->y, 0, height - 1);
        pixels += ptrdiff_t(y) * stride + ptrdiff_t(x) * 4;
    }
    *out = {pixels, stride};
}

void engineView::record(std::string event)
{
    recent.push_back(std::move(event));
    if (recent.size() > kRecentEvents)
        recent.pop_front();
}

void engineView::warn(const std::string& text)
{
    if (!engine.client)
        return;
    DebugLogInfo info{params.userData, this, text.c_str(), kDebugLogWarning};
    engine.client->DebugLog(info);
}

void engineView::notify(const loadNotice& notice)
{
    if (!engine.client)
        return;
    std::u16string uri = toUTF16(notice.url);
    LoadInfo info{params.userData, this, uri.c_str(), notice.event, notice.number, notice.code};
    engine.client->LoadUpdate(info);
}

std::string engineView::describe() const
{
    std::string text = "uri=" + requested + "\nstate=" + loadState + "\ntitle=" + (shown ? shown->title() : "") +
                       "\nfocus=" + (focused ? "1" : "0") + "\nscroll=" + point(scrollX, scrollY) + "\nevents=";
    for (size_t i = 0; i < recent.size(); ++i)
        text.append(i ? ";" : "").append(recent[i]);
    return text.append("\n");
}

} // namespace eawebkit::engine

extern "C" EAWEBKIT_EXPORT size_t EAWebkitDebugDescribeView(eawebkit::View* view, char* buffer, size_t size)
{
    try {
        std::string text = view ? static_cast<eawebkit::engine::engineView*>(view)->describe() : std::string();
        if (buffer && size > 0) {
            size_t n = std::min(text.size(), size - 1);
            std::memcpy(buffer, text.data(), n);
            buffer[n] = '\0';
        }
        return text.size();
    } catch (const std::exception&) {
        if (buffer && size > 0)
            buffer[0] = '\0';
        return 0;
    }
}
