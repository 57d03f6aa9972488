"""kelvaned's Debian package as scripts/package.sh makes it: what it holds, its conffile and
units, systemd's check of the units and of the README's timer, and Debian's checker."""

import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "package"))
from test_package import (ROOT, Packages, assert_lintian_finds_no_errors,  # noqa: E402,F401
                          resource_version, run, tearDownModule)


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
            "./lib/systemd/system/kelvane-run@.service": ("-rw-r--r--", "root/root"),
            "./etc/kelvaned/kelvaned.toml": ("-rw-r--r--", "root/root"),
            "./usr/share/man/man8/kelvaned.8.gz": ("-rw-r--r--", "root/root"),
            "./usr/share/doc/kelvaned/copyright": ("-rw-r--r--", "root/root"),
            "./usr/share/doc/kelvaned/changelog.gz": ("-rw-r--r--", "root/root"),
        })
        with open(self.path("DEBIAN", "conffiles")) as conffiles:
            self.assertEqual(conffiles.read().split(), ["/etc/kelvaned/kelvaned.toml"])
        self.assertEqual(run("dpkg-deb", "--field", self.deb, "Version").strip(),
                         resource_version())
        self.assertIn("kelvanectl (= %s)" % resource_version(),
                      run("dpkg-deb", "--field", self.deb, "Depends"))
        done = subprocess.run([self.path("usr", "sbin", "kelvaned"), "--check", "--config",
                               self.path("etc", "kelvaned", "kelvaned.toml")],
                              capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("good: 0 monitors", done.stdout)

    def test_its_unit_runs_unprivileged_hardened_and_reloads_by_sighup(self):
        with open(self.path("lib", "systemd", "system", "kelvaned.service")) as unit:
            settings = [line.strip() for line in unit if "=" in line]
        for setting in ("User=kelvaned", "SupplementaryGroups=dialout", "NoNewPrivileges=yes",
                        "ProtectSystem=strict", "ProtectHome=yes", "PrivateTmp=yes",
                        "ExecReload=/bin/kill -HUP $MAINPID",
                        "ExecStart=/usr/sbin/kelvaned --config /etc/kelvaned/kelvaned.toml"):
            self.assertIn(setting, settings)
        with open(self.path("DEBIAN", "postinst")) as postinst:
            self.assertIn("adduser --quiet kelvaned dialout", postinst.read())

    def lay_out_for_systemd(self):
        """The package's files as they would lie on this machine, with kelvanectl's package: the
        units' targets and the kill of ExecReload come from the machine's own systemd and
        coreutils."""
        kelvanectl = Packages.path(os.path.basename(self.deb).replace("kelvaned_", "kelvanectl_"))
        run("dpkg-deb", "--extract", kelvanectl, self.scratch.name)
        units = self.path("lib", "systemd", "system")
        for target in glob.glob("/lib/systemd/system/*.target"):
            shutil.copy(target, units)
        os.makedirs(self.path("bin"), exist_ok=True)
        shutil.copy("/bin/kill", self.path("bin", "kill"))
        return units

    def verify(self, *units):
        return subprocess.run(["systemd-analyze", "verify", "--man=no",
                               "--root=" + self.scratch.name, *units],
                              capture_output=True, text=True, timeout=120)

    def test_systemd_accepts_the_units(self):
        units = self.lay_out_for_systemd()
        for unit in ("kelvaned.service", "kelvane-run@lobby-hdmi2.service"):
            verified = self.verify(os.path.join(units, unit))
            self.assertEqual((verified.returncode, verified.stdout + verified.stderr), (0, ""), unit)

    def test_the_readmes_timer_runs_its_command_through_the_template_unit(self):
        units = self.lay_out_for_systemd()
        with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as readme:
            blocks = dict(re.findall(r"```ini\n# (/etc/\S+)\n(.*?)```", readme.read(), re.S))
        self.assertEqual(sorted(blocks), ["/etc/kelvaned/run/lobby-hdmi2.conf",
                                          "/etc/systemd/system/lobby-hdmi2.timer"])
        for path, text in blocks.items():
            os.makedirs(os.path.dirname(self.path(path[1:])), exist_ok=True)
            with open(self.path(path[1:]), "w") as out:
                out.write(text)
        self.assertEqual(blocks["/etc/kelvaned/run/lobby-hdmi2.conf"].split("\n")[0],
                         "ARGS=source hdmi2 @lobby")
        timer = self.path("etc", "systemd", "system", "lobby-hdmi2.timer")
        service = re.search(r"^Unit=(kelvane-run@(\S+)\.service)$",
                            blocks["/etc/systemd/system/lobby-hdmi2.timer"], re.M)
        self.assertEqual(service.group(2), "lobby-hdmi2", "the timer runs the template unit")
        verified = self.verify(timer, os.path.join(units, service.group(1)))
        self.assertEqual((verified.returncode, verified.stdout + verified.stderr), (0, ""))
        calendar = re.search(r"^OnCalendar=(.*)$", blocks["/etc/systemd/system/lobby-hdmi2.timer"],
                             re.M).group(1)
        normalized = run("systemd-analyze", "calendar", calendar)
        self.assertIn("Normalized form: Mon..Fri *-*-* 08:00:00", normalized)

    def test_debians_checker_finds_no_errors(self):
        assert_lintian_finds_no_errors(self, self.deb)


if __name__ == "__main__":
    unittest.main()
