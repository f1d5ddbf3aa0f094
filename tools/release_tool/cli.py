"""The command line of tools/release."""
import argparse
import sys

from . import package, publish, serve
from .errors import Refusal

DESCRIPTION = """\
Ships Movora releases: packs an app folder into a zip package, publishes a
package and its release list into a static tree that both origins serve, and
serves such a tree on loopback for development and tests."""

EPILOG = """\
examples:
  release pack build/app dist/Movora-1.4.0.zip
  release publish --tree site --version 1.4.0 --package dist/Movora-1.4.0.zip \\
      --base-url https://releases.example.com --notes-file notes.txt
  release serve site --port 47810"""


def parser():
    top = argparse.ArgumentParser(prog="release", description=DESCRIPTION, epilog=EPILOG,
                                  formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = top.add_subparsers(dest="command", required=True, metavar="command")

    pack = commands.add_parser(
        "pack", help="zip an app folder that has Movora.exe at its top; prints the SHA-256",
        description="Writes a deterministic zip package of the app folder (sorted entries, "
                    "fixed times: the same folder gives the same bytes) and prints its SHA-256 "
                    "in the form sha256sum prints it.")
    pack.add_argument("folder", help="the app folder; Movora.exe has to be at its top")
    pack.add_argument("out", help="the zip file to write")

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
    digest = package.pack(args.folder, args.out)
    print(f"{digest}  {args.out}")
    return 0


def run_publish(args):
    done = publish.publish(args.tree, args.version, args.package, args.base_url,
                           notes=read_notes(args), expected_sha256=args.sha256)
    where = f'the folder "{done.app_folder}" of the package' if done.app_folder else \
        "the top of the package"
    print(f"published Movora {done.version}")
    print(f"  package  {done.package_path}" + ("" if done.copied else " (already there)"))
    print(f"  sha256   {done.sha256}")
    print(f"  list     {done.list_path}")
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
        return serve.run(args.folder, args.port, args.host, args.cert, args.key)
    except Refusal as refusal:
        print(f"release {args.command}: {refusal}", file=sys.stderr)
        return 1
    except OSError as error:
        where = f' "{error.filename}"' if error.filename else ""
        print(f"release {args.command}: {error.strerror or error}{where}.", file=sys.stderr)
        return 1
