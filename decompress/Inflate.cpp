// Inflate (RFC 1951), and its 64 KB-window variant Deflate64: length code
// 285 is base 3 with 16 extra bits instead of 258, and distance codes 30 and
// 31 reach back up to 65 536 bytes.
//
// Speed comes from a 64-bit bit buffer refilled eight bytes at a time
// straight from InBuffer without a branch, table entries that say in their
// low byte how many bits to drop (so one shift and one subtraction consume a
// symbol with its extra bits), the literal flag in the sign bit, the next
// entry looked up as soon as the current one is consumed, up to three
// literals per refill, and decoding straight into a long flat window in
// WorkArea that is written to the output in 32 768-byte blocks from where it
// lies. Input is read where it lies too: in the host's own buffer when it
// lends its bytes, else in InBuffer. The fast loop only runs while enough
// bytes are at hand; near the end of a block of input, and for block
// headers, bits are fetched the careful way, a byte at a time and only when
// needed, so refills (with their decryption, disk changes and short-archive
// checks) happen exactly when the data calls for them. At the end of the
// entry's data nothing more is to be read: the last bytes are copied, with
// the bytes the careful path feeds past the end after them, and the fast
// loop runs on them up to the stream's end.
//
// Window: WorkArea holds 32 KB (Deflate64: 64 KB) of history followed by
// 192 KB (Deflate64: 96 KB) of fresh output and a margin for the longest
// match. Output goes to the file every 32 768 bytes; when the fresh part is
// full its last 32 KB (64 KB) move down to become the history. A distance
// that reaches before the entry's first byte is damaged data, so no entry
// ever sees another's output.
#include "decompress/Inflate.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

#include "decompress/HuffmanTable.h"
#include "zip/Exception.h"

// The fast loop is built a second time for x86 processors with BMI2, whose
// shifts and bit-field extraction take a count from any register: the loop
// is mostly such shifts.
#if defined(__x86_64__) || defined(__i386__)
#define QUV_INFLATE_BMI2 1
#endif

