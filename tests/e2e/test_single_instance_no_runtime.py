"""Without XDG_RUNTIME_DIR (a session started by hand, su), a second start
still only brings the running window forward: the lock falls back to a
private directory of the user's own under the temporary directory, made 0700,
and a directory there that anyone else could use is not trusted."""

import os
import stat
import subprocess
import time

from harness import MAIN_TITLE, Desktop, program_path, run_checks, wait_until


def body(checks):
    with Desktop() as desk:
        tmp = os.path.join(desk.tmp, "tmpdir")
        os.makedirs(tmp)
        env = dict(desk.env, TMPDIR=tmp)
        env.pop("XDG_RUNTIME_DIR", None)
        desk.program = desk._spawn("program", [program_path()], env=env)
        desk.wait_window(MAIN_TITLE)

        lock_dir = os.path.join(tmp, "zandrel-%d" % os.getuid())
        info = os.lstat(lock_dir) if os.path.exists(lock_dir) else None
        checks.check(info is not None and stat.S_ISDIR(info.st_mode)
                     and stat.S_IMODE(info.st_mode) == 0o700 and info.st_uid == os.getuid(),
                     "the lock directory is the user's own, mode 0700",
                     oct(info.st_mode) if info else "missing")

        t = time.monotonic()
        second = subprocess.run([program_path()], env=env, capture_output=True, timeout=20)
        took = time.monotonic() - t
        checks.equal(second.returncode, 0, "a second start exits 0")
        checks.check(took < 5, "a second start ends at once", "(%.2f s)" % took)
        time.sleep(1)
        checks.equal(len(desk.find_windows(MAIN_TITLE)), 1, "still one window")
        checks.check(desk.program.poll() is None, "the first program runs on")
        desk.program.terminate()
        checks.equal(desk.program.wait(20), 128 + 15, "the first ends on TERM")

        # A directory of that name that others may write to is not used.
        lax_tmp = os.path.join(desk.tmp, "laxtmp")
        lax = os.path.join(lax_tmp, "zandrel-%d" % os.getuid())
        os.makedirs(lax)
        os.chmod(lax, 0o777)
        env["TMPDIR"] = lax_tmp
        desk.program = desk._spawn("program", [program_path()], env=env)
        wait_until(lambda: desk.find_windows(MAIN_TITLE), 30, what="the window")
        checks.equal(os.listdir(lax), [], "no lock in a directory open to others")
        desk.program.terminate()
        desk.program.wait(20)


if __name__ == "__main__":
    run_checks(body)
