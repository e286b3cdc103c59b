// The Shrink, Reduce and Implode decoders: the corpus's real archives, the
// test encoders' archives (cross-checked with unzip and 7z when they were
// made), and damaged or truncated streams.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "LegacyZip.h"
#include "MemoryDecodeHost.h"
#include "TestSupport.h"
#include "zip/Exception.h"

namespace quv::test {
namespace {

struct Decoded {
  std::string output;
  std::uint32_t crc = 0;
  bool threw = false;
  std::string error;
  std::uint16_t tableEntries = 0;
  DecodeResult result = DecodeResult::UnknownMethod;
};

// Decodes one entry; a context may be passed in to carry its work area over
// from an earlier entry.
Decoded Decode(const std::string& packed, std::uint16_t method, std::uint16_t flag, std::int32_t unpacked,
               TDecodeContext* reuse = nullptr) {
  MemoryDecodeHost host(packed);
  TDecodeContext fresh(host, host);
  TDecodeContext& ctx = reuse ? *reuse : fresh;
  ctx.Input = &host;
  ctx.Output = &host;
  ctx.ResetForEntry(host.compressedSize, unpacked);
  Decoded d;
  try {
    d.result = DecodeEntry(ctx, method, flag);
  } catch (const Exception& e) {
    d.threw = true;
    d.error = e.what();
  }
  d.output = host.output;
  d.crc = host.FinalCrc();
  d.tableEntries = ctx.TableEntryCount;
  return d;
}

std::string LegacyData() { return Join(TestDataDir(), "legacy"); }

struct Case {
  std::string name;
  std::uint16_t method = 0;
  std::uint16_t flag = 0;
  std::string oracles;
  RawZipEntry entry;
  std::string expected;
};

std::vector<Case> LoadCases() {
  std::vector<Case> cases;
  std::istringstream list(ReadFile(Join(LegacyData(), "cases.txt")));
  Case c;
  while (list >> c.name >> c.method >> c.flag >> c.oracles) {
    auto entries = ReadZipEntries(ReadFile(Join(LegacyData(), c.name + ".zip")));
    EXPECT_EQ(entries.size(), 1u) << c.name;
    if (entries.empty()) continue;
    c.entry = entries[0];
    c.expected = ReadFile(Join(LegacyData(), c.name + ".out"));
    cases.push_back(c);
  }
  return cases;
}

const Case& Find(const std::vector<Case>& cases, const std::string& name) {
  for (const auto& c : cases)
    if (c.name == name) return c;
  throw std::runtime_error("no test case " + name);
}

TEST(LegacyCorpus, EveryShrinkReduceImplodeArchiveMatchesTheManifest) {
  // archive -> stored name -> (size, sha256)
  std::map<std::string, std::map<std::string, std::pair<std::size_t, std::string>>> manifest;
  std::istringstream rows(ReadFile(Join(LegacyData(), "manifest.tsv")));
  std::string line;
  while (std::getline(rows, line)) {
    std::istringstream f(line);
    std::string archive, stored, sha;
    std::size_t size = 0;
    std::getline(f, archive, '\t');
    std::getline(f, stored, '\t');
    f >> size >> sha;
    manifest[archive][stored] = {size, sha};
  }
  ASSERT_GE(manifest.size(), 14u);

  int shrunk = 0, reduced = 0, imploded = 0, checked = 0;
  for (const auto& [archive, expected] : manifest) {
    SCOPED_TRACE(archive);
    auto entries = ReadZipEntries(ReadFile(Join(Join(CorpusDir(), "legacy"), archive)));
    EXPECT_EQ(entries.size(), expected.size());
    for (const auto& e : entries) {
      SCOPED_TRACE(e.name);
      auto it = expected.find(e.name);
      ASSERT_NE(it, expected.end());
      Decoded d = Decode(e.packed, e.method, e.flag, static_cast<std::int32_t>(e.uncompressedSize));
      EXPECT_FALSE(d.threw) << d.error;
      EXPECT_EQ(d.crc, e.crc);
      EXPECT_EQ(d.output.size(), it->second.first);
      EXPECT_EQ(Sha256Hex(d.output), it->second.second);
      shrunk += e.method == 1;
      reduced += e.method >= 2 && e.method <= 5;
      imploded += e.method == 6;
      ++checked;
    }
  }
  EXPECT_GE(shrunk, 5);
  EXPECT_GE(reduced, 4);
  EXPECT_GE(imploded, 100);
  EXPECT_EQ(checked, 149);
}

TEST(LegacyGenerated, EveryEncodedCaseDecodesToItsOriginal) {
  auto cases = LoadCases();
  ASSERT_GE(cases.size(), 30u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.entry.method, c.method);
    Decoded d = Decode(c.entry.packed, c.entry.method, c.entry.flag,
                       static_cast<std::int32_t>(c.entry.uncompressedSize));
    EXPECT_FALSE(d.threw) << d.error;
    EXPECT_EQ(d.crc, c.entry.crc);
    ASSERT_EQ(d.output.size(), c.expected.size());
    EXPECT_TRUE(d.output == c.expected);
  }
}

// The encoders are only worth as much as an outside decoder's agreement.
TEST(LegacyGenerated, UnzipAnd7zAcceptTheShrinkAndImplodeArchives) {
  std::map<std::string, std::string> said;
  std::istringstream rows(ReadFile(Join(LegacyData(), "oracles.txt")));
  std::string name, rest;
  while (rows >> name && std::getline(rows, rest)) said[name] = rest;
  int checked = 0;
  for (const auto& c : LoadCases()) {
    if (c.oracles == "-") continue;
    SCOPED_TRACE(c.name);
    std::istringstream want(c.oracles);
    std::string tool;
    while (std::getline(want, tool, ',')) {
      EXPECT_NE(said[c.name].find(tool + "=OK"), std::string::npos) << said[c.name];
      ++checked;
    }
  }
  EXPECT_GE(checked, 30);
}

// The distance table is indexed by 8 bits only for more than 200,000 bytes of
// compressed data; with an 11-bit distance code that changes the tables built:
// 2^7 entries and two 4-bit sub-tables, against 2^8 and four 3-bit ones.
TEST(Explode, DistanceLookupBitsWidenJustAbove200000Bytes) {
  auto cases = LoadCases();
  const Case& at = Find(cases, "implode_size_200000");
  const Case& above = Find(cases, "implode_size_200001");
  ASSERT_EQ(at.entry.packed.size(), 200000u);
  ASSERT_EQ(above.entry.packed.size(), 200001u);
  Decoded a = Decode(at.entry.packed, 6, at.entry.flag, static_cast<std::int32_t>(at.expected.size()));
  Decoded b = Decode(above.entry.packed, 6, above.entry.flag, static_cast<std::int32_t>(above.expected.size()));
  EXPECT_TRUE(a.output == at.expected);
  EXPECT_TRUE(b.output == above.expected);
  EXPECT_EQ((128 + 2 * 16) - (256 + 4 * 8), a.tableEntries - b.tableEntries);
}

// Matches reaching before the first byte give zeros even when the work area
// still holds an earlier entry's bytes.
TEST(LegacyDecoders, MatchesBeforeTheFirstByteGiveZerosNotStaleBytes) {
  auto cases = LoadCases();
  MemoryDecodeHost dummy(std::string{});
  TDecodeContext ctx(dummy, dummy);
  for (const char* name : {"implode_before_8k_3t", "reduce_f4_sets", "implode_before_4k_2t", "reduce_f1_plain"}) {
    SCOPED_TRACE(name);
    const Case& filler = Find(cases, "implode_text_8k_2t");
    Decode(filler.entry.packed, 6, filler.entry.flag, static_cast<std::int32_t>(filler.expected.size()), &ctx);
    const Case& c = Find(cases, name);
    ASSERT_EQ(c.expected.substr(0, 20), std::string(20, '\0'));
    Decoded d = Decode(c.entry.packed, c.entry.method, c.entry.flag,
                       static_cast<std::int32_t>(c.expected.size()), &ctx);
    EXPECT_TRUE(d.output == c.expected);
  }
}

// Cut short anywhere, a stream yields a strict prefix of its bytes: never
// garbage from reading past the end, never a crash.
TEST(LegacyDecoders, TruncatedStreamsYieldOnlyAPrefix) {
  auto cases = LoadCases();
  for (const char* name : {"shrink_text", "shrink_full_clear", "reduce_f1_sets", "reduce_f3_plain",
                           "implode_text_4k_2t", "implode_text_8k_3t", "implode_edges_4k_3t"}) {
    const Case& c = Find(cases, name);
    const std::size_t n = c.entry.packed.size();
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{100}, n / 3, n / 2, n - 2,
                            n - 1}) {
      SCOPED_TRACE(std::string(name) + " cut at " + std::to_string(cut));
      Decoded d = Decode(c.entry.packed.substr(0, cut), c.method, c.flag,
                         static_cast<std::int32_t>(c.expected.size()));
      EXPECT_FALSE(d.threw) << d.error;
      EXPECT_LT(d.output.size(), c.expected.size());
      EXPECT_TRUE(c.expected.compare(0, d.output.size(), d.output) == 0);
    }
  }
}

