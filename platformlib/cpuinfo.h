#pragma once

namespace tavrix {
// Logs the processor report; ends the process when a required instruction set is missing.
void cpuinfo_init();
} // namespace tavrix
