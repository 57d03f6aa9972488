"""Times kelvaned on a large site: 1,000 monitors on 125 simulated device servers (a chain of 8 on
each, two simulator processes), polled fast every 10 s, and prints the figures: one full sweep
against one chain's, resident memory, threads and CPU share while it polls, the size of /metrics,
/metrics and /api/monitors under 32 concurrent clients (wrk), and the page's time to all its rows
in headless Chromium. Run by scripts/bench.sh."""

import http.client
import os
import re
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from browser import Browser  # noqa: E402
from fleet import SimulatedFleet  # noqa: E402
from kelvaned import Kelvaned, config_text, fleet_monitors  # noqa: E402
from kelvaned_bench import cpu_s, load, memory_kb, sweep  # noqa: E402
from page_bench import rows_shown  # noqa: E402

SERVERS = 125
UNITS = 8
INTERVAL_S = 10
IDLE_S = 30
NAVIGATIONS = 3


def body_bytes(port, path, headers=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    try:
        connection.request("GET", path, headers=headers or {})
        return len(connection.getresponse().read())
    finally:
        connection.close()


def longest_line_sweep(kelvaned, sweeps):
    """The longest of the lines' last sweeps, as kelvaned timed them, once every monitor has been
    polled this many times: from the second on, a sweep holds no connect (and /metrics, which
    may lag a second, shows one of those)."""
    kelvaned.polled(120, sweeps)
    text = kelvaned.get("/metrics").body
    return max(float(v) for v in re.findall(
        r"^kelvane_line_sweep_duration_seconds\{[^}]*\} (\S+)$", text, re.MULTILINE))


def steady_chain_sweep(folder, chain):
    kelvaned = Kelvaned(folder, config_text(chain, interval=1, timing="fast"))
    try:
        return longest_line_sweep(kelvaned, 3)
    finally:
        kelvaned.stop()
        kelvaned.close()


def main():
    fleet = SimulatedFleet(SERVERS, UNITS)
    browser = None
    try:
        with tempfile.TemporaryDirectory() as folder:
            monitors = fleet_monitors(fleet)
            chain = [m for m in monitors if m[1] == fleet.targets[0]]
            whole = sweep(folder, monitors, "fast")
            one_chain = sweep(folder, chain, "fast")
            print("kelvaned, a site of %d monitors on %d device servers (a chain of %d on each), "
                  "one full poll sweep, fast (median of 3):" % (len(monitors), SERVERS, UNITS))
            print("  the site:    %6.2f s" % whole)
            print("  one chain:   %6.2f s (its %d monitors alone)" % (one_chain, UNITS))
            print("  site / one chain: %.3f (aim: at most 1.2)" % (whole / one_chain))
            chain_steady = steady_chain_sweep(folder, chain)

            kelvaned = Kelvaned(folder, config_text(monitors, interval=INTERVAL_S, timing="fast"))
            try:
                # The lines' cycles start together, so the site's sweep is its longest line's.
                site_steady = longest_line_sweep(kelvaned, 3)
                print("a later sweep, as kelvaned times it (its lines open already):")
                print("  the site:    %6.2f s (its longest line)" % site_steady)
                print("  one chain:   %6.2f s" % chain_steady)
                print("  site / one chain: %.3f (aim: at most 1.2)" % (site_steady / chain_steady))
                pid = kelvaned.process.pid
                before, began = cpu_s(pid), time.monotonic()
                # The window is a count of sweeps, not a wait on a state: the measure itself.
                time.sleep(IDLE_S)
                cpu = cpu_s(pid) - before
                wall = time.monotonic() - began
                print("polling them every %d s, fast, for %d s:" % (INTERVAL_S, IDLE_S))
                print("  CPU:      %.2f%% of wall time (aim: at most 2%%)" % (100 * cpu / wall))
                print("  resident: %.1f MB (aim: at most 64 MB), %d threads"
                      % (memory_kb(pid, "VmRSS") / 1024, len(os.listdir("/proc/%d/task" % pid))))
                print("  /metrics: %.2f MB, %.2f MB gzipped" % (
                    body_bytes(kelvaned.port, "/metrics") / 1e6,
                    body_bytes(kelvaned.port, "/metrics", {"Accept-Encoding": "gzip"}) / 1e6))
                print("under 32 concurrent clients for 10 s while polling (wrk):")
                for path in ("/metrics", "/api/monitors"):
                    for name, headers in (("plain", ()), ("gzip", ("Accept-Encoding: gzip",))):
                        rate, p99, errors = load(kelvaned.port, path, headers)
                        print("  %-14s %-5s %8.0f requests/s, p99 %6.2f ms (aim: at most 20), "
                              "%d errors" % (path, name, rate, p99, errors))
                print("  resident after: %.1f MB, %.1f MB at most"
                      % (memory_kb(pid, "VmRSS") / 1024, memory_kb(pid, "VmHWM") / 1024))

                browser = Browser(1280, 800)
                browser.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                               {"source": rows_shown(len(monitors))})
                shown = []
                for _ in range(NAVIGATIONS):
                    browser.open("about:blank")
                    browser.open("http://127.0.0.1:%d/" % kelvaned.port)
                    browser.wait(lambda _: browser.script("return window.rowsPainted"),
                                 "every row painted", 60)
                    shown.append(browser.script("return window.rowsPainted"))
                print("the page in headless Chromium: navigation to all %d rows painted, median "
                      "%.0f ms, worst %.0f ms (%d loads)" % (len(monitors),
                                                            statistics.median(shown), max(shown),
                                                            NAVIGATIONS))
            finally:
                kelvaned.stop()
                kelvaned.close()
    finally:
        if browser:
            browser.close()
        fleet.close()


if __name__ == "__main__":
    main()
