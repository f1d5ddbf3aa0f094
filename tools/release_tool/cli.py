"""The command line of tools/release."""
import argparse
import re
import sys

from . import package, publish, serve, signing, transfer, urlrule
from .errors import Refusal
from .scanner import LIST_CAP, utf8_to_wide

DESCRIPTION = """\
Ships Movora releases: packs an app folder into a zip package, publishes a
package and its signed release list into a static tree that both origins serve,
checks a published list's signature as the setup program does, and serves such
a tree on loopback for development and tests."""

EPILOG = """\
examples:
  release keygen --out movora-release-signing-key.pem
  release pack build/app dist/Movora-1.4.0.zip --setup dist/MovoraSetup.exe
  release publish --tree site --version 1.4.0 --package dist/Movora-1.4.0.zip \\
      --base-url https://releases.example.com --notes-file notes.txt \\
      --signing-key movora-release-signing-key.pem
  release verify --public-key <128 hex digits> https://releases.example.com/releases/latest.json
  release serve site --port 47810"""

DEFAULT_KEY_FILE = "movora-release-signing-key.pem"


def parser():
    top = argparse.ArgumentParser(prog="release", description=DESCRIPTION, epilog=EPILOG,
                                  formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = top.add_subparsers(dest="command", required=True, metavar="command")

    pack = commands.add_parser(
        "pack", help="zip an app folder that has Movora.exe at its top (and the setup "
        "program); prints the SHA-256",
        description="Writes a deterministic zip package of the app folder (sorted entries, "
                    "fixed times: the same folder gives the same bytes) and prints its SHA-256 "
                    "in the form sha256sum prints it.")
    pack.add_argument("folder", help="the app folder; Movora.exe has to be at its top")
    pack.add_argument("out", help="the zip file to write")
    pack.add_argument("--setup", metavar="EXE",
                      help="ship this setup program (the signed release build) in the package "
                           "as MovoraSetup.exe beside Movora.exe: every install of the release "
                           "makes it the setup copy that runs the later updates")

    pub = commands.add_parser(
        "publish", help="put a package and its release list into a static tree",
        description="Checks the package and the release values as the setup program will "
                    "read them, copies the package to <tree>/releases/Movora-<version>.zip "
                    "and replaces <tree>/releases/latest.json atomically. Older packages stay.")
    # Checked by publish itself, so that a missing value is refused in one sentence.
    pub.add_argument("--tree", help="top folder of the static tree (created)")
    pub.add_argument("--version", help="version text of the release")
    pub.add_argument("--package", help="the zip package (from pack)")
    pub.add_argument("--base-url",
                     help="address the tree is served from, the release server origin, "
                          "e.g. https://releases.example.com")
    notes = pub.add_mutually_exclusive_group()
    notes.add_argument("--notes", default="", help="release notes text")
    notes.add_argument("--notes-file", help="release notes from a UTF-8 text file")
    pub.add_argument("--sha256", help="refuse unless the package has this SHA-256")
    pub.add_argument("--signing-key", metavar="FILE",
                     help="sign the list with this P-256 private key (from keygen)")
    pub.add_argument("--allow-test-key", action="store_true",
                     help="allow signing with a committed test key (tests and the demo only)")
    pub.add_argument("--public-key", action="append", default=[], metavar="HEX",
                     help="refuse a signing key that is not this public key (the build's; "
                          "may be given twice)")

    gen = commands.add_parser(
        "keygen", help="make a new release signing key; prints its public key",
        description="Writes a new ECDSA P-256 private key (PEM) that only its owner can read, "
                    "never over an existing file, and prints its public key as the build "
                    "takes it in MOVORA_RELEASE_PUBLIC_KEYS: 128 hexadecimal digits, X then Y. "
                    "Keep the private key off the release server.")
    gen.add_argument("--out", default=DEFAULT_KEY_FILE,
                     help=f"the private key file to create (default {DEFAULT_KEY_FILE})")

    pub_key = commands.add_parser(
        "public-key", help="print the public key of a signing key file",
        description="Prints the public key of a P-256 private key file as the build takes it.")
    pub_key.add_argument("key", help="the private key file")

    ver = commands.add_parser(
        "verify", help="check a published or served list's signature as the setup program does",
        description="Reads a release list from a file or an http(s) URL and checks it as a "
                    "setup program built with the given public keys does: the URL rule on the "
                    "address and on every redirect hop (HTTPS, plain HTTP only to localhost or "
                    "127.0.0.1, never from HTTPS down to HTTP, at most 5 redirects), a 2xx "
                    "answer of at most 2 MiB, a signature of 128 hexadecimal digits made by one "
                    "of the keys over the values the program reads, a sha256 value, a version, "
                    "and a package URL the program downloads from. Exits 0 when the program "
                    "would accept the list and download its package, else 1 with the "
                    "program's sentence and the reason. HTTPS is checked against this "
                    "machine's trusted authorities, or the file SSL_CERT_FILE names.")
    ver.add_argument("--public-key", action="append", required=True, metavar="HEX",
                     help="a public key the program is built with (give a second for rotation)")
    ver.add_argument("list", metavar="URL|FILE", help="the release list")

    srv = commands.add_parser(
        "serve", help="serve a tree on loopback (HTTP, or HTTPS with --cert)",
        description="Serves a folder as a release server for development and tests, on "
                    "127.0.0.1, with a Content-Length on every answer and a log line per "
                    "request. Port 0 picks a free port; the address is printed first.")
    srv.add_argument("folder", help="the top folder of a published tree")
    srv.add_argument("--port", type=int, default=47810, help="port to listen on (default 47810)")
    srv.add_argument("--host", choices=serve.HOST_NAMES, default="127.0.0.1",
                     help="host name of the printed address (default 127.0.0.1)")
    srv.add_argument("--cert", help="PEM certificate: serve HTTPS")
    srv.add_argument("--key", help="PEM private key, when it is not in the certificate file")
    return top


def read_notes(args):
    """The notes text from --notes or --notes-file; refuses text that is not UTF-8."""
    if args.notes_file is None:
        return args.notes
    try:
        with open(args.notes_file, "rb") as stream:
            text = stream.read().decode("utf-8")
    except UnicodeDecodeError:
        raise Refusal(f'The notes file "{args.notes_file}" is not UTF-8 text.') from None
    # A file's byte order mark and final line break are not part of the notes.
    return text.removeprefix("\ufeff").rstrip("\r\n")


def run_pack(args):
    digest = package.pack(args.folder, args.out, args.setup)
    print(f"{digest}  {args.out}")
    return 0


def run_keygen(args):
    public_key = signing.keygen(args.out)
    print(public_key)
    print(f'release keygen: wrote the private key to "{args.out}", readable by you only; keep '
          "it on the machine that signs releases, never on the release server. Build with "
          f"-DMOVORA_RELEASE_PUBLIC_KEYS={public_key}", file=sys.stderr)
    return 0


def is_address(where):
    """True when where is meant as an address (scheme://...), not a file."""
    return re.match(r"[A-Za-z][A-Za-z0-9+.-]*://", where) is not None


def read_list(where):
    """The bytes of a release list from an address, fetched as the setup
    program fetches it (the URL rule on the address and on every redirect
    hop), or from a file; at most what the program reads."""
    if is_address(where):
        return transfer.get(where, LIST_CAP, "the release list")[0]
    with open(where, "rb") as stream:
        document = stream.read(LIST_CAP + 1)
    if len(document) > LIST_CAP:
        transfer.refuse(transfer.TOO_LARGE, f'the release list "{where}" is larger than the '
                                            f"{LIST_CAP:,} bytes the setup program reads")
    return document


def check_package_url(document):
    """Refuses a list whose package the setup program would not download: an
    address the URL rule refuses (the program's sentence, when the install
    starts), or one with a fragment, which the program sends as part of the
    path."""
    package = utf8_to_wide(signing.document_values(document)["package"])
    problem = urlrule.url_problem(package)
    if problem:
        transfer.refuse(problem[0], f"the list's package URL {package} would be refused when "
                                    f"the install starts: {problem[1]}")
    fragment = urlrule.fragment_problem(package)
    if fragment:
        raise Refusal(f"The list's package URL {package} would not download the package: "
                      f"{fragment}.")


def run_verify(args):
    points = [signing.parse_public_key(text) for text in args.public_key]
    if len(points) > 2:
        raise Refusal("Give one or two public keys: the program is built with at most two.")
    document = read_list(args.list)
    version, signer = signing.check_document(document, points)
    check_package_url(document)
    print(f"release verify: the release list of Movora {version} at {args.list} is signed with "
          f"the key {signing.public_key_text(signer)[:16]}...; the setup program accepts it.")
    return 0


def run_publish(args):
    key = None
    if args.signing_key is not None:
        key = publish.signing_key_for(args.signing_key, args.allow_test_key, args.public_key)
    elif args.allow_test_key or args.public_key:
        raise Refusal("--allow-test-key and --public-key go with --signing-key.")
    done = publish.publish(args.tree, args.version, args.package, args.base_url,
                           notes=read_notes(args), expected_sha256=args.sha256, key=key,
                           allow_test_key=args.allow_test_key)
    where = f'the folder "{done.app_folder}" of the package' if done.app_folder else \
        "the top of the package"
    print(f"published Movora {done.version}")
    print(f"  package  {done.package_path}" + ("" if done.copied else " (already there)"))
    print(f"  sha256   {done.sha256}")
    print(f"  list     {done.list_path}")
    print(f"  signed   {f'with the key {done.signed_by[:16]}...' if done.signed_by else 'no'}")
    print(f"  setup    {done.setup}")
    print(f"  url      {done.url}")
    print(f"  feed     {args.base_url.rstrip('/')}/{publish.RELEASES}/{publish.LIST_NAME}")
    print(f"  the setup program installs {where}")
    return 0


def main(argv=None):
    args = parser().parse_args(argv)
    try:
        if args.command == "pack":
            return run_pack(args)
        if args.command == "publish":
            return run_publish(args)
        if args.command == "keygen":
            return run_keygen(args)
        if args.command == "public-key":
            print(signing.load_signing_key(args.key).public_key)
            return 0
        if args.command == "verify":
            return run_verify(args)
        return serve.run(args.folder, args.port, args.host, args.cert, args.key)
    except Refusal as refusal:
        print(f"release {args.command}: {refusal}", file=sys.stderr)
        return 1
    except OSError as error:
        where = f' "{error.filename}"' if error.filename else ""
        print(f"release {args.command}: {error.strerror or error}{where}.", file=sys.stderr)
        return 1
