"""What an install must have left in the prefix, checked from the host: the
app folder as packed, the setup copy, the Uninstall entry and both shortcuts."""
import os

from . import wine
from .errors import DemoFailure
from .releases import folder_files


def _ok(text):
    print(f"    ok  {text}", flush=True)


def _same_path(a, b):
    return a.rstrip("\\").lower() == b.rstrip("\\").lower()


def _read(path):
    with open(path, "rb") as stream:
        return stream.read()


def check_app_folder(prefix, release_folder, carried_setup=None):
    """The app folder holds exactly the files of the release folder, byte for
    byte, with the setup program carried beside Movora.exe when there is one,
    and no staging or previous folder is left beside it."""
    installed = folder_files(prefix.host(prefix.app_folder))
    packed = folder_files(release_folder)
    if carried_setup:
        packed["MovoraSetup.exe"] = _read(carried_setup)
    if installed != packed:
        missing = sorted(set(packed) - set(installed))
        extra = sorted(set(installed) - set(packed))
        changed = sorted(n for n in set(packed) & set(installed) if packed[n] != installed[n])
        raise DemoFailure(f'The app folder "{prefix.app_folder}" is not the release as packed '
                          f"(missing {missing or 'nothing'}, extra {extra or 'nothing'}, "
                          f"different {changed or 'nothing'}).")
    root = prefix.host(prefix.install_root)
    left = [name for name in ("staging", "app.previous")
            if os.path.exists(os.path.join(root, name))]
    if left:
        raise DemoFailure(f'The install left {" and ".join(left)} in "{prefix.install_root}".')
    _ok(f"app folder {prefix.app_folder}: {', '.join(sorted(packed))}, as packed")


def check_setup_copy(prefix, setup_exe, carried_setup=None):
    """The setup copy is the program the package carries, else the one that
    ran the install."""
    expected = _read(carried_setup or setup_exe)
    try:
        same = _read(prefix.host(prefix.setup_copy)) == expected
    except FileNotFoundError:
        raise DemoFailure(f'There is no setup copy "{prefix.setup_copy}".') from None
    source = "the package's MovoraSetup.exe" if carried_setup else "the program that ran"
    if not same:
        raise DemoFailure(f'The setup copy "{prefix.setup_copy}" differs from {source}.')
    _ok(f"setup copy {prefix.setup_copy}, a copy of {source}")


def check_replaced_while_running(prefix):
    """The setup copy that ran the update was renamed aside and replaced; the
    file aside stays until a later run, since it was running."""
    aside = prefix.install_root + "\\MovoraSetup.old"
    if not os.path.isfile(prefix.host(aside)):
        raise DemoFailure(f'The setup copy that ran the update was not moved aside to "{aside}".')
    _ok(f"the setup copy that ran the update was replaced while it ran; it waits as {aside} "
        "until the next run")


def check_uninstall_entry(prefix, version):
    values = wine.reg_values(wine.UNINSTALL_KEY)
    if values is None:
        raise DemoFailure(f"There is no Uninstall entry {wine.UNINSTALL_KEY}.")
    expected = {
        "DisplayName": "Movora",
        "DisplayVersion": version,
        "InstallLocation": prefix.app_folder,
        "DisplayIcon": prefix.app_exe + ",0",
        "UninstallString": f'"{prefix.setup_copy}" --uninstall',
    }
    for name, value in expected.items():
        found = values.get(name)
        if found is None or not _same_path(found, value):
            raise DemoFailure(f'The Uninstall entry has {name} "{found}" instead of "{value}".')
    _ok(f"Uninstall entry: DisplayVersion {version}, InstallLocation {prefix.app_folder}, "
        f"UninstallString {expected['UninstallString']}")


def check_shortcuts(prefix):
    """Both shortcuts exist and point at the app executable; the desktop one
    lies in the throwaway home, never the person's own."""
    target = prefix.app_exe.lower()
    for link in prefix.shortcuts:
        host = prefix.host(link)
        try:
            with open(host, "rb") as stream:
                data = stream.read().lower()
        except FileNotFoundError:
            raise DemoFailure(f'There is no shortcut "{link}".') from None
        if target.encode("utf-16-le") not in data and target.encode("latin-1") not in data:
            raise DemoFailure(f'The shortcut "{link}" does not point at "{prefix.app_exe}".')
        _ok(f"shortcut {link} -> {prefix.app_exe} (on the host: {os.path.realpath(host)})")
    home = os.path.realpath(os.environ["HOME"])
    desktop = os.path.realpath(prefix.host(prefix.shortcuts[1]))
    if not desktop.startswith(home + os.sep):
        raise DemoFailure(f'The desktop shortcut landed in "{desktop}", outside the throwaway '
                          f'home "{home}".')


def check_install(prefix, version, release_folder, setup_exe, carried_setup=None):
    check_app_folder(prefix, release_folder, carried_setup)
    check_setup_copy(prefix, setup_exe, carried_setup)
    check_uninstall_entry(prefix, version)
    check_shortcuts(prefix)
