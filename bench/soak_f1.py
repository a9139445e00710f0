"""F1 every 2 s for 10 minutes: does every press read the question?

Runs the real zandrel under Xvfb against a one-question page, with a private
speech-dispatcher whose output module records each text it is given
(tests/e2e/speech_recorder.py) and plays it into a private PulseAudio null
sink. Each press counts as read when the voice is given the question within
the interval, as late when that happens only just before the next press, as
failed when the box "转换失败！" appears instead (it is closed at once), and
as lost otherwise. Prints progress every 30 presses and a summary line; exit
status 0 when every press was read.

Run: /usr/bin/python3 bench/soak_f1.py [presses] [interval_s]   (default 300, 2.0)
from the source tree after building (ZANDREL_BUILD_DIR, default ./build),
best in a private network namespace (the exam host's port is fixed):
  unshare -n sh -c 'ip link set lo up && /usr/bin/python3 bench/soak_f1.py'
"""

import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

from fixture_site import FixtureSite  # noqa: E402
from harness import MAIN_TITLE, SUBJECT1_HOST, Desktop, wait_until  # noqa: E402
from speech_recorder import SpeechRecorder  # noqa: E402
from xtest_keys import XTestKeys  # noqa: E402

QUESTION = "第1题 遇到雾天应当开启雾灯。"
PAGE = ("<!doctype html><html><head><meta charset='utf-8'></head><body>"
        "<div class='title'>科目一</div><div class='title'>%s</div></body></html>" % QUESTION)
BOX = "信息："


def main():
    presses = int(sys.argv[1]) if len(sys.argv) > 1 else 300
    interval = float(sys.argv[2]) if len(sys.argv) > 2 else 2.0
    read = late = failed = lost = 0
    with Desktop() as desk, FixtureSite(SUBJECT1_HOST, {"/kaoshi/": PAGE}) as site:
        recorder = SpeechRecorder(desk)
        try:
            desk.start_program(extra_env=recorder.env)
            desk.wait_window(MAIN_TITLE)
            wait_until(lambda: site.requested("/kaoshi/"), 20, what="the page")
            time.sleep(2)
            keys = XTestKeys(desk.display)
            start = time.monotonic()
            unanswered = None  # said() length before a press still without an answer
            for n in range(presses + 1):
                due = start + n * interval
                time.sleep(max(0.0, due - time.monotonic()))
                if unanswered is not None:
                    if len(recorder.said()) > unanswered:
                        late += 1
                        print("press %d: read late" % n, flush=True)
                    else:
                        lost += 1
                        print("press %d: nothing within %.1f s" % (n, interval), flush=True)
                    unanswered = None
                if n == presses:
                    break
                before = len(recorder.said())
                keys.press("F1")
                outcome = None
                while outcome is None and time.monotonic() < due + interval - 0.1:
                    if len(recorder.said()) > before:
                        outcome = "read"
                    elif desk.find_windows(BOX):
                        outcome = "failed"
                    else:
                        time.sleep(0.05)
                if outcome == "read":
                    read += 1
                elif outcome == "failed":
                    failed += 1
                    print("press %d: 转换失败！ at %.1f s" % (n + 1, time.monotonic() - start),
                          flush=True)
                    for box in desk.find_windows(BOX):
                        desk.run(["xdotool", "windowactivate", "--sync", str(box)], check=False)
                        desk.key("Return", window=None)
                else:
                    unanswered = before
                if (n + 1) % 30 == 0:
                    print("%d presses: %d read, %d late, %d failed, %d lost"
                          % (n + 1, read, late, failed, lost), flush=True)
            keys.close()
        finally:
            recorder.close()
    print("soak: %d of %d presses read (%d of them late), %d 转换失败！, %d lost"
          % (read + late, presses, late, failed, lost), flush=True)
    return 0 if read + late == presses else 1


if __name__ == "__main__":
    sys.exit(main())
