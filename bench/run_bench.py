"""make bench: the module against its peers on generated workloads.

Generates the workloads (fixed seeds), runs the C++ driver for every metric
(bit-identity check against the plain pair loop, then medians of timed runs
at 1 and 2 threads), runs scikit-learn and SciPy on the same data in separate
processes, checks agreement to 1e-9 relative and prints one table, with
the growth series on W6's generator (2 threads, no peers) in one of its own. For the
W1 euc result it also times writing it as hux-run --out does (text and
binary) next to dd writing as many bytes to the same file system. Beyond one
result in memory: --nearest 10 against the full result on W6 and W7 (and
scikit-learn's brute-force NearestNeighbors), a streamed result larger than
the machine's memory, and hux-run-mpi at 1, 2 and 3 ranks (the S items of
--only). Run with /usr/bin/python3 (Debian's numpy, SciPy and scikit-learn).
"""

import argparse
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import workloads  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
AGREEMENT = 1e-9
PDIST_LIMIT_SECONDS = 60.0
# The result whose writing is timed, and the bar for its binary form.
OUTPUT_TIMED = ("W1", "euc")
BINARY_OVER_DD_LIMIT = 1.5

# The peers of each metric on the text-like and binary workloads. The SciPy
# peer name is pdist's metric name.
TEXT_PEERS = {
    "euc": ["sklearn-euclidean", "scipy-euclidean"],
    "sqe": ["sklearn-euclidean-squared", "scipy-sqeuclidean"],
    "cit": ["sklearn-manhattan", "sklearn-dm-manhattan", "scipy-cityblock"],
    "che": ["sklearn-dm-chebyshev", "scipy-chebyshev"],
    "min": ["sklearn-dm-minkowski", "scipy-minkowski"],
    "cos": ["sklearn-cosine", "scipy-cosine"],
    "jac": ["sklearn-dm-jaccard", "scipy-jaccard"],
    "ham": ["sklearn-dm-hamming", "scipy-hamming"],
}
# The workloads timed on the text codes, on the binary codes, and so those
# whose every metric runs against TEXT_PEERS.
TEXT_WORKLOADS = ["W1", "W6", "W7"]
BINARY_WORKLOADS = ["W3", "W6", "W7"]
TEXT_LIKE = set(TEXT_WORKLOADS + BINARY_WORKLOADS)
# The peers of the other workloads' metrics; W4 and the growth series have none.
OTHER_PEERS = {
    ("W2", "euc"): ["sklearn-euclidean", "scipy-euclidean"],
    ("W2", "cit"): ["sklearn-manhattan", "scipy-cityblock"],
    ("W2", "cor"): ["sklearn-cosine", "scipy-cosine"],
    ("W2", "spe"): ["sklearn-cosine", "scipy-cosine"],
    ("W5", "seu"): ["sklearn-dm-seuclidean", "scipy-seuclidean"],
    ("W5", "mah"): ["sklearn-dm-mahalanobis", "scipy-mahalanobis"],
}


def peers_for(key):
    """The peer names for (workload, metric)."""
    w, code = key
    return TEXT_PEERS[code] if w in TEXT_LIKE else OTHER_PEERS.get(key, [])


def keys_for(names, codes):
    return [(w, code) for w in names for code in codes]


