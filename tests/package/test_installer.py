"""The Windows Installer package of scripts/package.sh, installed and removed silently by Wine's
msiexec in a fresh Wine prefix: what it puts on the machine, a script client served before the
panel has ever run, what its removal leaves, and a package of a higher version replacing it.
Runs on an X display (scripts/test.sh gives it one): OLE shows the panel for its client."""

import glob
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from test_package import BIN, BUILD, ROOT, resource_version, run

PROGID = "Kelvane.Application"
CLSID = "{DB904469-253D-4D41-972B-F51EFC0E8E78}"
SERVER_KEYS = ("HKEY_CLASSES_ROOT\\" + PROGID, "HKEY_CLASSES_ROOT\\CLSID\\" + CLSID)
INSTALLED = "C:\\Program Files\\Orvanta Panel"
PROGRAMS = ("Kelvane.exe", "kelvanectl.exe", "monitor-sim.exe")
# Far beyond what a step takes under Wine; only a failure waits this long.
WAIT_S = 60


def higher_version(version):
    """The version of the next build: Windows Installer compares only the first three fields."""
    major, minor, build, revision = version.split(".")
    return "%s.%s.%d.%s" % (major, minor, int(build) + 1, revision)


def parse_reg(text):
    """The values of a registry export (reg export, regedit /E), by key: {key: {name: value}}, "" naming the default
    value. Strings come unquoted, other kinds as regedit writes them."""
    keys, values = {}, None
    for line in re.sub(r"\\\n\s*", "", text.replace("\r\n", "\n")).split("\n"):
        if line.startswith("[") and line.endswith("]"):
            values = keys.setdefault(line[1:-1], {})
        elif values is not None and "=" in line:
            match = re.match(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$', line)
            if match:
                name = "" if match.group(1) == "@" else match.group(2)
                value = match.group(3)
                if value.startswith('"'):
                    value = value[1:-1].replace('\\"', '"').replace("\\\\", "\\")
                values[name.replace('\\"', '"').replace("\\\\", "\\")] = value
    return keys


def captured(command, env=None, cwd=None, timeout=WAIT_S):
    """Runs a command and gives back its exit status and output. The output goes through files:
    a Wine server or a helper that Wine starts on the way inherits them, and would hold a pipe
    open, and the caller waiting, for as long as it lives."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        done = subprocess.run(command, stdout=out, stderr=err, env=env, cwd=cwd, timeout=timeout)
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(command, done.returncode, out.read(), err.read())


class FreshPrefix:
    """A Wine prefix of its own, made with the project's prefix settings (scripts/wine-env.sh),
    on which the program has never run."""

    def __init__(self, path):
        self.path = path
        shutil.rmtree(path, ignore_errors=True)
        script = ('source scripts/wine-env.sh >/dev/null; WINEPREFIX="$1"; wine_prefix_ready >&2;'
                  'env -0')
        made = captured(["bash", "-c", script, "-", path], cwd=ROOT, timeout=10 * WAIT_S)
        assert made.returncode == 0, made.stderr.decode()
        self.env = dict(entry.split("=", 1) for entry in made.stdout.decode().split("\0")
                        if "=" in entry)
        self.env["WINEPREFIX"] = path

    def close(self):
        captured(["wineserver", "-k"], env=self.env)
        captured(["wineserver", "-w"], env=self.env)
        shutil.rmtree(self.path, ignore_errors=True)

    def wine(self, *command, timeout=WAIT_S):
        return captured(["wine", *command], env=self.env, timeout=timeout)

    def host_path(self, windows_path):
        """Where a path on the prefix's drive C is on this machine."""
        assert windows_path[:3].upper() == "C:\\", windows_path
        return os.path.join(self.path, "drive_c", *windows_path[3:].split("\\"))

    def msiexec(self, *arguments):
        return self.wine("msiexec", *arguments).returncode

    def export(self, key):
        """The values under a registry key and its subkeys, by key; empty when it is missing."""
        file = "C:\\export.reg"
        if os.path.exists(self.host_path(file)):
            os.remove(self.host_path(file))
        self.wine("reg", "export", key, file, "/y")
        if not os.path.exists(self.host_path(file)):
            return {}
        with open(self.host_path(file), encoding="utf-16") as exported:
            return parse_reg(exported.read())

    def server_entries(self):
        """Every value under the automation server's two keys, by "key" (its default value)
        or "key@name"."""
        entries = {}
        for top in SERVER_KEYS:
            for key, values in self.export(top).items():
                for name, value in values.items():
                    entries[key + ("@" + name if name else "")] = value
        return entries

    def products(self):
        """DisplayVersion of every entry of the product in the installed programs."""
        uninstall = self.export(
            "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall")
        return sorted(values.get("DisplayVersion") for values in uninstall.values()
                      if values.get("DisplayName") == "Orvanta Panel")

    def wait_until_all_ended(self):
        """True once every program of the prefix has ended."""
        try:
            captured(["wineserver", "-w"], env=self.env)
            return True
        except subprocess.TimeoutExpired:
            return False


# unittest runs the tests in the order of their names: the install first, in a prefix where the
# panel has never run.
class TheInstaller(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.environ.get("DISPLAY"):
            raise RuntimeError("needs an X display: run it through scripts/test.sh")
        cls.folder = tempfile.TemporaryDirectory()
        cls.version = resource_version()
        cls.higher = higher_version(cls.version)
        for version in (cls.version, cls.higher):
            run("bash", os.path.join(ROOT, "scripts", "package.sh"), "--built", "--version",
                version, "--out", os.path.join(cls.folder.name, version))
        cls.prefix = FreshPrefix(os.path.join(BUILD, "installer-test", "prefix"))

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()
        cls.folder.cleanup()

    def package(self, version):
        return os.path.join(self.folder.name, version, "Kelvane-%s.msi" % version)

    def shortcuts(self):
        """Every "Orvanta Panel" shortcut in a Start menu of the prefix."""
        menus = [self.prefix.host_path("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs")]
        menus += glob.glob(self.prefix.host_path(
            "C:\\users\\*\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"))
        return [link for menu in menus
                for link in glob.glob(os.path.join(menu, "Orvanta Panel.lnk"))]

    def installed_files(self):
        folder = self.prefix.host_path(INSTALLED)
        return sorted(os.listdir(folder)) if os.path.isdir(folder) else []

    def start_stand_alone_and_close(self):
        """Starts the installed panel by hand, waits until it has recorded its entries and
        closes it as its close button would."""
        program = subprocess.Popen(["wine", INSTALLED + "\\Kelvane.exe"], env=self.prefix.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + WAIT_S
            while time.monotonic() < deadline and len(self.prefix.server_entries()) < 6:
                pass
            # taskkill without /f asks the panel's window to close; until the window is up there
            # is nothing to ask.
            while time.monotonic() < deadline and program.poll() is None:
                self.prefix.wine("taskkill", "/im", "Kelvane.exe")
                try:
                    program.wait(timeout=1)
                except subprocess.TimeoutExpired:
                    pass
            self.assertIsNotNone(program.poll(), "the panel did not close")
        finally:
            if program.poll() is None:
                program.kill()
                program.wait()

    def test_installed_it_serves_a_script_at_once_and_removed_it_leaves_nothing(self):
        prefix = self.prefix
        # Wine's script host registers its own type library when it first runs: it does so
        # before the picture of HKEY_CLASSES_ROOT is taken.
        script = "C:\\client.vbs"
        with open(prefix.host_path(script), "w", newline="\r\n") as client:
            client.write('WScript.Echo "ready"\n')
        self.assertEqual(prefix.wine("cscript", "//nologo", script).stdout.split(), [b"ready"])
        classes = "HKEY_LOCAL_MACHINE\\Software\\Classes"
        before = prefix.export(classes)
        self.assertEqual(prefix.server_entries(), {}, "nothing knows the server yet")

        self.assertEqual(prefix.msiexec("/i", self.package(self.version), "/qn"), 0)
        self.assertEqual(prefix.products(), [self.version])
        self.assertEqual(self.installed_files(), sorted(PROGRAMS + ("README.txt",)))
        for name in PROGRAMS:
            with open(os.path.join(BIN, name), "rb") as built, \
                    open(prefix.host_path(INSTALLED + "\\" + name), "rb") as installed:
                self.assertTrue(installed.read() == built.read(), name + " differs from the build")
        with open(prefix.host_path(INSTALLED + "\\README.txt"), encoding="ascii") as readme:
            self.assertTrue(readme.readline().startswith("Orvanta panel (Kelvane.exe) " +
                                                         self.version))
        # Windows Installer puts a per-machine package's shortcuts in the Start menu of all
        # users; Wine 8's puts them in that of the user who installs.
        shortcuts = self.shortcuts()
        self.assertEqual(len(shortcuts), 1, shortcuts)
        with open(shortcuts[0], "rb") as link:
            self.assertIn((INSTALLED + "\\Kelvane.exe").encode("ascii"), link.read())

        installed = prefix.server_entries()
        short_path = installed.get(SERVER_KEYS[1] + "\\LocalServer32", "")
        self.assertEqual(installed, {
            SERVER_KEYS[0]: PROGID,
            SERVER_KEYS[0] + "\\CLSID": CLSID,
            SERVER_KEYS[1]: PROGID,
            SERVER_KEYS[1] + "\\ProgID": PROGID,
            SERVER_KEYS[1] + "\\InprocHandler32": "ole32.dll",
            SERVER_KEYS[1] + "\\LocalServer32": short_path,
        })
        self.assertRegex(short_path, r"^C:\\[^ ]+\\Kelvane\.exe$")

        # A script creates the object before anyone has started the panel: OLE starts the
        # installed program for it, and letting go of the object ends it.
        with open(prefix.host_path(script), "w", newline="\r\n") as client:
            client.write('Set panel = CreateObject("%s")\n'
                         'WScript.Echo "created"\n'
                         'Set panel = Nothing\n'
                         'WScript.Echo "released"\n' % PROGID)
        served = prefix.wine("cscript", "//nologo", script)
        self.assertEqual(served.returncode, 0, served.stderr)
        self.assertEqual(served.stdout.decode().split(), ["created", "released"])
        self.assertTrue(prefix.wait_until_all_ended(), "the panel ended with its client")

        # The entries are the very ones the program records when it starts by hand.
        for top in SERVER_KEYS:
            prefix.wine("reg", "delete", top.replace("HKEY_CLASSES_ROOT", "HKCR"), "/f")
        self.assertEqual(prefix.server_entries(), {})
        self.start_stand_alone_and_close()
        self.assertEqual(prefix.server_entries(), installed)

        self.assertEqual(prefix.msiexec("/x", self.package(self.version), "/qn"), 0)
        self.assertEqual(prefix.products(), [])
        self.assertFalse(os.path.exists(prefix.host_path(INSTALLED)))
        self.assertEqual(self.shortcuts(), [])
        self.assertEqual(prefix.server_entries(), {})
        # Every key of HKEY_CLASSES_ROOT is as it was before the install, but for the
        # bookkeeping of Windows Installer itself, which keeps its emptied keys.
        after = prefix.export(classes)
        bookkeeping = classes + "\\Installer"
        def kept(keys):
            return {key: values for key, values in keys.items()
                    if key != bookkeeping and not key.startswith(bookkeeping + "\\")}
        now, then = kept(after), kept(before)
        self.assertEqual(sorted(key for key in set(now) | set(then)
                                if now.get(key) != then.get(key)), [])
        self.assertEqual([key for key, values in after.items()
                          if key.startswith(bookkeeping) and values], [])

    def test_upgrading_to_a_higher_version_replaces_the_installed_one_in_place(self):
        prefix = self.prefix
        # The same package twice changes nothing.
        for _ in range(2):
            self.assertEqual(prefix.msiexec("/i", self.package(self.version), "/qn"), 0)
            self.assertEqual(prefix.products(), [self.version])

        self.assertEqual(prefix.msiexec("/i", self.package(self.higher), "/qn"), 0)
        self.assertEqual(prefix.products(), [self.higher], "one entry, the new version")
        self.assertEqual(self.installed_files(), sorted(PROGRAMS + ("README.txt",)))
        self.assertEqual(len(self.shortcuts()), 1)
        self.assertEqual(len(prefix.server_entries()), 6)
        with open(prefix.host_path(INSTALLED + "\\README.txt"), encoding="ascii") as readme:
            self.assertIn(self.higher, readme.readline())

        # An older package does not go over a newer one.
        self.assertNotEqual(prefix.msiexec("/i", self.package(self.version), "/qn"), 0)
        self.assertEqual(prefix.products(), [self.higher])

        self.assertEqual(prefix.msiexec("/x", self.package(self.higher), "/qn"), 0)
        self.assertEqual(prefix.products(), [])
        self.assertEqual(self.installed_files(), [])
        self.assertEqual(self.shortcuts(), [])
        self.assertEqual(prefix.server_entries(), {})


if __name__ == "__main__":
    unittest.main()
