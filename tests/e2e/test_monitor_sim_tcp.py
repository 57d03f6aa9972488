"""monitor-sim as a serial device server in raw TCP mode, driven from Linux as a controller would
drive a device server: it names the port it listens on in its first log line, answers frames sent
over the connection, drops the client where a fault pulls the cable, and on a daisy chain answers
each unit at its own address only. Run by ctest through scripts/test.sh, which sets the Wine
environment."""

import os
import socket
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from simulator import ANSWER_S, MonitorSim  # noqa: E402


def connect(monitor):
    client = socket.create_connection(("127.0.0.1", monitor.port), timeout=ANSWER_S)
    client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return client


def ask(client, frame, length):
    """Sends a frame and reads the answer's length bytes; fewer if the server hangs up."""
    client.sendall(frame)
    answer = b""
    while len(answer) < length:
        more = client.recv(length - len(answer))
        if not more:
            break
        answer += more
    return answer


class TheMonitorAsADeviceServer(unittest.TestCase):
    def monitor(self, *switches):
        monitor = MonitorSim(*switches, tcp=True)
        self.addCleanup(monitor.close)
        return monitor

    def test_it_answers_over_the_connection_drops_it_for_a_pull_and_serves_the_next_client(self):
        monitor = self.monitor("--unit-id", "4", "--source", "HD2", "--pull-after", "2")
        with connect(monitor) as client:
            self.assertEqual(ask(client, b"@@4UIG000", 4), b"004!")
            self.assertEqual(ask(client, b"@@4SSG000", 4), b"HD2!")
            self.assertEqual(client.recv(1), b"", "the pull drops the connection")
        with connect(monitor) as client:
            self.assertEqual(ask(client, b"@@4SIG000", 4), b"SOK!")

    def test_a_chain_answers_each_unit_at_its_own_address_only(self):
        monitor = self.monitor("--unit-id", "1,2,5")
        with connect(monitor) as client:
            self.assertEqual(ask(client, b"@@2SSSHD3", 1), b"!")
            self.assertEqual(ask(client, b"@@2SSG000", 4), b"HD3!")
            monitor.wait_for(r"^UNIT 2 answers$")
            self.assertEqual(ask(client, b"@@1SSG000", 4), b"HD1!", "unit 1 keeps its source")
            self.assertEqual(ask(client, b"@@5UIG000", 4), b"005!")

            client.sendall(b"@@3UIG000")
            monitor.wait_for(r"^IGNORE for unit 3")
            self.assertEqual(ask(client, b"@@0UIG000", 12), b"000000125!!!",
                             "no unit 3 answered; at 0 all three answer at once")


if __name__ == "__main__":
    unittest.main()
