#!/usr/bin/env python3
"""The real zandrel.exe under Wine on a private Xvfb, driven like a user.

Run by scripts/wine-run --xvfb --command, which provides DISPLAY and a private
WINEPREFIX (and removes both afterwards). ZANDREL_EXE and ZANDREL_PROBE name
the program and the probe (a Windows helper that reads window styles and
message boxes, which X cannot see).

No browser engine is available to Wine here, so the page stays empty: a read
yields the empty text, and SAPI's Speak is refused, so every read-aloud ends
in the failure box. That is what the read-aloud checks look for.
"""

import json
import os
import subprocess
import sys
import time

CAPTION = "Zandrel【PC语音读题版】含 科目一 科目四"
BOX_CAPTION = "信息："
FAILURE_TEXT = "转换失败！"
IDOK = 1

EXE = os.environ["ZANDREL_EXE"]
PROBE = os.environ["ZANDREL_PROBE"]


def step(text):
    print(f"e2e-windows: {text}", flush=True)


def fail(text):
    shots = os.environ.get("ZANDREL_E2E_SHOTS")
    if shots:
        # What the screen showed when the check failed, for the report.
        os.makedirs(shots, exist_ok=True)
        run("import", "-window", "root", os.path.join(shots, "windows-failure.png"))
    print(f"e2e-windows: FAILED: {text}", flush=True)
    sys.exit(1)


def check(condition, text):
    if not condition:
        fail(text)


def run(*args, timeout=30):
    return subprocess.run(args, capture_output=True, text=True, timeout=timeout)


def probe(*args):
    out = run("wine", PROBE, *args).stdout.strip().splitlines()
    for line in reversed(out):
        line = line.strip()
        if line.startswith("{"):
            return json.loads(line)
    return {"found": False}


def wait_for(what, test, timeout=20.0, interval=0.25):
    end = time.monotonic() + timeout
    while True:
        value = test()
        if value:
            return value
        if time.monotonic() > end:
            fail(f"timed out waiting for {what}")
        time.sleep(interval)


def xdotool(*args):
    return run("xdotool", *args).stdout.strip()


def geometry(wid):
    values = {}
    for line in run("xdotool", "getwindowgeometry", "--shell", wid).stdout.splitlines():
        key, _, value = line.partition("=")
        values[key] = int(value) if value.isdigit() else value
    return values


def keys(wid, *names):
    # Real key events (XTEST) to the focused window; Wine sees only those.
    xdotool("windowfocus", "--sync", wid)
    time.sleep(0.3)
    for name in names:
        xdotool("key", name)
        time.sleep(0.35)


