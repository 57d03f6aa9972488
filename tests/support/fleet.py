"""A simulated fleet for kelvaned's tests and benchmark: device servers on free ports of
127.0.0.1, a daisy chain of monitors on each, served by monitor-sim's fleet mode (--listen
127.0.0.1:0xN, up to 64 servers a process). A server with switches of its own, or one a test stops
and starts again, runs in a monitor-sim of its own."""

import concurrent.futures
import queue
import re
import time

from simulator import MonitorSim

# The most ports one monitor-sim serves.
PORTS_PER_SIM = 64


class _Server:
    """One device server of the fleet: its port, and its lines of the log it shares (or has)."""

    def __init__(self, sim, port, tagged):
        self.sim = sim
        self.port = port
        self.target = "tcp:127.0.0.1:%d" % port
        self.tag = "[%d] " % port if tagged else ""

    def events(self, *kinds):
        return self.sim.events(*kinds, port=self.port if self.tag else None)

    def details(self, line):
        """The details of a log line about this server, without its tag; None for another's."""
        details = line.split(" ", 1)[1]
        kind, _, rest = details.partition(" ")
        if not rest.startswith(self.tag):
            return None
        return kind + " " + rest[len(self.tag):]


class SimulatedFleet:
    """servers device servers with the units 1..units on each; the switches go to every server,
    or server_switches[i] to server i as well. apart names the servers a test stops and starts.
    self.targets[i] is the target kelvaned reaches server i at."""

    def __init__(self, servers, units, *switches, server_switches=None, apart=()):
        self.units = units
        self.switches = list(switches)
        self.server_switches = server_switches or {}
        own = sorted(set(self.server_switches) | set(apart))
        shared = [i for i in range(servers) if i not in own]
        if len(shared) == 1:
            own, shared = sorted(own + shared), []
        self.servers = [None] * servers
        groups = [shared[at:at + PORTS_PER_SIM] for at in range(0, len(shared), PORTS_PER_SIM)]
        self._shared = []
        # Side by side, the processes start in the time of one.
        with concurrent.futures.ThreadPoolExecutor(len(own) + len(groups) + 1) as pool:
            fleets = [pool.submit(MonitorSim, "--unit-id", "1-%d" % units, *switches,
                                  tcp=True, fleet=len(group)) for group in groups]
            for i, sim in zip(own, pool.map(self._start, own)):
                self.servers[i] = _Server(sim, sim.port, tagged=False)
            for group, fleet in zip(groups, fleets):
                self._shared.append(fleet.result())
                for i, port in zip(group, self._shared[-1].ports):
                    self.servers[i] = _Server(self._shared[-1], port, tagged=len(group) > 1)
        self.targets = [server.target for server in self.servers]

    def _start(self, i, port=0):
        return MonitorSim("--unit-id", "1-%d" % self.units, *self.switches,
                          *self.server_switches.get(i, []), tcp=True, port=port)

    def events(self, i, *kinds):
        """(ms, kind, details) of server i's log lines so far of those kinds."""
        return self.servers[i].events(*kinds)

    def frames(self, i):
        """The frames server i's monitors received so far."""
        return [details for _, _, details in self.events(i, "RX")]

    def wait_for(self, i, pattern, seconds=10):
        """The match of server i's first log line, from here on, whose details (untagged) match
        the pattern, within seconds in all (a busy log does not stretch the wait)."""
        server = self.servers[i]
        deadline = time.monotonic() + seconds
        while True:
            try:
                line = server.sim._lines.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError("server %d logged nothing like %r within %d s"
                                     % (i, pattern, seconds))
            if line is None:
                raise AssertionError("server %d ended" % i)
            server.sim.log.append(line)
            details = server.details(line)
            match = details is not None and re.search(pattern, details)
            if match:
                return match

    def stop(self, i):
        """Stops server i (one of apart): its connection drops and its port refuses
        connections."""
        assert not self.servers[i].tag, "a server a test stops runs apart"
        self.servers[i].sim.close()

    def start(self, i):
        """Starts server i again on the port it had."""
        self.servers[i] = _Server(self._start(i, self.servers[i].port), self.servers[i].port,
                                  tagged=False)

    def close(self):
        sims = list(self._shared)
        sims += [server.sim for server in self.servers if not server.tag]
        for sim in sims:
            if sim.process.poll() is None:
                sim.close()
