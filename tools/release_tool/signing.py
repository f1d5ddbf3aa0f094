"""Release list signatures: ECDSA P-256 over SHA-256, made and checked with the
`openssl` command, so the tool keeps to Python's standard library and the
private key is only ever read by openssl.

The signature travels in the list itself as the key "signature": 128
hexadecimal digits, r then s, 32 bytes each. It signs a message built from the
values exactly as the setup program's key scanner collects them (bytes after
its escape handling, the notes whole), so white space, key order and any other
key that a cache may rewrite do not matter:

    MovoraSetup release list 1<LF>
    <byte count>:<version bytes><LF>
    <byte count>:<package bytes><LF>
    <byte count>:<notes bytes><LF>
    <byte count>:<sha256 bytes><LF>

A public key is written as the build takes it: 128 hexadecimal digits, X then Y
of the uncompressed point.
"""
import base64
import hashlib
import os
import re
import subprocess
import tempfile

from .errors import MissingTool, Refusal
from .scanner import extract_json_bytes

SIGNATURE_KEY = "signature"
SIGNED_KEYS = ("version", "package", "notes", "sha256")
MESSAGE_HEADER = b"MovoraSetup release list 1\n"

# The sentences the setup program shows when a list fails its check.
NOT_SIGNED = "The release list is not signed by Movora."
NO_CHECKSUM = "The release list gives no checksum for the package."

# The public halves of the key pairs in tests/keys. Their private halves are
# in the repository, so a signature made with one proves nothing.
TEST_PUBLIC_KEYS = {
    "ECAC1E73CE90B4312F4C78AF8F5F10271BA0778D8418538AB64833AD107D68C7"
    "0FDA8BA86948229A94F957E6DD8C03EBDB0A67D100DC93515E585E74B767BD34":
        "TEST-ONLY-release-signing-key",
    "435582759FE552EFCDEDA8017F2CE926226482059937716B8BEE19B81435D5FB"
    "5A407E53786ABBC70F2AEFBA871A13F9703FF93DCF58F9197C944C4C650B8DCA":
        "TEST-ONLY-release-signing-key-2",
}

# DER of a SubjectPublicKeyInfo for a P-256 key, up to the 65-byte point
# (0x04, X, Y): id-ecPublicKey with the named curve prime256v1.
_P256_SPKI_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200")
_RSA_OID = bytes.fromhex("2a864886f70d010101")
_EC_OID = bytes.fromhex("2a8648ce3d0201")
_HEX_KEY = re.compile(r"[0-9A-Fa-f]{128}")
_HEX_SIGNATURE = re.compile(rb"[0-9A-Fa-f]{128}")


def signed_message(values):
    """The message a signature covers, from {key: bytes} (a missing key is empty)."""
    message = bytearray(MESSAGE_HEADER)
    for key in SIGNED_KEYS:
        value = values.get(key, b"")
        message += b"%d:" % len(value) + value + b"\n"
    return bytes(message)


def document_values(document):
    """{key: bytes} of the four signed values as the setup program collects them."""
    return {key: extract_json_bytes(document, key) for key in SIGNED_KEYS}


def _openssl(args, what, data=None):
    """Runs openssl with args (data on stdin); its stdout. Refuses, naming
    what was being done, when openssl is missing or fails."""
    try:
        done = subprocess.run(["openssl", *args], input=data, stdin=None if data is not None
                              else subprocess.DEVNULL, capture_output=True, timeout=60)
    except FileNotFoundError:
        raise MissingTool("The openssl command is not installed (run tools/bootstrap); "
                          f"it is needed to {what}.") from None
    if done.returncode != 0:
        detail = done.stderr.decode("utf-8", "replace").strip().splitlines()
        raise Refusal(f"openssl could not {what}" + (f" ({detail[0]})." if detail else "."))
    return done.stdout


# Keys ----------------------------------------------------------------------


