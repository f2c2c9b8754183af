#!/usr/bin/env python3
"""Memory of long stationary and RESTART runs: does it stay flat?

A stationary run of the M/M/1 model (a stable queue, so every live token
belongs to the model) and a RESTART run of it go on for --seconds of wall
clock time each; the script samples the resident memory (VmRSS of
/proc/PID/status) every second and prints it at a few moments, with the
number of batches closed. Memory that grows with the run shows as a rising
row. With --compare DIR the same runs are made with the build in DIR too
(for example a build of an older commit), alternating with this one.

  bench/stationary-memory.py [--seconds 60] [--compare /path/to/build]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

import release_build

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MARKING = ('<marking>\n  <token place="Server_idle" value="0"/>\n'
           '  <token place="RareLevel" value="15"/>\n</marking>\n')
RUNS = {
    "stationary": ["-S", "--mstart", "0", "--mstop", "0", "--epsmax", "0", "--percentage", "false"],
    "restart": ["-R", "--mstart", "0", "--mstop", "0", "--epsmax", "0", "--percentage", "false", "--repeats", "2",
                "--thrmin", "1", "--thrmax", "14", "--thrnumber", "12"],
}


def rss_mb(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024.0
    except OSError:
        return None
    return None


def measure(exe, args, seconds):
    work = tempfile.mkdtemp(prefix="scpn-memory-")
    try:
        with open(os.path.join(work, "marking.xml"), "w") as f:
            f.write(MARKING)
        proc = subprocess.Popen([exe] + args + ["--secmax", str(seconds), "--seed", "12345"], cwd=work,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        samples = []
        start = time.time()
        while proc.poll() is None:
            value = rss_mb(proc.pid)
            if value is not None:
                samples.append((time.time() - start, value))
            time.sleep(1.0)
        out = proc.stdout.read()
        batches = [line for line in out.splitlines() if line.startswith("batches closed:")]
        return samples, (batches[-1] if batches else "")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def at(samples, t):
    best = None
    for when, value in samples:
        if when <= t + 0.5:
            best = value
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--compare", help="another build folder with an mm1 executable")
    options = parser.parse_args()
    builds = [("this build", release_build.build("mm1"))]
    if options.compare:
        builds.append((options.compare, os.path.join(options.compare, "mm1")))
    moments = [m for m in (2, 5, 10, 20, 30, 45, 60, 90, 120) if m < options.seconds] + [options.seconds - 1]
    print(f"resident memory (MB) of mm1 runs of {options.seconds} s, sampled every second")
    print(f"{'run':<11} {'build':<28} " + " ".join(f"{m:>6}s" for m in moments) + "   last progress line")
    for kind, args in RUNS.items():
        for name, exe in builds:
            samples, progress = measure(exe, args, options.seconds)
            cells = []
            for m in moments:
                v = at(samples, m)
                cells.append(f"{v:7.1f}" if v is not None else "      -")
            print(f"{kind:<11} {name[-28:]:<28} " + " ".join(cells) + "   " + progress)


if __name__ == "__main__":
    main()
