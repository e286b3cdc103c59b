#!/usr/bin/env python3
"""quvunzip under Wine with code page 936: names that code page cannot hold
(Korean, Thai, emoji) and a path past 260 characters are extracted with
their own characters, byte for byte, and listed and tested.

    quvunzip_wine_names.py WINE_RUN PREFIX QUVUNZIP_EXE
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

WINE_RUN = PREFIX = EXE = None

LONG = "/".join("%02d-%s" % (i, "한" * 3 + "x" * 10) for i in range(20)) + "/끝.txt"
NAMES = ["한국어/안녕하세요.txt", "ภาษาไทย/สวัสดี.txt", "emoji/😀🎉.bin", "中文/文件.txt", LONG]


def windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WineNames(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="quvwine-")
        cls.archive = os.path.join(cls.tmp, "names.zip")
        cls.data = {name: os.urandom(1000 + 7 * i) for i, name in enumerate(NAMES)}
        with zipfile.ZipFile(cls.archive, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in cls.data.items():
                z.writestr(name, data)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def run_exe(self, *args):
        p = subprocess.run([WINE_RUN, PREFIX, EXE] + list(args), stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
        return p.returncode, p.stdout, p.stderr.decode("gbk", "replace")

    def test_names_past_the_code_page_and_long_paths_land_byte_identical(self):
        self.assertGreater(len(LONG), 300)
        out = os.path.join(self.tmp, "out")
        rc, _, err = self.run_exe("-q", "-d", windows(out), windows(self.archive))
        self.assertEqual(rc, 0, err)
        found = {}
        for base, _, files in os.walk(out):
            for n in files:
                path = os.path.join(base, n)
                with open(path, "rb") as f:
                    found[os.path.relpath(path, out)] = f.read()
        self.assertEqual(found, self.data)

    def test_every_entry_is_tested_and_listed(self):
        rc, out, err = self.run_exe("-t", windows(self.archive))
        self.assertEqual(rc, 0, err)
        self.assertIn(b"No errors in %d files tested." % len(NAMES), out)
        rc, out, err = self.run_exe("-l", windows(self.archive))
        self.assertEqual(rc, 0, err)
        self.assertIn(b"%d entries" % len(NAMES), out)
        # Not a console: the system code page, whose characters stay whole.
        self.assertIn("中文/文件.txt".encode("gbk"), out)


if __name__ == "__main__":
    WINE_RUN, PREFIX, EXE = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main(verbosity=2)
