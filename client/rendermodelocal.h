#pragma once
// The render modes' test seam.
#include <cstdint>

namespace tavrix::renderMode {

// Before init: how long init waits for the loading screen's page, 20000 ms unless set.
void setLoadingPageWaitMs(int32_t milliseconds);

} // namespace tavrix::renderMode