def public_key_text(point):
    """The 64-byte point X then Y as the build takes it."""
    return point.hex().upper()


def parse_public_key(text):
    """The 64-byte point of a public key given as 128 hexadecimal digits;
    refuses other text and a point that is not on P-256."""
    if not _HEX_KEY.fullmatch(text.strip()):
        raise Refusal(f'The public key "{text}" is not 128 hexadecimal digits (X then Y, '
                      "as tools/release keygen prints it).")
    point = bytes.fromhex(text.strip())
    try:
        _openssl(["pkey", "-pubin", "-noout"], "read the public key", data=_public_key_pem(point))
    except MissingTool:
        raise
    except Refusal:
        raise Refusal(f'The public key "{text}" is not a point on the P-256 curve.') from None
    return point


def _public_key_pem(point):
    der = _P256_SPKI_PREFIX + b"\x04" + point
    body = base64.encodebytes(der).decode("ascii")
    return f"-----BEGIN PUBLIC KEY-----\n{body}-----END PUBLIC KEY-----\n".encode("ascii")


def _kind_problem(spki):
    """Why a SubjectPublicKeyInfo is not a P-256 key, or None when it is one."""
    if spki.startswith(_P256_SPKI_PREFIX) and len(spki) == len(_P256_SPKI_PREFIX) + 65:
        return None
    if _RSA_OID in spki[:32]:
        return "an RSA key"
    if _EC_OID in spki[:32]:
        return "an elliptic-curve key on another curve than P-256"
    return "not an ECDSA key"


class SigningKey:
    """A private key file that openssl reads as a P-256 key, with its public half."""

    def __init__(self, path, point):
        self.path = path
        self.point = point

    @property
    def public_key(self):
        return public_key_text(self.point)

    @property
    def test_key_name(self):
        """The file name of the committed test key this is, or None."""
        return TEST_PUBLIC_KEYS.get(self.public_key)


def load_signing_key(path):
    """The signing key in path; refuses a file that cannot be read, that is not
    a private key (encrypted keys included) or that is not on P-256, each with
    a sentence that says which."""
    try:
        with open(path, "rb") as stream:
            pem = stream.read()
    except OSError as error:
        raise Refusal(f'The signing key "{path}" cannot be read ({error.strerror}).') from None
    if b"ENCRYPTED" in pem:
        raise Refusal(f'The signing key "{path}" is protected by a passphrase; give it '
                      "decrypted, on the offline machine that signs releases.")
    try:
        # The passphrase option keeps openssl from ever asking on the terminal.
        spki = _openssl(["pkey", "-pubout", "-outform", "DER", "-passin", "pass:"],
                        "read the signing key", data=pem)
    except MissingTool:
        raise
    except Refusal:
        raise Refusal(f'The signing key "{path}" is not a private key openssl can read '
                      "(a PEM file as tools/release keygen writes it).") from None
    problem = _kind_problem(spki)
    if problem is not None:
        raise Refusal(f'The signing key "{path}" is {problem}; release lists are signed with '
                      "ECDSA P-256 (make one with tools/release keygen).")
    return SigningKey(path, spki[-64:])


def keygen(out):
    """Makes a new P-256 private key in out, readable by its owner only, and
    returns its public key text. Refuses an existing out; the file is created
    with its final mode, so it is never readable by anyone else, and it is
    removed again when writing fails."""
    pem = _openssl(["genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256",
                    "-pkeyopt", "ec_param_enc:named_curve"], "make a key")
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_NOFOLLOW", 0)
    try:
        descriptor = os.open(out, flags, 0o600)
    except FileExistsError:
        raise Refusal(f'"{out}" exists already; keygen never overwrites a key, so choose '
                      "another file.") from None
    try:
        # The umask may take bits away, never add them; this only makes the
        # mode exact where the umask took the owner's own bits.
        os.fchmod(descriptor, 0o600)
        with os.fdopen(descriptor, "wb") as stream:
            stream.write(pem)
            stream.flush()
            os.fsync(stream.fileno())
    except BaseException:
        os.remove(out)
        raise
    return load_signing_key(out).public_key


