#!/usr/bin/env python3
"""How the front-end stand-ins cope with overlong input.

  monitor: a peer sends NETNAME, then MB megabytes without a line end, then
           "\\nEXIT;0\\n"; the figure is the seconds from the connection to
           the monitor's end, with its exit status (the limited monitor
           refuses the line once it passes 65,536 bytes: status 1).
           Also MB megabytes in lines of 65,536 bytes (the longest the
           limited monitor takes, line end included), which every monitor
           takes whole (status 0).
  play:    a fake token game answers TIME# with a single line of MB
           megabytes; the figure is the seconds scpn-play takes to read and
           print it (status 0), or to refuse it past its 64 MiB limit
           (status 1), or "no end in LIMIT s" when it is stopped.

    bench/tools-limits.py [--bin DIR] [--monitor-mb 64] [--play-mb 1 2 63 65] [--limit 60]

DIR holds scpn-monitor and scpn-play (default: build/ of this tree); give
the folder of an older build to compare.
"""
import argparse, os, shutil, socket, subprocess, sys, tempfile, threading, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def free_port():
    # Only for a monitor that cannot be asked for port 0 (an older build).
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_for(path, text, proc, limit):
    end = time.time() + limit
    while time.time() < end:
        with open(path, "rb") as f:
            data = f.read().decode("utf-8", "replace")
        if text in data:
            return data
        if proc.poll() is not None:
            break
        time.sleep(0.01)
    raise RuntimeError("monitor did not start: " + data)


def bench_monitor(exe, mb, limit, line_length=None):
    work = tempfile.mkdtemp(prefix="tools-limits-")
    out_path = os.path.join(work, "out")
    port = free_port()
    with open(out_path, "wb") as out, open(os.devnull, "wb") as err:
        proc = subprocess.Popen([exe, "127.0.0.1:%d" % port, "--csv", os.path.join(work, "e.csv")],
                                stdout=out, stderr=err, cwd=work)
    wait_for(out_path, "waiting for a simulation", proc, 10)
    conn = socket.create_connection(("127.0.0.1", port))
    start = time.time()
    if line_length is None:
        chunk = b"x" * (1 << 20)  # one line without end
    else:
        # whole lines of line_length bytes (line end included), as many as fill a megabyte
        count = (1 << 20) // line_length
        chunk = (b"y" * (line_length - 1) + b"\n") * count

    def feed():
        try:
            conn.sendall(b"NETNAME;bench\n")
            for _ in range(mb):
                conn.sendall(chunk)
            conn.sendall(b"\nEXIT;0\n")
        except OSError:
            pass  # the monitor gave up on the line and closed

    feeder = threading.Thread(target=feed, daemon=True)
    feeder.start()
    try:
        status = proc.wait(timeout=limit)
        figure = "%.2f s, status %d" % (time.time() - start, status)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        figure = "no end in %d s" % limit
    conn.close()
    shutil.rmtree(work, ignore_errors=True)
    return figure


def bench_play(exe, mb, limit):
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    port = server.getsockname()[1]
    reply = b"1" * (mb << 20) + b"\n"

    def serve():
        c, _ = server.accept()
        got = b""
        while not got.endswith(b"#"):
            part = c.recv(1)
            if not part:
                return
            got += part
        try:
            c.sendall(reply)
            c.recv(1)  # until the client goes
        except OSError:
            pass
        c.close()

    t = threading.Thread(target=serve, daemon=True)
    t.start()
    start = time.time()
    proc = subprocess.Popen([exe, "--port", str(port), "--attempts", "1", "TIME"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        status = proc.wait(timeout=limit)
        figure = "%.2f s, status %d" % (time.time() - start, status)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        figure = "no end in %d s" % limit
    server.close()
    return figure


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--bin", default=os.path.join(ROOT, "build"))
    p.add_argument("--monitor-mb", type=int, nargs="*", default=[64])
    p.add_argument("--play-mb", type=int, nargs="*", default=[1, 2, 63, 65])
    p.add_argument("--limit", type=int, default=60)
    a = p.parse_args()
    a.bin = os.path.abspath(a.bin)  # the monitor runs in a folder of its own
    print("binaries:", a.bin)
    for mb in a.monitor_mb:
        print("scpn-monitor, %d MB unterminated line: %s" % (mb, bench_monitor(os.path.join(a.bin, "scpn-monitor"), mb, a.limit)))
        sys.stdout.flush()
        print("scpn-monitor, %d MB in lines of 65536 bytes: %s" % (mb, bench_monitor(os.path.join(a.bin, "scpn-monitor"), mb, a.limit, 65536)))
        sys.stdout.flush()
    for mb in a.play_mb:
        print("scpn-play, %d MB reply line: %s" % (mb, bench_play(os.path.join(a.bin, "scpn-play"), mb, a.limit)))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
