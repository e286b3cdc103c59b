// Method 6: literals and (distance, length) pairs coded with two or three
// Shannon-Fano trees, over a sliding window.
#include <array>
#include <cstring>

#include "decompress/DecodeContext.h"
#include "decompress/DecodeTable.h"
#include "decompress/LegacySupport.h"

namespace quv {

namespace {

constexpr std::uint32_t kWindowSize = 32768;
// Compressed data above this size gets a wider first-level distance table.
constexpr std::int32_t kLargeEntry = 200000;

constexpr std::array<std::uint16_t, 64> Series(std::uint16_t first, std::uint16_t step) {
  std::array<std::uint16_t, 64> t{};
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = static_cast<std::uint16_t>(first + step * i);
  return t;
}

constexpr auto kLengthBaseWithLiterals = Series(3, 1);
constexpr auto kLengthBaseWithoutLiterals = Series(2, 1);
constexpr auto kDistanceBase8K = Series(1, 128);
constexpr auto kDistanceBase4K = Series(1, 64);
// Length symbol 63 is followed by an extra byte.
constexpr auto kExtraBits = [] {
  std::array<std::uint16_t, 64> t{};
  t[63] = 8;
  return t;
}();

constexpr int kTreeListBroken = 4;

// Reads a run-length coded list of n code lengths. Data that ends inside the
// list makes it malformed.
int ReadTreeLengths(TDecodeContext& ctx, std::uint16_t* list, int n) {
  if (GetInputByte(ctx, ctx.ByteHold) == 0) return kTreeListBroken;
  int pairs = (ctx.ByteHold & 0xFF) + 1;
  int have = 0;
  while (pairs-- > 0) {
    if (GetInputByte(ctx, ctx.ByteHold) == 0) return kTreeListBroken;
    const std::uint16_t length = static_cast<std::uint16_t>((ctx.ByteHold & 0x0F) + 1);
    const int repeat = ((ctx.ByteHold >> 4) & 0x0F) + 1;
    if (have + repeat > n) return kTreeListBroken;
    for (int i = 0; i < repeat; ++i) list[have++] = length;
  }
  return have < n ? kTreeListBroken : 0;
}

struct Tree {
  TCodeEntry* table = nullptr;
  int bits = 0;
};

// The tables of one entry, released on every way out.
struct Trees {
  Tree literal, length, distance;
  ~Trees() {
    FreeDecodeTables(literal.table);
    FreeDecodeTables(length.table);
    FreeDecodeTables(distance.table);
  }
};

// Decodes one symbol; the codes are the complements of the canonical ones.
// Answers nullptr on an invalid code.
inline const TCodeEntry* DecodeComplemented(legacy::BitInput& in, const Tree& tree) {
  in.Ensure(tree.bits);
  const TCodeEntry* e = tree.table + ((~in.Peek()) & ((1u << tree.bits) - 1u));
  while (e->Op > 16) {
    if (e->Op == 99) return nullptr;
    in.Drop(e->Bits);
    const int j = e->Op - 16;
    in.Ensure(j);
    e = e->Next + ((~in.Peek()) & ((1u << j) - 1u));
  }
  in.Drop(e->Bits);
  return e;
}

// The data loop shared by both variants; answers 0, 1 on an invalid code or
// data that ended inside a code, 5 when compressed bytes were left over.
template <bool kLiteralTree>
int ExplodeData(TDecodeContext& ctx, int lowBits, const Trees& trees) {
  std::uint8_t* window = ctx.WorkArea.get();
  legacy::BitInput in(ctx);
  std::uint32_t w = 0;
  bool writtenOut = false;
  std::int64_t left = ctx.UnpackedSize;
  const std::uint32_t lowMask = (1u << lowBits) - 1u;

  while (left > 0) {
    in.Ensure(1);
    const bool literal = in.Peek() & 1u;
    in.Drop(1);
    if (literal) {
      --left;
      std::uint8_t b;
      if constexpr (kLiteralTree) {
        const TCodeEntry* e = DecodeComplemented(in, trees.literal);
        if (e == nullptr) return 1;
        b = static_cast<std::uint8_t>(e->Value);
      } else {
        in.Ensure(8);
        b = static_cast<std::uint8_t>(in.Peek());
        in.Drop(8);
      }
      if (in.Overrun()) return 1;
      window[w++] = b;
      if (w == kWindowSize) {
        legacy::FlushWindow<kWindowSize>(ctx, window);
        w = 0;
        writtenOut = true;
      }
    } else {
      in.Ensure(lowBits);
      const std::uint32_t low = in.Peek() & lowMask;
      in.Drop(lowBits);
      const TCodeEntry* d = DecodeComplemented(in, trees.distance);
      if (d == nullptr) return 1;
      const std::uint32_t src = (w - low - d->Value) & 0xFFFF;
      const TCodeEntry* l = DecodeComplemented(in, trees.length);
      if (l == nullptr) return 1;
      std::uint32_t n = l->Value;
      if (l->Op != 0) {
        in.Ensure(8);
        n += in.Peek() & 0xFF;
        in.Drop(8);
      }
      if (in.Overrun()) return 1;
      left -= static_cast<std::int32_t>(n);
      legacy::CopyMatch<kWindowSize>(ctx, window, w, src, n, writtenOut);
    }
  }
  CopyWindowToOutput(ctx, static_cast<std::int32_t>(w));
  return ctx.PackedLeft != 0 ? 5 : 0;
}

// Reads one tree and builds its table; answers non-zero when either fails.
int ReadTree(TDecodeContext& ctx, Tree& tree, int n, int simple, const std::uint16_t* base,
             const std::uint16_t* extra) {
  std::uint16_t lengths[256];
  int r = ReadTreeLengths(ctx, lengths, n);
  if (r != 0) return r;
  return BuildDecodeTable(lengths, n, simple, base, extra, tree.table, tree.bits, &ctx.TableEntryCount);
}

}  // namespace

void DecodeImploded(TDecodeContext& ctx, std::uint16_t bitFlag) {
  ctx.TableEntryCount = 0;
  const bool dictionary8K = (bitFlag & 2) != 0;
  const bool literalTree = (bitFlag & 4) != 0;

  {
    Trees trees;
    trees.literal.bits = 9;
    trees.length.bits = 7;
    trees.distance.bits = ctx.PackedLeft > kLargeEntry ? 8 : 7;

    if (literalTree && ReadTree(ctx, trees.literal, 256, 256, nullptr, nullptr) != 0) return;
    const auto& lengthBase = literalTree ? kLengthBaseWithLiterals : kLengthBaseWithoutLiterals;
    if (ReadTree(ctx, trees.length, 64, 0, lengthBase.data(), kExtraBits.data()) != 0) return;
    const auto& distanceBase = dictionary8K ? kDistanceBase8K : kDistanceBase4K;
    if (ReadTree(ctx, trees.distance, 64, 0, distanceBase.data(), kExtraBits.data()) != 0) return;

    const int lowBits = dictionary8K ? 7 : 6;
    if (literalTree)
      ExplodeData<true>(ctx, lowBits, trees);
    else
      ExplodeData<false>(ctx, lowBits, trees);
  }
  WriteOutputBuffer(ctx);
}

}  // namespace quv
