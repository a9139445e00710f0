"""The exam site inside the program, and what the user sees when a page
cannot be reached.

1. Started alone, the program serves both exam hosts itself: the exam page
   shows, a client that drops its connections does not end the program, and
   the closed window ends it with code 0 and frees both ports.
2. With zandrel-site already running on both ports, the program serves its
   own site on other ports and shows that; zandrel-site is never asked.
3. A port held by something that is not the site (it answers one line of
   garbage and hangs up): the program shows its own Subject 1 exam from
   another port, and still does once a web server answers on the default
   port (no page of a server it did not start is ever shown).
4. A teacher's question bank with a fault beside the program: the cut-out
   names the file, the line and the fault, not the network.
5. A failed load of the Subject 4 score address shows the message and is no
   navigation to the score page: the browser keeps its height."""

import os
import re
import shutil
import socket
import threading
import time
import urllib.request

from fixture_site import DROP, HEIGHT_REPORTER, FixtureSite
from harness import (MAIN_TITLE, SUBJECT1_HOST, SUBJECT4_HOST, Desktop, HarnessError,
                     run_checks, wait_until)
from harness import program_path as desk_program_path
from harness import source_dir as desk_source_dir

MESSAGE_TITLE = "无法打开考试页面"
MESSAGE_HINT = "请检查网络或考试网站，然后在“菜单”中选择“科目一全真模拟考试”或“科目四全真模拟考试”重试。"
SITE_FAILED = "本机考试网站无法启动："
SPOOF_MARK = "冒充的题目"
CUT_OUT = (960, 588)


def address(host):
    name, port = host.rsplit(":", 1)
    return name, int(port)


def status(host, path="/kaoshi/"):
    """The HTTP status of a GET, or None when nothing answers."""
    try:
        with urllib.request.urlopen("http://%s%s" % (host, path), timeout=5) as r:
            return r.status
    except OSError:
        return None


def port_open(host):
    try:
        with socket.create_connection(address(host), timeout=1):
            return True
    except OSError:
        return False


class GarbageListener:
    """Accepts connections on host, writes a line that is not HTTP, hangs up."""

    def __init__(self, host):
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(address(host))
        self.sock.listen(8)
        self.thread = threading.Thread(target=self._serve, daemon=True)

    def _serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            with conn:
                conn.sendall(b"garbage\r\n")

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.sock.shutdown(socket.SHUT_RDWR)
        self.sock.close()
        self.thread.join(5)


def page(title, body=""):
    return ("<!doctype html><html><head><meta charset='utf-8'><title>%s</title></head>"
            "<body><p>%s</p>%s%s</body></html>" % (title, title, body, HEIGHT_REPORTER))


def find_text(desk, frame, text):
    """The innermost accessible of the window whose text contains `text`, or
    None (the page's document is named after its title, its heading is inside)."""
    found = []

    def walk(node, depth):
        if node is None or depth > 60:
            return
        try:
            value = desk.text_of(node)
        except Exception:
            # A node of a web process that has just been replaced (WebKit may
            # swap processes on a navigation): the next walk sees the new one.
            return
        if value and text in value:
            found.append(node)
        try:
            children = list(node)
        except Exception:
            return
        for child in children:
            walk(child, depth + 1)

    walk(frame, 0)
    return found[-1] if found else None


def wait_text(desk, frame, text, timeout=30):
    return wait_until(lambda: find_text(desk, frame, text), timeout, interval=0.5,
                      what="the text %r in the window" % text)


def check_message_in_cut_out(checks, desk, wid, frame, failed_address):
    try:
        title = wait_text(desk, frame, MESSAGE_TITLE)
    except HarnessError as error:
        checks.check(False, "the message shows for %s" % failed_address, str(error))
        return
    hint = find_text(desk, frame, MESSAGE_HINT)
    checks.check(hint is not None, "the message says how to try again")
    checks.check(find_text(desk, frame, failed_address) is not None,
                 "the message names the address", failed_address)
    ax, ay, _, _ = desk.client_area(wid, frame)
    for what, node in (("title", title), ("hint", hint)):
        if node is None:
            continue
        x, y, w, h = desk.extents(node)
        inside = (ax <= x and x + w <= ax + CUT_OUT[0] and ay <= y and
                  y + h <= ay + CUT_OUT[1] - 68 and w > 0 and h > 0)
        checks.check(inside, "the message's %s lies in the cut-out's visible part" % what,
                     "(%d,%d %dx%d; cut-out at %d,%d)" % (x, y, w, h, ax, ay))


