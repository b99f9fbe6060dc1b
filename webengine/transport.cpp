#include "webengine/transport.h"

#include "webengine/url.h"

#include <algorithm>
#include <chrono>

namespace eawebkit::engine {
namespace {

double monotonicSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

transport::transport() : clock(monotonicSeconds) {}

void transport::useClock(TimeSource source)
{
    clock = source ? source : monotonicSeconds;
}

void transport::addHandler(TransportHandler* handler, std::u16string_view scheme)
{
    std::string name = urlScheme(toUTF8(scheme) + ":");
    if (!handler || name.empty() || name.size() >= kTransportSchemeChars)
        return;
    std::u16string name16 = toUTF16(name);
    if (!handler->Init(name16.c_str()))
        return;
    auto replaced = std::find_if(handlers.begin(), handlers.end(), [&](const registration& r) { return r.scheme == name; });
    if (replaced != handlers.end()) {
        replaced->handler->Shutdown(replaced->scheme16.c_str());
        handlers.erase(replaced);
    }
    handlers.push_back({name, std::move(name16), handler});
}

void transport::shutdown()
{
    for (registration& r : handlers)
        r.handler->Shutdown(r.scheme16.c_str());
    handlers.clear();
}

TransportHandler* transport::handlerFor(std::string_view scheme) const
{
    auto found = std::find_if(handlers.begin(), handlers.end(), [&](const registration& r) { return r.scheme == scheme; });
    return found == handlers.end() ? nullptr : found->handler;
}

std::unique_ptr<transferJob> transport::start(std::string_view url) const
{
    std::string scheme = urlScheme(url);
    TransportHandler* handler = handlerFor(scheme);
    if (!handler)
        return nullptr;
    return std::make_unique<transferJob>(*handler, toUTF16(url), toUTF16(scheme), clock);
}

} // namespace eawebkit::engine
