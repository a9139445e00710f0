"""Reading a raw s16le mono recording: where the sound is."""

import array

RATE = 16000
FRAME = RATE // 100  # 10 ms


def frames(path, threshold=300):
    """One truth value per 10 ms: is there sound (peak above threshold)?"""
    data = array.array("h")
    with open(path, "rb") as f:
        raw = f.read()
    data.frombytes(raw[: len(raw) // 2 * 2])
    return [max((abs(v) for v in data[i:i + FRAME]), default=0) > threshold
            for i in range(0, len(data), FRAME)]


def sounding_span(path):
    """(first, last) sounding frame times in seconds, or None for silence."""
    f = frames(path)
    on = [i for i, s in enumerate(f) if s]
    if not on:
        return None
    return on[0] / 100.0, (on[-1] + 1) / 100.0


def longest_silence(path, start, end):
    """The longest silent run (seconds) between two times of the recording."""
    f = frames(path)[int(start * 100):int(end * 100)]
    best = run = 0
    for s in f:
        run = 0 if s else run + 1
        best = max(best, run)
    return best / 100.0


def envelope(path):
    """RMS level per 10 ms frame."""
    data = array.array("h")
    with open(path, "rb") as f:
        raw = f.read()
    data.frombytes(raw[: len(raw) // 2 * 2])
    out = []
    for i in range(0, len(data) - FRAME + 1, FRAME):
        chunk = data[i:i + FRAME]
        out.append((sum(v * v for v in chunk) / FRAME) ** 0.5)
    return out


def similarity(a, b):
    """Pearson correlation of two equally long level curves (0 when flat)."""
    n = min(len(a), len(b))
    if n < 2:
        return 0.0
    a, b = a[:n], b[:n]
    ma, mb = sum(a) / n, sum(b) / n
    cov = sum((x - ma) * (y - mb) for x, y in zip(a, b))
    va = sum((x - ma) ** 2 for x in a) ** 0.5
    vb = sum((y - mb) ** 2 for y in b) ** 0.5
    return cov / (va * vb) if va and vb else 0.0


def best_match(curve, template, start, end):
    """(similarity, frame) of the best place in curve[start:end] for template."""
    best = (-1.0, start)
    for i in range(start, max(start + 1, end)):
        best = max(best, (similarity(curve[i:i + len(template)], template), i))
    return best
