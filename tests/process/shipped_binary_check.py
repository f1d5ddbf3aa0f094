#!/usr/bin/env python3
"""Checks on the shipped executable that run on the build machine.

  shipped_binary_check.py symbols <unstripped MovoraSetup.exe>
      fails when the program links std::filesystem or the iostreams (with them
      comes the C++ locale machinery, most of a megabyte).
  shipped_binary_check.py size <stripped release MovoraSetup.exe> <limit in bytes>
      fails when the stripped release build is larger than the limit.
"""
import os
import re
import subprocess
import sys

# Demangled names that only the heavy parts of the C++ library define.
HEAVY = re.compile(
    r"std::(__cxx11::)?(filesystem::|basic_[io]?fstream|basic_filebuf|basic_[io]stream"
    r"|basic_ios<|basic_[io]?stringstream|ios_base|locale::|(w)?cout|(w)?cerr)")


def check_symbols(exe):
    nm = "x86_64-w64-mingw32-nm"
    output = subprocess.run([nm, "-C", exe], check=True, capture_output=True, text=True).stdout
    # "<address> <type> <name>", the address blank for undefined names.
    symbols = [m.group(1) for m in map(re.compile(r"^\s*[0-9a-fA-F]*\s+\S\s+(.*)$").match,
                                       output.splitlines()) if m]
    if len(symbols) < 100:
        print(f"{exe} has only {len(symbols)} symbols: is it stripped? Pass the unstripped build.")
        return 1
    heavy = sorted({s for s in symbols if HEAVY.search(s)})
    if heavy:
        print(f"{exe} links {len(heavy)} symbols of std::filesystem or the iostreams, e.g.:")
        for name in heavy[:15]:
            print("   ", name)
        return 1
    print(f"{exe}: {len(symbols)} symbols, none of std::filesystem or the iostreams")
    return 0


def check_size(exe, limit):
    if not os.path.exists(exe):
        print(f"{exe} is missing: build the mingw-release preset first "
              "(tools/test/run-all does).")
        return 1
    size = os.path.getsize(exe)
    print(f"{exe}: {size:,} bytes, limit {limit:,} bytes ({size / limit:.0%} of it)")
    return 0 if size <= limit else 1


def main(argv):
    if len(argv) == 3 and argv[1] == "symbols":
        return check_symbols(argv[2])
    if len(argv) == 4 and argv[1] == "size":
        return check_size(argv[2], int(argv[3]))
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
