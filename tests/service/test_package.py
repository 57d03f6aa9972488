"""kelvaned's Debian package as scripts/package.sh makes it: what it holds, its conffile and
unit, systemd's checks of the unit and Debian's checker."""

import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "package"))
from test_package import (Packages, assert_lintian_finds_no_errors, resource_version,  # noqa: E402,F401
                          run, tearDownModule)


class TheServicePackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        arch = run("dpkg", "--print-architecture").strip()
        cls.deb = Packages.path("kelvaned_%s_%s.deb" % (resource_version(), arch))
        cls.scratch = tempfile.TemporaryDirectory()
        run("dpkg-deb", "--extract", cls.deb, cls.scratch.name)
        run("dpkg-deb", "--control", cls.deb, os.path.join(cls.scratch.name, "DEBIAN"))

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def path(self, *parts):
        return os.path.join(self.scratch.name, *parts)

    def test_it_holds_the_program_its_unit_its_example_configuration_and_manual_page(self):
        files = {}
        for line in run("dpkg-deb", "--contents", self.deb).splitlines():
            mode, owner, _, _, _, path = line.split(None, 5)
            if not mode.startswith("d"):
                files[path] = (mode, owner)
        self.assertEqual(files, {
            "./usr/sbin/kelvaned": ("-rwxr-xr-x", "root/root"),
            "./lib/systemd/system/kelvaned.service": ("-rw-r--r--", "root/root"),
            "./etc/kelvaned/kelvaned.toml": ("-rw-r--r--", "root/root"),
            "./usr/share/man/man8/kelvaned.8.gz": ("-rw-r--r--", "root/root"),
            "./usr/share/doc/kelvaned/copyright": ("-rw-r--r--", "root/root"),
            "./usr/share/doc/kelvaned/changelog.gz": ("-rw-r--r--", "root/root"),
            "./usr/share/doc/kelvaned/examples/prometheus.yml": ("-rw-r--r--", "root/root"),
            "./usr/share/doc/kelvaned/examples/kelvane.rules.yml": ("-rw-r--r--", "root/root"),
        })
        with open(self.path("DEBIAN", "conffiles")) as conffiles:
            self.assertEqual(conffiles.read().split(), ["/etc/kelvaned/kelvaned.toml"])
        self.assertEqual(run("dpkg-deb", "--field", self.deb, "Version").strip(),
                         resource_version())
        done = subprocess.run([self.path("usr", "sbin", "kelvaned"), "--check", "--config",
                               self.path("etc", "kelvaned", "kelvaned.toml")],
                              capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("good: 0 monitors", done.stdout)

    def test_its_unit_is_hardened_yet_reaches_serial_lines_and_reloads_by_sighup(self):
        unit = self.path("lib", "systemd", "system", "kelvaned.service")
        with open(unit) as text:
            settings = [line.strip() for line in text if "=" in line and line[0] != "#"]
        # What the serial lines and the network need, which a better score would take away.
        for setting in ("User=kelvaned", "SupplementaryGroups=dialout", "DevicePolicy=closed",
                        "DeviceAllow=char-ttyS rw", "DeviceAllow=char-ttyUSB rw",
                        "DeviceAllow=char-ttyACM rw", "DeviceAllow=char-pts rw",
                        "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX",
                        "ExecReload=/bin/kill -HUP $MAINPID",
                        "ExecStart=/usr/sbin/kelvaned --config /etc/kelvaned/kelvaned.toml"):
            self.assertIn(setting, settings)
        for setting in ("PrivateUsers=", "PrivateDevices=yes", "PrivateNetwork=", "IPAddress"):
            self.assertFalse([s for s in settings if s.startswith(setting)], setting)
        rated = run("systemd-analyze", "security", "--offline=yes", unit)
        exposure = float(re.search(r"Overall exposure level for kelvaned\.service: ([\d.]+)",
                                   rated).group(1))
        self.assertLessEqual(exposure, 2.0, rated)
        with open(self.path("DEBIAN", "postinst")) as postinst:
            self.assertIn("adduser --quiet kelvaned dialout", postinst.read())

    def test_systemd_accepts_the_unit(self):
        # The package's files as they would lie on this machine: the unit's targets and the kill
        # of its ExecReload come from the machine's own systemd and coreutils.
        units = self.path("lib", "systemd", "system")
        for target in glob.glob("/lib/systemd/system/*.target"):
            shutil.copy(target, units)
        os.makedirs(self.path("bin"), exist_ok=True)
        shutil.copy("/bin/kill", self.path("bin", "kill"))
        unit = os.path.join(units, "kelvaned.service")
        verified = subprocess.run(["systemd-analyze", "verify", "--man=no",
                                   "--root=" + self.scratch.name, unit],
                                  capture_output=True, text=True, timeout=120)
        self.assertEqual((verified.returncode, verified.stdout + verified.stderr), (0, ""))

    def test_debians_checker_finds_no_errors(self):
        assert_lintian_finds_no_errors(self, self.deb)


if __name__ == "__main__":
    unittest.main()
