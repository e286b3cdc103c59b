// Reading directories: every readable corpus archive and the producer's
// archives against Python's listings, under every sort mode; the recovery
// paths (local scan, configuration file, duplicates, lying extra lengths,
// self-extracting archives) and the failures of unreadable archives.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "ArchiveBuilder.h"
#include "UnZipTestSupport.h"
#include "platform/Platform.h"
#include "unzip/UnZip.h"
#include "zip/Exception.h"
#include "zip/Utils.h"

namespace quv {
namespace {

using test::Join;
using test::Listing;
using test::ReadListing;
using test::TempDir;
using test::UnzipData;

const TZipSortMode kAllModes[] = {ByName, ByFileName, ByDirectoryName, ByDate,
                                  ByCompressedSize, ByUnCompressedSize, ByRate, ByNone};

std::string Fold(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// The part after the last separator; the second byte of a double-byte
// character in the system code page is no separator.
std::string NamePart(const std::string& engineName) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < engineName.size(); ++i) {
    const auto c = static_cast<unsigned char>(engineName[i]);
    if (c == '\\' || c == ':') start = i + 1;
    if (platform::IsLeadByte(c)) ++i;
  }
  return engineName.substr(start);
}

std::unique_ptr<TUnZip> Load(const std::string& path, TZipSortMode mode = ByNone,
                             TIncompleteZipMode incomplete = izAssumeMulti) {
  auto u = std::make_unique<TUnZip>();
  u->SetOEMConvert(false);
  u->SetSortMode(mode);
  u->SetIncompleteZipMode(incomplete);
  u->SetZipName(path);
  u->LoadDirectory();
  return u;
}

// Whether entry b may follow entry a in the view of mode.
bool InOrder(TZipSortMode mode, const TZipHeaderInfo& a, const TZipHeaderInfo& b) {
  switch (mode) {
    case ByName: return Fold(a.StoredPath()) <= Fold(b.StoredPath());
    case ByFileName: return Fold(a.FileName()) <= Fold(b.FileName());
    case ByDirectoryName: return Fold(a.Directory()) <= Fold(b.Directory());
    case ByDate: return a.LastModFileDateTime >= b.LastModFileDateTime;
    case ByCompressedSize: return a.CompressedSize >= b.CompressedSize;
    case ByUnCompressedSize: return a.UncompressedSize >= b.UncompressedSize;
    case ByRate:
      return Percentage(a.UncompressedSize, a.CompressedSize) >= Percentage(b.UncompressedSize, b.CompressedSize);
    case ByNone:
      return std::make_tuple(a.DiskNumberStart, a.RelativeOffsetOfLocalHeader) <
             std::make_tuple(b.DiskNumberStart, b.RelativeOffsetOfLocalHeader);
  }
  return false;
}

using Row = std::tuple<std::string, std::string, std::int64_t, std::int64_t, std::uint32_t, std::uint32_t>;

// The directory holds exactly the listed entries, in the order of its sort
// mode, and every accessor answers as the listing says.
void ExpectListing(TUnZip& u, const Listing& listing, const std::string& what) {
  SCOPED_TRACE(what + " sorted " + std::to_string(u.SortMode()));
  ASSERT_TRUE(listing.loaded);
  ASSERT_EQ(u.Count(), static_cast<std::int32_t>(listing.entries.size()));
  std::multiset<Row> expected;
  std::multiset<Row> actual;
  for (const auto& e : listing.entries) {
    expected.emplace(e.EngineName(), e.comment, e.compressed, e.uncompressed, e.crc, e.dosDateTime);
  }
  for (std::int32_t i = 0; i < u.Count(); ++i) {
    const TZipHeaderInfo& entry = u.Entry(i);
    EXPECT_EQ(u.EntryFileName(i), entry.FileName());
    EXPECT_EQ(entry.FileName(), NamePart(entry.StoredPath()));
    actual.emplace(entry.StoredPath(), u.EntryComment(i), entry.CompressedSize, entry.UncompressedSize, entry.CRC32,
                   entry.LastModFileDateTime);
    if (i > 0) {
      EXPECT_TRUE(InOrder(u.SortMode(), u.Entry(i - 1), entry)) << "at " << i;
    }
  }
  EXPECT_EQ(actual, expected);
  EXPECT_EQ(u.ArchiveComment(), listing.comment);
}

// A corpus path as the manifest writes it ("real/x.zip"), on this system.
std::string CorpusPath(const std::string& root, const std::string& relative) {
  std::string path = root + (platform::kIsWindows ? "\\" : "/");
  for (char c : relative) path.push_back(c == '/' ? (platform::kIsWindows ? '\\' : '/') : c);
  return path;
}

// The archives the listings cover: every .zip the corpus manifest says is
// readable, and every other one the reference lister read.
std::set<std::string> ListedCorpusArchives() {
  std::set<std::string> archives;
  std::istringstream lines(test::ReadFile(Join(UnzipData("corpus"), "readable.list")));
  std::string source;
  while (std::getline(lines, source)) {
    if (source.size() > 4 && Fold(source.substr(source.size() - 4)) == ".zip") archives.insert(source);
  }
  for (const char* folder : {"real", "legacy"}) {
    for (const std::string& n : test::ListDir(Join(UnzipData("corpus"), folder))) {
      const std::string suffix = ".zip.list";
      if (n.size() > suffix.size() && Fold(n.substr(n.size() - suffix.size())) == suffix) {
        archives.insert(std::string(folder) + "/" + n.substr(0, n.size() - 5));
      }
    }
  }
  return archives;
}

// Python's zipfile is the reference; an archive it refuses (its verdict on
// damaged archives changes between Python builds) is skipped with its reason.
TEST(UnZipDirectory, EveryReadableCorpusArchiveUnderEverySortMode) {
  ASSERT_FALSE(test::CorpusDir().empty());
  int compared = 0;
  for (const std::string& relative : ListedCorpusArchives()) {
    const std::string archive = CorpusPath(test::CorpusDir(), relative);
    const std::string reference = CorpusPath(UnzipData("corpus"), relative);
    if (!platform::FileExists(reference + ".list")) {
      if (platform::FileExists(reference + ".refused")) {
        std::cout << "skipped " << relative << ": the reference lister refused it: "
                  << test::ReadFile(reference + ".refused");
      } else {
        ADD_FAILURE() << relative << ": neither listed nor refused by the reference lister";
      }
      continue;
    }
    const Listing listing = ReadListing(reference + ".list");
    for (TZipSortMode mode : kAllModes) {
      auto u = Load(archive, mode);
      ExpectListing(*u, listing, archive);
      EXPECT_FALSE(u->LocalScanDone());
      EXPECT_EQ(u->MultiDiskMode(), mdNone);
    }
    ++compared;
  }
  EXPECT_GT(compared, 0);
}

TEST(UnZipDirectory, EveryEntryTheCorpusManifestExpectsIsListed) {
  std::map<std::string, std::vector<std::string>> expected;
  std::istringstream lines(test::ReadFile(Join(UnzipData("corpus"), "manifest.list")));
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos);
    test::ListedEntry e;
    const std::size_t end = line.find('\t', tab + 1);
    if (end != std::string::npos) e.flags = 0x800;  // "U": the name is UTF-8
    for (std::size_t i = tab + 1; i + 1 < std::min(end, line.size()); i += 2) {
      e.name.push_back(static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16)));
    }
    expected[line.substr(0, tab)].push_back(e.EngineName());
  }
  EXPECT_GE(expected.size(), 30u);
  for (const auto& [source, names] : expected) {
    SCOPED_TRACE(source);
    auto u = Load(CorpusPath(test::CorpusDir(), source));
    std::set<std::string> listed;
    for (std::int32_t i = 0; i < u->Count(); ++i) listed.insert(u->Entry(i).StoredPath());
    for (const std::string& name : names) EXPECT_EQ(listed.count(name), 1u) << name;
  }
}

