#!/usr/bin/env python3
"""How the dashboard's page copes with long series.

Starts build/scpn-dashboard (build it first: cmake --build build), streams a
synthetic stationary run into its result port - SERIES place series of
POINTS points each, plus one estimate series - and opens the page in
headless Chromium driven by chromedriver. Prints, per size:

  points per series, bytes of the run's snapshot, seconds until every chart
  was drawn (page opened after the stream ended; a late page is sent at
  most 2,000 points per series), and the
  page's responsiveness while a second stream of the same size arrives live:
  the longest gap between animation frames (ms) and the median time a click
  handler waits (ms), measured in the page with requestAnimationFrame and a
  MessageChannel round trip every 50 ms.

A page counts as responsive when frames keep coming (a gap well under a
second) and a click is handled within tens of milliseconds.

    bench/dashboard-load.py [--points 10000 100000] [--series 5]
"""
import argparse, base64, json, os, socket, subprocess, sys, tempfile, time, urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DASHBOARD = os.path.join(ROOT, "build", "scpn-dashboard")


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class Driver:
    def __init__(self):
        self.port = free_port()
        self.profile = tempfile.TemporaryDirectory()
        self.proc = subprocess.Popen(["chromedriver", "--port=%d" % self.port],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(200):
            try:
                self.call("GET", "/status")
                break
            except OSError:
                time.sleep(0.05)
        caps = {"browserName": "chrome", "goog:chromeOptions": {"binary": "/usr/bin/chromium", "args": [
            "--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1400,1000",
            "--user-data-dir=" + self.profile.name]}}
        self.sid = self.call("POST", "/session", {"capabilities": {"alwaysMatch": caps}})["sessionId"]

    def call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        req = urllib.request.Request("http://127.0.0.1:%d%s" % (self.port, path), method=method, data=data,
                                     headers={"Content-Type": "application/json"})
        try:
            return json.load(urllib.request.urlopen(req, timeout=300))["value"]
        except urllib.error.HTTPError as e:
            raise RuntimeError(json.load(e)["value"])

    def open(self, url):
        self.call("POST", "/session/%s/url" % self.sid, {"url": url})

    def script(self, body, *args):
        return self.call("POST", "/session/%s/execute/sync" % self.sid, {"script": body, "args": list(args)})

    def close(self):
        try:
            self.call("DELETE", "/session/" + self.sid)
        finally:
            self.proc.terminate()
            self.proc.wait()


def synthetic_run(series, points):
    lines = ["NETNAME;bench", "XTICKFORMAT;0"]
    for i in range(points):
        lines.append("TIME;%d" % i)
        for s in range(series):
            lines.append("P%d<Place>;%d" % (s, (i * (s + 3)) % 97))
        if i % 10 == 0:
            lines.append("M<Result:Mean>,<-ConfMin>,<+ConfMax>;%g,%g,%g" % (1 + 1 / (i + 1), 0.9, 1.1 + 1 / (i + 1)))
    lines.append("EXIT;0")
    return ("\n".join(lines) + "\n").encode()


def stream(port, data, seconds=0.0):
    with socket.create_connection(("127.0.0.1", port)) as s:
        if seconds <= 0:
            s.sendall(data)
            return
        chunk = max(1, len(data) // int(seconds * 20))
        for k in range(0, len(data), chunk):
            s.sendall(data[k:k + chunk])
            time.sleep(0.05)


# Every chart there with at least `points` points, the run ended and its
# last time shown (a live page is sent at most 2,000 new points per series
# four times a second, so a fast stream reaches it thinned too).
ALL_SHOWN = """
const want = arguments[0];
const charts = document.querySelectorAll('#charts canvas.series-chart[data-kind="place"]');
return charts.length === want.series &&
       Array.from(charts).every(c => Number(c.getAttribute('data-points')) >= want.points) &&
       document.querySelector('#run-last-time').textContent.trim() === String(want.last) &&
       document.querySelector('#run-status').textContent.trim() === 'ended';"""

PROBE_START = """
window.__probe = {gaps: [], waits: [], last: performance.now(), on: true};
const frame = (t) => { const p = window.__probe; p.gaps.push(t - p.last); p.last = t;
                       if (p.on) requestAnimationFrame(frame); };
requestAnimationFrame(frame);
const tick = () => { if (!window.__probe.on) return; const sent = performance.now();
  const ch = new MessageChannel();
  ch.port1.onmessage = () => { window.__probe.waits.push(performance.now() - sent); setTimeout(tick, 50); };
  ch.port2.postMessage(0); };
tick();
return true;"""

PROBE_END = """
const p = window.__probe; p.on = false;
const w = p.waits.slice().sort((a, b) => a - b);
return {maxGap: Math.max(...p.gaps), medianWait: w[Math.floor(w.length / 2)] || 0, frames: p.gaps.length};"""


def measure(points, series):
    http, result = free_port(), free_port()
    dash = subprocess.Popen([DASHBOARD, "--listen", "127.0.0.1:%d" % http, "--resport", "127.0.0.1:%d" % result],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    browser = None
    try:
        dash.stdout.readline()
        data = synthetic_run(series, points)
        stream(result, data)
        time.sleep(0.5)
        first = urllib.request.urlopen("http://127.0.0.1:%d/api/state" % http).read()
        browser = Driver()
        # A page that joins late is sent at most 2,000 points per series.
        want = {"series": series, "points": min(points, 1000), "last": points - 1}
        began = time.monotonic()
        browser.open("http://127.0.0.1:%d/" % http)
        while not browser.script(ALL_SHOWN, want):
            if time.monotonic() - began > 300:
                raise RuntimeError("the page did not show every point within 300 s")
            time.sleep(0.05)
        loaded = time.monotonic() - began
        # A second run of the same size arriving live over about 10 s.
        browser.script(PROBE_START)
        stream(result, data, seconds=10)
        want = {"series": series, "points": min(points, 1000), "last": points - 1}
        while not browser.script(ALL_SHOWN, want):
            if time.monotonic() - began > 600:
                raise RuntimeError("the live run was not shown whole within 600 s")
            time.sleep(0.05)
        probe = browser.script(PROBE_END)
        print("%9d points/series  snapshot %8.0f kB  shown whole after %.2f s  live: longest frame gap %.0f ms,"
              " median click wait %.1f ms (%d frames)" % (points, len(first) / 1024, loaded, probe["maxGap"],
                                                          probe["medianWait"], probe["frames"]), flush=True)
    finally:
        if browser:
            browser.close()
        dash.terminate()
        dash.wait()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--points", type=int, nargs="+", default=[10000, 100000])
    ap.add_argument("--series", type=int, default=5)
    args = ap.parse_args()
    if not os.access(DASHBOARD, os.X_OK):
        sys.exit("build the dashboard first: cmake --build build")
    print("%d place series and one estimate series per run" % args.series)
    for n in args.points:
        measure(n, args.series)


if __name__ == "__main__":
    main()
