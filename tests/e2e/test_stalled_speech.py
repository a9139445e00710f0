"""A speech service that stops answering, as a stuck audio device makes it: with
speech-dispatcher's output module, then the daemon itself stopped (SIGSTOP),
F1 ends in the box "转换失败！" within 3 s, nothing of it is heard once the
process goes on (SIGCONT), and F1 reads again once the failed service's 5 s
are over."""

import os
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import pulse  # noqa: E402
from audio_analysis import sounding_span  # noqa: E402
from harness import MAIN_TITLE, SUBJECT1_HOST, Desktop, run_checks, wait_until  # noqa: E402
from xtest_keys import XTestKeys  # noqa: E402

BOX = "信息："


def module_pid(runtime_dir):
    for pid in pulse._speech_processes(runtime_dir):
        with open("/proc/%d/comm" % pid) as f:
            if f.read().startswith("sd_espeak"):
                return pid
    return None


def body(checks):
    with Desktop() as desk:
        audio = pulse.PulseServer(runtime_dir=desk.env["XDG_RUNTIME_DIR"]).start()
        speechd = pulse.SpeechDaemon(audio).start()
        stopped = []
        try:
            env = speechd.env
            desk.start_site()
            desk.start_program(extra_env={k: env[k] for k in ("PULSE_SERVER",
                                                              "PULSE_CLIENTCONFIG")})
            desk.wait_window(MAIN_TITLE)
            desk.wait_site_request(SUBJECT1_HOST, "GET", "/kaoshi/")
            time.sleep(2)
            keys = XTestKeys(desk.display)

            def read_heard(what):
                path = os.path.join(desk.tmp, "heard.raw")
                with audio.record(path):
                    keys.press("F1")
                    time.sleep(4)
                checks.check(sounding_span(path) is not None, what)
                checks.check(not desk.find_windows(BOX), what + ", without a box")

            read_heard("F1 is heard before anything is stopped")
            for name, pid in (("the output module", module_pid(audio.runtime_dir)),
                              ("the daemon", speechd.pid)):
                checks.check(pid is not None, "%s runs" % name)
                if pid is None:
                    continue
                os.kill(pid, signal.SIGSTOP)
                stopped.append(pid)
                pressed = time.monotonic()
                keys.press("F1")
                box = desk.wait_window(BOX, timeout=20)
                took = time.monotonic() - pressed
                failed_at = time.monotonic()
                checks.check(box is not None and took < 3.0,
                             "with %s stopped, F1 ends in the box within 3 s" % name,
                             "(%.2f s)" % took)
                resumed = os.path.join(desk.tmp, "resumed.raw")
                with audio.record(resumed):
                    os.kill(pid, signal.SIGCONT)
                    stopped.remove(pid)
                    time.sleep(3)
                span = sounding_span(resumed)
                # What the module had already handed the sound server may drain.
                checks.check(span is None or span[1] < 0.7,
                             "nothing of it is heard once %s goes on" % name, str(span))
                desk.run(["xdotool", "windowactivate", "--sync", str(box)], check=False)
                desk.key("Return", window=None)
                wait_until(lambda: not desk.find_windows(BOX), 5, what="the box to close")
                time.sleep(max(0.0, failed_at + 5.5 - time.monotonic()))
                read_heard("after %s went on, F1 is heard again" % name)
        finally:
            for pid in stopped:
                os.kill(pid, signal.SIGCONT)
            speechd.stop()
            audio.stop()


run_checks(body)
