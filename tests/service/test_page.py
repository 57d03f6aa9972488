"""kelvaned's page in a real browser: Debian's headless Chromium, driven by Selenium, against the
real kelvaned and a simulated fleet of 30 monitors on 3 device servers, reached through a proxy
that serves kelvaned on a path of its own, as a site's proxy would. Run by ctest through
scripts/test.sh; it writes the page's screenshots at a phone's and a desktop's width to
build/screenshots/."""

import http.client
import http.server
import os
import stat
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from browser import Browser  # noqa: E402
from fleet import SimulatedFleet  # noqa: E402
from kelvaned import HTTP_S, Kelvaned, config_text, fleet_monitors  # noqa: E402
from simulator import BUILD, ROOT  # noqa: E402

SERVERS, UNITS = 3, 10
INTERVAL_S = 2
# Ten monitors on a chain, answer-driven: a first sweep takes a second or two; a loaded machine
# may take far longer.
FIRST_SWEEP_S = 30
SCREENSHOTS = os.path.join(BUILD, "screenshots")
# The firmware of the first server's monitors: markup, which the page must show as characters.
MARKUP = "<b>x"
TOKEN = "s3cret-page-token"
PHONE = (390, 844)
DESKTOP = (1280, 800)
# The path the proxy serves kelvaned on.
PREFIX = "/kelvane/"
# kelvaned does not tell groups or a log of operations yet: the page asks, hears 404, shows nothing.
NOT_YET = ["api/groups - Failed to load resource", "api/log?limit=20 - Failed to load resource"]

# Every row of the page, as its cells read, in the order shown: [name, cells] pairs (an object's
# keys come back sorted).
ROWS = """
const rows = [];
for (const li of document.querySelectorAll(".monitor")) {
    const text = (name) => li.querySelector("." + name + " .value").textContent;
    const why = li.querySelector(".state .why").textContent;
    const box = li.getBoundingClientRect();
    rows.push([li.dataset.name, {
        unit: text("unit"), state: text("state") + (why ? ": " + why : ""),
        source: text("source"),
        signal: text("signal"), firmware: text("firmware"), last: text("last"),
        result: text("result"), shown: !li.hidden && li.offsetParent !== null,
        enabled: [...li.querySelectorAll(".actions button")].map((b) => !b.disabled),
        top: box.top, bottom: box.bottom,
    }]);
}
return rows;
"""

# The texts whose contrast with their effective ground (the first opaque background up the tree,
# with the translucent ones above it laid over it) is below 4.5:1, among the shown elements.
LOW_CONTRAST = """
const parse = (c) => {
    const p = /rgba?\\(([^)]*)\\)/.exec(c)[1].split(/[\\s,\\/]+/).filter(Boolean).map(Number);
    return [p[0], p[1], p[2], p.length > 3 ? p[3] : 1];
};
const over = (top, under) => [0, 1, 2].map((i) => top[i] * top[3] + under[i] * (1 - top[3]))
    .concat(1);
const luminance = (c) => {
    const f = (v) => (v /= 255) <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4;
    return 0.2126 * f(c[0]) + 0.7152 * f(c[1]) + 0.0722 * f(c[2]);
};
const low = [];
for (const element of document.querySelectorAll("body *")) {
    const box = element.getBoundingClientRect();
    const style = getComputedStyle(element);
    const text = [...element.childNodes].some((n) => n.nodeType === Node.TEXT_NODE &&
                                                     n.textContent.trim());
    if (!text || box.width <= 1 || box.height <= 1 || style.visibility !== "visible")
        continue;
    const layers = [];
    for (let e = element; e; e = e.parentElement) {
        layers.unshift(parse(getComputedStyle(e).backgroundColor));
        if (layers[0][3] === 1)
            break;
    }
    const ground = layers.reduce((under, layer) => over(layer, under), [255, 255, 255, 1]);
    const [a, b] = [luminance(over(parse(style.color), ground)), luminance(ground)]
        .sort((x, y) => y - x);
    if ((a + 0.05) / (b + 0.05) < 4.5)
        low.push(element.className + " \\"" + element.textContent.trim() + "\\" " +
                 ((a + 0.05) / (b + 0.05)).toFixed(2));
}
return low;
"""

