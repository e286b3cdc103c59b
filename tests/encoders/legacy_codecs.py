#!/usr/bin/env python3
"""Test encoders for the legacy ZIP methods: Shrink (1), Reduce (2-5) and
Implode (6), plus a minimal ZIP writer.

No tool at hand writes these methods, so the decoder tests use these. Shrink
and Implode output is cross-checked with Debian's unzip and 7z by the test-data
producer; Reduce has no such oracle and is checked against real samples.

Streams can be made from plain data (a greedy match finder picks the tokens)
or from an explicit token list, which reaches cases no ordinary data would:
matches reaching before the first byte, lengths and distances at their limits.
A token is ('lit', byte) or ('match', length, distance).
"""

import heapq
import struct
import sys
import zlib


# ---------------------------------------------------------------- bit output

class BitWriter:
    """Packs values least-significant bit first, as all three methods read."""

    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.n = 0

    def put(self, value, bits):
        self.acc |= (value & ((1 << bits) - 1)) << self.n
        self.n += bits
        while self.n >= 8:
            self.out.append(self.acc & 0xFF)
            self.acc >>= 8
            self.n -= 8

    def bytes(self):
        out = bytearray(self.out)
        if self.n:
            out.append(self.acc & 0xFF)
        return bytes(out)


def expand_tokens(tokens):
    """The bytes a token list stands for; sources before the first byte are zeros."""
    out = bytearray()
    for t in tokens:
        if t[0] == 'lit':
            out.append(t[1])
        else:
            _, length, dist = t
            for _ in range(length):
                p = len(out) - dist
                out.append(out[p] if p >= 0 else 0)
    return bytes(out)


def find_matches(data, min_len, max_len, max_dist, chain=24, forbid=None):
    """Greedy LZ77 tokens with hash chains on three-byte prefixes."""
    n = len(data)
    head = {}
    prev = [0] * n
    tokens = []
    i = 0
    mv = memoryview(data)

    def insert(p):
        if p + 3 <= n:
            key = bytes(mv[p:p + 3])
            prev[p] = head.get(key, -1)
            head[key] = p

    while i < n:
        best_len = 0
        best_dist = 0
        if i + 3 <= n:
            cand = head.get(bytes(mv[i:i + 3]), -1)
            limit = min(max_len, n - i)
            tries = chain
            while cand >= 0 and i - cand <= max_dist and tries > 0:
                tries -= 1
                if best_len < limit and data[cand + best_len] == data[i + best_len]:
                    length = 0
                    # compare in chunks, then byte by byte
                    while length + 16 <= limit and mv[cand + length:cand + length + 16] == \
                            mv[i + length:i + length + 16]:
                        length += 16
                    while length < limit and data[cand + length] == data[i + length]:
                        length += 1
                    if length > best_len and not (forbid and forbid(length, i - cand)):
                        best_len, best_dist = length, i - cand
                        if length == limit:
                            break
                cand = prev[cand]
        if best_len >= min_len:
            tokens.append(('match', best_len, best_dist))
            for p in range(i, i + best_len):
                insert(p)
            i += best_len
        else:
            tokens.append(('lit', data[i]))
            insert(i)
            i += 1
    return tokens


# ---------------------------------------------------------------- Shrink

def shrink(data, clear_when_full=True, clear_every=None):
    """Method 1. clear_when_full: partial clear each time the code table is
    full (8192 codes); clear_every: also one after every N codes written."""
    bw = BitWriter()
    if not data:
        return b''
    limit = 8192
    prefix = [0] * 256 + [-1] * (limit - 256)
    suffix = list(range(256)) + [0] * (limit - 256)
    table = {}
    width = 9
    free = 257

    def emit(code):
        bw.put(code, width)

    def prune():
        nonlocal free
        used = set()
        for c in range(257, free):
            p = prefix[c]
            if 257 <= p < free:
                used.add(p)
        for c in range(257, free):
            if c not in used:
                key = (prefix[c], suffix[c])
                if table.get(key) == c:
                    del table[key]
                prefix[c] = -1
        free = next((c for c in range(257, limit) if prefix[c] == -1), limit)

    emit(data[0])
    prev = data[0]
    written = 1
    i = 1
    n = len(data)
    while i < n:
        if (clear_when_full and free == limit) or (clear_every and written % clear_every == 0):
            emit(256)
            emit(2)
            prune()
        if free < limit:
            prefix[free] = prev
            suffix[free] = data[i]
            table[(prev, data[i])] = free
            free += 1
            while free < limit and prefix[free] != -1:
                free += 1
        code = data[i]
        j = i + 1
        while j < n:
            nxt = table.get((code, data[j]))
            if nxt is None:
                break
            code = nxt
            j += 1
        while code >= (1 << width):
            emit(256)
            emit(1)
            width += 1
        emit(code)
        written += 1
        prev = code
        i = j
    return bw.bytes()


# ---------------------------------------------------------------- Reduce

REDUCE_LENGTH_MASK = {1: 127, 2: 63, 3: 31, 4: 15}
REDUCE_SHIFT = {1: 7, 2: 6, 3: 5, 4: 4}


