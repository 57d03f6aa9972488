"""scripts/package.sh on Linux: the zip holds the three programs as built and the text on running
them; the Debian package of kelvanectl installs, runs and passes Debian's checker. Both names
carry the version of the program's version record. (tests/package/test_installer.py installs
the Windows Installer package under Wine.)

    python3 test_package.py TheZip
    python3 test_package.py TheDebianPackage"""

import os
import re
import shutil
import subprocess
import tempfile
import unittest
import zipfile

ROOT = os.environ.get("KELVANE_ROOT",
                      os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BUILD = os.environ.get("KELVANE_BUILD", os.path.join(ROOT, "build"))
BIN = os.path.join(BUILD, "bin")
NATIVE_BIN = os.path.join(BUILD, "native", "bin")


def resource_version():
    """The version the version record is made from (res/Version.h), as a.b.c.d."""
    with open(os.path.join(ROOT, "res", "Version.h"), encoding="utf-8") as header:
        text = header.read()
    return ".".join(re.search(r"#define KELVANE_VERSION_%s (\d+)" % part, text).group(1)
                    for part in ("MAJOR", "MINOR", "BUILD", "REVISION"))


def run(*command, **options):
    """The command's output; a failure tells what the command said."""
    done = subprocess.run(command, capture_output=True, text=True, **options)
    if done.returncode != 0:
        raise AssertionError("%s failed (%d):\n%s" % (" ".join(command), done.returncode,
                                                     done.stderr))
    return done.stdout


class Packages:
    """The packages package.sh makes of the build folders, once for the whole run."""
    folder = None

    @classmethod
    def path(cls, name):
        if cls.folder is None:
            cls.folder = tempfile.TemporaryDirectory()
            run("bash", os.path.join(ROOT, "scripts", "package.sh"), "--built", "--out",
                cls.folder.name)
        return os.path.join(cls.folder.name, name)


def tearDownModule():
    if Packages.folder is not None:
        Packages.folder.cleanup()


class TheZip(unittest.TestCase):
    def open(self):
        return zipfile.ZipFile(Packages.path("Kelvane-%s.zip" % resource_version()))

    def test_it_holds_the_three_programs_and_the_text_in_one_folder(self):
        folder = "Kelvane-%s/" % resource_version()
        with self.open() as package:
            self.assertEqual(sorted(package.namelist()),
                             [folder + name for name in ("Kelvane.exe", "README.txt",
                                                         "kelvanectl.exe", "monitor-sim.exe")])

    def test_its_programs_are_the_ones_built(self):
        with self.open() as package:
            for name in ("Kelvane.exe", "kelvanectl.exe", "monitor-sim.exe"):
                with open(os.path.join(BIN, name), "rb") as built:
                    packed = package.read("Kelvane-%s/%s" % (resource_version(), name))
                    self.assertTrue(packed == built.read(), name + " differs from the build")

    def test_its_text_tells_windows_and_linux_users_how_to_run_them(self):
        with self.open() as package:
            text = package.read("Kelvane-%s/README.txt" % resource_version()).decode("ascii")
        self.assertTrue(text.startswith("Orvanta panel (Kelvane.exe) %s\r\n" % resource_version()))
        self.assertNotIn("\n", text.replace("\r\n", ""), "every line ends in CR LF")
        for words in ("null-modem pair", "monitor-sim.exe --port", "Wine",
                      "--port COM3=tcp:HOST:PORT", "msiexec /i Kelvane-%s.msi /qn" %
                      resource_version(), "kelvanectl status COM3"):
            self.assertIn(words, text)


class TheDebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.arch = run("dpkg", "--print-architecture").strip()
        cls.deb = Packages.path("kelvanectl_%s_%s.deb" % (resource_version(), cls.arch))

    def field(self, name):
        return run("dpkg-deb", "--field", self.deb, name).strip()

    def test_it_holds_the_program_its_manual_page_and_the_texts_debian_asks_for(self):
        listing = run("dpkg-deb", "--contents", self.deb)
        files = {}
        for line in listing.splitlines():
            mode, owner, _, _, _, path = line.split(None, 5)
            if not mode.startswith("d"):
                files[path] = (mode, owner)
        self.assertEqual(files, {
            "./usr/bin/kelvanectl": ("-rwxr-xr-x", "root/root"),
            "./usr/share/man/man1/kelvanectl.1.gz": ("-rw-r--r--", "root/root"),
            "./usr/share/doc/kelvanectl/README": ("-rw-r--r--", "root/root"),
            "./usr/share/doc/kelvanectl/copyright": ("-rw-r--r--", "root/root"),
            "./usr/share/doc/kelvanectl/changelog.gz": ("-rw-r--r--", "root/root"),
        })

    def test_its_control_data_names_and_describes_it_and_carries_the_version_record(self):
        self.assertEqual(self.field("Package"), "kelvanectl")
        self.assertEqual(self.field("Version"), resource_version())
        self.assertEqual(self.field("Architecture"), self.arch)
        self.assertRegex(self.field("Maintainer"), r"^[^<>]+ <[^@<>]+@[^@<>]+>$")
        self.assertEqual(self.field("Section"), "utils")
        synopsis, *body = self.field("Description").splitlines()
        self.assertIn("monitors", synopsis)
        self.assertGreater(len(body), 3, "a long description")
        self.assertRegex(self.field("Installed-Size"), r"^\d+$")

    def test_it_depends_on_the_packages_of_the_libraries_the_program_links(self):
        depends = [entry.split()[0] for entry in self.field("Depends").split(", ")]
        with tempfile.TemporaryDirectory() as scratch:
            run("dpkg-deb", "--extract", self.deb, scratch)
            program = os.path.join(scratch, "usr", "bin", "kelvanectl")
            needed = re.findall(r"^\s*NEEDED\s+(\S+)$", run("objdump", "-p", program),
                                re.MULTILINE)
            where = dict(re.findall(r"^\s*(\S+) => (\S+)", run("ldd", program), re.MULTILINE))
        self.assertIn("libc.so.6", needed)
        for library in needed:
            owner = None
            # With /lib merged into /usr/lib, dpkg knows a library under one of the two names.
            for path in (where[library], "/usr" + where[library], where[library][4:]):
                found = subprocess.run(["dpkg", "--search", path], capture_output=True, text=True)
                if found.returncode == 0:
                    owner = found.stdout.split(":")[0]
                    break
            self.assertIn(owner, depends, library)

    def test_installed_in_a_scratch_root_it_tells_its_version_and_removes_cleanly(self):
        with tempfile.TemporaryDirectory() as scratch:
            admin = os.path.join(scratch, "var", "lib", "dpkg")
            for sub in ("info", "updates", "triggers"):
                os.makedirs(os.path.join(admin, sub))
            open(os.path.join(admin, "status"), "w").close()
            # The scratch root has no libc6 of its own; the program runs on this machine's.
            dpkg = ["dpkg", "--root=" + scratch, "--log=/dev/null", "--force-not-root",
                    "--force-depends", "--force-script-chrootless"]
            run(*dpkg, "--install", self.deb)
            self.assertIn("ii  kelvanectl", run(*dpkg[:2], "--list", "kelvanectl"))
            program = os.path.join(scratch, "usr", "bin", "kelvanectl")
            answer = subprocess.run([program, "--version"], capture_output=True, text=True,
                                    timeout=30)
            self.assertEqual(answer.returncode, 0, answer.stderr)
            self.assertRegex(answer.stdout, r"(^|\s)%s(\s|$)" % re.escape(resource_version()))
            run(*dpkg, "--purge", "kelvanectl")
            left = [os.path.join(path, name) for path, _, names in os.walk(scratch)
                    for name in names if not path.startswith(admin)]
            self.assertEqual(left, [])

    def test_debians_checker_finds_no_errors(self):
        assert_lintian_finds_no_errors(self, self.deb)



def assert_lintian_finds_no_errors(case, deb):
    """Debian's checker on the package: no error, and it says so by its exit status too."""
    case.assertTrue(shutil.which("lintian"), "lintian is missing (scripts/setup.sh)")
    checked = subprocess.run(["lintian", "--fail-on", "error", deb],
                             capture_output=True, text=True, timeout=300)
    errors = [line for line in checked.stdout.splitlines() if line.startswith("E:")]
    case.assertEqual(errors, [])
    case.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)

if __name__ == "__main__":
    unittest.main()
