"""The menu bar as the accessibility API shows it: the two menus and their
items with exact captions, in order, with no shortcut keys; choosing items
(through their accessible "click" action) reaches the program: the window
height follows the exam chosen with its top-left corner kept, the labels stay
above the client area at both heights, the exam page is requested from its
host, and "退出软件" ends the program with exit code 0."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (MAIN_TITLE, SUBJECT1_HOST, SUBJECT4_HOST, Desktop, HarnessError,  # noqa: E402
                     run_checks, wait_until)

EXPECTED_MENUS = [
    ("菜单", ["科目一全真模拟考试", "科目四全真模拟考试", "重新考试", "退出软件"]),
    ("语音读题(F1键)", ["语音播报"]),
]


def body(checks):
    with Desktop() as desk:
        desk.start_site()
        desk.start_program()
        wid = desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)
        checks.equal(desk.menu_tree(frame), EXPECTED_MENUS, "menu bar: menus and items, in order")

        # No shortcut keys and no mnemonics: no item offers a key binding.
        bindings = []
        for menu, items in EXPECTED_MENUS:
            for item in items:
                action = desk.menu_item(frame, menu, item).queryAction()
                bindings += [action.getKeyBinding(i) for i in range(action.nActions)]
        checks.check(all(b in ("", "<none>") or b.replace(";", "") == "" for b in bindings),
                     "no item has a shortcut key", repr(bindings))

        x0, y0, w0, h0 = desk.outer_geometry(wid)
        checks.equal((w0, h0), (966, 623), "start: 966 x 623")
        log_mark = desk.wait_site_request(SUBJECT1_HOST, "GET", "/kaoshi/")

        def settle(height):
            try:
                wait_until(lambda: desk.outer_geometry(wid)[3] == height, 10,
                           what="outer height %d" % height)
            except HarnessError:
                pass  # reported by the caller's check

        def labels_above_client_area(when):
            area = desk.client_area(wid, frame)
            for label in desk.labels(frame):
                lx, ly, lw, lh = desk.extents(label)
                checks.check(ly + lh <= area[1], "%s: a label lies above the client area" % when,
                             "(label ends at %d, client area from %d)" % (ly + lh, area[1]))

        desk.activate_menu(frame, "菜单", "科目四全真模拟考试")
        settle(555)
        checks.equal(desk.outer_geometry(wid), (x0, y0, 966, 555),
                     "科目四全真模拟考试: outer height 555, top-left kept")
        try:
            desk.wait_site_request(SUBJECT4_HOST, "GET", "/kaoshi/")
            checks.check(True, "科目四全真模拟考试 requests /kaoshi/ from the Subject 4 host")
        except HarnessError as error:
            checks.check(False, "科目四全真模拟考试 requests /kaoshi/ from the Subject 4 host",
                         str(error))
        labels_above_client_area("at 555")

        desk.activate_menu(frame, "菜单", "科目一全真模拟考试")
        settle(623)
        checks.equal(desk.outer_geometry(wid), (x0, y0, 966, 623),
                     "科目一全真模拟考试: outer height 623, top-left kept")
        try:
            desk.wait_site_request(SUBJECT1_HOST, "GET", "/kaoshi/", after=log_mark)
            checks.check(True, "科目一全真模拟考试 requests /kaoshi/ from the Subject 1 host again")
        except HarnessError as error:
            checks.check(False, "科目一全真模拟考试 requests /kaoshi/ from the Subject 1 host again",
                         str(error))
        labels_above_client_area("at 623")

        time.sleep(0.5)
        desk.activate_menu(frame, "菜单", "退出软件")
        checks.equal(desk.program_exit(20), 0, "退出软件 ends the program with code 0")


if __name__ == "__main__":
    run_checks(body)
