#!/usr/bin/env python3
"""Tests of how tools/demo reads the setup window's status lines from Wine's
text trace: the trace lines, the status rectangle at several DPIs, and a log
read while the program is still writing it.

    python3 tests/tools/test_demo_trace.py [-v]
"""
import os
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools"))

from demo_tool.trace import DrawnText, StatusWatch, TraceFollower, parse_line, status_rect  # noqa

STATUS = "[(28,442)-(452,482)] 00000810"


def line(text, rest=STATUS, thread="0108"):
    return f'{thread}:trace:text:DrawTextExW L"{text}", -1, {rest}'


class ParseLineTest(unittest.TestCase):
    def test_lines(self):
        cases = [
            ("a status line",
             line("Ready to install."),
             DrawnText("Ready to install.", (28, 442, 452, 482), 0x810)),
            ("a character Wine writes as four hex digits",
             line("\\00d7", "[(440,0)-(480,40)] 00000825"),
             DrawnText("\u00d7", (440, 0, 480, 40), 0x825)),
            ("quotes, backslashes, a line break and a rectangle inside the text",
             line('say \\"A&B\\"\\nnext \\\\ [(1,1)-(2,2)] 1'),
             DrawnText('say "A&B"\nnext \\ [(1,1)-(2,2)] 1', (28, 442, 452, 482), 0x810)),
            ("a text that Wine cut short",
             '0108:trace:text:DrawTextExW L"Downloa"..., -1, [(28,442)-(452,482)] 00000810',
             DrawnText("Downloa", (28, 442, 452, 482), 0x810)),
            ("negative coordinates",
             line("x", "[(-5,-7)-(10,20)] 0000001f"),
             DrawnText("x", (-5, -7, 10, 20), 0x1F)),
            ("the parameter line that follows some calls",
             "0108:trace:text:DrawTextExW Params: iTabLength=0, iLeftMargin=0", None),
            ("another channel", '0110:fixme:other:thing L"not a text" [(0,0)-(1,1)] 0', None),
            ("a quote that never closes", '0108:trace:text:DrawTextExW L"half a li', None),
            ("no rectangle after the text", line("x", "-1"), None),
        ]
        for name, text, expected in cases:
            with self.subTest(name):
                self.assertEqual(parse_line(text), expected)


class StatusRectTest(unittest.TestCase):
    def test_the_status_rectangle_follows_the_window_size(self):
        cases = [
            # The reference layout at 96 DPI.
            ("96 DPI", (480, 560), (28, 442, 452, 482)),
            # Every distance doubles at 192 DPI.
            ("192 DPI", (960, 1120), (56, 884, 904, 964)),
            # 118 and 78 at 120 DPI are 147.5 and 97.5: rounded up, as MulDiv rounds.
            ("120 DPI", (600, 700), (35, 552, 565, 602)),
        ]
        for name, size, expected in cases:
            with self.subTest(name):
                self.assertEqual(status_rect(*size), expected)


class FollowerTest(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.log = os.path.join(folder.name, "trace.log")

    def append(self, text):
        with open(self.log, "ab") as stream:
            stream.write(text.encode("utf-8"))

    def test_a_line_still_being_written_waits_for_its_end(self):
        follower = TraceFollower(self.log)
        self.assertEqual(follower.poll(), [])  # no log yet
        whole = line("Downloading") + "\n"
        self.append(whole[:50])
        self.assertEqual(follower.poll(), [])
        last = line("Movora is installed.") + "\n"
        cut = last.index("ins")
        self.append(whole[50:] + line("Installing") + "\n" + last[:cut])
        self.assertEqual([d.text for d in follower.poll()], ["Downloading", "Installing"])
        self.append(last[cut:])
        self.assertEqual([d.text for d in follower.poll()], ["Movora is installed."])
        self.assertEqual(len(follower.drawn), 3)

    def test_status_lines_are_told_apart_by_their_rectangle(self):
        self.append("\n".join([
            line("Looking up the current version."),
            line("MOVORA", "[(52,12)-(432,34)] 00000824"),
            line("Faster start.", "[(28,260)-(452,320)] 00000810"),  # the notes, wrapped too
            line("Ready to install."),
            line("Ready to install."),  # a repaint draws it again
            line("Movora 1.0.0", "[(0,0)-(312,133)] 00000025", thread="0150"),  # the app
            line("Downloading"),
            line("Ready to install."),
        ]) + "\n")
        seen = []
        watch = StatusWatch(TraceFollower(self.log), seen.append)
        # Until the window's size is known nothing counts as a status line.
        self.assertIsNone(watch.poll())
        watch.set_window_size(480, 560)
        self.assertEqual(watch.poll(), "Ready to install.")
        self.assertEqual(seen, ["Looking up the current version.", "Ready to install.",
                                "Downloading", "Ready to install."])
        self.append(line("Downloading") + "\n")
        self.assertEqual(watch.poll(), "Downloading")
        self.assertEqual(watch.lines, seen)
        self.assertEqual(seen[-1], "Downloading")


if __name__ == "__main__":
    unittest.main()