# Each head's x-range against its column's cells in every row, and the heads side by side: the
# misfits.
MISALIGNED = """
const misfits = [];
for (const section of document.querySelectorAll(".line")) {
    const heads = [...section.querySelectorAll(".head > span")];
    heads.slice(1).forEach((head, i) => {
        if (head.getBoundingClientRect().left < heads[i].getBoundingClientRect().right)
            misfits.push(head.textContent + " not right of " + heads[i].textContent);
    });
    for (const li of section.querySelectorAll(".monitor")) {
        const cells = li.querySelectorAll(":scope > .cell");
        heads.forEach((head, i) => {
            const h = head.getBoundingClientRect(), c = cells[i].getBoundingClientRect();
            if (Math.abs(h.left - c.left) > 1 || Math.abs(h.right - c.right) > 1)
                misfits.push(head.textContent + ": " + [h.left, h.right, c.left, c.right]);
        });
    }
}
return misfits;
"""


class PathProxy(http.server.ThreadingHTTPServer):
    """Serves kelvaned (on 127.0.0.1:self.upstream) under PREFIX on a free port of 127.0.0.1,
    each answer passed on as it comes (the event stream too); 502 while kelvaned is away."""
    daemon_threads = True

    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def forward(self):
            if not self.path.startswith(PREFIX):
                return self.send_error(404)
            body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            upstream = http.client.HTTPConnection("127.0.0.1", self.server.upstream,
                                                  timeout=HTTP_S)
            try:
                upstream.request(self.command, self.path[len(PREFIX) - 1:], body or None,
                                 {k: v for k, v in self.headers.items()
                                  if k.lower() not in ("connection", "content-length")})
                answer = upstream.getresponse()
            except OSError:
                upstream.close()
                return self.send_error(502)
            self.send_response(answer.status)
            for name, value in answer.getheaders():
                if name.lower() not in ("connection", "content-length", "transfer-encoding"):
                    self.send_header(name, value)
            self.end_headers()
            try:
                while chunk := answer.read1(65536):
                    self.wfile.write(chunk)
                    self.wfile.flush()
            except OSError:
                pass
            upstream.close()

        do_GET = do_POST = forward

    def __init__(self, upstream):
        super().__init__(("127.0.0.1", 0), self.Handler)
        self.upstream = upstream
        self.url = "http://127.0.0.1:%d%s" % (self.server_address[1], PREFIX)
        threading.Thread(target=self.serve_forever, daemon=True).start()


