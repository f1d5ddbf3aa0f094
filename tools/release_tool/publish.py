"""Publishing a release into a static tree:

    <tree>/releases/Movora-<version>.zip   the package, never changed once published
    <tree>/releases/latest.json            the release list, replaced atomically

Any static host serves the tree as the release server origin and mirrors the
same paths as the download origin. The package lands before the list names it,
and the list is written aside and renamed over the old one, so a client reads
either the old list or the new one, and both name a package that is there.
"""
import hashlib
import os
import re
import tempfile
import urllib.parse

from . import setup_program, signing
from .errors import Refusal, warn
from .names import version_problem
from .package import inspect_package, sha256_of
from .progress import read_in_chunks
from .release_list import build_document, cut_warning, prepare_notes
from .urlrule import DEFAULT_PORTS, NEEDS_HTTPS, check_download_url, fragment_problem, split_url

RELEASES = "releases"
LIST_NAME = "latest.json"


def package_name(version):
    """The package's file name in the tree, the same name the setup program
    gives the download."""
    return f"Movora-{version}.zip"


def package_url(base_url, version):
    """The absolute package URL for a tree served at base_url; refuses a base
    URL, or a resulting URL, that the setup program would not download from."""
    if not base_url:
        raise Refusal("Give the address the tree is served from with --base-url, "
                      "for example https://releases.example.com.")
    if not base_url.isascii() or any(c.isspace() or c in '"<>\\' or ord(c) < 0x20
                                     for c in base_url):
        raise Refusal(f'The base URL "{base_url}" has to be plain ASCII without spaces, quotes or '
                      "backslashes (punycode host names, percent-encoded paths).")
    parts = split_url(base_url)
    if parts is not None and parts[1] is not None:
        raise Refusal(f'The base URL "{base_url}" carries a user name or password, which the '
                      "setup program never sends.")
    url = (base_url.rstrip("/") + f"/{RELEASES}/"
           + urllib.parse.quote(package_name(version), safe=""))
    fragment = fragment_problem(url)
    if fragment is not None:
        raise Refusal(f'The base URL "{base_url}" gives the package URL "{url}", and {fragment}.')
    if parts is not None and parts[5]:
        raise Refusal(f'The base URL "{base_url}" carries a query; give the address of the '
                      "tree's top folder only.")
    rule = check_download_url(url)
    if rule == NEEDS_HTTPS:
        raise Refusal(f'The package URL "{url}" would be refused by the setup program ("{rule}"); '
                      "use https://, or plain http:// only for localhost or 127.0.0.1.")
    if rule is not None:
        raise Refusal(f'The package URL "{url}" would be refused by the setup program ("{rule}"); '
                      "check the base URL.")
    return url


def origin_spelling_warning(base_url):
    """A warning when base_url is not written as the build writes its origins
    (lower-case scheme and host, no default port), else None.

    The setup program moves a package URL to the download origin, its
    fallback, only when the URL holds the release server origin exactly as the
    build spells it (a case-sensitive text match), and the build's origins are
    written in that canonical form. The tool cannot see the build, so it asks
    for the canonical form. A trailing slash does no harm: the package URL is
    written without it.
    """
    trimmed = base_url.rstrip("/")
    parts = split_url(trimmed)
    if parts is None:
        return None
    scheme, _, host, port, path, _ = parts
    scheme = scheme.lower()
    canonical_port = (port.lstrip("0") or "0") if port else ""
    if canonical_port == DEFAULT_PORTS.get(scheme):
        canonical_port = ""
    canonical = f"{scheme}://{host.lower()}" + (f":{canonical_port}" if canonical_port else "") \
        + path
    if canonical == trimmed:
        return None
    return (f'the base URL "{base_url}" is not written as the build writes its origins '
            f'(lower-case scheme and host, no default port: "{canonical}"); the setup program '
            "retries a failed download on the download origin only when the package URL holds "
            "the release server origin exactly as the build spells it, so give --base-url as "
            "the build's MOVORA_RELEASE_SERVER_ORIGIN.")


def normalised_checksum(text):
    """An expected SHA-256 as 64 lowercase hexadecimal digits; refuses anything else."""
    digest = text.strip().lower()
    if not re.fullmatch(r"[0-9a-f]{64}", digest):
        raise Refusal(f'The expected checksum "{text}" is not 64 hexadecimal digits.')
    return digest


def _sync_folder(folder):
    # Makes the rename itself durable; not every platform can open a folder.
    try:
        descriptor = os.open(folder, os.O_RDONLY)
    except OSError:
        return
    try:
        os.fsync(descriptor)
    except OSError:
        pass
    finally:
        os.close(descriptor)


