"""Releases of the app stand-in, made, published and served with tools/release
exactly as a person shipping Movora runs it."""
import hashlib
import os
import pathlib
import re
import shutil
import subprocess
import sys
import time
import urllib.request

from release_tool.scanner import read_release_list

from .errors import DemoFailure

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RELEASE_TOOL = os.path.join(TOOLS, "release")
# The committed test key pairs: the demo signs with them, and the setup program
# of the test build (test-key/MovoraSetup.exe) trusts both.
TEST_KEYS = os.path.join(os.path.dirname(TOOLS), "tests", "keys")
SIGNING_KEYS = [os.path.join(TEST_KEYS, f"TEST-ONLY-release-signing-key{n}.pem")
                for n in ("", "-2")]
_SERVING = re.compile(r" at (http://127\.0\.0\.1:\d+)/ ")


def _release(*args, what):
    done = subprocess.run([sys.executable, RELEASE_TOOL, *args], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=120)
    for line in (done.stdout + done.stderr).splitlines():
        print(f"    {line}", flush=True)
    if done.returncode != 0:
        raise DemoFailure(f"tools/release could not {what} (exit code {done.returncode}).")
    return done.stdout


def app_folder(work, version, app_exe):
    """A release folder of the app stand-in: Movora.exe, the variant file that
    makes it show this version, and a file one folder down."""
    folder = os.path.join(work, f"app-{version}")
    os.makedirs(os.path.join(folder, "data"))
    shutil.copyfile(app_exe, os.path.join(folder, "Movora.exe"))
    with open(os.path.join(folder, "Movora.variant"), "w") as variant:
        variant.write(f"version {version}\n")
    with open(os.path.join(folder, "data", "release.txt"), "w") as note:
        note.write(f"Movora stand-in {version}\n")
    return folder


def folder_files(folder):
    """{relative path with '/': bytes} of every file below folder."""
    top = pathlib.Path(folder)
    return {path.relative_to(top).as_posix(): path.read_bytes()
            for path in top.rglob("*") if path.is_file()}


def pack(folder, out, setup=None):
    """Packs folder with `tools/release pack`, with the setup program setup
    beside Movora.exe when it is given; the digest it printed."""
    extra = ["--setup", setup] if setup else []
    printed = _release("pack", folder, out, *extra, what=f'pack "{folder}"').split()
    return printed[0] if printed else ""


def public_key(pem):
    """The public key of a key file, as the build takes it."""
    with open(os.path.splitext(pem)[0] + ".pub") as stream:
        return stream.read().strip()


def publish(tree, version, package, base_url, notes, sha256, key):
    """Publishes the package with `tools/release publish`, the list signed
    with key (a committed test key, so the publish is told it is a test)."""
    _release("publish", "--tree", tree, "--version", version, "--package", package,
             "--base-url", base_url, "--notes", notes, "--sha256", sha256,
             "--signing-key", key, "--allow-test-key", what=f"publish release {version}")


def verify(feed):
    """Checks the served list's signature with `tools/release verify` as the
    test build checks it (either test key)."""
    keys = [part for pem in SIGNING_KEYS for part in ("--public-key", public_key(pem))]
    _release("verify", *keys, feed, what=f"verify the list served at {feed}")


class Server:
    """`tools/release serve <tree> --port 0` in a process of its own; its
    request log goes to log_path."""

    def __init__(self, tree, log_path):
        os.makedirs(tree, exist_ok=True)
        self.log_path = log_path
        self.log = open(log_path, "wb")
        self.process = subprocess.Popen(
            [sys.executable, RELEASE_TOOL, "serve", tree, "--port", "0"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=self.log)
        first = b""
        deadline = time.monotonic() + 20
        # The address is the first line it prints.
        while not first.endswith(b"\n") and time.monotonic() < deadline:
            byte = self.process.stdout.read(1)
            if not byte:
                break
            first += byte
        match = _SERVING.search(first.decode("utf-8", "replace"))
        if match is None:
            self.stop()
            raise DemoFailure(f"tools/release serve did not start (it printed "
                              f"\"{first.decode('utf-8', 'replace').strip()}\"; "
                              f"see {log_path}).")
        self.origin = match.group(1)
        self.feed = f"{self.origin}/releases/latest.json"

    def requested(self):
        """What the server has logged so far: a line per request."""
        with open(self.log_path, "rb") as log:
            return log.read().decode("utf-8", "replace")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        self.log.close()


def fetch(url):
    try:
        with urllib.request.urlopen(url, timeout=20) as answer:
            return answer.read()
    except OSError as error:
        raise DemoFailure(f"Could not download {url} from the release server ({error}).") from None


def check_served(server, version, package_path):
    """Reads the served list as the setup program reads it and downloads the
    package it names: the list must name this version's package, its sha256
    must be the package's, and the served bytes must be the packed ones.
    Returns the list's values."""
    values = read_release_list(fetch(server.feed))
    expected_url = f"{server.origin}/releases/Movora-{version}.zip"
    if values["version"] != version or values["package"] != expected_url:
        raise DemoFailure(f'The served release list names version "{values["version"]}" at '
                          f'"{values["package"]}" instead of {version} at {expected_url}.')
    check_package_bytes(values["package"], package_path, values["sha256"])
    return values


def check_package_bytes(url, package_path, listed_sha256):
    served = fetch(url)
    with open(package_path, "rb") as stream:
        packed = stream.read()
    if served != packed:
        raise DemoFailure(f"The package served at {url} ({len(served)} bytes) is not the packed "
                          f"file {package_path} ({len(packed)} bytes).")
    digest = hashlib.sha256(served).hexdigest()
    if listed_sha256 != digest:
        raise DemoFailure(f'The release list gives the checksum "{listed_sha256}", but the '
                          f"package at {url} has {digest}.")

