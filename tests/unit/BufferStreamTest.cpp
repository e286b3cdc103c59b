// The buffered stream over memory (with call counting and refused writes)
// and over real files, plus the small utility operations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "zip/BufferStream.h"
#include "zip/Exception.h"
#include "zip/Utils.h"

namespace {

using quv::TMemoryStream;
using quv::TS_BufferStream;

// A memory stream that counts calls and refuses writes beyond a budget.
class ProbeStream : public TMemoryStream {
 public:
  explicit ProbeStream(std::string bytes = {}) : TMemoryStream(std::move(bytes)) {}
  std::int32_t Read(void* buffer, std::int32_t count) override {
    ++reads;
    return TMemoryStream::Read(buffer, count);
  }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    ++writes;
    const std::int32_t n = count < writeBudget ? count : writeBudget;
    writeBudget -= n;
    return TMemoryStream::Write(buffer, n);
  }
  int reads = 0;
  int writes = 0;
  std::int32_t writeBudget = 1 << 30;
};

std::string Digits(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>('0' + i % 10);
  return s;
}

TEST(BufferStream, ReadsAcrossBlocksAndStopsAtTheEnd) {
  ProbeStream under("012345678");
  TS_BufferStream s(&under, 4);
  int fills = 0;
  s.OnFillBuffer = [&](quv::TObject* sender) {
    EXPECT_EQ(sender, &s);
    ++fills;
  };
  char buf[10] = {};
  EXPECT_EQ(s.Read(buf, 10), 9);
  EXPECT_EQ(std::string(buf, 9), "012345678");
  EXPECT_EQ(fills, 4);  // three with data, one empty
  EXPECT_EQ(s.State, TS_BufferStream::kEmpty);
  EXPECT_EQ(s.Read(buf, 1), 0);
}

TEST(BufferStream, LargeReadsMatchTheSourceAtEveryBlockBoundary) {
  const std::string data = Digits(1000);
  for (int bufSize : {1, 7, 64, 999, 1000, 1001}) {
    ProbeStream under(data);
    TS_BufferStream s(&under, bufSize);
    std::string out(3, '\0');
    ASSERT_EQ(s.Read(out.data(), 3), 3);
    std::string rest(2000, '\0');
    const std::int32_t n = s.Read(rest.data(), 2000);
    ASSERT_EQ(n, 997) << bufSize;
    EXPECT_EQ(out + rest.substr(0, 997), data) << bufSize;
    EXPECT_EQ(s.Position(), 1000);
  }
}

