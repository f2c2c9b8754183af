#!/usr/bin/env python3
"""How long scpnsim takes to load a large marking file, and what each
replication of a transient run costs with it.

Writes a marking with N free worker threads (default 100,000) and five
semaphore slots in a temporary directory, runs the executable there with a
short transient run and prints:

  load          wall-clock time from the start of the process to the line
                "Running simulation from", i.e. reading the file and the first
                build of the net, for the large marking and for a marking of
                four threads (start-up without the file's weight)
  replication   wall-clock time of the run after the first build divided by
                the replications it completed (each one builds the net with all
                its tokens again)

  bench/marking-load.py [--exe build/scpnsim] [--threads N] [--timeout S]

Use a Release build for figures that mean something:
  cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release
  cmake --build build-release --target scpnsim
  bench/marking-load.py --exe build-release/scpnsim
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RUN_ARGS = ["-T", "--mstart", "0", "--mstop", "1", "--nofsampling", "2", "--secmax", "1", "--seed", "1"]


def marking(threads, slots=5):
    lines = ['<?xml version="1.0"?>', "<marking>"]
    lines += ['  <token place="P_thread_pool" value="0"/>'] * threads
    lines += ['  <token place="C1_sem" value="0"/>'] * slots
    lines.append("</marking>\n")
    return "\n".join(lines)


def run(exe, threads, timeout):
    """Returns (load seconds, run seconds, replications) or None after the timeout."""
    work = tempfile.mkdtemp(prefix="scpnsim-marking-bench-")
    try:
        with open(os.path.join(work, "marking.xml"), "w") as f:
            f.write(marking(threads))
        start = time.monotonic()
        proc = subprocess.Popen([exe] + RUN_ARGS, cwd=work, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, text=True)
        # The load prints nothing, so a timer, not the reading loop, ends a
        # run that takes too long.
        watchdog = threading.Timer(timeout, proc.kill)
        watchdog.start()
        built = None
        out = []
        for line in proc.stdout:
            out.append(line)
            if built is None and line.startswith("Running simulation from"):
                built = time.monotonic()
        proc.wait()
        end = time.monotonic()
        watchdog.cancel()
        if end - start >= timeout and proc.returncode != 0:
            return None
        text = "".join(out)
        if proc.returncode != 0 or built is None:
            sys.exit("scpnsim failed (status %s):\n%s" % (proc.returncode, text[-2000:]))
        m = re.search(r"replications completed: (\d+)", text)
        replications = int(m.group(1)) if m else 0
        return built - start, end - built, replications
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", default=os.path.join(ROOT, "build", "scpnsim"))
    parser.add_argument("--threads", type=int, default=100000)
    parser.add_argument("--timeout", type=float, default=600.0, help="seconds per run before giving up")
    args = parser.parse_args()
    exe = os.path.abspath(args.exe)
    print("executable: %s" % exe)
    print("run: scpnsim %s" % " ".join(RUN_ARGS))
    for threads in (4, args.threads):
        result = run(exe, threads, args.timeout)
        if result is None:
            print("%7d threads: no first build within %.0f s" % (threads, args.timeout))
            continue
        load, rest, replications = result
        per = "%.1f ms" % (1000.0 * rest / replications) if replications else "n/a"
        print("%7d threads: load %.3f s   replications %d in %.2f s   per replication %s"
              % (threads, load, replications, rest, per))


if __name__ == "__main__":
    main()
