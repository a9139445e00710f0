"""A page whose own script spins forever must not trap the user: F1 comes back
within 2 s, the menu still changes the window at once, and choosing an exam
loads it within 5 s (the hung page's engine process is dropped if need be)."""

import time

from fixture_site import HEIGHT_REPORTER, FixtureSite
from harness import MAIN_TITLE, SUBJECT1_HOST, SUBJECT4_HOST, Desktop, run_checks, wait_until
from speech_recorder import SpeechRecorder, comparable

HUNG = """<!doctype html><html><head><meta charset='utf-8'></head><body>
<div class='title'>科目一</div><div class='title'>这道题不会被读到</div>
<script>fetch('/report?loaded=1').then(function () {
  setTimeout(function () { for (;;) {} }, 4000);
});</script></body></html>"""

HEALTHY = """<!doctype html><html><head><meta charset='utf-8'></head><body>
<div class='title'>科目四</div><div class='title'>遇到<b>雾天</b>应当开启雾灯。</div>
%s</body></html>""" % HEIGHT_REPORTER


def press_f1(desk):
    desk.run(["xdotool", "keydown", "F1", "sleep", "0.08", "keyup", "F1"])


def click(item):
    action = item.queryAction()
    for i in range(action.nActions):
        if action.getName(i) == "click":
            action.doAction(i)


def body(checks):
    with Desktop() as desk, SpeechRecorder(desk) as voice, \
            FixtureSite(SUBJECT1_HOST, {"/kaoshi/": HUNG}) as s1, \
            FixtureSite(SUBJECT4_HOST, {"/kaoshi/": HEALTHY}) as s4:
        desk.start_program(extra_env=voice.env)
        wid = desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)
        wait_until(lambda: s1.reports, 20, what="the hung page to load")
        # Look the window's labels up while the page still answers for its
        # part of the accessibility tree.
        labels = desk.accessible_find(frame, "label")
        subject4 = desk.menu_item(frame, "菜单", "科目四全真模拟考试")
        time.sleep(4.5)  # its script is spinning by now

        def status():
            return [desk.text_of(label) for label in labels]

        t = time.monotonic()
        n = len(voice.said())
        press_f1(desk)
        try:
            wait_until(lambda: "加载完毕" in status() or desk.find_windows("信息：")
                       or len(voice.said()) > n, 5, interval=0.05, what="F1 to end")
        except Exception:
            pass
        took = time.monotonic() - t
        checks.check(took < 2.0 + 0.5, "F1 on a hung page comes back within 2 s",
                     "(%.2f s, status %s)" % (took, status()))
        checks.check(not any("不会被读到" in s for s in voice.said()),
                     "nothing of the hung page is read", str(voice.said()))
        # A read that found nothing is no success: a cue says so, not a box.
        checks.equal(voice.said()[n:], ["没有找到题目"], "the read that found nothing says so")
        checks.check("加载完毕" not in status(), "no 加载完毕 for a read of nothing",
                     str(status()))

        t = time.monotonic()
        click(subject4)
        wait_until(lambda: desk.outer_geometry(wid)[3] == 555, 5, interval=0.05,
                   what="height 555")
        checks.check(time.monotonic() - t < 1.0, "the menu changes the window height at once",
                     "%.2f s" % (time.monotonic() - t))
        try:
            wait_until(lambda: s4.heights(t), 5, interval=0.05, what="the Subject 4 page")
        except Exception:
            pass
        checks.check(bool(s4.heights(t)), "choosing an exam loads it within 5 s",
                     "%.2f s" % (time.monotonic() - t))

        # The new page is read as usual: the engine came back whole.
        n = len(voice.said())
        press_f1(desk)
        wait_until(lambda: len(voice.said()) > n, 10, what="a reading")
        checks.equal(comparable(voice.said()[-1]), comparable("遇到雾天应当开启雾灯。"),
                     "after the reload F1 reads the new page")
        desk.activate_menu(frame, "菜单", "退出软件")
        checks.equal(desk.program_exit(), 0, "exit code 0")


if __name__ == "__main__":
    run_checks(body)
