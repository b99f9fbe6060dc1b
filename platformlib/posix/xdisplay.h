#pragma once
// The X display's error reports. Xlib's own handlers end the process through exit(), which runs the static
// destructors under the threads that still use them; these hand the reports to the client instead.

namespace tavrix::sys {

// onError gets a failed request's text (any thread, inside Xlib: it must not call the display); onLost runs
// when the connection to the display is gone and must not return. Xlib's handlers are process-wide, and
// the windowing library puts its default error handler back after the calls it guards (window and context
// creation): call this again after them.
void setDisplayErrorHandlers(void (*onError)(const char* text), void (*onLost)());

} // namespace tavrix::sys