TEST(BufferStream, PositionQueriesAndNearbySeeksKeepTheBuffer) {
  ProbeStream under("abcdefgh");
  TS_BufferStream s(&under, 4);
  char buf[4] = {};
  ASSERT_EQ(s.Read(buf, 3), 3);
  EXPECT_EQ(s.Position(), 3);
  EXPECT_EQ(under.Position(), 4);
  const int readsBefore = under.reads;
  EXPECT_EQ(s.Seek(3, quv::soFromBeginning), 3);
  ASSERT_EQ(s.Read(buf, 1), 1);
  EXPECT_EQ(buf[0], 'd');
  EXPECT_EQ(under.reads, readsBefore);  // no refill

  // Back inside the read-ahead: still no refill.
  EXPECT_EQ(s.Seek(1, quv::soFromBeginning), 1);
  ASSERT_EQ(s.Read(buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "bc");
  EXPECT_EQ(under.reads, readsBefore);

  // A move out of it drops the buffer and lands where asked.
  EXPECT_EQ(s.Seek(3, quv::soFromCurrent), 6);
  EXPECT_EQ(s.BufPtr, nullptr);
  ASSERT_EQ(s.Read(buf, 1), 1);
  EXPECT_EQ(buf[0], 'g');
  EXPECT_THROW(s.Seek(-1, quv::soFromBeginning), quv::EStreamError);
}

TEST(BufferStream, SeekFromEndIgnoresTheSignAndRejectsBadOrigins) {
  ProbeStream under("0123456789");
  TS_BufferStream s(&under, 4);
  EXPECT_EQ(s.Seek(5, quv::soFromEnd), 5);
  EXPECT_EQ(s.Seek(-5, quv::soFromEnd), 5);
  EXPECT_EQ(s.Seek(0, quv::soFromEnd), 10);
  try {
    s.Seek(0, 3);
    FAIL() << "origin 3 accepted";
  } catch (const quv::Exception& e) {
    EXPECT_STREQ(e.what(), "Invalid seek origin (3)");
  }
}

TEST(BufferStream, PutBackDeliversTheByteFirstAndRefusesAnEmptyBuffer) {
  ProbeStream under("xyz");
  TS_BufferStream s(&under, 4);
  try {
    s.PutBack('q');
    FAIL() << "put-back after construction accepted";
  } catch (const quv::EStreamError& e) {
    EXPECT_STREQ(e.what(), "Putback overflow");
  }
  char c = 0;
  ASSERT_EQ(s.Read(&c, 1), 1);
  s.PutBack('Q');
  EXPECT_EQ(s.Position(), 0);
  char buf[3] = {};
  ASSERT_EQ(s.Read(buf, 3), 3);
  EXPECT_EQ(std::string(buf, 3), "Qyz");
  s.PutBack('z');  // the block is still there to step back into
  ASSERT_EQ(s.Read(buf, 3), 1);
  EXPECT_EQ(s.Read(buf, 1), 0);
  EXPECT_THROW(s.PutBack('a'), quv::EStreamError) << "nothing left to step back over after an empty fill";
}

TEST(BufferStream, LentBytesLieInTheBufferAndCanBeReturned) {
  ProbeStream under(Digits(20));
  TS_BufferStream s(&under, 8);
  char buf[3] = {};
  ASSERT_EQ(s.Read(buf, 3), 3);
  // Within the buffer: no read of the stream underneath.
  const std::uint8_t* lent = s.Lend(4);
  ASSERT_NE(lent, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(lent), 4), "3456");
  EXPECT_EQ(under.reads, 1);
  // Across the buffer's end: the unread byte stays in front of the refill.
  lent = s.Lend(6);
  ASSERT_NE(lent, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(lent), 6), "789012");
  EXPECT_EQ(s.Position(), 13);
  s.Unlend(2);
  EXPECT_EQ(s.Position(), 11);
  EXPECT_EQ(s.Read(buf, 3), 3);
  EXPECT_EQ(std::string(buf, 3), "123");
  // More than the stream still holds: nothing is taken, a read gets the rest.
  EXPECT_EQ(s.Lend(8), nullptr);
  EXPECT_EQ(s.Lend(9), nullptr);  // more than the buffer
  EXPECT_EQ(s.Position(), 14);
  std::string rest(10, '\0');
  EXPECT_EQ(s.Read(rest.data(), 10), 6);
  EXPECT_EQ(rest.substr(0, 6), "456789");
  EXPECT_THROW(s.Unlend(9), quv::EStreamError);
  // Nor while writing.
  s.Seek(0, quv::soFromBeginning);
  s.Write("x", 1);
  EXPECT_EQ(s.Lend(1), nullptr);
}

TEST(BufferStream, WritesGoOutInBlocksAndOnSeek) {
  ProbeStream under;
  {
    TS_BufferStream s(&under, 4);
    EXPECT_EQ(s.Write("abc", 3), 3);
    EXPECT_EQ(under.writes, 0);
    EXPECT_EQ(s.State, TS_BufferStream::kWriting);
    EXPECT_EQ(s.Position(), 3);
    EXPECT_EQ(s.Size(), 3);
    EXPECT_EQ(s.Seek(0, quv::soFromBeginning), 0);  // flushes first
    EXPECT_EQ(under.Bytes(), "abc");
    EXPECT_EQ(s.Write("XY", 2), 2);
    const std::string big = Digits(10);
    EXPECT_EQ(s.Write(big.data(), 10), 10);
    EXPECT_EQ(s.Position(), 12);
  }  // the destructor writes the rest
  EXPECT_EQ(under.Bytes(), "XY0123456789");
}

TEST(BufferStream, ReadingAfterWritingSeesTheWrittenBytes) {
  ProbeStream under("................");
  TS_BufferStream s(&under, 4);
  ASSERT_EQ(s.Write("abcd", 4), 4);  // a full block, flushed at once
  ASSERT_EQ(s.Write("ef", 2), 2);    // pending
  EXPECT_EQ(s.Seek(0, quv::soFromBeginning), 0);
  char buf[8] = {};
  ASSERT_EQ(s.Read(buf, 8), 8);
  EXPECT_EQ(std::string(buf, 8), "abcdef..");
  // Writing after reading continues at the logical position.
  ASSERT_EQ(s.Write("Z", 1), 1);
  EXPECT_EQ(s.Seek(0, quv::soFromBeginning), 0);
  std::string all(16, '\0');
  ASSERT_EQ(s.Read(all.data(), 16), 16);
  EXPECT_EQ(all, "abcdef..Z.......");
}

