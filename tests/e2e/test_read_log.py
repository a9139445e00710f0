"""ZANDREL_LOG=1 in the real program: each F1 writes one line on standard
error that says how the read went. On the local exam site's Subject 1 page it
is a good read; on a Subject 4 page of the test's own, whose DIV elements are
none of them the question's, it says so."""

import os
import re
import time

from fixture_site import FixtureSite
from harness import (MAIN_TITLE, SUBJECT1_HOST, SUBJECT4_HOST, Desktop, build_dir, run_checks,
                     wait_until)
from speech_recorder import SpeechRecorder
from xtest_keys import XTestKeys

LINE = re.compile(r"^zandrel: read (ok|failed: ([a-zA-Z ]+)) reset=\d+ms page=\d+ms text=\d+ms "
                  r"speak=\d+ms divs=(\d+) (match=#(\d+) by=(\w+)|match=none) chars=(\d+)$", re.M)

NO_QUESTION = ("<!doctype html><html><head><meta charset='utf-8'></head><body>"
               "<div class='nav'>menu</div><div id='answer'>A</div><div>B</div></body></html>")


def body(checks):
    with Desktop() as desk, SpeechRecorder(desk) as voice, \
            FixtureSite(SUBJECT4_HOST, {"/kaoshi/": NO_QUESTION}) as s4:
        # The exam site on the Subject 1 host only: the test's page has the other.
        desk._spawn("site", [os.path.join(build_dir(), "site", "zandrel-site"),
                             "--subject1", SUBJECT1_HOST, "--subject4", "127.0.0.1:0"])
        desk.start_program(extra_env=dict(voice.env, ZANDREL_LOG="1"))
        desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)
        desk.wait_site_request(SUBJECT1_HOST, "GET", "/kaoshi/")
        time.sleep(2)
        keys = XTestKeys(desk.display)

        def read_line(count):
            try:
                wait_until(lambda: len(LINE.findall(desk.program_log())) >= count, 10,
                           what="%d read lines" % count)
            except Exception:
                pass
            lines = [m.group(0) for m in LINE.finditer(desk.program_log())]
            print("logged:", lines[-1:], flush=True)
            return LINE.match(lines[count - 1]) if len(lines) >= count else None

        checks.check("zandrel: read" not in desk.program_log(), "no line before a read")
        keys.press("F1", hold=0.08)
        good = read_line(1)
        checks.check(good is not None and good.group(1) == "ok", "F1 on the exam page: read ok",
                     desk.program_log()[-400:])
        if good:
            checks.check(int(good.group(5) or 0) > 0 and good.group(6) == "className",
                         "the question's DIV matched by its className", good.group(0))
            checks.check(int(good.group(7)) > 0, "chars > 0", good.group(0))

        desk.activate_menu(frame, "菜单", "科目四全真模拟考试")
        wait_until(lambda: s4.requested("/kaoshi/"), 10, what="the Subject 4 page")
        time.sleep(2)
        keys.press("F1", hold=0.08)
        bad = read_line(2)
        checks.check(bad is not None and bad.group(2) == "no matching DIV",
                     "F1 on a page without the question: no matching DIV",
                     bad.group(0) if bad else desk.program_log()[-400:])
        if bad:
            checks.equal((bad.group(3), bad.group(4), bad.group(7)), ("3", "match=none", "0"),
                         "all three DIV elements visited, none matched, nothing read")
        checks.equal(len(LINE.findall(desk.program_log())), 2, "one line per read")
        desk.activate_menu(frame, "菜单", "退出软件")
        checks.equal(desk.program_exit(), 0, "exit code 0")


run_checks(body)
