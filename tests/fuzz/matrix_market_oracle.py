#!/usr/bin/python3
"""hux-run's Matrix Market reader against scipy.io.mmread as an oracle.

Usage: matrix_market_oracle.py DUMP_TOOL FILE_OR_DIRECTORY...

Every file that SciPy reads must come out of our reader (as printed by
DUMP_TOOL, matrix-market-dump) as the same matrix: the same shape, stored
entries at the same positions, the same values bit for bit (any NaN equals
any NaN). So a wrong expansion of a symmetric or skew-symmetric file, array
or coordinate, cannot pass. What "the same" means follows the reader's
documented rules, which SciPy's matrix is brought to here:
  - coordinate files: every entry is stored, explicit zeros included;
    entries repeated at one position are summed in file order (SciPy's
    triplets are summed here in their order, which is the file's, with the
    mirrored halves of a symmetric file after it); pattern entries are a set
    of positions, each 1;
  - array files: the non-zero values are stored (a NaN is non-zero).
A file SciPy reads but our reader refuses must be refused for one of the
reader's deliberate restrictions (REFUSALS below); any other refusal fails.
Files that only our reader takes are counted, not failed: SciPy is stricter
about comments and blank lines before the size line.

Prints one line per failure and, last, "matrix market oracle: N inputs
tried, F failures"; exits 1 when F > 0.
"""

import io
import json
import math
import os
import re
import resource
import signal
import struct
import subprocess
import sys
import warnings

import numpy as np
import scipy.io
import scipy.sparse

# A file naming a huge shape makes SciPy allocate before it reads; an address
# space cap turns that into a MemoryError (a refusal) instead of swapping.
ADDRESS_SPACE_BYTES = 8 << 30
# A safety net: every file here takes SciPy milliseconds.
SECONDS_PER_FILE = 10

# The reader's deliberate restrictions, as found in its messages: where
# SciPy reads a file and ours refuses it for one of these, both are right.
REFUSALS = [
    # Complex and Hermitian matrices, unknown field or symmetry words (SciPy
    # reads those as real or general), pattern arrays, skew-symmetric
    # pattern files.
    "unsupported field",
    "unsupported symmetry",
    # A symmetric file stores one triangle; SciPy also takes entries in the
    # other one (and diagonal entries of skew-symmetric files).
    "only entries on or below the diagonal",
    "only entries below the diagonal",
    "must be square",
    # SciPy ignores words after an entry's value.
    "unexpected text after the entry",
    # SciPy turns a value beyond the double range into an infinity.
    "is out of range",
    # A guard against column starts costing more than the file.
    "too many columns",
]


def refusal_allowed(message, data):
    """Whether our refusal of a file SciPy reads is one of the deliberate ones."""
    if any(reason in message for reason in REFUSALS):
        return True
    # Python's int() and float() take "+1" and digit separators ("1_000").
    quoted = re.findall(r"'([^']*)'", message)
    if quoted and (quoted[0].startswith("+") or "_" in quoted[0]):
        return True
    # SciPy's size line of 0 entries ends the reading: what follows is not
    # looked at.
    if "more entries than the 0 " in message:
        return True
    # SciPy takes any first word that starts with the banner's marker.
    first = data.split(maxsplit=1)[0] if data.split() else b""
    return "'%%MatrixMarket' banner" in message and first.startswith(b"%%MatrixMarket")


def scipy_would_hang(data):
    """SciPy's header reader skips the lines that start with '%', then blank
    lines until one is not blank, reading on past the end of the file: with
    nothing but blank lines after the comments it never returns."""
    lines = data.split(b"\n")
    k = 0
    while k < len(lines) and lines[k][:1] == b"%":
        k += 1
    return all(not line.strip() for line in lines[k:])


def scipy_read(data):
    """SciPy's matrix, or None when it refuses the file."""
    if scipy_would_hang(data):
        return None

    def give_up(signum, frame):
        raise TimeoutError

    signal.signal(signal.SIGALRM, give_up)
    signal.setitimer(signal.ITIMER_REAL, SECONDS_PER_FILE)
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return scipy.io.mmread(io.BytesIO(data))
    except Exception:  # any refusal, whatever SciPy raises for it
        return None
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)


