#!/usr/bin/python3
"""hux-run with the rowmetric module against SciPy as an independent oracle.

Usage: scipy_oracle_test.py HUX_RUN ROWMETRIC_SO

Random sparse matrices (fixed seeds, several shapes, some empty columns) are
written as Matrix Market files; every metric's output must agree with
scipy.spatial.distance.pdist on the densified matrix with the columns as
observations (pdist(X.T)), to a relative 1e-12. Every code hux-run --help
lists must be among those checked.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import warnings

import numpy as np
from scipy import stats
from scipy.spatial.distance import pdist

HUX_RUN, MODULE = sys.argv[1], sys.argv[2]
REL_TOL = 1e-12
failures = []
checked_codes = set()


def fail(message):
    failures.append(message)
    print("FAIL:", message)


def write_coordinate(path, dense, rng):
    """Writes the non-zeros of `dense` in a shuffled order (the reader sorts)."""
    rows, cols = np.nonzero(dense)
    order = rng.permutation(len(rows))
    with open(path, "w") as f:
        f.write("%%MatrixMarket matrix coordinate real general\n% oracle data\n")
        f.write(f"{dense.shape[0]} {dense.shape[1]} {len(rows)}\n")
        for k in order:
            f.write(f"{rows[k] + 1} {cols[k] + 1} {dense[rows[k], cols[k]]!r}\n")


def write_array(path, dense):
    dense = np.atleast_2d(dense)
    with open(path, "w") as f:
        f.write("%%MatrixMarket matrix array real general\n")
        f.write(f"{dense.shape[0]} {dense.shape[1]}\n")
        for v in dense.flatten(order="F"):
            f.write(f"{v!r}\n")


def hux(*args):
    result = subprocess.run([HUX_RUN, MODULE, *args], capture_output=True, timeout=60)
    return result.returncode, result.stdout, result.stderr.decode()


def listed_codes():
    """The codes hux-run --help lists, from the module's own table."""
    text = subprocess.run([HUX_RUN, "--help"], capture_output=True, text=True, timeout=60).stdout
    return re.findall(r"^  ([a-z]{3})  ", text.partition("Metric codes")[2], re.M)


def run_values(*args):
    checked_codes.add(args[1][:3])
    rc, out, err = hux(*args)
    if rc != 0:
        fail(f"hux-run {' '.join(args)} exited {rc}: {err.strip()}")
        return None
    return np.array([float(line) for line in out.decode().split()])


def agree(label, got, want, floor=0.0):
    if got is None:
        return
    if got.shape != want.shape:
        fail(f"{label}: {got.size} values, expected {want.size}")
        return
    both_nan = np.isnan(got) & np.isnan(want)
    diff = np.abs(got - want)
    bound = REL_TOL * np.maximum(np.abs(got), np.abs(want)) + floor
    bad = ~both_nan & ~(diff <= bound)
    if bad.any():
        k = int(np.argmax(bad))
        fail(f"{label}: {int(bad.sum())} of {got.size} differ, first at {k}: got {got[k]!r}, want {want[k]!r}")


def degenerate_pairs(flags):
    """Condensed mask of the pairs that involve a flagged column."""
    n = len(flags)
    return np.array([flags[i] or flags[j] for i in range(n) for j in range(i + 1, n)], dtype=bool)


def random_matrix(rng, m, n, density, empty_cols, values="real"):
    mask = rng.random((m, n)) < density
    if values == "real":
        data = rng.uniform(0.5, 3.0, (m, n)) * rng.choice([-1.0, 1.0], (m, n))
    elif values == "binary":
        data = np.ones((m, n))
    else:  # small integers, so that equal values at one row are common
        data = rng.integers(1, 4, (m, n)).astype(float)
    dense = np.where(mask, data, 0.0)
    dense[:, list(empty_cols)] = 0.0
    return dense


