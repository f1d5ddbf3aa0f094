"""How the tool refuses and warns.

A refusal is one complete sentence for the person shipping the release; the
command prints it and exits non-zero, having written nothing it was asked to
publish. A warning is printed and the work goes on.
"""
import sys


class Refusal(Exception):
    """Raised with one sentence that says what is wrong and, where it helps, what to do."""


class MissingTool(Refusal):
    """A refusal because a command the tool runs is not installed: it says so,
    and is never taken for a verdict on what that command was given."""


def warn(sentence):
    print(f"release: warning: {sentence}", file=sys.stderr, flush=True)
