"""The benchmark's matrices, generated with fixed seeds, and W7, built from
the machine's Python sources (see term_matrix.py).

Observations are columns and variables rows, as the module sees them. Each
workload is written as a binary compressed-column file (see csc_file.hpp)
plus raw parameter files, and is also returned as a SciPy CSR matrix whose
rows are the observations, as scikit-learn and SciPy expect them.
"""

import os
import struct
from dataclasses import dataclass, field

import numpy as np
import scipy.sparse as sp
from scipy.stats import rankdata

import term_matrix

# The codes timed on the text-like workloads (W1, W6, W7), and the codes timed
# on binary data (W3, and W6/W7 binarised).
TEXT_CODES = ["euc", "sqe", "cit", "che", "min", "cos"]
BINARY_CODES = ["jac", "ham"]
MINKOWSKI_EXPONENT = 3.0

# W6's shape: Zipf-distributed row frequencies over M rows, a fixed number of
# distinct rows per column; the growth series varies N only.
ZIPF_ROWS = 7000
ZIPF_COLUMNS = 6000
ZIPF_PER_COLUMN = 140
ZIPF_EXPONENT = 1.1
ZIPF_SEED = 20240606
GROWTH_COLUMNS = [2500, 5000, 10000, 20000]
# euc only: cit costs about the same per point, and the largest point takes
# minutes per code with its bit-identity check.
GROWTH_CODES = ["euc"]


@dataclass
class Workload:
    name: str
    title: str
    samples: sp.csr_matrix          # observations as rows (N x M)
    metrics: list                   # metric codes timed on it
    params: dict = field(default_factory=dict)   # code -> raw parameter (ndarray) or exponent


def _fixed_count_columns(rng, m, n, per_column, values):
    """n columns with exactly per_column distinct random rows each."""
    rows = np.empty(n * per_column, dtype=np.int64)
    for c in range(n):
        rows[c * per_column:(c + 1) * per_column] = np.sort(
            rng.choice(m, per_column, replace=False))
    indptr = np.arange(0, n * per_column + 1, per_column, dtype=np.int64)
    data = values(rng, n * per_column)
    return sp.csr_matrix((data, rows, indptr), shape=(n, m))


def _zipf_counts(rng, m, n, per_column, exponent, chunk=500):
    """n columns with exactly per_column distinct rows each, drawn without
    replacement with probability proportional to rank^-exponent, the ranks
    shuffled over the row indices; values are small counts (geometric, p = 1/2).

    Weighted sampling without replacement by exponential keys (the k smallest
    of E/w, E ~ Exp(1)) gives the same law as drawing one row at a time
    with probability proportional to the weights of the rows not yet drawn.
    Columns are drawn in fixed-size chunks, so a larger n extends a smaller
    one with the same seed."""
    weights = np.empty(m)
    weights[rng.permutation(m)] = np.arange(1, m + 1, dtype=np.float64) ** -exponent
    rows = np.empty((n, per_column), dtype=np.int64)
    data = np.empty((n, per_column))
    for start in range(0, n, chunk):
        stop = min(n, start + chunk)
        keys = rng.exponential(size=(stop - start, m)) / weights
        picked = np.argpartition(keys, per_column - 1, axis=1)[:, :per_column]
        rows[start:stop] = np.sort(picked, axis=1)
        data[start:stop] = rng.geometric(0.5, size=(stop - start, per_column))
    indptr = np.arange(0, n * per_column + 1, per_column, dtype=np.int64)
    return sp.csr_matrix((data.ravel(), rows.ravel(), indptr), shape=(n, m))


def zipf_samples(n, per_column=ZIPF_PER_COLUMN):
    """W6's generator at n columns (W6 itself, the growth series and the
    streamed run)."""
    return _zipf_counts(np.random.default_rng(ZIPF_SEED), ZIPF_ROWS, n, per_column, ZIPF_EXPONENT)


def _binarised(x):
    """The same pattern with every stored value 1."""
    out = x.tocsr(copy=True)
    out.data[:] = 1.0
    return out


def _random_density(rng, m, n, density, values):
    """Each row/variable pair is stored with probability `density`."""
    mask = rng.random((n, m)) < density
    data = np.zeros((n, m))
    data[mask] = values(rng, int(mask.sum()))
    out = sp.csr_matrix(data)
    out.eliminate_zeros()
    return out


def _unit_interval(rng, count):
    return 1.0 - rng.random(count)          # values in (0, 1]


def _unit_rows(x):
    """Rows scaled to unit Euclidean length (rows are observations here)."""
    x = x.tocsr(copy=True).astype(np.float64)
    norms = np.sqrt(np.asarray(x.multiply(x).sum(axis=1)).ravel())
    norms[norms == 0] = 1.0
    return sp.csr_matrix(sp.diags(1.0 / norms) @ x)


def _centred_unit_rows(dense):
    """Each observation centred over its variables, then scaled to unit length:
    the preparation that turns 1 - x.y into the correlation distance."""
    centred = dense - dense.mean(axis=1, keepdims=True)
    norms = np.linalg.norm(centred, axis=1, keepdims=True)
    norms[norms == 0] = 1.0
    return sp.csr_matrix(centred / norms)


def _w1():
    w1 = _fixed_count_columns(np.random.default_rng(20240101), 20000, 5000, 100, _unit_interval)
    return Workload("W1", "text-like 20000 x 5000, 100 per column", w1, TEXT_CODES,
                    {"min": MINKOWSKI_EXPONENT, "cos": _unit_rows(w1)})


