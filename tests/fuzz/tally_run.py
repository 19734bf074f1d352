#!/usr/bin/env python3
"""Runs one suite of the instrumented passes and records its figure line.

Usage: tally_run.py --figure NAME [--log FILE] [--libfuzzer ARTIFACTS WORK]
                    [--racy-control STATUS] [--parts PREFIX] -- COMMAND [ARG...]

COMMAND is a suite that reports "...: N inputs tried, F failures" as its
last such line, or, with --libfuzzer, a libFuzzer run (inputs: its executed
units; failures: the inputs it left in ARTIFACTS, which is emptied first;
WORK, its corpus directory, is created). With --racy-control, each control
that "COMMAND --racy-controls" lists is first run as
"COMMAND --racy-control CONTROL" and must be stopped by ThreadSanitizer with
exit status STATUS, which proves the race check can see that kind of race.
The figure line "NAME<TAB>inputs<TAB>failures<TAB>seconds" goes to the file
named by the SUITE_FIGURES environment variable, when set, followed by one
line "PREFIX PART" for each indented "  PART: N inputs tried, F failures"
line of the output (with --parts) and one "PREFIX control CONTROL reported"
line (NAME without --parts; "NOT reported" and 1 failure when it was not)
per control. Exits 1 when anything failed.
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


def racy_controls_caught(command, status):
    """Runs every control COMMAND lists; returns [(control, caught)]."""
    rc, output = run(command + ["--racy-controls"], None)
    controls = output.split() if rc == 0 else []
    if not controls:
        print(f"racy controls: none listed (exit status {rc}); the race check is blind")
        return [("listing", False)]
    results = []
    for control in controls:
        rc, output = run(command + ["--racy-control", control], None)
        caught = rc == status and "ThreadSanitizer: data race" in output
        if caught:
            print(f"racy control {control}: reported, as it must be")
        else:
            print(f"racy control {control}: NOT reported (exit status {rc}); the race check is "
                  "blind to it")
            print("\n".join(output.splitlines()[-20:]))
        results.append((control, caught))
    return results


def part_figures(output):
    """The indented per-part lines: [(part, inputs, failures)]."""
    return [(m.group(1), int(m.group(2)), int(m.group(3))) for m in
            re.finditer(r"^  (\S.*?): (\d+) inputs tried, (\d+) failures$", output, re.MULTILINE)]


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
    parser.add_argument("--parts", metavar="PREFIX")
    parser.add_argument("command", nargs="+")
    args = parser.parse_args()

    start = time.monotonic()
    controls = []
    if args.racy_control is not None:
        controls = racy_controls_caught(args.command, args.racy_control)
    control_failed = sum(1 for _, caught in controls if not caught)
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
        seconds = round(time.monotonic() - start)
        with open(figures, "a") as f:
            f.write(f"{args.figure}\t{inputs}\t{failures}\t{seconds}\n")
            for part, tried, failed in part_figures(output) if args.parts else []:
                f.write(f"{args.parts} {part}\t{tried}\t{failed}\t-\n")
            for control, caught in controls:
                f.write(f"{args.parts or args.figure} control {control} "
                        f"{'reported' if caught else 'NOT reported'}\t1\t"
                        f"{0 if caught else 1}\t-\n")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
