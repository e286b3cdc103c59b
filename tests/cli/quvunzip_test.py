#!/usr/bin/env python3
"""Behaviour of the quvunzip command-line tool: options, exit statuses and
messages, on archives made here with Python's zipfile (and Debian's zip for
encrypted entries).

    quvunzip_test.py PATH_TO_QUVUNZIP
"""
import bz2
import os
import re
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
import zlib

CLI = None


def make_zip(path, entries, compression=zipfile.ZIP_DEFLATED):
    """entries: (name, data) or (ZipInfo, data)."""
    with zipfile.ZipFile(path, "w", compression) as z:
        for name, data in entries:
            z.writestr(name, data)


def raw_zip(path, entries, comment=b""):
    """Stored entries of a Unix host written byte by byte, for what zipfile
    will not write: entries (name bytes, data, flags)."""
    local, central = b"", b""
    for name, data, flags in entries:
        fixed = struct.pack("<HHHHHIIIHH", 20, flags, 0, 0, 0x21, zlib.crc32(data), len(data), len(data), len(name), 0)
        central += b"PK\x01\x02" + struct.pack("<H", 0x031E) + fixed + struct.pack("<HHHII", 0, 0, 0, 0, len(local)) + name
        local += b"PK\x03\x04" + fixed + name + data
    end = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, len(entries), len(entries), len(central), len(local),
                      len(comment))
    with open(path, "wb") as f:
        f.write(local + central + end + comment)


