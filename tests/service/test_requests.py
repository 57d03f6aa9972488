"""kelvaned's answers to bad requests and its security rules, as one table, against the real
program; none of these requests may send anything to a monitor. (What hostile clients meet is
test_hostile.py's.)"""

import os
import socket
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from fleet import SimulatedFleet  # noqa: E402
from kelvaned import Kelvaned, config_text  # noqa: E402

TOKEN = "s3cret-token"
JSON = {"Content-Type": "application/json"}
SOURCES = "HDMI1, HDMI2, HDMI3 or VGA"

# (kelvaned: "open" without a token, "token" with one; method, path, headers, body;
#  status, words of the error or None for any)
CASES = [
    ("open", "GET", "/nowhere", {}, None, 404, "no such path"),
    ("open", "GET", "/api/monitors/nobody", {}, None, 404, '"nobody"'),
    ("open", "POST", "/api/monitors/nobody/reset", JSON, "", 404, '"nobody"'),
    ("open", "GET", "/api/monitors/m/unknown", {}, None, 404, "no such path"),
    ("open", "DELETE", "/api/monitors", {}, None, 405, "GET"),
    ("open", "GET", "/api/monitors/m/source", {}, None, 405, "POST"),
    ("open", "PUT", "/api/monitors/m/reset", JSON, "{}", 405, "POST"),
    ("open", "POST", "/metrics", JSON, "{}", 405, "GET"),
    ("open", "OPTIONS", "/api/monitors/m/source", {"Origin": "http://elsewhere.example"}, None,
     405, "POST"),
    ("open", "POST", "/api/monitors/m/source", JSON, '{"source": "HDMI4"}', 400, SOURCES),
    ("open", "POST", "/api/monitors/m/source", JSON, '{"source": 2}', 400, SOURCES),
    ("open", "POST", "/api/monitors/m/source", JSON, "{}", 400, "source"),
    ("open", "POST", "/api/monitors/m/source", JSON, '{"source": "HDMI2"', 400, "JSON"),
    ("open", "POST", "/api/monitors/m/source", JSON, "", 400, "JSON"),
    ("open", "POST", "/api/monitors/m/source", JSON, '{"source": "HDMI2", "source": "HDMI3"}',
     400, "twice"),
    ("open", "POST", "/api/monitors/m/reset", JSON, '{"now": true}', 400, "no body"),
    ("open", "POST", "/api/monitors/m/diagnostic", JSON, "[]", 400, "JSON object"),
    ("open", "POST", "/api/monitors/m/source", JSON, '{"source": "%s"}' % ("x" * 4200), 413,
     "4096"),
    ("open", "POST", "/api/monitors/m/source", {"Content-Type": "text/plain"},
     '{"source": "HDMI2"}', 415, "application/json"),
    ("open", "POST", "/api/monitors/m/source", {}, '{"source": "HDMI2"}', 415,
     "application/json"),
    ("open", "POST", "/api/monitors/m/source",
     {"Content-Type": "application/x-www-form-urlencoded"}, "source=HDMI2", 415,
     "application/json"),
    # The type may carry parameters: this one passes, and only its source is wrong.
    ("open", "POST", "/api/monitors/m/source", {"Content-Type": "application/json; charset=utf-8"},
     '{"source": "HDMI9"}', 400, SOURCES),
    # Only the names kelvaned knows, and posts from its own page or from a program.
    ("open", "GET", "/api/monitors", {"Host": "evil.example"}, None, 421, "allowed_hosts"),
    ("open", "GET", "/", {"Host": "evil.example:9420"}, None, 421, "allowed_hosts"),
    ("open", "POST", "/api/monitors/m/source", {**JSON, "Host": "evil.example"},
     '{"source": "HDMI2"}', 421, "allowed_hosts"),
    ("open", "POST", "/api/monitors/m/source", {**JSON, "Origin": "http://evil.example"},
     '{"source": "HDMI2"}', 403, "own page"),
    ("open", "POST", "/api/monitors/m/source",
     {**JSON, "Host": "localhost", "Origin": "http://localhost:8080"}, '{"source": "HDMI2"}',
     403, "own page"),
    ("open", "POST", "/api/monitors/m/source",
     {**JSON, "Host": "localhost", "Origin": "http://localhost"}, '{"source": "HDMI9"}', 400,
     SOURCES),
    ("token", "GET", "/api/monitors", {}, None, 200, None),
    ("token", "POST", "/api/monitors/m/source", JSON, '{"source": "HDMI9"}', 401, "Bearer"),
    ("token", "POST", "/api/monitors/m/source", {**JSON, "Authorization": "Bearer wrong"},
     '{"source": "HDMI9"}', 403, "wrong"),
    ("token", "POST", "/api/monitors/m/source",
     {**JSON, "Authorization": "Bearer " + TOKEN + "x"}, '{"source": "HDMI9"}', 403, "wrong"),
    ("token", "POST", "/api/monitors/m/source", {**JSON, "Authorization": "Basic " + TOKEN},
     '{"source": "HDMI9"}', 403, "wrong"),
    ("token", "POST", "/api/monitors/m/source", {**JSON, "Authorization": "Bearer " + TOKEN},
     '{"source": "HDMI9"}', 400, SOURCES),
    ("token", "POST", "/api/monitors/m/reset", {"Authorization": "Bearer " + TOKEN}, "", 415,
     "application/json"),
    ("token", "POST", "/api/monitors/m/source",
     {**JSON, "Authorization": "Bearer " + TOKEN, "Origin": "http://evil.example"},
     '{"source": "HDMI2"}', 403, "own page"),
]


