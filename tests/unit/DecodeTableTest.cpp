// The multi-level table builder: its verdicts on code lengths, and decoding
// every symbol of random complete codes through first-level and sub-tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "MemoryDecodeHost.h"
#include "decompress/DecodeTable.h"

namespace quv {
namespace {

using test::MemoryDecodeHost;

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

// Packs codes into bytes the way the decoders read them: least significant
// bit of each byte first, each code's first bit first.
std::string PackCodes(const std::vector<std::pair<std::uint32_t, int>>& codes, bool complement) {
  std::string out;
  std::uint32_t cur = 0;
  int fill = 0;
  for (auto [code, len] : codes) {
    for (int i = len - 1; i >= 0; --i) {
      std::uint32_t bit = (code >> i) & 1;
      if (complement) bit ^= 1;
      cur |= bit << fill;
      if (++fill == 8) {
        out.push_back(static_cast<char>(cur));
        cur = 0;
        fill = 0;
      }
    }
  }
  out.push_back(static_cast<char>(cur));
  out += std::string(4, '\0');
  return out;
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
    std::vector<int> order(n);
    for (int i = 0; i < n; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    std::vector<std::pair<std::uint32_t, int>> stream;
    for (int sym : order) stream.emplace_back(codes[sym], leaves[sym]);
    MemoryDecodeHost host(PackCodes(stream, complement));
    TDecodeContext ctx(host);
    ctx.ResetForEntry(host.compressedSize, 0);
    std::uint32_t hold = 0;
    std::uint16_t count = 0;
    for (int sym : order) {
      const TCodeEntry* e = DecodeSymbol(ctx, b.t, b.m, hold, count, complement);
      ASSERT_NE(e, nullptr) << "round " << round << " symbol " << sym;
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
    std::string noise(64, '\0');
    for (auto& ch : noise) ch = static_cast<char>(rng());
    MemoryDecodeHost host(noise);
    TDecodeContext ctx(host);
    ctx.ResetForEntry(host.compressedSize, 0);
    std::uint32_t hold = 0;
    std::uint16_t count = 0;
    for (int k = 0; k < 20; ++k) {
      const TCodeEntry* e = DecodeSymbol(ctx, b.t, b.m, hold, count);
      if (e == nullptr) break;
      EXPECT_LT(e->Value, n);
    }
  }
}

}  // namespace
}  // namespace quv
