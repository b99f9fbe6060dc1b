// Interim user interface: no engine, no windows; its last cycle reads 0 ms.
#include "client/ui.h"

#include "client/clientlogger.h"

namespace tavrix::ui {
void init()
{
    getLogger()->logEx(util::LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "ui: interim version - no web interface\n");
}
void final() {}
void onResolutionChange(int32_t, int32_t) {}
std::atomic<int32_t> lastFrameMs{0};
} // namespace tavrix::ui
