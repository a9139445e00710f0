#!/usr/bin/env python3
"""The real zandrel.exe under Wine on a private Xvfb, driven like a user.

Run by scripts/wine-run --xvfb --command, which provides DISPLAY and a private
WINEPREFIX (and removes both afterwards). ZANDREL_EXE and ZANDREL_PROBE name
the program and the probe (a Windows helper that reads window styles and
message boxes, which X cannot see); ZANDREL_STANDIN_VOICE the stand-in voice,
registered in that prefix as the system's SpVoice, which logs what the
program asks of its voice.

No browser engine is available to Wine here, so the page stays empty: a read
finds no question and says so aloud. The program runs twice: once with a voice that accepts
(the reading, the cut-off by a second F1, the notifications, the voice
chosen), once with one that refuses (the failure box from F1 and the menu).
Both times it serves its own exam site: the first time on the default
addresses, the second time, with someone else's server on 科目一's, on a
port of its own, asking that server nothing.
"""

import json
import os
import re
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

import standin_voice as voice

CAPTION = "Zandrel【PC语音读题版】含 科目一 科目四"
BOX_CAPTION = "信息："
FAILURE_TEXT = "转换失败！"
LOADED_TEXT = "加载完毕"
NO_QUESTION_CUE = "没有找到题目"
IDOK = 1
EMULATION_KEY = ("HKCU\\Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\"
                 "FEATURE_BROWSER_EMULATION")
RECEIVER_AT = (192, -40)  # 标签1
READ_FLAGS = voice.SPF_ASYNC | voice.SPF_IS_NOT_XML
SPEAK_MS = 4000  # long enough for a second F1 to come during it, on a loaded machine

EXE = os.environ["ZANDREL_EXE"]
PROBE = os.environ["ZANDREL_PROBE"]
VOICE_DLL = os.environ["ZANDREL_STANDIN_VOICE"]
PROGRAM_SERVES_SITE = os.environ.get("ZANDREL_PROGRAM_SERVES_SITE") == "true"
SITE_HOSTS = os.environ.get("ZANDREL_SITE_HOSTS", "127.0.0.1:47101,127.0.0.1:47104").split(",")


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
    try:
        return run("xdotool", *args, timeout=10).stdout.strip()
    except subprocess.TimeoutExpired:
        # A search can hang on a window that goes away meanwhile (the
        # program's first run ending); the callers wait and ask again.
        return ""


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


ICO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "data", "icons",
                   "zandrel.ico")


def ico_pixels(size):
    """The ARGB pixels, top row first, of the program's .ico image of that size."""
    with open(ICO, "rb") as f:
        data = f.read()
    count = struct.unpack_from("<H", data, 4)[0]
    for i in range(count):
        width, height, _, _, _, bits, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if width == size and height == size and bits == 32:
            header = struct.unpack_from("<I", data, offset)[0]
            rows = [data[offset + header + r * size * 4: offset + header + (r + 1) * size * 4]
                    for r in range(size)]
            pixels = []
            for row in reversed(rows):  # a DIB is stored bottom row first
                pixels += [struct.unpack_from("<I", row, 4 * x)[0] for x in range(size)]
            return pixels
    fail(f"no {size}-px image in {ICO}")


def x_icons(wid):
    """The window's icons as the X server has them: {size: ARGB pixels}."""
    out = run("xprop", "-id", wid, "-notype", "32c", "_NET_WM_ICON").stdout
    numbers = [int(n) for n in out.partition("=")[2].replace(",", " ").split()]
    icons = {}
    while len(numbers) >= 2:
        w, h = numbers[0], numbers[1]
        icons[w] = numbers[2:2 + w * h]
        numbers = numbers[2 + w * h:]
    return icons


def same_colour(a, b):
    """Equal where it is opaque; any fully transparent pixel equals another."""
    if (a >> 24) == 0 and (b >> 24) == 0:
        return True
    return all(abs(((a >> s) & 255) - ((b >> s) & 255)) <= 8 for s in (0, 8, 16, 24))


def document_mode_setting():
    """The program's FEATURE_BROWSER_EMULATION value, or None."""
    # reg.exe answers in the console's code page (GBK here); only ASCII is read.
    out = subprocess.run(["wine", "reg", "query", EMULATION_KEY, "/v", os.path.basename(EXE)],
                         capture_output=True, timeout=60).stdout.decode("ascii", "replace")
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[0].lower() == os.path.basename(EXE).lower():
            return parts[1], int(parts[2], 16)
    return None


