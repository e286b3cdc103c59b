#!/usr/bin/env bash
# Archives of the methods decoded through outside libraries, each NAME.zip
# holding the tree below and extracted by 7z into ref-NAME/ as the reference:
#   7z-bzip2 7z-lzma 7z-lzma-eos   7z (-mm=BZip2, -mm=LZMA, -mm=LZMA:eos)
#   zip-bzip2                      Info-ZIP zip -Z bzip2
#   py-bzip2 py-lzma               Python's zipfile (its LZMA carries the end marker)
#   tools-bzip2 tools-xz tools-zstd   bzip2, xz and zstd's own output, put into
#                                  an archive here
#   small                          one small entry per method
# crypt-bzip2.zip and crypt-lzma.zip: big.txt encrypted (password "codecs").
# cases.txt lists them; multi.zip (below) has the tools as its reference. damaged-NAME.zip is NAME.zip with a byte in the middle
# of big.txt's data flipped. junk.zip and short.zip hold one entry per method
# (small.txt) whose data goes on after its stream ends, or ends early.
# dicts.zip: LZMA and .xz entries whose decoders need 1 to 2 MiB each.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

python3 - <<'PY'
import os, random
rng = random.Random(93)
words = b'quv archive stream frame block window dictionary entry folder service'.split()
def put(path, data):
    os.makedirs(os.path.dirname(path) or '.', exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data)
text = b' '.join(rng.choice(words) + b'%d' % rng.randrange(1000) for _ in range(80000)) + b'\n'
put('tree/big.txt', text)
put('tree/random.bin', rng.randbytes(70000))
put('tree/empty.txt', b'')
put('tree/one.txt', b'1')
put('tree/sub/small.txt', b'small file in a folder\n' * 40)
PY

(cd tree && 7z a -tzip -mm=BZip2 -bd ../7z-bzip2.zip . >/dev/null)
(cd tree && 7z a -tzip -mm=LZMA -bd ../7z-lzma.zip . >/dev/null)
(cd tree && 7z a -tzip -mm=LZMA:eos -bd ../7z-lzma-eos.zip . >/dev/null)
(cd tree && zip -q -r -Z bzip2 ../zip-bzip2.zip .)
# Traditional encryption over bzip2 and LZMA; the password is "codecs".
(cd tree && 7z a -tzip -mm=BZip2 -pcodecs -bd ../crypt-bzip2.zip big.txt >/dev/null)
(cd tree && 7z a -tzip -mm=LZMA -pcodecs -bd ../crypt-lzma.zip big.txt >/dev/null)

PYTHONPATH="$here/../encoders" python3 - <<'PY'
import bz2, lzma, os, subprocess, zipfile, zlib
import legacy_codecs as L

files = []
for root, _, names in os.walk('tree'):
    for n in sorted(names):
        path = os.path.join(root, n)
        files.append((os.path.relpath(path, 'tree'), open(path, 'rb').read()))
files.sort()

for method, tag in ((zipfile.ZIP_BZIP2, 'bzip2'), (zipfile.ZIP_LZMA, 'lzma')):
    with zipfile.ZipFile('py-%s.zip' % tag, 'w', method) as z:
        for name, data in files:
            z.writestr(name, data)

def tool(cmd, data):
    return subprocess.run(cmd, input=data, stdout=subprocess.PIPE, check=True).stdout

tools = {'bzip2': (12, ['bzip2', '-c']), 'xz': (95, ['xz', '-c']), 'zstd': (93, ['zstd', '-q', '-c'])}
for tag, (method, cmd) in tools.items():
    # Empty files stored, as archivers do (7z finds fault with an empty .xz).
    entries = [(name, method if data else 0, 0, tool(cmd, data) if data else b'', data) for name, data in files]
    with open('tools-%s.zip' % tag, 'wb') as f:
        f.write(L.zip_archive(entries))

