/* Clicks into a top-level window as a user does: the pointer moves to a point of the window and the left
 * button goes down and up, through the display's input extension, so the window gets real pointer events.
 * Usage: clickwindow X Y [window name]   (X and Y in window pixels from its top-left; default "Tavrix!")
 * Exit status: 0 when the click was made, 1 when no display, no such window or no input extension, 2 on
 * bad usage. */
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "x11window.h"

/* Between the pointer's move and the press, and the press and release: the client sees a cursor position
 * before the button, as it does from a hand on a mouse. */
#define STEP_MICROSECONDS 50000

static int parseCoordinate(const char* text, int* out)
{
    char* end = NULL;
    const long value = strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < 0 || value > 65535)
        return 0;
    *out = (int)value;
    return 1;
}

int main(int argc, char** argv)
{
    int x, y;
    if (argc < 3 || argc > 4 || !parseCoordinate(argv[1], &x) || !parseCoordinate(argv[2], &y)) {
        fprintf(stderr, "usage: %s X Y [window name]\n", argv[0]);
        return 2;
    }
    const char* name = argc == 4 ? argv[3] : "Tavrix!";
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "clickwindow: cannot open the display\n");
        return 1;
    }
    int eventBase, errorBase, major, minor;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        fprintf(stderr, "clickwindow: the display has no input test extension\n");
        XCloseDisplay(display);
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    const Window target = x11_findWindowByName(display, root, name);
    if (target == None) {
        fprintf(stderr, "clickwindow: no window named \"%s\"\n", name);
        XCloseDisplay(display);
        return 1;
    }
    int rootX = 0, rootY = 0;
    Window child;
    XTranslateCoordinates(display, target, root, x, y, &rootX, &rootY, &child);
    XTestFakeMotionEvent(display, DefaultScreen(display), rootX, rootY, CurrentTime);
    XSync(display, False);
    usleep(STEP_MICROSECONDS);
    XTestFakeButtonEvent(display, Button1, True, CurrentTime);
    XSync(display, False);
    usleep(STEP_MICROSECONDS);
    XTestFakeButtonEvent(display, Button1, False, CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
}