def reduce_limits(factor):
    mask = REDUCE_LENGTH_MASK[factor]
    return mask + 255 + 3, (((1 << factor) - 1) << 8) + 256


def follower_bits(n):
    b = 1
    while (1 << b) < n:
        b += 1
    return b


def reduce_bytes(tokens, factor):
    """The intermediate byte sequence: literals, with 144 escaping pairs."""
    mask = REDUCE_LENGTH_MASK[factor]
    shift = REDUCE_SHIFT[factor]
    max_len, max_dist = reduce_limits(factor)
    out = bytearray()
    for t in tokens:
        if t[0] == 'lit':
            out += b'\x90\x00' if t[1] == 144 else bytes([t[1]])
            continue
        _, length, dist = t
        assert 3 <= length <= max_len and 1 <= dist <= max_dist, t
        ln = length - 3
        hi, lo = (dist - 1) >> 8, (dist - 1) & 0xFF
        if ln < mask:
            v = (hi << shift) | ln
            assert v != 0, 'length 3 within 256 bytes has no code'
            out += bytes([144, v, lo])
        else:
            out += bytes([144, (hi << shift) | mask, ln - mask, lo])
    return bytes(out)


def reduce_tokens(data, factor):
    max_len, max_dist = reduce_limits(factor)
    return find_matches(data, 3, max_len, max_dist,
                        forbid=lambda length, dist: length == 3 and dist <= 256)


def reduce_encode(tokens, factor, followers=True):
    """Methods 2 to 5 (factor 1 to 4) from a token list."""
    seq = reduce_bytes(tokens, factor)
    sets = [[] for _ in range(256)]
    if followers:
        counts = [dict() for _ in range(256)]
        last = 0
        for c in seq:
            counts[last][c] = counts[last].get(c, 0) + 1
            last = c
        for x in range(256):
            ranked = sorted(counts[x].items(), key=lambda kv: (-kv[1], kv[0]))
            best, best_cost = 0, sum(v for _, v in ranked) * 8
            for size in range(1, min(63, len(ranked)) + 1):
                bits = follower_bits(size)
                hits = sum(v for _, v in ranked[:size])
                total = sum(v for _, v in ranked)
                cost = size * 8 + hits * (1 + bits) + (total - hits) * 9
                if cost < best_cost:
                    best, best_cost = size, cost
            sets[x] = [c for c, _ in ranked[:best]]
    bw = BitWriter()
    for x in range(255, -1, -1):
        bw.put(len(sets[x]), 6)
        for c in sets[x]:
            bw.put(c, 8)
    index = [{c: k for k, c in enumerate(s)} for s in sets]
    last = 0
    for c in seq:
        s = sets[last]
        if not s:
            bw.put(c, 8)
        elif c in index[last]:
            bw.put(0, 1)
            bw.put(index[last][c], follower_bits(len(s)))
        else:
            bw.put(1, 1)
            bw.put(c, 8)
        last = c
    return bw.bytes()


def reduce(data, factor, followers=True):
    return reduce_encode(reduce_tokens(data, factor), factor, followers)


# ---------------------------------------------------------------- Implode

def huffman_lengths(freqs, max_bits=16):
    """Code lengths for every symbol (all get one), no longer than max_bits."""
    freqs = [f + 1 for f in freqs]
    while True:
        heap = [(f, i, [i]) for i, f in enumerate(freqs)]
        heapq.heapify(heap)
        lengths = [0] * len(freqs)
        tick = len(freqs)
        while len(heap) > 1:
            f1, _, s1 = heapq.heappop(heap)
            f2, _, s2 = heapq.heappop(heap)
            for s in s1 + s2:
                lengths[s] += 1
            heapq.heappush(heap, (f1 + f2, tick, s1 + s2))
            tick += 1
        if max(lengths) <= max_bits:
            return lengths
        freqs = [(f >> 1) | 1 for f in freqs]


def canonical_codes(lengths):
    """Deflate-style canonical codes: shorter first, by symbol within a length."""
    count = [0] * 17
    for ln in lengths:
        count[ln] += 1
    count[0] = 0
    code = 0
    nxt = [0] * 17
    for bits in range(1, 17):
        code = (code + count[bits - 1]) << 1
        nxt[bits] = code
    codes = [0] * len(lengths)
    for sym, ln in enumerate(lengths):
        if ln:
            codes[sym] = nxt[ln]
            nxt[ln] += 1
    return codes


def reverse_bits(v, n):
    r = 0
    for _ in range(n):
        r = (r << 1) | (v & 1)
        v >>= 1
    return r


