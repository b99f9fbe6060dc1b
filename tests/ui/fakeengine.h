#pragma once
// A recording stand-in for the web engine, made by a factory the UI is given in place of the library: it
// keeps every call with the thread it came from, paints each view's surface with a pattern (blue = x,
// green = y, red = 0x80, per pixel), reports a repaint after every change, keeps what each view was asked
// (the scripts it evaluates among it), records the input events each view receives with their fields,
// completes every page load at once when told to, and lets a test hold a view's update or its resize (as a
// long page build holds the worker) or fail its initialisation.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "webengine/eawebkit.h"

namespace tavrix::test {

class fakeEngine;

class fakeSurface final : public eawebkit::Surface {
public:
    bool IsAllocated() override { return width > 0 && height > 0; }
    void Lock(eawebkit::SurfaceDescriptor* out, const eawebkit::IntRect*) override
    {
        out->pixels = pixels.data();
        out->stride = stride();
    }
    void Unlock() override {}
    int32_t GetContentWidth() override { return width; }
    int32_t GetContentHeight() override { return height; }

    int32_t stride() const { return width * 4 + padding; }

    void paint(int32_t w, int32_t h)
    {
        width = w > 0 ? w : 0;
        height = h > 0 ? h : 0;
        pixels.assign(size_t(stride()) * size_t(height), 0xEE);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                uint8_t* p = &pixels[size_t(y) * size_t(stride()) + size_t(x) * 4];
                p[0] = uint8_t(x);
                p[1] = uint8_t(y);
                p[2] = 0x80;
                p[3] = 0xFF;
            }
        }
    }

    int32_t width = 0;
    int32_t height = 0;
    // Bytes after each row's pixels, as a surface whose rows are aligned has.
    int32_t padding = 0;
    std::vector<uint8_t> pixels;
};

class fakeView final : public eawebkit::View {
public:
    explicit fakeView(fakeEngine* owner_) : owner(owner_) {}

    bool Init(const eawebkit::ViewParameters& p) override;
    bool SetURI(const char* uri) override;
    void Update(uint32_t flags) override;
    eawebkit::Surface* GetSurface() override;
    void SetSize(int32_t w, int32_t h) override;
    void SetFocus(bool focused) override;
    void OnMouseMoveEvent(const eawebkit::MouseMoveEvent&) override;
    void OnMouseButtonEvent(const eawebkit::MouseButtonEvent&) override;
    void OnMouseWheelEvent(const eawebkit::MouseWheelEvent&) override;
    void OnKeyboardEvent(const eawebkit::KeyboardEvent&) override;
    bool EvaluateScript(const char* script) override;
    void Shutdown() override;

    // Every input event the view received, as its record line ("View::OnMouseButtonEvent 1 5 6 ...").
    std::vector<std::string> inputList();

    fakeEngine* owner;
    eawebkit::ViewParameters parameters{};
    fakeSurface surface;
    bool dirty = false;
    bool shutDown = false;
    // Under the engine's lock: the window given at Init, and this view's Init, SetURI and EvaluateScript
    // calls as the engine records them.
    void* window = nullptr;
    std::vector<std::string> calls;
    std::vector<std::string> inputs;

private:
    void recordInput(const std::string& line);
};

class fakeTextSystem final : public eawebkit::TextSystem {
public:
    explicit fakeTextSystem(fakeEngine* owner_) : owner(owner_) {}
    bool AddFace(eawebkit::Stream* stream) override;
    fakeEngine* owner;
};

class fakeEngine final : public eawebkit::Instance {
public:
    // The one the factory made last.
    static inline fakeEngine* current = nullptr;
    static inline std::string nextVersion = "13.3.2.0.0";
    static inline bool nextInitResult = true;
    static inline bool nextCreateFails = false;
    // Every address a view is set to reports its load completed, inside the call.
    static inline bool nextLoadsComplete = false;

    static eawebkit::Instance* create()
    {
        if (nextCreateFails)
            return nullptr;
        current = new fakeEngine;
        return current;
    }