def f1():
    xdotool("keydown", "F1")
    time.sleep(0.15)
    xdotool("keyup", "F1")


class VoiceLog:
    def __init__(self, path):
        self.path = path

    def calls(self, name=None):
        return [c for c in voice.read_log(self.path) if name is None or c["call"] == name]

    def reads(self):
        """The texts the program handed over (not the purges)."""
        return [c for c in self.calls("Speak") if c["text"] is not None]

    def wait_for_read(self, count, what):
        return wait_for(what, lambda: len(self.reads()) >= count and self.reads()[count - 1])


def start(log, refuse):
    env = dict(os.environ, ZANDREL_STANDIN_VOICE_LOG=voice.windows_path(log),
               ZANDREL_STANDIN_VOICE_SPEAK_MS=str(SPEAK_MS),
               ZANDREL_STANDIN_VOICE_REFUSE="1" if refuse else "0")
    step(f"starting {os.path.basename(EXE)} with a voice that {'refuses' if refuse else 'speaks'}")
    env["ZANDREL_LOG"] = "1"
    with open(log + ".stderr", "wb") as err:
        return subprocess.Popen(["wine", EXE], env=env, stdout=subprocess.DEVNULL, stderr=err)


class ForeignServer:
    """Someone else's web server on an address, bound before the program
    starts: every request gets a page of its own, and is counted."""

    def __init__(self, address):
        host, port = address.rsplit(":", 1)
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)  # as most servers do
        self.sock.bind((host, int(port)))
        self.sock.listen(8)
        self.requests = []
        threading.Thread(target=self.answer, daemon=True).start()

    def answer(self):
        while True:
            try:
                conn, peer = self.sock.accept()
            except OSError:
                return
            self.requests.append(peer)  # a connection counts, whatever it says
            with conn:
                try:
                    conn.settimeout(5)
                    conn.recv(4096)
                    conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"
                                 b"<html><body><div class='title'>foreign</div></body></html>")
                except OSError:
                    pass

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)  # wakes the accept
        except OSError:
            pass
        self.sock.close()


def program_log(log):
    with open(log.path + ".stderr", encoding="utf-8", errors="replace") as f:
        return f.read()


def exam_page(address):
    try:
        with urllib.request.urlopen(f"http://{address}/kaoshi/", timeout=10) as r:
            return r.read().decode("utf-8", "replace")
    except OSError:
        return None


def connected(address):
    """Whether a TCP connection to that port is open or lately closed
    (TIME_WAIT): the trace of the browser's request, which Wine makes though
    it shows no page."""
    port = int(address.rsplit(":", 1)[1])
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as f:
            for fields in (line.split() for line in f.readlines()[1:]):
                if fields[3] != "0A" and port in (int(fields[1].rsplit(":", 1)[1], 16),
                                                  int(fields[2].rsplit(":", 1)[1], 16)):
                    return True
    return False


def check_own_site(log, foreign):
    """The addresses of the program's 科目一 and 科目四 exams, each checked to
    be its own page: on the default address, or for 科目一 with the foreign
    server on it, on the port the program says it took instead."""
    if not PROGRAM_SERVES_SITE:
        return []
    served = list(SITE_HOSTS)
    if foreign:
        moved = wait_for("the log of 科目一's own port", lambda: re.search(
            rf"^zandrel: {re.escape(SITE_HOSTS[0])} is taken \(.+\); "
            r"serving 科目一 on (127\.0\.0\.1:\d+)\r?$", program_log(log), re.M))
        served[0] = moved.group(1)
        check(served[0] not in SITE_HOSTS, f"科目一 moved to {served[0]}")
        step(f"ZANDREL_LOG=1 logged {moved.group(0).strip()!r}")
    # Before the test itself asks it anything.
    wait_for(f"the browser to ask {served[0]}", lambda: connected(served[0]))
    step(f"the browser asked {served[0]} for 科目一")
    for subject, address in zip(("科目一", "科目四"), served):
        page = wait_for(f"{subject}'s exam page on {address}", lambda: exam_page(address))
        check(f"<title>{subject} 全真模拟考试" in page and "var questions = [" in page,
              f"{address}/kaoshi/ is not the program's {subject} exam: {page[:200]!r}")
    taken = re.findall(r"is taken.*", program_log(log))
    check(len(taken) == (1 if foreign else 0), f"the program moved {taken}")
    check(not any(free(address) for address in served), f"another server could take {served}")
    step(f"the program's own exam pages answer on {', '.join(served)}")
    return served


