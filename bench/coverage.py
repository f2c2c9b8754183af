#!/usr/bin/env python3
"""Coverage of the confidence intervals against exactly known values.

Runs N seeded runs of a configuration (program, marking, options) in the
Release build (build-rel) and prints, for every measure (and sampling
point) with a known exact value:

  coverage     runs whose interval contains the exact value, with the
               binomial standard error of that share and a 95 % Wilson
               interval;
  bias/SE      (mean estimate - exact) / true SE, where the true SE is the
               standard deviation of the N estimates (the spread one run has);
               its own uncertainty is about 1/sqrt(N);
  SE ratio     true SE / reported SE, the reported SE being each run's
               half-width divided by its t quantile (root mean square over
               the runs): 1 means the intervals are as wide as they should
               be, above 1 that they are too narrow;
and the verdicts, warnings and mean wall time of the runs.

The intervals are two-sided at level 1 - alpha/2 (--confidence 80 gives 90 %
intervals). Seeds are unrelated 32-bit numbers drawn from one master seed
(--seed), as the README advises; the same master seed repeats a table.

Exact values:
  mm1, mm1-busy  M/M/1 queue with arrival rate 1 and utilisation rho = 0.5
                 or 0.9: QueueLength = rho^2 / (1 - rho), RareState =
                 P(N >= k) = rho^k for the k of the marking.
  scpnsim        no formula: a pooled transient run of many replications
                 (--pool-seconds of wall-clock time, cached in
                 build-rel/coverage/) stands in for the exact values; its own
                 half-width is printed beside them.

  bench/coverage.py --list
  bench/coverage.py CONFIG [CONFIG ...] [--runs 60] [--jobs 2] [--seed 2026]
                    [--extra "--epsmax 2"] [--pool-seconds 900]
"""
import argparse
import hashlib
import math
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

import release_build

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CACHE = os.path.join(release_build.BUILD, "coverage")


def mm1_marking(k):
    return ('<marking>\n  <token place="Server_idle" value="0"/>\n'
            f'  <token place="RareLevel" value="{k}"/>\n</marking>\n')


def mm1_exact(rho, k):
    return {"QueueLength": rho * rho / (1.0 - rho), "RareState": rho ** k}


STAT_FIXED = ["-S", "--mstart", "0", "--epsmax", "0.0001", "--percentage", "false", "--secmax", "0"]
STAT_SEQ = ["-S", "--mstart", "0", "--mstop", "0", "--percentage", "false"]
RESTART = ["-R", "--mstart", "0", "--mstop", "0", "--percentage", "false", "--confidence", "80"]
MAIN_JOB = ["-T", "--mstart", "0", "--mstop", "100", "--nofsampling", "5", "--epsmax", "5", "--secmax", "60"]


def config(program, rho, k, args, what):
    return {"program": program, "marking": mm1_marking(k), "args": args, "exact": mm1_exact(rho, k),
            "what": what}


