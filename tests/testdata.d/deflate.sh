#!/usr/bin/env bash
# Raw deflate streams (no zlib header) made by Python's zlib, each beside the
# data it holds: every level and strategy over text, binary, runs and noise,
# streams with flush points (empty stored blocks, block edges), and a set of
# random sizes for the differential test. Lists: streams.txt and random.txt,
# one "stream data" pair of file names a line.
set -euo pipefail
python3 - <<'PY'
import random, zlib

rng = random.Random(20240611)
words = ("the of and to in is you that it he was for on are as with his they at be this have from or one had "
         "by word but not what all were we when your can said there use an each which she do how their if will "
         "up other about out many then them these so some her would make like him into time has look two more "
         "write go see number no way could people my than first water been call who oil its now find long down "
         "day did get come made may part zip entry header window inflate deflate huffman table").split()

def text(n, r):
    out, size = [], 0
    while size < n:
        line = " ".join(r.choice(words) for _ in range(r.randint(3, 14)))
        line = line.capitalize() + (".\n" if r.random() < 0.7 else ",\n")
        out.append(line); size += len(line)
    return "".join(out).encode()[:n]

def binary(n, r):
    out = bytearray()
    base = [r.getrandbits(32) for _ in range(16)]
    while len(out) < n:
        k = r.randrange(16)
        base[k] = (base[k] + r.randint(-3, 3)) & 0xFFFFFFFF
        out += base[k].to_bytes(4, "little") + bytes([r.randrange(4), 0, 0, k])
    return bytes(out[:n])

def runs(n, r):
    out = bytearray()
    while len(out) < n:
        out += bytes([r.randrange(256)]) * r.choice([1, 2, 3, 7, 258, 259, 1000, 40000])
    return bytes(out[:n])

def noise(n, r):
    return bytes(r.getrandbits(8) for _ in range(n))

def mixed(n, r):
    out = bytearray()
    kinds = [text, binary, runs, noise]
    while len(out) < n:
        out += r.choice(kinds)(r.randint(1, 20000), r)
    return bytes(out[:n])

def deflate(data, level=6, strategy=zlib.Z_DEFAULT_STRATEGY, wbits=-15, mem=8, flushes=()):
    c = zlib.compressobj(level, zlib.DEFLATED, wbits, mem, strategy)
    out, pos = bytearray(), 0
    for at, mode in sorted(flushes):
        out += c.compress(data[pos:at]); out += c.flush(mode); pos = at
    out += c.compress(data[pos:]) + c.flush(zlib.Z_FINISH)
    return bytes(out)

def write(listing, name, data, stream):
    open(name + ".raw", "wb").write(data)
    open(name + ".deflate", "wb").write(stream)
    listing.append(f"{name}.deflate {name}.raw")

listing = []
samples = {
    "text": text(300000, rng), "binary": binary(200000, rng), "runs": runs(150000, rng),
    "noise": noise(70000, rng), "mixed": mixed(400000, rng),
    "empty": b"", "one": b"a", "short": text(300, rng),
}
strategies = {"default": zlib.Z_DEFAULT_STRATEGY, "fixed": zlib.Z_FIXED, "huffman": zlib.Z_HUFFMAN_ONLY,
              "rle": zlib.Z_RLE, "filtered": zlib.Z_FILTERED}
for kind, data in samples.items():
    for level in range(10):
        write(listing, f"{kind}.L{level}", data, deflate(data, level))
    for sname, strategy in strategies.items():
        if sname != "default":
            write(listing, f"{kind}.{sname}", data, deflate(data, 9 if sname == "fixed" else 6, strategy))
    # Small windows and memory, and flush points: sync flushes end in empty
    # stored blocks (LEN 0), full flushes also cut the history.
    write(listing, f"{kind}.w9", data, deflate(data, 9, wbits=-9, mem=1))
    n = len(data)
    points = sorted({rng.randint(0, n) for _ in range(6)}) if n else []
    flushes = [(p, rng.choice([zlib.Z_SYNC_FLUSH, zlib.Z_FULL_FLUSH, zlib.Z_PARTIAL_FLUSH])) for p in points]
    write(listing, f"{kind}.flush", data, deflate(data, 6, flushes=flushes))
open("streams.txt", "w").write("\n".join(listing) + "\n")

# Random sizes, contents and settings.
listing = []
for i in range(240):
    size = int(2 ** rng.uniform(0, 19)) - 1
    data = mixed(size, rng) if size else b""
    level = rng.randrange(10)
    strategy = rng.choice(list(strategies.values()))
    wbits = -rng.randint(9, 15)
    mem = rng.randint(1, 9)
    flushes = [(rng.randint(0, size), rng.choice([zlib.Z_SYNC_FLUSH, zlib.Z_FULL_FLUSH, zlib.Z_NO_FLUSH]))
               for _ in range(rng.randrange(3))]
    write(listing, f"random{i:03d}", data, deflate(data, level, strategy, wbits, mem, flushes))
open("random.txt", "w").write("\n".join(listing) + "\n")
PY
