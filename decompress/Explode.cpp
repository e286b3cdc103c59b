// Method 6: literals and (distance, length) pairs coded with two or three
// Shannon-Fano trees, over a sliding window.
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "decompress/DecodeContext.h"
#include "decompress/HuffmanTable.h"
#include "decompress/LegacySupport.h"

namespace quv {

namespace {

constexpr std::uint32_t kWindowSize = 32768;
// Compressed data above this size gets a wider first-level distance table.
constexpr std::int32_t kLargeEntry = 200000;

using namespace huffman;

// What each symbol of a tree decodes to: a literal byte, or a base with the
// extra bits that follow its code (the last length symbol is followed by a
// whole byte).
using TreeSymbols = std::array<std::uint32_t, 256>;

constexpr TreeSymbols Series(unsigned first, unsigned step, unsigned lastExtra) {
  TreeSymbols t{};
  for (unsigned i = 0; i < 64; ++i) t[i] = Entry(kPlain, 0, i == 63 ? lastExtra : 0, first + step * i);
  return t;
}

constexpr TreeSymbols kLiterals = [] {
  TreeSymbols t{};
  for (unsigned i = 0; i < 256; ++i) t[i] = Entry(kPlain, 0, 0, i);
  return t;
}();
constexpr TreeSymbols kLengthBaseWithLiterals = Series(3, 1, 8);
constexpr TreeSymbols kLengthBaseWithoutLiterals = Series(2, 1, 8);
constexpr TreeSymbols kDistanceBase8K = Series(1, 128, 0);
constexpr TreeSymbols kDistanceBase4K = Series(1, 64, 0);

// First-level lookup bits of each tree; compressed data above kLargeEntry
// bytes gets a wider distance table.
constexpr unsigned kLiteralRootBits = 9;
constexpr unsigned kLengthRootBits = 7;
constexpr unsigned kDistanceRootBits = 7;
constexpr unsigned kLargeDistanceRootBits = 8;
constexpr int kLiteralCapacity = Capacity(256, kLiteralRootBits, kMaxCodeBits);
constexpr int kLengthCapacity = Capacity(64, kLengthRootBits, kMaxCodeBits);
constexpr int kDistanceCapacity = Capacity(64, kDistanceRootBits, kMaxCodeBits);
static_assert(Capacity(64, kLargeDistanceRootBits, kMaxCodeBits) <= kDistanceCapacity);

// Reads a run-length coded list of n code lengths. Data that ends inside the
// list makes it malformed.
DecodeResult ReadTreeLengths(TDecodeContext& ctx, std::uint16_t* list, int n) {
  if (GetInputByte(ctx, ctx.ByteHold) == 0) return DecodeResult::DamagedData;
  int pairs = (ctx.ByteHold & 0xFF) + 1;
  int have = 0;
  while (pairs-- > 0) {
    if (GetInputByte(ctx, ctx.ByteHold) == 0) return DecodeResult::DamagedData;
    const std::uint16_t length = static_cast<std::uint16_t>((ctx.ByteHold & 0x0F) + 1);
    const int repeat = ((ctx.ByteHold >> 4) & 0x0F) + 1;
    if (have + repeat > n) return DecodeResult::DamagedData;
    for (int i = 0; i < repeat; ++i) list[have++] = length;
  }
  return have < n ? DecodeResult::DamagedData : DecodeResult::Decoded;
}

// The tables of one entry.
struct Trees {
  std::uint32_t literal[kLiteralCapacity];
  std::uint32_t length[kLengthCapacity];
  std::uint32_t distance[kDistanceCapacity];
  Table literalTable, lengthTable, distanceTable;
};

// Decodes one symbol; the codes are the complements of the canonical ones.
// Every slot holds a symbol: BuildTable builds complete codes only, and 64
// or 256 lengths of at least one bit cannot make the one-bit code it lets
// pass incomplete.
inline std::uint32_t DecodeComplemented(legacy::BitInput& in, const Table& tree) {
  in.Ensure(static_cast<int>(tree.rootBits));
  std::uint32_t e = tree.entries[~in.Peek() & ((1u << tree.rootBits) - 1u)];
  if (IsLink(e)) {
    in.Drop(static_cast<int>(DropBits(e)));
    const unsigned subBits = SubTableBits(e);
    in.Ensure(static_cast<int>(subBits));
    e = tree.entries[Value(e) + (~in.Peek() & ((1u << subBits) - 1u))];
  }
  in.Drop(static_cast<int>(CodeBits(e)));
  return e;
}

// The data loop shared by both variants; answers DamagedData on an invalid
// code or data that ended inside a code. Compressed bytes left over are let
// pass: the entry's size ends the data.
template <bool kLiteralTree>
DecodeResult ExplodeData(TDecodeContext& ctx, int lowBits, const Trees& trees) {
  std::uint8_t* window = ctx.WorkArea.get();
  legacy::BitInput in(ctx);
  std::uint32_t w = 0;
  bool writtenOut = false;
  std::int64_t left = ctx.UnpackedSize;
  const std::uint32_t lowMask = (1u << lowBits) - 1u;
  // Copies the window's writes cannot alias, so they stay in registers.
  const Table literalTable = trees.literalTable;
  const Table lengthTable = trees.lengthTable;
  const Table distanceTable = trees.distanceTable;

  while (left > 0) {
    in.Ensure(1);
    const bool literal = in.Peek() & 1u;
    in.Drop(1);
    if (literal) {
      --left;
      std::uint8_t b;
      if constexpr (kLiteralTree) {
        const std::uint32_t e = DecodeComplemented(in, literalTable);
        b = static_cast<std::uint8_t>(Value(e));
      } else {
        in.Ensure(8);
        b = static_cast<std::uint8_t>(in.Peek());
        in.Drop(8);
      }
      if (in.Overrun()) return DecodeResult::DamagedData;
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
      const std::uint32_t d = DecodeComplemented(in, distanceTable);
      const std::uint32_t src = (w - low - Value(d)) & 0xFFFF;
      const std::uint32_t l = DecodeComplemented(in, lengthTable);
      std::uint32_t n = Value(l);
      if (DropBits(l) != CodeBits(l)) {  // the last length symbol: a whole byte more
        in.Ensure(8);
        n += in.Peek() & 0xFF;
        in.Drop(8);
      }
      if (in.Overrun()) return DecodeResult::DamagedData;
      left -= static_cast<std::int32_t>(n);
      legacy::CopyMatch<kWindowSize>(ctx, window, w, src, n, writtenOut);
    }
  }
  CopyWindowToOutput(ctx, static_cast<std::int32_t>(w));
  return DecodeResult::Decoded;
}

// Reads one tree and builds its table.
DecodeResult ReadTree(TDecodeContext& ctx, int n, const TreeSymbols& symbols, unsigned rootBits, std::uint32_t* storage,
             int capacity, Table& table) {
  std::uint16_t lengths[256];
  const DecodeResult r = ReadTreeLengths(ctx, lengths, n);
  if (r != DecodeResult::Decoded) return r;
  return BuildTable(lengths, n, symbols.data(), rootBits, rootBits, storage, capacity, table, ctx.TableEntryCount);
}

// Reads the entry's trees and decodes its data.
DecodeResult ExplodeEntry(TDecodeContext& ctx, std::uint16_t bitFlag, Trees& trees) {
  const bool dictionary8K = (bitFlag & 2) != 0;
  const bool literalTree = (bitFlag & 4) != 0;
  // By the entry's whole compressed size, before the trees are read.
  const unsigned distanceBits = ctx.PackedLeft > kLargeEntry ? kLargeDistanceRootBits : kDistanceRootBits;
  DecodeResult r = DecodeResult::Decoded;
  if (literalTree) r = ReadTree(ctx, 256, kLiterals, kLiteralRootBits, trees.literal, kLiteralCapacity, trees.literalTable);
  if (r != DecodeResult::Decoded) return r;
  const auto& lengthBase = literalTree ? kLengthBaseWithLiterals : kLengthBaseWithoutLiterals;
  r = ReadTree(ctx, 64, lengthBase, kLengthRootBits, trees.length, kLengthCapacity, trees.lengthTable);
  if (r != DecodeResult::Decoded) return r;
  const auto& distanceBase = dictionary8K ? kDistanceBase8K : kDistanceBase4K;
  r = ReadTree(ctx, 64, distanceBase, distanceBits, trees.distance, kDistanceCapacity, trees.distanceTable);
  if (r != DecodeResult::Decoded) return r;

  const int lowBits = dictionary8K ? 7 : 6;
  return literalTree ? ExplodeData<true>(ctx, lowBits, trees) : ExplodeData<false>(ctx, lowBits, trees);
}

}  // namespace

DecodeResult DecodeImploded(TDecodeContext& ctx, std::uint16_t bitFlag) {
  ctx.TableEntryCount = 0;
  std::unique_ptr<Trees> trees(new (std::nothrow) Trees);
  if (!trees) throw EDecoderOutOfMemory("Not enough memory to explode");
  const DecodeResult r = ExplodeEntry(ctx, bitFlag, *trees);
  WriteOutputBuffer(ctx);
  return r;
}

}  // namespace quv
