"""scripts/package.sh: the zip it makes holds the two programs as built and the text on running
them, and its name carries the version of the program's version record."""

import os
import re
import subprocess
import tempfile
import unittest
import zipfile

ROOT = os.environ.get("KELVANE_ROOT",
                      os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BIN = os.path.join(os.environ.get("KELVANE_BUILD", os.path.join(ROOT, "build")), "bin")


def resource_version():
    """FILEVERSION of the resource script, as a.b.c.d."""
    with open(os.path.join(ROOT, "res", "Kelvane.rc"), encoding="utf-8") as script:
        match = re.search(r"^\s*FILEVERSION\s+(\d+),\s*(\d+),\s*(\d+),\s*(\d+)", script.read(),
                          re.MULTILINE)
    return ".".join(match.groups())


class ThePackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        subprocess.run(["bash", os.path.join(ROOT, "scripts", "package.sh"), "--built", "--out",
                        cls.folder.name], check=True, stdout=subprocess.DEVNULL)
        cls.made = os.listdir(cls.folder.name)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def open(self):
        return zipfile.ZipFile(os.path.join(self.folder.name, self.made[0]))

    def test_its_name_carries_the_version_of_the_version_record(self):
        self.assertEqual(self.made, ["Kelvane-%s.zip" % resource_version()])

    def test_it_holds_the_two_programs_and_the_text_in_one_folder(self):
        folder = "Kelvane-%s/" % resource_version()
        with self.open() as package:
            self.assertEqual(sorted(package.namelist()),
                             [folder + name for name in ("Kelvane.exe", "README.txt",
                                                         "monitor-sim.exe")])

    def test_its_programs_are_the_ones_built(self):
        with self.open() as package:
            for name in ("Kelvane.exe", "monitor-sim.exe"):
                with open(os.path.join(BIN, name), "rb") as built:
                    packed = package.read("Kelvane-%s/%s" % (resource_version(), name))
                    self.assertTrue(packed == built.read(), name + " differs from the build")

    def test_its_text_tells_windows_and_linux_users_how_to_run_them(self):
        with self.open() as package:
            text = package.read("Kelvane-%s/README.txt" % resource_version()).decode("ascii")
        self.assertTrue(text.startswith("Orvanta panel (Kelvane.exe) %s\r\n" % resource_version()))
        self.assertNotIn("\n", text.replace("\r\n", ""), "every line ends in CR LF")
        for words in ("null-modem pair", "monitor-sim.exe --port", "Wine",
                      "--port COM3=tcp:HOST:PORT"):
            self.assertIn(words, text)


if __name__ == "__main__":
    unittest.main()
