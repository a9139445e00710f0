"""The exam can be taken by ear: F1 on a 单选, a 判断 and a 多选 question of
the local site's Subject 4 exam hands the voice the number, the type, the
question and every choice in order, each as a sentence of its own, and
nothing else of the page; after a choice it adds 已选. The questions are drawn
at random, so the test reads the page to learn which one is on screen."""

import re
import time

from exam_page import question_paragraphs, read_aloud, same_words, wait_question
from harness import MAIN_TITLE, SUBJECT4_HOST, Desktop, run_checks, wait_until
from speech_recorder import SpeechRecorder, comparable
from xtest_keys import XTestKeys

CHOICE = re.compile(r"^([A-D])、")


def body(checks):
    with Desktop() as desk, SpeechRecorder(desk) as voice:
        desk.start_site()
        desk.start_program(extra_env=voice.env)
        wid = desk.wait_window(MAIN_TITLE)
        frame = desk.accessible_frame(MAIN_TITLE)
        desk.activate_menu(frame, "菜单", "科目四全真模拟考试")
        desk.wait_site_request(SUBJECT4_HOST, "GET", "/kaoshi/")
        wait_until(lambda: desk.outer_geometry(wid)[3] == 555, 5, what="height 555")
        keys = XTestKeys(desk.display)
        wait_question(desk, frame, r"^第1题")

        found = {}
        for number in range(1, 51):
            paragraphs = wait_question(desk, frame, r"^第%d题" % number)
            kind = re.match(r"^第\d+题\s*(判断题|单选题|多选题)", paragraphs[0])
            if kind and kind.group(1) not in found:
                found[kind.group(1)] = paragraphs
                said = read_aloud(desk, voice, keys)
                what = "%s (question %d)" % (kind.group(1), number)
                checks.check(same_words(said, paragraphs),
                             "F1 on a %s reads the number, the question and every choice, "
                             "and nothing else" % what, "said %r, shown %r" % (said, paragraphs))
                checks.check(comparable(said).startswith(comparable("第%d题" % number)), "%s: the number comes first" % what,
                             said[:20])
                for other in ("全真模拟考试", "剩余时间", "操作提示", "上一题", "交卷"):
                    checks.check(other not in said, "%s: %s is not read" % (what, other))
                choices = [p for p in paragraphs if CHOICE.match(p)]
                if kind.group(1) == "判断题":
                    choices = [p for p in paragraphs if p in ("正确", "错误")]
                    checks.equal(choices, ["正确", "错误"], "%s: both answers are shown" % what)
                else:
                    checks.equal([CHOICE.match(p).group(1) for p in choices],
                                 ["A", "B", "C", "D"], "%s: four lettered choices" % what)
                # Each choice is a sentence of its own: a stop before it.
                spoken = said.replace("。", "\n").replace(".", "\n")
                sentences = [s.strip() for s in spoken.split("\n") if s.strip()]
                for choice in choices:
                    checks.check(any(comparable(s) == comparable(choice) for s in sentences),
                                 "%s: %s is read as a sentence of its own" % (what, choice[:8]),
                                 repr(sentences))
                if kind.group(1) == "多选题":
                    checks.check("多选题" in said and "两个或两个以上" in said,
                                 "%s says it is a multiple choice and how to answer" % what)
                    keys.press("1")
                    keys.press("3")
                    after = wait_question(desk, frame, r"^第%d题" % number)
                    checks.check("已选 A、C" in after, "1 and 3 pick A and C", repr(after))
                    keys.press("3")
                    after = wait_question(desk, frame, r"^第%d题" % number)
                    checks.check("已选 A" in after, "3 again takes C back", repr(after))
                    said = read_aloud(desk, voice, keys)
                    checks.check(comparable(said).endswith("已选A"), "F1 reads 已选 A at the end",
                                 said[-20:])
            if len(found) == 3:
                break
            keys.press("Right")
        checks.equal(sorted(found), ["判断题", "单选题", "多选题"],
                     "the exam asks all three types")
        desk.activate_menu(frame, "菜单", "退出软件")
        checks.equal(desk.program_exit(), 0, "exit code 0")


run_checks(body)
