"""kelvaned end to end: the real program against simulated device servers on 127.0.0.1, each with
a daisy chain of monitors. Run by ctest through scripts/test.sh, which builds kelvaned and
monitor-sim."""

import os
import signal
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from fleet import SimulatedFleet  # noqa: E402
from kelvaned import Kelvaned, config_text, fleet_monitors  # noqa: E402

# One poll of a monitor whose unit is configured: three paced exchanges, about a second.
POLL_S = 1.0


class WithFleet(unittest.TestCase):
    """A simulated fleet and a kelvaned for the whole class."""
    servers = 2
    units = 2
    switches = ()
    server_switches = None
    # The servers a test stops and starts again.
    apart = ()
    interval = 2
    # False: each test starts its own.
    shared_kelvaned = True

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.fleet = SimulatedFleet(cls.servers, cls.units, *cls.switches,
                                   server_switches=cls.server_switches, apart=cls.apart)
        try:
            if cls.shared_kelvaned:
                cls.kelvaned = Kelvaned(cls.folder.name, config_text(cls.monitors(), cls.interval))
        except Exception:
            cls.fleet.close()
            raise

    @classmethod
    def monitors(cls):
        return fleet_monitors(cls.fleet)

    @classmethod
    def tearDownClass(cls):
        if cls.shared_kelvaned:
            cls.kelvaned.close()
        cls.fleet.close()
        cls.folder.cleanup()

    def cycle_s(self):
        """The longest a poll cycle of one line takes here."""
        return self.units * POLL_S + 1


