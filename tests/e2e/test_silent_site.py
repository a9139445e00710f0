"""An exam site that accepts and never answers, or answers and then stalls,
must not leave the view blank, nor leave F1 reading the exam shown before: the
load is stopped after its limits and the cut-out says the site did not answer;
while it loads, F1 says the page is loading. A slow page that keeps moving
still loads.

The limits (15 s for an answer, 30 s without progress) are shortened through
the program's test hook ZANDREL_TEST_LOAD_LIMITS so that the test takes
seconds, not minutes."""

import socket
import socketserver
import threading
import time

from fixture_site import FixtureSite
from harness import MAIN_TITLE, SUBJECT1_HOST, SUBJECT4_HOST, Desktop, run_checks, wait_until
from speech_recorder import SpeechRecorder, comparable
from xtest_keys import XTestKeys

HEAD_MS, PROGRESS_MS = 4000, 5000
NO_ANSWER = "考试网站没有响应"

SUBJECT4 = """<!doctype html><html><head><meta charset='utf-8'></head><body>
<div class='title'>科目四</div><div class='title'>遇到雾天应当开启雾灯。</div></body></html>"""

HEAD = (b"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
        b"Cache-Control: no-store\r\nConnection: close\r\n\r\n")
# Long enough for the engine to take it as the page's start (it looks at the
# first bytes of a body before it shows it).
START = ("<!doctype html><html><head><meta charset='utf-8'></head><body><div class='title'>科目一</div>"
         + "<p>" + "." * 2000 + "</p>\n")
QUESTION = "<div class='title'>慢慢来的题目已经到了。</div></body></html>"


class StallingSite:
    """The Subject 1 host, misbehaving as `mode` says: "silent" accepts and
    never answers; "stall" sends a head and the page's start, then nothing;
    "slow" sends the page in pieces over 8 s, one piece a second."""

    def __init__(self, host_port):
        host, port = host_port.split(":")
        self.mode = "silent"
        self.connections = 0
        self.stop = threading.Event()
        site = self

        class Handler(socketserver.BaseRequestHandler):
            def handle(self):
                site.connections += 1
                mode = site.mode
                self.request.settimeout(1)
                try:
                    self.request.recv(65536)
                    if mode == "stall":
                        self.request.sendall(HEAD + START.encode("utf-8"))
                    elif mode == "slow":
                        self.request.sendall(HEAD + START.encode("utf-8"))
                        for _ in range(8):
                            if site.stop.wait(1.0):
                                return
                            self.request.sendall(b"<p>" + b"." * 200 + b"</p>\n")
                        self.request.sendall(QUESTION.encode("utf-8"))
                        return
                    site.stop.wait(600)
                except OSError:
                    pass

        class Server(socketserver.ThreadingTCPServer):
            allow_reuse_address = True
            daemon_threads = True

        self.server = Server((host, int(port)), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.stop.set()
        self.server.shutdown()
        self.server.server_close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def body(checks):
    with Desktop() as desk, SpeechRecorder(desk) as voice, StallingSite(SUBJECT1_HOST) as s1, \
            FixtureSite(SUBJECT4_HOST, {"/kaoshi/": SUBJECT4}) as s4:
        started = time.monotonic()
        desk.start_program(extra_env=dict(voice.env, ZANDREL_TEST_LOAD_LIMITS="%d,%d" % (
            HEAD_MS, PROGRESS_MS)))
        desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)
        keys = XTestKeys(desk.display)

        def page_says(text):
            return text in " ".join(desk.page_texts(frame))

        def read():
            n = len(voice.said())
            keys.press("F1", hold=0.08)
            try:
                wait_until(lambda: len(voice.said()) > n, 10, what="a reading")
            except Exception:
                return None
            return voice.said()[-1]

        def wait_no_answer(since):
            try:
                wait_until(lambda: page_says(NO_ANSWER), HEAD_MS / 1000 + PROGRESS_MS / 1000 + 15,
                           interval=0.2, what="the no-answer message")
            except Exception:
                return None
            return time.monotonic() - since

        # The first load: the site accepts and never answers.
        wait_until(lambda: s1.connections > 0, 20, what="the first request")
        checks.equal(read(), "页面还在加载", "F1 while the first page loads says so")
        took = wait_no_answer(started)
        checks.check(took is not None, "the silent site's load is stopped and the cut-out says so",
                     str(took))

        # 科目四 loads; then 科目一 against the silent site: its question is no
        # longer what F1 reads.
        desk.activate_menu(frame, "菜单", "科目四全真模拟考试")
        wait_until(lambda: s4.requested("/kaoshi/"), 10, what="the Subject 4 page")
        wait_until(lambda: page_says("雾天"), 10, what="the Subject 4 question")
        checks.equal(comparable(read() or ""), comparable("遇到雾天应当开启雾灯。"),
                     "F1 reads the Subject 4 question")
        asked = time.monotonic()
        desk.activate_menu(frame, "菜单", "科目一全真模拟考试")
        time.sleep(0.5)
        checks.equal(read(), "页面还在加载", "F1 right after 科目一 says the page is loading")
        took = wait_no_answer(asked)
        checks.check(took is not None and took >= HEAD_MS / 1000 - 0.5,
                     "the message comes after the answer limit, not before", str(took))
        checks.equal(read(), "没有找到题目", "F1 on the message reads no question, nor 科目四's")

        # An answer that begins, then stalls, is stopped after the progress limit.
        s1.mode = "stall"
        desk.activate_menu(frame, "菜单", "科目四全真模拟考试")
        wait_until(lambda: page_says("雾天"), 10, what="the Subject 4 question")
        asked = time.monotonic()
        desk.activate_menu(frame, "菜单", "科目一全真模拟考试")
        took = wait_no_answer(asked)
        checks.check(took is not None and took >= PROGRESS_MS / 1000 - 0.5,
                     "a stalled answer is stopped after the progress limit", str(took))

        # A slow page that keeps moving loads, though it takes longer than both limits.
        s1.mode = "slow"
        asked = time.monotonic()
        desk.activate_menu(frame, "菜单", "科目一全真模拟考试")
        try:
            wait_until(lambda: page_says("慢慢来的题目"), 30, interval=0.2, what="the slow page")
        except Exception:
            pass
        checks.check(page_says("慢慢来的题目") and not page_says(NO_ANSWER),
                     "a slow but moving page loads whole",
                     "%.1f s" % (time.monotonic() - asked))
        checks.equal(comparable(read() or ""), comparable("慢慢来的题目已经到了。"),
                     "and F1 reads its question")
        desk.activate_menu(frame, "菜单", "退出软件")
        checks.equal(desk.program_exit(), 0, "exit code 0")


if __name__ == "__main__":
    run_checks(body)
