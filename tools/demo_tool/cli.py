"""The demo: a real install of a published release, then an update over the
running app, with the real setup program under Wine.

Runs inside a test environment (tools/test/with-test-env: WINEPREFIX, HOME,
DISPLAY and a running wineserver); tools/demo sets one up and builds first.
"""
import argparse
import glob
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

from release_tool.scanner import read_release_list

from . import checks, releases, screen, wine
from .errors import DemoFailure, wait_for
from .setup_run import SetupRun

FIRST, SECOND = "1.0.0", "1.1.0"
NOTES = {
    FIRST: "The first release of the stand-in app, served from a local release tree.",
    SECOND: "A second release, published to the same tree: installed over the running app.",
}
APP_TITLE = "^Movora$"
# What a setup program built with release keys says of a list they did not sign.
NOT_SIGNED = "The release list is not signed by Movora."

# Seconds each step may take without a person; with one (--show), the steps
# that wait for a click wait this long instead.
STEP = {"window": 30, "ready": 30, "install": 90, "exit": 30, "app": 30, "update": 90,
        "refused": 30}
PERSON = 30 * 60


def parser():
    top = argparse.ArgumentParser(
        prog="demo", description="Installs a release published by tools/release with the real "
        "MovoraSetup.exe under Wine, then updates it over the running app.")
    top.add_argument("--show", action="store_true",
                     help="open the windows on this display for you to click through")
    top.add_argument("--bin", required=True,
                     help="folder with Movora.exe and tar.exe (and test-key/MovoraSetup.exe)")
    top.add_argument("--setup", help="the setup program to run (default: "
                     "BIN/test-key/MovoraSetup.exe, the build that trusts the test keys)")
    top.add_argument("--keyless", action="store_true",
                     help="the setup program is built without release keys and checks no "
                          "signature: skip the step that shows a changed list refused")
    top.add_argument("--out", required=True, help="folder for screenshots and logs")
    return top


def say(text):
    print(f"demo: {text}", flush=True)


def shown(path):
    """path relative to the current folder when it lies below it (tools/demo
    runs from the checkout's top), else as it is."""
    relative = os.path.relpath(path)
    return path if relative.startswith("..") else relative


