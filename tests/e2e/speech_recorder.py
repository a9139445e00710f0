"""A private speech-dispatcher whose one output module records what it is asked
to say, then says it with espeak-ng's Mandarin voice into the desktop's audio
server. The program finds it at the default socket under XDG_RUNTIME_DIR, as
it would find the user's own.

    recorder = SpeechRecorder(desk)   # after the desktop (and its audio) is up
    ... recorder.said() -> ["text 1", "text 2", ...]
"""

import html
import os
import re
import subprocess
import sys
import unicodedata

SYNTH = r"""#!/bin/sh
# $1: the text, as speech-dispatcher hands it to the module. The module stops
# a reading by killing the process it started, which is this script's parent:
# the player takes this process's place and dies with that parent.
printf '%s\036\n' "$1" >> "__SAID__"
wav=$(mktemp "__DIR__/say.XXXXXX.wav")
espeak-ng -v cmn -w "$wav" "$1"
exec setpriv --pdeathsig KILL paplay -n zandrel-test-voice "$wav"
"""

# One reading, one record: the module would otherwise cut a long text (a
# question with its choices, a review with its explanation) into pieces of a
# few hundred characters, each recorded only once the one before has played.
MODULE = """GenericExecuteSynth "exec __SYNTH__ \\'$DATA\\'"
GenericMaxChunkLength 4000
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
    """The private audio server, and a speech-dispatcher that records what it is
    asked to say. `env` is what the program needs to reach both."""

    def __init__(self, desk):
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        import pulse

        self.pulse_module = pulse
        base = os.path.join(desk.tmp, "speechd")
        self.said_path = os.path.join(base, "said.txt")
        config = os.path.join(base, "config")
        os.makedirs(os.path.join(config, "modules"), exist_ok=True)
        os.makedirs(os.path.join(base, "log"), exist_ok=True)
        synth = os.path.join(base, "synth.sh")
        with open(synth, "w") as f:
            f.write(SYNTH.replace("__SAID__", self.said_path).replace("__DIR__", base))
        os.chmod(synth, 0o755)
        with open(os.path.join(config, "modules", "recorder.conf"), "w") as f:
            f.write(MODULE.replace("__SYNTH__", synth))
        with open(os.path.join(config, "speechd.conf"), "w") as f:
            f.write(CONFIG.replace("__LOG__", os.path.join(base, "log")))
        open(self.said_path, "w").close()
        # The desktop's runtime directory, where libspeechd looks by default.
        self.pulse = pulse.PulseServer(runtime_dir=desk.env["XDG_RUNTIME_DIR"]).start()
        try:
            self.speechd = pulse.SpeechDaemon(self.pulse, config_dir=config).start()
        except Exception:
            self.pulse.stop()
            raise
        env = self.speechd.env
        self.env = {k: env[k] for k in ("PULSE_SERVER", "PULSE_CLIENTCONFIG")}

    def record(self, path):
        return self.pulse.record(path)

    def said(self):
        with open(self.said_path, encoding="utf-8", errors="replace") as f:
            return [t.strip("\n") for t in f.read().split("\036\n") if t.strip()]

    def close(self):
        self.speechd.stop()
        self.pulse.stop()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def voiced(text):
    """What the program hands a Mandarin voice for the plain `text`: numbers,
    units, signs and letters written out (the build's zandrel_voiced_text)."""
    build = os.environ.get("ZANDREL_BUILD_DIR") or os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "build")
    tool = os.path.join(build, "tests", "zandrel_voiced_text")
    return subprocess.run([tool], input=text.encode("utf-8"), stdout=subprocess.PIPE,
                          check=True, timeout=30).stdout.decode("utf-8")


def comparable(text):
    """Text with markup, entities, white space and punctuation taken out, and
    written out as the voice is given it: what is left is what a voice says,
    whichever way pauses were written. Already voiced text stays as it is."""
    text = re.sub(r"<[^>]*>", " ", text)
    text = voiced(html.unescape(text))
    return "".join(ch for ch in text
                   if not ch.isspace() and not unicodedata.category(ch).startswith("P"))