# (target text, workload, metrics, peer names, required ratio peer/ours)
TARGETS = [
    ("1. cos/cor/spe >= 3x sklearn cosine_distances",
     keys_for(TEXT_WORKLOADS, ["cos"]) + [("W2", "cor"), ("W2", "spe")],
     ["sklearn-cosine"], 3.0),
    (f"2. euc/sqe on {', '.join(TEXT_WORKLOADS)} no slower than sklearn euclidean_distances",
     keys_for(TEXT_WORKLOADS, ["euc", "sqe"]),
     ["sklearn-euclidean", "sklearn-euclidean-squared"], 1.0),
    (f"3. cit/che/min on {', '.join(TEXT_WORKLOADS)} >= 20x sklearn's fastest sparse path",
     keys_for(TEXT_WORKLOADS, ["cit", "che", "min"]),
     ["sklearn-manhattan", "sklearn-dm-manhattan", "sklearn-dm-chebyshev", "sklearn-dm-minkowski"],
     20.0),
    (f"4. jac/ham on {', '.join(BINARY_WORKLOADS)} >= 20x DistanceMetric.pairwise(csr)",
     keys_for(BINARY_WORKLOADS, workloads.BINARY_CODES),
     ["sklearn-dm-jaccard", "sklearn-dm-hamming"], 20.0),
    ("5. seu/mah on W5 >= 10x SciPy pdist (dense)", [("W5", "seu"), ("W5", "mah")],
     ["scipy-seuclidean", "scipy-mahalanobis"], 10.0),
]
# The union folds, timed on the text-like workloads with the lane sweep and
# the tile sweep forced in turn, at LANE_THREADS threads, next to the path
# the module chooses.
LANE_CODES = ["euc", "sqe", "cit", "che", "min"]
LANE_THREADS = 2

# The growth series' thread count, and its cap on timed runs per point: its
# largest point takes about 16 times W6's time per run.
GROWTH_THREADS = 2
GROWTH_MAX_RUNS = 3
# --nearest K against the full result, with scikit-learn's brute-force
# NearestNeighbors on the same data (its metric by our code), and the bar.
NEAREST_K = 10
NEAREST_KEYS = {("W6", "euc"), ("W6", "cos"), ("W7", "euc"), ("W7", "cos")}
NEAREST_PEER_METRIC = {"euc": "euclidean", "cos": "cosine"}
NEAREST_OVER_FULL_LIMIT = 1.25
# The streamed run: W6's generator with fewer entries per column, a binary
# result larger than this machine's 24 GB of memory, written and deleted.
STREAM_COLUMNS = 80000
STREAM_PER_COLUMN = 20
STREAM_CODE = "euc"
# hux-run-mpi on one machine: W6 euc at these rank counts, one thread each.
MPI_RANKS = [1, 2, 3]
MPI_KEY = ("W6", "euc")
# The --only items of the runs beyond one result in memory.
SCALING_ITEMS = {("S", "stream"), ("S", "mpi")}


def peer_environment():
    """The peers run without the OpenBLAS core-type overrides (this command only)."""
    env = dict(os.environ)
    env.pop("OPENBLAS_CORETYPE", None)
    env.pop("OPENBLAS_L2_SIZE", None)
    return env


def blas_description():
    code = ("import threadpoolctl, numpy; numpy.ones((4,4)) @ numpy.ones((4,4));"
            "info = threadpoolctl.threadpool_info();"
            "print('; '.join(f\"{i.get('internal_api')} {i.get('version')} {i.get('architecture')}\""
            " for i in info) or 'reference BLAS (no threadpool-controlled library)')")
    out = subprocess.run([sys.executable, "-c", code], env=peer_environment(),
                         capture_output=True, text=True)
    return out.stdout.strip() or out.stderr.strip().splitlines()[-1]


def run_json(cmd, env=None):
    out = subprocess.run(cmd, capture_output=True, text=True, env=env)
    if out.returncode != 0:
        raise RuntimeError(f"{' '.join(cmd)} failed: {out.stderr.strip()}")
    return json.loads(out.stdout.strip().splitlines()[-1])


def time_dd(directory, size, runs):
    """dd writing `size` bytes of zeros to a new file in `directory`: the
    medium's speed for the output comparison. Median of `runs` after a
    warm-up, each to a new file (the previous one removed untimed)."""
    path = os.path.join(directory, "dd.f64")
    times = []
    for r in range(runs + 1):
        if os.path.exists(path):
            os.unlink(path)
        start = time.perf_counter()
        subprocess.run(["dd", "if=/dev/zero", f"of={path}", "bs=1M", f"count={size}",
                        "iflag=count_bytes", "status=none"], check=True)
        if r > 0:
            times.append(time.perf_counter() - start)
    os.unlink(path)
    return statistics.median(times)


