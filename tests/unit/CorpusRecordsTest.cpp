// The record readers against the shared corpus, with `zipinfo -v` as the
// oracle (its reports are saved by tests/testdata.d/zipinfo.sh): the end
// record and every central and local header are read and compared field by
// field. Archives that zipinfo cannot read (first parts of split sets, a
// text file, directories pointing outside the file) must fail here too.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "zip/BufferStream.h"
#include "zip/Records.h"

namespace {

using quv::TEndCentral;
using quv::TLFNFileStream;
using quv::TStream;
using quv::TZipHeaderInfo;

struct OracleEntry {
  std::string name;
  std::map<std::string, std::string> fields;  // "key" -> value text
};

struct Oracle {
  int rc = 0;
  bool endFound = false;
  bool directoryMissing = false;  // zipinfo found the end record but no central directory
  std::int64_t actualEnd = -1;
  std::int64_t expectedEnd = -1;
  std::int64_t thisDisk = 0, centralDisk = 0, entriesThisDisk = -1, totalEntries = -1;
  std::int64_t centralSize = -1, centralOffset = -1, commentLength = 0;
  std::vector<OracleEntry> entries;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(' ');
  const auto e = s.find_last_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// The decimal number that follows `marker` (after spaces); -1 when absent.
std::int64_t After(const std::string& text, const std::string& marker) {
  const auto at = text.find(marker);
  if (at == std::string::npos) return -1;
  std::size_t i = at + marker.size();
  while (i < text.size() && text[i] == ' ') ++i;
  std::size_t j = i;
  while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
  return j > i ? std::stoll(text.substr(i, j - i)) : -1;
}

// The decimal number just before `marker`; -1 when absent.
std::int64_t Before(const std::string& text, const std::string& marker) {
  const auto at = text.find(marker);
  if (at == std::string::npos) return -1;
  std::size_t i = at;
  while (i > 0 && text[i - 1] >= '0' && text[i - 1] <= '9') --i;
  return i < at ? std::stoll(text.substr(i, at - i)) : -1;
}

// "<prefix><value><suffix>" -> value, or empty when key has another form.
std::string Between(const std::string& key, const std::string& prefix, const std::string& suffix) {
  if (key.size() <= prefix.size() + suffix.size() || key.rfind(prefix, 0) != 0 ||
      key.compare(key.size() - suffix.size(), suffix.size(), suffix) != 0)
    return std::string();
  return key.substr(prefix.size(), key.size() - prefix.size() - suffix.size());
}

Oracle ParseReport(const std::string& text, int rc) {
  Oracle o;
  o.rc = rc;
  const std::vector<std::string> lines = Lines(text);
  std::size_t i = 0;
  // The end-record part: everything before the first entry, as one text.
  std::string head;
  for (; i < lines.size() && lines[i].rfind("Central directory entry #", 0) != 0; ++i) head += Trim(lines[i]) + " ";
  o.endFound = head.find("Actual end-cent-dir record offset:") != std::string::npos;
  o.directoryMissing = head.find("start of central directory not found") != std::string::npos ||
                       head.find("attempt to seek before beginning") != std::string::npos;
  o.actualEnd = After(head, "Actual end-cent-dir record offset:");
  o.expectedEnd = After(head, "Expected end-cent-dir record offset:");
  o.commentLength = std::max<std::int64_t>(0, After(head, "The zipfile comment is "));
  if (head.find("the sole disk of a single-part archive") != std::string::npos) {
    // Only the total is shown for a single-part archive.
    o.totalEntries = After(head, "central directory contains ");
    o.centralSize = After(head, "The central directory is ");
    o.centralOffset = After(head, "from the beginning of the zipfile is ");
  } else {
    o.thisDisk = After(head, "constitutes disk ") - 1;
    o.centralDisk = After(head, "central directory starts on disk ") - 1;
    o.centralOffset = After(head, "within that archive part of ");
    o.centralSize = After(head, "The entire central directory is ");
    o.entriesThisDisk = Before(head, " of the archive entries are contained within this zipfile volume");
    o.totalEntries = After(head, "out of a total of ");
  }
  // One block per entry; the name is the last text line before the offset line.
  while (i < lines.size()) {
    OracleEntry e;
    std::size_t j = i + 1;
    std::string lastText;
    for (; j < lines.size() && lines[j].rfind("  offset of local header", 0) != 0; ++j) {
      if (!Trim(lines[j]).empty() && lines[j].find("-----") == std::string::npos) lastText = lines[j];
    }
    e.name = lastText.size() >= 2 ? lastText.substr(2) : lastText;
    for (; j < lines.size() && lines[j].rfind("Central directory entry #", 0) != 0; ++j) {
      const auto colon = lines[j].find(':');
      if (lines[j].rfind("  ", 0) == 0 && colon != std::string::npos)
        e.fields.emplace(Trim(lines[j].substr(0, colon)), Trim(lines[j].substr(colon + 1)));
    }
    o.entries.push_back(std::move(e));
    i = j;
  }
  return o;
}

// zipinfo's names of hosts and methods.
int HostNumber(const std::string& text) {
  static const char* const kHosts[] = {"MS-DOS, OS/2 or NT FAT", "Amiga", "VAX VMS", "Unix", "VM/CMS", "Atari ST",
                                       "OS/2 or NT HPFS", "Macintosh HFS", "Z-System", "CP/M", "TOPS-20", "NTFS",
                                       "SMS/QDOS", "Acorn RISC OS", "Win32 VFAT", "MVS", "BeOS", "Tandem NSK",
                                       "Theos", "Mac OS/X (Darwin)"};
  for (int k = 0; k < static_cast<int>(std::size(kHosts)); ++k) {
    if (text == kHosts[k]) return k;
  }
  const std::int64_t n = After(text, "unknown (");
  return static_cast<int>(n);
}

int MethodNumber(const std::string& text) {
  static const std::map<std::string, int> kMethods = {
      {"none (stored)", 0}, {"shrunk", 1}, {"reduced (factor 1)", 2}, {"reduced (factor 2)", 3},
      {"reduced (factor 3)", 4}, {"reduced (factor 4)", 5}, {"imploded", 6}, {"tokenized", 7},
      {"deflated", 8}, {"deflated (enhanced-64k)", 9}, {"DCL imploded", 10}, {"bzipped", 12},
      {"LZMA-ed", 14}, {"PPMd-ed", 98}};
  const auto it = kMethods.find(text);
  if (it != kMethods.end()) return it->second;
  return static_cast<int>(After(text, "unknown ("));
}

int Version(const std::string& text) {
  int major = 0, minor = 0;
  if (std::sscanf(text.c_str(), "%d.%d", &major, &minor) != 2) return -1;
  return major * 10 + minor;
}

std::string DosDate(std::uint32_t v) {
  static const char* const kMonths[] = {"???", "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul",
                                        "Aug", "Sep", "Oct", "Nov", "Dec", "???", "???", "???"};
  char text[64];
  std::snprintf(text, sizeof text, "%u %s %u %02u:%02u:%02u", ((v >> 25) & 0x7F) + 1980, kMonths[(v >> 21) & 0x0F],
                (v >> 16) & 0x1F, (v >> 11) & 0x1F, (v >> 5) & 0x3F, (v & 0x1F) * 2);
  return text;
}

// Names are compared only when zipinfo shows plain printable ASCII: it shows
// other names in its own way (from the Unicode path extra field, with ^X
// escapes, or recoded), so no byte comparison is possible there.
bool IsPlainAscii(const std::string& s) {
  for (unsigned char c : s) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

std::string Backslashed(std::string s) {
  for (char& c : s) {
    if (c == '/') c = '\\';
  }
  return s;
}

std::int64_t Number(const std::map<std::string, std::string>& f, const std::string& key) {
  const auto it = f.find(key);
  if (it == f.end()) return -1;
  return std::stoll(it->second);
}

// The file of volume `disk` (0-based) of a split set named like X.003.
std::string VolumeFile(const std::string& path, int disk) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%03d", disk + 1);
  return path.substr(0, path.size() - 3) + digits;
}

void CompareCentral(const OracleEntry& o, const TZipHeaderInfo& e, const std::string& where) {
  SCOPED_TRACE(where + " central " + o.name);
  const auto& f = o.fields;
  if (IsPlainAscii(o.name) && IsPlainAscii(e.StoredPath())) {
    EXPECT_EQ(e.StoredPath(), Backslashed(o.name));
    // A Unicode Path field may give a name of another length.
    EXPECT_EQ(e.FileNameLength, Number(f, "length of filename"));
  }
  EXPECT_EQ(e.RelativeOffsetOfLocalHeader, Number(f, "offset of local header from start of archive"));
  EXPECT_EQ(e.VersionMadeBy >> 8, HostNumber(f.at("file system or operating system of origin")));
  EXPECT_EQ(e.VersionMadeBy & 0xFF, Version(f.at("version of encoding software")));
  EXPECT_EQ(e.VersionNeeded >> 8, HostNumber(f.at("minimum file system compatibility required")));
  EXPECT_EQ(e.VersionNeeded & 0xFF, Version(f.at("minimum software version required to extract")));
  EXPECT_EQ(e.CompressionMethod, MethodNumber(f.at("compression method")));
  if (f.count("compression sub-type (deflation)")) {
    static const std::map<std::string, int> kSub = {{"normal", 0}, {"maximum", 1}, {"fast", 2}, {"superfast", 3}};
    EXPECT_EQ((e.BitFlag >> 1) & 3, kSub.at(f.at("compression sub-type (deflation)")));
  }
  if (f.count("size of sliding dictionary (implosion)")) {
    EXPECT_EQ((e.BitFlag & 2) != 0, f.at("size of sliding dictionary (implosion)") == "8K");
  }
  if (f.count("number of Shannon-Fano trees (implosion)")) {
    EXPECT_EQ((e.BitFlag & 4) != 0, f.at("number of Shannon-Fano trees (implosion)") == "3");
  }
  EXPECT_EQ(e.IsEncrypted(), f.at("file security status") == "encrypted");
  EXPECT_EQ(e.HasDataDescriptor(), f.at("extended local header") == "yes");
  EXPECT_EQ(DosDate(e.LastModFileDateTime), f.at("file last modified on (DOS date/time)"));
  EXPECT_EQ(e.CRC32, std::stoul(f.at("32-bit CRC value (hex)"), nullptr, 16));
  EXPECT_EQ(static_cast<std::uint32_t>(e.CompressedSize), Number(f, "compressed size"));
  EXPECT_EQ(static_cast<std::uint32_t>(e.UncompressedSize), Number(f, "uncompressed size"));
  EXPECT_EQ(e.CentralExtraFieldLength, Number(f, "length of extra field"));
  EXPECT_EQ(e.FileCommentLength, Number(f, "length of file comment"));
  EXPECT_EQ(e.DiskNumberStart + 1, std::stoll(f.at("disk number on which file begins").substr(5)));
  EXPECT_EQ((e.InternalFileAttributes & 1) != 0, f.at("apparent file type") == "text");
  int checkedAttributes = 0;
  for (const auto& [key, value] : f) {
    const std::string dos = Between(key, "MS-DOS file attributes (", " hex)");
    const std::string unix = Between(key, "Unix file attributes (", " octal)");
    if (!dos.empty()) {
      EXPECT_EQ(e.ExternalFileAttributes & 0xFF, std::stoul(dos, nullptr, 16));
      ++checkedAttributes;
    } else if (!unix.empty()) {
      EXPECT_EQ(e.ExternalFileAttributes >> 16, std::stoul(unix, nullptr, 8));
      ++checkedAttributes;
    } else if (key == "non-MSDOS external file attributes") {
      EXPECT_EQ(e.ExternalFileAttributes >> 8, std::stoul(value, nullptr, 16));
      ++checkedAttributes;
    }
  }
  EXPECT_GT(checkedAttributes, 0);
}

void CompareLocal(const TZipHeaderInfo& central, const TZipHeaderInfo& local, const std::string& where) {
  SCOPED_TRACE(where + " local " + central.StoredPath());
  EXPECT_EQ(local.StoredPath(), central.StoredPath());
  EXPECT_EQ(local.CompressionMethod, central.CompressionMethod);
  EXPECT_EQ(local.BitFlag & 0x0F, central.BitFlag & 0x0F);
  EXPECT_EQ(local.FileNameLength, central.FileNameLength);
  if (!local.HasDataDescriptor()) {
    EXPECT_EQ(local.CRC32, central.CRC32);
    EXPECT_EQ(local.CompressedSize, central.CompressedSize);
    EXPECT_EQ(local.UncompressedSize, central.UncompressedSize);
  } else {
    // Values that only the descriptor after the data carries may be 0 here.
    EXPECT_TRUE(local.CRC32 == 0 || local.CRC32 == central.CRC32);
    EXPECT_TRUE(local.CompressedSize == 0 || local.CompressedSize == central.CompressedSize);
  }
}

// Whether a central header can be read at offset (an offset outside the
// file, or one the 32-bit stream positions cannot express, reads nothing).
bool CentralReadableAt(TStream& stream, std::int64_t offset) {
  if (offset < 0 || offset >= stream.Size()) return false;
  stream.Seek(static_cast<std::int32_t>(offset), quv::soFromBeginning);
  TZipHeaderInfo e;
  TStream* s = &stream;
  return e.ReadCentralFromStream(s, nullptr, nullptr);
}

struct Tally {
  int archives = 0, endRecordsMissing = 0, directoriesMissing = 0, centrals = 0, locals = 0;
};

void CheckArchive(const std::string& path, const Oracle& oracle, Tally& tally) {
  SCOPED_TRACE(path);
  ++tally.archives;
  TLFNFileStream stream(path, 8192, false, quv::platform::fmOpenRead | quv::platform::fmShareDenyWrite);
  TEndCentral end;
  const bool found = end.FindEndCentral(stream);
  if (!oracle.endFound) {
    EXPECT_NE(oracle.rc, 0);
    EXPECT_FALSE(found) << "zipinfo finds no end record here";
    ++tally.endRecordsMissing;
    return;
  }
  ASSERT_TRUE(found);
  EXPECT_EQ(end.ZipCommentOffset - 22, oracle.actualEnd);
  EXPECT_EQ(end.ThisDisk, oracle.thisDisk);
  EXPECT_EQ(end.CentralDisk, oracle.centralDisk);
  if (oracle.entriesThisDisk >= 0) {
    EXPECT_EQ(end.EntriesThisDisk, oracle.entriesThisDisk);
  }
  EXPECT_EQ(end.TotalEntries, oracle.totalEntries);
  EXPECT_EQ(end.CentralDirSize, oracle.centralSize);
  EXPECT_EQ(end.CentralDirOffset, oracle.centralOffset);
  EXPECT_EQ(end.ZipCommentLength, oracle.commentLength);

  // Bytes in front of the archive (or missing from it) move every offset.
  const std::int64_t shift = end.ThisDisk == 0 ? oracle.actualEnd - oracle.expectedEnd : 0;
  const std::int64_t centralStart = static_cast<std::int64_t>(end.CentralDirOffset) + shift;
  if (oracle.directoryMissing || (oracle.entries.empty() && end.TotalEntries > 0)) {
    EXPECT_NE(oracle.rc, 0);
    EXPECT_FALSE(CentralReadableAt(stream, end.CentralDirOffset));
    EXPECT_FALSE(CentralReadableAt(stream, centralStart));
    ++tally.directoriesMissing;
    return;
  }
  ASSERT_EQ(static_cast<std::int64_t>(oracle.entries.size()), oracle.totalEntries);
  ASSERT_EQ(end.CentralDisk, end.ThisDisk) << "the corpus keeps directories on the last volume";

  std::map<int, std::unique_ptr<TLFNFileStream>> volumes;
  auto volume = [&](int disk) -> TStream& {
    if (std::cmp_equal(disk, end.ThisDisk)) return stream;
    auto& v = volumes[disk];
    if (!v) v = std::make_unique<TLFNFileStream>(VolumeFile(path, disk), 4096, false, quv::platform::fmOpenRead);
    return *v;
  };

  std::vector<std::unique_ptr<TZipHeaderInfo>> centrals;
  stream.Seek(centralStart, quv::soFromBeginning);
  for (const OracleEntry& o : oracle.entries) {
    auto e = std::make_unique<TZipHeaderInfo>();
    const std::int64_t at = stream.Position();
    TStream* s = &stream;
    ASSERT_TRUE(e->ReadCentralFromStream(s, nullptr, nullptr)) << o.name;
    EXPECT_EQ(e->CentralHeaderOffset, at);
    CompareCentral(o, *e, path);
    stream.Seek(e->FileCommentLength, quv::soFromCurrent);
    centrals.push_back(std::move(e));
    ++tally.centrals;
  }
  // The end record follows: no further header, and the position is kept.
  const std::int64_t after = stream.Position();
  TZipHeaderInfo extra;
  TStream* s = &stream;
  EXPECT_FALSE(extra.ReadCentralFromStream(s, nullptr, nullptr));
  EXPECT_EQ(stream.Position(), after);
  EXPECT_EQ(after, oracle.actualEnd);

  for (const auto& c : centrals) {
    TStream& v = volume(c->DiskNumberStart);
    v.Seek(static_cast<std::int32_t>(c->RelativeOffsetOfLocalHeader + shift), quv::soFromBeginning);
    TZipHeaderInfo local;
    ASSERT_TRUE(local.ReadLocalFromStream(v)) << c->StoredPath();
    EXPECT_EQ(local.RelativeOffsetOfLocalHeader, c->RelativeOffsetOfLocalHeader + shift);
    CompareLocal(*c, local, path);
    ++tally.locals;
  }
}

TEST(CorpusRecords, EveryHeaderAgreesWithZipinfo) {
  const std::string data = quv::test::TestDataDir();
  const std::string corpus = quv::test::CorpusDir();
  ASSERT_FALSE(data.empty()) << "QUV_TESTDATA is not set";
  ASSERT_FALSE(corpus.empty()) << "QUV_CORPUS is not set";
  Tally tally;
  int reports = 0;
  for (const std::string folder : {"real", "legacy"}) {
    const std::string reportDir = quv::test::Join(quv::test::Join(data, "zipinfo"), folder);
    for (const std::string& file : quv::test::ListDir(reportDir)) {
      if (file.size() < 4 || file.substr(file.size() - 4) != ".txt") continue;
      ++reports;
      const std::string archive = file.substr(0, file.size() - 4);
      const std::string base = quv::test::Join(reportDir, archive);
      const int rc = std::stoi(quv::test::ReadFile(base + ".rc"));
      const Oracle oracle = ParseReport(quv::test::ReadFile(base + ".txt"), rc);
      CheckArchive(quv::test::Join(quv::test::Join(corpus, folder), archive), oracle, tally);
    }
  }
  const std::string count = quv::test::ReadFile(quv::test::Join(quv::test::Join(data, "zipinfo"), "count"));
  ASSERT_FALSE(count.empty());
  EXPECT_EQ(reports, std::stoi(count));
  EXPECT_EQ(tally.archives, reports);
  // Five files without an end record (a text file, the first two parts of
  // each split set) and three whose directory lies outside the file.
  EXPECT_EQ(tally.endRecordsMissing, 5);
  EXPECT_EQ(tally.directoriesMissing, 3);
  EXPECT_GT(tally.centrals, 700);
  EXPECT_EQ(tally.locals, tally.centrals);
  std::printf("corpus: %d archives, %d central and %d local headers compared\n", tally.archives, tally.centrals,
              tally.locals);
}

}  // namespace
