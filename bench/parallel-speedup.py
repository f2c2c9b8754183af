#!/usr/bin/env python3
"""Speed-up of a transient run shared across MPI processes.

Builds scpnsim in Release (build-rel) and runs the same transient run of the
shipped example model (examples/basic, model time 0..100, five sampling
points, seed 1, no wall-clock limit) first sequentially, then with --parallel
under mpirun on N = 1, 2, 4, ... processes, up to the number of cores (or
--max-procs). Every run starts in a fresh temporary copy of the example
directory and its wall time is taken around the whole process, mpirun and
start-up included. Output is one line per configuration:

  scenario, mode, wall seconds (median of --runs), replications,
  replications per second, speed-up against the sequential run,
  efficiency (speed-up / N) and whether results.log is byte for byte the
  one of the parallel run on one process ("same" / "DIFFERS"). The speed-up
  compares replications per second (parallel runs stop at another
  replication than the sequential one). A last line runs as many
  independent sequential runs at once as there are cores: the throughput the
  machine itself gives independent processes, the ceiling of the speed-up.

Replication k of a parallel run draws from substream k of every random
stream, so the parallel run stops at the same replication with the same
results.log whatever the number of processes; a DIFFERS line is a bug (and
makes the script exit with status 1). The sequential run draws its
replications one after the other from the same streams, so its results are
not expected to match and it is not compared.

Each scenario also prints the message volume per replication: one WORK
message of one double out, one RESULT message of 1 + points * measures
doubles back.

  bench/parallel-speedup.py [--runs N] [--no-build] [--max-procs N]
                            [--scenario main|20k|both]

Scenarios:
  main   --epsmax 5: the usual job, about 2,000 replications
  20k    --epsmax 1.9 --percentage false: about 20,000 replications (the
         per-cent rule would end any run by 10,001 replications, so it is
         off here)

Beyond the number of cores (--max-procs) the processes are oversubscribed
and share the cores; expect the efficiency to fall there.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import release_build

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXE = os.path.join(release_build.BUILD, "scpnsim")
EXAMPLE = os.path.join(ROOT, "examples", "basic")

COMMON = ["-T", "--mstart", "0", "--mstop", "100", "--nofsampling", "5", "--secmax", "0", "--seed", "1"]
SCENARIOS = {
    "main": COMMON + ["--epsmax", "5"],
    "20k": COMMON + ["--epsmax", "1.9", "--percentage", "false"],
}
DOUBLE = 8  # bytes


def mpirun(processes):
    command = ["mpirun", "--oversubscribe"]
    if os.geteuid() == 0:
        command.append("--allow-run-as-root")
    return command + ["-np", str(processes)]


def run(command):
    """Runs `command` in a fresh working directory; returns (stdout, seconds, results.log bytes)."""
    work = tempfile.mkdtemp(prefix="scpnsim-parallel-bench-")
    try:
        shutil.copy(os.path.join(EXAMPLE, "marking.xml"), work)
        start = time.monotonic()
        done = subprocess.run(command, cwd=work, stdin=subprocess.DEVNULL, capture_output=True, text=True)
        seconds = time.monotonic() - start
        if done.returncode != 0:
            sys.exit(f"{' '.join(command)} failed:\n" + done.stdout[-2000:] + done.stderr[-2000:])
        with open(os.path.join(work, "results.log"), "rb") as f:
            results = f.read()
        return done.stdout, seconds, results
    finally:
        shutil.rmtree(work, ignore_errors=True)


def replications(text):
    found = re.findall(r"replications completed: (\d+) \(", text)
    return int(found[-1]) if found else 0


def measure(command, runs, processes=None):
    """Runs `command` `runs` times; returns (median seconds, replications, results.log of every run)."""
    times, logs, reps = [], [], None
    for _ in range(runs):
        text, seconds, results = run(command)
        if processes is not None:
            m = re.search(r"parallel transient run: (\d+) process", text)
            if not m or int(m.group(1)) != processes:
                sys.exit(f"expected a parallel run on {processes} processes, got:\n" + text[-2000:])
        count = replications(text)
        if reps is not None and count != reps:
            sys.exit(f"{' '.join(command)}: {count} replications after {reps} in an earlier run")
        reps = count
        times.append(seconds)
        logs.append(results)
    return statistics.median(times), reps, logs, text


def process_counts(most):
    counts, n = [], 1
    while n <= most:
        counts.append(n)
        n *= 2
    if counts[-1] != most:
        counts.append(most)
    return counts


def analysing_share(text):
    """Process 0's share of the run spent analysing, from its summary line."""
    m = re.search(r"process 0: .*\(analysing ([0-9.e+-]+) % of", text)
    return f"  process 0 analysing {float(m.group(1)):.2f} %" if m else ""


