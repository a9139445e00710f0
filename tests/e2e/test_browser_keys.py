"""The browser engine's own keys never act on the exam, through real key
events (XTEST) on the real program: after a question is answered, F5,
Ctrl+R, Ctrl+F5, Backspace, Alt+Left, Alt+Right, Ctrl+F/P/N/O/L/S, Ctrl+plus,
Ctrl+minus, Ctrl+0 (and the keypad's) and Ctrl+wheel leave the page as it
was: not loaded again, not left, not zoomed, no other window opened, the
answer still there; and the engine never gets them (the page sees no keydown
of them). WebKitGTK itself acts on none of them (seen with the build before
they were kept from it), so the last is what tells a build that keeps them
from one that does not; the rest guards against engines that change. The keys the page uses (Tab, Space, Enter, arrows,
letters, digits) and F1 still reach it.

With ZANDREL_KEYS_REPORT=1 it only prints what each key did, for comparing
builds (ZANDREL_E2E_PROGRAM)."""

import os
import time
import urllib.parse

from fixture_site import FixtureSite
from harness import (MAIN_TITLE, SUBJECT1_HOST, SUBJECT4_HOST, Desktop, run_checks,
                     wait_until)
from xtest_keys import XTestKeys

# The exam page proper is /kaoshi/exam, reached from /kaoshi/, so that going
# back has somewhere to go. It reports each load, each key it sees and its
# layout width (which zoom changes), and keeps its answer in memory only.
START = "<!doctype html><script>location.href='/kaoshi/exam';</script>"
EXAM = """<!doctype html><html><head><meta charset="utf-8"><style>
body{margin:0} #panel{position:absolute;left:560px;top:280px;width:600px;height:300px;
background:#eef}</style></head><body><div id="panel"><div class="title">question</div>
<div class="title">question</div><p id="answer">none</p></div><script>
function report(fields) {
  var q = [];
  for (var k in fields) q.push(k + '=' + encodeURIComponent(fields[k]));
  fetch('/report?' + q.join('&'));
}
var answer = 'none';
report({loaded: location.href});
document.addEventListener('keydown', function (e) {
  if (e.key === 'a' || e.key === 'b') {
    answer = e.key;
    document.getElementById('answer').textContent = answer;
  }
  report({key: e.key, ctrl: e.ctrlKey ? 1 : 0, alt: e.altKey ? 1 : 0});
});
document.addEventListener('wheel', function (e) { report({wheel: e.ctrlKey ? 1 : 0}); });
var width = -1;
setInterval(function () {
  if (window.innerWidth !== width) { width = window.innerWidth; report({width: width}); }
}, 50);
setInterval(function () { report({alive: answer}); }, 300);
</script></body></html>"""

ENGINE_KEYS = [
    ("F5", ["F5"]), ("Ctrl+R", ["Control_L", "r"]), ("Ctrl+F5", ["Control_L", "F5"]),
    ("Shift+F5", ["Shift_L", "F5"]), ("Ctrl+Shift+R", ["Control_L", "Shift_L", "r"]),
    ("Backspace", ["BackSpace"]), ("Alt+Left", ["Alt_L", "Left"]),
    ("Alt+Right", ["Alt_L", "Right"]),
    ("Ctrl+F", ["Control_L", "f"]), ("Ctrl+P", ["Control_L", "p"]),
    ("Ctrl+N", ["Control_L", "n"]), ("Ctrl+O", ["Control_L", "o"]),
    ("Ctrl+L", ["Control_L", "l"]), ("Ctrl+S", ["Control_L", "s"]),
    ("Ctrl+plus", ["Control_L", "Shift_L", "equal"]), ("Ctrl+=", ["Control_L", "equal"]),
    ("Ctrl+minus", ["Control_L", "minus"]), ("Ctrl+0", ["Control_L", "0"]),
    ("Ctrl+KP_Add", ["Control_L", "KP_Add"]), ("Ctrl+KP_Subtract", ["Control_L", "KP_Subtract"]),
    ("Ctrl+wheel up", "wheel 4"), ("Ctrl+wheel down", "wheel 5"),
]
PAGE_KEYS = [("Tab", ["Tab"], "Tab"), ("Space", ["space"], " "), ("Enter", ["Return"], "Enter"),
             ("Up", ["Up"], "ArrowUp"), ("Down", ["Down"], "ArrowDown"),
             ("Left", ["Left"], "ArrowLeft"), ("Right", ["Right"], "ArrowRight"),
             ("letter", ["b"], "b"), ("digit", ["7"], "7"), ("F1", ["F1"], "F1")]


