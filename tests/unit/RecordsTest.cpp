// ZIP record readers over hand-made bytes: date normalising, name handling
// and OEM conversion, the trailer search, volume changes inside a central
// header, copying and comments.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/Platform.h"
#include "zip/Exception.h"
#include "zip/Records.h"
#include "zip/Stream.h"

namespace {

using quv::TEndCentral;
using quv::TMemoryStream;
using quv::TStream;
using quv::TZipHeaderInfo;

void Put16(std::string& s, unsigned v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, std::uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

struct Fields {
  unsigned madeBy = 20;  // host byte in the high half
  unsigned needed = 20;
  unsigned flag = 0;
  unsigned method = 8;
  std::uint32_t dateTime = 0x5A2E6C21;
  std::uint32_t crc = 0x12345678;
  std::uint32_t packed = 1000;
  std::uint32_t unpacked = 3000;
  unsigned extra = 0;
  unsigned comment = 0;
  unsigned disk = 0;
  unsigned internal = 1;
  std::uint32_t external = 0x20;
  std::uint32_t offset = 0;
};

std::string Central(const std::string& name, const Fields& f = {}) {
  std::string s;
  Put32(s, 0x02014B50);
  Put16(s, f.madeBy);
  Put16(s, f.needed);
  Put16(s, f.flag);
  Put16(s, f.method);
  Put32(s, f.dateTime);
  Put32(s, f.crc);
  Put32(s, f.packed);
  Put32(s, f.unpacked);
  Put16(s, static_cast<unsigned>(name.size()));
  Put16(s, f.extra);
  Put16(s, f.comment);
  Put16(s, f.disk);
  Put16(s, f.internal);
  Put32(s, f.external);
  Put32(s, f.offset);
  return s + name;
}

std::string Local(const std::string& name, const Fields& f = {}) {
  std::string s;
  Put32(s, 0x04034B50);
  Put16(s, f.needed);
  Put16(s, f.flag);
  Put16(s, f.method);
  Put32(s, f.dateTime);
  Put32(s, f.crc);
  Put32(s, f.packed);
  Put32(s, f.unpacked);
  Put16(s, static_cast<unsigned>(name.size()));
  Put16(s, f.extra);
  return s + name;
}

std::string EndRecord(unsigned entries, std::uint32_t size, std::uint32_t offset, const std::string& comment) {
  std::string s;
  Put32(s, 0x06054B50);
  Put16(s, 0);
  Put16(s, 0);
  Put16(s, entries);
  Put16(s, entries);
  Put32(s, size);
  Put32(s, offset);
  Put16(s, static_cast<unsigned>(comment.size()));
  return s + comment;
}

std::uint32_t Dos(unsigned y, unsigned mo, unsigned d, unsigned h, unsigned mi, unsigned s) {
  return ((y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) | (mi << 5) | (s / 2);
}

bool ReadCentral(TZipHeaderInfo& e, TStream& s) {
  TStream* p = &s;
  return e.ReadCentralFromStream(p, nullptr, nullptr);
}

TEST(Records, FixDosDateTimeClampsOnlyBrokenParts) {
  const std::uint32_t valid = Dos(2016, 6, 13, 17, 33, 6);
  EXPECT_EQ(quv::FixDosDateTime(valid), valid);
  // month 0, day 0, hour 25 -> month 1, day 1, hour 23; the rest kept.
  const std::uint32_t broken = ((2005u - 1980) << 25) | (0u << 21) | (0u << 16) | (25u << 11) | (7u << 5) | 9u;
  EXPECT_EQ(quv::FixDosDateTime(broken), Dos(2005, 1, 1, 23, 7, 18));
  // 62 seconds and minute 60 clamp to 59 (stored as 29); year 2107 to 2099.
  const std::uint32_t late = (127u << 25) | (13u << 21) | (31u << 16) | (23u << 11) | (60u << 5) | 31u;
  EXPECT_EQ(quv::FixDosDateTime(late), Dos(2099, 12, 31, 23, 59, 58));
  EXPECT_EQ(quv::FixDosDateTime(Dos(2020, 2, 31, 0, 0, 0)), Dos(2020, 2, 31, 0, 0, 0)) << "month lengths are not checked";
}

TEST(Records, ConstructionValues) {
  TZipHeaderInfo e;
  EXPECT_EQ(e.VersionMadeBy, 20);
  EXPECT_EQ(e.CompressionMethod, 8);
  EXPECT_EQ(e.CRC32, 0xFFFFFFFFu);
  EXPECT_EQ(e.InternalFileAttributes, 1);
  EXPECT_EQ(e.ExternalFileAttributes, 0x20u);
  EXPECT_FALSE(e.OEMConvert || e.MatchFlag || e.Selected || e.FileCommentLoaded());
  TEndCentral end;
  EXPECT_EQ(end.Signature, 0x06054B50u);
  EXPECT_FALSE(end.HasComment());
}

TEST(Records, ClearAndAssignTakeEveryField) {
  Fields f;
  f.madeBy = 0x0314;
  f.comment = 3;
  f.disk = 2;
  f.internal = 0;
  f.external = 0x10;
  f.offset = 99;
  TMemoryStream central(Central("dir/a.txt", f) + "abc");
  TZipHeaderInfo read;
  ASSERT_TRUE(ReadCentral(read, central));
  read.UtcModified = 7;
  read.LocalZip64 = read.NameUnrepresentable = read.Selected = true;
  TZipHeaderInfo copy;
  copy.Assign(&read);
  EXPECT_TRUE(static_cast<const quv::ZipEntryFields&>(copy) == read);
  read.Clear();
  EXPECT_TRUE(static_cast<const quv::ZipEntryFields&>(read) == quv::ZipEntryFields{});
  EXPECT_EQ(read.StoredPath(), "");

  TEndCentral end;
  TMemoryStream archive(EndRecord(3, 100, 200, "note"));
  ASSERT_TRUE(end.FindEndCentral(archive));
  end.Zip64 = true;
  TEndCentral endCopy;
  endCopy.Assign(&end);
  EXPECT_TRUE(static_cast<const quv::EndCentralFields&>(endCopy) == end);
  end.Clear();
  EXPECT_TRUE(static_cast<const quv::EndCentralFields&>(end) == quv::EndCentralFields{});
}

TEST(Records, CentralHeaderFieldsAndNameSplitting) {
  Fields f;
  f.madeBy = 0x0317;
  f.flag = 0x0009;
  f.comment = 5;
  f.extra = 4;
  f.disk = 2;
  f.external = 0x81A40000;
  f.offset = 0x89ABCDEF;
  f.packed = 0xFFFFFFFF;
  TMemoryStream s("junk" + Central("docs/readme.txt", f) + "EXTRcomnt");
  s.Seek(4, quv::soFromBeginning);
  TZipHeaderInfo e;
  e.Selected = e.MatchFlag = true;
  ASSERT_TRUE(ReadCentral(e, s));
  EXPECT_EQ(s.Position(), 4 + 46 + 15 + 4) << "left just after the extra field";
  EXPECT_EQ(e.Directory(), "docs\\");
  EXPECT_EQ(e.FileName(), "readme.txt");
  EXPECT_EQ(e.FileNameLength, 15);
  EXPECT_EQ(e.VersionMadeBy, 0x0317);
  EXPECT_TRUE(e.IsEncrypted());
  EXPECT_TRUE(e.HasDataDescriptor());
  EXPECT_TRUE(e.HasComment()) << "the length decides, not a loaded text";
  EXPECT_FALSE(e.FileCommentLoaded());
  EXPECT_EQ(e.CentralExtraFieldLength, 4);
  EXPECT_EQ(e.DiskNumberStart, 2);
  EXPECT_EQ(e.ExternalFileAttributes, 0x81A40000u);
  EXPECT_EQ(e.RelativeOffsetOfLocalHeader, 0x89ABCDEFu);
  EXPECT_EQ(e.CompressedSize, 0xFFFFFFFF) << "no Zip64 field: the value as it stands";
  EXPECT_EQ(e.CentralHeaderOffset, 4u);
  EXPECT_FALSE(e.Selected || e.MatchFlag);

  TMemoryStream folder(Central("a/b/") + Central(""));
  ASSERT_TRUE(ReadCentral(e, folder));
  EXPECT_EQ(e.Directory(), "a\\b\\");
  EXPECT_EQ(e.FileName(), "");
  EXPECT_EQ(e.FileNameLength, 4);
  ASSERT_TRUE(ReadCentral(e, folder));
  EXPECT_EQ(e.StoredPath(), "");
  EXPECT_EQ(e.CentralHeaderOffset, 50u);
}

TEST(Records, ReadersRestoreThePositionOnFailure) {
  TZipHeaderInfo e;
  TMemoryStream wrong("xx" + Local("a.txt"));
  wrong.Seek(2, quv::soFromBeginning);
  EXPECT_FALSE(ReadCentral(e, wrong)) << "a local header is not a central one";
  EXPECT_EQ(wrong.Position(), 2);

  const std::string cut = Central("abcdef");
  TMemoryStream shortName(cut.substr(0, cut.size() - 2));
  EXPECT_FALSE(ReadCentral(e, shortName));
  EXPECT_EQ(shortName.Position(), 0);

  const std::string local = Local("name.bin");
  TMemoryStream shortLocal(local.substr(0, 29));
  EXPECT_FALSE(e.ReadLocalFromStream(shortLocal));
  EXPECT_EQ(shortLocal.Position(), 0);
  TMemoryStream cutLocalName(local.substr(0, local.size() - 1));
  EXPECT_FALSE(e.ReadLocalFromStream(cutLocalName));
  EXPECT_EQ(cutLocalName.Position(), 0);
}

TEST(Records, LocalHeaderFields) {
  Fields f;
  f.extra = 9;
  f.flag = 0x0800;
  TMemoryStream s(std::string(100, 'x') + Local("dir/sub/file.dat", f) + "EXTRAFIEL");
  s.Seek(100, quv::soFromBeginning);
  TZipHeaderInfo e;
  e.FileCommentLength = 3;
  e.CentralExtraFieldLength = 7;
  ASSERT_TRUE(e.ReadLocalFromStream(s));
  EXPECT_EQ(s.Position(), 100 + 30 + 16 + 9) << "at the data";
  EXPECT_EQ(e.VersionMadeBy, 0);
  EXPECT_EQ(e.RelativeOffsetOfLocalHeader, 100u);
  EXPECT_EQ(e.LocalExtraFieldLength, 9);
  EXPECT_EQ(e.CentralExtraFieldLength, 7) << "untouched by a local header";
  EXPECT_EQ(e.FileCommentLength, 0);
  EXPECT_EQ(e.ExternalFileAttributes, 0u);
  EXPECT_EQ(e.Directory(), "dir\\sub\\");
  EXPECT_EQ(e.FileName(), "file.dat");
  EXPECT_EQ(e.CRC32, 0x12345678u);
  EXPECT_EQ(e.UncompressedSize, 3000);
}

std::string Put64(std::uint64_t v) {
  std::string s;
  Put32(s, static_cast<std::uint32_t>(v));
  Put32(s, static_cast<std::uint32_t>(v >> 32));
  return s;
}

std::string Zip64Block(const std::string& values) {
  std::string s;
  Put16(s, 0x0001);
  Put16(s, static_cast<unsigned>(values.size()));
  return s + values;
}

TEST(Records, Zip64FieldsStandOnlyForTheSaturatedOnesInTheirOrder) {
  // Central: compressed size and offset saturated, so the block holds those
  // two (the uncompressed size keeps its 32-bit value), after another block.
  Fields f;
  f.packed = 0xFFFFFFFF;
  f.offset = 0xFFFFFFFF;
  f.disk = 0xFFFF;
  std::string other;
  Put16(other, 0x7875);
  Put16(other, 3);
  other += "abc";
  std::string disk;
  Put32(disk, 70000);
  const std::string extra = other + Zip64Block(Put64(5000000000ULL) + Put64(6000000000ULL) + disk);
  f.extra = static_cast<unsigned>(extra.size());
  TMemoryStream central(Central("big.bin", f) + extra + "next");
  TZipHeaderInfo e;
  ASSERT_TRUE(ReadCentral(e, central));
  EXPECT_EQ(e.UncompressedSize, 3000);
  EXPECT_EQ(e.CompressedSize, 5000000000LL);
  EXPECT_EQ(e.RelativeOffsetOfLocalHeader, 6000000000LL);
  EXPECT_EQ(e.DiskNumberStart, 70000u);

  // Local: both sizes; a block cut short leaves what it lacks as it was.
  Fields l;
  l.packed = l.unpacked = 0xFFFFFFFF;
  const std::string localExtra = Zip64Block(Put64(7000000000ULL) + "1234");
  l.extra = static_cast<unsigned>(localExtra.size());
  TMemoryStream local(Local("big.bin", l) + localExtra);
  ASSERT_TRUE(e.ReadLocalFromStream(local));
  EXPECT_TRUE(e.LocalZip64);
  EXPECT_EQ(e.UncompressedSize, 7000000000LL);
  EXPECT_EQ(e.CompressedSize, 0xFFFFFFFFLL);
}

TEST(Records, OemConversionFollowsHostFlagAndUtf8Bit) {
  const std::string raw = "d\x81r/\x94.txt";  // CP437: u-umlaut, o-umlaut
  const std::string converted = quv::platform::ConvertOemToAnsi("d\x81r\\\x94.txt");
  if constexpr (!quv::platform::kIsWindows) {
    EXPECT_NE(converted, "d\x81r\\\x94.txt");
  }
  const std::string plain = "d\x81r\\\x94.txt";

  auto central = [&](unsigned madeBy, unsigned flag, bool oem) {
    Fields f;
    f.madeBy = madeBy;
    f.flag = flag;
    TMemoryStream s(Central(raw, f));
    TZipHeaderInfo e;
    e.OEMConvert = oem;
    EXPECT_TRUE(ReadCentral(e, s));
    return e.StoredPath();
  };
  EXPECT_EQ(central(0x0014, 0, true), converted);
  EXPECT_EQ(central(0x0314, 0, true), plain) << "not from a DOS host";
  // Not UTF-8 at all: Windows cannot hold it, POSIX keeps the bytes.
  const std::string flagged = quv::platform::kIsWindows ? "d?r\\?.txt" : plain;
  EXPECT_EQ(central(0x0014, 0x0800, true), flagged) << "UTF-8 names are never OEM";
  EXPECT_EQ(central(0x0014, 0, false), plain);

  auto local = [&](unsigned flag, bool oem) {
    Fields f;
    f.flag = flag;
    TMemoryStream s(Local(raw, f));
    TZipHeaderInfo e;
    e.OEMConvert = oem;
    EXPECT_TRUE(e.ReadLocalFromStream(s));
    return e.StoredPath();
  };
  EXPECT_EQ(local(0, true), converted);
  EXPECT_EQ(local(0x0800, true), flagged);
  EXPECT_EQ(local(0, false), plain);

  const std::string utf8 = "\xE4\xB8\xAD\\x";  // a CJK character, then "\x"
  Fields f;
  f.flag = 0x0800;
  TMemoryStream s(Central("\xE4\xB8\xAD/x", f));
  TZipHeaderInfo e;
  e.OEMConvert = true;
  ASSERT_TRUE(ReadCentral(e, s));
  EXPECT_EQ(e.Directory(), quv::platform::kIsWindows ? "\xD6\xD0\\" : "\xE4\xB8\xAD\\");
  EXPECT_EQ(e.FileName(), "x");
}

// Names and comments from the Info-ZIP Unicode blocks only while their CRC
// matches the stored bytes. POSIX keeps the UTF-8; the Wine tests run under
// code page 936, which holds the characters used here.
TEST(Records, UnicodePathAndCommentBlocksWhenTheirCrcMatches) {
  auto block = [](unsigned id, std::uint32_t crc, const std::string& text) {
    std::string b;
    Put16(b, id);
    Put16(b, static_cast<unsigned>(5 + text.size()));
    b += '\x01';
    Put32(b, crc);
    return b + text;
  };
  const std::string xin = "\xE6\x96\xB0.txt";  // U+65B0
  const std::string xinSystem = quv::platform::kIsWindows ? "\xD0\xC2.txt" : xin;
  auto read = [&](const std::string& extra, unsigned flag, TZipHeaderInfo& e) {
    Fields f;
    f.flag = flag;
    f.extra = static_cast<unsigned>(extra.size());
    TMemoryStream s(Central("old.txt", f) + extra);
    EXPECT_TRUE(ReadCentral(e, s));
  };
  TZipHeaderInfo e;
  read(block(0x7075, 0x508DA384u, xin) + block(0x6375, 0xCFBDFA14u, xin), 0, e);
  EXPECT_EQ(e.StoredPath(), xinSystem);
  EXPECT_FALSE(e.NameUnrepresentable);
  e.SetStoredComment("note");
  EXPECT_EQ(e.FileComment(), xinSystem);
  EXPECT_EQ(e.FileCommentLength, 4) << "the stored length, to step over it";
  e.SetStoredComment("edited");
  EXPECT_EQ(e.FileComment(), "edited");

  read(block(0x7075, 0x508DA385u, xin), 0, e);
  EXPECT_EQ(e.StoredPath(), "old.txt") << "stale copy";
  read(block(0x7075, 0x508DA384u, "a/b") + std::string("\x75\x70\x09\x00", 4), 0, e);
  EXPECT_EQ(e.StoredPath(), "a\\b") << "a cut block after it changes nothing";

  // U+0E01 (Thai) is in no CJK code page: "?" stands in, and the entry knows.
  Fields f;
  f.flag = 0x0800;
  TMemoryStream s(Central("\xE0\xB8\x81/\xE6\x96\xB0.txt", f));
  ASSERT_TRUE(ReadCentral(e, s));
  EXPECT_EQ(e.NameUnrepresentable, quv::platform::kIsWindows);
  EXPECT_EQ(e.StoredPath(), quv::platform::kIsWindows ? "?\\" + xinSystem : "\xE0\xB8\x81\\" + xin);
}

// Beside the system-code-page name an entry keeps the UTF-8 one it was
// given (flag, matching Unicode Path block, or a named character set), on
// every system, until a caller renames it; other names have none.
TEST(Records, Utf8PathKeptBesideTheSystemName) {
  const std::string thai = "\xE0\xB8\x81\\\xE6\x96\xB0.txt";  // U+0E01 \ U+65B0 .txt
  auto read = [](const std::string& name, unsigned flag, const std::string& charset = {}) {
    Fields f;
    f.flag = flag;
    TMemoryStream s(Central(name, f));
    TStream* p = &s;
    auto e = std::make_unique<TZipHeaderInfo>();
    EXPECT_TRUE(e->ReadCentralFromStream(p, nullptr, nullptr, charset));
    return e;
  };
  auto e = read("\xE0\xB8\x81/\xE6\x96\xB0.txt", 0x0800);
  EXPECT_EQ(e->Utf8Path(), thai);
  TZipHeaderInfo copy;
  copy.Assign(e.get());
  EXPECT_EQ(copy.Utf8Path(), thai);
  copy.SetFileName("other.txt");
  EXPECT_EQ(copy.Utf8Path(), std::nullopt) << "renamed by a caller";

  // A plain name read into the same entry leaves nothing behind.
  TMemoryStream plain(Central("a/b.txt"));
  TStream* p = &plain;
  ASSERT_TRUE(e->ReadCentralFromStream(p, nullptr, nullptr));
  EXPECT_EQ(e->Utf8Path(), std::nullopt);
  EXPECT_EQ(read("a/b.txt", 0x0800)->Utf8Path(), "a\\b.txt");

  // GBK bytes of U+4E2D U+6587 named as such become UTF-8 everywhere.
  EXPECT_EQ(read("\xD6\xD0/\xCE\xC4", 0, "cp936")->Utf8Path(), "\xE4\xB8\xAD\\\xE6\x96\x87");
}

TEST(Records, SymbolicLinksAreUnixEntriesOfTheLinkType) {
  TZipHeaderInfo e;
  e.VersionMadeBy = 0x031E;
  e.ExternalFileAttributes = 0120777u << 16;
  EXPECT_TRUE(e.IsSymbolicLink());
  e.ExternalFileAttributes = 0100644u << 16;
  EXPECT_FALSE(e.IsSymbolicLink()) << "a regular file";
  e.ExternalFileAttributes = 0120777u << 16;
  e.VersionMadeBy = 0x001E;
  EXPECT_FALSE(e.IsSymbolicLink()) << "a DOS host's attributes say nothing of links";
}

// Comments and the AES and Unicode Comment blocks are rare and kept apart
// from the entry's other fields: copies, re-reads and Clear must still
// carry or drop them with the entry.
TEST(Records, CommentAndAesBlocksFollowTheEntry) {
  const std::string aes("\x02\x00" "AE\x03\x08\x00", 7);
  std::string extra;
  Put16(extra, 0x9901);
  Put16(extra, 7);
  extra += aes;
  Put16(extra, 0x6375);
  Put16(extra, 8);
  extra += '\x01';
  Put32(extra, 0xCFBDFA14u);  // CRC-32 of "note"
  extra += "\xE6\x96\xB0";  // U+65B0
  const std::string xinSystem = quv::platform::kIsWindows ? "\xD0\xC2" : "\xE6\x96\xB0";
  Fields f;
  f.extra = static_cast<unsigned>(extra.size());
  f.comment = 4;
  TMemoryStream s(Central("a.txt", f) + extra + "note");
  TZipHeaderInfo read;
  ASSERT_TRUE(ReadCentral(read, s));
  EXPECT_EQ(read.AesExtra(), aes);

  TZipHeaderInfo copy;
  copy.Assign(&read);
  EXPECT_EQ(copy.AesExtra(), aes);
  copy.SetStoredComment("note");
  EXPECT_EQ(copy.FileComment(), xinSystem) << "the Unicode Comment block came along";
  TZipHeaderInfo second;
  copy.AssignTo(&second);
  EXPECT_EQ(second.FileComment(), xinSystem);
  EXPECT_EQ(second.AesExtra(), aes);

  TZipHeaderInfo plain;
  plain.SetFileName("b.txt");
  second.Assign(&plain);
  EXPECT_EQ(second.AesExtra(), "");
  EXPECT_EQ(second.FileComment(), xinSystem) << "kept: the source has no comment loaded";
  second.SetStoredComment("note");
  EXPECT_EQ(second.FileComment(), "note") << "the Unicode Comment block went with the copy";
  second.Clear();
  EXPECT_FALSE(second.FileCommentLoaded());

  TMemoryStream bare(Central("c.txt"));
  ASSERT_TRUE(ReadCentral(copy, bare));
  EXPECT_EQ(copy.AesExtra(), "") << "a re-read entry keeps nothing of the old header";
  EXPECT_FALSE(copy.FileCommentLoaded());
}

TEST(Records, DoubleByteTrailBytesAreNotSeparators) {
  // 0x81 0x5C is one character in code page 936; only Windows knows that.
  TMemoryStream s(Central("ab\x81\x5C" "c.txt"));
  TZipHeaderInfo e;
  ASSERT_TRUE(ReadCentral(e, s));
  if constexpr (quv::platform::kIsWindows) {
    EXPECT_EQ(e.Directory(), "");
    EXPECT_EQ(e.FileName(), "ab\x81\x5C" "c.txt");
    e.SetDirectory("x\x81\x5C");
    EXPECT_EQ(e.Directory(), "x\x81\x5C\\");
  } else {
    EXPECT_EQ(e.Directory(), "ab\x81\\");
    EXPECT_EQ(e.FileName(), "c.txt");
  }
}

TEST(Records, CentralHeaderCutAtAVolumeEnd) {
  const std::string header = Central("part.bin");
  TMemoryStream first("xyz" + header.substr(0, 20));
  TMemoryStream second(header.substr(20) + "next");
  TMemoryStream whole(header);
  int calls = 0;
  TZipHeaderInfo e;
  TMemoryStream* upcoming = &second;
  quv::TNextVolume next = [&](void* owner, TZipHeaderInfo& entry, TStream*& stream) {
    EXPECT_EQ(owner, &calls);
    EXPECT_EQ(&entry, &e);
    ++calls;
    upcoming->Seek(0, quv::soFromBeginning);
    stream = upcoming;
  };
  TStream* stream = &first;
  first.Seek(3, quv::soFromBeginning);
  ASSERT_TRUE(e.ReadCentralFromStream(stream, next, &calls));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(stream, &second);
  EXPECT_EQ(e.FileName(), "part.bin");
  EXPECT_EQ(e.CRC32, 0x12345678u);
  EXPECT_EQ(e.CentralHeaderOffset, 3u);
  EXPECT_EQ(second.Position(), 26 + 8);

  // Without a callback the read fails where it started.
  stream = &first;
  first.Seek(3, quv::soFromBeginning);
  EXPECT_FALSE(e.ReadCentralFromStream(stream, nullptr, nullptr));
  EXPECT_EQ(first.Position(), 3);

  // Bytes that are not the start of a header do not change the volume.
  TMemoryStream garbage("PK\x05\x06tail");
  stream = &garbage;
  EXPECT_FALSE(e.ReadCentralFromStream(stream, next, &calls));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(stream, &garbage);

  // Nothing at all left: the header may begin on the next volume.
  TMemoryStream spent("");
  stream = &spent;
  upcoming = &whole;
  ASSERT_TRUE(e.ReadCentralFromStream(stream, next, &calls)) << "the whole header comes from the next volume";
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(stream, &whole);
  EXPECT_EQ(e.FileName(), "part.bin");
}

TEST(Records, FindEndCentralEdgeCases) {
  TEndCentral end;
  TMemoryStream empty;
  EXPECT_TRUE(end.FindEndCentral(empty));
  EXPECT_EQ(end.TotalEntries, 0);
  for (int n : {1, 21}) {
    TMemoryStream tiny(std::string(static_cast<std::size_t>(n), 'P'));
    EXPECT_FALSE(end.FindEndCentral(tiny)) << n;
  }
  TMemoryStream none(std::string(5000, 'P'));
  EXPECT_FALSE(end.FindEndCentral(none));

  // A comment holding a signature with 18 bytes after it wins: it is nearest the end.
  const std::string fake = EndRecord(7, 1, 2, "");
  TMemoryStream tricky(std::string(10, 'x') + EndRecord(3, 100, 200, "ab" + fake));
  ASSERT_TRUE(end.FindEndCentral(tricky));
  EXPECT_EQ(end.TotalEntries, 7);
  EXPECT_EQ(end.ZipCommentOffset, 10 + 22 + 2 + 22);
  EXPECT_EQ(tricky.Position(), tricky.Size()) << "left at the end";

  // One with fewer bytes after it does not.
  TMemoryStream plain(std::string(10, 'x') + EndRecord(3, 100, 200, "ab" + fake.substr(0, 21)));
  ASSERT_TRUE(end.FindEndCentral(plain));
  EXPECT_EQ(end.TotalEntries, 3);
  EXPECT_EQ(end.CentralDirSize, 100u);
  EXPECT_EQ(end.CentralDirOffset, 200u);
  EXPECT_EQ(end.ZipCommentLength, 23);
  EXPECT_EQ(end.ZipCommentOffset, 32);
  EXPECT_FALSE(end.ZipCommentLoaded()) << "the comment is read on demand";

  // The search looks at the last 65,557 bytes only.
  TMemoryStream far(EndRecord(1, 0, 0, "") + std::string(65536, 'z'));
  EXPECT_FALSE(end.FindEndCentral(far));
  TMemoryStream justInReach(EndRecord(1, 0, 0, "") + std::string(65535, 'z'));
  EXPECT_TRUE(end.FindEndCentral(justInReach));
  EXPECT_EQ(end.ZipCommentOffset, 22);
}

TEST(Records, CopyingAndComments) {
  TZipHeaderInfo a;
  a.SetDirectory("x");
  a.SetFileName("y.z");
  EXPECT_EQ(a.Directory(), "x\\");
  EXPECT_EQ(a.FileNameLength, 5);
  a.SetFileComment(std::string("note"));
  EXPECT_EQ(a.FileCommentLength, 4);
  a.CRC32 = 77;
  a.OEMConvert = true;
  a.Selected = true;

  TZipHeaderInfo b;
  b.SetFileComment(std::string("old"));
  b.Assign(&a);
  EXPECT_EQ(b.StoredPath(), "x\\y.z");
  EXPECT_EQ(b.CRC32, 77u);
  EXPECT_EQ(b.FileComment(), "note");
  EXPECT_TRUE(b.Selected);
  EXPECT_FALSE(b.OEMConvert) << "not copied";

  TZipHeaderInfo c;
  c.SetFileComment(std::string("mine"));
  TZipHeaderInfo unloaded;
  unloaded.FileCommentLength = 9;  // known length, text not loaded
  unloaded.AssignTo(&c);
  EXPECT_EQ(c.FileComment(), "mine") << "keeps its own text when the source has none loaded";
  EXPECT_EQ(c.FileCommentLength, 9);
  c.SetFileComment(std::nullopt);
  EXPECT_FALSE(c.FileCommentLoaded());
  EXPECT_EQ(c.FileCommentLength, 0);

  TEndCentral end;
  try {
    end.Assign(&a);
    FAIL() << "an entry was assigned to an end record";
  } catch (const quv::EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TZipHeaderInfo to a TEndCentral");
  }

  end.SetZipComment("hello");
  end.ThisDisk = 2;
  end.ZipCommentOffset = 99;
  end.Modified = true;
  TEndCentral copy;
  copy.Assign(&end);
  EXPECT_EQ(copy.ZipComment(), "hello");
  EXPECT_EQ(copy.ZipCommentLength, 5);
  EXPECT_EQ(copy.ThisDisk, 2);
  EXPECT_EQ(copy.ZipCommentOffset, 99);
  EXPECT_FALSE(copy.Modified);
  end.SetZipComment("");
  EXPECT_FALSE(end.ZipCommentLoaded());
  EXPECT_FALSE(end.HasComment());
}

TEST(Records, SignatureTable) {
  quv::SetZipSignatures(0x11111111, 0x0A0B0C0D, 0x22222233);
  EXPECT_EQ(quv::ZipSignatures().Central, 0x11111111u);
  EXPECT_EQ(quv::ZipSignatures().LocalBytes, (std::array<std::uint8_t, 4>{0x0D, 0x0C, 0x0B, 0x0A}));
  EXPECT_EQ(quv::ZipSignatures().EndCentralFirstByte, 0x33);
  TMemoryStream standard(Local("a"));
  TZipHeaderInfo e;
  EXPECT_FALSE(e.ReadLocalFromStream(standard));
  quv::SetZipSignatures(0, 0, 0);
  EXPECT_EQ(quv::ZipSignatures().Local, 0x04034B50u);
  EXPECT_EQ(quv::ZipSignatures().EndCentralFirstByte, 0x50);
  EXPECT_TRUE(e.ReadLocalFromStream(standard));
}

}  // namespace