def end_program(desk, wid):
    desk.request_close(wid)
    return desk.program_exit(20)


def own_host(desk, subject):
    """The host the program says it serves `subject` on instead of the default."""
    found = re.findall(r"; serving %s on (\S+)" % subject, desk.program_log())
    return found[-1] if found else None


def alone(checks, desk):
    for host in (SUBJECT1_HOST, SUBJECT4_HOST):
        if port_open(host):
            raise HarnessError("%s is in use before the test" % host)
    program = desk.start_program(own_site=True)
    wid = desk.wait_window(MAIN_TITLE)
    frame = desk.accessible_frame(MAIN_TITLE)
    checks.equal((status(SUBJECT1_HOST), status(SUBJECT4_HOST)), (200, 200),
                 "alone: the program serves both exam hosts")
    try:
        wait_text(desk, frame, "本地模拟考场")
        shown = True
    except HarnessError:
        shown = False
    checks.check(shown and find_text(desk, frame, MESSAGE_TITLE) is None,
                 "alone: the Subject 1 exam page shows in the window")

    # Clients that hang up before the answer is written (a browser moving
    # on) end that answer, not the program.
    for _ in range(20):
        with socket.create_connection(address(SUBJECT1_HOST)) as s:
            s.sendall(b"GET /kaoshi/ HTTP/1.1\r\nHost: x\r\n\r\n")
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\0\0\0\0\0\0\0")
    time.sleep(0.5)
    checks.check(program.poll() is None and status(SUBJECT1_HOST) == 200,
                 "alone: dropped connections leave the program and its site running")

    closed = time.monotonic()
    checks.equal(end_program(desk, wid), 0, "alone: the close box ends it with code 0")
    took = time.monotonic() - closed
    # Stopping the site waits for the browser's idle connections to time out.
    checks.check(took < 5, "alone: it ends within 5 s of the close box", "(%.2f s)" % took)
    checks.check(not port_open(SUBJECT1_HOST) and not port_open(SUBJECT4_HOST),
                 "alone: the ports are free once the program has ended")


def marked_question_bank(desk):
    """The site's question bank with every question's text marked, so that
    its pages can be told from the program's own."""
    source = os.path.join(desk_source_dir(), "site", "questions.tsv")
    marked = os.path.join(desk.tmp, "marked-questions.tsv")
    with open(source, encoding="utf-8") as f, open(marked, "w", encoding="utf-8") as out:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if not line.startswith("#") and len(fields) >= 6:
                fields[3] = SPOOF_MARK + fields[3]
            out.write("\t".join(fields) + "\n")
    return marked


def beside_site(checks, desk):
    desk.start_site(args=["--questions=" + marked_question_bank(desk)])
    desk.start_program(own_site=True)
    wid = desk.wait_window(MAIN_TITLE)
    frame = desk.accessible_frame(MAIN_TITLE)
    hosts = wait_until(lambda: own_host(desk, "科目一") and own_host(desk, "科目四") and
                       (own_host(desk, "科目一"), own_host(desk, "科目四")), 20,
                       what="the program's own ports in its log")
    checks.check(hosts[0] != SUBJECT1_HOST and hosts[1] != SUBJECT4_HOST and
                 hosts[0].startswith("127.0.0.1:"),
                 "with zandrel-site: the program serves on loopback ports of its own", str(hosts))
    checks.equal((status(hosts[0]), status(hosts[1])), (200, 200),
                 "with zandrel-site: both of the program's own hosts answer")
    for menu in ("科目一全真模拟考试", "科目四全真模拟考试", "重新考试"):
        if menu != "科目一全真模拟考试":
            desk.activate_menu(frame, "菜单", menu)
            time.sleep(1)
        try:
            wait_text(desk, frame, "本地模拟考场")
            shown = True
        except HarnessError:
            shown = False
        checks.check(shown and find_text(desk, frame, SPOOF_MARK) is None,
                     "with zandrel-site: %s shows the program's own exam page" % menu)
    site = [p for name, p in desk.processes if name == "site"][0]
    desk._stop(site)
    checks.equal(end_program(desk, wid), 0, "with zandrel-site: the program ends with code 0")
    checks.check(not port_open(hosts[0]) and not port_open(hosts[1]),
                 "with zandrel-site: its own ports are free once it has ended")


