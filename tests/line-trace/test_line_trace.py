"""The line trace: how bytes become lines, how the panel's reading of an answer is worked out,
the table of a written trace, and the relay between a pseudo-terminal and a TCP server."""

import os
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools", "line-trace")
sys.path.insert(0, TOOLS)
import linetrace  # noqa: E402
import trace_table  # noqa: E402

# How the panel reads an answer, case by case; the protocol core's tests run it too.
LINE_CASES = os.path.join(HERE, "..", "line-cases.txt")


def line_cases():
    """The table's cases: frame, [(ms, bytes)], reading, ms when the answer-driven exchange has
    its reading, note."""
    cases = []
    with open(LINE_CASES, encoding="ascii") as table:
        for text in table:
            if not text.strip() or text.startswith("#"):
                continue
            frame, arrivals, reading, ends, note = [
                f.strip() for f in (text.split("|") + [""])[:5]]
            groups = [group.split() for group in arrivals.split(",") if group.strip()]
            cases.append((linetrace.read_bytes(frame),
                          [(int(ms), linetrace.read_bytes(shown)) for ms, shown in groups],
                          reading, int(ends.split("/")[1]), note))
    return cases


class Recorder:
    """Feeds timed reads to a grouper and a tracker the way the relay does, and keeps the trace
    text they make."""

    def __init__(self):
        self.grouper = linetrace.LineGrouper()
        self.tracker = linetrace.Tracker()
        self.text = []

    def _lines(self, lines):
        for line in lines:
            self.text += [t.result_text() for t in self.tracker.line(line)]
            self.text.append(linetrace.format_line(line))

    def send(self, time, data, kind=linetrace.TO_MONITOR):
        self.until(time)
        self._lines(self.grouper.feed(time, kind, data))

    def answer(self, time, data):
        self.send(time, data, linetrace.TO_PANEL)

    def until(self, time):
        """Lets the time pass in steps of 5 ms."""
        now = getattr(self, "now", 0)
        while now < time:
            now = min(time, now + 5)
            self._lines(self.grouper.tick(now))
            self.text += [t.result_text() for t in self.tracker.tick(now)]
        self.now = now

    def frame(self, time, frame):
        """The panel writes its frame one byte per write, a millisecond apart."""
        for i, byte in enumerate(frame):
            self.send(time + i, bytes([byte]))

    def shown(self):
        return [line.strip() for line in self.text]


class HowBytesAreShown(unittest.TestCase):
    def test_printable_bytes_show_as_they_are_and_others_in_hex(self):
        self.assertEqual(linetrace.show_bytes(b"@@1SIG000"), "@@1SIG000")
        self.assertEqual(linetrace.show_bytes(b"a <\r\n\x00"), "a<20><3c><0d><0a><00>")

    def test_what_is_shown_reads_back_as_the_same_bytes(self):
        every_byte = bytes(range(256))
        self.assertEqual(linetrace.read_bytes(linetrace.show_bytes(every_byte)), every_byte)


class GroupingIntoLines(unittest.TestCase):
    def test_a_frame_written_byte_by_byte_is_one_line_and_its_answer_another(self):
        trace = Recorder()
        trace.frame(1000, b"@@1SIG000")
        trace.answer(1012, b"SO")
        trace.answer(1013, b"K!")
        trace.until(2000)
        self.assertEqual(trace.shown()[:2], ["1.000  -> @@1SIG000", "1.012  <- SOK!"])

    def test_a_quiet_stretch_between_lines_is_shown_with_its_length(self):
        trace = Recorder()
        trace.frame(1000, b"@@1SIG000")
        trace.answer(1010, b"SOK!")
        trace.frame(1312, b"@@1FVSENA")
        trace.until(3000)
        self.assertIn("1.010  .. 302 ms", trace.shown())

    def test_an_acknowledge_that_comes_late_is_a_line_of_its_own(self):
        trace = Recorder()
        trace.frame(1000, b"@@1DSSEXE")
        trace.answer(1450, b"!")
        trace.until(3000)
        self.assertEqual(trace.shown()[:3],
                         ["1.000  -> @@1DSSEXE", "1.008  .. 442 ms", "1.450  <- !"])

    def test_bytes_of_the_panel_that_are_no_frame_are_junk_or_a_partial_frame(self):
        trace = Recorder()
        trace.send(1000, b"\r\n@@1SI")
        trace.until(1500)
        trace.send(1500, b"@@1SIG000")
        self.assertEqual([line for line in trace.shown() if "->" in line],
                         ["1.000  -> <0d><0a>  junk", "1.000  -> @@1SI  partial frame",
                          "1.500  -> @@1SIG000"])

    def test_monitor_bytes_that_no_frame_waits_for_are_junk(self):
        trace = Recorder()
        trace.answer(500, b"~")
        trace.until(1000)
        self.assertEqual(trace.shown(), ["0.500  <- ~  junk"])


