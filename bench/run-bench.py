#!/usr/bin/env python3
"""Throughput and memory figures of scpnsim on the shipped example model.

Builds scpnsim in Release (build-rel), runs it in a temporary copy of
examples/basic and prints, for each scenario, one line: the events fired per
second of wall-clock time and the peak resident memory of the process.

  bench/run-bench.py [--seconds N] [--runs N] [--no-build]

Scenarios:
  profiling    -p with 5,000,000 events in one loop, run --runs times; the
               line gives the median of the driver's own events-per-second
               figure (the event loop alone, start-up excluded)
  profiling 20M  -p with 4 loops of 5,000,000: peak memory over 20,000,000
               events (it must stay flat)
  stationary   one long stationary run (batches of 100 events) for N seconds
  transient    a transient run of many short replications for N seconds
  memory       transient runs of 100 and of 10,001 replications:
               with every build freed when the next replaces it, their peak
               memory must stay within a few MB of each other
"""
import argparse
import os
import re
import resource
import shutil
import sys
import tempfile
import time

import release_build

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXE = os.path.join(release_build.BUILD, "scpnsim")
EXAMPLE = os.path.join(ROOT, "examples", "basic")


def run(args):
    """Runs scpnsim in a fresh working directory; returns (stdout, seconds, peak MB)."""
    work = tempfile.mkdtemp(prefix="scpnsim-bench-")
    try:
        shutil.copy(os.path.join(EXAMPLE, "marking.xml"), work)
        start = time.monotonic()
        pid = os.fork()
        if pid == 0:
            os.chdir(work)
            out = os.open("stdout", os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
            os.dup2(out, 1)
            os.execv(EXE, [EXE] + args)
        _, status, usage = os.wait4(pid, 0)
        seconds = time.monotonic() - start
        with open(os.path.join(work, "stdout")) as f:
            text = f.read()
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit("scpnsim failed:\n" + text[-2000:])
        return text, seconds, usage.ru_maxrss / 1024.0
    finally:
        shutil.rmtree(work, ignore_errors=True)


def number(pattern, text):
    m = re.search(pattern, text)
    return int(m.group(1)) if m else 0


def report(name, text, seconds, peak):
    fired = number(r"Global fire count: (\d+)", text)
    found = re.findall(r"replications completed: (\d+) \(", text)
    reps = int(found[-1]) if found else 0
    line = f"{name:<28} {fired:>11} events {seconds:7.1f} s {fired / seconds:>12,.0f} events/s  peak {peak:7.1f} MB"
    if reps:
        line += f"  {reps} replications"
    print(line, flush=True)
    return reps


def profiling_rate(text):
    m = re.search(r"events fired: (\d+) in ([0-9.e+-]+) s", text)
    return int(m.group(1)) / float(m.group(2)) if m and float(m.group(2)) > 0 else 0.0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=int, default=20, help="length of the timed scenarios")
    parser.add_argument("--runs", type=int, default=5, help="profiling runs for the median")
    parser.add_argument("--no-build", action="store_true", help="use build-rel/scpnsim as it is")
    args = parser.parse_args()
    if not args.no_build:
        release_build.build("scpnsim")
    if not os.path.exists(EXE):
        sys.exit("build-rel/scpnsim not found")
    secs = str(args.seconds)

    # The event loop alone: 5,000,000 events of one trajectory, several runs.
    results = [run(["-p", "--fcount", "5000000", "--lcount", "1", "--seed", "1"]) for _ in range(args.runs)]
    rates = sorted(profiling_rate(text) for text, _, _ in results)
    peak = max(p for _, _, p in results)
    print(f"{'profiling (median of ' + str(args.runs) + ')':<28} {5000000:>11} events {'':>9} "
          f"{rates[len(rates) // 2]:>12,.0f} events/s  peak {peak:7.1f} MB  "
          f"(min {rates[0]:,.0f}, max {rates[-1]:,.0f})", flush=True)
    report("profiling 20M (memory)", *run(["-p", "--fcount", "5000000", "--lcount", "4", "--seed", "1"]))

    # A stationary run that ends on its wall-clock limit: a stop time far
    # beyond what the run reaches, an accuracy it cannot reach and no per-cent
    # rule (which would declare every measure accurate after 10,000 batches).
    report("stationary", *run(["-S", "--mstart", "0", "--mstop", "1e12", "--epsmax", "1e-9",
                                "--percentage", "false", "--secmax", secs, "--seed", "1"]))
    # Many short replications (model time 0..10, eleven sampling points).
    report("transient (short reps)", *run(["-T", "--mstart", "0", "--mstop", "10", "--nofsampling", "11",
                                            "--epsmax", "1e-9", "--percentage", "false",
                                            "--secmax", secs, "--seed", "1"]))

    # Memory across replications: the same transient run ended after 100
    # replications (by a loose accuracy that seed 3 reaches there) and after
    # 10,001 (by the per-cent rule, which counts every measure as accurate
    # from 10,000 observations on).
    short = ["-T", "--mstart", "0", "--mstop", "10", "--nofsampling", "11", "--secmax", "0", "--seed", "3"]
    report("memory: 100 replications", *run(short + ["--epsmax", "60", "--percentage", "false"]))
    report("memory: 10,001 replications", *run(short + ["--epsmax", "1e-9", "--percentage", "true"]))

if __name__ == "__main__":
    main()
