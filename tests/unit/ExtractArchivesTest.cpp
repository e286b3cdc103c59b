// Extraction of archives made by Debian's zip (every level) and 7z, compared
// file by file with what Info-ZIP's unzip extracted from them: contents,
// modification dates, the read-only attribute and the folders; and an
// archive cut short inside an entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/Platform.h"
#include "unzip/UnZip.h"
#include "zip/Exception.h"

namespace quv::test {
namespace {

namespace fs = std::filesystem;

fs::path Native(const std::string& p) { return fs::path(platform::NativePath(p)); }

std::string Data(const std::string& name) { return Join(Join(TestDataDir(), "extract"), name); }

struct Item {
  bool folder = false;
};

// Files and folders below root, keyed by "a/b".
std::map<std::string, Item> Tree(const std::string& root) {
  std::map<std::string, Item> out;
  for (const auto& e : fs::recursive_directory_iterator(Native(root))) {
    out[fs::relative(e.path(), Native(root)).generic_string()].folder = e.is_directory();
  }
  return out;
}

std::string Engine(const std::string& root, const std::string& rel) {
  std::string p = rel;
  if constexpr (platform::kIsWindows) std::replace(p.begin(), p.end(), '/', '\\');
  return Join(root, p);
}

// Makes every file below root writable again, so that it can be removed.
void Unlock(const std::string& root) {
  if (!fs::exists(Native(root))) return;
  for (const auto& e : fs::recursive_directory_iterator(Native(root))) {
    if (!e.is_directory()) platform::FileSetAttr(e.path().string(), 0);
  }
}

class ExtractArchives : public ::testing::Test {
 protected:
  void SetUp() override {
    if (TestDataDir().empty()) GTEST_SKIP() << "QUV_TESTDATA is not set";
    dest = tmp / "out";
    zip.SetDestDir(dest);
    zip.SetDoAll(true);
    zip.SetRecreateDirs(true);
    zip.SetOverwriteMode(Always);
    zip.SetReplaceReadOnly(true);
    zip.SetDoProcessMessages(false);
    zip.OnBadCRC = [this](TObject*, std::int32_t, std::int32_t, std::int32_t i) {
      problems.push_back("bad CRC: " + zip.EntryFileName(i));
    };
    zip.OnSkippingFile = [this](TObject*, TSkipReason r, const std::string& name, std::int32_t, bool&) {
      problems.push_back("skipped (" + std::to_string(static_cast<int>(r)) + "): " + name);
    };
  }
  void TearDown() override { Unlock(dest); }

  // Extracts archive and compares the destination with reference.
  void ExpectSameAs(const std::string& archive, const std::string& reference, std::int32_t entries) {
    SCOPED_TRACE(archive);
    zip.ClearArchive();
    zip.SetZipName(Data(archive));
    EXPECT_EQ(zip.UnZipFiles(), entries);
    EXPECT_TRUE(problems.empty()) << problems.front();
    const auto want = Tree(Data(reference));
    const auto got = Tree(dest);
    ASSERT_EQ(got.size(), want.size());
    for (const auto& [rel, item] : want) {
      ASSERT_TRUE(got.count(rel)) << "missing " << rel;
      EXPECT_EQ(got.at(rel).folder, item.folder) << rel;
      if (item.folder) continue;
      const std::string ours = Engine(dest, rel);
      const std::string theirs = Engine(Data(reference), rel);
      EXPECT_TRUE(ReadFile(ours) == ReadFile(theirs)) << "content of " << rel;
      EXPECT_EQ(platform::FileAge(ours), platform::FileAge(theirs)) << "date of " << rel;
      EXPECT_EQ(platform::FileGetAttr(ours) & platform::faReadOnly, platform::FileGetAttr(theirs) & platform::faReadOnly)
          << "read-only attribute of " << rel;
    }
  }

