// bzip2, LZMA, XZ and Zstandard entries from 7z, Info-ZIP's zip, Python's
// zipfile and the libraries' own tools, compared byte for byte with what 7z
// (or, where 7z falls short, the tools) made of them; and damaged ones, which
// must fail alone and leave nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
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

std::string Data(const std::string& name) { return Join(Join(TestDataDir(), "codecs"), name); }

// File contents below root, keyed by "a/b".
std::map<std::string, std::string> Files(const std::string& root) {
  std::map<std::string, std::string> out;
  const fs::path base(platform::NativePath(root));
  for (const auto& e : fs::recursive_directory_iterator(base)) {
    if (e.is_regular_file()) out[fs::relative(e.path(), base).generic_string()] = ReadFile(e.path().string());
  }
  return out;
}

class CodecArchives : public ::testing::Test {
 protected:
  void SetUp() override {
    if (TestDataDir().empty()) GTEST_SKIP() << "QUV_TESTDATA is not set";
    zip.SetDoAll(true);
    zip.SetRecreateDirs(true);
    zip.SetOverwriteMode(Always);
    zip.SetDoProcessMessages(false);
    zip.OnBadCRC = [this](TObject*, std::int32_t, std::int32_t, std::int32_t i) {
      failed.push_back(zip.EntryFileName(i));
    };
    zip.OnSkippingFile = [this](TObject*, TSkipReason, const std::string& name, std::int32_t, bool&) {
      failed.push_back("skipped " + name);
    };
  }

  // Extracts archive into a fresh folder; answers the files made.
  std::map<std::string, std::string> Extract(const std::string& archive) {
    const std::string dest = tmp / fs::path(archive).stem().string();
    failed.clear();
    zip.ClearArchive();
    zip.SetZipName(Data(archive));
    zip.SetDestDir(dest);
    zip.UnZipFiles();
    fs::create_directories(platform::NativePath(dest));
    return Files(dest);
  }

  TempDir tmp;
  TUnZip zip;
  std::vector<std::string> failed;
};

std::vector<std::string> Cases() {
  std::vector<std::string> cases;
  std::ifstream list(platform::NativePath(Data("cases.txt")));
  for (std::string name; list >> name;) cases.push_back(name);
  return cases;
}

TEST_F(CodecArchives, EveryArchiveExtractsAsSevenZipDoes) {
  const auto cases = Cases();
  ASSERT_EQ(cases.size(), 10u);
  for (const std::string& name : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Extract(name + ".zip"), Files(Data("ref-" + name)));
    EXPECT_TRUE(failed.empty()) << failed.front();
  }
}

TEST_F(CodecArchives, ConcatenatedStreamsAndEmptyStreamsAsTheToolsDecodeThem) {
  EXPECT_EQ(Extract("multi.zip"), Files(Data("ref-multi")));
  EXPECT_TRUE(failed.empty()) << failed.front();
}

TEST_F(CodecArchives, EncryptedEntriesDecryptBeforeDecoding) {
  zip.SetPassword("codecs");
  const std::string big = Files(Data("ref-7z-bzip2")).at("big.txt");
  for (const char* archive : {"crypt-bzip2.zip", "crypt-lzma.zip"}) {
    SCOPED_TRACE(archive);
    EXPECT_EQ(Extract(archive), (std::map<std::string, std::string>{{"big.txt", big}}));
    EXPECT_TRUE(failed.empty()) << failed.front();
  }
}

TEST_F(CodecArchives, AFlippedByteFailsThatEntryOnly) {
  for (const std::string& name : Cases()) {
    if (name == "small") continue;
    SCOPED_TRACE(name);
    auto want = Files(Data("ref-" + name));
    want.erase("big.txt");
    EXPECT_EQ(Extract("damaged-" + name + ".zip"), want);
    EXPECT_EQ(failed, std::vector<std::string>{"big.txt"});
  }
}

TEST_F(CodecArchives, DataAfterTheStreamOrCutShortFailsTheEntry) {
  for (const char* archive : {"junk.zip", "short.zip"}) {
    SCOPED_TRACE(archive);
    EXPECT_TRUE(Extract(archive).empty());
    std::sort(failed.begin(), failed.end());
    EXPECT_EQ(failed, (std::vector<std::string>{"bzip2.txt", "lzma.txt", "xz.txt", "zstd.txt"}));
  }
}

// Entries whose decoders need 1 to 2 MiB each (LZMA dictionaries declared at
// 512 MiB, cut to the entry's size; .xz ones of 1 MiB): however many threads
// decode, they hold no more than the run's budget together, also when it
// fits one entry alone, and an entry needing more than the whole budget ends
// the run without leaving a file behind.
TEST_F(CodecArchives, DecodersKeepToTheRunsMemoryBudget) {
  zip.SetThreads(1);
  const auto want = Extract("dicts.zip");
  ASSERT_EQ(want.size(), 6u);
  const std::uint64_t largest = zip.PeakDecoderMemory();
  EXPECT_GT(largest, std::uint64_t{2} << 20);
  EXPECT_LT(largest, std::uint64_t{3} << 20);
  zip.SetThreads(4);
  for (const std::uint64_t budget : {largest, 2 * largest, std::uint64_t{1} << 30}) {
    SCOPED_TRACE(budget);
    zip.SetMemoryBudget(budget);
    EXPECT_EQ(Extract("dicts.zip"), want);
    EXPECT_TRUE(failed.empty());
    EXPECT_LE(zip.PeakDecoderMemory(), budget);
    EXPECT_GE(zip.PeakDecoderMemory(), largest);
  }
  zip.SetMemoryBudget(largest - 1);
  EXPECT_THROW(Extract("dicts.zip"), EFatalUnzipError);
  EXPECT_EQ(Files(tmp / "dicts"), want);
}

}  // namespace
}  // namespace quv::test
