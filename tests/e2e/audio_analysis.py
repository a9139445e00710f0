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
