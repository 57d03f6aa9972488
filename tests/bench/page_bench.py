"""Times kelvaned's page in headless Chromium against a simulated fleet of 256 monitors on 32
device servers (a chain of 8 on each) and prints the figures: from navigation to every row in the
page, and from a monitor's change in kelvaned (a device server stopped: its monitors' next polls
fail) to the row showing it. Run by scripts/bench.sh."""

import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from browser import Browser  # noqa: E402
from fleet import SimulatedFleet  # noqa: E402
from kelvaned import Kelvaned, config_text, fleet_monitors  # noqa: E402

SERVERS = 32
UNITS = 8
MONITORS = SERVERS * UNITS
NAVIGATIONS = 5



def rows_shown(count):
    """A script for before the page's own: the time (since navigation began) when all count rows
    are in the page, and when the frame after that has been painted."""
    return """
new MutationObserver((changes, observer) => {
    if (document.querySelectorAll(".monitor").length < %d)
        return;
    observer.disconnect();
    window.rowsInPage = performance.now();
    requestAnimationFrame(() => setTimeout(() => { window.rowsPainted = performance.now(); }));
}).observe(document, { childList: true, subtree: true });
""" % count


# In the page: the wall time (ms since 1970) at which each row's state first says it is not
# answering.
WATCH_STATES = """
window.downAt = {};
const rows = document.querySelectorAll(".monitor");
new MutationObserver(() => {
    for (const li of rows)
        if (!(li.dataset.name in window.downAt) &&
            li.querySelector(".state .value").textContent === "not answering")
            window.downAt[li.dataset.name] = Date.now();
}).observe(document.getElementById("lines"),
           { childList: true, subtree: true, characterData: true });
"""


class StampedKelvaned(Kelvaned):
    """Notes the wall time at which each log line comes from kelvaned, as it comes."""

    def _read(self):
        self.arrived = []
        for line in self.process.stderr:
            self.arrived.append((time.time() * 1000, line.rstrip("\n")))
            self._lines.put(line.rstrip("\n"))
        self._lines.put(None)


def main():
    fleet = SimulatedFleet(SERVERS, UNITS, apart=(0,))
    browser = None
    kelvaned = None
    try:
        with tempfile.TemporaryDirectory() as folder:
            kelvaned = StampedKelvaned(folder, config_text(fleet_monitors(fleet), interval=5,
                                                           timing="fast"))
            kelvaned.polled(600)
            browser = Browser(1280, 800)
            browser.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                           {"source": rows_shown(MONITORS)})
            url = "http://127.0.0.1:%d/" % kelvaned.port
            shown = []
            painted = []
            for _ in range(NAVIGATIONS):
                browser.open("about:blank")
                browser.open(url)
                browser.wait(lambda _: browser.script("return window.rowsPainted"),
                             "every row painted")
                shown.append(browser.script("return window.rowsInPage"))
                painted.append(browser.script("return window.rowsPainted"))

            browser.script(WATCH_STATES)
            fleet.stop(0)
            stopped = ["m1-%d" % unit for unit in range(1, UNITS + 1)]
            # Other rows may flap too: 31 simulated servers in one Wine process are slow to
            # answer on a loaded machine.
            down_at = browser.wait(
                lambda _: (lambda seen: all(name in seen for name in stopped) and seen)(
                    browser.script("return window.downAt")),
                "the stopped server's rows not answering", 120)
            logged = {}
            for ms, line in kelvaned.arrived:
                for name in stopped:
                    if name not in logged and line.startswith("kelvaned: %s (" % name) \
                            and "not answering" in line:
                        logged[name] = ms
            delays = [down_at[name] - logged[name] for name in stopped]
            errors = browser.console_errors()

            print("kelvaned's page in headless Chromium, %d monitors on %d device servers:"
                  % (MONITORS, SERVERS))
            print("  navigation to all rows in the page: median %4.0f ms, worst %4.0f ms "
                  "(%d loads)" % (statistics.median(shown), max(shown), NAVIGATIONS))
            print("  ... and painted:                    median %4.0f ms, worst %4.0f ms "
                  "(aim: at most 500)" % (statistics.median(painted), max(painted)))
            print("  a monitor's change in kelvaned to its row: median %3.0f ms, worst %3.0f ms "
                  "over %d monitors (aim: at most 100)"
                  % (statistics.median(delays), max(delays), len(delays)))
            if errors:
                print("  console errors: %s" % errors)
    finally:
        if browser:
            browser.close()
        if kelvaned:
            kelvaned.close()
        fleet.close()


if __name__ == "__main__":
    main()
