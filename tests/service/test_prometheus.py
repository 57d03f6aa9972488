"""kelvaned and Prometheus: a real Prometheus (Debian's) scrapes kelvaned on loopback and answers a
query over its HTTP API for every monitor; promtool finds nothing to say about the metrics; and
the README's prometheus.yml and alert rules pass promtool and load into Prometheus."""

import json
import os
import re
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
from kelvaned import NATIVE_BIN, Kelvaned, config_text, fleet_monitors  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
# Prometheus's storage for the test, in the build tree.
STORAGE = os.path.join(os.path.dirname(NATIVE_BIN), "prometheus-test")
READY_S = 60


def readme_file(name):
    """The README's code block that begins with the comment "# NAME"."""
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as readme:
        text = readme.read()
    match = re.search(r"```yaml\n(# %s\n.*?)```" % re.escape(name), text, re.DOTALL)
    if not match:
        raise AssertionError("README.md shows no %s" % name)
    return match.group(1)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def promtool(*args, stdin=None):
    return subprocess.run(["promtool", *args], input=stdin, capture_output=True, text=True,
                          timeout=60)


class Prometheus:
    """prometheus on a free port of 127.0.0.1, scraping the targets every second, with the rule
    files given; ready once /-/ready answers."""

    def __init__(self, folder, targets, rule_files=()):
        config = os.path.join(folder, "prometheus.yml")
        with open(config, "w") as out:
            out.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n")
            if rule_files:
                out.write("rule_files:\n" + "".join("  - %s\n" % f for f in rule_files))
            out.write("scrape_configs:\n  - job_name: kelvaned\n    static_configs:\n"
                      "      - targets: [%s]\n" % ", ".join("'%s'" % t for t in targets))
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


class ScrapedByPrometheus(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.fleet = SimulatedFleet(2, 2)
        try:
            cls.monitors = fleet_monitors(cls.fleet) + [("nowhere", "tcp:127.0.0.1:9", 5)]
            cls.kelvaned = Kelvaned(cls.folder.name, config_text(cls.monitors, interval=1))
        except Exception:
            cls.fleet.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.kelvaned.close()
        cls.fleet.close()
        cls.folder.cleanup()

    def test_a_query_returns_kelvane_monitor_up_for_every_monitor(self):
        self.kelvaned.wait_until(lambda ms: sum(m["reachable"] for m in ms.values()) == 4, 30,
                                 "the simulated monitors reachable")
        for name in ("prometheus.yml", "kelvaned-alerts.yml"):
            with open(os.path.join(self.folder.name, name), "w") as out:
                out.write(readme_file(name))
        prometheus = Prometheus(self.folder.name, ["127.0.0.1:%d" % self.kelvaned.port],
                                [os.path.join(self.folder.name, "kelvaned-alerts.yml")])
        self.addCleanup(prometheus.close)
        deadline = time.monotonic() + 30
        while True:
            result = prometheus.api("query", query="kelvane_monitor_up")["result"]
            if len(result) == len(self.monitors) or time.monotonic() > deadline:
                break
            time.sleep(0.2)
        up = {r["metric"]["monitor"]: r["value"][1] for r in result}
        self.assertEqual(up, {name: ("0" if name == "nowhere" else "1")
                              for name, _, _ in self.monitors})
        self.assertEqual({r["metric"]["unit"] for r in result}, {"1", "2", "5"})
        rules = [rule["name"] for group in prometheus.api("rules")["groups"]
                 for rule in group["rules"]]
        self.assertEqual(sorted(rules), ["MonitorUnreachable", "MonitorWithoutSignal"])

    def test_promtool_finds_nothing_to_say_about_the_metrics(self):
        self.kelvaned.polled(30)
        answer = self.kelvaned.get("/metrics")
        self.assertEqual(answer.headers["Content-Type"], "text/plain; version=0.0.4; charset=utf-8")
        checked = promtool("check", "metrics", stdin=answer.body)
        self.assertEqual((checked.returncode, checked.stdout + checked.stderr), (0, ""))

    def test_the_readmes_configuration_and_alert_rules_pass_promtool(self):
        for name in ("prometheus.yml", "kelvaned-alerts.yml"):
            with open(os.path.join(self.folder.name, name), "w") as out:
                out.write(readme_file(name))
        rules = promtool("check", "rules", os.path.join(self.folder.name, "kelvaned-alerts.yml"))
        self.assertEqual(rules.returncode, 0, rules.stdout + rules.stderr)
        self.assertIn("SUCCESS: 2 rules found", rules.stdout)
        config = promtool("check", "config", os.path.join(self.folder.name, "prometheus.yml"))
        self.assertEqual(config.returncode, 0, config.stdout + config.stderr)
        self.assertEqual(readme_file("prometheus.yml").count("9420"), 3, "three kelvaned")


if __name__ == "__main__":
    unittest.main()
