"""A simulated fleet for kelvaned's tests and benchmark: device servers on free ports of
127.0.0.1, a daisy chain of monitors on each. Today every server is a monitor-sim of its own
(MonitorSim, --listen); monitor-sim's fleet mode (--listen A-B --unit-id 1-N, many servers from
one process) takes their place here, and nowhere else."""

import concurrent.futures
import queue
import re
import time

from simulator import MonitorSim


class SimulatedFleet:
    """servers device servers with the units 1..units on each; the switches go to every server,
    or server_switches[i] to server i as well. self.servers[i] is its MonitorSim (its log, its
    port), self.targets[i] the target kelvaned reaches it at."""

    def __init__(self, servers, units, *switches, server_switches=None):
        self.units = units
        self.switches = list(switches)
        self.server_switches = server_switches or {}
        self.servers = [None] * servers
        # Wine takes a while to start each one; side by side they start in the time of one.
        with concurrent.futures.ThreadPoolExecutor(servers) as pool:
            for i, sim in enumerate(pool.map(self._start, range(servers))):
                self.servers[i] = sim
        self.targets = [sim.target for sim in self.servers]

    def _start(self, i, port=0):
        unit_ids = ",".join(str(unit) for unit in range(1, self.units + 1))
        return MonitorSim("--unit-id", unit_ids, *self.switches,
                          *self.server_switches.get(i, []), tcp=True, port=port)

    def events(self, i, *kinds):
        """(ms, kind, details) of server i's log lines so far of those kinds."""
        return self.servers[i].events(*kinds)

    def frames(self, i):
        """The frames server i's monitors received so far."""
        return self.servers[i].frames()

    def wait_for(self, i, pattern, seconds=10):
        """The match of server i's first log line, from here on, whose details match the pattern,
        within seconds in all (a busy log does not stretch the wait)."""
        sim = self.servers[i]
        deadline = time.monotonic() + seconds
        while True:
            try:
                line = sim._lines.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError("server %d logged nothing like %r within %d s"
                                     % (i, pattern, seconds))
            if line is None:
                raise AssertionError("server %d ended" % i)
            sim.log.append(line)
            match = re.search(pattern, line.split(" ", 1)[1])
            if match:
                return match

    def stop(self, i):
        """Stops server i: its connection drops and its port refuses connections."""
        self.servers[i].close()

    def start(self, i):
        """Starts server i again on the port it had."""
        self.servers[i] = self._start(i, self.servers[i].port)

    def close(self):
        for sim in self.servers:
            if sim.process.poll() is None:
                sim.close()
