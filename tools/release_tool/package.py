"""Release packages: packing an app folder, checking a package the way the setup
program will use it, and its SHA-256.

The setup program unpacks the package with the tar tool that Windows ships and
then takes the folder that holds "Movora.exe": the top of the package, else
the first direct subfolder (in the order Windows lists them) that holds it.
Only that folder is installed.
"""
import hashlib
import os
import stat
import zipfile

from .errors import Refusal
from .names import windows_name_problem
from .progress import Progress, read_in_chunks
from .setup_program import SETUP_EXE, check_program_file

APP_EXE = "Movora.exe"

# A fixed time for every entry, so the same folder always gives the same bytes
# (the earliest time a zip entry can carry).
FIXED_TIME = (1980, 1, 1, 0, 0, 0)
# MS-DOS attributes, the same on every host: archive for files, folder for folders.
FILE_ATTRIBUTES = 0x20
FOLDER_ATTRIBUTES = 0x10

# Compression methods the Windows tar tool unpacks: stored and deflated.
UNPACKABLE_METHODS = {zipfile.ZIP_STORED: "stored", zipfile.ZIP_DEFLATED: "deflated"}


def sha256_of(path, label="hashing"):
    """Hexadecimal SHA-256 of a file, lowercase, with progress for big files."""
    digest = hashlib.sha256()
    with open(path, "rb") as stream:
        for data in read_in_chunks(stream, f"{label} {os.path.basename(path)}",
                                   os.fstat(stream.fileno()).st_size):
            digest.update(data)
    return digest.hexdigest()


def _windows_order(name):
    # NTFS lists a folder's entries in the order of their upper-cased names.
    return [ord(char) for char in name.upper()]


def _check_names(paths, what):
    """Refuses paths (relative, '/'-separated) that Windows cannot create as
    they are, or that name one file twice once letter case is ignored."""
    seen = {}
    for path in paths:
        for part in path.split("/"):
            problem = windows_name_problem(part)
            if problem is not None:
                raise Refusal(f'The {what} "{path}" {problem}, so Windows could not unpack it.')
        folded = path.lower()
        if folded in seen:
            other = seen[folded]
            if other == path:
                raise Refusal(f'The {what} "{path}" appears twice, '
                              "and Windows would keep only one.")
            raise Refusal(f'The {what}s "{other}" and "{path}" differ only in letter case, '
                          "and Windows would keep only one of them.")
        seen[folded] = path


# ---------------------------------------------------------------------------
# Packing


def _collect(folder):
    """(relative path, full path, is folder) of everything below folder, sorted
    by relative path; refuses links and special files."""
    entries = []
    for root, folders, files in os.walk(folder, followlinks=False):
        for name in folders + files:
            full = os.path.join(root, name)
            relative = os.path.relpath(full, folder).replace(os.sep, "/")
            mode = os.lstat(full).st_mode
            if stat.S_ISLNK(mode):
                raise Refusal(f'"{relative}" in the app folder is a symbolic link, which a package '
                              "cannot carry; copy the file itself in instead.")
            if not (stat.S_ISDIR(mode) or stat.S_ISREG(mode)):
                raise Refusal(f'"{relative}" in the app folder is neither a file nor a folder.')
            entries.append((relative, full, stat.S_ISDIR(mode)))
    entries.sort(key=lambda entry: entry[0])
    return entries


def _is_inside(path, folder):
    path, folder = os.path.realpath(path), os.path.realpath(folder)
    return os.path.commonpath([path, folder]) == folder