TEST(UnZipDirectory, CorpusSplitSetsOpenedAsTheirLastFile) {
  for (const char* set : {"cc-split_zip_created_by_zip", "cc-split_zip_created_by_winrar"}) {
    const Listing listing = ReadListing(Join(UnzipData("corpus"), std::string("real") + "\\" + set + ".set.list"));
    for (TZipSortMode mode : {ByNone, ByName, ByDate}) {
      auto u = Load(Join(Join(test::CorpusDir(), "real"), std::string(set) + ".003"), mode);
      ExpectListing(*u, listing, set);
      EXPECT_EQ(u->MultiDiskMode(), mdFileSet);
      EXPECT_EQ(u->EndCentral().ThisDisk, 2);
    }
  }
}

TEST(UnZipDirectory, OemNamesAreConvertedOnlyWhenAsked) {
  const std::string archive = UnzipData("oem.zip");
  const Listing listing = ReadListing(UnzipData("oem.zip.list"));
  auto u = std::make_unique<TUnZip>();
  u->SetZipName(archive);
  u->LoadDirectory();
  ASSERT_EQ(u->Count(), static_cast<std::int32_t>(listing.entries.size()));
  bool sawConversion = false;
  for (std::int32_t i = 0; i < u->Count(); ++i) {
    const auto& e = listing.entries[static_cast<std::size_t>(i)];
    ASSERT_EQ(e.host, 0u);
    const std::string converted = platform::ConvertOemToAnsi(e.EngineName());
    EXPECT_EQ(u->Entry(i).StoredPath(), converted);
    sawConversion = sawConversion || converted != e.EngineName();
  }
  // Under code page 936 the OEM and ANSI code pages agree.
  if constexpr (!platform::kIsWindows) {
    EXPECT_TRUE(sawConversion);
  }
}