CONFIGS = {
    # Stationary runs of a fixed length: the interval at the end.
    "mm1-stat-1e4": config("mm1", 0.5, 4, STAT_FIXED + ["--mstop", "1e4"], "M/M/1 rho 0.5, stationary to 1e4"),
    "mm1-stat-1e5": config("mm1", 0.5, 4, STAT_FIXED + ["--mstop", "1e5"], "M/M/1 rho 0.5, stationary to 1e5"),
    "busy-stat-1e4": config("mm1-busy", 0.9, 10, STAT_FIXED + ["--mstop", "1e4"],
                            "M/M/1 rho 0.9, stationary to 1e4"),
    "busy-stat-1e5": config("mm1-busy", 0.9, 10, STAT_FIXED + ["--mstop", "1e5"],
                            "M/M/1 rho 0.9, stationary to 1e5"),
    "busy-stat-1e6": config("mm1-busy", 0.9, 10, STAT_FIXED + ["--mstop", "1e6"],
                            "M/M/1 rho 0.9, stationary to 1e6"),
    # Stationary runs that stop when every measure is accurate.
    "mm1-stat-eps2": config("mm1", 0.5, 4, STAT_SEQ + ["--epsmax", "2", "--secmax", "120"],
                            "M/M/1 rho 0.5, stationary until 2 %"),
    "mm1-stat-eps10": config("mm1", 0.5, 4, STAT_SEQ + ["--epsmax", "10", "--secmax", "120"],
                             "M/M/1 rho 0.5, stationary until 10 %"),
    "mm1-stat-eps20": config("mm1", 0.5, 4, STAT_SEQ + ["--epsmax", "20", "--secmax", "120"],
                             "M/M/1 rho 0.5, stationary until 20 %"),
    "busy-stat-eps5": config("mm1-busy", 0.9, 10, STAT_SEQ + ["--epsmax", "5", "--secmax", "120"],
                             "M/M/1 rho 0.9, stationary until 5 %"),
    "busy-stat-eps20": config("mm1-busy", 0.9, 10, STAT_SEQ + ["--epsmax", "20", "--secmax", "120"],
                              "M/M/1 rho 0.9, stationary until 20 %"),
    # RESTART on P(N >= 15) = 3.05e-5 of the M/M/1 queue at rho 0.5.
    "mm1-restart": config("mm1", 0.5, 15, RESTART + ["--epsmax", "10", "--secmax", "60", "--repeats", "2",
                                                     "--thrmin", "1", "--thrmax", "14", "--thrnumber", "12"],
                          "M/M/1 rho 0.5, RESTART thresholds 1..14 (12 inner), repeats 2, until 10 %"),
    "mm1-restart-thr0": config("mm1", 0.5, 15, RESTART + ["--epsmax", "10", "--secmax", "60", "--repeats", "2",
                                                          "--thrmin", "0", "--thrmax", "14", "--thrnumber", "13"],
                               "M/M/1 rho 0.5, RESTART thresholds 0..14 (13 inner), repeats 2, until 10 %"),
    "busy-restart": config("mm1-busy", 0.9, 30, RESTART + ["--epsmax", "10", "--secmax", "60", "--repeats", "3",
                                                           "--thrmin", "2", "--thrmax", "28", "--thrnumber", "5"],
                           "M/M/1 rho 0.9, RESTART thresholds 2..28 (5 inner), repeats 3, until 10 %"),
    # The per-cent rule on: a sequential run that the rule ends at 10,000
    # batches, with RareState (P(N >= 15)) far from 1 %.
    "mm1-stat-rule": config("mm1", 0.5, 15, ["-S", "--mstart", "0", "--mstop", "0", "--epsmax", "1", "--secmax", "20"],
                           "M/M/1 rho 0.5, stationary until 1 % with the per-cent rule, k = 15"),
    # The main job: the shipped model's transient run.
    "main-transient": {"program": "scpnsim", "marking": None, "args": MAIN_JOB, "exact": None,
                       "what": "shipped model, the main job (transient, 5 points, until 5 %)"},
}
for _name, _c in CONFIGS.items():
    _c["name"] = _name

RESULT_ROW = re.compile(r"^\t(\S+)\t(\S+)\t(\S+)\t\[(\S+);(\S+)\]\t(\S+)$")
BASIS = re.compile(r"^Measure (\S+): (\d+) (batches|replications)")
VERDICTS = ["SIMULATION SUCCESSFUL", "NO STEADY STATE FOUND", "REACHED MAXIMUM MODEL TIME",
            "REACHED MAXIMUM RUN TIME", "REACHED MAXIMUM RUNNING TIME", "RESTART simulation finished."]


def parse_results(text):
    """results.log -> {(measure, time or None): (mean, variance, low, high)}."""
    out = {}
    measure = None
    for line in text.splitlines():
        if line.startswith("Measure: "):
            measure = line[len("Measure: "):].strip()
            continue
        if measure is None:
            continue
        parts = line.strip("\n").split("\t")
        cells = [c for c in parts if c != ""]
        numbers = []
        for c in cells:
            c = c.strip()
            if c.startswith("["):
                low, high = c[1:-1].split(";")
                numbers += [float(low), float(high)]
            else:
                try:
                    numbers.append(float(c))
                except ValueError:
                    numbers = None
                    break
        if not numbers:
            continue
        if len(numbers) == 6:  # transient row: time, mean, variance, low, high, epsilon
            out[(measure, numbers[0])] = tuple(numbers[1:5])
        elif len(numbers) == 5:  # stationary row: mean, variance, low, high, epsilon
            out[(measure, None)] = tuple(numbers[0:4])
    return out


def parse_basis(stdout):
    out = {}
    for line in stdout.splitlines():
        m = BASIS.match(line)
        if m:
            out[m.group(1)] = int(m.group(2))
    return out


def with_options(args, extra):
    """args with the options of `extra` replacing those it names again."""
    args = list(args)
    i = 0
    while i < len(extra):
        option = extra[i]
        value = extra[i + 1] if i + 1 < len(extra) and not extra[i + 1].startswith("-") else None
        if option in args and value is not None and args.index(option) + 1 < len(args):
            args[args.index(option) + 1] = value
        else:
            args += [option] + ([value] if value is not None else [])
        i += 2 if value is not None else 1
    return args


BUILD = release_build.BUILD


