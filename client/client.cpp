#include "client/client.h"

#include "client/clientlogger.h"
#include "client/cvar.h"
#include "client/debug.h"
#include "platformlib/platform.h"

namespace tavrix::client {

bool init()
{
    auto* out = getLogger();
    out->logEx(util::LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "Tavrix - Initialization\n");
    out->logEx(util::LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "Version %s\n", platform_getVersionString());
    out->logEx(util::LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "DEBUG Build\n");
    return cvar::init();
}

void run() {}

void final()
{
    debug_logProcessMemoryStats();
    cvar::final();
}

} // namespace tavrix::client
