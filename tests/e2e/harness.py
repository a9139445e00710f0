"""End-to-end test harness: a private desktop for one test script.

    with Desktop() as desk:
        desk.start_site()
        desk.start_program()
        wid = desk.wait_window(MAIN_TITLE)
        x, y, w, h = desk.outer_geometry(wid)

The desktop is an Xvfb server (1280x1024x24, display number chosen by Xvfb
itself with -displayfd), a private D-Bus session bus, the accessibility bus
(so GTK exposes its widgets through AT-SPI), openbox as the window manager and,
on request, a private PulseAudio server (tests/e2e/pulse.py). Everything the
harness starts is stopped when the `with` block ends, also on failure.

Geometry conventions:
  * outer_geometry(wid) is the window manager's frame window - the ancestor of
    the client window just below the root - as `xwininfo -id` reports it:
    absolute x, y and the frame's width and height, title bar and borders
    included. Without a window manager it is the client window itself.
  * client_geometry(wid) is the client window (menu bar + client area).
  * frame_extents(wid) is _NET_FRAME_EXTENTS (left, right, top, bottom) read
    with xprop, a cross-check of the two above.

Only the Python standard library and Debian's python3-pyatspi/gi are used.
Run the tests with /usr/bin/python3.
"""

import contextlib
import ctypes
import ctypes.util
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

MAIN_TITLE = "Zandrel【PC语音读题版】含 科目一 科目四"
def _built_host(name, default):
    """The exam host the program under test was built with (a build setting)."""
    here = os.path.dirname(os.path.abspath(__file__))
    build = os.environ.get("ZANDREL_BUILD_DIR") or os.path.join(here, "..", "..", "build")
    header = os.path.join(build, "generated", "app", "exam_addresses.h")
    with contextlib.suppress(OSError), open(header, encoding="utf-8") as f:
        match = re.search(r'%s = "([^"]+)"' % name, f.read())
        if match:
            return match.group(1)
    return default


SUBJECT1_HOST = _built_host("Subject1Host", "127.0.0.1:47101")
SUBJECT4_HOST = _built_host("Subject4Host", "127.0.0.1:47104")
SCREEN_WIDTH = 1280
SCREEN_HEIGHT = 1024


def build_dir():
    here = os.path.dirname(os.path.abspath(__file__))
    return os.environ.get("ZANDREL_BUILD_DIR") or os.path.join(here, "..", "..", "build")


def source_dir():
    here = os.path.dirname(os.path.abspath(__file__))
    return os.environ.get("ZANDREL_SOURCE_DIR") or os.path.join(here, "..", "..")


def program_path():
    """The program under test: $ZANDREL_E2E_PROGRAM, else the built zandrel."""
    return os.environ.get("ZANDREL_E2E_PROGRAM") or os.path.join(build_dir(), "zandrel")


class HarnessError(Exception):
    pass


