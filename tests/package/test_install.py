"""cmake --install into a staging directory under an unusual prefix: exactly
the program, its extension, the question bank, the menu entry, the metainfo
and the icons are installed, and the desktop validators accept them."""

import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from harness import build_dir, run_checks, source_dir  # noqa: E402
from layout import FILES, check_installed, files_under  # noqa: E402


def body(checks):
    with tempfile.TemporaryDirectory(prefix="zandrel-install-") as stage:
        env = dict(os.environ, DESTDIR=stage)
        result = subprocess.run(["cmake", "--install", build_dir(), "--prefix", "/opt/zandrel"],
                                env=env, capture_output=True, text=True)
        checks.check(result.returncode == 0, "cmake --install succeeds", result.stderr.strip())
        prefix = os.path.join(stage, "opt/zandrel")
        installed = files_under(stage)
        checks.equal(sorted(installed), sorted("opt/zandrel/" + f for f in FILES),
                     "the installed files")
        if FILES <= files_under(prefix):
            check_installed(checks, prefix, build_dir(), source_dir())


run_checks(body)
