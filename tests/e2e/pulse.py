"""A private audio chain for tests: a PulseAudio server with a null sink, a
speech-dispatcher daemon that plays into it, and recording of the sink's
monitor with parec. Python standard library only.

    with PulseServer() as pulse, SpeechDaemon(pulse) as speech:
        env = speech.env            # for the program under test
        with pulse.record("/tmp/out.raw") as rec:
            ...                     # something speaks
        print(rms(rec.path))        # sox's "RMS amplitude", 0 for silence

Everything runs in a private runtime directory (XDG_RUNTIME_DIR), so the
machine's own audio and speech daemons are neither used nor disturbed; every
process started here is stopped again on exit.
"""

import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time

SINK = "zandrel_null"
MONITOR = SINK + ".monitor"
RATE = 16000  # recordings are mono s16le at this rate


def _wait_for_socket(path, timeout, process=None):
    """True once a unix socket at path accepts connections."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if process is not None and process.poll() is not None:
            return False
        if os.path.exists(path):
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            try:
                s.connect(path)
                return True
            except OSError:
                pass
            finally:
                s.close()
        time.sleep(0.05)
    return False


def _stop(process, timeout=5):
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class PulseServer:
    """pulseaudio with one null sink, reachable only through its own socket."""

    def __init__(self, runtime_dir=None):
        self._own_dir = runtime_dir is None
        self.runtime_dir = runtime_dir or tempfile.mkdtemp(prefix="zandrel-audio-")
        os.chmod(self.runtime_dir, 0o700)
        self.socket_path = os.path.join(self.runtime_dir, "pulse", "native")
        self.process = None
        self.log_path = os.path.join(self.runtime_dir, "pulseaudio.log")

    @property
    def env(self):
        """The environment for clients of this server (and nothing else)."""
        env = dict(os.environ)
        env["XDG_RUNTIME_DIR"] = self.runtime_dir
        env["PULSE_SERVER"] = "unix:" + self.socket_path
        # Clients must never start a server of their own.
        env["PULSE_CLIENTCONFIG"] = self._client_config()
        return env

    def _client_config(self):
        path = os.path.join(self.runtime_dir, "client.conf")
        if not os.path.exists(path):
            with open(path, "w") as f:
                f.write("autospawn = no\n")
        return path

    def start(self, timeout=15):
        os.makedirs(os.path.dirname(self.socket_path), exist_ok=True)
        env = dict(os.environ)
        env["XDG_RUNTIME_DIR"] = self.runtime_dir
        # Its own home: the server keeps a cookie and state there, not in the
        # user's. Running as root is fine in the foreground with --system=no.
        env["HOME"] = self.runtime_dir
        env.pop("PULSE_SERVER", None)
        args = [
            "pulseaudio", "-n", "--daemonize=no", "--system=no", "--exit-idle-time=-1",
            "--use-pid-file=no", "--log-target=stderr",
            "-L", "module-null-sink sink_name=%s" % SINK,
            "-L", "module-native-protocol-unix socket=%s auth-anonymous=1" % self.socket_path,
        ]
        self._log = open(self.log_path, "w")
        self.process = subprocess.Popen(args, env=env, stdout=self._log, stderr=subprocess.STDOUT,
                                        stdin=subprocess.DEVNULL)
        if not _wait_for_socket(self.socket_path, timeout, self.process):
            self.stop()
            raise RuntimeError("pulseaudio did not start; see " + self.log_path)
        # The null sink is the default, so anything that plays is recorded.
        subprocess.run(["pactl", "set-default-sink", SINK], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=10)
        return self

    def stop(self):
        _stop(self.process)
        self.process = None
        if getattr(self, "_log", None):
            self._log.close()
            self._log = None

    def record(self, path):
        """A Recording of the null sink's monitor into path (raw s16le mono)."""
        return Recording(path, self.env)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        if self._own_dir:
            shutil.rmtree(self.runtime_dir, ignore_errors=True)


