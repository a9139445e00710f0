"""A web process that keeps crashing: the first crashes are recovered by
reloading the page; when the engine gives up (the fourth within 30 s), the
cut-out shows the failure message with the way back instead of a frozen
picture of the page, and 菜单 → 科目一 brings the exam back."""

import os
import signal
import time

from fixture_site import FixtureSite
from harness import MAIN_TITLE, SUBJECT1_HOST, Desktop, run_checks, wait_until

GAVE_UP = "考试页面多次崩溃"
PAGE = """<!doctype html><html><head><meta charset='utf-8'></head><body>
<div class='title'>科目一</div><div class='title'>崩溃之前的题目</div></body></html>"""


def descendants(pid):
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            children.setdefault(int(fields[1]), []).append(int(entry))
        except OSError:
            continue
    found, todo = [], [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def web_processes(pid):
    result = []
    for child in descendants(pid):
        try:
            with open("/proc/%d/comm" % child) as f:
                if f.read().strip().startswith("WebKitWebProces"):
                    result.append(child)
        except OSError:
            pass
    return result


def body(checks):
    with Desktop() as desk, FixtureSite(SUBJECT1_HOST, {"/kaoshi/": PAGE}) as s1:
        program = desk.start_program()
        desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)

        def page_says(text):
            return text in " ".join(desk.page_texts(frame))

        wait_until(lambda: page_says("崩溃之前的题目"), 30, what="the page")
        reloads = []
        for crash in range(4):
            victims = web_processes(program.pid)
            if not victims:
                break
            requests = len(s1.requests)
            print("crash %d: web processes %s, requests %d" % (crash, victims, requests),
                  flush=True)
            for victim in victims:
                os.kill(victim, signal.SIGKILL)
            if crash < 3:
                try:
                    wait_until(lambda: len(s1.requests) > requests and web_processes(program.pid),
                               10, interval=0.1, what="the reload")
                    reloads.append(crash)
                except Exception:
                    pass
                time.sleep(1.0)
        checks.equal(reloads, [0, 1, 2], "the first three crashes are recovered by a reload")
        try:
            wait_until(lambda: page_says(GAVE_UP), 15, interval=0.2, what="the failure message")
        except Exception:
            pass
        checks.check(page_says(GAVE_UP) and page_says("重新打开考试页面"),
                     "after the fourth crash the cut-out says so and how to get back",
                     " ".join(desk.page_texts(frame))[:200])

        desk.activate_menu(frame, "菜单", "科目一全真模拟考试")
        try:
            wait_until(lambda: page_says("崩溃之前的题目"), 20, interval=0.2, what="the exam")
        except Exception:
            pass
        checks.check(page_says("崩溃之前的题目"), "菜单 → 科目一 brings the exam back")
        desk.activate_menu(frame, "菜单", "退出软件")
        checks.equal(desk.program_exit(), 0, "exit code 0")


if __name__ == "__main__":
    run_checks(body)
