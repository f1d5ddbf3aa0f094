"""The Wine prefix seen from the host: its folders, its registry and its
processes, each through Wine's own tools (winepath, reg) or /proc."""
import os
import re
import signal
import subprocess

from .errors import DemoFailure

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Movora"
SHELL_FOLDERS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders"
# "    DisplayVersion    REG_SZ    1.0.0"; value names may hold single spaces.
_REG_VALUE = re.compile(r"^ {4}(.+?) {4}(REG_[A-Z_]+)(?: {4}(.*))?$")


def run(args, what, timeout=60):
    """Runs a host command quietly; its standard output, or a DemoFailure
    naming `what` when it cannot start, times out or fails."""
    try:
        done = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=timeout)
    except FileNotFoundError:
        raise DemoFailure(f"Cannot {what}: {args[0]} is not installed (run tools/bootstrap).") \
            from None
    except subprocess.TimeoutExpired:
        raise DemoFailure(f"Timed out after {timeout} s trying to {what}.") from None
    if done.returncode != 0:
        reason = (done.stderr.strip().splitlines() or [f"exit code {done.returncode}"])[-1]
        raise DemoFailure(f"Could not {what} ({reason}).")
    return done.stdout


def reg_values(key):
    """The values of a registry key as {name: text}; None when the key is absent."""
    done = subprocess.run(["wine", "reg", "query", key], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=60)
    if done.returncode != 0:
        return None
    values = {}
    for line in done.stdout.splitlines():
        match = _REG_VALUE.match(line.rstrip("\r"))
        if match:
            values[match.group(1)] = match.group(3) or ""
    return values


def reg_delete(key):
    subprocess.run(["wine", "reg", "delete", key, "/f"], stdin=subprocess.DEVNULL,
                   capture_output=True, timeout=60)


def host_path(windows_path):
    """The host path of a Windows path of this prefix."""
    return run(["winepath", "-u", windows_path], f'convert "{windows_path}" to a host path') \
        .strip()


def windows_path(host):
    return run(["winepath", "-w", host], f'convert "{host}" to a Windows path').strip()


class Prefix:
    """The account's folders of the current Wine prefix, as Windows paths and
    host paths."""

    def __init__(self):
        self.root = os.environ["WINEPREFIX"]
        folders = reg_values(SHELL_FOLDERS_KEY)
        if not folders:
            raise DemoFailure(f'The Wine prefix "{self.root}" has no shell folders; '
                              "was it created by tools/test/with-test-env?")
        try:
            self.local_appdata = folders["Local AppData"]
            self.programs = folders["Programs"]
            self.desktop = folders["Desktop"]
        except KeyError as missing:
            raise DemoFailure(f"The Wine prefix names no {missing} folder.") from None
        self.install_root = self.local_appdata + "\\Movora"
        self.app_folder = self.install_root + "\\app"
        self.app_exe = self.app_folder + "\\Movora.exe"
        self.setup_copy = self.install_root + "\\MovoraSetup.exe"
        self.shortcuts = [self.programs + "\\Movora.lnk", self.desktop + "\\Movora.lnk"]
        self.system_tar = os.path.join(self.root, "drive_c", "windows", "system32", "tar.exe")

    def host(self, windows):
        return host_path(windows)


def _read(path):
    try:
        with open(path, "rb") as stream:
            return stream.read()
    except OSError:
        return b""


def _alive(pid):
    """True while the process exists and is not a zombie."""
    stat = _read(f"/proc/{pid}/stat")
    return bool(stat) and stat.rsplit(b")", 1)[-1].split()[0:1] != [b"Z"]


def processes_inside(folder):
    """Host process ids of this prefix's processes whose executable lies in the
    Windows folder (letter case ignored, as Windows compares paths)."""
    prefix = os.environ["WINEPREFIX"].encode()
    inside = folder.rstrip("\\").lower() + "\\"
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        image = _read(f"/proc/{entry}/cmdline").split(b"\0", 1)[0].decode("utf-8", "replace")
        if not image.lower().startswith(inside):
            continue
        if b"WINEPREFIX=" + prefix not in _read(f"/proc/{entry}/environ").split(b"\0"):
            continue
        if _alive(entry):
            found.append(int(entry))
    return found


def is_running(pid):
    return _alive(pid)


def kill(pids):
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
