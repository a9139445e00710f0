"""The mouse filter in the real program: a right click in the page opens no
context menu and the page never sees the release; left clicks pass; a
keyboard-opened context menu (not the filter's business) still opens, which
also shows that the menu detector works. The page reports its mouse events."""

import time

from fixture_site import FixtureSite
from harness import MAIN_TITLE, SUBJECT1_HOST, SUBJECT4_HOST, Desktop, run_checks, wait_until

EVENT_PAGE = """<!doctype html><html><head><meta charset='utf-8'></head>
<body style='margin:0;height:2800px;background:#eef'>
<input id=field style='position:absolute;left:900px;top:500px'>
<script>
['mousedown','mouseup','click','contextmenu','auxclick'].forEach(function (type) {
  document.addEventListener(type, function (e) {
    fetch('/report?ev=' + type + '&b=' + e.button + '&n=' + Date.now());
  }, true);
});
</script></body></html>"""


def body(checks):
    with Desktop() as desk, \
            FixtureSite(SUBJECT1_HOST, {"/kaoshi/": EVENT_PAGE}) as s1, \
            FixtureSite(SUBJECT4_HOST, {}):
        desk.start_program()
        wid = desk.wait_window(MAIN_TITLE)
        wait_until(lambda: s1.requested("/kaoshi/"), 20, what="the page")
        time.sleep(1.5)
        cx, cy, cw, ch = desk.client_geometry(wid)
        # Page point (900, 450) is in the cut-out: screen = client + page - (517, 232) + menu bar.
        x, y = cx + 900 - 517, cy + 450 - 232 + 30

        def events(since):
            return [(f["ev"], f["b"]) for t, f in s1.reports if t >= since and "ev" in f]

        def visible_windows():
            out = desk.run(["xdotool", "search", "--onlyvisible", "--classname", ".*"],
                           check=False)
            return set(out.split())

        # Left click: focus goes into the page, and every event arrives.
        t = time.monotonic()
        desk.click(x, y, button=1)
        wait_until(lambda: ("click", "0") in events(t), 5, what="the left click")
        got = events(t)
        checks.check(("mousedown", "0") in got and ("mouseup", "0") in got
                     and ("click", "0") in got, "a left click reaches the page whole", str(got))

        before = visible_windows()
        t = time.monotonic()
        desk.click(x, y, button=3)
        time.sleep(1.5)
        got = events(t)
        checks.check(("mousedown", "2") in got, "the right-button press reaches the page",
                     str(got))
        checks.check(("mouseup", "2") not in got and ("auxclick", "2") not in got,
                     "the right-button release never reaches the page", str(got))
        after = visible_windows()
        checks.check(after == before, "no context menu opened on a right click",
                     str(after - before))

        # A left click still works after the right click.
        t = time.monotonic()
        desk.click(x, y + 40, button=1)
        wait_until(lambda: ("click", "0") in events(t), 5, what="the second left click")
        checks.check(True, "left clicks still work after a right click")

        # The keyboard's context-menu key is not the filter's business.
        desk.key("shift+F10")
        try:
            wait_until(lambda: visible_windows() - before, 5, what="a keyboard context menu")
            opened = True
        except Exception:
            opened = False
        checks.check(opened, "a keyboard-opened context menu still opens (detector works)")
        desk.key("Escape")


run_checks(body)
