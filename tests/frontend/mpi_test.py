#!/usr/bin/python3
"""hux-run-mpi against hux-run: at 1, 2 and 3 ranks (more ranks than cores,
blocks of a few pairs) the binary full result and the --nearest lines are
byte for byte hux-run's; text output of the full result is refused in one
line; a rank whose writes fail ends the job with its message on one line
and leaves the file as it was. Exits 77 (skipped) without MPI.

Usage: mpi_test.py HUX_RUN HUX_RUN_MPI|none
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

import numpy as np

HUX_RUN, HUX_RUN_MPI = sys.argv[1:3]
SKIPPED = 77
failures = []


def expect(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def mpi(ranks, *args, wrapper=()):
    """mpirun's own notices off (-q); as root, Open MPI's consent to run as
    root, in this test's environment only."""
    env = {**os.environ, "OMPI_ALLOW_RUN_AS_ROOT": "1", "OMPI_ALLOW_RUN_AS_ROOT_CONFIRM": "1",
           "HUX_RUN_BLOCK_PAIRS": "23"}
    if os.environ.get("SUITE_PASS") == "asan":
        # Open MPI's own allocations outlive MPI_Finalize; hux-run's code is
        # leak-checked through hux-run.
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
    run = subprocess.run(["mpirun", "-q", "--oversubscribe", "-n", str(ranks), *wrapper, HUX_RUN_MPI,
                          *args], capture_output=True, timeout=120, env=env)
    return run.returncode, run.stdout, run.stderr.decode(errors="replace")


def main():
    if HUX_RUN_MPI == "none" or shutil.which("mpirun") is None:
        print("SKIP: hux-run-mpi was not built (no MPI found) or mpirun is missing")
        return SKIPPED
    work = tempfile.mkdtemp(prefix="hux-mpi-")
    try:
        path = os.path.join(work, "x.mtx")
        rng = np.random.default_rng(9)
        dense = np.where(rng.random((12, 50)) < 0.3, rng.integers(1, 5, (12, 50)).astype(float), 0.0)
        dense[:, 9] = dense[:, 4]  # ties
        rows, cols = np.nonzero(dense)
        with open(path, "w") as f:
            f.write(f"%%MatrixMarket matrix coordinate real general\n12 50 {len(rows)}\n")
            f.writelines(f"{r + 1} {c + 1} {dense[r, c]!r}\n" for r, c in zip(rows, cols))
        single = {form: subprocess.run([HUX_RUN, path, "cit", *form], capture_output=True,
                                       check=True).stdout
                  for form in (("--binary",), ("--nearest", "6"))}
        out = os.path.join(work, "result.bin")
        for ranks in (1, 2, 3):
            rc, _, err = mpi(ranks, path, "cit", "--binary", "--out", out)
            with open(out, "rb") as f:
                expect(rc == 0 and f.read() == single[("--binary",)],
                       f"{ranks} ranks: the binary result is hux-run's: {rc} {err!r}")
            rc, text, err = mpi(ranks, path, "cit", "--nearest", "6")
            expect(rc == 0 and text == single[("--nearest", "6")],
                   f"{ranks} ranks: the --nearest lines are hux-run's: {rc} {err!r}")

        rc, _, err = mpi(2, path, "cit", "--out", os.path.join(work, "text.out"))
        expect(rc == 2 and err.count("\n") == 1 and "text output of the full result is not offered"
               in err, f"text output of the full result refused in one line: {rc} {err!r}")

        # 1225 pairs, 9800 bytes: rank 0 writes the first third, within the
        # ranks' file size limit (mpirun's own is left alone); ranks 1 and 2
        # write past it and fail.
        with open(out, "wb") as f:
            f.write(b"previous")
        rc, _, err = mpi(3, path, "cit", "--binary", "--out", out, wrapper=("prlimit", "--fsize=4000"))
        ours = [line for line in err.splitlines() if line.startswith("hux-run-mpi:")]
        expect(rc == 1 and len(ours) == 1 and
               re.fullmatch(r"hux-run-mpi: rank 1: \S+: cannot write the result: .+", ours[0]),
               f"a failing rank ends the job with its one line (Open MPI's I/O layer may add "
               f"its own): {rc} {err!r}")
        with open(out, "rb") as f:
            expect(f.read() == b"previous" and not any(".tmp." in name for name in os.listdir(work)),
                   "the file is left as it was, and no temporary")
    finally:
        shutil.rmtree(work)
    print(f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