def replace_atomically(path, fill):
    """Writes a file aside in path's folder with fill(stream), flushes it to
    disk and renames it over path. Readers see the old file or the new one,
    never a part; a failure leaves path as it was and removes the aside file."""
    folder = os.path.dirname(path) or "."
    descriptor, aside = tempfile.mkstemp(dir=folder, prefix=f".{os.path.basename(path)}.",
                                         suffix=".part")
    try:
        with os.fdopen(descriptor, "wb") as stream:
            fill(stream)
            stream.flush()
            os.fsync(stream.fileno())
        # mkstemp makes the file private; a web server has to read it.
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(aside, 0o666 & ~umask)
        os.replace(aside, path)
    except BaseException:
        if os.path.exists(aside):
            os.remove(aside)
        raise
    _sync_folder(folder)


def place_package(source, target, sha256, version):
    """Copies the package to target unless the very same bytes are there. A
    published package never changes: different bytes under the same version
    are refused. Refuses a source that changed since it was checked."""
    if os.path.exists(target):
        if os.path.samefile(source, target) or sha256_of(target, "comparing") == sha256:
            return False
        raise Refusal(f'"{target}" already holds a different package for version {version}; '
                      "clients may have its checksum already, so publish a new version.")

    def copy(stream):
        digest = hashlib.sha256()
        with open(source, "rb") as package:
            for data in read_in_chunks(package, f"copying {os.path.basename(source)}",
                                       os.fstat(package.fileno()).st_size):
                digest.update(data)
                stream.write(data)
        if digest.hexdigest() != sha256:
            raise Refusal(f'The package "{source}" changed while it was being published; '
                          "publish it again.")

    replace_atomically(target, copy)
    return True


class Published:
    def __init__(self, version, url, sha256, package_path, list_path, app_folder, copied,
                 signed_by, setup=""):
        self.version = version
        self.url = url
        self.sha256 = sha256
        self.package_path = package_path
        self.list_path = list_path
        self.app_folder = app_folder
        self.copied = copied
        self.signed_by = signed_by  # the public key text, None for an unsigned list
        self.setup = setup  # what the package carries as its setup program, in words


def signing_key_for(path, allow_test_key=False, public_keys=()):
    """The signing key in path, refused unless it can sign for a release: a
    committed test key only with allow_test_key, and, when the public keys the
    program is built with are given, only a key among them."""
    key = signing.load_signing_key(path)
    if key.test_key_name is not None and not allow_test_key:
        raise Refusal(f'The signing key "{path}" is the test key {key.test_key_name}, whose '
                      "private half is public in this repository, so its signature proves "
                      "nothing; sign with the team's own key, or pass --allow-test-key for a "
                      "test or the demo.")
    points = [signing.parse_public_key(text) for text in public_keys]
    if points and key.point not in points:
        raise Refusal(f'The signing key "{path}" has the public key {key.public_key}, which is '
                      "not one of the given public keys, so a program built with them would "
                      "refuse the list.")
    return key


def publish(tree, version, package, base_url, notes="", expected_sha256=None, report=warn,
            key=None, allow_test_key=False):
    """Publishes package as version into tree and returns what it wrote; with
    key (from signing_key_for) the list carries its signature, and the setup
    program the package carries must trust key and, unless allow_test_key, no
    test key.

    Everything is checked before anything is written: a refusal leaves the
    tree as it was. Warnings go to report once every check has passed.
    """
    problem = version_problem(version)
    if problem is not None:
        raise Refusal(problem)
    if not tree:
        raise Refusal("Give the top folder of the static tree with --tree.")
    if not package:
        raise Refusal("Give the package to publish with --package.")
    url = package_url(base_url, version)
    spelling = origin_spelling_warning(base_url)
    expected = normalised_checksum(expected_sha256) if expected_sha256 is not None else None
    notes, warnings = prepare_notes(notes)
    warnings += [spelling] if spelling else []
    cut = cut_warning(notes)
    warnings += [cut] if cut else []
    shape = inspect_package(package)
    warnings += shape.warnings
    if key is not None:
        warnings += setup_program.check_for_signing(package, shape.setup_entry, key,
                                                    allow_test_key)
    if key is not None and key.test_key_name is not None:
        warnings.append(f"signing with the test key {key.test_key_name}: only a build that "
                        "trusts the test keys accepts this list, and no shipped build may.")
    sha256 = sha256_of(package)
    if expected is not None and sha256 != expected:
        raise Refusal(f'The package "{package}" has the SHA-256 {sha256}, not the expected '
                      f"{expected}, so it is not the file meant for this release.")
    document = build_document(version, url, sha256, notes, key)
    # Only now that nothing is refused: a refusal stays one sentence.
    for sentence in warnings:
        report(sentence)

    releases = os.path.join(tree, RELEASES)
    os.makedirs(releases, exist_ok=True)
    target = os.path.join(releases, package_name(version))
    copied = place_package(package, target, sha256, version)
    list_path = os.path.join(releases, LIST_NAME)
    replace_atomically(list_path, lambda stream: stream.write(document))
    return Published(version, url, sha256, target, list_path, shape.app_folder, copied,
                     key.public_key if key is not None else None,
                     setup_program.describe(package, shape.setup_entry))
