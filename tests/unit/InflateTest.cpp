// Inflate against streams made by zlib and against hand-made edge streams:
// exact output and CRC, quiet stops on bad data, the exceptions that do
// reach the caller, input spread over disks, progress, and no hang or crash
// on garbage.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <thread>

#include "MemoryDecodeHost.h"
#include "TestSupport.h"
#include "decompress/Inflate.h"
#include "zip/Exception.h"

namespace quv {
namespace {

using test::Crc32Of;
using test::MemoryDecodeHost;

// Writes a deflate bit stream: fields least-significant bit first, Huffman
// codes most-significant bit first.
class BitWriter {
 public:
  void Put(std::uint32_t value, int bits) {
    for (int i = 0; i < bits; ++i) PutBit((value >> i) & 1);
  }
  void PutCode(std::uint32_t code, int len) {
    for (int i = len - 1; i >= 0; --i) PutBit((code >> i) & 1);
  }
  void AlignToByte() {
    while (fill_ != 0) PutBit(0);
  }
  std::string Bytes() const {
    std::string s = bytes_;
    if (fill_ != 0) s.push_back(static_cast<char>(cur_));
    return s;
  }

 private:
  void PutBit(std::uint32_t b) {
    cur_ |= b << fill_;
    if (++fill_ == 8) {
      bytes_.push_back(static_cast<char>(cur_));
      cur_ = 0;
      fill_ = 0;
    }
  }
  std::string bytes_;
  std::uint32_t cur_ = 0;
  int fill_ = 0;
};

// The fixed literal/length code.
void PutFixed(BitWriter& w, int symbol) {
  if (symbol < 144) w.PutCode(0x30 + symbol, 8);
  else if (symbol < 256) w.PutCode(0x190 + symbol - 144, 9);
  else if (symbol < 280) w.PutCode(symbol - 256, 7);
  else w.PutCode(0xC0 + symbol - 280, 8);
}

// Canonical codes for a list of lengths.
std::vector<std::uint32_t> Canonical(const std::vector<int>& lens) {
  int count[16] = {};
  for (int l : lens) ++count[l];
  count[0] = 0;
  std::uint32_t next[16] = {};
  std::uint32_t code = 0;
  for (int l = 1; l < 16; ++l) {
    code = (code + count[l - 1]) << 1;
    next[l] = code;
  }
  std::vector<std::uint32_t> codes(lens.size());
  for (std::size_t i = 0; i < lens.size(); ++i)
    if (lens[i] != 0) codes[i] = next[lens[i]]++;
  return codes;
}

// A dynamic block header for the given literal/length and distance lengths
// (every length sent as itself with a code-length code of sixteen 4-bit codes).
struct Dynamic {
  std::vector<int> lit, dist;
  std::vector<std::uint32_t> litCode, distCode;
};
Dynamic PutDynamicHeader(BitWriter& w, bool last, std::vector<int> lit, std::vector<int> dist,
                         int hlitOverride = -1) {
  w.Put(last ? 1 : 0, 1);
  w.Put(2, 2);
  w.Put(hlitOverride >= 0 ? hlitOverride : static_cast<int>(lit.size()) - 257, 5);
  w.Put(static_cast<std::uint32_t>(dist.size() - 1), 5);
  w.Put(19 - 4, 4);
  static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  for (int sym : order) w.Put(sym < 16 ? 4 : 0, 3);
  for (int l : lit) w.PutCode(static_cast<std::uint32_t>(l), 4);
  for (int l : dist) w.PutCode(static_cast<std::uint32_t>(l), 4);
  Dynamic d{lit, dist, Canonical(lit), Canonical(dist)};
  return d;
}

struct Result {
  DecodeResult status = DecodeResult::UnknownMethod;  // none yet
  std::string output;
  std::uint32_t crc = 0;
  std::vector<MemoryDecodeHost::Progress> progress;
};

Result Inflate(MemoryDecodeHost& host, std::int32_t unpackedSize, InflateFormat format = InflateFormat::Deflate) {
  TDecodeContext ctx(host, host);
  ctx.ResetForEntry(host.compressedSize, unpackedSize);
  Result r;
  r.status = InflateEntry(ctx, format);
  r.output = host.output;
  r.crc = host.FinalCrc();
  r.progress = host.progress;
  return r;
}

Result Inflate(const std::string& stream, std::int32_t unpackedSize, InflateFormat format = InflateFormat::Deflate) {
  MemoryDecodeHost host(stream);
  return Inflate(host, unpackedSize, format);
}

std::vector<std::pair<std::string, std::string>> Listing(const std::string& name) {
  const std::string dir = test::Join(test::TestDataDir(), "deflate");
  std::istringstream in(test::ReadFile(test::Join(dir, name)));
  std::vector<std::pair<std::string, std::string>> pairs;
  std::string stream, raw;
  while (in >> stream >> raw) pairs.emplace_back(test::Join(dir, stream), test::Join(dir, raw));
  return pairs;
}

void ExpectDecodes(const std::string& streamFile, const std::string& rawFile) {
  const std::string stream = test::ReadFile(streamFile);
  const std::string raw = test::ReadFile(rawFile);
  const Result r = Inflate(stream, static_cast<std::int32_t>(raw.size()));
  EXPECT_EQ(r.status, DecodeResult::Decoded) << streamFile;
  EXPECT_TRUE(r.output == raw) << streamFile << ": " << r.output.size() << " bytes instead of " << raw.size();
  EXPECT_EQ(r.crc, Crc32Of(raw)) << streamFile;
  // Whole blocks of 32 768 bytes, then the rest.
  for (std::size_t i = 0; i + 1 < r.progress.size(); ++i) EXPECT_EQ(r.progress[i].n, 32768) << streamFile;
  EXPECT_EQ(r.progress.size(), (raw.size() + 32767) / 32768) << streamFile;
}

TEST(InflateZlib, EveryLevelAndStrategy) {
  const auto pairs = Listing("streams.txt");
  ASSERT_GT(pairs.size(), 100u) << "test data missing";
  for (const auto& [stream, raw] : pairs) ExpectDecodes(stream, raw);
}

TEST(InflateZlib, RandomSizesAndSettings) {
  const auto pairs = Listing("random.txt");
  ASSERT_EQ(pairs.size(), 240u) << "test data missing";
  for (const auto& [stream, raw] : pairs) ExpectDecodes(stream, raw);
}

TEST(InflateZlib, PortableFastLoopAlike) {
  // Where the processor has a loop of its own, the other one is tested here.
  struct Restore {
    ~Restore() { UsePortableInflateLoop(false); }
  } restore;
  UsePortableInflateLoop(true);
  const auto pairs = Listing("random.txt");
  ASSERT_EQ(pairs.size(), 240u) << "test data missing";
  for (const auto& [stream, raw] : pairs) ExpectDecodes(stream, raw);
}

TEST(InflateZlib, InputOverDisksAndEncrypted) {
  // The same stream arriving over several disks, cut at odd places, and
  // enciphered: buffer refills land at every kind of position in the data.
  const std::string dir = test::Join(test::TestDataDir(), "deflate");
  const std::string raw = test::ReadFile(test::Join(dir, "mixed.L6.raw"));
  std::string stream = test::ReadFile(test::Join(dir, "mixed.L6.deflate"));
  ASSERT_FALSE(stream.empty());
  std::mt19937 rng(11);
  for (int round = 0; round < 4; ++round) {
    std::vector<std::string> disks;
    std::size_t at = 0;
    while (at < stream.size()) {
      const std::size_t k = std::min<std::size_t>(stream.size() - at, 1 + rng() % 70000);
      disks.push_back(stream.substr(at, k));
      at += k;
    }
    const std::uint8_t key = static_cast<std::uint8_t>(rng());
    for (auto& d : disks)
      for (auto& ch : d) ch = static_cast<char>(ch ^ key);
    MemoryDecodeHost host(disks);
    host.spanned = true;
    host.encrypted = true;
    host.decrypt = [key](std::uint8_t* p, std::int32_t n) {
      for (std::int32_t i = 0; i < n; ++i) p[i] ^= key;
    };
    const Result r = Inflate(host, static_cast<std::int32_t>(raw.size()));
    EXPECT_EQ(r.status, DecodeResult::Decoded);
    EXPECT_TRUE(r.output == raw);
    EXPECT_EQ(host.disksOpened, static_cast<int>(disks.size()) - 1);
  }
}

TEST(InflateEdges, EmptyBlocks) {
  // One fixed block holding only end-of-block: nothing written, no progress.
  Result r = Inflate(std::string("\x03\x00", 2), 0);
  EXPECT_EQ(r.status, DecodeResult::Decoded);
  EXPECT_TRUE(r.output.empty());
  EXPECT_TRUE(r.progress.empty());
  EXPECT_EQ(r.crc, 0u);
  // A stored block of LEN 0, NLEN FFFF, then a stored "ab".
  r = Inflate(std::string("\x00\x00\x00\xff\xff\x01\x02\x00\xfd\xff" "ab", 12), 2);
  EXPECT_EQ(r.status, DecodeResult::Decoded);
  EXPECT_EQ(r.output, "ab");
}

TEST(InflateEdges, FixedCodesOfBothFormatsOnTwoThreadsAtOnce) {
  // Length code 285 is 258 in Deflate but 3 plus 16 extra bits in
  // Deflate64: each format has fixed tables of its own, shared by threads.
  const auto stream = [](bool deflate64) {
    BitWriter w;
    w.Put(1, 1);
    w.Put(1, 2);
    PutFixed(w, 'a');
    PutFixed(w, 285);
    if (deflate64) w.Put(5, 16);
    w.Put(0, 5);  // distance 1
    PutFixed(w, 256);
    return w.Bytes();
  };
  const std::string plain = stream(false);
  const std::string wide = stream(true);
  const auto decodeBoth = [&](int rounds, bool& sound) {
    for (int i = 0; i < rounds; ++i) {
      const Result a = Inflate(plain, 259);
      const Result b = Inflate(wide, 9, InflateFormat::Deflate64);
      sound = sound && a.status == DecodeResult::Decoded && a.output == std::string(259, 'a') && b.status == DecodeResult::Decoded &&
              b.output == std::string(9, 'a');
    }
  };
  bool soundThere = true;
  bool soundHere = true;
  std::thread other(decodeBoth, 50, std::ref(soundThere));
  decodeBoth(50, soundHere);
  other.join();
  EXPECT_TRUE(soundThere);
  EXPECT_TRUE(soundHere);
}

TEST(InflateEdges, LongRunsAndMatchesAcrossTheWindowEdge) {
  // Distance 1, length 258 repeats the previous byte 258 times.
  BitWriter w;
  w.Put(1, 1);
  w.Put(1, 2);
  PutFixed(w, 'q');
  PutFixed(w, 285);  // length 258
  w.PutCode(0, 5);   // distance 1
  PutFixed(w, 256);
  Result r = Inflate(w.Bytes(), 259);
  EXPECT_EQ(r.status, DecodeResult::Decoded);
  EXPECT_EQ(r.output, std::string(259, 'q'));

  // A stored block of 32 760 bytes, then matches crossing 32 768 and reaching
  // back across it, then more than three windows of short-distance copies.
  std::string expect;
  std::mt19937 rng(3);
  for (int i = 0; i < 32760; ++i) expect.push_back(static_cast<char>(rng()));
  BitWriter v;
  v.Put(0, 1);
  v.Put(0, 2);
  v.AlignToByte();
  v.Put(32760, 16);
  v.Put(~32760u & 0xFFFF, 16);
  for (char ch : expect) v.Put(static_cast<std::uint8_t>(ch), 8);
  v.Put(1, 1);
  v.Put(1, 2);
  auto match = [&](int lengthSymbol, int lengthExtraBits, int lengthExtra, int length, int distSymbol,
                   int distExtraBits, int distExtra, int distance) {
    PutFixed(v, lengthSymbol);
    v.Put(static_cast<std::uint32_t>(lengthExtra), lengthExtraBits);
    v.PutCode(static_cast<std::uint32_t>(distSymbol), 5);
    v.Put(static_cast<std::uint32_t>(distExtra), distExtraBits);
    for (int i = 0; i < length; ++i) expect.push_back(expect[expect.size() - static_cast<std::size_t>(distance)]);
  };
  match(285, 0, 0, 258, 29, 13, 32760 - 24577, 32760);  // the first bytes again, across 32 768
  match(285, 0, 0, 258, 29, 13, 0, 24577);
  struct Dist {
    int symbol, extraBits, extra, distance;
  };
  static const Dist dists[] = {{0, 0, 0, 1},  {1, 0, 0, 2},  {2, 0, 0, 3},   {3, 0, 0, 4},      {4, 1, 1, 6},
                               {5, 1, 0, 7},  {6, 2, 1, 10}, {10, 4, 3, 36}, {20, 9, 100, 1125}, {29, 13, 8191, 32768}};
  for (int i = 0; i < 1500; ++i) {
    const Dist& d = dists[i % 10];
    if (i % 3 == 0) match(257, 0, 0, 3, d.symbol, d.extraBits, d.extra, d.distance);
    else if (i % 3 == 1) match(265, 1, 1, 12, d.symbol, d.extraBits, d.extra, d.distance);
    else match(285, 0, 0, 258, d.symbol, d.extraBits, d.extra, d.distance);
    if (i % 7 == 0) {
      PutFixed(v, 'A' + i % 26);
      expect.push_back(static_cast<char>('A' + i % 26));
    }
  }
  PutFixed(v, 256);
  r = Inflate(v.Bytes(), static_cast<std::int32_t>(expect.size()));
  EXPECT_EQ(r.status, DecodeResult::Decoded);
  EXPECT_TRUE(r.output == expect);
  EXPECT_EQ(r.crc, Crc32Of(expect));
}

TEST(InflateEdges, DistancesBeforeTheEntryAreDamagedData) {
  // An entry asks for bytes before its start: damaged data, never bytes of
  // the window from elsewhere.
  BitWriter w;
  w.Put(1, 1);
  w.Put(1, 2);
  PutFixed(w, 'x');
  PutFixed(w, 265);  // length 11 + 1 extra bit
  w.Put(0, 1);
  w.PutCode(29, 5);  // distance 24577 + 13 extra bits
  w.Put(8191, 13);   // 32 768 back
  PutFixed(w, 256);
  const Result r = Inflate(w.Bytes(), 12);
  EXPECT_EQ(r.status, DecodeResult::DamagedData);
  EXPECT_TRUE(r.output.empty());
}

TEST(InflateEdges, DynamicCodesAcceptedAndRejected) {
  std::vector<int> lit(257, 0);
  for (int c = 'a'; c <= 'h'; ++c) lit[c] = 3;  // eight 3-bit codes: complete without 256?
  // Literals a..g (3 bits), end-of-block and a length symbol (4 bits each).
  lit['h'] = 0;
  lit.resize(259, 0);
  lit[256] = 4;
  lit[257] = 4;  // length 3
  {
    // A distance code of a single 1-bit code is accepted.
    BitWriter w;
    Dynamic d = PutDynamicHeader(w, true, lit, {1});
    w.PutCode(d.litCode['a'], 3);
    w.PutCode(d.litCode['b'], 3);
    w.PutCode(d.litCode[257], 4);
    w.PutCode(d.distCode[0], 1);  // distance 1
    w.PutCode(d.litCode[256], 4);
    const Result r = Inflate(w.Bytes(), 5);
    EXPECT_EQ(r.status, DecodeResult::Decoded);
    EXPECT_EQ(r.output, "abbbb");
  }
  {
    // No distance code at all: literals decode, a length symbol stops.
    BitWriter w;
    Dynamic d = PutDynamicHeader(w, true, lit, {0});
    w.PutCode(d.litCode['c'], 3);
    w.PutCode(d.litCode[256], 4);
    Result r = Inflate(w.Bytes(), 1);
    EXPECT_EQ(r.status, DecodeResult::Decoded);
    EXPECT_EQ(r.output, "c");
    BitWriter v;
    d = PutDynamicHeader(v, true, lit, {0});
    // Enough literals first that the fast loop, not the careful one, meets the length.
    for (int i = 0; i < 100; ++i) v.PutCode(d.litCode['c'], 3);
    v.PutCode(d.litCode[257], 4);
    v.PutCode(0, 1);
    v.PutCode(d.litCode[256], 4);
    r = Inflate(v.Bytes(), 200);
    EXPECT_EQ(r.status, DecodeResult::DamagedData);
    EXPECT_TRUE(r.output.empty());
  }
  {
    // A literal/length code with a slot left over ends the entry.
    std::vector<int> gappy = lit;
    gappy[257] = 0;
    BitWriter w;
    Dynamic d = PutDynamicHeader(w, true, gappy, {1});
    w.PutCode(d.litCode['a'], 3);
    w.PutCode(d.litCode[256], 4);
    EXPECT_EQ(Inflate(w.Bytes(), 1).status, DecodeResult::DamagedData);
  }
  {
    // Over-subscribed: nine 3-bit codes.
    std::vector<int> crowded = lit;
    crowded['h'] = 3;
    crowded['i'] = 3;
    BitWriter w;
    PutDynamicHeader(w, true, crowded, {1});
    EXPECT_EQ(Inflate(w.Bytes(), 1).status, DecodeResult::InvalidCode);
  }
  {
    // HLIT above 286.
    BitWriter w;
    PutDynamicHeader(w, true, lit, {1}, 30);
    EXPECT_EQ(Inflate(w.Bytes(), 1).status, DecodeResult::DamagedData);
  }
  {
    // A repeat running past the list of lengths.
    BitWriter w;
    w.Put(1, 1);
    w.Put(2, 2);
    w.Put(0, 5);
    w.Put(0, 5);
    w.Put(19 - 4, 4);
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (int sym : order) w.Put(sym == 18 ? 1 : sym == 8 ? 1 : 0, 3);  // 8 -> "0", 18 -> "1"
    w.PutCode(1, 1);
    w.Put(127, 7);  // 138 zeros
    w.PutCode(1, 1);
    w.Put(127, 7);  // 138 more: past 258
    EXPECT_EQ(Inflate(w.Bytes(), 1).status, DecodeResult::DamagedData);
  }
}

TEST(InflateEdges, FuzzFindings) {
  // 277 literal/length codes of 14 bits: incomplete, and its shortest code
  // longer than the first-level table; refused without building anything.
  const Result r =
      Inflate(std::string("\xa5\xef\x01\x00\x00\x00\x00\x00\x02\x00\xff\xff", 12) + std::string(10, '\0'), 1 << 16);
  EXPECT_EQ(r.status, DecodeResult::DamagedData);
  EXPECT_TRUE(r.output.empty());
}

TEST(InflateEdges, BadDataStopsQuietly) {
  // Block type 3.
  EXPECT_EQ(Inflate(std::string("\x07\x00", 2), 10).status, DecodeResult::InvalidCode);
  // NLEN not the complement of LEN.
  EXPECT_EQ(Inflate(std::string("\x01\x02\x00\xfd\xfe" "ab", 7), 2).status, DecodeResult::DamagedData);
  // Fixed literal/length symbols 286 and 287, fixed distance symbols 30 and 31.
  for (int sym : {286, 287}) {
    BitWriter w;
    w.Put(1, 1);
    w.Put(1, 2);
    PutFixed(w, 'a');
    PutFixed(w, sym);
    w.PutCode(0, 5);
    PutFixed(w, 256);
    const Result r = Inflate(w.Bytes(), 10);
    EXPECT_EQ(r.status, DecodeResult::DamagedData);
    EXPECT_TRUE(r.output.empty());
  }
  for (int dist : {30, 31}) {
    BitWriter w;
    w.Put(1, 1);
    w.Put(1, 2);
    PutFixed(w, 'a');
    PutFixed(w, 257);
    w.PutCode(static_cast<std::uint32_t>(dist), 5);
    PutFixed(w, 256);
    EXPECT_EQ(Inflate(w.Bytes(), 10).status, DecodeResult::DamagedData);
  }
}

std::string StoredStream(const std::string& data, bool last = true) {
  std::string s;
  for (std::size_t at = 0; at < data.size() || s.empty(); at += 65535) {
    const std::size_t k = std::min<std::size_t>(65535, data.size() - at);
    const bool fin = last && at + k >= data.size();
    s.push_back(fin ? 1 : 0);
    s.push_back(static_cast<char>(k & 0xFF));
    s.push_back(static_cast<char>(k >> 8));
    s.push_back(static_cast<char>(~k & 0xFF));
    s.push_back(static_cast<char>((~k >> 8) & 0xFF));
    s += data.substr(at, k);
  }
  return s;
}

TEST(InflateEdges, ShortArchiveInsideABlockOrAtAHeader) {
  std::string data(70000, 'z');
  for (std::size_t i = 0; i < data.size(); i += 7) data[i] = static_cast<char>(i);
  {
    // Cut inside a block: the run ends, as for every method, after the
    // first written block.
    const std::string stream = StoredStream(data);
    MemoryDecodeHost host(stream.substr(0, 66000));
    host.compressedSize = static_cast<std::int32_t>(stream.size());
    EXPECT_THROW(Inflate(host, 70000), EFatalUnzipError);
    EXPECT_EQ(host.output, data.substr(0, 32768));
  }
  {
    // A first block filling exactly the first 32 768 input bytes; the archive
    // ends there, so the next block header meets the short read.
    const std::string first = data.substr(0, 32768 - 5);
    const std::string stream = StoredStream(first, false) + StoredStream("tail");
    ASSERT_EQ(StoredStream(first, false).size(), 32768u);
    MemoryDecodeHost host(stream.substr(0, 32768));
    host.compressedSize = static_cast<std::int32_t>(stream.size());
    TDecodeContext ctx(host, host);
    ctx.ResetForEntry(host.compressedSize, 40000);
    try {
      InflateEntry(ctx);
      FAIL() << "no exception";
    } catch (const EFatalUnzipError& e) {
      EXPECT_STREQ(e.what(), "Premature end of file reached");
    }
  }
  {
    // The next disk cannot be had: the user's cancel passes through a block.
    const std::string stream = StoredStream(data);
    MemoryDecodeHost host(std::vector<std::string>{stream.substr(0, 40000), ""});
    host.compressedSize = static_cast<std::int32_t>(stream.size());
    host.spanned = true;
    EXPECT_THROW(Inflate(host, 70000), EUserCanceled);
  }
}

TEST(InflateEdges, OutputSizeGuard) {
  std::string data(40000, 'k');
  const std::string stream = StoredStream(data);
  // Exactly the declared size passes.
  EXPECT_EQ(Inflate(stream, 40000).status, DecodeResult::Decoded);
  {
    // Over the declared size at a window write inside a block: a quiet stop,
    // nothing written.
    const Result r = Inflate(stream, 32767);
    EXPECT_EQ(r.status, DecodeResult::DamagedData);
    EXPECT_TRUE(r.output.empty());
  }
  {
    // Over it at the final write: the exception reaches the caller.
    MemoryDecodeHost host(stream);
    EXPECT_THROW(Inflate(host, 39999), EBiggerThanUncompressed);
    EXPECT_EQ(host.output.size(), 32768u);
  }
  {
    // A short write is no damaged data: it reaches the caller as a write error.
    MemoryDecodeHost host(stream);
    host.writeLimit = 100;
    EXPECT_THROW(Inflate(host, 40000), EWriteError);
  }
  for (const InflateFormat format : {InflateFormat::Deflate, InflateFormat::Deflate64}) {
    // A whole stream that ends before the declared size: its CRC may well
    // match what it holds, but the entry is damaged.
    MemoryDecodeHost host(stream);
    EXPECT_EQ(test::DecodeWith(host, format == InflateFormat::Deflate ? 8 : 9, 40001), DecodeResult::DamagedData);
  }
}

TEST(InflateEdges, ProgressOf100000Bytes) {
  std::string data(100000, 'p');
  for (std::size_t i = 0; i < data.size(); i += 3) data[i] = static_cast<char>('a' + i % 26);
  const Result r = Inflate(StoredStream(data), 100000);
  ASSERT_EQ(r.progress.size(), 4u);
  EXPECT_EQ(r.progress[0].percent, 33);
  EXPECT_EQ(r.progress[3].percent, 100);
  EXPECT_EQ(r.progress[3].n, 100000 - 3 * 32768);
  EXPECT_EQ(r.crc, Crc32Of(data));
}

TEST(InflateEdges, TruncatedStreamsEndWithoutHanging) {
  // A declared compressed size shorter than the stream: the last byte is fed
  // again, and the decoding still comes to an end.
  const std::string dir = test::Join(test::TestDataDir(), "deflate");
  const std::string stream = test::ReadFile(test::Join(dir, "text.L6.deflate"));
  ASSERT_FALSE(stream.empty());
  for (std::size_t cut : {std::size_t{1}, std::size_t{2}, std::size_t{100}, stream.size() / 2, stream.size() - 1}) {
    MemoryDecodeHost host(stream.substr(0, cut));
    try {
      Inflate(host, 300000);
    } catch (const EBiggerThanUncompressed&) {
    }
    EXPECT_LE(host.output.size(), 300000u);
  }
  // Every one-byte entry, repeated without end by the bit reader.
  for (int b = 0; b < 256; ++b) {
    MemoryDecodeHost host(std::string(1, static_cast<char>(b)));
    try {
      Inflate(host, 1 << 20);
    } catch (const EBiggerThanUncompressed&) {
    }
    EXPECT_LE(host.output.size(), std::size_t{1} << 20);
  }
}

TEST(InflateEdges, GarbageNeverCrashes) {
  // Random bytes, and zlib streams with random bytes changed: whatever comes
  // out stays within the declared size (the sanitizers watch the rest).
  std::mt19937 rng(1234);
  const std::string dir = test::Join(test::TestDataDir(), "deflate");
  const std::string good = test::ReadFile(test::Join(dir, "mixed.L9.deflate"));
  ASSERT_FALSE(good.empty());
  for (int round = 0; round < 300; ++round) {
    std::string s;
    if (round % 2 == 0) {
      s.resize(rng() % 3000);
      for (auto& ch : s) ch = static_cast<char>(rng());
    } else {
      s = good.substr(0, rng() % good.size());
      for (int k = 0; k < 1 + static_cast<int>(rng() % 8); ++k)
        if (!s.empty()) s[rng() % s.size()] = static_cast<char>(rng());
    }
    const std::int32_t limit = static_cast<std::int32_t>(rng() % 500000);
    MemoryDecodeHost host(s);
    try {
      Inflate(host, limit);
    } catch (const EBiggerThanUncompressed&) {
    }
    EXPECT_LE(host.output.size(), static_cast<std::size_t>(limit));
  }
}

// One fixed-code block of literals and matches, with the bytes they stand
// for worked out the plain way, one byte at a time.
class FixedBlockWriter {
 public:
  explicit FixedBlockWriter(bool deflate64) : deflate64_(deflate64) {
    w_.Put(1, 1);
    w_.Put(1, 2);
  }
  void Literal(std::uint8_t c) {
    PutFixed(w_, c);
    expect += static_cast<char>(c);
  }
  // Deflate64 sends lengths over 258 with code 285 and 16 extra bits.
  void Match(unsigned length, unsigned distance) {
    static const unsigned kLengthBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    if (deflate64_ && length > 257) {
      PutFixed(w_, 285);
      w_.Put(length - 3, 16);
    } else {
      int code = 28;
      while (kLengthBase[code] > length) --code;
      PutFixed(w_, 257 + code);
      w_.Put(length - kLengthBase[code], code < 8 || code == 28 ? 0 : (code - 4) / 4);
    }
    int code = 0;
    while (code < 31 && DistBase(code + 1) <= distance) ++code;
    w_.PutCode(static_cast<std::uint32_t>(code), 5);
    w_.Put(distance - DistBase(code), code < 4 ? 0 : (code - 2) / 2);
    for (unsigned i = 0; i < length; ++i) expect += expect[expect.size() - distance];
  }
  std::string Finish() {
    PutFixed(w_, 256);
    return w_.Bytes();
  }
  std::string expect;

