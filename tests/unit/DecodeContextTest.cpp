// The shared decoding machinery: input blocks with spanning and decryption,
// the output buffer's size guard, CRC and progress, the
// stored method and the choice of decoder.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "MemoryDecodeHost.h"
#include "decompress/DecodeContext.h"
#include "platform/Ui.h"
#include "zip/Exception.h"

namespace quv {
namespace {

using test::Crc32Of;
using test::DecodeWith;
using test::MemoryDecodeHost;

std::string Pattern(std::size_t n, unsigned seed = 1) {
  std::string s(n, '\0');
  std::mt19937 rng(seed);
  for (auto& ch : s) ch = static_cast<char>(rng() % 7 + 'a');
  return s;
}

// Counts ProcessMessages calls; answers every message box with Ok.
class CountingUi : public platform::UserInterface {
 public:
  int processed = 0;
  std::vector<std::pair<std::string, std::string>> messages;
  platform::Answer ShowMessage(const std::string& text, const std::string& caption, platform::Buttons) override {
    messages.emplace_back(text, caption);
    return platform::Answer::Ok;
  }
  bool PickFile(const std::string&, const std::string&, const std::string&, std::string&) override { return false; }
  bool PickFolder(const std::string&, std::string&) override { return false; }
  platform::Cursor SetCursor(platform::Cursor c) override { return c; }
  void ProcessMessages() override { ++processed; }
};

TEST(Crc32, KnownValuesAndAnySplit) {
  EXPECT_EQ(Crc32Of(""), 0u);
  EXPECT_EQ(Crc32Of("123456789"), 0xCBF43926u);
  EXPECT_EQ(Crc32Of("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
  // The wide update must agree with the byte table at every length and offset.
  const std::string data = Pattern(300, 7) + std::string(40, '\xff');
  for (std::size_t off = 0; off < 9; ++off) {
    for (std::size_t len = 0; off + len <= data.size(); len += 13) {
      std::uint32_t bytewise = 0xFFFFFFFFu;
      for (std::size_t i = off; i < off + len; ++i)
        bytewise = CrcTable[(bytewise ^ static_cast<std::uint8_t>(data[i])) & 0xFF] ^ (bytewise >> 8);
      const auto* p = reinterpret_cast<const std::uint8_t*>(data.data()) + off;
      EXPECT_EQ(UpdateCrc(0xFFFFFFFFu, p, len), bytewise) << off << " " << len;
      const std::size_t half = len / 3;
      EXPECT_EQ(UpdateCrc(UpdateCrc(0xFFFFFFFFu, p, half), p + half, len - half), bytewise);
    }
  }
  // Long buffers take the folding path where the processor has one.
  const std::string big = Pattern(100003, 8);
  std::uint32_t bytewise = 0xFFFFFFFFu;
  for (char ch : big) bytewise = CrcTable[(bytewise ^ static_cast<std::uint8_t>(ch)) & 0xFF] ^ (bytewise >> 8);
  EXPECT_EQ(UpdateCrc(0xFFFFFFFFu, reinterpret_cast<const std::uint8_t*>(big.data()), big.size()), bytewise);
}

TEST(InputBytes, EmptyEntryDeliversNothing) {
  MemoryDecodeHost host("");
  TDecodeContext ctx(host, host);
  ctx.ResetForEntry(0, 0);
  std::uint16_t b = 77;
  EXPECT_EQ(GetInputByte(ctx, b), 0);
  EXPECT_EQ(b, 77);
  EXPECT_TRUE(host.readSizes.empty());
}

TEST(InputBytes, ReadsBlocksDecryptsAndProcessesMessages) {
  // 70 000 bytes arrive in blocks of 32 768, 32 768 and 4 464, each decrypted
  // once, with the GUI given a turn before each read.
  const std::string plain = Pattern(70000);
  std::string cipher = plain;
  for (auto& ch : cipher) ch = static_cast<char>(ch ^ 0x5A);
  MemoryDecodeHost host(cipher);
  host.encrypted = true;
  host.processMessages = true;
  std::vector<std::int32_t> decrypted;
  host.decrypt = [&](std::uint8_t* p, std::int32_t n) {
    decrypted.push_back(n);
    for (std::int32_t i = 0; i < n; ++i) p[i] ^= 0x5A;
  };
  CountingUi ui;
  host.onProcessMessages = [&ui] { ui.ProcessMessages(); };
  TDecodeContext ctx(host, host);
  ctx.ResetForEntry(host.compressedSize, 0);
  std::string got;
  std::uint16_t b = 0;
  while (GetInputByte(ctx, b) == 8) got.push_back(static_cast<char>(b));
  EXPECT_EQ(got, plain);
  EXPECT_EQ(decrypted, (std::vector<std::int32_t>{32768, 32768, 4464}));
  EXPECT_EQ(ui.processed, 3);
  EXPECT_EQ(ctx.ArchiveLeft, 0);
  // Asking on past the end keeps answering 0 without reading.
  EXPECT_EQ(GetInputByte(ctx, b), 0);
  EXPECT_EQ(host.readSizes.size(), 3u);
}

TEST(InputBytes, ShortArchiveRaisesOrGoesToNextDisk) {
  {
    MemoryDecodeHost host(Pattern(100));
    host.compressedSize = 150;  // the archive is cut short
    TDecodeContext ctx(host, host);
    ctx.ResetForEntry(150, 0);
    std::uint16_t b = 0;
    try {
      GetInputByte(ctx, b);
      FAIL() << "no exception";
    } catch (const EFatalUnzipError& e) {
      EXPECT_STREQ(e.what(), "Premature end of file reached");
    }
  }
  {
    // Spread over three disks, read across both changes.
    const std::string all = Pattern(40000, 3);
    MemoryDecodeHost host(std::vector<std::string>{all.substr(0, 1000), all.substr(1000, 35000), all.substr(36000)});
    TDecodeContext ctx(host, host);
    ctx.ResetForEntry(host.compressedSize, 0);
    std::string got;
    std::uint16_t b = 0;
    while (GetInputByte(ctx, b) == 8) got.push_back(static_cast<char>(b));
    EXPECT_EQ(got, all);
    EXPECT_EQ(host.disksOpened, 2);
  }
  {
    // The next disk cannot be had.
    MemoryDecodeHost host(std::vector<std::string>{Pattern(10), Pattern(10)});
    host.compressedSize = 50;
    TDecodeContext ctx(host, host);
    ctx.ResetForEntry(50, 0);
    std::uint16_t b = 0;
    try {
      GetInputByte(ctx, b);
      FAIL() << "no exception";
    } catch (const EUserCanceled& e) {
      EXPECT_STREQ(e.what(), "User Aborted Operation");
    }
  }
}

TEST(OutputBuffer, StoredBlocksOfExactlyAndJustOverOneBuffer) {
  for (std::size_t n : {std::size_t{32768}, std::size_t{32769}}) {
    const std::string data = Pattern(n, 5);
    MemoryDecodeHost host(data);
    DecodeWith(host, 0, static_cast<std::int32_t>(n));
    EXPECT_EQ(host.output, data);
    EXPECT_EQ(host.FinalCrc(), Crc32Of(data));
    ASSERT_EQ(host.progress.size(), n == 32768 ? 1u : 2u);
    EXPECT_EQ(host.progress[0].n, 32768);
    if (n == 32769) {
      EXPECT_EQ(host.progress[1].n, 1);
    }
  }
}

TEST(OutputBuffer, ProgressOf100000Bytes) {
  const std::string data = Pattern(100000, 9);
  MemoryDecodeHost host(data);
  DecodeWith(host, 0, 100000);
  std::vector<int> percents;
  for (const auto& p : host.progress) percents.push_back(p.percent);
  EXPECT_EQ(percents, (std::vector<int>{33, 66, 98, 100}));
  EXPECT_EQ(host.progress.back().entryBytesOut, 100000);
}

TEST(OutputBuffer, SizeGuardAndShortWrite) {
  const std::string data = Pattern(40000, 2);
  {
    // Declared one byte short: the second block is refused before it is
    // written, and the entry only is damaged.
    MemoryDecodeHost host(data);
    EXPECT_EQ(DecodeWith(host, 0, 39999), DecodeResult::DamagedData);
    EXPECT_EQ(host.output.size(), 32768u);
  }
  for (const std::int32_t declared : {40000, 40001}) {
    // Stored data ending short of the declared size is damaged too.
    MemoryDecodeHost host(data);
    const DecodeResult want = declared == 40000 ? DecodeResult::Decoded : DecodeResult::DamagedData;
    EXPECT_EQ(DecodeWith(host, 0, declared), want) << declared;
  }
  // A short write ends the run as a write error, whatever the method: stored,
  // and deflated (one stored block) where Inflate once took it for damaged data.
  const std::string deflated = std::string("\x01\x40\x9c\xbf\x63", 5) + data;
  for (const auto& [method, packed] : {std::pair<std::uint16_t, std::string>{0, data}, {8, deflated}}) {
    MemoryDecodeHost host(packed);
    host.writeLimit = 1000;
    EXPECT_THROW(DecodeWith(host, method, 40000), EWriteError) << method;
  }
  {
    // A stored entry cut short in the archive.
    MemoryDecodeHost host(data);
    host.compressedSize = 50000;
    EXPECT_THROW(DecodeWith(host, 0, 50000), EFatalUnzipError);
  }
}

TEST(OutputBuffer, StoredEntryDecryptsAndSpans) {
  const std::string plain = Pattern(50000, 4);
  std::string cipher = plain;
  for (auto& ch : cipher) ch = static_cast<char>(~ch);
  MemoryDecodeHost host(std::vector<std::string>{cipher.substr(0, 20000), cipher.substr(20000)});
  host.encrypted = true;
  host.decrypt = [](std::uint8_t* p, std::int32_t n) {
    for (std::int32_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(~p[i]);
  };
  DecodeWith(host, 0, 50000);
  EXPECT_EQ(host.output, plain);
  EXPECT_EQ(host.decryptCalls, 2);
  EXPECT_EQ(host.disksOpened, 1);
}

TEST(OutputBuffer, PutByteAndWindowCopyFillWholeBuffers) {
  MemoryDecodeHost host("");
  TDecodeContext ctx(host, host);
  ctx.ResetForEntry(0, 100000);
  for (int i = 0; i < 100; ++i) PutOutputByte(ctx, static_cast<std::uint8_t>(i));
  for (int i = 0; i < 32768; ++i) ctx.WorkArea[i] = static_cast<std::uint8_t>(i * 7);
  CopyWindowToOutput(ctx, 32768);
  ASSERT_EQ(host.output.size(), 32768u);
  EXPECT_EQ(ctx.OutFill, 100);
  EXPECT_EQ(static_cast<std::uint8_t>(host.output[99]), 99);
  EXPECT_EQ(static_cast<std::uint8_t>(host.output[100]), 0);
  EXPECT_EQ(static_cast<std::uint8_t>(host.output[101]), 7);
  WriteOutputBuffer(ctx);
  EXPECT_EQ(host.output.size(), 32868u);
  EXPECT_EQ(static_cast<std::uint8_t>(host.output.back()), static_cast<std::uint8_t>(32767 * 7));
  EXPECT_EQ(host.FinalCrc(), Crc32Of(host.output));
}

TEST(Dispatch, GarbageThroughTheLibraryDecodersIsDamagedData) {
  const std::string garbage = "not a compressed stream of any kind";
  for (std::uint16_t method : {12, 14, 93, 95}) {
    MemoryDecodeHost host(garbage);
    TDecodeContext ctx(host, host);
    ctx.ResetForEntry(static_cast<std::int64_t>(garbage.size()), 100);
    EXPECT_EQ(DecodeEntry(ctx, method, 0), DecodeResult::DamagedData) << method;
    EXPECT_TRUE(host.output.empty()) << method;
  }
}

// Counts what the decoders ask of the run's memory budget, refusing more
// than limit in all.
class BudgetHost : public MemoryDecodeHost {
 public:
  using MemoryDecodeHost::MemoryDecodeHost;
  bool ReserveMemory(std::uint64_t bytes) override {
    asked.push_back(bytes);
    if (bytes > limit - held) return false;
    held += bytes;
    return true;
  }
  void ReleaseMemory(std::uint64_t bytes) override { held -= bytes; }

  std::uint64_t limit = UINT64_MAX;
  std::uint64_t held = 0;
  std::vector<std::uint64_t> asked;
};

// The library decoders count their memory, known from their headers, before
// the library takes it (an LZMA dictionary cut to the entry's size first, a
// bzip2 block size), and give it back however they end; a refusal ends the
// run as running out of memory does.
TEST(Dispatch, LibraryDecodersCountTheirMemoryBeforeTakingIt) {
  static constexpr char kLzmaHeader[] = "\x09\x14\x05\x00\x5D\x00\x00\x00\x20garbage after the properties";
  const std::string lzma512MiB(kLzmaHeader, sizeof kLzmaHeader - 1);
  const std::string bzip2Level1 = "BZh1garbage after the header";
  struct Case {
    std::uint16_t method;
    const std::string& data;
    std::uint64_t least, most;
  };
  for (const Case& c : {Case{14, lzma512MiB, 1u << 20, (1u << 20) + (1u << 18)}, Case{12, bzip2Level1, 500000, 500000}}) {
    BudgetHost host(c.data);
    TDecodeContext ctx(host, host);
    ctx.ResetForEntry(host.compressedSize, 1 << 20);
    EXPECT_EQ(DecodeEntry(ctx, c.method, 0), DecodeResult::DamagedData) << c.method;
    ASSERT_EQ(host.asked.size(), 1u) << c.method;
    EXPECT_GE(host.asked[0], c.least) << c.method;
    EXPECT_LE(host.asked[0], c.most) << c.method;
    EXPECT_EQ(host.held, 0u) << c.method;

    BudgetHost refusing(c.data);
    refusing.limit = c.least - 1;
    TDecodeContext refused(refusing, refusing);
    refused.ResetForEntry(refusing.compressedSize, 1 << 20);
    EXPECT_THROW(DecodeEntry(refused, c.method, 0), EFatalUnzipError) << c.method;
    EXPECT_EQ(refusing.held, 0u) << c.method;
  }
}

TEST(Dispatch, UnknownMethodsHaveNoDecoder) {
  for (std::uint16_t method : {7, 10, 97, 98, 99, 0xFFFF}) {
    MemoryDecodeHost host("abc");
    TDecodeContext ctx(host, host);
    ctx.ResetForEntry(3, 3);
    EXPECT_EQ(DecodeEntry(ctx, method, 0), DecodeResult::UnknownMethod) << method;
    EXPECT_TRUE(host.output.empty());
  }
  MemoryDecodeHost host("abc");
  TDecodeContext ctx(host, host);
  ctx.ResetForEntry(3, 3);
  EXPECT_EQ(DecodeEntry(ctx, 0, 0), DecodeResult::Decoded);
  EXPECT_EQ(host.output, "abc");
  EXPECT_EQ(host.FinalCrc(), Crc32Of("abc"));
}

}  // namespace
}  // namespace quv
