"""What the setup window drew, read from Wine's text trace.

With WINEDEBUG=-all,trace+text Wine logs every DrawTextExW call on the
process's standard error:

    0108:trace:text:DrawTextExW L"Ready to install.", -1, [(28,442)-(452,482)] 00000810

Processes that the setup program starts (the app) inherit that standard error,
so their texts land in the same log. The status line is told apart by its
rectangle, which follows from the window's size: the window draws it wrapped in
(M, H - 118, W - M, H - 78) logical pixels, M being the side margin of 28.
"""
import re
from dataclasses import dataclass

MARKER = 'trace:text:DrawTextExW L"'
_RECT_AND_FORMAT = re.compile(r"\[\((-?\d+),(-?\d+)\)-\((-?\d+),(-?\d+)\)\] ([0-9a-fA-F]+)")
_SIMPLE_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}

# The window's logical width; its device width gives the DPI it was laid out for.
LOGICAL_WIDTH = 480


@dataclass(frozen=True)
class DrawnText:
    text: str
    rect: tuple  # (left, top, right, bottom) in device pixels
    format: int  # the DrawTextW flags


def _unescape(line, start):
    """The quoted text from start, Wine's escapes undone (\\" \\\\ \\n \\r \\t and
    \\XXXX for any other character), and the index after the closing quote;
    None for the index when the quote never closes."""
    text = []
    i = start
    while i < len(line) and line[i] != '"':
        if line[i] != "\\" or i + 1 >= len(line):
            text.append(line[i])
            i += 1
            continue
        escaped = line[i + 1]
        if escaped in _SIMPLE_ESCAPES:
            text.append(_SIMPLE_ESCAPES[escaped])
            i += 2
            continue
        digits = line[i + 1:i + 5]
        try:
            text.append(chr(int(digits, 16)))
        except ValueError:  # not Wine's form: keep it as it stands
            text.append("\\")
            i += 1
            continue
        i += 5
    return "".join(text), (i + 1 if i < len(line) else None)


def parse_line(line):
    """The DrawnText of one trace line, or None for any other line."""
    at = line.find(MARKER)
    if at < 0:
        return None
    text, end = _unescape(line, at + len(MARKER))
    if end is None:
        return None
    # A text that Wine cut short is followed by "..." before the rectangle.
    match = _RECT_AND_FORMAT.search(line, end)
    if match is None:
        return None
    left, top, right, bottom = (int(match.group(n)) for n in range(1, 5))
    return DrawnText(text, (left, top, right, bottom), int(match.group(5), 16))


def scale(value, dpi):
    """A logical length in device pixels, rounded as MulDiv(value, dpi, 96) rounds."""
    return (value * dpi + 48) // 96


def status_rect(width, height):
    """Where the window of this client size draws its status line."""
    dpi = (width * 96 + LOGICAL_WIDTH // 2) // LOGICAL_WIDTH
    margin = scale(28, dpi)
    return (margin, height - scale(118, dpi), width - margin, height - scale(78, dpi))


class TraceFollower:
    """Reads a trace log while the program is still writing it: each poll
    returns the texts of the lines completed since the last one (a line still
    being written waits for its end)."""

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.partial = b""
        self.drawn = []  # everything read so far, in order

    def poll(self):
        try:
            with open(self.path, "rb") as log:
                log.seek(self.offset)
                data = log.read()
        except FileNotFoundError:
            return []
        self.offset += len(data)
        lines = (self.partial + data).split(b"\n")
        self.partial = lines.pop()
        fresh = [d for d in (parse_line(raw.decode("utf-8", "replace")) for raw in lines) if d]
        self.drawn.extend(fresh)
        return fresh

    def has_drawn(self, text):
        return any(d.text == text for d in self.drawn)


class StatusWatch:
    """The status lines in the order the window drew them, each change once."""

    def __init__(self, follower, on_change):
        self.follower = follower
        self.on_change = on_change
        self.rect = None
        self.lines = []
        self._seen = 0

    def set_window_size(self, width, height):
        self.rect = status_rect(width, height)

    def poll(self):
        """Reads the log on; calls on_change for each new status text and
        returns the current one (None before the first)."""
        self.follower.poll()
        if self.rect is None:
            return self.current
        for drawn in self.follower.drawn[self._seen:]:
            if drawn.rect == self.rect and (not self.lines or self.lines[-1] != drawn.text):
                self.lines.append(drawn.text)
                self.on_change(drawn.text)
        self._seen = len(self.follower.drawn)
        return self.current

    @property
    def current(self):
        return self.lines[-1] if self.lines else None
