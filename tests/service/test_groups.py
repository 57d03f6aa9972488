"""Groups end to end: one request switches every monitor of a group, the lines side by side and
the monitors of a line one at a time; a member that fails fails alone; every operation is in
kelvaned's log and in /api/log with who asked, by address and by the label of a token."""

import os
import re
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from fleet import SimulatedFleet  # noqa: E402
from kelvaned import FleetAndKelvaned, config_text, fleet_monitors  # noqa: E402

LABELLED = "k1-labelled-token"
BARE = "k2-bare-token"
GROUPS = ('[[group]]\nname = "front"\nmonitors = ["m1-*", "m2-?"]\n'
          '[[group]]\nname = "all"\nmonitors = ["m3-1", "*"]\n')


def auth(token):
    return {"Authorization": "Bearer " + token}


def units_between(frames, command):
    """The units of the frames from the first of command to the last of it."""
    marked = [i for i, (_, frame) in enumerate(frames) if frame[3:6] == command]
    return [frame[2] for _, frame in frames[marked[0]:marked[-1] + 1]]


class Groups(FleetAndKelvaned):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        # The third server's monitors take HDMI1 and HDMI2 alone: a switch to HDMI3 is refused.
        cls.fleet = SimulatedFleet(3, 3, server_switches={2: ["--sources", "HD1,HD2"]})
        token_file = os.path.join(cls.folder.name, "tokens")
        with open(token_file, "w") as out:
            out.write("ops-phone %s\n%s\n" % (LABELLED, BARE))
        os.chmod(token_file, 0o600)
        cls.start_kelvaned(config_text(fleet_monitors(cls.fleet), 2, token_file=token_file) +
                           GROUPS, polled_s=30)

    def test_a_group_runs_its_lines_at_once_and_a_lines_monitors_one_after_another(self):
        self.assertEqual(self.kelvaned.get("/api/groups").json(), {"groups": [
            {"name": "front", "monitors": ["m1-1", "m1-2", "m1-3", "m2-1", "m2-2", "m2-3"]},
            {"name": "all", "monitors": ["m3-1", "m1-1", "m1-2", "m1-3", "m2-1", "m2-2", "m2-3",
                                         "m3-2", "m3-3"]}]})
        before = [len(self.fleet.events(i, "RX")) for i in (0, 1)]
        answer = self.kelvaned.post("/api/groups/front/source", {"source": "HDMI2"},
                                    auth(LABELLED))
        self.assertEqual(answer.status, 200, answer.body)
        body = answer.json()
        self.assertEqual(list(body), ["ok", "results"])
        self.assertTrue(body["ok"])
        self.assertEqual([(r["target"], r["unit"], r["ok"], r["source"]) for r in body["results"]],
                         [(self.fleet.targets[s], u, True, "HDMI2") for s in (0, 1)
                          for u in (1, 2, 3)])
        for i in (0, 1):
            # The simulator logged the last switch before it answered; its reader may lag, and a
            # wait for the other server (one process may serve both) may have read it already.
            if "@@3SSSHD2" not in self.fleet.frames(i)[before[i]:]:
                self.fleet.wait_for(i, r"^RX @@3SSSHD2$")
        frames = [[(ms, frame) for ms, _, frame in self.fleet.events(i, "RX")[before[i]:]]
                  for i in (0, 1)]
        single = self.kelvaned.post("/api/monitors/m1-1/source", {"source": "HDMI2"},
                                    auth(LABELLED)).json()
        self.assertEqual(list(body["results"][0]), list(single), "R, as one monitor answers")
        for line in frames:
            # The members of a line in the group's order, each one's frames together.
            self.assertEqual([f[2] for _, f in line if f[3:6] == "SSS"][:3], ["1", "2", "3"])
            self.assertEqual(units_between(line, "SSS"), sorted(units_between(line, "SSS")))
        first = [[ms for ms, f in line if f[3:6] == "SSS"] for line in frames]
        self.assertLess(first[1][0], first[0][2], "the second line began before the first ended")
        self.assertLess(first[0][0], first[1][2], "the first line began before the second ended")

    def test_a_member_that_fails_fails_alone_and_the_rest_still_switch(self):
        answer = self.kelvaned.post("/api/groups/all/source", {"source": "HDMI3"}, auth(BARE))
        self.assertEqual(answer.status, 502, answer.body)
        body = answer.json()
        self.assertFalse(body["ok"])
        self.assertEqual([(r["target"], r["unit"], r["ok"], r["error"]) for r in body["results"]],
                         [(self.fleet.targets[2], 1, False, "refused")] +
                         [(self.fleet.targets[s], u, True, None) for s in (0, 1)
                          for u in (1, 2, 3)] +
                         [(self.fleet.targets[2], u, False, "refused") for u in (2, 3)])
        monitors = self.kelvaned.monitors()
        self.assertEqual({name: m["source"] for name, m in monitors.items() if name[1] != "3"},
                         {"m%d-%d" % (s, u): "HDMI3" for s in (1, 2) for u in (1, 2, 3)})

    def test_a_group_is_checked_as_a_single_operation_is(self):
        for path, headers, body, status in (("/api/groups/nobody/reset", auth(BARE), {}, 404),
                                            ("/api/groups/front/reset", {}, {}, 401),
                                            ("/api/groups/front/reset", auth(BARE), [], 400)):
            self.assertEqual(self.kelvaned.post(path, body, headers).status, status, path)
        for limit in ("0", "1001", "x"):
            self.assertEqual(self.kelvaned.get("/api/log?limit=" + limit).status, 400, limit)
        self.assertEqual(self.kelvaned.get("/api/log?limit=1000").status, 200)

    def test_every_operation_is_logged_with_who_asked_newest_first(self):
        self.assertEqual(self.kelvaned.post("/api/groups/front/diagnostic", {},
                                            auth(LABELLED)).status, 200)
        self.assertEqual(self.kelvaned.post("/api/monitors/m3-2/reset", {}, auth(BARE)).status,
                         200)
        entries = self.kelvaned.get("/api/log?limit=7").json()["operations"]
        self.assertEqual(len(entries), 7)
        self.assertEqual(entries[0] | {"ended": None, "seconds": None}, {
            "ended": None, "monitor": "m3-2", "target": self.fleet.targets[2],
            "operation": "reset", "face": "api", "address": "127.0.0.1", "label": None,
            "ok": True, "error": None, "seconds": None})
        self.assertEqual(sorted((e["monitor"], e["operation"], e["label"]) for e in entries[1:]),
                         [("m%d-%d" % (s, u), "diagnostic", "ops-phone") for s in (1, 2)
                          for u in (1, 2, 3)])
        ended = [e["ended"] for e in entries]
        self.assertEqual(ended, sorted(ended, reverse=True))
        self.assertGreater(entries[0]["seconds"], 0)
        line = (r"^kelvaned: diagnostic on m2-3 \(%s\) for api 127\.0\.0\.1 \(ops-phone\): "
                r"done in \d+\.\d s$" % re.escape(self.fleet.targets[1]))
        # Logged before the answer went; the log's reader may not have read it yet.
        if not any(re.search(line, logged) for logged in self.kelvaned.read_log()):
            self.kelvaned.wait_for(line)
        self.assertTrue(self.kelvaned.stamps, "off the journal, each line begins with its time")


if __name__ == "__main__":
    unittest.main()