TEST(UnZipDirectory, ProducedArchivesWithCommentsAndExtras) {
  for (const char* name : {"plain.zip", "seven.zip", "bare.zip", "sfx-good.exe"}) {
    const Listing listing = ReadListing(UnzipData(std::string(name) + ".list"));
    for (TZipSortMode mode : kAllModes) {
      auto u = Load(UnzipData(name), mode);
      ExpectListing(*u, listing, name);
    }
  }
}

TEST(UnZipDirectory, EmptyFileIsAnArchiveWithoutEntries) {
  auto u = Load(UnzipData("empty.zip"));
  EXPECT_EQ(u->Count(), 0);
  EXPECT_EQ(u->ArchiveComment(), "");
  EXPECT_EQ(u->ZipName(), UnzipData("empty.zip"));
}

// ---- no usable end record ---------------------------------------------------------

struct Unreadable {
  std::string path;
  bool scanFinds;  // whether izAssumeBad rebuilds it
};

std::vector<Unreadable> UnreadableArchives() {
  const std::string real = Join(test::CorpusDir(), "real");
  return {{UnzipData("nocentral.zip"), true},
          {UnzipData("disk1000.zip"), true},
          {UnzipData("diskorder.zip"), true},
          {UnzipData("nocfg.zip"), true},
          {UnzipData("short.zip"), false},
          {Join(real, "cc-invalid-zip.zip"), false},
};
}

TEST(UnZipDirectory, DirectoryPastTheEndWithNothingToScanIsNotAZipInEveryMode) {
  // Offsets of 2^32-1 (no Zip64 record) and above 2^31: read as given, and
  // the scan that stands in for the unreadable directory finds nothing.
  const std::string real = Join(test::CorpusDir(), "real");
  for (const char* name : {"zr-invalid_offset2.zip", "zr-invalid_cde_greater_offset.zip"}) {
    for (TIncompleteZipMode mode : {izAssumeMulti, izAssumeBad, izAssumeNotAZip}) {
      SCOPED_TRACE(name);
      TUnZip u;
      u.SetIncompleteZipMode(mode);
      u.SetZipName(Join(real, name));
      EXPECT_THROW(u.LoadDirectory(), EBadZipFile);
      EXPECT_EQ(u.ZipName(), "");
    }
  }
}

