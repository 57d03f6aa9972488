"""monitor-sim as a serial device server in raw TCP mode, driven from Linux as a controller would
drive a device server: it names the port it listens on in its first log line, answers frames sent
over the connection at the pace of a 19200 baud line, drops the client where a fault pulls the
cable and loses what comes until the cable is back, on a daisy chain answers each unit at its own
address only, and serves a fleet of such servers from one command. Run by ctest through
scripts/test.sh, which sets the Wine environment: for the Linux build, and with KELVANE_SIM=windows
for monitor-sim.exe."""

import os
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from simulator import ANSWER_S, MonitorSim  # noqa: E402

# One byte on a 19200 baud 8N1 line: ten bits.
BYTE_S = 10 / 19200


def connect(monitor):
    return connect_to(monitor.port)


def connect_to(port):
    client = socket.create_connection(("127.0.0.1", port), timeout=ANSWER_S)
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

    def test_answer_bytes_come_no_faster_than_a_19200_baud_line_carries_them(self):
        monitor = self.monitor("--unit-id", "1-8")
        with connect(monitor) as client:
            started = time.monotonic()
            answer = ask(client, b"@@0UIG000", 32)
            took = time.monotonic() - started
        self.assertEqual(answer, b"0" * 16 + b"12345678" + b"!" * 8, "eight answers collide")
        # Over TCP the frame's nine bytes come at once; on the line they and the 32 bytes of
        # the answer take 41 byte-times, however quick the monitor.
        self.assertGreaterEqual(took, 41 * BYTE_S, "%.2f ms" % (took * 1000))

    def test_a_random_pull_drops_the_client_and_loses_what_comes_until_the_cable_is_back(self):
        # Seed 33 at every frame faulty draws a pull of 2978 ms for frame 1 and a partial answer,
        # left out here, for frame 2.
        monitor = self.monitor("--random", "33", "--fault-rate", "100", "--faults", "pull")
        with connect(monitor) as client:
            client.sendall(b"@@1SIG000")
            self.assertEqual(client.recv(1), b"", "the pull drops the connection")
        monitor.wait_for(r"^CABLE pulled out for 2978 ms")
        with connect(monitor) as client:
            client.sendall(b"@@1SSG000")
            monitor.wait_for(r"^LOST @@1SSG000$")
            monitor.wait_for(r"^CABLE back in")
            self.assertEqual(ask(client, b"@@1SIG000", 4), b"SOK!")
        monitor.wait_for(r"^FAULT frame 2: none \(a partial, left out\)$")
        self.assertEqual(monitor.frames(), ["@@1SIG000", "@@1SIG000"], "the lost one is no frame")


class AFleetOfDeviceServers(unittest.TestCase):
    def test_eight_servers_of_eight_units_each_answer_every_unit_on_its_own_line_alone(self):
        fleet = MonitorSim("--unit-id", "1-8", "--random", "40", "--fault-rate", "0", fleet=8)
        self.addCleanup(fleet.close)
        self.assertEqual(len(set(fleet.ports)), 8)
        clients = [connect_to(port) for port in fleet.ports]
        for client in clients:
            self.addCleanup(client.close)
        for client in clients:
            for unit in range(1, 9):
                self.assertEqual(ask(client, b"@@%dUIG000" % unit, 4), b"%03d!" % unit)
        self.assertEqual(ask(clients[2], b"@@5SSSVGA", 1), b"!")
        for place, client in enumerate(clients):
            self.assertEqual(ask(client, b"@@5SSG000", 4), b"VGA!" if place == 2 else b"HD1!",
                             "a switch stays on its own line")
        fleet.wait_for(r"^TX \[%d\] HD1!$" % fleet.ports[7])

        for place, port in enumerate(fleet.ports):
            expected = [b"@@%dUIG000" % unit for unit in range(1, 9)]
            expected += [b"@@5SSSVGA"] if place == 2 else []
            self.assertEqual(fleet.frames(port=port),
                             [frame.decode() for frame in expected + [b"@@5SSG000"]])
            self.assertEqual(fleet.events("FAULTS", port=port)[0][2],
                             "random, seed %d, 0 frames in 100" % (40 + place),
                             "each port draws from a seed of its own")


if __name__ == "__main__":
    unittest.main()