// Damaged streams: whatever comes out stays within the declared size (the
// output guard raises otherwise) and nothing is touched out of bounds (the
// native build runs with AddressSanitizer).
TEST(LegacyDecoders, DamagedStreamsStayWithinBounds) {
  auto cases = LoadCases();
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  int decoded = 0;
  for (const char* name : {"shrink_runs", "shrink_early_clear", "reduce_f2_sets", "reduce_f4_plain",
                           "implode_before_4k_2t", "implode_before_8k_3t", "implode_edges_8k_2t"}) {
    const Case& c = Find(cases, name);
    const std::string base = c.entry.packed.substr(0, 6000);
    for (int round = 0; round < 60; ++round) {
      std::string packed = base;
      const int flips = 1 + static_cast<int>(next() % 8);
      for (int i = 0; i < flips; ++i) packed[next() % packed.size()] ^= static_cast<char>(1 + next() % 255);
      const auto declared = static_cast<std::int32_t>(next() % (c.expected.size() + 1));
      Decoded d = Decode(packed, c.method, c.flag, declared);
      ASSERT_LE(d.output.size(), static_cast<std::size_t>(declared)) << name << " round " << round;
      ++decoded;
    }
  }
  EXPECT_EQ(decoded, 7 * 60);
}

// Least-significant-bit-first packing of hand-made streams.
class Bits {
 public:
  Bits& Put(std::uint32_t value, int n) {
    for (int i = 0; i < n; ++i) {
      if (count_ % 8 == 0) out_.push_back('\0');
      if ((value >> i) & 1u) out_.back() = static_cast<char>(out_.back() | (1 << (count_ % 8)));
      ++count_;
    }
    return *this;
  }
  const std::string& str() const { return out_; }

