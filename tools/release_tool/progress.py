"""Progress of long work (hashing, checking and copying big packages) on stderr.

Work below THRESHOLD bytes finishes in a blink and shows nothing. On a terminal
the line is redrawn in place at most ten times a second; into a log it prints
a line at every quarter, so a CI log stays short.
"""
import sys
import time

THRESHOLD = 16 * 1024 * 1024


class Progress:
    def __init__(self, label, total, stream=None):
        self.label = label
        self.total = total
        self.done = 0
        self.stream = stream if stream is not None else sys.stderr
        self.shown = total >= THRESHOLD
        self.live = self.shown and self.stream.isatty()
        self.last_draw = 0.0
        self.last_quarter = -1

    def advance(self, count):
        self.done += count
        if not self.shown:
            return
        percent = self.done * 100 // self.total if self.total else 100
        if self.live:
            now = time.monotonic()
            if now - self.last_draw >= 0.1 or self.done >= self.total:
                self.last_draw = now
                self._write(f"\r{self._line(percent)}")
        elif percent // 25 > self.last_quarter:
            self.last_quarter = percent // 25
            self._write(self._line(percent) + "\n")

    def finish(self):
        if self.live:
            self._write("\n")

    def _line(self, percent):
        mib = 1024 * 1024
        return f"{self.label}: {percent}% ({self.done / mib:.1f} of {self.total / mib:.1f} MiB)"

    def _write(self, text):
        self.stream.write(text)
        self.stream.flush()


def read_in_chunks(stream, label, total, chunk=1024 * 1024):
    """Yields the bytes of an open binary stream chunk by chunk, showing progress."""
    progress = Progress(label, total)
    while True:
        data = stream.read(chunk)
        if not data:
            break
        progress.advance(len(data))
        yield data
    progress.finish()
