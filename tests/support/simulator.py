"""The simulated monitor as the Python tests start it: monitor-sim.exe under Wine on the
monitor's end of the test cable (COM16); as a device server on a free TCP port, or as a fleet of
device servers on free ports, the Linux build's monitor-sim (monitor-sim.exe when asked). Its log
is read as it is written. Run under scripts/test.sh, which sets the Wine environment and lays the
cable."""

import os
import queue
import re
import subprocess
import threading

ROOT = os.environ.get("KELVANE_ROOT",
                      os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BUILD = os.environ.get("KELVANE_BUILD", os.path.join(ROOT, "build"))
NATIVE_BIN = os.path.join(os.environ.get("KELVANE_NATIVE", os.path.join(BUILD, "native")), "bin")
# The panel's end of the test cable, as a Linux program opens it.
CABLE_PANEL_END = os.path.join(BUILD, "null-modem", "panel")
# Wine may take long to start while other work loads the machine; answers come within
# milliseconds once it runs.
START_S = 90
ANSWER_S = 10


class MonitorSim:
    """monitor-sim with the switches: on COM16 when tcp is false, else listening on a free
    port of 127.0.0.1 (self.port), or on the port given (a device server started again), or with
    fleet=N on N free ports (self.ports, in order, each a device server with the chain of
    --unit-id). Device servers are the Linux build's unless windows is true (by default when
    KELVANE_SIM is "windows"). self.log holds the
    log lines read so far, "<ms> KIND details"; in a fleet's, the details of a line about one port
    start with "[PORT] " (events and frames take a port to read only its lines)."""

    def __init__(self, *switches, tcp=False, port=0, fleet=1,
                 windows=os.environ.get("KELVANE_SIM") == "windows"):
        if fleet > 1:
            where = ["--listen", "127.0.0.1:0x%d" % fleet]
        else:
            where = ["--listen", "127.0.0.1:%d" % port] if tcp else ["--port", "COM16"]
        tcp = tcp or fleet > 1
        if tcp and not windows:
            # Its errors come into the log, to be shown when it ends early.
            command, errors = [os.path.join(NATIVE_BIN, "monitor-sim")], subprocess.STDOUT
        else:
            command = ["wine", os.path.join(BUILD, "bin", "monitor-sim.exe")]
            errors = subprocess.DEVNULL
        self.process = subprocess.Popen(
            [*command, *where, *switches],
            stdout=subprocess.PIPE, stderr=errors, text=True, errors="replace")
        self.log = []
        self._lines = queue.Queue()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        self.ports = []
        for _ in range(fleet):
            listening = self.wait_for(r"listening on (?:tcp:127\.0\.0\.1:(\d+)|COM16)$",
                                      START_S)
            if tcp:
                self.ports.append(int(listening.group(1)))
        self.port = self.ports[0] if tcp else None
        self.targets = ["tcp:127.0.0.1:%d" % port for port in self.ports]
        self.target = self.targets[0] if tcp else CABLE_PANEL_END

    def _read(self):
        for line in self.process.stdout:
            self._lines.put(line.rstrip("\n"))
        self._lines.put(None)

    def wait_for(self, pattern, seconds=ANSWER_S):
        """The match of the first log line, from here on, whose details match the pattern."""
        while True:
            line = self._lines.get(timeout=seconds)
            if line is None:
                raise AssertionError("monitor-sim ended: %s" % "\n".join(self.log))
            self.log.append(line)
            match = re.search(pattern, line.split(" ", 1)[1])
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
                return self.log
            self.log.append(line)

    def events(self, *kinds, port=None):
        """(ms, kind, details) of the log lines so far of those kinds; with a port, of those
        about that port of a fleet alone, without the "[PORT] " before their details."""
        found = []
        tag = "[%d] " % port if port is not None else ""
        for line in self.read_log():
            parts = line.split(" ", 2)
            if len(parts) < 2 or parts[1] not in kinds:
                continue
            details = parts[2] if len(parts) > 2 else ""
            if details.startswith(tag):
                found.append((int(parts[0]), parts[1], details[len(tag):]))
        return found

    def frames(self, port=None):
        return [details for _, _, details in self.events("RX", port=port)]

    def close(self):
        self.process.terminate()
        self.process.wait(30)
        self._reader.join(30)
        self.process.stdout.close()