class ThePanelsReadingOfAnAnswer(unittest.TestCase):
    """Each case: a frame at 1000 ms, the monitor's bytes at their times, the result line."""

    CASES = [
        ("an acknowledged query", b"@@1SIG000", [(1010, b"SOK!")], "= ACK"),
        ("an acknowledged command", b"@@1SSSHD2", [(1005, b"!")], "= ACK"),
        ("a refusal", b"@@1SSSHD3", [(1005, b"?")], "= NAK, acknowledge byte ?"),
        ("a query answered with a NAK", b"@@1SIG000", [(1010, b"SOK?")],
         "= NAK, acknowledge byte ?"),
        ("a silent monitor", b"@@1DSSEXE", [], "= no answer"),
        ("two data bytes only", b"@@1SIG000", [(1010, b"SO")],
         "= partial, 2 of 4 bytes: the panel gets no answer"),
        # The acknowledge is read as the third data byte, and then nothing comes.
        ("two data bytes and the acknowledge", b"@@1SIG000", [(1010, b"SO!")],
         "= partial, 3 of 4 bytes: the panel gets no answer"),
        ("an acknowledge inside the second chance", b"@@1DSSEXE", [(1450, b"!")],
         "= ACK, acknowledge on the panel's second read"),
        ("a refusal inside the second chance", b"@@1DSSEXE", [(1450, b"?")],
         "= NAK, acknowledge byte ? on the panel's second read"),
        ("an acknowledge after the second chance", b"@@1DSSEXE", [(2000, b"!")],
         "= no answer"),
        ("the firmware refused", b"@@1FVSENA", [(1010, b"?ERROR?")],
         "= NAK, refused; 1 byte unread"),
        ("the firmware version", b"@@1FVSENA", [(1010, b"FV1.02!")], "= ACK"),
    ]

    def test_each_answer_gets_the_result_the_panel_gives_it(self):
        for name, frame, answers, result in self.CASES:
            with self.subTest(name):
                trace = Recorder()
                trace.frame(1000, frame)
                for time, data in answers:
                    trace.answer(time, data)
                trace.until(4000)
                self.assertEqual([line for line in trace.shown() if line.startswith("=")],
                                 [result])

    def test_every_case_of_the_line_table_reads_as_the_panel_reads_it(self):
        """Paced, the transaction ends when the panel stops reading; answer-driven, the next frame
        follows a few milliseconds after the answer was read (bytes later than that come after
        it), and the trace reads the answer alike."""
        for frame, arrivals, reading, answer_driven_end, note in line_cases():
            for next_frame in (None, answer_driven_end + 3):
                with self.subTest(frame=frame, case=note, next_frame=next_frame):
                    trace = Recorder()
                    trace.send(0, frame)
                    events = [(ms, trace.answer, data) for ms, data in arrivals]
                    if next_frame is not None:
                        events.append((next_frame, trace.send, b"@@1SIG000"))
                    for ms, send, data in sorted(events, key=lambda event: event[0]):
                        send(ms, data)
                    trace.until(3000)
                    results = [line for line in trace.shown() if line.startswith("=")]
                    self.assertEqual([result[2:].split(",")[0] for result in results][:1],
                                     [reading])

    def test_the_next_frame_ends_the_transaction_before_it(self):
        trace = Recorder()
        trace.frame(1000, b"@@1SIG000")
        trace.answer(1010, b"SOK!")
        trace.frame(1100, b"@@1SSG000")
        self.assertIn("= ACK", trace.shown())


