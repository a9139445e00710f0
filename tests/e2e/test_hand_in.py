"""The local site's own 交卷 on the Subject 4 exam, by mouse: 交卷 opens a
panel in the page (the program's silent browser would answer a confirm()
with false), 取消 keeps the exam, 确定 hands in. A hand-in the site does not
answer keeps the answers and offers 重新交卷, which goes through once the site
answers again. The browser then lands on the Subject 4 score page and the
score-page rule gives it its 810-pixel height, so the result shows in the
cut-out; 重新考试 gives the 2800 back."""

import os
import signal
import time

from exam_page import browser_height as page_browser_height
from exam_page import find_text, question_paragraphs, wait_question
from harness import MAIN_TITLE, SUBJECT4_HOST, Desktop, run_checks, wait_until


def body(checks):
    with Desktop() as desk:
        desk.start_site()
        site = next(p for name, p in desk.processes if name == "site")
        desk.start_program()
        wid = desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)

        def browser_height():
            return page_browser_height(desk, frame)

        def click(text):
            nodes = wait_until(lambda: find_text(desk, frame, text), 10, what="the %s button" % text)
            x, y, w, h = desk.extents(nodes[-1])
            desk.click(x + w // 2, y + h // 2)

        checks.equal(browser_height(), 2800, "the browser starts 2800 high")
        desk.activate_menu(frame, "菜单", "科目四全真模拟考试")
        desk.wait_site_request(SUBJECT4_HOST, "GET", "/kaoshi/")
        wait_until(lambda: desk.outer_geometry(wid)[3] == 555, 5, what="height 555")
        first = wait_question(desk, frame, r"^第1题")
        click(next(p for p in first if p.startswith("B、") or p == "错误"))
        wait_question(desk, frame, r"^第1题")
        answered = [p for p in question_paragraphs(desk, frame) if p.startswith("已选")]
        checks.check(bool(answered), "a click on a choice in the question DIV picks it",
                     repr(answered))

        click("交卷")
        panel = wait_question(desk, frame, r"^还有 \d+ 题未答")
        checks.check("确定交卷吗" in panel[0], "交卷 opens the panel in the page", repr(panel))
        click("取消")
        wait_question(desk, frame, r"^第1题")
        checks.check(any(p.startswith("已选") for p in question_paragraphs(desk, frame)),
                     "取消 keeps the exam and its answer")
        checks.check("POST /score/" not in desk.site_log(), "nothing was handed in")

        # The site stops answering: the hand-in fails, the answers stay.
        click("交卷")
        wait_question(desk, frame, r"^还有 \d+ 题未答")
        os.kill(site.pid, signal.SIGSTOP)
        try:
            click("确定")
            failed = wait_question(desk, frame, r"^交卷没有成功", timeout=40)
            checks.check(any("答案都还保留着" in p for p in failed),
                         "a hand-in the site does not answer says so and keeps the answers",
                         repr(failed))
        finally:
            os.kill(site.pid, signal.SIGCONT)
        time.sleep(0.5)
        click("重新交卷")
        desk.wait_site_request(SUBJECT4_HOST, "GET", "/score/")
        result = wait_question(desk, frame, r"^本次考试得分")
        checks.check(any("未答" in p and "答对 0 题，答错 0 题" not in p for p in result),
                     "the hand-in tried again counts the answer given before", repr(result))

        try:
            wait_until(lambda: browser_height() == 810, 5, what="browser 810")
        except Exception:
            pass
        checks.equal(browser_height(), 810, "the site's 交卷 leads to the score page at 810")
        checks.equal(desk.outer_geometry(wid)[3], 555, "the window keeps its Subject 4 height")
        shot = desk.screenshot(desk.tmp + "/score.png")
        checks.check(desk.colour_count(shot) > 8, "the score page is drawn", shot)
        desk.activate_menu(frame, "菜单", "重新考试")
        wait_until(lambda: browser_height() == 2800, 5, what="browser 2800")
        checks.equal(browser_height(), 2800, "重新考试 gives the browser its 2800 back")
        desk.activate_menu(frame, "菜单", "退出软件")
        checks.equal(desk.program_exit(), 0, "exit code 0")


run_checks(body)
