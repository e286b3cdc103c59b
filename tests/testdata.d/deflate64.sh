#!/usr/bin/env bash
# Deflate64 (method 9) archives and what 7z extracts from them:
#   d64.zip    7z -mm=Deflate64 of text, random bytes and mixed data, with
#              long.bin over 64 KB whose repeats lie more than 32 KB back
#   long285.zip  a hand-made stream with length code 285 and its 16 extra
#              bits (7z's encoder stops at 257-byte matches), from 7z too
#   ref/       7z's extraction of both
#   damaged.zip  d64.zip with bytes in the middle of text.txt's data changed
#   stats.txt  what the streams hold, counted by an independent reader: the
#              longest distance and the uses of length code 285; producing
#              fails unless both Deflate64 extensions really occur
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

python3 - <<'PY'
import os, random
rng = random.Random(6464)
os.makedirs('src', exist_ok=True)
words = b'alpha beta gamma delta wizard service folder archive entry window deflate'.split()
def text(n):
    out = bytearray()
    while len(out) < n:
        out += b' '.join(rng.choice(words) for _ in range(rng.randint(3, 12))) + b'\n'
    return bytes(out[:n])
open('src/text.txt', 'wb').write(text(300000))
open('src/random.bin', 'wb').write(rng.randbytes(100000))
open('src/mixed.bin', 'wb').write((text(20000) + rng.randbytes(5000)) * 8)
# Random blocks that come back 40 000 to 60 000 bytes later.
blocks = [rng.randbytes(20000) for _ in range(4)]
long = bytearray()
for i in range(12):
    long += blocks[i % 4] + text(rng.randint(20000, 40000))
open('src/long.bin', 'wb').write(bytes(long))
PY
(cd src && 7z a -bd -tzip -mm=Deflate64 ../d64.zip text.txt random.bin mixed.bin long.bin >/dev/null)

python3 - "$here/encoders" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
import random
from legacy_codecs import BitWriter, zip_archive, reverse_bits

# Fixed-code Deflate64: literals and matches of any length up to 65 538.
def put_litlen(bw, sym):
    if sym < 144: code, n = 0x30 + sym, 8
    elif sym < 256: code, n = 0x190 + sym - 144, 9
    elif sym < 280: code, n = sym - 256, 7
    else: code, n = 0xC0 + sym - 280, 8
    bw.put(reverse_bits(code, n), n)

LBASE = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227]
LEXTRA = [0] * 8 + [1] * 4 + [2] * 4 + [3] * 4 + [4] * 4 + [5] * 4
DBASE = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769, 1025, 1537, 2049, 3073,
         4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153]
DEXTRA = [0, 0, 0, 0] + [i // 2 for i in range(2, 30)]

def put_match(bw, length, dist):
    if length > 258 or length == 258:
        put_litlen(bw, 285); bw.put(length - 3, 16)
    else:
        i = max(k for k in range(28) if LBASE[k] <= length)
        put_litlen(bw, 257 + i); bw.put(length - LBASE[i], LEXTRA[i])
    j = max(k for k in range(32) if DBASE[k] <= dist)
    bw.put(reverse_bits(j, 5), 5); bw.put(dist - DBASE[j], DEXTRA[j])

rng = random.Random(285)
bw = BitWriter()
bw.put(1, 1); bw.put(1, 2)  # last block, fixed codes
data = bytearray()
seed = rng.randbytes(70000)
for b in seed:
    put_litlen(bw, b); data.append(b)
for length, dist in [(65538, 65536), (40000, 1), (1000, 50000), (300, 7), (65538, 33000), (258, 32769)]:
    put_match(bw, length, dist)
    for _ in range(length):
        data.append(data[-dist])
for b in b'end\n':
    put_litlen(bw, b); data.append(b)
put_litlen(bw, 256)
open('long285.zip', 'wb').write(zip_archive([('long285.bin', 9, 0, bw.bytes(), bytes(data))]))
PY

mkdir -p ref
7z x -bd -y -oref d64.zip >/dev/null
7z x -bd -y -oref long285.zip >/dev/null

# An independent reader of the streams: counts what they hold.
python3 - <<'PY'
import struct, sys, zipfile

class Bits:
    def __init__(self, data): self.data, self.pos = data, 0
    def get(self, n):
        v = 0
        for i in range(n):
            v |= ((self.data[self.pos >> 3] >> (self.pos & 7)) & 1) << i
            self.pos += 1
        return v

def decoder(lengths):
    codes, code, table = {}, 0, {}
    for n in range(1, 16):
        for sym, l in enumerate(lengths):
            if l == n:
                table[(n, code)] = sym
                code += 1
        code <<= 1
    return table

def decode(bits, table):
    code = n = 0
    while True:
        code = code << 1 | bits.get(1)
        n += 1
        if (n, code) in table: return table[(n, code)]

LB = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3]
LE = [0] * 8 + [1] * 4 + [2] * 4 + [3] * 4 + [4] * 4 + [5] * 4 + [16]
DB = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769, 1025, 1537, 2049, 3073,
      4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153]
