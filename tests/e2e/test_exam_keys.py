"""Keys alone take the local site's exams from start to result, with real
XTEST keys and no click: 1-4 and A-D answer, → moves on, Enter on the last
question opens the 交卷 panel (F1 reads it, Esc or 取消 keeps the exam), Enter
again hands in. The result lies inside the cut-out for Subject 1 (623-px
window, 2800-px browser) and Subject 4 (555, 810), F1 reads the score and the
three counts, and the review reads a missed question with 你的答案, 正确答案
and 解析. At 555 px the Subject 4 exam shows its 操作提示 row."""

import re
import time

from exam_page import (browser_height, find_text, inside, position, question_paragraphs,
                       read_aloud,
                       visible_cut_out, wait_question)
from harness import (MAIN_TITLE, SUBJECT1_HOST, SUBJECT4_HOST, Desktop, run_checks,
                     wait_until)
from speech_recorder import SpeechRecorder, comparable
from xtest_keys import XTestKeys


def take_exam(checks, desk, frame, voice, keys, host, name):
    """Answers the first two questions by keys, goes to the last, tries the
    panel and its Esc, then hands in; returns the result's paragraphs."""
    wait_question(desk, frame, r"^第1题")
    _, total = position(desk, frame)
    keys.press("1")
    first = wait_question(desk, frame, r"^第1题")
    checks.check(any(p.startswith("已选 ") for p in first), "%s: 1 picks a choice" % name,
                 repr(first[-1:]))
    keys.press("Right")
    wait_question(desk, frame, r"^第2题")
    keys.press("B")
    second = wait_question(desk, frame, r"^第2题")
    checks.check(any(p.startswith("已选 ") for p in second), "%s: B picks a choice" % name)
    for _ in range(total - 2):
        keys.press("Right", hold=0.03)
        time.sleep(0.03)
    wait_question(desk, frame, r"^第%d题" % total)

    keys.press("Return")
    panel = wait_question(desk, frame, r"^还有 \d+ 题未答")
    checks.check(panel[0].startswith("还有 %d 题未答，确定交卷吗？" % (total - 2)),
                 "%s: Enter on the last question asks first, with the unanswered count" % name,
                 repr(panel))
    said = read_aloud(desk, voice, keys)
    checks.check(comparable(said).startswith(comparable("还有 %d 题未答，确定交卷吗？" % (total - 2))),
                 "%s: F1 reads the panel's question" % name, said)
    keys.press("Escape")
    back = wait_question(desk, frame, r"^第%d题" % total)
    checks.check(back[0].startswith("第%d题" % total), "%s: Esc keeps the exam" % name)
    checks.check(any("已答 2 题" in t for t in desk.page_texts(frame)),
                 "%s: the answers are kept" % name)
    checks.check("%s POST /score/" % host not in desk.site_log(),
                 "%s: nothing was handed in" % name)

    keys.press("Return")
    wait_question(desk, frame, r"^还有 \d+ 题未答")
    keys.press("Return")
    desk.wait_site_request(host, "POST", "/score/")
    desk.wait_site_request(host, "GET", "/score/")
    return wait_question(desk, frame, r"^本次考试得分")


def check_result(checks, desk, wid, frame, voice, keys, result, name, total):
    area = visible_cut_out(desk, wid, frame)
    for prefix in ("本次考试得分", "答对 ", "共 "):
        nodes = find_text(desk, frame, prefix)
        box = desk.extents(nodes[0]) if nodes else None
        checks.check(box is not None and inside(box, area),
                     "%s: the result's %s line lies inside the cut-out" % (name, prefix.strip()),
                     "%s in %s" % (box, area))
    counts = re.search(r"答对 (\d+) 题，答错 (\d+) 题，未答 (\d+) 题", " ".join(result))
    checks.check(counts and int(counts.group(1)) + int(counts.group(2)) == 2 and
                 int(counts.group(3)) == total - 2,
                 "%s: two answered, the rest unanswered" % name, repr(result))
    said = read_aloud(desk, voice, keys)
    for part in ("本次考试得分", "答对", "答错", "未答"):
        checks.check(part in said, "%s: F1 on the result reads %s" % (name, part), said)
    if counts:
        checks.check(comparable(counts.group(0)) in comparable(said),
                     "%s: F1 reads the three counts as shown" % name)

    keys.press("Right")
    review = wait_question(desk, frame, r"^(错题|未答题) 1 / ")
    said = read_aloud(desk, voice, keys)
    for part in ("你的答案", "正确答案", "解析"):
        checks.check(part in said, "%s: the review reads %s" % (name, part), said)
    checks.check(comparable("".join(review)) == comparable(said),
                 "%s: the review reads exactly what it shows" % name)
    keys.press("Left")
    wait_question(desk, frame, r"^本次考试得分")


def body(checks):
    with Desktop() as desk, SpeechRecorder(desk) as voice:
        desk.start_site()
        desk.start_program(extra_env=voice.env)
        wid = desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)
        desk.wait_site_request(SUBJECT1_HOST, "GET", "/kaoshi/")
        keys = XTestKeys(desk.display)

        # Subject 1: 623-px window, 2800-px browser (no score rule).
        _, total1 = wait_until(lambda: position(desk, frame), 20, what="the exam page")
        result = take_exam(checks, desk, frame, voice, keys, SUBJECT1_HOST, "科目一")
        checks.equal((desk.outer_geometry(wid)[3], browser_height(desk, frame)), (623, 2800),
                     "科目一 result: window 623, browser 2800")
        check_result(checks, desk, wid, frame, voice, keys, result, "科目一", total1)

        # Subject 4: 555-px window; its exam from the menu, its result at 810.
        desk.activate_menu(frame, "菜单", "科目四全真模拟考试")
        desk.wait_site_request(SUBJECT4_HOST, "GET", "/kaoshi/")
        wait_until(lambda: desk.outer_geometry(wid)[3] == 555, 5, what="height 555")
        wait_question(desk, frame, r"^第1题")
        area = visible_cut_out(desk, wid, frame)
        tips = find_text(desk, frame, "操作提示")
        box = desk.extents(tips[0]) if tips else None
        checks.check(box is not None and inside(box, area),
                     "科目四 at 555 px shows its 操作提示 row", "%s in %s" % (box, area))
        _, total4 = position(desk, frame)
        result = take_exam(checks, desk, frame, voice, keys, SUBJECT4_HOST, "科目四")
        wait_until(lambda: browser_height(desk, frame) == 810, 10, what="browser 810")
        checks.equal((desk.outer_geometry(wid)[3], browser_height(desk, frame)), (555, 810),
                     "科目四 result: window 555, browser 810")
        check_result(checks, desk, wid, frame, voice, keys, result, "科目四", total4)

        desk.activate_menu(frame, "菜单", "退出软件")
        checks.equal(desk.program_exit(), 0, "exit code 0")


run_checks(body)