def activate(wid):
    """Clicks the title bar: Wine makes a window active on a click, not on
    an X focus change alone (a message box of another thread keeps it)."""
    g = geometry(wid)
    xdotool("mousemove", str(g["X"] + g["WIDTH"] // 2), str(g["Y"] + 8))
    xdotool("click", "1")
    time.sleep(0.3)


def menu(wid, *path):
    """Opens the menu bar with F10 and walks it with the arrow keys."""
    activate(wid)
    keys(wid, "F10", *path, "Return")


def screen_size():
    for line in run("xdpyinfo").stdout.splitlines():
        if "dimensions:" in line:
            w, h = line.split()[1].split("x")
            return int(w), int(h)
    fail("no screen size from xdpyinfo")


def main():
    step(f"starting {os.path.basename(EXE)}")
    app = subprocess.Popen(["wine", EXE], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        test(app)
    finally:
        if app.poll() is None:
            app.kill()
            app.wait()


def test(app):
    wid = wait_for("the main window", lambda: xdotool("search", "--name", "^Zandrel【PC").split()[:1],
                   timeout=60)[0]
    window = wait_for("the main window to be shown", lambda: probe("window", CAPTION).get("visible")
                      and probe("window", CAPTION))

    name = xdotool("getwindowname", wid)
    check(name == CAPTION, f"caption is {name!r}")
    step(f"caption {name!r}")

    screen_w, screen_h = screen_size()
    g = geometry(wid)
    check((g["WIDTH"], g["HEIGHT"]) == (966, 623), f"outer size {g['WIDTH']}x{g['HEIGHT']}")
    expected = ((screen_w - 966) // 2, (screen_h - 623) // 2)
    check((g["X"], g["Y"]) == expected, f"position {g['X']},{g['Y']} (want {expected})")
    step(f"outer {g['WIDTH']}x{g['HEIGHT']} at {g['X']},{g['Y']} on {screen_w}x{screen_h}")

    check(not window["maximizeBox"], "the window has a maximise box")
    check(not window["thickFrame"], "the window can be resized by dragging")
    check(window["minimizeBox"] and window["sysMenu"] and window["hasMenu"],
          f"frame or menu missing: {window}")
    step(f"client area {window['clientWidth']}x{window['clientHeight']}; "
         "no maximise box, no sizing frame")

    left, top = g["X"], g["Y"]

    def height_becomes(h):
        wait_for(f"outer height {h}", lambda: geometry(wid)["HEIGHT"] == h, timeout=10)
        now = geometry(wid)
        check((now["X"], now["Y"]) == (left, top), f"top-left moved to {now['X']},{now['Y']}")

    # The mouse filter sits on this thread: a left click must still reach the
    # menu bar and open it.
    menu_x = window["clientLeft"] + 12
    menu_y = window["clientTop"] - 8
    xdotool("windowfocus", "--sync", wid)
    xdotool("mousemove", str(menu_x), str(menu_y))
    xdotool("click", "1")
    time.sleep(0.6)
    xdotool("key", "Down")  # the open list: 科目一, then 科目四
    time.sleep(0.35)
    xdotool("key", "Down")
    time.sleep(0.35)
    xdotool("key", "Return")
    height_becomes(555)
    step("left click opened 菜单; 科目四全真模拟考试 set the height to 555")

    menu(wid, "Down")  # 科目一全真模拟考试
    height_becomes(623)
    step("科目一全真模拟考试 set the height back to 623")

    # F1 anywhere: a reading thread; the refused speech shows its box, and the
    # main window goes on working meanwhile.
    xdotool("windowfocus", "--sync", wid)
    time.sleep(0.3)
    xdotool("keydown", "F1")
    time.sleep(0.15)
    xdotool("keyup", "F1")
    box = wait_for("the failure box after F1", lambda: probe("box", BOX_CAPTION).get("found")
                   and probe("box", BOX_CAPTION))
    check(FAILURE_TEXT in box["texts"], f"box texts {box['texts']}")
    check(not box["owner"], "the box has an owner window")
    check(probe("window", CAPTION)["enabled"], "F1's box disabled the main window")
    step(f"F1: box {box['caption']!r} says {FAILURE_TEXT!r}; main window still enabled")
    menu(wid, "Down", "Down")  # 科目四 while the box is open
    height_becomes(555)
    step("menu still works while F1's box is open (height 555)")
    probe("press", BOX_CAPTION, str(IDOK))
    wait_for("F1's box to close", lambda: not probe("box", BOX_CAPTION).get("found"))

    # The menu's read-aloud runs on a thread of its own too: the window stays usable.
    menu(wid, "Right", "Down")  # 语音读题(F1键) > 语音播报
    box = wait_for("the failure box after 语音播报", lambda: probe("box", BOX_CAPTION).get("found")
                   and probe("box", BOX_CAPTION))
    check(FAILURE_TEXT in box["texts"], f"box texts {box['texts']}")
    check(probe("window", CAPTION)["enabled"], "语音播报's box disabled the main window")
    step("语音播报: same box, and the main window stays enabled")
    probe("press", BOX_CAPTION, str(IDOK))
    wait_for("the box to close", lambda: not probe("box", BOX_CAPTION).get("found"))

    # A second start brings the running window back and ends at once with 0.
    check(probe("minimize", CAPTION).get("found"), "no main window to minimise")
    wait_for("the window to be minimised", lambda: probe("window", CAPTION)["iconic"])
    started = time.monotonic()
    try:
        second = subprocess.run(["wine", EXE], capture_output=True, timeout=30)
    except subprocess.TimeoutExpired:
        fail("a second start did not end")
    check(second.returncode == 0, f"a second start ended with {second.returncode}")
    wait_for("the running window to come back", lambda: not probe("window", CAPTION)["iconic"]
             and probe("window", CAPTION)["foreground"], timeout=10)
    step(f"second start: exit 0 after {time.monotonic() - started:.1f} s; the running window "
         "is restored and in front")

    menu(wid, "Down", "Up")  # 退出软件, the last item
    try:
        code = app.wait(timeout=20)
    except subprocess.TimeoutExpired:
        fail("退出软件 did not end the program")
    check(code == 0, f"exit code {code}")
    step("退出软件 ended the program with exit code 0")
    print("e2e-windows: all checks passed", flush=True)


if __name__ == "__main__":
    main()