TEST(BufferStream, RefusedWritesAreReportedNotCounted) {
  ProbeStream under;
  under.writeBudget = 2;
  TS_BufferStream s(&under, 4);
  ASSERT_EQ(s.Write("abc", 3), 3);  // still only pending
  try {
    s.Seek(0, quv::soFromBeginning);
    FAIL() << "lost bytes passed a seek";
  } catch (const quv::Exception& e) {
    EXPECT_STREQ(e.what(), "Seek error");
  }
  EXPECT_TRUE(s.WriteError);
  EXPECT_EQ(s.State, TS_BufferStream::kEmpty);

  ProbeStream full;
  full.writeBudget = 4;
  TS_BufferStream t(&full, 4);
  // The first block goes out, the second is refused: only 4 of 10 bytes count.
  EXPECT_EQ(t.Write("0123456789", 10), 4);
  EXPECT_TRUE(t.WriteError);
  EXPECT_EQ(full.Bytes(), "0123");
}

TEST(BufferStream, FileStreamOpenErrorsNameTheFile) {
  quv::test::TempDir dir;
  const std::string missing = dir / "missing.bin";
  try {
    quv::TLFNFileStream s(missing, 16, false, quv::platform::fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const quv::EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"" + missing + "\". ", 0), 0u) << e.what();
  }
  const std::string inMissingDir = dir / "no\\such\\dir.bin";
  try {
    quv::TFileStream s(inMissingDir, quv::platform::fmCreate);
    FAIL() << "created a file in a missing folder";
  } catch (const quv::EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"" + inMissingDir + "\". ", 0), 0u) << e.what();
  }
}

TEST(BufferStream, FileStreamsWriteAndReadBack) {
  quv::test::TempDir dir;
  const std::string name = dir / "out.bin";
  const std::string data = Digits(20000);
  {
    quv::TLFNFileStream out(name, 8192, true, quv::platform::fmCreate);
    EXPECT_TRUE(out.FlushOnDestroy);
    EXPECT_NE(out.Handle(), quv::platform::kInvalidHandle);
    for (std::size_t i = 0; i < data.size(); i += 1000)
      ASSERT_EQ(out.Write(data.data() + i, 1000), 1000);
  }
  EXPECT_EQ(quv::test::ReadFile(name), data);
  quv::TLFNFileStream in(name, 8192, true, quv::platform::fmOpenRead | quv::platform::fmShareDenyWrite);
  EXPECT_FALSE(in.FlushOnDestroy) << "a stream opened for reading never commits";
  EXPECT_EQ(in.Size(), 20000);
  EXPECT_EQ(in.Seek(-100, quv::soFromEnd), 19900);
  std::string tail(200, '\0');
  ASSERT_EQ(in.Read(tail.data(), 200), 100);
  EXPECT_EQ(tail.substr(0, 100), data.substr(19900));
}

TEST(Utils, PercentageRoundsHalvesToEvenAndCaps) {
  EXPECT_EQ(quv::Percentage(0, 5), 0);
  EXPECT_EQ(quv::Percentage(-3, 5), 0);
  EXPECT_EQ(quv::Percentage(200, 1), 0);   // 0.5 -> 0
  EXPECT_EQ(quv::Percentage(200, 3), 2);   // 1.5 -> 2
  EXPECT_EQ(quv::Percentage(200, 5), 2);   // 2.5 -> 2
  EXPECT_EQ(quv::Percentage(3, 1), 33);
  EXPECT_EQ(quv::Percentage(3, 2), 67);
  EXPECT_EQ(quv::Percentage(10, 50), 100);
  EXPECT_EQ(quv::Percentage(200, -5), -2);
  const std::int64_t big = std::int64_t{1} << 62;
  EXPECT_EQ(quv::Percentage(big, big / 2), 50);
  const std::int64_t eighth = std::int64_t{1} << 61;
  EXPECT_EQ(quv::Percentage(eighth * 3, eighth), 33);
  EXPECT_EQ(quv::Percentage(std::int64_t{400}, std::int64_t{2}), 0);  // 0.5 -> 0
  EXPECT_EQ(quv::Percentage(std::int64_t{400}, std::int64_t{6}), 2);  // 1.5 -> 2
  EXPECT_EQ(quv::Percentage(std::int64_t{0x7FFFFFFFFFFFFFFF}, std::int64_t{0x7FFFFFFFFFFFFFFE}), 100);
}

TEST(Utils, TextHelpers) {
  std::string path = "a/b/c.txt";
  EXPECT_EQ(quv::SlashesToBackslashes(path), "a\\b\\c.txt");
  EXPECT_EQ(path, "a\\b\\c.txt");
  EXPECT_EQ(quv::RightStr("abc", 1), "c");
  EXPECT_EQ(quv::RightStr("abc", 5), "abc");
  EXPECT_EQ(quv::LeftStr("A:\\x\\y.zip", 3), "A:\\");
  EXPECT_EQ(quv::LeftStr("ab", 3), "ab");
  EXPECT_EQ(quv::LeftStr("ab", -1), "");
}

}  // namespace