namespace quv {

namespace {

using namespace huffman;

constexpr std::ptrdiff_t kBlock = 32768;  // output write size
constexpr unsigned kMaxDeflateMatch = 258;
constexpr unsigned kMaxDeflate64Match = 3 + 65535;
// Bytes the word-wide match copies may write past a match's end.
constexpr std::ptrdiff_t kCopyOverrun = 32;

// What tells the two formats apart.
struct Format {
  bool deflate64;
  std::ptrdiff_t history;    // longest distance
  unsigned distanceCodes;    // valid distance symbols
  unsigned longestMatch;
  std::ptrdiff_t fresh;      // output decoded before the window slides
};
// Deflate64 needs twice the history and room for a 64 KB match, so it slides
// more often in the same work area.
constexpr Format kDeflate{false, 32768, 30, kMaxDeflateMatch, 6 * kBlock};
constexpr Format kDeflate64{true, 65536, 32, kMaxDeflate64Match, 3 * kBlock};

// A symbol starts before the block end and adds at most three literals or
// the longest match with the copies' overrun.
constexpr bool FitsWorkArea(const Format& f) {
  return f.history + f.fresh + f.longestMatch + kCopyOverrun <= kWorkAreaAllocated;
}
static_assert(FitsWorkArea(kDeflate) && FitsWorkArea(kDeflate64));

// Past the end of the compressed data the last byte is fed again (as the
// shared bit reader does). A sound stream needs at most two such bytes, to
// complete the lookup of its last code; one that goes on living on them is
// broken, and this many end its decoding, so no input can loop forever.
constexpr std::uint32_t kPhantomLimit = 64;
// Phantom bytes laid after the copy of the entry's last bytes: enough for
// the fast loop to reach a sound stream's end, and fewer than the limit, so
// that the careful path still stops at the same point.
constexpr std::ptrdiff_t kPhantomRun = 32;
static_assert(kPhantomRun <= kPhantomLimit);

struct StopDecoding {};

// ---- decoding tables (layout in decompress/HuffmanTable.h) ---------------

// RFC 1951, 3.2.5.
constexpr std::uint16_t kLengthBase[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                           35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
constexpr std::uint16_t kLengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                            3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
// The last two distance codes are Deflate64's.
constexpr std::uint16_t kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,    33,
                                         49,   65,   97,   129,  193,  257,   385,   513,   769,   1025,  1537,
                                         2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr std::uint16_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2, 3,  3,  4,  4,  5,  5,  6,  6,
                                          7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
// Deflate64's length code 285.
constexpr unsigned kDeflate64LongBase = 3;
constexpr unsigned kDeflate64LongExtra = 16;
// RFC 1951, 3.2.7.
constexpr std::uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

enum class Alphabet { LiteralLength, Distance, CodeLength };

constexpr int kLitRootBits = 11;
constexpr int kDistRootBits = 8;
// Input bytes a second refill within one symbol may take.
constexpr std::int32_t kSecondRefillMargin = 8;
// Input bytes at hand for the fast loop to be worth entering.
constexpr std::ptrdiff_t kFastLoopInput = 16 + kSecondRefillMargin;
// The copy of the entry's last bytes and the phantom bytes fit InBuffer.
static_assert(kFastLoopInput + kPhantomRun <= kInBufferSize);
// Room for the largest possible tables: every sub-table covers at least one
// code and is at most 2^(15 - root bits) entries.
constexpr int kLitCapacity = (1 << kLitRootBits) + 288 * (1 << (15 - kLitRootBits));
constexpr int kDistCapacity = (1 << kDistRootBits) + 32 * (1 << (15 - kDistRootBits));

// The distance table of a block without distance codes: any match in it is
// damaged data, found without a separate check in the fast loop.
constexpr std::uint32_t kNoDistanceCodes[1] = {Entry(kInvalid, 0, 0, 0)};

// What each symbol decodes to, without its code bits (see BuildTable).
constexpr std::uint32_t SymbolEntry(const Format& format, Alphabet alphabet, unsigned symbol) {
  switch (alphabet) {
    case Alphabet::LiteralLength:
      if (symbol < 256) return Entry(kLiteral, 0, 0, symbol);
      if (symbol == 256) return Entry(kEnd, 0, 0, 0);
      if (symbol == 285 && format.deflate64) return Entry(kPlain, 0, kDeflate64LongExtra, kDeflate64LongBase);
      if (symbol >= 288 || kLengthExtra[symbol - 257] == 99) return Entry(kInvalid, 0, 0, 0);
      return Entry(kPlain, 0, kLengthExtra[symbol - 257], kLengthBase[symbol - 257]);
    case Alphabet::Distance:
      if (symbol >= format.distanceCodes) return Entry(kInvalid, 0, 0, 0);
      return Entry(kPlain, 0, kDistExtra[symbol], kDistBase[symbol]);
    case Alphabet::CodeLength:
      break;
  }
  return Entry(kPlain, 0, 0, symbol);
}

struct SymbolEntries {
  std::uint32_t at[kMaxSymbols];
};
constexpr SymbolEntries MakeSymbolEntries(const Format& format, Alphabet alphabet) {
  SymbolEntries s{};
  for (unsigned i = 0; i < kMaxSymbols; ++i) s.at[i] = SymbolEntry(format, alphabet, i);
  return s;
}
constexpr SymbolEntries kDeflateLitSymbols = MakeSymbolEntries(kDeflate, Alphabet::LiteralLength);
constexpr SymbolEntries kDeflate64LitSymbols = MakeSymbolEntries(kDeflate64, Alphabet::LiteralLength);
constexpr SymbolEntries kDeflateDistSymbols = MakeSymbolEntries(kDeflate, Alphabet::Distance);
constexpr SymbolEntries kDeflate64DistSymbols = MakeSymbolEntries(kDeflate64, Alphabet::Distance);
constexpr SymbolEntries kCodeLengthSymbols = MakeSymbolEntries(kDeflate, Alphabet::CodeLength);

const std::uint32_t* Symbols(const Format& format, Alphabet alphabet) {
  switch (alphabet) {
    case Alphabet::LiteralLength:
      return (format.deflate64 ? kDeflate64LitSymbols : kDeflateLitSymbols).at;
    case Alphabet::Distance:
      return (format.deflate64 ? kDeflate64DistSymbols : kDeflateDistSymbols).at;
    case Alphabet::CodeLength:
      break;
  }
  return kCodeLengthSymbols.at;
}

// Builds the table of one alphabet (see huffman::BuildTable).
DecodeResult BuildTable(const Format& format, const std::uint16_t* lens, int n, Alphabet alphabet, unsigned wantBits,
               unsigned classicBits, std::uint32_t* storage, int capacity, Table& out, std::uint16_t& entriesUsed) {
  return huffman::BuildTable(lens, n, Symbols(format, alphabet), wantBits, classicBits, storage, capacity, out,
                             entriesUsed);
}
DecodeResult BuildTable(const Format& format, const std::uint16_t* lens, int n, const LengthCounts& counts,
                        Alphabet alphabet, unsigned wantBits, unsigned classicBits, std::uint32_t* storage, int capacity,
                        Table& out, std::uint16_t& entriesUsed) {
  return huffman::BuildTable(lens, n, counts, Symbols(format, alphabet), wantBits, classicBits, storage, capacity, out,
                             entriesUsed);
}

[[gnu::always_inline]] inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

[[gnu::always_inline]] inline void Copy8(std::uint8_t* to, const std::uint8_t* from) { std::memcpy(to, from, 8); }
[[gnu::always_inline]] inline void Copy16(std::uint8_t* to, const std::uint8_t* from) { std::memcpy(to, from, 16); }

// Adds whole bytes from in until at least 56 bits are held; in must have 8
// readable bytes. Bits above the count are the next input bits, never junk.
// Only the low byte of count is the count (see DropEntryBits); shifting by
// count & 63 is the plain machine shift.
[[gnu::always_inline]] inline void Refill(std::uint64_t& bits, std::uint32_t& count, const std::uint8_t*& in) {
  bits |= Load64(in) << (count & 63);
  in += 7 - ((count >> 3) & 7);
  count |= 56;
}

// Drops an entry's bits. The whole entry is subtracted: its low byte is the
// bit count and what the rest borrows only reaches count's unused high bits.
[[gnu::always_inline]] inline void DropEntryBits(std::uint64_t& bits, std::uint32_t& count, std::uint32_t e) {
  bits >>= e & 63;
  count -= e;
}

inline constexpr std::uint64_t Mask(unsigned n) { return (std::uint64_t{1} << n) - 1; }

// The extra bits of a length or distance entry, taken from the bits as they
// were before the entry was dropped.
[[gnu::always_inline]] inline unsigned ExtraBits(std::uint64_t before, std::uint32_t e) {
  // The flag bits above the code bits are clear in these entries.
  const unsigned codeBits = static_cast<std::uint8_t>(e >> 8);
  return static_cast<unsigned>((before & Mask(static_cast<std::uint8_t>(e))) >> codeBits);
}

[[gnu::always_inline]] inline std::size_t SubTableSlot(std::uint32_t link, std::uint64_t bits) {
  return Value(link) + static_cast<std::size_t>(bits & Mask(SubTableBits(link)));
}

// Copies a match of length bytes from dist bytes back; may write up to
// kCopyOverrun bytes past its end. Most matches are shorter than 32 bytes:
// the first 32 are copied without testing the length.
[[gnu::always_inline]] inline std::uint8_t* CopyMatch(std::uint8_t* to, unsigned dist, unsigned length) {
  const std::uint8_t* from = to - dist;
  std::uint8_t* const end = to + length;
  if (dist >= 16) {
    Copy16(to, from);
    Copy16(to + 16, from + 16);
    for (to += 32, from += 32; to < end; to += 16, from += 16) Copy16(to, from);
  } else if (dist >= 8) {
    Copy8(to, from);
    Copy8(to + 8, from + 8);
    Copy8(to + 16, from + 16);
    Copy8(to + 24, from + 24);
    for (to += 32, from += 32; to < end; to += 8, from += 8) Copy8(to, from);
  } else if (dist == 1) {
    const std::uint64_t v = from[0] * 0x0101010101010101ull;
    std::uint8_t pair[16];
    std::memcpy(pair, &v, 8);
    std::memcpy(pair + 8, &v, 8);
    for (; to < end; to += 16) std::memcpy(to, pair, 16);
  } else {
    // Lay down the first 8 bytes one by one, then repeat them in words at a
    // multiple of the distance that is at least 8.
    for (int k = 0; k < 8; ++k) to[k] = from[k];
    static constexpr std::uint8_t kPeriod[8] = {0, 0, 8, 9, 8, 10, 12, 14};
    const unsigned period = kPeriod[dist];
    for (to += 8; to < end; to += 8) Copy8(to, to - period);
  }
  return end;
}

}  // namespace

// The dynamic blocks' tables.
struct InflateTables {
  std::uint32_t lit[kLitCapacity];
  std::uint32_t dist[kDistCapacity];
  std::uint32_t codeLengths[128];
};

void InflateTablesFree::operator()(InflateTables* tables) const { delete tables; }

namespace {

InflateTables& TablesOf(TDecodeContext& ctx) {
  if (!ctx.InflateState) {
    ctx.InflateState.reset(new (std::nothrow) InflateTables);
    if (!ctx.InflateState) throw EDecoderOutOfMemory("Not enough memory to inflate");
  }
  return *ctx.InflateState;
}

// The fixed code's tables (RFC 1951, 3.2.6), built once per format for the
// whole process (a function-local static is built by one thread only).
struct FixedTables {
  explicit FixedTables(const Format& format) {
    std::uint16_t lens[288];
    std::fill(lens, lens + 144, 8);
    std::fill(lens + 144, lens + 256, 9);
    std::fill(lens + 256, lens + 280, 7);
    std::fill(lens + 280, lens + 288, 8);
    std::uint16_t unused = 0;
    BuildTable(format, lens, 288, Alphabet::LiteralLength, kLitRootBits, 7, lit, 512, litTable, unused);
    // All 32 five-bit codes; Deflate's last two are invalid symbols.
    std::fill(lens, lens + 32, 5);
    BuildTable(format, lens, 32, Alphabet::Distance, kDistRootBits, 5, dist, 32, distTable, unused);
  }
  FixedTables(const FixedTables&) = delete;
  FixedTables& operator=(const FixedTables&) = delete;

