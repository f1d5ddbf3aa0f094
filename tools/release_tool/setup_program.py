"""The setup program a package carries, and the release keys it trusts.

A package may carry the setup program as "MovoraSetup.exe" beside Movora.exe.
Every install of that release makes it the setup copy in the install root,
which the app starts for every later update: from then on the users of the
release accept only lists signed with a key that program trusts. So before a
signed release goes out, its setup program must trust the signing key, and no
test key.

A setup program keeps its trusted keys as text behind a marker (see
feed/release_keys.cpp.in): "MovoraSetup trusted keys{" then the keys as the
build was configured with them (none, or one or two of 128 hexadecimal digits
in either letter case, separated by ";"), then "}".
"""
import re
import zipfile

from .errors import Refusal
from .signing import TEST_PUBLIC_KEYS

SETUP_EXE = "MovoraSetup.exe"
_MARKED_KEYS = re.compile(rb"MovoraSetup trusted keys\{([^}\x00]{0,400})\}")
_KEY = re.compile(r"[0-9A-Fa-f]{128}")


def trusted_keys(program):
    """The public keys (in capitals) that a setup program's bytes say it
    trusts: an empty list for a build without keys; None when the program
    does not say, or says it in more than one way."""
    found = set(_MARKED_KEYS.findall(program))
    if len(found) != 1:
        return None
    text = found.pop().decode("ascii", "replace")
    if not text:
        return []
    keys = text.split(";")
    if len(keys) > 2 or not all(_KEY.fullmatch(key) for key in keys):
        return None
    return [key.upper() for key in keys]


def check_program_file(path):
    """Refuses a file that cannot be the setup program to pack: missing, not a
    file, or not a Windows program."""
    try:
        with open(path, "rb") as stream:
            head = stream.read(2)
    except IsADirectoryError:
        raise Refusal(f'The setup program "{path}" is a folder, not a program.') from None
    except OSError as error:
        raise Refusal(f'The setup program "{path}" cannot be read ({error.strerror}).') from None
    if head != b"MZ":
        raise Refusal(f'The setup program "{path}" is not a Windows program '
                      "(give build/release/bin/MovoraSetup.exe, signed).")


def carried_program(package, entry):
    """The bytes of the setup program that package carries as entry (from
    PackageShape.setup_entry)."""
    with zipfile.ZipFile(package) as archive:
        return archive.read(entry)


def _short(key):
    return f"{key[:16]}..."


def _names(keys):
    return " and ".join(_short(key) for key in keys)


def check_for_signing(package, entry, key, allow_test_key):
    """Warnings about the setup program a release signed with key carries as
    entry (None: it carries none). Refuses a program whose trusted keys cannot
    be read, one built without keys, one that does not trust key, and one
    that trusts a test key unless allow_test_key: users who install it would
    refuse the next lists, or trust anyone."""
    if entry is None:
        return [f"the package carries no setup program ({SETUP_EXE} beside Movora.exe; "
                "pack --setup adds it), so installed setup copies stay as they are: they "
                "must trust the keys of the lists to come."]
    keys = trusted_keys(carried_program(package, entry))
    where = f'The setup program "{entry}" in the package'
    if keys is None:
        raise Refusal(f"{where} does not say which release keys it trusts (it is no "
                      "MovoraSetup.exe built from this source tree), so nothing shows that "
                      "its users would accept the lists signed after this release.")
    if not keys:
        raise Refusal(f"{where} is built without release keys (MOVORA_RELEASE_PUBLIC_KEYS): "
                      "it would install unsigned lists, so it must not ship in a signed release.")
    if key.public_key not in keys:
        raise Refusal(f"{where} trusts the key{'s' if len(keys) > 1 else ''} {_names(keys)}, "
                      f"not the signing key {_short(key.public_key)}, so every user who "
                      "installs this release would refuse its next lists.")
    test_keys = [k for k in keys if k in TEST_PUBLIC_KEYS]
    if test_keys and not allow_test_key:
        raise Refusal(f"{where} trusts the test key {TEST_PUBLIC_KEYS[test_keys[0]]}, whose "
                      "private half is public, so anyone could sign lists for its users; ship "
                      "a setup program built with the team's keys, or pass --allow-test-key for "
                      "a test or the demo.")
    return []


def describe(package, entry):
    """One line on what the package carries, for publish's report."""
    if entry is None:
        return f"none (the package carries no {SETUP_EXE}; setup copies stay as they are)"
    keys = trusted_keys(carried_program(package, entry))
    if keys is None:
        return f"{entry}, which does not say which keys it trusts"
    if not keys:
        return f"{entry}, built without release keys"
    return f"{entry}, trusting the key{'s' if len(keys) > 1 else ''} {_names(keys)}"
