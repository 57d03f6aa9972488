"""kelvaned's configuration as the program takes it: kelvaned --check on bad files (a table), the
token file's rules, the help and the version, and the token across reloads of a kelvaned without
monitors. Nothing here starts a monitor: --check connects to nothing."""

import os
import re
import socket
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kelvaned import PROGRAM, Kelvaned, config_text  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

GOOD_MONITOR = '[[monitor]]\nname = "a"\ntarget = "tcp:127.0.0.1:4001"\nunit = 1\n'
# Root reads a file of any mode: the paths that are no file to read are tried by this user then.
NOBODY = 65534


def a_directory(folder):
    return folder


def a_device(folder):
    return "/dev/null"


def an_unreadable_file(folder):
    os.chmod(folder, 0o711)
    path = os.path.join(folder, "kelvaned.toml")
    with open(path, "w") as out:
        out.write(GOOD_MONITOR)
    os.chmod(path, 0)
    return path


def second(old, new, unit="unit = 1"):
    """GOOD_MONITOR, then a monitor b with old in its target written as new, and unit."""
    return GOOD_MONITOR + GOOD_MONITOR.replace('"a"', '"b"').replace(old, new).replace(
        "unit = 1", unit)


# (the file's text, the line, the key, words of the message), or (the file's text, a list of
# those three, one for each error, in their order); for a path that is no file to read (what makes
# it, None, None, words)
BAD_FILES = [
    ('listen = "127.0.0.1:9420"\nport = 1\n', 2, "port", "unknown key"),
    ('[[monitor]]\nname = "a"\ntarget = "tcp:127.0.0.1:4001"\ncolour = "red"\n', 4,
     "monitor[1].colour", "unknown key"),
    (GOOD_MONITOR + '[[monitor]]\nname = "a"\ntarget = "tcp:127.0.0.1:4002"\n', 5,
     "monitor[2].name", "another monitor"),
    (GOOD_MONITOR.replace("unit = 1", "unit = 256"), 4, "monitor[1].unit", "0-255"),
    (GOOD_MONITOR.replace("unit = 1", "unit = -1"), 4, "monitor[1].unit", "0-255"),
    (GOOD_MONITOR.replace("unit = 1", 'unit = "1"'), 4, "monitor[1].unit", "whole number"),
    (GOOD_MONITOR.replace("tcp:127.0.0.1:4001", "tcp:127.0.0.1"), 3, "monitor[1].target",
     "tcp:HOST:PORT"),
    (GOOD_MONITOR.replace("tcp:127.0.0.1:4001", "tcp:127.0.0.1:70000"), 3, "monitor[1].target",
     "1 to 65535"),
    (GOOD_MONITOR.replace('"a"', '"Lobby Left"'), 2, "monitor[1].name", "a-z"),
    (GOOD_MONITOR.replace('"a"', '"%s"' % ("a" * 65)), 2, "monitor[1].name", "1-64"),
    ('[[monitor]]\ntarget = "tcp:127.0.0.1:4001"\n', 1, "monitor[1].name", "missing"),
    ('[[monitor]]\nname = "a"\n', 1, "monitor[1].target", "missing"),
    (GOOD_MONITOR + GOOD_MONITOR.replace('"a"', '"b"'), 5, "monitor[2].unit", "is a already"),
    # The same line written another way is the same line.
    (GOOD_MONITOR + GOOD_MONITOR.replace('"a"', '"b"').replace("tcp:", "TCP:"), 5,
     "monitor[2].unit", "is a already"),
    (GOOD_MONITOR.replace("\nunit = 1", "") + GOOD_MONITOR.replace('"a"', '"b"'), 1,
     "monitor[1].unit", "shares its line with b"),
    ('poll_interval_s = 0\n', 1, "poll_interval_s", "1-3600"),
    ('poll_interval_s = 3601\n', 1, "poll_interval_s", "1-3600"),
    ('poll_interval_s = 1.5\n', 1, "poll_interval_s", "whole number"),
    ('timing = "quick"\n', 1, "timing", '"paced" nor "fast"'),
    ('listen = "localhost:9420"\n', 1, "listen", "numeric"),
    ('listen = "127.0.0.1:99999"\n', 1, "listen", "0 to 65535"),
    ('listen = "::1:9420"\n', 1, "listen", "numeric IPv4"),
    ('# a site\n\nlisten = "0.0.0.0:9420"\n', 3, "listen", "token_file"),
    ('\nlisten = "[::]:9420"\n', 2, "listen", "token_file"),
    ('token_file = "token"\n', 1, "token_file", "absolute path"),
    ('allowed_hosts = "screens.example.org"\n', 1, "allowed_hosts", "list of host names"),
    ('allowed_hosts = [1]\n', 1, "allowed_hosts", "text in quotes"),
    ('allowed_hosts = [\n  "screens.example.org",\n  "http://screens.example.org",\n]\n', 3,
     "allowed_hosts", "not a host name"),
    ('monitor = "a"\n', 1, "monitor", "[[monitor]]"),
    (GOOD_MONITOR + '[[group]]\nname = "lobby"\nmonitors = ["a", "lobby-*"]\n', 7,
     "group[1].monitors", '"lobby-*" matches no monitor'),
    (GOOD_MONITOR + '[[group]]\nname = "a"\nmonitors = ["a"]\n', 6, "group[1].name",
     "names a monitor already"),
    (GOOD_MONITOR + '[[group]]\nname = "g"\nmonitors = ["a"]\n' * 2, 9, "group[2].name",
     "names another group already"),
    (GOOD_MONITOR + '[[group]]\nname = "g"\nmonitors = []\n', 7, "group[1].monitors",
     "list of monitors"),
    (GOOD_MONITOR + '[[group]]\nname = "g"\nmonitors = ["a"]\nlines = 2\n', 8,
     "group[1].lines", "unknown key"),
    (GOOD_MONITOR + '[[group]]\nname = "Front"\nmonitors = ["a"]\n', 6, "group[1].name", "a-z"),
    (GOOD_MONITOR + '[[group]]\nmonitors = ["a"]\n', 5, "group[1].name", "missing"),
    (GOOD_MONITOR + '[[group]]\nname = "g"\nmonitors = ["a", 2]\n', 7, "group[1].monitors",
     "text in quotes"),
    (GOOD_MONITOR + '[group]\nname = "g"\n', 5, "group", "[[group]]"),
    ('[monitor]\nname = "a"\n', 1, "monitor", "[[monitor]]"),
    ('listen = "127.0.0.1:9420\n', 1, "syntax", ""),
    # Targets that name one endpoint are one line, however they are written.
    (second("127.0.0.1", "localhost"), 5, "monitor[2].unit",
     "is a already (tcp:localhost:4001 and tcp:127.0.0.1:4001 are one line)"),
    (second("127.0.0.1", "127.1"), 5, "monitor[2].unit",
     "is a already (tcp:127.1:4001 and tcp:127.0.0.1:4001 are one line)"),
    (second("127.0.0.1", "[::ffff:127.0.0.1]"), 5, "monitor[2].unit",
     "is a already (tcp:[::ffff:127.0.0.1]:4001 and tcp:127.0.0.1:4001 are one line)"),
    (second("127.0.0.1", "localhost", unit=""), 5, "monitor[2].unit",
     "missing: b shares its line with a (tcp:localhost:4001 and tcp:127.0.0.1:4001 are one "
     "line)"),
    (second("127.0.0.1", "127.1", unit="unit = 0"), 5, "monitor[2].unit",
     "0 is where every monitor of a line answers, and b shares its line with a"),
    ('tls_cert_file = "/etc/kelvaned/cert.pem"\n', 1, "tls_key_file", "missing"),
    ('\ntls_key_file = "/etc/kelvaned/key.pem"\n', 2, "tls_cert_file", "missing"),
    ('tls_cert_file = "cert.pem"\ntls_key_file = "/k.pem"\n', 1, "tls_cert_file", "absolute"),
    ('tls_cert_file = "/nowhere/c.pem"\ntls_key_file = "/nowhere/k.pem"\n', 1, "tls_cert_file",
     "/nowhere/c.pem: cannot be read"),
    (GOOD_MONITOR + '[[line]]\nname = "Lobby rack"\ntarget = "tcp:127.0.0.1:4002"\n', 5,
     "line[1].target", "tcp:127.0.0.1:4002 is the line of no monitor"),
    (GOOD_MONITOR + '[[line]]\nname = ""\ntarget = "tcp:127.0.0.1:4001"\n', 6, "line[1].name",
     "not a line's name"),
    (GOOD_MONITOR + '[[line]]\ntarget = "tcp:127.0.0.1:4001"\n', 5, "line[1].name", "missing"),
    (second("127.0.0.1:4001", "127.0.0.1:4002", unit="") +
     '[[line]]\nname = "rack"\ntarget = "tcp:localhost:4001"\n'
     '[[line]]\nname = "rack"\ntarget = "tcp:127.0.0.1:4002"\n'
     '[[line]]\nname = "rack"\ntarget = "tcp:127.1:4001"\n',
     [(12, "line[2].name", '"rack" names line[1]\'s line already'),
      (15, "line[3].target", "named by line[1] already (tcp:127.1:4001 and tcp:localhost:4001 "
       "are one line)")]),
    # Every error of a file, each at its line, in the file's order.
    ('poll_interval_s = 0\ntiming = "quick"\ncolour = "red"\n' +
     GOOD_MONITOR.replace("unit = 1", "unit = 256\ncolour = 1") +
     GOOD_MONITOR.replace('"a"', '"B"'),
     [(1, "poll_interval_s", "1-3600"), (2, "timing", "quick"), (3, "colour", "unknown key"),
      (7, "monitor[1].unit", "0-255"), (8, "monitor[1].colour", "unknown key"),
      (10, "monitor[2].name", "a-z")]),
    (a_directory, None, None, "is a directory, not a file"),
    (a_device, None, None, "is a device, a pipe or a socket, not a file"),
    (an_unreadable_file, None, None, "cannot be read: Permission denied"),
    ('[mqtt]\nclient_id = "k"\n', 1, "mqtt.broker", "missing"),
    ('[mqtt]\nbroker = "tcp://127.0.0.1:1883"\n', 2, "mqtt.broker", "mqtt://HOST"),
    ('[mqtt]\nbroker = "mqtt://127.0.0.1:0"\n', 2, "mqtt.broker", "1 to 65535"),
    ('[mqtt]\nbroker = "mqtt://[::1:1883"\n', 2, "mqtt.broker", "brackets"),
    ('[mqtt]\nbroker = "mqtt://broker/x"\n', 2, "mqtt.broker", "not a host"),
    ('[mqtt]\nbroker = "mqtt://b"\nport = 1883\n', 3, "mqtt.port", "unknown key"),
    ('[mqtt]\nbroker = "mqtt://b"\nclient_id = "a b"\n', 3, "mqtt.client_id", "printable"),
    ('[mqtt]\nbroker = "mqtt://b"\nusername = ""\n', 3, "mqtt.username", "no user"),
    ('[mqtt]\nbroker = "mqtt://b"\nusername = "k"\npassword_file = "pw"\n', 4,
     "mqtt.password_file", "absolute path"),
    ('[mqtt]\nbroker = "mqtt://b"\npassword_file = "/pw"\n', 3, "mqtt.password_file",
     "needs a username"),
    ('[mqtt]\nbroker = "mqtt://b"\nca_file = "/ca.pem"\n', 3, "mqtt.ca_file", "mqtts://"),
    ('[mqtt]\nbroker = "mqtt://b"\ntopic_prefix = "a/#"\n', 3, "mqtt.topic_prefix",
     "no topic prefix"),
    ('[mqtt]\nbroker = "mqtt://b"\ntopic_prefix = "a//b"\n', 3, "mqtt.topic_prefix",
     "no topic prefix"),
    ('[mqtt]\nbroker = "mqtt://b"\ndiscovery_prefix = "$SYS"\n', 3, "mqtt.discovery_prefix",
     "no topic prefix"),
    ('[mqtt]\nbroker = "mqtt://b"\ncommands = "no"\n', 3, "mqtt.commands", "true or false"),
    ('mqtt = "mqtt://b"\n', 1, "mqtt", "table"),
]


