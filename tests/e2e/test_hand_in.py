"""The local site's own 交卷 on the Subject 4 exam: the browser lands on the
Subject 4 score page and the score-page rule gives it its 810-pixel height,
so the result box shows in the cut-out; 重新考试 gives the 2800 back."""

import time

from harness import MAIN_TITLE, SUBJECT4_HOST, Desktop, run_checks, wait_until


def body(checks):
    with Desktop() as desk:
        desk.start_site()
        desk.start_program()
        wid = desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)
        def browser_height():
            # Looked up afresh: a navigation replaces the browser's accessible,
            # and one caught in the middle of that answers nothing.
            def height():
                try:
                    views = desk.accessible_find(frame, "scroll pane")
                    return desk.extents(views[0])[3] if views else None
                except Exception:
                    return None

            return wait_until(height, 20, what="the browser's size")

        checks.equal(browser_height(), 2800, "the browser starts 2800 high")
        desk.activate_menu(frame, "菜单", "科目四全真模拟考试")
        desk.wait_site_request(SUBJECT4_HOST, "GET", "/kaoshi/")
        wait_until(lambda: desk.outer_geometry(wid)[3] == 555, 5, what="height 555")
        time.sleep(1.5)
        # 交卷 sits at the right end of the button row of the exam panel.
        bar = desk.extents(desk.accessible_find(frame, "menu bar")[0])
        cx, _, _, _ = desk.client_geometry(wid)
        desk.click(cx + 926 - 45, bar[1] + bar[3] + 428 + 20)
        desk.wait_site_request(SUBJECT4_HOST, "POST", "/score/")
        desk.wait_site_request(SUBJECT4_HOST, "GET", "/score/")
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