def pack(folder, out, setup=None):
    """Writes the zip package of folder to out and returns its SHA-256.

    The folder must hold the app executable at its top. With setup, the
    package also carries that setup program as MovoraSetup.exe beside it,
    which every install of the release makes the setup copy. Entries are
    sorted and carry a fixed time and fixed attributes, so the same folder
    gives the same bytes. The zip is written aside and renamed into place: a
    failed pack leaves no half package at out.
    """
    if not os.path.isdir(folder):
        raise Refusal(f'The app folder "{folder}" does not exist or is not a folder.')
    names = os.listdir(folder)
    top = [name for name in names if name.lower() == APP_EXE.lower()]
    if not top or not os.path.isfile(os.path.join(folder, top[0])):
        raise Refusal(f'The app folder "{folder}" has no file {APP_EXE} at its top, '
                      "and the setup program installs only a folder that holds it.")
    if _is_inside(out, folder):
        raise Refusal(f'The package "{out}" would be written inside the app folder it packs; '
                      "write it somewhere else.")
    entries = _collect(folder)
    if setup is not None:
        check_program_file(setup)
        there = [name for name in names if name.lower() == SETUP_EXE.lower()]
        if there:
            raise Refusal(f'The app folder "{folder}" has a "{there[0]}" of its own already; '
                          f"give the setup program either there or with --setup, not both.")
        entries.append((SETUP_EXE, setup, False))
        entries.sort(key=lambda entry: entry[0])
    _check_names([relative for relative, _, _ in entries], "file")

    total = sum(os.path.getsize(full) for _, full, is_folder in entries if not is_folder)
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    progress = Progress(f"packing {os.path.basename(os.path.abspath(folder))}", total)
    aside = f"{out}.part"
    try:
        with zipfile.ZipFile(aside, "w") as archive:
            for relative, full, is_folder in entries:
                _add_entry(archive, relative, full, is_folder, progress)
        progress.finish()
        os.replace(aside, out)
    finally:
        if os.path.exists(aside):
            os.remove(aside)
    inspect_package(out)
    return sha256_of(out)


def _add_entry(archive, relative, full, is_folder, progress):
    info = zipfile.ZipInfo(relative + ("/" if is_folder else ""), date_time=FIXED_TIME)
    info.create_system = 0  # MS-DOS attributes, whatever the host
    if is_folder:
        info.external_attr = FOLDER_ATTRIBUTES
        archive.writestr(info, b"")
        return
    info.external_attr = FILE_ATTRIBUTES
    info.compress_type = zipfile.ZIP_DEFLATED
    info.file_size = os.path.getsize(full)  # lets zipfile choose Zip64 for big files
    with open(full, "rb") as source, archive.open(info, "w") as target:
        while data := source.read(1024 * 1024):
            target.write(data)
            progress.advance(len(data))


# ---------------------------------------------------------------------------
# Checking a package


class PackageShape:
    """Where the setup program will find the app in a package."""

    def __init__(self, app_folder, warnings, setup_entry=None):
        self.app_folder = app_folder  # "" for the top of the package, else the subfolder's name
        self.warnings = warnings
        # The entry of the setup program beside the app (MovoraSetup.exe), or None.
        self.setup_entry = setup_entry


def _unpacked_name(info):
    """The path (relative, '/'-separated) that unpacking gives an entry: the
    tar tool drops a leading "/" and "." parts and reads "\\" as "/"."""
    name = info.filename.replace("\\", "/")
    return "/".join(part for part in name.split("/") if part not in ("", "."))


def _unpacked_paths(infos):
    """(paths, entries): the paths (relative, '/'-separated) that unpacking
    creates, mapped to whether each is a folder, and each entry's own path;
    refuses what the tar tool would not unpack."""
    paths = {}
    entries = []
    for info in infos:
        name = info.filename.replace("\\", "/")
        unpacked = _unpacked_name(info)
        parts = unpacked.split("/") if unpacked else []
        if ".." in parts:
            raise Refusal(f'The package entry "{info.filename}" steps out of its folder with "..", '
                          "and the Windows tar tool refuses to unpack such a package.")
        if info.flag_bits & 0x1:
            raise Refusal(f'The package entry "{info.filename}" is encrypted, '
                          "and the Windows tar tool cannot unpack it.")
        if info.compress_type not in UNPACKABLE_METHODS:
            raise Refusal(f'The package entry "{info.filename}" uses compression method '
                          f"{info.compress_type}, which the Windows tar tool may not unpack; "
                          "make the package with the pack command.")
        if not parts:
            continue
        entries.append("/".join(parts))
        for depth in range(1, len(parts) + 1):
            path = "/".join(parts[:depth])
            is_folder = depth < len(parts) or name.endswith("/")
            if paths.get(path, is_folder) != is_folder:
                raise Refusal(f'The package entry "{path}" is both a file and a folder.')
            paths[path] = is_folder
    return paths, entries