    const char* GetVersion() override
    {
        record("GetVersion");
        return version.c_str();
    }
    bool Init(const eawebkit::AppCallbacks& c, const eawebkit::AppSystems& s) override
    {
        record("Init");
        callbacks = c;
        systems = s;
        return initResult;
    }
    eawebkit::TextSystem* GetTextSystem() override
    {
        record("GetTextSystem");
        return &text;
    }
    eawebkit::Parameters& GetParameters() override
    {
        record("GetParameters");
        return parameters;
    }
    void SetParameters(const eawebkit::Parameters& p) override
    {
        record("SetParameters");
        parameters = p;
    }
    void SetRAMCacheUsage(uint32_t size, uint32_t minDead, uint32_t maxDead) override
    {
        record("SetRAMCacheUsage " + std::to_string(size) + " " + std::to_string(minDead) + " " + std::to_string(maxDead));
    }
    void SetDiskCacheUsage(uint32_t size, uint32_t files, uint32_t opened, uint32_t minSize, const char* path) override
    {
        record("SetDiskCacheUsage " + std::to_string(size) + " " + std::to_string(files) + " " + std::to_string(opened) + " " +
               std::to_string(minSize) + " " + path);
    }
    void SetCookieUsage(uint32_t maxCookie, uint32_t total, uint32_t perHost, const char* path) override
    {
        record("SetCookieUsage " + std::to_string(maxCookie) + " " + std::to_string(total) + " " + std::to_string(perHost) + " " + path);
    }
    void AddTransportHandler(eawebkit::TransportHandler* handler, const char16_t* scheme) override
    {
        record("AddTransportHandler " + narrow(scheme));
        transport = handler;
        handler->Init(scheme);
    }
    void Tick() override
    {
        noteThread("Tick");
        ticks.fetch_add(1);
    }
    eawebkit::View* CreateView() override
    {
        record("CreateView");
        std::lock_guard<std::mutex> guard(lock);
        if (refuseViews)
            return nullptr;
        views.push_back(new fakeView(this));
        views.back()->surface.padding = rowPadding;
        return views.back();
    }
    void Shutdown() override
    {
        record("Shutdown");
        shutDown = true;
        if (transport)
            transport->Shutdown(u"file");
    }
    void Destroy() override
    {
        record("Destroy");
        destroyed = true;
    }

    ~fakeEngine()
    {
        for (fakeView* view : views)
            delete view;
    }

    // Each call as "<what>", in order, and the thread it came from; a view's calls also in its own list.
    void record(const std::string& what, fakeView* from = nullptr)
    {
        noteThread(what);
        std::lock_guard<std::mutex> guard(lock);
        calls.push_back(what);
        if (from)
            from->calls.push_back(what);
    }
    void noteThread(const std::string& what)
    {
        std::lock_guard<std::mutex> guard(lock);
        threads.push_back({what, std::this_thread::get_id()});
        if (destroyed || (shutDown && what != "Destroy"))
            lateCalls.push_back(what);
    }
    std::vector<std::string> callList()
    {
        std::lock_guard<std::mutex> guard(lock);
        return calls;
    }
    bool called(const std::string& what)
    {
        for (const std::string& call : callList())
            if (call == what)
                return true;
        return false;
    }
    std::vector<std::string> callsStartingWith(const std::string& prefix)
    {
        std::vector<std::string> found;
        for (const std::string& call : callList())
            if (call.compare(0, prefix.size(), prefix) == 0)
                found.push_back(call);
        return found;
    }
    fakeView* view(size_t index)
    {
        std::lock_guard<std::mutex> guard(lock);
        return index < views.size() ? views[index] : nullptr;
    }
    // The calls of the view that was given this window, empty before its Init.
    std::vector<std::string> callsOf(const void* window)
    {
        std::lock_guard<std::mutex> guard(lock);
        for (fakeView* view : views)
            if (view->window == window)
                return view->calls;
        return {};
    }

    static std::string narrow(const char16_t* text)
    {
        std::string out;
        for (; text && *text; ++text)
            out += char(*text);
        return out;
    }

    std::string version = nextVersion;
    bool initResult = nextInitResult;
    bool loadsComplete = nextLoadsComplete;
    eawebkit::AppCallbacks callbacks{};
    eawebkit::AppSystems systems{};
    eawebkit::Parameters parameters{};
    fakeTextSystem text{this};
    eawebkit::TransportHandler* transport = nullptr;
    std::atomic<int32_t> ticks{0};
    // Input events received by all views, counted once each is recorded.
    std::atomic<int64_t> inputEvents{0};
    std::atomic<bool> shutDown{false};
    std::atomic<bool> destroyed{false};
    // Each face added: its bytes.
    std::vector<std::string> faces;

    struct threadNote {
        std::string what;
        std::thread::id thread;
    };
    std::vector<threadNote> threads;
    std::vector<std::string> lateCalls;

    // While holdCall names a view's call ("View::Update", "View::SetSize"), that call waits: the worker is
    // held inside it. heldIn names the call it waits in.
    std::mutex holdLock;
    std::condition_variable holdChanged;
    std::string holdCall;
    std::string heldIn;

    void waitWhileHeld(const std::string& call)
    {
        std::unique_lock<std::mutex> held(holdLock);
        if (holdCall != call)
            return;
        heldIn = call;
        holdChanged.wait(held, [&] { return holdCall != call; });
        heldIn.clear();
    }

