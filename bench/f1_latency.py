"""F1 to the first audible sample, against the engine's own latency.

Runs the real zandrel under Xvfb with a private PulseAudio null sink and a
private speech-dispatcher (its ordinary espeak-ng module), records the sink's
monitor for the whole run, and alternates two kinds of trial:

  program: an F1 key-down through XTEST; latency = first sound after it;
  engine:  the same question text sent straight to the same speech-dispatcher
           over an open SSIP connection with the same (Chinese) voice;
           latency = first sound after the SPEAK command.

Both are read off the same recording, so the recorder's own delay cancels out
of the difference. Prints each trial, the medians and the program's added
latency. Run: /usr/bin/python3 bench/f1_latency.py [trials]  (default 21)
from the source tree after building (ZANDREL_BUILD_DIR, default ./build).
"""

import os
import socket
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

from audio_analysis import frames  # noqa: E402
from fixture_site import FixtureSite  # noqa: E402
from harness import MAIN_TITLE, SUBJECT1_HOST, SUBJECT4_HOST, Desktop  # noqa: E402
from xtest_keys import XTestKeys  # noqa: E402
import pulse  # noqa: E402

QUESTION = "第1题 遇到雾天应当开启雾灯。"
PAGE = ("<!doctype html><html><head><meta charset='utf-8'></head><body>"
        "<div class='title'>科目一</div><div class='title'>%s</div></body></html>" % QUESTION)
CHINESE = {"zh", "zho", "chi", "cmn", "yue"}
BAR_MS = 40.0


class Ssip:
    """A minimal client of speech-dispatcher's own protocol."""

    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.buffer = b""
        self.command("SET self CLIENT_NAME root:zandrel-bench:main")

    def _line(self):
        while b"\r\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise RuntimeError("speech-dispatcher closed the connection")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line.decode("utf-8", "replace")

    def command(self, text):
        self.sock.sendall(text.encode("utf-8") + b"\r\n")
        lines = []
        while True:
            line = self._line()
            lines.append(line)
            if len(line) >= 4 and line[3] == " ":
                return lines

    def speak(self, text):
        self.command("SPEAK")
        return self.command(text + "\r\n.")

    def chinese_voice(self):
        for line in self.command("LIST SYNTHESIS_VOICES")[:-1]:
            fields = line[4:].split("\t")
            language = fields[1].lower().split("-")[0] if len(fields) > 1 else ""
            if language in CHINESE or "chinese" in fields[0].lower():
                return fields[0]
        return None


def onset(sound, after_s, limit_s=3.0):
    """Seconds from after_s to the first sounding 10 ms frame, or None."""
    start = int(after_s * 100)
    for i in range(start, min(len(sound), start + int(limit_s * 100))):
        if sound[i]:
            return (i - start) / 100.0
    return None


def wait_for_silence(path, quiet_s=0.6, limit_s=30.0):
    """Waits until the live recording's last quiet_s are silent, so every trial
    starts on a silent sink and nothing it says is queued behind another."""
    deadline = time.monotonic() + limit_s
    need = int(quiet_s * 100)
    while time.monotonic() < deadline:
        time.sleep(0.1)
        sound = frames(path)
        if len(sound) >= need and not any(sound[-need:]):
            return True
    return False


def main():
    trials = int(sys.argv[1]) if len(sys.argv) > 1 else 21
    with Desktop(accessibility=False) as desk, \
            FixtureSite(SUBJECT1_HOST, {"/kaoshi/": PAGE}) as site, \
            FixtureSite(SUBJECT4_HOST, {}):
        audio = pulse.PulseServer(runtime_dir=desk.env["XDG_RUNTIME_DIR"]).start()
        speechd = pulse.SpeechDaemon(audio).start()
        try:
            env = speechd.env
            desk.start_program(extra_env={k: env[k] for k in ("PULSE_SERVER", "PULSE_CLIENTCONFIG")})
            desk.wait_window(MAIN_TITLE)
            while not site.requested("/kaoshi/"):
                time.sleep(0.1)
            time.sleep(2)
            keys = XTestKeys(desk.display)
            client = Ssip(speechd.socket_path)
            voice = client.chinese_voice()
            if voice:
                client.command("SET self SYNTHESIS_VOICE " + voice)
            print("engine voice for the direct trials: %s" % voice, flush=True)
            # A first reading of each kind, unmeasured: the daemon loads its
            # module and the program lists the voices once.
            keys.press("F1")
            time.sleep(6)
            client.speak(QUESTION)
            time.sleep(6)

            path = os.path.join(desk.tmp, "bench.raw")
            marks = []
            with audio.record(path):
                t0 = time.monotonic()
                for i in range(trials):
                    wait_for_silence(path)
                    marks.append(("program", time.monotonic() - t0))
                    keys.press("F1", hold=0.08)
                    time.sleep(1.0)
                    wait_for_silence(path)
                    marks.append(("engine", time.monotonic() - t0))
                    client.speak(QUESTION)
                    time.sleep(1.0)
                    print("trial %d/%d" % (i + 1, trials), flush=True)
            sound = frames(path)
            runs, start = [], None
            for i, on in enumerate(sound + [False]):
                if on and start is None:
                    start = i
                elif not on and start is not None:
                    runs.append((start / 100.0, i / 100.0))
                    start = None
            print("recording: %.1f s, %d sounding runs" % (len(sound) / 100.0, len(runs)))
            results = {"program": [], "engine": []}
            for kind, at in marks:
                value = onset(sound, at)
                if value is not None:
                    results[kind].append(value * 1000.0)
                print("%-8s %s" % (kind, "%.0f ms" % (value * 1000) if value is not None
                                   else "no sound"), flush=True)
            if len(results["program"]) < trials // 2 or len(results["engine"]) < trials // 2:
                print("FAILED: too few trials produced sound", flush=True)
                return 1
            program = statistics.median(results["program"])
            engine = statistics.median(results["engine"])
            added = program - engine
            print("F1 to first sound, median of %d: %.0f ms" % (len(results["program"]), program))
            print("engine alone (same text, open connection), median of %d: %.0f ms"
                  % (len(results["engine"]), engine))
            print("the program adds %.0f ms at the median (bar: at most %.0f ms): %s"
                  % (added, BAR_MS, "PASS" if added <= BAR_MS else "FAIL"), flush=True)
            return 0 if added <= BAR_MS else 1
        finally:
            speechd.stop()
            audio.stop()


if __name__ == "__main__":
    sys.exit(main())
