"""Other programs on the exam site's default ports are never shown: with a
web server of someone else's on both 127.0.0.1:47101 and :47104, the program
serves its own site on free ports, shows its Subject 1 exam, F1 reads that
page's first question, and after 交卷 on its Subject 4 exam the score rule
(the browser 810 high) holds for the score address on its actual port."""

import re
import time

from exam_page import browser_height as page_browser_height
from exam_page import find_text, read_aloud, same_words, wait_question
from fixture_site import FixtureSite
from harness import (MAIN_TITLE, SUBJECT1_HOST, SUBJECT4_HOST, Desktop, run_checks,
                     wait_until)
from speech_recorder import SpeechRecorder
from xtest_keys import XTestKeys

FOREIGN = ("<!doctype html><html><head><meta charset='utf-8'></head><body>"
           "<div class='title'>foreign question</div><div class='title'>foreign question</div>"
           "</body></html>")


def own_host(desk, subject):
    found = re.findall(r"; serving %s on (\S+)" % subject, desk.program_log())
    return found[-1] if found else None


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

        try:
            shown = wait_question(desk, frame, r"^第1题", timeout=30)
        except Exception:
            shown = []
        checks.check(bool(shown), "the window shows the program's own Subject 1 exam")
        keys = XTestKeys(desk.display)
        try:
            said = read_aloud(desk, voice, keys, timeout=15)
        except Exception:
            said = ""
        checks.check(bool(shown) and same_words(said, shown),
                     "F1 reads question 1 of the program's own page", repr(said))

        def browser_height():
            return page_browser_height(desk, frame)

        desk.activate_menu(frame, "菜单", "科目四全真模拟考试")
        wait_until(lambda: desk.outer_geometry(wid)[3] == 555, 5, what="height 555")
        time.sleep(2)
        checks.equal(browser_height(), 2800, "the Subject 4 exam: the browser is 2800 high")
        # 交卷, then 确定 (Enter) in the panel that asks first.
        wait_question(desk, frame, r"^第1题")
        button = [n for n in find_text(desk, frame, "交卷") if desk.text_of(n).strip() == "交卷"]
        if button:
            x, y, w, h = desk.extents(button[0])
            desk.click(x + w // 2, y + h // 2)
            wait_question(desk, frame, r"^还有 \d+ 题未答")
            keys.press("Return")
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
        keys.close()
        desk.activate_menu(frame, "菜单", "退出软件")
        checks.equal(desk.program_exit(), 0, "exit code 0")


run_checks(body)
