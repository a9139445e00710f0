"""A second F1 during a reading cuts it off at once and starts again, heard at
the sink with speech-dispatcher's own espeak-ng voice: soon after the press
what is heard is the question's opening again, not the rest of the first
reading nor a mix of both; nothing is queued behind. The gap between the two
readings can be as short as a pause between syllables, so the restart is
recognised by the shape of the sound level, against a recording of the same
question read alone."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import pulse  # noqa: E402
from audio_analysis import best_match, envelope, frames, sounding_span  # noqa: E402
from harness import MAIN_TITLE, SUBJECT1_HOST, Desktop, run_checks  # noqa: E402
from xtest_keys import XTestKeys  # noqa: E402


def body(checks):
    with Desktop() as desk:
        audio = pulse.PulseServer(runtime_dir=desk.env["XDG_RUNTIME_DIR"]).start()
        speechd = pulse.SpeechDaemon(audio).start()
        try:
            env = speechd.env
            desk.start_site()
            desk.start_program(extra_env={k: env[k] for k in ("PULSE_SERVER",
                                                              "PULSE_CLIENTCONFIG")})
            desk.wait_window(MAIN_TITLE)
            desk.wait_site_request(SUBJECT1_HOST, "GET", "/kaoshi/")
            time.sleep(2)
            keys = XTestKeys(desk.display)

            alone = os.path.join(desk.tmp, "alone.raw")
            with audio.record(alone):
                keys.press("F1")
                time.sleep(12)
            span = sounding_span(alone)
            checks.check(span is not None, "F1 is heard at the sink", str(span))
            single = span[1] - span[0] if span else 0

            twice = os.path.join(desk.tmp, "twice.raw")
            start = time.monotonic()  # parec starts writing right after this
            with audio.record(twice):
                keys.press("F1")
                time.sleep(2.5)
                second = time.monotonic() - start
                keys.press("F1", hold=0.05)
                time.sleep(single + 3)
            sound = frames(twice)
            at = int(second * 100)
            print("10 ms frames around the second press (#: sound):",
                  "".join("#" if f else "." for f in sound[max(0, at - 50):at + 100]), flush=True)
            before = any(sound[max(0, at - 100):at])
            checks.check(before, "it was speaking when F1 came again")
            # The sound after the press is the question's beginning again, not
            # the rest of the first reading (nor a mix of the two).
            alone_level = envelope(alone)
            twice_level = envelope(twice)
            first_alone = int(sounding_span(alone)[0] * 100)
            first_twice = int(sounding_span(twice)[0] * 100)
            opening = alone_level[first_alone:first_alone + 200]
            restart, where = best_match(twice_level, opening, at, at + 60)
            rest = alone_level[first_alone + (where - first_twice):][:200]
            continued = best_match(twice_level[where:where + 200], rest, 0, 1)[0]
            checks.check(restart > 0.85 and restart > continued + 0.2,
                         "after the press the question is heard from its beginning",
                         "(like the opening %.2f, like the rest of the first reading %.2f, "
                         "%.2f s after the press)" % (restart, continued, (where - at) / 100.0))
            # The gap between the two readings may be as short as espeak's own
            # pauses between syllables, so the cut shows as how soon the
            # opening comes again, not as a silence.
            checks.check(where - at <= 40, "the first reading breaks off within 0.4 s of the press",
                         "(%.2f s)" % ((where - at) / 100.0))
            span = sounding_span(twice)
            total = span[1] - span[0] if span else 0
            checks.check(0 < total < 2 * single - 1.0, "nothing was queued behind",
                         "(alone %.2f s, cut and again %.2f s)" % (single, total))
        finally:
            speechd.stop()
            audio.stop()


run_checks(body)