TEST(UnZipDirectory, AssumeMultiLeavesLoadDirectoryQuietlyThenRaises) {
  for (const auto& a : UnreadableArchives()) {
    SCOPED_TRACE(a.path);
    auto u = Load(a.path);
    EXPECT_EQ(u->Count(), 0);
    EXPECT_EQ(u->ZipName(), a.path);
    EXPECT_EQ(u->ArchiveStream(), nullptr);
    try {
      u->OpenArchive();
      ADD_FAILURE() << "no exception";
    } catch (const EIncompleteZip& e) {
      EXPECT_STREQ(e.what(), "Incomplete Zip File");
    }
  }
}

TEST(UnZipDirectory, AssumeNotAZipRaisesAndClears) {
  for (const auto& a : UnreadableArchives()) {
    SCOPED_TRACE(a.path);
    TUnZip u;
    u.SetIncompleteZipMode(izAssumeNotAZip);
    u.SetZipName(a.path);
    try {
      u.LoadDirectory();
      ADD_FAILURE() << "no exception";
    } catch (const ENotAZipFile& e) {
      EXPECT_STREQ(e.what(), "Not a valid zip file!");
    }
    EXPECT_EQ(u.ZipName(), "");
    EXPECT_EQ(u.Count(), 0);
  }
}

TEST(UnZipDirectory, AssumeBadScansTheLocalHeaders) {
  const Listing plain = ReadListing(UnzipData("plain.zip.list"));
  for (const auto& a : UnreadableArchives()) {
    SCOPED_TRACE(a.path);
    TUnZip u;
    u.SetOEMConvert(false);
    u.SetIncompleteZipMode(izAssumeBad);
    u.SetZipName(a.path);
    if (!a.scanFinds) {
      try {
        u.LoadDirectory();
        ADD_FAILURE() << "no exception";
      } catch (const EBadZipFile& e) {
        EXPECT_STREQ(e.what(), "Not a valid zip file!");
      }
      EXPECT_EQ(u.ZipName(), "");
      continue;
    }
    u.LoadDirectory();
    EXPECT_TRUE(u.LocalScanDone());
    ASSERT_EQ(u.Count(), static_cast<std::int32_t>(plain.entries.size()));
    for (std::int32_t i = 0; i < u.Count(); ++i) {
      const auto& e = plain.entries[static_cast<std::size_t>(i)];
      EXPECT_EQ(u.Entry(i).StoredPath(), e.EngineName());
      EXPECT_EQ(u.Entry(i).RelativeOffsetOfLocalHeader, e.offset);
      EXPECT_EQ(u.Entry(i).CRC32, e.crc);
      EXPECT_EQ(u.Entry(i).CompressedSize, e.compressed);
    }
    EXPECT_EQ(u.EndCentral().TotalEntries, u.Count());
  }
}

TEST(UnZipDirectory, IncompleteZipHandlerChoosesTheMode) {
  int asked = 0;
  TUnZip u;
  u.SetOEMConvert(false);
  u.OnInCompleteZip = [&](TObject* sender, TIncompleteZipMode& mode) {
    EXPECT_EQ(sender, &u);
    EXPECT_EQ(mode, asked < 2 ? izAssumeMulti : izAssumeBad);
    ++asked;
    // Twice "another disk may come", then give up on that and scan.
    if (asked >= 2) mode = izAssumeBad;
  };
  u.SetZipName(UnzipData("nocentral.zip"));
  u.LoadDirectory();
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(u.IncompleteZipMode(), izAssumeBad);
  EXPECT_EQ(u.Count(), 9);

  // A handler that leaves the mode at "another disk may come" is asked once
  // more, then the load fails instead of asking for ever.
  int waited = 0;
  TUnZip waits;
  waits.OnInCompleteZip = [&](TObject*, TIncompleteZipMode&) { ++waited; };
  waits.SetZipName(UnzipData("nocentral.zip"));
  EXPECT_THROW(waits.LoadDirectory(), EIncompleteZip);
  EXPECT_EQ(waited, 2);

  TUnZip refuse;
  refuse.OnInCompleteZip = [](TObject*, TIncompleteZipMode& mode) { mode = izAssumeNotAZip; };
  refuse.SetZipName(UnzipData("nocentral.zip"));
  EXPECT_THROW(refuse.LoadDirectory(), ENotAZipFile);
}

