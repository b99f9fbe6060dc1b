#pragma once
// The transport handlers the host registered, one per scheme, and the jobs started through them.
#include "webengine/eawebkit.h"
#include "webengine/transferjob.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace eawebkit::engine {

class transport {
public:
    // Until the host gives a clock, the engine's own monotonic one.
    transport();
    void useClock(TimeSource source);

    // Calls the handler's Init; a handler that refuses is not registered.
    void addHandler(TransportHandler* handler, std::u16string_view scheme);
    // Calls every handler's Shutdown and forgets them.
    void shutdown();

    // The time on the host's clock, in seconds.
    double now() const { return clock(); }
    TransportHandler* handlerFor(std::string_view scheme) const;
    // A job for an absolute address through its scheme's handler, or null when no handler serves it.
    std::unique_ptr<transferJob> start(std::string_view url) const;

private:
    struct registration {
        std::string scheme; // lower case
        std::u16string scheme16;
        TransportHandler* handler;
    };

    TimeSource clock;
    std::vector<registration> handlers;
};

} // namespace eawebkit::engine
