"""Runs one peer implementation on one benchmark matrix and compares it with
the module's result.

Usage: peers.py PEER DATA_FILE OURS_FILE [--param FILE] [--exponent P] [--k K]
Prints one JSON object: the peer's median time, its run count, its process
peak memory and its largest relative difference from the module's result.
The nearest-neighbour peers (sklearn-nn-brute-*) take --k and compare with
the lists rowmetric_bench --dump-nearest wrote: the share of columns whose
K neighbours are ours in the same order, and the largest relative
difference of the distances place by place.
Run it with /usr/bin/python3 (Debian's numpy, SciPy and scikit-learn).
"""

import argparse
import json
import struct
import sys
import time

import numpy as np
import scipy.sparse as sp
from scipy.spatial.distance import pdist, squareform


def reset_peak_memory():
    """Restart the kernel's peak-RSS record: a forked child inherits its parent's."""
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
    except OSError:
        pass


def peak_memory_bytes():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return 0


def read_samples(path):
    """The module's compressed-column file as CSR with observations as rows."""
    with open(path, "rb") as f:
        if f.read(8) != b"RMCSC01\0":
            raise SystemExit(f"{path} is not a compressed-column benchmark file")
        m, n, count = struct.unpack("<3Q", f.read(24))
        indptr = np.fromfile(f, dtype="<u8", count=n + 1).astype(np.int64)
        indices = np.fromfile(f, dtype="<u8", count=count).astype(np.int64)
        data = np.fromfile(f, dtype="<f8", count=count)
    return sp.csr_matrix((data, indices, indptr), shape=(n, m))


def sklearn_metric(name, **kw):
    from sklearn.metrics import DistanceMetric
    metric = DistanceMetric.get_metric(name, **kw)
    return lambda x: squareform(metric.pairwise(x), checks=False)


def peer_function(peer, args):
    """peer name -> (callable on the CSR samples, wants dense input)."""
    from sklearn.metrics.pairwise import (cosine_distances, euclidean_distances,
                                          manhattan_distances)
    param = np.fromfile(args.param, dtype="<f8") if args.param else None

    def condensed(f, **kw):
        return lambda x: squareform(f(x, **kw), checks=False)

    if peer == "sklearn-euclidean":
        return condensed(euclidean_distances), False
    if peer == "sklearn-euclidean-squared":
        return condensed(euclidean_distances, squared=True), False
    if peer == "sklearn-cosine":
        return condensed(cosine_distances), False
    if peer == "sklearn-manhattan":
        return condensed(manhattan_distances), False
    if peer.startswith("sklearn-dm-"):
        name = peer[len("sklearn-dm-"):]
        if name == "minkowski":
            return sklearn_metric(name, p=args.exponent), False
        if name == "seuclidean":
            return sklearn_metric(name, V=1.0 / param), False
        if name == "mahalanobis":
            m = int(round(np.sqrt(param.size)))
            u = param.reshape((m, m), order="F")
            return sklearn_metric(name, VI=np.triu(u) @ np.triu(u).T), False
        return sklearn_metric(name), False
    if peer.startswith("sklearn-nn-brute-"):
        from sklearn.neighbors import NearestNeighbors
        metric = peer[len("sklearn-nn-brute-"):]

        def nearest(x):
            # kneighbors() without a query leaves each point out of its own list.
            model = NearestNeighbors(n_neighbors=args.k, algorithm="brute", metric=metric).fit(x)
            return model.kneighbors()
        return nearest, False
    if peer.startswith("scipy-"):
        name = peer[len("scipy-"):]
        kw = {}
        if name == "minkowski":
            kw["p"] = args.exponent
        elif name == "seuclidean":
            kw["V"] = 1.0 / param
        elif name == "mahalanobis":
            m = int(round(np.sqrt(param.size)))
            u = param.reshape((m, m), order="F")
            kw["VI"] = np.triu(u) @ np.triu(u).T
        elif name == "sqeuclidean":
            pass
        return (lambda x: pdist(x, name, **kw)), True
    raise SystemExit(f"unknown peer {peer}")


# Differences below this share of the largest distance are rounding noise:
# near-duplicate columns have distances of a few ulps around 0 in every
# program, and relative to themselves those differ by 100 %.
NOISE_FLOOR = 1e-12


def largest_relative_difference(peer, ours):
    """max |p - o| / max(|p|, |o|) over pairs; equal values (and two NaNs), and
    differences below NOISE_FLOOR of the largest finite distance, count 0."""
    peer = np.asarray(peer, dtype=np.float64)
    both_nan = np.isnan(peer) & np.isnan(ours)
    finite = np.abs(ours[np.isfinite(ours)])
    floor = NOISE_FLOOR * (finite.max() if finite.size else 0.0)
    with np.errstate(invalid="ignore", divide="ignore"):
        scale = np.maximum(np.abs(peer), np.abs(ours))
        difference = np.abs(peer - ours)
        rel = difference / scale
    rel[(peer == ours) | both_nan | (difference <= floor)] = 0.0
    rel[np.isnan(rel)] = np.inf
    return float(rel.max()) if rel.size else 0.0


def compare_nearest(result, ours_path, k):
    """The peer's (distances, indices) against our dump: N x K column indices
    (uint64), then N x K distances."""
    distances, indices = result
    raw = np.fromfile(ours_path, dtype="<u8")
    half = raw.size // 2
    ours_indices = raw[:half].astype(np.int64).reshape(-1, k)
    ours_distances = raw[half:].view("<f8").reshape(-1, k)
    if ours_indices.shape != indices.shape:
        raise SystemExit(f"list shapes differ: peer {indices.shape}, module {ours_indices.shape}")
    same = float(np.mean(np.all(ours_indices == indices, axis=1)))
    return {"same_lists": same,
            "max_rel_diff": largest_relative_difference(distances.ravel(), ours_distances.ravel())}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("peer")
    parser.add_argument("data")
    parser.add_argument("ours", help="the module's condensed result (raw doubles); '-' skips the comparison")
    parser.add_argument("--param")
    parser.add_argument("--exponent", type=float, default=0.0)
    parser.add_argument("--k", type=int, default=10, help="neighbours per column (nn peers)")
    parser.add_argument("--max-runs", type=int, default=3)
    parser.add_argument("--slow-seconds", type=float, default=5.0,
                        help="a first run longer than this is not repeated")
    args = parser.parse_args()

    reset_peak_memory()
    samples = read_samples(args.data)
    run, dense = peer_function(args.peer, args)
    x = samples.toarray() if dense else samples
    times = []
    result = None
    for _ in range(args.max_runs):
        start = time.perf_counter()
        result = run(x)
        times.append(time.perf_counter() - start)
        if times[0] > args.slow_seconds:
            break
    report = {"peer": args.peer, "seconds": float(np.median(times)), "runs": len(times),
              "peak_bytes": peak_memory_bytes()}
    if args.ours != "-" and args.peer.startswith("sklearn-nn-brute-"):
        report.update(compare_nearest(result, args.ours, args.k))
    elif args.ours != "-":
        ours = np.fromfile(args.ours, dtype="<f8")
        if ours.size != result.size:
            raise SystemExit(f"result sizes differ: peer {result.size}, module {ours.size}")
        report["max_rel_diff"] = largest_relative_difference(result, ours)
    print(json.dumps(report))


if __name__ == "__main__":
    sys.exit(main())