TEST(UnZipDirectory, DestroyedCentralDirectoryIsRebuiltFromLocalHeaders) {
  // End record intact, central directory zeroed: whatever the mode.
  const Listing plain = ReadListing(UnzipData("plain.zip.list"));
  for (TIncompleteZipMode mode : {izAssumeMulti, izAssumeBad, izAssumeNotAZip}) {
    auto u = Load(UnzipData("zeroed.zip"), ByName, mode);
    EXPECT_TRUE(u->LocalScanDone());
    ASSERT_EQ(u->Count(), 9);
    for (std::int32_t i = 1; i < u->Count(); ++i) {
      EXPECT_LE(Fold(u->Entry(i - 1).StoredPath()), Fold(u->Entry(i).StoredPath()));
    }
    // The entry comments were in the lost directory; the end record's is not.
    for (std::int32_t i = 0; i < u->Count(); ++i) EXPECT_EQ(u->EntryComment(i), "");
    EXPECT_EQ(u->ArchiveComment(), plain.comment);
  }
  // A directory offset past the end, also one past 2 GiB, is a lost directory.
  EXPECT_EQ(Load(UnzipData("bigoffset.zip"))->Count(), 9);
  // The corpus archive whose directory offset lies past its end.
  auto u = Load(Join(Join(test::CorpusDir(), "real"), "zr-invalid_offset.zip"));
  EXPECT_TRUE(u->LocalScanDone());
  ASSERT_EQ(u->Count(), 4);
  EXPECT_EQ(u->Entry(0).StoredPath(), "zip\\");
  EXPECT_EQ(u->Entry(1).StoredPath(), "zip\\.DS_Store");
  EXPECT_EQ(u->Entry(2).StoredPath(), "zip\\Cargo.toml");
  EXPECT_EQ(u->Entry(3).StoredPath(), "zip\\corpus\\");
}

TEST(UnZipDirectory, ScanRefreshesEntriesFromTheCentralDirectoryThatFollows) {
  // End record unusable, central directory intact: the scan finds the
  // entries, the central headers after them add what local headers lack.
  const Listing plain = ReadListing(UnzipData("plain.zip.list"));
  auto u = Load(UnzipData("disk1000.zip"), ByNone, izAssumeBad);
  ASSERT_EQ(u->Count(), 9);
  for (std::int32_t i = 0; i < u->Count(); ++i) {
    const auto& e = plain.entries[static_cast<std::size_t>(i)];
    EXPECT_EQ(u->EntryComment(i), e.comment);
    EXPECT_EQ(u->Entry(i).VersionMadeBy >> 8, static_cast<int>(e.host));
    EXPECT_NE(u->Entry(i).CentralHeaderOffset, 0u);
  }
}

TEST(UnZipDirectory, SfxArchiveIsScannedPastItsStubOnlyUnderAnExeName) {
  const Listing bare = ReadListing(UnzipData("bare.zip.list"));
  for (const char* name : {"sfx.exe", "sfx2.EXE", "sfx3.Exe"}) {
    SCOPED_TRACE(name);
    auto u = Load(UnzipData(name), ByNone, izAssumeBad);
    EXPECT_TRUE(u->LocalScanDone());
    ASSERT_EQ(u->Count(), static_cast<std::int32_t>(bare.entries.size()));
    for (std::int32_t i = 0; i < u->Count(); ++i) {
      EXPECT_EQ(u->Entry(i).StoredPath(), bare.entries[static_cast<std::size_t>(i)].EngineName());
      // The stub's 15,000 bytes come before the archive.
      EXPECT_EQ(u->Entry(i).RelativeOffsetOfLocalHeader, bare.entries[static_cast<std::size_t>(i)].offset + 15000);
    }
  }
  // Another name: scanned from the start, where the stub's decoy header is.
  auto u = Load(UnzipData("sfx4.zip"), ByNone, izAssumeBad);
  ASSERT_EQ(u->Count(), 1);
  EXPECT_EQ(u->EntryFileName(0), "decoy.txt");
  EXPECT_EQ(u->Entry(0).RelativeOffsetOfLocalHeader, 100u);
}

