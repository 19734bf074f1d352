#!/usr/bin/python3
"""Checks that a shared module's dynamic symbol table defines exactly the
given symbols: usage: check_exports.py MODULE SYMBOL..."""
import subprocess
import sys


def defined_dynamic_symbols(path):
    listing = subprocess.run(["nm", "-D", "--defined-only", path],
                             check=True, capture_output=True, text=True).stdout
    return {line.split()[-1] for line in listing.splitlines() if line.strip()}


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    found = defined_dynamic_symbols(sys.argv[1])
    wanted = set(sys.argv[2:])
    if found != wanted:
        print("unexpected exports: %s; missing: %s"
              % (sorted(found - wanted), sorted(wanted - found)), file=sys.stderr)
        return 1
    print("exports: " + ", ".join(sorted(found)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
