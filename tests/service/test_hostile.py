"""kelvaned against hostile clients. One table of attacks, each from a raw socket of 127.0.0.2:
its status, that kelvaned closed the connection, that no frame reached the monitor, and that
kelvaned's resident memory stayed within the row's bound. Then the crowds, from addresses of
their own (127.0.0.3 and up) while the prober asks from 127.0.0.1: idle and dripping
connections, the bound on all connections, the event streams, the operations waiting on a line,
20,000 answers pipelined on one connection, and a second kelvaned on the address in use."""

import http.client
import json
import os
import re
import resource
import selectors
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from fleet import SimulatedFleet  # noqa: E402
from kelvaned import PROGRAM, Kelvaned, config_text  # noqa: E402

TOKEN = "s3cret-token"
ATTACKER = "127.0.0.2"
MIB = 1 << 20
GIB = 1 << 30
# An answer "at once" comes well within this; kelvaned's own waits are far longer.
AT_ONCE_S = 3
IDLE_LIMIT_S = 10
PER_ADDRESS = 64
CONNECTIONS = 1024
STREAMS = 256
WAITING = 16


def request(method, path, headers=(), body=b"", host="127.0.0.1"):
    lines = ["%s %s HTTP/1.1" % (method, path)] + (["Host: " + host] if host else [])
    lines += ["%s: %s" % header for header in headers]
    return ("\r\n".join(lines) + "\r\n\r\n").encode() + body


def post(path, body=b"{}", headers=(), host="127.0.0.1"):
    return request("POST", path, (("Content-Type", "application/json"),
                                  ("Content-Length", str(len(body)))) + tuple(headers), body, host)


