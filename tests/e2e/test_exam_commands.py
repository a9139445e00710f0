"""The exam commands through the real menu, with pages of the test's own on
both exam hosts: window and browser heights, retakes, and the score rule on
main-frame and frame navigations (near misses of the score address included).
The pages report the browser's height (their view's innerHeight)."""

import time

from fixture_site import HEIGHT_REPORTER, FixtureSite
from harness import (MAIN_TITLE, SUBJECT1_HOST, SUBJECT4_HOST, Desktop, run_checks,
                     wait_until)


def page(title, body=""):
    return ("<!doctype html><html><head><meta charset='utf-8'><title>%s</title></head>"
            "<body>%s%s</body></html>" % (title, body, HEIGHT_REPORTER))


def hop(title, to):
    return page(title, "<script>setTimeout(function(){location.href=%r;}, 600);</script>" % to)


NEAR_MISSES = ["/score/?x=1", "/score/x", "/SCORE/", "/score"]


def subject4_pages():
    pages = {"/kaoshi/": hop("s4-exam", NEAR_MISSES[0])}
    for here, there in zip(NEAR_MISSES, NEAR_MISSES[1:] + ["/frames/"]):
        pages[here] = hop("near-miss", there)
    # The exact score address, reached inside a frame of another page.
    pages["/frames/"] = page("frames", "<iframe src='/score/' width=300 height=100></iframe>")
    pages["/score/"] = "<!doctype html><html><body>score in a frame</body></html>"
    return pages


def body(checks):
    with Desktop() as desk, \
            FixtureSite(SUBJECT1_HOST, {"/kaoshi/": page("s1-exam")}) as s1, \
            FixtureSite(SUBJECT4_HOST, subject4_pages()) as s4:
        desk.start_program()
        wid = desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)

        def outer_height():
            return desk.outer_geometry(wid)[3]

        def wait_height(site, value, since, what):
            try:
                wait_until(lambda: any(h == value for h, _ in site.heights(since)), 15,
                           what=what)
                return True
            except Exception:
                return False

        start = 0.0
        checks.check(wait_height(s1, 2800, start, "the Subject 1 page"),
                     "start: Subject 1 page shown in a 2800-high browser", str(s1.heights()))
        checks.equal(outer_height(), 623, "start: window outer height")

        t = time.monotonic()
        desk.activate_menu(frame, "菜单", "科目四全真模拟考试")
        wait_until(lambda: outer_height() == 555, 5, what="outer height 555")
        checks.equal(outer_height(), 555, "科目四: window outer height")
        checks.check(wait_until(lambda: s4.requested("/kaoshi/", t), 10, what="S4 exam"),
                     "科目四: the Subject 4 exam is loaded")
        wait_until(lambda: s4.requested("/frames/", t), 20, what="the near-miss chain")
        chain = [h for h in s4.heights(t) if "/frames/" not in h[1]]
        visited = {p for _, p in chain}
        checks.check(all(any(p.endswith(m) for p in visited) for m in NEAR_MISSES),
                     "near misses of the score address were all shown", str(sorted(visited)))
        checks.check(chain and all(h == 2800 for h, _ in chain),
                     "no near miss (query, trailing character, case) shrinks the browser",
                     str(chain))
        checks.check(wait_height(s4, 810, t, "810 after the framed score page"),
                     "the score address in a frame sets the browser to 810",
                     str(s4.heights(t)[-3:]))
        checks.equal(outer_height(), 555, "score page: window height unchanged")

        # Later visits of Subject 4's exam page are plain pages.
        s4.pages["/kaoshi/"] = page("s4-exam")
        t = time.monotonic()
        desk.activate_menu(frame, "菜单", "科目一全真模拟考试")
        wait_until(lambda: outer_height() == 623, 5, what="outer height 623")
        checks.equal(outer_height(), 623, "科目一: window outer height")
        checks.check(wait_height(s1, 810, t, "Subject 1 page at 810"),
                     "choosing an exam keeps the browser at 810", str(s1.heights(t)))

        t = time.monotonic()
        desk.activate_menu(frame, "菜单", "重新考试")
        checks.check(wait_height(s1, 2800, t, "2800 after the retake"),
                     "重新考试 reloads the exam in use (Subject 1) at 2800", str(s1.heights(t)))
        checks.check(s1.requested("/kaoshi/", t), "重新考试 requested /kaoshi/ again")
        checks.equal(outer_height(), 623, "重新考试: window height unchanged")

        desk.activate_menu(frame, "菜单", "科目四全真模拟考试")
        wait_until(lambda: outer_height() == 555, 5, what="outer height 555")
        t = time.monotonic()
        desk.activate_menu(frame, "菜单", "重新考试")
        checks.check(wait_until(lambda: s4.requested("/kaoshi/", t), 10, what="S4 retake"),
                     "重新考试 after 科目四 reloads the Subject 4 exam")
        time.sleep(0.5)
        checks.equal(outer_height(), 555, "重新考试 after 科目四: window stays 555")

        desk.activate_menu(frame, "菜单", "退出软件")
        checks.equal(desk.program_exit(), 0, "退出软件 ends the program with code 0")


run_checks(body)