def run_once(cfg, seed, extra, workdir_parent):
    exe = os.path.join(BUILD, cfg["program"])
    work = tempfile.mkdtemp(prefix="scpn-coverage-", dir=workdir_parent)
    try:
        if cfg["marking"] is None:
            shutil.copy(os.path.join(ROOT, "examples", "basic", "marking.xml"), work)
        else:
            with open(os.path.join(work, "marking.xml"), "w") as f:
                f.write(cfg["marking"])
        started = time.time()
        done = subprocess.run([exe] + with_options(cfg["args"], extra) + ["--seed", str(seed)], cwd=work,
                              capture_output=True, text=True)
        seconds = time.time() - started
        if done.returncode != 0 or not os.path.exists(os.path.join(work, "results.log")):
            sys.exit(f"{cfg['program']} failed (seed {seed}, status {done.returncode}):\n"
                     + done.stdout[-3000:] + done.stderr[-3000:])
        with open(os.path.join(work, "results.log")) as f:
            results = parse_results(f.read())
        verdict = next((v for v in VERDICTS if v in done.stdout), "none")
        warnings = len(re.findall(r"^WARNING: Measure .* per-cent rule", done.stdout, re.M))
        drift = len(re.findall(r"^WARNING: (Measure .* shows|the net shows) no steady state", done.stdout, re.M))
        correlated = len(re.findall(r"^WARNING: Measure .* still correlated", done.stdout, re.M))
        return {"seed": seed, "results": results, "basis": parse_basis(done.stdout), "verdict": verdict,
                "rule_warnings": warnings, "drift_warnings": drift, "correlated_warnings": correlated,
                "seconds": seconds}
    finally:
        shutil.rmtree(work, ignore_errors=True)


def pooled_reference(cfg, seconds, seed):
    """A long transient run of the main job's configuration without a
    precision target: its means stand in for the exact values."""
    os.makedirs(CACHE, exist_ok=True)
    args = [a for a in cfg["args"]]
    i = args.index("--epsmax")
    args[i + 1] = "0.0001"
    i = args.index("--secmax")
    args[i + 1] = str(seconds)
    args += ["--percentage", "false", "--seed", str(seed)]
    key = hashlib.sha1((" ".join(args)).encode()).hexdigest()[:12]
    path = os.path.join(CACHE, f"pooled-{key}.log")
    if not os.path.exists(path):
        print(f"pooled reference: scpnsim {' '.join(args)} (about {seconds} s, cached in {path})", flush=True)
        work = tempfile.mkdtemp(prefix="scpn-pooled-")
        try:
            shutil.copy(os.path.join(ROOT, "examples", "basic", "marking.xml"), work)
            exe = os.path.join(release_build.BUILD, "scpnsim")
            done = subprocess.run([exe] + args, cwd=work, capture_output=True, text=True)
            counts = re.findall(r"replications completed: (\d+)", done.stdout)
            with open(os.path.join(work, "results.log")) as f:
                text = f.read()
            with open(path, "w") as f:
                f.write(f"# replications: {counts[-1] if counts else '?'}\n" + text)
        finally:
            shutil.rmtree(work, ignore_errors=True)
    with open(path) as f:
        text = f.read()
    reps = re.match(r"# replications: (\S+)", text).group(1)
    return parse_results(text), reps, " ".join(args)


def wilson(k, n, z=1.96):
    if n == 0:
        return (0.0, 1.0)
    p = k / n
    centre = (p + z * z / (2 * n)) / (1 + z * z / n)
    half = z * math.sqrt(p * (1 - p) / n + z * z / (4 * n * n)) / (1 + z * z / n)
    return (centre - half, centre + half)


