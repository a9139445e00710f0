"""Runs a command on a private desktop (Xvfb + D-Bus + openbox) and exits with
its exit status: window_layer_desktop.py PROGRAM [ARGS...]

The window layer's tests measure the window manager's frame, so they need a
real window manager, not just an X server.
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "e2e"))
import harness  # noqa: E402


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    with harness.Desktop(accessibility=False) as desktop:
        process = subprocess.Popen(sys.argv[1:], env=desktop.env, start_new_session=True)
        try:
            return process.wait(timeout=float(os.environ.get("ZANDREL_TEST_TIMEOUT", "280")))
        except subprocess.TimeoutExpired:
            print("window_layer_desktop: %s timed out" % sys.argv[1], file=sys.stderr)
            desktop._stop(process)
            return 1


if __name__ == "__main__":
    sys.exit(main())
