#!/usr/bin/env python3
"""zandrel-site.exe, the Windows build of the exam site, under Wine, fetched
from Linux like a browser would.

    site_windows.py RUNNER... SITE_EXE

RUNNER is the command that runs a Windows program (the build's wine-run with
its --root). The site listens on two free ports; the test checks the exam
pages of both hosts, a 404, the hand-in's redirect, malformed requests, that
serving goes on after them and beside quiet half-sent requests, one log line
per request, and a clean and prompt stop on
Ctrl+C (SIGINT, which Wine hands to the console's Ctrl+C handler).
"""

import http.client
import queue
import re
import signal
import socket
import subprocess
import sys
import threading
import time
from html.parser import HTMLParser

# Quiet clients that began a request head; the bounds under Wine for an
# answer beside them and for stopping with them open.
QUIET_CLIENTS = 100
ANSWER_SECONDS = 1.0
STOP_SECONDS = 2.0

RUNNER = sys.argv[1:-1]
EXE = sys.argv[-1]
LOG_LINE = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d (\S+) (\S+) (\S+) (\d{3})$")


def step(text):
    print(f"site-windows: {text}", flush=True)


class Failed(Exception):
    pass


def check(condition, text):
    if not condition:
        raise Failed(text)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class TitleDivs(HTMLParser):
    """The DIVs the program's reader would match: className, id, name or title
    exactly "title" (or the text exactly "title"), with their inner HTML."""

    def __init__(self, page):
        super().__init__(convert_charrefs=False)
        self.page = page
        self.stack = []
        self.matches = []
        self.feed(page)

    def position(self):
        line, column = self.getpos()
        lines = self.page.split("\n")
        return sum(len(l) + 1 for l in lines[: line - 1]) + column

    def handle_starttag(self, tag, attrs):
        if tag != "div":
            return
        values = dict(attrs)
        match = any(values.get(k) == "title" for k in ("class", "id", "name", "title"))
        start = self.position() + len(self.get_starttag_text())
        self.stack.append((start, match))

    def handle_endtag(self, tag):
        if tag != "div" or not self.stack:
            return
        start, match = self.stack.pop()
        inner = self.page[start : self.position()]
        if match or inner == "title":
            self.matches.append((start, inner))

    def inner_html(self):
        return [inner for _, inner in sorted(self.matches)]


class Site:
    def __init__(self, ports):
        self.ports = ports
        args = [*RUNNER, EXE]
        args += ["--subject1", f"127.0.0.1:{ports[0]}", "--subject4", f"127.0.0.1:{ports[1]}"]
        self.process = subprocess.Popen(
            args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL
        )
        self.lines = queue.Queue()
        self.errors = []
        threading.Thread(target=self._read, args=(self.process.stdout, self.lines), daemon=True).start()
        threading.Thread(target=self._collect, daemon=True).start()

    @staticmethod
    def _read(stream, into):
        for raw in stream:
            into.put(raw.decode("utf-8", "replace").rstrip("\r\n"))
        into.put(None)

    def _collect(self):
        for raw in self.process.stderr:
            self.errors.append(raw.decode("utf-8", "replace").rstrip())

    def next_line(self, timeout):
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            return None
        if line is None:
            raise Failed(f"zandrel-site.exe ended (exit {self.process.poll()}): {self.errors[-5:]}")
        return line

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def request(port, method, path, body=None, headers=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=20)
    try:
        connection.request(method, path, body=body, headers=headers or {})
        response = connection.getresponse()
        return response.status, dict(response.getheaders()), response.read()
    finally:
        connection.close()


def raw_exchange(port, data):
    """Sends raw bytes and returns what comes back until the server closes.
    The sending side stays open while reading, as a browser's does."""
    with socket.create_connection(("127.0.0.1", port), timeout=20) as s:
        try:
            s.sendall(data)
        except OSError:
            pass  # refused part-way; the answer may still be there
        reply = b""
        while True:
            try:
                chunk = s.recv(65536)
            except OSError:
                break
            if not chunk:
                break
            reply += chunk
        return reply


def status_line(reply):
    return reply.split(b"\r\n", 1)[0].decode("latin-1")


