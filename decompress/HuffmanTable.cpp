#include "decompress/HuffmanTable.h"

#include <algorithm>

namespace quv::huffman {

namespace {

// Checks the n code lengths: InvalidCode when they over-subscribe the code,
// DamagedData when slots stay unused (except for a code whose longest length
// is 1), else Decoded.
// min/max: shortest and longest length (0 when every length is 0);
// incomplete: some slots stay unused.
DecodeResult CheckLengths(const std::uint16_t* lens, int n, unsigned count[kMaxCodeBits + 1], unsigned& minLen,
                 unsigned& maxLen, bool& incomplete) {
  std::fill(count, count + kMaxCodeBits + 1, 0u);
  for (int i = 0; i < n; ++i) ++count[lens[i]];
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

}  // namespace

DecodeResult BuildTable(const std::uint16_t* lens, int n, const std::uint32_t* symbols, unsigned wantBits,
               unsigned classicBits, std::uint32_t* storage, int capacity, Table& out, std::uint16_t& entriesUsed) {
  unsigned count[kMaxCodeBits + 1];
  unsigned minLen = 0;
  unsigned maxLen = 0;
  bool incomplete = false;
  const DecodeResult check = CheckLengths(lens, n, count, minLen, maxLen, incomplete);
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
  const unsigned total = n - count[0];

  // Slots no code reaches (incomplete codes only) stay invalid; their length
  // is that of the longest code, as if dummy codes filled them.
  const unsigned invalidBits = std::min(maxLen, root);
  const std::uint32_t invalid = Entry(kInvalid, invalidBits, invalidBits, 0);
  unsigned used = 1u << root;
  if (incomplete) std::fill(storage, storage + used, invalid);
  unsigned remaining[kMaxCodeBits + 1];  // codes of each length not yet placed
  std::copy(count, count + kMaxCodeBits + 1, remaining);

  std::uint32_t* next = storage;  // current (sub-)table
  unsigned curr = root;           // its index bits
  unsigned drop = 0;              // bits decoded before it
  const unsigned mask = (1u << root) - 1;
  unsigned low = ~0u;             // root index of the current sub-table
  unsigned huff = 0;              // current code, bit-reversed
  unsigned len = minLen;
  for (unsigned i = 0;;) {
    const unsigned bits = len - drop;
    const std::uint32_t e = symbols[sorted[i]] + Entry(0, bits, bits, 0);
    const unsigned step = 1u << bits;
    for (unsigned fill = 1u << curr; fill != 0;) {
      fill -= step;
      next[(huff >> drop) + fill] = e;
    }
    // Next code in bit-reversed order.
    unsigned incr = 1u << (len - 1);
    while ((huff & incr) != 0) incr >>= 1;
    huff = incr != 0 ? (huff & (incr - 1)) + incr : 0;

    --remaining[len];
    if (++i == total) break;
    len = lens[sorted[i]];
    if (len > root && (huff & mask) != low) {
      // A new sub-table for the codes sharing these root bits, as large as
      // the longer codes that follow need.
      if (drop == 0) drop = root;
      next += 1u << curr;
      curr = len - drop;
      int left = 1 << curr;
      while (curr + drop < maxLen) {
        left -= static_cast<int>(remaining[curr + drop]);
        if (left <= 0) break;
        ++curr;
        left <<= 1;
      }
      used += 1u << curr;
      if (used > static_cast<unsigned>(capacity)) return DecodeResult::DamagedData;  // cannot happen for codes that passed the check
      if (incomplete) std::fill(next, next + (1u << curr), invalid);
      low = huff & mask;
      storage[low] = Entry(kLink, curr, root, static_cast<unsigned>(next - storage));
    }
  }
  entriesUsed = static_cast<std::uint16_t>(entriesUsed + used);
  return check;
}

}  // namespace quv::huffman
