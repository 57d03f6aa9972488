"""kelvaned's page in a real browser: Debian's headless Chromium, driven by Selenium, against the
real kelvaned and a simulated fleet of 8 monitors on 2 device servers. Run by ctest through
scripts/test.sh; it writes the page's screenshots at a phone's and a desktop's width to
build/screenshots/."""

import http.client
import os
import stat
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from browser import Browser  # noqa: E402
from fleet import SimulatedFleet  # noqa: E402
from kelvaned import Kelvaned, config_text, fleet_monitors  # noqa: E402
from simulator import BUILD, ROOT  # noqa: E402

INTERVAL_S = 2
# Four monitors on a chain, three paced exchanges each: a first sweep takes about 4 s.
FIRST_SWEEP_S = 30
SCREENSHOTS = os.path.join(BUILD, "screenshots")
# The firmware of the first server's monitors: markup, which the page must show as characters.
MARKUP = "<b>x"
TOKEN = "s3cret-page-token"

# Every row of the page, as its cells read.
ROWS = """
const rows = {};
for (const li of document.querySelectorAll(".monitor")) {
    const text = (name) => li.querySelector("." + name + " .value").textContent;
    const why = li.querySelector(".state .why").textContent;
    rows[li.dataset.name] = {
        unit: text("unit"), state: text("state") + (why ? ": " + why : ""),
        source: text("source"),
        signal: text("signal"), firmware: text("firmware"), last: text("last"),
        result: text("result"), shown: !li.hidden && li.offsetParent !== null,
        enabled: [...li.querySelectorAll("button")].map((b) => !b.disabled),
    };
}
return rows;
"""


