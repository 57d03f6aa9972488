"""kelvaned and Prometheus: a real Prometheus (Debian's) with the shipped configuration and alert
rules (examples/) scrapes kelvaned on loopback, answers a query over its HTTP API for every
monitor and raises one alert per fault; promtool finds nothing to say about the metrics, and the
shipped files pass its checks and the rules' unit tests (kelvane.rules.test.yml)."""

import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from fleet import SimulatedFleet  # noqa: E402
from kelvaned import NATIVE_BIN, FleetAndKelvaned, config_text, fleet_monitors  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "..", "examples")
# Prometheus's storage for the test, in the build tree.
STORAGE = os.path.join(os.path.dirname(NATIVE_BIN), "prometheus-test")
READY_S = 60


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def promtool(*args, stdin=None):
    return subprocess.run(["promtool", *args], input=stdin, capture_output=True, text=True,
                          timeout=60)


def shipped_config(targets):
    """The shipped prometheus.yml with its rules, scraping the targets, every second instead of
    every 15 s so that the test does not wait."""
    with open(os.path.join(EXAMPLES, "prometheus.yml")) as shipped:
        text = shipped.read()
    for old, new in (("scrape_interval: 15s", "scrape_interval: 1s"),
                     ("evaluation_interval: 15s", "evaluation_interval: 1s"),
                     ("- kelvane.rules.yml", "- " + os.path.join(EXAMPLES, "kelvane.rules.yml")),
                     ("- 127.0.0.1:9420", "- " + "\n          - ".join(targets))):
        if text.count(old) != 1:
            raise AssertionError("the shipped prometheus.yml no longer has " + old)
        text = text.replace(old, new)
    return text


class Prometheus:
    """prometheus on a free port of 127.0.0.1 with the shipped configuration, scraping the
    targets, or with the configuration text given; ready once /-/ready answers."""

    def __init__(self, folder, targets, text=None):
        config = os.path.join(folder, "prometheus.yml")
        with open(config, "w") as out:
            out.write(text or shipped_config(targets))
        shutil.rmtree(STORAGE, ignore_errors=True)
        self.port = free_port()
        self.log = open(os.path.join(folder, "prometheus.log"), "w")
        self.process = subprocess.Popen(
            ["prometheus", "--config.file=" + config, "--storage.tsdb.path=" + STORAGE,
             "--web.listen-address=127.0.0.1:%d" % self.port],
            stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + READY_S
        while not self._ready():
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise AssertionError("Prometheus did not get ready")
            time.sleep(0.2)

    def _ready(self):
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d/-/ready" % self.port, timeout=5) as r:
                return r.status == 200
        except OSError:
            return False

    def api(self, path, **query):
        url = "http://127.0.0.1:%d/api/v1/%s?%s" % (self.port, path, urllib.parse.urlencode(query))
        with urllib.request.urlopen(url, timeout=10) as answer:
            return json.load(answer)["data"]

    def close(self):
        self.process.terminate()
        self.process.wait(30)
        self.log.close()
        shutil.rmtree(STORAGE, ignore_errors=True)


class ScrapedByPrometheus(FleetAndKelvaned):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.fleet = SimulatedFleet(2, 2)
        cls.monitors = fleet_monitors(cls.fleet) + [("nowhere", "tcp:127.0.0.1:9", 5)]
        cls.start_kelvaned(config_text(cls.monitors, interval=1))

    def test_a_query_returns_every_monitor_and_each_fault_raises_one_alert(self):
        self.kelvaned.wait_until(lambda ms: sum(m["reachable"] for m in ms.values()) == 4, 30,
                                 "the simulated monitors reachable")
        # A second kelvaned that is not there: KelvanedDown.
        gone = "127.0.0.1:%d" % free_port()
        prometheus = Prometheus(self.folder.name, ["127.0.0.1:%d" % self.kelvaned.port, gone])
        self.addCleanup(prometheus.close)
        deadline = time.monotonic() + 30
        while True:
            result = prometheus.api("query", query="kelvane_monitor_up")["result"]
            alerts = prometheus.api("alerts")["alerts"]
            if (len(result) == len(self.monitors) and len(alerts) == 2 or
                    time.monotonic() > deadline):
                break
            time.sleep(0.2)
        up = {r["metric"]["monitor"]: r["value"][1] for r in result}
        self.assertEqual(up, {name: ("0" if name == "nowhere" else "1")
                              for name, _, _ in self.monitors})
        self.assertEqual({r["metric"]["unit"] for r in result}, {"1", "2", "5"})
        rules = {rule["name"]: rule["health"] for group in prometheus.api("rules")["groups"]
                 for rule in group["rules"]}
        self.assertEqual(rules, {"KelvanedDown": "ok", "KelvaneLineDown": "ok",
                                 "KelvaneMonitorUnreachable": "ok", "KelvaneMonitorNoSignal": "ok"})
        # One alert per fault, pending for the minute of its `for:`. The dead target is alone on
        # its line: its line's alert when kelvaned tells of its lines, else its monitor's.
        lines = prometheus.api("query", query="kelvane_line_up")["result"]
        line_alert = "KelvaneLineDown" if lines else "KelvaneMonitorUnreachable"
        raised = sorted((a["labels"]["alertname"],
                         a["labels"].get("target", a["labels"]["instance"]), a["state"])
                        for a in alerts)
        self.assertEqual(raised, [(line_alert, "tcp:127.0.0.1:9", "pending"),
                                  ("KelvanedDown", gone, "pending")])

    def test_promtool_finds_nothing_to_say_about_the_metrics(self):
        self.kelvaned.polled(30)
        answer = self.kelvaned.get("/metrics")
        self.assertEqual(answer.headers["Content-Type"], "text/plain; version=0.0.4; charset=utf-8")
        checked = promtool("check", "metrics", stdin=answer.body)
        self.assertEqual((checked.returncode, checked.stdout + checked.stderr), (0, ""))


class TheShippedRules(unittest.TestCase):
    def test_pass_promtools_checks_and_their_unit_tests(self):
        for command in (("check", "config", os.path.join(EXAMPLES, "prometheus.yml")),
                        ("check", "rules", os.path.join(EXAMPLES, "kelvane.rules.yml")),
                        ("test", "rules", os.path.join(HERE, "kelvane.rules.test.yml"))):
            done = promtool(*command)
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
            self.assertIn("SUCCESS", done.stdout)


if __name__ == "__main__":
    unittest.main()