class ImplodeTree:
    """A tree's lengths, its stored description and the bits of each code.
    Imploded codes are the complements of the canonical codes, sent from
    their most significant bit on."""

    def __init__(self, lengths):
        assert all(1 <= ln <= 16 for ln in lengths)
        kraft = sum(1 << (16 - ln) for ln in lengths)
        assert kraft == 1 << 16 or (lengths.count(1) == 1 and kraft < 1 << 16), 'incomplete code'
        self.lengths = list(lengths)
        canon = canonical_codes(lengths)
        self.codes = [reverse_bits(~c & ((1 << ln) - 1), ln) for c, ln in zip(canon, lengths)]

    def description(self):
        pairs = []
        i = 0
        while i < len(self.lengths):
            j = i
            while j < len(self.lengths) and j - i < 16 and self.lengths[j] == self.lengths[i]:
                j += 1
            pairs.append(((j - i - 1) << 4) | (self.lengths[i] - 1))
            i = j
        return bytes([len(pairs) - 1] + pairs)

    def put(self, bw, sym):
        bw.put(self.codes[sym], self.lengths[sym])


def implode_params(dict8k, literal_tree):
    low_bits = 7 if dict8k else 6
    min_len = 3 if literal_tree else 2
    return low_bits, min_len, min_len + 63 + 255, 8192 if dict8k else 4096


def implode_tokens(data, dict8k, literal_tree):
    _, min_len, max_len, max_dist = implode_params(dict8k, literal_tree)
    return find_matches(data, min_len, max_len, max_dist)


def implode_encode(tokens, dict8k, literal_tree, trees=None):
    """Method 6 from a token list; the flag bits are 2 (8K) and 4 (literal tree).
    trees: optional (literal, length, distance) code-length lists to use."""
    low_bits, min_len, max_len, max_dist = implode_params(dict8k, literal_tree)
    lit_f, len_f, dist_f = [0] * 256, [0] * 64, [0] * 64
    for t in tokens:
        if t[0] == 'lit':
            lit_f[t[1]] += 1
        else:
            _, length, dist = t
            assert min_len <= length <= max_len and 1 <= dist <= max_dist, t
            len_f[min(length - min_len, 63)] += 1
            dist_f[(dist - 1) >> low_bits] += 1
    given = trees or (None, None, None)
    lit_t = ImplodeTree(given[0] or huffman_lengths(lit_f)) if literal_tree else None
    len_t = ImplodeTree(given[1] or huffman_lengths(len_f))
    dist_t = ImplodeTree(given[2] or huffman_lengths(dist_f))
    head = (lit_t.description() if lit_t else b'') + len_t.description() + dist_t.description()
    bw = BitWriter()
    for t in tokens:
        if t[0] == 'lit':
            bw.put(1, 1)
            if lit_t:
                lit_t.put(bw, t[1])
            else:
                bw.put(t[1], 8)
        else:
            _, length, dist = t
            bw.put(0, 1)
            bw.put(dist - 1, low_bits)
            dist_t.put(bw, (dist - 1) >> low_bits)
            sym = min(length - min_len, 63)
            len_t.put(bw, sym)
            if sym == 63:
                bw.put(length - min_len - 63, 8)
    return head + bw.bytes()


def implode(data, dict8k, literal_tree):
    return implode_encode(implode_tokens(data, dict8k, literal_tree), dict8k, literal_tree)


def implode_flag(dict8k, literal_tree):
    return (2 if dict8k else 0) | (4 if literal_tree else 0)


# ---------------------------------------------------------------- ZIP

def zip_archive(entries):
    """entries: (name, method, flag, packed bytes, original bytes or (crc, size))."""
    body = bytearray()
    central = bytearray()
    for name, method, flag, packed, original in entries:
        if isinstance(original, tuple):
            crc, size = original
        else:
            crc, size = zlib.crc32(original) & 0xFFFFFFFF, len(original)
        raw = name.encode('ascii')
        offset = len(body)
        body += struct.pack('<IHHHHHIIIHH', 0x04034B50, 10, flag, method, 0, 0x21,
                            crc, len(packed), size, len(raw), 0) + raw + packed
        central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 10, 10, flag, method, 0, 0x21,
                               crc, len(packed), size, len(raw), 0, 0, 0, 0, 0x20, offset) + raw
    end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, len(entries), len(entries),
                      len(central), len(body), 0)
    return bytes(body + central + end)


def sample_text(size, seed=1):
    """Deterministic text-like bytes: words of a small vocabulary, skewed."""
    import random
    rnd = random.Random(seed)
    syll = ['an', 'ber', 'cor', 'da', 'el', 'fin', 'gu', 'ha', 'is', 'jo', 'ka', 'lum',
            'mor', 'ne', 'os', 'pra', 'qui', 're', 'sto', 'tan', 'ul', 've', 'wy', 'xo', 'ze']
    words = [''.join(rnd.choice(syll) for _ in range(rnd.randint(1, 4))) for _ in range(3000)]
    weights = [1.0 / (k + 1) for k in range(len(words))]
    out = []
    total = 0
    while total < size:
        line = ' '.join(rnd.choices(words, weights, k=rnd.randint(4, 14)))
        line = line[0].upper() + line[1:] + ('.\r\n' if rnd.random() < 0.7 else ',\r\n')
        out.append(line)
        total += len(line)
    return ''.join(out).encode('ascii')[:size]


if __name__ == '__main__':
    sys.exit('import this module; tests/testdata.d/legacy.sh and bench/legacy-bench use it')
