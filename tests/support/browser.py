"""Debian's headless Chromium, driven by chromedriver through Selenium, as the page's tests and its
benchmark open kelvaned's page: a fresh profile in a temporary folder, nothing fetched from
anywhere but the page's own address, and the console's messages at hand."""

import os
import shutil
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
# Chromium starts in a second or two; a loaded machine may take far longer.
WAIT_S = 30


class Browser:
    """A headless Chromium window of width x height CSS pixels. self.driver is Selenium's."""

    def __init__(self, width=1280, height=800):
        self.profile = tempfile.mkdtemp(prefix="kelvane-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--no-default-browser-check",
                     "--disable-background-networking", "--disable-component-update",
                     "--disable-sync", "--disable-extensions", "--disable-dev-shm-usage",
                     "--hide-scrollbars", "--force-device-scale-factor=1",
                     "--user-data-dir=" + self.profile):
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        try:
            self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        except Exception:
            shutil.rmtree(self.profile, ignore_errors=True)
            raise
        self.driver.set_page_load_timeout(WAIT_S)
        self.resize(width, height)

    def resize(self, width, height):
        """Makes the page's viewport width x height CSS pixels (the window has a frame around
        it even when headless)."""
        self.driver.set_window_size(width, height)
        inner = self.driver.execute_script("return [window.innerWidth, window.innerHeight]")
        self.driver.set_window_size(2 * width - inner[0], 2 * height - inner[1])

    def open(self, url):
        self.driver.get(url)

    def wait(self, condition, what, seconds=WAIT_S):
        """The first true value of condition(driver) within seconds; fails with what."""
        return WebDriverWait(self.driver, seconds, poll_frequency=0.05).until(
            condition, "not within %d s: %s" % (seconds, what))

    def script(self, text, *args):
        return self.driver.execute_script(text, *args)

    def find(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def find_all(self, css):
        return self.driver.find_elements(By.CSS_SELECTOR, css)

    def read_console(self):
        """The console's messages ({"level", "message"}) since the last read."""
        return self.driver.get_log("browser")

    def console_errors(self, *expected):
        """The console's errors since the last read whose messages contain none of the expected
        texts."""
        return [entry["message"] for entry in self.read_console()
                if entry["level"] == "SEVERE"
                and not any(text in entry["message"] for text in expected)]

    def screenshot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        self.driver.save_screenshot(path)

    def close(self):
        try:
            self.driver.quit()
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)
