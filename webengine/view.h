#pragma once
// A view: its surface, the page it shows and the one it is loading, input, the page statements, and the
// notifications to the host.
#include "webengine/eawebkit.h"
#include "webengine/enginecontext.h"
#include "webengine/images.h"
#include "webengine/page.h"

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace eawebkit::engine {

class engineView final : public View, public Surface {
public:
    static constexpr int kMaxSide = kMaxViewSide;
    static constexpr size_t kRecentEvents = 16;

    // `ended` frees the view when the host shuts it down.
    engineView(engineContext& engine, std::function<void(engineView*)> ended);
    ~engineView();
    engineView(const engineView&) = delete;
    engineView& operator=(const engineView&) = delete;

    bool Init(const ViewParameters& parameters) override;
    bool SetURI(const char* uri) override;
    void Update(uint32_t flags) override;
    Surface* GetSurface() override { return this; }
    void SetSize(int32_t width, int32_t height) override;
    void SetFocus(bool focused) override;
    void OnMouseMoveEvent(const MouseMoveEvent& event) override;
    void OnMouseButtonEvent(const MouseButtonEvent& event) override;
    void OnMouseWheelEvent(const MouseWheelEvent& event) override;
    void OnKeyboardEvent(const KeyboardEvent& event) override;
    bool EvaluateScript(const char* script) override;
    void Shutdown() override;

    bool IsAllocated() override { return surface != nullptr; }
    void Lock(SurfaceDescriptor* out, const IntRect* rect) override;
    void Unlock() override {}
    int32_t GetContentWidth() override { return width; }
    int32_t GetContentHeight() override { return height; }

    // The view as text, for tests.
    std::string describe() const;

private:
    struct loadNotice {
        LoadEvent event;
        std::string url;
        int32_t number;
        uint32_t code;
    };

    bool navigate(std::string url);
    void loadFailed(const std::string& url, int32_t status, LoadError why);
    void advancePending();
    void advanceShown();
    void resize(int32_t newWidth, int32_t newHeight);
    void relayout();
    void paint();
    void repaint();
    void followLink();
    int32_t scrollBottom() const;
    void clampScroll();
    void clampPoint(int32_t& x, int32_t& y) const;
    void record(std::string event);
    void warn(const std::string& text);
    void reportIncidents(page& p);
    void networkError(const std::string& url, LoadError why);
    void notify(const loadNotice& notice);
    page::settings pageSettings() const;
    void engineError(const char* what);
    template <class Body>
    void guardedCall(Body&& body);
    template <class Result, class Body>
    Result guardedCall(Result fallback, Body&& body);

    engineContext& engine;
    std::function<void(engineView*)> ended;
    ViewParameters params{};
    bool initialised = false;
    surfacePtr surface;
    int32_t width = 0;
    int32_t height = 0;
    std::unique_ptr<page> shown;
    std::unique_ptr<page> pending;
    std::string requested;
    const char* loadState = "none";
    std::optional<loadNotice> unsent;
    int32_t scrollX = 0;
    int32_t scrollY = 0;
    int32_t mouseX = 0;
    int32_t mouseY = 0;
    bool focused = false;
    bool dirty = false;
    std::deque<std::string> recent;
};

} // namespace eawebkit::engine