 private:
  static unsigned DistBase(int code) {
    return code < 4 ? 1 + code : 1 + ((2 + (code & 1)) << ((code - 2) / 2));
  }
  bool deflate64_;
  BitWriter w_;
};

TEST(InflateEdges, MatchesAroundTheWindowSlide) {
  // Entries ending just before, at and after the points where the window
  // slides (every 192 KB for Deflate, 96 KB for Deflate64, after 32 or 64 KB
  // of history), and a long one, made of short-distance copies (the pattern
  // and word-wide paths) and copies reaching back across the slide.
  std::mt19937 rng(16);
  for (const bool deflate64 : {false, true}) {
    const unsigned history = deflate64 ? 65536 : 32768;
    const unsigned fresh = deflate64 ? 3 * 32768 : 6 * 32768;
    for (const unsigned size : {fresh - 1, fresh, fresh + 1, history + fresh, 3 * fresh + 17}) {
      FixedBlockWriter block(deflate64);
      while (block.expect.size() < size) {
        const unsigned made = static_cast<unsigned>(block.expect.size());
        const unsigned left = size - made;
        const unsigned longest = deflate64 ? 65538 : 258;
        if (made < 64 || left < 3 || rng() % 4 == 0) {
          block.Literal(static_cast<std::uint8_t>(rng()));
          continue;
        }
        const unsigned length = std::min<unsigned>(left, rng() % 3 == 0 ? 3 + rng() % (longest - 2) : 3 + rng() % 40);
        const unsigned distance = 1 + (rng() % 2 == 0 ? rng() % 40 : rng() % std::min(made, history));
        block.Match(length, distance);
      }
      const std::string stream = block.Finish();
      const Result r = Inflate(stream, static_cast<std::int32_t>(size),
                               deflate64 ? InflateFormat::Deflate64 : InflateFormat::Deflate);
      EXPECT_EQ(r.status, DecodeResult::Decoded) << size;
      EXPECT_TRUE(r.output == block.expect) << deflate64 << " " << size;
      EXPECT_EQ(r.crc, Crc32Of(block.expect)) << size;
    }
  }
}

}  // namespace
}  // namespace quv