class RequestsAndSecurity(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.fleet = SimulatedFleet(1, 1)
        try:
            # One poll, at the start: afterwards nothing may reach the monitor.
            open_folder = os.path.join(cls.folder.name, "open")
            token_folder = os.path.join(cls.folder.name, "token")
            os.makedirs(open_folder)
            os.makedirs(token_folder)
            cls.open = Kelvaned(open_folder,
                                config_text([("m", cls.fleet.targets[0], 1)], interval=3600))
            token_file = cls.token_file = os.path.join(token_folder, "token")
            cls.write_token(TOKEN)
            # Its monitor is behind a port where no one listens: it never sends a frame.
            cls.token = Kelvaned(token_folder, config_text([("m", "tcp:127.0.0.1:9", 1)],
                                                           interval=3600, token_file=token_file))
        except Exception:
            cls.fleet.close()
            raise

    @classmethod
    def write_token(cls, token):
        with open(cls.token_file, "w") as out:
            out.write(token + "\n")
        os.chmod(cls.token_file, 0o600)

    @classmethod
    def tearDownClass(cls):
        for kelvaned in ("open", "token"):
            if hasattr(cls, kelvaned):
                getattr(cls, kelvaned).close()
        cls.fleet.close()
        cls.folder.cleanup()

    def test_an_operation_runs_at_once_not_at_the_next_poll_an_hour_away(self):
        self.open.polled(30)
        answer = self.open.post("/api/monitors/m/diagnostic", {})
        self.assertEqual(answer.status, 200, answer.body)
        self.assertIn("@@1KESPLS", self.fleet.frames(0))

    def test_bad_requests_and_the_security_rules_send_nothing_to_a_monitor(self):
        self.open.polled(30)
        frames = len(self.fleet.frames(0))
        for which, method, path, headers, body, status, words in CASES:
            with self.subTest(kelvaned=which, method=method, path=path, headers=headers,
                              body=(body or "")[:40]):
                kelvaned = self.open if which == "open" else self.token
                answer = kelvaned.request(method, path, body, headers)
                self.assertEqual(answer.status, status, answer.body)
                if words is not None:
                    self.assertEqual(answer.headers.get("Content-Type"), "application/json")
                    self.assertIn(words, answer.json()["error"])
                self.assertFalse([h for h in answer.headers if h.lower().startswith("access-")],
                                 "no CORS headers")
                if status == 401:
                    self.assertEqual(answer.headers.get("WWW-Authenticate"), "Bearer")
        self.assertEqual(self.fleet.frames(0)[frames:], [])

    def test_a_reload_takes_the_token_files_new_token(self):
        def status(token):
            return self.token.post("/api/monitors/m/source", {"source": "HDMI9"},
                                   {"Authorization": "Bearer " + token}).status
        self.addCleanup(self.reload_token, TOKEN)
        self.reload_token("n3w-token")
        self.assertEqual((status(TOKEN), status("n3w-token")), (403, 400))

    def reload_token(self, token):
        self.write_token(token)
        self.token.reload()
        self.token.wait_for(r"reloaded: ")

    def test_a_post_without_content_length_has_no_body_and_is_answered_at_once(self):
        for path, status in (("/api/monitors/nobody/reset", b"404"),
                             ("/api/monitors/m/source", b"400")):
            with self.subTest(path):
                client = socket.create_connection(("127.0.0.1", self.open.port), timeout=3)
                self.addCleanup(client.close)
                # As curl -X POST sends it: no Content-Length, no body.
                client.sendall(b"POST %s HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                               b"Content-Type: application/json\r\n\r\n" % path.encode())
                self.assertTrue(client.recv(1000).startswith(b"HTTP/1.1 " + status))


if __name__ == "__main__":
    unittest.main()