class Cli(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="quvcli-")
        self.work = os.path.join(self.tmp, "w")
        os.makedirs(self.work)
        self.archive = os.path.join(self.work, "a.zip")

    def tearDown(self):
        for base, dirs, files in os.walk(self.tmp):
            for n in dirs + files:
                if not os.path.islink(os.path.join(base, n)):
                    os.chmod(os.path.join(base, n), 0o755)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def run_cli(self, *args, umask=None, prefix=()):
        """prefix: a program the tool runs under (strace)."""
        p = subprocess.run(list(prefix) + [CLI] + list(args), cwd=self.work, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120,
                           preexec_fn=None if umask is None else lambda: os.umask(umask))
        return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")

    def files(self, root="out"):
        out = []
        top = os.path.join(self.work, root)
        for base, _, names in os.walk(top):
            for n in names:
                out.append(os.path.relpath(os.path.join(base, n), top).replace(os.sep, "/"))
        return sorted(out)

    def read(self, rel):
        with open(os.path.join(self.work, "out", *rel.split("/")), "rb") as f:
            return f.read()

    def patch_central(self, index, fields):
        """Overwrites fields of central header number index: {offset: (value, size)}."""
        with open(self.archive, "r+b") as f:
            data = bytearray(f.read())
            at = -1
            for _ in range(index + 1):
                at = data.find(b"PK\x01\x02", at + 1)
            for offset, (value, size) in fields.items():
                data[at + offset:at + offset + size] = value.to_bytes(size, "little")
            f.seek(0)
            f.write(data)

    def standard(self):
        make_zip(self.archive, [("dir/a.txt", b"alpha\n"), ("dir/sub/b.txt", b"beta\n" * 1000),
                                ("c.bin", bytes(range(256)) * 300)])

    # ---- usage and unreadable archives ---------------------------------------------

    def test_usage_errors_exit_3(self):
        for args in ([], ["-K", "a.zip"], ["--frobnicate"], ["-d"], ["-o", "-n", "a.zip"], ["-l", "-t", "a.zip"]):
            rc, out, err = self.run_cli(*args)
            self.assertEqual(rc, 3, args)
            self.assertIn("usage: quvunzip", err)

    def test_unreadable_archives_exit_2_with_one_line(self):
        with open(os.path.join(self.work, "text.zip"), "w") as f:
            f.write("not an archive at all\n" * 20)
        for name, args in (("missing.zip", []), ("text.zip", []), ("text.zip", ["-B"]), ("text.zip", ["-l"])):
            rc, out, err = self.run_cli(*args, "-d", "out", name)
            self.assertEqual(rc, 2, (name, args, err))
            lines = err.strip().splitlines()
            self.assertEqual(len(lines), 1, err)
            self.assertTrue(lines[0].startswith("quvunzip: " + name + ": "), err)
        self.assertEqual(self.files(), [])

    def test_help_version_and_the_manual_agree(self):
        rc, out, err = self.run_cli("--help")
        self.assertEqual((rc, err), (0, ""))
        self.assertEqual(self.run_cli("-h")[1], out)
        rc, version, _ = self.run_cli("--version")
        self.assertEqual(rc, 0)
        self.assertRegex(version, r"^quvunzip \d+\.\d+\.\d+\n$")
        options = set(re.findall(r"(?<![\w-])(--?[a-zA-Z][\w-]*)", out))
        self.assertGreaterEqual(len(options), 16, options)
        here = os.path.dirname(os.path.abspath(__file__))
        manual = subprocess.run(["man", "-l", os.path.join(here, "..", "..", "cli", "quvunzip.1")],
                                env=dict(os.environ, MANWIDTH="100", MAN_KEEP_FORMATTING=""),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True).stdout.decode()
        with open(os.path.join(here, "..", "..", "README.md"), encoding="utf-8") as f:
            readme = f.read()
        readme = readme[readme.index("## quvunzip"):]
        for option in options:
            self.assertRegex(manual, r"(?m)^\s+.*%s\b" % re.escape(option).replace("\\-", "[-\u2010]"), option)
            self.assertIn(option, readme, option)

    # ---- listing, testing, extracting ---------------------------------------------------

    def test_list_shows_entries_and_writes_nothing(self):
        self.standard()
        rc, out, err = self.run_cli("-l", "-d", "out", "a.zip")
        self.assertEqual(rc, 0, err)
        for word in ("dir/a.txt", "dir/sub/b.txt", "c.bin", "Deflate", "5000", "76800", "3 entries"):
            self.assertIn(word, out)
        self.assertFalse(os.path.exists(os.path.join(self.work, "out")))
        rc, out, err = self.run_cli("-l", "a.zip", "dir/*")
        self.assertIn("2 entries", out)
        self.assertNotIn("c.bin", out)

    def test_test_mode_checks_crcs_and_writes_nothing(self):
        self.standard()
        rc, out, err = self.run_cli("-t", "-d", "out", "a.zip")
        self.assertEqual(rc, 0, err)
        self.assertIn("No errors", out)
        self.assertFalse(os.path.exists(os.path.join(self.work, "out")))
        # Damage the stored CRC of c.bin in both headers.
        with open(self.archive, "rb") as f:
            data = f.read()
        with zipfile.ZipFile(self.archive) as z:
            crc = z.getinfo("c.bin").CRC.to_bytes(4, "little")
        with open(self.archive, "wb") as f:
            f.write(data.replace(crc, bytes(b ^ 0xFF for b in crc)))
        rc, out, err = self.run_cli("-t", "-d", "out", "a.zip")
        self.assertEqual(rc, 1)
        self.assertIn("c.bin: CRC error", err)
        self.assertFalse(os.path.exists(os.path.join(self.work, "out")))

    def test_extract_quietly_and_with_names(self):
        self.standard()
        rc, out, err = self.run_cli("-q", "-d", "out", "a.zip")
        self.assertEqual((rc, out, err), (0, "", ""))
        self.assertEqual(self.files(), ["c.bin", "dir/a.txt", "dir/sub/b.txt"])
        self.assertEqual(self.read("dir/sub/b.txt"), b"beta\n" * 1000)
        shutil.rmtree(os.path.join(self.work, "out"))
        rc, out, err = self.run_cli("-d", "out", "a.zip")
        self.assertEqual(rc, 0)
        self.assertIn("dir/sub/b.txt", out)

    def test_junk_paths_and_patterns(self):
        self.standard()
        rc, out, err = self.run_cli("-j", "-d", "out", "a.zip", "dir/*")
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.files(), ["a.txt", "b.txt"])
        rc, out, err = self.run_cli("-o", "-d", "out2", "a.zip", "*.BIN", "nothing")
        self.assertEqual(rc, 1, err)
        self.assertEqual(self.files("out2"), ["c.bin"])

    def test_existing_files_and_the_overwrite_options(self):
        self.standard()
        os.makedirs(os.path.join(self.work, "out", "dir"))
        target = os.path.join(self.work, "out", "dir", "a.txt")
        for args, rc_want, content in ((["-n"], 1, b"old"), ([], 1, b"old"), (["-o"], 0, b"alpha\n")):
            with open(target, "wb") as f:
                f.write(b"old")
            rc, out, err = self.run_cli(*args, "-d", "out", "a.zip")
            self.assertEqual(rc, rc_want, (args, err))
            self.assertEqual(self.read("dir/a.txt"), content, args)
            if rc_want:
                self.assertIn("dir/a.txt: exists, not overwritten", err)
            self.assertEqual(self.read("c.bin"), bytes(range(256)) * 300)

    def test_read_only_files_are_replaced_by_o_and_kept_by_n(self):
        self.standard()
        target = os.path.join(self.work, "out", "c.bin")
        for args, rc_want, content in ((["-n"], 1, b"old"), (["-o"], 0, bytes(range(256)) * 300)):
            os.makedirs(os.path.dirname(target), exist_ok=True)
            if os.path.exists(target):
                os.chmod(target, 0o644)
            with open(target, "wb") as f:
                f.write(b"old")
            os.chmod(target, 0o444)
            rc, out, err = self.run_cli(*args, "-q", "-d", "out", "a.zip", "c.bin")
            self.assertEqual(rc, rc_want, (args, err))
            self.assertEqual(self.read("c.bin"), content, args)

    def test_exclusions_pipes_comments_and_unmatched_patterns(self):
        self.standard()
        rc, out, err = self.run_cli("-d", "out", "a.zip", "-x", "*.bin", "dir/sub/*")
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.files(), ["dir/a.txt"])
        p = subprocess.run([CLI, "-p", "a.zip", "dir/*"], cwd=self.work, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual((p.returncode, p.stdout), (0, b"alpha\n" + b"beta\n" * 1000))
        self.assertEqual(self.files(), ["dir/a.txt"], "-p writes nothing to disk")
        with zipfile.ZipFile(self.archive, "a") as z:
            z.comment = b"the archive's comment"
        rc, out, err = self.run_cli("-z", "a.zip")
        self.assertEqual((rc, out), (0, "the archive's comment\n"))
        rc, out, err = self.run_cli("-v", "a.zip", "c.bin")
        self.assertRegex(out, r"76800 +\d+ +9\d% Deflate")
        self.assertIn("the archive's comment", out)
        # A pattern that matches nothing is an error, also when quiet.
        for args in (["-q", "-d", "out2"], ["-l"], ["-t"]):
            rc, out, err = self.run_cli(*args, "a.zip", "dir/a.txt", "nothing*")
            self.assertEqual(rc, 1, args)
            self.assertEqual(err, "quvunzip: no entry matches nothing*\n", args)
        self.assertTrue(os.path.exists(os.path.join(self.work, "out2", "dir", "a.txt")))

    def test_names_in_a_character_set_given_with_O(self):
        # Names stored as GBK bytes without the UTF-8 flag, as Chinese
        # Windows tools write them: a placeholder of the same length patched.
        gbk = "中文/文件.txt".encode("gbk")
        self.assertEqual(len(gbk), 13)
        make_zip(self.archive, [("p" * 13, b"gbk name")])
        with open(self.archive, "rb") as f:
            data = f.read().replace(b"p" * 13, gbk)
        with open(self.archive, "wb") as f:
            f.write(data)
        rc, out, err = self.run_cli("-O", "cp936", "-d", "out", "a.zip")
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.files(), ["中文/文件.txt"])
        self.assertIn("中文/文件.txt", self.run_cli("-l", "-O", "gbk", "a.zip")[1])
        self.assertNotIn("中文", self.run_cli("-l", "a.zip")[1])
        self.assertEqual(self.run_cli("-O", "no-such-charset", "a.zip")[0], 3)

    def test_utf8_names_and_unicode_path_fields(self):
        # A GBK name with a UTF-8 copy in an Info-ZIP Unicode Path field, as
        # legacy tools write them (placeholder patched), and a flagged name.
        gbk = "旧名.txt".encode("gbk")
        copy = "新名.txt".encode("utf-8")
        legacy = zipfile.ZipInfo("p" * len(gbk))
        body = b"\x01" + zlib.crc32(gbk).to_bytes(4, "little") + copy
        legacy.extra = (0x7075).to_bytes(2, "little") + len(body).to_bytes(2, "little") + body
        make_zip(self.archive, [(legacy, b"legacy"), ("中文/文件.txt", b"flagged")])
        with open(self.archive, "rb") as f:
            data = f.read().replace(b"p" * len(gbk), gbk)
        with open(self.archive, "wb") as f:
            f.write(data)
        rc, out, err = self.run_cli("-d", "out", "a.zip")
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.files(), ["中文/文件.txt", "新名.txt"])
        self.assertEqual(self.read("新名.txt"), b"legacy")

    def test_control_characters_are_shown_escaped_and_files_made_safe(self):
        make_zip(self.archive, [("red\x1b[31m.txt", b"x"), ("bell\x07/note.txt", b"y")])
        with zipfile.ZipFile(self.archive, "a") as z:
            z.comment = b"title\x1b]0;owned\x07 and a\nsecond line"
        for args in (["-l"], ["-v"], ["-z"], ["-d", "out"]):
            rc, out, err = self.run_cli(*args, "a.zip")
            self.assertEqual(rc, 0, (args, err))
            self.assertNotIn("\x1b", out + err, args)
            self.assertNotIn("\x07", out + err, args)
        self.assertIn("red^[[31m.txt", self.run_cli("-l", "a.zip")[1])
        self.assertIn("title^[]0;owned^G and a\nsecond line", self.run_cli("-z", "a.zip")[1])
        self.assertEqual(self.files(), ["bell_/note.txt", "red_[31m.txt"])

    def test_8bit_controls_and_lone_carriage_returns_are_escaped(self):
        # A lone 0x9B (the one-byte CSI) in a raw name, U+009B in a UTF-8 one
        # beside characters whose UTF-8 bytes include 0x80 to 0x9F.
        utf8 = "u\u009b[31m-\u20ac\u201b.txt".encode()
        raw_zip(self.archive, [(b"csi\x9b31m.txt", b"a", 0), (utf8, b"b", 0x800)],
                comment=b"kept\rHIDDEN \x9b2J and\r\nnext")
        for args in (["-l"], ["-v"], ["-z"], ["-t"], ["-d", "out"]):
            rc, out, err = self.run_cli(*args, "a.zip")
            self.assertEqual(rc, 0, (args, err))
            for raw in ("\ufffd", "\x9b", "\rH"):
                self.assertNotIn(raw, out + err, args)
        out = self.run_cli("-l", "a.zip")[1]
        self.assertIn("csi\\x9B31m.txt", out)
        self.assertIn("u\\u009B[31m-\u20ac\u201b.txt", out)
        self.assertIn("kept^MHIDDEN \\x9B2J and\r\nnext", self.run_cli("-v", "a.zip")[1])
        self.assertEqual(self.files(), ["csi_31m.txt", "u_[31m-\u20ac\u201b.txt"])

    def test_nameless_and_strongly_encrypted_entries_are_reported_and_skipped(self):
        raw_zip(self.archive, [(b"", b"nameless", 0), (b"strong.bin", b"x" * 20, 0x41), (b"fine.txt", b"fine", 0)])
        for args in (["-t"], ["-P", "pw", "-d", "out"], ["-j", "-d", "out2"]):
            rc, out, err = self.run_cli(*args, "a.zip")
            self.assertEqual(rc, 1, args)
            self.assertIn("entry 1: cannot create (the entry has no name), skipped", err)
            self.assertIn("strong.bin: strong encryption is not supported, skipped", err)
            self.assertNotIn("password", err)
            self.assertNotIn("No errors", out)
        self.assertEqual(self.files(), ["fine.txt"])
        self.assertEqual(self.files("out2"), ["fine.txt"])

    def test_passwords(self):
        if not shutil.which("zip"):
            self.skipTest("no zip")
        src = os.path.join(self.tmp, "src")
        os.makedirs(src)
        with open(os.path.join(src, "secret.txt"), "w") as f:
            f.write("the secret\n" * 100)
        # One random header in 256 lets "wrong" through the one-byte check:
        # make the archive again until Info-ZIP's unzip refuses it.
        for _ in range(10):
            if os.path.exists(self.archive):
                os.remove(self.archive)
            subprocess.run(["zip", "-q", "-P", "pass word", self.archive, "secret.txt"], cwd=src, check=True)
            if not shutil.which("unzip"):
                break
            probe = subprocess.run(["unzip", "-P", "wrong", "-t", self.archive], capture_output=True, text=True)
            if "incorrect password" in probe.stdout + probe.stderr:
                break
        rc, out, err = self.run_cli("-d", "out", "a.zip")
        self.assertEqual(rc, 1)
        self.assertIn("secret.txt: encrypted", err)
        rc, out, err = self.run_cli("-P", "wrong", "-d", "out", "a.zip")
        self.assertEqual(rc, 1)
        self.assertIn("secret.txt: wrong password", err)
        self.assertEqual(self.files(), [])
        rc, out, err = self.run_cli("-P", "pass word", "-d", "out", "a.zip")
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.read("secret.txt"), b"the secret\n" * 100)

    def test_aes_entries_list_their_method_and_extract_with_the_password(self):
        if not shutil.which("7z"):
            self.skipTest("no 7z")
        src = os.path.join(self.tmp, "src")
        os.makedirs(src)
        with open(os.path.join(src, "secret.txt"), "wb") as f:
            f.write(b"the secret\n" * 1000)
        subprocess.run(["7z", "a", "-tzip", "-bd", "-mem=AES256", "-pSECRET", self.archive, "secret.txt"], cwd=src,
                       check=True, stdout=subprocess.DEVNULL)
        rc, out, err = self.run_cli("-l", "-v", "a.zip")
        self.assertEqual(rc, 0, err)
        self.assertRegex(out, r" Deflate .* secret\.txt \(AES-256\)")
        rc, out, err = self.run_cli("-P", "wrong", "-d", "out", "a.zip")
        self.assertEqual(rc, 1)
        self.assertIn("secret.txt: wrong password", err)
        self.assertEqual(self.files(), [])
        rc, out, err = self.run_cli("-P", "SECRET", "-d", "out", "a.zip")
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.read("secret.txt"), b"the secret\n" * 1000)
        # The right password and a changed authentication code (the entry's last byte).
        with zipfile.ZipFile(self.archive) as z:
            info = z.getinfo("secret.txt")
        with open(self.archive, "r+b") as f:
            f.seek(info.header_offset + 26)
            n, m = struct.unpack("<HH", f.read(4))
            f.seek(info.header_offset + 30 + n + m + info.compress_size - 1)
            last = f.read(1)[0]
            f.seek(-1, os.SEEK_CUR)
            f.write(bytes([last ^ 1]))
        rc, out, err = self.run_cli("-P", "SECRET", "-t", "a.zip")
        self.assertEqual(rc, 1)
        self.assertIn("secret.txt: authentication failed: the data is damaged or was altered", err)
        self.assertNotIn("password", err)

    def test_unsafe_names_are_skipped_and_nothing_lands_outside(self):
        make_zip(self.archive, [("../up.txt", b"1"), ("a/../../up2.txt", b"2"), ("/abs/root.txt", b"3"),
                                ("ok/../fine.txt", b"4")])
        rc, out, err = self.run_cli("-d", "out", "a.zip")
        self.assertEqual(rc, 1)
        self.assertEqual(self.files(), ["abs/root.txt", "fine.txt"])
        self.assertEqual(sorted(os.listdir(self.work)), ["a.zip", "out"])
        self.assertEqual(sorted(os.listdir(self.tmp)), ["w"])
        self.assertIn("../up.txt: unsafe path", err)
        self.assertIn("a/../../up2.txt: unsafe path", err)

    def test_listing_names_each_method_and_an_unknown_one_is_skipped_by_name(self):
        make_zip(self.archive, [("b.txt", b"bzip2 data " * 50)], zipfile.ZIP_BZIP2)
        with zipfile.ZipFile(self.archive, "a", zipfile.ZIP_LZMA) as z:
            z.writestr("l.txt", b"lzma data " * 50)
            z.writestr("p.txt", b"no decoder", zipfile.ZIP_STORED)
            z.writestr("plain.txt", b"fine", zipfile.ZIP_STORED)
        self.patch_central(2, {10: (98, 2)})
        rc, out, _ = self.run_cli("-l", "a.zip")
        self.assertEqual(rc, 0)
        methods = [line.split()[2] for line in out.splitlines() if line.endswith(".txt")]
        self.assertEqual(methods, ["BZip2", "LZMA", "PPMd", "Stored"])
        rc, out, err = self.run_cli("-d", "out", "a.zip")
        self.assertEqual(rc, 1)
        self.assertIn("p.txt: unsupported compression method 98 (PPMd), skipped", err)
        self.assertNotIn("CRC", err)
        self.assertEqual(self.files(), ["b.txt", "l.txt", "plain.txt"])
        self.assertEqual(self.read("l.txt"), b"lzma data " * 50)

    def test_a_stream_that_ends_before_its_data_is_damaged_data_not_a_crc_error(self):
        data = b"bzip2 data " * 50
        make_zip(self.archive, [("b.txt", bz2.compress(data) + b"junk")], zipfile.ZIP_STORED)
        self.patch_central(0, {10: (12, 2), 16: (zlib.crc32(data), 4), 24: (len(data), 4)})
        rc, out, err = self.run_cli("-d", "out", "a.zip")
        self.assertEqual(rc, 1)
        self.assertIn("b.txt: damaged compressed data, not extracted", err)
        self.assertEqual(self.files(), [])

    def test_data_that_fails_to_decode_or_ends_short_is_damaged_not_a_crc_error(self):
        make_zip(self.archive, [("stored.txt", b"stored data")], zipfile.ZIP_STORED)
        with zipfile.ZipFile(self.archive, "a", zipfile.ZIP_DEFLATED) as z:
            z.writestr("deflated.txt", b"deflated data " * 20)
            z.writestr("broken.txt", b"broken " * 100)
            z.writestr("fine.txt", b"fine")
        # Declared longer than the data holds; broken.txt's first block of an invalid type.
        self.patch_central(0, {24: (100, 4)})
        self.patch_central(1, {24: (1000, 4)})
        with zipfile.ZipFile(self.archive) as z:
            broken = z.getinfo("broken.txt").header_offset + 30 + len("broken.txt")
        with open(self.archive, "r+b") as f:
            f.seek(broken)
            f.write(b"\x07")
        rc, out, err = self.run_cli("-t", "a.zip")
        self.assertEqual(rc, 1)
        for name in ("stored.txt", "deflated.txt", "broken.txt"):
            self.assertIn(name + ": damaged compressed data\n", err)
        self.assertNotIn("CRC", err)

    def test_zip64_archives_past_4_gib_and_from_zip_fz(self):
        # The real archive starts at 4.5 GiB (a sparse file) after a decoy.
        with open(self.archive, "wb") as f:
            with zipfile.ZipFile(f, "w") as z:
                z.writestr("decoy.txt", b"wrong archive\n")
            f.seek(4608 << 20)
            with zipfile.ZipFile(f, "w", zipfile.ZIP_DEFLATED) as z:
                z.writestr("real.txt", b"found past 4 GiB\n" * 100)
        rc, out, err = self.run_cli("-l", "a.zip")
        self.assertEqual((rc, err), (0, ""))
        self.assertIn("real.txt", out)
        self.assertNotIn("decoy", out)
        rc, out, err = self.run_cli("-q", "-d", "out", "a.zip")
        self.assertEqual((rc, err), (0, ""))
        self.assertEqual(self.read("real.txt"), b"found past 4 GiB\n" * 100)

        piped = b"".join(b"piped line %d\n" % i for i in range(2000))
        subprocess.run(["zip", "-q", "-fz", "fz.zip", "-"], cwd=self.work, input=piped, check=True)
        rc, out, err = self.run_cli("-t", "fz.zip")
        self.assertEqual((rc, err), (0, ""))
        self.assertIn("No errors in 1 file tested.", out)
        rc, out, err = self.run_cli("-l", "fz.zip")
        self.assertRegex(out, r"\s%d\s+\d+ Deflate .* -\n" % len(piped))

    def link_info(self, name):
        info = zipfile.ZipInfo(name)
        info.create_system = 3
        info.external_attr = (stat.S_IFLNK | 0o777) << 16
        return info

    def test_executable_bits_stay_and_set_id_bits_go(self):
        exe = zipfile.ZipInfo("run.sh")
        exe.create_system = 3
        exe.external_attr = (stat.S_IFREG | 0o4755) << 16
        make_zip(self.archive, [(exe, b"#!/bin/sh\n")])
        rc, out, err = self.run_cli("-d", "out", "a.zip")
        self.assertEqual(rc, 0, err)
        self.assertEqual(stat.S_IMODE(os.stat(os.path.join(self.work, "out", "run.sh")).st_mode), 0o755)

    def unix_file(self, name, mode):
        info = zipfile.ZipInfo(name)
        info.create_system = 3
        info.external_attr = (stat.S_IFREG | mode) << 16
        return info

    def modes(self, root, names):
        return {n: stat.S_IMODE(os.lstat(os.path.join(self.work, root, n)).st_mode) for n in names}

    def test_archive_modes_are_exact_whatever_the_umask_and_a_read_only_file_takes_it(self):
        modes = {"open": 0o666, "a/shared": 0o644, "a/b/group": 0o640, "a/b/c/own": 0o600, "exe": 0o4755,
                 "x/tool": 0o775, "none": 0o000}
        read_only = zipfile.ZipInfo("a/ro.txt")
        read_only.create_system = 0
        read_only.external_attr = 0x21
        make_zip(self.archive, [(self.unix_file(n, m), b"data") for n, m in modes.items()] + [(read_only, b"ro")])
        for umask in (0o022, 0o077, 0o002, 0o000, 0o777):
            out = "out%03o" % umask
            rc, _, err = self.run_cli("-d", out, "a.zip", umask=umask)
            self.assertEqual(rc, 0, err)
            got = self.modes(out, list(modes) + ["a/ro.txt"])
            self.assertEqual(got, {**{n: m & 0o777 for n, m in modes.items()}, "a/ro.txt": 0o444 & ~umask},
                             "umask %03o" % umask)

    def test_archive_modes_are_exact_under_a_default_acl(self):
        # u::rwx g::rwx o::---: new files there lose the bits of others, whatever the umask.
        entries = [(1, 7), (4, 7), (0x20, 0)]
        acl = struct.pack("<I", 2) + b"".join(struct.pack("<HHI", tag, perm, 0xFFFFFFFF) for tag, perm in entries)
        out = os.path.join(self.work, "out")
        os.makedirs(out)
        try:
            os.setxattr(out, "system.posix_acl_default", acl)
        except OSError as e:
            self.skipTest("no default ACL here: %s" % e)
        make_zip(self.archive, [(self.unix_file("top", 0o644), b"t"), (self.unix_file("d/e/deep", 0o755), b"d")])
        rc, _, err = self.run_cli("-d", "out", "a.zip", umask=0o022)
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.modes("out", ["top", "d/e/deep"]), {"top": 0o644, "d/e/deep": 0o755})

    @unittest.skipUnless(shutil.which("strace"), "needs strace")
    def test_files_are_made_as_open_as_they_end_without_a_mode_change_and_new_folders_without_a_look(self):
        make_zip(self.archive, [(self.unix_file("a/b/c/f%d" % i, 0o644), b"x") for i in range(3)] +
                 [(self.unix_file("a/b/d/g", 0o600), b"y"), (self.unix_file("a/e/h", 0o755), b"z")])
        trace = os.path.join(self.work, "trace")
        rc, _, err = self.run_cli("-T", "1", "-d", "out", "a.zip", umask=0o022,
                                  prefix=("env", "ASAN_OPTIONS=detect_leaks=0",  # no leak check under a tracer
                                          "strace", "-f", "-o", trace, "-e", "trace=fchmod,openat,mkdirat"))
        self.assertEqual(rc, 0, err)
        with open(trace) as f:
            calls = f.read()
        self.assertNotIn("fchmod(", calls)
        # Each is made as open as it ends, never more.
        self.assertEqual(re.findall(r'openat\(\d+, "\.quv[^"]*", [^,]*, (0\d+)\)', calls), ["0644"] * 3 + ["0600", "0755"])
        # Only "a" is looked for: every other folder is new in a folder the run made.
        self.assertEqual(re.findall(r'openat\(\d+, "([^"]*)".* = -1 ENOENT', calls), ["a"])
        self.assertEqual(self.modes("out", ["a/b/c/f0", "a/b/d/g", "a/e/h"]),
                         {"a/b/c/f0": 0o644, "a/b/d/g": 0o600, "a/e/h": 0o755})
        # Workers make their files the same way.
        make_zip(self.archive, [(self.unix_file("w%d" % i, mode), os.urandom(100000)) for i, mode in
                                enumerate((0o600, 0o644, 0o600, 0o640))])
        rc, _, err = self.run_cli("-T", "2", "-d", "out2", "a.zip", umask=0o022,
                                  prefix=("env", "ASAN_OPTIONS=detect_leaks=0",
                                          "strace", "-f", "-o", trace, "-e", "trace=fchmod,openat"))
        self.assertEqual(rc, 0, err)
        with open(trace) as f:
            calls = f.read()
        self.assertNotIn("fchmod(", calls)
        # Two workers' calls may be cut in two: "... 0600 <unfinished ...>".
        self.assertEqual(sorted(re.findall(r'openat\(\d+, "\.quv[^"]*", [^,]*, (0\d+)[) ]', calls)),
                         ["0600", "0600", "0640", "0644"])

    def test_links_made_by_zip_y_are_restored_as_unzip_restores_them(self):
        tree = os.path.join(self.tmp, "tree")
        os.makedirs(os.path.join(tree, "d", "sub"))
        with open(os.path.join(tree, "d", "f.txt"), "wb") as f:
            f.write(b"text")
        os.symlink("f.txt", os.path.join(tree, "d", "rel"))
        os.symlink("nowhere", os.path.join(tree, "d", "dangling"))
        os.symlink("../f.txt", os.path.join(tree, "d", "sub", "up"))
        os.symlink("sub", os.path.join(tree, "d", "folder"))
        subprocess.run(["zip", "-qry", self.archive, "d"], cwd=tree, check=True)
        rc, out, err = self.run_cli("-q", "-d", "out", "a.zip")
        self.assertEqual(rc, 0, err)
        subprocess.run(["unzip", "-q", "-d", os.path.join(self.work, "ref"), self.archive], check=True)

        def walk(root):
            seen = {}
            for base, dirs, names in os.walk(os.path.join(self.work, root)):
                for n in dirs + names:
                    path = os.path.join(base, n)
                    rel = os.path.relpath(path, os.path.join(self.work, root))
                    if os.path.islink(path):
                        seen[rel] = ("link", os.readlink(path))
                    elif os.path.isfile(path):
                        with open(path, "rb") as f:
                            seen[rel] = ("file", f.read())
                    else:
                        seen[rel] = ("folder", None)
            return seen
        self.assertEqual(walk("out"), walk("ref"))
        self.assertEqual(walk("out")["d/rel"], ("link", "f.txt"))

        rc, out, err = self.run_cli("-t", "a.zip")
        self.assertEqual(rc, 0, err)
        self.assertIn("testing: d/dangling -> nowhere\n", out)
        self.assertIn("testing: d/f.txt\n", out)
        rc, out, _ = self.run_cli("-l", "a.zip")
        self.assertRegex(out, r" d/sub/up -> \.\./f\.txt\n")
        rc, out, _ = self.run_cli("-p", "a.zip", "d/rel")
        self.assertEqual((rc, out), (0, "f.txt"))

    def test_links_out_of_the_destination_need_y_and_nothing_is_written_through_them(self):
        victim = os.path.join(self.tmp, "victim")
        os.makedirs(victim)
        # A link that climbs out, an entry below it, an absolute link, and
        # one whose own path climbs out.
        make_zip(self.archive, [(self.link_info("esc"), b"../../victim"), ("esc/evil.txt", b"x"),
                                (self.link_info("abs"), victim.encode()), ("ok.txt", b"ok"),
                                (self.link_info("../up"), b"ok.txt")])
        rc, out, err = self.run_cli("-d", "out", "a.zip")
        self.assertEqual(rc, 1, err)
        self.assertIn("esc: link leads outside the destination (../../victim), skipped (-y restores it)", err)
        self.assertIn("abs: link leads outside the destination", err)
        self.assertIn("../up: unsafe path", err)
        self.assertEqual(os.listdir(victim), [])
        self.assertEqual(self.read("esc/evil.txt"), b"x")
        self.assertFalse(os.path.lexists(os.path.join(self.work, "out", "abs")))
        self.assertFalse(os.path.lexists(os.path.join(self.work, "up")))

        # With -y the links come, after every file: "esc" is a folder by
        # then and stays one.
        for option in ("-y", "--absolute-links"):
            shutil.rmtree(os.path.join(self.work, "out"))
            rc, out, err = self.run_cli(option, "-d", "out", "a.zip")
            self.assertEqual(rc, 1, err)
            self.assertIn("esc: cannot create", err)
            self.assertEqual(os.listdir(victim), [])
            self.assertEqual(os.readlink(os.path.join(self.work, "out", "abs")), victim)
            self.assertFalse(os.path.lexists(os.path.join(self.work, "up")))

    # ---- safe output ---------------------------------------------------------------

    def test_a_full_disk_stops_the_run_with_the_reason_and_leaves_nothing(self):
        # A 64 KB file system with 16 KB left: the small entry fits; the
        # 40 KB one fails, the last of it only at the final flush. On one
        # thread: a worker's temporary file would take the space ahead of
        # the entries before it, so which entry fails would depend on timing.
        out = os.path.join(self.work, "out")
        os.makedirs(out)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", out],
                          stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("cannot mount a tmpfs (needs root)")
        try:
            with open(os.path.join(out, "filler"), "wb") as f:
                f.write(os.urandom(48 * 1024))
            with open(os.path.join(out, "b.bin"), "wb") as f:
                f.write(b"old")
            make_zip(self.archive, [("a.txt", b"small\n"), ("b.bin", os.urandom(40000)), ("c.txt", b"never\n")])
            rc, _, err = self.run_cli("-o", "-T", "1", "-d", "out", "a.zip")
            self.assertEqual(rc, 2, err)
            self.assertIn("Cannot write file", err)
            self.assertIn("No space left on device", err)
            self.assertIn('"out/b.bin"', err)
            self.assertEqual(sorted(os.listdir(out)), ["a.txt", "b.bin", "filler"])
            self.assertEqual(self.read("b.bin"), b"old")
        finally:
            subprocess.run(["umount", out])

    def test_a_link_at_a_final_name_passes_no_mode_change_on(self):
        # A file system mounted in the destination: a worker's file, decoded
        # in the destination itself, cannot be renamed into it.
        mounted = os.path.join(self.work, "out", "m")
        os.makedirs(mounted)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", mounted],
                          stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("cannot mount a tmpfs (needs root)")
        try:
            target = os.path.join(self.tmp, "target.txt")
            with open(target, "wb") as f:
                f.write(b"keep")
            os.chmod(target, 0o444)
            os.symlink(target, os.path.join(mounted, "f.txt"))
            make_zip(self.archive, [("m/f.txt", b"f" * 5000), ("g.txt", b"g" * 5000)])
            rc, _, err = self.run_cli("-o", "-T", "2", "-d", "out", "a.zip")
            self.assertEqual(rc, 0, err)
            self.assertEqual(stat.S_IMODE(os.stat(target).st_mode), 0o444)
            self.assertEqual(self.read("m/f.txt"), b"f" * 5000)
        finally:
            subprocess.run(["umount", mounted])

    def test_what_keeps_a_folder_from_being_made_is_named(self):
        os.makedirs(os.path.join(self.work, "out"))
        with open(os.path.join(self.work, "out", "blocked"), "wb") as f:
            f.write(b"file")
        make_zip(self.archive, [("n" * 300 + "/f.txt", b"x"), ("blocked/", b"")])
        rc, _, err = self.run_cli("-d", "out", "a.zip")
        self.assertEqual(rc, 1, err)
        self.assertIn("cannot create (File name too long)", err)
        self.assertIn("blocked/: cannot create (a link or file is in the way)", err)
        self.assertNotIn("unsafe", err)

    def test_links_and_special_files_in_the_destination_are_never_followed(self):
        out = os.path.join(self.work, "out")
        outside = os.path.join(self.tmp, "outside")
        os.makedirs(out)
        os.makedirs(outside)
        with open(os.path.join(outside, "target.txt"), "wb") as f:
            f.write(b"keep")
        os.symlink(outside, os.path.join(out, "dirlink"))
        os.symlink(os.path.join(outside, "target.txt"), os.path.join(out, "f.txt"))
        os.symlink(os.path.join(outside, "new.txt"), os.path.join(out, "dangling.txt"))
        os.mkfifo(os.path.join(out, "p.txt"))
        make_zip(self.archive, [("dirlink/x.txt", b"x"), ("f.txt", b"f"), ("dangling.txt", b"d"), ("p.txt", b"p")])
        # Kept: each name in the way is left as it is.
        rc, _, err = self.run_cli("-n", "-d", "out", "a.zip")
        self.assertEqual(rc, 1, err)
        self.assertTrue(os.path.islink(os.path.join(out, "f.txt")))
        self.assertTrue(os.path.islink(os.path.join(out, "dangling.txt")))
        self.assertTrue(stat.S_ISFIFO(os.lstat(os.path.join(out, "p.txt")).st_mode))
        # Replaced: links and the FIFO give way to plain files, nothing outside changes.
        rc, _, err = self.run_cli("-o", "-d", "out", "a.zip")
        self.assertEqual(rc, 1, err)
        self.assertIn("dirlink/x.txt", err)
        for name, data in (("f.txt", b"f"), ("dangling.txt", b"d"), ("p.txt", b"p")):
            self.assertFalse(os.path.islink(os.path.join(out, name)), name)
            self.assertEqual(self.read(name), data)
        self.assertEqual(sorted(os.listdir(outside)), ["target.txt"])
        with open(os.path.join(outside, "target.txt"), "rb") as f:
            self.assertEqual(f.read(), b"keep")

    def test_colons_are_part_of_names_on_posix(self):
        make_zip(self.archive, [("log-10:00:00.txt", b"log"), ("C:/x.txt", b"x")])
        rc, _, err = self.run_cli("-d", "out", "a.zip")
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.files(), ["C:/x.txt", "log-10:00:00.txt"])

    def test_a_local_header_past_the_directory_is_refused_for_its_own_entry(self):
        make_zip(self.archive, [("a.txt", b"alpha"), ("b.txt", b"beta")])
        # The second entry's header said to lie far past the end, on a disk of
        # its own (which in one file is the same disk): refused before any
        # file is written.
        self.patch_central(1, {34: (1, 2), 42: (0x10000000, 4)})
        rc, _, err = self.run_cli("-d", "out", "a.zip")
        self.assertEqual(rc, 2, err)
        self.assertIn("b.txt", err)
        self.assertNotIn("(a.txt)", err)
        self.assertEqual(self.files(), [])

    def test_overlapping_entries_are_refused_as_a_possible_bomb(self):
        make_zip(self.archive, [("a.txt", b"alpha" * 100), ("b.txt", b"beta")], zipfile.ZIP_STORED)
        # The first entry's data said to run over the second's header.
        self.patch_central(0, {20: (600, 4)})
        rc, _, err = self.run_cli("-d", "out", "a.zip")
        self.assertEqual(rc, 2, err)
        self.assertIn("possible zip bomb", err)
        self.assertEqual(self.files(), [])

    # ---- damaged directories --------------------------------------------------------

    def test_rebuilt_or_miscounted_directories_are_said_and_fail_the_run(self):
        make_zip(self.archive, [("bomb.bin", bytes(1 << 20))])
        with open(self.archive, "rb") as f:
            data = f.read()
        central, end = data.find(b"PK\x01\x02"), data.find(b"PK\x05\x06")
        # 50 central headers, each on another "disk" of this one file, name
        # the one local header.
        header = data[central:end]
        headers = b"".join(header[:34] + struct.pack("<H", disk) + header[36:] for disk in range(50))
        with open(self.archive, "wb") as f:
            f.write(data[:central] + headers + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 50, 50, len(headers),
                                                           central, 0))
        said = "warning: a.zip: directory rebuilt from the local headers (two central headers name the same local header)"
        for args in (["-t"], ["-l"], ["-q", "-d", "out"]):
            rc, out, err = self.run_cli(*args, "a.zip")
            self.assertEqual(rc, 1, (args, err))
            self.assertIn(said, err)
        self.assertEqual(self.files(), ["bomb.bin"])
        rc, out, err = self.run_cli("-B", "-t", "a.zip")
        self.assertEqual(rc, 0, "a rebuild asked for with -B is said but does not fail")
        self.assertIn(said, err)

        self.standard()
        with open(self.archive, "r+b") as f:
            f.seek(-22 + 8, os.SEEK_END)
            f.write(struct.pack("<HH", 0, 0))
        rc, out, err = self.run_cli("-t", "a.zip")
        self.assertEqual(rc, 1, err)
        self.assertIn("warning: a.zip: the end record counts 0 entries, the central directory holds 3", err)
        self.assertIn("No errors in 3 files tested.", out)

    # ---- threads -------------------------------------------------------------------

    def test_threads_change_neither_output_nor_files_nor_status(self):
        big = bytes((i * 31 + i // 977) & 0xFF for i in range(300000))
        make_zip(self.archive, [("d/big.bin", big), ("d/damaged.txt", b"damaged " * 5000), ("small.txt", b"s"),
                                ("../outside.txt", b"o"), ("kept.txt", b"new"), ("d/e/deep.txt", b"deep\n" * 9000),
                                ("empty.txt", b"")])
        with zipfile.ZipFile(self.archive, "a", zipfile.ZIP_BZIP2) as z:
            z.writestr("bz.txt", b"bzip2 " * 100)
        self.patch_central(1, {16: (0x12345678, 4)})
        if shutil.which("zip"):
            src = os.path.join(self.tmp, "src")
            os.makedirs(src)
            with open(os.path.join(src, "secret.txt"), "wb") as f:
                f.write(b"the secret\n" * 3000)
            subprocess.run(["zip", "-q", "-P", "pw", self.archive, "secret.txt"], cwd=src, check=True)
        out = os.path.join(self.work, "out")
        runs = {}
        for threads in ("1", "2", "5"):
            for args in (["-d", "out"], ["-P", "pw", "-d", "out"], ["-t"], ["-t", "-P", "pw"], ["-q", "-d", "out"]):
                shutil.rmtree(out, ignore_errors=True)
                os.makedirs(out)
                with open(os.path.join(out, "kept.txt"), "wb") as f:
                    f.write(b"old")
                rc, stdout, stderr = self.run_cli("-T", threads, *args, "a.zip")
                files = {n: self.read(n) for n in self.files()}
                runs.setdefault(tuple(args), []).append((threads, rc, stdout, stderr, files))
        for args, results in runs.items():
            first = results[0]
            self.assertEqual(first[1], 1, (args, first[3]))
            for other in results[1:]:
                self.assertEqual(other[1:], first[1:], (args, other[0]))
        extracted = runs[("-P", "pw", "-d", "out")][0]
        self.assertIn("d/damaged.txt: CRC error", extracted[3])
        self.assertEqual(extracted[4]["d/big.bin"], big)
        self.assertEqual(extracted[4]["kept.txt"], b"old")
        self.assertNotIn("d/damaged.txt", extracted[4])
        self.assertEqual(sorted(os.listdir(self.work)), ["a.zip", "out"])
        for bad in ("0", "x", ""):
            self.assertEqual(self.run_cli("-T", bad, "-t", "a.zip")[0], 3, bad)

    def test_an_interrupted_run_removes_its_unfinished_files_and_exits_with_the_signal(self):
        with zipfile.ZipFile(self.archive, "w", zipfile.ZIP_DEFLATED) as z:
            for i in range(8):
                z.writestr("big%d.bin" % i, bytes(64 << 20))
        out = os.path.join(self.work, "out")
        for sig, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143), (signal.SIGHUP, 129)):
            shutil.rmtree(out, ignore_errors=True)
            p = subprocess.Popen([CLI, "-T", "4", "-d", "out", "a.zip"], cwd=self.work, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            # Interrupted while workers write their temporary files.
            while not (os.path.isdir(out) and any(n.endswith(".tmp") for n in os.listdir(out))):
                self.assertIsNone(p.poll(), sig)
                time.sleep(0.002)
            p.send_signal(sig)
            _, err = p.communicate(timeout=120)
            self.assertEqual(p.returncode, status, (sig, err))
            self.assertIn("Run cancelled, unfinished files removed", err.decode())
            left = os.listdir(out)
            self.assertLess(len(left), 8)
            for name in left:
                self.assertRegex(name, r"^big\d\.bin$")
                self.assertEqual(os.path.getsize(os.path.join(out, name)), 64 << 20, name)


    def test_a_killed_run_leaves_no_partial_file_under_a_final_name(self):
        # No handler runs on SIGKILL (as in a crash or a power cut): only how
        # files are made keeps a half-written one from carrying its name.
        with zipfile.ZipFile(self.archive, "w", zipfile.ZIP_DEFLATED) as z:
            for i in range(8):
                z.writestr("big%d.bin" % i, bytes(48 << 20))
        out = os.path.join(self.work, "out")
        for threads in ("1", "2"):
            shutil.rmtree(out, ignore_errors=True)
            p = subprocess.Popen([CLI, "-T", threads, "-d", "out", "a.zip"], cwd=self.work, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            # Killed once a file has its name while another is being written.
            while not (os.path.isdir(out) and {n.endswith(".tmp") for n in os.listdir(out)} == {True, False}):
                self.assertIsNone(p.poll(), threads)
                time.sleep(0.001)
            p.kill()
            p.wait(timeout=60)
            finals = [n for n in os.listdir(out) if not n.endswith(".tmp")]
            self.assertTrue(finals, threads)
            for name in finals:
                self.assertEqual(os.path.getsize(os.path.join(out, name)), 48 << 20, (threads, name))

if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    CLI = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
