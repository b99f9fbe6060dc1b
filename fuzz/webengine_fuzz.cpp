// Feeds one input to the web engine as a page with its style sheets, image and status text, served through
// the test transport handler: sections split at "\n--\n" are the page (file://ui/f/index.html), the
// status text, then a.css, b.css, c.css and i.png, in that order (missing ones are answered with 404).
// Each input runs a few cycles of update, paint and input, a resize, and the three statements the client
// hands its pages. The engine must neither crash nor break a sanitizer, and every load must end in one event.
#include "webengine/enginehost.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace tavrix::test;

constexpr std::string_view kSeparator = "\n--\n";
constexpr const char* kNames[] = {"a.css", "b.css", "c.css", "i.png"};
constexpr int kLoadCycles = 24;
// The engine keeps its fonts' sizes and glyphs for its lifetime: a fresh one now and then keeps a long run
// within its memory limit.
constexpr int kInputsPerEngine = 1000;

std::vector<std::string_view> sections(std::string_view input)
{
    std::vector<std::string_view> out;
    while (true) {
        size_t at = input.find(kSeparator);
        out.push_back(input.substr(0, at));
        if (at == std::string_view::npos)
            return out;
        input.remove_prefix(at + kSeparator.size());
    }
}

struct engineUnderTest {
    eawebkit::Instance* engine = CreateEAWebkitInstance();
    recordingClient client;
    tableHandler handler;
    bytesStream::counters fonts;
    int inputs = 0;

    engineUnderTest()
    {
        engine->Init({fakeClock, {}}, {nullptr, {}, &client});
        addClientFonts(*engine, fonts);
        engine->AddTransportHandler(&handler, u"file");
    }
    ~engineUnderTest() { engine->Destroy(); }
};

engineUnderTest& host()
{
    static std::unique_ptr<engineUnderTest> instance;
    if (!instance || instance->inputs++ >= kInputsPerEngine)
        instance = std::make_unique<engineUnderTest>();
    return *instance;
}

void input(eawebkit::View* view, int x, int y)
{
    view->OnMouseMoveEvent({x, y, -1, -1, 0});
    view->OnMouseButtonEvent({eawebkit::kMouseLeft, x, y, -1, -1, 0, 1, true});
    view->OnMouseButtonEvent({eawebkit::kMouseLeft, x, y, -1, -1, 0, 1, false});
    view->OnMouseWheelEvent({-120, 1.0f, -1, -1, -1, -1, 0});
    view->OnKeyboardEvent({'A', 0, true, true});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    engineUnderTest& h = host();
    std::vector<std::string_view> parts = sections(std::string_view(reinterpret_cast<const char*>(data), size));
    h.handler.files.clear();
    h.handler.files["file://ui/f/index.html"] = {std::string(parts[0])};
    for (size_t i = 2; i < parts.size() && i - 2 < std::size(kNames); ++i)
        h.handler.files[std::string("file://ui/f/") + kNames[i - 2]] = {std::string(parts[i])};
    std::string status = parts.size() > 1 ? std::string(parts[1]) : std::string();

    eawebkit::View* view = h.engine->CreateView();
    view->Init(clientViewParameters(&h, 320, 240));
    size_t before = h.client.loads.size();
    view->SetURI("file://ui/f/index.html");
    for (int i = 0; i < kLoadCycles && h.client.loads.size() == before; ++i)
        view->Update(0);
    // Every page here is served at once: its load has ended.
    if (h.client.loads.size() != before + 1)
        std::abort();
    view->Update(eawebkit::kUpdateForceRepaint);
    input(view, 10, 10);
    view->SetSize(200, 300);
    view->EvaluateScript("document.getElementById('progress').style.width ='42%';");
    view->EvaluateScript(statusStatement(status).c_str());
    view->EvaluateScript("document.title = \"\\x41\";");
    input(view, 150, 250);
    view->Update(0);
    view->Shutdown();
    h.client.loads.clear();
    h.client.warnings.clear();
    h.handler.calls.clear();
    return 0;
}
