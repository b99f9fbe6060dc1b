// Interim user interface: no engine, no windows; its last cycle reads 0 ms.
#include "client/ui.h"

#include "client/clientlogger.h"

namespace tavrix::ui {
void init()
{
    CLIENT_LOG(util::LOG_INFO, "ui: interim version - no web interface\n");
}
void final() {}
void onResolutionChange(int32_t, int32_t) {}
std::atomic<int32_t> lastFrameMs{0};
} // namespace tavrix::ui
