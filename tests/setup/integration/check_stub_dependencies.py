# What a built installer stub needs from the machine it runs on, read with
# readelf: only libc and libcurl.so.4, glibc's symbol versions and no newer
# glibc than allowed. Prints the glibc the stub needs, and why.
"""Checks each STUB:
  - its NEEDED libraries are libc.so.6 and libcurl.so.4 (besides them only
    the program interpreter, libm.so.6 or libdl.so.2, which a toolchain may add);
  - no RPATH or RUNPATH;
  - every symbol version it needs is a GLIBC_* one, no newer than --newest-glibc,
    so that libcurl's references carry no version;
  - it exports no symbol, so that no system library binds to the copies of
    libcrypto and the C++ runtime linked into it.
Exit status 1 when a check fails.
"""

import argparse
import os
import re
import subprocess
import sys
from typing import Dict, List, Set, Tuple

REQUIRED = {"libc.so.6", "libcurl.so.4"}
TOOLCHAIN_EXTRAS = {"libm.so.6", "libdl.so.2"}
# glibc's start-up code marks the executable with this one exported symbol.
STARTUP_EXPORTS = {"_IO_stdin_used"}


def readelf(*args: str) -> str:
    return subprocess.run(["readelf", "-W"] + list(args), check=True,
                          capture_output=True, text=True).stdout


def interpreter(path: str) -> str:
    found = re.search(r"\[Requesting program interpreter: (.+)\]", readelf("-l", path))
    return os.path.basename(found.group(1)) if found else ""


def dynamic_entries(path: str) -> Dict[str, List[str]]:
    entries: Dict[str, List[str]] = {}
    for tag, value in re.findall(r"\((\w+)\)\s+.*?\[(.*)\]", readelf("-d", path)):
        entries.setdefault(tag, []).append(value)
    return entries


def version_needs(path: str) -> Set[Tuple[str, str]]:
    """(library, version) for every version the stub needs."""
    needs = set()
    library = ""
    for line in readelf("-V", path).splitlines():
        file_match = re.search(r"File: (\S+)", line)
        if file_match:
            library = file_match.group(1)
        name_match = re.search(r"Name: (\S+)", line)
        if name_match and library:
            needs.add((library, name_match.group(1)))
    return needs


def dynamic_symbols(path: str) -> List[Tuple[str, str, str]]:
    """(binding, section index, name@version) of each dynamic symbol."""
    symbols = []
    for line in readelf("--dyn-syms", path).splitlines():
        fields = line.split()
        if len(fields) >= 8 and fields[0][:-1].isdigit():
            symbols.append((fields[4], fields[6], fields[7]))
    return symbols


def glibc_key(version: str) -> Tuple[int, ...]:
    return tuple(int(part) for part in version[len("GLIBC_"):].split("."))


def check(path: str, newest: str) -> List[str]:
    problems = []
    name = os.path.basename(path)
    entries = dynamic_entries(path)
    needed = set(entries.get("NEEDED", []))
    allowed = REQUIRED | TOOLCHAIN_EXTRAS | {interpreter(path)}
    if not REQUIRED <= needed or not needed <= allowed:
        problems.append("%s needs %s; only %s may be needed" %
                        (name, ", ".join(sorted(needed)), ", ".join(sorted(REQUIRED))))
    for tag in ("RPATH", "RUNPATH"):
        if tag in entries:
            problems.append("%s has %s %s" % (name, tag, ":".join(entries[tag])))

    needs = version_needs(path)
    foreign = sorted("%s (%s)" % (version, library) for library, version in needs
                     if not version.startswith("GLIBC_"))
    if foreign:
        problems.append("%s needs symbol versions other than glibc's: %s" %
                        (name, ", ".join(foreign)))
    symbols = dynamic_symbols(path)
    exported = sorted(symbol for _, index, symbol in symbols
                      if index != "UND" and symbol.split("@")[0] not in STARTUP_EXPORTS)
    if exported:
        problems.append("%s exports %d symbols (%s ...); system libraries could bind to them" %
                        (name, len(exported), ", ".join(exported[:5])))

    glibc = sorted({version for _, version in needs if version.startswith("GLIBC_")},
                   key=glibc_key)
    if not glibc:
        return problems + ["%s needs no glibc version at all; is it an ELF stub?" % name]
    highest = glibc[-1]
    why = sorted(symbol.split("@")[0] for _, index, symbol in symbols
                 if index == "UND" and symbol.endswith("@" + highest))
    curl = sorted(symbol for _, index, symbol in symbols
                  if index == "UND" and symbol.startswith("curl_"))
    print("%s: needs %s; glibc %s or newer (for %s); libcurl functions %s" %
          (name, ", ".join(sorted(needed)), highest[len("GLIBC_"):], ", ".join(why),
           ", ".join(curl)))
    if glibc_key(highest) > glibc_key("GLIBC_" + newest):
        problems.append("%s needs glibc %s, newer than the %s allowed (for %s)" %
                        (name, highest[len("GLIBC_"):], newest, ", ".join(why)))
    return problems


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--newest-glibc", required=True, help="for example 2.35")
    parser.add_argument("stubs", nargs="+")
    options = parser.parse_args()
    problems = []
    for path in options.stubs:
        problems += check(path, options.newest_glibc)
    for problem in problems:
        print("FAIL: " + problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
