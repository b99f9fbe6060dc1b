#pragma once
// The engine library loaded in-process through the platform's loader, as the client loads it, with the
// host objects of enginehost.h.
#include "enginehost.h"
#include "platformlib/posix/dynlib.h"

#include <gtest/gtest.h>

#include <memory>

namespace tavrix::test {

class engineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        library = std::make_unique<tavrix::sys::dynLib>(TAVRIX_ENGINE_LIBRARY);
        auto create = reinterpret_cast<eawebkit::Instance* (*)()>(library->getProcAddress("CreateEAWebkitInstance"));
        describeView = reinterpret_cast<size_t (*)(eawebkit::View*, char*, size_t)>(
            library->getProcAddress("EAWebkitDebugDescribeView"));
        ASSERT_NE(create, nullptr);
        ASSERT_NE(describeView, nullptr);
        engine = create();
        ASSERT_NE(engine, nullptr);
        fakeTime = 100.0;
        eawebkit::AppCallbacks callbacks{fakeClock, {}};
        eawebkit::AppSystems systems{nullptr, {}, &client};
        ASSERT_TRUE(engine->Init(callbacks, systems));
    }

    void TearDown() override
    {
        for (eawebkit::View* view : views)
            view->Shutdown();
        if (engine) {
            engine->Shutdown();
            engine->Destroy();
        }
        library.reset();
    }

    void addClientFonts(bytesStream::counters& count) { tavrix::test::addClientFonts(*engine, count); }

    bool addFace(const std::string& path, bytesStream::counters& count)
    {
        return addFontFile(*engine, path, count);
    }

    void serveFile()
    {
        engine->AddTransportHandler(&handler, u"file");
    }

    // A view initialised with the client's parameters.
    eawebkit::View* newView(int32_t width, int32_t height)
    {
        eawebkit::View* view = engine->CreateView();
        EXPECT_NE(view, nullptr);
        EXPECT_TRUE(view->Init(clientViewParameters(this, width, height)));
        views.push_back(view);
        return view;
    }

    void endView(eawebkit::View* view)
    {
        std::erase(views, view);
        view->Shutdown();
    }

    // Updates the view until a load event arrives (at most `cycles` updates); the event, or -1.
    int32_t updateUntilLoaded(eawebkit::View* view, int cycles = 50)
    {
        size_t before = client.loads.size();
        for (int i = 0; i < cycles && client.loads.size() == before; ++i)
            view->Update(0);
        return client.loads.size() == before ? -1 : client.loads.back().event;
    }

    int32_t load(eawebkit::View* view, const std::string& url, int cycles = 50)
    {
        size_t before = client.loads.size();
        view->SetURI(url.c_str());
        if (client.loads.size() != before)
            return client.loads.back().event;
        return updateUntilLoaded(view, cycles);
    }

    // Serves `html` as file://ui/<name>/index.html and loads it.
    int32_t loadPage(eawebkit::View* view, const std::string& name, const std::string& html)
    {
        std::string url = "file://ui/" + name + "/index.html";
        handler.files[url] = {html};
        return load(view, url);
    }

    static BGRA pixel(eawebkit::View* view, int x, int y)
    {
        eawebkit::SurfaceDescriptor descriptor{};
        eawebkit::Surface* surface = view->GetSurface();
        surface->Lock(&descriptor, nullptr);
        const uint8_t* p = static_cast<const uint8_t*>(descriptor.pixels) + ptrdiff_t(y) * descriptor.stride + x * 4;
        BGRA value{p[0], p[1], p[2], p[3]};
        surface->Unlock();
        return value;
    }

    std::string describe(eawebkit::View* view) const
    {
        char buffer[2048];
        describeView(view, buffer, sizeof buffer);
        return buffer;
    }

    std::unique_ptr<tavrix::sys::dynLib> library;
    size_t (*describeView)(eawebkit::View*, char*, size_t) = nullptr;
    eawebkit::Instance* engine = nullptr;
    recordingClient client;
    tableHandler handler;
    std::vector<eawebkit::View*> views;
};

} // namespace tavrix::test