    std::mutex lock;
    std::vector<std::string> calls;
    std::vector<fakeView*> views;
    // While set, CreateView makes no view, as an engine out of memory does.
    bool refuseViews = false;
    // The padding of the rows of the surfaces of views made from now on.
    int32_t rowPadding = 0;
};

// Each records last, so that a test that saw the record sees what the call changed.
inline bool fakeView::Init(const eawebkit::ViewParameters& p)
{
    parameters = p;
    surface.paint(p.width, p.height);
    dirty = true;
    {
        std::lock_guard<std::mutex> guard(owner->lock);
        window = p.userData;
    }
    owner->record("View::Init " + std::to_string(p.width) + "x" + std::to_string(p.height), this);
    return p.width > 0 && p.height > 0;
}

inline bool fakeView::SetURI(const char* uri)
{
    owner->record(std::string("View::SetURI ") + uri, this);
    if (owner->loadsComplete) {
        eawebkit::LoadInfo info{parameters.userData, this, u"", eawebkit::kLoadCompleted, 0, 0};
        owner->systems.client->LoadUpdate(info);
    }
    return true;
}

inline void fakeView::Update(uint32_t)
{
    owner->noteThread("View::Update");
    owner->waitWhileHeld("View::Update");
    if (!dirty)
        return;
    dirty = false;
    eawebkit::ViewUpdateInfo info{parameters.userData, this, eawebkit::kViewUpdateRepaint};
    owner->systems.client->ViewUpdate(info);
}

inline eawebkit::Surface* fakeView::GetSurface()
{
    owner->noteThread("View::GetSurface");
    return &surface;
}

inline void fakeView::SetSize(int32_t w, int32_t h)
{
    owner->waitWhileHeld("View::SetSize");
    surface.paint(w, h);
    dirty = true;
    owner->record("View::SetSize " + std::to_string(w) + "x" + std::to_string(h));
}

inline void fakeView::SetFocus(bool focused) { owner->record(focused ? "View::SetFocus 1" : "View::SetFocus 0"); }

inline void fakeView::recordInput(const std::string& line)
{
    owner->record(line);
    {
        std::lock_guard<std::mutex> guard(owner->lock);
        inputs.push_back(line);
    }
    owner->inputEvents.fetch_add(1);
}

inline std::vector<std::string> fakeView::inputList()
{
    std::lock_guard<std::mutex> guard(owner->lock);
    return inputs;
}

// Fields in declaration order, separated by spaces; flags as 0 or 1.
inline void fakeView::OnMouseMoveEvent(const eawebkit::MouseMoveEvent& e)
{
    char line[128];
    std::snprintf(line, sizeof(line), "View::OnMouseMoveEvent %d %d %d %d %u", e.x, e.y, e.globalX, e.globalY, e.modifiers);
    recordInput(line);
}

inline void fakeView::OnMouseButtonEvent(const eawebkit::MouseButtonEvent& e)
{
    char line[128];
    std::snprintf(line, sizeof(line), "View::OnMouseButtonEvent %d %d %d %d %d %u %d %d", int(e.id), e.x, e.y, e.globalX, e.globalY,
                  e.modifiers, e.clickCount, int(e.depressed));
    recordInput(line);
}

inline void fakeView::OnMouseWheelEvent(const eawebkit::MouseWheelEvent& e)
{
    char line[128];
    std::snprintf(line, sizeof(line), "View::OnMouseWheelEvent %d %g %d %d %d %d %u", e.delta, double(e.lineDelta), e.x, e.y, e.globalX,
                  e.globalY, e.modifiers);
    recordInput(line);
}

inline void fakeView::OnKeyboardEvent(const eawebkit::KeyboardEvent& e)
{
    char line[128];
    std::snprintf(line, sizeof(line), "View::OnKeyboardEvent %u %u %d %d", e.id, e.modifiers, int(e.isChar), int(e.depressed));
    recordInput(line);
}

inline bool fakeView::EvaluateScript(const char* script)
{
    owner->record(std::string("View::EvaluateScript ") + script, this);
    return true;
}

inline void fakeView::Shutdown()
{
    shutDown = true;
    owner->record("View::Shutdown");
}

// Reads the face whole, as the engine does, inside its own reference.
inline bool fakeTextSystem::AddFace(eawebkit::Stream* stream)
{
    owner->record("AddFace");
    stream->AddRef();
    std::string bytes(size_t(stream->GetSize()), '\0');
    stream->SetPosition(0, eawebkit::kPositionBegin);
    const uint64_t got = stream->Read(bytes.data(), bytes.size());
    stream->Release();
    bytes.resize(size_t(got));
    std::lock_guard<std::mutex> guard(owner->lock);
    owner->faces.push_back(bytes);
    return true;
}

} // namespace tavrix::test
