#!/usr/bin/python3
"""hux-run as a program: output forms, thread-count independence, error lines,
exit statuses, the module it loads by default, standard input and output,
that --out is written whole or not at all, what --out does with each kind of
file that may stand at the path or descriptor it may name, that writing
a large result costs little memory beyond the result, and the runs by blocks
(--stream, --rows, --nearest); and that every script answers --help.

Usage: command_line_test.py HUX_RUN ROWMETRIC_SO MISBEHAVING_SO OLD_INTERFACE_SO ROWMETRIC_BENCH
"""
import gzip
import os
import re
import resource
import shutil
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np

HUX_RUN, MODULE, MISBEHAVING, OLD_INTERFACE, BENCH = sys.argv[1:6]
checks = 0
failures = []


def expect(condition, message):
    global checks
    checks += 1
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def hux(*args, module=MODULE, umask=None, env=None, preexec_fn=None):
    set_umask = None if umask is None else (lambda: os.umask(umask))
    result = subprocess.run([HUX_RUN, module, *args], capture_output=True, timeout=60,
                            preexec_fn=preexec_fn or set_umask, env={**os.environ, **(env or {})})
    return result.returncode, result.stdout, result.stderr.decode(errors="replace")


def skip(reason):
    print("SKIP:", reason)


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
    expect(help_run.returncode == 0 and b"Usage: hux-run [options] MATRIX CODE" in help_run.stdout,
           "--help prints usage")

    rc, _, err = hux(small, "euc", module=os.path.join(work, "no-such-module.so"))
    expect(rc == 2 and one_line(err), f"unloadable module: exit 2, one line: {err!r}")
    rc, _, err = hux(small, "euc", module=OLD_INTERFACE)
    expect(rc == 2 and "0x07200000" in err and one_line(err), f"module for another interface refused: {err!r}")


