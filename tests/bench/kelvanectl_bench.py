"""Times kelvanectl status against the simulated monitor and prints the figures: one monitor on
the test cable against the protocol's floor (four exchanges), eight device servers in one call
against one, and the program's CPU time against the wall time. Run by scripts/bench.sh."""

import os
import resource
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from simulator import BUILD, MonitorSim  # noqa: E402

NATIVE_BIN = os.path.join(os.environ.get("KELVANE_NATIVE", os.path.join(BUILD, "native")), "bin")
KELVANECTL = os.path.join(NATIVE_BIN, "kelvanectl")
RUNS = 10


def protocol_floors():
    """The protocol's floors as the core computes them, printed by a program built from its
    header (tests/bench/ProtocolFloors.cpp): name to value."""
    done = subprocess.run([os.path.join(NATIVE_BIN, "protocol_floors")], capture_output=True,
                          text=True, check=True)
    pairs = (line.split() for line in done.stdout.splitlines())
    return {name: float(value) for name, value in pairs}


def timed(targets):
    """Wall and CPU milliseconds of one kelvanectl status call, process start included."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.monotonic()
    done = subprocess.run([KELVANECTL, "status", *targets], capture_output=True, text=True)
    wall = 1000 * (time.monotonic() - started)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if done.returncode != 0:
        sys.exit("kelvanectl failed: %s%s" % (done.stdout, done.stderr))
    cpu = 1000 * (after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
    return wall, cpu


def median_of(targets):
    timed(targets)  # the first call pays for Wine's start-up of the simulator's port
    runs = [timed(targets) for _ in range(RUNS)]
    return statistics.median(w for w, _ in runs), sum(c for _, c in runs), sum(w for w, _ in runs)


def main():
    floors = protocol_floors()
    cable = MonitorSim("--unit-id", "1")
    try:
        one_wall, cpu, wall = median_of([cable.target])
    finally:
        cable.close()
    print("kelvanectl status, one monitor on the cable: median %.0f ms over %d calls" %
          (one_wall, RUNS))
    print("  protocol floor:   %.0f ms (four exchanges of %d ms quiet read + %d bytes at %d "
          "baud + %d ms)" % (floors["status_floor_ms"], floors["quiet_read_ms"],
                             floors["frame_bytes"], floors["baud"], floors["answer_wait_ms"]))
    print("  ratio:            %.3f (aim: at most 1.05, process start included)" %
          (one_wall / floors["status_floor_ms"]))
    print("  CPU:              %.2f%% of wall time (aim: under 2%%)" % (100 * cpu / wall))

    servers = [MonitorSim("--unit-id", str(n + 1), tcp=True) for n in range(8)]
    try:
        single, _, _ = median_of([servers[0].target])
        eight, cpu, wall = median_of([s.target for s in servers])
    finally:
        for server in servers:
            server.close()
    print("kelvanectl status, eight device servers in one call: median %.0f ms "
          "(one of them alone: %.0f ms)" % (eight, single))
    print("  ratio:            %.3f (aim: at most 1.1)" % (eight / single))
    print("  CPU:              %.2f%% of wall time (aim: under 2%%)" % (100 * cpu / wall))


if __name__ == "__main__":
    main()