  TempDir tmp;
  std::string dest;
  TUnZip zip;
  std::vector<std::string> problems;
};

TEST_F(ExtractArchives, EveryLevelOfZipAndSevenZipMatchUnzip) {
  for (const char* level : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}) {
    ExpectSameAs(std::string("tree-L") + level + ".zip", "ref", Tree(Data("ref")).size());
  }
  ExpectSameAs("tree-7z.zip", "ref", Tree(Data("ref")).size());
}

TEST_F(ExtractArchives, TwoThousandEntries) {
  const auto n = static_cast<std::int32_t>(Tree(Data("ref-many")).size());
  EXPECT_EQ(n, 2040);
  ExpectSameAs("many.zip", "ref-many", n);
  Unlock(dest);
  fs::remove_all(Native(dest));
  ExpectSameAs("many-7z.zip", "ref-many", n);
}

TEST_F(ExtractArchives, TestModeChecksEveryEntryAndWritesNothing) {
  zip.SetZipName(Data("tree-L9.zip"));
  zip.SetTestMode(true);
  std::int32_t ended = 0;
  zip.OnEndUnZip = [&](TObject*, std::int32_t, const std::string&) { ++ended; };
  const std::int32_t n = zip.UnZipFiles();
  EXPECT_EQ(n, zip.Count());
  EXPECT_GT(ended, 10);
  EXPECT_TRUE(problems.empty());
  EXPECT_FALSE(fs::exists(Native(dest)));
}

TEST_F(ExtractArchives, ACutArchiveIsIncompleteAndRecoversUpToTheCut) {
  zip.SetZipName(Data("cut.zip"));
  EXPECT_THROW(zip.UnZipFiles(), EIncompleteZip);
  EXPECT_FALSE(fs::exists(Native(dest)));

  zip.SetZipName(Data("cut.zip"));
  zip.SetIncompleteZipMode(izAssumeBad);
  std::vector<std::string> ended;
  zip.OnEndUnZip = [&](TObject*, std::int32_t i, const std::string&) { ended.push_back(zip.EntryFileName(i)); };
  // The cut entry is the last one found; its data ends inside a deflate
  // block, where the archive ends: so does the run, and no part of the file stays.
  EXPECT_THROW(zip.UnZipFiles(), EFatalUnzipError);
  EXPECT_FALSE(ended.empty());
  EXPECT_FALSE(fs::exists(Native(Engine(dest, "big/text.txt"))));
  for (const auto& [rel, item] : Tree(dest)) EXPECT_EQ(rel.find(".quv"), std::string::npos) << rel;
  for (const std::string& name : ended) EXPECT_NE(name, "text.txt");
  for (const auto& [rel, item] : Tree(dest)) {
    if (item.folder) continue;
    EXPECT_TRUE(ReadFile(Engine(dest, rel)) == ReadFile(Engine(Data("ref"), rel))) << rel;
  }
}

// Entries of a multi-disk set come in physical order whatever the sort mode,
// and the sort mode is back afterwards.
TEST_F(ExtractArchives, AMultiDiskSetInPhysicalOrder) {
  if (CorpusDir().empty()) GTEST_SKIP() << "QUV_CORPUS is not set";
  const std::string set = tmp / "set";
  fs::create_directories(Native(set));
  for (const char* ext : {".001", ".002", ".003"}) {
    fs::copy_file(Native(Join(Join(CorpusDir(), "real"), std::string("cc-split_zip_created_by_zip") + ext)),
                  Native(Join(set, std::string("split") + ext)));
  }
  zip.SetSortMode(ByName);
  zip.SetZipName(Join(set, "split.003"));
  zip.SetTestMode(true);
  std::vector<std::int32_t> order;
  std::int32_t ended = 0;
  zip.OnStartUnZip = [&](TObject*, std::int32_t i, std::string&, bool&) { order.push_back(i); };
  zip.OnEndUnZip = [&](TObject*, std::int32_t, const std::string&) { ++ended; };
  zip.UnZipFiles();
  EXPECT_TRUE(problems.empty()) << problems.front();
  EXPECT_EQ(ended, 243);
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  EXPECT_EQ(zip.SortMode(), ByName);
  zip.ClearArchive();
}

}  // namespace
}  // namespace quv::test
