"""The page object against the local exam site in the real engine: the
question DIV's inner HTML, read on the UI thread and on a reading thread,
follows the page's 下一题 button. Runs zandrel-site on free ports and the page
engine test program on its own Xvfb."""

import os
import re
import signal
import subprocess
import sys

BUILD = os.environ.get("ZANDREL_BUILD_DIR", ".")
SOURCE = os.environ.get("ZANDREL_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
SITE = os.path.join(BUILD, "site", "zandrel-site")
TESTS = os.path.join(BUILD, "tests", "platform", "gtk", "page_engine_tests")
RUNNER = os.path.join(SOURCE, "tests", "platform", "gtk", "page_xvfb_run.py")


def main():
    for path in (SITE, TESTS):
        if not os.path.exists(path):
            print("test_page_site: %s is not built" % path, file=sys.stderr)
            return 1
    site = subprocess.Popen([SITE, "--subject1", "127.0.0.1:0", "--subject4", "127.0.0.1:0"],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            start_new_session=True)
    try:
        ready = site.stdout.readline()
        addresses = re.findall(r"http://\S+/kaoshi/", ready)
        if len(addresses) != 2:
            print("test_page_site: the site did not start: %r" % ready, file=sys.stderr)
            return 1
        env = dict(os.environ, ZANDREL_PAGE_SITE_URLS=" ".join(addresses))
        result = subprocess.run(
            [sys.executable, RUNNER, TESTS, "--gtest_filter=*ExamSite*"], env=env,
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=240)
        print(result.stdout)
        if result.returncode != 0 or "[  PASSED  ] 1 test" not in result.stdout:
            return 1
        return 0
    finally:
        os.killpg(site.pid, signal.SIGTERM)
        site.wait()


if __name__ == "__main__":
    sys.exit(main())