  std::uint32_t lit[512];
  std::uint32_t dist[32];
  Table litTable;  // these point into lit and dist
  Table distTable;
};

const FixedTables& Fixed(const Format& format) {
  if (format.deflate64) {
    static const FixedTables deflate64(kDeflate64);
    return deflate64;
  }
  static const FixedTables deflate(kDeflate);
  return deflate;
}

enum Status { kGoOn, kEndOfBlock, kBad };

// Test switches (see Inflate.h).
std::atomic<bool> portableLoopOnly{false};
std::atomic<bool> carefulTailOnly{false};

class Inflater {
 public:
  Inflater(TDecodeContext& ctx, InflateTables& tables, const Format& format)
      : ctx_(ctx),
        t_(tables),
        format_(format),
        base_(ctx.WorkArea.get()),
        out_(base_ + format.history),
        first_(out_),
        blockEnd_(out_ + kBlock),
        phantomRun_(carefulTailOnly.load(std::memory_order_relaxed) ? 0 : kPhantomRun) {}

  DecodeResult DecodeBlock(bool& last);
  void WriteRest() { WriteOutputBlock(ctx_, blockEnd_ - kBlock, static_cast<std::int32_t>(out_ - (blockEnd_ - kBlock))); }

 private:
  DecodeResult CopyStoredBlock();
  DecodeResult DecodeFixedBlock();
  DecodeResult DecodeDynamicBlock();
  // The code-length code's lengths and table (cl).
  DecodeResult ReadCodeLengthCode(unsigned ncode, Table& cl);
  // The literal/length and distance code lengths, total of them, into lens,
  // with counts of each length.
  DecodeResult ReadCodeLengths(const Table& cl, std::uint16_t* lens, unsigned total, LengthCounts& counts);
  bool ReadCodeLengthsFast(const Table& cl, std::uint16_t* lens, unsigned& n, unsigned total, std::uint16_t& lastLen,
                           LengthCounts& counts);
  DecodeResult DecodeCompressedData(const Table& lit, const Table& dist);
  template <bool kDeflate64>
  [[gnu::always_inline]] inline Status FastLoop(const Table& lit, const Table& dist);
  template <bool kDeflate64>
  Status FastLoopPortable(const Table& lit, const Table& dist) { return FastLoop<kDeflate64>(lit, dist); }
#ifdef QUV_INFLATE_BMI2
  template <bool kDeflate64>
  [[gnu::target("bmi2")]] Status FastLoopBmi2(const Table& lit, const Table& dist) {
    return FastLoop<kDeflate64>(lit, dist);
  }
#endif
  template <bool kDeflate64>
  Status RunFastLoop(const Table& lit, const Table& dist);
  Status SlowSymbol(const Table& lit, const Table& dist);
  std::uint32_t SlowDecode(const Table& t);

