"""The main window as the user and the window manager (openbox) see it: one
top-level window with the exact caption, outer size 966 x 623 centred on the
screen, fixed (no resize, no maximise, not even by request), minimisable, on
the taskbar, with both labels above the client area; the close box ends the
program with exit code 0."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import MAIN_TITLE, Desktop, HarnessError, run_checks, wait_until  # noqa: E402


def body(checks):
    with Desktop() as desk:
        desk.start_site()
        program = desk.start_program()
        wid = desk.wait_window(MAIN_TITLE)
        W, H = desk.width, desk.height
        expected = ((W - 966) // 2, (H - 623) // 2, 966, 623)
        try:
            wait_until(lambda: desk.outer_geometry(wid) == expected, 10, what="the outer size")
        except HarnessError:
            pass  # reported by the check below
        checks.equal(desk.outer_geometry(wid), expected,
                     "outer geometry (frame included) is 966x623 centred on %dx%d" % (W, H))

        # Cross-check the outer size with the frame the window manager reports.
        extents = desk.frame_extents(wid)
        cx, cy, cw, ch = desk.client_geometry(wid)
        if checks.check(extents is not None, "the window manager reports its frame", str(extents)):
            left, right, top, bottom = extents
            checks.equal((cx - left, cy - top, cw + left + right, ch + top + bottom), expected,
                         "client window + _NET_FRAME_EXTENTS = outer geometry")

        checks.equal(len(desk.find_windows(MAIN_TITLE)), 1, "one window with the caption")
        checks.equal(desk.managed_windows(program.pid), [wid],
                     "the program shows exactly one top-level window")
        name = desk.window_property(wid, "_NET_WM_NAME")
        checks.equal(name, '_NET_WM_NAME(UTF8_STRING) = "%s"' % MAIN_TITLE, "exact caption")

        actions = desk.window_property(wid, "_NET_WM_ALLOWED_ACTIONS")
        checks.check("_NET_WM_ACTION_MINIMIZE" in actions, "minimise is offered")
        checks.check("_NET_WM_ACTION_MAXIMIZE" not in actions, "maximise is not offered",
                     actions)
        checks.check("_NET_WM_ACTION_RESIZE" not in actions, "resize is not offered")
        checks.check("not found" in desk.window_property(wid, "WM_TRANSIENT_FOR"),
                     "not transient for another window (own taskbar entry)")
        checks.check("SKIP_TASKBAR" not in desk.window_property(wid, "_NET_WM_STATE"),
                     "not skipped by the taskbar")
        checks.check("_NET_WM_WINDOW_TYPE_NORMAL" in
                     desk.window_property(wid, "_NET_WM_WINDOW_TYPE"), "a normal window")

        # Size changes from outside leave it as it is.
        desk.run(["xdotool", "windowsize", str(wid), "500", "300"])
        time.sleep(1)
        checks.equal(desk.outer_geometry(wid), expected, "xdotool windowsize changes nothing")
        desk.request_maximise(wid)
        time.sleep(1)
        checks.equal(desk.outer_geometry(wid), expected, "a _NET_WM_STATE maximise request "
                     "changes nothing")
        checks.check("MAXIMIZED" not in desk.window_property(wid, "_NET_WM_STATE"),
                     "not marked maximised")
        x, y, w, h = expected
        top = extents[2] if extents else 20
        desk.click(x + w // 2, y + top // 2, repeat=2)  # openbox: double-click toggles maximise
        time.sleep(1)
        checks.equal(desk.outer_geometry(wid), expected,
                     "double-clicking the title bar changes nothing")

        # Both labels exist (seen through the accessibility API) and lie wholly
        # above the client area, so they are never drawn.
        frame = desk.accessible_frame(MAIN_TITLE)
        area = desk.client_area(wid, frame)
        labels = desk.labels(frame)
        checks.equal(len(labels), 2, "two labels in the window")
        for label in labels:
            lx, ly, lw, lh = desk.extents(label)
            checks.check(ly + lh <= area[1], "label %r lies above the client area" % label.name,
                         "(label %d..%d, client area from %d)" % (ly, ly + lh, area[1]))

        # Minimise and back.
        desk.run(["xdotool", "windowminimize", "--sync", str(wid)])
        checks.check("_NET_WM_STATE_HIDDEN" in desk.window_property(wid, "_NET_WM_STATE"),
                     "it can be minimised")
        desk.run(["xdotool", "windowactivate", "--sync", str(wid)])
        time.sleep(0.5)
        checks.check("_NET_WM_STATE_HIDDEN" not in desk.window_property(wid, "_NET_WM_STATE"),
                     "and restored")
        checks.equal(desk.outer_geometry(wid), expected, "restored at the same place and size")

        # The close box (through the window manager) ends the program.
        desk.request_close(wid)
        checks.equal(desk.program_exit(20), 0, "the close box ends the program with code 0")


if __name__ == "__main__":
    run_checks(body)