class ThePage(unittest.TestCase):
    """The fleet (server 0's monitors with markup for a firmware, server 1's without signal, and
    apart so that a test stops it) and a browser for the whole class; a kelvaned for each test:
    a device server takes one client at a time."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.fleet = SimulatedFleet(2, 4, server_switches={0: ["--firmware", MARKUP],
                                                          1: ["--no-signal"]}, apart=(1,))
        try:
            cls.browser = Browser()
        except Exception:
            cls.fleet.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        cls.fleet.close()
        cls.folder.cleanup()

    def setUp(self):
        self.kelvaned = None
        self.expected_errors = []
        self.browser.read_console()

    def tearDown(self):
        # The page first: its stream cut by kelvaned's end would be an error of its own.
        self.browser.open("about:blank")
        errors = self.browser.console_errors(*self.expected_errors)
        if self.kelvaned:
            self.kelvaned.close()
        self.assertEqual(errors, [], "the browser's console")

    def start(self, *args, **config):
        self.kelvaned = Kelvaned(self.folder.name,
                                 config_text(fleet_monitors(self.fleet), INTERVAL_S, **config),
                                 *args)
        return self.kelvaned

    def open_page(self):
        self.browser.resize(1280, 800)
        self.browser.open("http://127.0.0.1:%d/" % self.kelvaned.port)
        # A mark that a reload would lose.
        self.browser.script("window.notReloaded = true")

    def rows(self):
        return self.browser.script(ROWS)

    def wait_rows(self, condition, what, seconds=FIRST_SWEEP_S):
        return self.browser.wait(lambda _: (lambda rows: condition(rows) and rows)(self.rows()),
                                 what, seconds)

    def wait_answering(self):
        return self.wait_rows(lambda rows: len(rows) == 8 and all(
            row["state"] == "answering" for row in rows.values()), "8 rows, all answering")

    def button(self, name, label):
        return self.browser.find('.monitor[data-name="%s"] button[aria-label="%s on %s"]'
                                 % (name, label, name))

    def test_lists_the_monitors_by_line_with_the_simulators_values_as_text(self):
        self.start()
        self.open_page()
        rows = self.wait_answering()
        self.assertEqual(list(rows), ["m1-1", "m1-2", "m1-3", "m1-4",
                                      "m2-1", "m2-2", "m2-3", "m2-4"])
        for name, row in rows.items():
            server, unit = name[1], name[3]
            self.assertEqual((row["unit"], row["source"], row["signal"], row["firmware"]),
                             (unit, "HDMI1", "ok" if server == "1" else "no signal",
                              MARKUP if server == "1" else "1.02"), name)
            self.assertRegex(row["last"], r"^\d+ s ago$")
        self.assertEqual(self.browser.find_all(".firmware b"), [], "markup shown as text")
        self.assertEqual([h.text for h in self.browser.find_all(".line .target")],
                         self.fleet.targets)
        self.assertEqual(self.browser.find("#summary").text, "8 of 8 answering · 4 without signal")
        self.assertEqual(self.browser.driver.title, "Kelvane fleet")

        self.browser.find("#filter").send_keys("m2-")
        self.wait_rows(lambda rows: [n for n, r in rows.items() if r["shown"]]
                       == ["m2-1", "m2-2", "m2-3", "m2-4"], "the filter narrows to m2-*", 5)
        self.browser.find("#filter").clear()
        self.browser.find("#filter").send_keys(self.fleet.targets[0])
        self.wait_rows(lambda rows: [n for n, r in rows.items() if r["shown"]]
                       == ["m1-1", "m1-2", "m1-3", "m1-4"], "the filter narrows to a line", 5)
        self.browser.script("const f = document.getElementById('filter');"
                            "f.value = ''; f.dispatchEvent(new Event('input')); f.blur()")

        connection = http.client.HTTPConnection("127.0.0.1", self.kelvaned.port, timeout=30)
        connection.request("GET", "/")
        page = connection.getresponse()
        page.read()
        self.assertEqual(page.getheader("Content-Security-Policy").split(";")[0],
                         "default-src 'self'")
        connection.request("GET", "/favicon.ico")
        icon = connection.getresponse()
        with open(os.path.join(ROOT, "res", "Kelvane.ico"), "rb") as ico:
            self.assertEqual((icon.getheader("Content-Type"), icon.read()),
                             ("image/x-icon", ico.read()))
        connection.close()

    def test_hdmi2_switches_that_monitor_while_its_row_is_busy_and_the_row_then_shows_it(self):
        self.start()
        self.open_page()
        self.wait_answering()
        self.button("m1-2", "HDMI2").click()
        rows = self.rows()
        self.assertEqual(rows["m1-2"]["enabled"], [False] * 6, "busy")
        self.assertEqual(rows["m1-3"]["enabled"], [True] * 6, "the other rows stay usable")
        self.fleet.wait_for(0, r"^RX @@2SSSHD2$")
        self.wait_rows(lambda rows: (rows["m1-2"]["result"], rows["m1-2"]["source"],
                                     rows["m1-2"]["enabled"]) == ("done", "HDMI2", [True] * 6),
                       "m1-2 done, on HDMI2", 10)
        self.assertNotIn("@@1SSSHD2", self.fleet.frames(0))

        # A reset asks first; one that is not confirmed sends nothing.
        self.button("m1-2", "Reset").click()
        alert = self.browser.wait(lambda d: d.switch_to.alert, "the confirmation", 5)
        self.assertIn("m1-2", alert.text)
        alert.dismiss()
        self.button("m1-2", "HDMI1").click()
        self.wait_rows(lambda rows: rows["m1-2"]["source"] == "HDMI1", "m1-2 back on HDMI1", 10)
        self.assertNotIn("@@2KESFAC", self.fleet.frames(0))

    def test_a_device_server_stopped_turns_its_rows_to_not_answering_without_a_reload(self):
        self.start()
        self.open_page()
        self.wait_answering()
        self.button("m1-1", "HDMI1").click()
        self.wait_rows(lambda rows: rows["m1-1"]["result"] == "done", "m1-1 done", 10)
        self.fleet.stop(1)
        stopped = time.monotonic()
        try:
            rows = self.wait_rows(lambda rows: all(
                rows[n]["state"].startswith("not answering: ") for n in
                ("m2-1", "m2-2", "m2-3", "m2-4")), "server 1's rows not answering",
                2 * INTERVAL_S + 1)
            self.assertLess(time.monotonic() - stopped, 2 * INTERVAL_S + 1)
            # The poll under way when the server stopped met no answer; the others no line.
            states = [rows["m2-%d" % u]["state"] for u in range(1, 5)]
            self.assertLessEqual(set(states), {"not answering: no answer",
                                               "not answering: cannot open the line"})
            self.assertIn("not answering: cannot open the line", states)
            self.assertEqual(rows["m2-1"]["firmware"], "1.02", "the last values read stay")
            self.assertEqual([rows["m1-%d" % u]["state"] for u in range(1, 5)],
                             ["answering"] * 4)
            self.assertEqual(self.browser.find("#summary").text, "4 of 8 answering")
            self.assertTrue(self.browser.script("return window.notReloaded"))
            # A line down and one answering: the page's pictures, and its widths.
            for width, height in ((1280, 800), (1000, 700), (390, 844)):
                self.browser.resize(width, height)
                self.assertLessEqual(
                    self.browser.script("return document.documentElement.scrollWidth"), width,
                    "no horizontal scrolling at %d px" % width)
                if width != 1000:
                    self.browser.screenshot(
                        os.path.join(SCREENSHOTS, "kelvaned-page-%d.png" % width))
        finally:
            self.fleet.start(1)
        self.wait_answering()

    def test_with_a_token_it_asks_once_keeps_it_for_the_tab_and_a_wrong_one_says_so(self):
        token_file = os.path.join(self.folder.name, "token")
        with open(token_file, "w") as out:
            out.write(TOKEN + "\n")
        os.chmod(token_file, stat.S_IRUSR | stat.S_IWUSR)
        self.start(token_file=token_file)
        # The browser reports the answers 401 and 403 in its console; they are this test's.
        self.expected_errors = ["status of 401", "status of 403"]
        self.open_page()
        self.wait_answering()
        dialog = self.browser.find("#token-dialog")

        self.button("m1-1", "HDMI3").click()
        self.browser.wait(lambda _: dialog.is_displayed(), "the token's question")
        self.browser.find("#token").send_keys("wrong-token")
        self.browser.find("#token-ok").click()
        self.wait_rows(lambda rows: rows["m1-1"]["result"]
                       == "refused by kelvaned: the token is wrong", "the 403 message", 10)

        self.button("m1-1", "HDMI3").click()
        self.browser.wait(lambda _: dialog.is_displayed(), "the question again")
        self.browser.find("#token").send_keys(TOKEN)
        self.browser.find("#token-ok").click()
        self.wait_rows(lambda rows: (rows["m1-1"]["result"], rows["m1-1"]["source"])
                       == ("done", "HDMI3"), "m1-1 on HDMI3", 10)
        self.assertIn("@@1SSSHD3", self.fleet.frames(0))

        self.button("m1-1", "HDMI1").click()
        self.assertFalse(dialog.is_displayed(), "the token is kept for the tab")
        self.wait_rows(lambda rows: rows["m1-1"]["source"] == "HDMI1", "m1-1 back on HDMI1", 10)

    def test_it_reconnects_by_itself_when_kelvaned_restarts(self):
        self.start()
        port = self.kelvaned.port
        self.open_page()
        self.wait_answering()
        self.kelvaned.stop()
        # The browser reports each try to open the stream while kelvaned is away.
        self.expected_errors = ["/api/events - Failed to load resource",
                                "net::ERR_CONNECTION_REFUSED"]
        self.browser.wait(lambda _: "not reachable" in self.browser.find("#connection").text,
                          "the page tells the stream is lost")
        self.kelvaned.close()
        self.start(listen="127.0.0.1:%d" % port)
        self.browser.wait(lambda _: self.browser.find("#connection").text == "live",
                          "the page live again")
        self.wait_answering()
        self.assertTrue(self.browser.script("return window.notReloaded"))


if __name__ == "__main__":
    unittest.main()
