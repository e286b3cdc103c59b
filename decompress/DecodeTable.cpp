// Builder of the multi-level decoding tables: the first-level table is
// indexed by a few bits, longer codes go through sub-tables sized to the
// codes that actually occur. All tables of one build hang on one chain so a
// single call releases them.
#include "decompress/DecodeTable.h"

#include <algorithm>
#include <new>

#include "decompress/DecodeContext.h"

namespace quv {

namespace {

// A table block is size + 1 entries: a hidden header whose Next links to the
// next table of the same build, then the table proper.
TCodeEntry* Header(TCodeEntry* table) { return table - 1; }

struct OutOfMemory {};

// The lengths' statistics the tables are laid out from.
struct LengthCounts {
  unsigned codesOfLength[kMaxCodeBits + 1] = {};
  int shortest = 0;
  int longest = 0;
};

// Counts the codes of each length; false when a length is over 16.
bool CountLengths(const std::uint16_t* lengths, int symbolCount, LengthCounts& counts) {
  for (int symbol = 0; symbol < symbolCount; ++symbol) {
    if (lengths[symbol] > kMaxCodeBits) return false;
    ++counts.codesOfLength[lengths[symbol]];
  }
  return true;
}

void FindShortestAndLongest(LengthCounts& counts) {
  counts.shortest = 1;
  while (counts.codesOfLength[counts.shortest] == 0) ++counts.shortest;
  counts.longest = kMaxCodeBits;
  while (counts.codesOfLength[counts.longest] == 0) --counts.longest;
}

// Answers the number of code slots no length claims, or -1 when the lengths
// claim more slots than there are.
int CountUnusedSlots(const LengthCounts& counts) {
  int unusedSlots = 1 << counts.shortest;
  for (int length = counts.shortest; length < counts.longest; ++length, unusedSlots <<= 1) {
    unusedSlots -= static_cast<int>(counts.codesOfLength[length]);
    if (unusedSlots < 0) return -1;
  }
  unusedSlots -= static_cast<int>(counts.codesOfLength[counts.longest]);
  return unusedSlots < 0 ? -1 : unusedSlots;
}

// Lays the tables out code by code in canonical order (by length, then by
// symbol), walking the codes bit-reversed as the decoders index them.
class TableBuilder {
 public:
  TableBuilder(const LengthCounts& counts, int rootBits, int simpleSymbols, const std::uint16_t* bases,
               const std::uint16_t* extraBits, TCodeEntry*& firstTable, std::uint16_t* entryCount)
      : counts_(counts),
        rootBits_(rootBits),
        simpleSymbols_(simpleSymbols),
        bases_(bases),
        extraBits_(extraBits),
        link_(&firstTable),
        entryCount_(entryCount) {}

  void SortSymbols(const std::uint16_t* lengths, int symbolCount);
  void PlaceAllCodes();

 private:
  void OpenTablesFor(int codeLength, unsigned codesLeftOfThisLength);
  int SubTableBits(int codeLength, unsigned codesLeftOfThisLength) const;
  TCodeEntry* AllocateTable(unsigned size);
  void DescribeNextSymbol(int codeLength);
  void StoreEntry(int codeLength);
  void AdvanceToNextCode(int codeLength);
  void CloseFullTables();

  const LengthCounts& counts_;
  const int rootBits_;
  const int simpleSymbols_;  // symbols below this are their own Value
  const std::uint16_t* const bases_;
  const std::uint16_t* const extraBits_;
  TCodeEntry** link_;  // where the next table is chained
  std::uint16_t* const entryCount_;

  unsigned sortedSymbols_[kMaxCodes] = {};
  unsigned placedCount_ = 0;  // symbols of non-zero length
  unsigned nextSymbol_ = 0;   // index into sortedSymbols_

