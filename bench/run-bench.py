#!/usr/bin/env python3
"""Throughput and memory figures of scpnsim on the shipped example model.

Runs the built executable (build/scpnsim) in a temporary copy of
examples/basic and prints, for each scenario, the events fired per second of
wall-clock time and the peak resident memory of the process.

  bench/run-bench.py [--seconds N]

Scenarios:
  stationary   one long stationary run (batches of 100 events) for N seconds
  transient    a transient run of many short replications for N seconds
  memory       transient runs of about 100 and about 10,000 replications:
               with every build freed when the next replaces it, their peak
               memory must stay within a few MB of each other
"""
import argparse
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXE = os.path.join(ROOT, "build", "scpnsim")
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
    reps = number(r"replications completed: (\d+) \(", text)
    line = f"{name:<28} {fired:>11} events {seconds:7.1f} s {fired / seconds:>12,.0f} events/s  peak {peak:7.1f} MB"
    if reps:
        line += f"  {reps} replications"
    print(line, flush=True)
    return reps


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=int, default=20, help="length of the timed scenarios")
    args = parser.parse_args()
    if not os.path.exists(EXE):
        sys.exit("build/scpnsim not found: run scripts/build.sh first")
    secs = str(args.seconds)

    # A stationary run that ends on its wall-clock limit: a stop time far
    # beyond what the run reaches and an accuracy it cannot reach.
    report("stationary", *run(["-S", "--mstart", "0", "--mstop", "1e12", "--epsmax", "1e-9",
                                "--secmax", secs, "--seed", "1"]))
    # Many short replications (model time 0..10, three sampling points).
    report("transient (short reps)", *run(["-T", "--mstart", "0", "--mstop", "10", "--nofsampling", "3",
                                            "--epsmax", "1e-9", "--secmax", secs, "--seed", "1"]))

    # Memory across replications: calibrate the replication rate, then run
    # about 100 and about 10,000 replications.
    text, seconds, _ = run(["-T", "--mstart", "0", "--mstop", "10", "--nofsampling", "3",
                            "--epsmax", "1e-9", "--secmax", "2", "--seed", "2"])
    rate = max(number(r"replications completed: (\d+) \(", text) / 2.0, 1.0)
    for target in (100, 10000):
        limit = max(1, int(round(target / rate)))
        report(f"memory: ~{target} replications", *run(
            ["-T", "--mstart", "0", "--mstop", "10", "--nofsampling", "3", "--epsmax", "1e-9",
             "--secmax", str(limit), "--seed", "3"]))


if __name__ == "__main__":
    main()