def check_matrix(workdir, tag, dense, rng):
    m, n = dense.shape
    path = os.path.join(workdir, f"{tag}.mtx")
    write_coordinate(path, dense, rng)
    obs = dense.T
    empty = ~dense.any(axis=0)
    # The inner-product distances are 1 - x.y of prepared columns. Its absolute
    # rounding error is about M unit roundoffs whatever the distance, so where
    # the distance nears 0 (almost parallel columns) a relative bound means
    # nothing; a floor of M * 1e-15 (about 9 M ulps of 1.0) covers it.
    dot_floor = m * 1e-15

    agree(f"{tag} euc", run_values(path, "euc"), pdist(obs, "euclidean"))
    agree(f"{tag} euclidean", run_values(path, "euclidean"), pdist(obs, "euclidean"))
    agree(f"{tag} sqe", run_values(path, "sqe"), pdist(obs, "sqeuclidean"))
    agree(f"{tag} cit", run_values(path, "cit"), pdist(obs, "cityblock"))
    agree(f"{tag} che", run_values(path, "che"), pdist(obs, "chebyshev"))
    agree(f"{tag} min p=3", run_values(path, "min", "3"), pdist(obs, "minkowski", p=3))

    weights = rng.uniform(0.5, 2.0, m)
    wpath = os.path.join(workdir, f"{tag}-w.mtx")
    write_array(wpath, weights.reshape(m, 1))
    agree(f"{tag} seu", run_values(path, "seu", wpath), pdist(obs, "seuclidean", V=1.0 / weights))

    # U: upper triangular with a dominant diagonal, so U U^T is well conditioned.
    upper = np.triu(rng.uniform(-0.3, 0.3, (m, m)) / np.sqrt(m), 1) + np.diag(rng.uniform(1.0, 2.0, m))
    upath = os.path.join(workdir, f"{tag}-u.mtx")
    write_array(upath, upper)
    agree(f"{tag} mah", run_values(path, "mah", upath), pdist(obs, "mahalanobis", VI=upper @ upper.T))

    # A column of zero length (after centring, for cor and spe) is left all
    # zeros by --prepare, which makes its distance to every column 1.
    constant = np.array([m == 0 or np.all(dense[:, c] == dense[0, c]) for c in range(n)])
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # SciPy warns (and gives NaN) on zero-length columns
        cosine = pdist(obs, "cosine")
        correlation = pdist(obs, "correlation")
    # spearmanr refuses a whole matrix when its first or second column is
    # constant, so it gets only the others; pairs with a constant column are
    # set to 1 below anyway.
    rho = np.full((n, n), np.nan)
    varying = np.flatnonzero(~constant)
    if len(varying) >= 2:
        sub = np.atleast_2d(stats.spearmanr(dense[:, varying]).correlation)
        if sub.size == 1:
            sub = np.array([[1.0, sub[0, 0]], [sub[0, 0], 1.0]])
        rho[np.ix_(varying, varying)] = sub
    spearman = np.array([1.0 - rho[i, j] for i in range(n) for j in range(i + 1, n)])
    cosine[degenerate_pairs(empty)] = 1.0
    correlation[degenerate_pairs(constant)] = 1.0
    spearman[degenerate_pairs(constant)] = 1.0
    # hux-run prepares the columns of these codes by default; --prepare asks
    # for the same, and --raw hands the module the columns as they are.
    agree(f"{tag} cos", run_values(path, "cos"), cosine, dot_floor)
    agree(f"{tag} cor", run_values(path, "cor", "--prepare"), correlation, dot_floor)
    agree(f"{tag} spe", run_values(path, "spe"), spearman, dot_floor)
    products = (obs @ dense)[np.triu_indices(n, 1)]
    raw = np.where(products > 1.0, 0.0, 1.0 - products)
    agree(f"{tag} cos --raw", run_values(path, "cos", "--raw"), raw,
          dot_floor * max(1.0, np.abs(products).max(initial=0.0)))

    # The host never stores a zero, so a stored row is a non-zero one and the
    # module's counts match SciPy's over all M coordinates.
    agree(f"{tag} ham", run_values(path, "ham"), pdist(obs, "hamming"))
    # SciPy's jaccard gives 0 for two all-zero columns; the module gives 0/0 =
    # NaN there (no union rows).
    jaccard = pdist(obs, "jaccard")
    both_empty = np.array([empty[i] and empty[j] for i in range(n) for j in range(i + 1, n)], dtype=bool)
    jaccard[both_empty] = np.nan
    agree(f"{tag} jac", run_values(path, "jac"), jaccard)


def check_hamming_jaccard_values(workdir, rng):
    """ham and jac on 0/1 and on small-integer data, where equal values are common."""
    for tag, values in (("binary", "binary"), ("ints", "ints")):
        dense = random_matrix(rng, 25, 30, 0.4, [3, 17], values)
        path = os.path.join(workdir, f"hj-{tag}.mtx")
        write_coordinate(path, dense, rng)
        obs = dense.T
        agree(f"{tag} ham", run_values(path, "ham"), pdist(obs, "hamming"))
        want = pdist(obs, "jaccard")
        empty = ~dense.any(axis=0)
        want[np.array([empty[i] and empty[j] for i in range(30) for j in range(i + 1, 30)])] = np.nan
        agree(f"{tag} jac", run_values(path, "jac"), want)


def check_stored_zeros(workdir):
    """A zero the file stores, written 0, -0 or 1e-400 (which rounds to 0), or
    two entries that sum to 0, is not a stored row of the host's array: two
    columns that both equal [0, 5, 0] are identical for ham and jac, as SciPy
    sees them."""
    dense = np.array([[0.0, 0.0], [5.0, 5.0], [0.0, 0.0]])
    for tag, zero in (("0", "1 1 0\n"), ("-0", "1 1 -0\n"), ("1e-400", "1 1 1e-400\n"),
                      ("1 and -1", "1 1 1\n1 1 -1\n")):
        path = os.path.join(workdir, "stored-zero.mtx")
        entries = "2 1 5\n2 2 5\n" + zero
        with open(path, "w") as f:
            f.write(f"%%MatrixMarket matrix coordinate real general\n3 2 {entries.count(chr(10))}\n{entries}")
        agree(f"stored zero {tag} ham", run_values(path, "ham"), pdist(dense.T, "hamming"))
        agree(f"stored zero {tag} jac", run_values(path, "jac"), pdist(dense.T, "jaccard"))


def main():
    workdir = tempfile.mkdtemp(prefix="hux-oracle-")
    try:
        rng = np.random.default_rng(20240611)
        shapes = [  # (rows M, columns N, density, empty columns)
            (30, 12, 0.3, [4]),
            (50, 40, 0.1, [0, 7, 39]),
            (6, 60, 0.5, [10, 11]),
            (120, 25, 0.05, [2]),
            (8, 2, 0.6, []),
            (1, 5, 1.0, [3]),
        ]
        for m, n, density, empty in shapes:
            check_matrix(workdir, f"m{m}x{n}", random_matrix(rng, m, n, density, empty), rng)
        check_hamming_jaccard_values(workdir, rng)
        check_stored_zeros(workdir)
    finally:
        shutil.rmtree(workdir)
    listed = listed_codes()
    if not listed:
        fail("hux-run --help lists no metric codes")
    for code in sorted(set(listed) - checked_codes):
        fail(f"code {code} is listed by hux-run --help but has no oracle check")
    if failures:
        print(f"0 passed, {len(failures)} failed")
        return 1
    print("scipy oracle: all metrics agree")
    return 0


if __name__ == "__main__":
    sys.exit(main())
