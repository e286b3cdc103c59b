// The decoding tables Inflate and Explode share: every code, whatever the
// bits after it, reaches its own symbol with its own length, through a
// sub-table where it is longer than the first level; damaged length sets
// are told apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "decompress/HuffmanTable.h"

namespace quv::huffman {
namespace {

// Random lengths of a complete code over n symbols, none longer than maxLen:
// a random binary tree cut down to n leaves by splitting random shallow leaves.
std::vector<std::uint16_t> RandomCompleteLengths(int n, unsigned maxLen, std::mt19937& rng) {
  std::vector<std::uint16_t> leaves{1, 1};
  while (static_cast<int>(leaves.size()) < n) {
    std::vector<std::size_t> splittable;
    for (std::size_t i = 0; i < leaves.size(); ++i)
      if (leaves[i] < maxLen) splittable.push_back(i);
    if (splittable.empty()) break;
    const std::size_t k = splittable[rng() % splittable.size()];
    ++leaves[k];
    leaves.push_back(leaves[k]);
  }
  // Some symbols unused (length 0), the rest shuffled over the alphabet.
  std::vector<std::uint16_t> lens(leaves);
  lens.resize(static_cast<std::size_t>(n) + rng() % 20, 0);
  std::shuffle(lens.begin(), lens.end(), rng);
  return lens;
}

// Walks every code through the table with every pattern of the bits after
// it up to the longest code.
void ExpectEveryCodeDecodes(const std::vector<std::uint16_t>& lens, unsigned rootBits) {
  std::vector<std::uint32_t> symbols(kMaxSymbols);
  for (unsigned s = 0; s < kMaxSymbols; ++s) symbols[s] = Entry(kPlain, 0, s % 7, s);
  const int n = static_cast<int>(lens.size());
  const unsigned maxLen = *std::max_element(lens.begin(), lens.end());
  const int capacity = Capacity(n, std::min(rootBits, maxLen), maxLen);
  std::vector<std::uint32_t> storage(static_cast<std::size_t>(capacity) + 1, 0xDEADBEEF);
  Table t;
  std::uint16_t used = 0;
  ASSERT_EQ(BuildTable(lens.data(), n, symbols.data(), rootBits, 9, storage.data(), capacity, t, used),
            DecodeResult::Decoded);
  ASSERT_LE(used, capacity);
  EXPECT_EQ(storage[static_cast<std::size_t>(capacity)], 0xDEADBEEF);

  // Canonical codes, most significant bit first, turned to the order read.
  unsigned count[kMaxCodeBits + 1] = {};
  for (auto l : lens) ++count[l];
  count[0] = 0;
  unsigned next[kMaxCodeBits + 2] = {};
  for (unsigned l = 1, code = 0; l <= kMaxCodeBits; ++l) next[l] = code = (code + count[l - 1]) << 1;
  for (int s = 0; s < n; ++s) {
    const unsigned len = lens[static_cast<std::size_t>(s)];
    if (len == 0) continue;
    const unsigned code = next[len]++;
    unsigned reversed = 0;
    for (unsigned b = 0; b < len; ++b) reversed |= ((code >> (len - 1 - b)) & 1u) << b;
    for (unsigned after = 0; after < (1u << (maxLen - len)); ++after) {
      const unsigned bits = reversed | after << len;
      std::uint32_t e = t.entries[bits & ((1u << t.rootBits) - 1)];
      unsigned decoded = 0;
      if (IsLink(e)) {
        decoded = DropBits(e);
        e = t.entries[Value(e) + ((bits >> decoded) & ((1u << SubTableBits(e)) - 1))];
      }
      ASSERT_FALSE(IsExceptional(e)) << "symbol " << s;
      ASSERT_EQ(Value(e), static_cast<unsigned>(s));
      ASSERT_EQ(decoded + CodeBits(e), len) << "symbol " << s;
      ASSERT_EQ(DropBits(e), CodeBits(e) + s % 7) << "symbol " << s;
    }
  }
}

TEST(HuffmanTable, EveryCodeReachesItsSymbol) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 300; ++round) {
    const unsigned maxLen = 1 + rng() % 16;
    const int n = 2 + static_cast<int>(rng() % 260);
    const auto lens = RandomCompleteLengths(n, maxLen, rng);
    for (unsigned root : {7u, 9u, 11u}) {
      ExpectEveryCodeDecodes(lens, root);
      if (HasFatalFailure()) return;
    }
  }
}

TEST(HuffmanTable, DamagedLengthSets) {
  std::uint32_t symbols[kMaxSymbols];
  for (unsigned s = 0; s < kMaxSymbols; ++s) symbols[s] = Entry(kPlain, 0, 0, s);
  std::uint32_t storage[64];
  Table t;
  std::uint16_t used = 0;
  // A single one-bit code: the other pattern is invalid, one bit long.
  const std::uint16_t single[4] = {0, 0, 1, 0};
  ASSERT_EQ(BuildTable(single, 4, symbols, 5, 5, storage, 64, t, used), DecodeResult::Decoded);
  EXPECT_EQ(t.rootBits, 1u);
  EXPECT_EQ(Value(storage[0]), 2u);
  EXPECT_TRUE(IsInvalid(storage[1]));
  EXPECT_EQ(DropBits(storage[1]), 1u);
  EXPECT_EQ(used, 2);
  // Over-subscribed; incomplete beyond one bit; nothing at all.
  const std::uint16_t over[3] = {1, 1, 1};
  EXPECT_EQ(BuildTable(over, 3, symbols, 5, 5, storage, 64, t, used), DecodeResult::InvalidCode);
  const std::uint16_t gap[3] = {1, 2, 0};
  EXPECT_EQ(BuildTable(gap, 3, symbols, 5, 5, storage, 64, t, used), DecodeResult::DamagedData);
  const std::uint16_t none[3] = {0, 0, 0};
  EXPECT_EQ(BuildTable(none, 3, symbols, 5, 5, storage, 64, t, used), DecodeResult::Decoded);
  EXPECT_EQ(t.entries, nullptr);
}

}  // namespace
}  // namespace quv::huffman
