// The multi-level table builder: its verdicts on code lengths, and decoding
// every symbol of random complete codes through first-level and sub-tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "decompress/DecodeTable.h"

namespace quv {
namespace {

// Canonical codes (most significant bit first) for the lengths.
std::vector<std::uint32_t> CanonicalCodes(const std::vector<std::uint16_t>& lens) {
  int count[17] = {};
  for (auto l : lens) ++count[l];
  count[0] = 0;
  std::uint32_t next[17] = {};
  std::uint32_t code = 0;
  for (int l = 1; l <= 16; ++l) {
    code = (code + static_cast<std::uint32_t>(count[l - 1])) << 1;
    next[l] = code;
  }
  std::vector<std::uint32_t> codes(lens.size());
  for (std::size_t i = 0; i < lens.size(); ++i)
    if (lens[i] != 0) codes[i] = next[lens[i]]++;
  return codes;
}

// Follows the tables for the code in the low bits of bits (first bit lowest)
// the way Implode does, dropping what it consumed; nullptr on an invalid
// code. complement: the tables are indexed with the complemented bits.
const TCodeEntry* Lookup(const TCodeEntry* table, int rootBits, std::uint64_t& bits, bool complement) {
  const std::uint64_t flip = complement ? ~std::uint64_t{0} : 0;
  const TCodeEntry* entry = &table[(bits ^ flip) & ((1u << rootBits) - 1)];
  while (entry->Op > kOpLiteral) {
    if (entry->Op == kOpInvalid) return nullptr;
    bits >>= entry->Bits;
    entry = &entry->Next[(bits ^ flip) & ((1u << (entry->Op - 16)) - 1)];
  }
  bits >>= entry->Bits;
  return entry;
}

// A code as the decoders meet it: its first bit lowest, random bits above.
std::uint64_t CodeBitsFirstBitLowest(std::uint32_t code, int length, bool complement, std::mt19937& rng) {
  std::uint64_t bits = static_cast<std::uint64_t>(rng()) << length;
  for (int i = 0; i < length; ++i) bits |= static_cast<std::uint64_t>((code >> (length - 1 - i)) & 1) << i;
  if (complement) bits ^= (std::uint64_t{1} << length) - 1;
  return bits;
}

struct Built {
  int result;
  int m;
  TCodeEntry* t = nullptr;
  std::uint16_t entries = 0;
  ~Built() { FreeDecodeTables(t); }
};

TEST(DecodeTable, VerdictsOnLengths) {
  {
    Built b{};
    std::vector<std::uint16_t> zeros(10, 0);
    b.m = 9;
    b.result = BuildDecodeTable(zeros.data(), 10, 10, nullptr, nullptr, b.t, b.m);
    EXPECT_EQ(b.result, 0);
    EXPECT_EQ(b.t, nullptr);
    EXPECT_EQ(b.m, 0);
  }
  {
    // Three codes of length 1: over-subscribed, nothing left allocated.
    Built b{};
    std::vector<std::uint16_t> lens = {1, 1, 1};
    b.m = 7;
    EXPECT_EQ(BuildDecodeTable(lens.data(), 3, 3, nullptr, nullptr, b.t, b.m), 2);
    EXPECT_EQ(b.t, nullptr);
  }
  {
    // Incomplete: built all the same, the unused slot is invalid.
    Built b{};
    std::vector<std::uint16_t> lens = {1, 2};
    b.m = 7;
    EXPECT_EQ(BuildDecodeTable(lens.data(), 2, 2, nullptr, nullptr, b.t, b.m, &b.entries), 1);
    ASSERT_NE(b.t, nullptr);
    EXPECT_EQ(b.m, 2);
    EXPECT_EQ(b.entries, 5);  // 4 entries and the hidden header
    EXPECT_EQ(b.t[0].Value, 0);
    EXPECT_EQ(b.t[2].Value, 0);
    EXPECT_EQ(b.t[1].Value, 1);
    EXPECT_EQ(b.t[3].Op, kOpInvalid);
  }
  {
    // One code of length 1 counts as complete; the other slot is invalid and
    // keeps the symbol's value.
    Built b{};
    std::vector<std::uint16_t> lens = {0, 0, 1};
    b.m = 7;
    EXPECT_EQ(BuildDecodeTable(lens.data(), 3, 3, nullptr, nullptr, b.t, b.m), 0);
    ASSERT_NE(b.t, nullptr);
    EXPECT_EQ(b.m, 1);
    EXPECT_EQ(b.t[0].Op, kOpLiteral);
    EXPECT_EQ(b.t[0].Value, 2);
    EXPECT_EQ(b.t[1].Op, kOpInvalid);
    EXPECT_EQ(b.t[1].Value, 2);
  }
  {
    // Lengths past 16 are refused.
    Built b{};
    std::vector<std::uint16_t> lens = {17, 1};
    b.m = 7;
    EXPECT_EQ(BuildDecodeTable(lens.data(), 2, 2, nullptr, nullptr, b.t, b.m), 2);
  }
}

TEST(DecodeTable, DecodesEverySymbolOfRandomCompleteCodes) {
  std::mt19937 rng(77);
  for (int round = 0; round < 60; ++round) {
    // A complete code from a random Huffman-like tree: split leaves until
    // there are n symbols, no code longer than 16 bits.
    const int n = 2 + static_cast<int>(rng() % 287);
    std::vector<std::uint16_t> leaves = {1, 1};
    while (static_cast<int>(leaves.size()) < n) {
      const std::size_t k = rng() % leaves.size();
      if (leaves[k] >= 16) continue;
      ++leaves[k];
      leaves.push_back(leaves[k]);
    }
    std::shuffle(leaves.begin(), leaves.end(), rng);
    const int s = static_cast<int>(rng() % (n + 1));
    std::vector<std::uint16_t> base(n), extra(n);
    for (int i = 0; i < n; ++i) {
      base[i] = static_cast<std::uint16_t>(1000 + i);
      extra[i] = static_cast<std::uint16_t>(i % 14);
    }
    const bool complement = round % 2 == 1;
    const int want = 5 + static_cast<int>(rng() % 6);
    Built b{};
    b.m = want;
    // d and e are indexed by symbol - s.
    ASSERT_EQ(BuildDecodeTable(leaves.data(), n, s, base.data(), extra.data(), b.t, b.m), 0);
    EXPECT_EQ(b.m, std::clamp(want, static_cast<int>(*std::min_element(leaves.begin(), leaves.end())),
                              static_cast<int>(*std::max_element(leaves.begin(), leaves.end()))));

    const auto codes = CanonicalCodes(leaves);
    for (int sym = 0; sym < n; ++sym) {
      std::uint64_t bits = CodeBitsFirstBitLowest(codes[sym], leaves[sym], complement, rng);
      const std::uint64_t above = bits >> leaves[sym];
      const TCodeEntry* e = Lookup(b.t, b.m, bits, complement);
      ASSERT_NE(e, nullptr) << "round " << round << " symbol " << sym;
      EXPECT_EQ(bits, above) << "round " << round << " symbol " << sym;  // exactly the code consumed
      if (sym < s) {
        EXPECT_EQ(e->Op, sym < 256 ? kOpLiteral : kOpEndOfBlock);
        EXPECT_EQ(e->Value, sym);
      } else {
        EXPECT_EQ(e->Op, extra[sym - s]);
        EXPECT_EQ(e->Value, base[sym - s]);
      }
    }
  }
}

TEST(DecodeTable, ArbitraryLengthsNeverOverrun) {
  // Whatever the lengths, building and decoding stay inside the tables (the
  // sanitizers watch); invalid codes come back as nullptr.
  std::mt19937 rng(5);
  for (int round = 0; round < 400; ++round) {
    const int n = 1 + static_cast<int>(rng() % 288);
    std::vector<std::uint16_t> lens(n);
    const int top = 1 + static_cast<int>(rng() % 16);
    for (auto& l : lens) l = static_cast<std::uint16_t>(rng() % 3 == 0 ? 0 : rng() % (top + 1));
    Built b{};
    b.m = 1 + static_cast<int>(rng() % 12);
    const int r = BuildDecodeTable(lens.data(), n, n, nullptr, nullptr, b.t, b.m);
    ASSERT_TRUE(r >= 0 && r <= 2);
    if (b.t == nullptr) continue;
    for (int k = 0; k < 20; ++k) {
      std::uint64_t bits = (static_cast<std::uint64_t>(rng()) << 32) | rng();
      const TCodeEntry* e = Lookup(b.t, b.m, bits, false);
      if (e != nullptr) {
        EXPECT_LT(e->Value, n);
      }
    }
  }
}

}  // namespace
}  // namespace quv
