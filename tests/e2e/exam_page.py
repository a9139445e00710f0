"""What the local site's exam page shows, read through AT-SPI the way a
learner sees it: the question DIV's paragraphs, where they lie on the screen,
and the program's read-aloud of them. The page draws its questions at random,
so a test learns from here which question is on screen."""

import re
import time

from harness import wait_until
from speech_recorder import comparable

# WebKit stands an object replacement character in a paragraph's text for an
# embedded control (the choice's radio button, a picture).
_OBJECT = "\ufffc"
# The first paragraph of the question DIV in each of its states.
_DIV_START = re.compile(r"^(第\d+题|错题 |未答题 |本次考试得分|还有 \d+ 题未答|全部 \d+ 题都已作答|"
                        r"交卷没有成功|正在交卷|考试时间到)")


def question_paragraphs(desk, frame):
    """The texts of the question DIV, in order: from its first paragraph to
    the button row below it."""
    texts = [t.replace(_OBJECT, "").strip() for t in desk.page_texts(frame)]
    texts = [t for t in texts if t]
    start = next((i for i, t in enumerate(texts) if _DIV_START.match(t)), None)
    if start is None:
        return []
    end = next((i for i in range(start + 1, len(texts)) if texts[i] == "上一题"), len(texts))
    return texts[start:end]


def wait_question(desk, frame, pattern, timeout=15):
    """Waits until the question DIV's first paragraph matches `pattern`."""
    def shown():
        paragraphs = question_paragraphs(desk, frame)
        return paragraphs if paragraphs and re.search(pattern, paragraphs[0]) else None

    return wait_until(shown, timeout, interval=0.2, what="the question DIV to show %s" % pattern)


def position(desk, frame):
    """(number, total) from the info row's 第 n / N 题."""
    for text in desk.page_texts(frame):
        match = re.match(r"第 (\d+) / (\d+) 题", text)
        if match:
            return int(match.group(1)), int(match.group(2))
    return None


def find_text(desk, frame, prefix):
    """The accessibles of the page whose text starts with `prefix`."""
    found = []

    def walk(node, depth):
        if node is None or depth > 60:
            return
        text = (desk.text_of(node) or "").replace(_OBJECT, "").strip()
        role = ""
        try:
            role = node.getRoleName()
        except Exception:
            pass
        if text.startswith(prefix) and role in ("paragraph", "section", "push button", "label",
                                                  "text", "static", "link"):
            found.append(node)
        try:
            children = list(node)
        except Exception:
            return
        for child in children:
            walk(child, depth + 1)

    walk(frame, 0)
    return found


def visible_cut_out(desk, wid, frame):
    """(x, y, w, h) on the screen of what the learner sees of the page: the
    client area below the menu bar, down to where the browser ends."""
    x, y, w, h = desk.client_area(wid, frame)
    views = desk.accessible_find(frame, "scroll pane")
    if views:
        _, by, _, bh = desk.extents(views[0])
        h = min(h, by + bh - y)
    return (x, y, w, h)


def inside(box, area):
    x, y, w, h = box
    ax, ay, aw, ah = area
    return w > 0 and h > 0 and x >= ax and y >= ay and x + w <= ax + aw and y + h <= ay + ah


def read_aloud(desk, voice, keys, timeout=10):
    """Presses F1 and returns the text the speech service was handed."""
    count = len(voice.said())
    keys.press("F1")
    said = wait_until(lambda: len(voice.said()) > count and voice.said(), timeout,
                      what="a reading after F1")
    time.sleep(0.3)
    return said[-1]


def same_words(said, paragraphs):
    """True when the reading holds exactly the paragraphs' words, in order."""
    return comparable(said) == comparable("".join(paragraphs))


def browser_height(desk, frame):
    """The browser's height on the screen. Looked up afresh: a navigation
    replaces the browser's accessible, and one caught in the middle of that
    answers nothing."""
    def height():
        try:
            views = desk.accessible_find(frame, "scroll pane")
            return desk.extents(views[0])[3] if views else None
        except Exception:
            return None

    return wait_until(height, 20, what="the browser's size")
