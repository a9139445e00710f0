"""Where the window opens: centred in the work area of the screen, with its
caption on screen.

1. A screen lower than the window (1024 x 600): the window keeps its 966 x 623
   and starts at the top edge; the bottom falls off instead. Without a window
   manager, which would otherwise move it onto the screen itself. The same
   with GDK_SCALE=2 on 1920 x 1080 (960 x 540 in GTK's pixels): 1932 x 1246
   device pixels, from the top left corner.
2. A panel that keeps 100 pixels at the top and 200 at the bottom of a
   1280 x 1024 screen (a dock window with _NET_WM_STRUT_PARTIAL, which openbox
   takes out of _NET_WORKAREA): the window is centred in what is left."""

import ctypes
import ctypes.util
import re

from harness import MAIN_TITLE, Desktop, HarnessError, run_checks, wait_until


class Dock:
    """A panel window: type dock, reserving `top` and `bottom` pixels."""

    def __init__(self, display, width, height, top, bottom):
        x = self.x = ctypes.CDLL(ctypes.util.find_library("X11"))
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XCreateSimpleWindow.restype = ctypes.c_ulong
        x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                          ctypes.c_int, ctypes.c_uint, ctypes.c_uint,
                                          ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]
        x.XInternAtom.restype = ctypes.c_ulong
        x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong,
                                      ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                      ctypes.c_void_p, ctypes.c_int]
        x.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        x.XFlush.argtypes = [ctypes.c_void_p]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.display = x.XOpenDisplay(display.encode())
        if not self.display:
            raise HarnessError("cannot open display " + display)
        root = x.XDefaultRootWindow(self.display)
        window = x.XCreateSimpleWindow(self.display, root, 0, 0, width, top, 0, 0, 0)

        def atom(name):
            return x.XInternAtom(self.display, name.encode(), 0)

        def cardinals(prop, kind, values):
            data = (ctypes.c_long * len(values))(*values)
            x.XChangeProperty(self.display, window, atom(prop), atom(kind), 32, 0,
                              ctypes.cast(data, ctypes.c_void_p), len(values))

        def struts():
            cardinals("_NET_WM_STRUT", "CARDINAL", [0, 0, top, bottom])
            cardinals("_NET_WM_STRUT_PARTIAL", "CARDINAL",
                      [0, 0, top, bottom, 0, 0, 0, 0, 0, width - 1, 0, width - 1])
            x.XFlush(self.display)

        cardinals("_NET_WM_WINDOW_TYPE", "ATOM", [atom("_NET_WM_WINDOW_TYPE_DOCK")])
        struts()
        x.XMapWindow(self.display, window)
        x.XFlush(self.display)
        x.XUnmapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]

        def again():
            # A window manager that was still starting up when the panel
            # appeared may have missed it: shown anew, it is seen again.
            struts()
            x.XUnmapWindow(self.display, window)
            x.XMapWindow(self.display, window)
            x.XFlush(self.display)

        self.again = again

    def close(self):
        self.x.XCloseDisplay(self.display)


def work_area(desk):
    out = desk.run(["xprop", "-root", "_NET_WORKAREA"], check=False)
    match = re.search(r"=\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)", out)
    return tuple(int(v) for v in match.groups()) if match else None


def opened_at(desk, size=(966, 623), extra_env=None):
    desk.start_program(extra_env=extra_env)
    wid = desk.wait_window(MAIN_TITLE)
    try:
        wait_until(lambda: desk.outer_geometry(wid)[2:] == size, 10, what="the outer size")
    except HarnessError:
        pass  # reported by the check
    return desk.outer_geometry(wid)


def small_screen(checks):
    with Desktop(accessibility=False, window_manager=False, width=1024, height=600) as desk:
        checks.equal(opened_at(desk), ((1024 - 966) // 2, 0, 966, 623),
                     "1024x600: the window keeps its size, its top at the top edge")
    with Desktop(accessibility=False, window_manager=False, width=1920, height=1080) as desk:
        checks.equal(opened_at(desk, (1932, 1246), {"GDK_SCALE": "2"}), (0, 0, 1932, 1246),
                     "GDK_SCALE=2 on 1920x1080: from the top left corner")


def panel(checks):
    with Desktop(accessibility=False) as desk:
        dock = Dock(desk.display, desk.width, desk.height, 100, 200)
        try:
            def reserved():
                if work_area(desk) == (0, 100, 1280, 724):
                    return work_area(desk)
                dock.again()
                return None

            area = wait_until(reserved, 20, interval=2,
                              what="the work area without the panel (now %r)" % (work_area(desk),))
            checks.equal(opened_at(desk), (157, 100 + (724 - 623) // 2, 966, 623),
                         "centred in the work area %r, not on the whole screen" % (area,))
        finally:
            dock.close()


def body(checks):
    small_screen(checks)
    panel(checks)


if __name__ == "__main__":
    run_checks(body)