class Demo:
    def __init__(self, args):
        self.show = args.show
        self.bin = os.path.abspath(args.bin)
        self.out = os.path.abspath(args.out)
        self.setup_exe = os.path.abspath(args.setup) if args.setup else \
            os.path.join(self.bin, "test-key", "MovoraSetup.exe")
        self.keyless = args.keyless
        # The packages carry the setup program that runs the demo, which every
        # install makes the setup copy; not one without keys, which the tool
        # refuses to ship in a signed release.
        self.carried_setup = None if self.keyless else self.setup_exe
        self.app_exe = os.path.join(self.bin, "Movora.exe")
        self.prefix = None
        self.work = None
        self.server = None
        self.runs = []
        self.started_apps = []
        self.placed_tar = False
        self.owns_install = False
        self.screenshots = []
        self.first_sha256 = ""

    # Steps ---------------------------------------------------------------

    def prepare(self):
        for name in ("WINEPREFIX", "DISPLAY", "MOVORA_TEST_RUN_DIR"):
            if not os.environ.get(name):
                raise DemoFailure(f"{name} is not set: run the demo as tools/demo, which gives it "
                                  "a test environment.")
        for exe in (self.setup_exe, self.app_exe, os.path.join(self.bin, "tar.exe")):
            if not os.path.isfile(exe):
                raise DemoFailure(f'There is no "{exe}": build the MovoraSetupTestKey, '
                                  "MovoraApp and TarStandIn targets of the mingw-test preset "
                                  "first.")
        os.makedirs(self.out, exist_ok=True)
        for old in glob.glob(os.path.join(self.out, "*.png")) + \
                glob.glob(os.path.join(self.out, "*.log")):
            os.remove(old)
        self.prefix = wine.Prefix()
        say(f"Wine prefix {self.prefix.root}, home {os.environ['HOME']}, "
            f"display {os.environ['DISPLAY']}")
        self.refuse_existing_install()
        self.owns_install = True
        self.placed_tar = not os.path.exists(self.prefix.system_tar)
        wine.run([os.path.join(releases.TOOLS, "test", "install-tar-standin"), self.bin],
                 "put the tar stand-in into the prefix's system folder")
        self.work = tempfile.mkdtemp(prefix="demo-", dir=os.environ["MOVORA_TEST_RUN_DIR"])
        self.server = releases.Server(os.path.join(self.work, "site"),
                                      os.path.join(self.out, "serve.log"))
        say(f"release server (tools/release serve) at {self.server.origin}/, "
            f"log in {shown(os.path.join(self.out, 'serve.log'))}")

    def refuse_existing_install(self):
        found = [p for p in (self.prefix.install_root, *self.prefix.shortcuts)
                 if os.path.exists(self.prefix.host(p))]
        if wine.reg_values(wine.UNINSTALL_KEY) is not None:
            found.append(wine.UNINSTALL_KEY)
        if found:
            raise DemoFailure("This Wine prefix already has Movora installed "
                              f"({', '.join(found)}); the demo needs one without it and "
                              "leaves it so.")

    def publish(self, version, key):
        folder = releases.app_folder(self.work, version, self.app_exe)
        package = os.path.join(self.work, f"Movora-{version}.zip")
        if self.carried_setup:
            say(f"release {version}: packing the app stand-in with {shown(self.setup_exe)} "
                "beside it (tools/release pack --setup)")
        else:
            say(f"release {version}: packing the app stand-in without a setup program: a "
                "signed release may not carry one built without keys (tools/release pack)")
        digest = releases.pack(folder, package, self.carried_setup)
        say(f"release {version}: publishing it into the tree, the list signed with "
            f"{os.path.basename(key)} (tools/release publish)")
        releases.publish(os.path.join(self.work, "site"), version, package, self.server.origin,
                         NOTES[version], digest, key)
        values = releases.check_served(self.server, version, package)
        say(f"the served list names {values['package']} with sha256 {values['sha256'][:16]}..., "
            "and the served package matches it byte for byte")
        say("checking the served list's signature (tools/release verify)")
        releases.verify(self.server.feed)
        return folder, package, values

    def start_setup(self, exe, args, name):
        log = os.path.join(self.out, f"{name}.log")
        say(f"starting {os.path.basename(exe)} {' '.join(args)} (text trace in {shown(log)})")
        run = SetupRun(exe, args, log, lambda text: print(f"    status: {text}", flush=True))
        self.runs.append(run)
        return run

    def capture(self, window, name, required=True):
        path = os.path.join(self.out, f"{name}.png")
        time.sleep(0.3)  # the trace is written while painting, before the copy to the screen
        if screen.screenshot(window, path):
            self.screenshots.append(path)
            say(f"screenshot {shown(path)}")
        elif required:
            raise DemoFailure(f"ImageMagick's import could not save the screenshot {path}.")

    def click(self, window, label):
        if self.show:
            say(f'click "{label}" in the setup window')
        else:
            say(f'pressing Enter ("{label}")')
            screen.press(window, "Return")

    def wait_for_app(self, version, run, exclude=()):
        """The app's host process and window once the given version runs from
        the app folder (the run's trace shows what the new app drew)."""
        def running():
            pids = [p for p in wine.processes_inside(self.prefix.app_folder) if p not in exclude]
            if not pids:
                return None
            window = screen.find_window(APP_TITLE)
            if window is None or screen.window_pid(window.id) not in pids:
                return None
            run.follower.poll()
            return (window, pids) if run.follower.has_drawn(f"Movora {version}") else None
        window, pids = wait_for(f"Movora {version} to run from the app folder", running,
                                STEP["app"])
        say(f"Movora {version} runs from {self.prefix.app_folder} (host process {pids[0]})")
        return window, pids

    def refuse_changed_list(self):
        """Someone who can change files on the server puts a package of their
        own there and points the signed list at it, with its checksum: the
        setup program refuses the list and downloads nothing. The signed list
        is then put back."""
        if self.keyless:
            say("this setup program is built without release keys and checks no signature: "
                "skipping the changed-list step")
            return
        releases_folder = os.path.join(self.work, "site", "releases")
        list_path = os.path.join(releases_folder, "latest.json")
        with open(list_path, "rb") as stream:
            signed = stream.read()
        values = read_release_list(signed)
        changed_name = f"Movora-{FIRST}-changed.zip"
        changed_package = os.path.join(releases_folder, changed_name)
        with zipfile.ZipFile(changed_package, "w") as archive:
            archive.writestr("Movora.exe", b"not the Movora team's app")
        with open(changed_package, "rb") as stream:
            changed_sha256 = hashlib.sha256(stream.read()).hexdigest()
        changed_url = f"{self.server.origin}/releases/{changed_name}"
        with open(list_path, "wb") as stream:
            stream.write(signed.replace(values["package"].encode(), changed_url.encode())
                         .replace(values["sha256"].encode(), changed_sha256.encode()))
        say(f"changing the signed list on the server: its package is now {changed_name}, "
            "a zip of someone else's, with that zip's sha256")
        run = self.start_setup(self.setup_exe, ["--feed", self.server.feed], "0-changed-list")
        window = run.wait_for_window(STEP["window"])
        if window is None:
            raise DemoFailure(f"MovoraSetup.exe ended (exit code {run.process.returncode}) "
                              "before its window opened.")
        run.wait_for_refusal(NOT_SIGNED, STEP["refused"])
        self.capture(window, "0-changed-list-refused")
        requests = self.server.requested()
        if changed_name in requests:
            raise DemoFailure(f"The setup program downloaded {changed_name} from a list that "
                              "failed its signature check.")
        if "/releases/latest.json" not in requests:
            raise DemoFailure("The release server logged no request for the list.")
        say(f"the window refused the changed list, and {changed_name} was never requested")
        say("closing the window (Escape) and putting the signed list back")
        screen.press(window, "Escape")
        code = run.wait_for_exit("the setup window to close", STEP["exit"])
        if code != 0:
            raise DemoFailure(f"MovoraSetup.exe ended with exit code {code} instead of 0.")
        with open(list_path, "wb") as stream:
            stream.write(signed)
        os.remove(changed_package)

    def install(self):
        folder, _, values = self.publish(FIRST, releases.SIGNING_KEYS[0])
        self.first_sha256 = values["sha256"]
        self.refuse_changed_list()
        run = self.start_setup(self.setup_exe, ["--feed", self.server.feed], "1-install")
        window = run.wait_for_window(STEP["window"])
        if window is None:
            raise DemoFailure(f"MovoraSetup.exe ended (exit code {run.process.returncode}) "
                              "before its window opened.")
        run.wait_for_status("Ready to install.", STEP["ready"])
        if not run.follower.has_drawn(f"Version {FIRST}"):
            raise DemoFailure(f'The setup window does not show "Version {FIRST}" from the list.')
        self.capture(window, "1-ready")
        self.click(window, "Install")
        run.wait_for_status("Movora is installed.", PERSON if self.show else STEP["install"])
        self.capture(window, "2-installed")
        say("checking the install")
        checks.check_install(self.prefix, FIRST, folder, self.setup_exe, self.carried_setup)
        self.click(window, "Open Movora")
        code = run.wait_for_exit("the setup window to close",
                                 PERSON if self.show else STEP["exit"])
        if code != 0:
            raise DemoFailure(f"MovoraSetup.exe ended with exit code {code} instead of 0.")
        if self.show and not wine.processes_inside(self.prefix.app_folder):
            say("the app is not running (the window was closed); starting it for the update")
            self.start_app(run)
        window, _ = self.wait_for_app(FIRST, run)
        self.capture(window, f"3-app-{FIRST}")

    def start_app(self, run):
        # By its Windows path, from its folder, as the setup program starts it.
        app = subprocess.Popen(["wine", self.prefix.app_exe], cwd=self.prefix.host(
                               self.prefix.app_folder), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=run.log,
                               env=dict(os.environ, WINEDEBUG="-all,trace+text"))
        self.started_apps.append(app)

    def update(self):
        # Signed with the second key, as after a rotation: the program trusts both.
        folder, _, _ = self.publish(SECOND, releases.SIGNING_KEYS[1])
        # A client that read the old list can still download its package.
        old_package = os.path.join(self.work, f"Movora-{FIRST}.zip")
        releases.check_package_bytes(f"{self.server.origin}/releases/Movora-{FIRST}.zip",
                                     old_package, self.first_sha256)
        say(f"the package of {FIRST} is still served as it was")
        old_pids = wine.processes_inside(self.prefix.app_folder)
        # As the app does it: the setup copy in the install root, with --update.
        run = self.start_setup(self.prefix.host(self.prefix.setup_copy),
                               ["--update", "--feed", self.server.feed], "2-update")
        window = run.wait_for_window(STEP["window"])
        if window is not None:
            run.status.poll()
            self.capture(window, "4-updating", required=False)
        code = run.wait_for_exit("the update window to close by itself", STEP["update"])
        if code != 0:
            raise DemoFailure(f"The update ended with exit code {code} instead of 0.")
        say("the update window closed by itself")
        if not run.status.lines:
            raise DemoFailure("The update window drew no status line.")
        still = [pid for pid in old_pids if wine.is_running(pid)]
        if still:
            raise DemoFailure(f"Movora {FIRST} (host process {still[0]}) still runs after the "
                              "update.")
        say(f"Movora {FIRST} has quit")
        window, _ = self.wait_for_app(SECOND, run, exclude=old_pids)
        say("checking the update")
        checks.check_install(self.prefix, SECOND, folder, self.setup_exe, self.carried_setup)
        if self.carried_setup:
            checks.check_replaced_while_running(self.prefix)
        self.capture(window, f"5-app-{SECOND}")

    def let_person_look(self):
        if self.show and sys.stdin.isatty():
            say(f"Movora {SECOND} is running; press Enter to end the demo and clean up")
            sys.stdin.readline()

    # Clean-up ------------------------------------------------------------

    def capture_failure(self):
        for run in reversed(self.runs):
            if run.window is not None and not run.exited():
                self.capture(run.window, "failure", required=False)
                return

    def clean_up(self):
        """Leaves the prefix as it was found: no setup or app process, no
        install root, Uninstall entry, shortcuts or tar stand-in of ours."""
        if self.server is not None:
            self.server.stop()
        for run in self.runs:
            run.stop()
        for app in self.started_apps:
            if app.poll() is None:
                app.kill()
                app.wait()
        if self.prefix is not None and self.owns_install:
            apps = wine.processes_inside(self.prefix.install_root)
            wine.kill(apps)
            try:
                wait_for("the app to end", lambda: not any(wine.is_running(p) for p in apps), 10)
                root = self.prefix.host(self.prefix.install_root)
                if os.path.basename(root) == "Movora" and \
                        root.startswith(os.path.realpath(self.prefix.root) + os.sep):
                    shutil.rmtree(root, ignore_errors=True)
                for link in self.prefix.shortcuts:
                    host = self.prefix.host(link)
                    if os.path.lexists(host):
                        os.remove(host)
            except DemoFailure as failure:
                print(f"demo: clean-up: {failure}", file=sys.stderr)
            wine.reg_delete(wine.UNINSTALL_KEY)
        if self.placed_tar and os.path.exists(self.prefix.system_tar):
            os.remove(self.prefix.system_tar)
        if self.work is not None:
            shutil.rmtree(self.work, ignore_errors=True)


def main(argv=None):
    args = parser().parse_args(argv)
    started = time.monotonic()
    demo = Demo(args)
    code = 0
    try:
        demo.prepare()
        demo.install()
        demo.update()
        demo.let_person_look()
    except DemoFailure as failure:
        demo.capture_failure()
        print(f"demo: FAILED: {failure}", file=sys.stderr, flush=True)
        code = 1
    except KeyboardInterrupt:
        print("demo: interrupted", file=sys.stderr, flush=True)
        code = 130
    finally:
        demo.clean_up()
    if code == 0:
        signed = "an unchecked signed tree" if args.keyless else \
            "a signed tree (a changed list refused)"
        say(f"done in {time.monotonic() - started:.0f} s: Movora {FIRST} installed from "
            f"{signed} and updated to {SECOND} over the running app; "
            f"{len(demo.screenshots)} screenshots in {shown(demo.out)}")
    return code


if __name__ == "__main__":
    sys.exit(main())
