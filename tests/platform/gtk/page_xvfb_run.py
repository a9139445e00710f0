"""Runs a command on a private X server and exits with its exit status:
page_xvfb_run.py PROGRAM [ARGS...]

The page tests need a display for GTK and WebKit but no window manager; each
run gets an Xvfb of its own, on a display number the server picks itself.
"""

import os
import signal
import subprocess
import sys


def start_xvfb():
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        display = pipe.readline().strip()
    if not display:
        server.kill()
        server.wait()
        raise RuntimeError("Xvfb did not start")
    return server, ":" + display


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    server, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display, NO_AT_BRIDGE="1", GDK_BACKEND="x11")
    env.pop("WAYLAND_DISPLAY", None)
    program = subprocess.Popen(sys.argv[1:], env=env, start_new_session=True)
    try:
        return program.wait(timeout=float(os.environ.get("ZANDREL_TEST_TIMEOUT", "280")))
    except subprocess.TimeoutExpired:
        print("page_xvfb_run: %s timed out" % sys.argv[1], file=sys.stderr)
        return 1
    finally:
        if program.poll() is None:
            os.killpg(program.pid, signal.SIGKILL)
            program.wait()
        server.terminate()
        server.wait()


if __name__ == "__main__":
    sys.exit(main())
