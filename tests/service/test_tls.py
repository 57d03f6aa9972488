"""kelvaned over HTTPS, with a certificate authority and certificates the test makes itself
(certtool): the page, the API, the event stream and a real Prometheus over HTTPS; plain HTTP to
the port is not answered as HTTP; a SIGHUP serves a renewed certificate to new connections while
the connections already open go on, and refuses a key open to others. No monitor answers: the one
configured is on a closed port, on a line named by a [[line]] table."""

import http.client
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelvaned import HTTP_S, PROGRAM, Kelvaned, config_text  # noqa: E402

# Off the journal, each log line begins with its time.
STAMP = re.compile(r"(?m)^\S+Z (?=kelvaned: )")
from test_prometheus import Prometheus  # noqa: E402

SERVER_TEMPLATE = """cn = "kelvaned"
ip_address = "127.0.0.1"
tls_www_server
signing_key
serial = %d
expiration_days = 2
"""


def certtool(*args):
    subprocess.run(["certtool", *args], check=True, capture_output=True, timeout=60)


class Authority:
    """A certificate authority of the test's own, in folder, and the server certificates it
    signs for 127.0.0.1."""

    def __init__(self, folder):
        self.folder = folder
        self.ca = self.path("ca.pem")
        key = self.key("ca")
        template = self.write("ca.tmpl", 'cn = "kelvaned test CA"\nca\ncert_signing_key\n'
                                         'expiration_days = 2\n')
        certtool("--generate-self-signed", "--load-privkey", key, "--template", template,
                 "--outfile", self.ca)

    def path(self, name):
        return os.path.join(self.folder, name)

    def write(self, name, text):
        with open(self.path(name), "w") as out:
            out.write(text)
        return self.path(name)

    def key(self, name):
        certtool("--generate-privkey", "--key-type=ecdsa", "--outfile", self.path(name + ".key"))
        os.chmod(self.path(name + ".key"), 0o600)
        return self.path(name + ".key")

    def server(self, serial):
        """A new key and its certificate, by their paths; the serial tells them apart."""
        name = "server%d" % serial
        key = self.key(name)
        template = self.write(name + ".tmpl", SERVER_TEMPLATE % serial)
        certtool("--generate-certificate", "--load-privkey", key, "--load-ca-certificate",
                 self.ca, "--load-ca-privkey", self.path("ca.key"), "--template", template,
                 "--outfile", self.path(name + ".pem"))
        return self.path(name + ".pem"), key


def der(pem_path):
    with open(pem_path) as pem:
        return ssl.PEM_cert_to_DER_cert(pem.read())


def read_event(answer):
    """The next event of a stream: its name and its data."""
    fields = {}
    while True:
        line = answer.fp.readline().decode("utf-8").rstrip("\n")
        if not line and "event" in fields:
            return fields["event"], fields.get("data")
        if line and not line.startswith(":"):
            name, _, value = line.partition(": ")
            fields[name] = value