def pdist_estimate(workload, code, args_for_peer, env):
    """pdist's time extrapolated from the first 400 observations."""
    probe = subprocess.run(
        [sys.executable, os.path.join(HERE, "peers.py"), "--max-runs", "1"] + args_for_peer,
        capture_output=True, text=True, env=env)
    if probe.returncode != 0:
        return None
    return json.loads(probe.stdout)["seconds"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--driver", required=True, help="path of the built rowmetric_bench")
    parser.add_argument("--runs", type=int, default=5, help="timed runs per thread count")
    parser.add_argument("--only", help="comma-separated W:code list, e.g. W1:euc,W5:mah,"
                        "G20000:euc (G<N>: the growth series), S:stream (the streamed run), "
                        "S:mpi (hux-run-mpi, run with W6:euc)")
    parser.add_argument("--no-peers", action="store_true")
    parser.add_argument("--readme", help="rewrite the results section of this README")
    args = parser.parse_args()

    started = time.time()
    env = peer_environment()
    selected = parse_only(parser, args.only) if args.only else None
    work = tempfile.mkdtemp(prefix="rowmetric-bench-")
    ours, growth, peers, skipped, lanes, scaling = {}, {}, {}, [], {}, {}
    try:
        names = {w for w, _ in selected} if selected else None
        for w in workloads.make_workloads(names):
            print(f"{w.name}: generated {w.samples.shape[1]} x {w.samples.shape[0]}, "
                  f"{w.samples.nnz} entries", file=sys.stderr, flush=True)
            for code in w.metrics:
                key = (w.name, code)
                if selected and key not in selected:
                    continue
                inputs = workloads.write_inputs(work, w, code)
                if workloads.is_growth(w.name):
                    print(f"{w.name} {code}: module ...", file=sys.stderr, flush=True)
                    growth[key] = run_json([args.driver] + inputs + [
                        "--runs", str(min(args.runs, GROWTH_MAX_RUNS)), "--threads",
                        str(GROWTH_THREADS), "--check"])
                    continue
                dump = os.path.join(work, f"{w.name}_{code}.out.f64")
                want_dump = bool(peers_for(key)) and not args.no_peers
                cmd = [args.driver] + inputs + ["--runs", str(args.runs), "--threads", "1,2",
                                                "--check"]
                if want_dump:
                    cmd += ["--dump", dump]
                if w.name == "W4":
                    cmd += ["--write-baseline"]
                if key == OUTPUT_TIMED:
                    cmd += ["--time-output", work]
                nearest_dump = os.path.join(work, f"{w.name}_{code}.nearest")
                if key in NEAREST_KEYS:
                    cmd += ["--nearest", str(NEAREST_K), "--dump-nearest", nearest_dump]
                print(f"{w.name} {code}: module ...", file=sys.stderr, flush=True)
                ours[key] = run_json(cmd)
                if key in NEAREST_KEYS and not args.no_peers:
                    peer = f"sklearn-nn-brute-{NEAREST_PEER_METRIC[code]}"
                    print(f"{w.name} {code}: {peer} ...", file=sys.stderr, flush=True)
                    peers[(w.name, code, peer)] = run_json(
                        [sys.executable, os.path.join(HERE, "peers.py"), peer, inputs[1],
                         nearest_dump, "--k", str(NEAREST_K)], env)
                if key == MPI_KEY and want_scaling(selected, "mpi"):
                    scaling["mpi"] = run_mpi(args.driver, w, work)
                if key == OUTPUT_TIMED:
                    ours[key]["dd_seconds"] = time_dd(work, ours[key]["binary_bytes"], args.runs)
                if w.name in TEXT_WORKLOADS and code in LANE_CODES:
                    print(f"{w.name} {code}: lane sweep and tile sweep ...", file=sys.stderr,
                          flush=True)
                    forced = [args.driver] + inputs + ["--runs", str(args.runs), "--threads",
                                                       str(LANE_THREADS), "--path"]
                    lanes[key] = {"tile": run_json(forced + ["tileSweep"]),
                                  "lane": run_json(forced + ["laneSweep", "--check"])}
                if not want_dump:
                    continue
                data_file = inputs[1]
                extra = inputs[4:]
                for peer in peers_for(key):
                    peer_args = [peer, data_file, dump] + extra
                    if peer.startswith("scipy-"):
                        n = ours[key]["n"]
                        m = ours[key]["m"]
                        probe_file = os.path.join(work, f"{w.name}_{code}_probe.csc")
                        workloads.write_csc(probe_file, workloads.data_for(w, code)[:400])
                        est = pdist_estimate(w, code, [peer, probe_file, "-"] + extra, env)
                        scale = (n * (n - 1)) / (400 * 399)
                        if est is None or est * scale > PDIST_LIMIT_SECONDS or n * m * 8 > 4e9:
                            skipped.append((w.name, code, peer,
                                            f"estimated {est * scale:.0f} s" if est else "failed"))
                            continue
                    print(f"{w.name} {code}: {peer} ...", file=sys.stderr, flush=True)
                    try:
                        peers[(w.name, code, peer)] = run_json(
                            [sys.executable, os.path.join(HERE, "peers.py")] + peer_args, env)
                    except RuntimeError as e:
                        skipped.append((w.name, code, peer, str(e).splitlines()[-1][:80]))
        if want_scaling(selected, "stream"):
            scaling["stream"] = run_streamed(args.driver, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    report = format_report(ours, growth, lanes, peers, skipped, scaling, blas_description(),
                           time.time() - started)
    print(report)
    if args.readme:
        update_readme(args.readme, report)
    failed = [k for k, v in {**ours, **growth}.items() if not v.get("bit_identical", False)]
    failed += [k for k, v in lanes.items() if not v["lane"].get("bit_identical", False)]
    unmatched = sorted(selected - set(ours) - set(growth) - SCALING_ITEMS) if selected else []
    if unmatched:
        print(f"run_bench.py: --only: not a metric timed on its workload: "
              f"{', '.join(':'.join(k) for k in unmatched)}", file=sys.stderr)
    return 1 if failed or unmatched else 0


def parse_only(parser, text):
    """--only's W:code items as a set of keys; an unknown workload or a
    malformed item is an error rather than a run that times nothing."""
    known = {name for name, _ in workloads.BUILDERS} | {w for w, _ in SCALING_ITEMS}
    keys = set()
    for item in text.split(","):
        parts = item.split(":")
        if len(parts) != 2 or parts[0] not in known:
            parser.error(f"--only: {item!r} is not WORKLOAD:CODE with a workload among "
                         f"{', '.join(sorted(known))}")
        keys.add(tuple(parts))
    return keys


def want_scaling(selected, item):
    return selected is None or ("S", item) in selected


def program_beside(driver, name):
    """hux-run and hux-run-mpi are built beside the driver."""
    return os.path.join(os.path.dirname(os.path.abspath(driver)), name)


def timed(cmd, env=None):
    """Runs cmd; returns (seconds, peak RSS in bytes of the process itself,
    its stderr). Raises RuntimeError when it fails."""
    start = time.perf_counter()
    process = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    err = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"{' '.join(cmd)} failed: {err.strip()}")
    return seconds, usage.ru_maxrss * 1024, err


def run_streamed(driver, work):
    """hux-run --stream --binary on W6's generator at STREAM_COLUMNS columns,
    to a file in the benchmark's directory, deleted at once; skipped when
    the disk holds less than the result and a margin."""
    n = STREAM_COLUMNS
    result_bytes = n * (n - 1) // 2 * 8
    free = shutil.disk_usage(work).free
    if free < result_bytes * 1.05 + 2e9:
        return {"skipped": f"{free / 1e9:.1f} GB free in {work}, the result needs "
                           f"{result_bytes / 1e9:.1f} GB"}
    print(f"S stream: W6's generator at N = {n:,}, {STREAM_PER_COLUMN} per column ...",
          file=sys.stderr, flush=True)
    matrix = os.path.join(work, "stream.mtx")
    workloads.write_market(matrix, workloads.zipf_samples(n, STREAM_PER_COLUMN))
    out = os.path.join(work, "stream.f64")
    try:
        seconds, peak, _ = timed([program_beside(driver, "hux-run"), matrix, STREAM_CODE,
                                  "--stream", "--binary", "--out", out])
        written = os.path.getsize(out)
    finally:
        if os.path.exists(out):
            os.unlink(out)
    return {"n": n, "k": STREAM_PER_COLUMN, "seconds": seconds, "peak_bytes": peak,
            "bytes": written, "expected_bytes": result_bytes}


def run_mpi(driver, w, work):
    """hux-run-mpi at MPI_RANKS ranks, one thread each, on one workload's
    matrix: the binary full result and --nearest, each against hux-run's
    bytes. Times include every rank reading the Matrix Market file."""
    mpi_program = program_beside(driver, "hux-run-mpi")
    if not os.path.exists(mpi_program) or shutil.which("mpirun") is None:
        return {"skipped": "hux-run-mpi was not built (no MPI found) or mpirun is missing"}
    _, code = MPI_KEY
    matrix = os.path.join(work, f"{w.name}.mtx")
    workloads.write_market(matrix, workloads.data_for(w, code))
    hux_run = program_beside(driver, "hux-run")
    env = {**os.environ, "OMPI_ALLOW_RUN_AS_ROOT": "1", "OMPI_ALLOW_RUN_AS_ROOT_CONFIRM": "1"}
    forms = {"full": ["--binary"], "nearest": ["--nearest", str(NEAREST_K)]}
    reference, rows = {}, []
    for form, extra in forms.items():
        out = os.path.join(work, f"single.{form}")
        print(f"S mpi: hux-run {' '.join(extra)} ...", file=sys.stderr, flush=True)
        seconds, _, _ = timed([hux_run, matrix, code, *extra, "--threads", "1", "--out", out])
        with open(out, "rb") as f:
            reference[form] = f.read()
        os.unlink(out)
        rows.append({"form": form, "ranks": 0, "seconds": seconds, "identical": True})
        for ranks in MPI_RANKS:
            print(f"S mpi: {ranks} ranks {' '.join(extra)} ...", file=sys.stderr, flush=True)
            seconds, _, _ = timed(["mpirun", "-q", "--oversubscribe", "-n", str(ranks), mpi_program,
                                   matrix, code, *extra, "--threads", "1", "--out", out], env)
            with open(out, "rb") as f:
                identical = f.read() == reference[form]
            os.unlink(out)
            rows.append({"form": form, "ranks": ranks, "seconds": seconds, "identical": identical})
    return {"workload": w.name, "code": code, "n": w.samples.shape[0], "rows": rows}


def format_scaling(ours, peers, scaling):
    """--nearest against the full result and scikit-learn; the streamed run;
    hux-run-mpi by rank count."""
    lines = []
    nearest = [(key, r) for key, r in ours.items() if "nearest_seconds" in r]
    if nearest:
        lines += ["", f"Nearest neighbours (--nearest {NEAREST_K}, blocks through the pair-block "
                  "entry, 2 threads, medians) against the full result in memory and scikit-learn's "
                  "NearestNeighbors(algorithm=\"brute\"):", "",
                  "| workload | metric | full result (s) | --nearest (s) | nearest / full | "
                  "sklearn brute (s) | sklearn / ours | same lists | largest rel. difference |",
                  "|---|---|---:|---:|---:|---:|---:|---:|---:|"]
        for (w, code), r in nearest:
            full, near = r["fast_seconds"]["2"], r["nearest_seconds"]
            p = peers.get((w, code, f"sklearn-nn-brute-{NEAREST_PEER_METRIC[code]}"))
            peer = (f"{p['seconds']:.3f} | {p['seconds'] / near:.1f} | {p['same_lists']:.1%} | "
                    f"{p['max_rel_diff']:.1e}" if p else "not run | | |")
            lines.append(f"| {w} | {code} | {full:.3f} | {near:.3f} | {near / full:.2f} | {peer} |")
    stream = scaling.get("stream")
    if stream:
        lines.append("")
        if "skipped" in stream:
            lines.append(f"Streamed beyond memory: skipped ({stream['skipped']}).")
        else:
            size = stream["bytes"] / 1e9
            lines.append(
                f"Streamed beyond memory: hux-run --stream --binary, {STREAM_CODE} on W6's generator at "
                f"N = {stream['n']:,} with {stream['k']} entries per column: {size:.1f} GB "
                f"({'the full size' if stream['bytes'] == stream['expected_bytes'] else 'WRONG SIZE'}) "
                f"written to disk in {stream['seconds']:.1f} s ({size / stream['seconds']:.2f} GB/s), "
                f"peak RSS {mb(stream['peak_bytes'])} MB, on a machine of {memory_gb():.0f} GB; "
                "the file was deleted.")
    mpi = scaling.get("mpi")
    if mpi:
        lines.append("")
        if "skipped" in mpi:
            lines.append(f"hux-run-mpi: skipped ({mpi['skipped']}).")
        else:
            lines += [f"hux-run-mpi on {mpi['workload']} {mpi['code']} (N = {mpi['n']:,}), one machine, "
                      "one thread per rank, mpirun --oversubscribe; times include each rank reading "
                      "the Matrix Market file (ranks 0: hux-run itself):", "",
                      "| output | ranks | time (s) | byte-identical to hux-run |", "|---|---:|---:|---|"]
            for r in mpi["rows"]:
                lines.append(f"| {r['form']} | {r['ranks']} | {r['seconds']:.3f} | "
                             f"{'yes' if r['identical'] else 'NO'} |")
    return lines


def mb(x):
    return f"{x / 2**20:.0f}"


def format_growth(growth):
    """The growth series: time per N^2 * (entries per column), and peak memory
    against the result's bytes."""
    lines = [f"Growth on W6's generator ({GROWTH_THREADS} threads, medians; k = entries per "
             "column):", "",
             "| N | metric | path | pairs | k | time (s) | ns per N^2 k | peak MB | result MB | "
             "peak / result | bit-identical |",
             "|---:|---|---|---:|---:|---:|---:|---:|---:|---:|---|"]
    for (_, code), r in growth.items():
        n = r["n"]
        k = r["stored"] / n
        t = r["fast_seconds"][str(GROWTH_THREADS)]
        result_bytes = r["pairs"] * 8
        lines.append(f"| {n:,} | {code} | {r['path']} | {r['pairs']:,} | {k:.0f} | {t:.3f} | "
                     f"{t / (n * n * k) * 1e9:.4f} | {mb(r['peak_bytes'])} | {mb(result_bytes)} | "
                     f"{r['peak_bytes'] / result_bytes:.2f} | "
                     f"{'yes' if r['bit_identical'] else 'NO'} |")
    return lines


def format_lanes(lanes):
    """The lane sweep against the tile sweep, both forced, per workload and
    union fold, with the path the module chooses on this processor."""
    variant = next(iter(lanes.values()))["lane"]["lane_isa"]
    lines = [f"Lane sweep against tile sweep ({LANE_THREADS} threads, medians, with the "
             f"allocation; lane variant run: {variant}):", "",
             "| workload | metric | path chosen | tile sweep (s) | lane sweep (s) | "
             "tile / lane | lane bit-identical |",
             "|---|---|---|---:|---:|---:|---|"]
    for (w, code), r in lanes.items():
        tile = r["tile"]["fast_seconds"][str(LANE_THREADS)]
        lane = r["lane"]["fast_seconds"][str(LANE_THREADS)]
        chosen = r["lane"]["chosen_path"]
        lines.append(f"| {w} | {code} | {chosen} | {tile:.3f} | {lane:.3f} | "
                     f"{tile / lane:.2f} | {'yes' if r['lane']['bit_identical'] else 'NO'} |")
    return lines


def format_report(ours, growth, lanes, peers, skipped, scaling, blas, elapsed):
    lines = []
    lines.append("Module (fast paths through runPairs; times include allocating the result "
                 "through the host; medians):")
    lines.append("")
    lines.append("| workload | metric | path | pairs | 2 threads (s) | 1 thread (s) | 1->2 "
                 "speed-up (compute only) | Mpairs/s | peak MB | plain walk 2T (s) | plain/fast | "
                 "bit-identical |")
    lines.append("|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---|")
    for (w, code), r in ours.items():
        t2, t1 = r["fast_seconds"]["2"], r["fast_seconds"]["1"]
        c2, c1 = r["compute_seconds"]["2"], r["compute_seconds"]["1"]
        lines.append(
            f"| {w} | {code} | {r['path']} | {r['pairs']:,} | {t2:.3f} | {t1:.3f} | "
            f"{t1 / t2:.2f} ({c1 / c2:.2f}) | "
            f"{r['pairs'] / t2 / 1e6:.0f} | {mb(r['peak_bytes'])} | {r['plain_seconds']:.2f} | "
            f"{r['plain_seconds'] / t2:.1f} | {'yes' if r['bit_identical'] else 'NO'} |")
    w4 = ours.get(("W4", "euc"))
    if w4 and "write_seconds" in w4:
        lines.append("")
        lines.append(f"W4: allocating the {w4['pairs'] * 8 / 1e9:.1f} GB result through the host "
                     f"and writing it once (2 threads) takes {w4['write_seconds']:.3f} s; euc takes "
                     f"{w4['fast_seconds']['2']:.3f} s = {w4['fast_seconds']['2'] / w4['write_seconds']:.2f}x that.")
    written = ours.get(OUTPUT_TIMED)
    if written and "dd_seconds" in written:
        w, code = OUTPUT_TIMED
        binary, text, dd = (written["binary_write_seconds"], written["text_write_seconds"],
                            written["dd_seconds"])
        lines.append("")
        lines.append(f"{w} {code} result written as hux-run --out writes it (2 threads, medians, "
                     f"each to a new file): binary {written['binary_bytes'] / 1e6:.0f} MB in "
                     f"{binary:.3f} s ({written['binary_bytes'] / binary / 1e9:.2f} GB/s), dd "
                     f"writing as many bytes to the same file system {dd:.3f} s = "
                     f"{binary / dd:.2f}x; text {written['text_bytes'] / 1e6:.0f} MB in "
                     f"{text:.3f} s ({written['text_bytes'] / text / 1e6:.0f} MB/s).")
    if lanes:
        lines.append("")
        lines.extend(format_lanes(lanes))
    if growth:
        lines.append("")
        lines.extend(format_growth(growth))
    lines.extend(format_scaling(ours, peers, scaling))
    lines.append("")
    lines.append(f"Peers (medians; a run over 5 s is not repeated; BLAS: {blas}):")
    lines.append("")
    lines.append("| workload | metric | peer | time (s) | runs | peer/ours | peak MB | "
                 "largest rel. difference | agrees to 1e-9 |")
    lines.append("|---|---|---|---:|---:|---:|---:|---:|---|")
    for (w, code, peer), p in peers.items():
        if peer.startswith("sklearn-nn-"):
            continue  # in the nearest-neighbour table
        t2 = ours[(w, code)]["fast_seconds"]["2"]
        diff = p.get("max_rel_diff", float("nan"))
        lines.append(f"| {w} | {code} | {peer} | {p['seconds']:.3f} | {p['runs']} | "
                     f"{p['seconds'] / t2:.1f} | {mb(p['peak_bytes'])} | {diff:.1e} | "
                     f"{'yes' if diff <= AGREEMENT else 'no'} |")
    for w, code, peer, why in skipped:
        lines.append(f"| {w} | {code} | {peer} | skipped | | | | | ({why}) |")
    if ("W4", "euc") in ours:
        lines.append("| W4 | euc | all peers | skipped | | | | | (3.2 GB square result per peer "
                     "plus temporaries; not run) |")
    lines.append("")
    lines.append("Targets (ratios at 2 threads, this run):")
    lines.append("")
    for text, keys, peer_names, need in TARGETS:
        parts, met = [], True
        for key in keys:
            if key not in ours:
                continue
            t2 = ours[key]["fast_seconds"]["2"]
            cands = [peers[(key[0], key[1], p)]["seconds"] for p in peer_names
                     if (key[0], key[1], p) in peers]
            if not cands:
                parts.append(f"{key[0]} {key[1]}: no peer")
                met = False
                continue
            ratio = min(cands) / t2
            met = met and ratio >= need
            parts.append(f"{key[0]} {key[1]} {ratio:.1f}x")
        if not parts:
            lines.append(f"- {text}: not measured in this run")
            continue
        lines.append(f"- {text}: {', '.join(parts)} -> {'met' if met else 'NOT met'}")
    for label, field in (("with allocation", "fast_seconds"), ("compute only", "compute_seconds")):
        speedups = [(k, r[field]["1"] / r[field]["2"]) for k, r in ours.items()]
        low = [f"{w} {c} {s:.2f}" for (w, c), s in speedups if s < 1.8]
        verdict = "met" if not low else "NOT met for " + ", ".join(low)
        lines.append(f"- 6. 1->2 threads >= 1.8x ({label}): "
                     f"{verdict if speedups else 'not measured in this run'}")
    if w4 and "write_seconds" in w4:
        ratio = w4["fast_seconds"]["2"] / w4["write_seconds"]
        lines.append(f"- 7. W4 within 2x of allocate-and-write: {ratio:.2f}x -> "
                     f"{'met' if ratio <= 2.0 else 'NOT met'}")
    if written and "dd_seconds" in written:
        ratio = written["binary_write_seconds"] / written["dd_seconds"]
        lines.append(f"- 8. binary output within {BINARY_OVER_DD_LIMIT}x of dd: {ratio:.2f}x -> "
                     f"{'met' if ratio <= BINARY_OVER_DD_LIMIT else 'NOT met'}")
    ratios = [(w, c, r["nearest_seconds"] / r["fast_seconds"]["2"])
              for (w, c), r in ours.items() if "nearest_seconds" in r]
    if ratios:
        met = all(x <= NEAREST_OVER_FULL_LIMIT for _, _, x in ratios)
        lines.append(f"- 9. --nearest {NEAREST_K} within {NEAREST_OVER_FULL_LIMIT}x of the full result: "
                     f"{', '.join(f'{w} {c} {x:.2f}x' for w, c, x in ratios)} -> "
                     f"{'met' if met else 'NOT met'}")
    lines.append("")
    vectors = ", ".join(vector_extensions()) or "none of " + ", ".join(VECTOR_FLAGS)
    lines.append(f"Machine: {cpu_model()} (vector extensions: {vectors}), {os.cpu_count()} "
                 f"cores, {memory_gb():.0f} GB; "
                 f"Python {platform.python_version()}, numpy {np.__version__}, "
                 f"{package_versions()}; benchmark took {elapsed / 60:.1f} min.")
    return "\n".join(lines)


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


# The vector extensions the table records, in the order they were added to
# the x86 line, as /proc/cpuinfo's flags spell them.
VECTOR_FLAGS = ["sse4_2", "avx", "avx2", "fma", "avx512f", "avx512dq", "avx512cd", "avx512bw",
                "avx512vl", "avx512_vnni", "avx512_bf16", "avx512_fp16"]


def vector_extensions():
    """The VECTOR_FLAGS the first processor lists."""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("flags"):
                    present = set(line.split(":", 1)[1].split())
                    return [flag for flag in VECTOR_FLAGS if flag in present]
    except OSError:
        pass
    return []


def memory_gb():
    try:
        with open("/proc/meminfo") as f:
            return int(f.readline().split()[1]) / 2**20
    except (OSError, ValueError, IndexError):
        return 0.0


def package_versions():
    import scipy
    import sklearn
    return f"SciPy {scipy.__version__}, scikit-learn {sklearn.__version__}"


BEGIN = "<!-- results:begin -->"
END = "<!-- results:end -->"


def update_readme(path, report):
    with open(path) as f:
        text = f.read()
    if BEGIN not in text or END not in text:
        raise SystemExit(f"{path} has no {BEGIN} ... {END} section")
    head, rest = text.split(BEGIN, 1)
    _, tail = rest.split(END, 1)
    with open(path, "w") as f:
        f.write(head + BEGIN + "\n" + report + "\n" + END + tail)


if __name__ == "__main__":
    sys.exit(main())
