/* Asks a top-level window to close as a window manager does: a WM_DELETE_WINDOW client message.
 * Usage: closewindow [window name]   (default "Tavrix!")
 * Exit status: 0 when the request was sent, 1 when no display or no such window, 2 on bad usage. */
#include <X11/Xlib.h>

#include <stdio.h>
#include <string.h>

#include "x11window.h"

int main(int argc, char** argv)
{
    if (argc > 2) {
        fprintf(stderr, "usage: %s [window name]\n", argv[0]);
        return 2;
    }
    const char* name = argc == 2 ? argv[1] : "Tavrix!";
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "closewindow: cannot open the display\n");
        return 1;
    }
    Window target = x11_findWindowByName(display, DefaultRootWindow(display), name);
    if (target == None) {
        fprintf(stderr, "closewindow: no window named \"%s\"\n", name);
        XCloseDisplay(display);
        return 1;
    }
    XEvent event;
    memset(&event, 0, sizeof(event));
    event.xclient.type = ClientMessage;
    event.xclient.window = target;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, target, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
}
