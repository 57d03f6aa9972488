"""kelvanectl --server: the commands through the real kelvaned, which holds the lines of a
simulated fleet (device servers on 127.0.0.1, a daisy chain of four on each). One kelvaned and
one fleet for the whole class. Run by ctest through scripts/test.sh, which builds kelvanectl
(kelvanectl.exe too), kelvaned and monitor-sim and sets the Wine environment."""

import concurrent.futures
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from fleet import SimulatedFleet  # noqa: E402
from kelvaned import NATIVE_BIN, FleetAndKelvaned, config_text  # noqa: E402
from simulator import BUILD  # noqa: E402

NATIVE = os.path.join(NATIVE_BIN, "kelvanectl")
WINDOWS = os.path.join(BUILD, "bin", "kelvanectl.exe")
COMMAND_LIMIT_S = 60
TOKEN = "s3cret-token"
# The keys of each command's object, in their order: the same as on a line.
KEYS = {
    "status": ["target", "command", "ok", "error", "message", "unit", "source", "signal",
               "firmware"],
    "source": ["target", "command", "ok", "error", "message", "unit", "source", "signal"],
    "diagnostic": ["target", "command", "ok", "error", "message", "unit", "step"],
}
KEYS["reset"] = KEYS["status"]


class Run:
    def __init__(self, args, env=None, program=NATIVE):
        done = subprocess.run(([] if program == NATIVE else ["wine"]) + [program, *args],
                              capture_output=True, text=True, timeout=COMMAND_LIMIT_S,
                              env={**os.environ, **(env or {})})
        self.status = done.returncode
        self.lines = done.stdout.splitlines()
        self.stderr = done.stderr

    def json(self):
        return [json.loads(line) for line in self.lines]


def write_token(path, text, mode=0o600):
    with open(path, "w") as out:
        out.write(text)
    os.chmod(path, mode)
    return path