def run(site):
    s1, s4 = site.ports
    addresses = {s1: f"127.0.0.1:{s1}", s4: f"127.0.0.1:{s4}"}
    expected = []  # (address, method, path, status) per request, in order

    ready = None
    deadline = time.monotonic() + 90
    while ready is None and time.monotonic() < deadline:
        line = site.next_line(timeout=1)
        if line is not None:
            ready = line
    check(ready is not None, f"no ready line within 90 s; stderr: {site.errors[-5:]}")
    check(
        ready
        == f"zandrel-site: ready: subject1 http://127.0.0.1:{s1}/kaoshi/ "
        f"subject4 http://127.0.0.1:{s4}/kaoshi/",
        f"unexpected first line: {ready!r}",
    )
    step("ready")

    pages = {}
    for port, subject in ((s1, "科目一"), (s4, "科目四")):
        status, headers, body = request(port, "GET", "/kaoshi/")
        expected.append((addresses[port], "GET", "/kaoshi/", 200))
        check(status == 200, f"{subject} /kaoshi/ answered {status}")
        check(headers.get("Content-Type") == "text/html; charset=utf-8", f"type {headers}")
        check(headers.get("Cache-Control") == "no-store", f"a reload must reach the site: {headers}")
        page = body.decode("utf-8")
        titles = TitleDivs(page).inner_html()
        check(len(titles) == 2, f"{subject}: {len(titles)} title DIVs, expected 2")
        check(titles[0] == f"{subject} 全真模拟考试", f"{subject} header DIV: {titles[0]!r}")
        check(titles[1].startswith('<p class="stem"><b>第1题</b>'),
              f"{subject} question DIV: {titles[1]!r}")
        pages[port] = page
    step("both exam pages carry their header and question DIVs")

    status, headers, body = request(s4, "HEAD", "/kaoshi/")
    expected.append((addresses[s4], "HEAD", "/kaoshi/", 200))
    check(status == 200 and body == b"", f"HEAD answered {status} with {len(body)} bytes")
    # Each exam page is a sitting with a draw of its own: a page of about that size.
    length = int(headers.get("Content-Length", "0"))
    check(abs(length - len(pages[s4].encode())) < len(pages[s4].encode()) // 2,
          f"HEAD length {headers}")

    status, _, body = request(s1, "GET", "/nope")
    expected.append((addresses[s1], "GET", "/nope", 404))
    check(status == 404 and "页面不存在" in body.decode("utf-8"), f"/nope answered {status}")
    status, headers, _ = request(s1, "GET", "/kaoshi")
    expected.append((addresses[s1], "GET", "/kaoshi", 301))
    check(status == 301 and headers.get("Location") == "/kaoshi/", f"/kaoshi: {status} {headers}")
    images = re.findall(r'src=\\?"(/img/[a-z0-9-]+\.svg)', pages[s1] + pages[s4])
    check(images, "no picture in either exam")
    status, headers, body = request(s1, "GET", images[0])
    expected.append((addresses[s1], "GET", images[0], 200))
    check(status == 200 and body.startswith(b"<svg"), f"{images[0]} answered {status}")
    step("404, redirect, HEAD and picture answered")

    # Hand in every question of the Subject 4 page's sitting with "A".
    fields = sorted(set(re.findall(r'\{id: "(k4-\d+)"', pages[s4])))
    check(fields, "the Subject 4 page has no questions")
    sitting = re.search(r'var sitting = "([0-9a-f]+)"', pages[s4])
    check(sitting, "the Subject 4 page names no sitting")
    form = f"sitting={sitting.group(1)}&" + "&".join(f"{field}=A" for field in fields)
    status, headers, _ = request(
        s4, "POST", "/score/", body=form,
        headers={"Content-Type": "application/x-www-form-urlencoded"},
    )
    expected.append((addresses[s4], "POST", "/score/", 303))
    check(status == 303, f"hand-in answered {status}")
    check(headers.get("Location") == "/score/", f"hand-in leads to {headers.get('Location')!r}")
    cookie = headers.get("Set-Cookie", "").split(";")[0]
    check(cookie.startswith("zandrel-k4="), f"hand-in cookie {cookie!r}")
    status, _, body = request(s4, "GET", "/score/", headers={"Cookie": cookie})
    expected.append((addresses[s4], "GET", "/score/", 200))
    score = body.decode("utf-8")
    check(status == 200 and "本次考试得分" in score, f"score page: {status}")
    step("hand-in: 303 to /score/, and the score page shows the result")

    reply = raw_exchange(s1, b"GARBAGE \x00\x01\xff\r\n\r\n")
    expected.append((addresses[s1], "-", "-", 400))
    check(status_line(reply) == "HTTP/1.1 400 Bad Request", f"garbage: {status_line(reply)!r}")
    reply = raw_exchange(
        s1, b"GET /kaoshi/ HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * (100 * 1024) + b"\r\n\r\n"
    )
    expected.append((addresses[s1], "GET", "/kaoshi/", 400))
    check(status_line(reply) == "HTTP/1.1 400 Bad Request", f"long header: {status_line(reply)!r}")
    many = b"GET /kaoshi/ HTTP/1.1\r\n" + b"".join(b"X-H%d: v\r\n" % i for i in range(5000))
    reply = raw_exchange(s4, many + b"\r\n")
    expected.append((addresses[s4], "GET", "/kaoshi/", 431))
    check(status_line(reply) == "HTTP/1.1 431 Request Header Fields Too Large",
          f"many headers: {status_line(reply)!r}")
    reply = raw_exchange(s4, b"POST /score/ HTTP/1.1\r\nHost: x\r\n\r\n")
    expected.append((addresses[s4], "POST", "/score/", 411))
    check(status_line(reply) == "HTTP/1.1 411 Length Required", f"no length: {status_line(reply)!r}")
    # Bytes of another protocol, then gone: no answer and no log line.
    with socket.create_connection(("127.0.0.1", s1), timeout=20) as s:
        s.sendall(b"\x16\x03\x01\x00\xff\x00\x00\x00binary")
    for port in (s1, s4):
        status, _, _ = request(port, "GET", "/kaoshi/")
        expected.append((addresses[port], "GET", "/kaoshi/", 200))
        check(status == 200, f"after the bad requests /kaoshi/ answered {status}")
    step("malformed requests answered with 400/431/411; both hosts still serve")

    # Clients that began a request head and went quiet hold nobody up, and
    # stopping does not wait for them.
    quiet = []
    try:
        for i in range(QUIET_CLIENTS):
            quiet.append(socket.create_connection(("127.0.0.1", (s1, s4)[i % 2]), timeout=20))
            quiet[-1].sendall(b"GET /kaoshi/ HTTP/1.1\r\nHost: x\r\n")
        # The first answers wait until the quiet clients are accepted (under
        # Wine a thread takes several milliseconds to start); the bound is for
        # the answers after them.
        slowest = 0.0
        for i, port in enumerate((s1, s4, s1, s4)):
            began = time.monotonic()
            status, _, _ = request(port, "GET", "/kaoshi/")
            if i >= 2:
                slowest = max(slowest, time.monotonic() - began)
            expected.append((addresses[port], "GET", "/kaoshi/", 200))
            check(status == 200, f"beside quiet clients /kaoshi/ answered {status}")
        check(slowest < ANSWER_SECONDS,
              f"beside {QUIET_CLIENTS} quiet clients an answer took {slowest:.1f} s")
        step(f"answered within {slowest * 1000:.0f} ms beside {QUIET_CLIENTS} quiet half-sent requests")

        site.process.send_signal(signal.SIGINT)
        began = time.monotonic()
        logged = []
        deadline = began + 30
        while True:
            line = site.next_line(timeout=max(0.1, deadline - time.monotonic()))
            check(line is not None, "zandrel-site.exe did not stop within 30 s of Ctrl+C")
            if line == "zandrel-site: stopped":
                break
            logged.append(line)
        stopped = time.monotonic() - began
        check(site.process.wait(timeout=30) == 0, f"exit code {site.process.returncode}")
        check(stopped < STOP_SECONDS, f"stopping took {stopped:.1f} s with quiet clients open")
    finally:
        for connection in quiet:
            connection.close()
    step(f"stopped on Ctrl+C within {stopped * 1000:.0f} ms with exit code 0")

    seen = []
    for line in logged:
        match = LOG_LINE.match(line)
        check(match, f"log line not TIME HOST METHOD PATH STATUS: {line!r}")
        seen.append((match[1], match[2], match[3], int(match[4])))
    check(
        seen == [(a, m, p, s) for a, m, p, s in expected],
        "request log differs:\n  logged   " + "\n           ".join(map(str, seen))
        + "\n  expected " + "\n           ".join(map(str, expected)),
    )
    step(f"{len(seen)} requests, {len(seen)} log lines")


def main():
    ports = (free_port(), free_port())
    while ports[1] == ports[0]:
        ports = (ports[0], free_port())
    site = Site(ports)
    try:
        run(site)
    except Failed as failure:
        print(f"site-windows: FAILED: {failure}", flush=True)
        return 1
    finally:
        site.kill()
    print("site-windows: passed", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
