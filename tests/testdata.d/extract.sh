#!/usr/bin/env bash
# Archives for the extraction tests, made with Debian's zip (levels 0 to 9)
# and 7z from one tree of files, and what Info-ZIP's unzip extracts from them
# as the reference:
#   tree-L0.zip .. tree-L9.zip, tree-7z.zip   the tree below
#   many.zip, many-7z.zip                      2,000 small files in 40 folders
#   ref/            unzip's extraction of tree-L6.zip (all others extract the same)
#   ref-many/       unzip's extraction of many.zip
#   cut.zip         tree-L6.zip cut off inside big-text.txt's data
# The tree: empty, 1-byte, 32,768-byte, 32,769-byte and multi-megabyte files
# of random bytes and of text, folders (one empty), a read-only file, and
# files dated in the past (even seconds: the archive keeps two-second steps).
set -euo pipefail

python3 - <<'PY'
import os, random
rng = random.Random(4242)
def put(path, data):
    os.makedirs(os.path.dirname(path) or '.', exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data)
words = b'alpha beta gamma delta wizard service folder archive entry window deflate'.split()
def text(n):
    out = bytearray()
    while len(out) < n:
        out += b' '.join(rng.choice(words) for _ in range(rng.randint(3, 12))) + b'\n'
    return bytes(out[:n])
put('tree/empty.txt', b'')
put('tree/one.bin', b'\x7f')
put('tree/exact.bin', rng.randbytes(32768))
put('tree/over.bin', rng.randbytes(32769))
put('tree/text/exact.txt', text(32768))
put('tree/text/over.txt', text(32769))
put('tree/big/random.bin', rng.randbytes(3 << 20))
put('tree/big/text.txt', text((3 << 20) + 12345))
put('tree/big/mixed.bin', (text(200000) + rng.randbytes(50000)) * 6)
put('tree/deep/a/b/c/leaf.txt', b'leaf\n')
put('tree/readonly.txt', b'do not touch\n')
os.makedirs('tree/emptydir', exist_ok=True)
for i in range(2000):
    put('manysrc/f%02d/file%04d.txt' % (i % 40, i), ('entry %d\n' % i).encode() * (i % 7))
PY
# The archive keeps two-second steps and unzip prefers the exact time of the
# extra field: even seconds everywhere, so both agree.
find tree manysrc -exec touch -d '2024-02-29 12:34:56' {} +
touch -d '2019-03-04 05:06:08' tree/big/text.txt tree/one.bin
touch -d '2001-12-31 23:59:58' tree/deep/a/b/c/leaf.txt
chmod 444 tree/readonly.txt

(cd tree && for l in 0 1 2 3 4 5 6 7 8 9; do zip -q -r -"$l" "../tree-L$l.zip" .; done)
(cd tree && 7z a -tzip -bd ../tree-7z.zip . >/dev/null)
(cd manysrc && zip -q -r ../many.zip . && 7z a -tzip -bd ../many-7z.zip . >/dev/null)
rm -rf manysrc

unzip -q tree-L6.zip -d ref
unzip -q many.zip -d ref-many
# Every archive of the tree extracts to the same bytes with unzip.
for a in tree-L*.zip tree-7z.zip; do
  rm -rf check && unzip -q "$a" -d check && diff -r ref check
done
rm -rf check tree

python3 - <<'PY'
import zipfile
data = open('tree-L6.zip', 'rb').read()
z = zipfile.ZipFile('tree-L6.zip')
i = z.getinfo('big/text.txt')
cut = i.header_offset + 30 + len(i.filename) + len(i.extra) + i.compress_size // 2
open('cut.zip', 'wb').write(data[:cut])
PY