class ThroughKelvaned(FleetAndKelvaned):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.fleet = SimulatedFleet(3, 4)
        targets = cls.fleet.targets
        # The second server's chain is one monitor to kelvaned, asked at address 0.
        cls.monitors = ([("m1-%d" % u, targets[0], u) for u in (1, 2, 3, 4)] +
                        [("chain", targets[1], None)] +
                        [("m3-%d" % u, targets[2], u) for u in (1, 2)])
        cls.token_file = write_token(os.path.join(cls.folder.name, "token"), TOKEN + "\n")
        cls.start_kelvaned(config_text(cls.monitors, 1, token_file=cls.token_file), polled_s=30)
        cls.url = "http://127.0.0.1:%d" % cls.kelvaned.port

    def call(self, *args, token=True, env=None):
        return Run(["--server", self.url, *args, *(["--token-file", self.token_file] if token
                                                  else [])], env)

    def test_status_shows_kelvaneds_state_as_a_line_shows_the_monitor(self):
        run = self.call("status", "m1-2", "m3-2", "--json")
        self.assertEqual(run.status, 0, run.stderr)
        for report in run.json():
            self.assertEqual(list(report), KEYS["status"])
        self.assertEqual([(r["target"], r["ok"], r["unit"], r["source"], r["signal"],
                           r["firmware"]) for r in run.json()],
                         [("m1-2", True, 2, "HDMI1", "ok", "1.02"),
                          ("m3-2", True, 2, "HDMI1", "ok", "1.02")])
        self.assertEqual(self.call("status", "m1-2", token=False).lines,
                         ["m1-2: unit 2, source HDMI1, signal ok, firmware 1.02"])

    def test_the_operations_run_on_kelvaneds_lines_and_answer_as_on_a_line(self):
        asked = {"source": ["source", "hdmi2", "m1-3"], "reset": ["reset", "m3-2"],
                 "diagnostic": ["diagnostic", "m1-4"]}
        with concurrent.futures.ThreadPoolExecutor(len(asked)) as pool:
            runs = dict(zip(asked, pool.map(lambda args: self.call(*args, "--json"),
                                            asked.values())))
        for command, run in runs.items():
            self.assertEqual(run.status, 0, (command, run.lines, run.stderr))
            [report] = run.json()
            self.assertEqual(list(report), KEYS[command])
            self.assertEqual((report["command"], report["ok"], report["error"]),
                             (command, True, None))
        self.assertEqual((runs["source"].json()[0]["source"], runs["source"].json()[0]["unit"]),
                         ("HDMI2", 3))
        self.assertIn("@@3SSSHD2", self.fleet.frames(0))
        self.assertIn("@@2DSSEXE", self.fleet.frames(2))
        self.assertIn("@@4DCSPON", self.fleet.frames(0))

    def test_a_chain_without_a_unit_is_several_answers_and_nothing_switches_there(self):
        self.kelvaned.wait_until(lambda ms: ms["chain"]["error"] == "several-answers", 10,
                                 "kelvaned's poll of the chain at address 0")
        status = self.call("status", "chain", "--json")
        self.assertEqual((status.status, status.json()[0]["error"]), (1, "several-answers"))
        switch = self.call("source", "vga", "chain")
        self.assertEqual(switch.status, 1)
        self.assertEqual(switch.lines, ["chain: error: more than one monitor answered at "
                                        "address 0: give --unit"])
        self.assertEqual([f for f in self.fleet.frames(1) if f[3:6] != "UIG"], [],
                         "only the unit-ID query went to the chain")

    def test_a_token_that_is_wrong_missing_or_badly_kept_is_exit_3_and_nothing_runs(self):
        wrong = write_token(os.path.join(self.folder.name, "wrong"), "not-it\n")
        loose = write_token(os.path.join(self.folder.name, "loose"), TOKEN + "\n", 0o644)
        before = len(self.fleet.frames(0))
        for args, words in ((["--token-file", wrong], "refused the operation"),
                            ([], "give its token with --token-file"),
                            (["--token-file", loose], "readable or writable by others")):
            run = Run(["--server", self.url, "reset", "m1-1", "--json", *args])
            self.assertEqual((run.status, run.json()[0]["error"]), (3, "open"), run.lines)
            self.assertIn(words, run.json()[0]["message"])
        self.assertNotIn("@@1DSSEXE", self.fleet.frames(0)[before:])
        via_env = Run(["source", "hdmi1", "m1-1"],
                      env={"KELVANE_SERVER": self.url, "KELVANE_TOKEN_FILE": self.token_file})
        self.assertEqual(via_env.status, 0, via_env.lines)

    def test_an_unknown_monitor_or_group_a_kelvaned_down_and_scan_are_refused(self):
        unknown = self.call("status", "nowhere")
        self.assertEqual((unknown.status, unknown.lines),
                         (3, ["nowhere: error: kelvaned at %s knows no monitor named nowhere"
                              % self.url]))
        group = self.call("reset", "@nothing", "--json")
        self.assertEqual((group.status, group.json()[0]["target"]), (3, "@nothing"))
        closed = socket.socket()
        closed.bind(("127.0.0.1", 0))
        down = "http://127.0.0.1:%d" % closed.getsockname()[1]
        closed.close()
        run = Run(["--server", down, "status", "m1-1", "--json"])
        self.assertEqual((run.status, run.json()[0]["error"]), (3, "open"))
        self.assertIn("cannot reach kelvaned at " + down, run.json()[0]["message"])
        tls = Run(["--server", self.url.replace("http:", "https:"), "status", "m1-1"])
        self.assertEqual(tls.status, 3)
        self.assertIn("a kelvaned without TLS takes http:// URLs alone", tls.lines[0])
        scan = self.call("scan", "m1-1")
        self.assertEqual(scan.status, 2)
        self.assertIn("scan needs the line itself", scan.stderr)

    def test_a_device_server_kelvaned_holds_says_so_on_the_line(self):
        # kelvaned's configuration as a package would have it, at the port it listens on.
        config = os.path.join(self.folder.name, "installed.toml")
        with open(self.kelvaned.config) as text, open(config, "w") as out:
            out.write(text.read().replace('listen = "127.0.0.1:0"',
                                          'listen = "127.0.0.1:%d"' % self.kelvaned.port))
        run = Run(["status", "--unit", "1", "--fast", self.fleet.targets[2], "--json"],
                  env={"KELVANED_CONFIG": config})
        self.assertEqual((run.status, run.json()[0]["error"]), (1, "no-answer"))
        self.assertIn("kelvaned holds this line for its monitor m3-1: send the command through "
                      "it, --server " + self.url, run.json()[0]["message"])

    def test_kelvanectl_exe_goes_through_kelvaned_with_winhttp(self):
        run = Run(["--server", self.url, "status", "m1-2"], program=WINDOWS)
        self.assertEqual((run.status, run.lines),
                         (0, ["m1-2: unit 2, source HDMI1, signal ok, firmware 1.02"]), run.stderr)

    def test_a_group_taken_at_a_reload_goes_monitor_by_monitor(self):
        with open(self.kelvaned.config, "a") as config:
            config.write('\n[[group]]\nname = "lobby"\nmonitors = ["m1-1", "m3-1"]\n')
        self.kelvaned.reload()
        deadline = time.monotonic() + 10
        while "lobby" not in [g["name"] for g in self.kelvaned.get("/api/groups").json()["groups"]]:
            self.assertLess(time.monotonic(), deadline, "the group after a reload")
            time.sleep(0.05)
        status = self.call("status", "@lobby", "--json")
        self.assertEqual((status.status, [r["target"] for r in status.json()]),
                         (0, ["m1-1", "m3-1"]), status.lines)
        switch = self.call("source", "hdmi3", "@lobby", "--json")
        self.assertEqual(switch.status, 0, switch.lines)
        self.assertEqual([(r["target"], r["source"]) for r in switch.json()],
                         [("m1-1", "HDMI3"), ("m3-1", "HDMI3")])
        for report in switch.json():
            self.assertEqual(list(report), KEYS["source"])


if __name__ == "__main__":
    unittest.main()
