"""How the demo fails, and waiting with a deadline."""
import time


class DemoFailure(Exception):
    """Raised with one sentence that says what went wrong or what is missing."""


def wait_for(what, probe, timeout, interval=0.1, detail=None):
    """Calls probe until it returns something true and returns that; raises a
    DemoFailure naming `what` when timeout seconds pass first, with the clause
    that detail() returns (if any) added."""
    deadline = time.monotonic() + timeout
    while True:
        result = probe()
        if result:
            return result
        if time.monotonic() >= deadline:
            extra = detail() if detail else None
            raise DemoFailure(f"Timed out after {timeout:g} s waiting for {what}"
                              + (f"; {extra}." if extra else "."))
        time.sleep(interval)