def field_of(data):
    words = data.split(b"\n", 1)[0].split()
    return words[3].lower() if len(words) > 3 else b""


def expected_entries(matrix, data):
    """SciPy's matrix as {(row, col): value} under the reader's rules."""
    if isinstance(matrix, np.ndarray):
        rows, cols = np.nonzero((matrix != 0) | np.isnan(matrix.astype(float)))
        return {(int(r), int(c)): float(matrix[r, c]) for r, c in zip(rows, cols)}
    coo = scipy.sparse.coo_matrix(matrix)
    pattern = field_of(data) == b"pattern"
    entries = {}
    for r, c, v in zip(coo.row.tolist(), coo.col.tolist(), coo.data.tolist()):
        value = 1.0 if pattern else float(v)
        if (r, c) in entries and not pattern:
            entries[(r, c)] += value
        else:
            entries[(r, c)] = value
    return entries


def our_entries(dump):
    entries = {}
    starts, rows = dump["colStart"], dump["rowIndex"]
    for c in range(dump["cols"]):
        for k in range(starts[c], starts[c + 1]):
            bits = int(dump["values"][k], 16)
            entries[(rows[k], c)] = struct.unpack("<d", struct.pack("<Q", bits))[0]
    return entries


def same_value(a, b):
    if math.isnan(a) or math.isnan(b):
        return math.isnan(a) and math.isnan(b)
    return struct.pack("<d", a) == struct.pack("<d", b)


def compare(dump, matrix, data):
    """The first difference between our matrix and SciPy's, or None."""
    shape = (dump["rows"], dump["cols"])
    if tuple(matrix.shape) != shape:
        return f"shape {shape}, SciPy {tuple(matrix.shape)}"
    ours = our_entries(dump)
    want = expected_entries(matrix, data)
    for position in sorted(set(ours) | set(want)):
        if position not in ours:
            return f"no entry at {position}, SciPy {want[position]!r}"
        if position not in want:
            return f"entry {ours[position]!r} at {position}, SciPy none"
        if not same_value(ours[position], want[position]):
            return f"{ours[position]!r} at {position}, SciPy {want[position]!r}"
    return None


def main():
    if len(sys.argv) < 3:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    tool, inputs = sys.argv[1], sys.argv[2:]
    dumped = subprocess.run([tool, *inputs], capture_output=True, text=True)
    if dumped.returncode != 0:
        print(f"{tool} failed ({dumped.returncode}): {dumped.stderr.strip()}")
        print("matrix market oracle: 0 inputs tried, 1 failures")
        return 1
    _, hard = resource.getrlimit(resource.RLIMIT_AS)
    cap = ADDRESS_SPACE_BYTES if hard == resource.RLIM_INFINITY else min(hard, ADDRESS_SPACE_BYTES)
    resource.setrlimit(resource.RLIMIT_AS, (cap, hard))
    tried = compared = only_ours = refused_both = 0
    failures = []
    for line in dumped.stdout.splitlines():
        dump = json.loads(line)
        tried += 1
        with open(dump["file"], "rb") as f:
            data = f.read()
        matrix = scipy_read(data)
        name = os.path.basename(dump["file"])
        if matrix is None:
            if "error" in dump:
                refused_both += 1
            else:
                only_ours += 1
            continue
        if "error" in dump:
            if not refusal_allowed(dump["error"], data):
                failures.append(f"{name}: SciPy reads it, ours refuses it: {dump['error']}")
            continue
        compared += 1
        difference = compare(dump, matrix, data)
        if difference:
            failures.append(f"{name}: {difference}")
    if compared == 0:
        failures.append("no file was read by both, so nothing was compared")
    for failure in failures:
        print("FAIL:", failure)
    print(f"{compared} compared with SciPy, {refused_both} refused by both, "
          f"{only_ours} read by ours alone")
    print(f"matrix market oracle: {tried} inputs tried, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
