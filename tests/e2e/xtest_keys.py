"""Real key events through the XTEST extension, exactly the keys named:
xdotool adds the keys it thinks a keysym needs (it presses Super_L along with
Super_R, for one), which would make a right-Windows test meaningless."""

import ctypes
import ctypes.util
import time


class XTestKeys:
    def __init__(self, display):
        self.x = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.xt = ctypes.CDLL(ctypes.util.find_library("Xtst"))
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XStringToKeysym.restype = ctypes.c_ulong
        self.x.XStringToKeysym.argtypes = [ctypes.c_char_p]
        self.x.XKeysymToKeycode.restype = ctypes.c_ubyte
        self.x.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x.XFlush.argtypes = [ctypes.c_void_p]
        self.x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xt.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                              ctypes.c_ulong]
        self.display = self.x.XOpenDisplay(display.encode())
        if not self.display:
            raise RuntimeError("cannot open display " + display)

    def keycode(self, name):
        code = self.x.XKeysymToKeycode(self.display, self.x.XStringToKeysym(name.encode()))
        if not code:
            raise RuntimeError("no key for " + name)
        return code

    def _send(self, code, down):
        self.xt.XTestFakeKeyEvent(self.display, code, 1 if down else 0, 0)
        self.x.XSync(self.display, 0)

    def press(self, *names, hold=0.08):
        """Every key down in order, a moment held, then all up in reverse."""
        codes = [self.keycode(n) for n in names]
        for c in codes:
            self._send(c, True)
        time.sleep(hold)
        for c in reversed(codes):
            self._send(c, False)

    def close(self):
        if self.display:
            self.x.XCloseDisplay(self.display)
            self.display = None
