"""A question DIV of hundreds of megabytes must not bring them into the
program: at most 10,000 characters are spoken, so only what those need crosses
from the page. The program stays under 300 MB over repeated F1 presses, and
the read still speaks the question's start.

ZANDREL_HUGE_MB sets the DIV's size (default 60, small enough that the page's
side still answers within the read's time on a slow machine, so the answer
does cross); the figure printed is the program's peak resident size (VmHWM)."""

import os
import time

from fixture_site import FixtureSite
from harness import MAIN_TITLE, SUBJECT1_HOST, Desktop, run_checks, wait_until
from speech_recorder import SpeechRecorder, comparable
from xtest_keys import XTestKeys

MEGABYTES = int(os.environ.get("ZANDREL_HUGE_MB", "60"))
LIMIT_MB = 300
# What the presses may add to the program: the bounded answer is a megabyte.
GROWTH_MB = 40

# Hidden, so the engine lays none of it out; its markup is read all the same.
PAGE = """<!doctype html><html><head><meta charset='utf-8'></head><body>
<div class='title'>科目一</div><div class='title' id='q' style='display:none'></div>
<script>
var q = document.getElementById('q');
q.textContent = '第一题 ' + 'abcd '.repeat(%d * 1000000 / 5);
fetch('/report?built=' + q.textContent.length);
</script></body></html>""" % MEGABYTES


def peak_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def body(checks):
    with Desktop() as desk, SpeechRecorder(desk) as voice, \
            FixtureSite(SUBJECT1_HOST, {"/kaoshi/": PAGE}) as s1:
        program = desk.start_program(extra_env=voice.env)
        desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)
        wait_until(lambda: s1.reports, 120, what="the huge question to be built")
        time.sleep(1)
        keys = XTestKeys(desk.display)
        start = peak_kb(program.pid)
        for _ in range(5):
            keys.press("F1", hold=0.08)
            time.sleep(3)
        wait_until(lambda: voice.said(), 20, what="a reading")
        peak = peak_kb(program.pid)
        print("FIGURE %d MB question: program peak %d MB (before the presses %d MB)"
              % (MEGABYTES, peak // 1024, start // 1024), flush=True)
        checks.check(peak < LIMIT_MB * 1024, "the program stays under %d MB" % LIMIT_MB,
                     "%d MB" % (peak // 1024))
        checks.check(peak - start < GROWTH_MB * 1024,
                     "the presses add less than %d MB" % GROWTH_MB,
                     "%d MB" % ((peak - start) // 1024))
        said = voice.said()[-1] if voice.said() else ""
        checks.check(comparable(said).startswith(comparable("第一题 abcd abcd")),
                     "the question's start is read", said[:40])
        desk.activate_menu(frame, "菜单", "退出软件")
        checks.equal(desk.program_exit(), 0, "exit code 0")


if __name__ == "__main__":
    run_checks(body)
