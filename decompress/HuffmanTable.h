// Canonical Huffman decoding tables of one or two levels, for Inflate and
// Explode: one 32-bit entry per slot, indexed by the next code bits taken
// least-significant first.
#pragma once

#include <cstdint>

#include "decompress/DecodeResult.h"

namespace quv::huffman {

// One entry per slot:
//   bits 0-7    bits to drop for this entry: its code bits at this level plus
//               the extra bits that follow; for a sub-table link, the root bits
//   bits 8-11   code bits at this level; for a link, the sub-table's index bits
//   bit 13      end of block
//   bit 14      link to a sub-table
//   bit 15      exceptional: end of block, link or invalid code
//   bits 16-31  literal byte, length or distance base, or sub-table offset
//   bit 31      literal (literal/length entries only; a distance base may
//               reach it)
// Inflate's fast loop drops an entry's bits with one shift and one
// subtraction and tells a literal by the sign, the common cases by one test
// each.
inline constexpr std::uint32_t kLiteral = 1u << 31;
inline constexpr std::uint32_t kExceptional = 1u << 15;
inline constexpr std::uint32_t kLink = kExceptional | 1u << 14;
inline constexpr std::uint32_t kEnd = kExceptional | 1u << 13;
inline constexpr std::uint32_t kInvalid = kExceptional;
inline constexpr std::uint32_t kPlain = 0;  // length, distance or code-length symbol

constexpr std::uint32_t Entry(std::uint32_t kind, unsigned codeBits, unsigned dropBits, unsigned value) {
  return kind | value << 16 | codeBits << 8 | dropBits;
}
constexpr unsigned DropBits(std::uint32_t e) { return e & 0xFF; }
constexpr unsigned CodeBits(std::uint32_t e) { return (e >> 8) & 0xF; }
constexpr unsigned SubTableBits(std::uint32_t e) { return (e >> 8) & 0xF; }
constexpr unsigned Value(std::uint32_t e) { return e >> 16; }
constexpr std::uint8_t LiteralByte(std::uint32_t e) { return static_cast<std::uint8_t>(e >> 16); }
constexpr bool IsLiteral(std::uint32_t e) { return static_cast<std::int32_t>(e) < 0; }
constexpr bool IsExceptional(std::uint32_t e) { return (e & kExceptional) != 0; }
constexpr bool IsLink(std::uint32_t e) { return (e & kLink) == kLink; }
constexpr bool IsEnd(std::uint32_t e) { return (e & kEnd) == kEnd; }
constexpr bool IsInvalid(std::uint32_t e) { return (e & (kLink | kEnd)) == kInvalid; }

// Deflate's codes are at most 15 bits long, Implode's 16.
inline constexpr unsigned kMaxCodeBits = 16;
inline constexpr int kMaxSymbols = 288;

// Slots a table may need: every sub-table covers at least one code and is at
// most 2^(longest - root bits) entries.
constexpr int Capacity(int symbols, unsigned rootBits, unsigned longest) {
  return (1 << rootBits) + symbols * (1 << (longest - rootBits));
}

struct Table {
  const std::uint32_t* entries = nullptr;  // nullptr: every length was zero
  unsigned rootBits = 0;
  unsigned lookupBits = 0;  // first-level lookup bits of the classic tables, for Inflate's careful path
};

// Builds a one- or two-level table for the n (at most kMaxSymbols) code
// lengths lens (each 0 to kMaxCodeBits) into storage. symbols[s] is what
// symbol s decodes to, Entry(kind, 0, extra bits, value): the builder adds
// its code bits. The root bits are wantBits within the shortest and longest
// length. Answers
//   Decoded      built (or every length 0: out.entries == nullptr),
//   DamagedData  slots stay unused (an incomplete code other than a single
//                one-bit code), or more slots are needed than capacity,
//   InvalidCode  the lengths over-subscribe the code;
// nothing is built unless it is Decoded. entriesUsed grows by the slots filled.
DecodeResult BuildTable(const std::uint16_t* lens, int n, const std::uint32_t* symbols, unsigned wantBits,
               unsigned classicBits, std::uint32_t* storage, int capacity, Table& out, std::uint16_t& entriesUsed);

// How many of a table's code lengths have each value.
struct LengthCounts {
  unsigned of[kMaxCodeBits + 1] = {};
};
LengthCounts CountLengths(const std::uint16_t* lens, int n);
// BuildTable for a caller that counted the lengths as it read them; counts
// must be exactly CountLengths(lens, n).
DecodeResult BuildTable(const std::uint16_t* lens, int n, const LengthCounts& counts, const std::uint32_t* symbols,
                        unsigned wantBits, unsigned classicBits, std::uint32_t* storage, int capacity, Table& out,
                        std::uint16_t& entriesUsed);

}  // namespace quv::huffman
