#!/usr/bin/env python3
"""Runs one suite of the instrumented passes and records its figure line.

Usage: tally_run.py --figure NAME [--log FILE] [--libfuzzer ARTIFACTS WORK]
                    [--racy-control STATUS] -- COMMAND [ARG...]

COMMAND is a suite that reports "...: N inputs tried, F failures" as its
last such line, or, with --libfuzzer, a libFuzzer run (inputs: its executed
units; failures: the inputs it left in ARTIFACTS, which is emptied first;
WORK, its corpus directory, is created). With --racy-control, COMMAND is
first run with --racy-control and must be stopped by ThreadSanitizer with
exit status STATUS, which proves the race check can see. The figure line
"NAME<TAB>inputs<TAB>failures<TAB>seconds" goes to the file named by the
SUITE_FIGURES environment variable, when set. Exits 1 when anything failed.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time


def run(command, log):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    output = result.stdout.decode(errors="replace")
    if log:
        with open(log, "w") as f:
            f.write(output)
    return result.returncode, output


def last_int(pattern, text):
    found = re.findall(pattern, text, re.MULTILINE)
    return int(found[-1]) if found else None


def racy_control_caught(command, status):
    rc, output = run(command + ["--racy-control"], None)
    if rc == status and "ThreadSanitizer: data race" in output:
        print("racy control: caught, as it must be")
        return True
    print(f"racy control: NOT caught (exit status {rc}); the race check is blind")
    print("\n".join(output.splitlines()[-20:]))
    return False


def libfuzzer_figures(rc, output, artifacts, log):
    runs = last_int(r"^stat::number_of_executed_units: *(\d+)", output) or 0
    crashes = len(os.listdir(artifacts))
    if rc != 0 and crashes == 0:
        crashes = 1
    print(f"{runs} inputs, {crashes} failures, exit status {rc}")
    if crashes:
        wanted = re.compile(r"ERROR|property violated|SUMMARY|Test unit written")
        print("\n".join([line for line in output.splitlines() if wanted.search(line)][:10]))
        where = f"full log: {log}; " if log else ""
        print(f"({where}add the input to the target's corpus directory as a regression case)")
    return runs, crashes


def tally_figures(rc, output):
    print("\n".join(output.splitlines()[-40:]))
    tried = last_int(r": (\d+) inputs tried", output) or 0
    failed = last_int(r"inputs tried, (\d+) failures", output)
    if failed is None or (rc != 0 and failed == 0):
        failed = max(failed or 0, 1)
    return tried, failed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--figure", required=True)
    parser.add_argument("--log")
    parser.add_argument("--libfuzzer", nargs=2, metavar=("ARTIFACTS", "WORK"))
    parser.add_argument("--racy-control", type=int, metavar="STATUS")
    parser.add_argument("command", nargs="+")
    args = parser.parse_args()

    start = time.monotonic()
    control_failed = 0
    if args.racy_control is not None and not racy_control_caught(args.command,
                                                                 args.racy_control):
        control_failed = 1
    if args.libfuzzer:
        artifacts, work = args.libfuzzer
        shutil.rmtree(artifacts, ignore_errors=True)
        os.makedirs(artifacts)
        os.makedirs(work, exist_ok=True)
    rc, output = run(args.command, args.log)
    if args.libfuzzer:
        inputs, failures = libfuzzer_figures(rc, output, args.libfuzzer[0], args.log)
    else:
        inputs, failures = tally_figures(rc, output)
    failures += control_failed
    figures = os.environ.get("SUITE_FIGURES")
    if figures:
        with open(figures, "a") as f:
            f.write(f"{args.figure}\t{inputs}\t{failures}\t{round(time.monotonic() - start)}\n")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
