"""Times kelvaned against a simulated fleet of 64 monitors on 8 device servers (a chain of 8 on
each) and prints the figures: one full poll sweep, paced and fast, against one chain's; /metrics
and /api/monitors under 32 concurrent clients (wrk) while it polls, alone and beside 1,000 idle
and 200 dripping connections from other addresses; CPU time while it polls every 5 s with
nothing else; resident memory after the hostile clients' table (tests/service/test_hostile.py).
Run by scripts/bench.sh."""

import os
import re
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "service"))
from fleet import SimulatedFleet  # noqa: E402
from kelvaned import Kelvaned, config_text, fleet_monitors  # noqa: E402
import test_hostile as hostile  # noqa: E402

SERVERS = 8
UNITS = 8
LOAD_S = 10
CLIENTS = 32
IDLE_S = 30
HZ = os.sysconf("SC_CLK_TCK")
# The crowd beside the load: 1,000 idle connections tried from eight addresses and 200 that drip a
# byte a second from four others; wrk's clients come from 127.0.0.1.
IDLE_ADDRESSES = ["127.0.0.%d" % a for a in range(3, 11)]
DRIPPING_ADDRESSES = ["127.0.0.%d" % a for a in range(11, 15)]


class Crowd:
    """Idle and dripping connections, open from here to close()."""

    def __init__(self, port):
        self.clients = []
        for addresses, each in ((IDLE_ADDRESSES, 125), (DRIPPING_ADDRESSES, 50)):
            for address in addresses:
                for _ in range(each):
                    try:
                        self.clients.append(hostile.connect(port, address))
                    except OSError:
                        pass
        self.dripping = [c for c in self.clients if c.getsockname()[0] in DRIPPING_ADDRESSES]
        self.stop = threading.Event()
        self.dripper = threading.Thread(target=self.drip)
        self.dripper.start()

    def drip(self):
        text = hostile.request("GET", "/healthz", [("X-Pad", "y" * 200)])
        for at in range(len(text)):
            for client in self.dripping:
                try:
                    client.send(text[at:at + 1])
                except OSError:
                    pass
            if self.stop.wait(1):
                return

    def close(self):
        self.stop.set()
        self.dripper.join()
        for client in self.clients:
            client.close()


def on_first_monitor(sent):
    """The table's attack on the bench's first monitor instead of the table's "m"."""
    if isinstance(sent, tuple):
        return tuple(on_first_monitor(part) for part in sent)
    return sent.replace(b"/api/monitors/m/", b"/api/monitors/m1-1/")


def hostile_table(port):
    """Runs each attack of the hostile clients' table that needs no token once; how many were
    answered as the table says."""
    held = 0
    for _, which, sent, status, closes, _ in hostile.ATTACKS:
        if which != "open":
            continue
        sent = on_first_monitor(sent)
        client = hostile.connect(port)
        try:
            hostile.send(client, sent)
            got, _, _, closed = hostile.answer(client)
            held += (got, closed) == (status, closes)
        except (OSError, AssertionError):
            pass
        finally:
            client.close()
    return held, sum(1 for attack in hostile.ATTACKS if attack[1] == "open")


