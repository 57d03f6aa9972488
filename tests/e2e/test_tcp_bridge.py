"""The real panel reaching the simulated monitor through a TCP bridge, as it reaches a monitor on a
serial device server: the cable's panel end is served on 127.0.0.1 (the device server), the relay
of scripts/null-modem.sh links COM7 to it, and kelvane_e2e.exe drives the panel (its PanelOverTcp
tests) while the relay traces the line. Run by ctest through scripts/test.sh, which lays the
cable and sets the Wine environment."""

import os
import select
import socket
import subprocess
import sys
import tempfile
import threading
import unittest

ROOT = os.environ.get("KELVANE_ROOT", os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("KELVANE_BUILD", os.path.join(ROOT, "build"))
sys.path.insert(0, os.path.join(ROOT, "tools", "line-trace"))
import trace_table  # noqa: E402

BRIDGE_PORT = "COM7"
CABLE_END = os.path.join(BUILD, "null-modem", "panel")
# The shortest time from one frame to the next: the drain's last empty read and the wait for the
# answer, less what Wine's reads may end early; and a generous longest.
FRAME_SPACING_MS = (280, 2000)


class DeviceServer:
    """A serial device server in raw TCP mode on 127.0.0.1, its serial side the cable's panel end.
    With hang_up_after, it closes the connection once that many bytes came from the client and
    the line has fallen quiet."""

    def __init__(self, hang_up_after=None):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.port = self.listener.getsockname()[1]
        self.hang_up_after = hang_up_after
        self.stopping = False
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        self.listener.settimeout(0.2)
        while not self.stopping:
            try:
                client, _ = self.listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            line = os.open(CABLE_END, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
            try:
                self._relay(client, line)
            finally:
                os.close(line)
                client.close()

    def _relay(self, client, line):
        received = 0
        while not self.stopping:
            ready, _, _ = select.select([client, line], [], [], 0.5)
            if not ready and self.hang_up_after is not None and received >= self.hang_up_after:
                return
            if client in ready:
                data = client.recv(4096)
                if not data:
                    return
                received += len(data)
                os.write(line, data)
            if line in ready:
                try:
                    client.sendall(os.read(line, 4096))
                except BlockingIOError:
                    pass

    def close(self):
        self.stopping = True
        self.listener.close()
        self.thread.join(5)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class ThePanelThroughATcpBridge(unittest.TestCase):
    def setUp(self):
        self.assertTrue(os.path.exists(CABLE_END), "run through scripts/test.sh, which lays the cable")
        self.folder = tempfile.TemporaryDirectory()
        self.trace = os.path.join(self.folder.name, "line.trace")
        self.server = None

    def tearDown(self):
        subprocess.run(["bash", os.path.join(ROOT, "scripts", "null-modem.sh"), "stop", "relay"],
                       check=False)
        if self.server:
            self.server.close()
        self.folder.cleanup()

    def bridge(self, far):
        subprocess.run(["bash", os.path.join(ROOT, "scripts", "null-modem.sh"), "relay",
                        BRIDGE_PORT, far, self.trace], check=True, stdout=subprocess.DEVNULL)

    def run_panel_test(self, name):
        environment = dict(os.environ, KELVANE_BRIDGE_PORT=BRIDGE_PORT,
                           KELVANE_LINE_TRACE=windows_path(self.trace))
        result = subprocess.run(
            ["wine", os.path.join(BUILD, "bin", "kelvane_e2e.exe"),
             "--gtest_filter=PanelOverTcp." + name],
            env=environment, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
            errors="replace", timeout=240)
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertIn("[  PASSED  ] 1 test", result.stdout)

    def transactions(self):
        with open(self.trace) as trace:
            return trace_table.transactions(trace.readlines())

    def test_a_connect_goes_through_and_the_trace_shows_its_four_frames_in_order(self):
        self.server = DeviceServer()
        self.bridge("tcp:127.0.0.1:%d" % self.server.port)
        self.run_panel_test("ConnectsAndReadsTheMonitor")

        closed = self.transactions()
        self.assertEqual([(t.frame.data, t.answer, t.result) for t in closed],
                         [(b"@@0UIG000", b"004!", "ACK"), (b"@@4SSG000", b"HD2!", "ACK"),
                          (b"@@4SIG000", b"SOK!", "ACK"), (b"@@4FVSENA", b"FV1.02!", "ACK")])
        for before, after in zip(closed, closed[1:]):
            spacing = after.frame.time - before.frame.time
            self.assertGreaterEqual(spacing, FRAME_SPACING_MS[0])
            self.assertLess(spacing, FRAME_SPACING_MS[1])
        for transaction in closed:
            self.assertLess(transaction.parts[0][0] - transaction.frame.time, 200,
                            "the answer came late")

    def test_a_server_that_is_not_listening_gives_the_panels_error_and_no_hang(self):
        self.bridge("tcp:127.0.0.1:%d" % free_port())
        self.run_panel_test("AServerThatIsNotListeningIsAMonitorThatDoesNotAnswer")
        with open(self.trace) as trace:
            self.assertIn("cannot connect to tcp:127.0.0.1", trace.read())

    def test_a_server_that_hangs_up_mid_session_fails_the_next_query_and_no_hang(self):
        self.server = DeviceServer(hang_up_after=4 * 9)
        self.bridge("tcp:127.0.0.1:%d" % self.server.port)
        self.run_panel_test("AServerThatHangsUpMakesTheNextQueryFail")
        results = [(t.frame.data, t.result) for t in self.transactions()]
        self.assertEqual(results[-1], (b"@@1SIG000", "no answer"))

    def test_a_late_refusal_of_a_switch_is_a_refusal_for_the_panel_and_in_the_trace(self):
        self.server = DeviceServer()
        self.bridge("tcp:127.0.0.1:%d" % self.server.port)
        self.run_panel_test("ALateRefusalOfASwitchIsARefusal")

        closed = self.transactions()
        switches = [t for t in closed if t.frame.data == b"@@1SSSHD3"]
        self.assertEqual([(t.answer, t.result) for t in switches], [(b"?", "NAK")] * 2)
        self.assertTrue(all("second read" in t.note for t in switches), [t.note for t in switches])
        rows = [row for row in trace_table.table(closed) if "@@1SSSHD3" in row]
        self.assertEqual([row.split()[5] for row in rows], ["NAK", "NAK"])


if __name__ == "__main__":
    unittest.main()
