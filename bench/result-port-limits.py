#!/usr/bin/env python3
"""How long a run takes when its front end misbehaves, for one or more builds.

Cases (each a stationary run of the shipped model that streams until
--secmax, in a temporary directory with examples/basic's marking):

  never-reads   a TCP listener accepts and never reads (secmax 5)
  stopped       scpn-monitor on the local transport, SIGSTOP 0.5 s into the
                run (secmax 5)
  killed        scpn-monitor on the local transport, SIGKILL 0.5 s into the
                run (secmax 5)
  stale         a local-transport monitor killed while it waits; then a run
                with secmax 3 and a new monitor started 1 s later: does the
                run connect (yes/no), and when does it end
  malformed     --resport 127.0.0.1 (no port), secmax 2
  refused       --resport to a bound port that does not listen, secmax 2

Prints the wall-clock seconds of each case for each build, alternating the
builds case by case:

  bench/result-port-limits.py --exe OLD/scpnsim --exe build/scpnsim \\
      [--monitor build/scpn-monitor] [--cap 60]

A case still running after --cap seconds is stopped and printed as ">cap".
"""
import argparse
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def stationary(address, secmax):
    return ["-S", "--mstart", "0", "--mstop", "0", "--secmax", str(secmax), "--epsmax", "0",
            "--percentage", "false", "--seed", "1", "--resport", address]


def timed(cmd, cwd, cap):
    start = time.monotonic()
    p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    try:
        out, _ = p.communicate(timeout=cap)
        return time.monotonic() - start, out
    except subprocess.TimeoutExpired:
        p.kill()
        out, _ = p.communicate()
        return None, out


def free_local(tag):
    return "localhost:%d" % (40000 + (os.getpid() * 7 + tag) % 20000)


def unlink_local(address):
    name = "scpn-" + address.replace("/", "_")
    for path in ["/dev/shm/%s.shr" % name] + ["/dev/shm/sem.%s.%d" % (name, k) for k in range(4)]:
        try:
            os.unlink(path)
        except FileNotFoundError:
            pass


def wait_for(proc_out_path, text, limit=20):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        with open(proc_out_path, errors="replace") as f:
            if text in f.read():
                return True
        time.sleep(0.01)
    return False


def case_never_reads(exe, cwd, cap, _monitor):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    port = listener.getsockname()[1]
    held = []
    threading.Thread(target=lambda: held.append(listener.accept()), daemon=True).start()
    t, _ = timed([exe] + stationary("127.0.0.1:%d" % port, 5), cwd, cap)
    for c, _ in held:
        c.close()
    listener.close()
    return t


def monitor_case(exe, cwd, cap, monitor, sig, tag):
    address = free_local(tag)
    out = os.path.join(cwd, "monitor.out")
    with open(out, "w") as f:
        mon = subprocess.Popen([monitor, address, "--csv", "m.csv"], cwd=cwd, stdout=f, stderr=subprocess.STDOUT)
    wait_for(out, "waiting for a simulation")
    start = time.monotonic()
    sim = subprocess.Popen([exe] + stationary(address, 5), cwd=cwd, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    time.sleep(0.5)
    mon.send_signal(sig)
    try:
        sim.wait(timeout=cap)
        t = time.monotonic() - start
    except subprocess.TimeoutExpired:
        sim.kill()
        sim.wait()
        t = None
    mon.kill()
    mon.wait()
    unlink_local(address)
    return t


def case_stopped(exe, cwd, cap, monitor):
    return monitor_case(exe, cwd, cap, monitor, signal.SIGSTOP, 1)


def case_killed(exe, cwd, cap, monitor):
    return monitor_case(exe, cwd, cap, monitor, signal.SIGKILL, 2)


def case_stale(exe, cwd, cap, monitor):
    address = free_local(3)
    out = os.path.join(cwd, "dead.out")
    with open(out, "w") as f:
        dead = subprocess.Popen([monitor, address], cwd=cwd, stdout=f, stderr=subprocess.STDOUT)
    wait_for(out, "waiting for a simulation")
    dead.kill()
    dead.wait()
    start = time.monotonic()
    sim = subprocess.Popen([exe, "-T", "--mstart", "0", "--mstop", "10", "--secmax", "20", "--epsmax", "25",
                            "--seed", "1", "--resport", address], cwd=cwd, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, text=True)
    time.sleep(1.0)
    mon = subprocess.Popen([monitor, address, "--csv", "m.csv"], cwd=cwd, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    try:
        text, _ = sim.communicate(timeout=cap)
        t = time.monotonic() - start
    except subprocess.TimeoutExpired:
        sim.kill()
        text, _ = sim.communicate()
        t = None
    mon.kill()
    mon.wait()
    unlink_local(address)
    connected = "connection established.." in text
    return t, "connected" if connected else "not connected"


def case_malformed(exe, cwd, cap, _monitor):
    t, _ = timed([exe] + stationary("127.0.0.1", 2), cwd, cap)
    return t


def case_refused(exe, cwd, cap, _monitor):
    holder = socket.socket()
    holder.bind(("127.0.0.1", 0))  # bound, not listening: refuses
    port = holder.getsockname()[1]
    t, _ = timed([exe] + stationary("127.0.0.1:%d" % port, 2), cwd, cap)
    holder.close()
    return t


CASES = [("never-reads", case_never_reads), ("stopped", case_stopped), ("killed", case_killed),
         ("stale", case_stale), ("malformed", case_malformed), ("refused", case_refused)]


def show(value, cap):
    if isinstance(value, tuple):
        return show(value[0], cap) + " (" + value[1] + ")"
    return ">%d s" % cap if value is None else "%.2f s" % value


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--exe", action="append", required=True)
    ap.add_argument("--monitor", default=os.path.join(ROOT, "build", "scpn-monitor"))
    ap.add_argument("--cap", type=int, default=60)
    ap.add_argument("--cases", default=",".join(n for n, _ in CASES))
    args = ap.parse_args()
    wanted = args.cases.split(",")
    print("%-12s %s" % ("case", "  ".join("%-28s" % os.path.relpath(e) for e in args.exe)))
    for name, fn in CASES:
        if name not in wanted:
            continue
        row = []
        for exe in args.exe:
            d = tempfile.mkdtemp(prefix="scpn-port-")
            shutil.copy(os.path.join(ROOT, "examples", "basic", "marking.xml"), d)
            try:
                row.append(show(fn(os.path.abspath(exe), d, args.cap, os.path.abspath(args.monitor)), args.cap))
            finally:
                shutil.rmtree(d, ignore_errors=True)
        print("%-12s %s" % (name, "  ".join("%-28s" % r for r in row)), flush=True)


if __name__ == "__main__":
    main()