# Where 7z reads only the first of several bzip2 streams and refuses an empty
# .xz, the tools' own decoders are the reference: multi.zip holds big.txt as
# two streams (frames) for each, .xz stream padding and a skippable Zstandard
# frame, and each method's empty stream. ref-multi/ is what the tools make of them.
big = dict(files)['big.txt']
half = len(big) // 2
skippable = (0x184D2A50).to_bytes(4, 'little') + (3).to_bytes(4, 'little') + b'abc'
extra = {'bzip2': b'', 'xz': bytes(4), 'zstd': skippable}
entries = []
os.makedirs('ref-multi', exist_ok=True)
for tag, (method, cmd) in tools.items():
    for name, packed, data in (('big-' + tag, tool(cmd, big[:half]) + extra[tag] + tool(cmd, big[half:]), big),
                               ('empty-' + tag, tool(cmd, b''), b'')):
        entries.append((name + '.txt', method, 0, packed, data))
        with open('ref-multi/%s.txt' % name, 'wb') as f:
            f.write(tool([cmd[0], '-d', '-c'], packed))
with open('multi.zip', 'wb') as f:
    f.write(L.zip_archive(entries))

# One entry per method whose stream is followed by more bytes, and one cut short.
small = dict(files)['sub/small.txt']
with zipfile.ZipFile('py-lzma.zip') as z:
    info = z.getinfo('sub/small.txt')
    with open('py-lzma.zip', 'rb') as f:
        f.seek(info.header_offset + 26)
        skip = int.from_bytes(f.read(2), 'little') + int.from_bytes(f.read(2), 'little')
        f.seek(skip, 1)
        lzma_packed = f.read(info.compress_size)
streams = [('lzma', 14, 2, lzma_packed)] + [(t, m, 0, tool(c, small)) for t, (m, c) in tools.items()]
for name, change in (('junk', lambda p: p + b'\x00junk!\x00'), ('short', lambda p: p[:-7])):
    with open(name + '.zip', 'wb') as f:
        f.write(L.zip_archive([(t + '.txt', m, flag, change(p), small) for t, m, flag, p in streams]))

# One small whole entry per method, for the fuzzer's seeds too.
with open('small.zip', 'wb') as f:
    f.write(L.zip_archive([(t + '.txt', m, flag, p, small) for t, m, flag, p in streams]))

# dicts.zip: LZMA entries declaring 512 MiB dictionaries (cut to the
# entries' 2 MiB when decoded) and .xz entries of 1 MiB dictionaries, a few
# KB each packed, for the run's memory budget.
def lzma_packed(data, declared):
    filters = [{'id': lzma.FILTER_LZMA1, 'dict_size': 1 << 16}]
    props = bytearray(lzma._encode_filter_properties(filters[0]))
    props[1:5] = declared.to_bytes(4, 'little')
    return bytes([9, 20, 5, 0]) + bytes(props) + lzma.compress(data, format=lzma.FORMAT_RAW, filters=filters)
dict_entries = []
for i in range(6):
    data = b''.join(b'entry %d line %d\n' % (i, n) for n in range(150000))[:2 << 20]
    if i < 4:
        dict_entries.append(('lzma%d.txt' % i, 14, 2, lzma_packed(data, 512 << 20), data))
    else:
        dict_entries.append(('xz%d.txt' % i, 95, 0, tool(['xz', '-1', '-c'], data), data))
with open('dicts.zip', 'wb') as f:
    f.write(L.zip_archive(dict_entries))

cases = ['7z-bzip2', '7z-lzma', '7z-lzma-eos', 'zip-bzip2', 'py-bzip2', 'py-lzma',
         'tools-bzip2', 'tools-xz', 'tools-zstd']
with open('cases.txt', 'w') as f:
    f.write(''.join(c + '\n' for c in cases + ['small']))

# The damaged copies: one byte in the middle of big.txt's data flipped.
for c in cases:
    data = bytearray(open(c + '.zip', 'rb').read())
    with zipfile.ZipFile(c + '.zip') as z:
        info = z.getinfo('big.txt')
    start = info.header_offset + 30 + int.from_bytes(data[info.header_offset + 26:info.header_offset + 28], 'little') \
        + int.from_bytes(data[info.header_offset + 28:info.header_offset + 30], 'little')
    data[start + info.compress_size // 2] ^= 0x55
    with open('damaged-%s.zip' % c, 'wb') as f:
        f.write(data)
PY

while read -r name; do
  7z x -bd -o"ref-$name" "$name.zip" >/dev/null
  [ "$name" = small ] || diff -r tree "ref-$name"
done < cases.txt
for t in bzip2 xz zstd; do cmp "ref-multi/big-$t.txt" tree/big.txt; done
rm -rf tree
