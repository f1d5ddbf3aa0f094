"""Windows on the X display: finding them, their geometry, keys and screenshots.

There may be no window manager (the virtual display), so keys go to a window
with `xdotool key --window`, and screenshots take the whole screen and crop it
to the window.
"""
import os
import subprocess
from dataclasses import dataclass

from .errors import DemoFailure


def _xdotool(*args):
    try:
        done = subprocess.run(["xdotool", *args], stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, timeout=20)
    except FileNotFoundError:
        raise DemoFailure("xdotool is not installed (run tools/bootstrap).") from None
    except subprocess.TimeoutExpired:
        raise DemoFailure(f"xdotool {args[0]} did not answer within 20 s.") from None
    return done


@dataclass(frozen=True)
class Window:
    id: str
    x: int
    y: int
    width: int
    height: int


def find_window(title_pattern, pid=None):
    """The first visible window whose title matches (a regular expression), with
    its geometry; only windows of that host process when pid is given. None
    when there is none (yet)."""
    args = ["search", "--onlyvisible", "--name", title_pattern]
    if pid is not None:
        args[1:1] = ["--pid", str(pid)]
    for window_id in _xdotool(*args).stdout.split():
        window = geometry(window_id)
        if window is not None:
            return window
    return None


def geometry(window_id):
    done = _xdotool("getwindowgeometry", "--shell", window_id)
    if done.returncode != 0:
        return None
    values = dict(line.split("=", 1) for line in done.stdout.split() if "=" in line)
    try:
        return Window(window_id, int(values["X"]), int(values["Y"]), int(values["WIDTH"]),
                      int(values["HEIGHT"]))
    except (KeyError, ValueError):
        return None


def window_pid(window_id):
    done = _xdotool("getwindowpid", window_id)
    return int(done.stdout) if done.returncode == 0 and done.stdout.strip().isdigit() else None


def press(window, key):
    done = _xdotool("key", "--window", window.id, key)
    if done.returncode != 0:
        raise DemoFailure(f"xdotool could not press {key} in window {window.id} "
                          f"({done.stderr.strip() or done.returncode}).")


def screenshot(window, path):
    """Saves the screen area of window as a PNG; False when it could not."""
    crop = f"{window.width}x{window.height}+{max(window.x, 0)}+{max(window.y, 0)}"
    try:
        done = subprocess.run(["import", "-window", "root", "-crop", crop, "+repage", path],
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
    except (FileNotFoundError, subprocess.TimeoutExpired):
        return False
    return done.returncode == 0 and os.path.isfile(path) and os.path.getsize(path) > 0