def sweep(folder, monitors, timing, runs=3):
    """Seconds from kelvaned's start to every monitor polled once (its first sweep), the median of
    a few runs: a fast sweep is a fraction of a second, and one slow start would be its figure."""
    times = []
    for _ in range(runs):
        began = time.monotonic()
        kelvaned = Kelvaned(folder, config_text(monitors, interval=3600, timing=timing))
        try:
            kelvaned.polled(600)
            times.append(time.monotonic() - began)
        finally:
            kelvaned.stop()
            kelvaned.close()
    return sorted(times)[len(times) // 2]


def cpu_s(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / HZ


def memory_kb(pid, key):
    with open("/proc/%d/status" % pid) as status:
        return int(re.search(r"^%s:\s+(\d+) kB" % key, status.read(), re.MULTILINE).group(1))


def load(port, path, headers=()):
    """wrk's figures for the path: requests per second, p99 in ms, errors."""
    done = subprocess.run(["wrk", "-t2", "-c%d" % CLIENTS, "-d%ds" % LOAD_S, "--latency",
                           "--timeout", "5s"] + [a for h in headers for a in ("-H", h)]
                          + ["http://127.0.0.1:%d%s" % (port, path)],
                          capture_output=True, text=True, timeout=LOAD_S + 60)
    text = done.stdout
    rate = float(re.search(r"Requests/sec:\s+([\d.]+)", text).group(1))
    p99 = re.search(r"^\s+99%\s+([\d.]+)(us|ms|s)\s*$", text, re.MULTILINE)
    p99_ms = float(p99.group(1)) * {"us": 0.001, "ms": 1, "s": 1000}[p99.group(2)]
    errors = sum(int(n) for n in re.findall(r"(?:connect|read|write|timeout) (\d+)", text))
    non2xx = re.search(r"Non-2xx or 3xx responses: (\d+)", text)
    return rate, p99_ms, errors + (int(non2xx.group(1)) if non2xx else 0)


def main():
    fleet = SimulatedFleet(SERVERS, UNITS)
    try:
        with tempfile.TemporaryDirectory() as folder:
            monitors = fleet_monitors(fleet)
            chain = [m for m in monitors if m[1] == fleet.targets[0]]
            paced = sweep(folder, monitors, "paced")
            fast = sweep(folder, monitors, "fast")
            one_chain = sweep(folder, chain, "fast")
            print("kelvaned, %d monitors on %d device servers (a chain of %d on each), one full "
                  "poll sweep (median of 3):" % (len(monitors), SERVERS, UNITS))
            print("  paced:       %6.2f s" % paced)
            print("  fast:        %6.2f s" % fast)
            print("  one chain:   %6.2f s (fast, its %d monitors alone)" % (one_chain, UNITS))
            print("  fast / one chain: %.3f (aim: at most 1.1)" % (fast / one_chain))

            # Fast: a paced sweep of a chain of 8 takes longer than 5 s.
            kelvaned = Kelvaned(folder, config_text(monitors, interval=5, timing="fast"))
            try:
                kelvaned.polled(120)
                for beside in ("", "1,000 idle and 200 dripping connections"):
                    print("under %d concurrent clients for %d s while polling every 5 s, fast "
                          "(wrk)%s:" % (CLIENTS, LOAD_S, ", beside " + beside if beside else ""))
                    # Prometheus and browsers ask for gzip; plain clients such as curl do not.
                    for path in ("/metrics", "/api/monitors"):
                        for name, headers in (("plain", ()),
                                              ("gzip", ("Accept-Encoding: gzip",))):
                            # Idle connections last 10 s: a crowd of its own for each run.
                            crowd = Crowd(kelvaned.port) if beside else None
                            try:
                                rate, p99, errors = load(kelvaned.port, path, headers)
                            finally:
                                if crowd:
                                    crowd.close()
                            print("  %-14s %-5s %8.0f requests/s, p99 %6.2f ms (aim: at most "
                                  "10), %d errors" % (path, name, rate, p99, errors))
                pid = kelvaned.process.pid
                before, began = cpu_s(pid), time.monotonic()
                polls = sum(m["polls"] for m in kelvaned.monitors().values())
                # The window is a count of sweeps, not a wait on a state: the measure itself.
                time.sleep(IDLE_S)
                cpu = cpu_s(pid) - before
                wall = time.monotonic() - began
                polls = sum(m["polls"] for m in kelvaned.monitors().values()) - polls
                print("polling %d monitors every 5 s, fast, for %d s (%d polls):" % (len(monitors),
                                                                             IDLE_S, polls))
                print("  CPU:      %.2f%% of wall time (aim: at most 1%%)" % (100 * cpu / wall))
                held, rows = hostile_table(kelvaned.port)
                print("after the hostile clients' table (%d of %d attacks answered as it says):"
                      % (held, rows))
                print("  resident: %.1f MB now, %.1f MB at most, the load above included "
                      "(aim: at most 32 MB)" % (memory_kb(pid, "VmRSS") / 1024,
                                                memory_kb(pid, "VmHWM") / 1024))
            finally:
                kelvaned.stop()
                kelvaned.close()
    finally:
        fleet.close()


if __name__ == "__main__":
    main()