def _check_contents(archive, path):
    """Reads every entry once, so a damaged package is refused here, not on a
    user's machine."""
    infos = [info for info in archive.infolist() if not info.is_dir()]
    progress = Progress(f"checking {os.path.basename(path)}", sum(i.file_size for i in infos))
    try:
        for info in infos:
            with archive.open(info) as entry:
                while data := entry.read(1024 * 1024):
                    progress.advance(len(data))
    except (zipfile.BadZipFile, OSError, EOFError, ValueError) as error:
        raise Refusal(f'The package "{path}" is damaged ({error}).') from None
    progress.finish()


def inspect_package(path):
    """Checks a package as the setup program will use it and returns its
    PackageShape; refuses a package it could not unpack or in which it would
    not find the app executable."""
    try:
        archive = zipfile.ZipFile(path)
    except FileNotFoundError:
        raise Refusal(f'The package "{path}" does not exist.') from None
    except (zipfile.BadZipFile, OSError) as error:
        raise Refusal(f'The package "{path}" is not a zip file ({error}).') from None
    with archive:
        paths, entries = _unpacked_paths(archive.infolist())
        _check_names(entries, "package entry")
        _check_contents(archive, path)
        entry_of = {_unpacked_name(info).lower(): info.filename for info in archive.infolist()}

    by_folded = {p.lower(): p for p in paths}
    exe = APP_EXE.lower()
    if exe in by_folded:
        if paths[by_folded[exe]]:
            raise Refusal(f'"{by_folded[exe]}" at the top of the package is a folder, not the app.')
        return PackageShape("", [], _setup_entry("", paths, by_folded, entry_of))

    top_folders = sorted((p for p, is_folder in paths.items() if is_folder and "/" not in p),
                         key=_windows_order)
    holders = [f for f in top_folders if f"{f.lower()}/{exe}" in by_folded]
    if not holders:
        deeper = sorted(p for p in paths if p.lower().endswith("/" + exe))
        hint = f' (there is one at "{deeper[0]}", too deep)' if deeper else ""
        raise Refusal(f"The package has no {APP_EXE} at its top or in a folder directly below "
                      f"it{hint}, so the setup program would not find the app.")
    chosen = holders[0]
    found = by_folded[f"{chosen.lower()}/{exe}"]
    if paths[found]:
        raise Refusal(f'"{found}" in the package is a folder, not the app.')
    warnings = []
    if len(holders) > 1:
        others = ", ".join(f'"{f}"' for f in holders[1:])
        warnings.append(f'the folders "{chosen}" and {others} of the package each hold '
                        f'{APP_EXE}; the setup program installs only the first one Windows '
                        f'lists, "{chosen}" on an NTFS volume, and ignores the rest.')
    return PackageShape(chosen, warnings, _setup_entry(chosen, paths, by_folded, entry_of))


def _setup_entry(app_folder, paths, by_folded, entry_of):
    """The entry of the setup program beside the app in app_folder, found as
    Windows finds files (letter case ignored), or None."""
    wanted = f"{app_folder}/{SETUP_EXE}" if app_folder else SETUP_EXE
    found = by_folded.get(wanted.lower())
    if found is None:
        return None
    if paths[found]:
        raise Refusal(f'"{found}" in the package is a folder, not the setup program.')
    return entry_of[found.lower()]
