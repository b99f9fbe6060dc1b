#pragma once
// One page of a view: its document, fetched through the transport with its style sheets and images, laid out
// and drawn on request. A page is shown once it and every sub-resource are in. A page over one of the bounds
// of pagebounds.h fails.
#include "webengine/images.h"
#include "webengine/pagebounds.h"
#include "webengine/pagescript.h"
#include "webengine/painter.h"
#include "webengine/transferjob.h"

#include <litehtml/litehtml.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace eawebkit::engine {

class transport;

class page final : private painterHost {
public:
    static constexpr size_t kMaxResources = 1024;

    struct settings {
        bool loadImages = true;
        bool loadStyleSheets = true;
    };

    enum class phase { loading, ready, failed };

    // A sub-resource that failed.
    struct incident {
        std::string url;
        int32_t status;
        LoadError error;
    };

    // Starts fetching `url` (absolute); a scheme without a handler fails the page at once.
    page(textSystem& text, const transport& transports, litehtml::context& styles, settings options,
         std::string url);
    ~page();
    page(const page&) = delete;
    page& operator=(const page&) = delete;

    // Advances every fetch without waiting and builds the document as its parts come in. True when a page
    // that is ready already changed its look (an image that came in late).
    bool advance();
    // Ends every fetch still in flight; what is in stays.
    void cancelFetches();
    phase state() const { return current; }
    const std::string& url() const { return address; }
    LoadError failure() const { return refused ? refused->code : main.error; }
    // The bound a failed page passed, if that is why it failed.
    const std::optional<overrun>& refusal() const { return refused; }
    int32_t failureStatus() const { return main.status; }
    int failedResources() const { return failedCount; }
    // The sub-resources that failed since the last call.
    std::vector<incident> takeIncidents() { return std::move(incidents); }
    const std::string& title() const { return pageTitle; }

    // Text measured before the text system's faces changed is measured again first.
    void layout(int width, int height);
    // True when faces were added since the text was measured: the page must be laid out again.
    bool textOutdated() const { return document && measuredAt != text.generation(); }
    int documentHeight() const;
    // Draws the page moved by (x, y) into a view of the given size.
    void draw(cairo_t* cr, int x, int y, int width, int height);

    // Input in document and view coordinates; true when the look changed.
    bool mouseMove(int docX, int docY, int viewX, int viewY);
    bool buttonDown(int docX, int docY, int viewX, int viewY);
    bool buttonUp(int docX, int docY, int viewX, int viewY);
    // The address of the link clicked by the last button release, if any.
    std::optional<std::string> takeLinkClicked();

    // Applies a statement; true when it changed the page (false: its element does not exist, or its markup
    // passes a bound).
    bool apply(const pageStatement& statement);

private:
    struct fetch {
        std::unique_ptr<transferJob> job;
        bool done = false;
        bool ok = false;
        std::string data;
        int32_t status = 0;
        LoadError error = kLoadErrorNone;
    };

    struct resource {
        bool isImage = false;
        fetch transfer;
        surfacePtr image;
        std::string sheet;
        double selectorWork = 0;              // of the sheet's selectors over the document
        std::optional<overrun> sheetOverrun; // a bound the sheet passes by itself
    };

    // What one build of the document has handed the library so far.
    struct buildBudget {
        size_t bytes = 0;
        int sheets = 0;
        double selectorWork = 0;
        std::map<std::string, std::string> importedFrom; // sheet -> the address it was imported from
        std::optional<overrun> exceeded;
    };

    std::string resolve(std::string_view reference, std::string_view base) override;
    const std::string* styleSheet(const std::string& url, const std::string& from) override;
    void requestImage(const std::string& url) override;
    cairo_surface_t* image(const std::string& url) override;
    void linkClicked(const std::string& url) override;
    void setTitle(std::string_view title) override;
    void setBase(std::string_view base) override;

    void start(fetch& f, const std::string& url);
    bool step(fetch& f, double now);
    bool prepare();
    void refuse(overrun why);
    std::optional<overrun> importBound(const std::string& url, const std::string& from);
    std::optional<overrun> takeSheet(const resource& r);
    void imageDone(resource& r);
    resource* request(const std::string& url, bool isImage);
    void resourceDone(const std::string& url, resource& r);
    bool stepResources(double now);
    bool pendingResources() const;
    void build();
    void measureText();
    litehtml::element::ptr elementById(const char* selector) const;

    textSystem& text;
    const transport& transports;
    litehtml::context& styles;
    settings options;
    std::string address;
    std::string base;
    std::string pageTitle;
    phase current = phase::loading;
    fetch main;
    std::string html;
    documentShape shape;
    double ownSelectorWork = 0; // of the page's own and the user agent's style sheets
    buildBudget budget;
    uint64_t imageBytes = 0;
    std::optional<overrun> refused;
    std::map<std::string, resource> resources;
    // The same, in the order the document asked for them.
    std::vector<std::pair<const std::string*, resource*>> requested;
    bool sheetsArrived = false;
    bool building = false;
    uint64_t measuredAt = 0; // the text system's generation when the text was measured
    int failedCount = 0;
    std::vector<incident> incidents;
    std::optional<std::string> clicked;
    painter paint;
    // Last: the document goes before the painter and the resources it draws with.
    litehtml::document::ptr document;
};

} // namespace eawebkit::engine