def chunked(path, size, piece=1024):
    chunks = b"".join(b"%x\r\n%s\r\n" % (piece, b"x" * piece) for _ in range(size // piece))
    return request("POST", path, (("Content-Type", "application/json"),
                                  ("Transfer-Encoding", "chunked"))) + chunks + b"0\r\n\r\n"


SMUGGLED = post("/api/monitors/m/reset")
PAGE = ("GET", "/")

# (what, kelvaned: "open" without a token or "token" with one, what is sent: the bytes, or a
# head and a piece sent again and again up to 1 GiB; the status, whether kelvaned closes the
# connection, the bound on its resident memory in MiB)
ATTACKS = [
    ("a head over 16 KiB",
     "open", request("GET", "/api/monitors", [("X-Pad", "y" * 100)] * 170), 431, True, 2),
    ("1 GiB of header lines",
     "open", (request("GET", "/api/monitors")[:-2], b"X-Pad: " + b"y" * 1000 + b"\r\n"),
     431, True, 2),
    ("a Content-Length over 4 KiB, answered before the body comes",
     "open", post("/api/monitors/m/reset", b"x" * 5000)[:-5000], 413, True, 2),
    ("a chunked body over 4 KiB",
     "open", chunked("/api/monitors/m/reset", 8192), 413, True, 2),
    ("1 GiB of a chunked body",
     "open", (chunked("/api/monitors/m/reset", 0)[:-5], b"10000\r\n" + b"x" * 65536 + b"\r\n"),
     413, True, 2),
    ("Content-Length and chunked together, a reset smuggled behind",
     "open", request("POST", "/api/monitors/m/diagnostic",
                     (("Content-Type", "application/json"), ("Content-Length", "5"),
                      ("Transfer-Encoding", "chunked"))) + b"0\r\n\r\n" + SMUGGLED,
     400, True, 2),
    ("two Content-Lengths",
     "open", post("/api/monitors/m/diagnostic", b"{}", [("Content-Length", "4")]) + b"xx" +
     SMUGGLED, 400, True, 2),
    ("a Content-Length that is no number",
     "open", request("POST", "/api/monitors/m/diagnostic", (("Content-Length", "2x"),)) +
     b"{}" + SMUGGLED, 400, True, 2),
    ("an unknown Transfer-Encoding",
     "open", request("POST", "/api/monitors/m/diagnostic", (("Transfer-Encoding", "gzip"),)) +
     SMUGGLED, 400, True, 2),
    ("a request that cannot be read",
     "open", b"NOT A REQUEST\r\n\r\n" + SMUGGLED, 400, True, 2),
    ("a body that is no JSON, with a reset behind it",
     "open", post("/api/monitors/m/source", b'{"source": ') + SMUGGLED, 400, True, 2),
    ("a GET under a foreign Host",
     "open", request("GET", "/api/monitors", host="evil.example:9420"), 421, True, 2),
    ("the page under a foreign Host",
     "open", request(*PAGE, host="evil.example:9420"), 421, True, 2),
    ("a POST of a rebound name: foreign Host and Origin",
     "open", post("/api/monitors/m/diagnostic", headers=[("Origin", "http://evil.example:9420")],
                  host="evil.example:9420"), 421, True, 2),
    ("a POST from another site's page",
     "open", post("/api/monitors/m/diagnostic", headers=[("Origin", "http://evil.example")]),
     403, True, 2),
    ("a POST under a foreign Host, answered before its body comes",
     "open", post("/api/monitors/m/diagnostic", b"{}" * 50, host="evil.example")[:-100],
     421, True, 2),
    ("a POST without the token, answered before its body comes",
     "token", post("/api/monitors/m/diagnostic", b"{}" * 50)[:-100], 401, True, 2),
    ("a POST with a wrong token, answered before its body comes",
     "token", post("/api/monitors/m/diagnostic", b"{}" * 50,
                   [("Authorization", "Bearer wrong")])[:-100], 403, True, 2),
    ("a Range on the page: the whole file, 200",
     "open", request(*PAGE, [("Range", "bytes=-69208")]), 200, False, 2),
]


def connect(port, source=ATTACKER):
    client = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    client.bind((source, 0))
    client.settimeout(AT_ONCE_S)
    client.connect(("127.0.0.1", port))
    return client


def answer(client):
    """(status, head, whole body, closed by kelvaned) of the first answer on the connection;
    status 0 when it closed without one."""
    data = b""
    closed = False
    while b"\r\n\r\n" not in data:
        try:
            more = client.recv(65536)
        except (ConnectionResetError, socket.timeout):
            more = b""
        if not more:
            closed = True
            break
        data += more
    head, _, body = data.partition(b"\r\n\r\n")
    status = re.match(rb"HTTP/1\.[01] (\d{3}) ", head)
    length = re.search(rb"\r\ncontent-length: *(\d+)", head, re.IGNORECASE)
    while length and len(body) < int(length.group(1)) and not closed:
        more = client.recv(65536)
        closed = not more
        body += more
    if not closed:
        client.settimeout(0.5)
        try:
            closed = client.recv(1) == b""
        except ConnectionResetError:
            closed = True
        except socket.timeout:
            pass
    return (int(status.group(1)) if status else 0), head, body, closed


def send(client, what):
    """Sends the bytes, or the head and then the piece again and again until 1 GiB has gone or
    kelvaned has closed the connection."""
    if isinstance(what, bytes):
        try:
            client.sendall(what)
        except (BrokenPipeError, ConnectionResetError):
            pass
        return
    head, piece = what
    sent = 0
    try:
        client.sendall(head)
        while sent < GIB:
            client.sendall(piece)
            sent += len(piece)
    except (BrokenPipeError, ConnectionResetError):
        return
    raise AssertionError("kelvaned read 1 GiB without closing the connection")


def memory_kb(pid, key="VmRSS"):
    with open("/proc/%d/status" % pid) as status:
        return int(re.search(r"^%s:\s+(\d+) kB" % key, status.read(), re.MULTILINE).group(1))


def clients_held(port):
    """How many connections to the port of this machine a server still holds (established, or
    closed by the client and not yet by the server), from the kernel's table."""
    held = 0
    with open("/proc/net/tcp") as table:
        next(table)
        for row in table:
            fields = row.split()
            held += int(fields[1].split(":")[1], 16) == port and fields[3] in ("01", "08")
    return held


def open_many(port, addresses, each):
    """Connections from each address, as many as each; kept in a list whatever became of them."""
    return [connect(port, address) for address in addresses for _ in range(each)]


def closed_within(clients, seconds=AT_ONCE_S):
    """{client: what it received} for the clients whose connection kelvaned closed within the
    seconds; the others are still open."""
    selector = selectors.DefaultSelector()
    for client in clients:
        selector.register(client, selectors.EVENT_READ, b"")
    closed = {}
    deadline = time.monotonic() + seconds
    while selector.get_map() and time.monotonic() < deadline:
        for key, _ in selector.select(max(0, deadline - time.monotonic())):
            try:
                more = key.fileobj.recv(65536)
            except ConnectionResetError:
                more = b""
            if more:
                selector.modify(key.fileobj, selectors.EVENT_READ, key.data + more)
                continue
            selector.unregister(key.fileobj)
            closed[key.fileobj] = key.data
    selector.close()
    return closed


class HostileClients(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        # The second device server is for a kelvaned of its own: a server takes one client.
        cls.fleet = SimulatedFleet(2, 1)
        cls.kelvaned = {}
        try:
            for name in ("open", "token"):
                os.makedirs(os.path.join(cls.folder.name, name))
            token_file = os.path.join(cls.folder.name, "token", "token")
            with open(token_file, "w") as out:
                out.write(TOKEN + "\n")
            os.chmod(token_file, 0o600)
            # One poll, at the start: afterwards only operations send frames.
            cls.kelvaned["open"] = Kelvaned(os.path.join(cls.folder.name, "open"),
                                            config_text([("m", cls.fleet.targets[0], 1)],
                                                        interval=3600))
            cls.kelvaned["token"] = Kelvaned(os.path.join(cls.folder.name, "token"),
                                             config_text([("m", "tcp:127.0.0.1:9", 1)],
                                                         interval=3600, token_file=token_file))
            cls.open = cls.kelvaned["open"]
            cls.open.polled(30)
        except Exception:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for kelvaned in cls.kelvaned.values():
            kelvaned.close()
        cls.fleet.close()
        cls.folder.cleanup()

    def held(self, clients):
        self.addCleanup(lambda: [client.close() for client in clients])
        return clients

    def assert_memory_within(self, before, mib):
        pid = self.open.process.pid
        for key in ("VmRSS", "VmHWM"):
            self.assertLessEqual(memory_kb(pid, key) - before[key], mib * 1024, key)

    def memory(self):
        return {key: memory_kb(self.open.process.pid, key) for key in ("VmRSS", "VmHWM")}

    def probe(self, path):
        """GET path from 127.0.0.1, as a new client: (status, seconds)."""
        began = time.monotonic()
        connection = http.client.HTTPConnection("127.0.0.1", self.open.port, timeout=AT_ONCE_S,
                                                source_address=("127.0.0.1", 0))
        try:
            connection.request("GET", path)
            status = connection.getresponse().status
        finally:
            connection.close()
        return status, time.monotonic() - began

    def test_each_attack_is_refused_closed_and_kept_from_the_monitor_within_its_memory(self):
        frames = len(self.fleet.frames(0))
        for what, which, sent, status, closes, mib in ATTACKS:
            with self.subTest(what):
                before = self.memory()
                client = connect(self.kelvaned[which].port)
                self.addCleanup(client.close)
                send(client, sent)
                got, head, body, closed = answer(client)
                self.assertEqual(got, status, body[:200])
                self.assertEqual(closed, closes, "closed by kelvaned")
                if status == 421:
                    self.assertNotIn(b'"m"', body, "no monitor is shown")
                if status == 200:
                    self.assertGreater(len(body), 1000, "the whole page")
                    self.assertIn(b"\r\nContent-Security-Policy: default-src 'self'", head)
                self.assert_memory_within(before, mib)
        self.open.post("/api/monitors/m/source", {"source": "HDMI9"})  # the reset would be next
        self.assertEqual(self.fleet.frames(0)[frames:], [])

    def test_20000_answers_on_one_connection_leave_its_memory_where_it_was(self):
        """Every answer is let go once it has gone: pipelined, 500 requests at a time."""
        before = self.memory()
        client = self.held([connect(self.open.port, "127.0.0.1")])[0]
        batch = request("GET", "/api/monitors/m") * 500
        for _ in range(40):
            client.sendall(batch)
            answered, tail = 0, b""
            while answered < 500:
                more = client.recv(1 << 20)
                self.assertTrue(more, "closed after %d answers" % answered)
                # A head cut by the end of one read is counted with the next.
                data = tail + more
                answered += data.count(b"HTTP/1.1 200 ")
                tail = data[-12:]
        self.assert_memory_within(before, 2)

    def test_1000_idle_and_200_dripping_connections_leave_the_prober_served_within_1_s(self):
        before = self.memory()
        # Eight addresses try 125 each: the bound per address takes 64 and closes the rest.
        idle = self.held(open_many(self.open.port, ["127.0.0.%d" % a for a in range(3, 11)], 125))
        dripping = self.held(open_many(self.open.port,
                                       ["127.0.0.%d" % a for a in range(11, 15)], 50))
        opened = time.monotonic()
        closed = closed_within(idle)
        self.assertEqual(len(closed), 8 * (125 - PER_ADDRESS), "closed beyond 64 per address")
        idle = [client for client in idle if client not in closed]
        stop = threading.Event()

        def drip():
            text = request("GET", "/healthz")
            for at in range(len(text)):
                for client in dripping:
                    client.send(text[at:at + 1])
                if stop.wait(1):
                    return
        dripper = threading.Thread(target=drip)
        dripper.start()
        try:
            for path in ("/metrics", "/api/monitors"):
                status, took = self.probe(path)
                self.assertEqual(status, 200)
                self.assertLess(took, 1, path)
            self.assertEqual(self.open.post("/api/monitors/m/diagnostic", {}).status, 200)
            self.assert_memory_within(before, 16)
            # The idle connections are closed 10 s after their last byte; the dripping ones not.
            gone = closed_within(idle, IDLE_LIMIT_S + 3)
            self.assertGreater(time.monotonic() - opened, IDLE_LIMIT_S - 0.5)
            self.assertEqual(len(gone), len(idle), "every idle connection closed")
            self.assertEqual(closed_within(dripping, 0), {}, "the dripping ones live on")
        finally:
            stop.set()
            dripper.join()

    def test_connections_beyond_1024_are_closed_at_once_and_a_slot_comes_back(self):
        # On a loaded machine kelvaned may still hold the last test's clients a moment; they
        # would count against the 1,024.
        deadline = time.monotonic() + IDLE_LIMIT_S
        while clients_held(self.open.port) and time.monotonic() < deadline:
            time.sleep(0.05)
        clients = self.held(open_many(self.open.port,
                                      ["127.0.0.%d" % a for a in range(20, 37)], PER_ADDRESS))
        closed = closed_within(clients)
        held = [client for client in clients if client not in closed]
        self.assertEqual(len(held), CONNECTIONS)
        prober = self.held([connect(self.open.port, "127.0.0.1")])
        self.assertEqual(list(closed_within(prober)), prober, "no slot left")
        held[0].close()
        deadline = time.monotonic() + AT_ONCE_S
        while True:
            try:
                if self.probe("/healthz")[0] == 200:
                    break
            except OSError:
                pass
            self.assertLess(time.monotonic(), deadline, "the slot came back")

    def test_event_streams_beyond_256_get_503_and_a_stream_gone_gives_its_slot_back(self):
        before = self.memory()
        streams = self.held(open_many(self.open.port,
                                      ["127.0.0.%d" % a for a in range(40, 44)], PER_ADDRESS))
        for client in streams:
            client.sendall(request("GET", "/api/events"))
        for client in streams:
            text = b""
            while b"event: fleet" not in text:
                text += client.recv(4096)
            self.assertIn(b"Content-Type: text/event-stream\r\n", text)
        extra = self.held([connect(self.open.port, "127.0.0.1")])[0]
        extra.sendall(request("GET", "/api/events"))
        status, _, body, closed = answer(extra)
        self.assertEqual((status, closed), (503, True))
        self.assertIn(b"too many event streams", body)
        self.assert_memory_within(before, 8)
        streams[0].close()
        # Its slot comes back within a check of the streams, long before a keep-alive comment.
        deadline = time.monotonic() + 3
        while True:
            client = self.held([connect(self.open.port, "127.0.0.1")])[0]
            client.sendall(request("GET", "/api/events"))
            if client.recv(12) == b"HTTP/1.1 200":
                break
            self.assertLess(time.monotonic(), deadline, "the slot was not given back")

    def test_an_event_stream_sends_a_long_fleet_whole_and_ends_at_once_when_kelvaned_stops(self):
        # 250 monitors: the first event is longer than libmicrohttpd takes in one read.
        monitors = [("m%d" % unit, "tcp:127.0.0.1:9", unit) for unit in range(1, 251)]
        with tempfile.TemporaryDirectory() as folder:
            kelvaned = Kelvaned(folder, config_text(monitors, interval=3600))
            self.addCleanup(kelvaned.close)
            connection = http.client.HTTPConnection("127.0.0.1", kelvaned.port,
                                                    timeout=AT_ONCE_S)
            self.addCleanup(connection.close)
            connection.request("GET", "/api/events")
            events = connection.getresponse()
            while not (line := events.readline()).startswith(b"data: "):
                pass
            self.assertEqual(len(json.loads(line[6:])["monitors"]), 250)
            status, took = kelvaned.stop()
            self.assertEqual(status, 0)
            self.assertLess(took, 2)
            # The stream's end, not a cut: a cut would raise IncompleteRead.
            events.read()

    def test_kelvaned_raises_its_open_file_limit_or_exits_1_naming_it(self):
        hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
        with tempfile.TemporaryDirectory() as folder:
            kelvaned = Kelvaned(folder, config_text([("m", "tcp:127.0.0.1:9", 1)]), preexec=lambda:
                                resource.setrlimit(resource.RLIMIT_NOFILE, (1000, hard)))
            self.addCleanup(kelvaned.close)
            with open("/proc/%d/limits" % kelvaned.process.pid) as limits:
                self.assertRegex(limits.read(), r"Max open files +1280 ")
            config = kelvaned.config
            low = subprocess.run([PROGRAM, "--config", config], capture_output=True, text=True,
                                 timeout=30, preexec_fn=lambda: resource.setrlimit(
                                     resource.RLIMIT_NOFILE, (1000, 1000)))
        self.assertEqual(low.returncode, 1)
        self.assertIn("the open-file limit is 1000 and kelvaned needs 1280", low.stderr)

    def test_a_17th_operation_waiting_on_a_line_gets_429_at_once_and_is_never_queued(self):
        with tempfile.TemporaryDirectory() as folder:
            kelvaned = Kelvaned(folder, config_text([("m", self.fleet.targets[1], 1)],
                                                    interval=3600))
            self.addCleanup(kelvaned.close)
            kelvaned.polled(30)
            running = self.held([connect(kelvaned.port, "127.0.0.1")])[0]
            running.sendall(post("/api/monitors/m/source", b'{"source": "HDMI2"}'))
            # The switch under way settles for 3 s; the others wait behind it.
            self.fleet.wait_for(1, r"^RX @@1SSSHD2$")
            waiting = self.held(open_many(kelvaned.port, ["127.0.0.50"], WAITING + 1))
            for client in waiting:
                client.sendall(post("/api/monitors/m/source", b'{"source": "HDMI3"}'))
            refused = closed_within(waiting)
            self.assertEqual(len(refused), 1, "one over the bound")
            client, text = refused.popitem()
            self.assertTrue(text.startswith(b"HTTP/1.1 429 "), text)
            self.assertRegex(text, rb"\r\nRetry-After: \d+\r\n")
            status, _ = kelvaned.stop()
            self.assertEqual(status, 0)
            for other in [running] + waiting:
                if other is not client:
                    status, _, body, _ = answer(other)
                    self.assertEqual(status, 503, "cut by the stop")
                    self.assertIn(b"did not run to its end", body, "answered by its line")
        self.assertNotIn("@@1SSSHD3", self.fleet.frames(1), "nothing of them went out")

    def test_an_accepted_operation_runs_when_its_client_has_gone(self):
        def diagnostics():
            metrics = self.open.get("/metrics").body
            return sum(int(n) for n in re.findall(r'operation="diagnostic",result="\w+"} (\d+)',
                                                  metrics))
        done = diagnostics()
        client = connect(self.open.port, "127.0.0.1")
        client.sendall(post("/api/monitors/m/diagnostic"))
        client.close()
        self.fleet.wait_for(0, r"^RX @@1KESPLS$")
        # Its answer then finds no one, and its connection goes.
        deadline = time.monotonic() + 30
        while diagnostics() == done:
            self.assertLess(time.monotonic(), deadline, "the operation was not recorded")
            time.sleep(0.05)

    def test_a_second_kelvaned_on_the_address_in_use_exits_1_and_the_first_serves_on(self):
        with tempfile.TemporaryDirectory() as folder:
            config = os.path.join(folder, "kelvaned.toml")
            with open(config, "w") as out:
                out.write(config_text([("m", "tcp:127.0.0.1:9", 1)],
                                      listen="127.0.0.1:%d" % self.open.port))
            second = subprocess.run([PROGRAM, "--config", config], capture_output=True,
                                    text=True, timeout=30)
        self.assertEqual(second.returncode, 1)
        self.assertIn("127.0.0.1:%d is in use" % self.open.port, second.stderr)
        self.assertEqual(self.probe("/healthz")[0], 200)


if __name__ == "__main__":
    unittest.main()
