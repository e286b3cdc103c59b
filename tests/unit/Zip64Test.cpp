// Zip64 archives made by Python's zipfile, Info-ZIP zip (-fz, split with -s)
// and 7-Zip (tests/testdata.d/zip64.sh): listed, tested and extracted
// against what was put in; the directory rebuilt from Zip64 descriptors; an
// entry past 4 GiB; an archive whose records lie past 4 GiB.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "ArchiveBuilder.h"
#include "TestSupport.h"
#include "platform/Platform.h"
#include "unzip/UnZip.h"
#include "zip/Exception.h"
#include "zip/Stream.h"

namespace quv::test {
namespace {

std::string Data(const std::string& name) { return Join(Join(TestDataDir(), "zip64"), name); }

struct Expected {
  std::string name;  // engine form, "\" separators
  std::int64_t size = 0;
  std::uint32_t crc = 0;
};

std::vector<Expected> ReadExpected(const std::string& archive) {
  std::istringstream in(ReadFile(Data(archive + ".expect")));
  std::vector<Expected> out;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Expected e;
    std::string crc;
    std::getline(fields, e.name, '\t');
    fields >> e.size >> crc;
    for (char& c : e.name) {
      if (c == '/') c = '\\';
    }
    e.crc = static_cast<std::uint32_t>(std::stoul(crc, nullptr, 16));
    out.push_back(e);
  }
  return out;
}

struct RunResult {
  std::int32_t extracted = 0;
  std::vector<std::int32_t> failures;  // indexes with a bad CRC or skipped
};

// Every entry (or those matching pattern), tested (decoded, CRC checked) or
// extracted into dest.
RunResult ExtractAll(TUnZip& zip, const std::string& dest, const std::string& pattern = "") {
  RunResult r;
  zip.SetDoAll(pattern.empty());
  if (!pattern.empty()) zip.FilesList().Add(pattern);
  zip.SetRecreateDirs(true);
  zip.SetOverwriteMode(Always);
  zip.SetTestMode(dest.empty());
  zip.SetDestDir(dest);
  zip.OnBadCRC = [&](TObject*, std::int32_t, std::int32_t, std::int32_t i) { r.failures.push_back(i); };
  zip.OnSkippingFile = [&](TObject*, TSkipReason, const std::string&, std::int32_t i, bool&) {
    r.failures.push_back(i);
  };
  r.extracted = zip.UnZipFiles();
  return r;
}

void ExpectListing(TUnZip& zip, const std::vector<Expected>& expected) {
  ASSERT_EQ(zip.Count(), static_cast<std::int32_t>(expected.size()));
  for (std::int32_t i = 0; i < zip.Count(); ++i) {
    const Expected& e = expected[static_cast<std::size_t>(i)];
    EXPECT_EQ(zip.Entry(i).StoredPath(), e.name);
    EXPECT_EQ(zip.Entry(i).UncompressedSize, e.size) << e.name;
    EXPECT_EQ(zip.Entry(i).CRC32, e.crc) << e.name;
  }
}

TEST(Zip64, ToolArchivesListAndTestAsTheirContents) {
  for (const char* name : {"force64.zip", "stream64.zip", "fz.zip", "fz-files.zip", "7z.zip", "split.zip", "many.zip",
                           "sparse.zip"}) {
    SCOPED_TRACE(name);
    const std::vector<Expected> expected = ReadExpected(name);
    TUnZip zip;
    zip.SetZipName(Data(name));
    zip.LoadDirectory();
    ExpectListing(zip, expected);
    // Of the 70,000 entries the 10,000 from 60,000 on (past the 16-bit count) are enough to test.
    const bool many = std::string(name) == "many.zip";
    const RunResult r = ExtractAll(zip, "", many ? "d6?\\*" : "");
    EXPECT_EQ(r.extracted, many ? 10000 : static_cast<std::int32_t>(expected.size()));
    EXPECT_TRUE(r.failures.empty());
  }
}

TEST(Zip64, SplitAndSparseArchivesExtractTheirFiles) {
  for (const char* name : {"split.zip", "sparse.zip"}) {
    SCOPED_TRACE(name);
    TempDir dest;
    TUnZip zip;
    zip.SetZipName(Data(name));
    const RunResult r = ExtractAll(zip, dest.path());
    EXPECT_TRUE(r.failures.empty());
    for (const Expected& e : ReadExpected(name)) {
      const std::string bytes = ReadFile(dest / e.name);
      EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), e.size) << e.name;
      EXPECT_EQ(~UpdateCrc(0xFFFFFFFFu, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), e.crc)
          << e.name;
    }
  }
}

