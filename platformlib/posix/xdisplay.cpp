#include "platformlib/posix/xdisplay.h"

#include <X11/Xlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace tavrix::sys {

namespace {

std::atomic<void (*)(const char*)> errorReport{nullptr};
std::atomic<void (*)()> lostReport{nullptr};

int onXError(Display* display, XErrorEvent* event)
{
    char name[256];
    XGetErrorText(display, event->error_code, name, sizeof(name));
    char text[512];
    std::snprintf(text, sizeof(text), "%s (request %u.%u, resource 0x%lX)", name, unsigned(event->request_code),
                  unsigned(event->minor_code), event->resourceid);
    if (auto* report = errorReport.load())
        report(text);
    return 0;
}

// Xlib ends the process with exit() when this returns.
int onXIOError(Display*)
{
    if (auto* lost = lostReport.load())
        lost();
    _exit(1);
}

} // namespace

void setDisplayErrorHandlers(void (*onError)(const char* text), void (*onLost)())
{
    errorReport.store(onError);
    lostReport.store(onLost);
    XSetErrorHandler(onXError);
    XSetIOErrorHandler(onXIOError);
}

} // namespace tavrix::sys
