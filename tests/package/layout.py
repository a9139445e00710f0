"""What an installation of Zandrel holds, relative to its prefix, and the
checks both the cmake --install and the .deb tests make of it."""

import os
import re
import struct
import subprocess

APP_ID = "org.zandrel.Zandrel"
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)

FILES = {
    "bin/zandrel",
    "lib/zandrel/webext/zandrel-webext.so",
    "share/doc/zandrel/questions.tsv",
    "share/applications/%s.desktop" % APP_ID,
    "share/metainfo/%s.metainfo.xml" % APP_ID,
    "share/icons/hicolor/scalable/apps/%s.svg" % APP_ID,
    "share/man/man1/zandrel.1.gz",
    "share/doc/zandrel/copyright",
    "share/doc/zandrel/changelog.Debian.gz",
    "share/lintian/overrides/zandrel",
} | {"share/icons/hicolor/%dx%d/apps/%s.png" % (s, s, APP_ID) for s in ICON_SIZES}


def files_under(root):
    """Every file (not directory) below root, as paths relative to it."""
    found = set()
    for directory, _, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(directory, name), root))
    return found


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


def project_version(build):
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as f:
        return re.search(r"^CMAKE_PROJECT_VERSION:\w+=(.+)$", f.read(), re.M).group(1)


def check_installed(checks, prefix, build, source):
    """The installed files themselves: their kinds, the icon sizes, the
    menu entry and metainfo (validators and cross-references)."""
    checks.check(os.access(os.path.join(prefix, "bin/zandrel"), os.X_OK),
                 "bin/zandrel is executable")
    with open(os.path.join(prefix, "share/doc/zandrel/questions.tsv"), "rb") as f, \
            open(os.path.join(source, "site/questions.tsv"), "rb") as g:
        checks.check(f.read() == g.read(), "share/doc/zandrel/questions.tsv is the question bank")
    sizes = {s: png_size(os.path.join(prefix, "share/icons/hicolor/%dx%d/apps/%s.png"
                                      % (s, s, APP_ID))) for s in ICON_SIZES}
    checks.equal(sizes, {s: (s, s) for s in ICON_SIZES}, "each PNG icon has its folder's size")

    desktop = os.path.join(prefix, "share/applications/%s.desktop" % APP_ID)
    metainfo = os.path.join(prefix, "share/metainfo/%s.metainfo.xml" % APP_ID)
    for argv in (["desktop-file-validate", desktop],
                 ["appstreamcli", "validate", "--no-net", metainfo]):
        result = subprocess.run(argv, capture_output=True, text=True)
        checks.check(result.returncode == 0 and "error" not in result.stdout.lower(),
                     "%s accepts the file" % argv[0], (result.stdout + result.stderr).strip())
    with open(desktop, encoding="utf-8") as f:
        entry = f.read()
    checks.check(re.search(r"^Exec=zandrel$", entry, re.M) and
                 re.search(r"^Icon=%s$" % re.escape(APP_ID), entry, re.M),
                 "the menu entry starts the installed program with the installed icon")
    with open(metainfo, encoding="utf-8") as f:
        info = f.read()
    checks.check("<launchable type=\"desktop-id\">%s.desktop</launchable>" % APP_ID in info,
                 "the metainfo names the menu entry")
    release = re.search(r'<release version="([^"]+)"', info)
    checks.equal(release and release.group(1), project_version(build),
                 "the metainfo's newest release is the project's version")
