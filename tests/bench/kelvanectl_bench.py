"""Times kelvanectl against the simulated monitor and prints the figures: status on one monitor on
the test cable against the protocol's floor (four exchanges), eight device servers in one call
against one, and the program's CPU time against the wall time; then the answer-driven exchange
(--fast) against the paced one on a prompt device server and on a daisy chain of 16, and against
the time its bytes take on the line. Run by scripts/bench.sh."""

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


def timed(targets, args=("status",)):
    """Wall and CPU milliseconds of one kelvanectl call (status unless told), process start
    included."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.monotonic()
    done = subprocess.run([KELVANECTL, *args, *targets], capture_output=True, text=True)
    wall = 1000 * (time.monotonic() - started)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if done.returncode != 0:
        sys.exit("kelvanectl failed: %s%s" % (done.stdout, done.stderr))
    cpu = 1000 * (after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
    return wall, cpu


def median_of(targets, args=("status",), runs=RUNS):
    timed(targets, args)  # the first call pays for Wine's start-up of the simulator's port
    times = [timed(targets, args) for _ in range(runs)]
    return statistics.median(w for w, _ in times), sum(c for _, c in times), sum(w for w, _ in times)


def answer_driven(floors):
    """--fast against the paced exchange: one prompt monitor, and a daisy chain of 16."""
    server = MonitorSim("--unit-id", "1", tcp=True)
    try:
        fast, cpu, wall = median_of([server.target], ("status", "--fast"))
    finally:
        server.close()
    print("kelvanectl --fast status, one prompt device server: median %.1f ms over %d calls" %
          (fast, RUNS))
    print("  against the paced floor (%.0f ms): %.3f (aim: at most 0.1, process start included)"
          % (floors["status_floor_ms"], fast / floors["status_floor_ms"]))
    print("  against its bytes on the line (%.1f ms at %d baud): %.2f" %
          (floors["status_wire_ms"], floors["baud"], fast / floors["status_wire_ms"]))
    print("  CPU:              %.2f%% of wall time" % (100 * cpu / wall))

    chain = MonitorSim("--unit-id", "1-16", tcp=True)
    try:
        scan = ("scan", "--ids", "1-16")
        paced_scan, _, _ = median_of([chain.target], scan, runs=3)
        fast_scan, _, _ = median_of([chain.target], scan + ("--fast",), runs=3)
        each = [("status", "--unit", str(n)) for n in range(1, 17)]
        paced_all = sum(timed([chain.target], args)[0] for args in each)
        fast_all = sum(timed([chain.target], args + ("--fast",))[0] for args in each)
    finally:
        chain.close()
    print("a daisy chain of 16 on one device server:")
    print("  scan --ids 1-16:  paced %.0f ms, --fast %.0f ms: %.3f (aim: at most 0.15)" %
          (paced_scan, fast_scan, fast_scan / paced_scan))
    print("  status --unit N for each of the 16, one call after another: paced %.0f ms, --fast "
          "%.0f ms: %.3f (aim: at most 0.1)" % (paced_all, fast_all, fast_all / paced_all))


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

    answer_driven(floors)


if __name__ == "__main__":
    main()