class TheApiShowsTheFleet(WithFleet):
    servers = 3
    # The third server has one monitor, unit 7, whose unit kelvaned learns.
    server_switches = {0: ["--source", "VGA", "--firmware", "2.05"],
                       1: ["--no-signal", "--refuse-fv", "--sources", "HD1,HD2"],
                       2: ["--unit-id", "7"]}

    @classmethod
    def monitors(cls):
        # "off" is no unit of the first server's chain: a monitor switched off.
        chains = fleet_monitors(cls.fleet)
        return chains[:1] + [("off", cls.fleet.targets[0], 9)] + chains[1:4] + [
            ("alone", cls.fleet.targets[2], None)]

    def test_the_monitors_come_in_the_configurations_order_with_the_simulators_values(self):
        monitors = self.kelvaned.polled(3 * self.interval + 3 * POLL_S, times=2)
        self.assertEqual(list(monitors), ["m1-1", "off", "m1-2", "m2-1", "m2-2", "alone"])
        m = dict(monitors["m1-1"])
        last_ok = m.pop("last_ok")
        self.assertRegex(last_ok, r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        # Changed by the first poll that read its values; the polls after it read the same.
        changed = m.pop("changed")
        self.assertRegex(changed, r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        self.assertLessEqual(changed, last_ok)
        self.assertGreaterEqual(m.pop("polls"), 2)
        self.assertEqual(m, {"name": "m1-1", "target": self.fleet.targets[0], "unit": 1,
                             "line": self.fleet.targets[0], "reachable": True, "source": "VGA", "signal": "ok",
                             "firmware": "2.05", "error": None, "failures": 0})
        # A refused firmware query is no failure: older monitors do not have it.
        other = monitors["m2-2"]
        self.assertEqual((other["unit"], other["reachable"], other["source"], other["signal"],
                          other["firmware"], other["error"], other["failures"]),
                         (2, True, "HDMI1", "none", None, None, 0))
        self.assertEqual([line for line in self.kelvaned.read_log() if "m1-1 (" in line],
                         ["kelvaned: m1-1 (%s): answering: unit 1, source VGA, signal ok, "
                          "firmware 2.05" % self.fleet.targets[0]], "one line per change")
        self.assertEqual(self.kelvaned.get("/api/monitors/m2-2").json(), other | {
            "polls": self.kelvaned.get("/api/monitors/m2-2").json()["polls"],
            "last_ok": self.kelvaned.get("/api/monitors/m2-2").json()["last_ok"]})

    def test_a_monitor_that_is_off_fails_alone_and_the_chain_after_it_is_polled(self):
        monitors = self.kelvaned.polled(3 * self.interval + 3 * POLL_S, times=2)
        self.assertEqual((monitors["off"]["error"], monitors["off"]["reachable"]),
                         ("no-answer", False))
        self.assertEqual((monitors["m1-2"]["error"], monitors["m1-2"]["failures"]), (None, 0))
        self.assertIn('kelvane_line_up{line="%s",target="%s"} 1' % ((self.fleet.targets[0],) * 2),
                      self.kelvaned.get("/metrics").body)

    def test_a_unit_learned_at_address_zero_is_the_monitors_unit_from_then_on(self):
        monitors = self.kelvaned.polled(3 * self.interval + 3 * POLL_S, times=2)
        self.assertEqual((monitors["alone"]["unit"], monitors["alone"]["reachable"]), (7, True))
        frames = self.fleet.frames(2)
        self.assertEqual(frames[:4], ["@@0UIG000", "@@7SSG000", "@@7SIG000", "@@7FVSENA"])
        self.assertEqual(frames[4:7], ["@@7SSG000", "@@7SIG000", "@@7FVSENA"])
        self.assertEqual(frames.count("@@0UIG000"), 1)

    def test_a_switch_reaches_its_unit_on_the_chain_and_the_state_shows_it_at_once(self):
        self.kelvaned.polled(3 * self.interval + 3 * POLL_S)
        before = len(self.fleet.frames(0))
        answer = self.kelvaned.post("/api/monitors/m1-2/source", {"source": "hdmi2"})
        self.assertEqual(answer.status, 200, answer.body)
        self.assertEqual(answer.json(), {
            "target": self.fleet.targets[0], "command": "source", "ok": True, "error": None,
            "message": None, "unit": 2, "source": "HDMI2", "signal": "ok"})
        switched = self.fleet.frames(0)[before:]
        self.assertIn("@@2SSSHD2", switched)
        self.assertNotIn("@@1SSSHD2", switched)
        self.assertEqual(self.kelvaned.get("/api/monitors/m1-2").json()["source"], "HDMI2")
        self.assertEqual(self.kelvaned.get("/api/monitors/m1-1").json()["source"], "VGA")

    def test_a_refused_switch_is_502_refused(self):
        self.kelvaned.polled(3 * self.interval + 3 * POLL_S)
        answer = self.kelvaned.post("/api/monitors/m2-1/source", {"source": "HDMI3"})
        self.assertEqual(answer.status, 502, answer.body)
        result = answer.json()
        self.assertEqual((result["ok"], result["error"], result["unit"]), (False, "refused", 1))
        self.assertEqual(self.fleet.frames(1).count("@@1SSSHD3"), 2, "the resend")
        metrics = self.kelvaned.get("/metrics").body
        self.assertIn('kelvane_operations_total{monitor="m2-1",target="%s",unit="1",line="%s",'
                      'operation="source",result="failed"} 1' % ((self.fleet.targets[1],) * 2), metrics)


class ADeviceServerStoppedAndStartedAgain(WithFleet):
    servers = 3
    apart = (1,)

    def test_its_monitors_go_unreachable_and_come_back_and_the_others_go_on(self):
        self.kelvaned.wait_until(lambda ms: all(m["reachable"] for m in ms.values()),
                                 2 * self.interval + self.cycle_s(), "every monitor reachable")
        self.fleet.stop(1)
        stopped = time.monotonic()
        self.kelvaned.wait_until(
            lambda ms: not ms["m2-1"]["reachable"] and not ms["m2-2"]["reachable"],
            2 * self.interval + 1, "the stopped server's monitors unreachable")
        self.assertLess(time.monotonic() - stopped, 2 * self.interval + 1)
        monitors = self.kelvaned.monitors()
        self.assertIn(monitors["m2-1"]["error"], ("no-answer", "open"))
        self.assertEqual(monitors["m2-2"]["error"], "open")
        up = {line.split("target=\"")[1].split("\"")[0]: line.rsplit(" ", 1)[1]
              for line in self.kelvaned.get("/metrics").body.splitlines()
              if line.startswith("kelvane_line_up{")}
        self.assertEqual(up, {target: "0" if i == 1 else "1"
                              for i, target in enumerate(self.fleet.targets)}, "that line alone")
        self.assertEqual(monitors["m2-1"]["firmware"], "1.02", "the last values read stay")
        polls = {name: monitors[name]["polls"] for name in ("m1-1", "m1-2")}

        self.fleet.start(1)
        self.kelvaned.wait_until(lambda ms: ms["m2-1"]["reachable"] and ms["m2-2"]["reachable"],
                                 2 * self.interval + self.cycle_s(), "reachable again")
        monitors = self.kelvaned.monitors()
        for name in ("m1-1", "m1-2"):
            self.assertTrue(monitors[name]["reachable"])
            self.assertGreater(monitors[name]["polls"], polls[name])
        self.assertFalse([line for line in self.kelvaned.read_log()
                          if "m1-" in line and "not answering"
                          in line], "the other server's monitors answered throughout")
        self.assertEqual(len(self.fleet.events(0, "CLIENT")), 1, "its line stayed open")


class Reloading(WithFleet):
    # Long enough that a monitor polled within a cycle's time after a reload was polled for it.
    interval = 60

    @classmethod
    def monitors(cls):
        return [m for m in fleet_monitors(cls.fleet) if m[0] != "m1-2"]

    def test_sighup_adds_a_monitor_polled_at_once_keeps_the_lines_open_and_refuses_a_bad_file(self):
        self.kelvaned.polled(self.cycle_s() + 1)
        self.kelvaned.write_config(config_text(fleet_monitors(self.fleet), self.interval))
        self.kelvaned.reload()
        self.kelvaned.wait_for(r"reloaded: 4 monitors on 2 lines")
        monitors = self.kelvaned.wait_until(lambda ms: ms.get("m1-2", {}).get("reachable"),
                                            self.cycle_s() + 1, "the new monitor polled at once")
        self.assertEqual(list(monitors), ["m1-1", "m1-2", "m2-1", "m2-2"])
        self.assertIn("@@2SSG000", self.fleet.frames(0))

        self.kelvaned.write_config("poll_interval_s = 0\n")
        self.kelvaned.reload()
        self.kelvaned.wait_for(r"reload refused, the configuration in force goes on: "
                               r".*kelvaned\.toml:1: poll_interval_s: ")

        renamed = [("m1-two" if m[0] == "m1-2" else m[0],) + m[1:]
                   for m in fleet_monitors(self.fleet)]
        self.kelvaned.write_config(config_text(renamed, self.interval))
        self.kelvaned.reload()
        self.kelvaned.wait_until(lambda ms: ms.get("m1-two", {}).get("reachable"),
                                 self.cycle_s() + 1, "the renamed monitor polled at once")
        for server in (0, 1):
            self.assertEqual([d for _, _, d in self.fleet.events(server, "CLIENT")
                              if d.endswith("connected")].__len__(), 1, "no reopen")

        # The first server's line is let go while m1-1 waits out its switch.
        answer = {}
        switch = threading.Thread(target=lambda: answer.update(switched=self.kelvaned.post(
            "/api/monitors/m1-1/source", {"source": "HDMI2"})))
        switch.start()
        self.fleet.wait_for(0, r"^RX @@1SSSHD2$")
        self.kelvaned.write_config(config_text(renamed[2:], self.interval))
        self.kelvaned.reload()
        switch.join(30)
        self.assertEqual(answer["switched"].status, 503, answer["switched"].body)
        self.assertEqual(answer["switched"].json()["error"], "a reload took the monitor or its "
                         "line away: the operation did not run to its end")
        self.kelvaned.wait_for(r"source HDMI2 on m1-1 \(.*\) for api 127\.0\.0\.1: cut short by a "
                               r"reload in ")


class Stopping(WithFleet):
    servers = 1
    interval = 1
    shared_kelvaned = False

    def setUp(self):
        self.kelvaned = Kelvaned(self.folder.name, config_text(self.monitors(), self.interval) +
                                 '[[group]]\nname = "all"\nmonitors = ["*"]\n')
        self.addCleanup(self.kelvaned.close)

    def assert_released(self):
        self.fleet.wait_for(0, r"^CLIENT .* (closed the connection|lost)")
        self.assertEqual(self.fleet.events(0, "STALE"), [], "no half frame on the line")

    def test_sigterm_during_a_poll_ends_the_exchange_lets_the_line_go_and_exits_0(self):
        self.fleet.wait_for(0, r"^RX @@\dSIG000$")
        status, took = self.kelvaned.stop(signal.SIGTERM)
        self.assertEqual(status, 0, "\n".join(self.kelvaned.log))
        self.assertLess(took, 1.2 + 0.5, "within one exchange's bound")
        self.assert_released()

    def test_an_operation_cut_short_by_sigint_and_one_waiting_for_it_answer_503(self):
        self.kelvaned.polled(self.cycle_s() + 1)
        before = len(self.fleet.frames(0))
        answers = {}

        def switch(name, source):
            answers[name] = self.kelvaned.post("/api/monitors/%s/source" % name,
                                               {"source": source})
        # Both come while unit 1 is polled: they run after its poll, one waiting for the other.
        self.fleet.wait_for(0, r"^RX @@1SIG000$")
        calls = [threading.Thread(target=switch, args=args)
                 for args in (("m1-1", "HDMI3"), ("m1-2", "HDMI1"))]
        for call in calls:
            call.start()
        self.fleet.wait_for(0, r"^RX @@\dSSS")  # one is in its 3000 ms switch wait
        status, took = self.kelvaned.stop(signal.SIGINT)
        for call in calls:
            call.join(30)
        self.assertEqual(status, 0)
        self.assertLess(took, 1.2 + 0.5, "the switch wait is cut short")
        for name in ("m1-1", "m1-2"):
            self.assertEqual(answers[name].status, 503, answers[name].body)
            self.assertIn("stopping", answers[name].json()["error"])
        self.assert_released()
        self.assertEqual(len([f for f in self.fleet.frames(0)[before:] if "SSS" in f]), 1,
                         "the waiting switch never went out")

    def test_a_group_cut_short_by_sigterm_still_tells_what_its_members_came_to(self):
        self.kelvaned.polled(self.cycle_s() + 1)
        answer = {}
        call = threading.Thread(target=lambda: answer.update(group=self.kelvaned.post(
            "/api/groups/all/source", {"source": "HDMI3"})))
        call.start()
        # m1-1 has switched; m1-2 is in its switch wait.
        self.fleet.wait_for(0, r"^RX @@2SSSHD3$")
        self.assertEqual(self.kelvaned.stop(signal.SIGTERM)[0], 0)
        call.join(30)
        self.assertEqual(answer["group"].status, 503, answer["group"].body)
        body = answer["group"].json()
        self.assertEqual(body["error"], "kelvaned is stopping: the group's operation did not run "
                         "to its end")
        self.assertEqual([(r["ok"], r["source"], r["error"], r["message"])
                          for r in body["results"]],
                         [(True, "HDMI3", None, None),
                          # It took the switch; the check of its signal after it was cut.
                          (False, "HDMI3", "interrupted", "kelvaned is stopping")])
        self.assert_released()

if __name__ == "__main__":
    unittest.main()
