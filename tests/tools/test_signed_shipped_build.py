#!/usr/bin/env python3
"""The shipped build signed with Authenticode, as the team signs it before a
release: a throwaway authority and code-signing certificate made here with
openssl, MovoraSetup.exe and the app stand-in signed with osslsigncode, the
signatures checked against that authority, and the signed programs run through
a real install and update (tools/demo --check) inside the test environment.

    test_signed_shipped_build.py --release-exe EXE --stand-ins DIR --size-limit N
                                 --out DIR [-v]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DEMO = os.path.join(ROOT, "tools", "demo")
SIZE_CHECK = os.path.join(ROOT, "tests", "process", "shipped_binary_check.py")
OPTIONS = None


def run(*args, check=True):
    done = subprocess.run(args, capture_output=True, text=True, timeout=300)
    if check and done.returncode != 0:
        raise AssertionError(f"{' '.join(args)} failed ({done.returncode}):\n"
                             f"{done.stdout}{done.stderr}")
    return done


def read(path):
    with open(path, "rb") as stream:
        return stream.read()


def make_authority(folder, name):
    """A self-signed authority (certificate, key) that may sign certificates."""
    key, cert = os.path.join(folder, f"{name}.key"), os.path.join(folder, f"{name}.pem")
    run("openssl", "req", "-x509", "-newkey", "rsa:3072", "-nodes", "-days", "2",
        "-subj", f"/CN={name}", "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign", "-keyout", key, "-out", cert)
    return cert, key


def make_code_signing_certificate(folder, authority):
    """A code-signing certificate and key issued by authority, as a vendor buys one."""
    key, csr, cert = (os.path.join(folder, f"publisher.{ext}") for ext in ("key", "csr", "pem"))
    extensions = os.path.join(folder, "publisher.ext")
    with open(extensions, "w") as stream:
        stream.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                     "extendedKeyUsage=codeSigning\n")
    run("openssl", "req", "-newkey", "rsa:3072", "-nodes", "-subj", "/CN=Movora Test Publisher",
        "-keyout", key, "-out", csr)
    run("openssl", "x509", "-req", "-in", csr, "-CA", authority[0], "-CAkey", authority[1],
        "-CAcreateserial", "-days", "2", "-extfile", extensions, "-out", cert)
    return cert, key


def sign(publisher, source, target, description):
    """source signed with SHA-256 into target, as the README shows it."""
    run("osslsigncode", "sign", "-certs", publisher[0], "-key", publisher[1], "-h", "sha256",
        "-n", description, "-i", "https://movora.example.com", "-in", source, "-out", target)


def verify(exe, authority_cert):
    return run("osslsigncode", "verify", "-CAfile", authority_cert, "-in", exe, check=False)


class SignedShippedBuildTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.keys = tempfile.mkdtemp(prefix="authenticode-")
        cls.bin = os.path.join(OPTIONS.out, "bin")
        shutil.rmtree(cls.bin, ignore_errors=True)
        os.makedirs(cls.bin)
        cls.authority = make_authority(cls.keys, "Throwaway Code Signing Authority")
        cls.other_authority = make_authority(cls.keys, "Another Authority")
        publisher = make_code_signing_certificate(cls.keys, cls.authority)
        cls.setup = os.path.join(cls.bin, "MovoraSetup.exe")
        cls.app = os.path.join(cls.bin, "Movora.exe")
        sign(publisher, OPTIONS.release_exe, cls.setup, "Movora Setup")
        # The app's executables are signed before they are packed.
        sign(publisher, os.path.join(OPTIONS.stand_ins, "Movora.exe"), cls.app, "Movora")
        shutil.copy(os.path.join(OPTIONS.stand_ins, "tar.exe"), cls.bin)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.keys, ignore_errors=True)

    def test_the_signatures_verify_against_their_authority_only(self):
        for exe in (self.setup, self.app):
            with self.subTest(os.path.basename(exe)):
                good = verify(exe, self.authority[0])
                self.assertEqual(good.returncode, 0, good.stdout + good.stderr)
                self.assertIn("Signature verification: ok", good.stdout)
                self.assertIn("Subject: /CN=Movora Test Publisher", good.stdout)
                other = verify(exe, self.other_authority[0])
                self.assertNotEqual(other.returncode, 0, other.stdout)

    def test_a_changed_byte_breaks_the_signature(self):
        changed = os.path.join(self.keys, "changed.exe")
        data = bytearray(read(self.setup))
        data[0x1000] ^= 0xFF  # inside the code, which the signature's digest covers
        with open(changed, "wb") as stream:
            stream.write(data)
        result = verify(changed, self.authority[0])
        self.assertNotEqual(result.returncode, 0, result.stdout)
        self.assertIn("MISMATCH", result.stdout + result.stderr)

    def test_signing_adds_the_signature_and_changes_nothing_else(self):
        # Taking the signature off gives back the unsigned file byte for byte:
        # code, version block, manifest and icon are untouched. (The stripped
        # release build only: osslsigncode pads a file that ends unaligned, as
        # the unstripped app stand-in does, before it appends the signature.)
        stripped = os.path.join(self.keys, "unsigned.exe")
        run("osslsigncode", "remove-signature", "-in", self.setup, "-out", stripped)
        self.assertEqual(read(stripped), read(OPTIONS.release_exe))
        self.assertGreater(os.path.getsize(self.setup), os.path.getsize(OPTIONS.release_exe))

    def test_the_signed_build_stays_within_the_size_limit(self):
        result = run(sys.executable, SIZE_CHECK, "size", self.setup, str(OPTIONS.size_limit),
                     check=False)
        self.assertEqual(result.returncode, 0, result.stdout)

    def test_the_signed_build_installs_and_updates(self):
        # The shipped build carries no release key: it installs the demo's
        # signed lists without checking them.
        result = subprocess.run([DEMO, "--check", "--bin", self.bin, "--setup", self.setup,
                                 "--keyless", "--out", os.path.join(OPTIONS.out, "demo")],
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=200)
        sys.stdout.write(result.stdout)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("installed from an unchecked signed tree and updated to 1.1.0",
                      result.stdout)


def main():
    global OPTIONS
    arguments = argparse.ArgumentParser()
    arguments.add_argument("--release-exe", required=True)
    arguments.add_argument("--stand-ins", required=True, help="folder with Movora.exe, tar.exe")
    arguments.add_argument("--size-limit", type=int, required=True)
    arguments.add_argument("--out", required=True)
    OPTIONS, rest = arguments.parse_known_args()
    for exe in (OPTIONS.release_exe, os.path.join(OPTIONS.stand_ins, "Movora.exe")):
        if not os.path.isfile(exe):
            print(f'There is no "{exe}": build the mingw-release preset and the test build '
                  "first (tools/test/run-all does).")
            return 1
    OPTIONS.out = os.path.abspath(OPTIONS.out)
    program = unittest.main(argv=[sys.argv[0], *rest], exit=False)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
