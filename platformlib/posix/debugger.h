#pragma once

namespace tavrix::sys {
// True while a tracer (a debugger) is attached to the process.
bool debuggerAttached();
// Stops in the attached debugger; without one the process would end, so callers check first.
void debugBreak();
} // namespace tavrix::sys
