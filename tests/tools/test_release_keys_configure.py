#!/usr/bin/env python3
"""Configure's check of MOVORA_RELEASE_PUBLIC_KEYS (cmake/release_keys.cmake),
run in CMake's script mode: a value of 128 hexadecimal digits that is no point
of the P-256 curve stops it with a sentence, and so do a missing Python 3 and
a missing openssl command; real points pass, and a build without keys needs
neither.

    python3 tests/tools/test_release_keys_configure.py [-v] [--cmake <cmake>]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DRIVER = os.path.join(ROOT, "tests", "tools", "release_keys_check.cmake")
CMAKE = "cmake"

# The base point of P-256, X then Y: a point of the curve and no test key.
GENERATOR = ("6B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296"
             "4FE342E2FE1A7F9B8EE7EB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5")
ZEROS = "0" * 128
# The base point with the last digit of Y changed: 128 good digits, no point.
GENERATOR_MOVED = GENERATOR[:-1] + "4"
# X and Y beyond the field's prime.
PAST_THE_FIELD = "F" * 128
with open(os.path.join(ROOT, "tests", "keys", "TEST-ONLY-release-signing-key-2.pub")) as stream:
    TEST_KEY_2 = stream.read().strip()


def run_check(keys, python=None, path=None):
    """Runs the check on keys; (exit code, output with white space joined)."""
    command = [shutil.which(CMAKE) or CMAKE, f"-DKEYS={keys}"]
    # A fresh lookup each time, so one case's interpreter is not the next one's.
    command.append(f"-DPython3_EXECUTABLE={python or sys.executable}")
    command += ["-P", DRIVER]
    environment = dict(os.environ)
    if path is not None:
        environment["PATH"] = path
    with tempfile.TemporaryDirectory() as folder:
        done = subprocess.run(command, cwd=folder, env=environment, capture_output=True,
                              text=True, timeout=120)
    return done.returncode, " ".join((done.stdout + done.stderr).split())


class ReleaseKeysConfigureTest(unittest.TestCase):
    def test_points_of_the_curve_pass(self):
        cases = [
            ("one key", GENERATOR, "holds a test key: FALSE"),
            ("two keys while rotating, lower case", GENERATOR.lower() + ";" + TEST_KEY_2,
             "holds a test key: TRUE"),
            ("no key needs no Python", "", "holds a test key: FALSE"),
        ]
        for name, keys, expected in cases:
            with self.subTest(name):
                python = "/nonexistent/python3" if keys == "" else None
                code, output = run_check(keys, python=python)
                self.assertEqual(code, 0, output)
                self.assertIn(expected, output)
                self.assertNotIn("CMake Error", output)

    def test_a_key_that_is_no_point_stops_configure(self):
        consequence = ("is not a point on the P-256 curve. A build with it would refuse every "
                       "release list, so its users could never be updated.")
        cases = [
            ("128 zeros", ZEROS, ZEROS),
            ("one digit off a point", GENERATOR_MOVED, GENERATOR_MOVED),
            ("beyond the field", PAST_THE_FIELD, PAST_THE_FIELD),
            ("the second of two keys", GENERATOR + ";" + ZEROS, ZEROS),
        ]
        for name, keys, culprit in cases:
            with self.subTest(name):
                code, output = run_check(keys)
                self.assertNotEqual(code, 0, output)
                self.assertIn(f'MOVORA_RELEASE_PUBLIC_KEYS: The public key "{culprit}" '
                              + consequence, output)
                self.assertNotIn("holds a test key", output)

    def test_a_missing_checker_is_named_not_skipped(self):
        with tempfile.TemporaryDirectory() as empty:
            cases = [
                ("no Python 3", dict(python="/nonexistent/python3"),
                 "MOVORA_RELEASE_PUBLIC_KEYS: checking that each key is a point of the P-256 "
                 "curve needs Python 3, which configure did not find."),
                # PATH with no openssl on it; Python is named by its full path.
                ("no openssl", dict(path=empty),
                 "MOVORA_RELEASE_PUBLIC_KEYS: The openssl command is not installed (run "
                 "tools/bootstrap); it is needed to read the public key."),
            ]
            for name, settings, sentence in cases:
                with self.subTest(name):
                    code, output = run_check(GENERATOR, **settings)
                    self.assertNotEqual(code, 0, output)
                    self.assertIn(sentence, output)
                    self.assertNotIn("holds a test key", output)


if __name__ == "__main__":
    if "--cmake" in sys.argv:
        at = sys.argv.index("--cmake")
        CMAKE = sys.argv[at + 1]
        del sys.argv[at:at + 2]
    unittest.main()
