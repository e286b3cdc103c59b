// Multi-level Huffman decoding tables, built from a list of code lengths.
// Implode uses them directly; Inflate checks its codes with the same rules.
#pragma once

#include <cstdint>

namespace quv {

// One entry of a decoding table.
//   Op 0..14   a length or distance code: Value is the base, Op the number
//              of extra bits that follow
//   Op 15      end of block (literal/length symbol 256)
//   Op 16      a literal: Value is the byte
//   Op 17..32  a sub-table indexed by the next Op - 16 bits: Next
//   Op 99      invalid code, or a slot no code reaches
struct TCodeEntry {
  std::uint8_t Op = 0;
  std::uint8_t Bits = 0;
  std::uint16_t Value = 0;
  TCodeEntry* Next = nullptr;
};

inline constexpr std::uint8_t kOpEndOfBlock = 15;
inline constexpr std::uint8_t kOpLiteral = 16;
inline constexpr std::uint8_t kOpInvalid = 99;
inline constexpr int kMaxCodeBits = 16;
inline constexpr int kMaxCodes = 288;

// Builds the tables for the symbolCount code lengths (0 = symbol unused, at
// most 16). Symbols below simpleSymbols are their own Value; the others take
// Value from bases and Op from extraBits, indexed by symbol - simpleSymbols.
// rootBits: the wanted lookup bits of the first-level table in, the bits
// used out. Answers
//   0  built (or every length 0: firstTable = nullptr, rootBits = 0),
//   1  the code is incomplete (tables built all the same; a single code of
//      length 1 counts as complete), or an unexpected failure,
//   2  the lengths over-subscribe the code (nothing built).
// Tables that cannot be allocated raise EDecoderOutOfMemory, nothing left
// allocated.
// Every table of one build is released by one FreeDecodeTables(firstTable).
// entryCount, when given, grows by the entries allocated (TableEntryCount).
int BuildDecodeTable(const std::uint16_t* lengths, int symbolCount, int simpleSymbols, const std::uint16_t* bases,
                     const std::uint16_t* extraBits, TCodeEntry*& firstTable, int& rootBits,
                     std::uint16_t* entryCount = nullptr);

// Releases every table of a build; firstTable is nullptr afterwards. Answers 0.
int FreeDecodeTables(TCodeEntry*& firstTable);

}  // namespace quv