class TheTableOfATrace(unittest.TestCase):
    TRACE = """\
# Orvanta line trace, started 2026-05-04 09:12:44; times in seconds from then
# panel build/bridge/COM7 <-> tcp:192.168.1.50:4001
       0.412  ** the panel opened its port
       0.412  ** connected to tcp:192.168.1.50:4001
       0.515  -> @@0UIG000
       0.521  <- 001!
              = ACK
       0.521  .. 301 ms
       0.822  -> @@1SSSHD3
       0.826  <- ?
              = NAK, acknowledge byte ?
       0.826  .. 300 ms
       1.126  -> @@1DSSEXE
       1.126  .. 1400 ms
       2.526  -> @@1SIG000
       2.530  <- SO
              = partial, 2 of 4 bytes: the panel gets no answer
       2.530  .. 1500 ms
       4.030  <- K!  junk
"""

    def test_each_frame_is_a_row_with_the_panels_result(self):
        closed = trace_table.transactions(self.TRACE.splitlines())
        self.assertEqual([(linetrace.show_bytes(t.frame.data), t.result) for t in closed],
                         [("@@0UIG000", "ACK"), ("@@1SSSHD3", "NAK"), ("@@1DSSEXE", "no answer"),
                          ("@@1SIG000", "partial")])

    def test_the_table_shows_answers_their_delay_and_a_count(self):
        rows = trace_table.table(trace_table.transactions(self.TRACE.splitlines()))
        self.assertEqual(rows[0].split(), ["time", "frame", "answer", "after", "result", "note"])
        self.assertEqual(rows[1].split()[:6], ["0.515", "@@0UIG000", "001!", "6", "ms", "ACK"])
        self.assertEqual(rows[3].split()[:4], ["1.126", "@@1DSSEXE", "-", "-"])
        self.assertIn("then K! unread", rows[4])
        self.assertEqual(rows[-1], "4 transactions: 1 ACK, 1 NAK, 1 no answer, 1 partial")

    def test_a_trace_read_back_gives_the_results_it_was_written_with(self):
        trace = Recorder()
        trace.frame(1000, b"@@1SIG000")
        trace.answer(1010, b"SO")
        trace.frame(3000, b"@@1DSSEXE")
        trace.answer(3450, b"!")
        trace.frame(5000, b"@@1SSSHD3")
        trace.answer(5003, b"?")
        trace.until(7000)
        written = [line for line in trace.shown() if line.startswith("=")]
        read_back = trace_table.transactions(trace.text)
        self.assertEqual([t.result_text() for t in read_back], written)


