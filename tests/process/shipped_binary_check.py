#!/usr/bin/env python3
"""Checks on the shipped executable that run on the build machine.

  shipped_binary_check.py symbols <unstripped MovoraSetup.exe>
      fails when the program links std::filesystem or the iostreams (with them
      comes the C++ locale machinery, most of a megabyte), or the library
      pieces the program replaces: the POSIX threads layer and the library's
      error classes with their copy-on-write strings.
  shipped_binary_check.py size <stripped release MovoraSetup.exe> <limit in bytes> [<link map>]
      fails when the stripped release build is larger than the limit, and then
      says where the bytes go: the executable's sections and, from the release
      link's map, the inputs that contribute most.
"""
import os
import re
import subprocess
import sys

# Demangled names that only the heavy parts of the C++ library define.
HEAVY = re.compile(
    r"std::(__cxx11::)?(filesystem::|basic_[io]?fstream|basic_filebuf|basic_[io]stream"
    r"|basic_ios<|basic_[io]?stringstream|ios_base|locale::|(w)?cout|(w)?cerr)")

# Names that come only with what the program replaces by its own pieces: the
# POSIX threads layer (std::thread, std::mutex, guarded statics, emulated
# thread-locals; the mutex of the runtime's emergency exception memory stays)
# and the error classes whose messages are copy-on-write strings.
REPLACED = re.compile(
    r"^(pthread_(create|key_create|once|cond_wait)\b|__emutls_get_address$"
    r"|__cxa_guard_acquire$|std::(logic_error|runtime_error|system_error|length_error"
    r"|out_of_range|thread::)|std::basic_string<char, std::char_traits<char>, "
    r"std::allocator<char> >::_Rep::)")


def check_symbols(exe):
    nm = "x86_64-w64-mingw32-nm"
    output = subprocess.run([nm, "-C", exe], check=True, capture_output=True, text=True).stdout
    # "<address> <type> <name>", the address blank for undefined names.
    symbols = [m.group(1) for m in map(re.compile(r"^\s*[0-9a-fA-F]*\s+\S\s+(.*)$").match,
                                       output.splitlines()) if m]
    if len(symbols) < 100:
        print(f"{exe} has only {len(symbols)} symbols: is it stripped? Pass the unstripped build.")
        return 1
    for pattern, what in ((HEAVY, "std::filesystem or the iostreams"),
                          (REPLACED, "library pieces the program replaces")):
        found = sorted({s for s in symbols if pattern.search(s)})
        if found:
            print(f"{exe} links {len(found)} symbols of {what}, e.g.:")
            for name in found[:15]:
                print("   ", name)
            return 1
    print(f"{exe}: {len(symbols)} symbols, none of std::filesystem, the iostreams or the "
          "library pieces the program replaces")
    return 0


# One input section of a GNU ld map: " .text  0x<address>  0x<size>  <input file>",
# the section name sometimes alone on the line before.
MAP_ENTRY = re.compile(r"^\s+(?:\.\S+\s+)?0x[0-9a-fA-F]+\s+0x([0-9a-fA-F]+)\s+(\S.*)$")


def print_sections(exe):
    output = subprocess.run(["x86_64-w64-mingw32-objdump", "-h", exe], check=True,
                            capture_output=True, text=True).stdout
    print("Sections of the executable (bytes):")
    for line in output.splitlines():
        fields = line.split()
        if len(fields) >= 3 and fields[0].isdigit() and fields[1].startswith("."):
            print(f"    {fields[1]:<8} {int(fields[2], 16):>9,}")


def input_group(path):
    """Names an input of the link: a library by its archive, our own code by
    what the link-time optimiser made of it, the compiled resources apart."""
    archive = re.match(r"(.*?\.a)\((.*)\)$", path)
    if archive:
        name = os.path.basename(archive.group(1))
        if name != "objects.a":
            return name
        # CMake hands the program's own object files over in one archive.
        path = archive.group(2)
    if path.endswith(".res"):
        return "the program's resources (icon, version block, manifest)"
    if "ltrans" in path:
        return "the program's own code (link-time optimised)"
    return os.path.basename(path)


def print_map_contributors(map_path, count=12):
    if not map_path or not os.path.exists(map_path):
        print("No link map to say more (the release build writes MovoraSetup.map beside bin/).")
        return
    totals = {}
    in_memory_map = False
    with open(map_path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            if line.startswith("Linker script and memory map"):
                in_memory_map = True
                continue
            match = MAP_ENTRY.match(line) if in_memory_map else None
            if match and not match.group(2).startswith("load address"):
                group = input_group(match.group(2).strip())
                totals[group] = totals.get(group, 0) + int(match.group(1), 16)
    print(f"Largest inputs of the link ({map_path}; before stripping and section alignment):")
    for group, size in sorted(totals.items(), key=lambda item: -item[1])[:count]:
        print(f"    {size:>9,}  {group}")


def check_size(exe, limit, map_path=None):
    if not os.path.exists(exe):
        print(f"{exe} is missing: build the mingw-release preset first "
              "(tools/test/run-all does).")
        return 1
    size = os.path.getsize(exe)
    print(f"{exe}: {size:,} bytes, limit {limit:,} bytes ({size / limit:.0%} of it)")
    if size <= limit:
        return 0
    print(f"{size - limit:,} bytes over the limit. Where the bytes go:")
    print_sections(exe)
    print_map_contributors(map_path)
    return 1


def main(argv):
    if len(argv) == 3 and argv[1] == "symbols":
        return check_symbols(argv[2])
    if len(argv) in (4, 5) and argv[1] == "size":
        return check_size(argv[2], int(argv[3]), argv[4] if len(argv) == 5 else None)
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