TEST(UnZipDirectory, LongScanLetsTheGuiBreathe) {
  TempDir dir;
  const std::string junk(25000, 'j');
  const std::string path = dir / "late.zip";
  test::WriteFile(path, junk + test::ReadFile(UnzipData("nocentral.zip")));
  for (bool breathe : {true, false}) {
    test::ScriptedUi ui;
    TUnZip u;
    u.SetUserInterface(ui);
    u.SetDoProcessMessages(breathe);
    u.SetIncompleteZipMode(izAssumeBad);
    u.SetZipName(path);
    u.LoadDirectory();
    EXPECT_EQ(u.Count(), 9);
    EXPECT_EQ(u.Entry(0).RelativeOffsetOfLocalHeader, 25000u);
    EXPECT_EQ(ui.processed, breathe ? 2 : 0);
  }
}

TEST(UnZipDirectory, ConfigurationFileSuppliesTheMissingDirectory) {
  const Listing plain = ReadListing(UnzipData("plain.zip.list"));
  TempDir dir;
  test::CopyBytes(UnzipData("cfg.zip"), dir / "cfg.zip");
  test::CopyBytes(UnzipData("cfg.zfc"), dir / "cfg.zfc");
  for (TZipSortMode mode : {ByNone, ByName, ByRate}) {
    auto u = Load(dir / "cfg.zip", mode);
    ExpectListing(*u, plain, "cfg.zip");
    EXPECT_FALSE(u->LocalScanDone());
  }
  // The comments came from the configuration file at once: they do not
  // depend on it (nor on offsets in the archive) afterwards.
  auto u = Load(dir / "cfg.zip");
  ASSERT_TRUE(platform::FileDelete(dir / "cfg.zfc"));
  for (std::int32_t i = 0; i < u->Count(); ++i) {
    EXPECT_EQ(u->EntryComment(i), plain.entries[static_cast<std::size_t>(i)].comment);
  }
  EXPECT_EQ(u->ArchiveComment(), plain.comment);
  // Without it the archive is incomplete again.
  auto again = Load(dir / "cfg.zip");
  EXPECT_THROW(again->OpenArchive(), EIncompleteZip);
}

TEST(UnZipDirectory, DuplicateLocalOffsetsAreRecoveredByTheScan) {
  const Listing plain = ReadListing(UnzipData("plain.zip.list"));
  auto u = Load(UnzipData("dup.zip"));
  EXPECT_TRUE(u->LocalScanDone());
  ASSERT_EQ(u->Count(), static_cast<std::int32_t>(plain.entries.size()));
  for (std::int32_t i = 0; i < u->Count(); ++i) {
    EXPECT_EQ(u->Entry(i).RelativeOffsetOfLocalHeader, plain.entries[static_cast<std::size_t>(i)].offset);
  }
  // Entries the damaged central header did not touch are refreshed from it.
  EXPECT_EQ(u->EntryComment(1), "About the readme");
  EXPECT_EQ(u->Entry(1).StoredPath(), "docs\\readme.txt");
}

TEST(UnZipDirectory, LyingExtraFieldLengthIsReadAsAbsent) {
  const Listing bare = ReadListing(UnzipData("bare.zip.list"));
  auto u = Load(UnzipData("liar.zip"));
  EXPECT_FALSE(u->LocalScanDone());
  ASSERT_EQ(u->Count(), static_cast<std::int32_t>(bare.entries.size()));
  for (std::int32_t i = 0; i < u->Count(); ++i) {
    EXPECT_EQ(u->Entry(i).StoredPath(), bare.entries[static_cast<std::size_t>(i)].EngineName());
    EXPECT_EQ(u->Entry(i).CentralExtraFieldLength, 0);
  }
}

