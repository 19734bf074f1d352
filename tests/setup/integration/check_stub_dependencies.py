# What a built installer stub needs from the machine it runs on, read with
# readelf. Prints the glibc each stub needs and the symbols that set it.
"""Checks that each STUB needs libc.so.6 and libcurl.so.4 and nothing else
(besides the program interpreter, and libm or libdl if the toolchain adds
them), has no run path, needs only GLIBC_* symbol versions and none newer
than --newest-glibc, and exports no symbol (no system library may bind to
the libcrypto and C++ runtime linked into it). Exit status 1 on a failure."""

import argparse
import os
import re
import subprocess
import sys
from typing import List, Tuple

REQUIRED = {"libc.so.6", "libcurl.so.4"}
TOOLCHAIN_EXTRAS = {"libm.so.6", "libdl.so.2"}
STARTUP_EXPORTS = {"_IO_stdin_used"}  # glibc's start-up code may export it


def readelf(option: str, path: str) -> str:
    return subprocess.run(["readelf", "-W", option, path], check=True,
                          capture_output=True, text=True).stdout


def glibc_key(version: str) -> Tuple[int, ...]:
    return tuple(int(part) for part in version[len("GLIBC_"):].split("."))


def check(path: str, newest: str) -> List[str]:
    name = os.path.basename(path)
    dynamic = re.findall(r"\((\w+)\)\s+.*?\[(.*)\]", readelf("-d", path))
    needed = {value for tag, value in dynamic if tag == "NEEDED"}
    interpreter = re.findall(r"program interpreter: (.+)\]", readelf("-l", path))
    allowed = REQUIRED | TOOLCHAIN_EXTRAS | {os.path.basename(p) for p in interpreter}
    problems = []
    if not REQUIRED <= needed <= allowed:
        problems.append("%s needs %s" % (name, ", ".join(sorted(needed))))
    problems += ["%s has %s %s" % (name, tag, value) for tag, value in dynamic
                 if tag in ("RPATH", "RUNPATH")]

    versions = set(re.findall(r"Name: (\S+)", readelf("-V", path).split(".gnu.version_r")[-1]))
    foreign = sorted(v for v in versions if not v.startswith("GLIBC_"))
    if foreign:
        problems.append("%s needs symbol versions other than glibc's: %s" %
                        (name, ", ".join(foreign)))
    symbols = [line.split() for line in readelf("--dyn-syms", path).splitlines()]
    symbols = [(fields[6], fields[7]) for fields in symbols
               if len(fields) >= 8 and fields[0][:-1].isdigit()]
    exported = sorted(s for index, s in symbols if index != "UND" and s not in STARTUP_EXPORTS)
    if exported:
        problems.append("%s exports %s" % (name, ", ".join(exported[:5])))

    glibc = sorted((v for v in versions if v.startswith("GLIBC_")), key=glibc_key)
    if not glibc:
        return problems + ["%s needs no glibc version; is it an installer stub?" % name]
    why = ", ".join(sorted(s.split("@")[0] for index, s in symbols
                           if index == "UND" and s.endswith("@" + glibc[-1])))
    curl = ", ".join(sorted(s for index, s in symbols if s.startswith("curl_")))
    floor = glibc[-1][len("GLIBC_"):]
    print("%s: needs %s; glibc %s or newer (for %s); libcurl functions %s" %
          (name, ", ".join(sorted(needed)), floor, why, curl))
    if glibc_key(glibc[-1]) > glibc_key("GLIBC_" + newest):
        problems.append("%s needs glibc %s (for %s), newer than %s" % (name, floor, why, newest))
    return problems


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--newest-glibc", required=True, help="for example 2.35")
    parser.add_argument("stubs", nargs="+", metavar="STUB")
    options = parser.parse_args()
    problems = [p for path in options.stubs for p in check(path, options.newest_glibc)]
    for problem in problems:
        print("FAIL: " + problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
