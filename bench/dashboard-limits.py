#!/usr/bin/env python3
"""How the dashboard copes with many open pages, slow clients and many names.

Starts a scpn-dashboard (build/scpn-dashboard unless --dashboard names
another, e.g. one built from an older commit) on free loopback ports and
prints, each in a fresh dashboard:

  streams   seconds for GET / while 40 live streams (/events) are open, and
            how the 40 were answered (200, 503, or nothing within 2 s)
  slow      seconds for GET / while 34 clients send their request one byte
            every 2 s, and how many of them the dashboard had closed by then
            and 10 s later
  names     seconds from the first byte on the result port until the run is
            over (every line handled) for a run naming N distinct elements

A GET that gets no answer within --timeout seconds prints as "> TIMEOUT".

    bench/dashboard-limits.py [--dashboard PATH] [--names 30000 60000] [--timeout 40]
"""
import argparse, json, os, re, select, socket, subprocess, sys, tempfile, threading, time, urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class Dashboard:
    def __init__(self, exe):
        self.port, self.resport = free_port(), free_port()
        self.out = tempfile.TemporaryFile()
        self.proc = subprocess.Popen([exe, "--listen", "127.0.0.1:%d" % self.port, "--resport",
                                      "127.0.0.1:%d" % self.resport], stdout=self.out, stderr=subprocess.STDOUT)
        # Ready once it said where the result port is (it serves the page by then).
        for _ in range(1500):
            self.out.seek(0)
            if b"result port " in self.out.read():
                break
            time.sleep(0.02)
        # It listens for pages a moment after saying so.
        for _ in range(500):
            if self.get("/favicon.ico", 5) is not None:
                break
            time.sleep(0.02)

    def host(self):
        return "127.0.0.1:%d" % self.port

    def get(self, path, timeout):
        """Seconds until GET path was answered, or None."""
        began = time.monotonic()
        try:
            with urllib.request.urlopen("http://%s%s" % (self.host(), path), timeout=timeout) as r:
                r.read()
                return time.monotonic() - began if r.status in (200, 204) else None
        except OSError:
            return None

    def state(self):
        with urllib.request.urlopen("http://%s/api/state" % self.host(), timeout=60) as r:
            return json.load(r)

    def close(self):
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def shown(seconds, timeout):
    return "> %d s TIMEOUT" % timeout if seconds is None else "%.3f s" % seconds


def head_status(sock, wait):
    sock.settimeout(wait)
    data = b""
    try:
        while b"\r\n\r\n" not in data:
            d = sock.recv(4096)
            if not d:
                break
            data += d
    except OSError:
        pass
    m = re.match(rb"HTTP/1\.[01] (\d{3})", data)
    return m.group(1).decode() if m else "none"


def bench_streams(exe, timeout):
    d = Dashboard(exe)
    try:
        socks = []
        for _ in range(40):
            s = socket.create_connection(("127.0.0.1", d.port))
            s.sendall(("GET /events HTTP/1.1\r\nHost: %s\r\n\r\n" % d.host()).encode())
            socks.append(s)
        statuses = [head_status(s, 2.0) for s in socks[:]]
        took = d.get("/", timeout)
        counts = {k: statuses.count(k) for k in sorted(set(statuses))}
        print("streams: GET / with 40 open streams: %s   (streams answered: %s)" % (shown(took, timeout), counts))
        for s in socks:
            s.close()
    finally:
        d.close()


def bench_slow(exe, timeout):
    d = Dashboard(exe)
    try:
        request = ("GET / HTTP/1.1\r\nHost: %s\r\nX-Padding: %s\r\n" % (d.host(), "a" * 4000)).encode()
        # Each sends its first byte at once (an idle connection is a different case).
        socks = []
        for _ in range(34):
            socks.append(socket.create_connection(("127.0.0.1", d.port)))
            socks[-1].send(request[:1])
        stop = threading.Event()

        def trickle():
            k = 1
            stop.wait(2.0)
            while not stop.is_set():
                for s in socks:
                    try:
                        s.send(request[k % len(request):k % len(request) + 1])
                    except OSError:
                        pass
                k += 1
                stop.wait(2.0)

        t = threading.Thread(target=trickle)
        t.start()
        time.sleep(0.5)
        took = d.get("/", timeout)

        def closed():
            n = 0
            for s in socks:
                r, _, _ = select.select([s], [], [], 0)
                if r:
                    try:
                        n += s.recv(4096, socket.MSG_PEEK) == b""
                    except OSError:
                        n += 1
            return n

        then = closed()
        time.sleep(10)
        later = closed()
        stop.set()
        t.join()
        print("slow:    GET / with 34 slow-header clients: %s   (closed by the dashboard: %d of 34 then, %d 10 s later)"
              % (shown(took, timeout), then, later))
        for s in socks:
            s.close()
    finally:
        d.close()


def bench_names(exe, names):
    d = Dashboard(exe)
    try:
        lines = ["NETNAME;bench", "XTICKFORMAT;0", "TIME;1"]
        lines += ["element%d<Place>;%d" % (i, i % 7) for i in range(names)]
        lines += ["TIME;2"] + ["element%d<Place>;1" % i for i in range(0, names, 1000)] + ["EXIT;0", ""]
        data = "\n".join(lines).encode()
        before = d.state()["runId"]
        began = time.monotonic()
        with socket.create_connection(("127.0.0.1", d.resport)) as s:
            s.sendall(data)
        while True:
            st = d.state()
            if st["runId"] != before and st["run"]["status"] == "ended":
                break
            time.sleep(0.05)
        took = time.monotonic() - began
        count = len(d.state()["series"])
        print("names:   %d distinct names fed and handled: %.3f s   (series listed: %d)" % (names, took, count))
    finally:
        d.close()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--dashboard", default=os.path.join(ROOT, "build", "scpn-dashboard"))
    ap.add_argument("--names", type=int, nargs="+", default=[30000])
    ap.add_argument("--timeout", type=int, default=40)
    args = ap.parse_args()
    print("dashboard: %s" % args.dashboard)
    bench_streams(args.dashboard, args.timeout)
    bench_slow(args.dashboard, args.timeout)
    for n in args.names:
        bench_names(args.dashboard, n)


if __name__ == "__main__":
    sys.exit(main())
