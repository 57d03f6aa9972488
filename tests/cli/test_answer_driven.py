"""kelvanectl --fast against the simulated monitor: a prompt monitor, one that answers 150 ms after
the frame, one whose acknowledge comes late within the late window, and an answer that comes after
the exchange gave up and must not be read as the next one; and the same results as the paced
exchange, command by command, against a monitor that misbehaves at random (the short run of
tests/soak/policies.py). Run by ctest through scripts/test.sh."""

import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "soak"))
import policies  # noqa: E402
from test_kelvanectl import Kelvanectl, Run  # noqa: E402

# What a paced exchange takes between two frames at the least: the drain's quiet read and the
# answer wait.
PACED_GAP_MS = 300


class AnswerDriven(Kelvanectl):
    def gaps(self, monitor):
        times = self.frame_times(monitor)
        return [later - earlier for earlier, later in zip(times, times[1:])]

    def test_a_prompt_monitor_is_read_alike_and_each_frame_follows_its_answer_at_once(self):
        monitor = self.monitor("--unit-id", "3", "--source", "VGA", "--firmware", "2.05",
                               tcp=True)
        run = Run(["status", monitor.target, "--json", "--fast"])
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(run.json(), [{
            "target": monitor.target, "command": "status", "ok": True, "error": None,
            "message": None, "unit": 3, "source": "VGA", "signal": "ok", "firmware": "2.05"}])
        self.assertEqual(monitor.frames(), ["@@0UIG000", "@@3SSG000", "@@3SIG000", "@@3FVSENA"])
        for gap in self.gaps(monitor):
            self.assertLess(gap, PACED_GAP_MS / 2, self.gaps(monitor))

    def test_an_answer_150_ms_after_the_frame_is_waited_for(self):
        monitor = self.monitor("--unit-id", "2", "--delay", "150", tcp=True)
        run = Run(["status", monitor.target, "--unit", "2", "--json", "--fast"])
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual([(r["source"], r["signal"], r["firmware"]) for r in run.json()],
                         [("HDMI1", "ok", "1.02")])
        for gap in self.gaps(monitor):
            self.assertGreaterEqual(gap, 150)

    def test_an_acknowledge_late_within_the_late_window_is_taken(self):
        # After the first acknowledge read of a command has given up (300 ms), before its second
        # read ends (900 ms).
        monitor = self.monitor("--unit-id", "1", "--late-ack", "600", tcp=True)
        run = Run(["source", "HDMI2", monitor.target, "--unit", "1", "--json", "--fast"])
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual([(r["ok"], r["source"], r["signal"]) for r in run.json()],
                         [(True, "HDMI2", "ok")])
        self.assertEqual(monitor.frames(), ["@@1SSSHD2", "@@1SIG000"])

    def test_an_answer_after_the_exchange_gave_up_is_not_taken_for_the_next_one(self):
        # The source query gives up 1200 ms after its frame; its answer comes 50 ms later and
        # lies on the line when the drain before the signal query begins. The drain must take
        # it, under either policy; whether it came in time for that is read in the monitor's
        # log, and a run where the machine's pace let it come after the next frame is tried
        # again.
        for fast in ([], ["--fast"]):
            for _ in range(3):
                monitor = self.monitor("--unit-id", "1", "--delay", "1250", "--delay-first", "1",
                                       tcp=True)
                run = Run(["status", monitor.target, "--unit", "1", "--json", *fast])
                events = monitor.events("RX", "TX")
                stale = [ms for ms, kind, details in events if kind == "TX"][0]
                next_frame = [ms for ms, kind, details in events if kind == "RX"][1]
                if stale < next_frame:
                    break
            else:
                self.fail("the late answer never came before the next frame")
            self.assertEqual([(r["ok"], r["error"], r["source"], r["signal"], r["firmware"])
                              for r in run.json()], [(False, "no-answer", None, "ok", "1.02")],
                             fast)
            self.assertEqual(monitor.frames(), ["@@1SSG000", "@@1SIG000", "@@1FVSENA"])


class BothPolicies(Kelvanectl):
    def test_the_same_commands_meet_the_same_faults_and_give_the_same_results(self):
        commands, paced, fast, mismatches = policies.compare(seed=3, count=6, fault_rate=50)
        self.assertEqual(mismatches, [], [(commands[i], paced[i][3], fast[i][3])
                                          for i in mismatches])
        failed = [result for _, result, _, _ in paced if result and not result["ok"]]
        self.assertTrue(failed, "the run met no fault")


if __name__ == "__main__":
    unittest.main()
