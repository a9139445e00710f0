"""What the user sees: the client area shows the exam panel of the Subject 1
page (the page's x 517-1477, y 232-820 cut-out, the panel's header running
from edge to edge), the Subject 1 host served GET /kaoshi/, and neither label
is drawn - not even once 透明标签1 holds "加载完毕" after a read-aloud.

The screenshots are kept in $ZANDREL_BUILD_DIR/e2e-artifacts/ for a look."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (MAIN_TITLE, SUBJECT1_HOST, Desktop, HarnessError, build_dir,  # noqa: E402
                     run_checks, wait_until)
from speech_recorder import SpeechRecorder  # noqa: E402


def pixel(desk, path, x, y):
    out = desk.run(["convert", path, "-format", "%[fx:int(255*r)],%[fx:int(255*g)],"
                    "%[fx:int(255*b)]", "-crop", "1x1+%d+%d" % (x, y), "info:"])
    return tuple(int(v) for v in out.strip().split(","))


def saturated(rgb):
    return max(rgb) - min(rgb) > 60


def body(checks):
    artifacts = os.path.join(build_dir(), "e2e-artifacts")
    os.makedirs(artifacts, exist_ok=True)
    # The read-aloud that fills 透明标签1 goes to a private speech daemon.
    with Desktop() as desk, SpeechRecorder(desk) as voice:
        desk.start_site()
        desk.start_program(extra_env=voice.env)
        wid = desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)
        try:
            desk.wait_site_request(SUBJECT1_HOST, "GET", "/kaoshi/")
            checks.check(True, "the Subject 1 host logged GET /kaoshi/")
        except HarnessError as error:
            checks.check(False, "the Subject 1 host logged GET /kaoshi/", str(error))

        area = desk.client_area(wid, frame)
        shot = os.path.join(artifacts, "screenshot_client_area.png")

        def rendered():
            desk.screenshot(shot, crop=area)
            return desk.colour_count(shot) > 100

        try:
            wait_until(rendered, 20, interval=0.5, what="the page to be drawn")
        except HarnessError:
            pass
        time.sleep(1)  # let late fonts and images settle
        desk.screenshot(shot, crop=area)
        desk.screenshot(os.path.join(artifacts, "screenshot_screen.png"))
        print("client area", area, "saved to", shot)
        colours = desk.colour_count(shot)
        checks.check(colours > 100, "the cut-out shows a drawn page", "(%d colours)" % colours)
        # The exam panel starts at the cut-out's top-left corner and is as wide
        # as the narrowest client area a Windows frame leaves (950 px): its
        # header runs across the cut-out.
        left, right = pixel(desk, shot, 6, 6), pixel(desk, shot, 943, 6)
        checks.check(saturated(left) and left == right,
                     "the panel's header fills the cut-out's top edge",
                     "(top-left %s, top-right %s)" % (left, right))
        below = pixel(desk, shot, 480, area[3] - 30)
        checks.check(below != left, "the cut-out is not one flat colour", str(below))

        # The labels, as written and read through the accessibility API, are
        # never drawn: the strip above the client area where they lie looks the
        # same before and after 透明标签1 gets its text.
        strip = (area[0] + 180, area[1] - 20, 240, 20)  # the menu bar above both labels
        before = os.path.join(artifacts, "screenshot_labels_before.png")
        after = os.path.join(artifacts, "screenshot_labels_after.png")
        desk.screenshot(before, crop=strip)
        desk.activate_menu(frame, "语音读题(F1键)", "语音播报")
        try:
            wait_until(lambda: "加载完毕" in desk.label_texts(frame), 20,
                       what="透明标签1 to read 加载完毕")
        except HarnessError:
            pass
        texts = desk.label_texts(frame)
        checks.check("加载完毕" in texts, "透明标签1 holds 加载完毕 after 语音播报 (read through "
                     "AT-SPI)", repr(texts))
        try:
            wait_until(voice.said, 15, what="the speech daemon to get the question")
        except HarnessError:
            pass
        checks.check(len(voice.said()) == 1, "the question was handed to the speech daemon",
                     repr(voice.said()))
        time.sleep(0.5)
        desk.screenshot(after, crop=strip)
        checks.equal(desk.differing_pixels(before, after), 0,
                     "no label is drawn above the client area")


if __name__ == "__main__":
    run_checks(body)