 private:
  std::string out_;
  int count_ = 0;
};

TEST(Unshrink, WidensUpTo13BitsAndEndsOnAFurtherRequest) {
  Bits s;
  s.Put('A', 9);
  int width = 9;
  for (; width < 13; ++width) s.Put(256, width).Put(1, width);
  s.Put('B', 13).Put(256, 13).Put(1, 13).Put('C', 13).Put('D', 13);
  Decoded d = Decode(s.str(), 1, 0, 100);
  EXPECT_FALSE(d.threw) << d.error;
  EXPECT_EQ(d.output, "AB");
  // A 14th bit no sound stream asks for is damage, not an end.
  EXPECT_EQ(d.result, DecodeResult::DamagedData);
}

// Damage the decoders find themselves is answered as such, not left for the
// CRC: Explode's cut or over-subscribed trees and a code cut short; the end
// of Shrink's data is its end.
TEST(LegacyDecoders, DamageTheyFindIsAnsweredAsDamagedData) {
  auto cases = LoadCases();
  const Case& c = Find(cases, "implode_text_8k_3t");
  const auto size = static_cast<std::int32_t>(c.expected.size());
  EXPECT_EQ(Decode(c.entry.packed, 6, c.flag, size).result, DecodeResult::Decoded);
  EXPECT_EQ(Decode(c.entry.packed.substr(0, 7), 6, c.flag, size).result, DecodeResult::DamagedData);
  EXPECT_EQ(Decode(c.entry.packed.substr(0, c.entry.packed.size() / 2), 6, c.flag, size).result,
            DecodeResult::DamagedData);
  // Every literal length 1: 256 one-bit codes over-subscribe the tree.
  EXPECT_EQ(Decode(std::string("\x0F\xF0\xF0\xF0\xF0\xF0\xF0\xF0\xF0\xF0\xF0\xF0\xF0\xF0\xF0\xF0\xF0", 17), 6, 4,
                   size).result,
            DecodeResult::DamagedData);
  const Case& shrunk = Find(cases, "shrink_text");
  EXPECT_EQ(Decode(shrunk.entry.packed, 1, 0, static_cast<std::int32_t>(shrunk.expected.size())).result,
            DecodeResult::Decoded);
}

TEST(Unshrink, PartialClearFreesLeavesAndReusesTheLowestCode) {
  // a, b, 257 and c define 257 "ab", 258 "ba" and 259 "abc". The clear frees
  // the leaves 258 and 259 but keeps 257, the prefix of 259; the next code
  // defined is 258 again ("c" + "a"), and it is read back at once.
  Bits s;
  s.Put('a', 9).Put('b', 9).Put(257, 9).Put('c', 9);
  s.Put(256, 9).Put(2, 9);
  s.Put(257, 9).Put(258, 9);
  Decoded d = Decode(s.str(), 1, 0, 100);
  EXPECT_FALSE(d.threw) << d.error;
  EXPECT_EQ(d.output, "ababc" "ab" "ca");
}

// Damaged data: the first code 300 is not defined, yet becomes the prefix of
// 257. Marking 300 "used" during the clear would turn its undefined prefix
// (-1) into 32767 and send the next expansion outside the tables; instead 300
// stays undefined and reads as the previous string plus its first byte.
TEST(Unshrink, PartialClearNeverDefinesAnUndefinedParent) {
  Bits s;
  s.Put(300, 9).Put('a', 9).Put(256, 9).Put(2, 9).Put(300, 9).Put('b', 9);
  Decoded d = Decode(s.str(), 1, 0, 100);
  EXPECT_FALSE(d.threw) << d.error;
  EXPECT_EQ(d.output, std::string(",a") + "aa" + "b");
}

}  // namespace
}  // namespace quv::test
