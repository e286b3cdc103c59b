#include "decompress/HuffmanTable.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quv::huffman {

namespace {

// Checks the n code lengths by their counts: InvalidCode when they
// over-subscribe the code, DamagedData when slots stay unused (except for a
// code whose longest length is 1), else Decoded.
// min/max: shortest and longest length (0 when every length is 0);
// incomplete: some slots stay unused.
DecodeResult CheckLengths(int n, const unsigned count[kMaxCodeBits + 1], unsigned& minLen, unsigned& maxLen,
                          bool& incomplete) {
  minLen = maxLen = 0;
  incomplete = false;
  if (count[0] == static_cast<unsigned>(n)) return DecodeResult::Decoded;
  minLen = 1;
  while (count[minLen] == 0) ++minLen;
  maxLen = kMaxCodeBits;
  while (count[maxLen] == 0) --maxLen;
  int left = 1 << minLen;
  for (unsigned j = minLen; j <= maxLen; ++j) {
    left -= static_cast<int>(count[j]);
    if (left < 0) return DecodeResult::InvalidCode;
    if (j < maxLen) left <<= 1;
  }
  incomplete = left != 0;
  return (incomplete && maxLen != 1) ? DecodeResult::DamagedData : DecodeResult::Decoded;
}

// The next code of the same length in bit-reversed order (the canonical code
// plus one, counted from the first bit read): the highest clear bit below
// len is set and the bits above it cleared.
inline unsigned NextCode(unsigned code, unsigned len) {
  const unsigned bit = 1u << (static_cast<unsigned>(std::bit_width(code ^ ((1u << len) - 1))) - 1);
  return (code & (bit - 1)) | bit;
}

}  // namespace

LengthCounts CountLengths(const std::uint16_t* lens, int n) {
  LengthCounts counts;
  for (int i = 0; i < n; ++i) ++counts.of[lens[i]];
  return counts;
}

DecodeResult BuildTable(const std::uint16_t* lens, int n, const std::uint32_t* symbols, unsigned wantBits,
               unsigned classicBits, std::uint32_t* storage, int capacity, Table& out, std::uint16_t& entriesUsed) {
  return BuildTable(lens, n, CountLengths(lens, n), symbols, wantBits, classicBits, storage, capacity, out,
                    entriesUsed);
}

DecodeResult BuildTable(const std::uint16_t* lens, int n, const LengthCounts& counts, const std::uint32_t* symbols,
                        unsigned wantBits, unsigned classicBits, std::uint32_t* storage, int capacity, Table& out,
                        std::uint16_t& entriesUsed) {
  unsigned count[kMaxCodeBits + 1];  // the sub-tables use it up
  std::copy(counts.of, counts.of + kMaxCodeBits + 1, count);
  unsigned minLen = 0;
  unsigned maxLen = 0;
  bool incomplete = false;
  const DecodeResult check = CheckLengths(n, count, minLen, maxLen, incomplete);
  out = Table{};
  if (check != DecodeResult::Decoded || maxLen == 0) return check;

  const unsigned root = std::clamp(wantBits, minLen, maxLen);
  // Only an incomplete code can have its shortest code longer than the
  // wanted bits, and so want a larger first-level table than there is room for.
  if ((1u << root) > static_cast<unsigned>(capacity)) return DecodeResult::DamagedData;
  out.rootBits = root;
  out.lookupBits = std::clamp(classicBits, minLen, maxLen);
  out.entries = storage;

  // Symbols in canonical order: by length, then by symbol.
  std::uint16_t offset[kMaxCodeBits + 2] = {};
  for (unsigned len = 1; len <= kMaxCodeBits; ++len)
    offset[len + 1] = static_cast<std::uint16_t>(offset[len] + count[len]);
  std::uint16_t sorted[kMaxSymbols];
  for (int sym = 0; sym < n; ++sym)
    if (lens[sym] != 0) sorted[offset[lens[sym]]++] = static_cast<std::uint16_t>(sym);
  const std::uint16_t* nextSymbol = sorted;

  if (incomplete) {
    // The one incomplete code accepted: a single code of one bit. The other
    // bit pattern stays invalid, with the length of that code.
    storage[0] = symbols[sorted[0]] + Entry(0, 1, 1, 0);
    storage[1] = Entry(kInvalid, 1, 1, 0);
    entriesUsed = static_cast<std::uint16_t>(entriesUsed + 2);
    return check;
  }

  // First level: the codes of each length up to the root bits fill a table
  // as wide as that length, one slot each, and the table is doubled (its
  // copy is each slot with one more bit above) before the next length.
  unsigned code = 0;  // bit-reversed
  unsigned len = minLen;
  unsigned tableEnd = 1u << len;
  for (;;) {
    for (unsigned k = count[len]; k != 0; --k) {
      storage[code] = symbols[*nextSymbol++] + Entry(0, len, len, 0);
      if (code == tableEnd - 1) {
        // The last code: every slot is taken.
        for (; len < root; ++len, tableEnd <<= 1) std::memcpy(storage + tableEnd, storage, tableEnd * sizeof(*storage));
        entriesUsed = static_cast<std::uint16_t>(entriesUsed + tableEnd);
        return check;
      }
      code = NextCode(code, len);
    }
    if (len == root) break;
    std::memcpy(storage + tableEnd, storage, tableEnd * sizeof(*storage));
    tableEnd <<= 1;
    ++len;
  }
  do ++len;
  while (count[len] == 0);

  // Longer codes: a sub-table for the codes sharing the same root bits, as
  // large as they need, each code filling every slot its bits select.
  const unsigned rootMask = (1u << root) - 1;
  unsigned prefix = ~0u;
  unsigned subStart = 0;
  for (;;) {
    if ((code & rootMask) != prefix) {
      prefix = code & rootMask;
      subStart = tableEnd;
      unsigned subBits = len - root;
      unsigned space = count[len];
      while (space < (1u << subBits)) {
        ++subBits;
        space = (space << 1) + count[root + subBits];
      }
      tableEnd = subStart + (1u << subBits);
      if (tableEnd > static_cast<unsigned>(capacity)) return DecodeResult::DamagedData;  // cannot happen for codes that passed the check
      storage[prefix] = Entry(kLink, subBits, root, subStart);
    }
    const unsigned bits = len - root;
    const std::uint32_t e = symbols[*nextSymbol++] + Entry(0, bits, bits, 0);
    const unsigned step = 1u << bits;
    for (unsigned slot = subStart + (code >> root); slot < tableEnd; slot += step) storage[slot] = e;
    if (code == (1u << len) - 1) break;
    code = NextCode(code, len);
    if (--count[len] == 0) {
      do ++len;
      while (count[len] == 0);
    }
  }
  entriesUsed = static_cast<std::uint16_t>(entriesUsed + tableEnd);
  return check;
}

}  // namespace quv::huffman
