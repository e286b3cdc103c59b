#!/usr/bin/env bash
# Archives for the unzip component's tests, made with Debian's zip and 7z and
# damaged on purpose with small Python edits, and listings of them (and of
# the shared corpus) written by Python's zipfile as the reference.
#
# Listing format (NAME.list), one line per entry in central-directory order,
# after a first line "C <archive comment>"; fields are tab-separated, texts
# in hex ("-" when empty):
#   E name comment compressed uncompressed crc dosdatetime disk offset flags method host
# An archive zipfile refuses gets NAME.refused, holding zipfile's reason.
set -euo pipefail
export TZ=UTC LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
corpus=${QUV_CORPUS:-$here/../../../shared/corpus}

lister() {
PYTHONPATH="$here/../encoders" python3 - "$@" <<'PY'
import sys, zipfile
from zipnames import engine_name
def hx(b): return b.hex() if b else '-'
for arg in sys.argv[1:]:
    path, _, out = arg.partition('=')
    out = out or path + '.list'
    try:
        z = zipfile.ZipFile(path)
    except Exception as refusal:
        # Its verdict on damaged archives differs between Python builds: the
        # tests skip a refused archive with this reason instead of failing.
        with open(out[:-len('.list')] + '.refused', 'w') as f:
            f.write('%s: %s\n' % (type(refusal).__name__, refusal))
        continue
    lines = ['C\t' + hx(z.comment)]
    for i in z.infolist():
        # A name from a matching Unicode Path block is marked as UTF-8.
        raw, utf8 = engine_name(i)
        y, mo, d, h, mi, s = i.date_time
        dos = ((y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) | (mi << 5) | (s // 2)
        lines.append('\t'.join(['E', hx(raw), hx(i.comment), str(i.compress_size), str(i.file_size),
                                '%08x' % i.CRC, '%08x' % dos, str(i.volume), str(i.header_offset),
                                str(i.flag_bits | (0x800 if utf8 else 0)), str(i.compress_type),
                                str(i.create_system)]))
    with open(out, 'w') as f:
        f.write('\n'.join(lines) + '\n')
PY
}

# Multi-disk sets, which zipfile cannot read: the end record of the last
# disk and the central directory read across the disks given in order.
span_lister() {
python3 - "$@" <<'PY'
import struct, sys
out, disks = sys.argv[1], sys.argv[2:]
data = [open(d, 'rb').read() for d in disks]
last = data[-1]
e = last.rfind(b'PK\x05\x06')
this, cdisk, n1, total, size, off, clen = struct.unpack('<HHHHIIH', last[e + 4:e + 22])
stream = b''.join([data[cdisk][off:]] + data[cdisk + 1:])
def hx(b): return b.hex() if b else '-'
lines = ['C\t' + hx(last[e + 22:e + 22 + clen])]
p = 0
for _ in range(total):
    (sig, made, need, flags, method, t, d, crc, csize, usize, n, x, k, disk, ia, ea,
     local) = struct.unpack('<IHHHHHHIIIHHHHHII', stream[p:p + 46])
    assert sig == 0x02014B50
    name = stream[p + 46:p + 46 + n]
    comment = stream[p + 46 + n + x:p + 46 + n + x + k]
    lines.append('\t'.join(['E', hx(name), hx(comment), str(csize), str(usize), '%08x' % crc,
                            '%08x' % ((d << 16) | t), str(disk), str(local), str(flags), str(method),
                            str(made >> 8)]))
    p += 46 + n + x + k
open(out, 'w').write('\n'.join(lines) + '\n')
PY
}

# ---- a tree with varied names, sizes and dates --------------------------------
mkdir -p tree/docs/deep tree/src
printf 'read me first\n' > tree/docs/readme.txt
python3 -c "import random; random.seed(7); open('tree/docs/Big.bin','wb').write(bytes(random.randrange(256) for _ in range(5000)))"
python3 -c "open('tree/alpha.txt','w').write('alpha line\n' * 1000)"
: > tree/zeta.txt
printf 'int main(void) { return 0; }\n' > tree/src/a.c
printf 'deep\n' > tree/docs/deep/Note.TXT
touch -d '2001-02-03 04:05:06' tree/docs/readme.txt
touch -d '2015-06-07 08:09:10' tree/docs/Big.bin
touch -d '1999-12-31 23:59:58' tree/alpha.txt
touch -d '2020-01-01 00:00:00' tree/zeta.txt
touch -d '2010-10-10 10:10:10' tree/src/a.c
touch -d '2005-05-05 05:05:04' tree/docs/deep/Note.TXT

# Comments on two entries and on the archive.
add_comments() {
  zipnote "$1" | python3 -c "
import sys
out = []
cur = None
for l in sys.stdin.read().split('\n'):
    if l.startswith('@ ') and not l.startswith('@ ('): cur = l[2:]
    if l == '@ (comment above this line)' and cur == 'docs/readme.txt': out.append('About the readme')
    if l == '@ (comment above this line)' and cur == 'src/a.c': out.append('C source, tiny')
    out.append(l)
    if l == '@ (zip file comment below this line)': out.append('Archive comment: test set')
print('\n'.join(out), end='')
" > notes.tmp
  zipnote -w "$1" < notes.tmp
  rm -f notes.tmp
}

(cd tree && zip -q -r ../plain.zip docs src alpha.txt zeta.txt)
add_comments plain.zip
(cd tree && 7z a -tzip -bd ../seven.zip docs src alpha.txt zeta.txt > /dev/null)
(cd tree && zip -q -r -X ../bare.zip docs/readme.txt src/a.c alpha.txt zeta.txt)

# ---- damaged directories ------------------------------------------------------
python3 - <<'PY'
import struct
d = open('plain.zip', 'rb').read()
e = d.rfind(b'PK\x05\x06')
cd_size, cd_off = struct.unpack('<II', d[e + 12:e + 20])
# No central directory and no end record at all.
open('nocentral.zip', 'wb').write(d[:cd_off])
# Central directory overwritten with zeros, end record intact.
open('zeroed.zip', 'wb').write(d[:cd_off] + b'\0' * cd_size + d[cd_off + cd_size:])
# The directory kept in a configuration file beside the archive.
open('cfg.zip', 'wb').write(d[:cd_off])
open('cfg.zfc', 'wb').write(d[cd_off:])
# A configuration file that holds no end record.
open('nocfg.zip', 'wb').write(d[:cd_off])
open('nocfg.zfc', 'wb').write(b'not a directory\n' * 4)

# Two central entries naming the same local header (the second names the first's).
c = bytearray(d)
p = cd_off
offsets = []
while c[p:p + 4] == b'PK\x01\x02':
    n, x, k = struct.unpack('<HHH', c[p + 28:p + 34])
    offsets.append(p)
    p += 46 + n + x + k
first_local = struct.unpack('<I', c[offsets[0] + 42:offsets[0] + 46])[0]
c[offsets[2] + 42:offsets[2] + 46] = struct.pack('<I', first_local)
open('dup.zip', 'wb').write(bytes(c))

# An extra-field length that claims bytes that are not there (first entry).
b = bytearray(open('bare.zip', 'rb').read())
e = b.rfind(b'PK\x05\x06')
cd_off = struct.unpack('<I', b[e + 16:e + 20])[0]
assert struct.unpack('<H', b[cd_off + 30:cd_off + 32])[0] == 0
b[cd_off + 30:cd_off + 32] = struct.pack('<H', 10)
open('liar.zip', 'wb').write(bytes(b))

# End records that must be judged implausible.
def with_end(fields):
    body = d[:d.rfind(b'PK\x05\x06')]
    return body + b'PK\x05\x06' + struct.pack('<HHHHIIH', *fields)
e = d.rfind(b'PK\x05\x06')
this, cdisk, n1, n2, size, off, clen = struct.unpack('<HHHHIIH', d[e + 4:e + 22])
open('disk1000.zip', 'wb').write(with_end((1000, 0, n1, n2, size, off, 0)))
open('diskorder.zip', 'wb').write(with_end((1, 2, n1, n2, size, off, 0)))
open('bigoffset.zip', 'wb').write(with_end((0, 0, n1, n2, size, 0x80000000, 0)))
open('short.zip', 'wb').write(b'PK\x03\x04abc')
open('empty.zip', 'wb').write(b'')
PY

# ---- self-extracting archive: a 15,000-byte stub with a decoy local header -----
python3 - <<'PY'
import struct
stub = bytearray(b'MZ' + b'x' * 14998)
name = b'decoy.txt'
decoy = b'PK\x03\x04' + struct.pack('<HHHIIIIHH', 10, 0, 0, 0, 0, 0, 0, len(name), 0) + name
stub[100:100 + len(decoy)] = decoy
open('stub.bin', 'wb').write(bytes(stub))
PY
cat stub.bin bare.zip > sfx-good.exe
zip -q -A sfx-good.exe
python3 - <<'PY'
d = bytearray(open('sfx-good.exe', 'rb').read())
e = d.rfind(b'PK\x05\x06')
d[e:e + 4] = b'XXXX'
for n in ('sfx.exe', 'sfx2.EXE', 'sfx3.Exe', 'sfx4.zip'):
    open(n, 'wb').write(bytes(d))
PY
rm -f stub.bin

# ---- traditional encryption ------------------------------------------------------
mkdir -p secret
printf 'The quick brown fox jumps over the lazy dog.\n' > secret/fox.txt
python3 -c "open('secret/numbers.txt','w').write(''.join('%d\n' % i for i in range(3000)))"
touch -d '2012-03-04 05:06:08' secret/fox.txt secret/numbers.txt
# The one-byte header check lets a wrong password through once in 256
# random headers; the tests' wrong passwords must be refused by it, so an
# archive is made again until Info-ZIP's unzip refuses each of them.
encrypted() {
  local archive=$1; shift
  local tries
  for tries in 1 2 3 4 5 6 7 8 9 10; do
    rm -f "$archive"
    (cd secret && "$@")
    local wrong refused=yes
    for wrong in 'pass word' wrong nope; do
      case $(unzip -P "$wrong" -t "$archive" 2>&1 || true) in
        *'incorrect password'*) ;;
        *) refused=no ;;
      esac
    done
    [ $refused = yes ] && return 0
  done
  echo "$archive: a wrong password passes the header check in every try" >&2
  return 1
}
encrypted enc-zip.zip zip -q -P 'Pass word' ../enc-zip.zip fox.txt numbers.txt
encrypted enc-zip-stored.zip zip -q -0 -P 'Pass word' ../enc-zip-stored.zip fox.txt
encrypted enc-7z.zip sh -c "7z a -tzip -bd -p'Pass word' -mem=ZipCrypto ../enc-7z.zip fox.txt numbers.txt > /dev/null"
encrypted enc-7z-stored.zip sh -c "7z a -tzip -bd -mx0 -p'Pass word' -mem=ZipCrypto ../enc-7z-stored.zip fox.txt > /dev/null"
# zip refuses an empty password; encrypt a stored entry with it here.
python3 - <<'PY'
import struct, zlib
def crc_step(c, b): return zlib.crc32(bytes([b]), c ^ 0xFFFFFFFF) ^ 0xFFFFFFFF
class Keys:
    def __init__(self, pw):
        self.k = [0x12345678, 0x23456789, 0x34567890]
        for c in pw: self.update(c)
    def update(self, b):
        k = self.k
        k[0] = crc_step(k[0], b)
        k[1] = ((k[1] + (k[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        k[2] = crc_step(k[2], k[1] >> 24)
    def encrypt(self, data):
        out = bytearray()
        for p in data:
            t = (self.k[2] & 0xFFFF) | 2
            out.append(p ^ (((t * (t ^ 1)) >> 8) & 0xFF))
            self.update(p)
        return bytes(out)
data = open('secret/fox.txt', 'rb').read()
crc = zlib.crc32(data)
keys = Keys(b'')
body = keys.encrypt(bytes(range(11)) + bytes([crc >> 24])) + keys.encrypt(data)
name = b'fox.txt'
dostime, dosdate = 0x28A4, 0x4064
local = b'PK\x03\x04' + struct.pack('<HHHHHIIIHH', 20, 1, 0, dostime, dosdate, crc, len(body), len(data), len(name), 0) + name
central = b'PK\x01\x02' + struct.pack('<HHHHHHIIIHHHHHII', 20, 20, 1, 0, dostime, dosdate, crc, len(body), len(data),
                                       len(name), 0, 0, 0, 0, 0x20, 0) + name
end = b'PK\x05\x06' + struct.pack('<HHHHIIH', 0, 0, 1, 1, len(central), len(local) + len(body), 0)
open('enc-empty.zip', 'wb').write(local + body + central + end)
PY

# ---- multi-disk sets ---------------------------------------------------------------
mkdir -p span
python3 - <<'PY'
import random
random.seed(11)
open('span/random.bin', 'wb').write(bytes(random.randrange(256) for _ in range(150000)))
for i in range(1, 701):
    open('span/some_rather_long_file_name_to_fill_the_central_directory_%03d.txt' % i, 'w').write('file %d\n' % i)
PY
touch -d '2018-08-08 08:08:08' span/*
(cd span && zip -q ../whole.zip random.bin some_*.txt)
zipnote whole.zip | python3 -c "
import sys
out = []
cur = None
for l in sys.stdin.read().split('\n'):
    if l.startswith('@ ') and not l.startswith('@ ('): cur = l[2:]
    if l == '@ (comment above this line)' and cur in ('random.bin', 'some_rather_long_file_name_to_fill_the_central_directory_700.txt'):
        out.append('comment of ' + cur)
    out.append(l)
    if l == '@ (zip file comment below this line)': out.append('the set of disks')
print('\n'.join(out), end='')
" > notes.tmp
zipnote -w whole.zip < notes.tmp
rm -f notes.tmp
zip -q -s 64k whole.zip --out split.zip
# The same set under numbered names, opened as its last file.
n=$(ls split.z[0-9][0-9] | wc -l)
for f in split.z[0-9][0-9]; do
  k=${f##*.z}
  cp "$f" "num.0$k"
done
cp split.zip "num.$(printf '%03d' $((n + 1)))"
# A set whose central directory has a header cut in two by a disk boundary.
python3 - <<'PY'
import glob, shutil, struct
d = open('split.zip', 'rb').read()
e = d.rfind(b'PK\x05\x06')
this, cdisk = struct.unpack('<HH', d[e + 4:e + 8])
disks = sorted(glob.glob('split.z[0-9][0-9]')) + ['split.zip']
for i, name in enumerate(disks):
    shutil.copy(name, 'cut.%03d' % (i + 1))
# Move the central directory's first disk's last header, from its 21st
# byte on, to the start of the next disk.
a = 'cut.%03d' % (cdisk + 1)
b = 'cut.%03d' % (cdisk + 2)
x = open(a, 'rb').read()
y = open(b, 'rb').read()
cut = x.rfind(b'PK\x01\x02') + 20
assert cut > 20
open(a, 'wb').write(x[:cut])
open(b, 'wb').write(x[cut:] + y)
open('span.info', 'w').write('%d %d %d\n' % (this, cdisk, len(disks)))
PY
rm -rf span
span_lister split.list split.z[0-9][0-9] split.zip
span_lister cut.list cut.0[0-9][0-9]

# MS-DOS names in code page 437 without a Unicode Path block ("äb.txt" and
# "üö.txt"; read as code page 936 they are whole double-byte characters):
# zipfile writes ASCII placeholders, patched to the OEM bytes.
python3 - <<'PY'
import zipfile
with zipfile.ZipFile('oem.zip', 'w') as z:
    for name in ('Xb.txt', 'YZ.txt'):
        info = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))
        info.create_system = 0
        z.writestr(info, b'oem\n')
d = open('oem.zip', 'rb').read().replace(b'Xb.txt', b'\x84b.txt').replace(b'YZ.txt', b'\x81\x94.txt')
open('oem.zip', 'wb').write(d)
PY

lister plain.zip seven.zip bare.zip dup.zip liar.zip sfx-good.exe enc-zip.zip enc-7z.zip whole.zip oem.zip

# ---- listings of the shared corpus (read in place) --------------------------------
if [ -d "$corpus" ]; then
  mkdir -p corpus
  for f in "$corpus"/real/*.zip "$corpus"/legacy/*.zip "$corpus"/legacy/*.ZIP; do
    [ -f "$f" ] || continue
    rel=${f#"$corpus"/}
    mkdir -p "corpus/$(dirname "$rel")"
    lister "$f=corpus/$rel.list"
  done
  # The manifest's expected entries: every stored name a readable case
  # extracts, by the corpus path of the file it opens; and those files.
  PYTHONPATH="$here/../encoders" python3 - "$corpus" > corpus/manifest.list <<'PY'
import json, os, sys, zipfile
from zipnames import engine_name
# The name the engine keeps for each stored name of an archive ("U": UTF-8).
def kept_names(path):
    try:
        infos = zipfile.ZipFile(path).infolist()
    except Exception:
        return {}
    return {i.orig_filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437'): engine_name(i) for i in infos}
readable = set()
for case in json.load(open(os.path.join(sys.argv[1], 'MANIFEST.json')))['cases']:
    opened = [f['src'] for f in case['files'] if f.get('as', f['src'].split('/')[-1]) == case['open']]
    if case['exit'] in (0, 1) and opened:
        readable.add(opened[0])
    if case['exit'] not in (0, 1) or case.get('patterns'):
        continue
    kept = kept_names(os.path.join(sys.argv[1], opened[0]))
    for e in case['entries']:
        raw = bytes.fromhex(e['stored_hex']) if 'stored_hex' in e else e['stored'].encode('utf-8')
        name, utf8 = kept.get(raw, (raw, False))
        print(opened[0] + '\t' + name.hex() + ('\tU' if utf8 else ''))
# Every archive file a readable case opens, entries or not.
open('corpus/readable.list', 'w').write(''.join(name + '\n' for name in sorted(readable)))
PY
  for set in "$corpus"/real/*.001; do
    [ -f "$set" ] || continue
    base=${set%.001}
    rel=${base#"$corpus"/}
    span_lister "corpus/$rel.set.list" "$base".[0-9][0-9][0-9]
  done
fi
