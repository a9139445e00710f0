"""No speech service: read-aloud ends in the box "转换失败！" captioned "信息：".
From F1 and from the menu alike (both read on a thread of their own) the main
window stays usable while the box is open. The menu is driven with real
clicks, which a modal box would really block."""

import os
import time

from harness import MAIN_TITLE, SUBJECT1_HOST, Desktop, run_checks, wait_until

BOX = "信息："


def body(checks):
    with Desktop() as desk:
        desk.start_site()
        nowhere = os.path.join(desk.tmp, "no-speech", "speechd.sock")
        desk.start_program(extra_env={"SPEECHD_ADDRESS": "unix_socket:" + nowhere})
        wid = desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)
        desk.wait_site_request(SUBJECT1_HOST, "GET", "/kaoshi/")
        time.sleep(1.5)

        def height():
            return desk.outer_geometry(wid)[3]

        places = {}  # where the menu's titles and items were seen, for blocked moments

        def click_menu(menu, item):
            """Real clicks: the menu's title, then the item in its list."""
            if (menu, None) not in places:
                bar = desk.accessible_find(frame, "menu bar")[0]
                title = [m for m in bar if m is not None and m.name == menu][0]
                places[(menu, None)] = desk.extents(title)
            x, y, w, h = places[(menu, None)]
            desk.click(x + w // 2, y + h // 2)
            time.sleep(0.6)
            if (menu, item) not in places:
                places[(menu, item)] = desk.extents(desk.menu_item(frame, menu, item))
            x, y, w, h = places[(menu, item)]
            desk.click(x + w // 2, y + h // 2)
            time.sleep(0.6)

        def box_text(box_title):
            dialogs = [a for a in desk._atspi().Registry.getDesktop(0)]
            for app in dialogs:
                for child in app or []:
                    if child is not None and child.name == box_title:
                        return [desk.text_of(l) for l in desk.accessible_find(child, "label")]
            return []

        def close_box():
            box = desk.wait_window(BOX, timeout=5)
            desk.run(["xdotool", "windowactivate", "--sync", str(box)], check=False)
            desk.key("Return", window=None)
            wait_until(lambda: not desk.find_windows(BOX), 5, what="the box to close")

        # F1: the box comes from a reading thread; the window still answers.
        desk.run(["xdotool", "keydown", "F1", "sleep", "0.08", "keyup", "F1"])
        box = desk.wait_window(BOX, timeout=10)
        checks.check(box is not None, "F1 without speech shows a box captioned 信息：")
        checks.check(any("转换失败！" in t for t in box_text(BOX)), "the box says 转换失败！",
                     str(box_text(BOX)))
        checks.check("加载完毕" not in desk.label_texts(frame), "no 加载完毕 after a failure")
        desk.run(["xdotool", "windowactivate", "--sync", str(wid)], check=False)
        click_menu("菜单", "科目四全真模拟考试")
        checks.equal(height(), 555, "with the F1 box open the menu still works")
        checks.check(bool(desk.find_windows(BOX)), "the box is still open meanwhile")
        close_box()
        click_menu("菜单", "科目一全真模拟考试")
        checks.equal(height(), 623, "after closing, the menu works as before")

        # The menu's 语音播报: its box leaves the main window usable too.
        click_menu("语音读题(F1键)", "语音播报")
        box = desk.wait_window(BOX, timeout=10)
        checks.check(any("转换失败！" in t for t in box_text(BOX)),
                     "语音播报 without speech shows 转换失败！", str(box_text(BOX)))
        click_menu("菜单", "科目四全真模拟考试")
        checks.equal(height(), 555, "while the menu's box is open the window still answers")
        close_box()
        click_menu("菜单", "科目一全真模拟考试")
        checks.equal(height(), 623, "once the box is closed the window answers as before")
        desk.activate_menu(frame, "菜单", "退出软件")
        checks.equal(desk.program_exit(), 0, "exit code 0")


run_checks(body)