class Server:
    """A TCP server on 127.0.0.1 that answers every nine bytes with "SOK!" and can hang up."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.port = self.listener.getsockname()[1]
        self.connections = []
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            self.connections.append(connection)
            threading.Thread(target=self._answer, args=(connection,), daemon=True).start()

    @staticmethod
    def _answer(connection):
        held = b""
        try:
            while True:
                data = connection.recv(64)
                if not data:
                    return
                held += data
                while len(held) >= 9:
                    held = held[9:]
                    connection.sendall(b"SOK!")
        except OSError:
            return

    def hang_up(self):
        for connection in self.connections:
            connection.shutdown(socket.SHUT_RDWR)
            connection.close()

    def close(self):
        self.listener.close()


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class TheRelay(unittest.TestCase):
    """line_relay.py between a pseudo-terminal, opened here as the panel opens its port, and a
    TCP server."""

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.link = os.path.join(self.folder.name, "COM7")
        self.trace = os.path.join(self.folder.name, "trace.txt")
        self.relay = None
        self.open_ports = []

    def tearDown(self):
        for port in self.open_ports:
            os.close(port)
        if self.relay is not None and self.relay.poll() is None:
            self.relay.terminate()
            self.relay.wait(10)
        self.folder.cleanup()

    def start(self, far, traced=True):
        self.relay = subprocess.Popen([sys.executable, os.path.join(TOOLS, "line_relay.py"),
                                       "--link", self.link, "--far", far] +
                                      (["--trace", self.trace] if traced else []))
        self.wait_for(lambda: os.path.exists(self.link), "the relay made no port")

    def wait_for(self, condition, what, seconds=10):
        deadline = time.monotonic() + seconds
        while not condition():
            self.assertLess(time.monotonic(), deadline, what)
            time.sleep(0.01)

    def traced(self):
        with open(self.trace) as trace:
            return trace.read()

    def exchange(self, port, frame=b"@@1SIG000"):
        """Writes a frame as the panel does and returns what came back within 300 ms."""
        os.write(port, frame)
        deadline = time.monotonic() + 0.3
        got = b""
        while time.monotonic() < deadline:
            try:
                got += os.read(port, 64)
            except BlockingIOError:
                time.sleep(0.01)
        return got

    def open_port(self):
        """Opens the port as the panel does; tearDown closes what a test left open."""
        port = os.open(self.link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        self.open_ports.append(port)
        return port

    def close_port(self, port):
        os.close(port)
        self.open_ports.remove(port)

    def test_bytes_pass_both_ways_and_are_traced_as_they_pass(self):
        server = Server()
        self.addCleanup(server.close)
        self.start("tcp:127.0.0.1:%d" % server.port)
        port = self.open_port()
        self.wait_for(lambda: "connected to" in self.traced(), "no connection")
        self.assertEqual(self.exchange(port), b"SOK!")
        self.wait_for(lambda: "= ACK" in self.traced(), "no result line")
        # A quiet stretch before the frame is how long the test took to write it, no byte.
        lines = [(line.kind, line.data) for line in linetrace.read_trace(
            self.traced().splitlines()) if line.kind not in (linetrace.NOTE, linetrace.SILENCE)]
        self.assertEqual(lines, [("->", b"@@1SIG000"), ("<-", b"SOK!")])

    def test_each_opening_of_the_port_makes_a_fresh_connection(self):
        server = Server()
        self.addCleanup(server.close)
        self.start("tcp:127.0.0.1:%d" % server.port)
        for opened in (1, 2):
            port = self.open_port()
            self.assertEqual(self.exchange(port), b"SOK!")
            self.close_port(port)
            self.wait_for(lambda: self.traced().count("the panel closed its port") == opened,
                          "the relay did not see the port close")
        self.assertEqual(len(server.connections), 2)

    def test_a_server_that_is_not_listening_leaves_the_port_open_and_silent(self):
        self.start("tcp:127.0.0.1:%d" % free_port())
        port = self.open_port()
        self.assertEqual(self.exchange(port), b"")
        self.wait_for(lambda: "cannot connect" in self.traced(), "no note of the failure")
        self.wait_for(lambda: "= no answer" in self.traced(), "no result line")

    def test_a_server_that_hangs_up_leaves_the_port_silent_until_it_is_opened_again(self):
        server = Server()
        self.addCleanup(server.close)
        self.start("tcp:127.0.0.1:%d" % server.port)
        port = self.open_port()
        self.assertEqual(self.exchange(port), b"SOK!")
        server.hang_up()
        self.wait_for(lambda: "closed the connection" in self.traced(), "no note of the drop")
        self.assertEqual(self.exchange(port), b"")
        self.close_port(port)
        self.wait_for(lambda: "the panel closed its port" in self.traced(), "no close")
        port = self.open_port()
        self.assertEqual(self.exchange(port), b"SOK!")

    def test_a_far_end_that_takes_nothing_never_holds_up_the_panels_writes(self):
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)  # accepts the connection and never reads from it
        self.addCleanup(listener.close)
        # More than the socket buffers between the relay and the server can hold.
        self.start("tcp:127.0.0.1:%d" % listener.getsockname()[1], traced=False)
        port = self.open_port()
        os.set_blocking(port, True)
        writer = threading.Thread(target=lambda: [os.write(port, b"@@1SIG000" * 1000)
                                                  for _ in range(1000)], daemon=True)
        writer.start()
        writer.join(20)
        self.assertFalse(writer.is_alive(), "a write of the panel's waited for the far end")

    def test_the_relay_removes_its_port_when_it_stops(self):
        self.start("tcp:127.0.0.1:%d" % free_port())
        self.relay.terminate()
        self.assertEqual(self.relay.wait(10), 0)
        self.assertFalse(os.path.lexists(self.link))
        self.assertIn("the relay stops (SIGTERM)", self.traced())


if __name__ == "__main__":
    unittest.main()
