"""kelvaned as the tests and the benchmark run it: the native program with a configuration file
written for the test, listening on a free port of 127.0.0.1, its log read as it is written, and
its HTTP API at hand."""

import http.client
import json
import os
import queue
import re
import signal
import subprocess
import threading
import time
import unittest

from simulator import BUILD

NATIVE_BIN = os.path.join(os.environ.get("KELVANE_NATIVE", os.path.join(BUILD, "native")), "bin")
PROGRAM = os.path.join(NATIVE_BIN, "kelvaned")
# kelvaned is ready within a fraction of a second; a loaded machine may take longer.
START_S = 30
HTTP_S = 30
# The time at the start of a log line that does not go to the journal.
STAMP = re.compile(r"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z) ")


def config_text(monitors, interval=1, timing=None, token_file=None, listen="127.0.0.1:0"):
    """A configuration file: monitors is a list of (name, target, unit or None)."""
    lines = ['listen = "%s"' % listen, "poll_interval_s = %d" % interval]
    if timing:
        lines.append('timing = "%s"' % timing)
    if token_file:
        lines.append('token_file = "%s"' % token_file)
    for name, target, unit in monitors:
        lines += ["", "[[monitor]]", 'name = "%s"' % name, 'target = "%s"' % target]
        if unit is not None:
            lines.append("unit = %d" % unit)
    return "\n".join(lines) + "\n"


def fleet_monitors(fleet, prefix="m"):
    """One monitor per unit of the simulated fleet: m1-2 is unit 2 on the first server."""
    return [("%s%d-%d" % (prefix, s + 1, unit), target, unit)
            for s, target in enumerate(fleet.targets) for unit in range(1, fleet.units + 1)]


class FleetAndKelvaned(unittest.TestCase):
    """A simulated fleet (cls.fleet) and a kelvaned (cls.kelvaned) for the whole class, in the
    folder cls.folder: setUpClass makes both of those, then calls start_kelvaned."""

    @classmethod
    def start_kelvaned(cls, text, polled_s=None):
        """kelvaned on this configuration text, polled for polled_s when given; the fleet and
        the folder go when it does not start."""
        try:
            cls.kelvaned = Kelvaned(cls.folder.name, text)
            if polled_s:
                cls.kelvaned.polled(polled_s)
        except Exception:
            cls.fleet.close()
            cls.folder.cleanup()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.kelvaned.close()
        cls.fleet.close()
        cls.folder.cleanup()


class Answer:
    def __init__(self, status, headers, body):
        self.status = status
        self.headers = headers
        self.body = body

    def json(self):
        return json.loads(self.body)


class Kelvaned:
    """kelvaned --config FOLDER/kelvaned.toml, started and ready (its "listening on" line read),
    reached on 127.0.0.1; preexec run in its process before it starts. self.log holds its log
    lines so far."""

    def __init__(self, folder, text, *args, preexec=None):
        self.config = os.path.join(folder, "kelvaned.toml")
        self.write_config(text)
        self.process = subprocess.Popen([PROGRAM, "--config", self.config, *args],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        text=True, errors="replace", preexec_fn=preexec)
        self.log = []
        # (time.monotonic() when it was read, the line) for every line: the benchmark's clock.
        self.stamped = []
        # The time stamp each line began with, when stderr is not the journal.
        self.stamps = []
        self._lines = queue.Queue()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        # On 127.0.0.1, or on an address of every interface (0.0.0.0), loopback among them; over
        # HTTP or HTTPS.
        self.port = int(self.wait_for(
            r"listening on (?:https://)?(?:127\.0\.0\.1|0\.0\.0\.0):(\d+)$", START_S).group(1))

    def write_config(self, text):
        with open(self.config, "w") as out:
            out.write(text)

    def _read(self):
        # Off the journal each line begins with its time; the tests read what follows it.
        for line in self.process.stderr:
            stamped = STAMP.match(line)
            if stamped:
                self.stamps.append(stamped.group(1))
            line = line[stamped.end() if stamped else 0:].rstrip("\n")
            self.stamped.append((time.monotonic(), line))
            self._lines.put(line)
        self._lines.put(None)

    def wait_for(self, pattern, seconds=HTTP_S):
        """The match of the first log line, from here on, that matches the pattern."""
        deadline = time.monotonic() + seconds
        while True:
            try:
                line = self._lines.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError("no log line like %r within %d s:\n%s"
                                     % (pattern, seconds, "\n".join(self.log)))
            if line is None:
                raise AssertionError("kelvaned ended:\n%s" % "\n".join(self.log))
            self.log.append(line)
            match = re.search(pattern, line)
            if match:
                return match

    def read_log(self):
        """Takes in the log lines that have come so far, and returns the whole log."""
        while True:
            try:
                line = self._lines.get_nowait()
            except queue.Empty:
                return self.log
            if line is None:
                self._lines.put(None)
                return self.log
            self.log.append(line)

    def request(self, method, path, body=None, headers=None, timeout=HTTP_S):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            connection.request(method, path, body=body, headers=headers or {})
            answer = connection.getresponse()
            return Answer(answer.status, dict(answer.getheaders()),
                          answer.read().decode("utf-8"))
        finally:
            connection.close()

    def get(self, path):
        return self.request("GET", path)

    def post(self, path, body=None, headers=None):
        headers = {"Content-Type": "application/json", **(headers or {})}
        return self.request("POST", path, json.dumps(body) if body is not None else "", headers)

    def monitors(self):
        return {m["name"]: m for m in self.get("/api/monitors").json()["monitors"]}

    def wait_until(self, condition, seconds, what):
        """The monitors (by name) once condition(monitors) holds; the API is asked every 50 ms,
        which costs kelvaned nothing: it answers from memory."""
        deadline = time.monotonic() + seconds
        while True:
            monitors = self.monitors()
            if condition(monitors):
                return monitors
            if time.monotonic() > deadline:
                raise AssertionError("not within %.1f s: %s\n%s" % (seconds, what,
                                                                    json.dumps(monitors, indent=1)))
            time.sleep(0.05)

    def polled(self, seconds, times=1):
        """Waits until every monitor has been polled this many times."""
        return self.wait_until(lambda ms: all(m["polls"] >= times for m in ms.values()), seconds,
                               "every monitor polled %d times" % times)

    def reload(self):
        self.process.send_signal(signal.SIGHUP)

    def stop(self, how=signal.SIGTERM, seconds=30):
        """Sends the signal; the exit status and the seconds it took to end."""
        began = time.monotonic()
        self.process.send_signal(how)
        status = self.process.wait(seconds)
        took = time.monotonic() - began
        self._reader.join(seconds)
        while True:
            line = self._lines.get()
            if line is None:
                break
            self.log.append(line)
        return status, took

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(30)
        self.process.stderr.close()
