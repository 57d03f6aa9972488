"""kelvaned's Debian package as scripts/package.sh makes it: what it holds, its conffile and
units, systemd's checks of the units and of the README's timer, Debian's checker, and (as root)
its installation and purge in a scratch root."""

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
            "./usr/share/doc/kelvaned/examples/prometheus.yml": ("-rw-r--r--", "root/root"),
            "./usr/share/doc/kelvaned/examples/kelvane.rules.yml": ("-rw-r--r--", "root/root"),
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

    def test_its_unit_is_hardened_yet_reaches_serial_lines_and_reloads_by_sighup(self):
        unit = self.path("lib", "systemd", "system", "kelvaned.service")
        with open(unit) as text:
            settings = [line.strip() for line in text if "=" in line and line[0] != "#"]
        # Debian's own service units' settings, and what the serial lines and the network need,
        # which a better score would take away.
        for setting in ("User=kelvaned", "NoNewPrivileges=yes", "ProtectSystem=strict",
                        "ProtectHome=yes", "PrivateTmp=yes",
                        "SupplementaryGroups=dialout", "DevicePolicy=closed",
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

    def test_every_script_is_executable_in_git_as_the_readme_runs_them_by_name(self):
        staged = run("git", "-C", os.path.join(os.path.dirname(__file__), "..", ".."),
                     "ls-files", "--stage", "scripts")
        modes = {line.split()[3]: line.split()[0] for line in staged.splitlines()}
        self.assertIn("scripts/package.sh", modes)
        self.assertEqual([path for path, mode in modes.items() if mode != "100755"], [])


class ScratchRoot:
    """A copy-on-write view of this machine's root to install a package into, as root, without
    touching the machine: an overlay whose writes land in a tmpfs, both mounted in a mount
    namespace of its own that a sleeping process holds, and gone with it."""

    MOUNT = """set -e
m="$1"
mount -t tmpfs scratch "$m"
mkdir "$m/upper" "$m/work" "$m/root"
mount -t overlay scratch -o lowerdir=/,upperdir="$m/upper",workdir="$m/work" "$m/root"
for node in null zero full random urandom; do
    touch "$m/root/dev/$node"
    mount --bind "/dev/$node" "$m/root/dev/$node"
done
mount -t proc proc "$m/root/proc"
echo ready
exec sleep 600
"""

    def __init__(self, case):
        if os.geteuid() != 0:
            case.skipTest("installing into a scratch root needs root")
        self.mount = tempfile.mkdtemp()
        self.holder = subprocess.Popen(["unshare", "--mount", "--propagation", "private", "sh",
                                        "-c", self.MOUNT, "sh", self.mount],
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if self.holder.stdout.readline() != "ready\n":
            case.skipTest("no overlay in a mount namespace here: " + self.close())
        case.addCleanup(self.close)

    def close(self):
        """Ends the namespace, and with it the scratch root; what the holder said."""
        self.holder.kill()
        _, said = self.holder.communicate()
        os.rmdir(self.mount)
        return said

    def check(self, command, inside=True):
        """The shell command's output, run as root in the scratch root (or in its namespace, where
        the scratch root lies in MOUNT/root)."""
        chroot = ["chroot", os.path.join(self.mount, "root")] if inside else []
        return run("nsenter", "--target", str(self.holder.pid), "--mount", "--", *chroot, "env",
                   "-i", "PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C.UTF-8",
                   "MOUNT=" + self.mount, "sh", "-c", command, timeout=300)

    def kelvaneds(self):
        """What of kelvaned's there is in the scratch root."""
        return self.check("for path in /etc/kelvaned /etc/kelvaned/token /var/lib/kelvaned; do "
                          "test -e $path && echo $path; done; "
                          "getent passwd kelvaned >/dev/null && echo the user; "
                          "getent group kelvaned >/dev/null && echo the group; true").splitlines()


class ThePackageInstalled(unittest.TestCase):
    """kelvaned's package installed and purged on a copy of this machine."""

    @classmethod
    def setUpClass(cls):
        arch = run("dpkg", "--print-architecture").strip()
        cls.deb = Packages.path("kelvaned_%s_%s.deb" % (resource_version(), arch))

    def test_purge_takes_away_what_the_package_made_and_keeps_what_the_administrator_made(self):
        # What the administrator does before installing and before purging; what purge leaves.
        cases = [
            ("nothing", "true", "true", []),
            ("a token of their own", "true", "echo theirs > /etc/kelvaned/token",
             ["/etc/kelvaned", "/etc/kelvaned/token"]),
            ("the user kelvaned", "adduser --system --group --quiet kelvaned", "true",
             ["the user", "the group"]),
            ("the token deleted, then an upgrade", "true",
             "rm /etc/kelvaned/token && dpkg --install /tmp/kelvaned.deb && "
             "test ! -e /etc/kelvaned/token", []),
        ]
        for name, before, after, left in cases:
            with self.subTest(name):
                root = ScratchRoot(self)
                if root.kelvaneds():
                    self.skipTest("this machine has kelvaned's user or configuration")
                root.check(before)
                root.check('cp "%s" "$MOUNT/root/tmp/kelvaned.deb"' % self.deb, inside=False)
                root.check("dpkg --install /tmp/kelvaned.deb 2>&1")
                self.assertRegex(root.check("stat -c '%a %U %G' /etc/kelvaned/token && "
                                            "cat /etc/kelvaned/token && getent group dialout"),
                                 r"^640 root kelvaned\n[A-Za-z0-9]{32}\n.*\bkelvaned\b")
                # kelvaned reads it as its unit runs it: its user and groups, no capability.
                self.assertIn("good: 0 monitors", root.check(
                    "sed 's/^#token_file/token_file/' /etc/kelvaned/kelvaned.toml > /tmp/k.toml && "
                    "setpriv --reuid=kelvaned --regid=kelvaned --init-groups --no-new-privs "
                    "--inh-caps=-all --bounding-set=-all kelvaned --check --config /tmp/k.toml"))
                root.check(after)
                purged = root.check("dpkg --purge kelvaned 2>&1")
                self.assertEqual(root.kelvaneds(), left)
                # dpkg warns of the folder it leaves, and of nothing else.
                self.assertEqual("warning" in purged, "/etc/kelvaned" in left, purged)


if __name__ == "__main__":
    unittest.main()
