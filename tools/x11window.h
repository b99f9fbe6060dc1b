/* Finding a top-level window of the X display by its title, for the tools and the whole-process tests. */
#pragma once
#include <X11/Xlib.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The first window below `from` (depth first, `from` included) whose WM_NAME or _NET_WM_NAME is `name`;
 * None when there is none. */
Window x11_findWindowByName(Display* display, Window from, const char* name);

#ifdef __cplusplus
}
#endif
