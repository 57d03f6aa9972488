"""Times kelvaned --check of generated files of 10,000 monitors, on device servers (a chain of 8 on
each) and each on a serial line of its own, and a reload of the first. Run by scripts/bench.sh;
needs only the native kelvaned (--check connects to nothing; the reload's servers are not there)."""

import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kelvaned import PROGRAM, Kelvaned, config_text  # noqa: E402

MONITORS = 10000
UNITS = 8
RUNS = 3
# Ports on loopback where no device server listens: a worker's open fails at once.
FIRST_PORT = 40000


def on_servers():
    return [("m%d" % i, "tcp:127.0.0.1:%d" % (FIRST_PORT + i // UNITS), 1 + i % UNITS)
            for i in range(MONITORS)]


def on_serial_lines():
    return [("m%d" % i, "/dev/kelvane-bench-%d" % i, None) for i in range(MONITORS)]


def check_s(path):
    """The median of a few runs of kelvaned --check, in seconds."""
    times = []
    for _ in range(RUNS):
        began = time.monotonic()
        done = subprocess.run([PROGRAM, "--config", path, "--check"], capture_output=True,
                              text=True, timeout=600)
        times.append(time.monotonic() - began)
        if done.returncode != 0:
            sys.exit("kelvaned --check failed: " + done.stderr)
    return sorted(times)[len(times) // 2]


def main():
    with tempfile.TemporaryDirectory() as folder:
        print("kelvaned --check of %d monitors (median of %d; aim: under 1 s):" % (MONITORS, RUNS))
        for what, monitors in (("on %d device servers" % (MONITORS // UNITS), on_servers()),
                               ("each on its own serial line", on_serial_lines())):
            path = os.path.join(folder, "kelvaned.toml")
            with open(path, "w") as out:
                out.write(config_text(monitors))
            print("  %-30s %6.2f s" % (what, check_s(path)))

        text = config_text(on_servers(), interval=3600)
        kelvaned = Kelvaned(folder, text)
        try:
            began = time.monotonic()
            kelvaned.reload()
            kelvaned.wait_for(r"reloaded: ", 600)
            print("kelvaned reload of the %d monitors on device servers: %.2f s (aim: under 1 s)"
                  % (MONITORS, time.monotonic() - began))
        finally:
            kelvaned.stop()
            kelvaned.close()


if __name__ == "__main__":
    main()
