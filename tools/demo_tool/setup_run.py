"""One run of MovoraSetup.exe under Wine with the text trace on, watched from
the host: its window, the status lines as they appear, its exit."""
import os
import subprocess
import time

from . import screen
from .errors import DemoFailure, wait_for
from .trace import StatusWatch, TraceFollower

SETUP_TITLE = "^Movora Setup$"
# The headline of the phase Failed.
STOPPED_HEADLINE = "Stopped"
READY = "Ready to install."


class SetupRun:
    def __init__(self, exe, args, log_path, on_status):
        self.exe = exe
        self.log_path = log_path
        self.log = open(log_path, "wb")
        env = dict(os.environ, WINEDEBUG="-all,trace+text")
        try:
            # Wine writes the trace to the process's standard error; the app
            # that the setup program starts inherits it.
            self.process = subprocess.Popen(["wine", exe, *args], stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=self.log, env=env)
        except FileNotFoundError:
            self.log.close()
            raise DemoFailure("wine is not installed (run tools/bootstrap).") from None
        self.follower = TraceFollower(log_path)
        self.status = StatusWatch(self.follower, on_status)
        self.window = None

    def exited(self):
        return self.process.poll() is not None

    def wait_for_window(self, timeout):
        """The setup window once it shows; None when the program ended first."""
        def shown():
            if self.exited():
                return "ended"
            return screen.find_window(SETUP_TITLE, self.process.pid)
        found = wait_for("the setup window to open", shown, timeout)
        if found == "ended":
            self.status.poll()
            return None
        self.window = found
        self.status.set_window_size(found.width, found.height)
        self.status.poll()
        return found

    def wait_for_status(self, text, timeout):
        """Prints the status lines until the window shows text. Fails at once
        when the window shows the Failed phase or the program ends, and names
        the last status when the time runs out."""
        mark = len(self.follower.drawn)

        def reached():
            if self.status.poll() == text:
                return True
            self._fail_if_stopped(mark, f'"{text}"')
            if self.exited():
                self.status.poll()
                raise DemoFailure(f"MovoraSetup.exe ended (exit code {self.process.returncode}) "
                                  f'before its window showed "{text}"; the last status was '
                                  f'"{self.status.current}".')
            return False

        wait_for(f'the status "{text}"', reached, timeout, detail=self.last_shown)

    def wait_for_refusal(self, text, timeout):
        """Prints the status lines until the window shows the Failed phase,
        and fails unless its status line is text; fails at once when the
        window gets ready to install instead, or the program ends. For a run
        that has not shown the Failed phase before."""
        def stopped():
            self.status.poll()
            if self.follower.has_drawn(STOPPED_HEADLINE):
                return True
            if self.status.current == READY:
                raise DemoFailure("The setup window got ready to install instead of showing "
                                  f'"{text}".')
            if self.exited():
                raise DemoFailure(f"MovoraSetup.exe ended (exit code {self.process.returncode}) "
                                  f'before its window showed "{text}".')
            return False

        wait_for(f'the status "{text}"', stopped, timeout, detail=self.last_shown)
        time.sleep(0.2)  # the status line comes later in the same paint
        if self.status.poll() != text:
            raise DemoFailure(f'The setup program stopped with "{self.status.current}" instead '
                              f'of "{text}".')

    def wait_for_exit(self, what, timeout):
        """Prints the status lines until the program ends and returns its exit
        code; fails at once when the window shows the Failed phase."""
        mark = len(self.follower.drawn)

        def ended():
            self.status.poll()
            if self.exited():
                return True
            self._fail_if_stopped(mark, "the end of the program")
            return False

        wait_for(what, ended, timeout, detail=self.last_shown)
        self.status.poll()
        return self.process.returncode

    def _fail_if_stopped(self, mark, expected):
        """Raises when the window drew the Failed phase's headline after the
        mark-th text, with the status line of that paint."""
        if not any(d.text == STOPPED_HEADLINE for d in self.follower.drawn[mark:]):
            return
        time.sleep(0.2)  # the status line comes later in the same paint
        self.status.poll()
        raise DemoFailure(f'The setup program stopped with "{self.status.current}" instead of '
                          f"{expected}.")

    def last_shown(self):
        current = self.status.current
        return f'the window last showed "{current}"' if current else None

    def stop(self):
        if not self.exited():
            self.process.kill()
            self.process.wait()
        self.log.close()