def not_a_site(checks, desk):
    with GarbageListener(SUBJECT1_HOST):
        desk.start_program(own_site=True)
        wid = desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)
        try:
            wait_text(desk, frame, "本地模拟考场")
            shown = True
        except HarnessError:
            shown = False
        checks.check(shown and find_text(desk, frame, MESSAGE_TITLE) is None,
                     "not a site: the program's own Subject 1 exam shows from another port",
                     str(own_host(desk, "科目一")))
        checks.equal(status(SUBJECT4_HOST), 200,
                     "not a site: the free Subject 4 host is served by the program")
    # A web server on the default port now: choosing the exam again still
    # shows the program's own page, never the other server's.
    with FixtureSite(SUBJECT1_HOST, {"/kaoshi/": page("s1-spoofed")}) as spoof:
        desk.activate_menu(frame, "菜单", "科目一全真模拟考试")
        time.sleep(3)
        checks.check(find_text(desk, frame, "s1-spoofed") is None and
                     not spoof.requested("/kaoshi/") and
                     find_text(desk, frame, "本地模拟考场") is not None,
                     "not a site: a server started later on the default port is never shown")
        end_program(desk, wid)


def faulty_question_bank(checks, desk):
    # A teacher's bank beside the program replaces the built-in one; one with
    # a fault is not served in part: the cut-out names the file, the line and
    # the fault, not the network.
    folder = os.path.join(desk.tmp, "teacher", "bin")
    os.makedirs(folder)
    program = os.path.join(folder, "zandrel")
    shutil.copy2(desk_program_path(), program)
    with open(os.path.join(folder, "questions.tsv"), "w", encoding="utf-8") as f:
        f.write("k1-001\t科目一\t判断\t题\t\t对\t\t解析\n"
                "k1-002\t科目一\t单选\t题\t甲|乙\tC\t\t解析\n")
    desk.start_program(path=program, own_site=True)
    wid = desk.wait_window(MAIN_TITLE)
    frame = desk.accessible_frame(MAIN_TITLE)
    try:
        reason = wait_text(desk, frame, "题库文件有误")
    except HarnessError:
        reason = None
    said = desk.text_of(reason) if reason is not None else ""
    checks.check("questions.tsv:2:" in said and find_text(desk, frame, MESSAGE_HINT) is None,
                 "a faulty bank: the cut-out names the file, the line and the fault", repr(said))
    end_program(desk, wid)


def failed_score_page(checks, desk):
    hop = "<script>setTimeout(function(){location.href='/score/';}, 800);</script>"
    with FixtureSite(SUBJECT1_HOST, {"/kaoshi/": page("s1-exam")}) as s1, \
            FixtureSite(SUBJECT4_HOST, {"/kaoshi/": page("s4-exam", hop), "/score/": DROP}) as s4:
        desk.start_program()
        wid = desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)
        wait_until(lambda: s1.heights(), 20, what="the Subject 1 page")
        desk.activate_menu(frame, "菜单", "科目四全真模拟考试")
        wait_until(lambda: s4.requested("/score/"), 20, what="the score page's request")
        check_message_in_cut_out(checks, desk, wid, frame, "http://%s/score/" % SUBJECT4_HOST)
        t = time.monotonic()
        desk.activate_menu(frame, "菜单", "科目一全真模拟考试")
        wait_until(lambda: s1.heights(t), 20, what="the Subject 1 page again")
        checks.equal(s1.heights(t)[-1][0], 2800,
                     "failed score page: the browser keeps its height (no score-page rule)")


def body(checks):
    # One desktop: its accessibility bus is the one this process connects to.
    with Desktop() as desk:
        for scenario in (alone, beside_site, not_a_site, faulty_question_bank, failed_score_page):
            scenario(checks, desk)


if __name__ == "__main__":
    run_checks(body)
