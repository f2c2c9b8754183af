#!/usr/bin/env python3
"""RESTART against a plain stationary run on the M/M/1 model, for one budget.

The M/M/1 model (arrival rate 1, service rate 2) has P(N >= k) = 0.5^k
exactly; its measure "RareState" estimates it for the k given on the
"RareLevel" place of the marking. For every seed both methods run for the
same wall-clock budget (Release build in build-rel) and the script prints
the estimate, its confidence interval, whether the interval covers the
exact value, and the relative half-width. Output is one line per run, easy
to compare between commits.

  bench/restart-vs-stationary.py [--k 15] [--seconds 20] [--seeds 1,2,3]
                                 [--repeats 2] [--step 1]

RESTART levels: the importance function is the number of waiting jobs
(N - 1 while the server is busy); thresholds every `step` jobs from 1 up to
k - 1, each splitting a path into `repeats`.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

import release_build

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXE = os.path.join(release_build.BUILD, "mm1")


def run(args, k):
    work = tempfile.mkdtemp(prefix="scpn-restart-bench-")
    try:
        with open(os.path.join(work, "marking.xml"), "w") as f:
            f.write('<marking>\n  <token place="Server_idle" value="0"/>\n'
                    f'  <token place="RareLevel" value="{k}"/>\n</marking>\n')
        done = subprocess.run([EXE] + args, cwd=work, capture_output=True, text=True)
        if done.returncode != 0:
            sys.exit("mm1 failed:\n" + done.stdout[-2000:] + done.stderr[-2000:])
        return done.stdout
    finally:
        shutil.rmtree(work, ignore_errors=True)


def estimate(text, measure):
    block = text[text.index("Measure: " + measure):]
    m = re.search(r"\t(\S+)\t\s*(\S+)\t+\[(\S+);(\S+)\]\t(\S+)", block)
    return [float(m.group(i)) for i in (1, 3, 4, 5)]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--k", type=int, default=15)
    parser.add_argument("--seconds", type=int, default=20)
    parser.add_argument("--seeds", default="1,2,3")
    parser.add_argument("--repeats", type=int, default=2)
    parser.add_argument("--step", type=int, default=1)
    options = parser.parse_args()
    release_build.build("mm1")

    exact = 0.5 ** options.k
    top = options.k - 1  # waiting jobs when k are in the system
    thresholds = max(0, (top - 1) // options.step - 1)  # inner thresholds between 1 and top
    common = ["--mstart", "0", "--mstop", "0", "--secmax", str(options.seconds), "--epsmax", "0",
              "--confidence", "95", "--percentage", "false"]
    methods = {
        "stationary": ["-S"],
        "restart": ["-R", "--repeats", str(options.repeats), "--thrmin", "1", "--thrmax", str(top),
                    "--thrnumber", str(thresholds)],
    }
    print(f"P(N >= {options.k}) = {exact:.6e}, budget {options.seconds} s per run, 95% intervals")
    print(f"{'method':<11} {'seed':>4} {'estimate':>13} {'interval':>29} {'covers':>6} {'rel.half-width':>14}")
    for method, args in methods.items():
        for seed in options.seeds.split(","):
            text = run(args + common + ["--seed", seed], options.k)
            mean, low, high, eps = estimate(text, "RareState")
            covers = "yes" if low <= exact <= high else "NO"
            print(f"{method:<11} {seed:>4} {mean:>13.6e} [{low:.6e};{high:.6e}] {covers:>6} {eps:>14.4f}")


if __name__ == "__main__":
    main()
