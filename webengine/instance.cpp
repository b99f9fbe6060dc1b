#include "webengine/instance.h"

#include "webengine/guard.h"
#include "webengine/useragentstyle.h"

#include <algorithm>
#include <cstring>

namespace eawebkit::engine {
namespace {

constexpr char kVersion[] = "13.3.2.0.0";
constexpr uint32_t kDefaultJavaScriptStack = 1 << 20;
constexpr size_t kMaxPathBytes = 4096;

std::string boundedCopy(const char* text)
{
    return text ? std::string(text, strnlen(text, kMaxPathBytes)) : std::string();
}

} // namespace

engineInstance::engineInstance()
{
    parameters.javaScriptStackSize = kDefaultJavaScriptStack;
    parameters.pluginsEnabled = true;
}

engineInstance::~engineInstance() = default;

const char* engineInstance::GetVersion()
{
    return kVersion;
}

bool engineInstance::Init(const AppCallbacks& callbacks, const AppSystems& systems)
{
    return guarded(
        false,
        [&] {
            engine.transports.useClock(callbacks.timeSource);
            engine.client = systems.client;
            if (!initialised)
                engine.styles.load_master_stylesheet(kUserAgentStyleSheet);
            initialised = true;
            return true;
        },
        ignore);
}

void engineInstance::SetParameters(const Parameters& changed)
{
    guarded(
        [&] {
            if (&changed != &parameters)
                parameters = changed;
            engine.text.configure(parameters);
        },
        ignore);
}

void engineInstance::SetRAMCacheUsage(uint32_t size, uint32_t minDeadSize, uint32_t maxDeadSize)
{
    ramCache = {size, minDeadSize, maxDeadSize};
}

void engineInstance::SetDiskCacheUsage(uint32_t size, uint32_t maxFiles, uint32_t maxOpenedFiles, uint32_t minFileSize,
                                       const char* path)
{
    guarded([&] { diskCache = {size, maxFiles, maxOpenedFiles, minFileSize, boundedCopy(path)}; }, ignore);
}

void engineInstance::SetCookieUsage(uint32_t maxCookieSize, uint32_t totalSize, uint32_t maxCookiesPerHost,
                                    const char* path)
{
    guarded([&] { cookies = {maxCookieSize, totalSize, maxCookiesPerHost, boundedCopy(path)}; }, ignore);
}

void engineInstance::AddTransportHandler(TransportHandler* handler, const char16_t* scheme)
{
    guarded(
        [&] {
            if (scheme)
                engine.transports.addHandler(handler, scheme);
        },
        ignore);
}

// Views do their work in their own Update.
void engineInstance::Tick() {}

View* engineInstance::CreateView()
{
    return guarded<View*>(
        nullptr,
        [&]() -> View* {
            if (!initialised || shutDown)
                return nullptr;
            views.push_back(std::make_unique<engineView>(engine, [this](engineView* ended) {
                std::erase_if(views, [ended](const std::unique_ptr<engineView>& v) { return v.get() == ended; });
            }));
            return views.back().get();
        },
        ignore);
}

void engineInstance::Shutdown()
{
    guarded(
        [&] {
            if (shutDown)
                return;
            shutDown = true;
            views.clear();
            engine.transports.shutdown();
        },
        ignore);
}

void engineInstance::Destroy()
{
    Shutdown();
    delete this;
}

} // namespace eawebkit::engine

extern "C" EAWEBKIT_EXPORT eawebkit::Instance* CreateEAWebkitInstance()
{
    try {
        return new eawebkit::engine::engineInstance;
    } catch (const std::exception&) {
        return nullptr;
    }
}
