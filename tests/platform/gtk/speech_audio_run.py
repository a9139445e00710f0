"""Runs the speech engine tests (argv[1]) against a private PulseAudio null
sink and a private speech-dispatcher, then the cases that need a dead or an
unreachable daemon, and the fault tests (argv[2]: a stopped module or daemon,
a daemon that floods its voice list), each in the environment it needs. Stops
everything it started; exits non-zero when any run fails."""

import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "e2e"))
from pulse import MONITOR, PulseServer, SpeechDaemon, stop_speech_processes  # noqa: E402


def run(binary, pattern, env):
    print("== %s --gtest_filter=%s" % (os.path.basename(binary), pattern), flush=True)
    try:
        return subprocess.run([binary, "--gtest_filter=" + pattern], env=env, timeout=240).returncode
    except subprocess.TimeoutExpired:
        print("timed out", flush=True)
        return 1


def fake_daemon_run(binary, here):
    """The fault tests against speech_fake_daemon.py on the speech socket."""
    with tempfile.TemporaryDirectory(prefix="zandrel-fakespeech-") as runtime:
        path = os.path.join(runtime, "speech-dispatcher", "speechd.sock")
        count = os.path.join(runtime, "lists")
        fake = subprocess.Popen([sys.executable, os.path.join(here, "speech_fake_daemon.py"), path,
                                 "--count-file", count], stdin=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 10
            while not os.path.exists(path) and time.monotonic() < deadline:
                time.sleep(0.05)
            env = dict(os.environ)
            env["XDG_RUNTIME_DIR"] = runtime
            env["SPEECHD_ADDRESS"] = "unix_socket:" + path
            env["SPEECHD_CMD"] = os.path.join(runtime, "no-speech-dispatcher")
            env["ZANDREL_TEST_FAKE_COUNT"] = count
            return run(binary, "SpeechdEndlessList.*:SsipSession.*", env)
        finally:
            fake.kill()
            fake.wait()


def main():
    binary = sys.argv[1]
    faults = sys.argv[2] if len(sys.argv) > 2 else None
    # For sanitizer builds: faults inside libspeechd are not ours to fix.
    here = os.path.dirname(os.path.abspath(__file__))
    for variable, name in (("LSAN_OPTIONS", "speech_lsan.supp"), ("TSAN_OPTIONS", "speech_tsan.supp")):
        options = os.environ.get(variable, "")
        os.environ[variable] = (options + ":" if options else "") + "suppressions=" + \
            os.path.join(here, name)

    codes = []
    with PulseServer() as pulse:
        # Logging what reaches the output module: the voice and the text.
        with SpeechDaemon(pulse, log_level=5) as daemon:
            env = daemon.env
            env["ZANDREL_TEST_MONITOR"] = MONITOR
            env["ZANDREL_TEST_SPEECHD_LOG"] = daemon.log_path
            codes.append(run(binary, "SpeechdVoiceDescription.*:SpeechdVoiceChoice.*:SpeechdDaemon.*", env))
        # A daemon the test kills; the one autospawned after it is stopped too.
        with SpeechDaemon(pulse) as daemon:
            env = daemon.env
            env["ZANDREL_TEST_MONITOR"] = MONITOR
            env["ZANDREL_TEST_SPEECHD_PID"] = str(daemon.pid)
            codes.append(run(binary, "SpeechdDaemonGone.*", env))
        stop_speech_processes(pulse.runtime_dir)
        if faults:
            # A daemon and a module the tests stop and continue.
            with SpeechDaemon(pulse) as daemon:
                env = daemon.env
                env["ZANDREL_TEST_MONITOR"] = MONITOR
                env["ZANDREL_TEST_SPEECHD_PID"] = str(daemon.pid)
                codes.append(run(faults, "SpeechdStalled.*", env))
            stop_speech_processes(pulse.runtime_dir)
    if faults:
        codes.append(fake_daemon_run(faults, here))
    # No daemon, and none can be started.
    with tempfile.TemporaryDirectory(prefix="zandrel-nospeech-") as empty:
        env = dict(os.environ)
        env["XDG_RUNTIME_DIR"] = empty
        env["SPEECHD_ADDRESS"] = "unix_socket:" + os.path.join(empty, "none", "speechd.sock")
        env["SPEECHD_CMD"] = os.path.join(empty, "no-speech-dispatcher")
        # The failed connections leak inside libspeechd, which has no frame
        # pointers: only the slow unwinder sees the frames the suppression names.
        options = env.get("ASAN_OPTIONS", "")
        env["ASAN_OPTIONS"] = (options + ":" if options else "") + "fast_unwind_on_malloc=0"
        codes.append(run(binary, "SpeechdUnreachable.*", env))
        stop_speech_processes(empty)
    sys.exit(0 if all(c == 0 for c in codes) else 1)


if __name__ == "__main__":
    main()