# Signatures ----------------------------------------------------------------


def _der_integers(der):
    """The two integers of a DER SEQUENCE of two INTEGERs (an ECDSA signature)."""
    def length_at(i):
        first = der[i]
        if first < 0x80:
            return first, i + 1
        count = first & 0x7F
        return int.from_bytes(der[i + 1:i + 1 + count], "big"), i + 1 + count

    if not der or der[0] != 0x30:
        raise Refusal("openssl gave a signature that is not DER.")
    _, i = length_at(1)
    numbers = []
    for _ in range(2):
        if der[i] != 0x02:
            raise Refusal("openssl gave a signature that is not DER.")
        size, i = length_at(i + 1)
        numbers.append(int.from_bytes(der[i:i + size], "big"))
        i += size
    return numbers


def _der_signature(raw):
    """The DER form openssl checks, of a 64-byte r then s."""
    def integer(value):
        body = value.lstrip(b"\x00") or b"\x00"
        if body[0] & 0x80:
            body = b"\x00" + body
        return b"\x02" + bytes([len(body)]) + body
    content = integer(raw[:32]) + integer(raw[32:])
    return b"\x30" + bytes([len(content)]) + content


def sign(key, message):
    """The 64-byte signature r then s of message with key."""
    digest = hashlib.sha256(message).digest()
    der = _openssl(["pkeyutl", "-sign", "-inkey", key.path, "-passin", "pass:",
                    "-pkeyopt", "digest:sha256"], "sign the release list", data=digest)
    r, s = _der_integers(der)
    return r.to_bytes(32, "big") + s.to_bytes(32, "big")


def signature_matches(point, message, signature):
    """True when signature (64 bytes, r then s) is a valid signature of message
    by the public key point (from parse_public_key)."""
    digest = hashlib.sha256(message).digest()
    with tempfile.TemporaryDirectory(prefix="release-verify-") as folder:
        key_file = os.path.join(folder, "key.pem")
        signature_file = os.path.join(folder, "signature.der")
        with open(key_file, "wb") as stream:
            stream.write(_public_key_pem(point))
        with open(signature_file, "wb") as stream:
            stream.write(_der_signature(signature))
        done = subprocess.run(["openssl", "pkeyutl", "-verify", "-pubin", "-inkey", key_file,
                               "-sigfile", signature_file, "-pkeyopt", "digest:sha256"],
                              input=digest, capture_output=True, timeout=60)
        return done.returncode == 0


def check_document(document, points):
    """Checks a release list as the setup program built with these public keys
    does, in its order, and returns (version, the key that signed it); refuses
    a list the program would refuse with the program's sentence and, where it
    is "not signed", the reason."""
    signature_text = extract_json_bytes(document, SIGNATURE_KEY)
    if not signature_text:
        raise Refusal(f'{NOT_SIGNED[:-1]}: it has no "{SIGNATURE_KEY}".')
    if not _HEX_SIGNATURE.fullmatch(signature_text):
        raise Refusal(f'{NOT_SIGNED[:-1]}: its "{SIGNATURE_KEY}" is not 128 hexadecimal digits.')
    values = document_values(document)
    message = signed_message(values)
    signature = bytes.fromhex(signature_text.decode("ascii"))
    signer = next((p for p in points if signature_matches(p, message, signature)), None)
    if signer is None:
        raise Refusal(f"{NOT_SIGNED[:-1]}: its signature was not made with "
                      f"{'this key' if len(points) == 1 else 'either key'}, or its values "
                      "were changed after signing.")
    # The signature covers the package only through its checksum.
    if not values["sha256"]:
        raise Refusal(NO_CHECKSUM)
    if not values["version"] or not values["package"]:
        raise Refusal("The release list is missing a version.")
    return values["version"].decode("utf-8", "replace"), signer