  TCodeEntry* tableOfLevel_[kMaxCodeBits] = {};
  unsigned prefixOfLevel_[kMaxCodeBits + 1] = {};  // code bits leading to each level's table
  int level_ = -1;
  int bitsAboveLevel_ = 0;  // code bits decoded by the levels above the current one
  TCodeEntry* table_ = nullptr;
  unsigned tableSize_ = 0;
  unsigned reversedCode_ = 0;  // the current code, first bit lowest
  // Kept from code to code: an unused slot keeps the previous symbol's Value.
  TCodeEntry entry_;
};

void TableBuilder::SortSymbols(const std::uint16_t* lengths, int symbolCount) {
  unsigned firstOfLength[kMaxCodeBits + 2] = {};
  for (int length = 1; length < counts_.longest; ++length)
    firstOfLength[length + 1] = firstOfLength[length] + counts_.codesOfLength[length];
  for (int symbol = 0; symbol < symbolCount; ++symbol)
    if (lengths[symbol] != 0) sortedSymbols_[firstOfLength[lengths[symbol]]++] = static_cast<unsigned>(symbol);
  placedCount_ = firstOfLength[counts_.longest];
}

void TableBuilder::PlaceAllCodes() {
  bitsAboveLevel_ = -rootBits_;
  for (int codeLength = counts_.shortest; codeLength <= counts_.longest; ++codeLength) {
    for (unsigned codesLeft = counts_.codesOfLength[codeLength]; codesLeft-- != 0;) {
      OpenTablesFor(codeLength, codesLeft);
      DescribeNextSymbol(codeLength);
      StoreEntry(codeLength);
      AdvanceToNextCode(codeLength);
      CloseFullTables();
    }
  }
}

// Opens tables down to the level a code of codeLength bits ends in, each
// linked from its parent's slot for the current code.
void TableBuilder::OpenTablesFor(int codeLength, unsigned codesLeftOfThisLength) {
  while (codeLength > bitsAboveLevel_ + rootBits_) {
    ++level_;
    bitsAboveLevel_ += rootBits_;
    const int indexBits = SubTableBits(codeLength, codesLeftOfThisLength);
    tableSize_ = 1u << indexBits;
    table_ = AllocateTable(tableSize_);
    tableOfLevel_[level_] = table_;
    if (level_ > 0) {
      prefixOfLevel_[level_] = reversedCode_;
      TCodeEntry linkEntry;
      linkEntry.Bits = static_cast<std::uint8_t>(rootBits_);
      linkEntry.Op = static_cast<std::uint8_t>(16 + indexBits);
      linkEntry.Next = table_;
      linkEntry.Value = entry_.Value;
      tableOfLevel_[level_ - 1][reversedCode_ >> (bitsAboveLevel_ - rootBits_)] = linkEntry;
    }
  }
}

// The index bits of a new table at the current level: enough for this code,
// grown while the longer codes that follow would fill the room, at most
// rootBits_ and never past the longest code.
int TableBuilder::SubTableBits(int codeLength, unsigned codesLeftOfThisLength) const {
  const int widest = std::min(counts_.longest - bitsAboveLevel_, rootBits_);
  int indexBits = codeLength - bitsAboveLevel_;
  unsigned slotsToFill = 1u << indexBits;
  if (slotsToFill <= codesLeftOfThisLength + 1 || indexBits >= widest) return indexBits;
  slotsToFill -= codesLeftOfThisLength + 1;
  for (int length = codeLength; ++indexBits < widest;) {
    slotsToFill <<= 1;
    if (slotsToFill <= counts_.codesOfLength[++length]) break;
    slotsToFill -= counts_.codesOfLength[length];
  }
  return indexBits;
}

TCodeEntry* TableBuilder::AllocateTable(unsigned size) {
  TCodeEntry* block = new (std::nothrow) TCodeEntry[size + 1];
  if (block == nullptr) throw OutOfMemory{};
  if (entryCount_ != nullptr) *entryCount_ = static_cast<std::uint16_t>(*entryCount_ + size + 1);
  *link_ = block + 1;
  block->Next = nullptr;
  link_ = &block->Next;
  return block + 1;
}

void TableBuilder::DescribeNextSymbol(int codeLength) {
  entry_.Bits = static_cast<std::uint8_t>(codeLength - bitsAboveLevel_);
  entry_.Next = nullptr;
  if (nextSymbol_ >= placedCount_) {
    entry_.Op = kOpInvalid;  // a slot no code reaches
    return;
  }
  const unsigned symbol = sortedSymbols_[nextSymbol_++];
  if (static_cast<int>(symbol) < simpleSymbols_) {
    entry_.Op = symbol < 256 ? kOpLiteral : kOpEndOfBlock;
    entry_.Value = static_cast<std::uint16_t>(symbol);
  } else {
    entry_.Op = static_cast<std::uint8_t>(extraBits_[symbol - static_cast<unsigned>(simpleSymbols_)] & 0xFF);
    entry_.Value = bases_[symbol - static_cast<unsigned>(simpleSymbols_)];
  }
}

// Every slot of the current table whose low bits are this code's.
void TableBuilder::StoreEntry(int codeLength) {
  const unsigned step = 1u << (codeLength - bitsAboveLevel_);
  for (unsigned slot = reversedCode_ >> bitsAboveLevel_; slot < tableSize_; slot += step) table_[slot] = entry_;
}

// Adds one to the code counting from its first bit (the bit-reversed increment).
void TableBuilder::AdvanceToNextCode(int codeLength) {
  unsigned bit = 1u << (codeLength - 1);
  while ((reversedCode_ & bit) != 0) {
    reversedCode_ ^= bit;
    bit >>= 1;
  }
  reversedCode_ ^= bit;
}

// Goes back up while the next code no longer shares the current table's prefix.
void TableBuilder::CloseFullTables() {
  while (level_ > 0 && (reversedCode_ & ((1u << bitsAboveLevel_) - 1)) != prefixOfLevel_[level_]) {
    --level_;
    bitsAboveLevel_ -= rootBits_;
  }
}

}  // namespace

int FreeDecodeTables(TCodeEntry*& firstTable) {
  TCodeEntry* table = firstTable;
  while (table != nullptr) {
    TCodeEntry* block = Header(table);
    TCodeEntry* next = block->Next;
    delete[] block;
    table = next;
  }
  firstTable = nullptr;
  return 0;
}

int BuildDecodeTable(const std::uint16_t* lengths, int symbolCount, int simpleSymbols, const std::uint16_t* bases,
                     const std::uint16_t* extraBits, TCodeEntry*& firstTable, int& rootBits,
                     std::uint16_t* entryCount) {
  firstTable = nullptr;
  if (symbolCount < 0 || symbolCount > kMaxCodes) return 1;

  LengthCounts counts;
  if (!CountLengths(lengths, symbolCount, counts)) return 2;
  if (counts.codesOfLength[0] == static_cast<unsigned>(symbolCount)) {
    rootBits = 0;
    return 0;
  }
  FindShortestAndLongest(counts);
  rootBits = std::clamp(rootBits, counts.shortest, counts.longest);

  const int unusedSlots = CountUnusedSlots(counts);
  if (unusedSlots < 0) return 2;
  // The unused slots become invalid entries of the longest length.
  counts.codesOfLength[counts.longest] += static_cast<unsigned>(unusedSlots);

  try {
    TableBuilder builder(counts, rootBits, simpleSymbols, bases, extraBits, firstTable, entryCount);
    builder.SortSymbols(lengths, symbolCount);
    builder.PlaceAllCodes();
  } catch (const OutOfMemory&) {
    FreeDecodeTables(firstTable);
    throw EDecoderOutOfMemory("Not enough memory for a decoding table");
  } catch (...) {
    FreeDecodeTables(firstTable);
    return 1;
  }
  const bool singleOneBitCode = counts.longest == 1;
  return (unusedSlots != 0 && !singleOneBitCode) ? 1 : 0;
}

}  // namespace quv