def check(path, user=None):
    """kelvaned --check, its log lines without the time they begin with."""
    done = subprocess.run([PROGRAM, "--config", path, "--check"], capture_output=True, text=True,
                          timeout=30, user=user)
    done.stderr = re.sub(r"(?m)^\S+Z (?=kelvaned: )", "", done.stderr)
    return done


class TheConfiguration(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = folder.name

    def write(self, text, name="kelvaned.toml", mode=0o644):
        path = os.path.join(self.folder, name)
        with open(path, "w") as out:
            out.write(text)
        os.chmod(path, mode)
        return path

    def test_a_bad_file_stops_it_with_2_naming_the_file_the_line_and_the_key(self):
        for text, *row in BAD_FILES:
            with self.subTest(text=text):
                if callable(text):
                    path = text(self.folder)
                    done = check(path, NOBODY if os.geteuid() == 0 else None)
                    expected = [(path, row[2])]
                else:
                    path = self.write(text)
                    done = check(path)
                    expected = [("%s:%d: %s" % (path, line, key), words)
                                for line, key, words in (row[0] if len(row) == 1 else [row])]
                self.assertEqual(done.returncode, 2, done.stdout)
                lines = done.stderr.splitlines()
                self.assertEqual(len(lines), len(expected), done.stderr)
                for line, (where, words) in zip(lines, expected):
                    self.assertTrue(line.startswith("kelvaned: %s: " % where), done.stderr)
                    self.assertIn(words, line)

    def test_the_token_file_must_exist_hold_a_token_and_be_closed_to_others(self):
        cases = [("missing", None, None, "not a file that can be read"),
                 ("empty", "", 0o600, "no token"),
                 ("blanks alone", " \t\r\n\n", 0o600, "no token"),
                 ("three words", "ops-phone secret more\n", 0o600, "TOKEN or LABEL TOKEN"),
                 ("readable by others", "secret\n", 0o604, "by others"),
                 ("writable by others", "secret\n", 0o602, "by others"),
                 ("writable by its group", "secret\n", 0o660, "writable by its group"),
                 ("good", "secret\n", 0o640, None),
                 ("good with blanks around it", " \tsecret \r\n", 0o640, None),
                 ("good, labelled", "\nops-phone secret\ndesk other\n", 0o640, None)]
        for name, content, mode, words in cases:
            with self.subTest(name):
                token = os.path.join(self.folder, name.replace(" ", "-"))
                if content is not None:
                    self.write(content, os.path.basename(token), mode)
                path = self.write('listen = "0.0.0.0:9420"\n\ntoken_file = "%s"\n' % token)
                done = check(path)
                if words is None:
                    self.assertEqual(done.returncode, 0, done.stderr)
                    continue
                self.assertEqual(done.returncode, 2)
                self.assertTrue(done.stderr.startswith("kelvaned: %s:3: token_file: " % path),
                                done.stderr)
                self.assertIn(words, done.stderr)

    def test_the_mqtt_password_file_keeps_the_token_files_rules(self):
        password = self.write("secret\n", "mqtt-password", 0o644)
        path = self.write('[mqtt]\nbroker = "mqtt://127.0.0.1"\nusername = "k"\n'
                          'password_file = "%s"\n' % password)
        done = check(path)
        self.assertEqual(done.returncode, 2)
        self.assertTrue(done.stderr.startswith("kelvaned: %s:4: mqtt.password_file: " % path),
                        done.stderr)
        self.assertIn("is open to others", done.stderr)
        os.chmod(password, 0o600)
        self.assertEqual(check(path).returncode, 0)

    def test_check_reads_a_good_file_and_connects_to_nothing(self):
        server = socket.socket()
        self.addCleanup(server.close)
        server.bind(("127.0.0.1", 0))
        server.listen(1)
        server.settimeout(0.2)
        port = server.getsockname()[1]
        path = self.write(GOOD_MONITOR.replace("4001", str(port)) +
                          '[[monitor]]\nname = "b"\ntarget = "/dev/kelvaned-no-such-line"\n')
        done = check(path)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("good: 2 monitors on 2 lines, polled every 10 s, paced", done.stdout)
        with self.assertRaises(socket.timeout):
            server.accept()

    def test_the_shipped_example_is_good_and_has_no_monitors(self):
        done = check(os.path.join(ROOT, "packaging", "kelvaned.toml"))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("good: 0 monitors", done.stdout)

    def test_help_and_version(self):
        helped = subprocess.run([PROGRAM, "--help"], capture_output=True, text=True, timeout=30)
        self.assertEqual(helped.returncode, 0)
        for words in ("--config", "--check", "--version"):
            self.assertIn(words, helped.stdout)
        version = subprocess.run([PROGRAM, "--version"], capture_output=True, text=True,
                                 timeout=30)
        self.assertEqual(version.returncode, 0)
        with open(os.path.join(ROOT, "res", "Version.h")) as header:
            parts = dict(re.findall(r"#define KELVANE_VERSION_(\w+) (\d+)", header.read()))
        self.assertEqual(version.stdout.strip(), "%(MAJOR)s.%(MINOR)s.%(BUILD)s.%(REVISION)s"
                         % parts)
        wrong = subprocess.run([PROGRAM, "--no-such-switch"], capture_output=True, text=True,
                               timeout=30)
        self.assertEqual(wrong.returncode, 2)


class TheTokenAcrossReloads(unittest.TestCase):
    """A kelvaned without monitors: what a POST meets before and after a SIGHUP."""

    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = folder.name
        self.token = os.path.join(self.folder, "token")
        with open(self.token, "w") as out:
            out.write("  secret \t\n")
        os.chmod(self.token, 0o640)

    def start(self, listen):
        kelvaned = Kelvaned(self.folder, config_text([], listen=listen, token_file=self.token))
        self.addCleanup(kelvaned.close)
        return kelvaned

    def post(self, kelvaned, token=None):
        """The status of a POST with the token, or none: 404 when it is taken (no monitor)."""
        headers = {"Authorization": "Bearer " + token} if token else {}
        return kelvaned.post("/api/monitors/none/reset", {}, headers).status

    def test_the_token_is_read_without_blanks_and_a_reload_without_token_file_drops_it(self):
        kelvaned = self.start("127.0.0.1:0")
        self.assertEqual((self.post(kelvaned), self.post(kelvaned, "secret")), (401, 404))
        kelvaned.write_config(config_text([], listen="127.0.0.1:0"))
        kelvaned.reload()
        kelvaned.wait_for(r"reloaded: 0 monitors")
        self.assertEqual(self.post(kelvaned), 404)

    def test_a_reload_leaving_an_open_listener_without_a_token_or_a_file_is_refused(self):
        kelvaned = self.start("0.0.0.0:0")
        # Its own listen would be good; the listener in use is what counts.
        kelvaned.write_config(config_text([], listen="127.0.0.1:0"))
        kelvaned.reload()
        kelvaned.wait_for(r"reload refused, the configuration in force goes on: .*kelvaned\.toml: "
                          r"token_file is wanted while kelvaned listens on 0\.0\.0\.0:%d"
                          % kelvaned.port)
        self.assertEqual((self.post(kelvaned), self.post(kelvaned, "secret")), (401, 404))

        os.remove(kelvaned.config)
        os.mkdir(kelvaned.config)
        kelvaned.reload()
        kelvaned.wait_for(r"reload refused, the configuration in force goes on: .*kelvaned\.toml: "
                          r"is a directory")
        self.assertEqual(self.post(kelvaned, "secret"), 404)


if __name__ == "__main__":
    unittest.main()
