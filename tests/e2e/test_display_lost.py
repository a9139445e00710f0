"""When the X display goes away under the program, it ends as it does on
SIGTERM: the voice stops, and the exit code (69) says the display was lost,
rather than GDK's bare exit(1) with the voice talking on."""

import os
import signal
import time

from fixture_site import FixtureSite
from harness import MAIN_TITLE, SUBJECT1_HOST, Desktop, run_checks, wait_until
from speech_recorder import SpeechRecorder
from xtest_keys import XTestKeys

DISPLAY_LOST = 69

# Long enough to be still talking a good while after the display is gone.
LONG = ("<!doctype html><html><head><meta charset='utf-8'></head><body>"
        "<div class='title'>科目一</div><div class='title'>%s</div></body></html>"
        % ("驾驶机动车在高速公路上行驶，遇到大雾天气能见度很低时，应当开启雾灯和危险报警闪光灯。" * 6))


def body(checks):
    with Desktop() as desk, SpeechRecorder(desk) as voice, \
            FixtureSite(SUBJECT1_HOST, {"/kaoshi/": LONG}) as s1:
        program = desk.start_program(extra_env=voice.env)
        desk.wait_window(MAIN_TITLE)
        wait_until(lambda: s1.requested("/kaoshi/"), 20, what="the page")
        time.sleep(2)
        XTestKeys(desk.display).press("F1", hold=0.08)
        wait_until(lambda: voice.said(), 20, what="the read to reach the voice")
        talking = os.path.join(desk.tmp, "talking.raw")
        # espeak-ng renders the whole text before it plays: wait for sound.
        deadline = time.monotonic() + 30
        level = 0.0
        while time.monotonic() < deadline and level < 0.01:
            with voice.record(talking):
                time.sleep(1.0)
            level = voice.pulse_module.rms(talking)
        checks.check(level >= 0.01, "the voice is talking before the display goes",
                     "rms %.4f" % level)

        xvfb = next(p for name, p in desk.processes if name == "xvfb")
        xvfb.send_signal(signal.SIGKILL)
        xvfb.wait()
        try:
            code = program.wait(10)
        except Exception:
            code = None
        checks.equal(code, DISPLAY_LOST, "the program ends with the display-lost code")
        time.sleep(1.0)
        after = os.path.join(desk.tmp, "after.raw")
        with voice.record(after):
            time.sleep(2.0)
        level = voice.pulse_module.rms(after)
        checks.check(level < 0.005, "the voice has stopped after the end", "rms %.4f" % level)


if __name__ == "__main__":
    run_checks(body)
