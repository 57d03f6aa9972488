"""Times a group's source switch on 64 monitors over 8 simulated device servers (a chain of 8 on
each), paced and fast, against the slowest line's share: the time its own 8 switches took, from
kelvaned's /api/log. The lines run side by side, so the group takes about the slowest line's share.
Prints, asserts nothing. Run by scripts/bench.sh."""

import collections
import os
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from fleet import SimulatedFleet  # noqa: E402
from kelvaned import Kelvaned, config_text, fleet_monitors  # noqa: E402

SERVERS = 8
UNITS = 8
RUNS = 3
SOURCES = ("HDMI2", "HDMI1")


def switch(kelvaned, source, members):
    """Seconds the group's switch took to its answer, and the slowest line's share of it."""
    began = time.monotonic()
    answer = kelvaned.post("/api/groups/all/source", {"source": source})
    took = time.monotonic() - began
    assert answer.status == 200, answer.body
    shares = collections.defaultdict(float)
    for entry in kelvaned.get("/api/log?limit=%d" % members).json()["operations"]:
        shares[entry["target"]] += entry["seconds"]
    return took, max(shares.values())


def main():
    fleet = SimulatedFleet(SERVERS, UNITS)
    try:
        with tempfile.TemporaryDirectory() as folder:
            monitors = fleet_monitors(fleet)
            print("a group's source switch on %d monitors over %d device servers (a chain of %d "
                  "on each), median of %d:" % (len(monitors), SERVERS, UNITS, RUNS))
            for timing in ("paced", "fast"):
                # Polled once an hour: the first sweep ends before the switch, no other comes.
                kelvaned = Kelvaned(folder, config_text(monitors, interval=3600, timing=timing) +
                                    '[[group]]\nname = "all"\nmonitors = ["*"]\n')
                try:
                    kelvaned.polled(600)
                    runs = sorted((switch(kelvaned, SOURCES[i % 2], len(monitors))
                                   for i in range(RUNS)), key=lambda run: run[0] / run[1])
                    took, share = runs[len(runs) // 2]
                    print("  %-5s %6.2f s, the slowest line's share %6.2f s: %.3f of it (aim: at "
                          "most 1.1)" % (timing, took, share, took / share))
                finally:
                    kelvaned.stop()
                    kelvaned.close()
    finally:
        fleet.close()


if __name__ == "__main__":
    main()