def report(cfg, runs, reference, reference_note, extra):
    n = len(runs)
    print(f"\n== {cfg['name']}: {cfg['what']}")
    print(f"   {os.path.join(BUILD, cfg['program'])} {' '.join(with_options(cfg['args'], extra))}  ({n} runs)")
    if reference_note:
        print(f"   reference: {reference_note}")
    header = (f"   {'measure':<19} {'time':>6} {'exact':>12} {'coverage':>14} {'+-':>5} {'95% Wilson':>13}"
              f" {'bias/SE':>8} {'SE ratio':>8} {'mean half-width':>15}")
    print(header)
    keys = sorted({k for r in runs for k in r["results"]}, key=lambda k: (k[0], k[1] if k[1] is not None else -1))
    totals = {}
    for key in keys:
        measure, t = key
        if cfg["exact"] is not None:
            if measure not in cfg["exact"]:
                continue
            exact, ref_half = cfg["exact"][measure], 0.0
        else:
            ref = reference.get(key)
            if ref is None or ref[1] == 0.0:
                continue  # a point without spread (the start time) tells nothing
            exact, ref_half = ref[0], (ref[3] - ref[2]) / 2.0
        rows = [r["results"][key] for r in runs if key in r["results"]]
        if len(rows) < 2:
            continue
        covered = sum(1 for (_m, _v, lo, hi) in rows if lo <= exact <= hi)
        means = [row[0] for row in rows]
        true_se = statistics.stdev(means)
        bias = (statistics.fmean(means) - exact) / true_se if true_se > 0 else float("nan")
        reported = []
        for r in runs:
            if key not in r["results"]:
                continue
            _m, var, lo, hi = r["results"][key]
            count = r["basis"].get(measure)
            if not count or count < 2:
                continue
            # Stationary: the variance of the batch values, SE = sqrt(var / n);
            # transient: the variance divided by n, SE = sqrt(var / (n - 1)).
            reported.append(var / count if t is None else var / (count - 1))
        rms = math.sqrt(statistics.fmean(reported)) if reported else float("nan")
        ratio = true_se / rms if rms > 0 else float("nan")
        p = covered / len(rows)
        se = math.sqrt(p * (1 - p) / len(rows))
        lo, hi = wilson(covered, len(rows))
        half = statistics.fmean([(row[3] - row[2]) / 2 for row in rows])
        tt = "" if t is None else f"{t:g}"
        extra = f"  (reference +-{ref_half:.2e})" if cfg["exact"] is None else ""
        print(f"   {measure:<19} {tt:>6} {exact:>12.5e} {covered:>4}/{len(rows):<4} {100 * p:5.1f}% {100 * se:4.1f}"
              f" [{100 * lo:4.1f},{100 * hi:5.1f}] {bias:>8.2f} {ratio:>8.2f} {half:>15.3e}{extra}")
        tot = totals.setdefault(measure, [0, 0])
        tot[0] += covered
        tot[1] += len(rows)
    if cfg["exact"] is None and totals:
        print("   all points:")
        for measure, (c, m) in totals.items():
            p = c / m
            print(f"   {measure:<19} {'':>6} {'':>12} {c:>4}/{m:<4} {100 * p:5.1f}% {100 * math.sqrt(p * (1 - p) / m):4.1f}")
    verdicts = {}
    for r in runs:
        verdicts[r["verdict"]] = verdicts.get(r["verdict"], 0) + 1
    print("   verdicts: " + ", ".join(f"{v}: {c}" for v, c in sorted(verdicts.items())))
    print(f"   per-cent rule warnings: {sum(r['rule_warnings'] for r in runs)}, no-steady-state warnings: "
          f"{sum(r['drift_warnings'] for r in runs)}, still-correlated warnings: "
          f"{sum(r['correlated_warnings'] for r in runs)}, mean wall time "
          f"{statistics.fmean(r['seconds'] for r in runs):.2f} s")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("configs", nargs="*")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--runs", type=int, default=60)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--seed", type=int, default=2026, help="master seed of the run seeds")
    parser.add_argument("--extra", default="", help="options for every run (replacing the configuration's own)")
    parser.add_argument("--pool-seconds", type=int, default=900)
    parser.add_argument("--no-build", action="store_true", help="use build-rel as it is")
    parser.add_argument("--build", help="run the programs of this build folder instead (implies --no-build), "
                                        "for example a build of an older commit")
    options = parser.parse_args()
    global BUILD
    if options.build:
        BUILD = os.path.abspath(options.build)
        options.no_build = True
    if options.list or not options.configs:
        for name, cfg in CONFIGS.items():
            print(f"{name:<18} {cfg['what']}")
        return
    for name in options.configs:
        if name not in CONFIGS:
            sys.exit(f"unknown configuration {name} (see --list)")
    if not options.no_build:
        for program in sorted({CONFIGS[n]["program"] for n in options.configs}):
            release_build.build(program)
    extra = options.extra.split()
    for name in options.configs:
        cfg = CONFIGS[name]
        seeds = random.Random(f"{options.seed}/{name}").sample(range(1, 2 ** 32), options.runs)
        reference, note = None, None
        if cfg["exact"] is None:
            reference, reps, args = pooled_reference(cfg, options.pool_seconds, 7919)
            note = f"pooled run of {reps} replications (scpnsim {args})"
        with tempfile.TemporaryDirectory(prefix="scpn-coverage-") as parent:
            with ThreadPoolExecutor(max_workers=options.jobs) as pool:
                runs = list(pool.map(lambda s: run_once(cfg, s, extra, parent), seeds))
        report(cfg, runs, reference, note, extra)


if __name__ == "__main__":
    main()
