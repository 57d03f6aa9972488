"""kelvanectl as a script runs it: the native program against the simulated monitor over the
test cable and over TCP, several monitors at once, a monitor that misbehaves at random, Ctrl-C,
and kelvanectl.exe under Wine. Run by ctest through scripts/test.sh, which builds both programs,
sets the Wine environment and lays the cable."""

import json
import os
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from simulator import BUILD, MonitorSim  # noqa: E402

NATIVE = os.path.join(os.environ.get("KELVANE_NATIVE", os.path.join(BUILD, "native")), "bin",
                      "kelvanectl")
WINDOWS = os.path.join(BUILD, "bin", "kelvanectl.exe")
CABLE_LOG = os.path.join(BUILD, "null-modem", "cable.log")
# Within this of each other the simulator's frames count as the protocol's minimum apart.
SLACK_MS = 30
# The whole of any command here, however the monitor behaves; a hang fails the test.
COMMAND_LIMIT_S = 60


class Run:
    """One finished call: its exit status, its lines and how long it took."""

    def __init__(self, args, program=NATIVE):
        started = time.monotonic()
        done = subprocess.run(([] if program == NATIVE else ["wine"]) + [program, *args],
                              capture_output=True, text=True, timeout=COMMAND_LIMIT_S)
        self.seconds = time.monotonic() - started
        self.status = done.returncode
        self.lines = done.stdout.splitlines()
        self.stderr = done.stderr

    def json(self):
        return [json.loads(line) for line in self.lines]


class Kelvanectl(unittest.TestCase):
    def monitor(self, *switches, tcp=False):
        monitor = MonitorSim(*switches, tcp=tcp)
        self.addCleanup(monitor.close)
        return monitor

    def frame_times(self, monitor):
        return [ms for ms, _, _ in monitor.events("RX")]


class OneMonitorOverTheCable(Kelvanectl):
    def test_status_asks_the_unit_id_at_zero_then_reads_the_rest_at_its_address(self):
        monitor = self.monitor("--unit-id", "3", "--source", "VGA", "--firmware", "2.05")
        run = Run(["status", monitor.target, "--json"])
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(run.json(), [{
            "target": monitor.target, "command": "status", "ok": True, "error": None,
            "message": None, "unit": 3, "source": "VGA", "signal": "ok", "firmware": "2.05"}])
        self.assertEqual(monitor.frames(), ["@@0UIG000", "@@3SSG000", "@@3SIG000", "@@3FVSENA"])
        times = self.frame_times(monitor)
        for earlier, later in zip(times, times[1:]):
            self.assertGreaterEqual(later - earlier, 300 - SLACK_MS, "drain and answer wait")

        text = Run(["status", monitor.target])
        self.assertEqual(text.lines, [monitor.target +
                                      ": unit 3, source VGA, signal ok, firmware 2.05"])

    def test_a_silent_monitor_is_no_answer(self):
        monitor = self.monitor("--silent")
        run = Run(["status", "--json", monitor.target])
        self.assertEqual(run.status, 1)
        self.assertEqual((run.json()[0]["ok"], run.json()[0]["error"]), (False, "no-answer"))
        self.assertEqual(monitor.frames(), ["@@0UIG000"])

    def test_a_source_refused_twice_is_refused_and_one_refused_once_is_taken(self):
        monitor = self.monitor("--unit-id", "2", "--sources", "HD1,HD2")
        refused = Run(["source", "HDMI3", monitor.target, "--json"])
        self.assertEqual(refused.status, 1)
        self.assertEqual(refused.json()[0]["error"], "refused")
        self.assertEqual(monitor.frames(), ["@@0UIG000", "@@2SSSHD3", "@@2SSSHD3"])
        first, second = self.frame_times(monitor)[1:]
        self.assertGreaterEqual(second - first, 2300 - SLACK_MS, "the resend waits 2000 ms")

    def test_unit_10_is_addressed_as_a_colon_and_a_resend_that_is_taken_switches(self):
        monitor = self.monitor("--unit-id", "10", "--nak-first", "1")
        run = Run(["source", "hdmi2", "--unit", "10", monitor.target, "--json"])
        self.assertEqual(run.status, 0, run.lines)
        self.assertEqual((run.json()[0]["source"], run.json()[0]["signal"]), ("HDMI2", "ok"))
        self.assertEqual(monitor.frames(), ["@@:SSSHD2", "@@:SSSHD2", "@@:SIG000"],
                         "nothing is asked at 0 with --unit")
        switched, recheck = self.frame_times(monitor)[1:]
        self.assertGreaterEqual(recheck - switched, 3300 - SLACK_MS, "the switch wait")

    def test_scan_finds_the_units_of_a_daisy_chain(self):
        monitor = self.monitor("--unit-id", "1,2,5")
        run = Run(["scan", "--ids", "1-6", monitor.target, "--json"])
        self.assertEqual(run.status, 0)
        self.assertEqual(run.json()[0]["units"], [1, 2, 5])
        self.assertNotIn("@@0SIG000", monitor.frames())

    def test_bad_calls_send_nothing_and_a_missing_device_does_not_open(self):
        monitor = self.monitor()
        usage = Run(["source", "HDMI4", monitor.target])
        self.assertEqual(usage.status, 2)
        self.assertIn("usage: kelvanectl", usage.stderr)
        self.assertEqual(Run(["status", monitor.target, monitor.target]).status, 2)
        missing = Run(["status", "/dev/no-such-line", "--json"])
        self.assertEqual((missing.status, missing.json()[0]["error"]), (3, "open"))
        self.assertEqual(monitor.frames(), [])

    def test_ctrl_c_stops_at_once_and_lets_go_of_the_line(self):
        monitor = self.monitor("--unit-id", "1")
        closes = open(CABLE_LOG).read().count("close panel")
        call = subprocess.Popen([NATIVE, "source", "VGA", monitor.target])
        monitor.wait_for(r"^RX @@1SSSVGA$")  # now in the 3000 ms switch wait
        interrupted = time.monotonic()
        call.send_signal(signal.SIGINT)
        self.assertEqual(call.wait(COMMAND_LIMIT_S), 130)
        self.assertLess(time.monotonic() - interrupted, 0.5)
        deadline = time.monotonic() + 5
        while open(CABLE_LOG).read().count("close panel") == closes and time.monotonic() < deadline:
            time.sleep(0.02)
        self.assertEqual(open(CABLE_LOG).read().count("close panel"), closes + 1)
        self.assertEqual(monitor.frames()[-1], "@@1SSSVGA", "no re-check after Ctrl-C")


