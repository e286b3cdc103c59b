#!/usr/bin/env bash
# Shrink, Reduce and Implode test archives made with the test encoders in
# tests/encoders/, each NAME.zip holding one entry NAME.BIN whose expected
# bytes are in NAME.out. cases.txt lists every case with the outside decoders
# that must accept it; oracles.txt records what Debian's unzip and 7z said, so
# the encoders are not only checked against our own decoders.
# Also writes manifest.tsv: the corpus's expectations for its legacy archives.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
corpus=${QUV_CORPUS:-$here/../../../shared/corpus}

PYTHONPATH="$here/../encoders" python3 - "$corpus" <<'PY'
import json, os, random, sys
import legacy_codecs as L

cases = []

def case(name, method, flag, packed, expected, oracles):
    with open(name + '.zip', 'wb') as f:
        f.write(L.zip_archive([(name.upper() + '.BIN', method, flag, packed, expected)]))
    with open(name + '.out', 'wb') as f:
        f.write(expected)
    cases.append((name, method, flag, oracles))

text = L.sample_text(120000, seed=7)
rnd = random.Random(11)
lowent = bytes(rnd.choice(b'abcdefghij') for _ in range(300000))

# Shrink: widths up to 13 bits, partial clears on a full and on a part-full
# table, a full table kept without clearing (Info-ZIP's unzip refuses that
# one; 7z and the format accept it), the KwKwK case, tiny entries.
case('shrink_text', 1, 0, L.shrink(text), text, 'unzip,7z')
case('shrink_full_clear', 1, 0, L.shrink(lowent), lowent, 'unzip,7z')
case('shrink_full_kept', 1, 0, L.shrink(lowent, clear_when_full=False), lowent, '7z')
case('shrink_early_clear', 1, 0, L.shrink(lowent[:60000], False, 700), lowent[:60000], 'unzip,7z')
run = b'a' * 5000 + b'ab' * 3000
case('shrink_runs', 1, 0, L.shrink(run), run, 'unzip,7z')
case('shrink_one', 1, 0, L.shrink(b'Q'), b'Q', 'unzip,7z')
case('shrink_empty', 1, 0, b'', b'', '')

# Reduce, every factor with and without follower sets: escapes (144), a match
# reaching before the first byte, lengths around the extra-byte threshold and
# at the longest, distances at the limit, and more than one window of data.
for f in (1, 2, 3, 4):
    max_len, max_dist = L.reduce_limits(f)
    mask = L.REDUCE_LENGTH_MASK[f]
    body = text[:40000] + bytes([144, 144, 7, 144]) + text[:3000]
    toks = [('match', 20, 9), ('lit', 144), ('match', 5, 3)]
    toks += L.reduce_tokens(body, f)
    toks += [('match', mask + 2, 300), ('match', mask + 3, 300), ('match', max_len, min(1000, max_dist)),
             ('match', 3, 257), ('match', 4, max_dist), ('match', max_len, max_dist),
             ('lit', 144), ('match', 3, max_dist), ('lit', 0)]
    expected = L.expand_tokens(toks)
    for fs in (True, False):
        name = 'reduce_f%d_%s' % (f, 'sets' if fs else 'plain')
        case(name, f + 1, 0, L.reduce_encode(toks, f, fs), expected, '')

# Implode, all four variants: plain text, and crafted tokens with the longest
# match (length symbol 63 with extra byte 255), the longest distance and the
# shortest match.
for dk in (False, True):
    for lt in (False, True):
        tag = '%s_%s' % ('8k' if dk else '4k', '3t' if lt else '2t')
        flag = L.implode_flag(dk, lt)
        case('implode_text_' + tag, 6, flag, L.implode(text, dk, lt), text, 'unzip,7z')
        low, min_len, max_len, max_dist = L.implode_params(dk, lt)
        toks = L.implode_tokens(text[:20000], dk, lt)
        toks += [('match', max_len, 3000), ('match', min_len + 63, 70),
                 ('match', min_len + 62, 70), ('match', min_len, max_dist),
                 ('match', max_len, max_dist), ('lit', 0), ('lit', 255)]
        exp = L.expand_tokens(toks)
        case('implode_edges_' + tag, 6, flag, L.implode_encode(toks, dk, lt), exp, 'unzip,7z')
        toks = [('match', 40, 1), ('lit', 65), ('match', 30, 2)] + \
            L.implode_tokens(text[:3000], dk, lt) + [('match', 10, max_dist)]
        exp = L.expand_tokens(toks)
        case('implode_before_' + tag, 6, flag, L.implode_encode(toks, dk, lt), exp, 'unzip,7z')

# Compressed sizes of exactly 200,000 and 200,001 bytes (padding after the
# stream), with a distance code as long as 11 bits so that the first-level
# distance table differs between 7 and 8 lookup bits.
big = bytes(rnd.randrange(256) for _ in range(60000)) + text
toks = L.implode_tokens(big, True, True)
dist_lengths = [1] + [6] * 31 + [11] * 32
stream = L.implode_encode(toks, True, True, trees=(None, None, dist_lengths))
assert len(stream) < 200000, len(stream)
exp = L.expand_tokens(toks)
case('implode_long_codes', 6, 6, stream, exp, 'unzip,7z')
# The outside decoders warn about the padding, so only ours judges these.
for size in (200000, 200001):
    case('implode_size_%d' % size, 6, 6, stream + bytes(size - len(stream)), exp, '')

with open('cases.txt', 'w') as f:
    for name, method, flag, oracles in cases:
        f.write('%s %d %d %s\n' % (name, method, flag, oracles or '-'))

# The corpus's expected entries of its legacy archives.
with open(os.path.join(sys.argv[1], 'MANIFEST.json')) as f:
    manifest = json.load(f)
with open('manifest.tsv', 'w') as f:
    for c in manifest['cases']:
        if c['name'].startswith('legacy/') and c['exit'] == 0:
            for e in c['entries']:
                f.write('%s\t%s\t%d\t%s\n' % (c['open'], e['stored'], e['size'], e['sha256']))
PY

# What the outside decoders say about each archive.
: > oracles.txt
while read -r name method flag oracles; do
  if unzip -tqq "$name.zip" >/dev/null 2>&1; then u=OK; else u=FAIL; fi
  if 7z t "$name.zip" >/dev/null 2>&1; then s=OK; else s=FAIL; fi
  echo "$name unzip=$u 7z=$s" >> oracles.txt
done < cases.txt
