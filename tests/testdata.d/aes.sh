#!/usr/bin/env bash
# WinZip AES archives made by 7z with the password SECRET, and what 7z
# extracts from them as the reference:
#   aes128.zip, aes192.zip, aes256.zip   AE-2 (7z writes no other), deflated,
#                                        stored (the random file) and empty entries
#   aes128-stored.zip                    every entry stored
#   ae1.zip           aes256.zip made AE-1: vendor version 1 and the real CRC
#                     in both headers
#   ae1-badcrc.zip    ae1.zip with a wrong CRC for text.txt in both headers
#   flipped.zip       aes256.zip with one byte of random.bin's encrypted
#                     data flipped (stored, AE-2: only the authentication
#                     code can tell)
#   ref/              7z x -pSECRET of aes256.zip (all of them extract the same)
set -euo pipefail

python3 - <<'PY'
import os, random
rng = random.Random(99)
os.makedirs('tree/sub', exist_ok=True)
def put(path, data):
    with open(path, 'wb') as f:
        f.write(data)
put('tree/small.txt', b'hello, aes\n')
put('tree/empty.txt', b'')
put('tree/random.bin', rng.randbytes(100000))
put('tree/sub/text.txt', b''.join(b'line %d of the text\n' % i for i in range(30000)))
PY
find tree -exec touch -d '2024-02-29 12:34:56' {} +

(cd tree && for bits in 128 192 256; do 7z a -tzip -bd -mem=AES$bits -pSECRET "../aes$bits.zip" . >/dev/null; done)
(cd tree && 7z a -tzip -bd -mx=0 -mem=AES128 -pSECRET ../aes128-stored.zip . >/dev/null)
7z x -bd -pSECRET -oref aes256.zip >/dev/null

python3 - <<'PY'
import struct, zipfile, zlib

def entries(data):
    """(name, central header offset, local header offset) of every entry."""
    out, at = [], data.find(b'PK\x01\x02')
    while at >= 0:
        n, m, k = struct.unpack_from('<HHH', data, at + 28)
        local = struct.unpack_from('<I', data, at + 42)[0]
        out.append((data[at + 46:at + 46 + n].decode(), at, local))
        at = data.find(b'PK\x01\x02', at + 46 + n + m + k)
    return out

def aes_field(data, header, name_at, lengths_at):
    n, m = struct.unpack_from('<HH', data, header + lengths_at)
    extra = header + name_at + n
    end = extra + m
    while extra + 4 <= end:
        tag, size = struct.unpack_from('<HH', data, extra)
        if tag == 0x9901:
            return extra + 4
        extra += 4 + size
    return None

def patched(source, target, crc_of):
    data = bytearray(open(source, 'rb').read())
    for name, central, local in entries(data):
        for header, crc_at, name_at, lengths_at in ((central, 16, 46, 28), (local, 14, 30, 26)):
            field = aes_field(data, header, name_at, lengths_at)
            if field is None:
                continue  # a folder
            struct.pack_into('<H', data, field, 1)
            struct.pack_into('<I', data, header + crc_at, crc_of(name))
    open(target, 'wb').write(data)

def real_crc(name):
    return zlib.crc32(open('tree/' + name, 'rb').read())

patched('aes256.zip', 'ae1.zip', real_crc)
patched('aes256.zip', 'ae1-badcrc.zip', lambda name: real_crc(name) ^ (1 if name == 'sub/text.txt' else 0))

data = bytearray(open('aes256.zip', 'rb').read())
for name, central, local in entries(data):
    if name == 'random.bin':
        n, m = struct.unpack_from('<HH', data, local + 26)
        data[local + 30 + n + m + 16 + 2 + 5000] ^= 0x20
open('flipped.zip', 'wb').write(data)
PY

# 7z agrees: every archive but the damaged ones extracts to ref/, and it
# refuses those.
for a in aes128.zip aes192.zip aes128-stored.zip ae1.zip; do
  rm -rf check && 7z x -bd -pSECRET -ocheck "$a" >/dev/null && diff -r ref check
done
for a in ae1-badcrc.zip flipped.zip; do
  rm -rf check
  if 7z x -bd -pSECRET -ocheck "$a" >/dev/null 2>&1; then echo "7z extracts the damaged $a" >&2; exit 1; fi
done
rm -rf check tree
