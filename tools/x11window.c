#include "x11window.h"

#include <X11/Xutil.h>

#include <string.h>

static int hasName(Display* display, Window window, const char* name)
{
    char* wmName = NULL;
    if (XFetchName(display, window, &wmName) && wmName) {
        const int same = strcmp(wmName, name) == 0;
        XFree(wmName);
        if (same)
            return 1;
    }
    const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* value = NULL;
    int same = 0;
    if (XGetWindowProperty(display, window, netWmName, 0, 1024, False, utf8, &type, &format, &count, &after, &value) == Success &&
        value) {
        same = type == utf8 && strlen(name) == count && memcmp(value, name, count) == 0;
        XFree(value);
    }
    return same;
}

static Window search(Display* display, Window from, const char* name)
{
    if (hasName(display, from, name))
        return from;
    Window root, parent, *children = NULL;
    unsigned int n = 0;
    if (!XQueryTree(display, from, &root, &parent, &children, &n))
        return None;
    Window found = None;
    for (unsigned int i = 0; i < n && found == None; ++i)
        found = search(display, children[i], name);
    if (children)
        XFree(children);
    return found;
}

/* A window that another client destroys while the search is under way fails the requests that name it;
 * the default handler would end the program, this one lets the request fail and the search go on. */
static int ignoreError(Display* display, XErrorEvent* error)
{
    (void)display;
    (void)error;
    return 0;
}

Window x11_findWindowByName(Display* display, Window from, const char* name)
{
    XSync(display, False);
    int (*previous)(Display*, XErrorEvent*) = XSetErrorHandler(ignoreError);
    const Window found = search(display, from, name);
    XSync(display, False);
    XSetErrorHandler(previous);
    return found;
}
