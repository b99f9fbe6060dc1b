// The web engine at the client's screen size (1280 x 1024): loading and first painting each bundled page,
// repainting an unchanged page, one worker cycle of an idle view, and one worker cycle of the loading page
// that takes a burst of status texts (as a content update sets one a file), each against the budget of one
// frame at 60 Hz. The repaint sits beside clearing the surface with cairo, the floor of every repaint.
#include "ratioreporter.h"
#include "webengine/enginehost.h"

#include "platformlib/posix/dynlib.h"

#include <cairo.h>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

using tavrix::test::bytesStream;
using tavrix::test::recordingClient;
using tavrix::test::statusStatement;
using tavrix::test::tableHandler;

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;
constexpr double kFrameSeconds = 1.0 / 60;

const char* const kPages[] = {"sys.loadingScreenWindow", "sys.downloadWindow", "mainMenu.titleScreen"};

std::string pageURL(const std::string& page)
{
    return "file://ui/" + page + "/index.html";
}

// One engine with the client's fonts, serving the bundled content tree, and one view of the screen's size.
struct engineHost {
    tavrix::sys::dynLib library{TAVRIX_ENGINE_LIBRARY};
    eawebkit::Instance* engine = nullptr;
    recordingClient client;
    tableHandler handler;
    bytesStream::counters fonts;
    eawebkit::View* view = nullptr;

    engineHost()
    {
        auto create = reinterpret_cast<eawebkit::Instance* (*)()>(library.getProcAddress("CreateEAWebkitInstance"));
        engine = create();
        engine->Init({nullptr, {}}, {nullptr, {}, &client});
        tavrix::test::addClientFonts(*engine, fonts);
        // Each page with the files beside it (the menu's images).
        for (const char* page : kPages)
            for (const auto& file : std::filesystem::directory_iterator(std::string(TAVRIX_CONTENT_DIR) + "/data/ui/" + page))
                handler.files["file://ui/" + std::string(page) + "/" + file.path().filename().string()] = {
                    tavrix::test::readWholeFile(file.path().string())};
        engine->AddTransportHandler(&handler, u"file");
        view = engine->CreateView();
        view->Init(tavrix::test::clientViewParameters(this, kWidth, kHeight));
    }

    ~engineHost()
    {
        view->Shutdown();
        engine->Shutdown();
        engine->Destroy();
    }

    // Loads a page as the worker does, one update a cycle; false when it does not complete.
    bool load(const std::string& url)
    {
        size_t before = client.loads.size();
        view->SetURI(url.c_str());
        while (client.loads.size() == before)
            view->Update(0);
        return client.loads.back().event == eawebkit::kLoadCompleted;
    }
};

engineHost& host()
{
    static engineHost instance;
    return instance;
}

void loadAndFirstPaint(benchmark::State& state, const std::string& url)
{
    for (auto _ : state)
        if (!host().load(url))
            state.SkipWithError("the page did not load");
}

void repaint(benchmark::State& state, const std::string& url)
{
    if (!host().load(url))
        state.SkipWithError("the page did not load");
    for (auto _ : state)
        host().view->Update(eawebkit::kUpdateForceRepaint);
}

void idleCycle(benchmark::State& state, const std::string& url)
{
    if (!host().load(url))
        state.SkipWithError("the page did not load");
    int repaints = host().client.repaints;
    for (auto _ : state) {
        host().engine->Tick();
        host().view->Update(0);
    }
    if (host().client.repaints != repaints)
        state.SkipWithError("an idle view repainted");
}

constexpr int kStatusTextsPerCycle = 16;

void statusTextBurst(benchmark::State& state)
{
    if (!host().load(pageURL("sys.loadingScreenWindow")))
        state.SkipWithError("the page did not load");
    std::vector<std::string> statements;
    for (int i = 0; i < kStatusTextsPerCycle; ++i)
        statements.push_back(statusStatement("Writing 'data/bench/d00/f" + std::to_string(1000 + i) + ".bin' to Disk"));
    for (auto _ : state) {
        for (const std::string& statement : statements)
            if (!host().view->EvaluateScript(statement.c_str()))
                state.SkipWithError("a status text was refused");
        host().view->Update(0);
    }
}

void clearSurface(benchmark::State& state)
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight);
    for (auto _ : state) {
        cairo_t* cr = cairo_create(surface);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_rgba(cr, 1, 1, 1, 1);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
    }
    cairo_surface_destroy(surface);
}

void printBudget(const tavrix::bench::ratioReporter& reporter, const std::string& name)
{
    if (const tavrix::bench::runFigures* run = reporter.find(name))
        std::printf("%-56s %-16s %10.3gx\n", (name + " / 60 Hz frame").c_str(), "time", run->realSeconds / kFrameSeconds);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> names;
    for (const char* page : kPages) {
        std::string url = pageURL(page);
        names.push_back(std::string("webengine/loadAndFirstPaint/") + page);
        benchmark::RegisterBenchmark(names.back().c_str(), loadAndFirstPaint, url)->Unit(benchmark::kMillisecond);
        names.push_back(std::string("webengine/repaint/") + page);
        benchmark::RegisterBenchmark(names.back().c_str(), repaint, url)->Unit(benchmark::kMillisecond);
        names.push_back(std::string("webengine/idleCycle/") + page);
        benchmark::RegisterBenchmark(names.back().c_str(), idleCycle, url)->Unit(benchmark::kMicrosecond);
    }
    names.push_back("webengine/statusTextBurst/" + std::to_string(kStatusTextsPerCycle));
    benchmark::RegisterBenchmark(names.back().c_str(), statusTextBurst)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("webengine/clearSurface", clearSurface)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    tavrix::bench::ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const std::string& name : names)
        printBudget(reporter, name);
    for (const char* page : kPages)
        reporter.printTimeRatio(std::string("repaint ") + page + " / clearing the surface",
                                std::string("webengine/repaint/") + page, "webengine/clearSurface");
    benchmark::Shutdown();
    return 0;
}
