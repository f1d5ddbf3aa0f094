#!/usr/bin/env python3
"""Configure's check of MOVORA_RELEASE_PUBLIC_KEYS: every key given as an
argument must be a point of the P-256 curve, as the release tool checks it. A
build with any other 128 digits would refuse every release list, and its users
could never be updated.

Exits 0 when every key is a point; otherwise 1 with the tool's sentence and
what it means for the build on stderr (a key that is no point, or the openssl
command missing)."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.realpath(__file__)), os.pardir, "tools"))

from release_tool.errors import MissingTool, Refusal  # noqa: E402
from release_tool.signing import parse_public_key  # noqa: E402


def main(keys):
    try:
        for key in keys:
            parse_public_key(key)
    except MissingTool as missing:
        print(f"{missing} Configure checks with it that each key is a point of the P-256 "
              "curve.", file=sys.stderr)
        return 1
    except Refusal as refusal:
        print(f"{refusal} A build with it would refuse every release list, so its users "
              "could never be updated.", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