def _w2():
    w2 = _random_density(np.random.default_rng(20240202), 2000, 2000, 0.10, _unit_interval)
    w2_dense = w2.toarray()
    w2_ranks = np.apply_along_axis(rankdata, 1, w2_dense)
    return Workload("W2", "denser 2000 x 2000, 10 %", w2, ["euc", "cit", "cor", "spe"],
                    {"cor": _centred_unit_rows(w2_dense), "spe": _centred_unit_rows(w2_ranks)})


def _w3():
    w3 = _fixed_count_columns(np.random.default_rng(20240303), 10000, 4000, 100,
                              lambda r, k: np.ones(k))
    return Workload("W3", "binary 10000 x 4000, 1 %", w3, BINARY_CODES)


def _w4():
    w4 = _fixed_count_columns(np.random.default_rng(20240404), 1000, 20000, 10, _unit_interval)
    return Workload("W4", "output-bound 1000 x 20000, 1 %", w4, ["euc"])


def _w5():
    w5 = _random_density(np.random.default_rng(20240505), 100, 2000, 0.05, _unit_interval)
    w5_dense = w5.toarray()
    variances = w5_dense.var(axis=0, ddof=1)
    covariance = np.cov(w5_dense, rowvar=False)
    upper = np.linalg.cholesky(covariance).T            # S = R'R, R upper
    inv_factor = np.linalg.inv(upper)                   # U = R^-1, U U' = S^-1
    return Workload("W5", "parametrised 100 x 2000, 5 %", w5, ["seu", "mah"],
                    {"seu": 1.0 / variances, "mah": inv_factor,
                     "seu_variances": variances, "mah_covariance": covariance})


def _counts_workload(name, title, samples):
    """Count data: the text codes on the counts (cos on unit-scaled columns),
    jac and ham on the binarised pattern."""
    binary = _binarised(samples)
    return Workload(name, title, samples, TEXT_CODES + BINARY_CODES,
                    {"min": MINKOWSKI_EXPONENT, "cos": _unit_rows(samples),
                     "jac": binary, "ham": binary})


def _w6():
    return _counts_workload(
        "W6", f"Zipf rows {ZIPF_ROWS} x {ZIPF_COLUMNS}, {ZIPF_PER_COLUMN} per column, counts",
        zipf_samples(ZIPF_COLUMNS))


def _w7():
    samples = term_matrix.build()
    n, m = samples.shape
    return _counts_workload("W7", f"term counts {m} x {n}, Python sources", samples)


def _growth(n):
    return lambda: Workload(f"G{n}", f"W6's generator at N = {n}", zipf_samples(n), GROWTH_CODES)


# Each workload's name and builder, in the order the table lists them; the
# growth series (G<N>) is timed at 2 threads only and reported on its own.
BUILDERS = ([("W1", _w1), ("W2", _w2), ("W3", _w3), ("W4", _w4), ("W5", _w5), ("W6", _w6),
             ("W7", _w7)] + [(f"G{n}", _growth(n)) for n in GROWTH_COLUMNS])


def is_growth(name):
    return name.startswith("G")


def make_workloads(names=None):
    """The workloads named in `names` (all when None), built one at a time."""
    for name, build in BUILDERS:
        if names is None or name in names:
            yield build()


def data_for(workload, code):
    """The matrix a metric runs on: prepared data for cos/cor/spe, else the raw one."""
    prepared = workload.params.get(code)
    if isinstance(prepared, sp.spmatrix):
        return prepared.tocsr()
    return workload.samples


def write_csc(path, samples):
    """Observations (CSR rows) become the file's columns."""
    samples = samples.tocsr()
    samples.sort_indices()
    n, m = samples.shape
    with open(path, "wb") as f:
        f.write(b"RMCSC01\0")
        f.write(struct.pack("<3Q", m, n, samples.nnz))
        f.write(samples.indptr.astype("<u8").tobytes())
        f.write(samples.indices.astype("<u8").tobytes())
        f.write(samples.data.astype("<f8").tobytes())


def write_market(path, samples):
    """Observations (CSR rows) as the columns of a Matrix Market file, for
    hux-run; values exactly as stored ("%.17g")."""
    coo = samples.tocsr().tocoo()
    n, m = samples.shape
    with open(path, "w") as f:
        f.write(f"%%MatrixMarket matrix coordinate real general\n{m} {n} {coo.nnz}\n")
        np.savetxt(f, np.column_stack([coo.col + 1, coo.row + 1, coo.data]), fmt="%d %d %.17g")


def write_inputs(directory, workload, code):
    """Writes the matrix file (and parameter file) for one metric; returns the
    driver's arguments for them."""
    data_path = os.path.join(directory, f"{workload.name}_{code}.csc")
    write_csc(data_path, data_for(workload, code))
    args = ["--data", data_path, "--metric", code]
    param = workload.params.get(code)
    if code == "min":
        args += ["--exponent", repr(param)]
    elif code == "seu":
        path = os.path.join(directory, f"{workload.name}_seu.f64")
        np.asarray(param, dtype="<f8").tofile(path)
        args += ["--param", path]
    elif code == "mah":
        path = os.path.join(directory, f"{workload.name}_mah.f64")
        np.asfortranarray(param).ravel(order="F").astype("<f8").tofile(path)
        args += ["--param", path]
    return args