class Page:
    def __init__(self, site):
        self.site = site

    def fields(self, name, since=0.0):
        with self.site._lock:
            return [f for t, f in self.site.reports if t >= since and name in f]

    def loads(self, since=0.0):
        return [urllib.parse.unquote(f["loaded"]) for f in self.fields("loaded", since)]

    def widths(self, since=0.0):
        return [int(f["width"]) for f in self.fields("width", since)]

    def keys(self, since=0.0):
        return [f["key"] for f in self.fields("key", since)]

    def answer(self, since):
        alive = self.fields("alive", since)
        return alive[-1]["alive"] if alive else None


def body(checks):
    report_only = os.environ.get("ZANDREL_KEYS_REPORT") == "1"
    pages = {"/kaoshi/": START, "/kaoshi/exam": EXAM}
    with Desktop() as desk, FixtureSite(SUBJECT1_HOST, pages) as s1, FixtureSite(SUBJECT4_HOST, {}):
        program = desk.start_program()
        wid = desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)
        page = Page(s1)
        wait_until(lambda: page.loads() and page.widths(), 30, what="the exam page")
        time.sleep(1)
        width = page.widths()[-1]
        bar = desk.extents(desk.accessible_find(frame, "menu bar")[0])
        cx, _, _, _ = desk.client_geometry(wid)
        top = bar[1] + bar[3]
        # Into the page's panel (page 560,280 is client 43,48), for the focus.
        px, py = cx + 43 + 100, top + 48 + 100
        desk.click(px, py)
        keys = XTestKeys(desk.display)
        windows = len(desk.managed_windows())
        try:
            keys.press("a")
            wait_until(lambda: page.answer(0) == "a", 10, what="the answer 'a'")
            for name, combo in ENGINE_KEYS:
                since = time.monotonic()
                loads_before = len(page.loads())
                if isinstance(combo, str):
                    desk.run(["xdotool", "mousemove", "--sync", str(px), str(py), "keydown",
                              "Control_L", "click", combo.split()[1], "click", combo.split()[1],
                              "keyup", "Control_L"])
                else:
                    keys.press(*combo)
                time.sleep(1.5)
                new_windows = len(desk.managed_windows()) - windows
                if new_windows > 0:
                    # Whatever opened goes, so that the next key meets the page.
                    keys.press("Escape")
                    time.sleep(0.5)
                effects = []
                if len(page.loads()) != loads_before:
                    effects.append("loaded %s" % page.loads()[loads_before:])
                if page.widths() and page.widths()[-1] != width:
                    effects.append("zoomed (width %d -> %d)" % (width, page.widths()[-1]))
                if new_windows > 0:
                    effects.append("opened %d window(s)" % new_windows)
                if isinstance(combo, str):
                    if page.fields("wheel", since):
                        effects.append("reached the engine (the page saw the wheel)")
                else:
                    got = [k for k in page.keys(since) if k not in ("Control", "Alt", "Shift")]
                    if got:
                        effects.append("reached the engine (the page saw %s)" % got)
                if page.answer(since) != "a":
                    effects.append("answer %r" % page.answer(since))
                if report_only:
                    print("KEY %-18s %s" % (name, ", ".join(effects) or "no effect"), flush=True)
                else:
                    checks.check(not effects, "%s leaves the exam as it was" % name,
                                 ", ".join(effects))
                if effects:
                    # Back to a known state for the next key.
                    loaded = len(page.loads())
                    desk.activate_menu(frame, "菜单", "科目一全真模拟考试")
                    wait_until(lambda: len(page.loads()) > loaded, 20, what="the page again")
                    time.sleep(1)
                    width = page.widths()[-1]
                    desk.click(px, py)
                    keys.press("a")
                    wait_until(lambda: page.answer(time.monotonic() - 0.5) == "a", 10,
                               what="the answer 'a' again")
            for name, combo, key in PAGE_KEYS:
                since = time.monotonic()
                keys.press(*combo)
                try:
                    wait_until(lambda: key in page.keys(since), 5, what=name)
                    seen = True
                except Exception:
                    seen = False
                # F1 in particular opens no help window.
                opened = len(desk.managed_windows()) - windows
                if report_only:
                    print("KEY %-18s %s%s" % (name, "reaches the page" if seen else "NOT SEEN",
                                              ", opened a window" if opened > 0 else ""))
                else:
                    checks.check(seen and opened <= 0, "%s reaches the page, no window opens" % name,
                                 "%s, %d new window(s)" % (page.keys(since), opened))
        finally:
            keys.close()
        checks.check(program.poll() is None, "the program still runs")
        checks.equal(page.loads()[-1:], ["http://%s/kaoshi/exam" % SUBJECT1_HOST] if not report_only
                     else page.loads()[-1:], "the exam page is still the one shown")


run_checks(body)