def wait_until(predicate, timeout, interval=0.1, what="condition"):
    """Polls predicate() until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise HarnessError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


class Checks:
    """Counts checks and prints each one; summary() ends the script."""

    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, what, detail=""):
        if ok:
            self.passed += 1
            print("PASS", what, detail, flush=True)
        else:
            self.failed += 1
            print("FAIL", what, detail, flush=True)
        return ok

    def equal(self, actual, expected, what):
        return self.check(actual == expected, what,
                          "(got %r, expected %r)" % (actual, expected))

    def summary(self):
        print("%d passed, %d failed" % (self.passed, self.failed), flush=True)
        return 0 if self.failed == 0 and self.passed > 0 else 1


def run_checks(body):
    """Runs body(checks) and exits with the result; an exception is a failure."""
    checks = Checks()
    try:
        body(checks)
    except Exception as error:  # the test failed, not the harness: report it
        import traceback
        traceback.print_exc()
        checks.check(False, "test ran to its end", "(%s: %s)" % (type(error).__name__, error))
    sys.exit(checks.summary())


class _Xlib:
    """The few Xlib calls xdotool/xprop cannot make: EWMH client messages."""

    class _ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class _Event(ctypes.Union):
        pass

    _Event._fields_ = [("xclient", _ClientMessage), ("pad", ctypes.c_long * 24)]

    def __init__(self, display):
        self.lib = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.lib.XOpenDisplay.restype = ctypes.c_void_p
        self.lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.lib.XInternAtom.restype = ctypes.c_ulong
        self.lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self.lib.XDefaultRootWindow.restype = ctypes.c_ulong
        self.lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                        ctypes.c_long, ctypes.c_void_p]
        self.lib.XFlush.argtypes = [ctypes.c_void_p]
        self.lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.display = self.lib.XOpenDisplay(display.encode())
        if not self.display:
            raise HarnessError("cannot open display " + display)

    def close(self):
        if self.display:
            self.lib.XCloseDisplay(self.display)
            self.display = None

    def atom(self, name):
        return self.lib.XInternAtom(self.display, name.encode(), 0)

    def send_wm_message(self, window, message, data):
        """A client message to the root window, as EWMH pagers send them."""
        event = _Xlib._Event()
        event.xclient.type = 33  # ClientMessage
        event.xclient.send_event = 1
        event.xclient.window = window
        event.xclient.message_type = self.atom(message)
        event.xclient.format = 32
        for i, value in enumerate(data[:5]):
            event.xclient.data[i] = value
        mask = (1 << 19) | (1 << 20)  # SubstructureNotify | SubstructureRedirect
        root = self.lib.XDefaultRootWindow(self.display)
        self.lib.XSendEvent(self.display, root, 0, mask, ctypes.byref(event))
        self.lib.XFlush(self.display)


class Desktop:
    def __init__(self, window_manager=True, accessibility=True, audio=False,
                 width=SCREEN_WIDTH, height=SCREEN_HEIGHT):
        self.window_manager = window_manager
        self.accessibility = accessibility
        self.audio = audio
        self.width = width
        self.height = height
        self.processes = []  # (name, Popen), stopped in reverse order
        self.logs = {}
        self.tmp = None
        self.env = None
        self.display = None
        self.pulse = None
        self.program = None
        self._xlib = None

    # -- start and stop ---------------------------------------------------

    def __enter__(self):
        self.tmp = tempfile.mkdtemp(prefix="zandrel-e2e-")
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        if self._xlib:
            self._xlib.close()
            self._xlib = None
        if self.pulse is not None:
            with contextlib.suppress(Exception):
                self.pulse.stop()
            self.pulse = None
        for name, process in reversed(self.processes):
            self._stop(process)
        self.processes = []
        if exc and exc[0] is not None:
            self.dump_logs()
        critical = self._critical_lines()
        if self.tmp and not os.environ.get("ZANDREL_E2E_KEEP"):
            shutil.rmtree(self.tmp, ignore_errors=True)
        # A GLib CRITICAL is a fault of the program even when it goes on: every
        # end-to-end test fails on one.
        if critical and not (exc and exc[0] is not None):
            raise HarnessError("the program printed CRITICAL: " + " | ".join(critical[:3]))
        return False

    def _critical_lines(self):
        lines = []
        for name, path in self.logs.items():
            if not name.startswith("program"):
                continue
            with contextlib.suppress(OSError), open(path, encoding="utf-8",
                                                    errors="replace") as f:
                lines += [line.strip() for line in f if "CRITICAL" in line]
        return lines

    @staticmethod
    def _stop(process, grace=5.0):
        if process.poll() is not None:
            return
        with contextlib.suppress(ProcessLookupError):
            os.killpg(process.pid, signal.SIGTERM)
        try:
            process.wait(grace)
        except subprocess.TimeoutExpired:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(process.pid, signal.SIGKILL)
            process.wait(5)

    def _spawn(self, name, argv, env=None, stdout=None, stderr=None, **kwargs):
        log = os.path.join(self.tmp, name + ".log")
        self.logs[name] = log
        out = open(log, "ab")
        process = subprocess.Popen(argv, env=env or self.env, start_new_session=True,
                                   stdin=subprocess.DEVNULL,
                                   stdout=stdout if stdout is not None else out,
                                   stderr=stderr if stderr is not None else out, **kwargs)
        out.close()
        self.processes.append((name, process))
        return process

    def _start(self):
        env = dict(os.environ)
        # The program's diagnostics are the tests' to ask for, not the caller's.
        env.pop("ZANDREL_LOG", None)
        env.pop("ZANDREL_TEST_EXAM_HOSTS", None)
        for var in ("WAYLAND_DISPLAY", "NO_AT_BRIDGE", "GTK_MODULES", "SESSION_MANAGER"):
            env.pop(var, None)
        env["XDG_RUNTIME_DIR"] = os.path.join(self.tmp, "run")
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
        env["HOME"] = os.path.join(self.tmp, "home")
        os.makedirs(env["HOME"])
        env["LANG"] = env.get("LANG") or "C.UTF-8"

        # X server; it writes its display number to the pipe when ready.
        read_end, write_end = os.pipe()
        self._spawn("xvfb", ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                             "%dx%dx24" % (self.width, self.height), "-nolisten", "tcp",
                             "-noreset"], env=env, pass_fds=[write_end])
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip():
            raise HarnessError("Xvfb did not start")
        self.display = ":" + number.decode().strip()
        env["DISPLAY"] = self.display

        # Session bus; the accessibility bus launcher registers on it.
        bus = self._spawn("dbus", ["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                          env=env, stdout=subprocess.PIPE)
        address = bus.stdout.readline().decode().strip()
        bus.stdout.close()
        if not address:
            raise HarnessError("dbus-daemon did not start")
        env["DBUS_SESSION_BUS_ADDRESS"] = address
        self.env = env
        os.environ.update({k: env[k] for k in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                                               "XDG_RUNTIME_DIR")})

        if self.accessibility:
            launcher = "/usr/libexec/at-spi-bus-launcher"
            self._spawn("atspi", [launcher, "--launch-immediately"])
            wait_until(lambda: self._dbus_has_name("org.a11y.Bus"), 10,
                       what="the accessibility bus")
        else:
            env["NO_AT_BRIDGE"] = "1"

        if self.window_manager:
            self._spawn("openbox", ["openbox", "--sm-disable"])
            wait_until(self._wm_ready, 15, what="openbox")

        if self.audio:
            # A private PulseAudio with a null sink (tests/e2e/pulse.py) in this
            # desktop's runtime directory; programs started here play into it.
            sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
            import pulse
            self.pulse = pulse.PulseServer(runtime_dir=env["XDG_RUNTIME_DIR"]).start()
            for var in ("PULSE_SERVER", "PULSE_CLIENTCONFIG"):
                env[var] = self.pulse.env[var]

    def _dbus_has_name(self, name):
        result = subprocess.run(
            ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
             "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name],
            env=self.env, capture_output=True, text=True, timeout=10)
        return "boolean true" in result.stdout

    def _wm_ready(self):
        out = self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check=False)
        return "window id" in out

    def dump_logs(self):
        for name, path in self.logs.items():
            with contextlib.suppress(OSError), open(path, "rb") as f:
                data = f.read()[-4000:].decode(errors="replace")
            if data.strip():
                print("----- %s log (tail) -----\n%s" % (name, data), flush=True)

    # -- processes ----------------------------------------------------------

    def run(self, argv, check=True, timeout=30):
        """Runs a tool on this desktop and returns its standard output."""
        result = subprocess.run(argv, env=self.env, capture_output=True, text=True,
                                timeout=timeout)
        if check and result.returncode != 0:
            raise HarnessError("%s failed (%d): %s" % (" ".join(argv), result.returncode,
                                                       result.stderr.strip()))
        return result.stdout

    def start_site(self, timeout=20, args=()):
        path = os.path.join(build_dir(), "site", "zandrel-site")
        if not os.path.exists(path):
            raise HarnessError("the exam site is not built: " + path)
        hosts = [h.rsplit(":", 1) for h in (SUBJECT1_HOST, SUBJECT4_HOST)]
        busy = [":".join(h) for h in hosts if self._port_open(h[0], int(h[1]))]
        if busy:
            # The ports are fixed by the build: another test run's site (or any
            # other server) there would answer instead of ours.
            raise HarnessError("the exam site's address is already in use: %s" % ", ".join(busy))
        site = self._spawn("site", [path, *args])
        for name, port in hosts:
            wait_until(lambda: self._port_open(name, int(port)) or site.poll() is not None,
                       timeout, what="the site on %s:%s" % (name, port))
            if site.poll() is not None:
                raise HarnessError("the exam site ended at start: %s" % self.site_log().strip())

    @staticmethod
    def _port_open(host, port):
        with contextlib.suppress(OSError), socket.create_connection((host, port), timeout=0.5):
            return True
        return False

    def site_log(self):
        with open(self.logs["site"], encoding="utf-8", errors="replace") as f:
            return f.read()

    def wait_site_request(self, host, method, path, timeout=20, after=0):
        """Waits for a site log line `... host method path status`; returns the
        log length after it, for a later wait(after=...) to see only newer lines."""
        pattern = re.compile(r"^\S+ %s %s %s \d+$" % (re.escape(host), re.escape(method),
                                                     re.escape(path)), re.M)

        def seen():
            text = self.site_log()
            match = pattern.search(text, after)
            return match.end() if match else None

        return wait_until(seen, timeout, what="%s %s%s in the site log" % (method, host, path))

    def start_program(self, path=None, args=(), extra_env=None, own_site=False):
        """Starts the program. Unless own_site, it shows the pages of the test's
        own servers on SUBJECT1_HOST and SUBJECT4_HOST (start_site, FixtureSite),
        which it never would of its own accord, and serves no site itself."""
        env = dict(self.env)
        if not own_site:
            env["ZANDREL_TEST_EXAM_HOSTS"] = "%s %s" % (SUBJECT1_HOST, SUBJECT4_HOST)
        env.update(extra_env or {})
        self.program = self._spawn("program", [path or program_path(), *args], env=env)
        return self.program

    def program_exit(self, timeout=20):
        """Waits for the program to end and returns its exit code."""
        try:
            return self.program.wait(timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError("the program did not end within %d s" % timeout)

    def program_log(self):
        with open(self.logs["program"], encoding="utf-8", errors="replace") as f:
            return f.read()

    # -- windows ------------------------------------------------------------

    def find_windows(self, title):
        out = self.run(["xdotool", "search", "--onlyvisible", "--name",
                        "^%s$" % re.escape(title)], check=False)
        return [int(w) for w in out.split()]

    def managed_windows(self, pid=None):
        """The top-level windows the window manager manages (_NET_CLIENT_LIST),
        only those of process `pid` when given."""
        out = self.run(["xprop", "-root", "_NET_CLIENT_LIST"], check=False)
        windows = [int(w, 16) for w in re.findall(r"0x[0-9a-f]+", out)]
        if pid is None:
            return windows
        own = []
        for wid in windows:
            match = re.search(r"= (\d+)", self.window_property(wid, "_NET_WM_PID"))
            if match and int(match.group(1)) == pid:
                own.append(wid)
        return own

    def wait_window(self, title, timeout=30):
        """The id of the one visible top-level window with exactly this title."""
        return wait_until(lambda: (self.find_windows(title) or [None])[0], timeout,
                          what="window %r" % title)

    def _tree(self, wid):
        out = self.run(["xwininfo", "-tree", "-id", str(wid)])
        root = int(re.search(r"Root window id: (0x[0-9a-f]+)", out).group(1), 16)
        parent = int(re.search(r"Parent window id: (0x[0-9a-f]+)", out).group(1), 16)
        return root, parent

    @staticmethod
    def _parse_xwininfo(out):
        def value(label):
            return int(re.search(label + r":\s+(-?\d+)", out).group(1))

        return (value("Absolute upper-left X"), value("Absolute upper-left Y"),
                value("Width"), value("Height"))

    def frame_window(self, wid):
        """The window manager's frame: the ancestor just below the root."""
        current = wid
        while True:
            root, parent = self._tree(current)
            if parent == root:
                return current
            current = parent

    def outer_geometry(self, wid):
        frame = self.frame_window(wid)
        return self._parse_xwininfo(self.run(["xwininfo", "-id", str(frame)]))

    def client_geometry(self, wid):
        return self._parse_xwininfo(self.run(["xwininfo", "-id", str(wid)]))

    def frame_extents(self, wid):
        out = self.run(["xprop", "-id", str(wid), "_NET_FRAME_EXTENTS"], check=False)
        match = re.search(r"=\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)", out)
        return tuple(int(v) for v in match.groups()) if match else None

    def window_property(self, wid, name):
        return self.run(["xprop", "-id", str(wid), name], check=False).strip()

    def xlib(self):
        if self._xlib is None:
            self._xlib = _Xlib(self.display)
        return self._xlib

    def request_maximise(self, wid):
        """Asks the window manager to maximise, as a taskbar or wmctrl would."""
        xlib = self.xlib()
        xlib.send_wm_message(wid, "_NET_WM_STATE",
                             [1, xlib.atom("_NET_WM_STATE_MAXIMIZED_VERT"),
                              xlib.atom("_NET_WM_STATE_MAXIMIZED_HORZ"), 1, 0])

    def request_close(self, wid):
        """Closes the window through the window manager (the close box)."""
        self.xlib().send_wm_message(wid, "_NET_CLOSE_WINDOW", [0, 1, 0, 0, 0])

    # -- input and pictures ---------------------------------------------------

    def key(self, *keys, window=None):
        argv = ["xdotool", "key"]
        if window is not None:
            argv += ["--window", str(window)]
        self.run(argv + list(keys))

    def click(self, x, y, button=1, repeat=1):
        self.run(["xdotool", "mousemove", "--sync", str(x), str(y)])
        self.run(["xdotool", "click", "--repeat", str(repeat), "--delay", "80", str(button)])

    def screenshot(self, path, crop=None):
        """Saves the whole screen, or the crop (x, y, w, h) of it, as PNG."""
        full = path if crop is None else os.path.join(self.tmp, "screen.png")
        self.run(["import", "-window", "root", full])
        if crop is not None:
            x, y, w, h = crop
            self.run(["convert", full, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", path])
        return path

    def differing_pixels(self, first, second):
        """How many pixels differ between two pictures of the same size."""
        result = subprocess.run(["compare", "-metric", "AE", first, second, "null:"],
                                env=self.env, capture_output=True, text=True, timeout=30)
        return int(float(result.stderr.split()[0]))  # compare writes the metric to stderr

    def colour_count(self, path):
        return int(self.run(["identify", "-format", "%k", path]).strip())

    # -- accessibility --------------------------------------------------------

    def _atspi(self):
        import pyatspi  # after the session bus address is in os.environ
        return pyatspi

    def accessible_frame(self, title, timeout=20):
        """The AT-SPI frame of the program's top-level window with this title."""
        pyatspi = self._atspi()

        def find():
            desktop = pyatspi.Registry.getDesktop(0)
            for app in desktop:
                if app is None:
                    continue
                for child in app:
                    if child is not None and child.name == title:
                        return child
            return None

        return wait_until(find, timeout, interval=0.3, what="accessible frame %r" % title)

    # The web page's own accessible tree hangs below the browser; the window's
    # widgets are found without descending into it.
    WEB_CONTENT_ROLES = ("scroll pane", "document web", "document frame")

    def accessible_find(self, root, role_name, into_web_content=False):
        """Every descendant of root with this role name (e.g. "menu bar", "label"),
        outside the web page's content unless into_web_content."""
        found = []

        def walk(node, depth):
            if node is None or depth > 40:
                return
            try:
                role = node.getRoleName()
            except Exception:
                # A hung page does not answer for its own part of the tree;
                # the window's widgets are all outside it.
                return
            if role == role_name:
                found.append(node)
            if role in self.WEB_CONTENT_ROLES and not into_web_content:
                return
            try:
                children = list(node)
            except Exception:
                return
            for child in children:
                walk(child, depth + 1)

        walk(root, 0)
        return found

    def page_texts(self, root):
        """The texts of every accessible below root, the web page's included."""
        texts = []

        def walk(node, depth):
            if node is None or depth > 60:
                return
            text = self.text_of(node)
            if text:
                texts.append(text)
            try:
                children = list(node)
            except Exception:
                return
            for child in children:
                walk(child, depth + 1)

        walk(root, 0)
        return texts

    def menu_tree(self, frame):
        """[(menu caption, [item captions])] of the frame's menu bar, in order."""
        bars = self.accessible_find(frame, "menu bar")
        if not bars:
            return []
        tree = []
        for menu in bars[0]:
            items = [item.name for item in menu if item is not None]
            tree.append((menu.name, items))
        return tree

    def menu_item(self, frame, menu_caption, item_caption):
        bars = self.accessible_find(frame, "menu bar")
        for menu in bars[0] if bars else []:
            if menu.name != menu_caption:
                continue
            for item in menu:
                if item is not None and item.name == item_caption:
                    return item
        raise HarnessError("no menu item %s > %s" % (menu_caption, item_caption))

    def activate_menu(self, frame, menu_caption, item_caption):
        """Selects the item through its accessible action "click"."""
        item = self.menu_item(frame, menu_caption, item_caption)
        action = item.queryAction()
        for i in range(action.nActions):
            if action.getName(i) == "click":
                action.doAction(i)
                return
        raise HarnessError("menu item %s has no click action" % item_caption)

    def extents(self, accessible):
        """(x, y, w, h) of an accessible on the screen."""
        pyatspi = self._atspi()
        box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return (box.x, box.y, box.width, box.height)

    def labels(self, frame):
        """The window's own labels (not the page's), in tree order."""
        return self.accessible_find(frame, "label")

    def label_texts(self, frame):
        """The text of every label of the window, in tree order."""
        return [self.text_of(label) for label in self.labels(frame)]

    def client_area(self, wid, frame):
        """(x, y, w, h) on the screen of the client area: the client window
        below the menu bar."""
        x, y, w, h = self.client_geometry(wid)
        bars = self.accessible_find(frame, "menu bar")
        if bars:
            _, bar_y, _, bar_h = self.extents(bars[0])
            top = bar_y + bar_h
            return (x, top, w, y + h - top)
        return (x, y, w, h)

    @staticmethod
    def text_of(accessible):
        with contextlib.suppress(Exception):
            text = accessible.queryText()
            return text.getText(0, -1)
        return accessible.name
