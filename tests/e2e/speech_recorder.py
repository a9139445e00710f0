"""A private speech-dispatcher whose one output module records what it is asked
to say, then says it with espeak-ng's Mandarin voice into the desktop's audio
server. The program finds it at the default socket under XDG_RUNTIME_DIR, as
it would find the user's own.

    recorder = SpeechRecorder(desk)   # after the desktop (and its audio) is up
    ... recorder.said() -> ["text 1", "text 2", ...]
"""

import os
import subprocess
import time

SYNTH = r"""#!/bin/sh
# $1 text, as speech-dispatcher hands it to the module
printf '%s\036\n' "$1" >> "__SAID__"
printf '%s' "$1" | espeak-ng -v cmn --stdin --stdout | paplay -n zandrel-test-voice
"""

MODULE = """GenericExecuteSynth "__SYNTH__ \\'$DATA\\'"
GenericCmdDependency "espeak-ng"
AddVoice "zh" "MALE1" "cmn"
GenericLanguage "zh" "cmn" "utf-8"
"""

CONFIG = """LogLevel 3
LogDir "__LOG__"
AudioOutputMethod "pulse"
AddModule "recorder" "sd_generic" "recorder.conf"
DefaultModule recorder
DefaultLanguage "zh"
"""


class SpeechRecorder:
    def __init__(self, desk):
        self.desk = desk
        base = os.path.join(desk.tmp, "speechd")
        self.said_path = os.path.join(base, "said.txt")
        os.makedirs(os.path.join(base, "config", "modules"), exist_ok=True)
        os.makedirs(os.path.join(base, "log"), exist_ok=True)
        synth = os.path.join(base, "synth.sh")
        with open(synth, "w") as f:
            f.write(SYNTH.replace("__SAID__", self.said_path))
        os.chmod(synth, 0o755)
        with open(os.path.join(base, "config", "modules", "recorder.conf"), "w") as f:
            f.write(MODULE.replace("__SYNTH__", synth))
        with open(os.path.join(base, "config", "speechd.conf"), "w") as f:
            f.write(CONFIG.replace("__LOG__", os.path.join(base, "log")))
        open(self.said_path, "w").close()
        socket = os.path.join(desk.env["XDG_RUNTIME_DIR"], "speech-dispatcher", "speechd.sock")
        self.process = desk._spawn("speechd", [
            "speech-dispatcher", "--run-single", "--timeout", "0",
            "--config-dir", os.path.join(base, "config"),
            "--communication-method", "unix_socket", "--socket-path", socket])
        deadline = time.monotonic() + 15
        while not os.path.exists(socket):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("the private speech-dispatcher did not start")
            time.sleep(0.1)

    def said(self):
        with open(self.said_path, encoding="utf-8", errors="replace") as f:
            return [t.strip("\n") for t in f.read().split("\036\n") if t.strip()]
