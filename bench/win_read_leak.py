"""What 1,000 reads cost zandrel.exe under Wine: its private bytes, handles
and threads before the first read, after a warm-up and after the last read.

Runs the real zandrel.exe in a private Wine prefix and display, with the
stand-in voice (tests/platform/win32/standin_voice.cpp) registered as the
system's SpVoice, so every read is accepted and speaks without sound; the
voice's log tells when each read has reached Speak. Each read is an F1
press through XTEST, the next one sent once the previous one has spoken.
The process is read from outside by the test probe.

  scripts/wine-run --root=build-win/wine --xvfb --command \\
      /usr/bin/python3 bench/win_read_leak.py [build-win/zandrel.exe] [reads]

ZANDREL_WIN_BUILD_DIR names the Windows build (default build-win).
"""

import json
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "platform", "win32"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import standin_voice  # noqa: E402
from xtest_keys import XTestKeys  # noqa: E402

BUILD = os.environ.get("ZANDREL_WIN_BUILD_DIR", os.path.join(HERE, "..", "build-win"))
PROBE = os.path.join(BUILD, "tests", "platform", "win32", "zandrel_win32_probe.exe")
VOICE = os.path.join(BUILD, "tests", "platform", "win32", "zandrel_win32_standin_voice.dll")
WARM_UP = 20


def say(text):
    print(f"win-read-leak: {text}", flush=True)


def process_figures():
    out = subprocess.run(["wine", PROBE, "process", "zandrel.exe"], capture_output=True,
                         text=True, errors="replace", timeout=120).stdout
    for line in reversed(out.strip().splitlines()):
        if line.startswith("{"):
            figures = json.loads(line)
            if figures.get("found"):
                return figures
    raise RuntimeError("the probe could not read zandrel.exe")


class SpeakCounter:
    """Counts the accepted texts in the stand-in's log as it grows."""

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.count = 0

    def update(self):
        try:
            with open(self.path, "rb") as log:
                log.seek(self.offset)
                data = log.read()
        except FileNotFoundError:
            return self.count
        end = data.rfind(b"\n") + 1
        self.offset += end
        for line in data[:end].splitlines():
            call = json.loads(line)
            if call["call"] == "Speak" and call["text"] is not None and call["result"] == "accepted":
                self.count += 1
        return self.count


def main():
    exe = sys.argv[1] if len(sys.argv) > 1 else os.path.join(BUILD, "zandrel.exe")
    reads = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    work = tempfile.mkdtemp(prefix="zandrel-leak-")
    log = os.path.join(work, "voice.log")
    standin_voice.register(VOICE)
    env = dict(os.environ, ZANDREL_STANDIN_VOICE_LOG=standin_voice.windows_path(log),
               ZANDREL_STANDIN_VOICE_SPEAK_MS="20")
    say(f"starting {exe}")
    app = subprocess.Popen(["wine", exe], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    keys = XTestKeys(os.environ["DISPLAY"])
    try:
        deadline = time.monotonic() + 60
        while not subprocess.run(["xdotool", "search", "--name", "^Zandrel"],
                                 capture_output=True).stdout.strip():
            if time.monotonic() > deadline:
                raise RuntimeError("no main window within 60 s")
            time.sleep(0.5)
        time.sleep(2)
        rows = [("start", 0, process_figures())]
        spoken = SpeakCounter(log)
        started = time.monotonic()
        missed = 0
        marks = {WARM_UP: "warm", reads: "end"}
        while spoken.count < reads:
            before = spoken.count
            time.sleep(0.1)  # released long enough for the hotkey poll to see it up
            keys.press("F1", hold=0.08)
            deadline = time.monotonic() + 3
            while spoken.update() == before and time.monotonic() < deadline:
                time.sleep(0.01)
            if spoken.count == before:
                missed += 1  # the press was not seen; pressed again
                if missed > 50:
                    raise RuntimeError("more than 50 presses led to no read")
                continue
            n = spoken.count
            for mark in [m for m in marks if before < m <= n]:
                time.sleep(0.5)  # the reading thread ends after Speak
                rows.append((marks.pop(mark), n, process_figures()))
            if n // 100 > before // 100:
                say(f"{n} reads ({time.monotonic() - started:.0f} s)")
        if missed:
            say(f"{missed} presses were not seen and were repeated")
        say(f"{'':6}{'reads':>6}{'private bytes':>15}{'handles':>9}{'threads':>9}")
        for name, n, f in rows:
            say(f"{name:6}{n:>6}{f['privateBytes']:>15,}{f['handles']:>9}{f['threads']:>9}")
        first, warm, last = rows[0][2], rows[1][2], rows[-1][2]
        per_read = (last["privateBytes"] - warm["privateBytes"]) / max(1, reads - WARM_UP)
        say(f"after the warm-up: {last['privateBytes'] - warm['privateBytes']:+,} bytes "
            f"({per_read:+.0f} a read), {last['handles'] - warm['handles']:+} handles, "
            f"{last['threads'] - warm['threads']:+} threads; from the start "
            f"{last['privateBytes'] - first['privateBytes']:+,} bytes, "
            f"{last['handles'] - first['handles']:+} handles")
    finally:
        keys.close()
        app.kill()
        app.wait()


if __name__ == "__main__":
    main()