def free(address):
    """Whether a server (one that allows reuse, as most do) could listen there."""
    host, port = address.rsplit(":", 1)
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind((host, int(port)))
            s.listen(1)
            return True
        except OSError:
            return False


def check_ports_freed(ports, foreign):
    for address in ports:
        wait_for(f"{address} to be free after the end", lambda: free(address), timeout=10)
    if foreign:
        check(not foreign.requests, f"the foreign server was asked {foreign.requests}")
        step("the foreign server on 科目一's default address was never asked")
    if ports:
        step(f"{', '.join(ports)} free once the program ended")


def main():
    voice.register(VOICE_DLL)
    work = tempfile.mkdtemp(prefix="zandrel-e2e-")
    for refuse, test in ((False, test_window_and_speech), (True, test_refused_speech)):
        log = VoiceLog(os.path.join(work, f"voice-{'refusing' if refuse else 'speaking'}.log"))
        # The second start finds someone else's server on 科目一's address.
        foreign = ForeignServer(SITE_HOSTS[0]) if refuse and PROGRAM_SERVES_SITE else None
        app = start(log.path, refuse)
        try:
            ports = test(app, log, foreign)
            check_ports_freed(ports, foreign)
        finally:
            if app.poll() is None:
                app.kill()
                app.wait()
            if foreign:
                foreign.close()
    print("e2e-windows: all checks passed", flush=True)


def main_window():
    wid = wait_for("the main window", lambda: xdotool("search", "--name", "^Zandrel【PC").split()[:1],
                   timeout=60)[0]
    window = wait_for("the main window to be shown", lambda: probe("window", CAPTION).get("visible")
                      and probe("window", CAPTION))
    return wid, window


def exit_program(app, wid):
    menu(wid, "Down", "Up")  # 退出软件, the last item
    try:
        code = app.wait(timeout=20)
    except subprocess.TimeoutExpired:
        fail("退出软件 did not end the program")
    check(code == 0, f"exit code {code}")
    step("退出软件 ended the program with exit code 0")


