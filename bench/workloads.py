"""The benchmark's matrices, generated with fixed seeds.

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


def make_workloads():
    w1_rng = np.random.default_rng(20240101)
    w1 = _fixed_count_columns(w1_rng, 20000, 5000, 100, _unit_interval)
    w2_rng = np.random.default_rng(20240202)
    w2 = _random_density(w2_rng, 2000, 2000, 0.10, _unit_interval)
    w2_dense = w2.toarray()
    w2_ranks = np.apply_along_axis(rankdata, 1, w2_dense)
    w3_rng = np.random.default_rng(20240303)
    w3 = _fixed_count_columns(w3_rng, 10000, 4000, 100, lambda r, k: np.ones(k))
    w4_rng = np.random.default_rng(20240404)
    w4 = _fixed_count_columns(w4_rng, 1000, 20000, 10, _unit_interval)
    w5_rng = np.random.default_rng(20240505)
    w5 = _random_density(w5_rng, 100, 2000, 0.05, _unit_interval)
    w5_dense = w5.toarray()
    variances = w5_dense.var(axis=0, ddof=1)
    covariance = np.cov(w5_dense, rowvar=False)
    upper = np.linalg.cholesky(covariance).T            # S = R'R, R upper
    inv_factor = np.linalg.inv(upper)                   # U = R^-1, U U' = S^-1
    return [
        Workload("W1", "text-like 20000 x 5000, 100 per column", w1,
                 ["euc", "sqe", "cit", "che", "min", "cos"],
                 {"min": 3.0, "cos": _unit_rows(w1)}),
        Workload("W2", "denser 2000 x 2000, 10 %", w2, ["euc", "cit", "cor", "spe"],
                 {"cor": _centred_unit_rows(w2_dense),
                  "spe": _centred_unit_rows(w2_ranks)}),
        Workload("W3", "binary 10000 x 4000, 1 %", w3, ["jac", "ham"]),
        Workload("W4", "output-bound 1000 x 20000, 1 %", w4, ["euc"]),
        Workload("W5", "parametrised 100 x 2000, 5 %", w5, ["seu", "mah"],
                 {"seu": 1.0 / variances, "mah": inv_factor,
                  "seu_variances": variances, "mah_covariance": covariance}),
    ]


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
