"""The same results under both timing policies: a run of kelvanectl commands against the
simulated monitor in its random-fault mode, once paced and once answer-driven (--fast), each run
against a fresh simulator with the same seed, compared command by command: ok or the error, and
the values (the message is for people and may differ).

The simulator draws each frame's fault from the seed and the frame's number, so both runs meet the
same faults as long as they send the same frames, which they do as long as every result so far was
the same. Pulls are left out of the draw: a pulled cable swallows the frames that come while it is
out, and how many those are depends on the client's pace, not on what it read.

    policies.py --seed S --commands N [--fault-rate PCT]   (the long run; scripts/soak.sh --policies)
Run under scripts/test.sh or scripts/soak.sh, which set the Wine environment."""

import argparse
import json
import os
import random
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from simulator import BUILD, MonitorSim  # noqa: E402

NATIVE = os.path.join(os.environ.get("KELVANE_NATIVE", os.path.join(BUILD, "native")), "bin",
                      "kelvanectl")
# Every fault the random mode has but the pull, which depends on time.
FAULTS_BY_COUNT = "late,partial,junk,silent,nak,refuse"
# The longest a command takes however the monitor behaves; a hang fails the run.
COMMAND_LIMIT_S = 60

# The commands a run draws from, with --unit 1 where the command takes it: a chain of one unit,
# so that the unit-ID query at "0" is met too.
COMMANDS = [
    ["status"], ["status", "--unit", "1"], ["source", "HDMI2", "--unit", "1"],
    ["source", "VGA", "--unit", "1"], ["source", "HDMI1"], ["reset", "--unit", "1"],
    ["diagnostic", "--unit", "1"], ["scan", "--ids", "1-3"],
]


def draw_commands(seed, count):
    """count commands drawn from the seed, the same for the same seed."""
    draw = random.Random(seed)
    return [draw.choice(COMMANDS) for _ in range(count)]


def comparable(line):
    """What must be the same under both policies: the JSON object but its message and its
    target (each run has a simulator of its own)."""
    result = json.loads(line)
    result.pop("message", None)
    result.pop("target", None)
    return result


def run(commands, seed, fault_rate, fast):
    """The results of the commands, in order, against a fresh simulator, and the seconds each
    took."""
    monitor = MonitorSim("--unit-id", "1", "--random", str(seed), "--fault-rate", str(fault_rate),
                         "--faults", FAULTS_BY_COUNT, tcp=True)
    try:
        results = []
        for args in commands:
            started = time.monotonic()
            done = subprocess.run([NATIVE, *args, monitor.target, "--json"] +
                                  (["--fast"] if fast else []),
                                  capture_output=True, text=True, timeout=COMMAND_LIMIT_S)
            lines = done.stdout.splitlines()
            results.append((done.returncode, comparable(lines[0]) if lines else None,
                            time.monotonic() - started, lines[0] if lines else done.stderr))
        return results
    finally:
        monitor.close()


def compare(seed, count, fault_rate):
    """Runs both and returns (commands, paced, fast, mismatches): a mismatch is the index of a
    command whose exit status or result differ."""
    commands = draw_commands(seed, count)
    paced = run(commands, seed, fault_rate, fast=False)
    fast = run(commands, seed, fault_rate, fast=True)
    mismatches = [i for i, (p, f) in enumerate(zip(paced, fast)) if p[:2] != f[:2]]
    return commands, paced, fast, mismatches


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--commands", type=int, default=200)
    parser.add_argument("--fault-rate", type=int, default=30)
    options = parser.parse_args()
    commands, paced, fast, mismatches = compare(options.seed, options.commands,
                                                options.fault_rate)
    outcomes = {}
    for status, result, _, _ in paced:
        key = result["error"] if result and not result["ok"] else "ok"
        outcomes[key] = outcomes.get(key, 0) + 1
    print("commands run under each policy:  %d (seed %d, %d%% of frames faulty, no pulls)" %
          (len(commands), options.seed, options.fault_rate))
    print("results:                         " +
          ", ".join("%s %d" % (key, outcomes[key]) for key in sorted(outcomes)))
    print("time, paced:                     %.1f s" % sum(p[2] for p in paced))
    print("time, answer-driven:             %.1f s" % sum(f[2] for f in fast))
    print("different results (must be 0):   %d" % len(mismatches))
    for i in mismatches:
        print("  %d %s\n    paced: %s\n    fast:  %s" % (i, " ".join(commands[i]), paced[i][3],
                                                      fast[i][3]))
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main())