namespace quv {
namespace {

// What a decoding did, as far as the run can see it.
struct Outcome {
  std::string result;  // the status, or the exception's message
  std::string output;
  std::vector<std::int32_t> blocks;
  int breaths = 0;
  int lends = 0;
  bool operator==(const Outcome& o) const {
    return result == o.result && output == o.output && blocks == o.blocks && breaths == o.breaths;
  }
};

Outcome InflateThrough(std::vector<std::string> disks, std::int64_t compressedSize, std::int32_t unpacked, bool lend,
                       InflateFormat format) {
  MemoryDecodeHost host(std::move(disks));
  host.compressedSize = compressedSize;
  host.lend = lend;
  host.processMessages = true;
  Outcome o;
  try {
    o.result = std::to_string(static_cast<int>(Inflate(host, unpacked, format).status));
  } catch (const Exception& e) {
    o.result = e.what();
  }
  o.output = host.output;
  for (const auto& p : host.progress) o.blocks.push_back(p.n);
  o.breaths = host.breaths;
  o.lends = host.lends;
  return o;
}

TEST(InflateInput, LendingHostDecodesAsACopyingOne) {
  // Sound, cut short (the last byte fed again), damaged, in an archive that
  // ends early, over two disks: a host that lends its bytes where they lie
  // gives what one that copies them gives. Each disk is an allocation of
  // its own size: no read goes past the bytes an entry has.
  const std::string dir = test::Join(test::TestDataDir(), "deflate");
  std::mt19937 rng(7);
  for (const char* name : {"mixed.L6.deflate", "text.L1.deflate", "text.L9.deflate"}) {
    const std::string stream = test::ReadFile(test::Join(dir, name));
    ASSERT_GT(stream.size(), 70000u) << name;
    std::string damaged = stream;
    for (int k = 0; k < 3; ++k) damaged[rng() % damaged.size()] ^= static_cast<char>(1 + rng() % 255);
    const auto size = static_cast<std::int64_t>(stream.size());
    const std::size_t half = stream.size() / 2 + rng() % 1000;
    struct Case {
      std::vector<std::string> disks;
      std::int64_t compressedSize;
    };
    const std::vector<Case> cases = {
        {{stream}, size},
        {{stream.substr(0, 1)}, 1},
        {{stream.substr(0, 40000)}, 40000},
        {{stream.substr(0, half)}, static_cast<std::int64_t>(half)},
        {{damaged}, size},
        {{stream.substr(0, 50000)}, size},
        {{stream.substr(0, half), stream.substr(half)}, size},
    };
    for (const InflateFormat format : {InflateFormat::Deflate, InflateFormat::Deflate64}) {
      for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const Outcome copied = InflateThrough(c.disks, c.compressedSize, 1 << 22, false, format);
        const Outcome lent = InflateThrough(c.disks, c.compressedSize, 1 << 22, true, format);
        EXPECT_TRUE(lent == copied) << name << " case " << i << ": " << lent.result << " / " << copied.result;
        EXPECT_GT(lent.lends, 0) << name << " case " << i;
      }
    }
  }
}

TEST(InflateInput, EntryEndsDecodeAsTheCarefulPathDecodesThem) {
  // The last bytes of an entry go through the fast loop, over a copy of
  // them followed by the last byte again: whatever the data, that must give
  // what decoding them the careful way gives, stops included.
  struct Restore {
    ~Restore() { UseCarefulInflateTail(false); }
  } restore;
  const std::string dir = test::Join(test::TestDataDir(), "deflate");
  const std::string stream = test::ReadFile(test::Join(dir, "text.L6.deflate"));
  ASSERT_FALSE(stream.empty());
  std::vector<std::string> entries;
  for (std::size_t cut : {1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 144, 2000})
    entries.push_back(stream.substr(0, std::min(cut, stream.size())));
  entries.push_back(stream);
  entries.push_back(stream.substr(0, stream.size() - 1));
  for (int b = 0; b < 256; ++b) entries.emplace_back(1 + b % 3, static_cast<char>(b));
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    std::string s(rng() % 80, '\0');
    for (auto& ch : s) ch = static_cast<char>(rng());
    entries.push_back(s);
  }
  for (const InflateFormat format : {InflateFormat::Deflate, InflateFormat::Deflate64}) {
    for (const std::string& entry : entries) {
      const auto size = static_cast<std::int64_t>(entry.size());
      UseCarefulInflateTail(true);
      const Outcome careful = InflateThrough({entry}, size, 300000, false, format);
      UseCarefulInflateTail(false);
      EXPECT_TRUE(InflateThrough({entry}, size, 300000, false, format) == careful) << entry.size();
    }
  }
}

}  // namespace
}  // namespace quv
