"""The .deb that cpack makes: its control fields and dependencies (a Chinese
font among them), exactly the installed files, lintian's verdict (no error,
no warning), and the program unpacked from it run on a private desktop,
where it shows the exam page and F1 reads question 1 (which needs the
extension found at its installed place)."""

import glob
import os
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
from exam_page import read_aloud, same_words, wait_question  # noqa: E402
from harness import MAIN_TITLE, Desktop, build_dir, run_checks  # noqa: E402
from layout import FILES, project_version  # noqa: E402
from speech_recorder import SpeechRecorder  # noqa: E402
from xtest_keys import XTestKeys  # noqa: E402

# A build for the local exam site serves it from the program itself (the
# build says so); otherwise the build's zandrel-site stands in.
PROGRAM_SERVES_SITE = os.environ.get("ZANDREL_PROGRAM_SERVES_SITE") == "true"

LIBRARIES = ("libgtk-3-0", "libwebkit2gtk-4.1-0", "libspeechd2", "libx11-6", "libc6")
SPEECH = ("speech-dispatcher", "speech-dispatcher-espeak-ng", "espeak-ng")
# Without one of these the menus and the page are empty boxes.
CJK_FONTS = {"fonts-noto-cjk", "fonts-wqy-microhei", "fonts-wqy-zenhei"}


def package_version(build):
    """The version the package's own changelog gives (upstream-revision)."""
    with open(os.path.join(build, "doc", "changelog.Debian"), encoding="utf-8") as f:
        return re.match(r"zandrel \(([^)]+)\)", f.readline()).group(1)


def lintian_findings(deb):
    """lintian's errors and warnings ("E: ..." and "W: ..." lines)."""
    result = subprocess.run(["lintian", "--tag-display-limit", "0", deb], capture_output=True,
                            text=True)
    return [line for line in result.stdout.splitlines() if line[:2] in ("E:", "W:")]


def control_fields(deb):
    info = subprocess.run(["dpkg-deb", "--info", deb], capture_output=True, text=True,
                          check=True).stdout
    return dict(re.findall(r"^ ([A-Z][\w-]+): (.*)$", info, re.M))


def packaged_files(deb):
    """Regular files of the package, relative to /usr."""
    listing = subprocess.run(["dpkg-deb", "--contents", deb], capture_output=True, text=True,
                             check=True).stdout
    files = {}
    for line in listing.splitlines():
        mode, owner, _, _, _, path = line.split(None, 5)
        if mode.startswith("-"):
            files[path] = owner
    return files


def run_unpacked(checks, program):
    with Desktop() as desk, SpeechRecorder(desk) as voice:
        if not PROGRAM_SERVES_SITE:
            print("the program does not serve the exam site itself: starting zandrel-site")
            desk.start_site()
        desk.start_program(path=program, extra_env=voice.env, own_site=PROGRAM_SERVES_SITE)
        desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)
        try:
            shown = wait_question(desk, frame, r"^第1题", timeout=30)
        except Exception:
            shown = []
        checks.check(bool(shown), "the unpacked program shows the exam page with question 1")
        keys = XTestKeys(desk.display)
        try:
            said = read_aloud(desk, voice, keys, timeout=15)
        except Exception:
            said = ""
        finally:
            keys.close()
        checks.check(bool(shown) and same_words(said, shown), "F1 reads question 1", repr(said))
        time.sleep(1)
        checks.check(desk.program.poll() is None, "the program keeps running")


def body(checks):
    build = build_dir()
    with tempfile.TemporaryDirectory(prefix="zandrel-deb-") as tmp:
        started = time.monotonic()
        result = subprocess.run(["cpack", "-G", "DEB", "-B", tmp], cwd=build,
                                capture_output=True, text=True)
        debs = glob.glob(os.path.join(tmp, "*.deb"))
        if not checks.check(result.returncode == 0 and len(debs) == 1, "cpack -G DEB makes a .deb",
                            (result.stdout + result.stderr)[-2000:]):
            return
        deb = debs[0]
        print("built %s in %.0f s" % (os.path.basename(deb), time.monotonic() - started))

        fields = control_fields(deb)
        checks.equal((fields.get("Package"), fields.get("Version"), fields.get("Architecture")),
                     ("zandrel", package_version(build), "amd64"), "package, version, architecture")
        checks.check(package_version(build).startswith(project_version(build) + "-"),
                     "the package's version is the project's with a revision",
                     package_version(build))
        checks.check(re.match(r".+ <[^@ ]+@[^> ]+>$", fields.get("Maintainer", "")),
                     "a maintainer with an address", fields.get("Maintainer"))
        depends = {re.split(r"[ (]", d.strip())[0]
                   for d in fields.get("Depends", "").split(",")}
        missing = sorted(set(LIBRARIES + SPEECH) - depends)
        checks.check(not missing, "the libraries and the speech stack are dependencies",
                     "(missing %s from %r)" % (missing, fields.get("Depends")))
        alternatives = [{a.strip().split(" ")[0] for a in d.split("|")}
                        for d in fields.get("Depends", "").split(",")]
        checks.check(CJK_FONTS in alternatives, "one of the Chinese fonts is a dependency",
                     fields.get("Depends"))
        findings = lintian_findings(deb)
        checks.check(not findings, "lintian finds no error and no warning", "\n".join(findings))

        files = packaged_files(deb)
        checks.equal(sorted(files), sorted("./usr/" + f for f in FILES), "the packaged files")
        checks.check(all(owner == "root/root" for owner in files.values()),
                     "every file belongs to root")

        root = os.path.join(tmp, "root")
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        if os.path.exists(os.path.join(root, "usr/bin/zandrel")):
            run_unpacked(checks, os.path.join(root, "usr/bin/zandrel"))


run_checks(body)