class ThePage(unittest.TestCase):
    """The fleet (server 0's monitors with markup for a firmware, server 1's without signal,
    server 2 apart so that a test stops it), a browser, a proxy and a kelvaned for the whole
    class; a test that wants kelvaned with a token starts it again on its port."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.fleet = SimulatedFleet(SERVERS, UNITS, server_switches={0: ["--firmware", MARKUP],
                                                                   1: ["--no-signal"]},
                                   apart=(2,))
        cls.kelvaned = cls.browser = cls.proxy = None
        try:
            cls.browser = Browser()
            cls.kelvaned = cls.start()
            cls.proxy = PathProxy(cls.kelvaned.port)
        except Exception:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for part in (cls.proxy and cls.proxy.shutdown, cls.browser and cls.browser.close,
                     cls.kelvaned and cls.kelvaned.close, cls.fleet.close, cls.folder.cleanup):
            if part:
                part()

    @classmethod
    def start(cls, token_file=None, port=0):
        kelvaned = Kelvaned(cls.folder.name, config_text(
            fleet_monitors(cls.fleet), INTERVAL_S, timing="fast", token_file=token_file,
            listen="127.0.0.1:%d" % port))
        kelvaned.token = token_file is not None
        return kelvaned

    def setUp(self):
        if self.kelvaned.token:
            self.restart()
        self.expected_errors = list(NOT_YET)
        self.browser.read_console()
        self.browser.driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})

    def tearDown(self):
        # The page first: its stream cut by kelvaned's end would be an error of its own.
        self.browser.open("about:blank")
        self.assertEqual(self.browser.console_errors(*self.expected_errors), [],
                         "the browser's console")

    def restart(self, token_file=None):
        """kelvaned started again on its port, with the token or without."""
        port = self.kelvaned.port
        self.kelvaned.stop()
        self.kelvaned.close()
        type(self).kelvaned = self.start(token_file, port)

    def open_page(self, size=DESKTOP):
        self.browser.resize(*size)
        self.browser.open(self.proxy.url)
        # A mark that a reload would lose.
        self.browser.script("window.notReloaded = true")

    def rows(self):
        return dict(self.browser.script(ROWS))

    def wait_rows(self, condition, what, seconds=FIRST_SWEEP_S):
        return self.browser.wait(lambda _: (lambda rows: condition(rows) and rows)(self.rows()),
                                 what, seconds)

    def shown(self):
        return [name for name, row in self.rows().items() if row["shown"]]

    def wait_shown(self, names, what):
        return self.wait_rows(lambda rows: [n for n, r in rows.items() if r["shown"]] == names,
                              what, 5)

    def wait_polled(self):
        """Every row answering, the first server's too."""
        return self.wait_rows(lambda rows: len(rows) == SERVERS * UNITS and all(
            row["state"] == "answering" for row in rows.values()), "30 rows, all answering")

    def names(self, server):
        return ["m%d-%d" % (server + 1, unit) for unit in range(1, UNITS + 1)]

    def button(self, name, label):
        return self.browser.find('.monitor[data-name="%s"] button[aria-label="%s on %s"]'
                                 % (name, label, name))

    def filter(self, text):
        self.browser.script("const f = document.getElementById('filter'); f.value = '';"
                            "f.dispatchEvent(new Event('input'))")
        self.browser.find("#filter").send_keys(text)

    def test_lists_the_monitors_by_line_with_the_simulators_values_as_text(self):
        self.open_page()
        rows = self.wait_polled()
        self.assertEqual(list(rows), self.names(1) + self.names(0) + self.names(2),
                         "the line without signal first, each line in its order")
        for name, row in rows.items():
            server, unit = name[1], name[3:]
            self.assertEqual((row["unit"], row["source"], row["signal"], row["firmware"]),
                             (unit, "HDMI1", "no signal" if server == "2" else "ok",
                              MARKUP if server == "1" else "1.02"), name)
            self.assertRegex(row["last"], r"^\d+ s ago$")
        self.assertEqual(self.browser.find_all(".firmware b"), [], "markup shown as text")
        self.assertEqual([h.text for h in self.browser.find_all(".line .line-name")],
                         [self.fleet.targets[i] for i in (1, 0, 2)])
        self.assertEqual(self.browser.find("#summary").text,
                         "0 not answering · 10 without signal · 20 fine")
        self.assertEqual(self.browser.driver.title, "Kelvane fleet")

        for text, names in (("m3-", self.names(2)), (self.fleet.targets[0], self.names(0)),
                            ("No Signal", self.names(1)), ("not answering", [])):
            self.filter(text)
            self.wait_shown(names, "the filter %r" % text)
        self.assertTrue(self.browser.find("#nothing").is_displayed())
        self.filter("")

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
        self.open_page()
        self.wait_polled()
        self.button("m1-2", "HDMI2").click()
        rows = self.rows()
        self.assertEqual(rows["m1-2"]["enabled"], [False] * 6, "busy")
        self.assertEqual(rows["m1-3"]["enabled"], [True] * 6, "the other rows stay usable")
        self.fleet.wait_for(0, r"^RX @@2SSSHD2$")
        self.wait_rows(lambda rows: (rows["m1-2"]["result"], rows["m1-2"]["source"],
                                     rows["m1-2"]["enabled"]) == ("done", "HDMI2", [True] * 6),
                       "m1-2 done, on HDMI2", 10)
        self.assertNotIn("@@1SSSHD2", self.fleet.frames(0))
        self.filter("hdmi2")
        self.wait_shown(["m1-2"], "the filter finds a source")
        self.filter("")

        # A reset asks first; one that is not confirmed sends nothing.
        self.button("m1-2", "Reset").click()
        alert = self.browser.wait(lambda d: d.switch_to.alert, "the confirmation", 5)
        self.assertIn("m1-2", alert.text)
        alert.dismiss()
        self.button("m1-2", "HDMI1").click()
        self.wait_rows(lambda rows: rows["m1-2"]["source"] == "HDMI1", "m1-2 back on HDMI1", 10)
        self.assertNotIn("@@2KESFAC", self.fleet.frames(0))

    def test_a_stopped_device_server_heads_a_phone_screen_and_its_count_shows_only_it(self):
        self.open_page(PHONE)
        self.wait_polled()
        self.fleet.stop(2)
        try:
            stopped = self.names(2)
            rows = self.wait_rows(lambda rows: all(
                rows[n]["state"].startswith("not answering: ") for n in stopped),
                "server 2's rows not answering", 2 * INTERVAL_S + 5)
            self.assertEqual(list(rows)[:UNITS], stopped, "the line not answering first")
            self.assertEqual(rows["m3-1"]["firmware"], "1.02", "the last values read stay")
            self.assertTrue(all(0 <= rows[n]["top"] and rows[n]["bottom"] <= PHONE[1]
                                for n in stopped), "on the first screen")
            self.assertEqual(self.browser.find("#summary").text,
                             "10 not answering · 10 without signal · 10 fine")
            self.assertTrue(self.browser.script("return window.notReloaded"))
            self.assertLess(self.browser.script(
                "for (const line of document.querySelectorAll('.line'))"
                "    line.style.contentVisibility = 'visible';"
                "return document.documentElement.scrollHeight"), 2 * PHONE[1],
                "30 rows in under two screens")

            # A row opens on a tap to its values and buttons.
            reset = self.button("m3-1", "Reset")
            self.assertFalse(reset.is_displayed())
            self.browser.find('.monitor[data-name="m3-1"] .more').click()
            self.assertTrue(reset.is_displayed())

            self.browser.find('#summary a[href="#not-answering"]').click()
            self.wait_shown(stopped, "the count's link shows only its monitors")
            self.browser.find("#summary a.all").click()
            self.browser.find("#problems").click()
            self.wait_shown(stopped + self.names(1), "problems only")
            self.browser.driver.refresh()
            self.wait_shown(stopped + self.names(1), "problems only, kept for the tab")
            self.browser.find("#problems").click()

            self.browser.find('.monitor[data-name="m3-1"] .more').click()
            for size in (PHONE, (1000, 700), DESKTOP):
                self.browser.resize(*size)
                self.assertLessEqual(self.browser.script(
                    "return document.documentElement.scrollWidth"), size[0],
                    "no horizontal scrolling at %d px" % size[0])
                for scheme in ("dark", "light"):
                    self.browser.driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {
                        "features": [{"name": "prefers-color-scheme", "value": scheme}]})
                    self.assertEqual(self.browser.script(LOW_CONTRAST), [],
                                     "%s at %d px" % (scheme, size[0]))
                    if size != (1000, 700):
                        self.browser.screenshot(os.path.join(
                            SCREENSHOTS, "kelvaned-page-%d%s.png"
                            % (size[0], "-dark" if scheme == "dark" else "")))
            self.assertEqual(self.browser.script(MISALIGNED), [])
        finally:
            self.fleet.start(2)
        self.wait_polled()

    def test_reconnects_when_kelvaned_restarts_and_then_asks_for_its_token_once(self):
        token_file = os.path.join(self.folder.name, "token")
        with open(token_file, "w") as out:
            out.write(TOKEN + "\n")
        os.chmod(token_file, stat.S_IRUSR | stat.S_IWUSR)
        self.open_page()
        self.wait_polled()
        # The browser reports the stream's tries while kelvaned is away, and the answers 401 and
        # 403; they are this test's.
        self.expected_errors += ["api/events - Failed to load resource",
                                 "status of 401", "status of 403"]
        self.restart(token_file)
        self.browser.wait(lambda _: self.browser.find("#connection").text == "live",
                          "the page live again")
        self.wait_polled()
        self.assertTrue(self.browser.script("return window.notReloaded"))
        dialog = self.browser.find("#token-dialog")

        self.button("m1-1", "HDMI3").click()
        self.browser.wait(lambda _: dialog.is_displayed(), "the token's question")
        self.browser.find("#token").send_keys("wrong-token")
        self.browser.find("#token-ok").click()
        self.wait_rows(lambda rows: rows["m1-1"]["result"]
                       == "refused by kelvaned: the token is wrong", "the 403 message", 10)

        self.button("m1-1", "HDMI3").click()
        self.browser.wait(lambda _: dialog.is_displayed(), "the question again")
        self.assertFalse(self.browser.find("#token-remember").is_selected(), "off by default")
        self.browser.find("#token").send_keys(TOKEN)
        self.browser.find("#token-remember").click()
        self.browser.find("#token-ok").click()
        self.wait_rows(lambda rows: (rows["m1-1"]["result"], rows["m1-1"]["source"])
                       == ("done", "HDMI3"), "m1-1 on HDMI3", 10)
        self.assertIn("@@1SSSHD3", self.fleet.frames(0))
        self.assertEqual(self.browser.script(
            "return [localStorage.getItem('kelvaned-token'),"
            "        sessionStorage.getItem('kelvaned-token')]"), [TOKEN, None])

        self.button("m1-1", "HDMI1").click()
        self.assertFalse(dialog.is_displayed(), "the token is remembered")
        self.wait_rows(lambda rows: rows["m1-1"]["source"] == "HDMI1", "m1-1 back on HDMI1", 10)

        self.browser.find("#forget-token").click()
        self.button("m1-1", "HDMI2").click()
        self.browser.wait(lambda _: dialog.is_displayed(), "the question once it is forgotten")
        self.browser.find("#token-cancel").click()
        self.wait_rows(lambda rows: rows["m1-1"]["result"] == "not sent: no token given",
                       "nothing sent", 5)
        self.assertEqual(self.browser.script("return localStorage.length"), 0)


if __name__ == "__main__":
    unittest.main()
