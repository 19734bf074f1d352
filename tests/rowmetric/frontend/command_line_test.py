#!/usr/bin/python3
"""hux-run as a program: output forms, thread-count independence, error lines,
exit statuses, and that --out is written whole or not at all.

Usage: command_line_test.py HUX_RUN ROWMETRIC_SO MISBEHAVING_SO OLD_INTERFACE_SO
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

import numpy as np

HUX_RUN, MODULE, MISBEHAVING, OLD_INTERFACE = sys.argv[1:5]
checks = 0
failures = []


def expect(condition, message):
    global checks
    checks += 1
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def hux(*args, module=MODULE):
    result = subprocess.run([HUX_RUN, module, *args], capture_output=True, timeout=60)
    return result.returncode, result.stdout, result.stderr.decode(errors="replace")


def one_line(text):
    return text.count("\n") == 1 and text.endswith("\n")


def write_matrix(path, m, n, seed):
    rng = np.random.default_rng(seed)
    dense = np.where(rng.random((m, n)) < 0.2, rng.uniform(-2, 2, (m, n)), 0.0)
    rows, cols = np.nonzero(dense)
    with open(path, "w") as f:
        f.write(f"%%MatrixMarket matrix coordinate real general\n{m} {n} {len(rows)}\n")
        for r, c in zip(rows, cols):
            f.write(f"{r + 1} {c + 1} {dense[r, c]!r}\n")
    return dense


def check_output_forms(work):
    small = os.path.join(work, "small.mtx")
    write_matrix(small, 9, 7, 1)
    rc, text, err = hux(small, "euc")
    expect(rc == 0 and err == "", f"euc on small: rc {rc}, stderr {err!r}")
    values = [float(v) for v in text.decode().split()]
    expect(len(values) == 7 * 6 // 2, f"a 1 x P result gives P values, got {len(values)}")
    rc, raw, _ = hux(small, "euc", "--binary")
    expect(rc == 0 and len(raw) == 8 * len(values), "--binary writes 8 bytes per value")
    expect(list(struct.unpack(f"<{len(raw) // 8}d", raw)) == values,
           "--binary holds exactly the values of the text output")

    out = os.path.join(work, "result.txt")
    rc, stdout, _ = hux(small, "euc", "--out", out)
    expect(rc == 0 and stdout == b"", "--out writes nothing to standard output")
    with open(out, "rb") as f:
        expect(f.read() == text, "--out holds the same bytes as standard output")
    expect(sorted(os.listdir(work)) == ["result.txt", "small.mtx"], "no temporary file left after --out")

    # MODULE is a path: a bare name is the file in the current directory.
    # (A copy under a new name, which no library search path holds.)
    local = os.path.join(work, "local")
    os.mkdir(local)
    shutil.copy(MODULE, os.path.join(local, "copied-module.so"))
    bare = subprocess.run([HUX_RUN, "copied-module.so", small, "euc"], capture_output=True, cwd=local)
    expect(bare.returncode == 0 and bare.stdout == text, "a bare MODULE name loads from the current directory")
    shutil.rmtree(local)

    # A dense 1 x 1 parameter of another class: "min" reads it as a double.
    rc, as_int, _ = hux(small, "min", "3", "--param-class", "int8")
    rc2, as_double, _ = hux(small, "min", "3")
    expect(rc == 0 and rc2 == 0 and as_int == as_double, "--param-class int8 for min gives the double result")


def check_threads(work):
    big = os.path.join(work, "big.mtx")
    dense = write_matrix(big, 60, 400, 2)
    upper = os.path.join(work, "upper.mtx")
    rng = np.random.default_rng(3)
    u = np.triu(rng.uniform(-0.1, 0.1, (60, 60)), 1) + np.diag(rng.uniform(1, 2, 60))
    with open(upper, "w") as f:
        f.write("%%MatrixMarket matrix array real general\n60 60\n")
        f.writelines(f"{v!r}\n" for v in u.flatten(order="F"))
    for code, extra in (("euc", []), ("mah", [upper]), ("min", ["2.5"])):
        outputs = [hux(big, code, *extra, "--binary", *threads) for threads in
                   (["--threads", "1"], ["--threads", "2"], [])]
        expect(all(rc == 0 for rc, _, _ in outputs), f"{code}: every thread count succeeds")
        expect(len({out for _, out, _ in outputs}) == 1, f"{code}: --threads 1, 2 and default give identical bytes")
        expect(len(outputs[0][1]) == 8 * 400 * 399 // 2, f"{code}: full-size result")
    del dense


ID = r"\(qualbox:pdisthux:(\w+)\)"


def check_module_errors(work):
    small = os.path.join(work, "small.mtx")
    single = os.path.join(work, "single.mtx")
    with open(single, "w") as f:
        f.write("%%MatrixMarket matrix array real general\n9 1\n" + "0.5\n" * 9)
    cases = [
        ((), "TooFewInputs"),
        ((small,), "TooFewInputs"),
        ((small, "euc", "--nargout", "2"), "TooManyOutputs"),
        ((small, "euc", "--dense"), "BadInputType"),
        ((small, "euc", "1", "--param-class", "single"), "MixedInputTypes"),
    ]
    for args, key in cases:
        rc, out, err = hux(*args)
        match = re.fullmatch(r"Error: .+ " + ID + r"\n", err)
        expect(rc == 1, f"{args}: exit 1 on a module error, got {rc}")
        expect(match is not None and match.group(1) == key and one_line(err),
               f"{args}: one line 'Error: ... (qualbox:pdisthux:{key})', got {err!r}")
        expect(out == b"", f"{args}: nothing on standard output")

    # Nothing is created at --out when the call fails, and an existing file
    # there is left as it was.
    out = os.path.join(work, "never.txt")
    rc, _, _ = hux(small, "--out", out)
    expect(rc == 1 and not os.path.exists(out), "--out not created when the module fails")
    keep = os.path.join(work, "keep.txt")
    with open(keep, "w") as f:
        f.write("previous\n")
    rc, _, _ = hux(small, "euc", "--nargout", "2", "--out", keep)
    with open(keep) as f:
        expect(rc == 1 and f.read() == "previous\n", "an existing --out file survives a failed call")
    expect(not any(".tmp." in name for name in os.listdir(work)), "no temporary file left after failures")
    del single


def check_bad_inputs(work):
    small = os.path.join(work, "small.mtx")
    bad = os.path.join(work, "bad.mtx")
    with open(bad, "w") as f:
        f.write("%%MatrixMarket matrix coordinate real general\n% note\n3 3 2\n1 1 1\n4 2 7\n")
    out = os.path.join(work, "out.txt")
    rc, stdout, err = hux(bad, "euc", "--out", out)
    expect(rc == 2 and err.startswith(f"hux-run: {bad}:5: ") and one_line(err),
           f"malformed MATRIX: exit 2 and FILE:LINE, got {rc} {err!r}")
    expect(not os.path.exists(out) and stdout == b"", "--out not created for a malformed MATRIX")

    rc, _, err = hux(small, "seu", bad)
    expect(rc == 2 and f"{bad}:5:" in err and one_line(err), f"malformed PARAM file names its line: {err!r}")
    rc, _, err = hux(os.path.join(work, "absent.mtx"), "euc")
    expect(rc == 2 and "absent.mtx" in err and one_line(err), f"missing MATRIX: exit 2 naming it: {err!r}")
    rc, _, err = hux(small, "min", "3x")
    expect(rc == 2 and "3x" in err and one_line(err), f"bad PARAM number: {err!r}")

    for args in (("--threads", "zero"), ("--nargout",), ("--frob",), ("--param-class", "float"),
                 (small, "euc", "--prepare"), (small, "cos", "1", "extra")):
        rc, _, err = hux(*args)
        expect(rc == 2 and one_line(err), f"bad command line {args}: exit 2 and one line, got {rc} {err!r}")
    rc = subprocess.run([HUX_RUN], capture_output=True).returncode
    expect(rc == 2, "no MODULE: exit 2")
    help_run = subprocess.run([HUX_RUN, "--help"], capture_output=True)
    expect(help_run.returncode == 0 and b"Usage: hux-run MODULE" in help_run.stdout, "--help prints usage")

    rc, _, err = hux(small, "euc", module=os.path.join(work, "no-such-module.so"))
    expect(rc == 2 and one_line(err), f"unloadable module: exit 2, one line: {err!r}")
    rc, _, err = hux(small, "euc", module=OLD_INTERFACE)
    expect(rc == 2 and "0x07200000" in err and one_line(err), f"module for another interface refused: {err!r}")


def check_misbehaving_module(work):
    small = os.path.join(work, "small.mtx")
    rc, out, err = hux(module=MISBEHAVING)
    expect(rc == 1 and err.startswith("Error: ") and "no result" in err and one_line(err),
           f"empty first output slot is an error: {rc} {err!r}")
    rc, out, err = hux(small, module=MISBEHAVING)
    expect(rc == 1 and "bad_alloc" in err and one_line(err), f"bad_alloc from the module: {rc} {err!r}")
    rc, out, err = hux(small, "euc", module=MISBEHAVING)
    expect(rc == 1 and "first line second line" in err and one_line(err),
           f"a two-line exception text becomes one line: {rc} {err!r}")


def main():
    work = tempfile.mkdtemp(prefix="hux-cli-")
    try:
        check_output_forms(work)
        check_threads(work)
        check_module_errors(work)
        check_bad_inputs(work)
        check_misbehaving_module(work)
    finally:
        shutil.rmtree(work)
    print(f"{checks - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