TEST(UnZipDirectory, ScanStepsOverDataDescriptorsAndStopsOnHostileSizes) {
  // A data descriptor entry: its sizes come from the descriptor.
  const std::string corpusDescriptor = Join(Join(test::CorpusDir(), "real"), "zr-data_descriptor.zip");
  const Listing listing = ReadListing(Join(UnzipData("corpus"), "real\\zr-data_descriptor.zip.list"));
  ASSERT_EQ(listing.entries.size(), 1u);
  ASSERT_NE(listing.entries[0].flags & 8, 0u);
  const std::string bytes = test::ReadFile(corpusDescriptor);
  TempDir dir;
  const std::size_t central = bytes.find(std::string("PK\x01\x02", 4));
  ASSERT_NE(central, std::string::npos);
  // Two copies of the local entry, then nothing: two entries are found.
  const std::string local = bytes.substr(0, central);
  test::WriteFile(dir / "dd.zip", local + local);
  auto u = Load(dir / "dd.zip", ByNone, izAssumeBad);
  ASSERT_EQ(u->Count(), 2);
  for (std::int32_t i = 0; i < 2; ++i) {
    EXPECT_EQ(u->Entry(i).CompressedSize, listing.entries[0].compressed);
    EXPECT_EQ(u->Entry(i).UncompressedSize, listing.entries[0].uncompressed);
    EXPECT_EQ(u->Entry(i).CRC32, listing.entries[0].crc);
  }
  EXPECT_EQ(u->Entry(1).RelativeOffsetOfLocalHeader, local.size());

  // A local header whose compressed size is negative or points backwards.
  std::string hostile = test::ReadFile(UnzipData("nocentral.zip"));
  for (std::uint32_t size : {0xFFFFFFF0u, 0x7FFFFFFFu, 0x80000000u}) {
    std::string h = hostile;
    for (int k = 0; k < 4; ++k) h[18 + k] = static_cast<char>(size >> (8 * k));
    test::WriteFile(dir / "neg.zip", h);
    auto n = Load(dir / "neg.zip", ByNone, izAssumeBad);
    EXPECT_EQ(n->Count(), 1);
  }
}

TEST(UnZipDirectory, DamagedDirectoriesEndInTheEngineErrorsOnly) {
  // Byte mutations over the central directory and the end record: a load
  // either succeeds or raises one of the engine's errors; reading every
  // name and comment afterwards stays within the file.
  const std::string original = test::ReadFile(UnzipData("plain.zip"));
  const std::size_t central = original.find(std::string("PK\x01\x02", 4));
  ASSERT_NE(central, std::string::npos);
  TempDir dir;
  const std::string path = dir / "m.zip";
  int loaded = 0;
  int refused = 0;
  const unsigned char values[] = {0x00, 0xFF, 0x7F, 0x01};
  for (std::size_t pos = central; pos < original.size(); ++pos) {
    {
      std::string m = original;
      m[pos] = static_cast<char>(values[pos % 4]);
      test::WriteFile(path, m);
      for (TIncompleteZipMode mode : {izAssumeBad, izAssumeMulti}) {
        TUnZip u;
        u.SetIncompleteZipMode(mode);
        u.SetZipName(path);
        try {
          u.LoadDirectory();
          for (std::int32_t i = 0; i < u.Count(); ++i) {
            u.EntryFileName(i);
            u.EntryComment(i);
          }
          u.ArchiveComment();
          ++loaded;
        } catch (const EBadZipFile&) {
          ++refused;
        } catch (const EIncompleteZip&) {
          ++refused;
        } catch (const EUserCanceled&) {
          ++refused;  // a mutated disk number asks for disks that do not exist
        }
      }
    }
  }
  EXPECT_GT(loaded, 700);
}

// Where central header number index begins in an archive.
std::size_t CentralHeader(const std::string& archive, int index) {
  std::size_t at = archive.find(std::string("PK\x01\x02", 4));
  for (int i = 0; i < index; ++i) at = archive.find(std::string("PK\x01\x02", 4), at + 1);
  return at;
}