  // Bytes that may be read from in_ on.
  std::ptrdiff_t Readable() const { return inLimit_ - in_; }
  // Fewer than want bytes readable in the entry's last block: go on with
  // the copy of its last bytes.
  void ToTailIfShort(std::ptrdiff_t want) {
    if (Readable() < want && lastBlock_ && !atTail_) MoveToTail();
  }
  void TakeBlock();
  void MoveToTail();
  bool MoreInput();
  std::uint8_t NextByte();
  void HandBackLentInput();
  void Need(unsigned n);
  std::uint32_t Peek(unsigned n) const { return static_cast<std::uint32_t>(bits_ & Mask(n)); }
  void Drop(unsigned n) {
    bits_ >>= n;
    count_ -= n;
  }
  // A long Deflate64 match may fill more than one block.
  void FlushIfFull() {
    while (out_ >= blockEnd_) Flush();
  }
  void Flush();

  TDecodeContext& ctx_;
  InflateTables& t_;
  const Format& format_;
  std::uint64_t bits_ = 0;
  std::uint32_t count_ = 0;
  std::uint8_t* const base_;
  std::uint8_t* out_;
  // The entry's first byte in the window; the window's start once it slid.
  const std::uint8_t* first_;
  std::uint8_t* blockEnd_;
  // Input: the bytes at hand are [in_, inEnd_), a block TakeInputBlock
  // answered. At the entry's end (atTail_) they are a copy of its last
  // bytes at InBuffer's start followed by kPhantomRun phantom bytes up to
  // inLimit_, which reads may take as they take the others; before that
  // inLimit_ is inEnd_.
  const std::uint8_t* in_ = nullptr;
  const std::uint8_t* inEnd_ = nullptr;
  const std::uint8_t* inLimit_ = nullptr;
  bool lastBlock_ = false;  // no bytes of the entry's data follow inEnd_
  bool atTail_ = false;
  const std::ptrdiff_t phantomRun_;  // kPhantomRun, or none for the careful tail
  // Phantom bytes fed beyond inLimit_.
  std::uint32_t phantom_ = 0;
};

void Inflater::TakeBlock() {
  const std::span<const std::uint8_t> block = TakeInputBlock(ctx_);
  in_ = block.data();
  inEnd_ = inLimit_ = in_ + block.size();
  lastBlock_ = ctx_.PackedLeft <= 0;
  if (!block.empty()) ctx_.ByteHold = block.back();
}

// From here on the phantom bytes are the last byte of the entry's data.
void Inflater::MoveToTail() {
  const auto k = static_cast<std::size_t>(inEnd_ - in_);
  std::uint8_t* const tail = ctx_.InBuffer.get();
  if (k > 0) std::memmove(tail, in_, k);
  std::memset(tail + k, static_cast<std::uint8_t>(ctx_.ByteHold), static_cast<std::size_t>(phantomRun_));
  in_ = tail;
  inEnd_ = tail + k;
  inLimit_ = inEnd_ + phantomRun_;
  atTail_ = true;
}

// When nothing is readable: the next block, or the entry's tail; false
// once that too is used up.
bool Inflater::MoreInput() {
  if (!lastBlock_) {
    TakeBlock();
  } else if (!atTail_) {
    MoveToTail();
  } else {
    return false;
  }
  return true;
}

std::uint8_t Inflater::NextByte() {
  while (in_ == inLimit_) {
    if (!MoreInput()) {
      if (static_cast<std::ptrdiff_t>(++phantom_) > static_cast<std::ptrdiff_t>(kPhantomLimit) - phantomRun_)
        throw StopDecoding{};
      return static_cast<std::uint8_t>(ctx_.ByteHold);
    }
  }
  return *in_++;
}

// Lent bytes are given back before output is written (the host's handlers
// may then run) and taken again when needed.
void Inflater::HandBackLentInput() {
  if (atTail_ || !HandBackInput(ctx_, static_cast<std::int32_t>(inEnd_ - in_))) return;
  in_ = inEnd_ = inLimit_ = nullptr;
  lastBlock_ = ctx_.PackedLeft <= 0;
}

// Makes at least n (at most 32) bits available. In one step when enough
// bytes are at hand; otherwise a byte at a time, so a refill happens only
// when these bits really need it.
void Inflater::Need(unsigned n) {
  while (count_ < n) {
    ToTailIfShort(8);
    if (Readable() >= 8) {
      Refill(bits_, count_, in_);
    } else {
      bits_ |= static_cast<std::uint64_t>(NextByte()) << count_;
      count_ += 8;
    }
  }
}

void Inflater::Flush() {
  HandBackLentInput();
  WriteOutputBlock(ctx_, blockEnd_ - kBlock, static_cast<std::int32_t>(kBlock));
  if (blockEnd_ == base_ + format_.history + format_.fresh) {
    const std::ptrdiff_t keep = out_ - (base_ + format_.fresh);
    std::memmove(base_, base_ + format_.fresh, static_cast<std::size_t>(keep));
    out_ -= format_.fresh;
    first_ = base_;
    blockEnd_ = base_ + format_.history + kBlock;
  } else {
    blockEnd_ += kBlock;
  }
}

DecodeResult Inflater::DecodeBlock(bool& last) {
  Need(1);
  last = Peek(1) != 0;
  Drop(1);
  Need(2);
  const std::uint32_t type = Peek(2);
  Drop(2);
  try {
    switch (type) {
      case 0:
        return CopyStoredBlock();
      case 1:
        return DecodeFixedBlock();
      case 2:
        return DecodeDynamicBlock();
      default:
        return DecodeResult::InvalidCode;
    }
  } catch (const EDataError&) {
    // Output beyond the declared size; anything else ends the run (see DecodeEntry).
    return DecodeResult::DamagedData;
  }
}

DecodeResult Inflater::CopyStoredBlock() {
  Drop(count_ % 8);
  Need(16);
  const std::uint32_t len = Peek(16);
  Drop(16);
  Need(16);
  if (Peek(16) != (~len & 0xFFFF)) return DecodeResult::DamagedData;
  Drop(16);
  std::uint32_t left = len;
  for (; left > 0 && count_ >= 8; --left) {
    *out_++ = static_cast<std::uint8_t>(bits_);
    Drop(8);
    FlushIfFull();
  }
  if (left == 0) return DecodeResult::Decoded;
  bits_ = 0;  // the bytes above the count are taken straight from the input now
  while (left > 0) {
    if (Readable() > 0) {
      const auto k = static_cast<std::uint32_t>(
          std::min<std::ptrdiff_t>({static_cast<std::ptrdiff_t>(left), Readable(), blockEnd_ - out_}));
      std::memcpy(out_, in_, k);
      out_ += k;
      in_ += k;
      left -= k;
    } else {
      *out_++ = NextByte();
      --left;
    }
    FlushIfFull();
  }
  return DecodeResult::Decoded;
}

DecodeResult Inflater::DecodeFixedBlock() {
  const FixedTables& fixed = Fixed(format_);
  ctx_.TableEntryCount = static_cast<std::uint16_t>(512 + 32);
  return DecodeCompressedData(fixed.litTable, fixed.distTable);
}

DecodeResult Inflater::DecodeDynamicBlock() {
  Need(5);
  const unsigned nlit = Peek(5) + 257;
  Drop(5);
  Need(5);
  const unsigned ndist = Peek(5) + 1;
  Drop(5);
  Need(4);
  const unsigned ncode = Peek(4) + 4;
  Drop(4);
  if (nlit > 286 || ndist > format_.distanceCodes) return DecodeResult::DamagedData;

  Table cl;
  DecodeResult r = ReadCodeLengthCode(ncode, cl);
  if (r != DecodeResult::Decoded) return r;
  std::uint16_t lens[286 + 32];
  // Counted as they are read: all of them, then the literal/length ones.
  LengthCounts litCounts;
  r = ReadCodeLengths(cl, lens, nlit + ndist, litCounts);
  if (r != DecodeResult::Decoded) return r;
  const LengthCounts distCounts = CountLengths(lens + nlit, static_cast<int>(ndist));
  for (unsigned len = 0; len <= kMaxCodeBits; ++len) litCounts.of[len] -= distCounts.of[len];

  std::uint16_t& used = ctx_.TableEntryCount;
  Table lit;
  Table dist;
  r = BuildTable(format_, lens, static_cast<int>(nlit), litCounts, Alphabet::LiteralLength, kLitRootBits, 9, t_.lit,
                 kLitCapacity, lit, used);
  if (r != DecodeResult::Decoded) return r;
  r = BuildTable(format_, lens + nlit, static_cast<int>(ndist), distCounts, Alphabet::Distance, kDistRootBits, 6, t_.dist,
                 kDistCapacity, dist, used);
  if (r != DecodeResult::Decoded) return r;
  if (dist.entries == nullptr) dist.entries = kNoDistanceCodes;
  return DecodeCompressedData(lit, dist);
}

DecodeResult Inflater::ReadCodeLengthCode(unsigned ncode, Table& cl) {
  std::uint16_t clens[19] = {};
  for (unsigned i = 0; i < ncode; ++i) {
    Need(3);
    clens[kCodeLengthOrder[i]] = static_cast<std::uint16_t>(Peek(3));
    Drop(3);
  }
  const DecodeResult r =
      BuildTable(format_, clens, 19, Alphabet::CodeLength, 7, 7, t_.codeLengths, 128, cl, ctx_.TableEntryCount);
  if (r != DecodeResult::Decoded) return r;
  if (cl.entries == nullptr) return DecodeResult::DamagedData;
  if (cl.rootBits == 1 && IsInvalid(t_.codeLengths[1])) {
    // A single code of one bit: the other bit pattern decodes to the same
    // symbol, as the classic tables have it.
    t_.codeLengths[1] = t_.codeLengths[0];
  }
  return DecodeResult::Decoded;
}

// The repeat count's bits after code-length symbol 16, 17 or 18.
constexpr unsigned RepeatBits(unsigned sym) { return sym == 16 ? 2 : sym == 17 ? 3 : 7; }

// Adds at lens[n] the lengths a code-length symbol stands for, and counts
// them; false when a repeat would run past total.
[[gnu::always_inline]] inline bool AddCodeLengths(std::uint16_t* lens, unsigned& n, unsigned total, unsigned sym,
                                                  unsigned repeatCount, std::uint16_t& lastLen, LengthCounts& counts) {
  if (sym < 16) {
    lens[n++] = static_cast<std::uint16_t>(sym);
    ++counts.of[sym];
    lastLen = static_cast<std::uint16_t>(sym);
    return true;
  }
  const unsigned repeat = (sym == 18 ? 11 : 3) + repeatCount;
  if (sym != 16) lastLen = 0;
  if (n + repeat > total) return false;
  std::fill(lens + n, lens + n + repeat, lastLen);
  counts.of[lastLen] += repeat;
  n += repeat;
  return true;
}

DecodeResult Inflater::ReadCodeLengths(const Table& cl, std::uint16_t* lens, unsigned total, LengthCounts& counts) {
  unsigned n = 0;
  std::uint16_t lastLen = 0;
  while (n < total) {
    bool sound;
    if (Readable() >= 8) {
      sound = ReadCodeLengthsFast(cl, lens, n, total, lastLen, counts);
    } else {
      std::uint32_t e;
      if (count_ >= cl.rootBits) {
        e = t_.codeLengths[bits_ & Mask(cl.rootBits)];
        Drop(CodeBits(e));
      } else {
        e = SlowDecode(cl);
      }
      const unsigned sym = Value(e);
      unsigned repeatCount = 0;
      if (sym >= 16) {
        Need(RepeatBits(sym));
        repeatCount = Peek(RepeatBits(sym));
        Drop(RepeatBits(sym));
      }
      sound = AddCodeLengths(lens, n, total, sym, repeatCount, lastLen, counts);
    }
    if (!sound) return DecodeResult::DamagedData;
  }
  return DecodeResult::Decoded;
}

// Reads code lengths while 8 input bytes are at hand, with the bit buffer in
// locals. A code-length code is at most 7 bits and a repeat count at most 7:
// 14 bits held decode a symbol whole.
bool Inflater::ReadCodeLengthsFast(const Table& cl, std::uint16_t* lens, unsigned& n, unsigned total,
                                   std::uint16_t& lastLen, LengthCounts& counts) {
  std::uint64_t bits = bits_;
  std::uint32_t count = count_;
  const std::uint8_t* in = in_;
  const std::uint8_t* const inLast = inLimit_ - 8;
  const std::uint32_t* const table = t_.codeLengths;
  const std::uint64_t clMask = Mask(cl.rootBits);
  bool sound = true;
  do {
    if (count < 14) Refill(bits, count, in);
    const std::uint32_t e = table[bits & clMask];
    bits >>= CodeBits(e);
    count -= CodeBits(e);
    const unsigned sym = Value(e);
    unsigned repeatCount = 0;
    if (sym >= 16) {
      repeatCount = static_cast<unsigned>(bits & Mask(RepeatBits(sym)));
      bits >>= RepeatBits(sym);
      count -= RepeatBits(sym);
    }
    sound = AddCodeLengths(lens, n, total, sym, repeatCount, lastLen, counts);
  } while (sound && n < total && in <= inLast);
  count_ = count;
  bits_ = bits & Mask(count);  // nothing above the count when bytes come one at a time next
  in_ = in;
  return sound;
}

DecodeResult Inflater::DecodeCompressedData(const Table& lit, const Table& dist) {
  if (lit.entries == nullptr) return DecodeResult::DamagedData;
  for (;;) {
    Status s;
    ToTailIfShort(kFastLoopInput);
    if (Readable() < kFastLoopInput)
      s = SlowSymbol(lit, dist);
    else if (format_.deflate64)
      s = RunFastLoop<true>(lit, dist);
    else
      s = RunFastLoop<false>(lit, dist);
    if (s == kEndOfBlock) return DecodeResult::Decoded;
    if (s == kBad) return DecodeResult::DamagedData;
    FlushIfFull();
  }
}


#ifdef QUV_INFLATE_BMI2
bool HaveBmi2() {
  static const bool have = __builtin_cpu_supports("bmi2");
  return have;
}
#endif

template <bool kDeflate64>
Status Inflater::RunFastLoop(const Table& lit, const Table& dist) {
#ifdef QUV_INFLATE_BMI2
  if (HaveBmi2() && !portableLoopOnly.load(std::memory_order_relaxed)) return FastLoopBmi2<kDeflate64>(lit, dist);
#endif
  return FastLoopPortable<kDeflate64>(lit, dist);
}

// Decodes one symbol the careful way: first the classic first-level lookup
// bits, then one more byte at a time until the code is complete. Drops the
// code's bits (not its extra bits).
std::uint32_t Inflater::SlowDecode(const Table& t) {
  Need(t.lookupBits);
  const std::uint64_t rootMask = Mask(t.rootBits);
  for (;;) {
    std::uint32_t e = t.entries[bits_ & rootMask];
    unsigned len = CodeBits(e);
    if (IsLink(e)) {
      len = DropBits(e);
      e = t.entries[SubTableSlot(e, bits_ >> len)];
      len += CodeBits(e);
    }
    if (len <= count_) {
      Drop(len);
      return e;
    }
    Need(count_ + 1);
  }
}

Status Inflater::SlowSymbol(const Table& lit, const Table& dist) {
  std::uint32_t e = SlowDecode(lit);
  if (IsLiteral(e)) {
    *out_++ = LiteralByte(e);
    return kGoOn;
  }
  if (IsExceptional(e)) return IsEnd(e) ? kEndOfBlock : kBad;
  unsigned extra = DropBits(e) - CodeBits(e);
  Need(extra);
  const unsigned length = Value(e) + Peek(extra);
  Drop(extra);
  e = SlowDecode(dist);
  if (IsExceptional(e)) return kBad;
  extra = DropBits(e) - CodeBits(e);
  Need(extra);
  const unsigned distance = Value(e) + Peek(extra);
  Drop(extra);
  if (distance > static_cast<std::size_t>(out_ - first_)) return kBad;
  out_ = CopyMatch(out_, distance, length);
  return kGoOn;
}

// The hot loop: runs while InBuffer holds enough bytes and the current
// output block is not full. Every round starts with a refill to at least 56
// bits and the literal/length entry for the next bits already looked up.
// That is enough for three literals of the first-level table (11 bits each),
// or for a Deflate length and distance with their extra bits (at most 20 +
// 28) and the lookup of the entry after them; Deflate64's 16 extra length
// bits need a second refill before the distance.
template <bool kDeflate64>
Status Inflater::FastLoop(const Table& lit, const Table& dist) {
  const std::uint8_t* in = in_;
  // The last position with 8 readable bytes, or with 8 more after a refill.
  const std::uint8_t* const inLast = inLimit_ - 8 - (kDeflate64 ? kSecondRefillMargin : 0);
  std::uint8_t* out = out_;
  std::uint8_t* const outEnd = blockEnd_;
  std::uint64_t bits = bits_;
  std::uint32_t count = count_;  // only its low byte counts, see DropEntryBits
  const std::uint32_t* const lt = lit.entries;
  const std::uint64_t litMask = Mask(lit.rootBits);
  const std::uint32_t* const dt = dist.entries;
  const std::uint64_t distMask = Mask(dist.rootBits);
  const std::uint8_t* const first = first_;
  Status status = kGoOn;

  Refill(bits, count, in);
  std::uint32_t e = lt[bits & litMask];
  for (;;) {
    if (IsLiteral(e)) {
      DropEntryBits(bits, count, e);
      *out++ = LiteralByte(e);
      e = lt[bits & litMask];
      if (IsLiteral(e)) {
        DropEntryBits(bits, count, e);
        *out++ = LiteralByte(e);
        e = lt[bits & litMask];
        if (IsLiteral(e)) {
          DropEntryBits(bits, count, e);
          *out++ = LiteralByte(e);
          e = lt[bits & litMask];
        }
      }
    } else {
      if (IsExceptional(e)) {
        if (IsLink(e)) {
          DropEntryBits(bits, count, e);
          e = lt[SubTableSlot(e, bits)];
        }
        if (IsLiteral(e)) {
          DropEntryBits(bits, count, e);
          *out++ = LiteralByte(e);
          e = lt[bits & litMask];
          goto nextRound;
        }
        if (IsExceptional(e)) {
          if (IsEnd(e)) {
            DropEntryBits(bits, count, e);
            status = kEndOfBlock;
          } else {
            status = kBad;
          }
          break;
        }
      }
      std::uint64_t before = bits;
      DropEntryBits(bits, count, e);
      const unsigned length = Value(e) + ExtraBits(before, e);
      if constexpr (kDeflate64) Refill(bits, count, in);

      e = dt[bits & distMask];
      if (IsExceptional(e)) {
        if (!IsLink(e)) {
          status = kBad;
          break;
        }
        DropEntryBits(bits, count, e);
        e = dt[SubTableSlot(e, bits)];
        if (IsExceptional(e)) {
          status = kBad;
          break;
        }
      }
      before = bits;
      DropEntryBits(bits, count, e);
      const unsigned distance = Value(e) + ExtraBits(before, e);
      e = lt[bits & litMask];
      if (distance > static_cast<std::size_t>(out - first)) {
        status = kBad;
        break;
      }
      out = CopyMatch(out, distance, length);
    }
  nextRound:
    if (in > inLast || out >= outEnd) break;
    Refill(bits, count, in);
  }

  in_ = in;
  count_ = count & 0xFF;
  bits_ = bits & Mask(count_);  // nothing above the count when bytes come one at a time next
  out_ = out;
  return status;
}

}  // namespace

void UsePortableInflateLoop(bool portable) { portableLoopOnly.store(portable, std::memory_order_relaxed); }

void UseCarefulInflateTail(bool careful) { carefulTailOnly.store(careful, std::memory_order_relaxed); }

DecodeResult InflateEntry(TDecodeContext& ctx, InflateFormat format) {
  Inflater inflater(ctx, TablesOf(ctx), format == InflateFormat::Deflate64 ? kDeflate64 : kDeflate);
  try {
    bool last = false;
    do {
      ctx.TableEntryCount = 0;
      const DecodeResult r = inflater.DecodeBlock(last);
      if (r != DecodeResult::Decoded) return r;
    } while (!last);
  } catch (const StopDecoding&) {
    return DecodeResult::DamagedData;
  }
  inflater.WriteRest();
  return DecodeResult::Decoded;
}

namespace {

DecodeResult DecodeWithInflate(TDecodeContext& ctx, InflateFormat format) {
  const DecodeResult status = InflateEntry(ctx, format);
  return status == DecodeResult::Decoded ? WholeOutput(ctx) : status;
}

}  // namespace

DecodeResult DecodeDeflated(TDecodeContext& ctx) { return DecodeWithInflate(ctx, InflateFormat::Deflate); }

DecodeResult DecodeDeflated64(TDecodeContext& ctx) { return DecodeWithInflate(ctx, InflateFormat::Deflate64); }

}  // namespace quv