class ManyMonitors(Kelvanectl):
    def test_three_device_servers_at_once_take_as_long_as_one_and_a_silent_one_fails_alone(self):
        first = self.monitor("--unit-id", "1", tcp=True)
        silent = self.monitor("--silent", tcp=True)
        third = self.monitor("--unit-id", "3", tcp=True)
        targets = [first.target, silent.target, third.target]
        run = Run(["status", "--json", *targets])
        self.assertEqual(run.status, 1)
        self.assertEqual([(r["target"], r["ok"], r["error"]) for r in run.json()],
                         [(targets[0], True, None), (targets[1], False, "no-answer"),
                          (targets[2], True, None)])
        # One after another would take 1.2 + 1.3 + 1.2 s.
        self.assertLess(run.seconds, 2.5)

    def test_a_port_where_nothing_listens_does_not_open_within_the_limit(self):
        run = Run(["status", "tcp:127.0.0.1:1", "--json"])
        self.assertEqual((run.status, run.json()[0]["error"]), (3, "open"))
        self.assertLess(run.seconds, 5 + 1)


class UnderWine(Kelvanectl):
    def test_kelvanectl_exe_reads_a_com_port_and_a_device_server(self):
        cable = self.monitor("--unit-id", "7")
        server = self.monitor("--unit-id", "5", tcp=True)
        run = Run(["status", "COM1", server.target, "--json"], program=WINDOWS)
        self.assertEqual(run.status, 0, run.lines)
        self.assertEqual([(r["target"], r["unit"]) for r in run.json()],
                         [("COM1", 7), (server.target, 5)])
        self.assertEqual(cable.frames()[0], "@@0UIG000")


class AMonitorThatMisbehavesAtRandom(Kelvanectl):
    """Whatever the monitor does, a switch, a reset or a diagnostic mode is reported done only
    when the monitor acknowledged it in its log."""

    COMMANDS = [["source", "HDMI2"], ["reset"], ["diagnostic"], ["source", "VGA"],
                ["source", "HDMI1"], ["reset"], ["source", "HDMI3"], ["diagnostic"]]

    def test_no_success_without_the_monitors_acknowledge(self):
        monitor = self.monitor("--unit-id", "1", "--random", "5", "--fault-rate", "50")
        for args in self.COMMANDS:
            before = len(monitor.read_log())
            run = Run(args + [monitor.target, "--unit", "1", "--json"])
            self.assertIn(run.status, (0, 1, 3), run.stderr)
            if run.status != 0:
                continue
            answers = self.answers(monitor.read_log()[before:])
            if args[0] == "source":
                switches = [a for f, a in answers if f[3:6] == "SSS"]
                self.assertTrue(switches[-1].startswith("!"), (args, answers))
            elif args[0] == "reset":
                self.assertTrue([a for f, a in answers if f[3:6] == "DSS"][0].startswith("!"))
            else:
                steps = [a for f, a in answers if f[3:6] in ("DCS", "KES")]
                self.assertEqual(len(steps), 3)
                self.assertTrue(all(a.startswith("!") for a in steps), answers)

    @staticmethod
    def answers(lines):
        """(frame, the bytes sent back before the next frame) for the frames in the log lines."""
        exchanges = []
        for line in lines:
            parts = line.split(" ", 2)
            if len(parts) < 3:
                continue
            if parts[1] == "RX":
                exchanges.append([parts[2], ""])
            elif parts[1] == "TX" and exchanges:
                exchanges[-1][1] += parts[2]
        return exchanges


if __name__ == "__main__":
    unittest.main()