def ceiling(options, copies):
    """Runs `copies` independent sequential runs at once; returns their replications per second in all.

    This is what the machine gives independent processes (shared caches and
    memory bandwidth, other load), the most a parallel run of as many
    processes can reach."""
    works = [tempfile.mkdtemp(prefix="scpnsim-parallel-bench-") for _ in range(copies)]
    try:
        procs = []
        start = time.monotonic()
        for work in works:
            shutil.copy(os.path.join(EXAMPLE, "marking.xml"), work)
            procs.append(subprocess.Popen([EXE] + options, cwd=work, stdin=subprocess.DEVNULL,
                                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True))
        outs = [p.communicate()[0] for p in procs]
        seconds = time.monotonic() - start
        return sum(replications(o) for o in outs) / seconds
    finally:
        for work in works:
            shutil.rmtree(work, ignore_errors=True)


def line(scenario, mode, seconds, reps, sequential, processes, identical, text=""):
    # Throughput, not wall time: the parallel runs stop at another
    # replication than the sequential one (other random substreams).
    speedup = (reps / seconds) / sequential
    efficiency = f"{speedup / processes:6.2f}" if processes else f"{'':>6}"
    print(f"{scenario:<5} {mode:<12} {seconds:8.1f} s {reps:>7} reps {reps / seconds:8.1f} reps/s  "
          f"speed-up {speedup:5.2f}  efficiency {efficiency}  {identical}{analysing_share(text)}", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=1, help="runs per configuration (median wall time)")
    parser.add_argument("--no-build", action="store_true", help="use build-rel/scpnsim as it is")
    parser.add_argument("--max-procs", type=int, default=os.cpu_count() or 1,
                        help="most processes of a parallel run (default: the number of cores)")
    parser.add_argument("--scenario", choices=["main", "20k", "both"], default="both")
    args = parser.parse_args()
    if args.runs < 1 or args.max_procs < 1:
        sys.exit("--runs and --max-procs must be at least 1")
    if not args.no_build:
        release_build.build("scpnsim")
    if not os.path.exists(EXE):
        sys.exit("build-rel/scpnsim not found")
    if shutil.which("mpirun") is None:
        sys.exit("mpirun not found")

    names = ["main", "20k"] if args.scenario == "both" else [args.scenario]
    print(f"{os.cpu_count()} cores, parallel runs on {', '.join(map(str, process_counts(args.max_procs)))} "
          f"processes, {args.runs} run(s) each; wall times include start-up (and mpirun)", flush=True)
    differs = False
    for name in names:
        options = SCENARIOS[name]
        seconds, reps, logs, _ = measure([EXE] + options, args.runs)
        sequential = reps / seconds  # replications per second
        line(name, "sequential", seconds, reps, sequential, None, "")

        reference = None  # results.log of the run on one process
        for n in process_counts(args.max_procs):
            seconds, reps, logs, text = measure(mpirun(n) + [EXE] + options + ["--parallel"], args.runs, n)
            if reference is None:
                reference = logs[0]
            identical = all(log == reference for log in logs)
            differs = differs or not identical
            line(name, f"parallel {n}", seconds, reps, sequential, n, "same" if identical else "DIFFERS", text)

        # The machine's own limit: as many independent sequential runs at once.
        most = min(args.max_procs, os.cpu_count() or 1)
        if most > 1:
            rate = ceiling(options, most)
            print(f"{name:<5} {most} independent sequential runs at once: {rate:8.1f} reps/s in all, "
                  f"the most {most} processes can reach: speed-up {rate / sequential:5.2f}", flush=True)

        # What travels per replication: WORK [k] to a process, RESULT
        # [k, every measure at every sampling point] back.
        points = int(options[options.index("--nofsampling") + 1])
        measures = reference.decode(errors="replace").count("Measure: ")
        result = DOUBLE * (1 + points * measures)
        print(f"{name:<5} messages per replication: WORK {DOUBLE} bytes + RESULT {result} bytes "
              f"(1 + {points} points x {measures} measures doubles) = {DOUBLE + result} bytes", flush=True)

    if differs:
        sys.exit("results.log DIFFERS between process counts")


if __name__ == "__main__":
    main()