TEST(Zip64, LostDirectoryIsRebuiltFromZip64Descriptors) {
  // With the descriptors' signatures and without them.
  for (const char* name : {"stream64-nocd.zip", "stream64-nosig-nocd.zip"}) {
    SCOPED_TRACE(name);
    TUnZip zip;
    zip.SetIncompleteZipMode(izAssumeBad);
    zip.SetZipName(Data(name));
    zip.LoadDirectory();
    EXPECT_TRUE(zip.LocalScanDone());
    ExpectListing(zip, ReadExpected(name));
    EXPECT_TRUE(ExtractAll(zip, "").failures.empty());
  }
}

TEST(Zip64, EntryPast4GiBDecodesWithItsCrcAndProgress) {
  const std::vector<Expected> expected = ReadExpected("zeros.zip");
  TUnZip zip;
  zip.SetZipName(Data("zeros.zip"));
  zip.LoadDirectory();
  ExpectListing(zip, expected);
  std::int32_t lastPercent = -1;
  zip.OnFilePercentDone = [&](TObject*, std::int32_t percent) {
    EXPECT_GE(percent, lastPercent);
    lastPercent = percent;
  };
  const RunResult r = ExtractAll(zip, "");
  EXPECT_EQ(r.extracted, 1);
  EXPECT_TRUE(r.failures.empty());
  EXPECT_EQ(lastPercent, 100);
}

TEST(Zip64, SeeksThatCannotBeDoneRaise) {
  TFileStream file(Data("force64.zip"), platform::fmOpenRead);
  EXPECT_THROW(file.Seek(-1, soFromBeginning), EStreamError);
  EXPECT_EQ(file.Seek(5000000000LL, soFromBeginning), 5000000000LL) << "past the end is a position, as on disk";
  TMemoryStream memory("abc");
  EXPECT_THROW(memory.Seek(-4, soFromEnd), EStreamError);
}

constexpr std::int64_t k2GiB = 0x80000000LL;
constexpr std::int64_t k4GiB = 0x100000000LL;

BuiltEntry Stored(const std::string& name, std::int64_t at) {
  BuiltEntry e;
  e.name = name;
  e.data = name + " holds this line\n";
  e.at = at;
  return e;
}

TEST(Zip64, SparseArchiveWithEntriesPast2And4GiBListsAndTestsInOrder) {
  // 4 GiB apart from the first: the same offset in 32 bits.
  TempDir dir;
  const std::string path = dir / "far.zip";
  WriteSparseArchive(path, {Stored("start.txt", 0), Stored("three.txt", 3 * k2GiB / 2), Stored("four.txt", k4GiB)});
  TUnZip zip;
  zip.SetZipName(path);
  zip.LoadDirectory();
  EXPECT_FALSE(zip.DirectoryRebuilt());
  ASSERT_EQ(zip.Count(), 3);
  EXPECT_EQ(zip.Entry(0).StoredPath(), "start.txt");
  EXPECT_EQ(zip.Entry(1).RelativeOffsetOfLocalHeader, 3 * k2GiB / 2);
  EXPECT_EQ(zip.Entry(2).RelativeOffsetOfLocalHeader, k4GiB);
  const RunResult r = ExtractAll(zip, "");
  EXPECT_EQ(r.extracted, 3);
  EXPECT_TRUE(r.failures.empty());
}

TEST(Zip64, LocalScanFindsAHeaderAt4GiB) {
  TempDir dir;
  const std::string path = dir / "scan.zip";
  // The first entry's stated data runs up to the second header at 4 GiB.
  BuiltEntry first = Stored("a", 0);
  first.compressedSize = static_cast<std::int32_t>(k4GiB - 31);
  WriteSparseArchive(path, {first, Stored("b.txt", k4GiB)});
  {
    // No end record: only the scan can list the entries.
    TFileStream file(path, platform::fmOpenReadWrite);
    file.Seek(-22, soFromEnd);
    file.WriteBuffer("\0\0\0\0", 4);
  }
  TUnZip zip;
  zip.SetIncompleteZipMode(izAssumeBad);
  zip.SetZipName(path);
  zip.LoadDirectory();
  EXPECT_EQ(zip.RebuildReason(), "no end record");
  ASSERT_EQ(zip.Count(), 2);
  EXPECT_EQ(zip.Entry(1).RelativeOffsetOfLocalHeader, k4GiB);
  EXPECT_EQ(zip.Entry(1).StoredPath(), "b.txt");
}

TEST(Zip64, WrongPasswordIsRetriedFromTheRightPlacePast2GiB) {
  TempDir dir;
  const std::string path = dir / "secret.zip";
  BuiltEntry secret = Stored("secret.txt", k2GiB + 4096);
  secret.password = "right";
  WriteSparseArchive(path, {Stored("plain.txt", 0), secret});
  TUnZip zip;
  zip.SetZipName(path);
  zip.SetPassword("wrong");
  int asked = 0;
  zip.OnBadPassword = [&](TObject*, std::int32_t, std::string& next) {
    ++asked;
    next = "right";
  };
  const RunResult r = ExtractAll(zip, "");
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(r.extracted, 2);
  EXPECT_TRUE(r.failures.empty());
}

}  // namespace
}  // namespace quv::test
