#pragma once
// What every view of an instance shares.
#include "webengine/eawebkit.h"
#include "webengine/textsystem.h"
#include "webengine/transport.h"

#include <litehtml/litehtml.h>

namespace eawebkit::engine {

struct engineContext {
    textSystem text;
    transport transports;
    litehtml::context styles;
    Client* client = nullptr;
};

} // namespace eawebkit::engine