void Patch(std::string& archive, std::size_t at, std::uint32_t value, int size) {
  for (int k = 0; k < size; ++k) archive[at + static_cast<std::size_t>(k)] = static_cast<char>(value >> (8 * k));
}

std::vector<test::BuiltEntry> ThreeEntries() {
  std::vector<test::BuiltEntry> entries(3);
  for (int i = 0; i < 3; ++i) {
    entries[static_cast<std::size_t>(i)].name = std::string("e").append(std::to_string(i)).append(".txt");
    entries[static_cast<std::size_t>(i)].data = std::string(500, static_cast<char>('a' + i));
    entries[static_cast<std::size_t>(i)].disk = static_cast<std::uint16_t>(i);
  }
  return entries;
}

TEST(UnZipDirectory, OneFilesDiskNumbersHideNeitherTwinsNorOverlaps) {
  TempDir dir;
  const std::string path = dir / "disks.zip";
  // Central headers on "disks" 0, 1 and 2 of a single file, all naming the
  // first local header: one entry's data under three names.
  std::string twins = test::BuildArchive(ThreeEntries());
  for (int i = 1; i < 3; ++i) Patch(twins, CentralHeader(twins, i) + 42, 0, 4);
  test::WriteFile(path, twins);
  auto u = Load(path);
  EXPECT_TRUE(u->DirectoryRebuilt());
  EXPECT_EQ(u->RebuildReason(), "two central headers name the same local header");

  // The second entry's header said to start inside the first one's data,
  // on another disk: refused before anything is written.
  std::string overlap = test::BuildArchive(ThreeEntries());
  Patch(overlap, CentralHeader(overlap, 1) + 42, 100, 4);
  test::WriteFile(path, overlap);
  TUnZip zip;
  zip.SetZipName(path);
  zip.SetDestDir(dir / "out");
  zip.SetDoAll(true);
  try {
    zip.UnZipFiles();
    ADD_FAILURE() << "no exception";
  } catch (const EBadZipFile& e) {
    EXPECT_NE(std::string(e.what()).find("possible zip bomb"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(test::ListDir(dir / "out").empty());
}

TEST(UnZipDirectory, EndRecordCountingTooFewEntriesIsReadWhole) {
  TempDir dir;
  const std::string path = dir / "count.zip";
  for (std::uint32_t counted : {0u, 2u, 3u}) {
    SCOPED_TRACE(counted);
    std::string archive = test::BuildArchive(ThreeEntries());
    const std::size_t end = archive.size() - 22;
    Patch(archive, end + 8, counted, 2);
    Patch(archive, end + 10, counted, 2);
    test::WriteFile(path, archive);
    TUnZip u;
    u.SetZipName(path);
    u.SetTestMode(true);
    u.SetDoAll(true);
    EXPECT_EQ(u.UnZipFiles(), 3);
    EXPECT_FALSE(u.DirectoryRebuilt());
    EXPECT_EQ(u.CountMismatch(),
              counted == 3 ? "" : "the end record counts " + std::to_string(counted) + " entries, the central directory holds 3");
  }
}

TEST(UnZipDirectory, RebuiltDirectoriesSayWhy) {
  const std::pair<const char*, const char*> cases[] = {
      {"nocentral.zip", "no end record"},
      {"zeroed.zip", "a central header is missing or damaged"},
      {"dup.zip", "two central headers name the same local header"},
      {"plain.zip", ""},
  };
  TUnZip u;
  u.SetIncompleteZipMode(izAssumeBad);
  for (const auto& [name, reason] : cases) {
    SCOPED_TRACE(name);
    u.SetZipName(UnzipData(name));
    u.LoadDirectory();
    EXPECT_EQ(u.DirectoryRebuilt(), *reason != '\0');
    EXPECT_EQ(u.DirectoryRebuilt() ? u.RebuildReason() : std::string(), reason);
  }
}

}  // namespace
}  // namespace quv