class OverHttps(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.authority = Authority(cls.folder.name)
        cls.cert = os.path.join(cls.folder.name, "cert.pem")
        cls.key = os.path.join(cls.folder.name, "key.pem")
        cls.install(*cls.authority.server(2))
        closed = socket.socket()
        closed.bind(("127.0.0.1", 0))
        target = cls.target = "tcp:127.0.0.1:%d" % closed.getsockname()[1]
        closed.close()
        cls.text = (config_text([("rack", target, 1)]) +
                    '\n[[line]]\nname = "Lobby rack"\ntarget = "%s"\n' % target)
        cls.text = cls.text.replace("\n\n[[monitor]]", '\ntls_cert_file = "%s"\ntls_key_file = '
                                    '"%s"\n\n[[monitor]]' % (cls.cert, cls.key), 1)
        cls.kelvaned = Kelvaned(cls.folder.name, cls.text)
        cls.context = ssl.create_default_context(cafile=cls.authority.ca)

    @classmethod
    def tearDownClass(cls):
        cls.kelvaned.close()
        cls.folder.cleanup()

    @classmethod
    def install(cls, cert, key):
        shutil.copyfile(cert, cls.cert)
        shutil.copyfile(key, cls.key)
        os.chmod(cls.key, 0o600)

    def connect(self):
        return http.client.HTTPSConnection("127.0.0.1", self.kelvaned.port, timeout=HTTP_S,
                                           context=self.context)

    def get(self, connection, path):
        connection.request("GET", path)
        answer = connection.getresponse()
        return answer.status, answer.read().decode("utf-8")

    def test_the_page_the_api_and_the_event_stream_answer_over_https(self):
        self.assertIn("kelvaned: listening on https://127.0.0.1:%d" % self.kelvaned.port,
                      self.kelvaned.log)
        # The system's reason for the line that does not open, said once.
        refused = "%s: cannot open the line: connection refused; tried again" % self.target
        if not any(refused in line for line in self.kelvaned.read_log()):
            self.kelvaned.wait_for(re.escape(refused))
        connection = self.connect()
        self.addCleanup(connection.close)
        status, page = self.get(connection, "/")
        self.assertEqual(status, 200)
        self.assertIn("<html", page.lower())
        status, body = self.get(connection, "/api/monitors/rack")
        self.assertEqual(status, 200)
        self.assertIn('"line":"Lobby rack"', body)
        stream = self.connect()
        self.addCleanup(stream.close)
        stream.request("GET", "/api/events")
        self.assertEqual(read_event(stream.getresponse())[0], "fleet")

    def test_prometheus_scrapes_over_https_with_the_line_named(self):
        text = ("global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: kelvaned\n"
                "    scheme: https\n    tls_config:\n      ca_file: %s\n    static_configs:\n"
                "      - targets: ['127.0.0.1:%d']\n" % (self.authority.ca, self.kelvaned.port))
        prometheus = Prometheus(self.folder.name, [], text)
        self.addCleanup(prometheus.close)
        deadline = time.monotonic() + 30
        while True:
            result = prometheus.api("query", query='kelvane_monitor_up{line="Lobby rack"}')
            if result["result"] or time.monotonic() > deadline:
                break
            time.sleep(0.2)
        self.assertEqual([(r["metric"]["monitor"], r["value"][1]) for r in result["result"]],
                         [("rack", "0")])

    def test_plain_http_to_the_port_is_not_answered_as_http(self):
        with socket.create_connection(("127.0.0.1", self.kelvaned.port), timeout=HTTP_S) as plain:
            plain.sendall(b"GET /api/monitors HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            answer = b""
            while len(answer) < 4096:
                got = plain.recv(4096)
                if not got:
                    break
                answer += got
        self.assertFalse(answer.startswith(b"HTTP/"), answer)

    def test_a_reload_serves_a_renewed_certificate_and_the_open_connections_go_on(self):
        first = self.connect()
        self.addCleanup(first.close)
        self.assertEqual(self.get(first, "/healthz")[0], 200)
        stream = self.connect()
        self.addCleanup(stream.close)
        stream.request("GET", "/api/events")
        events = stream.getresponse()
        self.assertEqual(read_event(events)[0], "fleet")
        before = first.sock.getpeercert(binary_form=True)

        renewed, key = self.authority.server(3)
        self.install(renewed, key)
        self.kelvaned.reload()
        self.kelvaned.wait_for(r"reloaded: 1 monitors")
        fresh = self.connect()
        self.addCleanup(fresh.close)
        self.assertEqual(self.get(fresh, "/healthz")[0], 200)
        self.assertEqual(fresh.sock.getpeercert(binary_form=True), der(renewed))
        # The connection of before, on the same socket, and the stream, which tells of the reload.
        self.assertEqual(self.get(first, "/healthz")[0], 200)
        self.assertEqual(first.sock.getpeercert(binary_form=True), before)
        self.assertEqual(read_event(events)[0], "fleet")

        os.chmod(self.key, 0o644)
        self.addCleanup(os.chmod, self.key, 0o600)
        self.kelvaned.reload()
        self.kelvaned.wait_for(r"reload refused, the configuration in force goes on: .*"
                               r"tls_key_file: .*key\.pem is open to others")
        again = self.connect()
        self.addCleanup(again.close)
        self.assertEqual(self.get(again, "/healthz")[0], 200)
        self.assertEqual(again.sock.getpeercert(binary_form=True), der(renewed))

    def test_a_key_open_to_others_or_of_another_certificate_stops_the_start(self):
        other_cert, _ = self.authority.server(4)
        _, other_key = self.authority.server(5)
        os.chmod(other_key, 0o640)
        cases = [(self.cert, self.key, 0o604, "open to others"),
                 (other_cert, other_key, 0o600, "do not match")]
        for cert, key, mode, words in cases:
            with self.subTest(words):
                path = os.path.join(self.folder.name, "check.toml")
                with open(path, "w") as out:
                    out.write('tls_cert_file = "%s"\ntls_key_file = "%s"\n' % (cert, key))
                os.chmod(key, mode)
                done = subprocess.run([PROGRAM, "--config", path, "--check"],
                                      capture_output=True, text=True, timeout=30)
                done.stderr = STAMP.sub("", done.stderr)
                os.chmod(key, 0o600)
                self.assertEqual(done.returncode, 2)
                self.assertTrue(done.stderr.startswith("kelvaned: %s:2: tls_key_file: " % path),
                                done.stderr)
                self.assertIn(words, done.stderr)


if __name__ == "__main__":
    unittest.main()
