# Zip64 archives as current tools write them, each with NAME.expect: one
# line per entry, "name<TAB>uncompressed size<TAB>crc32 in hex", worked out
# from the data put in, not from the archive.
set -euo pipefail

# ---- Python's zipfile: forced Zip64 headers, a stream with Zip64
# descriptors, 70,000 entries, an archive past 4 GiB (sparse) ----------------
python3 - <<'PY'
import io, zipfile, zlib

def expect(name, entries):
    with open(name + '.expect', 'w', encoding='utf-8') as f:
        for n, data in entries:
            f.write('%s\t%d\t%08x\n' % (n, len(data), zlib.crc32(data)))

text = b''.join(b'line %d of the text\n' % i for i in range(5000))
entries = [('a.txt', text), ('sub/stored.bin', bytes(range(256)) * 40), ('empty.txt', b'')]

def fill(zf):
    for n, data in entries:
        info = zipfile.ZipInfo(n, (2024, 5, 6, 7, 8, 10))
        info.compress_type = zipfile.ZIP_STORED if n.endswith('.bin') else zipfile.ZIP_DEFLATED
        with zf.open(info, 'w', force_zip64=True) as f:
            f.write(data)

with zipfile.ZipFile('force64.zip', 'w') as zf:
    fill(zf)
expect('force64.zip', entries)

# An unseekable output: sizes follow the data in Zip64 descriptors.
class Pipe(io.RawIOBase):
    def __init__(self): self.buf = bytearray()
    def writable(self): return True
    def write(self, b): self.buf += b; return len(b)
    def seekable(self): return False
pipe = Pipe()
with zipfile.ZipFile(pipe, 'w') as zf:
    fill(zf)
open('stream64.zip', 'wb').write(bytes(pipe.buf))
expect('stream64.zip', entries)

many = [('d%d/f%05d.txt' % (i // 1000, i), b'%d\n' % i) for i in range(70000)]
with zipfile.ZipFile('many.zip', 'w', zipfile.ZIP_STORED) as zf:
    for n, data in many:
        zf.writestr(zipfile.ZipInfo(n, (2024, 1, 1, 0, 0, 0)), data)
expect('many.zip', many)

# A small archive at the start, then a hole, then the real one at 4.5 GiB:
# its offsets only fit in Zip64 fields, and a reader that cuts positions to
# 32 bits finds the decoy.
with open('sparse.zip', 'wb') as f:
    with zipfile.ZipFile(f, 'w') as zf:
        zf.writestr('decoy.txt', b'wrong archive\n')
    f.seek(4608 * 1024 * 1024)
    with zipfile.ZipFile(f, 'w', zipfile.ZIP_DEFLATED) as zf:
        for n, data in entries:
            zf.writestr(n, data)
expect('sparse.zip', entries)
PY

# ---- the directory lost: only the local-header scan can list these --------
python3 - <<'PY'
import struct
def cut_directory(src, dst, strip_descriptor_signatures=False):
    d = open(src, 'rb').read()
    end = d.rfind(b'PK\x05\x06')
    loc = d.rfind(b'PK\x06\x07', 0, end)
    if loc >= 0:
        z64 = struct.unpack('<Q', d[loc + 8:loc + 16])[0]
        cd = struct.unpack('<Q', d[z64 + 48:z64 + 56])[0]
    else:
        cd = struct.unpack('<I', d[end + 16:end + 20])[0]
    body = d[:cd]
    if strip_descriptor_signatures:
        body = body.replace(b'PK\x07\x08', b'')
    open(dst, 'wb').write(body)
cut_directory('stream64.zip', 'stream64-nocd.zip')
cut_directory('stream64.zip', 'stream64-nosig-nocd.zip', True)
PY
cp stream64.zip.expect stream64-nocd.zip.expect
cp stream64.zip.expect stream64-nosig-nocd.zip.expect

# ---- Info-ZIP zip: -fz from a pipe, and a split set with Zip64 records -------
python3 -c "import sys; sys.stdout.buffer.write(b''.join(b'piped line %d\n' % i for i in range(3000)))" > piped.txt
zip -q -fz fz.zip - < piped.txt
python3 - <<'PY'
import zlib
d = open('piped.txt', 'rb').read()
open('fz.zip.expect', 'w').write('-\t%d\t%08x\n' % (len(d), zlib.crc32(d)))
PY
python3 -c "import random, sys; r = random.Random(7); sys.stdout.buffer.write(bytes(r.getrandbits(8) for _ in range(300000)))" > noise.bin
printf 'after the noise\n' > tail.txt
zip -q -fz -s 64k split.zip noise.bin tail.txt
python3 - <<'PY'
import zlib
with open('split.zip.expect', 'w') as f:
    for n in ('noise.bin', 'tail.txt'):
        d = open(n, 'rb').read()
        f.write('%s\t%d\t%08x\n' % (n, len(d), zlib.crc32(d)))
PY
cp split.zip.expect fz-files.zip.expect
zip -q -fz fz-files.zip noise.bin tail.txt

# ---- 7-Zip's zip writer --------------------------------------------------------
mkdir -p 7z-src/folder
cp noise.bin 7z-src/folder/noise.bin
cp tail.txt 7z-src/tail.txt
(cd 7z-src && 7z a -tzip -bd -bso0 ../7z.zip folder/noise.bin tail.txt)
sed 's#^noise#folder/noise#' split.zip.expect > 7z.zip.expect
rm -rf 7z-src noise.bin tail.txt piped.txt

# ---- one 4.36 GB entry of zeros: 19 MB deflated, made once -----------------------
python3 - <<'PY'
import zipfile, zlib
size = 4_360_000_000
chunk = bytes(1 << 20)
crc = 0
with zipfile.ZipFile('zeros.zip', 'w', zipfile.ZIP_DEFLATED, compresslevel=1) as zf:
    with zf.open('zeros.bin', 'w', force_zip64=True) as f:
        left = size
        while left:
            part = chunk if left >= len(chunk) else chunk[:left]
            f.write(part)
            crc = zlib.crc32(part, crc)
            left -= len(part)
open('zeros.zip.expect', 'w').write('zeros.bin\t%d\t%08x\n' % (size, crc))
PY