def check_plain_calls(work):
    """Without a module named, the one built beside hux-run is used from any
    directory; "-" reads standard input (gzip too) and --out - writes standard
    output; an unknown code lists the codes; a result the host cannot allocate
    is refused with its size before any work."""
    small = os.path.join(work, "small.mtx")
    _, text, _ = hux(small, "euc")
    elsewhere = subprocess.run([HUX_RUN, small, "euc"], capture_output=True, cwd="/")
    expect(elsewhere.returncode == 0 and elsewhere.stdout == text,
           f"the default module is found from any directory: {elsewhere.stderr!r}")
    with open(small, "rb") as f:
        piped = subprocess.run([HUX_RUN, "-", "euc", "--out", "-"], input=gzip.compress(f.read()),
                               capture_output=True)
    expect(piped.returncode == 0 and piped.stdout == text and not os.path.exists("-"),
           f"gzip on standard input, result on standard output: {piped.stderr!r}")

    rc, _, err = hux(small, "xyz")
    expect(rc == 1 and one_line(err) and
           "euc, sqe, seu, cit, min, cos, cor, spe, ham, jac, che, mah" in err,
           f"an unknown code lists the codes: {err!r}")

    if os.environ.get("SUITE_PASS") == "asan":
        skip("a result too large to allocate: AddressSanitizer needs more address space than the limit")
        return
    wide = os.path.join(work, "wide-empty.mtx")
    with open(wide, "w") as f:
        f.write("%%MatrixMarket matrix coordinate real general\n2 300000 0\n")
    limit = 4 << 30  # address space, so that the refusal does not depend on the machine's memory
    started = time.monotonic()
    refused = subprocess.run([HUX_RUN, wide, "euc"], capture_output=True, timeout=60,
                             preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
    expect(refused.returncode == 1 and refused.stderr == b"hux-run: the result needs 360 GB for "
           b"44,999,850,000 distances, more than this system can allocate; --stream writes it "
           b"block by block\n"
           and time.monotonic() - started < 10,
           f"a result the host cannot allocate is refused at once with its size: {refused.stderr!r}")


def nearest_lines(values, n, k, names):
    """Each column's k nearest others from the condensed result, by brute
    force: by distance, ties by the smaller column, NaN after all numbers."""
    def distance(a, b):
        i, j = min(a, b), max(a, b)
        return values[i * n - i * (i + 1) // 2 + j - i - 1]
    lines = []
    for c in range(n):
        others = sorted((j for j in range(n) if j != c),
                        key=lambda j: (distance(c, j) != distance(c, j), distance(c, j) if
                                       distance(c, j) == distance(c, j) else 0.0, j))
        lines += [f"{names[c]}\t{names[j]}\t{'%.17g' % distance(c, j)}\n" for j in others[:k]]
    return "".join(lines).encode()


def check_blocks(work):
    """--stream in tiny blocks (HUX_RUN_BLOCK_PAIRS, a setting for tests)
    and --rows slices give the bytes of the full result; --nearest gives a
    brute-force reference's lines, ties and NaN included; a bad range, a K
    outside 1..N-1, a labels file of the wrong length and a write past a
    file size limit each end with one line, and nothing under --out."""
    path = os.path.join(work, "ties.mtx")
    rng = np.random.default_rng(5)
    dense = np.where(rng.random((9, 40)) < 0.3, rng.integers(1, 4, (9, 40)).astype(float), 0.0)
    dense[:, 5] = dense[:, 3]
    dense[:, 30] = dense[:, 3]
    dense[2, 7] = np.nan
    rows, cols = np.nonzero(dense)
    with open(path, "w") as f:
        f.write(f"%%MatrixMarket matrix coordinate real general\n9 40 {len(rows)}\n")
        f.writelines(f"{r + 1} {c + 1} {dense[r, c]!r}\n" for r, c in zip(rows, cols))
    tiny = {"HUX_RUN_BLOCK_PAIRS": "7"}
    for form in ([], ["--binary"]):
        _, whole, _ = hux(path, "euc", *form)
        rc, streamed, err = hux(path, "euc", "--stream", *form, env=tiny)
        expect(rc == 0 and streamed == whole, f"--stream {form} gives the full result's bytes: {err!r}")
        slices = [hux(path, "euc", "--rows", r, "--stream", *form, env=tiny)[1]
                  for r in ("1:10", "11:11", "12:40")]
        parts = [hux(path, "euc", "--rows", f"{k}/3", *form)[1] for k in (1, 2, 3)]
        expect(b"".join(slices) == whole and b"".join(parts) == whole and all(parts),
               f"--rows A:B and K/P slices {form} concatenate to the whole")
    values = struct.unpack("<780d", hux(path, "euc", "--binary")[1])
    labels = os.path.join(work, "labels.txt")
    with open(labels, "w") as f:
        f.writelines(f"doc {c}\n" for c in range(40))
    numbers = [str(c + 1) for c in range(40)]
    for k, extra, names in ((3, [], numbers), (39, [], numbers),
                            (4, ["--labels", labels], [f"doc {c}" for c in range(40)])):
        rc, got, err = hux(path, "euc", "--nearest", str(k), *extra, env=tiny)
        expect(rc == 0 and got == nearest_lines(values, 40, k, names),
               f"--nearest {k} {extra} equals the brute-force lines: {rc} {err!r}")

    out = os.path.join(work, "blocks.out")
    with open(labels, "a") as f:
        f.write("one too many\n")
    for args in (["--rows", "3:41"], ["--nearest", "40"], ["--nearest", "2", "--labels", labels]):
        rc, _, err = hux(path, "euc", *args, "--out", out)
        expect(rc == 2 and one_line(err) and not os.path.exists(out),
               f"{args}: exit 2 and one line, nothing written: {rc} {err!r}")

    with open(out, "w") as f:
        f.write("previous\n")
    limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (1000, 1000))  # noqa: E731
    rc, _, err = hux(path, "euc", "--stream", "--binary", "--out", out, env={"HUX_RUN_BLOCK_PAIRS": "50"},
                     preexec_fn=limit)
    got = re.fullmatch(r"hux-run: \S+: cannot write the result: File too large \(stopped after "
                       r"(\d+) of 780 distances; \S+ was left as it was\)\n", err)
    expect(rc == 1 and got is not None and 0 < int(got.group(1)) <= 125,
           f"a write past the size limit says how far it got: {rc} {err!r}")
    expect(read_bytes(out) == b"previous\n" and no_temporaries(work), "and leaves the file as it was")


def check_scripts_help():
    """Every script under scripts/ answers --help with its usage and exit 0,
    and does nothing else."""
    scripts = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
    for directory, _, names in os.walk(scripts):
        for name in names:
            path = os.path.join(directory, name)
            if not os.access(path, os.X_OK):
                continue
            with tempfile.TemporaryDirectory() as cwd:
                run = subprocess.run([path, "--help"], capture_output=True, text=True, timeout=60, cwd=cwd)
                expect(run.returncode == 0 and "usage" in run.stdout.lower() and os.listdir(cwd) == [],
                       f"{os.path.relpath(path, scripts)} --help: exit {run.returncode}, {run.stdout[:80]!r}")


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


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def mode_of(path):
    return stat.S_IMODE(os.stat(path).st_mode)


def no_temporaries(*directories):
    return not any(".tmp." in name for d in directories for name in os.listdir(d))


def check_out_files(work):
    """A new file gets the mode the umask leaves; an existing one keeps its
    mode (and, run as root, its owner); a directory is refused."""
    small = os.path.join(work, "small.mtx")
    _, text, _ = hux(small, "euc")
    dest = os.path.join(work, "files")
    os.mkdir(dest)
    for umask, mode in ((0o027, 0o640), (0o002, 0o664)):
        new = os.path.join(dest, f"new-{umask:o}.txt")
        rc, _, err = hux(small, "euc", "--out", new, umask=umask)
        expect(rc == 0 and read_bytes(new) == text, f"--out creates a new file: {rc} {err!r}")
        expect(mode_of(new) == mode, f"umask {umask:o}: new file mode {mode_of(new):o}, want {mode:o}")

    kept = os.path.join(dest, "kept.txt")
    with open(kept, "w") as f:
        f.write("previous\n")
    os.chmod(kept, 0o604)
    as_root = os.geteuid() == 0
    if as_root:
        os.chown(kept, 4321, 4322)
    rc, _, err = hux(small, "euc", "--out", kept, umask=0o077)
    expect(rc == 0 and read_bytes(kept) == text, f"--out replaces an existing file: {rc} {err!r}")
    expect(mode_of(kept) == 0o604, f"a replaced file keeps its mode: {mode_of(kept):o}")
    if as_root:
        st = os.stat(kept)
        expect((st.st_uid, st.st_gid) == (4321, 4322),
               f"a replaced file keeps its owner and group: {st.st_uid}:{st.st_gid}")
    else:
        skip("owner kept on replacing: needs root to give a file another owner")

    rc, out, err = hux(small, "euc", "--out", dest)
    expect(rc == 1 and out == b"" and one_line(err) and "directory" in err,
           f"--out naming a directory: exit 1 and one line, got {rc} {err!r}")
    expect(stat.S_ISDIR(os.lstat(dest).st_mode), "the directory named by --out is left alone")
    expect(no_temporaries(dest), "no temporary file left beside replaced files")


def check_out_links(work):
    """A symlink's target is written, through a temporary beside the target;
    the link stays a link, chains are followed and dangling links filled."""
    small = os.path.join(work, "small.mtx")
    _, text, _ = hux(small, "euc")
    links = os.path.join(work, "links")
    real = os.path.join(work, "real")
    os.mkdir(links)
    os.mkdir(real)
    target = os.path.join(real, "target.txt")
    with open(target, "w") as f:
        f.write("previous\n")
    os.chmod(target, 0o640)
    link = os.path.join(links, "link.txt")
    os.symlink("../real/target.txt", link)
    chain = os.path.join(links, "chain.txt")
    os.symlink("link.txt", chain)

    # A failed call leaves link and target as they were.
    rc, _, _ = hux(small, "euc", "--nargout", "2", "--out", link)
    expect(rc == 1 and read_bytes(target) == b"previous\n", "a failed call leaves a link's target")

    for name, path in (("link", link), ("chain of links", chain)):
        with open(target, "w") as f:
            f.write("previous\n")
        rc, _, err = hux(small, "euc", "--out", path, umask=0o077)
        expect(rc == 0 and read_bytes(target) == text, f"{name}: its target is written: {rc} {err!r}")
        expect(os.path.islink(link) and os.readlink(link) == "../real/target.txt",
               f"{name}: the link stays a link to the same target")
        expect(os.path.islink(chain) and os.readlink(chain) == "link.txt", f"{name}: the chain stays")
        expect(mode_of(target) == 0o640, f"{name}: the target keeps its mode: {mode_of(target):o}")
    expect(sorted(os.listdir(real)) == ["target.txt"] and no_temporaries(links),
           "no temporary left beside the link or the target")

    dangling = os.path.join(links, "dangling.txt")
    os.symlink(os.path.join(real, "created.txt"), dangling)
    rc, _, err = hux(small, "euc", "--out", dangling, umask=0o022)
    created = os.path.join(real, "created.txt")
    expect(rc == 0 and os.path.islink(dangling) and os.path.isfile(created)
           and read_bytes(created) == text, f"a dangling link gets its target created: {rc} {err!r}")
    expect(os.path.exists(created) and mode_of(created) == 0o644, "the created target has the umask's mode")

    loop_a, loop_b = os.path.join(links, "loop-a"), os.path.join(links, "loop-b")
    os.symlink("loop-b", loop_a)
    os.symlink("loop-a", loop_b)
    rc, _, err = hux(small, "euc", "--out", loop_a)
    expect(rc == 1 and one_line(err) and "loop-a" in err, f"a loop of links: exit 1, one line: {rc} {err!r}")
    expect(os.path.islink(loop_a) and os.readlink(loop_a) == "loop-b" and no_temporaries(links),
           "a loop of links is left alone")


def check_out_descriptors(work):
    """/dev/stdout and /dev/fd/N name descriptors hux-run already holds: they
    are written through, into a pipe, and onto a file opened for appending,
    which keeps what it held. A target name of 250 bytes works too."""
    small = os.path.join(work, "small.mtx")
    _, text, _ = hux(small, "euc")
    for path in ("/dev/stdout", "/dev/fd/1"):
        rc, out, err = hux(small, "euc", "--out", path)
        expect(rc == 0 and out == text, f"--out {path} into a pipe: {rc} {err!r}")
        log = os.path.join(work, "log.txt")
        with open(log, "w") as f:
            f.write("previous\n")
        inode = os.stat(log).st_ino
        with open(log, "ab") as appended:
            run = subprocess.run([HUX_RUN, MODULE, small, "euc", "--out", path], stdout=appended,
                                 stderr=subprocess.PIPE)
        expect(run.returncode == 0 and read_bytes(log) == b"previous\n" + text
               and os.stat(log).st_ino == inode,
               f"--out {path} onto a file opened for appending keeps it: {run.stderr!r}")
    long_name = os.path.join(work, "n" * 250)
    rc, _, err = hux(small, "euc", "--out", long_name)
    expect(rc == 0 and os.path.exists(long_name) and read_bytes(long_name) == text,
           f"--out with a 250-byte name: {rc} {err!r}")
    os.unlink(long_name)
    expect(no_temporaries(work), "no temporary left beside a long name")


def check_bench_parameters(work):
    """The benchmark driver applies the module's parameter rules: seu and mah
    without --param, or mah with 1 of its 1600 elements, stop with one line
    instead of reading past the buffer."""
    data = os.path.join(work, "bench.csc")
    with open(data, "wb") as f:
        f.write(b"RMCSC01\0" + struct.pack("<3Q", 40, 3, 2) + struct.pack("<4Q", 0, 1, 2, 2)
                + struct.pack("<2Q", 0, 5) + struct.pack("<2d", 1.0, 2.0))
    one = os.path.join(work, "one.f64")
    with open(one, "wb") as f:
        f.write(struct.pack("<d", 1.0))
    for args, says in ((["seu"], "seu needs --param"), (["mah"], "mah needs --param"),
                       (["mah", "--param", one], "it must be the 40 x 40 factor U (1600 elements)")):
        run = subprocess.run([BENCH, "--data", data, "--runs", "1", "--metric", *args],
                             capture_output=True, text=True, timeout=60)
        expect(run.returncode == 2 and run.stdout == "" and one_line(run.stderr) and says in run.stderr,
               f"rowmetric_bench {' '.join(args)}: {run.returncode} {run.stderr!r}")


def in_background(read):
    """Runs `read` on a thread; returns the thread and the list its result goes to."""
    received = []
    thread = threading.Thread(target=lambda: received.append(read()), daemon=True)
    thread.start()
    return thread, received


def check_out_special_files(work):
    """A FIFO, a socket and a character device at the path are written
    directly and stay what they are."""
    small = os.path.join(work, "small.mtx")
    _, text, _ = hux(small, "euc")
    special = os.path.join(work, "special")
    os.mkdir(special)

    fifo = os.path.join(special, "fifo")
    os.mkfifo(fifo)
    thread, received = in_background(lambda: read_bytes(fifo))
    rc, _, err = hux(small, "euc", "--out", fifo)
    thread.join(30)
    expect(rc == 0 and received == [text], f"a FIFO gets the result: {rc} {err!r}")
    expect(stat.S_ISFIFO(os.lstat(fifo).st_mode), "the FIFO stays a FIFO")

    sock_path = os.path.join(special, "socket")
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(sock_path)
    listener.listen(1)
    listener.settimeout(30)

    def accept_and_read():
        conn, _ = listener.accept()
        chunks = []
        with conn:
            while chunk := conn.recv(65536):
                chunks.append(chunk)
        return b"".join(chunks)

    thread, received = in_background(accept_and_read)
    rc, _, err = hux(small, "euc", "--binary", "--out", sock_path)
    thread.join(30)
    listener.close()
    _, binary, _ = hux(small, "euc", "--binary")
    expect(rc == 0 and received == [binary], f"a socket gets the result: {rc} {err!r}")
    expect(stat.S_ISSOCK(os.lstat(sock_path).st_mode), "the socket stays a socket")

    # A null device node of our own, never the machine's /dev/null.
    device = os.path.join(special, "null-device")
    if os.geteuid() != 0:
        skip("--out to a character device: making a device node needs root")
    else:
        try:
            os.mknod(device, 0o666 | stat.S_IFCHR, os.makedev(1, 3))
            os.close(os.open(device, os.O_WRONLY))
        except OSError as e:
            skip(f"--out to a character device: cannot make or open a device node here ({e.strerror})")
        else:
            before = os.lstat(device)
            rc, _, err = hux(small, "euc", "--out", device)
            after = os.lstat(device)
            expect(rc == 0 and err == "", f"a character device is written: {rc} {err!r}")
            expect(stat.S_ISCHR(after.st_mode) and after.st_rdev == os.makedev(1, 3)
                   and (after.st_ino, after.st_mode) == (before.st_ino, before.st_mode),
                   "the device node stays as it was")
    expect(no_temporaries(special), "no temporary beside a FIFO, socket or device")


def max_rss_kb(args):
    """Peak resident memory of one hux-run run (its own, not the test's)."""
    process = subprocess.Popen([HUX_RUN, MODULE, *args], stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    return process.returncode, usage.ru_maxrss


def check_streaming_memory(work):
    """6.5 million distances: 52 MB as doubles, 150 MB as text. The text is
    streamed, so it costs a few MB more than the binary form, and the binary
    form costs little more than the result itself."""
    big = os.path.join(work, "wide.mtx")
    write_matrix(big, 8, 3600, 4)
    tiny = os.path.join(work, "tiny.mtx")
    write_matrix(tiny, 8, 10, 4)
    result_kb = 3600 * 3599 // 2 * 8 // 1024
    outputs = {}
    for form, extra in (("text", []), ("binary", ["--binary"]), ("tiny", [])):
        path = os.path.join(work, f"rss-{form}.out")
        rc, outputs[form] = max_rss_kb([tiny if form == "tiny" else big, "euc", "--out", path] + extra)
        expect(rc == 0, f"{form} run for the memory check succeeds")
        os.unlink(path)
    text_kb, binary_kb, tiny_kb = outputs["text"], outputs["binary"], outputs["tiny"]
    print(f"peak memory: text {text_kb} kB, binary {binary_kb} kB, tiny run {tiny_kb} kB, "
          f"result {result_kb} kB")
    expect(text_kb <= binary_kb + 8 * 1024,
           f"text output costs at most 8 MB more than binary: {text_kb} kB vs {binary_kb} kB")
    expect(binary_kb <= tiny_kb + result_kb + 16 * 1024,
           f"binary output costs little beyond the {result_kb} kB result: {binary_kb} kB, "
           f"a tiny run {tiny_kb} kB")


def main():
    work = tempfile.mkdtemp(prefix="hux-cli-")
    try:
        check_output_forms(work)
        check_threads(work)
        check_module_errors(work)
        check_bad_inputs(work)
        check_plain_calls(work)
        check_misbehaving_module(work)
        check_out_files(work)
        check_out_links(work)
        check_out_special_files(work)
        check_out_descriptors(work)
        check_bench_parameters(work)
        check_streaming_memory(work)
        check_blocks(work)
    finally:
        shutil.rmtree(work)
    check_scripts_help()
    print(f"{checks - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
