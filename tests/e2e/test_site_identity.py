"""Other programs on the exam site's default ports are never shown: with a
web server of someone else's on both 127.0.0.1:47101 and :47104, the program
serves its own site on free ports, shows its Subject 1 exam, F1 reads that
page's first question, and after 交卷 on its Subject 4 exam the score rule
(the browser 810 high) holds for the score address on its actual port."""

import json
import re
import time
import urllib.request

from fixture_site import FixtureSite
from harness import (MAIN_TITLE, SUBJECT1_HOST, SUBJECT4_HOST, Desktop, run_checks,
                     wait_until)
from speech_recorder import SpeechRecorder, comparable
from xtest_keys import XTestKeys

FOREIGN = ("<!doctype html><html><head><meta charset='utf-8'></head><body>"
           "<div class='title'>foreign question</div><div class='title'>foreign question</div>"
           "</body></html>")


def own_host(desk, subject):
    found = re.findall(r"; serving %s on (\S+)" % subject, desk.program_log())
    return found[-1] if found else None


def first_question(host):
    with urllib.request.urlopen("http://%s/kaoshi/" % host, timeout=10) as r:
        page = r.read().decode("utf-8")
    return json.loads(re.search(r'\{m: ("(?:[^"\\]|\\.)*")', page).group(1))


def find_text_anywhere(desk, frame, text):
    return any(text in t for t in desk.page_texts(frame))


def body(checks):
    pages = {"/kaoshi/": FOREIGN, "/score/": FOREIGN}
    with Desktop() as desk, SpeechRecorder(desk) as voice, \
            FixtureSite(SUBJECT1_HOST, pages), FixtureSite(SUBJECT4_HOST, pages):
        desk.start_program(extra_env=voice.env, own_site=True)
        wid = desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)
        hosts = wait_until(lambda: own_host(desk, "科目一") and own_host(desk, "科目四") and
                           (own_host(desk, "科目一"), own_host(desk, "科目四")), 20,
                           what="the program's own ports in its log")
        checks.check(SUBJECT1_HOST not in hosts and SUBJECT4_HOST not in hosts,
                     "the program serves on ports of its own", str(hosts))

        question = comparable(first_question(hosts[0]))
        try:
            wait_until(lambda: question[-8:] in comparable(" ".join(desk.page_texts(frame))),
                       30, interval=0.5, what="question 1 on the page")
            shown = True
        except Exception:
            shown = False
        checks.check(shown, "the window shows the program's own Subject 1 exam")
        keys = XTestKeys(desk.display)
        try:
            keys.press("F1")
        finally:
            keys.close()
        try:
            said = wait_until(voice.said, 15, what="a reading")
        except Exception:
            said = voice.said()
        checks.equal([comparable(s) for s in said], [question],
                     "F1 reads question 1 of the program's own page")

        def browser_height():
            def height():
                try:
                    views = desk.accessible_find(frame, "scroll pane")
                    return desk.extents(views[0])[3] if views else None
                except Exception:
                    return None

            return wait_until(height, 20, what="the browser's size")

        desk.activate_menu(frame, "菜单", "科目四全真模拟考试")
        wait_until(lambda: desk.outer_geometry(wid)[3] == 555, 5, what="height 555")
        time.sleep(2)
        checks.equal(browser_height(), 2800, "the Subject 4 exam: the browser is 2800 high")
        # 交卷 sits at the right end of the button row of the exam panel.
        bar = desk.extents(desk.accessible_find(frame, "menu bar")[0])
        cx, _, _, _ = desk.client_geometry(wid)
        desk.click(cx + 926 - 45, bar[1] + bar[3] + 428 + 20)
        try:
            wait_until(lambda: browser_height() == 810, 10, what="browser 810")
        except Exception:
            pass
        checks.equal(browser_height(), 810,
                     "交卷 leads to the score page on the program's own port, and the rule holds")
        # (Whether the servers on the default ports saw requests is no test
        # here: other programs on this machine may ask them.)
        checks.check(find_text_anywhere(desk, frame, "foreign question") is False,
                     "the foreign page never showed")
        desk.activate_menu(frame, "菜单", "退出软件")
        checks.equal(desk.program_exit(), 0, "exit code 0")


run_checks(body)