DE = [0, 0, 0, 0] + [i // 2 for i in range(2, 30)]

def stats(stream):
    bits, longest, uses285 = Bits(stream), 0, 0
    while True:
        last, kind = bits.get(1), bits.get(2)
        if kind == 0:
            bits.pos = (bits.pos + 7) & ~7
            n = bits.get(16); bits.get(16); bits.pos += 8 * n
        else:
            if kind == 1:
                lit, dist = decoder([8] * 144 + [9] * 112 + [7] * 24 + [8] * 8), decoder([5] * 32)
            else:
                nlit, ndist, ncode = bits.get(5) + 257, bits.get(5) + 1, bits.get(4) + 4
                cl = [0] * 19
                for i in range(ncode):
                    cl[[16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15][i]] = bits.get(3)
                cld, lens = decoder(cl), []
                while len(lens) < nlit + ndist:
                    s = decode(bits, cld)
                    if s < 16: lens.append(s)
                    elif s == 16: lens += [lens[-1]] * (3 + bits.get(2))
                    elif s == 17: lens += [0] * (3 + bits.get(3))
                    else: lens += [0] * (11 + bits.get(7))
                lit, dist = decoder(lens[:nlit]), decoder(lens[nlit:])
            while True:
                s = decode(bits, lit)
                if s == 256: break
                if s < 256: continue
                uses285 += s == 285
                bits.get(LE[s - 257])
                d = decode(bits, dist)
                longest = max(longest, DB[d] + bits.get(DE[d]))
        if last: return longest, uses285

def raw_streams(name):
    with zipfile.ZipFile(name) as z, open(name, 'rb') as f:
        for info in z.infolist():
            if info.compress_type != 9: continue  # 7z stores what does not shrink
            f.seek(info.header_offset)
            head = f.read(30)
            skip = struct.unpack('<HH', head[26:30])
            f.seek(info.header_offset + 30 + skip[0] + skip[1])
            yield info.filename, f.read(info.compress_size)

with open('stats.txt', 'w') as out:
    found = {}
    for archive in ('d64.zip', 'long285.zip'):
        for name, stream in raw_streams(archive):
            longest, uses285 = stats(stream)
            out.write('%s %s longest distance %d, length code 285 %d times\n' % (archive, name, longest, uses285))
            found[name] = (longest, uses285)
for name in ('text.txt', 'mixed.bin', 'long.bin'):
    if name not in found: sys.exit('7z did not deflate %s' % name)
# Damage text.txt only: its stream's middle, inside the entry's data.
streams = dict(raw_streams('d64.zip'))
whole = bytearray(open('d64.zip', 'rb').read())
at = whole.find(streams['text.txt']) + len(streams['text.txt']) // 2
whole[at:at + 16] = bytes(b ^ 0x5A for b in whole[at:at + 16])
open('damaged.zip', 'wb').write(bytes(whole))
if found['long.bin'][0] <= 32768: sys.exit('7z made no distance over 32 KB in long.bin')
if found['long285.bin'][1] == 0: sys.exit('no length code 285 in long285.bin')
PY