class Recording:
    """parec of the null sink's monitor, from start() to stop()."""

    def __init__(self, path, env):
        self.path = path
        self._env = env
        self.process = None

    def start(self):
        self._file = open(self.path, "wb")
        self.process = subprocess.Popen(
            ["parec", "-d", MONITOR, "--raw", "--format=s16le", "--channels=1",
             "--rate=%d" % RATE, "--latency-msec=10"],
            env=self._env, stdout=self._file, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        time.sleep(0.2)  # the stream is connected by then
        return self

    def stop(self):
        _stop(self.process)
        self.process = None
        self._file.close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def sox_stat(path, rate=RATE):
    """sox's stat of a raw s16le mono recording, as a dict of its figures."""
    result = subprocess.run(
        ["sox", "-t", "raw", "-r", str(rate), "-e", "signed", "-b", "16", "-c", "1", path,
         "-n", "stat"], capture_output=True, text=True, timeout=60)
    figures = {}
    for line in result.stderr.splitlines():
        m = re.match(r"^\s*([A-Za-z ()]+?):\s+(-?[0-9.]+)\s*$", line)
        if m:
            figures[" ".join(m.group(1).split())] = float(m.group(2))
    return figures


def rms(path, rate=RATE):
    """The recording's RMS amplitude (0..1); 0 for silence or no recording."""
    if not os.path.exists(path) or os.path.getsize(path) < 2:
        return 0.0
    return sox_stat(path, rate).get("RMS amplitude", 0.0)


class SpeechDaemon:
    """speech-dispatcher in the foreground, playing into a PulseServer.

    It listens at the default socket of the private runtime directory, where
    libspeechd finds it without further settings."""

    def __init__(self, pulse, config_dir=None, log_level=None):
        self.pulse = pulse
        self.config_dir = config_dir  # default: the system's configuration
        # 5 logs what the daemon hands its output module: voice and text.
        self.log_level = log_level
        self.socket_path = os.path.join(pulse.runtime_dir, "speech-dispatcher", "speechd.sock")
        self.log_dir = os.path.join(pulse.runtime_dir, "speechd-log")
        self.process = None

    @property
    def env(self):
        env = self.pulse.env
        env.pop("SPEECHD_ADDRESS", None)
        return env

    def start(self, timeout=20):
        os.makedirs(self.log_dir, exist_ok=True)
        env = self.env
        env["HOME"] = self.pulse.runtime_dir  # no user configuration
        self.process = subprocess.Popen(
            ["speech-dispatcher", "--run-single", "--timeout", "0", "--log-dir", self.log_dir,
             "--communication-method", "unix_socket", "--socket-path", self.socket_path]
            + (["--config-dir", self.config_dir] if self.config_dir else [])
            + (["--log-level", str(self.log_level)] if self.log_level is not None else []),
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            stdin=subprocess.DEVNULL)
        if not _wait_for_socket(self.socket_path, timeout, self.process):
            self.stop()
            raise RuntimeError("speech-dispatcher did not start; see " + self.log_dir)
        return self

    @property
    def log_path(self):
        return os.path.join(self.log_dir, "speech-dispatcher.log")

    @property
    def pid(self):
        return self.process.pid if self.process else None

    def stop(self):
        if self.process is not None:
            try:
                self.process.terminate()
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
            self.process = None
        # Its output modules, and any daemon a client started by itself.
        stop_speech_processes(self.pulse.runtime_dir)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def _speech_processes(runtime_dir):
    """speech-dispatcher daemons and output modules started for runtime_dir:
    they carry it as their XDG_RUNTIME_DIR."""
    marker = ("XDG_RUNTIME_DIR=" + runtime_dir).encode()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % entry) as f:
                name = f.read().strip()
            if not (name.startswith("speech-dispatch") or name.startswith("sd_")):
                continue
            with open("/proc/%s/environ" % entry, "rb") as f:
                if marker in f.read().split(b"\0"):
                    found.append(int(entry))
        except OSError:
            continue
    return found


def stop_speech_processes(runtime_dir, timeout=5):
    """Stops every speech-dispatcher process of runtime_dir: a daemon started
    here, one that libspeechd started by itself (autospawn), their modules."""
    pids = _speech_processes(runtime_dir)
    for pid in pids:
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        pids = [p for p in pids if _alive(p)]
        if not pids:
            return
        time.sleep(0.05)
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def _alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split(") ", 1)[1][0] != "Z"
    except (OSError, IndexError):
        return False