def test_window_and_speech(app, log, foreign):
    wid, window = main_window()
    ports = check_own_site(log, foreign)
    setting = document_mode_setting()
    check(setting == ("REG_DWORD", 11001), f"FEATURE_BROWSER_EMULATION value {setting}")
    step("the program set its FEATURE_BROWSER_EMULATION value to 11001 (IE11 edge mode)")

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
    icons = x_icons(wid)
    check(sorted(icons) == [16, 32], f"the window's icons have sizes {sorted(icons)}, not 16 and 32")
    for size in (16, 32):
        differ = sum(1 for a, b in zip(icons[size], ico_pixels(size)) if not same_colour(a, b))
        check(differ <= size, f"the {size}-px window icon is not the program's ({differ} pixels differ)")
    step("the window shows the program's icon, 32 px (taskbar) and 16 px (caption)")

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

    # 语音播报 on the UI thread: the empty page has no question, which the
    # voice says, as plain text, asynchronously; the status label stays.
    menu(wid, "Right", "Down")  # 语音读题(F1键) > 语音播报
    read = log.wait_for_read(1, "语音播报 to reach Speak")
    check(read["flags"] == READ_FLAGS and read["text"] == NO_QUESTION_CUE
          and read["result"] == "accepted", f"语音播报 spoke {read}")
    check(not probe("child", CAPTION, LOADED_TEXT).get("found"), "加载完毕 after a read of nothing")
    step(f"语音播报: Speak(\"{NO_QUESTION_CUE}\", SPF_ASYNC | SPF_IS_NOT_XML); "
         f"no {LOADED_TEXT}")
    # ZANDREL_LOG=1: the read says why it found nothing (Wine has no page).
    line = wait_for("the read's log line", lambda: re.search(
        r"^zandrel: read failed: no document .* divs=0 match=none chars=0\r?$",
        open(log.path + ".stderr", encoding="utf-8", errors="replace").read(), re.M))
    step(f"ZANDREL_LOG=1 logged {line.group(0).strip()!r}")

    # F1, and F1 again while that text is still being spoken.
    xdotool("windowfocus", "--sync", wid)
    time.sleep(0.3)
    f1()
    first = log.wait_for_read(2, "F1 to reach Speak")
    check(first["flags"] == READ_FLAGS and first["text"] == NO_QUESTION_CUE, f"F1 spoke {first}")
    wait_for("F1's reading to start",
             lambda: any(c["voice"] == first["voice"] for c in log.calls("start")))
    time.sleep(0.2)
    f1()
    second = log.wait_for_read(3, "the second F1 to reach Speak")
    check(second["flags"] == READ_FLAGS, f"the second F1 spoke {second}")
    wait_for("the second F1's reading to end",
             lambda: any(c["voice"] == second["voice"] for c in log.calls("end")))
    check(not any(c["voice"] == first["voice"] for c in log.calls("end")),
          "the first F1's reading was not cut off")
    step(f"a second F1 cut the first reading off within {SPEAK_MS} ms and read again")

    # Start and end of the last reading reach 标签1 as 0x8075 with 1, then 2.
    calls = log.calls()
    started = next(i for i, c in enumerate(calls)
                   if c["call"] == "start" and c["voice"] == second["voice"])
    wait_for("the end notification", lambda: [
        c["wParam"] for c in log.calls("message")][-1:] == [2])
    messages = [c for c in log.calls()[started:] if c["call"] == "message"]
    check([m["wParam"] for m in messages] == [1, 2], f"notifications {messages}")
    check(all(m["message"] == voice.SPEECH_NOTIFICATION and m["lParam"] == 0
              and (m["left"], m["top"]) == RECEIVER_AT for m in messages),
          f"notifications {messages}")
    step("0x8075 reached 标签1 with wParam 1, then 2")

    # The Chinese voice, though an English one comes first.
    tokens = [c["token"] for c in log.calls("SetVoice")]
    check(tokens and all(t and t.endswith(voice.CHINESE_TOKEN) for t in tokens),
          f"voices chosen {tokens}")
    step(f"every voice chose {voice.CHINESE_TOKEN} over {voice.ENGLISH_TOKEN}")

    exit_program(app, wid)
    # Every call of the program on its voices came from one thread, neither
    # the UI thread nor a reading thread, in a single-threaded apartment; and
    # every voice made was released.
    ui_thread = log.calls("hooked")[0]["uiThread"]
    own = [c for c in log.calls() if c["call"] not in ("start", "end", "message", "hooked")]
    threads = {(c["thread"], c["apartment"]) for c in own}
    check(len(threads) == 1 and next(iter(threads))[1] == "STA"
          and next(iter(threads))[0] != ui_thread, f"voice calls came from {threads}")
    check(not log.calls("unexpected"), f"unexpected calls {log.calls('unexpected')}")
    made, released = len(log.calls("create")), len(log.calls("release"))
    check(made >= 4 and made == released, f"{made} voices made, {released} released")
    step(f"{made} voices, each made and released on one STA thread of their own")
    return ports


def test_refused_speech(app, log, foreign):
    wid, _ = main_window()
    ports = check_own_site(log, foreign)
    # F1 anywhere: a reading thread; the refused speech shows its box, and the
    # main window goes on working meanwhile.
    xdotool("windowfocus", "--sync", wid)
    time.sleep(0.3)
    f1()
    box = wait_for("the failure box after F1", lambda: probe("box", BOX_CAPTION).get("found")
                   and probe("box", BOX_CAPTION))
    check(FAILURE_TEXT in box["texts"], f"box texts {box['texts']}")
    check(not box["owner"], "the box has an owner window")
    check(probe("window", CAPTION)["enabled"], "F1's box disabled the main window")
    step(f"F1: box {box['caption']!r} says {FAILURE_TEXT!r}; main window still enabled")
    menu(wid, "Down", "Down")  # 科目四 while the box is open
    wait_for("outer height 555", lambda: geometry(wid)["HEIGHT"] == 555, timeout=10)
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

    check(all(r["result"] == "refused" for r in log.reads()) and len(log.reads()) == 2,
          f"reads {log.reads()}")
    # WM_CLOSE from another program (the installer sends it) ends it like
    # 退出软件: exit code 0, every voice released.
    check(probe("close", CAPTION).get("posted"), "WM_CLOSE could not be posted")
    try:
        code = app.wait(timeout=20)
    except subprocess.TimeoutExpired:
        fail("WM_CLOSE did not end the program")
    check(code == 0, f"exit code {code} after WM_CLOSE")
    made, released = len(log.calls("create")), len(log.calls("release"))
    check(made >= 1 and made == released, f"{made} voices made, {released} released")
    step(f"WM_CLOSE ended the program with exit code 0; {made} voices made and released")
    return ports


if __name__ == "__main__":
    main()
