#!/usr/bin/env python3
"""zandrel-setup.exe under Wine: a silent per-user install (/S) puts the
program, its question bank, the uninstaller, a Start-menu shortcut and the
uninstall entry in place; the installed zandrel.exe, started alone, serves
its exam page to Linux. Installing again over the running program closes it
and replaces it; a Zandrel that does not close stops the installer and the
uninstaller (exit code 2) before they change anything. The silent uninstall,
with the program running, closes it and takes all of it away again.

Run by scripts/wine-run --xvfb --command (a private prefix and display).
ZANDREL_SETUP names the installer, ZANDREL_VERSION the expected version,
ZANDREL_PROGRAM_SERVES_SITE is "true" when the build serves its exam site,
ZANDREL_PROBE the Windows-side probe (its "stubborn" stand-in).
"""

import os
import re
import subprocess
import sys
import tempfile
import time
import urllib.request

SETUP = os.environ["ZANDREL_SETUP"]
PROBE = os.environ["ZANDREL_PROBE"]
VERSION = os.environ["ZANDREL_VERSION"]
KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zandrel"
EMULATION_KEY = (r"HKCU\Software\Microsoft\Internet Explorer\Main\FeatureControl"
                 r"\FEATURE_BROWSER_EMULATION")
SHORTCUT = "Zandrel 语音读题.lnk"
EXAM_PAGE = "http://127.0.0.1:47101/kaoshi/"
CAPTION = "Zandrel【PC语音读题版】含 科目一 科目四"
# Appended to the installed program to tell the old copy from a new one (a
# Windows program runs with bytes after its image).
OLD_MARK = b"\0zandrel-installer-test: the old copy"
# Whether the build serves the local exam site from the program itself; a
# build for an online site does not.
PROGRAM_SERVES_SITE = os.environ.get("ZANDREL_PROGRAM_SERVES_SITE") == "true"

# Wine would otherwise turn the shortcut into a menu entry in the user's home.
ENV = dict(os.environ,
           WINEDLLOVERRIDES=os.environ.get("WINEDLLOVERRIDES", "") + ";winemenubuilder.exe=d")
failures = []


def step(text):
    print(f"installer-windows: {text}", flush=True)


def check(condition, text):
    step(("ok: " if condition else "FAILED: ") + text)
    if not condition:
        failures.append(text)
    return condition


def wine(*args, timeout=120):
    return subprocess.run(["wine", *args], env=ENV, capture_output=True, timeout=timeout)


def wine_quiet(*args, timeout=120):
    """The exit code of a program whose children may outlive it (the
    uninstaller's copy of itself): their output must not hold our pipes."""
    return subprocess.run(["wine", *args], env=ENV, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          timeout=timeout).returncode


def folder(variable):
    """(Windows path, Unix path) of a folder that an environment variable names."""
    path = wine("cmd", "/c", "echo", f"%{variable}%").stdout.decode("ascii", "replace").strip()
    unix = subprocess.run(["winepath", "-u", path], env=ENV, capture_output=True, text=True,
                          check=True).stdout.strip()
    return path, unix


def uninstall_entry():
    """The uninstall key's values ({} when it is absent), from reg export."""
    with tempfile.TemporaryDirectory() as tmp:
        target = os.path.join(tmp, "entry.reg")
        windows_target = "Z:" + target.replace("/", "\\")
        if wine("reg", "export", KEY, windows_target, "/y").returncode != 0:
            return {}
        with open(target, "rb") as f:
            text = f.read().decode("utf-16").replace("\r\n", "\n")
    values = {}
    for name, value in re.findall(r'^"([^"]+)"=(.*)$', text, re.M):
        if value.startswith("dword:"):
            values[name] = int(value[6:], 16)
        else:
            values[name] = re.sub(r"\\(.)", r"\1", value[1:-1])  # "..." with \\ and \"
    return values


def document_mode_value():
    """Whether the program's FEATURE_BROWSER_EMULATION value exists."""
    return wine("reg", "query", EMULATION_KEY, "/v", "zandrel.exe").returncode == 0


def wait_until(predicate, timeout, interval=0.5):
    end = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > end:
            return False
        time.sleep(interval)
    return True


def exam_page():
    try:
        with urllib.request.urlopen(EXAM_PAGE, timeout=5) as r:
            return r.status, r.read().decode("utf-8", "replace")
    except OSError:
        return None, ""


def main_window_shown():
    found = subprocess.run(["xdotool", "search", "--name", "^Zandrel【PC"], capture_output=True,
                           text=True, env=ENV, timeout=20).stdout.split()
    return bool(found)


