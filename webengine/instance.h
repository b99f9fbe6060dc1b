#pragma once
// The engine instance: its settings, text system, transport handlers and views.
#include "webengine/eawebkit.h"
#include "webengine/enginecontext.h"
#include "webengine/view.h"

#include <memory>
#include <string>
#include <vector>

namespace eawebkit::engine {

class engineInstance final : public Instance {
public:
    engineInstance();
    ~engineInstance();

    const char* GetVersion() override;
    bool Init(const AppCallbacks& callbacks, const AppSystems& systems) override;
    TextSystem* GetTextSystem() override { return &engine.text; }
    Parameters& GetParameters() override { return parameters; }
    void SetParameters(const Parameters& changed) override;
    void SetRAMCacheUsage(uint32_t size, uint32_t minDeadSize, uint32_t maxDeadSize) override;
    void SetDiskCacheUsage(uint32_t size, uint32_t maxFiles, uint32_t maxOpenedFiles, uint32_t minFileSize,
                           const char* path) override;
    void SetCookieUsage(uint32_t maxCookieSize, uint32_t totalSize, uint32_t maxCookiesPerHost,
                        const char* path) override;
    void AddTransportHandler(TransportHandler* handler, const char16_t* scheme) override;
    void Tick() override;
    View* CreateView() override;
    void Shutdown() override;
    void Destroy() override;

private:
    // Settings kept as given; the engine caches nothing and keeps no cookies.
    struct ramCacheSettings {
        uint32_t size = 0, minDeadSize = 0, maxDeadSize = 0;
    };
    struct diskCacheSettings {
        uint32_t size = 0, maxFiles = 0, maxOpenedFiles = 0, minFileSize = 0;
        std::string path;
    };
    struct cookieSettings {
        uint32_t maxCookieSize = 0, totalSize = 0, maxCookiesPerHost = 0;
        std::string path;
    };

    engineContext engine;
    Parameters parameters{};
    ramCacheSettings ramCache;
    diskCacheSettings diskCache;
    cookieSettings cookies;
    bool initialised = false;
    bool shutDown = false;
    // Last: views go before what they use.
    std::vector<std::unique_ptr<engineView>> views;
};

} // namespace eawebkit::engine