def start_program(path):
    app = subprocess.Popen(["wine", path], env=ENV, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    if not wait_until(main_window_shown, 60):
        app.kill()
        app.wait()
        return None
    return app


def mark_old(home):
    """The installed program and its entry as an older version left them."""
    with open(os.path.join(home, "zandrel.exe"), "ab") as f:
        f.write(OLD_MARK)
    wine("reg", "add", KEY, "/v", "DisplayVersion", "/d", "0.0.1", "/f")


def installed_version(home):
    """("old"|"new", DisplayVersion): what the folder and the entry hold."""
    try:
        with open(os.path.join(home, "zandrel.exe"), "rb") as f:
            program = "old" if f.read().endswith(OLD_MARK) else "new"
    except FileNotFoundError:
        program = "none"
    return program, uninstall_entry().get("DisplayVersion")


def ended(app, timeout=20):
    try:
        return app.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


def timed(*args):
    started = time.monotonic()
    code = wine_quiet(*args)
    return code, time.monotonic() - started


def over_running_programs(home, windows_home, shortcut):
    step("installing over the running program")
    mark_old(home)
    app = start_program(os.path.join(home, "zandrel.exe"))
    if not check(app is not None, "the installed program shows its window"):
        return
    code, took = timed(SETUP, "/S")
    check(code == 0, f"the installer ends with 0 (got {code}, after {took:.1f} s)")
    left = ended(app)
    check(left == 0, f"the running program was closed and ended with 0 (got {left})")
    state = installed_version(home)
    check(state == ("new", VERSION), f"the new program and its version are in place (got {state})")
    if app.poll() is None:
        app.kill()

    step("a Zandrel that does not close")
    mark_old(home)
    stubborn = subprocess.Popen(["wine", PROBE, "stubborn", "60"], env=ENV,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        check(b"found" in stubborn.stdout.readline(), "the stand-in shows its window")
        code, took = timed(SETUP, "/S")
        check(code == 2 and took < 30,
              f"the installer gives up with exit code 2 (got {code}, after {took:.1f} s)")
        state = installed_version(home)
        check(state == ("old", "0.0.1"), f"the old program and its entry stay (got {state})")
        # In its place (_?=), the uninstaller's exit code is its own; the
        # usual start hands the work to a copy of itself and ends at once.
        code, took = timed(os.path.join(home, "uninstall.exe"), "/S", f"_?={windows_home}")
        check(code == 2, f"the uninstaller gives up with exit code 2 (got {code}, after {took:.1f} s)")
        present = sorted(os.listdir(home))
        check(present == sorted(("zandrel.exe", "uninstall.exe"))
              and os.path.isfile(shortcut) and installed_version(home) == ("old", "0.0.1"),
              f"everything stays in place (folder {present}, shortcut {os.path.isfile(shortcut)}, "
              f"{installed_version(home)})")
    finally:
        stubborn.kill()
        stubborn.wait()
        wine("taskkill", "/f", "/im", os.path.basename(PROBE), timeout=30)


def main():
    if not os.path.exists(SETUP):
        step(f"FAILED: {SETUP} is missing; run scripts/build-windows")
        return 1
    local_windows, local = folder("LOCALAPPDATA")
    menu = os.path.join(folder("APPDATA")[1], "Microsoft", "Windows", "Start Menu", "Programs")
    home = os.path.join(local, "Programs", "Zandrel")
    windows_home = local_windows + "\\Programs\\Zandrel"
    shortcut = os.path.join(menu, SHORTCUT)
    files = ("zandrel.exe", "uninstall.exe")

    step("silent install")
    code = wine_quiet(SETUP, "/S")
    check(code == 0, f"the installer ends with 0 (got {code})")
    present = sorted(os.listdir(home)) if os.path.isdir(home) else []
    check(present == sorted(files), f"the install folder holds {sorted(files)} (got {present})")
    check(os.path.isfile(shortcut), "the Start-menu shortcut exists")
    entry = uninstall_entry()
    expected = {
        "DisplayName": "Zandrel【PC语音读题版】含 科目一 科目四",
        "DisplayVersion": VERSION,
        "Publisher": "Zandrel developers",
        "InstallLocation": windows_home,
        "DisplayIcon": f"{windows_home}\\zandrel.exe,0",
        "UninstallString": f'"{windows_home}\\uninstall.exe"',
        "QuietUninstallString": f'"{windows_home}\\uninstall.exe" /S',
        "NoModify": 1,
        "NoRepair": 1,
    }
    got = {k: entry.get(k) for k in expected}
    check(got == expected, f"the uninstall entry (got {got}, expected {expected})")

    if PROGRAM_SERVES_SITE:
        step("starting the installed zandrel.exe alone")
        check(exam_page()[0] is None, "nothing serves the exam page before the program starts")
        app = subprocess.Popen(["wine", os.path.join(home, "zandrel.exe")], env=ENV,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            served = wait_until(lambda: exam_page()[0] == 200, 60)
            status, page = exam_page()
            check(served and "var questions = [" in page, f"GET {EXAM_PAGE} from Linux answers the exam page "
                  f"from the installed program (status {status})")
        finally:
            app.kill()
            app.wait()
            wine("taskkill", "/f", "/im", "zandrel.exe", timeout=30)
        check(wait_until(lambda: exam_page()[0] is None, 20),
              "the exam page goes away with the program")
        check(document_mode_value(), "the program wrote its document-mode value")
    else:
        step("skipped: this build of zandrel.exe does not serve an exam page of its own")

    over_running_programs(home, windows_home, shortcut)

    step("silent uninstall while the program runs")
    app = start_program(os.path.join(home, "zandrel.exe"))
    check(app is not None, "the installed program shows its window")
    # The uninstaller copies itself away and returns at once; the copy works on.
    code = wine_quiet(os.path.join(home, "uninstall.exe"), "/S")
    check(code == 0, f"the uninstaller starts (got {code})")
    if app is not None:
        left = ended(app, 60)
        check(left == 0, f"the running program was closed and ended with 0 (got {left})")
    gone = wait_until(lambda: not os.path.exists(home) and not os.path.exists(shortcut)
                      and not uninstall_entry(), 60, interval=1)
    check(gone, "the folder, the shortcut and the uninstall entry are gone "
          f"(folder {os.path.exists(home)}, shortcut {os.path.exists(shortcut)}, "
          f"entry {bool(uninstall_entry())})")
    check(not document_mode_value(), "the uninstaller removes the program's document-mode value")

    step("all checks passed" if not failures else f"FAILED: {len(failures)} check(s)")
    return 1 if failures else 0


sys.exit(main())
